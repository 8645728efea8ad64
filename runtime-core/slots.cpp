#include "runtime-core/slots.h"

#include "runtime-core/collector.h"
#include "runtime-core/memory.h"
#include "runtime-core/runtime.h"

namespace slots {

Table table;

namespace {

// A free cell is an integer! whose word 2 is the index of the next free cell.
void chain_free(Cell* cells, uint32_t from, uint32_t to) {
    for (uint32_t i = from; i < to; ++i)
        cells[i] = Cell{kTypeInteger, 0, i + 1 < to ? i + 1 : 0xFFFFFFFFu, 0};
}

Cell* cells() {
    return memory::buffer(table.block.w2)->cells();
}

} // namespace

void init() {
    table = Table{};
    uint32_t node = memory::alloc_cells(kInitialCapacity);
    memory::Buffer* b = memory::buffer(node);
    table.block = Cell{kTypeBlock, 0, node, 0};
    table.capacity = kInitialCapacity;
    chain_free(b->cells(), 0, kInitialCapacity);
    b->tail = b->head + kInitialCapacity * sizeof(Cell);
    table.free_head = 0;
}

uint32_t alloc(const Cell& value) {
    // The value may live in a buffer that growing the block moves, or be reachable from
    // nothing else: keep a rooted copy.
    GcRoot copy(value);
    if (table.free_head == -1) {
        uint32_t old = table.capacity;
        memory::Buffer* b =
            memory::expand_series_to(memory::buffer(table.block.w2), 2 * old * sizeof(Cell));
        table.capacity = b->size / sizeof(Cell);
        chain_free(b->cells(), old, table.capacity);
        b->tail = b->head + table.capacity * sizeof(Cell);
        table.free_head = static_cast<int32_t>(old);
    }
    Cell* c = cells() + table.free_head;
    int32_t next = static_cast<int32_t>(c->w2);
    *c = copy.cell();
    uint32_t slot = static_cast<uint32_t>(table.free_head) + 1;
    table.free_head = next;
    return slot;
}

Cell* get(uint32_t slot) {
    if (slot == 0 || slot > table.capacity || table.block.w2 == 0) return nullptr;
    return cells() + (slot - 1);
}

void free(uint32_t slot) {
    Cell* c = get(slot);
    if (!c) return;
    // Freeing a free slot would loop the free list, and a later alloc would hand out a live
    // slot: that is a fault of the caller, reported at once. Frees are rare (a native window
    // ends), so walking the free list costs nothing that matters.
    uint32_t steps = 0;
    for (int32_t i = table.free_head; i != -1; i = static_cast<int32_t>(cells()[i].w2)) {
        if (static_cast<uint32_t>(i) == slot - 1 || static_cast<uint32_t>(i) >= table.capacity ||
            ++steps > table.capacity)
            runtime::quit(runtime::kErrorAssertion, ZAN_CALLER_ADDRESS());
    }
    *c = Cell{kTypeInteger, 0, static_cast<uint32_t>(table.free_head), 0};
    table.free_head = static_cast<int32_t>(slot - 1);
}

void mark() {
    collector::mark_block_value(table.block);
}

} // namespace slots
