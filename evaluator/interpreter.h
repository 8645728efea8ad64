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
//   block evaluation around it;
// - errors, throw and quit travel as a C++ exception carrying the thrown code (throw.h);
//   their catchers unroll the frame stack to their own level.
//
// What the layers above the evaluator use of it is declared in evaluator.h.
//
// Collector safety: code blocks are read by index through a cell on the data stack, never
// through an address kept across an evaluation step.
#pragma once
#include <cstdint>

#include "evaluator/evaluator.h"
#include "runtime-core/cell.h"

namespace interp {

// The value that break/return or return carries to its target.
extern Cell exit_value;

// The block and index of the expression under evaluation (error reports name it).
extern Cell current;

// eval_block, then the result goes into the current frame's result slot and the top comes
// back to just above it (the usual ending of a native that evaluates a block).
Status do_block(const Cell* block);

// Evaluates the one expression at `*index` of `block` (a cell on the data stack), pushes its
// value and moves the index past it. With `prefix_only` no infix operator is taken after it.
Status eval_next(const Cell* block, uint32_t* index, bool prefix_only = false);

// do/next: evaluates the one expression at the block's index, pushes its value (unset at the
// tail) and answers the index after it (the same index at the tail). `block` is a cell on
// the data stack. May collect and run user code.
Status eval_single(const Cell* block, uint32_t* next);

// One expression of `code` (a block on the data stack) from `*index`, under a native frame
// named `<body>` (the natives that evaluate a block expression by expression): its value is
// pushed and the index moves past it. May collect and run user code.
Status eval_framed(const Cell* code, uint32_t* index);

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

// --- The tracer (the rest of it in evaluator.h) --------------------------------------------

// The events a tracer function asks for: when its body begins with a block of event words,
// their bits; otherwise every event.
uint32_t event_mask(const Cell* function);

// Calls made on behalf of a callback carry its kind: the bit that system/state/callbacks keeps
// for it (lexer 1, parse 2, sort 4, change 8, deep 16, port 32). While one lives, a call of
// that kind is traced only when its bit is set in the object's `bits`.
enum CallbackKind : uint32_t {
    kLexerCallback = 1,
    kParseCallback = 2,
    kSortCallback = 4,
    kChangeCallback = 8,
    kDeepCallback = 16,
    kPortCallback = 32,
};
class CallbackTracing {
public:
    explicit CallbackTracing(uint32_t kind) : saved_(tracing) {
        if (tracing) [[unlikely]]
            tracing = callback_traced(kind);
    }
    ~CallbackTracing() { tracing = saved_; }
    CallbackTracing(const CallbackTracing&) = delete;
    CallbackTracing& operator=(const CallbackTracing&) = delete;

private:
    static bool callback_traced(uint32_t kind);
    bool saved_;
};

// The words the interpreter reads and its collector marker.
void init();

} // namespace interp
