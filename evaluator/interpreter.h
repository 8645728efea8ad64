// The interpreter: evaluates blocks of values expression by expression, with prefix calls
// whose argument counts come from the function's spec, strictly left-to-right infix
// operators, set-words, paths, parens and literal values. It runs on the data stack and the
// frame stack (stack.h).
//
// Two kinds of non-local exit travel differently:
// - break, continue, return and exit are on hot paths: every evaluation step answers a
//   Status, and a non-normal status is passed up until the loop or function call that takes
//   it; the value they carry waits in exit_value;
// - errors, throw and quit travel as a C++ exception carrying the thrown code (throw.h);
//   their catchers unroll the frame stack to their own level.
//
// Collector safety: code blocks are read by index through a cell on the data stack, never
// through an address kept across an evaluation step.
#pragma once
#include <cstdint>

#include "runtime-core/cell.h"

namespace interp {

enum class Status : uint8_t { normal = 0, break_, continue_, return_, exit };

// The value that break/return or return carries to its target.
extern Cell exit_value;

// The block and index of the expression under evaluation (error reports name it).
extern Cell current;

// What the throw native throws: its value and its name (none without /name).
extern Cell thrown_value;
extern Cell thrown_name;
// The error! value of the last language error raised.
extern Cell error_value;

// Makes the last raised error the result of a try (`out`); with `keep` its stack trace is
// filled in from the frames it recorded.
void caught_error(Cell* out, bool keep);

// Evaluates a block from its index under a block-evaluation frame and pushes the value of
// its last expression (unset for an empty block). `block` may lie anywhere: it is copied.
// May collect and run user code.
Status eval_block(const Cell* block);
// eval_block, then the result goes into the current frame's result slot and the top comes
// back to just above it (the usual ending of a native that evaluates a block).
Status do_block(const Cell* block);

// Evaluates the one expression at `*index` of `block` (a cell on the data stack), pushes its
// value and moves the index past it. With `prefix_only` no infix operator is taken after it.
Status eval_next(const Cell* block, uint32_t* index, bool prefix_only = false);

// Calls a function value with its arguments evaluated from `args` (a block on the data
// stack), one expression each. Pushes the result.
Status apply(const Cell* function, const Cell* args);

// Calls a function value with the arguments in `values` (a block on the data stack), each the
// next value as it is: the required arguments in spec order, then the arguments of the
// refinements that the words of `refinements` (a block on the data stack, or null) turn on,
// in that order. Pushes the result. May collect and run user code.
Status call_with(const Cell* function, const Cell* values, const Cell* refinements);

// Sets the value at the end of a path (set-path evaluation). May collect and run user code.
Status set_path(const Cell* path, const Cell* value);

// Evaluates a path in get mode (no call) and pushes the value.
Status get_path(const Cell* path);

// The value slot of a word (its index resolved and cached in the word cell); an unbound word
// raises script/not-in-context, one without a slot script/no-value. Never collects.
Cell* value_of(Cell* word);

// The error hook's view of the current position: `near` receives a block at the expression.
void near_position(Cell* near);

// Raises script/expect-arg naming the current call, the value's datatype and `argument`.
[[noreturn]] void expect_arg(const Cell* value, const Cell* argument);

// Converts a status that escapes a place where no loop or function can take it (a callback
// run by native code) into the matching error of the throw category.
void status_to_error(Status status);

// The words the interpreter reads and its collector marker.
void init();

} // namespace interp
