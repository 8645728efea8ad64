// Heap blocks: every block the runtime takes from the system heap (tables, arrays and
// buffers of the runtime itself, never values) is chained into one list, so that all of
// them can be freed when the process ends.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace memory {

// The header in front of every block handed out.
struct BlockHeader {
    BlockHeader* prev;
    BlockHeader* next;
    size_t size; // bytes asked for
    size_t spare;
};

struct HeapAnchor {
    BlockHeader* head;
    BlockHeader* tail;
};

constexpr size_t kBlockHeaderSize = sizeof(BlockHeader);

extern HeapAnchor heap_anchor;

// A new block at the tail of the list. Exhaustion is runtime error 94 ("out of memory"), or
// the fault hook's error once one is installed (memory.h).
void* alloc(size_t size);
void* alloc_zeroed(size_t size);
// Unlinks and frees a block; a pointer that is not on the list is ignored.
void free(void* block);
// Resizes a block, keeping its place in the list. A null block allocates, size 0 frees and
// returns null. Grown space is not cleared. A pointer that is not on the list is runtime
// error 98 (assertion failed).
void* realloc(void* block, size_t size);
// Frees every block, head to tail, and empties the list.
void free_all();

// Diagnostic listing of the live blocks (asked size, size with header, and their sum).
std::string heap_dump_text();
void dump_heap();

constexpr uint32_t round_up(uint32_t value, uint32_t alignment) {
    return (value + alignment - 1) & (0u - alignment);
}
constexpr uint32_t round_up_next(uint32_t value, uint32_t alignment) {
    return (value + alignment) & (0u - alignment);
}

} // namespace memory
