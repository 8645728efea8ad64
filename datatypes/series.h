// series!: the abstract parent of every series datatype (type id 42; no value carries it).
//
// Its action row holds the positional and generic series operations, written once over the
// unit size of a series buffer (1, 2, 4 or 16 bytes); block!, string! and image! inherit them
// and their children inherit through them. Where an element value is produced or stored
// (pick, poke, random, take, move) the functions branch on the series' type.
//
// A series cell holds its index in word 1 (a signed count of units from the buffer's head)
// and its node in word 2; word 3 is type-specific (hash!: its table; vector!: its element
// type). The index rule: an index is never corrected when the buffer shrinks; every reader
// treats an index past the tail as the tail and a negative one as 0. get_length is the one
// place that writes the correction back.
//
// Every action that changes a series in place tells the series' owner before and after the
// change (ownership.h). The "before" call may run user code, which may change or move any
// series: the actions read the buffer again afterwards and clamp what they computed to it.
#pragma once
#include <cstdint>

#include "datatypes/action.h"
#include "datatypes/ownership.h"
#include "runtime-core/cell.h"
#include "runtime-core/type-traits.h"

namespace series {

// --- Type families --------------------------------------------------------------------------

// The series families of the type table (runtime-core/type-traits.h).
using traits::is_any_block;
using traits::is_any_list;
using traits::is_any_path;
using traits::is_any_string;
using traits::is_series;

// The units of a series value from its index to its tail (an index beyond the tail counts as
// the tail, a negative one as 0): their address, count and unit size. The address is valid
// until the next allocation.
const uint8_t* units_from_index(const Cell* series, uint32_t& count, uint32_t& unit);

// --- What other modules provide -------------------------------------------------------------

// What the vector! module brings. Until it fills its entries, the operations that need them
// raise internal/not-done.
// The words that errors and fields name (part, skip, compare, owned) are the runtime's word
// tables (words.h); before those exist, errors name none in their place and no field matches.
struct Services {
    // vector! elements: the value of the element at `at` (unit size, element type) into
    // `result`; and storing a value into an element.
    void (*vector_get)(const uint8_t* at, uint32_t unit, uint32_t element_type,
                       Cell* result) = nullptr;
    void (*vector_set)(uint8_t* at, const Cell* value, uint32_t unit) = nullptr;
};
extern Services services;

// The word or none for an error argument.
const Cell* word_or_none(const Cell* word);
// Raises script/invalid-refine-arg naming the refinement (given as a refinement! or a word)
// by its word, and its argument.
[[noreturn]] void invalid_refine(const Cell* word, const Cell* argument);
// The canonical symbol of a symbol, by the same resolution as the hash tables use for word
// keys (hashtable::resolve), so that word lookups in blocks and in tables agree.
uint32_t canonical(uint32_t symbol);
// Tells a hash! value's table of a change to its cells (nothing for other types): the
// `removed` cells from `at` were replaced by the `inserted` cells now there, and the cells
// after them moved along (hashtable::splice). A reordering of a run is a change of the whole
// run. May collect.
void rehash(const Cell* series, uint32_t at, uint32_t removed, uint32_t inserted);

// --- Low-level routines ---------------------------------------------------------------------

// The unit shift of a buffer: 0, 1, 2, 3 or 4 for units of 1, 2, 4, 8 or 16 bytes.
uint32_t unit_shift(uint32_t unit);
// Whether the position of the index is at or beyond the tail.
bool index_past_tail(const Cell* series);
// Units from the head to the tail.
uint32_t total_units(const Cell* series);
// The index read by the index rule: clamped to 0 and to the tail.
uint32_t clamped_index(const Cell* series);
// Moves the index n units on unless that passes the tail; answers whether the position asked
// for is at or beyond the tail.
bool advance(Cell* series, int32_t n);
// The new index of at (at?) or skip: the series is the current frame's first argument, the
// offset its second (an integer!, else script/invalid-arg), clamped to 0 and the tail.
int32_t offset_index(bool at);
// Units from the index (or from the head) to the tail; an index past the tail is written
// back as the tail and gives 0.
int32_t get_length(Cell* series, bool from_head);

// The owner notification of in-place changes: ownership::check with the series.
bool notify(const Cell* series, ownership::Action action, const Cell* value, int32_t index,
            int32_t count);

// Integer and char cells as results and error arguments.
Cell* integer_at(Cell* cell, int32_t value);
Cell* char_at(Cell* cell, uint32_t code_point);
// The /part argument as a count of units from the series' index: an integer! as it is, a
// position in the same series (same type and node) as the distance to it; anything else
// raises script/invalid-refine-arg naming part.
int32_t part_count(const Cell* series, const Cell* part);

// --- Actions --------------------------------------------------------------------------------

Cell* random(Cell* series, const action::RandomOptions& options);
Cell* reflect(Cell* series, int32_t field_symbol);
void at();
void back();
Cell* clear(Cell* series);
Cell* copy(Cell* series, Cell* result, const action::CopyOptions& options);
void head();
void head_q();
void index_q();
int32_t length_q(Cell* series);
Cell* move(Cell* origin, Cell* target, Cell* part);
void next();
Cell* pick(Cell* series, int32_t n, Cell* index_value);
Cell* poke(Cell* series, int32_t n, Cell* value, Cell* index_value);
Cell* remove(Cell* series, Cell* part, Cell* key);
Cell* reverse(Cell* series, Cell* part, Cell* skip);
void skip();
void tail();
void tail_q();
// The taken units as a new series of the source's type pushed on the data stack (without
// /part in the one-unit take scratch series), or none for an empty series.
Cell* take(Cell* series, const action::TakeOptions& options);
Cell* modify(Cell* series, Cell* field, Cell* value, const action::PutOptions& options);

// Registers series! (type 42, no parent) and forgets the take scratch series of an earlier
// memory manager.
void register_actions();

} // namespace series
