// binary!: a series of bytes (type id 41, child of string!).
//
// Cell: the series cell of the string family (index in bytes from the buffer's head, node of
// the buffer in word 2; word 3 is 0); the buffer's unit size is 1. Most series actions are
// string!'s; binary! adds its conversion, mold, comparison, bitwise operations and byte-level
// insertion.
//
// The module also holds the raw byte helpers that the codecs and loaders use to build and
// read byte buffers, and the four text codecs (base 2, 16, 58 and 64) behind enbase and
// debase.
//
// Collector safety: routines that say "may collect" can move every buffer; their cell
// arguments must lie where the collector follows them (the data stack, a GcRoot, a fixed
// buffer). Byte sources passed to them may lie anywhere, series buffers included: they are
// copied before anything is allocated.
#pragma once
#include <cstdint>
#include <string>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace binary {

// --- Cells and constructors -----------------------------------------------------------------

// Makes `cell` an empty binary! with room for `capacity` bytes (at least 1): unset! while the
// buffer is allocated. Returns the cell. May collect.
Cell* make_at(Cell* cell, uint32_t capacity);
// Pushes a copy of the cell.
Cell* push(const Cell* binary);
// A new binary holding a copy of `length` bytes: pushed on the data stack (load), in the
// running native's result slot (box), or appended at a block's tail (load_in; the result is
// valid until the next allocation). The lexer's and the boot-image decoder's constructors.
// May collect.
Cell* load(const uint8_t* bytes, uint32_t length);
Cell* box(const uint8_t* bytes, uint32_t length);
Cell* load_in(const Cell* block, const uint8_t* bytes, uint32_t length);

// --- Byte helpers ---------------------------------------------------------------------------

// Bytes from the index to the tail (an index past the tail counts as the tail).
uint32_t zs_length(const Cell* binary);
// The byte at the index and the tail; valid until the next allocation.
uint8_t* zs_head(const Cell* binary);
uint8_t* zs_tail(const Cell* binary);
bool zs_tail_q(const Cell* binary);
// The byte at the index (0 at the tail).
uint8_t zs_byte_at(const Cell* binary);
// The tail moves to the index.
void zs_clear(const Cell* binary);
// Moves the index on by n when it stays inside the buffer; answers whether the tail was
// reached.
bool zs_skip(Cell* binary, int32_t n);
// Appends n raw bytes at the tail (the buffer grows to twice the need when too small). May
// collect.
void zs_append(const Cell* binary, const uint8_t* bytes, uint32_t n);
// Inserts n raw bytes `offset` bytes after the index. May collect.
void zs_insert(const Cell* binary, uint32_t offset, const uint8_t* bytes, uint32_t n);
// Overwrites n bytes `offset` bytes after the index, growing the buffer and moving the tail
// when the write passes it. May collect.
void zs_write_at(const Cell* binary, uint32_t offset, const uint8_t* bytes, uint32_t n);
// Appends a 32-bit integer, most significant byte first. May collect.
void zs_append_int32(const Cell* binary, int32_t value);
// Replaces `remove` bytes `at` bytes after the buffer's head (not the index) with `bytes`,
// growing the buffer as needed (to twice the new length); a length beyond what a buffer can
// hold raises internal/no-memory. Serves every series of raw units (vector! too). May collect.
void zs_splice(const Cell* series, uint32_t at, uint32_t remove, const std::string& bytes);
// Stores an integer! or char! (its low byte) at `at`; another value raises
// script/invalid-arg.
void poke_byte(uint8_t* at, const Cell* value);

// The bytes a value contributes to append, insert (`change` false) and change: a char! its
// UTF-8, an integer! one byte (-128..255, else script/invalid-arg), a binary! its bytes from
// the index, a tuple! its bytes, text its UTF-8 from the index, a block!, paren! or hash! the
// bytes of each value in turn; another value its formed text for change, script/bad-to-arg
// for append and insert. `part` (-1: none) counts values of a block, bytes otherwise. May
// collect (forming).
void value_bytes(const Cell* value, int32_t part, bool change, std::string& out);

// Compares the bytes of a binary from its index with those of another binary or the UTF-8
// of a text (other types: -2): unsigned, the first difference deciding, equal prefixes by
// length; the equality codes answer 0 equal or 1 unequal, and the same buffer and index are
// equal. `prefix`: only the other value's length counts (an empty one matches).
int32_t compare_bytes(const Cell* binary, const Cell* other, int32_t op, bool prefix);

// For parse: whether the byte at the index is in a bitset (a byte beyond the bitset's bits
// answers its complement flag); false at the tail.
bool byte_in_bitset(const Cell* binary, const Cell* bitset);
// For parse: a text or binary matches when its bytes begin the binary at the index, a char!
// when its code equals the byte there; other values do not match.
bool string_like(const Cell* binary, const Cell* value);

// --- Base-N codecs --------------------------------------------------------------------------

// Encoders write the characters of `length` bytes into `out`, which the caller sizes (base 2:
// 8 per byte; base 16: 2; base 64: 4 per started group of 3; base 58: at most
// length * 138 / 100 + 1), and answer the count written.
uint32_t encode_base2(const uint8_t* bytes, uint32_t length, char* out);
uint32_t encode_base16(const uint8_t* bytes, uint32_t length, char* out);
uint32_t encode_base58(const uint8_t* bytes, uint32_t length, char* out);
uint32_t encode_base64(const uint8_t* bytes, uint32_t length, char* out);
// Decoders read `length` characters of `unit` bytes each and push a new binary, or answer
// null when the text is invalid. ";" starts a comment to the end of the line. May collect.
Cell* decode_base2(const uint8_t* text, uint32_t length, uint32_t unit);
Cell* decode_base16(const uint8_t* text, uint32_t length, uint32_t unit);
Cell* decode_base58(const uint8_t* text, uint32_t length, uint32_t unit);
Cell* decode_base64(const uint8_t* text, uint32_t length, uint32_t unit);

// --- Slot functions -------------------------------------------------------------------------

Cell* to(Cell* prototype, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit);
// "#{" the bytes as upper-case hexadecimal pairs "}"; unless flat, more than 30 bytes go on
// lines of 32 bytes indented one level deeper than the value.
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);
int32_t compare(Cell* value, Cell* other, int32_t op);
void and_();
void or_();
void xor_();
Cell* complement(Cell* value);
// append (append set) and insert: the bytes of the value written once, /dup times; the sizes
// are checked (internal/no-memory). append answers the series at its head, insert just past
// the new bytes. May collect.
Cell* insert(Cell* series, Cell* value, const action::InsertOptions& options);
Cell* change(Cell* series, Cell* value, const action::ChangeOptions& options);
Cell* trim(Cell* series, const action::TrimOptions& options);

// Registers binary! (type 41, parent string!), after string!.
void register_actions();

} // namespace binary
