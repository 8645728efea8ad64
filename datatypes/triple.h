// triple!: three 32-bit integers that the runtime's reports produce, the memory statistics
// above all (used, free and total size of each memory frame).
//
// Cell: type id 31, no parent; words 1, 2 and 3 hold the three signed integers in order. The
// language cannot make one: the type forms and molds, and does nothing else.
#pragma once
#include <cstdint>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace triple {

// Form and mold write the same construction text, "make triple! [1 2 3]", whatever the part
// argument; the budget falls by the characters written.
int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);

void register_actions();

} // namespace triple
