// block!: the series of value cells, program code and data alike (type id 5, parent series!).
//
// A block cell is a series cell (series.h) whose buffer has 16-byte units: word 1 the index in
// cells, word 2 the node, word 3 0 (a hash!'s table). Header bit 30 of an element is its
// new-line marker: mold starts a new, indented line before it.
//
// paren!, the four path types and hash! are children of block! and take most of these actions
// over, so the type tests here name the whole any-block! family.
//
// The module holds:
// - the cell routines the whole runtime uses to build and walk blocks;
// - make, to, path access, comparison, form and mold;
// - insertion, change, put, take, swap, trim and copy;
// - find, select and the set operations;
// - sort with its two comparison callbacks (in block-sort.cpp).
//
// Collector safety: a routine that says "may collect" can move every buffer. Cell arguments
// of such routines must lie where the collector follows them (the data stack, a GcRoot, a
// fixed buffer); routines that answer a cell address answer one that is valid until the next
// allocation.
#pragma once
#include <cstdint>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace memory {
struct Buffer;
}

namespace block {

// --- What other modules provide -------------------------------------------------------------

// A conversion of another datatype's value to a block, written into `result` (a cell on the
// data stack): object! and map! give their body, vector! its values, typeset! its datatype
// words; string! is loaded by the lexer. Those modules register theirs; make and to raise
// script/bad-make-arg for a type without one (to wraps the value instead, as for any other
// value, except for a string!, which raises internal/not-done).
using Conversion = void (*)(const Cell* value, Cell* result);
void set_conversion(uint8_t type, Conversion conversion);

// Calls a function! value for sort: the frame is already on the data stack (its result slot
// at stack::arguments, the arguments and the refinement slots after it). The evaluator installs
// it; it opens a call frame named "<compare-callback>", runs the function and leaves its
// result in the result slot. Errors propagate.
using FunctionCaller = void (*)(const Cell* function);
void set_function_caller(FunctionCaller caller);

// --- Cell routines --------------------------------------------------------------------------

// Cells from the index to the tail (negative when the index lies past the tail).
int32_t length_from_index(const Cell* block);
// Moves the index one cell on unless that passes the tail; answers whether the index now
// sits at the tail.
bool step_next(Cell* block);
// The cell at the index, after clamping the index to the tail (written back); the tail
// address at the tail.
Cell* index_cell(Cell* block);
Cell* tail_cell(const Cell* block);
bool index_at_tail(const Cell* block);
// The cell n places after the head (not checked).
Cell* cell_at(const Cell* block, uint32_t n);
void set_tail(const Cell* block, uint32_t n);
// Drops every cell from the index on.
void cut_at_index(const Cell* block);
// Copies a value into a new cell at the tail. May collect. Returns the new cell.
Cell* append_copy(const Cell* block, const Cell* value);
// Appends copies of the source's cells from its index to its tail. May collect.
const Cell* append_cells(const Cell* target, const Cell* source);
// Drops the last cell of a non-empty block and clamps the index to the new tail.
void remove_last(Cell* block);
// From the index, the first cell equal to `value` under the find comparison; answers the cell
// after it, or the shared none value when nothing matches or the match is the last cell.
const Cell* find_value(const Cell* block, const Cell* value);
// From the index (or the head), removes the first cell equal to `value`; answers whether the
// removed cell lay at or before the block's index (false when nothing matched).
bool find_value_from(const Cell* block, const Cell* value, bool from_head);
// From the index, the first word!, set-word!, get-word! or lit-word! with the word's symbol
// (canonical symbols unless exact); answers the cell after it or the shared none value.
const Cell* find_word(const Cell* block, const Cell* word, bool exact);
// A new block pushed on the data stack with copies of the cells from the (clamped) index to
// the tail, room for at least one cell. With deep each nested block! (and with all_blocks
// each paren! and path too) is replaced by its own deep copy, which keeps the nested cell's
// header; a block that contains itself raises internal/no-cycle. The result's header is the
// source's type without flags. May collect.
Cell* copy_series(const Cell* block, bool deep, bool all_blocks);
// Replaces, in place, every cell of the block from `from` to `end` (indexes, every stride
// cells) whose type is in `types` (a typeset! or datatype!) and that can be copied by its copy
// through the copy action, deep and with the same types when deep is set. May collect.
void copy_deep_filter(const Cell* block, uint32_t from, uint32_t end, uint32_t stride, bool deep,
                      const Cell* types);
// Inserts one cell at the index (or at the head): the buffer doubles when full, the following
// cells move up one; with advance the index moves past the new cell. May collect.
void insert_value(Cell* block, const Cell* value, bool advance, bool at_head);
// insert_value with advance of every source cell from its index. May collect.
void append_all(Cell* target, const Cell* source);
// The compiled-code appenders, addressing cells around the current frame's arguments base:
// the value at the base inserted (with advance) into the block just below it; the value at
// the base appended to the block just below it; the value after the base appended to the
// block at the base (answered). May collect.
void append_second_arg();
void append_arg();
Cell* append_next_arg();

// Makes `cell` an empty block! with room for `capacity` cells (below 1 counts as 1); the cell
// is unset while the buffer is made. Returns the cell. May collect.
Cell* make_at(Cell* cell, int32_t capacity);
// The same with a buffer of unset cells: in the collected frames, or outside them (a fixed
// buffer that is never moved nor collected).
Cell* make_fixed_at(Cell* cell, int32_t capacity, bool outside);
// make_fixed_at (outside) in a new tail cell of `parent`, or in the module's scratch cell when
// parent is null. May collect.
Cell* make_in(const Cell* parent, int32_t capacity);
// make_at in a new tail cell of `parent`, or in the scratch cell. May collect.
Cell* append_nested(const Cell* parent, int32_t capacity);
Cell* push(const Cell* block);
// Pushes a new empty block (capacity 0 counts as 1). May collect.
Cell* push_new(int32_t capacity);

// The compare action of the first value's type with the second (action.h codes); -2 (not
// comparable) when that type has no compare action. Comparisons allocate nothing.
int32_t compare_cells(const Cell* a, const Cell* b, int32_t op);

// --- Actions: make, to, path access, comparison, form, mold ---------------------------------

Cell* make(Cell* prototype, Cell* spec, int32_t type);
Cell* to(Cell* prototype, Cell* spec, int32_t type);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, const action::PathOptions& options);
int32_t compare(Cell* value, Cell* other, int32_t op);
int32_t compare_each(const Cell* a, const Cell* b, int32_t op);
int32_t form(Cell* block, Cell* string, Cell* part, int32_t limit);
int32_t mold(Cell* block, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);
// The content of a block without brackets (also paren!'s mold).
int32_t mold_cells(Cell* block, Cell* string, const action::MoldOptions& options, int32_t limit,
                   int32_t indent);

// --- Actions: insertion, change, put, take, swap, trim, copy --------------------------------

// append (append set) and insert: the series after the inserted cells (insert) or at its
// head (append).
Cell* insert(Cell* series, Cell* value, const action::InsertOptions& options);
Cell* change(Cell* series, Cell* value, const action::ChangeOptions& options);
Cell* put(Cell* series, Cell* key, Cell* value, const action::PutOptions& options);
Cell* take(Cell* series, const action::TakeOptions& options);
Cell* swap(Cell* series, Cell* other);
Cell* trim(Cell* series, const action::TrimOptions& options);
Cell* copy(Cell* series, Cell* result, const action::CopyOptions& options);

// --- Actions: find, select, set operations --------------------------------------------------

// find searches cell by cell through the compare actions, except that a hash! with a table
// answers single values through it (not under /match, nor for any-block! values unless
// /same /only, datatypes and typesets without /only, objects without /same), with the same
// result. The table path may collect (a table whose nodes moved is rebuilt first).
Cell* find(Cell* series, Cell* value, const action::FindOptions& options);
Cell* select(Cell* series, Cell* value, const action::FindOptions& options);

// The set operations of the natives on block! and hash!: the two sets are the current frame's
// first and second arguments; the result replaces the first (a hash! holding the result's
// table when either set is one). Records are looked up in hash tables, by the table key
// equality (hashtable::keys_equal, code 0 or 2 with /case), except that any-block! first
// cells are searched linearly with the find comparison. May collect.
enum SetOperation : int32_t {
    kUnique = 8,
    kUnion = 9,
    kIntersect = 10,
    kExclude = 11,
    kDifference = 12
};
Cell* set_operation(bool case_, const Cell* skip, int32_t operation);

// --- Sort -----------------------------------------------------------------------------------

Cell* sort(Cell* series, const action::SortOptions& options);
// The callbacks that the record sorts call. Flags: bit 0 reverse; bit 1 compare whole
// records; bits 2 up: with bit 1 the record size in cells, else the offset of the one cell
// compared. sort_compare's op is the comparison code (7, or 8 with /case); the answer is
// negative, 0 or positive, values of types that cannot be compared ordering by type id.
int32_t sort_compare(const void* a, const void* b, uintptr_t op, uint32_t flags);
// The user comparator's answer for a sort: logic! true is 1 and false -1, an integer! its
// value, a float! 1 above 0.0, 0 at 0.0 and -1 below, none! -1, anything else 1; positive
// means that the comparator's first argument sorts first. One rule for every sort that calls
// a function.
int32_t comparator_answer(const Cell* result);

// What a sort works on, shared by the sorts of every series type: the start (moved back for
// a negative /part, which sorts what stands before the index, and written back to the
// series), the record size from /skip, and the record count. Raises invalid-refine-arg for a
// bad /skip and bad-refines for /all without /skip; false when there is nothing to sort.
struct SortRange {
    int64_t index;
    int64_t size;
    int64_t records;
};
bool sort_range(Cell* series, Cell* part, Cell* skip, bool all, SortRange& range);
// The comparator flags of /compare given an integer: the offset of the field that orders
// /skip records, shifted into place. Needs /skip without /all (else bad-refines) and an
// offset from 1 to the record size (else out-of-range).
uint32_t sort_field_flags(const Cell* comparator, const Cell* skip, bool all, int64_t size);
// Checks a function! given to a sort's /compare: it must take exactly two arguments (else
// script/invalid-refine-arg naming compare), and the evaluator must have installed the
// function caller (else internal/not-done).
void check_comparator(const Cell* function);
// Calls a user comparator with `first` and `second` as its two arguments and every
// refinement it declares absent, and answers comparator_answer of its result. The data stack
// is put back however the call ends. Runs user code: may collect, and errors propagate.
int32_t call_comparator(const Cell* function, const Cell& first, const Cell& second);

// Registers block! (type 5, parent series!), after series!.
void register_actions();

} // namespace block
