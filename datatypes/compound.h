// What the small value types of this folder share: pair!, percent!, tuple!, the point types,
// handle! and the series types built on bytes raise the same few errors with the same
// arguments, read text specs through the lexer, and tell an owner when a path sets a part of
// an immediate value in place.
#pragma once
#include <cstdint>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace compound {

// --- Errors ---------------------------------------------------------------------------------

// script/invalid-type with the value's datatype.
[[noreturn]] void invalid_type(const Cell* value);
// script/invalid-arg with the value.
[[noreturn]] void invalid_arg(const Cell* value);
// script/out-of-range with the value.
[[noreturn]] void out_of_range(const Cell* value);
// script/bad-to-arg (target datatype, spec).
[[noreturn]] void bad_to_arg(uint8_t type, const Cell* spec);
// syntax/malconstruct (target datatype, spec).
[[noreturn]] void malconstruct(uint8_t type, const Cell* spec);
// script/not-related (operation or call word, datatype); a null word is given as none.
[[noreturn]] void not_related(const Cell* word, uint8_t type);
// script/invalid-path (path, element); a null path is given as none.
[[noreturn]] void invalid_path(const Cell* path, const Cell* element);
// internal/not-done.
[[noreturn]] void not_done();

// The word of an arithmetic operation code for not-related: subtract and divide are the
// operations that a number cannot apply to a compound value; others answer null.
const Cell* operation_word(int32_t op);

// --- Action rows ----------------------------------------------------------------------------

// Fills the arithmetic slots of a row (add, subtract, multiply, divide, remainder, and with
// `bitwise` and~, or~, xor~) with calls of a type's math entry with the op codes 0 to 7.
template <Cell* (*DoMath)(int32_t)> action::Row& set_math(action::Row& row, bool bitwise) {
    namespace s = action::slot;
    row.set<s::add>([] { DoMath(0); });
    row.set<s::subtract>([] { DoMath(1); });
    row.set<s::multiply>([] { DoMath(2); });
    row.set<s::divide>([] { DoMath(3); });
    row.set<s::remainder>([] { DoMath(4); });
    if (!bitwise) return row;
    row.set<s::or_>([] { DoMath(5); });
    row.set<s::and_>([] { DoMath(6); });
    row.set<s::xor_>([] { DoMath(7); });
    return row;
}

// --- Selectors ------------------------------------------------------------------------------

// Whether a word cell names the symbol (canonical symbols: case variants match).
bool names(const Cell* word, uint32_t symbol);
// The selector of pick and poke: the index value when there is one, else the position as an
// integer! written into `scratch`.
const Cell* selector(int32_t index, const Cell* index_value, Cell& scratch);

// --- Text specs -----------------------------------------------------------------------------

// make and to from text load the text as one value. The lexer installs the loader: it loads
// the text of `text` (any string type) into `result` (a cell on the data stack) and answers
// false when the text is not exactly one value. Without a loader such specs raise
// internal/not-done.
using TextLoader = bool (*)(const Cell* text, Cell* result);
void set_text_loader(TextLoader loader);
// Loads the spec's text and answers the loaded value (on the data stack) when it has the
// type `type`; otherwise raises script/bad-to-arg (type, spec). May collect.
Cell* load_as(uint8_t type, const Cell* spec);
// Loads the spec's text and answers the loaded value (on the data stack), whatever its type;
// text that is not exactly one value raises script/bad-to-arg (type, spec). May collect.
Cell* load_value(uint8_t type, const Cell* spec);

// --- Owners ---------------------------------------------------------------------------------

// A path set a part of an immediate value that lives in `holder` (the value the path read it
// from: a block or object) at `position`: the holder's owner hears of it as of a poke of the
// series. Nothing for a holder that is not a series. May run user code.
void tell_owner(const Cell* holder, const Cell* value, int32_t position);

} // namespace compound
