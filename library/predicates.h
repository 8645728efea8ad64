// The type predicates: 62 routines that answer whether a value is of one datatype (integer?,
// block? ...: the type id alone decides, so a child type is not its parent) or of a group
// (any-block?, series? ...: membership in the typeset that the group's global word holds at
// the time of the call).
#pragma once
#include <span>

#include "evaluator/evaluator.h"

namespace predicates {

// The rows of the routine table, in the order start-up binds them.
std::span<const routines::Routine> table();

} // namespace predicates
