// Reading the system object: the fields that the datatypes and the evaluator look up at run
// time (the error catalogue, the error prototype, the stack-trace settings, the schemes). The
// object itself is built by the library (library/system-object.h).
#pragma once
#include <cstdint>
#include <initializer_list>

#include "runtime-core/cell.h"

namespace system_object {

// The symbols of the field names the runtime reads.
struct Symbols {
    uint32_t system, catalog, errors, standard, error, state, stack_trace, source_files;
};
extern Symbols symbol;

// Makes those symbols (the system object's builder calls it first). May collect.
void init_symbols();

// The value reached from `system` through the fields named by the symbols, or null when a step
// is missing or is not an object. Never collects.
Cell* field(std::initializer_list<uint32_t> path);

} // namespace system_object
