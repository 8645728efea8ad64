// The frame stack: one call frame per running native, action, function, loop, try, catch and
// block evaluation, over the data stack (runtime-core/data-stack.h), whose arguments base each
// frame keeps. Frames keep data-stack indices, never addresses. Non-local exits find their
// target here: break and continue the nearest loop frame, return and exit the nearest frame
// whose body flag is set, throw the nearest catch frame, errors the nearest try frame; a
// try/all frame is a barrier to all but errors.
#pragma once
#include <cstdint>

#include "datatypes/words.h"
#include "evaluator/evaluator.h"
#include "runtime-core/cell.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/memory.h"

namespace stack {

// Empties the frame stack and registers the marker of the frames' contexts (after the data
// stack's init).
void init_frames();

// --- Call frames ----------------------------------------------------------------------------

// Frame kinds (header bits 24-27); the interpreter's flag (bit 31) and the body flag (bit 28)
// ride above them.
enum Kind : uint32_t {
    kFunction = 1,
    kNative = 2,
    kTry = 4,
    kTryAll = 5,
    kCatch = 6,
    kEval = 7,
    kLoop = 8,
};
constexpr uint32_t kBodyFlag = 1u << 28;
constexpr uint32_t kInterpFlag = 1u << 31;

// Who pushes a frame: the interpreter's own steps (a call it makes, whose function value lies
// just below the frame's arguments, a block it evaluates) carry kInterpFlag; natives don't.
enum class Origin : uint8_t { native, interpreter };

// Five words: the name's symbol in bits 8-23 of the header and the kind above it; the
// caller's arguments base (a data-stack index); the name's context node; for functions the
// locals context and the value storage it had before the call.
struct Frame {
    uint32_t header;
    uint32_t caller_base;
    uint32_t name_context;
    uint32_t locals;
    uint32_t saved_storage;

    uint32_t kind() const { return (header >> 24) & 0xF; }
    uint32_t symbol() const { return (header >> 8) & 0xFFFF; }
    bool body() const { return (header & kBodyFlag) != 0; }
};

// The visible limit; a few frames beyond it stay hidden, so that the stack-overflow error
// itself can be built and raised with frames of its own.
constexpr uint32_t kFrames = 12000;
constexpr uint32_t kHiddenFrames = 64;

extern Frame* frame_bottom;
extern Frame* frame_top; // next free frame

// The frame past which push_frame raises: the visible limit, or the hidden reserve's end
// while the overflow error is being built.
extern Frame* frame_limit;
// Raises internal/stack-overflow for a full frame stack.
[[noreturn]] void frame_overflow();

// Pushes a frame named by a word cell (null: `<anon>`) with `bits` in its header above the
// name: its kind (bits 24-27) and flags. The new frame's arguments base is the data top. A full
// frame stack raises internal/stack-overflow. Inline: every call and block evaluation pushes
// one.
inline Frame* push_frame(const Cell* name, uint32_t bits) {
    if (frame_top >= frame_limit) [[unlikely]]
        frame_overflow();
    const uint32_t symbol = name ? name->w2 : words::word.anon ? words::word.anon->w2 : 0;
    Frame* f = frame_top++;
    f->header = (symbol & 0xFFFF) << 8 | bits;
    f->caller_base = static_cast<uint32_t>(arguments - bottom);
    f->name_context = name ? name->w1 : 0;
    f->locals = 0;
    f->saved_storage = 0;
    arguments = top;
    return f;
}
// A frame of a Kind (the call sites' bits are constants).
inline Frame* mark(const Cell* name, uint32_t kind, Origin origin = Origin::native) {
    return push_frame(name, kind << 24 | (origin == Origin::interpreter ? kInterpFlag : 0));
}
// The frame of a function! call, which the interpreter pushes: the locals context and its
// current value storage are recorded.
inline Frame* mark_func(const Cell* name, uint32_t locals) {
    Frame* f = push_frame(name, kFunction << 24 | kInterpFlag);
    f->locals = locals;
    f->saved_storage = locals ? memory::buffer(locals)->cells()->w2 : 0;
    return f;
}

inline Frame* last_frame() {
    return frame_top - 1;
}
inline uint32_t depth() {
    return static_cast<uint32_t>(frame_top - frame_bottom);
}

inline void set_body_flag(bool on) {
    Frame* f = last_frame();
    f->header = on ? f->header | kBodyFlag : f->header & ~kBodyFlag;
}

// Pops a frame: a function frame gives its context back the storage it had before the call.
inline void pop_frame(const Frame* f) {
    if ((f->header >> 24 & 0xF) == kFunction && f->locals)
        memory::buffer(f->locals)->cells()->w2 = f->saved_storage;
}

// Pops the top frame; the caller's base becomes current again. unwind: top = that base's old
// value (the popped frame's base); unwind_keep: top = popped base + 1, the result stays as
// the caller's last pushed value; unwind_last: unwind_keep, then the result goes into the
// caller's result slot.
inline void unwind() {
    Frame* f = --frame_top;
    pop_frame(f);
    top = arguments;
    arguments = bottom + f->caller_base;
}
inline void unwind_keep() {
    Frame* f = --frame_top;
    pop_frame(f);
    top = arguments + 1;
    arguments = bottom + f->caller_base;
}
inline void unwind_last() {
    Cell* result = arguments;
    unwind_keep();
    *arguments = *result;
}

// Pops every frame above `level` (a frame_top value saved earlier), restoring function
// contexts' storage from the top down; the data pointers are the caller's to restore.
void unroll_to(Frame* level);
// Drops every frame and the whole data stack (the outermost recovery).
void clear_frames();

// The nearest frame below the top (skipping `skip` frames) of the kind asked; null when a
// try/all frame comes first or the bottom is reached. For kind 0 the nearest frame with the
// body flag set is asked.
Frame* find_target(uint32_t kind, uint32_t skip);

// Names the frame below the thrower when the next error names its call (throw-value).
void save_call_frame();

// get_call and collect_calls, which routines use, are declared in evaluator.h.

} // namespace stack
