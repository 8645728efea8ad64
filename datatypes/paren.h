// paren!: a block that the evaluator evaluates in place, written in parentheses.
//
// Cell: the block cell of block.h with type id 6, a child of block!: word 1 the index, word 2
// the node of the cell buffer. Every series action, make, to, form, path access and
// comparison are block!'s, copied into the row at registration; only mold is its own. A paren
// compares only with another paren (block!'s rule: different types are not comparable).
#pragma once
#include <cstdint>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace paren {

// Makes the cell a paren! (the whole header rewritten, flags dropped), then pushes a copy of
// it on the data stack.
Cell* push(Cell* cell);

// "(", the cells as a block writes them, ")"; with only, the bare contents. A paren that
// contains itself writes "(...)" for the inner occurrence. May collect.
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);

// Registers paren! (type 6, parent block!), after block!.
void register_actions();

} // namespace paren
