#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <vector>

#include "memory-fixture.h"

using memory::Buffer;
using memory::record;
using memory::SeriesFrame;

namespace {

bool inside(const SeriesFrame* f, const void* p) {
    auto* b = static_cast<const uint8_t*>(p);
    return b >= const_cast<SeriesFrame*>(f)->data() && b < f->end;
}

uint32_t used_nodes() {
    uint32_t used = 0;
    for (memory::NodeFrame* f = record.first_node_frame; f; f = f->next) used += f->used;
    return used;
}

} // namespace

TEST_F(MemoryTest, UnreachableSeriesAreReclaimedReachableOnesKeepTheirContent) {
    GcRoot list(memory::alloc_cells(4));
    for (int i = 0; i < 20; ++i) {
        std::string text = (i % 2 ? "dead " : "live ") + std::to_string(i);
        if (i % 2)
            make_text(text.c_str());
        else
            append(list, string_of(make_text(text.c_str())));
    }
    collector::collect();
    Buffer* b = memory::buffer(list.node());
    ASSERT_EQ(b->length(), 10u);
    uint64_t live_bytes = b->size + memory::kBufferOverhead;
    for (uint32_t i = 0; i < 10; ++i) {
        uint32_t s = b->cells()[i].w2;
        EXPECT_EQ(text_of(s), "live " + std::to_string(2 * i));
        live_bytes += memory::buffer(s)->size + memory::kBufferOverhead;
    }
    EXPECT_EQ(frame_bytes_used(), live_bytes);
    EXPECT_EQ(used_nodes(), 11u);
}

TEST_F(MemoryTest, NestedBlocksAndCyclesAreMarkedOnce) {
    GcRoot outer(memory::alloc_cells(2));
    GcRoot inner(memory::alloc_cells(4));
    append(outer, block_of(inner.node()));
    append(inner, string_of(make_text("leaf")));
    append(inner, block_of(inner.node())); // itself
    append(inner, block_of(outer.node())); // its parent
    inner.set_node(0);
    collector::collect();
    collector::collect();
    EXPECT_EQ(used_nodes(), 3u);
    uint32_t inner_node = memory::buffer(outer.node())->cells()[0].w2;
    Cell* cells = memory::buffer(inner_node)->cells();
    EXPECT_EQ(text_of(cells[0].w2), "leaf");
    EXPECT_EQ(cells[1].w2, inner_node);
    EXPECT_EQ(cells[2].w2, outer.node());
}

// Marking works from an explicit stack: a million nested blocks do not exhaust the machine
// stack.
TEST_F(MemoryTest, DeeplyNestedBlocksMarkWithoutOverflow) {
    constexpr int kDepth = 1000000;
    GcRoot top;
    {
        NoCollectScope building;
        Cell c = string_of(make_text("bottom"));
        for (int i = 0; i < kDepth; ++i) {
            uint32_t block = memory::alloc_cells(1);
            *memory::alloc_tail_cell(memory::buffer(block)) = c;
            c = block_of(block);
        }
        top.set_cell(c);
    }
    collector::collect();
    EXPECT_EQ(used_nodes(), uint32_t{kDepth} + 1);
    Cell c = top.cell();
    int depth = 0;
    while (c.header == kTypeBlock) {
        c = *memory::buffer(c.w2)->cells();
        ++depth;
    }
    EXPECT_EQ(depth, kDepth);
    EXPECT_EQ(text_of(c.w2), "bottom");
}

// A node frame that stayed sparse and unchanged over six collections is evacuated: its
// nodes move to another frame, every reference that marking reaches is rewritten, and the
// frame is released.
TEST_F(MemoryTest, RootsAndCellsFollowAnEvacuatedNodeFrame) {
    record.torture = false;
    collector::state.enabled = 0;
    memory::NodeFrame* first = record.first_node_frame;
    GcRoot keep(memory::alloc_cells(100));
    for (int i = 0; i < 99; ++i) append(keep, string_of(make_text("a")));
    while (first->free_head != 0) memory::alloc_bytes(1); // garbage fills the first frame
    GcRoot survivor(make_text("survivor"));
    GcRoot block(memory::alloc_cells(1));
    append(block, string_of(make_text("inside")));
    ASSERT_EQ(node_frame_count(), 2);
    uint32_t old_survivor = survivor.node();
    uint32_t old_inside = memory::buffer(block.node())->cells()[0].w2;

    collector::collect(); // the garbage goes; the second frame holds 3 nodes from now on
    for (int cycle = 2; cycle <= 7; ++cycle) {
        collector::collect();
        EXPECT_EQ(collector::state.node_cycles, 0) << cycle;
    }
    collector::collect();
    EXPECT_EQ(collector::state.node_cycles, 1);
    EXPECT_EQ(node_frame_count(), 1);
    EXPECT_NE(survivor.node(), old_survivor);
    EXPECT_EQ(text_of(survivor.node()), "survivor");
    EXPECT_EQ(memory::buffer(survivor.node())->node, survivor.node());
    uint32_t inside = memory::buffer(block.node())->cells()[0].w2;
    EXPECT_NE(inside, old_inside);
    EXPECT_EQ(text_of(inside), "inside");
    EXPECT_EQ(first->used, 103u);
}

// A live run that moves into the predecessor frame while no gap was found before it leaves
// nothing behind: the frame's heap top drops below it, so its stale headers are never seen
// again (they would free the run's still-live nodes).
TEST_F(MemoryTest, ARunMovedIntoThePredecessorLeavesNoStaleHeaders) {
    record.torture = false;
    collector::state.enabled = 0;
    memory::new_series_frame();
    SeriesFrame* lo = record.first_series_frame; // the list is in address order
    SeriesFrame* hi = record.last_series_frame;
    ASSERT_EQ(lo->next, hi);

    record.active_series_frame = lo;
    for (int i = 0; i < 3; ++i) memory::alloc_bytes(100000); // garbage: lo empties
    record.active_series_frame = hi;
    GcRoot a(make_text("first live"));
    GcRoot b(make_text("second live"));
    memory::alloc_bytes(5000); // garbage after the run
    ASSERT_EQ(reinterpret_cast<uint8_t*>(memory::buffer(a.node())), hi->data());

    collector::collect();
    EXPECT_TRUE(inside(lo, memory::buffer(a.node())));
    EXPECT_TRUE(inside(lo, memory::buffer(b.node())));
    EXPECT_EQ(hi->top, hi->data());

    collector::collect();
    uint32_t fresh1 = make_text("fresh");
    uint32_t fresh2 = make_text("fresh");
    for (uint32_t n : {fresh1, fresh2}) {
        EXPECT_NE(n, a.node());
        EXPECT_NE(n, b.node());
    }
    EXPECT_EQ(text_of(a.node()), "first live");
    EXPECT_EQ(text_of(b.node()), "second live");
    EXPECT_EQ(memory::buffer(a.node())->node, a.node());
}

namespace {

struct Shape {
    uint32_t room; // free bytes left in the lowest frame
    bool moves;    // whether the middle frame's buffer moves down into it
};

} // namespace

// Buffers move into the predecessor only while it has more than 52,428 bytes free; a frame
// emptied by compaction is released unless it is the first or the last.
TEST_F(MemoryTest, ThePredecessorReceivesOnlyWhileItHasRoom) {
    for (Shape shape : {Shape{52424, false}, Shape{52440, true}}) {
        SetUp();
        record.torture = false;
        collector::state.enabled = 0;
        memory::new_series_frame();
        memory::new_series_frame();
        SeriesFrame* lo = record.first_series_frame;
        SeriesFrame* mid = lo->next;
        SeriesFrame* hi = mid->next;

        record.active_series_frame = lo;
        uint32_t capacity = static_cast<uint32_t>(lo->end - lo->data());
        GcRoot filler(memory::alloc_bytes(capacity - shape.room - memory::kBufferOverhead));
        ASSERT_EQ(static_cast<uint32_t>(lo->end - lo->top), shape.room);
        record.active_series_frame = mid;
        GcRoot m(make_text("middle"));
        record.active_series_frame = hi;
        GcRoot h(make_text("high"));

        collector::collect();
        EXPECT_EQ(text_of(m.node()), "middle");
        EXPECT_EQ(text_of(h.node()), "high");
        if (shape.moves) {
            // The middle frame empties and goes; then the lowest has too little room left.
            EXPECT_TRUE(inside(lo, memory::buffer(m.node())));
            EXPECT_EQ(series_frame_count(), 2);
            EXPECT_EQ(reinterpret_cast<uint8_t*>(memory::buffer(h.node())), hi->data());
        } else {
            // Nothing enters the lowest frame; the highest moves into the middle one and,
            // being the last frame, is kept though empty.
            EXPECT_EQ(reinterpret_cast<uint8_t*>(memory::buffer(m.node())), mid->data());
            EXPECT_TRUE(inside(mid, memory::buffer(h.node())));
            EXPECT_EQ(series_frame_count(), 3);
            EXPECT_EQ(hi->top, hi->data());
        }
        TearDown();
    }
}

TEST_F(MemoryTest, InteriorPointersFollowTheirBufferButKeepNothingAlive) {
    for (bool torture : {false, true}) {
        record.torture = torture;
        make_text("garbage that goes first");
        GcRoot s(make_text("abcdef"));
        GcInterior<uint8_t> p(memory::buffer(s.node())->data() + 3);
        uint32_t doomed = make_text("doomed");
        GcInterior<uint8_t> q(memory::buffer(doomed)->data());
        uint8_t* before = p.get();
        collector::collect();
        EXPECT_NE(p.get(), before) << torture;
        EXPECT_EQ(p.get(), memory::buffer(s.node())->data() + 3) << torture;
        EXPECT_EQ(*p, 'd');
        EXPECT_TRUE(reclaimed(doomed)) << torture;
    }
}

TEST_F(MemoryTest, AnExpandedAwayBufferIsReclaimedWithoutTouchingAnyNode) {
    record.torture = false;
    uint8_t* start = record.first_series_frame->data();
    GcRoot s(make_text("grow"));
    ASSERT_EQ(reinterpret_cast<uint8_t*>(memory::buffer(s.node())), start);
    memory::expand_series_to(memory::buffer(s.node()), 0);
    auto* old = reinterpret_cast<Buffer*>(start);
    EXPECT_EQ(old->node, 0u);
    uint32_t used = used_nodes();
    collector::collect();
    EXPECT_EQ(reinterpret_cast<uint8_t*>(memory::buffer(s.node())), start);
    EXPECT_EQ(record.first_series_frame->top, start + 32 + memory::kBufferOverhead);
    EXPECT_EQ(used_nodes(), used);
    EXPECT_EQ(text_of(s.node()), "grow");
}

TEST_F(MemoryTest, ADisabledCollectorOnlyCollectsWhenAsked) {
    record.torture = false;
    collector::state.enabled = 0;
    for (int i = 0; i < 80; ++i) memory::alloc_bytes(30000);
    EXPECT_EQ(collector::state.series_cycles, 0);
    EXPECT_GE(series_frame_count(), 2);
    collector::collect();
    EXPECT_EQ(collector::state.series_cycles, 1);
    EXPECT_EQ(frame_bytes_used(), 0u);
    EXPECT_EQ(used_nodes(), 0u);
}

// A pinned section moves nothing and keeps every node id, yet collects: what it allocates and
// drops is reclaimed in place, and a collection after it moves again.
TEST_F(MemoryTest, NoGcScopeCollectsWithoutMovingAnything) {
    record.torture = false;
    GcRoot s(make_text("pinned"));
    const uint32_t node = s.node();
    Buffer* b = memory::buffer(node);
    make_text("dead below the pinned ones"); // a hole only a moving cycle closes
    GcRoot after(make_text("after"));
    Buffer* a = memory::buffer(after.node());
    int32_t cycles = collector::state.series_cycles;
    {
        NoGcScope pinned;
        for (int i = 0; i < 80; ++i) memory::alloc_bytes(30000);
        collector::collect();
        EXPECT_GT(collector::state.series_cycles, cycles);
        EXPECT_EQ(s.node(), node);
        EXPECT_EQ(memory::buffer(node), b);
        EXPECT_EQ(memory::buffer(after.node()), a);
        // The dropped buffers above the last live one are gone: the heap top is right after it.
        EXPECT_EQ(record.first_series_frame->top,
                  reinterpret_cast<uint8_t*>(a) + a->size + memory::kBufferOverhead);
        EXPECT_EQ(series_frame_count(), 1);
    }
    collector::collect();
    EXPECT_EQ(text_of(s.node()), "pinned");
    EXPECT_EQ(text_of(after.node()), "after");
    EXPECT_NE(memory::buffer(after.node()), a); // the hole below it closes
}

// A pinned section that allocates a million times (a sort whose comparator allocates and drops
// its temporaries at each call) takes the space it dropped again instead of new frames.
TEST_F(MemoryTest, AMillionAllocationsInAPinnedSectionStayWithinBounds) {
    record.torture = false;
    GcRoot kept(make_text("kept"));
    Buffer* b = memory::buffer(kept.node());
    const int64_t before = record.os_bytes;
    {
        NoGcScope pinned;
        for (int call = 0; call < 1000000; ++call) {
            GcRoot temporary(memory::alloc_cells(2)); // rooted while the call runs
            memory::alloc_bytes(40);
        }
        EXPECT_EQ(memory::buffer(kept.node()), b);
    }
    // Without collections this would take over 100 MB.
    EXPECT_LT(record.os_bytes - before, int64_t{8} << 20);
    EXPECT_EQ(text_of(kept.node()), "kept");
}

namespace {

uint32_t marker_node = 0;
uint32_t marker_block = 0;
std::vector<int> marker_calls;
bool busy_inside = false;

void first_marker() {
    marker_calls.push_back(1);
    busy_inside = collector::busy();
    collector::collect(); // nothing happens inside a cycle
    collector::mark_series(marker_node);
}

void second_marker() {
    marker_calls.push_back(2);
    collector::mark_node_cells(marker_block);
}

} // namespace

TEST_F(MemoryTest, MarkersRunInOrderEveryCycle) {
    marker_calls.clear();
    marker_node = marker_block = 0;
    collector::add_marker(first_marker);
    collector::add_marker(second_marker);
    marker_node = make_text("marked");
    marker_block = memory::alloc_cells(1);
    append(marker_block, string_of(make_text("in block")));
    marker_calls.clear();
    collector::collect();
    EXPECT_EQ(marker_calls, (std::vector<int>{1, 2}));
    EXPECT_TRUE(busy_inside);
    EXPECT_FALSE(collector::busy());
    EXPECT_EQ(text_of(marker_node), "marked");
    EXPECT_EQ(text_of(memory::buffer(marker_block)->cells()[0].w2), "in block");
}

namespace {
void mark_first_word(Cell& c) {
    collector::mark_node_cells(c.w1);
}
} // namespace

TEST_F(MemoryTest, TypeMarkersDecideWhatACellReaches) {
    GcRoot text(Cell{kTypeString, 0, make_text("text"), 0});
    text.cell().w3 = make_text("cache"); // word 3 of a string is marked too
    collector::set_type_marker(200, mark_first_word);
    GcRoot custom(Cell{200, make_text("custom"), 0, 0});
    GcRoot number(Cell{kTypeInteger, 0, 0, 0});
    number.cell().w2 = make_text("not a reference");
    uint32_t lost = number.cell().w2;
    collector::collect();
    EXPECT_EQ(text_of(text.cell().w2), "text");
    EXPECT_EQ(text_of(text.cell().w3), "cache");
    EXPECT_EQ(text_of(custom.cell().w1), "custom");
    EXPECT_TRUE(reclaimed(lost));
    EXPECT_EQ(collector::type_marker(kTypeBlock), collector::mark_block_cell);
    EXPECT_EQ(collector::type_marker(kTypeInteger), nullptr);
}

namespace {

// A stand-in for the owner table: its marker marks the table's buffer only; after marking,
// entries whose series died are dropped.
uint32_t owner_table = 0;

void mark_owner_table() {
    collector::mark_series(owner_table);
}

void sweep_owner_table() {
    if (!owner_table) return;
    Buffer* b = memory::buffer(owner_table);
    for (Cell* c = b->cells(); c < b->cells_tail(); ++c) {
        if (c->header != kTypeString) continue;
        c->w2 = collector::forward(c->w2); // marking never visits a weak entry
        if (!collector::is_marked(c->w2)) *c = Cell{kTypeNone, 0, 0, 0};
    }
}

} // namespace

TEST_F(MemoryTest, TheOwnerTableIsMarkedWeakly) {
    owner_table = 0;
    collector::add_marker(mark_owner_table);
    collector::set_owner_sweep(sweep_owner_table);
    owner_table = memory::alloc_cells(2);
    GcRoot kept(make_text("kept"));
    append(owner_table, string_of(kept.node()));
    uint32_t orphan = make_text("orphan");
    append(owner_table, string_of(orphan));
    collector::collect();
    Cell* entries = memory::buffer(owner_table)->cells();
    EXPECT_EQ(entries[0].header, uint32_t{kTypeString});
    EXPECT_EQ(text_of(entries[0].w2), "kept");
    EXPECT_EQ(entries[1].header, uint32_t{kTypeNone});
    EXPECT_TRUE(reclaimed(orphan));
}

namespace {

std::vector<uintptr_t> released;
void record_release(uintptr_t value) {
    released.push_back(value);
}
void mark_handle(Cell& c) {
    externals::mark(static_cast<int32_t>(c.w3), 0);
}

} // namespace

TEST_F(MemoryTest, ExternalRowsLiveAsLongAsAValueReachesThem) {
    released.clear();
    uint32_t kind = externals::register_kind("bitmap", record_release);
    collector::set_type_marker(kTypeHandle, mark_handle);
    int32_t held = externals::alloc(0x1111, kind);
    int32_t dropped = externals::alloc(0x2222, kind);
    GcRoot handle(Cell{kTypeHandle, 0, 0, static_cast<uint32_t>(held)});
    collector::collect();
    EXPECT_EQ(released, (std::vector<uintptr_t>{0x2222}));
    EXPECT_EQ(externals::table.rows[held].kind, kind);
    EXPECT_EQ(externals::table.rows[dropped].kind, externals::kFreeRow);
}

TEST_F(MemoryTest, FixedBuffersKeepTheirCellsAliveAndLoseTheirMark) {
    GcRoot root(memory::alloc_unmanaged_series(4, 16, 0));
    append(root, string_of(make_text("held by a fixed block")));
    collector::collect();
    Buffer* b = memory::buffer(root.node());
    EXPECT_EQ(b->flags & memory::kFlagMark, 0u);
    EXPECT_EQ(text_of(b->cells()[0].w2), "held by a fixed block");
}

TEST_F(MemoryTest, BigBuffersAreReleasedWhenUnreachable) {
    GcRoot big(memory::alloc_bytes(3000000));
    memory::buffer(big.node())->data()[2999999] = 7;
    uint32_t gone = memory::alloc_bytes(3000000);
    int64_t held = record.os_bytes;
    collector::collect();
    EXPECT_TRUE(reclaimed(gone));
    EXPECT_LT(record.os_bytes, held - 2999999);
    Buffer* b = memory::buffer(big.node());
    EXPECT_EQ(b->flags & memory::kFlagMark, 0u);
    EXPECT_EQ(b->data()[2999999], 7);
    EXPECT_EQ(record.first_big_frame->buffer(), b);
    EXPECT_EQ(record.first_big_frame->next, nullptr);
}

// Torture mode: every allocation collects and moves every live node to a fresh node frame,
// whose old number then names no frame; every other cycle also moves every live buffer and
// poisons (or, without AddressSanitizer, overwrites) the place it left, and the cycles in
// between run the sliding compaction, which leaves a buffer with nothing dead below it.
TEST_F(MemoryTest, TortureModeMovesEveryNodeAtEveryAllocationAndEveryBufferAtEveryOther) {
    record.torture = true;
    GcRoot s(make_text("moving"));
    std::vector<uint32_t> old_ids;
    for (int i = 0; i < 4; ++i) {
        uint32_t node_before = s.node();
        Buffer* before = memory::buffer(node_before);
        int32_t cycles = collector::state.series_cycles;
        const bool moves_every_buffer = cycles % 2 == 0;
        make_text("trigger");
        EXPECT_EQ(collector::state.series_cycles, cycles + 1);
        EXPECT_NE(s.node(), node_before);
        EXPECT_EQ(record.node_frames[node_before >> memory::kNodeSlotBits], nullptr);
        EXPECT_EQ(memory::find_buffer(node_before), nullptr);
        EXPECT_EQ(text_of(s.node()), "moving");
        if (moves_every_buffer) {
            EXPECT_NE(memory::buffer(s.node()), before);
#ifdef ZAN_ASAN
            EXPECT_TRUE(__asan_address_is_poisoned(before->data()));
#else
            EXPECT_EQ(before->data()[0], 0xDD);
#endif
        } else {
            EXPECT_EQ(memory::buffer(s.node()), before);
        }
        for (uint32_t old : old_ids) EXPECT_NE(s.node() >> memory::kNodeSlotBits, old);
        old_ids.push_back(node_before >> memory::kNodeSlotBits);
    }
}

namespace {

void raise_on_release(uintptr_t value) {
    released.push_back(value);
    if (value == 0xBAD) throw std::runtime_error("release failed");
}
void raise_in_sweep() {
    throw std::runtime_error("sweep failed");
}

bool any_mark_left() {
    for (memory::SeriesFrame* f = record.first_series_frame; f; f = f->next)
        for (uint8_t* p = f->data(); p < f->top;) {
            auto* b = reinterpret_cast<Buffer*>(p);
            if (b->flags & memory::kFlagMark) return true;
            p += b->size + memory::kBufferOverhead;
        }
    for (int32_t row = externals::table.live_head; row != -1; row = externals::table.rows[row].next)
        if (externals::table.rows[row].kind & externals::kMarkBit) return true;
    return false;
}

} // namespace

// An error raised inside a cycle (by a release callback or by the owner sweep) comes out of
// the collection once the cycle has ended: the collector is not left busy, no mark stays set,
// what died is reclaimed, and the next collection runs as usual.
TEST_F(MemoryTest, AnErrorInsideACycleLeavesTheCollectorWorking) {
    enum class Source { release_callback, owner_sweep };
    for (Source source : {Source::release_callback, Source::owner_sweep}) {
        GcRoot live(make_text("live"));
        make_text("dead");
        // Nothing allocates from here to the collection (torture collects at every allocation).
        released.clear();
        externals::init();
        uint32_t kind = externals::register_kind("bitmap", raise_on_release);
        collector::set_type_marker(kTypeHandle, mark_handle);
        collector::set_owner_sweep(source == Source::owner_sweep ? raise_in_sweep : nullptr);
        int32_t held = externals::alloc(0x1111, kind);
        externals::alloc(source == Source::release_callback ? 0xBAD : 0x2222, kind);
        externals::alloc(0x3333, kind); // after the failing row
        GcRoot handle(Cell{kTypeHandle, 0, 0, static_cast<uint32_t>(held)});
        const int32_t cycles = collector::state.series_cycles;

        EXPECT_THROW(collector::collect(), std::runtime_error);
        EXPECT_FALSE(collector::busy());
        EXPECT_FALSE(any_mark_left());
        EXPECT_EQ(collector::state.series_cycles, cycles + 1);
        EXPECT_EQ(released.size(), 2u); // every dead row, also the one after the failure
        EXPECT_EQ(text_of(live.node()), "live");
        Buffer* b = memory::buffer(live.node());
        EXPECT_EQ(frame_bytes_used(), b->size + memory::kBufferOverhead);

        collector::set_owner_sweep(nullptr);
        collector::collect();
        EXPECT_EQ(collector::state.series_cycles, cycles + 2);
        EXPECT_EQ(externals::table.rows[held].kind, kind);
    }
}

namespace {
void throwing_marker() {
    collector::mark_series(marker_node);
    throw std::runtime_error("marker failed");
}
} // namespace

// A cycle that does not reach its end (a marker broke its contract and raised) still takes
// its marks back and lowers the busy flag.
TEST_F(MemoryTest, ACycleCutShortClearsItsMarks) {
    record.torture = false;
    GcRoot kept(make_text("kept"));
    marker_node = make_text("marked");
    collector::add_marker(throwing_marker);
    EXPECT_THROW(collector::collect(), std::runtime_error);
    EXPECT_FALSE(collector::busy());
    EXPECT_FALSE(any_mark_left());
    collector::reset_registrations();
    collector::collect();
    EXPECT_EQ(text_of(kept.node()), "kept");
    EXPECT_TRUE(reclaimed(marker_node));
}

// Dead nodes go back to their frames in id order, whatever order compaction finds them in,
// so the free list (and the ids of the next series) do not depend on where buffers lay.
TEST_F(MemoryTest, DeadNodesReturnInIdOrderWhateverTheirAddresses) {
    record.torture = false;
    collector::state.enabled = 0;
    // Ids and addresses run the same way at first; a collection that frees every other one
    // leaves the free list handing out the highest freed id first, so the next buffers get
    // descending ids at ascending addresses.
    std::vector<uint32_t> first;
    for (int i = 0; i < 40; ++i) first.push_back(memory::alloc_bytes(16));
    GcRoot keep(memory::alloc_cells(20));
    for (int i = 0; i < 40; i += 2) append(keep, string_of(first[i]));
    collector::collect();
    std::vector<uint32_t> second;
    for (int i = 0; i < 20; ++i) second.push_back(memory::alloc_bytes(16));
    ASSERT_TRUE(std::is_sorted(second.rbegin(), second.rend()));
    ASSERT_LT(memory::buffer(second.front()), memory::buffer(second.back()));
    // They die together: the next allocations take the same ids, highest first, exactly as a
    // death in id order would leave them.
    collector::collect();
    for (uint32_t expected : second) EXPECT_EQ(memory::alloc_node(), expected);
}

// A batch is returned when the queue is full: more dead nodes than it holds still all come
// back, each once.
TEST_F(MemoryTest, MoreDeadNodesThanTheQueueHoldsAreAllReturned) {
    record.torture = false;
    collector::state.enabled = 0;
    const uint32_t count = memory::kFreeNodeQueueSize * 2 + 17;
    for (uint32_t i = 0; i < count; ++i) memory::alloc_bytes(16);
    GcRoot keep(memory::alloc_cells(1));
    collector::collect();
    EXPECT_EQ(used_nodes(), 1u);
    EXPECT_EQ(record.free_node_count, 0u);
    // The same node queued twice in one batch is freed once.
    uint32_t node = memory::alloc_bytes(16);
    Buffer* b = memory::buffer(node);
    memory::queue_free_node(node, b);
    memory::queue_free_node(node, b);
    memory::flush_free_nodes();
    EXPECT_EQ(used_nodes(), 1u);
    EXPECT_EQ(memory::alloc_node(), node);
}

// Marking checks node ids against each node frame's own slot count, whatever the frame's size:
// what a small frame holds is reached through block, string and series cells alike, and an id
// past its last slot names nothing (the cell is left as it is).
TEST_F(MemoryTest, NodesOfASmallFrameAreMarkedAndIdsPastItsSlotsAreIgnored) {
    record.torture = false;
    collector::state.enabled = 0;
    GcRoot holder(memory::alloc_cells(8));
    memory::NodeFrame* small = memory::new_node_frame(16);
    record.current_node_frame = small;
    uint32_t inner = memory::alloc_cells(2);
    const uint32_t text = make_text("text");
    const uint32_t other = make_text("other");
    const uint32_t bytes = memory::alloc_bytes(8);
    ASSERT_EQ(inner >> memory::kNodeSlotBits, small->number);
    ASSERT_EQ(bytes >> memory::kNodeSlotBits, small->number);
    make_text("dead");
    append(inner, string_of(text));
    append(holder, block_of(inner));
    append(holder, Cell{kTypeString, 0, other, text});
    append(holder, Cell{kTypeBinary, 0, bytes, 0});
    const uint32_t past = small->number << memory::kNodeSlotBits | 20;
    append(holder, block_of(past));
    collector::collect();
    EXPECT_EQ(small->used, 4u);
    EXPECT_EQ(text_of(text), "text");
    EXPECT_EQ(text_of(other), "other");
    EXPECT_EQ(memory::buffer(bytes)->node, bytes);
    EXPECT_EQ(memory::buffer(holder.node())->cells()[3].w2, past);
}

namespace {

enum class Graph { shuffled, cycles, descending, leaves };

class MemoryGraphTest : public MemoryTest {
protected:
    // A graph of `count` blocks (each with its number in its first cell) over several node
    // frames, made without collecting, and held by one root block.
    static void build_graph(Graph graph, uint32_t count, GcRoot& root);
    // The nodes reachable from `root`, itself included.
    static std::unordered_set<uint32_t> walk(uint32_t root);
    // The numbers of the blocks among `nodes`.
    static std::set<uint32_t> numbers(const std::unordered_set<uint32_t>& nodes);
};

void MemoryGraphTest::build_graph(Graph graph, uint32_t count, GcRoot& root) {
    std::mt19937 random(7);
    std::vector<uint32_t> blocks;
    auto add = [](uint32_t block, const Cell& c) {
        *memory::alloc_tail_cell(memory::buffer(block)) = c;
    };
    for (uint32_t i = 0; i < count; ++i) {
        blocks.push_back(memory::alloc_cells(4));
        add(blocks.back(), Cell{kTypeInteger, 0, i, 0});
    }
    root.set_node(memory::alloc_cells(count));
    std::vector<uint32_t> order(count);
    for (uint32_t i = 0; i < count; ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), random);
    switch (graph) {
    case Graph::shuffled: // the root refers to most blocks, in random order
        for (uint32_t i : order)
            if (i % 7 != 3) add(root.node(), block_of(blocks[i]));
        break;
    case Graph::cycles: // each block refers to two others anywhere, itself now and then
        add(root.node(), block_of(blocks[order[0]]));
        for (uint32_t i = 0; i < count; ++i) {
            add(blocks[i], block_of(blocks[random() % count]));
            add(blocks[i], block_of(blocks[i % 11 == 0 ? i : random() % count]));
        }
        break;
    case Graph::descending: // a chain from the highest id down, every link to a lower one
        add(root.node(), block_of(blocks[count - 1]));
        for (uint32_t i = 1; i < count; ++i)
            if (i != count / 2) add(blocks[i], block_of(blocks[i - 1]));
        break;
    case Graph::leaves: // texts and binaries reached only through blocks met in random order
        for (uint32_t i : order) {
            add(root.node(), block_of(blocks[i]));
            const std::string text = "text " + std::to_string(i);
            const uint32_t head = make_text(text.c_str());
            const uint32_t other = make_text(text.c_str());
            const uint32_t bytes = memory::alloc_bytes(8);
            if (i % 5 == 0) continue; // dead leaves
            add(blocks[i], Cell{kTypeString, 0, head, i % 2 ? other : 0});
            add(blocks[i], Cell{kTypeBinary, 0, bytes, 0});
        }
        break;
    }
}

std::unordered_set<uint32_t> MemoryGraphTest::walk(uint32_t root) {
    std::vector<uint32_t> stack{root};
    std::unordered_set<uint32_t> seen{root};
    while (!stack.empty()) {
        Buffer* b = memory::buffer(stack.back());
        stack.pop_back();
        for (Cell* c = b->cells(); c < b->cells_tail(); ++c) {
            const uint8_t type = c->header & cell::kTypeMask;
            for (uint32_t node : {c->w2, type == kTypeString ? c->w3 : 0u}) {
                if (type == kTypeInteger || node == 0 || !seen.insert(node).second) continue;
                if (type == kTypeBlock) stack.push_back(node);
            }
        }
    }
    return seen;
}

std::set<uint32_t> MemoryGraphTest::numbers(const std::unordered_set<uint32_t>& nodes) {
    std::set<uint32_t> found;
    for (uint32_t node : nodes) {
        Buffer* b = memory::buffer(node);
        if (b->unit() == 16 && b->length() > 0 && b->cells()[0].header == kTypeInteger)
            found.insert(b->cells()[0].w2);
    }
    return found;
}

} // namespace

// Marking takes references that jump about up later, in id order; whatever the order of the
// references (shuffled, both ways round cycles, all downwards) and whatever they reach
// (blocks, or texts and binaries only), exactly the reachable nodes survive, with their
// content.
TEST_F(MemoryGraphTest, MarkingInAnyReferenceOrderKeepsExactlyWhatIsReachable) {
    record.torture = false;
    collector::state.enabled = 0;
    constexpr uint32_t kBlocks = 25000; // three node frames
    for (Graph graph : {Graph::shuffled, Graph::cycles, Graph::descending, Graph::leaves}) {
        SCOPED_TRACE(static_cast<int>(graph));
        GcRoot root;
        build_graph(graph, kBlocks, root);
        const std::unordered_set<uint32_t> before = walk(root.node());
        const std::set<uint32_t> numbers_before = numbers(before);
        collector::collect();
        EXPECT_EQ(used_nodes(), before.size());
        // The same blocks are reached, and the leaves keep their content.
        const std::unordered_set<uint32_t> after = walk(root.node());
        EXPECT_EQ(after.size(), before.size());
        EXPECT_EQ(numbers(after), numbers_before);
        for (Cell* c = memory::buffer(root.node())->cells();
             graph == Graph::leaves && c < memory::buffer(root.node())->cells_tail(); ++c) {
            const Cell* cells = memory::buffer(c->w2)->cells();
            const uint32_t number = cells[0].w2;
            if (number % 5 == 0) continue;
            const std::string text = "text " + std::to_string(number);
            EXPECT_EQ(text_of(cells[1].w2), text);
            if (number % 2) {
                EXPECT_EQ(text_of(cells[1].w3), text);
            }
            EXPECT_EQ(memory::buffer(cells[2].w2)->node, cells[2].w2);
        }
        root.set_node(0);
        collector::collect();
        EXPECT_EQ(used_nodes(), 0u);
    }
}
