// email!: an e-mail address (user@host). A child of string! (type id 45) sharing its cell,
// buffer, series actions, comparison and conversions; it adds the path fields user and host.
#pragma once
#include <cstdint>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace email {

// Constructors from the UTF-8 text of the whole address (string.h text_at rules). May collect.
Cell* make_at(Cell* cell, const char* utf8, uint32_t length);
Cell* push(const char* utf8, uint32_t length);
Cell* set_result(const char* utf8, uint32_t length);
Cell* add_to_block(const Cell* block, const char* utf8, uint32_t length);

// mold writes the text as form does (no delimiters).
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);
// Path access: `user` answers a new string! of the text before the first "@" (all of it
// without one), `host` the text after it (empty without one); with a value, that part of the
// address is changed in place to the value's text. An integer! picks and pokes characters as
// string! does; any other element raises script/invalid-path. May collect.
Cell* eval_path(Cell* parent, Cell* element, Cell* value, const action::PathOptions& options);

// Registers email! (type 45, parent string!).
void register_actions();

} // namespace email
