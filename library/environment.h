// Environment routines: small routines that give language code what only the runtime can
// reach (quiet assignment, bit shifts, tuple building, UTF-8 counting, the data stack).
#pragma once
#include <span>

#include "evaluator/routines.h"

namespace environment {

// The rows of the routine table, in the order start-up binds them.
std::span<const routines::Routine> table();

} // namespace environment
