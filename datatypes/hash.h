// hash!: a block whose values are indexed by a hash table so that find and select do not scan
// (type id 36, child of block!).
//
// Cell: the block cell (index, node of the block buffer) with word 3 holding the table
// (hashtable.h, hash kind) over every value of the buffer from its head. The block actions
// keep the table current change by change (series::rehash: the removed cells leave it, the
// cells after them keep their entries at their new places, the new cells join it), so that
// a change costs about what it costs a block; the own actions here create, copy and mold.
#pragma once
#include <cstdint>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace hash_ {

// Makes the cell, a hash! over a block node (its cells from the head), build its table. The
// cell must stay where it is. May collect.
Cell* index_block(Cell* cell);
// Pushes a new empty hash! with room for `capacity` values (at least 1). May collect.
Cell* push_new(int32_t capacity);

// --- Slot functions -------------------------------------------------------------------------

// A number: an empty hash with room for that many values; a block: a copy from its index with
// a table over it; a hash!: a copy; anything else as to. May collect.
Cell* make(Cell* prototype, Cell* spec, int32_t type);
// A hash! is copied; any other value becomes a block as block! to makes it, with a table.
Cell* to(Cell* prototype, Cell* spec, int32_t type);
// block! copy; a whole copy from the head takes a copy of the table, any other copy a new
// table over the copied values. May collect.
Cell* copy(Cell* value, Cell* result, const action::CopyOptions& options);
// "make hash! " and the block molded (with /only the block's content alone).
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);
// block! sort and trim (which keep the table current).
Cell* sort(Cell* series, const action::SortOptions& options);
Cell* trim(Cell* series, const action::TrimOptions& options);
// block! take: the values taken with /part get a table of their own. May collect.
Cell* take(Cell* series, const action::TakeOptions& options);

// Registers hash! (type 36, parent block!).
void register_actions();

} // namespace hash_
