// logic!: true or false. Word 1 is the boolean, 1 for true and 0 for false.
//
// Also the truth rule that the whole system uses: only none and false are false. A logic!
// value counts as true only when its word 1 is exactly 1, so a stored 2 counts as false.
#pragma once
#include <cstdint>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace logic {

// The shared true and false values, returned by conversions that answer by address.
extern Cell true_value;
extern Cell false_value;

// The boolean of a logic! value (word 1 is 1).
bool get(const Cell* value);

// The constructors write the whole header (no flags) and word 1.
Cell* make_at(Cell* cell, bool boolean);
// The running native's result slot becomes the logic value.
Cell* set_result(bool boolean);
// Pushes a logic value on the data stack.
Cell* push(bool boolean);
// Appends a logic value at a block's tail. May collect: the result is valid until the next
// allocation.
Cell* add_to_block(const Cell* block, bool boolean);

// --- Truth tests --------------------------------------------------------------------------

// The truth rule. With check_unset, an unset value raises script/no-value naming `word`
// (null: no argument).
bool value_true(const Cell* value, bool check_unset = false, const Cell* word = nullptr);
// The truth rule on the last pushed value, or on the result slot when nothing was pushed in
// the current frame.
bool top_true();
bool top_false();
// The truth rule on the result slot; an unset result raises script/no-return.
bool last_true();
// The truth rule on the result slot, unset counting as true.
bool result_true();

// --- Random source ------------------------------------------------------------------------

// random on a logic value draws from the pseudo-random generator, which belongs to the
// evaluator; the generator installs itself here. next and secure_next return a uniformly
// distributed number of which the low 31 bits are used; seed reseeds the generator. Without
// a source, random on a logic value raises internal/not-done.
struct RandomSource {
    uint32_t (*next)();
    uint32_t (*secure_next)();
    void (*seed)(uint32_t seed);
};
void set_random_source(const RandomSource* source);
// The installed source, null without one (random on series draws from it too).
const RandomSource* random_source();

// --- Slot functions -----------------------------------------------------------------------

Cell* make(Cell* prototype, Cell* spec, int32_t type);
Cell* to(Cell* prototype, Cell* spec, int32_t type);
Cell* random(Cell* value, const action::RandomOptions& options);
int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);
int32_t compare(Cell* value, Cell* other, int32_t op);
Cell* complement(Cell* value);
// and~, or~, xor~: the current frame holds two logic! values; the result replaces the first.
// A second argument of another type raises script/expect-arg.
void and_();
void or_();
void xor_();

void register_actions();

} // namespace logic
