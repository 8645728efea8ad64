#include "datatypes/unset.h"

#include "datatypes/datatype.h"
#include "datatypes/string.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/memory.h"

namespace unset {

Cell value{};

Cell* make_at(Cell* cell) {
    cell->header = kTypeUnset;
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

int32_t form(Cell*, Cell*, Cell*, int32_t limit) {
    return limit;
}

int32_t mold(Cell*, Cell* string, const action::MoldOptions& options, int32_t limit, int32_t) {
    string::concatenate_cstring(string, options.all ? "#(unset)" : "unset");
    return limit - (options.all ? 8 : 5);
}

int32_t compare(Cell*, Cell* other, int32_t op) {
    if (cell::type(other) != kTypeUnset) return action::kNotComparable;
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

void register_actions() {
    make_at(&value);
    action::Row row;
    row.set<action::slot::make>(make)
        .set<action::slot::to>(make)
        .set<action::slot::form>(form)
        .set<action::slot::mold>(mold)
        .set<action::slot::compare>(compare);
    datatype::register_({kTypeUnset, 0, "unset!", row.entries()});
}

} // namespace unset
