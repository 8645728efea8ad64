#include "runtime-core/heap.h"

#include <cstdlib>
#include <cstring>

#include "runtime-core/memory.h"
#include "runtime-core/runtime.h"
#include "runtime-core/stdio.h"

namespace memory {

HeapAnchor heap_anchor{nullptr, nullptr};

namespace {

runtime::FaultContext oom_context;

// Once the evaluator has installed the memory fault hook, exhaustion is the language error
// internal/no-memory like any other allocation failure; before that it ends the process.
[[noreturn]] void out_of_memory(uint32_t address) {
    if (has_fault_hook()) raise(Fault::no_memory);
    oom_context.frame_pointer = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    oom_context.stack_pointer = oom_context.frame_pointer;
    runtime::record.fault = &oom_context;
    runtime::quit(runtime::kErrorOutOfMemory, address);
}

void link_at_tail(BlockHeader* h) {
    h->prev = heap_anchor.tail;
    h->next = nullptr;
    if (heap_anchor.tail)
        heap_anchor.tail->next = h;
    else
        heap_anchor.head = h;
    heap_anchor.tail = h;
}

BlockHeader* find(void* block) {
    for (BlockHeader* h = heap_anchor.head; h; h = h->next)
        if (reinterpret_cast<char*>(h) + kBlockHeaderSize == block) return h;
    return nullptr;
}

} // namespace

void* alloc(size_t size) {
    auto* h = static_cast<BlockHeader*>(std::malloc(size + kBlockHeaderSize));
    if (!h) out_of_memory(ZAN_CALLER_ADDRESS());
    h->size = size;
    h->spare = 0;
    link_at_tail(h);
    return reinterpret_cast<char*>(h) + kBlockHeaderSize;
}

void* alloc_zeroed(size_t size) {
    void* p = alloc(size);
    std::memset(p, 0, size);
    return p;
}

void free(void* block) {
    BlockHeader* h = block ? find(block) : nullptr;
    if (!h) return;
    if (h->prev)
        h->prev->next = h->next;
    else
        heap_anchor.head = h->next;
    if (h->next)
        h->next->prev = h->prev;
    else
        heap_anchor.tail = h->prev;
    std::free(h);
}

void* realloc(void* block, size_t size) {
    if (!block) return alloc(size);
    if (size == 0) {
        free(block);
        return nullptr;
    }
    // A pointer that is not a block of ours is a caller's fault: a null result would be taken
    // for the resized block by callers that do not check, so it is reported at once.
    BlockHeader* h = find(block);
    if (!h) runtime::quit(runtime::kErrorAssertion, ZAN_CALLER_ADDRESS());
    auto* n = static_cast<BlockHeader*>(std::realloc(h, size + kBlockHeaderSize));
    if (!n) out_of_memory(ZAN_CALLER_ADDRESS());
    n->size = size;
    if (n->prev)
        n->prev->next = n;
    else
        heap_anchor.head = n;
    if (n->next)
        n->next->prev = n;
    else
        heap_anchor.tail = n;
    return reinterpret_cast<char*>(n) + kBlockHeaderSize;
}

void free_all() {
    BlockHeader* h = heap_anchor.head;
    while (h) {
        BlockHeader* next = h->next;
        std::free(h);
        h = next;
    }
    heap_anchor.head = heap_anchor.tail = nullptr;
}

std::string heap_dump_text() {
    std::string out = "-- Heap-allocations --\nAsked   Real\n";
    size_t sum = 0;
    for (BlockHeader* h = heap_anchor.head; h; h = h->next) {
        out += std::to_string(h->size) + "\t" + std::to_string(h->size + kBlockHeaderSize) + "\n";
        sum += h->size + kBlockHeaderSize;
    }
    out += "-- Sum: " + std::to_string(sum) + " --\n";
    return out;
}

void dump_heap() {
    std::string text = heap_dump_text();
    stdio::write_bytes(text.c_str());
}

} // namespace memory
