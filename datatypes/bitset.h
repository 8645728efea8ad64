// bitset!: a set of non-negative integers (code points, mostly), one bit per member.
//
// Cell: type id 30, no parent; word 2 holds the node of a byte series (unit 1); words 1 and 3
// are not used.
//
// The bit array: bit n lives in byte n >> 3 from the head, under the mask 0x80 >> (n & 7), so
// the most significant bit of the first byte is bit 0. The stored bytes run from the head to
// the tail (the buffer may hold more); length? is the stored bytes times 8.
//
// The complement flag (kFlagComplement, in the buffer's flags) makes every position beyond
// the stored bytes a member; without it such a position is absent. Bytes that become stored
// when the array grows take the flag's fill byte (0xFF complemented, 0x00 otherwise), so a
// position reads the same before and after the growth.
//
// Specs describe members: a char!, an integer! or a float! (truncated toward zero) names one
// position; a string! each of its characters; a block! any of these, and ranges written
// `low - high` of two chars or two integers; make and to also take a count of bits, a
// binary! of ready bytes and a bitset! to copy, and a block that begins with the word `not`
// for the complement of what follows. Those two words are the runtime's symbols (words.h),
// matched exactly; before the word tables exist no word matches them.
#pragma once
#include <cstdint>

#include "datatypes/action.h"
#include "runtime-core/cell.h"
#include "runtime-core/memory.h"

namespace bitset {

constexpr uint32_t kFlagComplement = 0x80000;

// Whether code point `cp` is in the bit array of a bitset's buffer (bit 0x80 of the first byte
// is code point 0); a code point beyond the stored bytes answers the complement flag.
inline bool has(memory::Buffer* bits, uint32_t cp) {
    if (cp / 8 >= bits->tail - bits->head) return (bits->flags & kFlagComplement) != 0;
    return (bits->at_head()[cp >> 3] & (0x80u >> (cp & 7))) != 0;
}

// What the spec walkers do with the positions they meet.
enum Op : int32_t {
    kSize = 0,  // nothing: find the highest position (no bitset given)
    kSet = 1,   // make them members
    kTest = 2,  // answer 1 when all of them are members, else 0
    kClear = 3, // make them absent
};

// Who walks a spec, for the error that a spec of the wrong kind raises: script/bad-make-arg
// for make, script/bad-to-arg for to, script/invalid-arg for the other actions.
enum Kind : int32_t { kMake = 0, kTo = 1, kOther = 2 };

// --- The bit array ------------------------------------------------------------------------

// The address of the first byte; valid until the next allocation.
uint8_t* bits(const Cell* bitset);
// Makes sure byte n >> 3 is stored: a buffer too small for it is enlarged to (n >> 3) + 1
// bytes, and the tail moves to cover it, the newly stored bytes taking the fill byte. The bit
// itself is left alone. Returns the address of the first byte. `bitset` must stay where it is
// (data stack, GcRoot). May collect.
uint8_t* grow_to_bit(const Cell* bitset, uint32_t n);
// True when n is negative or byte n >> 3 is not stored.
bool out_of_range(const Cell* bitset, int64_t n);
// Inverts every byte of the buffer's capacity.
void invert_bytes(memory::Buffer* buffer);

// --- Specs --------------------------------------------------------------------------------

// Walks a spec with an operation (bitset null for kSize). Nested walks (the elements of a
// block) answer the highest position met, or for kTest 1 or 0. At the top level, kSize and
// kSet answer the byte count the highest position needs, ((max + 8) & ~7) >> 3, and kSet
// moves the tail to cover it. Under kSet a position beyond the stored bytes of a complemented
// bitset is already a member and counts as 1; under kClear one beyond a normal bitset is
// already absent and counts as 0; in both cases nothing changes. A negative position raises
// script/out-of-range (kTest answers 0); a range with its ends the wrong way round or a `-`
// with nothing after it script/past-end, a range whose ends differ in type script/invalid-arg;
// a binary! spec internal/not-done; a spec of any other type the error of `kind`. May collect.
uint32_t process_spec(const Cell* spec, const Cell* bitset, Op op, bool nested, Kind kind);
// One range, judged on its high end as a single position would be. kTest answers 1 or 0, the
// others as process_spec's nested walk. May collect.
uint32_t process_range(const Cell* bitset, uint32_t low, uint32_t high, Op op);
// The characters of a string from its index. kSize (or a null bitset) answers the highest
// code point, kTest 1 when every character is a member; kSet and kClear work on the stored
// bytes only (the caller grows the array first) and answer the highest code point.
uint32_t process_string(const Cell* string, const Cell* bitset, Op op);

// A new bitset, pushed on the data stack (unset! until it is complete), from a spec for make
// (kMake) or to (kTo). Returns the pushed cell. May collect.
Cell* make_from_spec(const Cell* spec, Kind kind);

// The bitwise and set operations on the current frame's two values, by code: 5 or, 6 and,
// 7 xor, 8 unique, 9 union, 10 intersect, 11 exclude, 12 difference. The result, pushed and
// also put into the result slot, is as long as the longer operand (and: the shorter) and
// complemented when exactly one operand is; unique answers the first value as it is. A
// second value that is not a bitset raises script/invalid-type. Returns the result slot. May
// collect.
Cell* do_bitwise(int32_t op);

// Pushes a copy of the cell (the bitset's series is shared).
Cell* push(const Cell* bitset);

// Appends "#{", then two hexadecimal digits per stored byte (each inverted with `invert`);
// with `part_limited` it stops before a byte once the limit is used up. Returns the limit
// less 2 per byte written. May collect.
int32_t write_hex(const Cell* bitset, const Cell* string, bool part_limited, int32_t limit,
                  bool invert);

// --- Slot functions -----------------------------------------------------------------------

Cell* make(Cell* prototype, Cell* spec, int32_t type);
// reflect and modify know one field, `owned`, as every series does (series.h): reflect gives
// the owner object of the bitset or none (any other field raises internal/not-done); modify
// with none takes the bitset from its owner, with a block [owner field-word] gives it to that
// owner, and answers the value.
Cell* reflect(Cell* value, int32_t field_symbol);
Cell* to(Cell* prototype, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, const action::PathOptions& options);
int32_t compare(Cell* value, Cell* other, int32_t op);
void negate();
void and_();
Cell* complement(Cell* value);
void or_();
void xor_();
// The in-place changes tell the bitset's owner (ownership.h) before and after, as every series
// change does: append and insert with insert and inserted (the stored byte count as the
// part), poke with poke and poked, remove with remove and removed, clear with clear and
// cleared. The owner's handler runs user code, which may change the bitset: each action reads
// it again afterwards.
// append and insert: sets the members of `value`; the result is the bitset.
Cell* insert(Cell* series, Cell* value, const action::InsertOptions& options);
Cell* clear(Cell* series);
Cell* copy(Cell* value, Cell* result, const action::CopyOptions& options);
Cell* find(Cell* series, Cell* value, const action::FindOptions& options);
int32_t length_q(Cell* series);
Cell* pick(Cell* series, int32_t index, Cell* index_value);
Cell* poke(Cell* series, int32_t index, Cell* value, Cell* index_value);
Cell* remove(Cell* series, Cell* part, Cell* key);
Cell* modify(Cell* target, Cell* field, Cell* value, const action::PutOptions& options);

void register_actions();

} // namespace bitset
