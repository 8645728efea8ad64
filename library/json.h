// The JSON codec's routine: unescape, which rewrites the escape sequences of a JSON string's
// text in place. Start-up binds it to the word json-unescape, from which the decoder context
// of library/json.zan takes it (as json/unescape) before unsetting that word.
#pragma once
#include <span>

#include "evaluator/evaluator.h"

namespace json {

// The rows of the routine table.
std::span<const routines::Routine> table();

} // namespace json
