#include "runtime-core/root.h"

#include "runtime-core/collector.h"
#include "runtime-core/heap.h"
#include "runtime-core/memory.h"
#include "runtime-core/runtime.h"

namespace root {

Cell block{};
int32_t boot_flag = 0;
Cell data_stack{};

namespace {

// The data-stack block is one of the root block's cells, so marking the root block marks
// it too (its empty content costs nothing; the data stack marks its own live cells).
void mark() {
    if (block.w2 != 0) collector::mark_block_value(block);
    if (data_stack.w2 != 0) collector::mark_series(data_stack.w2);
}

Cell make_block(uint32_t cells) {
    return Cell{kTypeBlock, 0, memory::alloc_unmanaged_series(cells, sizeof(Cell), 0), 0};
}

} // namespace

void init() {
    block = make_block(kCells);
    data_stack = make_block(kDataStackCells);
    *alloc_tail() = data_stack;
    collector::add_marker(mark);
}

bool exists() {
    return block.w2 != 0;
}

Cell* alloc_tail() {
    memory::Buffer* b = memory::buffer(block.w2);
    if (b->full()) runtime::quit(runtime::kErrorAssertion, ZAN_CALLER_ADDRESS());
    return memory::alloc_tail_cell(b);
}

void release() {
    for (Cell* c : {&data_stack, &block}) {
        if (c->w2 != 0) memory::free(memory::buffer(c->w2));
        *c = Cell{};
    }
}

} // namespace root
