// The string! datatype: text in a series buffer of one, two or four bytes per character.
//
// A string cell (type id 7, or a child type that shares the layout: file!, url!, tag!,
// email!, ref!, binary!, vector!) holds its index in word 1, a 0-based count of characters
// from the buffer's head; the node of its text buffer in word 2; and in word 3 the node of
// its conversion cache (unicode.h), 0 until a conversion needs one. An index beyond the tail
// reads as the tail, a negative one as 0.
//
// A text buffer's unit size is 1, 2 or 4 bytes; every character takes one unit, stored
// little-endian, and there are no surrogate pairs inside a string. The buffer widens as a
// whole, never character by character, and never narrows again (except through reset):
//   - appending (append_char): a 1-byte buffer takes 0-7F and widens above (to 2 bytes up
//     to FFFF, else to 4); a 2-byte buffer takes up to FFFF;
//   - writing at a position (write_char, overwrite_char, insert_char): a 1-byte buffer
//     takes 0-FF (Latin-1); a 2-byte buffer takes up to FFFF.
// Copying between widths takes 1-byte units as Latin-1 code points. A widening may move the
// buffer, so every primitive that can widen or grow returns the buffer that now holds the
// text; callers continue with that one or re-read it through the node.
//
// Collector safety: a routine marked "may collect" can move every buffer. A cell it writes
// after allocating must stay where it is (the data stack, a GcRoot's cell, a fixed buffer);
// byte sources may lie anywhere, series buffers included: the routines follow them when a
// buffer moves.
//
// A symbol! operand (type 13) of compare_strings and concatenate stands for its text from
// the start: word 2 of a symbol cell is the node of its string, which the caller has made
// sure exists.
//
// A unit size other than 1, 2 or 4 is an internal fault: the process ends with runtime error
// 101 ("no value matched in SWITCH"), 100 in insert_units.
//
// The datatype's actions (make, to, form, mold, find, sort ...) and its registration come
// with the datatype module's action row; these are the primitives under them, which every
// module that writes text also calls.
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
// The same with room for `count` units of `unit` bytes and that unit size; the header's
// flags are kept. May collect.
Cell* make_units_at(Cell* cell, uint32_t count, uint32_t unit);
// Pushes a copy of the cell on the data stack.
Cell* push(const Cell* string);

// Encodings of load.
constexpr int32_t kUtf8 = 0;
constexpr int32_t kUtf16le = -1;

// A string of the text of `length` bytes in an encoding (kUtf8 or kUtf16le), in `target`
// or, when it is null, in a new cell pushed on the data stack; returns the cell. Any other
// encoding prints "*** Loading Error: input encoding unsupported" and ends the process with
// status 0. Invalid UTF-8 raises access/invalid-utf8. May collect.
Cell* load(const uint8_t* bytes, uint32_t length, Cell* target, int32_t encoding);
// load into a new cell at the tail of the block of node `block`; returns that cell (valid
// until the next allocation). May collect.
Cell* load_into_block(const uint8_t* bytes, uint32_t length, uint32_t block, int32_t encoding);
// load into a new cell at the root block's tail: a permanent string whose cell never moves.
// May collect.
Cell* load_in(const uint8_t* bytes, uint32_t length, int32_t encoding);
// load onto the data stack.
Cell* load_push(const uint8_t* bytes, uint32_t length, int32_t encoding);
// A new string from UTF-8 bytes, pushed on the data stack. Bytes left undecoded at the end (a
// cut sequence) raise access/invalid-utf8 with a binary! of them. May collect.
Cell* from_utf8_checked(const uint8_t* bytes, uint32_t length);

// --- Positions ----------------------------------------------------------------------------

// Characters from the index to the tail; an index past the tail is written back as the
// tail.
uint32_t length(Cell* string);
// Characters from the head to the tail.
uint32_t length_from_head(const Cell* string);
// Moves the index n characters on when that does not pass the tail; answers whether the
// position asked for is at or past the tail.
bool advance(Cell* string, int32_t n);
bool step_next(Cell* string);
// The address of the character at the index, the index clamped to the tail first (written
// back).
uint8_t* index_pointer(Cell* string);
uint8_t* tail_pointer(const Cell* string);
bool index_at_tail(const Cell* string);

// --- Reading characters -------------------------------------------------------------------

// The code point stored at `at` in a unit of `unit` bytes.
uint32_t get_char(const uint8_t* at, uint32_t unit);
// The code point at `offset` characters from the buffer's head (not from the index), which
// the caller keeps before the tail.
uint32_t char_at(const Cell* string, uint32_t offset);
// The offset from the index of the first occurrence of the code point, or -1.
int32_t find_char(const Cell* string, uint32_t cp);
// Whether the code point occurs at the index or at every step-th character after it;
// unless `case_flag` is 1 both sides are compared upper-cased.
bool contains_char(const Cell* string, uint32_t cp, int32_t step, int32_t case_flag);
// Whether the text at the index begins with the NUL-terminated bytes (as code points 0-FF).
bool starts_with_cstring(const Cell* string, const char* text);
// Whether the character at the index is in the bitset (cell of type bitset!: bit 0x80 of its
// first byte is code point 0; a code point beyond its bits answers with its complement
// flag). False at the tail.
bool char_in_bitset(const Cell* string, const Cell* bitset);
// Whether the character at the index is "<" and the one a tag's length further is ">".
bool angle_bracketed(const Cell* string, const Cell* tag);

// Compare operator codes used by the text comparisons.
enum CompareOp : int32_t {
    kEqual = 0,
    kNotEqual = 1,
    kStrictEqual = 2,
    kLesser = 3,
    kLesserOrEqual = 4,
    kGreater = 5,
    kGreaterOrEqual = 6,
    kSort = 7,
    kCaseSort = 8,
    kSame = 9,
    kFind = 12,
};

// Compares two texts from their indexes: -1, 0 or 1 (first below, equal, above); for the
// equality codes (0, 1, 2, 12) 0 means equal and 1 unequal. kSame answers 0 only for the same
// node and index. Characters are compared upper-cased except for kStrictEqual and kCaseSort.
// With `match` the first text only has to begin with the second.
int32_t compare_strings(const Cell* first, const Cell* second, int32_t op, bool match);
// Whether `value` matches the text at the index under the operator: a text of string!,
// file!, url!, email! or ref! that it begins with, a char! (exactly for kStrictEqual, else
// upper-cased), a tag! between angle brackets. Any other value does not match.
bool match_value(const Cell* string, const Cell* value, int32_t op);

// --- Writing characters -------------------------------------------------------------------

// Empties the string (tail at head, 1-byte units) and sets its index to 0. Returns the cell.
Cell* reset(Cell* string);
// Moves the tail back to n units from the head when they fit in the buffer and lie before the
// tail; otherwise nothing.
void truncate(memory::Buffer* buffer, uint32_t n);
// Removes n units at `position` (from the head), the rest moving down; nothing when the
// position is at or past the tail; n is cut to the units after the position.
void remove_units(const Cell* string, uint32_t position, uint32_t n);
void remove_char(const Cell* string, uint32_t position);

// Appends a code point at the tail, widening by the appending rule. Returns the buffer that
// now holds the text. May collect.
memory::Buffer* append_char(memory::Buffer* buffer, uint32_t cp);
// Stores a code point at the byte address `at` inside the buffer's text, widening by the
// writing rule (the address is carried over into the widened buffer). May collect.
memory::Buffer* write_char(memory::Buffer* buffer, uint8_t* at, uint32_t cp);
// Stores a code point at a character offset from the head, widening by the writing rule and
// growing the buffer when the offset lies at or beyond its end; an offset at or past the tail
// moves the tail just after the character (a gap up to it is filled with code point 0). May
// collect.
memory::Buffer* overwrite_char(memory::Buffer* buffer, uint32_t offset, uint32_t cp);
// Inserts a code point at a character offset from the head (at most the tail), widening by
// the writing rule. May collect.
memory::Buffer* insert_char(memory::Buffer* buffer, uint32_t offset, uint32_t cp);
// Widens from `unit` to `new_unit` (2 or 4); a buffer already that wide is returned as it is.
// May collect.
memory::Buffer* widen_to(memory::Buffer* buffer, uint32_t unit, uint32_t new_unit);

// Copies units from `source` into `target`, converting 1-byte units to 2 or 4 bytes and
// 2-byte units to 4 (a 4-byte source is an internal fault). The source range starts
// `source_offset` bytes after its head and runs `count` bytes, or to its tail when count is
// below 1; it is written `target_offset` bytes after the target's head. A null target is a
// new buffer of `size` bytes that takes over the source's node (the source buffer becomes
// garbage). Unless `keep` is set, the target's tail follows the last unit written and its
// unit size becomes `target_unit`. Returns the target. May collect (only without a target).
memory::Buffer* insert_units(memory::Buffer* source, memory::Buffer* target, uint32_t size,
                             uint32_t target_unit, uint32_t source_offset, uint32_t target_offset,
                             int32_t count, bool keep);

// Where concatenate writes.
enum ConcatMode : int32_t {
    kAppendMode = 0,    // at the tail
    kInsertMode = 1,    // at the target's index plus the offset, the rest moving up
    kOverwriteMode = 2, // from the target's index plus the offset, never shortening
};

// Writes the text of `source` from its index (at most `part` characters when part is 0 or
// more) into `target`. The narrower of the two widens to the other's width, except that a
// source is never changed when `keep_source` is set (then its characters are converted one
// by one). May collect.
void concatenate(const Cell* target, const Cell* source, int32_t part, int32_t offset,
                 bool keep_source, int32_t mode);
void overwrite(const Cell* target, const Cell* source, int32_t part, int32_t offset,
               bool keep_source);
// Appends `count` bytes as the code points 0-FF (Latin-1). May collect.
void append_bytes(const Cell* string, const char* bytes, uint32_t count);
// Appends the bytes of a NUL-terminated byte string as code points; an empty one appends
// nothing. May collect.
void concatenate_cstring(const Cell* string, const char* text);
// The string side of series move: the characters of `bytes` bytes from the source's index
// are inserted one by one at the target's index (widening it as needed), then removed from
// the source. Source and target are different buffers. May collect.
void move_chars(const Cell* source, const Cell* target, uint32_t bytes);

// The escape step of mold, shared by string!, char! and vector! mold: appends the code point
// as it stands inside a molded text. 0x1E, 0x80-0x9F and, with `all`, every code point above
// 0x7F are written "^(HEX)" (upper-case digits, no leading zeros); the control characters
// 0x00-0x1F are written "^" and their letter ("^@", "^A" ... "^-" for tab, "^/" for line
// feed, "^[" for escape); a double quote and a caret take a caret before them, 0x7F is
// written "^~"; every other character stands for itself. May collect.
void append_escaped_char(const Cell* string, uint32_t cp, bool all);

// --- Numbers ------------------------------------------------------------------------------

// Two upper-case hexadecimal digits, NUL-terminated, in a static buffer.
const char* byte_to_hex(uint8_t byte);
// Eight upper-case hexadecimal digits (a negative value in two's complement), NUL-terminated,
// in a static buffer; with `strip`, without the leading zeros ("00" for zero).
const char* int_to_hex(int32_t value, bool strip);
// The double that the decimal text of `count` bytes denotes; `unconsumed` receives the count
// of bytes after the number (0 when the whole text is a number).
double to_float(const char* text, int32_t count, int32_t& unconsumed);

} // namespace string
