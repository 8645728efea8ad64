// The mark-and-compact collector.
//
// A cycle marks every buffer reachable from the roots, lets the external-resource table and
// the owner table drop what died, slides live buffers down (into the previous frame while it
// has room), rewrites the node slots of moved buffers, fixes the registered interior
// pointers, and returns emptied frames to the system. Before marking it may evacuate a
// sparsely used node frame; node references then change, and marking rewrites every one it
// reaches.
//
// A cycle runs inside a series allocation when the allocator finds no room (and the
// collector is enabled), and when collect() is called (the recycle native).
//
// Roots, in marking order:
//   1. every live GcRoot (a node id or a cell held by C++ code);
//   2. the slot table (slots.h);
//   3. the registered markers, in registration order: the runtime's permanent structures
//      (root block, stacks, symbol table, owner table, global context, ...) register theirs
//      at start-up.
// C++ code never keeps a Cell* or buffer address across a call that may collect: it keeps a
// node in a GcRoot and re-reads through it, or keeps the address in a GcInterior. Node ids
// change too when a node frame is evacuated: a node id kept in a plain variable across such
// a call is stale afterwards; keep it in a GcRoot, or read it again from a reachable cell.
//
// Marking uses an explicit work stack, never C++ recursion: the marking operations below
// only mark a buffer and queue its cells; the cells are scanned after the marker returns.
#pragma once
#include <atomic>
#include <cstdint>

#include "runtime-core/cell.h"
#include "runtime-core/memory.h"

class GcRoot;
class GcInteriorBase;

namespace collector {

struct State {
    int32_t enabled = 0;          // set by start-up; recycle/on and recycle/off switch it
    std::atomic<int32_t> busy{0}; // 1 for the whole of a cycle (sequentially consistent)
    int32_t node_compaction = 1;  // cleared by a hash-table rehash while it runs
    int32_t history_setting = 5;  // node-frame history length for evacuation, minus one
    int32_t series_cycles = 0;    // completed cycles
    int32_t node_cycles = 0;      // cycles that evacuated a node frame
    uint32_t pins = 0;            // live NoGcScope count
    uint32_t holds = 0;           // live NoCollectScope count
};

extern State state;

// Counters to 0, history setting to 5. Leaves the flags and the registrations alone.
void init();
// One full cycle, whatever the enabled flag says; nothing happens inside a cycle or while a
// NoCollectScope is alive, and a cycle while a NoGcScope is alive moves nothing. An error
// that a release callback or the owner sweep raises comes out once the cycle has ended.
void collect();
// collect() when the enabled flag is 1.
void collect_if_enabled();
inline bool busy() {
    return state.busy.load() == 1;
}

// --- Registration -----------------------------------------------------------------------

// A marker marks what its module owns with the marking operations below; it must not
// allocate. At most 100.
using Marker = void (*)();
void add_marker(Marker marker);

// The marking rule of a datatype: called for every reached cell of that type id. Datatype
// modules set theirs at registration; the rules of the plain series types (block family,
// string family, bitset!, vector!, binary!) are in place from the start.
using TypeMarker = void (*)(Cell& cell);
void set_type_marker(uint8_t type, TypeMarker marker);
TypeMarker type_marker(uint8_t type);

// Called after marking, right after the external-resource sweep: the owner table drops its
// entries whose series is unmarked. The owner table's marker must mark its own buffers only
// (mark_series), never the series it records, or no owner would ever die.
using SweepHook = void (*)();
void set_owner_sweep(SweepHook hook);

// Forgets the markers, the owner sweep and the type markers set by modules (tests).
void reset_registrations();

// --- Marking operations (for markers and type markers) -----------------------------------

// `slot` holds a node. Rewrites it when the node was moved, marks its buffer and answers
// whether the mark is new. A slot naming no buffer answers false.
bool mark_series(uint32_t& slot);
// mark_series; when newly marked, the cells of a cell buffer from head to tail are queued.
void mark_node_cells(uint32_t& slot);
// mark_node_cells of word 2 of a block-like cell, when it is not 0.
void mark_block_value(Cell& cell);
// Queues the cells [first, last) for marking by type; they are scanned once the marker
// returns, so they must outlive it: cells in buffers, globals or GcRoots, not locals.
void mark_block(Cell* first, Cell* last);
void unmark(uint32_t node);
bool is_marked(uint32_t node);
// The node that `node` refers to after a node frame evacuation (itself when not moved).
// Valid during a cycle: modules that keep node ids outside cells translate them here.
uint32_t forward(uint32_t node);

// Type markers of the plain series types.
void mark_block_cell(Cell& cell);  // block! paren! path! lit-path! set-path! get-path!
void mark_string_cell(Cell& cell); // string! file! url! tag! email! ref!: words 2 and 3
void mark_series_cell(Cell& cell); // bitset! vector! binary!: word 2

namespace detail {
extern GcRoot* roots;
extern GcInteriorBase* interiors;
struct Access; // the collector's view of the root and interior lists
} // namespace detail

} // namespace collector

// Keeps a node (or a cell) alive across collections and follows it when the collector
// moves the node: read node() again after any call that may collect. A node root of a cell
// buffer also keeps the buffer's cells alive. Scoped: create it on the stack.
class GcRoot {
public:
    explicit GcRoot(uint32_t node = 0) : holds_cell_(false), node_(node), cell_{} { link(); }
    explicit GcRoot(const Cell& cell) : holds_cell_(true), node_(0), cell_(cell) { link(); }
    ~GcRoot() { unlink(); }
    GcRoot(const GcRoot&) = delete;
    GcRoot& operator=(const GcRoot&) = delete;

    uint32_t node() const { return node_; }
    void set_node(uint32_t node) {
        holds_cell_ = false;
        node_ = node;
    }
    // The rooted cell (its node words are rewritten like node()).
    Cell& cell() { return cell_; }
    void set_cell(const Cell& cell) {
        holds_cell_ = true;
        cell_ = cell;
    }

private:
    friend struct collector::detail::Access;
    // Inline: roots are made on the evaluator's hot paths. The list holds the address of a
    // local only while it lives (the destructor unlinks it), which GCC cannot see.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdangling-pointer"
#endif
    void link() {
        prev_ = nullptr;
        next_ = collector::detail::roots;
        if (next_) next_->prev_ = this;
        collector::detail::roots = this;
    }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
    void unlink() {
        if (prev_)
            prev_->next_ = next_;
        else
            collector::detail::roots = next_;
        if (next_) next_->prev_ = prev_;
    }
    GcRoot* prev_;
    GcRoot* next_;
    bool holds_cell_;
    uint32_t node_;
    Cell cell_;
};

// A raw address into a buffer that must stay right when compaction moves the buffer. It does
// not keep the buffer alive. Scoped: create it on the stack.
class GcInteriorBase {
public:
    GcInteriorBase(const GcInteriorBase&) = delete;
    GcInteriorBase& operator=(const GcInteriorBase&) = delete;

protected:
    explicit GcInteriorBase(void* address) : address_(address) { link(); }
    ~GcInteriorBase() { unlink(); }
    void* address_;

private:
    friend struct collector::detail::Access;
    void link();
    void unlink();
    GcInteriorBase* prev_;
    GcInteriorBase* next_;
};

template <class T> class GcInterior : public GcInteriorBase {
public:
    explicit GcInterior(T* address = nullptr)
        : GcInteriorBase(const_cast<void*>(static_cast<const void*>(address))) {}
    T* get() const { return static_cast<T*>(address_); }
    T* operator->() const { return get(); }
    T& operator*() const { return *get(); }
    GcInterior& operator=(T* address) {
        address_ = const_cast<void*>(static_cast<const void*>(address));
        return *this;
    }
};

// While alive, no buffer moves and no node id changes: addresses into buffers stay valid.
// Collections still run (the section may allocate without bound, as a sort whose comparator
// allocates does); they reclaim what nothing reaches, in place. So what the section needs must
// be reachable as anywhere else. For user callbacks that run while C++ holds buffer
// addresses (sort comparators, owner notifications, change handlers).
class NoGcScope {
public:
    NoGcScope() { ++collector::state.pins; }
    ~NoGcScope() { --collector::state.pins; }
    NoGcScope(const NoGcScope&) = delete;
    NoGcScope& operator=(const NoGcScope&) = delete;
};

// While alive, no collection runs at all. Only for a few allocations that must keep a buffer
// that nothing reaches where it is (the old buffer of an expansion); never around user code,
// since every allocation meanwhile takes new space.
class NoCollectScope {
public:
    NoCollectScope() { ++collector::state.holds; }
    ~NoCollectScope() { --collector::state.holds; }
    NoCollectScope(const NoCollectScope&) = delete;
    NoCollectScope& operator=(const NoCollectScope&) = delete;
};
