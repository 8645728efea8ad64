// The profiler's bookkeeping, which system/tools/profiler (a trace handler) hands each of its
// events to: a routine, so that the profiler costs little beside the code it measures.
#pragma once
#include <span>

#include "evaluator/evaluator.h"

namespace profiler {

// The rows of the routine table (`profile-event`).
std::span<const routines::Routine> table();

// Makes the symbols of the fields and events it reads. May collect.
void init();

} // namespace profiler
