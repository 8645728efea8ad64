// percent!: a float! that prints as a percentage (type id 38, child of float!).
//
// Cell: type id 38; words 2-3 the double holding the fraction (50% is 0.5). Everything but its
// text form is float!'s.
#pragma once

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace percent {

// Constructors from the fraction. make_at writes the whole header (no flags).
Cell* make_at(Cell* cell, double fraction);
// The running native's result slot becomes the percent.
Cell* box(double fraction);
Cell* push(double fraction);
// Appends at a block's tail. May collect: the result is valid until the next allocation.
Cell* add_to_block(const Cell* block, double fraction);

// The fraction times 100 with at most 13 significant digits and "%" (form and mold alike).
int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);

// Registers percent! (type 38, parent float!), after float! and pair!.
void register_actions();

} // namespace percent
