#include "console/line-input.h"

#include <string>

#include "console/terminal.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "runtime-core/data-stack.h"

namespace line_input {

namespace {

// The prompt is written without a line end; the line comes back without its own. May
// collect.
interp::Status ask(const int32_t*) {
    natives::write_formed(stack::arguments, false);
    std::string line;
    if (!terminal::read_line(line)) {
        *stack::arguments = none::value;
        return interp::Status::normal;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    string::text_at(stack::arguments, kTypeString, line.data(), static_cast<uint32_t>(line.size()));
    return interp::Status::normal;
}

const routines::Routine kTable[] = {
    {"ask",
     "[\"Prompt the user for input\" question [string!] return: [string! none!] \"The line, "
     "or NONE at the end of the input\"]",
     ask},
};

} // namespace

std::span<const routines::Routine> table() {
    return kTable;
}

} // namespace line_input
