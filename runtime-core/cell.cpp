#include "runtime-core/cell.h"

#include <algorithm>
#include <cstring>

#include "runtime-core/collector.h"
#include "runtime-core/memory.h"

namespace memory {

Cell* alloc_tail_cell(Buffer* b) {
    if (b->full()) b = expand_series_to(b, 0);
    auto* c = reinterpret_cast<Cell*>(b->at_tail());
    c->header = kTypeUnset;
    b->tail += sizeof(Cell);
    return c;
}

uint8_t* alloc_tail_bytes(Buffer* b, uint32_t count) {
    if (static_cast<uint64_t>(b->tail) + count > b->size) {
        uint64_t wanted = count > b->size ? 2 * static_cast<uint64_t>(count) : 0;
        if (wanted > 0x7FFFFFFF) raise(Fault::no_memory);
        b = expand_series_to(b, static_cast<uint32_t>(wanted));
        // A size that is not a whole number of units is cut down to one; ask for exactly
        // what is missing then.
        if (static_cast<uint64_t>(b->tail) + count > b->size)
            b = expand_series_to(b, b->tail + count + b->unit());
    }
    uint8_t* at = b->at_tail();
    b->tail += count;
    return at;
}

} // namespace memory

namespace series {

uint32_t copy_part(uint32_t node, uint32_t start, uint32_t length) {
    GcRoot source(node);
    memory::Buffer* b = memory::buffer(node);
    uint32_t unit = b->unit();
    uint32_t units = b->length();
    start = std::min(start, units);
    length = std::min(length, units - start);
    uint32_t copy = memory::alloc_series(length, unit, 0);
    b = memory::buffer(source.node());
    memory::Buffer* c = memory::buffer(copy);
    constexpr uint32_t kPlacement = memory::kFlagFixed | memory::kFlagBig;
    c->flags = (b->flags & ~(memory::kFlagOwned | kPlacement | memory::kFlagMark)) |
               (c->flags & kPlacement);
    std::memcpy(c->data(), b->at_head() + start * unit, length * unit);
    c->tail = c->head + length * unit;
    return copy;
}

} // namespace series

namespace literal {

namespace {
Cell* base = nullptr;
}

void set_base(uint32_t block_node, uint32_t index) {
    base = memory::buffer(block_node)->cells() + index;
}

Cell* cell(uint32_t number) {
    return base + number;
}

uint32_t node(uint32_t number) {
    return base[number].w1;
}

} // namespace literal
