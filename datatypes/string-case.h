// Case mapping of a string's text in place: the text part of the natives uppercase and
// lowercase, over the code point mapping of runtime-core/case.h.
#pragma once
#include <cstdint>

#include "runtime-core/cell.h"

namespace case_ {

// The text part of the natives uppercase and lowercase: maps every character of a string
// from its index (an index past the tail counts as the tail) over at most `count` characters
// and writes it back, widening the buffer when a mapped code point needs wider units, then
// tells the owner of the string (uppercase or lowercase, the start and the count); that may
// run user code.
// Returns the number of characters in the range. May collect.
uint32_t change_text(const Cell* string, uint32_t count, bool upper);

} // namespace case_
