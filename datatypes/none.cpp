#include "datatypes/none.h"

#include "datatypes/datatype.h"
#include "datatypes/string.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/memory.h"

namespace none {

Cell value{};

Cell* make_at(Cell* cell) {
    cell->header = kTypeNone;
    return cell;
}

Cell* set_result() {
    return make_at(stack::arguments);
}

Cell* push() {
    return make_at(stack::push_cell());
}

Cell* add_to_block(const Cell* block) {
    return make_at(memory::alloc_tail_cell(memory::buffer(block->w2)));
}

Cell* make(Cell*, Cell*, int32_t) {
    return push();
}

int32_t form(Cell*, Cell* string, Cell*, int32_t limit) {
    string::concatenate_cstring(string, "none");
    return limit - 4;
}

int32_t mold(Cell*, Cell* string, const action::MoldOptions& options, int32_t limit, int32_t) {
    string::concatenate_cstring(string, options.all ? "#(none)" : "none");
    return limit - (options.all ? 7 : 4);
}

int32_t compare(Cell*, Cell* other, int32_t op) {
    if (cell::type(other) != kTypeNone) return action::kNotComparable;
    switch (op) {
    case action::op::equal:
    case action::op::not_equal:
    case action::op::strict_equal:
    case action::op::sort:
    case action::op::case_sort:
    case action::op::same:
    case action::op::find:
        return 0;
    default:
        return action::kNotComparable;
    }
}

// The series operations answer the shared none value.
Cell* clear(Cell*) {
    return &value;
}

Cell* find(Cell*, Cell*, const action::FindOptions&) {
    return &value;
}

Cell* remove(Cell*, Cell*, Cell*) {
    return &value;
}

Cell* select(Cell*, Cell*, const action::FindOptions&) {
    return &value;
}

Cell* take(Cell*, const action::TakeOptions&) {
    return &value;
}

int32_t length_q(Cell*) {
    return -1;
}

void register_actions() {
    make_at(&value);
    action::Row row;
    row.set<action::slot::make>(make)
        .set<action::slot::to>(make)
        .set<action::slot::form>(form)
        .set<action::slot::mold>(mold)
        .set<action::slot::compare>(compare)
        .set<action::slot::clear>(clear)
        .set<action::slot::find>(find)
        .set<action::slot::remove>(remove)
        .set<action::slot::select>(select)
        .set<action::slot::take>(take)
        .set<action::slot::length_q>(length_q);
    datatype::register_({kTypeNone, 0, "none!", row.entries()});
}

} // namespace none
