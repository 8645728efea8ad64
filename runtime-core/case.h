// One-to-one (simple) case mapping of code points. Every case-insensitive comparison, search
// and hash of text compares the upper-case forms; the natives uppercase and lowercase map
// each character.
//
// Code points up to FFFF map through two direct tables (one read each); the few mapped
// code points above FFFF are looked up in short sorted pair lists. The mapping of a string's
// text in place is datatypes/string-case.h.
#pragma once
#include <cstdint>

#include "runtime-core/cell.h"

// `case` is a C++ keyword, hence the trailing underscore.
namespace case_ {

struct Pair {
    uint32_t from;
    uint32_t to;
};

// The mapping pairs, each list sorted by its first member (generated: case-tables.cpp).
extern const Pair bmp_lower_to_upper[1250];
extern const Pair bmp_upper_to_lower[1158];
extern const Pair wide_lower_to_upper[225];
extern const Pair wide_upper_to_lower[225];

// Builds the two direct tables (65536 entries of 32 bits each, 0 where a code point maps to
// itself) in heap blocks. Start-up calls it after the memory manager and before the hash
// tables; a second call does nothing.
void init();

namespace detail {
extern const uint32_t* upper_table;
extern const uint32_t* lower_table;
uint32_t fold_above_ffff(uint32_t cp, bool upper);
} // namespace detail

// The upper-case (upper set) or lower-case mapping of a code point, or the code point
// itself when it has none. Any 32-bit value is accepted.
inline uint32_t fold_wide(uint32_t cp, bool upper) {
    if (cp > 0xFFFF) return detail::fold_above_ffff(cp, upper);
    const uint32_t mapped = (upper ? detail::upper_table : detail::lower_table)[cp];
    return mapped ? mapped : cp;
}

inline uint32_t to_upper(uint32_t cp) {
    return fold_wide(cp, true);
}

// The upper-case mapping when there is one, else the lower-case mapping.
uint32_t toggle(uint32_t cp);

} // namespace case_
