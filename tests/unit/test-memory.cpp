#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "app/init.h"
#include "datatypes/symbol.h"
#include "memory-fixture.h"
#include "runtime-core/heap.h"
#include "runtime-core/throw.h"

using memory::Buffer;
using memory::record;

namespace {

struct FaultSeen {
    memory::Fault fault;
};

void throwing_hook(memory::Fault fault) {
    throw FaultSeen{fault};
}

bool in_a_series_frame(const void* p) {
    for (memory::SeriesFrame* f = record.first_series_frame; f; f = f->next)
        if (p >= f->data() && p < f->end) return true;
    return false;
}

} // namespace

TEST_F(MemoryTest, CapacitiesAreWholeSixteenBytes) {
    struct Case {
        uint32_t asked, unit, size;
    } cases[] = {{0, 1, 16}, {1, 1, 16}, {16, 1, 16}, {17, 1, 32}, {3, 2, 16},
                 {9, 2, 32}, {5, 4, 32}, {1, 16, 16}, {3, 16, 48}};
    for (const Case& c : cases) {
        uint32_t node =
            c.unit == 1 ? memory::alloc_bytes(c.asked) : memory::alloc_series(c.asked, c.unit, 0);
        Buffer* b = memory::buffer(node);
        EXPECT_EQ(b->size, c.size) << c.asked << " x " << c.unit;
        EXPECT_EQ(b->flags, c.unit | memory::kFlagInUse | memory::kFlagNew);
        EXPECT_EQ(b->node, node);
        EXPECT_EQ(b->head, 0u);
        EXPECT_EQ(b->tail, 0u);
    }
}

TEST_F(MemoryTest, AllocUnitsOfZeroGiveSixteenBytesWorth) {
    struct Case {
        uint32_t unit, units;
    } cases[] = {{1, 16}, {2, 8}, {4, 4}};
    for (const Case& c : cases) {
        Buffer* b = memory::buffer(memory::alloc_units(0, c.unit));
        EXPECT_EQ(b->size, 16u);
        EXPECT_EQ(b->size / c.unit, c.units);
        EXPECT_EQ(b->unit(), c.unit);
    }
}

TEST_F(MemoryTest, BigFramesStartAboveTwoMegabytesLessTheOverhead) {
    GcRoot fits(memory::alloc_bytes(2097120));
    Buffer* b = memory::buffer(fits.node());
    EXPECT_EQ(b->size, 2097120u);
    EXPECT_FALSE(b->flags & memory::kFlagBig);
    EXPECT_TRUE(in_a_series_frame(b));
    EXPECT_EQ(record.first_big_frame, nullptr);

    GcRoot big(memory::alloc_bytes(2097121));
    b = memory::buffer(big.node());
    EXPECT_EQ(b->size, 2097136u);
    EXPECT_TRUE(b->flags & memory::kFlagBig);
    ASSERT_NE(record.first_big_frame, nullptr);
    EXPECT_EQ(record.first_big_frame->buffer(), b);
    EXPECT_EQ(record.first_big_frame->size, 2097136u + memory::kBufferOverhead);
}

TEST_F(MemoryTest, OffsetMinusOnePutsTheHeadInTheMiddle) {
    struct Case {
        uint32_t count, unit, head;
    } cases[] = {{10, 1, 8}, {100, 16, 800}, {33, 1, 24}};
    for (const Case& c : cases) {
        Buffer* b = memory::buffer(memory::alloc_series(c.count, c.unit, -1));
        EXPECT_EQ(b->head, c.head);
        EXPECT_EQ(b->tail, c.head);
        EXPECT_TRUE(b->flags & memory::kFlagMiddle);
    }
    Buffer* plain = memory::buffer(memory::alloc_series(10, 1, 4));
    EXPECT_EQ(plain->head, 4u);
    EXPECT_FALSE(plain->flags & memory::kFlagMiddle);
}

TEST_F(MemoryTest, FirstFrameHasOneMegabyteLaterOnesTwo) {
    record.torture = false;
    collector::state.enabled = 0;
    ASSERT_EQ(series_frame_count(), 1);
    EXPECT_EQ(record.first_series_frame->end - record.first_series_frame->data(), 1048576);
    EXPECT_EQ(record.first_series_frame->size, 1048576u + 20);
    // Fill the first frame; the next buffer opens a second frame.
    for (int i = 0; i < 40; ++i) memory::alloc_bytes(30000);
    ASSERT_EQ(series_frame_count(), 2);
    for (memory::SeriesFrame* f = record.first_series_frame; f; f = f->next) {
        if (f != record.active_series_frame) {
            EXPECT_EQ(f->end - f->data(), 1048576);
        }
    }
    EXPECT_EQ(record.active_series_frame->end - record.active_series_frame->data(), 2097152);
}

TEST_F(MemoryTest, ABufferAsLargeAsTheNextFrameMakesItTheMaximum) {
    // No series frame yet: the next one would have 1 MB, too little for this buffer.
    memory::release_all();
    memory::init();
    record.torture = false;
    memory::new_node_frame(memory::kNodesPerFrame);
    Buffer* b = memory::buffer(memory::alloc_bytes(1500000));
    ASSERT_EQ(series_frame_count(), 1);
    EXPECT_EQ(record.first_series_frame->end - record.first_series_frame->data(), 2097152);
    EXPECT_TRUE(in_a_series_frame(b));
}

TEST_F(MemoryTest, ExpandingWithZeroDoublesAndRetiresTheOldBuffer) {
    NoCollectScope still; // the old buffer stays where it is, so the test can look at it
    uint32_t node = memory::alloc_series(32, 1, 8);
    Buffer* old = memory::buffer(node);
    std::memcpy(old->at_head(), "abc", 3);
    old->tail = old->head + 3;
    old->flags |= 0x40000; // a bit of the series' users travels along
    Buffer* b = memory::expand_series_to(old, 0);
    EXPECT_EQ(memory::buffer(node), b);
    EXPECT_EQ(b->size, 64u);
    EXPECT_EQ(b->head, 0u);
    EXPECT_EQ(b->tail, 3u);
    EXPECT_EQ(std::memcmp(b->data(), "abc", 3), 0);
    EXPECT_EQ(b->node, node);
    EXPECT_EQ(b->flags, 1u | memory::kFlagInUse | memory::kFlagNew | 0x40000);
    EXPECT_EQ(old->node, 0u);
    EXPECT_FALSE(old->flags & memory::kFlagInUse);
}

TEST_F(MemoryTest, ABlockMadeWithNoRoomGrowsOnItsFirstAppend) {
    GcRoot block(memory::alloc_cells(0));
    EXPECT_EQ(memory::buffer(block.node())->size, 0u);
    *memory::alloc_tail_cell(memory::buffer(block.node())) = Cell{kTypeInteger, 1, 0, 0};
    *memory::alloc_tail_cell(memory::buffer(block.node())) = Cell{kTypeInteger, 2, 0, 0};
    Buffer* b = memory::buffer(block.node());
    EXPECT_EQ(b->length(), 2u);
    EXPECT_EQ(b->cells()[1].w1, 2u);
}

TEST_F(MemoryTest, ExpansionFollowsTheBufferWhenEveryAllocationMovesIt) {
    record.torture = true;
    GcRoot s(make_text("hello"));
    for (int i = 0; i < 5; ++i) {
        memory::expand_series_to(memory::buffer(s.node()), 0);
        EXPECT_EQ(text_of(s.node()), "hello");
    }
    EXPECT_EQ(memory::buffer(s.node())->size, 16u << 5);
    // An unrooted series survives its own expansion too; its node may have moved meanwhile,
    // and the new buffer names the node that refers to it now.
    Buffer* b = memory::expand_series_to(memory::buffer(make_text("loose")), 100);
    EXPECT_EQ(memory::buffer(b->node), b);
    EXPECT_EQ(text_of(b->node), "loose");
}

TEST_F(MemoryTest, ExpandFilledFillsBeyondTheOldCapacity) {
    GcRoot s(make_text("xy"));
    Buffer* b = memory::expand_series_filled(memory::buffer(s.node()), 48, 0xAB);
    EXPECT_EQ(text_of(s.node()), "xy");
    for (uint32_t i = 16; i < 48; ++i) EXPECT_EQ(b->data()[i], 0xAB) << i;
}

// A new buffer's placement bits are its own: a copy or expansion of a fixed buffer lives in
// a frame and is collected like any other.
TEST_F(MemoryTest, CopiesAndExpansionsDoNotInheritFixedOrBig) {
    GcRoot fixed_root(memory::alloc_unmanaged_series(16, 1, 0));
    Buffer* f = memory::buffer(fixed_root.node());
    EXPECT_TRUE(f->flags & memory::kFlagFixed);
    std::memcpy(f->data(), "fixed", 5);
    f->tail = 5;

    uint32_t copy = memory::copy_series(memory::buffer(fixed_root.node()));
    Buffer* c = memory::buffer(copy);
    EXPECT_FALSE(c->flags & (memory::kFlagFixed | memory::kFlagBig));
    EXPECT_EQ(text_of(copy), "fixed");
    EXPECT_TRUE(in_a_series_frame(c));

    Buffer* grown = memory::expand_series_to(memory::buffer(fixed_root.node()), 4000000);
    EXPECT_FALSE(grown->flags & memory::kFlagFixed);
    EXPECT_TRUE(grown->flags & memory::kFlagBig);
    EXPECT_EQ(text_of(fixed_root.node()), "fixed");

    // Nothing refers to the copy: the next collection reclaims it.
    collector::collect();
    EXPECT_TRUE(reclaimed(copy));
    EXPECT_EQ(text_of(fixed_root.node()), "fixed");
}

TEST_F(MemoryTest, CopySeriesKeepsSizeLengthAndContent) {
    GcRoot src(memory::alloc_series(40, 1, 10));
    Buffer* s = memory::buffer(src.node());
    std::memcpy(s->at_head(), "content", 7);
    s->tail = s->head + 7;
    s->flags |= memory::kFlagOwned;
    GcRoot copy(memory::copy_series(memory::buffer(src.node())));
    Buffer* c = memory::buffer(copy.node());
    EXPECT_EQ(c->size, 48u);
    EXPECT_EQ(c->head, 0u);
    EXPECT_EQ(c->tail, 7u);
    EXPECT_EQ(text_of(copy.node()), "content");
    EXPECT_EQ(c->flags, memory::buffer(src.node())->flags);
}

TEST_F(MemoryTest, TypedAllocatorsInitialiseTheWholeCapacity) {
    Buffer* cells = memory::buffer(memory::alloc_unset_cells(3));
    ASSERT_EQ(cells->size, 48u);
    auto* c = reinterpret_cast<Cell*>(cells->data());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(c[i].header, uint32_t{kTypeUnset});
        EXPECT_EQ(c[i].w1 | c[i].w2 | c[i].w3, 0u);
    }
    Buffer* filled = memory::buffer(memory::alloc_bytes_filled(20, 0x5A));
    ASSERT_EQ(filled->size, 32u);
    for (uint32_t i = 0; i < 32; ++i) EXPECT_EQ(filled->data()[i], 0x5A);
    EXPECT_EQ(filled->tail, 0u);
}

TEST_F(MemoryTest, NodesComeFromTheCurrentFrameThenFromANewOne) {
    record.torture = false;
    collector::state.enabled = 0;
    memory::NodeFrame* first = record.first_node_frame;
    std::vector<uint32_t> nodes;
    for (uint32_t i = 0; i < memory::kNodesPerFrame; ++i) nodes.push_back(memory::alloc_node());
    EXPECT_EQ(first->used, memory::kNodesPerFrame);
    EXPECT_EQ(first->free_head, 0u);
    uint32_t next = memory::alloc_node();
    EXPECT_EQ(node_frame_count(), 2);
    EXPECT_EQ(record.current_node_frame, record.last_node_frame);
    EXPECT_NE(next, 0u);
    for (uint32_t n : nodes) EXPECT_NE(n, next);
    // A freed node is handed out again first.
    memory::free_node(record.last_node_frame, next);
    EXPECT_EQ(memory::alloc_node(), next);
    EXPECT_EQ(collector::state.series_cycles, 0);
}

TEST_F(MemoryTest, AnEmptyNodeFrameIsReleasedAtTheNextCollection) {
    record.torture = false;
    collector::state.enabled = 0;
    memory::NodeFrame* first = record.first_node_frame;
    std::vector<uint32_t> held;
    for (uint32_t i = 0; i < memory::kNodesPerFrame; ++i) held.push_back(memory::alloc_node());
    memory::alloc_bytes(10); // its node opens a second frame
    ASSERT_EQ(node_frame_count(), 2);
    memory::free_node(first, held.back()); // the first frame has room again
    collector::collect();
    EXPECT_EQ(node_frame_count(), 1);
    EXPECT_EQ(record.first_node_frame, first);
    EXPECT_EQ(record.current_node_frame, first);
}

TEST_F(MemoryTest, WithoutNodeFramesAllocationMakesOne) {
    record.torture = false;
    memory::alloc_bytes(10);
    collector::collect(); // the only node frame empties and is released
    EXPECT_EQ(node_frame_count(), 0);
    GcRoot s(make_text("again"));
    EXPECT_EQ(node_frame_count(), 1);
    EXPECT_EQ(text_of(s.node()), "again");
}

TEST_F(MemoryTest, PlatformFailuresBecomeMemoryFaults) {
    memory::set_fault_hook(throwing_hook);
    auto fault_of = [](auto&& body) -> int {
        try {
            body();
        } catch (const FaultSeen& f) {
            return static_cast<int>(f.fault);
        }
        return -1;
    };
    const int no_memory = static_cast<int>(memory::Fault::no_memory);
    const int wrong_mem = static_cast<int>(memory::Fault::wrong_mem);
    EXPECT_EQ(fault_of([] { memory::alloc_os_block(SIZE_MAX / 4 * 3); }), no_memory);
    EXPECT_EQ(fault_of([] { memory::alloc_bytes(0x7FFFFFFF); }), no_memory);
    EXPECT_EQ(fault_of([] { memory::alloc_series(0x40000000, 16, 0); }), no_memory);
    GcRoot s(make_text("s"));
    EXPECT_EQ(fault_of([&] { memory::expand_series(memory::buffer(s.node()), 0x80000000u); }),
              no_memory);
    // Releasing something that is no block of virtual memory fails: a "block" 8 bytes past
    // a page boundary, inside memory of our own.
    std::vector<uint8_t> pages(3 * 4096);
    uintptr_t page = (reinterpret_cast<uintptr_t>(pages.data()) + 4095) & ~uintptr_t(4095);
    auto* fake = reinterpret_cast<size_t*>(page + 8);
    fake[0] = 4096;
    EXPECT_EQ(fault_of([&] { memory::free_os_block(fake + 1); }), wrong_mem);
    EXPECT_EQ(runtime::thrown_code(), 0u);
    memory::set_fault_hook(nullptr);
    EXPECT_EQ(text_of(s.node()), "s");
}

TEST_F(MemoryTest, WithoutAHookExhaustionEndsTheProcess) {
    EXPECT_EXIT(memory::alloc_os_block(SIZE_MAX / 4 * 3), testing::ExitedWithCode(94),
                "Runtime Error 94: out of memory");
}

TEST_F(MemoryTest, OsBlocksAreCountedInPages) {
    int64_t before = record.os_bytes;
    void* block = memory::alloc_os_block(5000);
    EXPECT_EQ(record.os_bytes - before, 8192);
    memory::free_os_block(block);
    EXPECT_EQ(record.os_bytes, before);
}

namespace {
void set_torture_variable(const std::string& value) {
#ifdef _WIN32
    _putenv(("ZAN_GC_TORTURE=" + value).c_str());
#else
    setenv("ZAN_GC_TORTURE", value.c_str(), 1);
#endif
}
} // namespace

TEST_F(MemoryTest, TortureModeIsReadFromTheEnvironment) {
    const char* was = std::getenv("ZAN_GC_TORTURE");
    std::string saved = was ? was : "";
    for (const char* value : {"1", "0", "", "yes"}) {
        set_torture_variable(value);
        memory::init();
        EXPECT_EQ(record.torture, std::string(value) == "1") << value;
    }
    set_torture_variable(saved);
    memory::init();
    memory::new_node_frame(memory::kNodesPerFrame);
    memory::new_series_frame();
}

// In a child process: the platform's start-up must not touch this one.
TEST(MemoryStartUpDeathTest, RuntimeInitBringsUpTheMemoryModulesInOrder) {
    auto check = [] {
        runtime::init();
        bool ok = record.first_node_frame && record.first_node_frame == record.last_node_frame &&
                  record.first_node_frame->capacity == memory::kNodesPerFrame &&
                  record.first_series_frame &&
                  record.first_series_frame == record.last_series_frame &&
                  record.first_series_frame->end - record.first_series_frame->data() == 1048576 &&
                  externals::table.capacity == externals::kInitialRows &&
                  slots::table.capacity == slots::kInitialCapacity &&
                  collector::state.enabled == 0 && collector::state.history_setting == 5 &&
                  // The symbol block, right after the fixed root blocks, was the first
                  // series made.
                  reinterpret_cast<uint8_t*>(memory::buffer(symbol::block())) ==
                      record.first_series_frame->data();
        std::exit(ok ? 0 : 1);
    };
    EXPECT_EXIT(check(), testing::ExitedWithCode(0), "");
}
