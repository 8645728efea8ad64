#include <gtest/gtest.h>

#include "memory-fixture.h"
#include "runtime-core/cell.h"

using memory::Buffer;

TEST(Cell, SetTypeKeepsTheFlags) {
    Cell c{cell::kNewLine | 0x1200 | kTypeInteger, 1, 2, 3};
    EXPECT_EQ(cell::set_type(&c, kTypeString), &c);
    EXPECT_EQ(c.header, cell::kNewLine | 0x1200 | kTypeString);
    EXPECT_EQ(cell::type(&c), kTypeString);
    EXPECT_EQ(c.w1 + c.w2 + c.w3, 6u);
    EXPECT_EQ(cell::clear_new_line(&c), &c);
    EXPECT_EQ(c.header, 0x1200u | kTypeString);
}

TEST(Cell, CopyTakesAllFourWords) {
    Cell a{kTypeBlock, 1, 2, 3};
    Cell b{kTypeNone, 9, 9, 9};
    EXPECT_EQ(cell::copy(&a, &b), &b);
    EXPECT_EQ(b.header, uint32_t{kTypeBlock});
    EXPECT_EQ(b.w3, 3u);
    EXPECT_EQ(cell::copy(&a, &a), &a);
    EXPECT_EQ(a.w1, 1u);
}

TEST_F(MemoryTest, AFreshTailCellIsUnsetWhateverWasThere) {
    GcRoot block(memory::alloc_cells(2));
    Buffer* b = memory::buffer(block.node());
    auto* raw = reinterpret_cast<Cell*>(b->data());
    raw[0] = raw[1] = Cell{kTypeInteger | cell::kNewLine, 5, 6, 7};
    Cell* c = memory::alloc_tail_cell(b);
    EXPECT_EQ(c, raw);
    EXPECT_EQ(c->header, uint32_t{kTypeUnset});
    EXPECT_EQ(c->w1, 5u); // the payload is left as it was
    EXPECT_EQ(b->tail, 16u);
    c->w1 = 100;
    memory::alloc_tail_cell(memory::buffer(block.node()))->w1 = 101;
    // Full: the third cell grows the block to twice its size.
    c = memory::alloc_tail_cell(memory::buffer(block.node()));
    b = memory::buffer(block.node());
    EXPECT_EQ(b->size, 64u);
    EXPECT_EQ(b->length(), 3u);
    EXPECT_EQ(c, b->cells() + 2);
    EXPECT_EQ(c->header, uint32_t{kTypeUnset});
    EXPECT_EQ(b->cells()[0].w1, 100u);
    EXPECT_EQ(b->cells()[1].w1, 101u);
}

TEST_F(MemoryTest, TailBytesGrowTheBufferAsNeeded) {
    GcRoot s(make_text("0123456789"));
    Buffer* b = memory::buffer(s.node());
    // Zero bytes: the tail itself, nothing changes.
    EXPECT_EQ(memory::alloc_tail_bytes(b, 0), b->at_tail());
    EXPECT_EQ(memory::buffer(s.node()), b);
    EXPECT_EQ(b->tail, 10u);
    EXPECT_EQ(b->size, 16u);
    // More than the whole capacity: twice the count.
    uint8_t* at = memory::alloc_tail_bytes(b, 20);
    b = memory::buffer(s.node());
    EXPECT_EQ(b->size, 48u);
    EXPECT_EQ(at, b->data() + 10);
    EXPECT_EQ(b->tail, 30u);
    EXPECT_EQ(text_of(s.node()).substr(0, 10), "0123456789");
    // Less than the capacity but more than the room left: the default growth.
    at = memory::alloc_tail_bytes(b, 20);
    b = memory::buffer(s.node());
    EXPECT_EQ(b->size, 96u);
    EXPECT_EQ(at, b->data() + 30);
    EXPECT_EQ(b->tail, 50u);
}

TEST_F(MemoryTest, TailBytesAlwaysFitWhateverTheUnit) {
    GcRoot s(memory::alloc_series(4, 4, 0));
    Buffer* b = memory::buffer(s.node());
    b->tail = b->size; // full
    memory::alloc_tail_bytes(b, 17);
    b = memory::buffer(s.node());
    EXPECT_EQ(b->tail, 33u);
    EXPECT_LE(b->tail, b->size);
}

TEST_F(MemoryTest, CopyPartTakesUnitsFromTheHead) {
    GcRoot s(memory::alloc_series(16, 1, 2));
    Buffer* b = memory::buffer(s.node());
    std::memcpy(b->at_head(), "abcdefgh", 8);
    b->tail = b->head + 8;
    b->flags |= memory::kFlagOwned | 0x40000;
    struct Case {
        uint32_t start, length;
        const char* text;
    } cases[] = {{2, 3, "cde"}, {0, 8, "abcdefgh"}, {6, 100, "gh"}, {9, 2, ""}};
    for (const Case& c : cases) {
        uint32_t part = series::copy_part(s.node(), c.start, c.length);
        EXPECT_EQ(text_of(part), c.text) << c.start;
        Buffer* p = memory::buffer(part);
        EXPECT_EQ(p->flags & memory::kFlagOwned, 0u);
        EXPECT_TRUE(p->flags & 0x40000);
        EXPECT_EQ(p->head, 0u);
    }
    GcRoot cells(memory::alloc_cells(4));
    for (uint32_t i = 0; i < 4; ++i) append(cells, Cell{kTypeInteger, i, 0, 0});
    Buffer* part = memory::buffer(series::copy_part(cells.node(), 1, 2));
    EXPECT_EQ(part->length(), 2u);
    EXPECT_EQ(part->cells()[0].w1, 1u);
    EXPECT_EQ(part->cells()[1].w1, 2u);
}

TEST_F(MemoryTest, LiteralCellsCountFromTheBase) {
    uint32_t root = memory::alloc_unmanaged_series(8, 16, 0);
    Buffer* b = memory::buffer(root);
    for (uint32_t i = 0; i < 8; ++i) *memory::alloc_tail_cell(b) = Cell{kTypeObject, 100 + i, 0, 0};
    literal::set_base(root, 3);
    EXPECT_EQ(literal::cell(0), b->cells() + 3);
    EXPECT_EQ(literal::cell(2), b->cells() + 5);
    EXPECT_EQ(literal::node(1), 104u);
}
