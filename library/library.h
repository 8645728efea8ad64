// The library's registration with the layers below it: the families of routines that it
// gives the evaluator's routine table, in the order their words are bound.
#pragma once
#include <span>

#include "evaluator/evaluator.h"

namespace library {

// The environment routines, float-switch, the type predicates, the image codecs' routines, the
// ZANBIN codec's and the system object's, in this order (a routine! keeps its index in the
// table).
std::span<const std::span<const routines::Routine>> routine_families();

} // namespace library
