// The error catalogue as language data: `system/catalog/errors`, an object of ten category
// objects built at start-up from the table of error-ids.h. Each category object has the
// fields `code` (its base code), `type` (its title) and one field per id holding the id's
// message template (a string, a block of strings and argument words, or none).
//
// Scripts may read the catalogue and add ids to a category; error! make and form look it up
// through `system` every time, so such additions count.
#pragma once
#include <cstdint>

#include "runtime-core/cell.h"

namespace catalog {

// Makes the catalogue object, pushed on the data stack. Needs the global context and the
// object! and string! types. May collect.
Cell* make_errors();

// The catalogue object now in system/catalog/errors, or null when that is not an object.
const Cell* errors();
// The category object at a position of the catalogue, or null.
const Cell* category(uint32_t position);
// The category's field position of the word's symbol (canonical comparison), or -1; the same
// in the catalogue for a category word.
int32_t id_position(const Cell* category, const Cell* word);
int32_t category_position(const Cell* word);

// The table's own names (runtime-core/error-ids.h): a category's word and an id's word by position,
// null beyond the table.
const char* category_name(uint32_t category);
const char* id_name(uint32_t category, uint32_t id);

} // namespace catalog
