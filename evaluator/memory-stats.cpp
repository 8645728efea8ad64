#include "evaluator/memory-stats.h"

#include <vector>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "runtime-core/collector.h"
#include "runtime-core/heap.h"
#include "runtime-core/memory.h"

namespace memory {

namespace {

struct Triple {
    int64_t free, used, total;
};

// The figures of one walk over the frame lists, taken before anything is appended, so the
// blocks that the report itself allocates do not show in it.
struct Walk {
    std::vector<Triple> nodes;
    std::vector<Triple> series;
    std::vector<int64_t> bigs;
    int64_t in_use = 0;
    int64_t system = 0; // frames with their headers
    int64_t heap = 0;   // heap blocks with their headers
};

Walk walk() {
    const int32_t enabled = collector::state.enabled;
    collector::state.enabled = 0;
    Walk w;
    for (NodeFrame* f = record.first_node_frame; f; f = f->next) {
        w.nodes.push_back({int64_t(f->capacity) - f->used, f->used, f->capacity});
        w.in_use += int64_t(f->used) * kStatsNodeBytes;
        w.system += int64_t(f->capacity) * kStatsNodeBytes + kStatsNodeFrameHeader;
    }
    for (SeriesFrame* f = record.first_series_frame; f; f = f->next) {
        const int64_t used = f->top - f->data();
        const int64_t total = f->end - f->data();
        w.series.push_back({total - used, used, total});
        w.in_use += used;
        w.system += int64_t(f->size) + kStatsSeriesFrameHeader;
    }
    for (BigFrame* f = record.first_big_frame; f; f = f->next) {
        w.bigs.push_back(f->size);
        w.in_use += f->size;
        w.system += int64_t(f->size) + kStatsBigFrameHeader;
    }
    for (BlockHeader* b = heap_anchor.head; b; b = b->next)
        w.heap += static_cast<int64_t>(b->size) + kStatsHeapBlockHeader;
    collector::state.enabled = enabled;
    return w;
}

// Each appended value starts a new line when the report is molded.
void mark_last(const Cell* block) {
    (block::tail_cell(block) - 1)->header |= cell::kNewLine;
}

// Appends a block of eight cells' room to `parent` and keeps it rooted.
void append_triples(const Cell* parent, const std::vector<Triple>& triples) {
    GcRoot list(*block::append_nested(parent, 8));
    mark_last(parent);
    for (const Triple& t : triples) {
        GcRoot item(*block::append_nested(&list.cell(), 8));
        mark_last(&list.cell());
        integer::add_to_block(&item.cell(), static_cast<int32_t>(t.free));
        integer::add_to_block(&item.cell(), static_cast<int32_t>(t.used));
        integer::add_to_block(&item.cell(), static_cast<int32_t>(t.total));
    }
}

} // namespace

void box_size(const Cell* block, int64_t size) {
    if (size <= 2147483647)
        integer::add_to_block(block, static_cast<int32_t>(size));
    else
        float_::make_at(block::append_copy(block, &none::value), static_cast<double>(size));
}

double frame_stats(const Cell* block, int32_t mode) {
    const Walk w = walk();
    if (mode < 2) return static_cast<double>(w.in_use);
    GcRoot target(*block);
    append_triples(&target.cell(), w.nodes);
    append_triples(&target.cell(), w.series);
    {
        GcRoot bigs(*block::append_nested(&target.cell(), 8));
        mark_last(&target.cell());
        for (int64_t size : w.bigs) {
            box_size(&bigs.cell(), size);
            mark_last(&bigs.cell());
        }
    }
    box_size(&target.cell(), w.system + w.heap);
    mark_last(&target.cell());
    box_size(&target.cell(), w.heap);
    mark_last(&target.cell());
    return 0;
}

} // namespace memory
