// Error raising, as the evaluator's files share it: the raiser that the runtime's fire hook
// calls makes every language error an error! value naming the call it happened in (where) and
// the code near it (near); error_value, keep_spare_error, caught_error and status_to_error are
// in evaluator.h.
#pragma once

#include "evaluator/evaluator.h"
#include "runtime-core/cell.h"

namespace interp {

// Raises script/expect-arg naming the current call, the value's datatype and `argument`.
[[noreturn]] void expect_arg(const Cell* value, const Cell* argument);

// The fire hook and the error module's view of the frames, installed; no error made yet.
void init_raise();

} // namespace interp
