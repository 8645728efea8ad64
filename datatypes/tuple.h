// tuple!: a sequence of 3 to 12 bytes written with dots, 1.2.3 or 255.0.0.128 (type id 39, no
// parent): colours, version numbers, addresses.
//
// Cell: type id 39 with the length (3 to 12) in header bits 19-22; the bytes lie in words 1-3
// in memory order, byte 1 first; bytes past the length stay zero. Arithmetic works byte by
// byte and clamps every result to 0..255.
#pragma once
#include <cstdint>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace tuple {

constexpr uint32_t kMaxLength = 12;
constexpr uint32_t kMinLength = 3;

// --- Constructors ---------------------------------------------------------------------------

// A tuple of `length` bytes (fewer than 3 are padded with zeros, more than 12 are cut) in the
// cell; the whole header is written (no flags). The lexer's and the boot-image decoder's
// constructor from its parts.
Cell* make_at(Cell* cell, const uint8_t* bytes, uint32_t length);
Cell* push(const uint8_t* bytes, uint32_t length);
// From the length and the three payload words as they lie in a cell.
Cell* push_words(uint32_t length, uint32_t w1, uint32_t w2, uint32_t w3);
// The running native's result slot becomes the tuple.
Cell* box(const uint8_t* bytes, uint32_t length);
// Appends at a block's tail. May collect: the result is valid until the next allocation.
Cell* add_to_block(const Cell* block, const uint8_t* bytes, uint32_t length);

uint32_t length(const Cell* tuple);
// The bytes of the cell (12 of them, those past the length zero).
const uint8_t* bytes(const Cell* tuple);
uint8_t* bytes(Cell* tuple);
// Whether every byte is zero.
bool zero_q(const Cell* tuple);

// --- Conversions ----------------------------------------------------------------------------

// The first up to 12 bytes of a binary from its index, padded to 3, into `result`.
Cell* from_binary(Cell* result, const Cell* binary);
// The hexadecimal digits of an issue: 6 digits give 3 bytes, 8 give 4, two digits a byte;
// 3 digits give 3 bytes of each digit doubled (#F80 is 255.136.0). Another count or a
// non-digit raises script/invalid-data with the issue.
Cell* from_issue(Cell* result, const Cell* issue);
// Stores byte `index` (1-based, within the length, else script/out-of-range): an integer!
// clamped to 0..255, or none, which cuts the tuple before that index (never below 3 bytes).
// Another value raises script/invalid-type.
Cell* poke(Cell* series, int32_t index, Cell* value, Cell* index_value);

// The current frame's first cell with the second, by op code (0 add, 1 subtract, 2 multiply,
// 3 divide, 4 remainder, 5 or, 6 and, 7 xor); the result replaces the first cell. A number on
// the left swaps with the tuple on the right, except that subtract and divide then raise
// script/not-related. Bytes combine with an integer through integer! arithmetic, with a
// float through float! arithmetic (truncated), with a tuple byte by byte (the longer
// length; missing bytes count as 0); results are clamped to 0..255.
Cell* do_math(int32_t op);

// --- Slot functions -------------------------------------------------------------------------

Cell* make(Cell* prototype, Cell* spec, int32_t type); // also to
Cell* random(Cell* value, const action::RandomOptions& options);
int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, const action::PathOptions& options);
// Only tuples compare: byte by byte up to the longer length, missing bytes as 0.
int32_t compare(Cell* value, Cell* other, int32_t op);
Cell* complement(Cell* value);
int32_t length_q(Cell* series);
Cell* pick(Cell* series, int32_t index, Cell* index_value);
Cell* reverse(Cell* series, Cell* part, Cell* skip);

// Registers tuple! (type 39, no parent).
void register_actions();

} // namespace tuple
