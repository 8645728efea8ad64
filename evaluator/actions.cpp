#include "evaluator/actions.h"

#include "datatypes/core/logic.h"
#include "datatypes/core/none.h"
#include "datatypes/more/error-ids.h"
#include "runtime-core/support.h"

namespace actions {

void not_supported(const Cell* value) {
    // The function's name and the argument's word come from the call frames, which arrive
    // with the interpreter; until then both are none.
    Cell* type = datatype::push(cell::type(value));
    error::fire(error::kScript, error::script::expect_arg, {&none::value, type, &none::value});
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
    case action::op::not_equal: return result != 0;
    case action::op::lesser: return result < 0;
    case action::op::lesser_or_equal: return result < 1;
    case action::op::greater: return result >= 1;
    case action::op::greater_or_equal: return result >= 0;
    default: return result == 0;
    }
}

int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit) {
    return call<action::slot::form>(value, string, part, limit);
}

int32_t mold(Cell* value, Cell* string, bool only, bool all, bool flat, Cell* part, int32_t limit,
             int32_t indent) {
    return call<action::slot::mold>(value, string, only, all, flat, part, limit, indent);
}

} // namespace actions
