// Typed action dispatch: finding a datatype's function for an action slot and calling it, and
// the compare dispatcher with its comparison codes. C++ code of every layer calls actions on
// values through here; the action! values of the language reach the same functions through
// the evaluator's frame entries (evaluator/actions.h).
#pragma once
#include <cstdint>

#include "datatypes/action.h"
#include "datatypes/datatype.h"
#include "runtime-core/cell.h"

namespace actions {

// The index argument of pick and poke: an integer! gives its value, a char! its code point,
// a logic! 1 for true and 2 for false, anything else 0.
int32_t get_index_arg(const Cell* value);

// Raises script/expect-arg for a value whose type does not support an action, naming the
// current call.
[[noreturn]] void not_supported(const Cell* value);

// The function of slot S for the type of `value`; a type without one raises
// script/expect-arg.
template <action::Slot S> action::Fn<S> get_action_ptr_of(const Cell* value) {
    action::Fn<S> f = datatype::function<S>(cell::type(value));
    if (!f) not_supported(value);
    return f;
}

namespace detail {
template <action::Slot S, class Fn = action::Fn<S>> struct Caller;
template <action::Slot S, class R, class... P> struct Caller<S, R (*)(Cell*, P...)> {
    R operator()(Cell* value, P... args) const {
        return get_action_ptr_of<S>(value)(value, args...);
    }
};
} // namespace detail

// Calls slot S of the type of the first argument with the arguments as given. The parameter
// types are the slot's own, so an option struct can be written in place:
// call<slot::find>(series, value, {.case_ = true}).
template <action::Slot S> inline constexpr detail::Caller<S> call{};

// The slot function's answer for the two values: 0 equal, negative lesser, positive greater,
// -2 not comparable. Logic values compare by their truth.
int32_t compare_values(Cell* value1, Cell* value2, int32_t op);

// The truth of `value1 op value2`. Not comparable under an ordering code (3 to 6) raises
// script/invalid-compare; under an equality code it is simply unequal.
bool compare(Cell* value1, Cell* value2, int32_t op);

// Typed dispatchers of the actions other modules call directly.
int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);

} // namespace actions
