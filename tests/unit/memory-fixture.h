// A fresh memory manager for each test, as start-up leaves it (one node frame, one series
// frame), with the collector enabled. Torture mode follows ZAN_GC_TORTURE unless a test
// that pins an exact heap layout switches it off.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime-core/collector.h"
#include "runtime-core/externals.h"
#include "runtime-core/memory.h"
#include "runtime-core/slots.h"

class MemoryTest : public testing::Test {
protected:
    void SetUp() override {
        memory::init();
        externals::init();
        slots::table = slots::Table{};
        memory::new_node_frame(memory::kNodesPerFrame);
        memory::new_series_frame();
        collector::init();
        collector::state.enabled = 1;
    }
    void TearDown() override {
        collector::reset_registrations();
        collector::state.enabled = 0;
        collector::state.node_compaction = 1;
        slots::table = slots::Table{};
        memory::release_all();
    }

    // A byte series holding `text`. May collect.
    static uint32_t make_text(const char* text) {
        uint32_t n = static_cast<uint32_t>(std::strlen(text));
        uint32_t node = memory::alloc_bytes(n);
        memory::Buffer* b = memory::buffer(node);
        std::memcpy(b->data(), text, n);
        b->tail = n;
        return node;
    }
    static std::string text_of(uint32_t node) {
        memory::Buffer* b = memory::buffer(node);
        return std::string(reinterpret_cast<char*>(b->at_head()), b->tail - b->head);
    }
    static Cell block_of(uint32_t node) { return Cell{kTypeBlock, 0, node, 0}; }
    static Cell string_of(uint32_t node) { return Cell{kTypeString, 0, node, 0}; }

    // Appends `value` to the block that `block` roots (the value kept alive meanwhile). May
    // collect. The block is taken by its root, not by an id read before the call: evaluating
    // the value may allocate, and an id read before that would be stale.
    static void append(GcRoot& block, const Cell& value) {
        GcRoot keep(value);
        Cell* c = memory::alloc_tail_cell(memory::buffer(block.node()));
        *c = keep.cell();
    }
    // The same for a block whose id lives in a variable that a registered marker keeps up to
    // date.
    static void append(uint32_t& marked_block, const Cell& value) {
        GcRoot keep(value);
        Cell* c = memory::alloc_tail_cell(memory::buffer(marked_block));
        *c = keep.cell();
    }

    // Bytes of live buffers in the series frames.
    static uint64_t frame_bytes_used() {
        uint64_t used = 0;
        for (memory::SeriesFrame* f = memory::record.first_series_frame; f; f = f->next)
            used += static_cast<uint64_t>(f->top - f->data());
        return used;
    }
    static int series_frame_count() {
        int n = 0;
        for (memory::SeriesFrame* f = memory::record.first_series_frame; f; f = f->next) ++n;
        return n;
    }
    static int node_frame_count() {
        int n = 0;
        for (memory::NodeFrame* f = memory::record.first_node_frame; f; f = f->next) ++n;
        return n;
    }
    // Whether `node` is free (its buffer was reclaimed).
    static bool reclaimed(uint32_t node) { return memory::find_buffer(node) == nullptr; }
};
