#include "runtime-core/collector.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <exception>
#include <new>
#include <vector>

#include "runtime-core/externals.h"
#include "runtime-core/runtime.h"
#include "runtime-core/slots.h"
#include "runtime-core/type-traits.h"

namespace collector {

State state;

namespace detail {
GcRoot* roots = nullptr;
GcInteriorBase* interiors = nullptr;
} // namespace detail

} // namespace collector

// The root and interior lists are doubly linked, so that entries may end in any order.
void GcInteriorBase::link() {
    prev_ = nullptr;
    next_ = collector::detail::interiors;
    if (next_) next_->prev_ = this;
    collector::detail::interiors = this;
}

void GcInteriorBase::unlink() {
    if (prev_)
        prev_->next_ = next_;
    else
        collector::detail::interiors = next_;
    if (next_) next_->prev_ = prev_;
}

namespace collector {

using memory::Buffer;
using memory::kBufferOverhead;
using memory::kFlagFixed;
using memory::kFlagMark;
using memory::NodeFrame;
using memory::record;
using memory::SeriesFrame;

namespace {

constexpr uint32_t kMaxMarkers = 100;
constexpr uint32_t kEvacuateBelow = 5000;      // used nodes under which a frame may be evacuated
constexpr int64_t kEvacuateFreeNeeded = 10000; // free nodes needed elsewhere
constexpr uint32_t kLinearSearchMax = 16;
constexpr uintptr_t kTagMoved = 3;

// The markers of the series kinds, by where their data lives (type-traits.h). A hash! and a
// map! also hold a table in word 3: the hash tables install their marker.
constexpr std::array<TypeMarker, 256> default_type_markers() {
    std::array<TypeMarker, 256> t{};
    for (size_t id = 0; id < t.size(); ++id) {
        if (id == kTypeHash || id == kTypeMap) continue;
        switch (traits::kTable[id].data) {
        case traits::Data::cells:
            t[id] = mark_block_cell;
            break;
        case traits::Data::text:
            t[id] = mark_string_cell;
            break;
        case traits::Data::bytes:
            t[id] = mark_series_cell;
            break;
        default:
            break;
        }
    }
    return t;
}

std::array<TypeMarker, 256> type_markers = default_type_markers();
Marker markers[kMaxMarkers];
uint32_t marker_count = 0;
SweepHook owner_sweep = nullptr;

// Cells waiting to be scanned: the explicit work stack of marking.
struct Range {
    Cell* first;
    Cell* last;
};
std::vector<Range> work;

// Fixed buffers lie outside the frames, so the cycle clears their marks itself.
std::vector<Buffer*> fixed_marked;

// Data areas of the series frames and big frames, sorted by address.
struct Span {
    uintptr_t begin;
    uintptr_t end;
};
std::vector<Span> spans;

// Registered interior pointers that point into a frame, sorted by address, and the cursor
// of the one pass that compaction makes over them.
struct Pair {
    uintptr_t address;
    GcInteriorBase* owner;
};
std::vector<Pair> pairs;
size_t pair_cursor = 0;

// Follows the moves that evacuation recorded in the old node slots. Answers the current id
// and its slot content (0 when the id names no node).
uint32_t resolve(uint32_t node, uintptr_t* slot_out) {
    for (;;) {
        uint32_t number = node >> memory::kNodeSlotBits;
        uint32_t index = node & memory::kNodeSlotMask;
        NodeFrame* frame =
            node != 0 && number < record.node_frames_size ? record.node_frames[number] : nullptr;
        if (!frame || index >= frame->capacity) {
            *slot_out = 0;
            return node;
        }
        uintptr_t slot = frame->slots()[index];
        if ((slot & 3) != kTagMoved) {
            *slot_out = slot;
            return node;
        }
        node = static_cast<uint32_t>(slot >> 2);
    }
}

Buffer* live_buffer(uintptr_t slot) {
    return slot != 0 && (slot & 3) == 0 ? reinterpret_cast<Buffer*>(slot) : nullptr;
}

// True while drain() scans: a small cell buffer marked then is scanned at once, while its
// header's cache line is still loaded, instead of going through the work stack. One level
// only, so the machine stack stays flat; what the immediate scan reaches is queued.
bool draining = false;
bool scanning_small = false;
constexpr std::ptrdiff_t kSmallCells = 8;

void scan(Cell* first, Cell* last);

void push_cells(Buffer* b) {
    if (b->unit() != 16) return;
    uint32_t tail = std::min(b->tail, b->size);
    if (b->head >= tail) return;
    Cell* first = reinterpret_cast<Cell*>(b->data() + b->head);
    Cell* last = reinterpret_cast<Cell*>(b->data() + tail);
    if (draining && !scanning_small && last - first <= kSmallCells) {
        scanning_small = true;
        scan(first, last);
        scanning_small = false;
        return;
    }
    work.push_back({first, last});
}

// The slot count of every node frame by frame number (0: no frame), taken when marking
// starts, when no more node frames come or go until it ends. The scan loops check node ids
// against it instead of against the frames' headers: a frame header lies on a page of its own,
// and reading one for every reference in a random graph costs an address translation more.
// The deferral table is the same for the frames whose slots hold buffers directly, 0 for the
// evacuated ones (their references must be rewritten where they are, so they are never
// deferred).
std::vector<uint32_t> slot_counts;
std::vector<uint32_t> defer_counts;

// Deferred references. Marking a cell that refers to a node above the finger only sets the
// node's bit in a per-frame bit table (one for the nodes whose cells are to be scanned, one for
// those only marked); once the work stack is empty, the finger moves up to the next bit set and
// that node is marked then. So the node slots and buffers of a block whose references are in
// random order are visited in id order, which is about address order, and the table itself is
// small enough to stay in the cache. A reference to a node at or below the finger is marked at
// once, as a deferred bit there would not be seen again. The bits take no room on the work
// stack, and both tables are clear between drains.
constexpr uint32_t kFrameWords = (memory::kNodeSlotMask + 1) / 64;
std::vector<uint64_t> pending_scan;
std::vector<uint64_t> pending_mark;
std::vector<uint8_t> pending_in_frame; // per frame number: 1 when it may have bits set
uint32_t pending_low = UINT32_MAX;     // the lowest and highest such frame numbers
uint32_t pending_high = 0;
uint32_t finger = 0;

// Room in the marking tables for `frames` node frame numbers, taken before anything moves:
// false when memory has run out (the cycle is skipped then, and the allocation that asked
// for it fails as it would have anyway).
bool reserve_tables(size_t frames) {
    try {
        slot_counts.reserve(frames);
        defer_counts.reserve(frames);
        pending_in_frame.reserve(frames);
        pending_scan.reserve(frames * kFrameWords);
        pending_mark.reserve(frames * kFrameWords);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void take_slot_counts() {
    slot_counts.assign(record.node_frames_size, 0);
    defer_counts.assign(record.node_frames_size, 0);
    for (NodeFrame* f = record.first_node_frame; f; f = f->next) {
        slot_counts[f->number] = f->capacity;
        if (!f->evacuated) defer_counts[f->number] = f->capacity;
    }
    if (pending_in_frame.size() < record.node_frames_size) {
        pending_in_frame.resize(record.node_frames_size);
        pending_scan.resize(size_t{record.node_frames_size} * kFrameWords);
        pending_mark.resize(size_t{record.node_frames_size} * kFrameWords);
    }
    finger = 0;
}

// Whether a reference to `node` may wait for the finger.
inline bool deferrable(uint32_t node) {
    const uint32_t number = node >> memory::kNodeSlotBits;
    return node > finger && number < defer_counts.size() &&
           (node & memory::kNodeSlotMask) < defer_counts[number];
}

// The node the last reference a scan loop met referred to. A reference to one of the next few
// nodes above it (blocks made one after the other and referred to in that order) is marked at
// once, as the slots and buffers it touches follow those just touched; any other is deferred
// when it may be.
uint32_t last_reference = 0;
constexpr uint32_t kNearIds = 16;

inline bool near(uint32_t node, uint32_t previous) {
    return node - previous < kNearIds;
}

// Whether to defer a reference to `node` met after one to `previous`.
inline bool to_defer(uint32_t node, uint32_t previous) {
    return !near(node, previous) && deferrable(node);
}

// Records a deferrable reference; `scan` for one whose cells are to be scanned.
inline void defer(uint32_t node, bool scan) {
    const uint32_t number = node >> memory::kNodeSlotBits;
    const uint32_t slot = node & memory::kNodeSlotMask;
    const size_t at = size_t{number} * kFrameWords + slot / 64;
    const uint64_t bit = uint64_t{1} << (slot % 64);
    (scan ? pending_scan[at] : pending_mark[at]) |= bit;
    pending_in_frame[number] = 1;
    pending_low = std::min(pending_low, number);
    pending_high = std::max(pending_high, number);
}

// Forgets the deferred references (a cycle that ends early).
void clear_pending() {
    std::fill(pending_scan.begin(), pending_scan.end(), 0);
    std::fill(pending_mark.begin(), pending_mark.end(), 0);
    std::fill(pending_in_frame.begin(), pending_in_frame.end(), 0);
    pending_low = UINT32_MAX;
    pending_high = 0;
    finger = 0;
}

// The node slot of `node` during marking, or null when the id names no slot.
inline uintptr_t* marking_slot(uint32_t node) {
    const uint32_t number = node >> memory::kNodeSlotBits;
    if (number >= slot_counts.size() || (node & memory::kNodeSlotMask) >= slot_counts[number])
        return nullptr;
    return &record.node_frames[number]->slots()[node & memory::kNodeSlotMask];
}

// The buffer of a node whose slot holds one (not moved by evacuation), or null: then the
// marker's own path must follow the node. Inline, for the scan loops.
inline Buffer* direct_buffer(uint32_t node) {
    uintptr_t* slot = marking_slot(node);
    return slot ? live_buffer(*slot) : nullptr;
}

// Marks a buffer reached directly; answers whether the mark is new.
inline bool set_mark(Buffer* b) {
    if (b->flags & kFlagMark) return false;
    b->flags |= kFlagMark;
    if (b->flags & kFlagFixed) fixed_marked.push_back(b);
    return true;
}

// What a cell's type marker does, with the plain series types' markers done inline (deferred,
// or at once when their nodes hold buffers directly); anything else goes to the marker.
// A block (`scan`: its cells are scanned) or plain series node deferred or marked here; false
// when its marker must follow it.
[[gnu::always_inline]] inline bool mark_node_inline(uint32_t node, bool scan) {
    const uint32_t previous = last_reference;
    last_reference = node;
    if (to_defer(node, previous)) {
        defer(node, scan);
        return true;
    }
    Buffer* b = direct_buffer(node);
    if (!b) return false;
    if (set_mark(b) && scan) push_cells(b);
    return true;
}

[[gnu::always_inline]] inline void mark_cell(Cell& c) {
    const TypeMarker m = type_markers[c.header & cell::kTypeMask];
    if (!m) return;
    if (m == mark_block_cell) {
        if (c.w2 == 0 || mark_node_inline(c.w2, true)) return;
    } else if (m == mark_series_cell) {
        if (mark_node_inline(c.w2, false)) return;
    } else if (m == mark_string_cell) {
        const uint32_t previous = last_reference;
        last_reference = c.w2;
        if (to_defer(c.w2, previous) && (c.w3 == 0 || deferrable(c.w3))) {
            defer(c.w2, false);
            if (c.w3 != 0) defer(c.w3, false);
            return;
        }
        // Both nodes held directly, or the marker follows them.
        Buffer* b = direct_buffer(c.w2);
        Buffer* b3 = c.w3 != 0 ? direct_buffer(c.w3) : nullptr;
        if (b && (c.w3 == 0 || b3)) {
            set_mark(b);
            if (b3) set_mark(b3);
            return;
        }
    }
    m(c);
}

void scan(Cell* first, Cell* last) {
    for (Cell* c = first; c < last; ++c) mark_cell(*c);
}

// The slot of a node that a default series marker will look up at once, or null (also for a
// reference that will likely be deferred, judging by the cell before: nothing of it is read
// now).
inline uintptr_t* node_slot_of(const Cell& cell, const Cell& before) {
    const TypeMarker m = type_markers[cell.header & cell::kTypeMask];
    if (m != mark_block_cell && m != mark_string_cell && m != mark_series_cell) return nullptr;
    if (to_defer(cell.w2, before.w2)) return nullptr;
    return marking_slot(cell.w2);
}

// Scans the queued cells depth first, a few at a time: the rest of a long range goes back on
// the stack before its cells are marked, so the buffers they reach are scanned next, while
// their headers are still in the cache, and the stack holds a few entries per level instead
// of one per reached buffer. Marking a cell at once reads its node slot and its buffer's
// header: the headers of the cells kNear ahead are prefetched. (References that jump about are
// deferred, so the slots of those marked at once follow one another and need no prefetch.)
void drain_ranges() {
    constexpr std::ptrdiff_t kChunk = 32;
    constexpr std::ptrdiff_t kNear = 20;
    while (!work.empty()) {
        Range r = work.back();
        work.pop_back();
        Cell* last = r.last;
        if (last - r.first > kChunk) {
            last = r.first + kChunk;
            work.push_back({last, r.last});
        }
        for (Cell* c = r.first; c < last; ++c) {
            if (c + kNear < r.last) {
                if (uintptr_t* slot = node_slot_of(c[kNear], c[kNear - 1])) {
                    const uintptr_t content = *slot;
                    if (content != 0 && (content & 3) == 0) {
                        // The header and the first cells, which may lie on the next line.
                        __builtin_prefetch(reinterpret_cast<void*>(content), 1);
                        __builtin_prefetch(reinterpret_cast<void*>(content + 63));
                    }
                }
            }
            mark_cell(*c);
        }
    }
}

// Marks everything the queued cells and the deferred references reach: the work stack is
// emptied, then the finger moves up to the next deferred node, marks it (which may queue
// cells and defer nodes further up), and so on until both are empty.
void drain() {
    draining = true;
    drain_ranges();
    // One pass up the frames: what a visit defers lies above the finger, so ahead of it.
    for (uint32_t number = pending_low; number <= pending_high; ++number) {
        if (!pending_in_frame[number]) continue;
        uint64_t* scan_words = &pending_scan[size_t{number} * kFrameWords];
        uint64_t* mark_words = &pending_mark[size_t{number} * kFrameWords];
        uintptr_t* slots = record.node_frames[number]->slots();
        const uint32_t words = (defer_counts[number] + 63) / 64;
        for (uint32_t w = 0; w < words; ++w) {
            // The word's bits are taken at once; visiting them may set more bits further up in
            // the same word, hence the loop.
            while (scan_words[w] | mark_words[w]) {
                const uint64_t to_scan = scan_words[w];
                uint64_t bits = to_scan | mark_words[w];
                scan_words[w] = mark_words[w] = 0;
                for (; bits; bits &= bits - 1) {
                    const uint32_t slot = w * 64 + static_cast<uint32_t>(std::countr_zero(bits));
                    finger = number << memory::kNodeSlotBits | slot;
                    Buffer* b = live_buffer(slots[slot]);
                    if (!b) continue;
                    // The next deferred buffers most likely follow this one.
                    __builtin_prefetch(reinterpret_cast<uint8_t*>(b) + 2048, 1);
                    if (set_mark(b) && (to_scan & (bits & -bits))) {
                        push_cells(b);
                        if (!work.empty()) drain_ranges();
                    }
                }
            }
        }
        pending_in_frame[number] = 0;
    }
    pending_low = UINT32_MAX;
    pending_high = 0;
    finger = 0;
    draining = false;
}

// --- Node-frame evacuation ---------------------------------------------------------------

bool can_receive(const NodeFrame* f, const NodeFrame* source) {
    return f->free_head != 0 && !f->evacuated && f != source;
}

uint32_t take_node_for(NodeFrame* source) {
    NodeFrame* f = record.current_node_frame;
    if (!f || !can_receive(f, source)) {
        NodeFrame* found = nullptr;
        for (NodeFrame* g = f ? f->next : nullptr; g && !found; g = g->next)
            if (can_receive(g, source)) found = g;
        for (NodeFrame* g = record.first_node_frame; g && !found; g = g->next)
            if (can_receive(g, source)) found = g;
        record.current_node_frame = found ? found : memory::new_node_frame(memory::kNodesPerFrame);
    }
    return memory::alloc_node();
}

void evacuate(NodeFrame* frame) {
    uintptr_t* slots = frame->slots();
    for (uint32_t i = 0; i < frame->capacity; ++i) {
        uintptr_t slot = slots[i];
        if (!live_buffer(slot)) continue;
        uint32_t moved = take_node_for(frame);
        memory::node_slot(moved) = slot;
        reinterpret_cast<Buffer*>(slot)->node = moved;
        slots[i] = static_cast<uintptr_t>(moved) << 2 | kTagMoved;
        --frame->used;
    }
    frame->evacuated = 1;
}

void evacuate_node_frames() {
    int32_t setting = std::clamp(state.history_setting, 0, 30);
    uint32_t mask = (1u << (setting + 1)) - 1;
    NodeFrame* current = record.first_node_frame;
    while (current && (current->free_head == 0 || current->evacuated)) current = current->next;
    if (!current) return;
    record.current_node_frame = current;
    int64_t free = 0;
    for (NodeFrame* f = record.first_node_frame; f; f = f->next)
        if (f->free_head != 0 && !f->evacuated) free += f->capacity - f->used;
    bool any = false;
    for (NodeFrame* f = record.last_node_frame; f; f = f->prev) {
        if ((f->history & mask) == mask && f->used < kEvacuateBelow && free > kEvacuateFreeNeeded &&
            f != record.current_node_frame) {
            free -= memory::kNodesPerFrame;
            evacuate(f);
            any = true;
        }
    }
    if (any) ++state.node_cycles;
}

// Torture mode: every live node moves to a fresh frame, so that a node id kept in a plain
// variable across an allocation names a released frame afterwards and faults.
// The frames that receive the nodes are made first: where memory runs out, no node moves in
// this cycle, instead of the move failing half-way.
void evacuate_every_node_frame() {
    NodeFrame* last = record.last_node_frame;
    if (!last) return;
    uint64_t live = 0;
    for (NodeFrame* f = record.first_node_frame; f != last->next; f = f->next) live += f->used;
    for (uint64_t room = 0; room < live; room += memory::kNodesPerFrame) {
        if (!memory::new_node_frame(memory::kNodesPerFrame, true)) {
            while (record.last_node_frame != last) memory::free_node_frame(record.last_node_frame);
            return;
        }
    }
    for (NodeFrame* f = record.first_node_frame; f != last->next; f = f->next) f->evacuated = 1;
    for (NodeFrame* f = record.first_node_frame; f != last->next; f = f->next) evacuate(f);
    ++state.node_cycles;
}

// --- Frame tables and interior pointers --------------------------------------------------

void build_frame_table() {
    spans.clear();
    for (SeriesFrame* f = record.first_series_frame; f; f = f->next)
        spans.push_back(
            {reinterpret_cast<uintptr_t>(f->data()), reinterpret_cast<uintptr_t>(f->end)});
    for (memory::BigFrame* f = record.first_big_frame; f; f = f->next) {
        auto begin = reinterpret_cast<uintptr_t>(f->buffer());
        spans.push_back({begin, begin + f->size});
    }
    std::sort(spans.begin(), spans.end(),
              [](const Span& a, const Span& b) { return a.begin < b.begin; });
}

bool in_frames(uintptr_t address) {
    if (spans.size() <= kLinearSearchMax) {
        for (const Span& s : spans)
            if (address >= s.begin && address < s.end) return true;
        return false;
    }
    auto it = std::upper_bound(spans.begin(), spans.end(), address,
                               [](uintptr_t a, const Span& s) { return a < s.begin; });
    return it != spans.begin() && address < std::prev(it)->end;
}

// Fixes the interior pointers into a run of buffers that moved from [old_start, old_end) by
// delta bytes. Runs are reported in increasing address order within a cycle.
void fix_interiors(uintptr_t old_start, uintptr_t old_end, intptr_t delta);

// --- Compaction --------------------------------------------------------------------------

// Moves a run of consecutive buffers and rewrites their nodes. Runs only ever move down (to a
// lower address in the same frame, or into an earlier frame). With garbage between every
// live buffer each run is one small buffer: those are copied a word at a time in place of a
// library call (buffers are 8-byte aligned and their sizes multiples of 8; an upward copy of
// words is right for a move down, even when the two places overlap).
void move_run(uint8_t* from, uint32_t length, uint8_t* to) {
    constexpr uint32_t kWordCopyMax = 256;
    if (from == to || length == 0) return;
    // The nodes first, from the headers where they are (still in the cache, and not yet
    // overwritten by the copy).
    for (uint32_t at = 0; at < length;) {
        auto* b = reinterpret_cast<Buffer*>(from + at);
        if (b->node) memory::node_slot(b->node) = reinterpret_cast<uintptr_t>(to + at);
        at += b->size + kBufferOverhead;
    }
    memory::unpoison(to, length);
    if (length <= kWordCopyMax && to < from) {
        for (uint32_t i = 0; i < length; i += 8) {
            uint64_t word;
            std::memcpy(&word, from + i, 8);
            std::memcpy(to + i, &word, 8);
        }
    } else {
        std::memmove(to, from, length);
    }
    if (pair_cursor < pairs.size())
        fix_interiors(reinterpret_cast<uintptr_t>(from), reinterpret_cast<uintptr_t>(from) + length,
                      to - from);
}

bool marked(const uint8_t* p) {
    return reinterpret_cast<const Buffer*>(p)->flags & kFlagMark;
}
uint32_t total_of(const uint8_t* p) {
    return reinterpret_cast<const Buffer*>(p)->size + kBufferOverhead;
}

// Slides the live buffers of every series frame down, the first frame in place, every later
// one first into the free space of its predecessor while that has more than kMinFrameRoom.
void compact_series_frames() {
    for (SeriesFrame* frame = record.first_series_frame; frame;) {
        SeriesFrame* next = frame->next;
        SeriesFrame* pred = frame->prev;
        uint32_t room = pred ? static_cast<uint32_t>(pred->end - pred->top) : 0;
        if (room <= memory::kMinFrameRoom) room = 0;
        uint8_t* dest = nullptr; // where the next live run slides to inside this frame
        uint8_t* p = frame->data();
        uint8_t* top = frame->top;
        while (p < top) {
            if (!marked(p)) {
                if (!dest) dest = p;
                p = memory::queue_dead_run(p, top);
                continue;
            }
            uint8_t* run = p;
            uint32_t length = 0, last = 0, count = 0;
            while (p < top && marked(p)) {
                reinterpret_cast<Buffer*>(p)->flags &= ~kFlagMark;
                last = total_of(p);
                length += last;
                p += last;
                ++count;
                if (room && length > room) break;
            }
            bool to_pred = false;
            if (room) {
                if (length <= room) {
                    to_pred = true;
                } else if (count > 1) {
                    // Without its last buffer the run fits; that one starts the next run.
                    p -= last;
                    reinterpret_cast<Buffer*>(p)->flags |= kFlagMark;
                    length -= last;
                    to_pred = true;
                }
            }
            if (to_pred) {
                move_run(run, length, pred->top);
                pred->top += length;
                room -= length;
                if (room <= memory::kMinFrameRoom) room = 0;
                // The run's old place is free now: later runs slide down over it and the
                // heap top drops below it, so its stale headers are never walked again.
                if (!dest) dest = run;
            } else if (dest) {
                move_run(run, length, dest);
                dest += length;
            }
        }
        if (dest) {
            memory::poison(dest, static_cast<size_t>(top - dest));
            frame->top = dest;
        }
        if (frame != record.first_series_frame && frame != record.last_series_frame &&
            frame->top == frame->data())
            memory::free_series_frame(frame);
        frame = next;
    }
}

// Torture mode, every other cycle: every live buffer moves to a fresh frame; the old frames
// are filled with 0xDD and stay poisoned until the next cycle, so that a stale address reads
// garbage or trips AddressSanitizer instead of finding the value it expected.
// The frames that receive the buffers are made before anything moves: where memory runs out,
// the cycle compacts in place as the product's cycles do, instead of failing with the heap
// half moved.
bool take_torture_frames(SeriesFrame* old, std::vector<SeriesFrame*>& fresh) {
    try {
        uint32_t room = 0;
        for (SeriesFrame* f = old; f; f = f->next) {
            for (uint8_t* p = f->data(); p < f->top; p += total_of(p)) {
                if (!(reinterpret_cast<Buffer*>(p)->flags & kFlagMark)) continue;
                const uint32_t total = total_of(p);
                if (fresh.empty() || room < total) {
                    SeriesFrame* frame = memory::new_series_frame(true);
                    if (!frame) return false;
                    fresh.push_back(frame);
                    room = static_cast<uint32_t>(frame->end - frame->top);
                }
                room -= total;
            }
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void compact_torture() {
    SeriesFrame* old = record.first_series_frame;
    SeriesFrame* old_last = record.last_series_frame;
    SeriesFrame* old_active = record.active_series_frame;
    record.first_series_frame = record.last_series_frame = record.active_series_frame = nullptr;
    std::vector<SeriesFrame*> fresh;
    if (!take_torture_frames(old, fresh)) {
        for (SeriesFrame* frame : fresh) memory::free_series_frame(frame);
        record.first_series_frame = old;
        record.last_series_frame = old_last;
        record.active_series_frame = old_active;
        compact_series_frames();
        return;
    }
    size_t next = 0;
    SeriesFrame* to = nullptr;
    for (SeriesFrame* f = old; f; f = f->next) {
        for (uint8_t* p = f->data(); p < f->top;) {
            auto* b = reinterpret_cast<Buffer*>(p);
            uint32_t total = total_of(p);
            if (b->flags & kFlagMark) {
                b->flags &= ~kFlagMark;
                if (!to || static_cast<uint32_t>(to->end - to->top) < total) to = fresh[next++];
                move_run(p, total, to->top);
                to->top += total;
            } else {
                memory::queue_free_node(b->node, b);
            }
            p += total;
        }
    }
    while (old) {
        SeriesFrame* next = old->next;
        size_t used = static_cast<size_t>(old->top - old->data());
        memory::unpoison(old->data(), used);
        std::memset(old->data(), 0xDD, used);
        memory::free_os_block(old);
        old = next;
    }
    if (to) record.active_series_frame = to;
}

// While pinned nothing may move and no node id may change: a dead buffer gives its node back
// where it lies (its space waits for the next moving cycle), and each frame's heap top drops
// to the end of its last live buffer, so that what a pinned section allocates and drops is
// taken again instead of new frames.
void sweep_in_place() {
    for (SeriesFrame* frame = record.first_series_frame; frame; frame = frame->next) {
        uint8_t* live_end = frame->data();
        for (uint8_t* p = frame->data(); p < frame->top; p += total_of(p)) {
            auto* b = reinterpret_cast<Buffer*>(p);
            if (b->flags & kFlagMark) {
                b->flags &= ~kFlagMark;
                live_end = p + total_of(p);
            } else if (b->node) {
                memory::queue_free_node(b->node, b);
                b->node = 0;
                memory::poison(b->data(), b->size);
            }
        }
        memory::poison(live_end, static_cast<size_t>(frame->top - live_end));
        frame->top = live_end;
    }
}

// Clears the marks that an unfinished cycle left on buffers and external rows.
void clear_marks() {
    for (SeriesFrame* frame = record.first_series_frame; frame; frame = frame->next)
        for (uint8_t* p = frame->data(); p < frame->top; p += total_of(p))
            reinterpret_cast<Buffer*>(p)->flags &= ~kFlagMark;
    for (memory::BigFrame* f = record.first_big_frame; f; f = f->next)
        f->buffer()->flags &= ~kFlagMark;
    for (Buffer* b : fixed_marked) b->flags &= ~kFlagMark;
    externals::clear_marks();
}

// A cycle from its busy flag to its end. Whatever way it ends, the flag goes down and no
// cycle state is left behind: a cycle that does not reach its end (an exception from a
// marker) clears the marks it set, so that collection goes on working afterwards.
class Cycle {
public:
    Cycle() { state.busy.store(1); }
    ~Cycle() {
        if (!finished_) clear_marks();
        work.clear();
        draining = scanning_small = false;
        fixed_marked.clear();
        pairs.clear();
        slot_counts.clear();
        defer_counts.clear();
        if (pending_high != 0) clear_pending();
        finger = 0;
        memory::flush_free_nodes();
        state.busy.store(0);
    }
    Cycle(const Cycle&) = delete;
    Cycle& operator=(const Cycle&) = delete;
    void finish() { finished_ = true; }

private:
    bool finished_ = false;
};

} // namespace

namespace detail {

struct Access {
    static void mark_roots() {
        for (GcRoot* r = roots; r; r = r->next_) {
            if (r->holds_cell_) {
                TypeMarker m = type_markers[r->cell_.header & cell::kTypeMask];
                if (m) m(r->cell_);
            } else {
                mark_node_cells(r->node_);
            }
            drain();
        }
    }
    static void record_interiors() {
        pairs.clear();
        pair_cursor = 0;
        for (GcInteriorBase* i = interiors; i; i = i->next_) {
            auto address = reinterpret_cast<uintptr_t>(i->address_);
            if (in_frames(address)) pairs.push_back({address, i});
        }
        std::sort(pairs.begin(), pairs.end(),
                  [](const Pair& a, const Pair& b) { return a.address < b.address; });
    }
    static void set(GcInteriorBase* i, uintptr_t address) {
        i->address_ = reinterpret_cast<void*>(address);
    }
};

} // namespace detail

namespace {

void fix_interiors(uintptr_t old_start, uintptr_t old_end, intptr_t delta) {
    while (pair_cursor < pairs.size() && pairs[pair_cursor].address < old_start) ++pair_cursor;
    for (; pair_cursor < pairs.size() && pairs[pair_cursor].address < old_end; ++pair_cursor)
        detail::Access::set(pairs[pair_cursor].owner,
                            pairs[pair_cursor].address + static_cast<uintptr_t>(delta));
}

} // namespace

// --- Public interface --------------------------------------------------------------------

void init() {
    state.series_cycles = 0;
    state.node_cycles = 0;
    state.history_setting = 5;
}

void collect() {
    if (busy() || state.holds) return;
    std::exception_ptr failure;
    {
        Cycle cycle;
        // A pinned cycle moves nothing. Torture alternates moving every buffer with the
        // sliding compaction the product runs, and moves every node at each cycle.
        const bool pinned = state.pins > 0;
        // Torture's node moves may add frames (and double the frame-number table). Where
        // memory is too short for those tables, the cycle runs as the product's would, so
        // that it still frees what is dead.
        bool torture = record.torture;
        if (torture) {
            uint64_t live = 0;
            for (NodeFrame* f = record.first_node_frame; f; f = f->next) live += f->used;
            torture =
                reserve_tables(2 * (record.node_frames_size + live / memory::kNodesPerFrame + 2));
        }
        if (!torture && !reserve_tables(record.node_frames_size)) return;
        const bool move_all = torture && state.series_cycles % 2 == 0;
        if (torture) memory::release_quarantine();
        if (state.node_compaction && !pinned) {
            if (torture)
                evacuate_every_node_frame();
            else
                evacuate_node_frames();
        }
        take_slot_counts();
        detail::Access::mark_roots();
        slots::mark();
        drain();
        for (uint32_t i = 0; i < marker_count; ++i) {
            if (!markers[i]) continue;
            markers[i]();
            drain();
        }
        build_frame_table();
        detail::Access::record_interiors();
        // A release callback or the owner sweep may raise an error: the cycle still ends as
        // it should, and the error goes on from there.
        try {
            externals::sweep();
        } catch (...) {
            failure = std::current_exception();
        }
        try {
            if (owner_sweep) owner_sweep();
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
        if (pinned)
            sweep_in_place();
        else if (move_all)
            compact_torture();
        else
            compact_series_frames();
        memory::sweep_big_frames();
        memory::flush_free_nodes();
        memory::trim_node_frames();
        for (Buffer* b : fixed_marked) b->flags &= ~kFlagMark;
        memory::release_spare_blocks(false);
        ++state.series_cycles;
        cycle.finish();
    }
    if (failure) std::rethrow_exception(failure);
    memory::raise_deferred_fault();
}

void collect_if_enabled() {
    if (state.enabled == 1) collect();
}

void add_marker(Marker marker) {
    if (marker_count == kMaxMarkers) runtime::quit(runtime::kErrorAssertion, ZAN_CALLER_ADDRESS());
    markers[marker_count++] = marker;
}

void set_type_marker(uint8_t type, TypeMarker marker) {
    type_markers[type] = marker;
}

TypeMarker type_marker(uint8_t type) {
    return type_markers[type];
}

void set_owner_sweep(SweepHook hook) {
    owner_sweep = hook;
}

void reset_registrations() {
    marker_count = 0;
    owner_sweep = nullptr;
    type_markers = default_type_markers();
}

bool mark_series(uint32_t& slot) {
    if (!busy()) return false;
    uintptr_t content;
    uint32_t node = resolve(slot, &content);
    if (node != slot) slot = node;
    Buffer* b = live_buffer(content);
    return b && set_mark(b);
}

void mark_node_cells(uint32_t& slot) {
    if (mark_series(slot)) push_cells(memory::buffer(slot));
}

void mark_block_value(Cell& cell) {
    if (cell.w2 != 0) mark_node_cells(cell.w2);
}

void mark_block(Cell* first, Cell* last) {
    if (busy() && first < last) work.push_back({first, last});
}

void unmark(uint32_t node) {
    uintptr_t content;
    resolve(node, &content);
    if (Buffer* b = live_buffer(content)) b->flags &= ~kFlagMark;
}

bool is_marked(uint32_t node) {
    uintptr_t content;
    resolve(node, &content);
    Buffer* b = live_buffer(content);
    return b && (b->flags & kFlagMark);
}

uint32_t forward(uint32_t node) {
    uintptr_t content;
    return resolve(node, &content);
}

void mark_block_cell(Cell& cell) {
    mark_block_value(cell);
}

void mark_string_cell(Cell& cell) {
    mark_series(cell.w2);
    if (cell.w3 != 0) mark_series(cell.w3);
}

void mark_series_cell(Cell& cell) {
    mark_series(cell.w2);
}

} // namespace collector
