#include "runtime-core/memory.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "runtime-core/collector.h"
#include "runtime-core/heap.h"
#include "runtime-core/platform.h"
#include "runtime-core/runtime.h"
#include "runtime-core/throw.h"

namespace memory {

MemoryRecord record;

namespace {

// An OS block starts with its rounded size; the frame follows, pointer-aligned.
constexpr size_t kPrefix = sizeof(void*);
constexpr size_t kPage = 4096;
// Free and moved node slots carry a tag in their low bits; buffer addresses never do.
constexpr uintptr_t kTagFree = 1;
constexpr uint32_t kSeriesHeaderCount = 20; // what a series frame's header counts for
// The largest capacity a series may ask for: sizes stay positive as signed 32-bit numbers.
constexpr uint64_t kMaxSeriesBytes = 0x7FFFFFFFu - 2 * kMaxFrameSize;

static_assert((kPrefix + sizeof(SeriesFrame)) % 8 == 0, "buffers start 8-byte aligned");
static_assert((kPrefix + sizeof(BigFrame)) % 8 == 0, "big buffers start 8-byte aligned");
static_assert(sizeof(NodeFrame) % sizeof(uintptr_t) == 0, "node slots are aligned");

FaultHook fault_hook = nullptr;
bool fault_pending = false;

// The queued dead nodes are a bit per slot of each frame that has some; the queue array lists
// those frames. Returning a batch walks each frame's bits upwards, which hands the nodes back
// in id order (the order the free lists, and so the ids of later nodes, depend on) without a
// sort.
constexpr uint32_t kPendingWords = (kNodeSlotMask + 1) / 64;
std::vector<uint32_t> pending_index; // per frame number: 1 + its place in the queue array, or 0
std::vector<uint64_t> pending_bits;  // kPendingWords words per entry of the queue array

uintptr_t free_tag(uint32_t next) {
    return static_cast<uintptr_t>(next) << 2 | kTagFree;
}

uint32_t node_id(const NodeFrame* frame, uint32_t slot) {
    return frame->number << kNodeSlotBits | slot;
}

void init_node_free_list(NodeFrame* frame) {
    uintptr_t* slots = frame->slots();
    for (uint32_t i = 0; i + 1 < frame->capacity; ++i) slots[i] = free_tag(node_id(frame, i + 1));
    slots[frame->capacity - 1] = free_tag(0);
    frame->free_head = node_id(frame, 0);
}

// A frame number for a new node frame: the lowest free entry of the node table (in torture
// mode the next free one after the number handed out last, coming round to the lowest only
// when the table can grow no more).
uint32_t take_frame_number(NodeFrame* frame) {
    constexpr uint32_t kMaxFrames = 1u << (32 - kNodeSlotBits - 2); // ids << 2 fit 32 bits
    auto claim = [frame](uint32_t number) {
        record.node_frames[number] = frame;
        record.next_frame_number = number + 1;
        return number;
    };
    const uint32_t start = record.torture ? std::max(record.next_frame_number, 1u) : 1;
    for (uint32_t i = start; i < record.node_frames_size; ++i)
        if (!record.node_frames[i]) return claim(i);
    uint32_t old_size = record.node_frames_size;
    if (old_size < kMaxFrames) {
        uint32_t new_size = old_size < 16 ? 16 : old_size * 2;
        record.node_frames = static_cast<NodeFrame**>(
            memory::realloc(record.node_frames, new_size * sizeof(NodeFrame*)));
        for (uint32_t i = old_size; i < new_size; ++i) record.node_frames[i] = nullptr;
        record.node_frames_size = new_size;
        return claim(old_size == 0 ? 1 : old_size);
    }
    for (uint32_t i = 1; i < start && i < record.node_frames_size; ++i)
        if (!record.node_frames[i]) return claim(i);
    raise(Fault::no_memory);
}

bool has_room(const SeriesFrame* frame, uint32_t total) {
    return static_cast<size_t>(frame->end - frame->top) > total;
}

BigFrame* alloc_big_frame(uint32_t total) {
    auto* frame = static_cast<BigFrame*>(alloc_os_block(sizeof(BigFrame) + total));
    frame->next = nullptr;
    frame->prev = nullptr;
    frame->size = total;
    BigFrame** link = &record.first_big_frame;
    while (*link) link = &(*link)->next;
    *link = frame;
    return frame;
}

void init_header(Buffer* b, uint32_t flags, uint32_t size, int32_t offset) {
    b->flags = flags;
    b->node = 0;
    b->size = size;
    uint32_t at;
    if (offset == -1) {
        at = size / 2;
        b->flags |= kFlagMiddle;
    } else {
        at = std::min(static_cast<uint32_t>(std::max(offset, 0)), size);
    }
    b->head = b->tail = at;
}

uint32_t capacity_for(uint32_t count, uint32_t unit) {
    uint64_t bytes = static_cast<uint64_t>(count) * unit;
    if (bytes > kMaxSeriesBytes) raise(Fault::no_memory);
    return static_cast<uint32_t>((bytes + 15) & ~uint64_t(15));
}

// The flags of a buffer that takes over from `source`: the source's own bits, with the
// placement bits (fixed, big) those of the new buffer. The mark never carries over.
uint32_t inherited_flags(uint32_t source, uint32_t target) {
    constexpr uint32_t kPlacement = kFlagFixed | kFlagBig;
    return (source & ~(kPlacement | kFlagMark)) | (target & kPlacement);
}

} // namespace

// --- Set-up -----------------------------------------------------------------------------

void init() {
    if (record.free_node_queue || record.first_node_frame || record.first_series_frame ||
        record.first_big_frame)
        release_all();
    record = MemoryRecord{};
    record.free_node_queue =
        static_cast<uint32_t*>(memory::alloc(kFreeNodeQueueSize * sizeof(uint32_t)));
    const char* torture = std::getenv("ZAN_GC_TORTURE");
    record.torture = torture && std::strcmp(torture, "1") == 0;
    fault_pending = false;
}

void release_all() {
    while (record.first_node_frame) free_node_frame(record.first_node_frame);
    while (record.first_series_frame) free_series_frame(record.first_series_frame);
    while (record.first_big_frame) free_big_frame(record.first_big_frame);
    release_quarantine();
    release_spare_blocks(true);
    memory::free(record.node_frames);
    memory::free(record.free_node_queue);
    // Queued nodes of the frames just released are forgotten.
    std::fill(pending_bits.begin(), pending_bits.end(), 0);
    std::fill(pending_index.begin(), pending_index.end(), 0);
    bool torture = record.torture;
    record = MemoryRecord{};
    record.torture = torture;
}

// --- Failures ---------------------------------------------------------------------------

void set_fault_hook(FaultHook hook) {
    fault_hook = hook;
}

bool has_fault_hook() {
    return fault_hook != nullptr;
}

void raise(Fault fault) {
    if (fault_hook) fault_hook(fault);
    runtime::quit(fault == Fault::no_memory ? runtime::kErrorOutOfMemory : runtime::kErrorUnknown,
                  ZAN_CALLER_ADDRESS());
}

void raise_deferred_fault() {
    if (!fault_pending) return;
    fault_pending = false;
    raise(Fault::wrong_mem);
}

// --- OS blocks ----------------------------------------------------------------------------

namespace {

// What a kept block holds at its frame address (the rest of it is poisoned).
struct KeptBlock {
    KeptBlock* next;
    size_t rounded;
    int32_t cycle; // the collector's cycle count when it was kept
};
// Spare blocks are frames of the usual sizes; big frames go back at once.
constexpr size_t kLargestSpare = kMaxFrameSize + 2 * kPage;

size_t rounded_size(const void* frame) {
    return *reinterpret_cast<const size_t*>(static_cast<const uint8_t*>(frame) - kPrefix);
}

void keep_block(void*& list, void* frame) {
    size_t rounded = rounded_size(frame);
    poison(frame, rounded - kPrefix);
    unpoison(frame, sizeof(KeptBlock));
    auto* kept = static_cast<KeptBlock*>(frame);
    kept->next = static_cast<KeptBlock*>(list);
    kept->rounded = rounded;
    kept->cycle = collector::state.series_cycles;
    list = kept;
    record.os_bytes -= static_cast<int64_t>(rounded);
}

void* take_spare_block(size_t rounded) {
    for (auto** link = reinterpret_cast<KeptBlock**>(&record.spare_blocks); *link;
         link = &(*link)->next) {
        KeptBlock* kept = *link;
        if (kept->rounded != rounded) continue;
        *link = kept->next;
        unpoison(kept, rounded - kPrefix);
        record.os_bytes += static_cast<int64_t>(rounded);
        return kept;
    }
    return nullptr;
}

// Returns a block to the system. Answers false when that failed during a cycle (the fault is
// raised at its end); a failure outside a cycle raises Fault::wrong_mem at once.
bool release_block(void* frame) {
    uint8_t* block = static_cast<uint8_t*>(frame) - kPrefix;
    size_t rounded = rounded_size(frame);
    unpoison(block, rounded);
    uint32_t code = runtime::catch_level(runtime::kLevelMemory,
                                         [&] { platform::free_virtual(block, rounded); });
    if (code == 0) return true;
    if (code != runtime::kThrowAllocVirtual && code != runtime::kThrowFreeVirtual)
        runtime::rethrow();
    runtime::reset_thrown_code();
    // A cycle raises nothing while it runs: the failure waits for its end.
    if (!collector::busy()) raise(Fault::wrong_mem);
    fault_pending = true;
    return false;
}

} // namespace

void* alloc_os_block(size_t size, bool or_null) {
    if (size > SIZE_MAX / 2) {
        if (or_null) return nullptr;
        raise(Fault::no_memory);
    }
    size_t rounded = (size + kPrefix + kPage - 1) & ~(kPage - 1);
    if (void* spare = take_spare_block(rounded)) return spare;
    void* block = nullptr;
    uint32_t code = runtime::catch_level(runtime::kLevelMemory,
                                         [&] { block = platform::alloc_virtual(rounded, false); });
    if (code == runtime::kThrowAllocVirtual || code == runtime::kThrowFreeVirtual) {
        runtime::reset_thrown_code();
        if (or_null && code == runtime::kThrowAllocVirtual) return nullptr;
        raise(code == runtime::kThrowAllocVirtual ? Fault::no_memory : Fault::wrong_mem);
    }
    if (code) runtime::rethrow();
    *static_cast<size_t*>(block) = rounded;
    record.os_bytes += static_cast<int64_t>(rounded);
    return static_cast<uint8_t*>(block) + kPrefix;
}

void free_os_block(void* frame) {
    if (collector::busy() && record.torture) {
        keep_block(record.quarantine, frame);
    } else if (collector::busy() && rounded_size(frame) <= kLargestSpare) {
        keep_block(record.spare_blocks, frame);
    } else {
        size_t rounded = rounded_size(frame);
        if (release_block(frame)) record.os_bytes -= static_cast<int64_t>(rounded);
    }
}

void release_spare_blocks(bool all) {
    auto** link = reinterpret_cast<KeptBlock**>(&record.spare_blocks);
    while (*link) {
        KeptBlock* kept = *link;
        if (all || kept->cycle < collector::state.series_cycles) {
            *link = kept->next;
            release_block(kept); // already uncounted
        } else {
            link = &kept->next;
        }
    }
}

void release_quarantine() {
    while (record.quarantine) {
        auto* kept = static_cast<KeptBlock*>(record.quarantine);
        record.quarantine = kept->next;
        kept->cycle = collector::state.series_cycles;
        kept->next = static_cast<KeptBlock*>(record.spare_blocks);
        record.spare_blocks = kept;
    }
}

// --- Nodes --------------------------------------------------------------------------------

Buffer* find_buffer(uint32_t node) {
    uint32_t number = node >> kNodeSlotBits;
    if (node == 0 || number >= record.node_frames_size) return nullptr;
    NodeFrame* frame = record.node_frames[number];
    if (!frame || (node & kNodeSlotMask) >= frame->capacity) return nullptr;
    uintptr_t slot = frame->slots()[node & kNodeSlotMask];
    if (slot == 0 || (slot & 3) != 0) return nullptr;
    return reinterpret_cast<Buffer*>(slot);
}

NodeFrame* new_node_frame(uint32_t count, bool or_null) {
    if (count == 0 || count > kNodeSlotMask + 1) count = kNodesPerFrame;
    auto* frame = static_cast<NodeFrame*>(
        alloc_os_block(sizeof(NodeFrame) + count * sizeof(uintptr_t), or_null));
    if (!frame) return nullptr;
    frame->next = nullptr;
    frame->prev = record.last_node_frame;
    frame->capacity = count;
    frame->used = 0;
    frame->created_cycle = static_cast<uint32_t>(collector::state.series_cycles);
    frame->used_at_last = 0;
    frame->history = 0;
    frame->evacuated = 0;
    frame->number = take_frame_number(frame);
    init_node_free_list(frame);
    if (record.last_node_frame)
        record.last_node_frame->next = frame;
    else
        record.first_node_frame = record.current_node_frame = frame;
    record.last_node_frame = frame;
    return frame;
}

uint32_t alloc_node() {
    NodeFrame* frame = record.current_node_frame;
    if (!frame || frame->free_head == 0 || frame->evacuated) {
        frame = record.first_node_frame;
        while (frame && (frame->free_head == 0 || frame->evacuated)) frame = frame->next;
        if (!frame) frame = new_node_frame(kNodesPerFrame);
        record.current_node_frame = frame;
    }
    uint32_t node = frame->free_head;
    uintptr_t& slot = frame->slots()[node & kNodeSlotMask];
    frame->free_head = static_cast<uint32_t>(slot >> 2);
    slot = 0;
    ++frame->used;
    return node;
}

void free_node(NodeFrame* frame, uint32_t node) {
    frame->slots()[node & kNodeSlotMask] = free_tag(frame->free_head);
    frame->free_head = node;
    --frame->used;
}

void free_node_frame(NodeFrame* frame) {
    if (frame->prev)
        frame->prev->next = frame->next;
    else
        record.first_node_frame = frame->next;
    if (frame->next)
        frame->next->prev = frame->prev;
    else
        record.last_node_frame = frame->prev;
    if (record.current_node_frame == frame) record.current_node_frame = record.last_node_frame;
    record.node_frames[frame->number] = nullptr;
    free_os_block(frame);
}

// --- Frames -------------------------------------------------------------------------------

SeriesFrame* new_series_frame(bool or_null) {
    uint32_t size = record.next_frame_size;
    auto* frame = static_cast<SeriesFrame*>(alloc_os_block(sizeof(SeriesFrame) + size, or_null));
    if (!frame) return nullptr;
    if (size < record.max_frame_size) record.next_frame_size = size * 2;
    frame->size = size + kSeriesHeaderCount;
    frame->top = frame->data();
    frame->end = frame->data() + size;
    poison(frame->data(), size);
    // Insert in address order.
    SeriesFrame* after = nullptr;
    for (SeriesFrame* f = record.first_series_frame; f && f < frame; f = f->next) after = f;
    frame->prev = after;
    frame->next = after ? after->next : record.first_series_frame;
    if (frame->next)
        frame->next->prev = frame;
    else
        record.last_series_frame = frame;
    if (after)
        after->next = frame;
    else
        record.first_series_frame = frame;
    if (!record.active_series_frame) record.active_series_frame = frame;
    return frame;
}

SeriesFrame* find_series_frame(uint32_t total) {
    for (SeriesFrame* f = record.first_series_frame; f; f = f->next)
        if (has_room(f, total)) return f;
    return nullptr;
}

void free_series_frame(SeriesFrame* frame) {
    if (frame->prev)
        frame->prev->next = frame->next;
    else
        record.first_series_frame = frame->next;
    if (frame->next)
        frame->next->prev = frame->prev;
    else
        record.last_series_frame = frame->prev;
    if (record.active_series_frame == frame) record.active_series_frame = record.last_series_frame;
    free_os_block(frame);
}

void free_big_frame(BigFrame* frame) {
    BigFrame** link = &record.first_big_frame;
    while (*link && *link != frame) link = &(*link)->next;
    if (*link) *link = frame->next;
    free_os_block(frame);
}

// --- Allocation ---------------------------------------------------------------------------

Buffer* alloc_series_buffer(uint32_t count, uint32_t unit, int32_t offset) {
    if (record.torture) collector::collect_if_enabled();
    uint32_t size = capacity_for(count, unit);
    uint32_t total = size + kBufferOverhead;
    uint32_t flags = unit | kFlagInUse | kFlagNew;
    Buffer* b;
    if (total >= record.max_frame_size) {
        if (!record.torture) collector::collect_if_enabled();
        b = alloc_big_frame(total)->buffer();
        flags |= kFlagBig;
    } else {
        SeriesFrame* frame = record.active_series_frame;
        if (!frame || !has_room(frame, total)) {
            frame = find_series_frame(total);
            if (!frame) {
                if (!record.torture) collector::collect_if_enabled();
                frame = find_series_frame(total);
                if (!frame || static_cast<uint32_t>(frame->end - frame->top) < kMinFrameRoom) {
                    if (total >= record.next_frame_size)
                        record.next_frame_size = record.max_frame_size;
                    frame = new_series_frame();
                }
            }
            record.active_series_frame = frame;
        }
        b = reinterpret_cast<Buffer*>(frame->top);
        unpoison(b, total);
        frame->top += total;
    }
    // A buffer made while a cycle runs (a release callback, a sweep hook) was not reached by
    // marking: it counts as reached, or compaction would take it for garbage.
    if (collector::busy()) flags |= kFlagMark;
    init_header(b, flags, size, offset);
    return b;
}

uint32_t alloc_series(uint32_t count, uint32_t unit, int32_t offset) {
    Buffer* b = alloc_series_buffer(count, unit, offset);
    uint32_t node = alloc_node();
    node_slot(node) = reinterpret_cast<uintptr_t>(b);
    b->node = node;
    return node;
}

uint32_t alloc_unmanaged_series(uint32_t count, uint32_t unit, int32_t offset) {
    uint32_t size = capacity_for(count, unit);
    auto* b = static_cast<Buffer*>(memory::alloc(size + sizeof(Buffer)));
    init_header(b, unit | kFlagInUse | kFlagFixed | kFlagNew, size, offset);
    uint32_t node = alloc_node();
    node_slot(node) = reinterpret_cast<uintptr_t>(b);
    b->node = node;
    return node;
}

uint32_t alloc_cells(uint32_t count) {
    return alloc_series(count, 16, 0);
}

uint32_t alloc_unset_cells(uint32_t count) {
    uint32_t node = alloc_series(count, 16, 0);
    Buffer* b = buffer(node);
    auto* c = reinterpret_cast<Cell*>(b->data());
    for (uint32_t i = 0; i < b->size / 16; ++i) c[i] = Cell{kTypeUnset, 0, 0, 0};
    return node;
}

uint32_t alloc_bytes(uint32_t size) {
    return alloc_series(size == 0 ? 16 : size, 1, 0);
}

uint32_t alloc_units(uint32_t count, uint32_t unit) {
    if (count == 0) count = 16 >> (unit >> 1);
    return alloc_series(count, unit, 0);
}

uint32_t alloc_bytes_filled(uint32_t size, uint8_t byte) {
    uint32_t node = alloc_bytes(size);
    Buffer* b = buffer(node);
    fill(b->data(), b->end(), byte);
    return node;
}

void set_series_flag(uint32_t node, uint32_t bits) {
    buffer(node)->flags |= bits;
}

namespace {

// expand_series, also answering where the old buffer is once the allocation is done.
Buffer* expand(Buffer* old, uint32_t new_size, Buffer** old_now) {
    uint32_t unit = old->unit();
    // Default growth doubles; a buffer made with no room at all grows to the smallest size.
    if (new_size == 0) new_size = old->size ? old->size * 2 : 16;
    if (static_cast<int32_t>(new_size) < 1) raise(Fault::no_memory);
    // The content must fit, whatever size was asked for.
    new_size = std::max(new_size, old->tail - old->head);
    // The series stays alive and in place for the collector while its new buffer is taken,
    // also when nothing else refers to it yet.
    std::optional<NoCollectScope> pin;
    if (old->node == 0) pin.emplace();
    GcRoot root(old->node);
    Buffer* nb = alloc_series_buffer(new_size / unit, unit, 0);
    uint32_t node = root.node();
    if (node) {
        old = buffer(node);
        node_slot(node) = reinterpret_cast<uintptr_t>(nb);
    }
    nb->flags = inherited_flags(old->flags, nb->flags);
    nb->node = node;
    nb->tail = nb->head + (old->tail - old->head);
    old->node = 0;
    old->flags &= ~kFlagInUse;
    *old_now = old;
    return nb;
}

// The old buffer of an expansion is garbage from now on: its data is poisoned until
// compaction reuses the space (fixed buffers are heap blocks and stay as they are).
void retire(Buffer* old) {
    if (!(old->flags & kFlagFixed)) poison(old->data(), old->size);
}

} // namespace

Buffer* expand_series(Buffer* buffer, uint32_t new_size) {
    Buffer* old;
    return expand(buffer, new_size, &old);
}

Buffer* expand_series_to(Buffer* buffer, uint32_t new_size) {
    Buffer* old;
    Buffer* nb = expand(buffer, new_size, &old);
    std::memcpy(nb->data(), old->at_head(), old->tail - old->head);
    retire(old);
    return nb;
}

Buffer* expand_series_filled(Buffer* buffer, uint32_t new_size, uint8_t byte) {
    Buffer* old;
    Buffer* nb = expand(buffer, new_size, &old);
    uint32_t old_size = old->size;
    std::memcpy(nb->data(), old->at_head(), old->tail - old->head);
    retire(old);
    if (old_size < nb->size) fill(nb->data() + old_size, nb->end(), byte);
    return nb;
}

uint32_t copy_series(Buffer* source) {
    std::optional<NoCollectScope> pin;
    if (source->node == 0) pin.emplace();
    GcRoot root(source->node);
    uint32_t node = alloc_bytes(source->size);
    if (root.node()) source = buffer(root.node());
    Buffer* b = buffer(node);
    uint32_t length = source->tail - source->head;
    b->flags = inherited_flags(source->flags, b->flags);
    std::memcpy(b->data(), source->at_head(), length);
    b->tail = b->head + length;
    return node;
}

void fill(uint8_t* start, uint8_t* end, uint8_t byte) {
    if (end > start) std::memset(start, byte, static_cast<size_t>(end - start));
}

uint8_t* repeat_fill(uint8_t* buffer, uint32_t unit, uint32_t count) {
    const size_t total = static_cast<size_t>(unit) * count;
    if (total == 0) return buffer;
    size_t filled = unit;
    while (filled * 2 <= total) {
        std::memcpy(buffer + filled, buffer, filled);
        filled *= 2;
    }
    std::memcpy(buffer + filled, buffer, total - filled);
    return buffer + total;
}

// --- Collector's side ---------------------------------------------------------------------

namespace {

inline void queue_one(uint32_t node, const Buffer* dead) {
    if (node == 0) return;
    // Only a node that still refers to the dead buffer.
    const uint32_t number = node >> kNodeSlotBits;
    if (number >= record.node_frames_size) return;
    NodeFrame* frame = record.node_frames[number];
    if (!frame || (node & kNodeSlotMask) >= frame->capacity ||
        frame->slots()[node & kNodeSlotMask] != reinterpret_cast<uintptr_t>(dead))
        return;
    if (record.free_node_count == kFreeNodeQueueSize) flush_free_nodes();
    const uint32_t slot = node & kNodeSlotMask;
    if (pending_index.size() < record.node_frames_size)
        pending_index.resize(record.node_frames_size);
    uint32_t& index = pending_index[number];
    if (!index) {
        record.free_node_queue[record.free_node_frames++] = number;
        index = record.free_node_frames;
        if (pending_bits.size() < size_t{index} * kPendingWords)
            pending_bits.resize(size_t{index} * kPendingWords);
    }
    uint64_t& word = pending_bits[size_t{index - 1} * kPendingWords + slot / 64];
    const uint64_t bit = uint64_t{1} << (slot % 64);
    if (word & bit) return; // already queued
    word |= bit;
    ++record.free_node_count;
}

} // namespace

void queue_free_node(uint32_t node, const Buffer* dead) {
    queue_one(node, dead);
}

uint8_t* queue_dead_run(uint8_t* p, uint8_t* top) {
    while (p < top) {
        const auto* b = reinterpret_cast<const Buffer*>(p);
        if (b->flags & kFlagMark) break;
        queue_one(b->node, b);
        p += b->size + kBufferOverhead;
    }
    return p;
}

void flush_free_nodes() {
    for (uint32_t i = 0; i < record.free_node_frames; ++i) {
        const uint32_t number = record.free_node_queue[i];
        pending_index[number] = 0;
        uint64_t* bits = pending_bits.data() + size_t{i} * kPendingWords;
        NodeFrame* frame = record.node_frames[number];
        const uint32_t words = frame ? (frame->capacity + 63) / 64 : kPendingWords;
        for (uint32_t w = 0; w < words; ++w) {
            uint64_t word = bits[w];
            if (!word) continue;
            bits[w] = 0;
            while (frame && word) {
                const uint32_t slot = w * 64 + static_cast<uint32_t>(std::countr_zero(word));
                word &= word - 1;
                free_node(frame, frame->number << kNodeSlotBits | slot);
            }
        }
    }
    record.free_node_frames = 0;
    record.free_node_count = 0;
}

void trim_node_frames() {
    bool current_set = false;
    for (NodeFrame* frame = record.first_node_frame; frame;) {
        NodeFrame* next = frame->next;
        if (frame->used == 0 || frame->evacuated) {
            free_node_frame(frame);
        } else {
            if (!current_set && frame->used < frame->capacity) {
                record.current_node_frame = frame;
                current_set = true;
            }
            frame->history = frame->history << 1 | (frame->used == frame->used_at_last ? 1 : 0);
            frame->used_at_last = frame->used;
        }
        frame = next;
    }
}

void sweep_big_frames() {
    for (BigFrame* frame = record.first_big_frame; frame;) {
        BigFrame* next = frame->next;
        Buffer* b = frame->buffer();
        if (b->flags & kFlagMark) {
            b->flags &= ~kFlagMark;
        } else {
            queue_free_node(b->node, b);
            free_big_frame(frame);
        }
        frame = next;
    }
}

} // namespace memory
