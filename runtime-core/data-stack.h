// The data stack: the evaluator's working memory. Every native, action and function call
// pushes its arguments here; the current frame begins at the arguments base, whose cell is
// the frame's result slot. Datatypes, codecs and OS services push their intermediate values
// here too, where the collector finds them.
//
// The stack's buffer is the data-stack block that the runtime initialisation makes in the
// root block (root.h): a fixed buffer that never moves, so the cell addresses below stay
// valid; cells above the top are dead and may hold stale data.
//
// The call frames that say whose arguments lie where are the evaluator's (evaluator/frames.h).
#pragma once
#include <cstdint>

#include "runtime-core/cell.h"
#include "runtime-core/root.h"

namespace stack {

constexpr uint32_t kDataCells = root::kDataStackCells;

extern Cell* bottom;    // first cell
extern Cell* top;       // next free cell
extern Cell* end;       // one past the last cell
extern Cell* arguments; // the current frame's result slot

// Sets the stack over the root block's data-stack block (root::init comes first) and
// registers the marker of its live cells.
void init();
// Drops everything: top and arguments back at the bottom (tests, recovery).
void clear();

// Drops the top five cells and raises internal/stack-overflow (a full stack).
[[noreturn]] void overflow();

// Reserves the next cell and returns it (contents left as they were). A full stack drops
// the top five cells and raises internal/stack-overflow.
inline Cell* push_cell() {
    if (top + 1 >= end) [[unlikely]]
        overflow();
    return top++;
}
// Pushes a copy of `value`.
inline Cell* push(const Cell& value) {
    Cell* c = push_cell();
    *c = value;
    return c;
}
// Drops n cells, never below the bottom.
void pop(uint32_t n);
// The last pushed cell (the bottom cell when the stack is empty).
Cell* top_value();
// top = arguments: the current frame is emptied, its result slot included.
inline void reset() {
    top = arguments;
}
// top = arguments + 1: only the result slot stays.
inline void keep() {
    top = arguments + 1;
}
// Copies a value into the result slot (the current frame's first cell), where a native,
// action or routine leaves its result.
inline void set_last(const Cell& value) {
    *arguments = value;
}
// set_last, then keep.
inline void set_last_keep(const Cell& value) {
    set_last(value);
    keep();
}
// A cell's position on the stack, counted from the bottom (frames keep these, not addresses).
inline uint32_t index_of(const Cell* c) {
    return static_cast<uint32_t>(c - bottom);
}

// Called when the stack (or the frame stack) overflows, after the top was moved back;
// modules that keep state which an overflow must reset (the cycle stack) hook in here.
using OverflowHook = void (*)();
void set_overflow_hook(OverflowHook hook);

// The caller's frame (arguments base and top), put back however a call that C++ code makes
// into language code (a comparator, a change handler) ends.
class FrameGuard {
public:
    FrameGuard() : arguments_(arguments), top_(top) {}
    ~FrameGuard() {
        arguments = arguments_;
        top = top_;
    }
    FrameGuard(const FrameGuard&) = delete;
    FrameGuard& operator=(const FrameGuard&) = delete;

private:
    Cell* arguments_;
    Cell* top_;
};

} // namespace stack
