#include <gtest/gtest.h>

#include "datatypes/more/error-ids.h"
#include "evaluator/stack.h"
#include "runtime-fixture.h"
#include "runtime-core/support.h"
#include "runtime-core/throw.h"

namespace {

using DataStack = RuntimeTest;

Cell integer(uint32_t n) { return Cell{kTypeInteger, n, 0, 0}; }

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
    EXPECT_EQ(error::last_raised.id, 45u); // invalid-compare: code 343, position 43 after code and type
    EXPECT_EQ(error::last_raised.argc, 3u); // at most three arguments
    EXPECT_EQ(error::last_raised.args[2].w1, 7u);
}
