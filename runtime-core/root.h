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
// The boot flag: while it is 1, the makers of start-up values (global words, issues) put
// what they make into the root block, so that it is permanent and its address never moves;
// while it is 0 they answer with the word-list entry itself or build on the data stack. The
// runtime initialisation sets it; the boot program clears it when it enables the collector.
extern int32_t boot_flag;
// Sets the boot flag for its lifetime: the start-up steps whose values must be permanent
// (name words, the runtime's word tables) hold it whatever the caller's setting.
class BootScope {
public:
    BootScope() : saved_(boot_flag) { boot_flag = 1; }
    ~BootScope() { boot_flag = saved_; }
    BootScope(const BootScope&) = delete;
    BootScope& operator=(const BootScope&) = delete;

private:
    int32_t saved_;
};
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
