// The slot table: value cells that code outside the value graph (window procedures, native
// windows' extra data) refers to by number. A stored value stays alive until its slot is
// freed: the collector marks the whole slot block as a root.
#pragma once
#include <cstdint>

#include "runtime-core/cell.h"

namespace slots {

constexpr uint32_t kInitialCapacity = 100;

struct Table {
    Cell block{};           // block! value of the slot block (word 2: its node)
    uint32_t capacity = 0;  // in cells
    int32_t free_head = -1; // 0-based index of the first free cell, -1 when none is left
};

extern Table table;

// An empty slot block of 100 cells, all free. Its tail covers the whole capacity so that
// the collector marks every cell. May collect.
void init();
// Stores a copy of the value and returns its slot number (1-based). A full block doubles
// first. May collect.
uint32_t alloc(const Cell& value);
// The cell of a slot, or null for a number that names no slot. Valid until the next call
// that may collect.
Cell* get(uint32_t slot);
// Frees a slot; 0 (no slot) and numbers out of range do nothing. Freeing a slot that is
// already free is runtime error 98 (assertion failed).
void free(uint32_t slot);
// Collector: marks the slot block and every value in it.
void mark();

} // namespace slots
