// The value cell: every value is 16 bytes, a header word (type id in bits 0-7, flags above)
// and three payload words that the type defines.
#pragma once
#include <cstdint>

struct Cell {
    uint32_t header;
    uint32_t w1;
    uint32_t w2;
    uint32_t w3;
};
static_assert(sizeof(Cell) == 16, "a value cell is four 32-bit words");
