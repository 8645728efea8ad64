#include <gtest/gtest.h>

#include <vector>

#include "evaluator/frames.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/support.h"
#include "runtime-core/throw.h"
#include "runtime-fixture.h"

namespace {

using DataStack = RuntimeTest;

Cell integer(uint32_t n) {
    return Cell{kTypeInteger, n, 0, 0};
}

} // namespace

TEST_F(DataStack, PushPopAndTheResultSlot) {
    EXPECT_EQ(stack::top_value(), stack::bottom); // empty: the bottom cell
    stack::push(integer(1));
    stack::push(integer(2));
    EXPECT_EQ(stack::top_value()->w1, 2u);
    stack::set_last(integer(9));
    EXPECT_EQ(stack::arguments->w1, 9u);
    stack::keep();
    EXPECT_EQ(stack::top, stack::arguments + 1);
    stack::reset();
    EXPECT_EQ(stack::top, stack::arguments);
    stack::push(integer(3));
    stack::pop(100); // never below the bottom
    EXPECT_EQ(stack::top, stack::bottom);
}

TEST_F(DataStack, The19999thCellFitsTheNextOverflows) {
    // The cycle stack hooks the overflow itself; chain a counter after it.
    static int hook_calls = 0;
    hook_calls = 0;
    stack::set_overflow_hook([] {
        cycles::reset();
        ++hook_calls;
    });
    for (uint32_t i = 0; i < stack::kDataCells - 1; ++i) stack::push(integer(i));
    EXPECT_EQ(stack::top - stack::bottom, static_cast<ptrdiff_t>(stack::kDataCells - 1));
    uint32_t code = runtime::catch_level(runtime::kThrowError, [] { stack::push_cell(); });
    EXPECT_EQ(code, runtime::kThrowError);
    runtime::reset_thrown_code();
    EXPECT_EQ(error::last_raised.category, error::kInternal);
    EXPECT_EQ(error::last_raised.id, error::internal::stack_overflow);
    EXPECT_EQ(hook_calls, 1);
    EXPECT_EQ(cycles::depth(), 0u);
    // Five cells were dropped to leave room for handling the error.
    EXPECT_EQ(stack::top - stack::bottom, static_cast<ptrdiff_t>(stack::kDataCells - 6));
    stack::set_overflow_hook(nullptr);
    stack::clear();
}

TEST_F(DataStack, PushedSeriesSurviveCollection) {
    uint32_t node = make_text("kept on the stack");
    stack::push(string_of(node));
    uint32_t garbage = make_text("garbage");
    (void)garbage;
    collector::collect();
    EXPECT_EQ(text_of(stack::top_value()->w2), "kept on the stack");
    stack::clear();
}

TEST(Support, FireRecordsTheErrorAndThrowsTheErrorCode) {
    Cell a{kTypeInteger, 7, 0, 0};
    uint32_t code = runtime::catch_level(runtime::kThrowError, [&] {
        error::fire(error::kScript, error::script::invalid_compare, {&a, &a, &a, &a});
    });
    EXPECT_EQ(code, runtime::kThrowError);
    runtime::reset_thrown_code();
    EXPECT_EQ(error::last_raised.category, error::kScript);
    EXPECT_EQ(error::last_raised.id,
              45u); // invalid-compare: code 343, position 43 after code and type
    EXPECT_EQ(error::last_raised.argc, 3u); // at most three arguments
    EXPECT_EQ(error::last_raised.args[2].w1, 7u);
}

// --- Call frames ------------------------------------------------------------------------------

TEST_F(DataStack, The12000thFramePushesTheNextOverflowsAndTheErrorHasRoom) {
    for (uint32_t i = 0; i < stack::kFrames; ++i) stack::mark(nullptr, stack::kNative);
    EXPECT_EQ(stack::depth(), stack::kFrames);
    // The error of the overflow is built with frames of its own: the hidden reserve takes
    // them instead of recursing into a second overflow.
    static uint32_t pushed_while_raising = 0;
    pushed_while_raising = 0;
    error::set_fire_hook([](const error::Raised&) {
        for (int i = 0; i < 8; ++i) stack::mark(nullptr, stack::kNative);
        pushed_while_raising = 8;
    });
    EXPECT_TRUE(raises(error::kInternal, error::internal::stack_overflow,
                       [] { stack::mark(nullptr, stack::kNative); }));
    error::set_fire_hook(nullptr);
    EXPECT_EQ(pushed_while_raising, 8u);
    // Once unrolled below the limit, the visible limit is back.
    stack::unroll_to(stack::frame_bottom + 10);
    for (uint32_t i = 10; i < stack::kFrames; ++i) stack::mark(nullptr, stack::kNative);
    EXPECT_TRUE(raises(error::kInternal, error::internal::stack_overflow,
                       [] { stack::mark(nullptr, stack::kNative); }));
    stack::clear_frames();
    EXPECT_EQ(stack::depth(), 0u);
}

TEST_F(DataStack, FramesKeepTheCallersBaseAndUnwindPutsItBack) {
    stack::push(integer(1));
    Cell* outer = stack::arguments;
    stack::mark(nullptr, stack::kNative);
    Cell* inner = stack::arguments;
    EXPECT_EQ(inner, stack::top);
    stack::push(integer(5)); // the result slot
    stack::push(integer(6));
    stack::unwind_keep();
    EXPECT_EQ(stack::arguments, outer);
    EXPECT_EQ(stack::top, inner + 1);
    EXPECT_EQ(inner->w1, 5u);
    stack::mark(nullptr, stack::kNative);
    stack::push(integer(7));
    stack::unwind_last(); // the result also goes to the caller's result slot
    EXPECT_EQ(outer->w1, 7u);
    stack::clear_frames();
}

TEST_F(DataStack, ExitTargetsStopAtTheirKindAndTryAllIsABarrier) {
    struct Case {
        std::vector<uint32_t> kinds; // bottom first; the last is the exit's own frame
        uint32_t asked;
        int found; // index of the frame found, -1 for none
    };
    const Case cases[] = {
        {{stack::kLoop, stack::kNative}, stack::kLoop, 0},
        {{stack::kLoop, stack::kTry, stack::kNative}, stack::kLoop, 0},
        {{stack::kLoop, stack::kTryAll, stack::kNative}, stack::kLoop, -1},
        {{stack::kNative, stack::kNative}, stack::kLoop, -1},
        {{stack::kCatch, stack::kLoop, stack::kNative}, stack::kCatch, 0},
        {{stack::kLoop, stack::kLoop}, stack::kLoop, 0}, // the exit's own frame is skipped
    };
    for (const Case& c : cases) {
        for (uint32_t k : c.kinds) stack::mark(nullptr, k);
        stack::Frame* f = stack::find_target(c.asked, 1);
        EXPECT_EQ(f ? static_cast<int>(f - stack::frame_bottom) : -1, c.found);
        stack::clear_frames();
    }
    // Return and exit look for the body flag, whatever the kind.
    stack::mark(nullptr, stack::kFunction);
    stack::set_body_flag(true);
    stack::mark(nullptr, stack::kLoop);
    stack::mark(nullptr, stack::kNative);
    EXPECT_EQ(stack::find_target(0, 1), stack::frame_bottom);
    stack::clear_frames();
}
