// time!: a signed duration in seconds, written H:MM:SS with a fraction on the seconds.
//
// Cell: type id 43, a child of float!: words 2-3 hold the seconds as a double (negative for
// negative durations), word 1 is not used. The comparison, random, absolute, negate and
// remainder are float!'s; this module adds the text form (shared with date!), construction
// from parts, the hour/minute/second fields and the operations whose result type differs.
#pragma once
#include <cstdint>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace time_ {

// --- Constructors ---------------------------------------------------------------------------
// Each writes the whole header (no flags) and the seconds.

// Initialises `cell`.
Cell* make_at(Cell* cell, double seconds);
// Pushes a new time on the data stack.
Cell* push(double seconds);
// Overwrites the running native's result slot.
Cell* set_result(double seconds);
// Appends a new time at the tail of a block. May collect: the result is valid until the next
// allocation.
Cell* add_to_block(const Cell* block, double seconds);
// From parts: hours, minutes and seconds (each of the sign of the whole), negated when
// `negative` is set: the lexer's 1:02:03.5 and -0:01:30.
Cell* make_parts_at(Cell* cell, bool negative, int32_t hours, int32_t minutes, double seconds);

// --- Text and fields --------------------------------------------------------------------------

// The seconds as the text form shows them: a value whose seconds would print as 60 (six
// significant digits of 59.9999996) is moved up to the next whole minute.
double shown_seconds(double seconds);
// Appends the text form of `seconds` (H:MM:SS[.fraction], "-" in front of a negative value;
// an infinity or NaN as the float printer writes it, 1.#INF, -1.#INF, 1.#NaN) and returns
// `limit` less the characters written. May collect.
int32_t write_parts(double seconds, const Cell* string, int32_t limit);

// 1, 2, 3 for the words hour, minute and second, -1 for anything else.
int32_t field_index(const Cell* word);
// The selector of a path or pick: an integer! 1-3 or a field word; -1 for anything else.
int32_t selector_index(const Cell* selector);
// The hour (x / 3600 truncated toward zero) and the minute (0-59) of a duration.
int32_t hours_part(double seconds);
int32_t remainder_part(double seconds);
// Field 1-3 of a duration into `result`: hour and minute as integer!, second as float!.
Cell* get_field(double seconds, int32_t index, Cell* result);
// The duration with field 1-3 set to `value` (integer! for hour and minute, integer! or float!
// for second; anything else raises script/invalid-arg with the value).
double set_field(double seconds, int32_t index, const Cell* value);

// --- Field selectors shared by the scalar types with fields (time!, date!, money!) ------------

// A selector names a field by a word of any kind but issue! (traits::is_bindable_word).

// The field of a pick: `select` applied to the index value when there is one, else the integer
// index when it lies in 1..count. No field raises script/out-of-range with the index.
int32_t pick_field(int32_t index, const Cell* index_value, int32_t (*select)(const Cell*),
                   int32_t count);

// --- Owners of changed values ---------------------------------------------------------------

// After a set-path changed a value in place (time!, date!, ...): tells whoever holds it. A
// series grand parent is told through its owner (ownership.h); an object grand parent through
// the hook that the object module installs (called with the object, the field word, the old
// and the new value). May run user code.
using ObjectChangeHook = void (*)(const Cell* object, const Cell* word, const Cell* old_value,
                                  const Cell* new_value);
void set_object_change_hook(ObjectChangeHook hook);
void notify_owner(const Cell* grand_parent, const Cell* previous, const Cell* old_value,
                  const Cell* new_value);

// script/bad-to-arg (time!, spec).
[[noreturn]] void raise_make_error(const Cell* spec);

// --- Slot functions -------------------------------------------------------------------------

// make and to: a time! as it is; an integer!, float! or percent! as seconds; a block!, paren!
// or hash! of [hours minutes seconds] (1 to 3 values, integers, the third may be a float!;
// only the first may be negative, which negates the whole); a text loaded by the lexer that
// must give a time!. Anything else raises script/bad-to-arg.
Cell* make(Cell* prototype, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);
// Reads field 1-3 (integer or word), or with `value` sets it in place and tells the owner.
// Another selector raises script/invalid-path (path, selector).
Cell* eval_path(Cell* parent, Cell* element, Cell* value, const action::PathOptions& options);
// Frame arithmetic: time + date continues in the date arithmetic (a date); time - date and
// time * time raise script/not-related; time / time is a float! ratio; the rest is float!
// arithmetic with a time! result.
void add();
void subtract();
void multiply();
void divide();
// float! round; the result is always a time!.
Cell* round(Cell* value, const action::RoundOptions& options);
// The whole seconds within the minute (after moving 1e-6 away from zero) are even / odd.
bool even_q(Cell* value);
bool odd_q(Cell* value);
// Field 1-3 by index or word; another index raises script/out-of-range.
Cell* pick(Cell* value, int32_t index, Cell* index_value);

// Registers time! (type 43, parent float!), after float!.
void register_actions();

} // namespace time_
