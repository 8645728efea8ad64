// tag!: text written between angle brackets (<a href="x">). A child of string! (type id 44)
// sharing its cell, buffer, series actions, comparison and conversions; only its text form
// differs.
#pragma once
#include <cstdint>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace tag {

// Constructors from the UTF-8 text between the brackets (string.h text_at rules). May collect.
Cell* make_at(Cell* cell, const char* utf8, uint32_t length);
Cell* push(const char* utf8, uint32_t length);
Cell* set_result(const char* utf8, uint32_t length);
Cell* add_to_block(const Cell* block, const char* utf8, uint32_t length);

// form and mold: "<" text ">", the budget reduced by the brackets too.
int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);

// Registers tag! (type 44, parent string!).
void register_actions();

} // namespace tag
