// map!: a hashed dictionary of key/value pairs, molded between "#[" and "]" (type id 40, no
// parent).
//
// Cell: type id 40; word 1 the index (always 0); word 2 the node of a block of pairs (two
// cells each: key, value) in insertion order; word 3 the hash table (hashtable.h, map kind)
// over the keys. A pair whose value cell has header 0 is removed: every reader skips it, it
// keeps its place, and setting its key again revives it there. The table counts the live
// pairs.
//
// Keys are looked up without regard to case unless asked; series keys are copied on
// insertion and word keys are stored as set-words.
//
// Collector safety: the routines that may collect take map cells that must stay where they
// are (the data stack, a GcRoot); they re-read block and table through the cell.
#pragma once
#include <cstdint>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace map {

// Makes `cell` a map over the pairs of the block `block` (its cells from the head, which
// must be even in number; a key that repeats, also in another case, keeps its first place
// and spelling with its last value, and the later pair leaves the block), or
// over a new block with room for `size` pairs when block is 0, and builds its table. The
// block becomes the map's own. May collect.
Cell* make_at(Cell* cell, uint32_t block, uint32_t size);
// Pushes a copy of the cell (the same map).
Cell* push(const Cell* map);

// string!, file!, url!, char!, integer!, float!, the four word types and refinement!, issue!,
// pair!, percent!, tuple!, binary!, time!, tag!, email!, date!, money!, ref! and the points.
bool valid_key_type(uint8_t type);
// The key of pair `index` of the block `block` as the map stores it: a series key copied, a
// word key a set-word. Another type raises script/invalid-path. May collect.
void key_prepare(uint32_t block, uint32_t index);

// Sets one key (case-sensitive lookup with `case_`): a new pair at the tail, or the value of
// the pair found, revived when it was removed. Answers the value. May collect.
Cell* put(Cell* map, Cell* key, Cell* value, bool case_);
// Sets every key/value pair of a block (even in length, else script/invalid-arg). May
// collect.
Cell* extend(Cell* map, Cell* block, bool case_);
// The value of a live key, or null.
Cell* get(const Cell* map, const Cell* key, bool case_);
// The number of live pairs.
uint32_t live_count(const Cell* map);

// One step of foreach over a map: the words of the block (word!, set-word!, get-word! or
// lit-word!, else script/invalid-arg) take, in turn, the key (a set-word as a word!) and the
// value of the next live pairs from cell `position`, which moves past them; words left over
// at the end take none. Answers false, setting nothing, when no live pair is left. May
// collect and run user code (the words' owners hear of the change).
bool foreach_next(const Cell* words, const Cell* map, uint32_t& position);

// Writes the live pairs (key molded, a space, the value molded), on lines of their own
// indented one level deeper (mold) or one per line without indentation (form), or separated by
// single spaces (flat). Returns the budget left. May collect.
int32_t form_entries(const Cell* map, Cell* string, bool mold, bool flat, int32_t limit,
                     int32_t indent);
// The comparison of the contents (equality codes): the same live pairs in any order.
int32_t compare_maps(const Cell* a, const Cell* b, int32_t op);

// --- Slot functions -------------------------------------------------------------------------

Cell* make(Cell* prototype, Cell* spec, int32_t type);
Cell* to(Cell* prototype, Cell* spec, int32_t type);
// words-of: the keys (set-words as words); values-of: the values; body-of: key, value ...
// with the keys as the map holds them (word keys as set-words) and a new-line marker on each
// key. Another field raises internal/not-done. May collect.
Cell* reflect(Cell* value, int32_t field_symbol);
int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, const action::PathOptions& options);
int32_t compare(Cell* value, Cell* other, int32_t op);
Cell* clear(Cell* series);
// A new map with its own pairs and table; /deep copies series values too (a map that holds
// itself raises internal/no-cycle). May collect.
Cell* copy(Cell* value, Cell* result, const action::CopyOptions& options);
// The key (a set-word as a word!) or none.
Cell* find(Cell* series, Cell* value, const action::FindOptions& options);
int32_t length_q(Cell* series);
Cell* put_action(Cell* series, Cell* key, Cell* value, const action::PutOptions& options);
// remove/key: the pair of the key (looked up case-sensitively) is removed; without /key
// script/missing-arg.
Cell* remove(Cell* series, Cell* part, Cell* key);
Cell* select(Cell* series, Cell* value, const action::FindOptions& options);

// Registers map! (type 40, no parent), installs the key preparation of the hash tables and
// the block conversion (make/to block! of a map gives its body).
void register_actions();

} // namespace map
