// ref!: a reference written after an "@" (@name). A child of string! (type id 50) sharing its
// cell, buffer and most series actions; it cannot be appended to, put into, sorted or trimmed.
#pragma once
#include <cstdint>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace ref {

// Constructors from the UTF-8 text after the "@" (string.h text_at rules). May collect.
Cell* make_at(Cell* cell, const char* utf8, uint32_t length);
Cell* push(const char* utf8, uint32_t length);
Cell* set_result(const char* utf8, uint32_t length);
Cell* add_to_block(const Cell* block, const char* utf8, uint32_t length);

// mold: "@" and the text; form (string!'s) writes the text alone.
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);

// Registers ref! (type 50, parent string!).
void register_actions();

} // namespace ref
