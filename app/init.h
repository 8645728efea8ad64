// The runtime initialisation: brings every module up in a fixed order.
#pragma once
#include <span>

#include "evaluator/evaluator.h"

namespace runtime {

void init();

// The routine table's families: the library's, then the console's.
std::span<const std::span<const routines::Routine>> routine_families();

} // namespace runtime
