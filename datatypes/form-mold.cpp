#include "datatypes/form-mold.h"

#include "datatypes/datatype.h"
#include "datatypes/dispatch.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/support.h"

namespace form_mold {

void cut(const Cell* string, int32_t limit) {
    if (limit < 0) return;
    memory::Buffer* b = memory::buffer(string->w2);
    uint64_t end =
        b->head + (static_cast<uint64_t>(string->w1) + static_cast<uint32_t>(limit)) * b->unit();
    if (end < b->tail) b->tail = static_cast<uint32_t>(end);
}

namespace {

// The part budget of a /part argument, kNoLimit without one.
int32_t limit_of(const Cell* part) {
    return part ? check::int_arg(part) : kNoLimit;
}

// Makes the frame's result a new string for the value that is there now, written by
// `write` (value, string, limit) unless /part asks for nothing. The string is pushed above
// the frame's arguments, so the /part cell stays valid while the slot runs. May collect.
template <class Write> void make_result(const Cell* part, Write write) {
    int32_t limit = limit_of(part);
    Cell* string = string::make_at(stack::push_cell(), 16);
    if (limit > 0) {
        write(stack::arguments, string, limit);
        if (part) cut(string, limit);
    }
    stack::set_last_keep(*string);
}

} // namespace

} // namespace form_mold

namespace form {

void entry(Cell* part) {
    auto f = ::actions::get_action_ptr_of<action::slot::form>(stack::arguments);
    form_mold::make_result(part, [f, part](Cell* value, Cell* string, int32_t limit) {
        f(value, string, part, limit);
    });
}

Cell* to_new_string(Cell* part, int32_t limit) {
    auto f = ::actions::get_action_ptr_of<action::slot::form>(stack::arguments);
    Cell* string = string::make_at(stack::push_cell(), 16);
    f(stack::arguments, string, part, limit);
    if (limit > 0) form_mold::cut(string, limit);
    return string;
}

} // namespace form

namespace mold {

void entry(const action::MoldOptions& options) {
    auto f = ::actions::get_action_ptr_of<action::slot::mold>(stack::arguments);
    form_mold::make_result(options.part, [f, &options](Cell* value, Cell* string, int32_t limit) {
        f(value, string, options, limit, 0);
    });
}

int32_t indent(const Cell* string, int32_t level, int32_t limit) {
    for (int32_t i = 0; i < level; ++i) string::concatenate_cstring(string, "    ");
    return limit - 4 * level;
}

} // namespace mold
