// The memory manager: owner of every series buffer and every node.
//
// A series value never holds the address of its data. It holds a node: a 32-bit id whose
// slot in the node table holds the address of the series buffer, so that the collector can
// move a buffer by rewriting one slot and never touches the cells that refer to it.
//
// - Nodes live in node frames of 10000. A node id is (frame number << 14) | slot, so the
//   table lookup is two loads; id 0 means "no node".
// - Buffers are carved end to end out of series frames (the first 1 MB, later ones 2 MB) by
//   bumping a heap top. A buffer of capacity S takes S + 24 bytes: a 20-byte header, the
//   data, 4 spare bytes. A buffer too large for a frame gets a big frame of its own; a fixed
//   buffer lives on the system heap and never moves.
// - Nothing is freed by the users of series: buffers and nodes are reclaimed only by the
//   collector (collector.h).
//
// Collector safety. Every function here that says "may collect" can run a collection that
// moves every buffer in the series frames. Do not keep a Buffer*, Cell* or any other address
// into a buffer across such a call: keep the node (rooted, see GcRoot) and re-read the
// buffer through it afterwards.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime-core/cell.h"

#if defined(__SANITIZE_ADDRESS__)
#define ZAN_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZAN_ASAN 1
#endif
#endif
#ifdef ZAN_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace memory {

// Flags of a series buffer (its first header word). Bits not named here belong to the users
// of series.
constexpr uint32_t kUnitMask = 0x1F;         // unit size in bytes: 1, 2, 4 or 16 (cells)
constexpr uint32_t kFlagOwned = 0x20000;     // the series belongs to an object
constexpr uint32_t kFlagFixed = 0x100000;    // system-heap block: never moves, never freed
constexpr uint32_t kFlagBig = 0x1000000;     // lives in a big frame of its own
constexpr uint32_t kFlagMark = 0x8000000;    // collector mark, clear between cycles
constexpr uint32_t kFlagMiddle = 0x10000000; // head placed in the middle at allocation
constexpr uint32_t kFlagNew = 0x20000000;    // set on every buffer the allocators make
constexpr uint32_t kFlagInUse = 0x80000000;  // cleared on a buffer replaced by expansion

// A series buffer: five 32-bit words, then the data. Head and tail are byte offsets from
// the data start; the used units lie between them.
struct Buffer {
    uint32_t flags;
    uint32_t node; // the node that refers to this buffer; 0 once expansion replaced it
    uint32_t size; // capacity of the data in bytes, a multiple of 16
    uint32_t head;
    uint32_t tail;

    uint32_t unit() const { return flags & kUnitMask; }
    uint8_t* data() { return reinterpret_cast<uint8_t*>(this) + sizeof(Buffer); }
    uint8_t* at_head() { return data() + head; }
    uint8_t* at_tail() { return data() + tail; }
    uint8_t* end() { return data() + size; }
    // Number of used units.
    uint32_t length() const { return (tail - head) / unit(); }
    bool full() const { return tail == size; }
    // For cell buffers (unit 16): the first used cell and the cell after the last.
    Cell* cells() { return reinterpret_cast<Cell*>(at_head()); }
    Cell* cells_tail() { return reinterpret_cast<Cell*>(at_tail()); }
};
static_assert(sizeof(Buffer) == 20, "a buffer header is five 32-bit words");

// Bytes a buffer takes in its frame beyond its capacity: header and 4 spare bytes.
constexpr uint32_t kBufferOverhead = 24;

// A node frame: a header, then `capacity` node slots. A slot holds the address of its
// buffer, 0 for a node handed out without a buffer yet, or a tagged value (low bits 01: free,
// the next free id above them; low bits 11: moved by the collector, the new id above them).
struct NodeFrame {
    NodeFrame* next; // creation order
    NodeFrame* prev;
    uint32_t capacity;
    uint32_t free_head; // id of the first free node, 0 when the frame is full
    uint32_t used;
    uint32_t created_cycle; // the collector's series-cycle count at creation
    uint32_t used_at_last;  // used count at the end of the previous collection
    uint32_t history;       // shifted left at each collection, bit 0 set when used did not change
    uint32_t evacuated;     // all nodes moved out; released at the end of the collection
    uint32_t number;        // the frame number of its node ids

    uintptr_t* slots() { return reinterpret_cast<uintptr_t*>(this + 1); }
};

// A series frame: a header, then the data area, buffers end to end from its start to the
// heap top. The list of series frames is kept sorted by address.
struct SeriesFrame {
    SeriesFrame* next;
    SeriesFrame* prev;
    uint32_t size; // data area plus the 20 bytes the frame header counts for
    uint8_t* top;  // first free byte
    uint8_t* end;  // one past the data area

    uint8_t* data() { return reinterpret_cast<uint8_t*>(this + 1); }
};

// A big frame holds exactly one buffer, right after its header.
struct BigFrame {
    BigFrame* next;
    BigFrame* prev; // stays null: the list is walked through next only
    uint32_t size;  // the buffer's whole size, header included

    Buffer* buffer() { return reinterpret_cast<Buffer*>(this + 1); }
};

constexpr uint32_t kNodeSlotBits = 14;
constexpr uint32_t kNodeSlotMask = (1u << kNodeSlotBits) - 1;
constexpr uint32_t kNodesPerFrame = 10000;
constexpr uint32_t kInitialFrameSize = 1048576;
constexpr uint32_t kMaxFrameSize = 2097152;
constexpr uint32_t kFreeNodeQueueSize = 20000;
// A frame with less room than this is not worth allocating from after a collection, and
// compaction moves buffers into a predecessor only while it has more room than this.
constexpr uint32_t kMinFrameRoom = 52428;

// The memory record: one per process.
struct MemoryRecord {
    int64_t os_bytes = 0; // rounded sizes of all blocks held from virtual memory
    NodeFrame* first_node_frame = nullptr;
    NodeFrame* last_node_frame = nullptr;
    NodeFrame* current_node_frame = nullptr;    // where alloc_node looks first
    SeriesFrame* first_series_frame = nullptr;  // lowest address
    SeriesFrame* active_series_frame = nullptr; // where allocation looks first
    SeriesFrame* last_series_frame = nullptr;   // highest address
    uint32_t initial_frame_size = kInitialFrameSize;
    uint32_t next_frame_size = kInitialFrameSize; // data size of the next series frame
    uint32_t max_frame_size = kMaxFrameSize;      // also the bound for a big frame
    BigFrame* first_big_frame = nullptr;

    // Node table: frame number -> frame (entry 0 unused).
    NodeFrame** node_frames = nullptr;
    uint32_t node_frames_size = 0;

    // Nodes of dead buffers, returned to their frames in batches of up to kFreeNodeQueueSize,
    // each in id order. The queue array lists the numbers of the frames they belong to (the
    // nodes themselves are bits in a table beside it).
    uint32_t* free_node_queue = nullptr;
    uint32_t free_node_count = 0;  // nodes queued
    uint32_t free_node_frames = 0; // entries of free_node_queue

    // ZAN_GC_TORTURE=1: every allocation collects; each of those cycles moves every live
    // node to a fresh node frame, and every other one moves every live buffer too.
    bool torture = false;
    // Torture: where the search for a free frame number starts. Numbers are handed out in
    // turn, so the number of a released frame names no frame for as long as possible and a
    // stale node id faults instead of reading another frame's slot.
    uint32_t next_frame_number = 1;
    // Torture: blocks of frames released by the current cycle, poisoned until the next one.
    void* quarantine = nullptr;
    // Blocks of frames that a collection released, kept mapped (and poisoned) so that the
    // next frames of the same size need no call to the system. One left unused through a
    // whole further cycle goes back to the system.
    void* spare_blocks = nullptr;
};

extern MemoryRecord record;

// --- Set-up ---------------------------------------------------------------------------

// Fills the memory record and allocates the free-node queue; reads ZAN_GC_TORTURE. Calling it
// again first releases everything the manager holds.
void init();
// Returns every frame to the system and frees the manager's tables.
void release_all();

// --- Failures ---------------------------------------------------------------------------

// What the memory manager reports: virtual memory exhausted (or a size beyond what a
// series can hold), and a failed release of virtual memory.
enum class Fault { no_memory, wrong_mem };
// The evaluator installs a hook that raises the language errors internal/no-memory and
// internal/wrong-mem (it must not return). Without one, the process ends with runtime error
// 94 (out of memory) or 99 (unknown error).
using FaultHook = void (*)(Fault fault);
void set_fault_hook(FaultHook hook);
bool has_fault_hook();
[[noreturn]] void raise(Fault fault);

// --- Nodes --------------------------------------------------------------------------------

// The node table. `node` must be a live node id.
inline uintptr_t& node_slot(uint32_t node) {
    return record.node_frames[node >> kNodeSlotBits]->slots()[node & kNodeSlotMask];
}
inline Buffer* buffer(uint32_t node) {
    return reinterpret_cast<Buffer*>(node_slot(node));
}

// Checked lookup: the buffer of `node`, or null when the id names no node holding a buffer.
Buffer* find_buffer(uint32_t node);

// The first used cell of a cell buffer, and its number of used units.
inline Cell* cells_of(uint32_t node) {
    return buffer(node)->cells();
}
inline uint32_t length_of(uint32_t node) {
    return buffer(node)->length();
}

// A new node frame of `count` slots. Failure raises Fault::no_memory, or answers null with
// `or_null` (the collector's torture cycles, which can do without).
NodeFrame* new_node_frame(uint32_t count, bool or_null = false);
// Pops a node (its slot holds 0) from the current frame, moving to another frame or making
// a new one when it is full. Never collects.
uint32_t alloc_node();
void free_node(NodeFrame* frame, uint32_t node);
void free_node_frame(NodeFrame* frame);

// --- Frames -------------------------------------------------------------------------------

// An OS block of committed pages for `size` bytes after a size prefix; returns the address
// after the prefix. Failure raises Fault::no_memory, or answers null with `or_null`.
void* alloc_os_block(size_t size, bool or_null = false);
// Returns a block of alloc_os_block. Failure raises Fault::wrong_mem (deferred to the end of
// the cycle when a collection releases the block). A block that a collection releases is
// kept aside instead (in torture mode, poisoned until the next cycle; otherwise as a spare
// for the next frame of its size); the statistics count it as returned either way.
void free_os_block(void* block);
// Returns the spare blocks that waited through a whole cycle unused (all of them when
// `all`) to the system. Called at the end of every collection.
void release_spare_blocks(bool all);

// A new series frame, in address order among the others. Failure raises Fault::no_memory, or
// answers null with `or_null`.
SeriesFrame* new_series_frame(bool or_null = false);
// The first frame in address order with room for `total` bytes, or null.
SeriesFrame* find_series_frame(uint32_t total);
void free_series_frame(SeriesFrame* frame);
void free_big_frame(BigFrame* frame);
// Makes the blocks that the previous torture cycle released spare blocks (still poisoned).
void release_quarantine();

// --- Allocation ---------------------------------------------------------------------------

// A buffer of `count` units of `unit` bytes (capacity rounded up to 16 bytes) with head and
// tail at byte `offset`; -1 puts them in the middle (and sets kFlagMiddle). Its node field
// is 0. May collect.
Buffer* alloc_series_buffer(uint32_t count, uint32_t unit, int32_t offset);
// A buffer and a node that refers to it. May collect. Returns the node.
uint32_t alloc_series(uint32_t count, uint32_t unit, int32_t offset);
// A fixed buffer on the system heap: never moves, never collected. Never collects.
uint32_t alloc_unmanaged_series(uint32_t count, uint32_t unit, int32_t offset);

// Typed shorthands (offset 0); all may collect.
uint32_t alloc_cells(uint32_t count);
uint32_t alloc_unset_cells(uint32_t count);               // whole capacity: header 2, zero payload
uint32_t alloc_bytes(uint32_t size);                      // size 0 is taken as 16
uint32_t alloc_units(uint32_t count, uint32_t unit);      // count 0 is taken as 16 bytes' worth
uint32_t alloc_bytes_filled(uint32_t size, uint8_t byte); // whole capacity filled

void set_series_flag(uint32_t node, uint32_t bits);

// Moves a series to a new buffer of `new_size` bytes (0: twice the capacity), head at the
// data start and the same length; the node then refers to the new buffer, and the old one
// keeps node 0 and loses its in-use bit. The content is not copied. Sizes below 1 (as
// signed) raise Fault::no_memory. May collect: `buffer` is invalid afterwards.
Buffer* expand_series(Buffer* buffer, uint32_t new_size);
// expand_series, then the old content is copied to the new buffer. May collect.
Buffer* expand_series_to(Buffer* buffer, uint32_t new_size);
// expand_series_to, then the rest of the new capacity from the old size on is filled.
Buffer* expand_series_filled(Buffer* buffer, uint32_t new_size, uint8_t byte);
// A new series with the same capacity, flags and content. May collect. Returns the node.
uint32_t copy_series(Buffer* buffer);

void fill(uint8_t* start, uint8_t* end, uint8_t byte);
// Repeats the first unit (already in place) until `count` units fill the buffer, doubling
// the filled run at each step. Returns the end of the filled bytes.
uint8_t* repeat_fill(uint8_t* buffer, uint32_t unit, uint32_t count);

// --- Collector's side ---------------------------------------------------------------------

// Queues the node of a dead buffer for freeing (flushing a full queue first). Skips node 0
// and a node that no longer refers to `dead`.
void queue_free_node(uint32_t node, const Buffer* dead);
// Queues the nodes of the unmarked buffers from `p` on (buffers end to end in a frame, up to
// `top`); returns the first marked buffer, or `top`.
uint8_t* queue_dead_run(uint8_t* p, uint8_t* top);
// Returns the queued nodes to their frames in id order and empties the queue. A node queued
// twice in one batch is freed once.
void flush_free_nodes();
// Releases empty and evacuated node frames, picks the current frame, updates the history.
void trim_node_frames();
// Releases every big frame whose buffer is unmarked; clears the marks of the others.
void sweep_big_frames();
// A failed release of virtual memory during a collection, raised once the cycle is over.
void raise_deferred_fault();

// --- AddressSanitizer ---------------------------------------------------------------------

// Free frame space and vacated buffers are poisoned so that a stale address is caught.
inline void poison(const void* start, size_t size) {
#ifdef ZAN_ASAN
    ASAN_POISON_MEMORY_REGION(start, size);
#else
    (void)start;
    (void)size;
#endif
}
inline void unpoison(const void* start, size_t size) {
#ifdef ZAN_ASAN
    ASAN_UNPOISON_MEMORY_REGION(start, size);
#else
    (void)start;
    (void)size;
#endif
}

} // namespace memory
