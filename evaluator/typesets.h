// The bit array of a typeset! cell, as the evaluator reads it for argument checks: words 1-3
// hold 96 bits, the bit of type id t in byte t / 8 (bytes in memory order) under the mask
// 128 >> (t mod 8).
#pragma once
#include <cstdint>
#include <cstring>

#include "runtime-core/cell.h"

namespace typesets {

inline bool has(const Cell* typeset, uint8_t type) {
    uint8_t bytes[12];
    std::memcpy(bytes, &typeset->w1, sizeof bytes);
    return type < 96 && (bytes[type >> 3] & (0x80 >> (type & 7))) != 0;
}

inline void add(Cell* typeset, uint8_t type) {
    if (type >= 96) return;
    uint8_t bytes[12];
    std::memcpy(bytes, &typeset->w1, sizeof bytes);
    bytes[type >> 3] |= static_cast<uint8_t>(0x80 >> (type & 7));
    std::memcpy(&typeset->w1, bytes, sizeof bytes);
}

inline void unite(Cell* typeset, const Cell* other) {
    typeset->w1 |= other->w1;
    typeset->w2 |= other->w2;
    typeset->w3 |= other->w3;
}

inline void clear(Cell* typeset) {
    *typeset = Cell{kTypeTypeset, 0, 0, 0};
}

// Every type but unset!: what an argument without a type block accepts.
inline void make_default(Cell* typeset) {
    *typeset = Cell{kTypeTypeset, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    uint8_t bytes[12];
    std::memcpy(bytes, &typeset->w1, sizeof bytes);
    bytes[kTypeUnset >> 3] &= static_cast<uint8_t>(~(0x80 >> (kTypeUnset & 7)));
    std::memcpy(&typeset->w1, bytes, sizeof bytes);
}

} // namespace typesets
