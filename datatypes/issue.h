// issue!: a word-like label written with a leading "#" (#abc), used as a key or a tag.
//
// Cell: the word cell of word.h with type id 20, a child of word!: word 1 the node of the
// global context, word 2 the symbol id as written, word 3 the index in the global context,
// -1 until something resolves it. An issue names a symbol of the global context but never
// evaluates to a value of its own. It forms like a word (its bare text) and molds with "#"
// before it; it compares only with another issue.
//
// Functions that may allocate say so; a Cell* they answer is valid until the next allocation
// unless it lies in the root block or on the data stack.
#pragma once
#include <cstdint>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace issue {

// --- Constructors ---------------------------------------------------------------------------

// Makes `cell` an issue! of a NUL-terminated UTF-8 text: the global context, the text's
// symbol (interned), index -1. `cell` must stay where it is (data stack, GcRoot, root block).
// May collect.
Cell* make_at(Cell* cell, const char* text);
// make_at on a new cell at the tail of the block of node `block`. May collect.
Cell* add_to_block(const char* text, uint32_t block);
// The runtime's own issues: while the boot flag is set, made at the root block's tail (a
// permanent cell); otherwise in a new cell pushed on the data stack. May collect.
Cell* from_cstring(const char* text);
// Pushes a copy of a word cell retyped as issue! (the whole header rewritten).
Cell* push(const Cell* word);

// --- Slot functions -------------------------------------------------------------------------

// make and to, one function; the result goes to `prototype` with the header `type`:
// - a word type or an issue: the spec itself, retyped (its binding kept);
// - string!: the text from its index, interned as it is (no check that a literal issue could
//   hold it), as a word of the global context with index -1;
// - char!: as a one-character string;
// - anything else: what word! makes of it (datatype!, logic!), else script/bad-to-arg.
// May collect.
Cell* make(Cell* prototype, Cell* spec, int32_t type);
// "#" and the word's text.
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);
// Word comparison with another issue; any other value is not comparable (-2).
int32_t compare(Cell* value, Cell* other, int32_t op);

// Registers issue! (type 20, parent word!), after word!; form is word!'s.
void register_actions();

} // namespace issue
