// The parse dialect: matching a series against a block of rules.
//
// The engine is one loop driven by a state (fetch the next rule value, or hand the result of
// the rule just matched to what waits for it) over two work stacks, so that rule nesting
// never recurses on the machine stack:
//   - the rule stack holds a frame for each rule block being matched (the block, a triple!
//     of rule position, input index and input length at entry, and a tag triple!) and for
//     each keyword waiting for the result of the rule after it (a triple! of minimum,
//     maximum and current count, a triple! of the round's input index, input length and
//     rule checkpoint, the keyword's argument cell, and a tag triple!);
//   - the input stack holds the input series (into pushes the inner one) and the targets of
//     collect.
// Both are blocks in the root block, shared by nested parse calls (a paren may call parse
// again): a call works above the content it found and every exit, error included, cuts both
// back to their lengths at entry. Either stack reaching 10,001 cells raises parse-stack.
//
// Collector safety: everything the engine keeps across an allocation lives in the cells of
// the two stacks (or on the data stack); the loop keeps only indexes and re-reads buffers
// through the stacks' nodes after every call that may collect.
#pragma once
#include <cstdint>

#include "evaluator/interpreter.h"
#include "runtime-core/cell.h"

namespace parse {

// Cells either work stack may hold before parse-stack is raised.
constexpr uint32_t kStackLimit = 10001;

// Makes the two work stacks in the root block (the input stack with room for 8 cells, the
// rule stack for 100) and the engine's keyword table. Start-up, after the natives table.
void init();

// What a parse call is given.
struct Options {
    bool case_ = false;             // case-sensitive matching from the start
    int64_t part = -1;              // the input ends this many units after its index (-1: tail)
    const Cell* callback = nullptr; // function! told of each step, or null
};

// Matches `input` (from its index) against the block `rules`. The result goes to `result`
// (a cell on the data stack): logic! true when the rules matched up to the (part-limited)
// end of the input, false otherwise, or the block of the outermost collect that has no set,
// into or after. A break, continue, return or exit raised in a paren is answered as the
// status (the stacks are then back as they were). Both cells must lie on the data stack.
// Runs user code: may collect.
interp::Status process(const Cell* input, const Cell* rules, const Options& options, Cell* result);

// The parse native (slot 40): input, rules; /case, /part length, /trace callback.
interp::Status native(const int32_t* refinements);

// The number of cells of each work stack (tests check that every exit leaves them empty).
uint32_t rule_stack_length();
uint32_t input_stack_length();

} // namespace parse
