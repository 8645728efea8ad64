// The interpreter: evaluates blocks of values expression by expression, with prefix calls
// whose argument counts come from the function's spec, strictly left-to-right infix
// operators, set-words, paths, parens and literal values. It runs on the data stack and the
// frame stack (runtime-core/data-stack.h, frames.h).
//
// Two kinds of non-local exit travel differently:
// - break, continue, return and exit are on hot paths: every evaluation step answers a
//   Status, and a non-normal status is passed up until the loop or function call that takes
//   it; the value they carry waits in exit_value. Where C++ code runs language code as a
//   callback (a sort comparator, a change handler, a tracer, an object spec), the status
//   crosses that C++ code as the matching thrown code and becomes a status again at the
//   block evaluation around it (callbacks.h);
// - errors, throw and quit travel as a C++ exception carrying the thrown code (throw.h);
//   their catchers unroll the frame stack to their own level.
//
// What the layers above the evaluator use of it is declared in evaluator.h. Inside the
// evaluator it is this header: the evaluation steps (interpreter.cpp) and, through the headers
// included below, the tracer (tracer.h), error raising (raise.h) and the calls made from C++
// (callbacks.h); signatures.cpp checks native specs against their slots.
//
// Collector safety: code blocks are read by index through a cell on the data stack, never
// through an address kept across an evaluation step.
#pragma once
#include <cstdint>

#include "evaluator/callbacks.h"
#include "evaluator/evaluator.h"
#include "evaluator/raise.h"
#include "evaluator/tracer.h"
#include "runtime-core/cell.h"
#include "runtime-core/type-traits.h"

namespace interp {

// The value that break/return or return carries to its target.
extern Cell exit_value;

// The block and index of the expression under evaluation (error reports name it).
extern Cell current;

// eval_block, then the result goes into the current frame's result slot and the top comes
// back to just above it (the usual ending of a native that evaluates a block).
Status do_block(const Cell* block);

// Evaluates the one expression at `*index` of `block` (a cell on the data stack), pushes its
// value and moves the index past it.
Status eval_next(const Cell* block, uint32_t* index);

// do/next: evaluates the one expression at the block's index, pushes its value (unset at the
// tail) and answers the index after it (the same index at the tail). `block` is a cell on
// the data stack. May collect and run user code.
Status eval_single(const Cell* block, uint32_t* next);

// One expression of `code` (a block on the data stack) from `*index`, under a native frame
// named `<body>` (the natives that evaluate a block expression by expression): its value is
// pushed and the index moves past it. May collect and run user code.
Status eval_framed(const Cell* code, uint32_t* index);

// Sets the value at the end of a path (set-path evaluation). May collect and run user code.
Status set_path(const Cell* path, const Cell* value);

// Evaluates a path in get mode (no call) and pushes the value.
Status get_path(const Cell* path);

// The value slot of a word (its index resolved and cached in the word cell); an unbound word
// raises script/not-in-context, one without a slot script/no-value. Never collects.
Cell* value_of(Cell* word);

// The value of a word, or null when it has none to offer (unbound, not in its context, no
// values now). Never raises, never collects.
Cell* peek(Cell* word);

// --- The call step, for the evaluator's other files -------------------------------------------

inline bool is_callable(uint8_t t) {
    return traits::is_any_function(t) && t != kTypeOp;
}

// A call: the function value's cell on the data stack (its frame begins just above it) and
// where its arguments come from.
struct Call {
    Cell* fn;            // the function value; the result replaces it
    const Cell* code;    // the block the arguments come from (on the data stack)
    uint32_t* index;     // position in it
    const Cell* path;    // the path naming the call (on the data stack), or null
    uint32_t path_index; // the first refinement element of the path
    bool infix;
    uint32_t preset = 0;  // arguments already in place after the function value
    bool literal = false; // apply: each argument is the next value as it is
};

// Calls the function value at c.fn: frame, arguments, entry or body; the result replaces
// the function value and the top comes back to just above it. May collect and run user code.
Status call(Call& c, const Cell* name);

// Runs a function!'s body on its frame: the locals context reads the frame's cells. `name`
// (for the tracer) is the word the function was called by. May collect and run user code.
Status run_body(Cell* fn, const Cell* name = nullptr);

// Completes a function frame whose first `given` cells the caller has pushed: the cells its
// spec has beyond them get their absent values (a refinement false, its arguments and the
// locals none); given cells beyond the spec's arguments are dropped. Never collects.
void fill_frame(const Cell* fn, uint32_t given);

// --- Start-up -----------------------------------------------------------------------------------

// The words the evaluator reads, its collector markers and the hooks it installs in the
// layers below: this file's, then each part's.
void init();
// The native spec check (signatures.cpp).
void init_signatures();

} // namespace interp
