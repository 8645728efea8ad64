#include "runtime-core/data-stack.h"

#include <algorithm>

#include "runtime-core/collector.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/support.h"

namespace stack {

Cell* bottom = nullptr;
Cell* top = nullptr;
Cell* end = nullptr;
Cell* arguments = nullptr;

namespace {

OverflowHook overflow_hook = nullptr;

// The block itself is marked through the root block; its live cells are those below the top.
void mark_cells() {
    if (bottom) collector::mark_block(bottom, top);
}

} // namespace

void overflow() {
    top = std::max(bottom, top - 5);
    if (overflow_hook) overflow_hook();
    error::fire(error::kInternal, error::internal::stack_overflow);
}

void init() {
    memory::Buffer* b = memory::buffer(root::data_stack.w2);
    bottom = top = arguments = b->cells();
    end = bottom + kDataCells;
    collector::add_marker(mark_cells);
}

void clear() {
    top = arguments = bottom;
}

void pop(uint32_t n) {
    top = (n >= static_cast<uint32_t>(top - bottom)) ? bottom : top - n;
}

Cell* top_value() {
    return top > bottom ? top - 1 : bottom;
}

void set_overflow_hook(OverflowHook hook) {
    overflow_hook = hook;
}

} // namespace stack
