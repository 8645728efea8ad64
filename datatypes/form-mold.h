// Form and mold: the two texts every datatype writes of its values, form for people and mold
// as loadable source. Both are action slots (action.h) with one contract, so that a container
// can write its elements by calling their slots and a part limit can stop a large output
// early:
//   form (value, string, part, limit)
//   mold (value, string, {only?, all?, flat?, part}, limit, indent)
// - string: a string! value on the data stack; text is appended at its tail;
// - only?, all?, flat?, part: mold's action::MoldOptions;
// - only?: a block's outer brackets are left out;
// - all?: values without a literal form are written in the construction syntax "#(...)";
// - flat?: no new lines or indentation;
// - part: the caller's /part argument cell (null when absent); the slots never read it;
// - limit: the part budget left in characters, kNoLimit without /part;
// - indent: the indentation level, 0 at the top.
// Every slot returns the budget left: the limit minus the characters it wrote, which may go
// below 0; a container stops writing elements once it is 0 or below, and the entry cuts the
// text to the part size afterwards.
//
// Containers check each nested series or object against the cycle stack (cycles.h) first,
// and push their own node while they write their elements.
#pragma once
#include <cstdint>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace form_mold {

constexpr int32_t kNoLimit = 0x7FFFFFFF;

// Cuts a string! to at most `limit` characters from its index (nothing for a limit below 0).
void cut(const Cell* string, int32_t limit);

} // namespace form_mold

namespace form {

// The form action: forms the current frame's first value into a new string (capacity 16)
// that replaces it as the result. With /part (`part` not null, an integer! or float!) a limit
// of 0 or less gives an empty string without forming; otherwise the text is cut to the
// limit. A type without a form slot raises script/expect-arg. May collect.
void entry(Cell* part);

// Forms the current result value into a new string (capacity 16) pushed on the data stack,
// cut to `limit` when it is above 0. Returns the string. May collect.
Cell* to_new_string(Cell* part, int32_t limit);

} // namespace form

namespace mold {

// The mold action: as form::entry, with the options' flags and indent 0.
void entry(const action::MoldOptions& options);

// Appends `level` times four blanks; returns limit - 4 × level. May collect.
int32_t indent(const Cell* string, int32_t level, int32_t limit);

} // namespace mold
