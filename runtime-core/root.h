// The root block: the one block that holds the runtime's permanent values (the stack
// blocks, the words and values made during start-up, the cells decoded from the boot image).
//
// It is a fixed buffer outside the series frames, made at full size once and never grown,
// so its cells never move: the runtime keeps their addresses for the life of the process.
// Its value cell is a global rather than a cell in another block; a collector marker marks
// it and, through it, everything it holds.
#pragma once
#include <cstdint>

#include "runtime-core/cell.h"

namespace root {

constexpr uint32_t kCells = 9954;
constexpr uint32_t kDataStackCells = 20000;

// block! value of the root block (word 2: its node, 0 until made).
extern Cell block;
// block! value of the data-stack block, a fixed buffer of kDataStackCells cells whose cell is
// the root block's first. Its tail stays at its head: the data stack keeps its own top.
extern Cell data_stack;

// Makes the root block and the data-stack block in it, and registers the marker. Never
// collects.
void init();
bool exists();
// A fresh unset! cell at the root block's tail. The root block never grows: a start-up that
// fills it is a build fault and ends the process (runtime error 98). Never collects.
Cell* alloc_tail();
// Returns both fixed buffers to the system heap and forgets them (tests).
void release();

} // namespace root
