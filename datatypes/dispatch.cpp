#include "datatypes/dispatch.h"

#include "datatypes/error.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/support.h"
#include "runtime-core/type-traits.h"

namespace actions {

namespace {

// The word of the first argument in the spec of the action the interpreter is calling (its
// value sits just below the frame), or none.
Cell first_argument_word() {
    if (error::call_depth() == 0 || stack::arguments <= stack::bottom) return none::value;
    const Cell* fn = stack::arguments - 1;
    if (cell::type(fn) != kTypeAction && cell::type(fn) != kTypeNative) return none::value;
    memory::Buffer* spec = memory::find_buffer(fn->w2);
    if (!spec || spec->unit() != sizeof(Cell)) return none::value;
    for (uint32_t k = 0; k < spec->length(); ++k) {
        Cell c = spec->cells()[k];
        const uint8_t t = cell::type(&c);
        if (t == kTypeRefinement) break;
        if (traits::is_arg_word(t)) {
            cell::set_type(&c, kTypeWord);
            return c;
        }
    }
    return none::value;
}

} // namespace

void not_supported(const Cell* value) {
    const Cell argument = first_argument_word();
    Cell* name = stack::push_cell();
    error::call_name(name);
    Cell* type = datatype::push(cell::type(value));
    Cell* word = stack::push(argument);
    error::fire(error::kScript, error::script::expect_arg, {name, type, word});
}

int32_t get_index_arg(const Cell* value) {
    switch (cell::type(value)) {
    case kTypeInteger:
    case kTypeChar:
        return static_cast<int32_t>(value->w2);
    case kTypeLogic:
        return logic::get(value) ? 1 : 2;
    default:
        return 0;
    }
}

int32_t compare_values(Cell* value1, Cell* value2, int32_t op) {
    if (cell::type(value1) == kTypeLogic && cell::type(value2) == kTypeLogic)
        return static_cast<int32_t>(logic::get(value1)) - static_cast<int32_t>(logic::get(value2));
    return call<action::slot::compare>(value1, value2, op);
}

bool compare(Cell* value1, Cell* value2, int32_t op) {
    int32_t result = call<action::slot::compare>(value1, value2, op);
    if (result == action::kNotComparable && op >= action::op::lesser &&
        op <= action::op::greater_or_equal)
        error::fire(error::kScript, error::script::invalid_compare, {value1, value2});
    switch (op) {
    case action::op::not_equal:
        return result != 0;
    case action::op::lesser:
        return result < 0;
    case action::op::lesser_or_equal:
        return result < 1;
    case action::op::greater:
        return result >= 1;
    case action::op::greater_or_equal:
        return result >= 0;
    default:
        return result == 0;
    }
}

int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit) {
    return call<action::slot::form>(value, string, part, limit);
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent) {
    return call<action::slot::mold>(value, string, options, limit, indent);
}

} // namespace actions
