// unset!: the value of a word that has none and the result of expressions that return
// nothing. No payload.
#pragma once

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace unset {

// The shared unset value, returned where a routine answers unset by address.
extern Cell value;

// The constructors write the whole header (no flags) and leave the payload as it was.
Cell* make_at(Cell* cell);
// The running native's result slot becomes unset.
Cell* set_result();
// Pushes an unset value on the data stack.
Cell* push();
// Appends an unset value at a block's tail. May collect: the result is valid until the next
// allocation.
Cell* add_to_block(const Cell* block);

// Slot functions.
Cell* make(Cell* prototype, Cell* spec, int32_t type); // also `to`: a fresh unset value
int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);
int32_t compare(Cell* value, Cell* other, int32_t op);

void register_actions();

} // namespace unset
