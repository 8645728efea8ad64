// none!: the language's "no value", which can be stored and passed. No payload. Series
// operations that make sense on "nothing" (clear, find, remove, select, take, length?)
// answer none instead of failing.
#pragma once

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace none {

// The shared none value, returned where a routine answers none by address.
extern Cell value;

// The constructors write the whole header (no flags) and leave the payload as it was.
Cell* make_at(Cell* cell);
// The running native's result slot becomes none.
Cell* set_result();
// Pushes a none value on the data stack.
Cell* push();
// Appends a none value at a block's tail. May collect: the result is valid until the next
// allocation.
Cell* add_to_block(const Cell* block);

// Slot functions.
Cell* make(Cell* prototype, Cell* spec, int32_t type); // also `to`: a fresh none value
int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);
int32_t compare(Cell* value, Cell* other, int32_t op);
Cell* clear(Cell* series);
Cell* find(Cell* series, Cell* value, const action::FindOptions& options);
Cell* remove(Cell* series, Cell* part, Cell* key);
Cell* select(Cell* series, Cell* value, const action::FindOptions& options);
Cell* take(Cell* series, const action::TakeOptions& options);
// -1: the length? action makes that a none result.
int32_t length_q(Cell* series);

void register_actions();

} // namespace none
