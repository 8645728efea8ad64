// The cycle stack: the series (and object contexts) that form, mold, compare, copy and the
// ownership walks are inside of right now. A container pushes its own node while it walks
// its elements and checks each nested series or object against the stack first, so a block
// that contains itself is written with a short marker instead of recursing forever.
//
// 1,000 entries of node ids. The push that would fill the last one empties the stack and
// raises internal/too-deep, which also bounds the depth of those walks.
//
// Errors leave whatever was pushed: code that pushes uses Push (an RAII pop), and every catch
// that takes an error and goes on evaluating calls reset(); a data-stack overflow resets it
// too (init installs the hook). Between top-level operations the stack is empty.
#pragma once
#include <cstdint>

#include "runtime-core/cell.h"

namespace cycles {

constexpr uint32_t kEntries = 1000;

// Empties the stack, registers the collector marker and the data-stack overflow hook.
void init();

// Pushes a node; the push that fills the last entry empties the stack and raises
// internal/too-deep.
void push(uint32_t node);
// Drops the top entry; nothing on an empty stack.
void pop();
void pop_n(uint32_t n);
void reset();
// Whether the node is on the stack.
bool find(uint32_t node);
// Number of entries on the stack.
uint32_t depth();

// The node a container value is known by on the stack: the context node of an object!,
// error! or port!, the series node of the series types, bitset! and map!; 0 for every
// other value.
uint32_t node_of(const Cell* value);

// When the value's node is on the stack, appends the cycle marker, takes its length off
// *limit and answers true; otherwise writes nothing and answers false. Form writes "..."; mold
// writes "[...]" for block! and hash!, "(...)" for paren!, "#[...]" for map!,
// "make object! [...]" for object!, and "..." for the path types and everything else. May
// collect.
bool detect(const Cell* value, const Cell* string, int32_t* limit, bool mold);

// Collector marker: marks every entry's buffer and follows moved nodes.
void mark();

// Pushes a node for the lifetime of the object.
class Push {
public:
    explicit Push(uint32_t node) { push(node); }
    ~Push() { pop(); }
    Push(const Push&) = delete;
    Push& operator=(const Push&) = delete;
};

} // namespace cycles
