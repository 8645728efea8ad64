#include <gtest/gtest.h>

#include <vector>

#include "runtime-core/heap.h"

using memory::alloc;
using memory::alloc_zeroed;
using memory::BlockHeader;
using memory::free_all;
using memory::heap_anchor;
using memory::heap_dump_text;
using memory::HeapAnchor;
using memory::kBlockHeaderSize;
using memory::round_up;
using memory::round_up_next;

namespace {

std::vector<size_t> sizes_in_order() {
    std::vector<size_t> out;
    for (BlockHeader* h = heap_anchor.head; h; h = h->next) out.push_back(h->size);
    return out;
}

class HeapBlocks : public testing::Test {
protected:
    void SetUp() override {
        saved_ = heap_anchor;
        heap_anchor = {nullptr, nullptr};
    }
    void TearDown() override {
        free_all();
        heap_anchor = saved_;
    }
    HeapAnchor saved_{};
};

} // namespace

TEST_F(HeapBlocks, NewBlocksGoAtTheTail) {
    alloc(1);
    alloc(2);
    alloc(3);
    EXPECT_EQ(sizes_in_order(), (std::vector<size_t>{1, 2, 3}));
    EXPECT_EQ(heap_anchor.head->prev, nullptr);
    EXPECT_EQ(heap_anchor.tail->size, 3u);
}

TEST_F(HeapBlocks, FreeUnlinksHeadMiddleAndTail) {
    void* a = alloc(1);
    void* b = alloc(2);
    void* c = alloc(3);
    void* d = alloc(4);
    memory::free(b);
    EXPECT_EQ(sizes_in_order(), (std::vector<size_t>{1, 3, 4}));
    memory::free(a);
    memory::free(d);
    EXPECT_EQ(sizes_in_order(), (std::vector<size_t>{3}));
    EXPECT_EQ(heap_anchor.head, heap_anchor.tail);
    int not_a_block = 0;
    memory::free(&not_a_block); // ignored
    memory::free(nullptr);
    memory::free(c);
    EXPECT_EQ(heap_anchor.head, nullptr);
    EXPECT_EQ(heap_anchor.tail, nullptr);
}

TEST_F(HeapBlocks, ReallocKeepsItsPlaceAndContent) {
    alloc(1);
    auto* mid = static_cast<char*>(alloc(4));
    alloc(3);
    mid[0] = 'z';
    auto* grown = static_cast<char*>(memory::realloc(mid, 100000));
    EXPECT_EQ(grown[0], 'z');
    EXPECT_EQ(sizes_in_order(), (std::vector<size_t>{1, 100000, 3}));
    EXPECT_EQ(memory::realloc(grown, 0), nullptr);
    EXPECT_EQ(sizes_in_order(), (std::vector<size_t>{1, 3}));
    void* fresh = memory::realloc(nullptr, 7);
    EXPECT_NE(fresh, nullptr);
    EXPECT_EQ(sizes_in_order(), (std::vector<size_t>{1, 3, 7}));
}

TEST_F(HeapBlocks, ReallocOfAPointerNotOnTheListIsAFault) {
    // Callers take the result for the resized block: a null would be written through.
    alloc(4);
    int not_a_block = 0;
    EXPECT_EXIT(memory::realloc(&not_a_block, 64), testing::ExitedWithCode(98),
                "Runtime Error 98: assertion failed");
}

TEST_F(HeapBlocks, ZeroedAndFreeAll) {
    auto* z = static_cast<unsigned char*>(alloc_zeroed(64));
    for (int i = 0; i < 64; ++i) EXPECT_EQ(z[i], 0);
    alloc(5);
    free_all();
    EXPECT_EQ(heap_anchor.head, nullptr);
    alloc(9);
    EXPECT_EQ(sizes_in_order(), (std::vector<size_t>{9}));
}

TEST_F(HeapBlocks, DumpListsAskedAndRealSizes) {
    alloc(10);
    alloc(0);
    size_t h = kBlockHeaderSize;
    std::string expected = "-- Heap-allocations --\nAsked   Real\n10\t" + std::to_string(10 + h) +
                           "\n0\t" + std::to_string(h) + "\n-- Sum: " + std::to_string(10 + 2 * h) +
                           " --\n";
    EXPECT_EQ(heap_dump_text(), expected);
}

TEST(Heap, RoundUp) {
    EXPECT_EQ(round_up(0, 16), 0u);
    EXPECT_EQ(round_up(1, 16), 16u);
    EXPECT_EQ(round_up(16, 16), 16u);
    EXPECT_EQ(round_up(4097, 4096), 8192u);
    EXPECT_EQ(round_up_next(16, 16), 32u);
    EXPECT_EQ(round_up_next(15, 16), 16u);
}
