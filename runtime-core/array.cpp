#include "runtime-core/array.h"

#include <cstring>

#include "runtime-core/cell.h"
#include "runtime-core/collector.h"
#include "runtime-core/memory.h"

using memory::Buffer;

namespace array {

namespace {

// Reserves `size` bytes at the tail (doubling the buffer when full) and answers where they
// are. May collect.
uint8_t* reserve(uint32_t node, uint32_t size) {
    return memory::alloc_tail_bytes(memory::buffer(node), size);
}

template <class T> T load(const uint8_t* at) {
    T value;
    std::memcpy(&value, at, sizeof(T));
    return value;
}

template <class T> void store(uint8_t* at, T value) {
    std::memcpy(at, &value, sizeof(T));
}

// The byte offset of the first unit of type T equal to `value`, or -1.
template <class T> int32_t find(uint32_t node, T value) {
    Buffer* b = memory::buffer(node);
    for (uint32_t offset = 0; offset + sizeof(T) <= b->tail - b->head; offset += sizeof(T))
        if (load<T>(b->at_head() + offset) == value) return static_cast<int32_t>(offset);
    return -1;
}

} // namespace

uint32_t make(uint32_t unit, uint32_t count) {
    const uint32_t node = memory::alloc_bytes(unit * count);
    Buffer* b = memory::buffer(node);
    b->flags = (b->flags & ~memory::kUnitMask) | unit;
    return node;
}

uint32_t length(uint32_t node) {
    return memory::buffer(node)->length();
}

Buffer* clear(uint32_t node) {
    Buffer* b = memory::buffer(node);
    b->tail = b->head;
    return b;
}

void cut_at(uint32_t node, uint32_t index) {
    Buffer* b = memory::buffer(node);
    b->tail = b->head + (index - 1) * b->unit();
}

uint32_t copy(uint32_t node) {
    return memory::copy_series(memory::buffer(node));
}

uint8_t* data(uint32_t node) {
    return memory::buffer(node)->at_head();
}

void append_byte(uint32_t node, uint8_t byte) {
    *reserve(node, 1) = byte;
}

uint8_t byte_at(uint32_t node, uint32_t index) {
    return data(node)[index - 1];
}

void append_bytes(uint32_t node, const uint8_t* source, uint32_t length) {
    if (length == 0) return;
    GcInterior<const uint8_t> from(source); // it may lie in a buffer that moves meanwhile
    uint8_t* at = reserve(node, length);
    std::memcpy(at, from.get(), length);
}

void append_int(uint32_t node, int32_t value) {
    store(reserve(node, 4), value);
}

int32_t find_int(uint32_t node, int32_t value) {
    return find(node, value);
}

int32_t pick_int(uint32_t node, uint32_t index) {
    return load<int32_t>(data(node) + (index - 1) * 4);
}

void poke(uint32_t node, uint32_t index, int32_t value) {
    store(data(node) + (index - 1) * 4, value);
}

void insert_int(uint32_t node, int32_t value, uint32_t position) {
    Buffer* b = memory::buffer(node);
    if (b->tail + 4 > b->size) b = memory::expand_series_to(b, 0);
    uint8_t* at = b->at_head() + position * 4;
    std::memmove(at + 4, at, b->tail - b->head - position * 4);
    store(at, value);
    b->tail += 4;
}

void append_ptr(uint32_t node, void* value) {
    store(reserve(node, kPointerUnit), value);
}

int32_t find_ptr(uint32_t node, const void* value) {
    return find(node, const_cast<void*>(value));
}

void* pick(uint32_t node, uint32_t index) {
    return load<void*>(data(node) + (index - 1) * kPointerUnit);
}

void poke_ptr(uint32_t node, uint32_t index, void* value) {
    store(data(node) + (index - 1) * kPointerUnit, value);
}

int32_t remove_ptr(uint32_t node, const void* value) {
    const int32_t offset = find_ptr(node, value);
    if (offset >= 0) remove_at(node, static_cast<uint32_t>(offset), kPointerUnit);
    return offset;
}

void remove_at(uint32_t node, uint32_t offset, uint32_t size) {
    Buffer* b = memory::buffer(node);
    uint8_t* at = b->at_head() + offset;
    std::memmove(at, at + size, b->tail - b->head - offset - size);
    b->tail -= size;
}

} // namespace array
