// Environment routines: small routines that give language code what only the runtime can
// reach (ending the process, quiet assignment, bit shifts, the current folder, folder creation
// and file existence, tuple building, UTF-8 counting, the data stack and the call frames,
// standard output).
#pragma once
#include <span>

#include "evaluator/evaluator.h"

namespace environment {

// The rows of the routine table, in the order start-up binds them.
std::span<const routines::Routine> table();

// Registers the print hook behind last-lf? (after the print hooks are initialised).
void init();

} // namespace environment
