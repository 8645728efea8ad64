// The routine table: machine functions of the runtime that the language sees as routine!
// values (quit-return and the other environment routines). A routine! value keeps its index
// in this table; its arguments come in the frame as a native's do.
#pragma once
#include <cstdint>

#include "evaluator/natives.h"

namespace routines {

// A row of the table: the routine's global word (null for one that an object's field holds
// instead), its spec block as source text, its entry.
struct Routine {
    const char* name;
    const char* spec;
    natives::Entry entry;
};

// The entry at an index (internal/not-done for one that holds none).
natives::Entry entry(uint32_t index);

// The index of the first row with the entry (the row count when none has it).
uint32_t index_of(natives::Entry entry);

// Builds the routine! values of the table and sets their global words. May collect.
void init();

} // namespace routines
