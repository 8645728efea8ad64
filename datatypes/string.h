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
// The module holds the primitives every module that writes text calls, and the datatype's
// actions with its registration:
// - make, to, form, mold, path access and comparison (string.cpp);
// - append, insert, change, take and swap (string-insert.cpp);
// - find and select (string-find.cpp);
// - sort and its comparators (string-sort.cpp);
// - trim and the set operations on text (string-trim.cpp).
// file!, url!, tag!, email!, ref!, binary! and vector! inherit several of the actions: a
// result takes the type asked for, and the actions branch where those types differ.
#pragma once
#include <cstdint>
#include <string>

#include "datatypes/action.h"
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

// The constructors of the text types that share string!'s cell (string!, file!, url!, tag!,
// email!, ref!): a value of `type` holding the UTF-8 text. `text_at` initialises a cell that
// stays where it is (the data stack, a GcRoot, the root block); the text may not lie in a
// series buffer. May collect.
Cell* text_at(Cell* cell, uint8_t type, const char* utf8, uint32_t length);
Cell* text_push(uint8_t type, const char* utf8, uint32_t length);
// Appends at the tail of a block; the result is valid until the next allocation.
Cell* text_add_to_block(const Cell* block, uint8_t type, const char* utf8, uint32_t length);
// The UTF-8 text of a string from its index.
std::string utf8_from_index(const Cell* string);

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
// Appends `count` code points (which may not lie in a series buffer), widening once by the
// appending rule. May collect.
void append_chars(const Cell* string, const uint32_t* chars, uint32_t count);
// Appends the bytes of a NUL-terminated byte string as code points; an empty one appends
// nothing. May collect.
void concatenate_cstring(const Cell* string, const char* text);
// The string side of series move: the characters of `bytes` bytes from the source's index
// are inserted one by one at the target's index (widening it as needed), then removed from
// the source. Source and target are different buffers. May collect.
void move_chars(const Cell* source, const Cell* target, uint32_t bytes);

// --- Numbers ------------------------------------------------------------------------------

// Two upper-case hexadecimal digits, NUL-terminated, in a static buffer.
const char* byte_to_hex(uint8_t byte);
// Eight upper-case hexadecimal digits (a negative value in two's complement), NUL-terminated,
// in a static buffer; with `strip`, without the leading zeros ("00" for zero).
const char* int_to_hex(int32_t value, bool strip);
// The double that the decimal text of `count` bytes denotes; `unconsumed` receives the count
// of bytes after the number (0 when the whole text is a number).
double to_float(const char* text, int32_t count, int32_t& unconsumed);

// --- Actions: make, to, form, mold, path access, comparison --------------------------------

// make: an integer! or float! spec is a capacity in characters (a negative one raises
// script/out-of-range); binary! turns a money! spec down (script/bad-make-arg) and hands
// every other spec to its own to; anything else goes through to. The result is a new cell
// on the data stack, of the requested type. May collect.
Cell* make(Cell* prototype, Cell* spec, int32_t type);
// to: a copy of a text from its index, a binary!'s UTF-8 text, the formed elements of a
// block!, paren! or hash! one after the other, a refinement! formed (for string!) or molded
// (for its children), a none! refused (script/bad-to-arg), anything else formed. May collect.
Cell* to(Cell* prototype, Cell* spec, int32_t type);
// form appends the text (cut to /part's count when given) and returns the limit less the
// whole length from the index.
int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit);
// mold writes the text between double quotes, or between braces when it holds three line
// feeds or more, a double quote or fifty characters or more; characters without a literal
// form are escaped (append_escaped_char), and braces without a partner in the text are
// escaped in brace mode. Returns the limit less the characters molded and the two
// delimiters.
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);
// The escape step of mold (also char!'s and vector!'s): 1E, 80-9F and, with `all`, every code
// point above 7F as "^(" hexadecimal digits ")"; the controls 00-1F, the double quote and
// the caret as "^" and a character ("^@", "^A" ... "^-" for tab, "^/" for line feed ...,
// "^\"", "^^"); 7F as "^~"; every other character as it is. May collect.
void append_escaped_char(const Cell* string, uint32_t cp, bool all);
// Path access: an integer! picks or pokes; a word! raises script/invalid-path; any other
// element selects, or, with a value, pokes the value after the first character of the
// match (script/bad-path-set when there is none).
Cell* eval_path(Cell* parent, Cell* element, Cell* value, const action::PathOptions& options);
// Compares texts by compare_strings; a value of another type compares only when it is an
// any-string! and the code is equal or not-equal, else -2.
int32_t compare(Cell* value, Cell* other, int32_t op);

// --- Actions: append, insert, change, take, swap ---------------------------------------------

// A char! inserts one character, a text of string!, file!, url!, email! or ref! its
// characters from its index, a tag! its text between "<" and ">"; any other value is formed
// (a block!, paren! or hash! element after element, with nothing between). /part counts
// characters of a text value; for a block it counts elements, or, with /only, formed
// characters. /dup repeats the inserted text; a count below 1 writes nothing, as in a block.
// Every change is announced to the series' owner. Sizes that cannot be held raise
// internal/no-memory. The last flag is the block actions' (set for append): string! has an
// entry for each action and does not need it. All may collect.
//
// append: at the tail; the series at its head when something was appended, else as it was.
Cell* append(Cell* series, Cell* value, const action::InsertOptions& options);
// insert: at the index; the series just after the inserted text.
Cell* insert(Cell* series, Cell* value, const action::InsertOptions& options);
// change: replaces /part characters at the index (without /part as many as it writes, within
// the text) by the value; the series just after the new text.
Cell* change(Cell* series, Cell* value, const action::ChangeOptions& options);
// The series take; without /part the one character taken is a char! (an integer! for
// binary!, the element for vector!).
Cell* take(Cell* series, const action::TakeOptions& options);
// Exchanges the characters at the two indexes (nothing when either is at its tail); the
// second must be any-string! or binary! (else script/invalid-arg). Answers the first.
Cell* swap(Cell* series, Cell* other);

// --- Actions: find and select --------------------------------------------------------------

// find: the series at the match (after it with /tail), or none. Looks for a char!, a
// bitset!'s characters, a word's text, a text of string!, file!, url!, email!, ref! or
// binary! from its index, an integer! or float! element of a binary! or vector!, or the
// formed text of any other value. Text series compare upper-cased unless /case or /same.
// /any and /with raise internal/not-done; /skip below 1 script/out-of-range; a /part that
// is neither a number nor a position in the series script/invalid-refine-arg. May collect.
Cell* find(Cell* series, Cell* value, const action::FindOptions& options);
// The first position from `from` where the text of `needle` (a string!, file!, url!, email!
// or ref! from its index, not empty) stands whole before `bound`, in the text `text`; -1
// when there is none. Upper-cased comparison unless `case_sensitive`, as find. Allocates
// nothing in the series memory.
int64_t find_text(const Cell* text, uint32_t from, uint32_t bound, const Cell* needle,
                  bool case_sensitive);
// select: the element after the matched text (a char!, an integer! for binary!), or none.
Cell* select(Cell* series, Cell* value, const action::FindOptions& options);

// --- Actions: sort -------------------------------------------------------------------------

// Sorts characters (or records of /skip characters) in place from the index: by code point
// with /case, otherwise a 1-byte text folds A-Z to a-z and wider texts fold to upper case;
// /compare is a record offset or a function! of two arguments (records reach it as strings
// of their own, characters as char!); /stable keeps equal records in order; /reverse, /part
// and /all as for blocks. Runs user code with a function: may collect.
Cell* sort(Cell* series, const action::SortOptions& options);
// The comparators the record sorts call (runtime-core/sort.h), with (record a, record b, case
// argument, flags): flags bit 0 reverse, bit 1 whole record, bits 2 up the record length (whole
// record) or the offset of the one unit compared; a case argument of 0 folds.
int32_t sort_compare_latin1(const void* a, const void* b, uintptr_t case_arg, uint32_t flags);
int32_t sort_compare_ucs2(const void* a, const void* b, uintptr_t case_arg, uint32_t flags);
int32_t sort_compare_ucs4(const void* a, const void* b, uintptr_t case_arg, uint32_t flags);
// vector! of float! elements: NaN compares equal to everything.
int32_t sort_compare_float32(const void* a, const void* b, uintptr_t case_arg, uint32_t flags);
int32_t sort_compare_float64(const void* a, const void* b, uintptr_t case_arg, uint32_t flags);

// --- Actions: trim and the set operations ----------------------------------------------------

// trim in place from the index: /all or /with remove every character of a set (tab, line
// feed, carriage return and space by default) wherever it stands; /lines joins the text into
// one line; otherwise whitespace goes at both ends (only the head, only the tail), and
// without /head and /tail also the indentation and the blanks at the end of every line.
// /auto raises internal/not-done.
Cell* trim(Cell* series, const action::TrimOptions& options);
void trim_chars(Cell* series, const Cell* with);
void trim_lines(Cell* series);
void trim_whitespace(Cell* series, bool head, bool tail);
// Whitespace of trim: 01-20, 85, A0, 1680, 180E, 2000-200A, 2028, 2029, 202F, 205F, 3000.
bool is_whitespace(uint32_t cp);

// The set operations of the natives on text (codes of block.h: unique 8, union 9, intersect
// 10, exclude 11, difference 12): the two texts are the current frame's first and second
// arguments; records of /skip characters are told apart by their first character (compared
// upper-cased unless case_); the result, a new text, replaces the first argument. May
// collect.
Cell* set_operation(bool case_, const Cell* skip, int32_t operation);

// Registers string! (type 7, parent series!), after block!.
void register_actions();

} // namespace string
