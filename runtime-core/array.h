// Small growable arrays of bytes, 32-bit integers and machine addresses, kept in ordinary
// series buffers and reached through their node, so that they move with compaction like any
// series. The hash tables keep auxiliary index lists in them; the GUI backend keeps lists of
// window handles.
//
// The buffer's unit size says what an array holds: 1 for bytes, 4 for integers,
// kPointerUnit (the size of an address on the build) for addresses. Positions are 1-based
// where an operation takes an index; an operation that answers a position gives a byte
// offset from the head. Nothing checks an index against the tail: callers keep indexes within
// the used units. Appends grow the buffer by doubling, so a run of them costs amortised
// constant time; searches are linear.
//
// Operations that may collect say so; the node stays valid (keep it rooted), buffer
// addresses do not.
#pragma once
#include <cstdint>

namespace memory {
struct Buffer;
}

namespace array {

constexpr uint32_t kPointerUnit = sizeof(void*);

// A series of unit times count bytes with its unit size set; returns the node. May collect.
uint32_t make(uint32_t unit, uint32_t count);
// Used units.
uint32_t length(uint32_t node);
// Empties the array; returns its buffer.
memory::Buffer* clear(uint32_t node);
// Keeps the first index - 1 units.
void cut_at(uint32_t node, uint32_t index);
// A new array with the same content; returns its node. May collect.
uint32_t copy(uint32_t node);
// The address of the first unit (valid until the next allocation).
uint8_t* data(uint32_t node);

// Byte arrays. The appends may collect.
void append_byte(uint32_t node, uint8_t byte);
uint8_t byte_at(uint32_t node, uint32_t index);
void append_bytes(uint32_t node, const uint8_t* source, uint32_t length);

// Integer arrays (unit 4). The appends and insert_int may collect.
void append_int(uint32_t node, int32_t value);
int32_t find_int(uint32_t node, int32_t value); // byte offset of the first equal unit, or -1
int32_t pick_int(uint32_t node, uint32_t index);
void poke(uint32_t node, uint32_t index, int32_t value);
// Stores value at the 0-based unit position, the units from there on moving up by one.
void insert_int(uint32_t node, int32_t value, uint32_t position);

// Address arrays (unit kPointerUnit). append_ptr may collect.
void append_ptr(uint32_t node, void* value);
int32_t find_ptr(uint32_t node, const void* value); // byte offset, or -1
void* pick(uint32_t node, uint32_t index);
void poke_ptr(uint32_t node, uint32_t index, void* value);
// Removes the first unit equal to value; answers its byte offset, or -1 (nothing removed).
int32_t remove_ptr(uint32_t node, const void* value);

// Removes `size` bytes at a byte offset from the head, the rest moving down.
void remove_at(uint32_t node, uint32_t offset, uint32_t size);

} // namespace array
