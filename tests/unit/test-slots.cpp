#include <gtest/gtest.h>

#include "memory-fixture.h"

class Slots : public MemoryTest {
protected:
    void SetUp() override {
        MemoryTest::SetUp();
        slots::init();
    }
};

TEST_F(Slots, SlotNumbersStartAtOneAndFreedOnesComeBack) {
    EXPECT_EQ(slots::alloc(Cell{kTypeInteger, 10, 0, 0}), 1u);
    EXPECT_EQ(slots::alloc(Cell{kTypeInteger, 20, 0, 0}), 2u);
    EXPECT_EQ(slots::get(2)->w1, 20u);
    slots::free(1);
    EXPECT_EQ(slots::alloc(Cell{kTypeInteger, 30, 0, 0}), 1u);
    EXPECT_EQ(slots::get(1)->w1, 30u);
    EXPECT_EQ(slots::alloc(Cell{kTypeInteger, 40, 0, 0}), 3u);
}

TEST_F(Slots, NumbersThatNameNoSlotDoNothing) {
    slots::free(0);
    slots::free(101);
    EXPECT_EQ(slots::get(0), nullptr);
    EXPECT_EQ(slots::get(101), nullptr);
    EXPECT_EQ(slots::alloc(Cell{kTypeNone, 0, 0, 0}), 1u);
}

TEST_F(Slots, TheHundredAndFirstSlotDoublesTheBlock) {
    for (uint32_t i = 1; i <= 100; ++i) EXPECT_EQ(slots::alloc(Cell{kTypeInteger, i, 0, 0}), i);
    EXPECT_EQ(slots::table.capacity, 100u);
    EXPECT_EQ(slots::alloc(Cell{kTypeInteger, 101, 0, 0}), 101u);
    EXPECT_EQ(slots::table.capacity, 200u);
    memory::Buffer* b = memory::buffer(slots::table.block.w2);
    EXPECT_EQ(b->length(), 200u);
    for (uint32_t i = 1; i <= 101; ++i) EXPECT_EQ(slots::get(i)->w1, i);
    EXPECT_EQ(slots::alloc(Cell{kTypeInteger, 102, 0, 0}), 102u);
}

TEST_F(Slots, AStoredValueLivesUntilItsSlotIsFreed) {
    uint32_t slot = slots::alloc(string_of(make_text("in a slot")));
    collector::collect();
    uint32_t node = slots::get(slot)->w2;
    EXPECT_EQ(text_of(node), "in a slot");
    slots::free(slot);
    collector::collect();
    EXPECT_TRUE(reclaimed(node));
}

TEST_F(Slots, FreeingAFreeSlotIsAFault) {
    // Either would put the slot on the free list twice, and two allocs would share it.
    slots::alloc(Cell{kTypeInteger, 10, 0, 0});
    slots::alloc(Cell{kTypeInteger, 20, 0, 0});
    slots::free(1);
    EXPECT_EXIT(slots::free(1), testing::ExitedWithCode(98), "Runtime Error 98: assertion failed");
    EXPECT_EXIT(slots::free(50), testing::ExitedWithCode(98), "Runtime Error 98: assertion failed");
    EXPECT_EQ(slots::alloc(Cell{kTypeInteger, 30, 0, 0}), 1u);
    EXPECT_EQ(slots::alloc(Cell{kTypeInteger, 40, 0, 0}), 3u);
}
