// typeset!: a set of datatypes (type id 33, no parent).
//
// Cell: words 1-3 are a 96-bit array, one bit per type id: the bit of id t lies in byte t / 8
// (bytes in memory order, word 1 first) under the mask 0x80 >> (t % 8), so the most
// significant bit of each byte is the lowest id. Bit 0 and the bits above the highest
// registered type id name no datatype.
//
// The interpreter makes a typeset of every argument's type block (make_from_spec) and checks
// each argument with contains(); the set operations of the natives combine typesets. The
// standard typeset words (number!, series!, any-type! ...) are made at start-up.
#pragma once
#include <cstdint>
#include <cstring>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace typeset {

constexpr uint32_t kBytes = 12;
constexpr uint32_t kBits = kBytes * 8;

// Whether the set holds type id `type`: the argument type check of the natives.
inline bool contains(const Cell* typeset, uint32_t type) {
    if (type >= kBits) return false;
    uint8_t bits[kBytes];
    std::memcpy(bits, &typeset->w1, kBytes);
    return bits[type >> 3] & (0x80u >> (type & 7));
}
// Whether a typeset! or a datatype! names type id `type` (anything else names none).
bool names_type(const Cell* types, uint32_t type);

// --- Constructors (each writes the whole cell) ----------------------------------------------

// The empty set in `cell`; returns the cell.
Cell* make_at(Cell* cell);
// Pushes an empty set; pushes a copy of a typeset.
Cell* push_empty();
Cell* push(const Cell* typeset);
// Appends a typeset of the three bit words at a block's tail (boot-image decoding). May
// collect; the result is valid until the next allocation.
Cell* make_in(const Cell* block, uint32_t w1, uint32_t w2, uint32_t w3);
// Clears the three bit words.
Cell* clear(Cell* typeset);
// Every one of the 96 bits except unset!'s: the set of an argument without a type block.
Cell* make_any_type(Cell* cell);
// The set of an argument's type block: a word stands for its value (an unset word raises
// script/no-value, and a word whose value is no datatype adds object!), a datatype! adds its
// bit, a typeset! is or-ed in, a nested block is passed over; any other value raises
// script/invalid-type-spec. `cell` must stay where it is (data stack, GcRoot).
Cell* make_from_spec(Cell* cell, const Cell* block);

// --- Members ----------------------------------------------------------------------------------

void add_type(Cell* typeset, uint32_t type);
// Adds a datatype! (its bit) or a typeset! (or-ed in); a word is first replaced by its value;
// any other value raises script/invalid-arg.
void add(Cell* typeset, const Cell* value);
// Number of set bits among ids 1 to the highest registered type id.
int32_t count(const Cell* typeset);
// A block of the name word of every datatype in the set, in id order, made in `result` (a
// cell that stays where it is). May collect.
void to_block(const Cell* typeset, Cell* result);

// The bitwise and set operations on the current frame's two values: 5 or and 9 union, 6 and
// and 10 intersect, 7 xor and 12 difference, 11 exclude, 8 unique (the first set as it is).
// The second value must be a typeset! or a datatype! (one bit), else script/invalid-arg. The
// result goes to the result slot, which is returned.
Cell* do_bitwise(int32_t op);

// --- Slot functions -------------------------------------------------------------------------

// make and to: a typeset spec is taken as it is, a block's values are added one by one, any
// other spec raises script/bad-to-arg.
Cell* make(Cell* prototype, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit);
// "make typeset! [integer! float!]"; with only, the names alone.
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);
// Equality codes: 0 when all bits are equal, else 1; the sort codes order by the number of
// members; the ordering codes and other types are not comparable.
int32_t compare(Cell* value, Cell* other, int32_t op);
void and_();
Cell* complement(Cell* value);
void or_();
void xor_();
// find: the value must be a datatype!; the result slot gets true or false. Any other value
// raises script/invalid-arg.
Cell* find(Cell* series, Cell* value, const action::FindOptions& options);

// Makes the standard typeset words (internal! external! number! ... any-type!) in the global
// context. Needs the datatype name words. May collect.
void make_standard_words();

// Registers typeset! (after float!) and its conversion to a block.
void register_actions();

} // namespace typeset
