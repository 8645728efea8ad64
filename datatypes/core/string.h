// The string! datatype: text in a series buffer of one, two or four bytes per character.
//
// A string cell (type id 7, or a child type that shares the layout: file!, url!, tag!,
// email!, ref!, binary!, vector!) holds its index in word 1, a 0-based count of characters
// from the buffer's head; the node of its text buffer in word 2; and in word 3 the node of
// its conversion cache (unicode.h), 0 until a conversion needs one.
//
// A text buffer's unit size is 1, 2 or 4 bytes; every character takes one unit, stored
// little-endian, and there are no surrogate pairs inside a string. The buffer widens as a
// whole, never character by character, and never narrows again (except through reset):
//   - appending (append_char): a 1-byte buffer takes 0-7F and widens above; a 2-byte
//     buffer takes up to FFFF;
//   - writing at a position (write_char, overwrite_char, insert_char): a 1-byte buffer
//     takes 0-FF (Latin-1); a 2-byte buffer takes up to FFFF.
// A widening may move the buffer, so every primitive that can widen or grow returns the
// buffer that now holds the text; callers continue with that one or re-read it through the
// node.
//
// Collector safety: a routine marked "may collect" can move every buffer. The cells it is
// given must stay where they are (the data stack, a GcRoot's cell, a fixed buffer) when it
// writes to them after allocating, and byte sources may lie anywhere, series buffers
// included: the routines follow them when a buffer moves.
//
// A unit size other than 1, 2 or 4 is an internal fault: the process ends with runtime error
// 101 ("no value matched in SWITCH").
#pragma once
#include <cstdint>

#include "runtime-core/cell.h"

namespace memory {
struct Buffer;
}

namespace string {

// --- Making strings -----------------------------------------------------------------------

// Makes `cell` an empty string! with room for `capacity` 1-byte units (at least 1): it is
// unset! while its buffer is allocated and becomes a string! last. Returns the cell. May
// collect.
Cell* make_at(Cell* cell, uint32_t capacity);

// --- Reading characters -------------------------------------------------------------------

// The code point stored at `at` in a unit of `unit` bytes.
uint32_t get_char(const uint8_t* at, uint32_t unit);

// --- Writing characters -------------------------------------------------------------------

// Appends a code point at the tail, widening by the appending rule. Returns the buffer that
// now holds the text. May collect.
memory::Buffer* append_char(memory::Buffer* buffer, uint32_t cp);

// Appends `count` bytes as the code points 0-FF (Latin-1). May collect.
void append_bytes(const Cell* string, const char* bytes, uint32_t count);

// Appends the bytes of a NUL-terminated byte string as code points; an empty one appends
// nothing. May collect.
void concatenate_cstring(const Cell* string, const char* text);

} // namespace string
