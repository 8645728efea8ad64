// Reading a line of console input from a script, until the console engine gives `ask` its
// full form: `ask` writes its prompt and answers the next line of standard input, or none at
// the end of the input. It is what the debugger's command loop reads its commands through.
#pragma once
#include <span>

#include "evaluator/evaluator.h"

namespace line_input {

// The routine rows of this family (`ask`).
std::span<const routines::Routine> table();

} // namespace line_input
