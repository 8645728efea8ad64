#include "evaluator/frames.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/integer.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "runtime-core/collector.h"

namespace stack {

namespace {

Frame frames[kFrames + kHiddenFrames];
Frame* saved_call = nullptr;

// Frames hold the contexts of their names and locals.
void mark_frames() {
    for (Frame* f = frame_bottom; f && f < frame_top; ++f) {
        if (f->name_context) context::mark(f->name_context);
        if (f->locals) context::mark(f->locals);
    }
}

} // namespace

Frame* frame_bottom = nullptr;
Frame* frame_top = nullptr;
Frame* frame_limit = frames + kFrames;

void frame_overflow() {
    // The error is built in the hidden reserve; the visible limit comes back once the frames
    // are unrolled below it.
    frame_limit = frames + kFrames + kHiddenFrames;
    overflow();
}

void init_frames() {
    frame_bottom = frame_top = frames;
    frame_limit = frames + kFrames;
    saved_call = nullptr;
    collector::add_marker(mark_frames);
}

void unroll_to(Frame* level) {
    while (frame_top > level) pop_frame(--frame_top);
    if (frame_top < frames + kFrames) frame_limit = frames + kFrames;
    // A throw caught here named its thrower for an error it did not cause: that frame is gone.
    if (saved_call && saved_call >= frame_top) saved_call = nullptr;
}

void clear_frames() {
    unroll_to(frame_bottom);
    saved_call = nullptr;
    clear();
}

Frame* find_target(uint32_t kind, uint32_t skip) {
    for (Frame* f = frame_top - 1 - skip; f >= frame_bottom; --f) {
        const uint32_t k = f->kind();
        if (k == kTryAll) return nullptr;
        if (kind == 0 ? f->body() : k == kind) return f;
    }
    return nullptr;
}

void save_call_frame() {
    if (!saved_call && frame_top - 1 > frame_bottom) saved_call = frame_top - 2;
}

void get_call(Cell* out) {
    // Before the runtime's words exist (start-up, tests of the value model) nothing is named.
    if (!words::word.body) {
        *out = Cell{kTypeNone, 0, 0, 0};
        return;
    }
    const uint32_t body = words::word.body->w2;
    const uint32_t anon = words::word.anon->w2;
    // The thrower's frame, when it is still on the stack.
    Frame* f = saved_call && saved_call < frame_top ? saved_call : frame_top - 1;
    saved_call = nullptr;
    for (; f >= frame_bottom; --f) {
        const uint32_t sym = f->symbol();
        if (sym == body || sym == anon) continue;
        if (f->name_context) {
            *out = Cell{kTypeWord, f->name_context, sym, word::kUnresolved};
            const int32_t i = context::find_word(f->name_context, sym, true);
            if (i >= 0) out->w3 = static_cast<uint32_t>(i);
            return;
        }
        word::make_at(sym, out);
        return;
    }
    *out = *words::word.not_found;
}

void collect_calls(const Cell* block) {
    const uint32_t body = words::word.body->w2;
    const uint32_t anon = words::word.anon->w2;
    for (uint32_t i = depth(); i-- > 0;) {
        const Frame f = frame_bottom[i];
        if (f.symbol() == body || f.symbol() == anon) continue;
        Cell* w = block::append_copy(block, words::word.anon);
        *w = Cell{kTypeWord, f.name_context ? f.name_context : context::global, f.symbol(),
                  word::kUnresolved};
        const uint32_t base =
            i + 1 < depth() ? frame_bottom[i + 1].caller_base : index_of(arguments);
        integer::add_to_block(block, static_cast<int32_t>(base));
    }
}

} // namespace stack

namespace interp {

Level::Level() : frames_(stack::depth()), top_(stack::top), arguments_(stack::arguments) {}

void Level::restore() const {
    stack::unroll_to(stack::frame_bottom + frames_);
    stack::top = top_;
    stack::arguments = arguments_;
}

} // namespace interp
