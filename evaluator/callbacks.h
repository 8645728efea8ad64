// Calls made from C++: language functions that native code runs (sort's comparator, an
// object's change handlers and its spec, a port's actor, the lexer's trace function, parse's
// callbacks, apply), and the way the status of a break, continue, return or exit crosses that
// C++ code (call_values is in evaluator.h).
#pragma once
#include <cstdint>

#include "evaluator/evaluator.h"
#include "runtime-core/cell.h"

namespace interp {

// Calls a function! over `count` cells that the caller has pushed from `arguments` (the data
// top): they fill its frame in order (a refinement's cell is its truth value, its arguments
// follow it); the cells its spec has beyond them are absent (false, none), cells beyond its
// arguments are dropped. The result is left at `arguments`, the top just above it. May
// collect and run user code.
Status call_pushed(const Cell* function, const Cell* name, Cell* arguments, uint32_t count);

// Calls a function value with the arguments in `values` (a block on the data stack), each the
// next value as it is: the required arguments in spec order, then the arguments of the
// refinements that the words of `refinements` (a block on the data stack, or null) turn on,
// in that order. `name` (a word on the data stack, or null for `<anon>`) names the call in
// its frame and its errors. Pushes the result. May collect and run user code.
Status call_with(const Cell* function, const Cell* values, const Cell* refinements,
                 const Cell* name = nullptr);

// Break, continue, return and exit travel as a status, but C++ code that runs language code
// as a callback has no way to hand one back. Such a callback's status goes on as the matching
// thrown code through that C++ code, which cleans up as it does for an error, to the block
// evaluation around it, which turns it back into the status (eval_block).
void pass_on(Status status);
// The status that a thrown code carries; normal for the codes that are not one.
Status status_of(uint32_t code);

// The hooks of the object module, sort, port! and the lexer, installed.
void init_callbacks();

} // namespace interp
