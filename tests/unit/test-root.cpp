#include <gtest/gtest.h>

#include "runtime-fixture.h"

namespace {

class Root : public RuntimeTest {};

TEST_F(Root, FixedBlocksForTheRootAndTheDataStack) {
    ASSERT_TRUE(root::exists());
    memory::Buffer* r = memory::buffer(root::block.w2);
    EXPECT_TRUE(r->flags & memory::kFlagFixed);
    EXPECT_EQ(r->size, root::kCells * sizeof(Cell));
    ASSERT_EQ(r->length(), 1u);
    EXPECT_EQ(r->cells()[0].header, uint32_t{kTypeBlock});
    EXPECT_EQ(r->cells()[0].w2, root::data_stack.w2);

    memory::Buffer* d = memory::buffer(root::data_stack.w2);
    EXPECT_TRUE(d->flags & memory::kFlagFixed);
    EXPECT_EQ(d->length(), 0u);
    EXPECT_EQ(stack::bottom, d->cells());
    EXPECT_EQ(stack::end - stack::bottom, ptrdiff_t{root::kDataStackCells});
}

TEST_F(Root, WhatTheRootHoldsSurvivesCollections) {
    Cell* cell = root::alloc_tail();
    *cell = string_of(make_text("permanent")); // make_text may move everything else, not `cell`
    Cell* first = memory::buffer(root::block.w2)->cells();
    stack::clear();
    *stack::push_cell() = string_of(make_text("on the stack"));
    for (int i = 0; i < 3; ++i) collector::collect();
    EXPECT_EQ(memory::buffer(root::block.w2)->cells(), first); // never moves
    EXPECT_EQ(text_of(cell->w2), "permanent");
    EXPECT_EQ(text_of(stack::bottom->w2), "on the stack");
    stack::clear();
    uint32_t dropped = stack::bottom->w2;
    collector::collect();
    EXPECT_TRUE(reclaimed(dropped));
}

using RootDeathTest = Root;

TEST_F(RootDeathTest, AFullRootBlockIsABuildFault) {
    EXPECT_EXIT(
        {
            for (uint32_t i = 0; i <= root::kCells; ++i) root::alloc_tail();
        },
        testing::ExitedWithCode(98), "Runtime Error 98: assertion failed");
}

} // namespace
