#include "evaluator/memory-stats.h"

#include "block-fixture.h"
#include "runtime-core/heap.h"

namespace {

class MemoryStats : public BlockTest {
protected:
    static const Cell& at(const Cell& block, uint32_t i) { return *block::cell_at(&block, i); }
    static uint32_t length(const Cell& block) { return memory::buffer(block.w2)->length(); }
    static int64_t number(const Cell& c) {
        return cell::type(&c) == kTypeInteger ? integer::get(&c)
                                              : static_cast<int64_t>(float_::get(&c));
    }
};

// Mode 1 leaves the block alone and grows by at least what a new buffer takes.
TEST_F(MemoryStats, InUseCountsNewBuffers) {
    GcRoot report(*block::make_at(stack::push_cell(), 8));
    collector::state.enabled = 0;
    const double before = memory::frame_stats(&report.cell(), 1);
    GcRoot bytes(memory::alloc_bytes(100000));
    const double after = memory::frame_stats(&report.cell(), 1);
    collector::state.enabled = 1;
    EXPECT_EQ(length(report.cell()), 0);
    EXPECT_GT(before, 0);
    EXPECT_GE(after - before, 100000 + memory::kBufferOverhead);
}

// The detailed report: [node frames] [series frames] [big frames] system-total heap-total,
// each value on a new line; its figures hold together, exactly so on the 32-bit build.
TEST_F(MemoryStats, DetailedReportHoldsTogether) {
    const bool torture = memory::record.torture;
    memory::record.torture = false; // the frame layout must not change while it is read
    GcRoot big(memory::alloc_bytes(3 * memory::kMaxFrameSize));
    GcRoot report(*block::make_at(stack::push_cell(), 8));
    EXPECT_EQ(memory::frame_stats(&report.cell(), 2), 0);
    const Cell& r = report.cell();
    ASSERT_EQ(length(r), 5);
    for (uint32_t i = 0; i < 5; ++i) EXPECT_TRUE(at(r, i).header & cell::kNewLine) << i;

    int64_t frames = 0;
    const Cell& nodes = at(r, 0);
    for (uint32_t i = 0; i < length(nodes); ++i) {
        const Cell& t = at(nodes, i);
        EXPECT_EQ(number(at(t, 0)) + number(at(t, 1)), number(at(t, 2)));
        EXPECT_EQ(number(at(t, 2)), memory::kNodesPerFrame);
        frames += number(at(t, 2)) * memory::kStatsNodeBytes + memory::kStatsNodeFrameHeader;
    }
    const Cell& series = at(r, 1);
    ASSERT_GE(length(series), 1);
    for (uint32_t i = 0; i < length(series); ++i) {
        const Cell& t = at(series, i);
        EXPECT_EQ(number(at(t, 0)) + number(at(t, 1)), number(at(t, 2)));
        frames += number(at(t, 2)) + 20 + memory::kStatsSeriesFrameHeader;
    }
    const Cell& bigs = at(r, 2);
    ASSERT_EQ(length(bigs), 1);
    EXPECT_GE(number(at(bigs, 0)), 3 * memory::kMaxFrameSize);
    frames += number(at(bigs, 0)) + memory::kStatsBigFrameHeader;

    const int64_t heap = number(at(r, 4));
    EXPECT_GT(heap, 0);
    EXPECT_EQ(number(at(r, 3)), frames + heap);
#if UINTPTR_MAX == 0xFFFFFFFFu
    EXPECT_EQ(memory::kStatsNodeBytes * memory::kNodesPerFrame + memory::kStatsNodeFrameHeader,
              40036u);
    EXPECT_EQ(memory::kStatsSeriesFrameHeader, 20u);
    EXPECT_EQ(memory::kStatsBigFrameHeader, 12u);
    EXPECT_EQ(memory::kStatsHeapBlockHeader, 16u);
#else
    EXPECT_GT(memory::kStatsNodeBytes * memory::kNodesPerFrame + memory::kStatsNodeFrameHeader,
              40036u);
#endif
    memory::record.torture = torture;
}

TEST_F(MemoryStats, SizesAboveTheIntegerRangeAreFloats) {
    GcRoot sizes(*block::make_at(stack::push_cell(), 4));
    for (int64_t size : {int64_t(0), int64_t(2147483647), int64_t(2147483648), int64_t(1) << 40})
        memory::box_size(&sizes.cell(), size);
    const Cell& s = sizes.cell();
    EXPECT_EQ(integer::get(&at(s, 1)), 2147483647);
    EXPECT_EQ(cell::type(&at(s, 1)), kTypeInteger);
    EXPECT_EQ(cell::type(&at(s, 2)), kTypeFloat);
    EXPECT_EQ(float_::get(&at(s, 2)), 2147483648.0);
    EXPECT_EQ(float_::get(&at(s, 3)), 1099511627776.0);
}

} // namespace
