#include "datatypes/logic.h"

#include <cstring>

#include "datatypes/datatype.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/support.h"

namespace logic {

Cell true_value{};
Cell false_value{};

namespace {

const RandomSource* random_source_ = nullptr;

// The set-operation codes of the bitwise actions.
enum BitOp { kOr = 5, kAnd = 6, kXor = 7 };

void bitwise(BitOp op) {
    Cell* first = stack::arguments;
    Cell* second = stack::arguments + 1;
    if (cell::type(second) != kTypeLogic) {
        // The function's name and the argument's word come from the call frames, which arrive
        // with the interpreter; until then both are none.
        Cell* type = datatype::push(cell::type(second));
        error::fire(error::kScript, error::script::expect_arg, {&none::value, type, &none::value});
    }
    bool a = get(first);
    bool b = get(second);
    bool result = op == kAnd ? (a && b) : op == kOr ? (a || b) : (a != b);
    make_at(first, result);
}

} // namespace

bool get(const Cell* value) {
    return value->w1 == 1;
}

Cell* make_at(Cell* cell, bool boolean) {
    *cell = Cell{kTypeLogic, boolean ? 1u : 0u, 0, 0};
    return cell;
}

Cell* set_result(bool boolean) {
    return make_at(stack::arguments, boolean);
}

Cell* push(bool boolean) {
    return make_at(stack::push_cell(), boolean);
}

Cell* add_to_block(const Cell* block, bool boolean) {
    return make_at(memory::alloc_tail_cell(memory::buffer(block->w2)), boolean);
}

// --- Truth tests --------------------------------------------------------------------------

bool value_true(const Cell* value, bool check_unset, const Cell* word) {
    switch (cell::type(value)) {
    case kTypeNone:
        return false;
    case kTypeLogic:
        return get(value);
    case kTypeUnset:
        if (check_unset) {
            if (word) error::fire(error::kScript, error::script::no_value, {word});
            error::fire(error::kScript, error::script::no_value);
        }
        return true;
    default:
        return true;
    }
}

bool top_true() {
    return value_true(stack::top > stack::arguments ? stack::top - 1 : stack::arguments);
}

bool top_false() {
    return !top_true();
}

bool last_true() {
    if (cell::type(stack::arguments) == kTypeUnset)
        error::fire(error::kScript, error::script::no_return);
    return value_true(stack::arguments);
}

bool result_true() {
    return value_true(stack::arguments);
}

void set_random_source(const RandomSource* source) {
    random_source_ = source;
}

const RandomSource* random_source() {
    return random_source_;
}

// --- Slot functions -----------------------------------------------------------------------

Cell* to(Cell*, Cell* spec, int32_t) {
    switch (cell::type(spec)) {
    case kTypeLogic:
        return spec;
    case kTypeNone:
        return &false_value;
    default:
        return &true_value;
    }
}

Cell* make(Cell* prototype, Cell* spec, int32_t type) {
    switch (cell::type(spec)) {
    case kTypeInteger:
        return make_at(prototype, spec->w2 != 0);
    case kTypeFloat:
    case kTypePercent: {
        double d;
        std::memcpy(&d, &spec->w2, sizeof d);
        return make_at(prototype, d != 0.0); // NaN is not 0.0: true
    }
    default:
        return to(prototype, spec, type);
    }
}

Cell* random(Cell* value, const action::RandomOptions& options) {
    if (!random_source_) error::fire(error::kInternal, error::internal::not_done);
    if (options.seed) {
        random_source_->seed(value->w1);
        return unset::make_at(value);
    }
    uint32_t n =
        (options.secure ? random_source_->secure_next() : random_source_->next()) & 0x7FFFFFFF;
    return make_at(value, n > 0x3FFFFFFF);
}

int32_t form(Cell* value, Cell* string, Cell*, int32_t limit) {
    bool b = get(value);
    string::concatenate_cstring(string, b ? "true" : "false");
    return limit - (b ? 4 : 5);
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t) {
    if (!options.all) return form(value, string, nullptr, limit);
    bool b = get(value);
    string::concatenate_cstring(string, b ? "#(true)" : "#(false)");
    return limit - (b ? 7 : 8);
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    if (cell::type(other) != kTypeLogic) return action::kNotComparable;
    switch (op) {
    case action::op::equal:
    case action::op::not_equal:
    case action::op::strict_equal:
    case action::op::sort:
    case action::op::case_sort:
    case action::op::same:
    case action::op::find:
        return static_cast<int32_t>(get(value)) - static_cast<int32_t>(get(other));
    default:
        return action::kNotComparable;
    }
}

Cell* complement(Cell* value) {
    value->w1 ^= 1;
    return value;
}

void and_() {
    bitwise(kAnd);
}

void or_() {
    bitwise(kOr);
}

void xor_() {
    bitwise(kXor);
}

void register_actions() {
    make_at(&true_value, true);
    make_at(&false_value, false);
    action::Row row;
    row.set<action::slot::make>(make)
        .set<action::slot::random>(random)
        .set<action::slot::to>(to)
        .set<action::slot::form>(form)
        .set<action::slot::mold>(mold)
        .set<action::slot::compare>(compare)
        .set<action::slot::and_>(and_)
        .set<action::slot::complement>(complement)
        .set<action::slot::or_>(or_)
        .set<action::slot::xor_>(xor_);
    datatype::register_({kTypeLogic, 0, "logic!", row.entries()});
}

} // namespace logic
