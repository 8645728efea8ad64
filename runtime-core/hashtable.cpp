#include "runtime-core/hashtable.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "runtime-core/case.h"
#include "runtime-core/hash.h"
#include "runtime-core/heap.h"
#include "runtime-core/memory.h"
#include "runtime-core/runtime.h"
#include "runtime-core/stdio.h"
#include "runtime-core/type-traits.h"

namespace hashtable {

using memory::Buffer;

namespace {

constexpr double kLoad = 0.77;
// Beyond this many keys the key series alone would pass what a series can hold.
constexpr uint64_t kMaxKeys = 1u << 27;
constexpr uint64_t kMaxBuckets = 1u << 28;
constexpr uint32_t kRangeLimit = 30000;
constexpr uint32_t kSymbolGrowth = 16;
constexpr uint32_t kWordTableDoubling = 4000;

Resolve symbol_resolver = nullptr;
KeyPrepare key_prepare = nullptr;

// Lower-cased symbol texts are hashed from here, so that every case variant of a text
// starts the same probe.
std::vector<char> lowered;

// --- Series access (every address valid until the next allocation) ------------------------

Buffer* buf(uint32_t node) {
    return memory::buffer(node);
}
Record* rec(uint32_t table) {
    return record(table);
}
uint32_t* words_of(uint32_t node) {
    return reinterpret_cast<uint32_t*>(buf(node)->at_head());
}
int32_t* ints_of(uint32_t node) {
    return reinterpret_cast<int32_t*>(buf(node)->at_head());
}
uint32_t ints_length(uint32_t node) {
    Buffer* b = buf(node);
    return (b->tail - b->head) / 4;
}
Cell* cells_of(uint32_t node) {
    return buf(node)->cells();
}
uint32_t cell_count(uint32_t node) {
    Buffer* b = buf(node);
    return (b->tail - b->head) / sizeof(Cell);
}

// --- Buckets --------------------------------------------------------------------------------

using probing::Buckets;
using probing::buckets_of;
using probing::control_of;
using probing::kDeleted;
using probing::kEmpty;
using probing::Slot;
using probing::tag_of;

inline bool is_live(uint8_t control) {
    return probing::live(control);
}
// Makes bucket `b` live with `slot`, or deleted.
inline void set_live(const Buckets& at, uint32_t b, const Slot& slot) {
    at.control[b] = control_of(slot.tag);
    at.slots[b] = slot;
}
inline void set_deleted(const Buckets& at, uint32_t b) {
    at.control[b] = kDeleted;
}

// The bucket of a live key. A map! or hash! keeps an integer or character key in the bucket
// too (the hash! datatype re-indexes a cell it changes).
// A text key keeps its text's node as a hint (see probing::Slot).
inline Slot live_slot(uint32_t kind, uint32_t tag, int32_t entry, const Cell& key) {
    const uint8_t type = cell::type(&key);
    if (kind == kMap || kind == kHash) {
        if (probing::word2_keyed(type)) return Slot{tag, entry, key.w2, type};
        if (traits::is_any_string(type)) return Slot{tag, entry, key.w2, 0};
    }
    return Slot{tag, entry, 0, 0};
}

uint32_t next_power(uint64_t wanted) {
    if (wanted > kMaxBuckets) memory::raise(memory::Fault::no_memory);
    uint32_t n = 1;
    while (n < wanted) n <<= 1;
    return n;
}
// Bucket count and bound of a new table for s keys (at least 4).
uint32_t buckets_for(uint32_t s) {
    return next_power(static_cast<uint64_t>(std::max(s, 4u) / kLoad));
}
uint32_t bound_of(uint32_t buckets) {
    return static_cast<uint32_t>(buckets * kLoad);
}
uint32_t grown_bound_of(uint32_t buckets) {
    return static_cast<uint32_t>(buckets * kLoad + 0.5);
}

// --- New series ------------------------------------------------------------------------------

// An int32 array of `count` units, every byte `fill`. May collect.
uint32_t new_ints(uint32_t count, uint8_t fill) {
    uint32_t node = memory::alloc_bytes_filled(count * 4, fill);
    Buffer* b = buf(node);
    b->flags = (b->flags & ~memory::kUnitMask) | 4;
    b->tail = b->head + count * 4;
    return node;
}
// A bucket series with every bucket empty: the control bytes cleared, the buckets left as
// they are (none is read before its control byte says it is live). May collect.
uint32_t new_slots(uint32_t buckets) {
    const uint32_t control = probing::control_bytes(buckets);
    const uint64_t bytes = control + uint64_t{buckets} * sizeof(Slot);
    if (bytes > 0x7FFFFFF0u) memory::raise(memory::Fault::no_memory);
    const uint32_t node = memory::alloc_bytes(static_cast<uint32_t>(bytes));
    Buffer* b = buf(node);
    b->flags = (b->flags & ~memory::kUnitMask) | 4;
    b->tail = b->head + static_cast<uint32_t>(bytes);
    std::memset(b->at_head(), kEmpty, control);
    return node;
}
// Appends one int32 to an array. May collect.
void append_int(uint32_t node, int32_t value) {
    uint8_t* at = memory::alloc_tail_bytes(buf(node), 4);
    std::memcpy(at, &value, 4);
}

uint32_t current_stamp() {
    return static_cast<uint32_t>(collector::state.node_cycles) + 1;
}

// While alive, the collector evacuates no node frame: node ids, and so the hashes of
// node-keyed values and the key nodes held by the caller, stay as they are. Restored on every
// way out, errors included.
class CompactionOff {
public:
    CompactionOff() : saved_(collector::state.node_compaction) {
        collector::state.node_compaction = 0;
    }
    ~CompactionOff() { collector::state.node_compaction = saved_; }
    CompactionOff(const CompactionOff&) = delete;
    CompactionOff& operator=(const CompactionOff&) = delete;

private:
    int32_t saved_;
};

// --- Text -----------------------------------------------------------------------------------

// Starts reading the node slot of a node that a bucket names as a hint, so that it arrives
// together with the key cell that names the node, instead of after it. A stale hint only
// wastes the read: a prefetch never faults, and the frame number is checked before the
// frame table is read. A hint of 0 (a key without a text node) or one left from a node frame
// that has since been released names no frame: nothing is read then.
inline void prefetch_node(uint32_t node) {
    const uint32_t number = node >> memory::kNodeSlotBits;
    if (number >= memory::record.node_frames_size) return;
    const memory::NodeFrame* frame = memory::record.node_frames[number];
    if (!frame) return;
    __builtin_prefetch(reinterpret_cast<const uintptr_t*>(frame + 1) +
                       (node & memory::kNodeSlotMask));
}

// The units of a series cell from its index (clamped to the head and the tail) to its tail.
struct Units {
    const uint8_t* at;
    uint32_t count;
    uint32_t unit;
};
Units units_of(const Cell& c) {
    if (c.w2 == 0) return {nullptr, 0, 1};
    Buffer* b = buf(c.w2);
    const uint32_t unit = b->unit();
    // One-byte text, the common case, needs no division.
    const uint32_t bytes = b->tail - b->head;
    const uint32_t length = unit == 1 ? bytes : unit ? bytes / unit : 0;
    const int32_t index = static_cast<int32_t>(c.w1);
    const uint32_t from = index < 0 ? 0 : std::min(static_cast<uint32_t>(index), length);
    return {b->at_head() + from * unit, length - from, unit ? unit : 1};
}
inline uint32_t unit_at(const uint8_t* p, uint32_t i, uint32_t unit) {
    switch (unit) {
    case 1:
        return p[i];
    case 2: {
        uint16_t u;
        std::memcpy(&u, p + i * 2, 2);
        return u;
    }
    default: {
        uint32_t u;
        std::memcpy(&u, p + i * 4, 4);
        return u;
    }
    }
}

bool units_equal(const Units& x, const Units& y, bool fold) {
    if (x.count != y.count) return false;
    if (x.count == 0) return true;
    if (x.unit == y.unit && std::memcmp(x.at, y.at, size_t{x.count} * x.unit) == 0) return true;
    if (!fold && x.unit == y.unit) return false;
    for (uint32_t i = 0; i < x.count; ++i) {
        const uint32_t p = unit_at(x.at, i, x.unit), q = unit_at(y.at, i, y.unit);
        if (p != q && (!fold || case_::to_upper(p) != case_::to_upper(q))) return false;
    }
    return true;
}
// Two text keys under a comparison code (keys_equal's text case); `b_units` are b's code
// units when the caller has found them already.
bool text_keys_equal(const Cell& a, const Cell& b, int code, const Units* b_units = nullptr) {
    // Different text types are equal only as plain equality.
    if (cell::type(&a) != cell::type(&b) && code != 0 && code != 1) return false;
    if (a.w2 == b.w2 && a.w1 == b.w1) return true;
    if (code == 9) return false;
    return units_equal(units_of(a), b_units ? *b_units : units_of(b), code != 2);
}

inline uint8_t ascii_lower(uint8_t c) {
    return c >= 'A' && c <= 'Z' ? static_cast<uint8_t>(c + 32) : c;
}
bool bytes_equal(const uint8_t* a, const uint8_t* b, uint32_t length, bool fold) {
    if (length == 0) return true;
    if (!fold) return std::memcmp(a, b, length) == 0;
    for (uint32_t i = 0; i < length; ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    return true;
}

// The UTF-8 text of a symbol cell.
Units symbol_text(const Cell& symbol) {
    if (symbol.w3 == 0) return {nullptr, 0, 1};
    Buffer* b = buf(symbol.w3);
    return {b->at_head(), b->tail - b->head, 1};
}

// MurmurHash3 of a UTF-8 text with A-Z lowered.
uint32_t lowered_hash(const uint8_t* text, uint32_t length) {
    if (lowered.size() < length) lowered.resize(std::max<size_t>(length, 256));
    for (uint32_t i = 0; i < length; ++i) lowered[i] = static_cast<char>(ascii_lower(text[i]));
    return hash::murmur3(lowered.data(), length);
}
uint32_t symbol_hash(const Cell& symbol) {
    const Units t = symbol_text(symbol);
    return lowered_hash(t.at, t.count);
}

// --- Chains of a hash! ---------------------------------------------------------------------

// The array node of chain number `chain` (1-based), or 0.
uint32_t chain_node(const Record* r, uint32_t chain) {
    if (r->chains == 0 || chain == 0 || chain > ints_length(r->chains)) return 0;
    return words_of(r->chains)[chain - 1];
}
// The first cell index a bucket's entry names, or -1.
int32_t first_of(const Record* r, int32_t entry) {
    if (entry >= 0) return entry;
    const uint32_t chain = chain_node(r, static_cast<uint32_t>(-static_cast<int64_t>(entry)));
    return chain && ints_length(chain) ? ints_of(chain)[0] : -1;
}

// Makes sure the index series has an entry for each of `count` cells (new entries -1). May
// collect.
void ensure_index(Root& root, uint32_t count) {
    const uint32_t index = rec(root.node())->index;
    const uint32_t have = ints_length(index);
    if (have >= count) return;
    const uint32_t more = (count - have) * 4;
    uint8_t* at = memory::alloc_tail_bytes(buf(index), more);
    std::memset(at, 0xFF, more);
}

// --- Probing --------------------------------------------------------------------------------

// The tag of cell `l` of a hash!'s block.
uint32_t hash_cell_tag(const Record* r, uint32_t l) {
    return tag_of(hash_value(cells_of(r->data)[l], false));
}

// Indexes cell `l` of a hash!'s block, whose tag is `tag`, without a growth check: in a free
// bucket, or in the chain of a bucket whose key is of the same type and equal. Answers false
// when no bucket was free. May collect (chains).
bool insert_hash_cell(Root& root, uint32_t l, uint32_t tag) {
    Record* r = rec(root.node());
    const Cell key = cells_of(r->data)[l];
    if (r->stamp == 0 && node_keyed(cell::type(&key))) r->stamp = current_stamp();
    const uint32_t mask = r->buckets - 1;
    uint32_t b = tag & mask;
    const uint32_t start = b;
    uint32_t step = 0;
    int32_t free = -1;
    bool was_empty = false;
    const uint8_t control = control_of(tag);
    {
        const Buckets at = buckets_of(r);
        const Cell* cells = cells_of(r->data);
        const uint32_t count = cell_count(r->data);
        for (;;) {
            const uint8_t c = at.control[b];
            if (c == kEmpty) {
                if (free < 0) {
                    free = static_cast<int32_t>(b);
                    was_empty = true;
                }
                break;
            }
            if (c == kDeleted) {
                if (free < 0) free = static_cast<int32_t>(b);
            } else if (c == control && at.slots[b].tag == tag) {
                const int32_t first = first_of(r, at.slots[b].entry);
                if (first >= 0 && static_cast<uint32_t>(first) < count &&
                    cell::type(&cells[first]) == cell::type(&key) &&
                    keys_equal(cells[first], key, 0)) {
                    // Joins the bucket's chain, turning a plain entry into one first.
                    const int32_t entry = at.slots[b].entry;
                    if (entry >= 0) {
                        GcRoot chain(new_ints(2, 0));
                        int32_t* two = ints_of(chain.node());
                        two[0] = entry;
                        two[1] = static_cast<int32_t>(l);
                        append_int(rec(root.node())->chains, static_cast<int32_t>(chain.node()));
                        r = rec(root.node());
                        buckets_of(r).slots[b].entry =
                            -static_cast<int32_t>(ints_length(r->chains));
                    } else {
                        append_int(chain_node(r, static_cast<uint32_t>(-int64_t{entry})),
                                   static_cast<int32_t>(l));
                        r = rec(root.node());
                    }
                    ints_of(r->index)[l] = static_cast<int32_t>(b) + 1;
                    ++r->size;
                    return true;
                }
            }
            b = (b + ++step) & mask;
            if (b == start) break;
        }
    }
    if (free < 0) return false;
    set_live(buckets_of(r), static_cast<uint32_t>(free),
             live_slot(kHash, tag, static_cast<int32_t>(l), key));
    ints_of(r->index)[l] = free + 1;
    ++r->size;
    if (was_empty) ++r->occupied;
    return true;
}
bool insert_hash_cell(Root& root, uint32_t l) {
    return insert_hash_cell(root, l, hash_cell_tag(rec(root.node()), l));
}

// Unindexes cell `l` of a hash!. Never collects.
void delete_hash_cell(Record* r, uint32_t l) {
    if (l >= ints_length(r->index)) return;
    int32_t* index = ints_of(r->index);
    const int32_t b = index[l] - 1;
    if (b < 0 || static_cast<uint32_t>(b) >= r->buckets) return;
    index[l] = -1;
    const Buckets arrays = buckets_of(r);
    const int32_t entry = arrays.slots[b].entry;
    if (entry >= 0) {
        if (entry != static_cast<int32_t>(l)) return;
        set_deleted(arrays, static_cast<uint32_t>(b));
    } else {
        const uint32_t chain = chain_node(r, static_cast<uint32_t>(-int64_t{entry}));
        if (!chain) return;
        Buffer* c = buf(chain);
        int32_t* at = ints_of(chain);
        const uint32_t n = ints_length(chain);
        uint32_t i = 0;
        while (i < n && at[i] != static_cast<int32_t>(l)) ++i;
        if (i == n) return;
        std::memmove(at + i, at + i + 1, (n - i - 1) * 4);
        c->tail -= 4;
        if (n == 1) set_deleted(arrays, static_cast<uint32_t>(b));
    }
    --r->size;
}

// Live buckets of a table (distinct keys of a hash!).
uint32_t live_buckets(const Record* r) {
    const uint8_t* control = buckets_of(r).control;
    uint32_t live = 0;
    for (uint32_t b = 0; b < r->buckets; ++b) live += is_live(control[b]);
    return live;
}

// Places a key known to be absent in the first free bucket of its probe. Never collects.
inline void place(const Buckets& at, uint32_t mask, const Slot& slot) {
    uint32_t b = slot.tag & mask, step = 0;
    while (at.control[b] != kEmpty) b = (b + ++step) & mask;
    set_live(at, b, slot);
}
inline void place(const Buckets& at, uint32_t mask, uint32_t tag, int32_t entry) {
    place(at, mask, Slot{tag, entry, 0, 0});
}

// --- Growth ---------------------------------------------------------------------------------

// hash!: indexes the cells [from, to) of the block in order, without a growth check (the
// caller made room). The cells are hashed some places ahead of their insertion and their
// first buckets fetched meanwhile, so that the cache misses of successive insertions overlap.
// Answers false when a bucket could not be found. May collect (chains).
bool index_run(Root& root, uint32_t from, uint32_t to) {
    constexpr uint32_t kAhead = 16;
    uint32_t tags[kAhead];
    const auto fetch = [&](uint32_t l) {
        const Record* r = rec(root.node());
        const Cell& key = cells_of(r->data)[l];
        const uint32_t tag = probing::word2_keyed(cell::type(&key))
                                 ? tag_of(hash::mix_int(key.w2))
                                 : tag_of(hash_value(key, false));
        tags[l % kAhead] = tag;
        const Buckets at = buckets_of(r);
        const uint32_t b = tag & (r->buckets - 1);
        __builtin_prefetch(at.control + b, 1);
        __builtin_prefetch(at.slots + b, 1);
    };
    for (uint32_t l = from; l < std::min(to, from + kAhead); ++l) fetch(l);
    for (uint32_t l = from; l < to; ++l) {
        const uint32_t tag = tags[l % kAhead];
        if (l + kAhead < to) fetch(l + kAhead);
        if (!insert_hash_cell(root, l, tag)) return false;
    }
    return true;
}

// hash!: `n` new buckets, and every cell of the block indexed again in order (chains
// rebuilt, stamp renewed if set). Answers whether it rebuilt. May collect.
bool rebuild_hash_to(Root& root, uint32_t n) {
    CompactionOff off;
    Record* r = rec(root.node());
    const uint32_t bound = bound_of(n);
    // Equal keys share a bucket, so the keys that need one are the live buckets.
    if (live_buckets(r) >= bound) return false;
    GcRoot slots(new_slots(n));
    const uint32_t count = cell_count(rec(root.node())->data);
    ensure_index(root, count);
    r = rec(root.node());
    r->keys = slots.node();
    r->buckets = n;
    r->bound = bound;
    r->size = 0;
    r->occupied = 0;
    Buffer* chains = buf(r->chains);
    chains->tail = chains->head;
    Buffer* index = buf(r->index);
    std::memset(index->at_head(), 0xFF, index->tail - index->head);
    r->pending = 0;
    if (r->stamp) r->stamp = current_stamp();
    if (!index_run(root, 0, count)) return rebuild_hash_to(root, n * 2);
    return true;
}
// The same for a request of r keys.
bool rebuild_hash(Root& root, uint64_t request) {
    return rebuild_hash_to(root, std::max(4u, next_power(static_cast<uint64_t>(request * 1.5))));
}

// The arrays of a bucket series of `buckets` buckets.
Buckets buckets_at(uint32_t node, uint32_t buckets) {
    uint8_t* head = buf(node)->at_head();
    return {head, reinterpret_cast<Slot*>(head + probing::control_bytes(buckets))};
}

// Places a key in new buckets so that keys of one tag keep the order of their cells along
// their probe: a key passes a bucket of the same tag and an earlier cell, and takes the place
// of one of a later cell, which moves on along the probe. Never collects.
inline void place_in_order(const Buckets& at, uint32_t mask, Slot slot) {
    const uint8_t control = control_of(slot.tag);
    uint32_t b = slot.tag & mask, step = 0;
    for (;;) {
        const uint8_t c = at.control[b];
        if (c == kEmpty) break;
        if (c == control && at.slots[b].tag == slot.tag && at.slots[b].entry > slot.entry)
            std::swap(slot, at.slots[b]);
        b = (b + ++step) & mask;
    }
    set_live(at, b, slot);
}

// Kinds 1 and 2: new buckets for a request of r keys. The keys are placed again from the old
// buckets in their order, which writes the new buckets in two runs; keys of one tag keep the
// order of their cells along their probe (see place_in_order), so that the one a lookup finds
// first stays the same (the canonical symbol before its case variants, the earlier of two map
// keys equal without regard to case). A key keeps its bucket: nothing is hashed or read
// again. May collect.
void regrow(Root& root, uint64_t request) {
    Record* r = rec(root.node());
    const uint32_t n = std::max(4u, next_power(request));
    const uint32_t bound = grown_bound_of(n);
    const uint32_t count = cell_count(r->data);
    const auto indexed = [count](const Buckets& at, uint32_t b) {
        return is_live(at.control[b]) && static_cast<uint32_t>(at.slots[b].entry) < count;
    };
    uint32_t keys_count = 0;
    {
        const Buckets old = buckets_of(r);
        for (uint32_t b = 0; b < r->buckets; ++b) keys_count += indexed(old, b);
    }
    // Removed map! pairs stay indexed, so they count too.
    if (std::max(r->size, keys_count) >= bound) return;
    GcRoot slots(new_slots(n));
    r = rec(root.node());
    const Buckets fresh = buckets_at(slots.node(), n);
    const Buckets old = buckets_of(r);
    for (uint32_t b = 0; b < r->buckets; ++b)
        if (indexed(old, b)) place_in_order(fresh, n - 1, old.slots[b]);
    r->keys = slots.node();
    r->buckets = n;
    r->bound = bound;
    r->occupied = keys_count;
    if (r->kind == kWords) r->size = keys_count;
}

// Kinds 3 and 4: new buckets for a request of r keys and a fresh data block holding the live
// entries in their order (deleted entries dropped). May collect.
void regrow_int(Root& root, uint64_t request) {
    CompactionOff off;
    Record* r = rec(root.node());
    const uint32_t n = std::max(4u, next_power(request));
    const uint32_t bound = grown_bound_of(n);
    const uint32_t stride = r->index;
    uint32_t entries = 0;
    {
        Buffer* data = buf(r->data);
        for (uint32_t at = data->head; at + stride <= data->tail; at += stride)
            entries += reinterpret_cast<const Cell*>(data->data() + at)->header == kTypeUnset;
    }
    if (std::max(r->size, entries) >= bound) return;
    GcRoot slots(new_slots(n));
    const uint32_t capacity =
        std::max(buf(rec(root.node())->data)->size, rec(root.node())->size * stride);
    GcRoot data(memory::alloc_cells(capacity / sizeof(Cell)));
    r = rec(root.node());
    Buffer* from = buf(r->data);
    Buffer* to = buf(data.node());
    const Buckets fresh = buckets_at(slots.node(), n);
    uint32_t live = 0;
    to->tail = to->head;
    for (uint32_t at = from->head; at + stride <= from->tail; at += stride) {
        const auto* entry = reinterpret_cast<const Cell*>(from->data() + at);
        if (entry->header != kTypeUnset) continue;
        const uint32_t offset = to->tail - to->head;
        std::memcpy(to->at_tail(), entry, stride);
        to->tail += stride;
        place(fresh, n - 1, tag_of(hash::mix_int(entry->w1)), static_cast<int32_t>(offset));
        ++live;
    }
    r->keys = slots.node();
    r->data = data.node();
    r->buckets = n;
    r->bound = bound;
    r->size = live;
    r->occupied = live;
    r->stamp = current_stamp();
}

// Kinds 3 and 4 after nodes moved: every live entry placed again at its new hash, in the
// same buckets series. Never collects.
void rehash_int(Record* r) {
    const Buckets arrays = buckets_of(r);
    std::memset(arrays.control, kEmpty, r->buckets);
    Buffer* data = buf(r->data);
    const uint32_t stride = r->index;
    uint32_t live = 0;
    for (uint32_t at = data->head; at + stride <= data->tail; at += stride) {
        const auto* entry = reinterpret_cast<const Cell*>(data->data() + at);
        if (entry->header != kTypeUnset) continue;
        place(arrays, r->buckets - 1, tag_of(hash::mix_int(entry->w1)),
              static_cast<int32_t>(at - data->head));
        ++live;
    }
    r->size = live;
    r->occupied = live;
    r->stamp = current_stamp();
}

// Grows a table before an insertion: the bucket count - 1 when mostly deleted buckets filled
// it, else + 1 (map! and words always + 1; words sixteen times that). Answers whether a
// hash! was rebuilt from its block. May collect.
bool grow(Root& root) {
    Record* r = rec(root.node());
    const uint64_t n = r->buckets;
    const uint32_t kind = r->kind;
    const bool mostly_deleted = uint64_t{r->size} * 2 < n;
    uint64_t request = (kind == kMap || kind == kWords || !mostly_deleted) ? n + 1 : n - 1;
    switch (kind) {
    case kHash:
        // Mostly deleted buckets: the table is sized for the cells of its block, so that a
        // hash! changed in place again and again does not grow with the number of changes.
        if (mostly_deleted) request = uint64_t{cell_count(r->data)} + 1;
        return rebuild_hash(root, request);
    case kMap:
        regrow(root, request);
        return false;
    case kWords:
        regrow(root, request * kSymbolGrowth);
        return false;
    default:
        regrow_int(root, request);
        return false;
    }
}

// Rebuilds the buckets when the stamp says that nodes moved since they were built. May
// collect.
void refresh_stamp(Root& root) {
    Record* r = rec(root.node());
    if (r->stamp == 0 || r->stamp == current_stamp() || collector::busy()) return;
    if (r->kind == kHash)
        rebuild_hash(root, cell_count(r->data));
    else if (r->kind == kIntegers || r->kind == kOwners)
        rehash_int(r);
}
bool stale(uint32_t table) {
    const Record* r = rec(table);
    return r->stamp != 0 && r->stamp != current_stamp() && !collector::busy();
}

// --- map! -----------------------------------------------------------------------------------

// A key as a map! looks it up: word keys as set-words.
Cell map_key(Cell key) {
    if (traits::is_any_word(cell::type(&key))) cell::set_type(&key, kTypeSetWord);
    return key;
}

using probing::View;
using probing::view_of;
using probing::word2_keyed;

[[gnu::noinline]] int32_t map_find_by_type(const Record* r, const Cell& raw, int code) {
    const Cell key = map_key(raw);
    const uint8_t type = cell::type(&key);
    if (traits::is_any_string(type)) {
        // The key's text is found once, for its hash and every comparison (keys_equal's
        // text case, with the candidate's type already the key's).
        const Units text = units_of(key);
        const uint32_t h = hash::code_points(text.at, text.count, int(text.unit), false);
        const View v = view_of(r);
        return probing::probe(v.buckets, v.mask, tag_of(h), [&](const Slot& slot) {
            prefetch_node(slot.key);
            if (static_cast<uint32_t>(slot.entry) >= v.count) return false;
            const Cell& c = v.cells[slot.entry];
            if (cell::type(&c) != type) return false;
            if (c.w2 == key.w2 && c.w1 == key.w1) return true;
            return code != 9 && units_equal(units_of(c), text, code != 2);
        });
    }
    return probing::find(view_of(r), tag_of(hash_value(key, false)), [&](const Cell& c) {
        return cell::type(&c) == type && keys_equal(c, key, code);
    });
}

// Integer and character keys take a path without calls (see word2_keyed).
[[gnu::always_inline]] inline int32_t map_find(const Record* r, const Cell& key, int code) {
    const uint8_t type = cell::type(&key);
    if (!word2_keyed(type)) return map_find_by_type(r, key, code);
    return probing::find_word2(r, type, key.w2);
}

int32_t map_put(uint32_t table, uint32_t index) {
    {
        const Record* r = rec(table);
        if (r->occupied >= r->bound) {
            Root root(table);
            grow(root);
            table = root.node();
        }
    }
    Record* r = rec(table);
    const View v = view_of(r);
    if (index >= v.count) return -1;
    const Cell key = v.cells[index];
    const uint8_t type = cell::type(&key);
    const bool simple = word2_keyed(type);
    const uint32_t tag = tag_of(simple ? hash::mix_int(key.w2) : hash_value(key, false));
    const uint8_t control = control_of(tag);
    uint32_t b = tag & v.mask;
    const uint32_t start = b;
    uint32_t step = 0;
    int32_t free = -1;
    bool was_empty = false;
    for (;;) {
        const uint8_t c = v.buckets.control[b];
        if (c == kEmpty) {
            if (free < 0) {
                free = static_cast<int32_t>(b);
                was_empty = true;
            }
            break;
        }
        const Slot& slot = v.buckets.slots[b];
        if (c == kDeleted) {
            if (free < 0) free = static_cast<int32_t>(b);
        } else if (c == control && slot.tag == tag) {
            const int32_t e = slot.entry;
            if (e == static_cast<int32_t>(index)) return e;
            if (simple) {
                if (slot.key == key.w2 && slot.type == type) return e;
            } else if (static_cast<uint32_t>(e) < v.count) {
                const Cell& c = v.cells[e];
                if (cell::type(&c) == type && keys_equal(c, key, 2)) return e;
            }
        }
        b = (b + ++step) & v.mask;
        if (b == start) break;
    }
    if (free < 0) {
        // No free bucket: only possible when the bound was passed by hand.
        Root root(table);
        regrow(root, uint64_t{rec(table)->buckets} + 1);
        return map_put(root.node(), index);
    }
    set_live(v.buckets, static_cast<uint32_t>(free),
             live_slot(kMap, tag, static_cast<int32_t>(index), key));
    ++r->size;
    if (was_empty) ++r->occupied;
    return static_cast<int32_t>(index);
}

// --- hash! search ---------------------------------------------------------------------------

// A key compared with many cells: the text of a string key is found once, for its hash and
// every comparison (keys_equal's text case). Valid until the next allocation.
class KeyMatch {
public:
    explicit KeyMatch(const Cell& key)
        : key_(key), text_(traits::is_any_string(cell::type(&key))),
          units_(text_ ? units_of(key) : Units{nullptr, 0, 1}) {}
    uint32_t hash() const {
        return text_ ? hash::code_points(units_.at, units_.count, int(units_.unit), false)
                     : hash_value(key_, false);
    }
    bool equal(const Cell& c, int code) const {
        if (!text_ || !traits::is_any_string(cell::type(&c))) return keys_equal(c, key_, code);
        return text_keys_equal(c, key_, code, &units_);
    }

private:
    const Cell& key_;
    bool text_;
    Units units_;
};

int32_t hash_find(uint32_t table, const Cell& key, int32_t start, int32_t skip, int code, bool last,
                  bool reverse) {
    if (reverse) last = true;
    if (skip < 1) skip = 1;
    const KeyMatch match(key);
    const Record* r = rec(table);
    const Buckets at = buckets_of(r);
    const Cell* cells = cells_of(r->data);
    const uint32_t count = cell_count(r->data);
    const uint32_t mask = r->buckets - 1;
    const uint32_t tag = tag_of(match.hash());
    const uint8_t control = control_of(tag);
    // An integer or character key is compared in its bucket: equal keys are equal under
    // every code, and a chain holds equal keys only.
    const uint8_t type = cell::type(&key);
    const bool inline_key = probing::word2_keyed(type);
    uint32_t b = tag & mask;
    const uint32_t first_bucket = b;
    uint32_t step = 0;
    for (;;) {
        const uint8_t c = at.control[b];
        if (c == kEmpty) return -1;
        const Slot& slot = at.slots[b];
        if (c == control && slot.tag == tag &&
            (inline_key ? slot.type == type && slot.key == key.w2 : slot.type == 0)) {
            const int32_t entry = slot.entry;
            if (!inline_key) prefetch_node(slot.key);
            const int32_t first = inline_key ? 0 : first_of(r, entry);
            if (first >= 0 && static_cast<uint32_t>(first) < count &&
                (inline_key || match.equal(cells[first], 0))) {
                const int32_t* run = &entry;
                uint32_t length = 1;
                if (entry < 0) {
                    const uint32_t chain = chain_node(r, static_cast<uint32_t>(-int64_t{entry}));
                    run = chain ? ints_of(chain) : nullptr;
                    length = chain ? ints_length(chain) : 0;
                }
                int32_t best = -1;
                for (uint32_t i = 0; i < length; ++i) {
                    const int32_t l = run[i];
                    if (l < 0 || static_cast<uint32_t>(l) >= count) continue;
                    const bool below = l < start;
                    if (reverse ? !below : below) continue;
                    if (!inline_key && !(l == first && code == 0) && !match.equal(cells[l], code))
                        continue;
                    if (skip > 1) {
                        const int64_t d = last ? int64_t{start} - 1 - l : int64_t{l} - start;
                        int64_t rem = d % skip;
                        if (rem < 0) rem += skip;
                        if (rem != 0) continue;
                    }
                    if (last ? l > best : (best < 0 || l < best)) best = l;
                }
                if (best >= 0) return best;
            }
        }
        b = (b + ++step) & mask;
        if (b == first_bucket) return -1;
    }
}

// --- Integer-keyed tables -------------------------------------------------------------------

// The bucket of a key in a kind 3 or 4 table, or the miss.
struct IntProbe {
    int32_t found; // bucket, or -1
    int32_t slot;  // where the key would go (first deleted bucket passed, else the empty one)
    bool empty;    // the slot was empty
};
IntProbe probe_int(const Record* r, uint32_t key) {
    const Buckets at = buckets_of(r);
    Buffer* data = buf(r->data);
    const uint32_t length = data->tail - data->head;
    const uint32_t mask = r->buckets - 1;
    const uint32_t tag = tag_of(hash::mix_int(key));
    const uint8_t control = control_of(tag);
    uint32_t b = tag & mask;
    const uint32_t start = b;
    uint32_t step = 0;
    IntProbe p{-1, -1, false};
    for (;;) {
        const uint8_t c = at.control[b];
        if (c == kEmpty) {
            if (p.slot < 0) {
                p.slot = static_cast<int32_t>(b);
                p.empty = true;
            }
            return p;
        }
        if (c == kDeleted) {
            if (p.slot < 0) p.slot = static_cast<int32_t>(b);
        } else if (c == control && at.slots[b].tag == tag) {
            const int32_t e = at.slots[b].entry;
            if (e >= 0 && static_cast<uint32_t>(e) + sizeof(Cell) <= length &&
                reinterpret_cast<const Cell*>(data->at_head() + e)->w1 == key) {
                p.found = static_cast<int32_t>(b);
                return p;
            }
        }
        b = (b + ++step) & mask;
        if (b == start) return p;
    }
}
Cell* entry_at(const Record* r, int32_t bucket) {
    return reinterpret_cast<Cell*>(buf(r->data)->at_head() + buckets_of(r).slots[bucket].entry);
}
bool int_kind(const Record* r) {
    return r->kind == kIntegers || r->kind == kOwners;
}

// Removes the entry of a live bucket: bucket deleted, key header 0, values unset.
Cell* remove_entry(Record* r, int32_t bucket) {
    set_deleted(buckets_of(r), static_cast<uint32_t>(bucket));
    Cell* entry = entry_at(r, bucket);
    entry->header = 0;
    --r->size;
    return entry + 1;
}

// --- Collector ------------------------------------------------------------------------------

void mark_hash_cell(Cell& c) {
    if (c.w2 != 0) collector::mark_node_cells(c.w2);
    if (c.w3 != 0) mark(c.w3);
}

// A symbol cell reaches its UTF-8 text and, once made, its string.
void mark_symbol_cell(Cell& c) {
    if (c.w3 != 0) collector::mark_series(c.w3);
    if (c.w2 != 0) collector::mark_series(c.w2);
}

} // namespace

// --- Public interface -----------------------------------------------------------------------

Root::Root(uint32_t table) : root_(Cell{kTypeHash, 0, 0, table}) {
    if (!collector::type_marker(kTypeHash)) register_markers();
}

void register_markers() {
    collector::set_type_marker(kTypeHash, mark_hash_cell);
    collector::set_type_marker(kTypeMap, mark_hash_cell);
    if (!collector::type_marker(kTypeSymbol))
        collector::set_type_marker(kTypeSymbol, mark_symbol_cell);
}

void set_symbol_resolver(Resolve r) {
    symbol_resolver = r;
}

uint32_t resolve(uint32_t symbol) {
    return symbol_resolver ? symbol_resolver(symbol) : symbol;
}

void set_map_key_prepare(KeyPrepare prepare) {
    key_prepare = prepare;
}

uint32_t hash_string(const Cell& text, bool case_sensitive) {
    const Units u = units_of(text);
    return hash::code_points(u.at, u.count, static_cast<int>(u.unit), case_sensitive);
}

uint32_t hash_value(const Cell& v, bool case_sensitive) {
    using traits::Key;
    switch (traits::of(cell::type(&v)).key) {
    case Key::unhashed:
        return 0;
    case Key::none:
        return 0xFFFFFFFF;
    case Key::unset:
        return 0xFFFFFFFE;
    case Key::word1_only:
    case Key::word1:
        return hash::mix_int(v.w1);
    case Key::word2_only:
    case Key::word2:
        return hash::mix_int(v.w2);
    case Key::word3:
        return hash::mix_int(v.w3);
    case Key::word:
        return hash::mix_int(resolve(v.w2));
    case Key::symbol:
        return symbol_hash(v);
    case Key::text:
        return hash_string(v, case_sensitive);
    case Key::bytes: {
        const Units u = units_of(v);
        return hash::murmur3(u.at, size_t{u.count} * u.unit);
    }
    case Key::words12: {
        const uint32_t w[2] = {v.w1, v.w2};
        return hash::murmur3(w, 8);
    }
    case Key::decimal:
        // -0.0 equals 0.0 (see keys_equal), so it hashes like it.
        if (v.w2 == 0 && v.w3 == 0x80000000u) {
            const uint32_t zero[2] = {0, 0};
            return hash::murmur3(zero, 8);
        }
        [[fallthrough]];
    case Key::words23: {
        const uint32_t w[2] = {v.w2, v.w3};
        return hash::murmur3(w, 8);
    }
    case Key::words123: {
        const uint32_t w[3] = {v.w1, v.w2, v.w3};
        return hash::murmur3(w, 12);
    }
    case Key::tuple: {
        const uint32_t w[3] = {v.w1, v.w2, v.w3};
        return hash::murmur3(w, std::min<uint32_t>((v.header >> 19) & 0xF, 12));
    }
    case Key::money: {
        const uint32_t w[4] = {v.header & (cell::kTypeMask | 0x4000), v.w1, v.w2, v.w3};
        return hash::murmur3(w, 16);
    }
    }
    return 0;
}

bool node_keyed(uint8_t type) {
    return traits::in(type, traits::kHashesNode);
}

bool keys_equal(const Cell& a, const Cell& b, int code) {
    const uint8_t ta = cell::type(&a), tb = cell::type(&b);
    if (traits::is_any_string(ta)) return traits::is_any_string(tb) && text_keys_equal(a, b, code);
    if (traits::is_all_word(ta)) {
        if (!traits::is_all_word(tb) || ((ta == kTypeIssue) != (tb == kTypeIssue))) return false;
        if (code == 2) return ta == tb && a.w2 == b.w2;
        if (code == 9) return ta == tb && a.w2 == b.w2 && a.w1 == b.w1;
        return a.w2 == b.w2 || resolve(a.w2) == resolve(b.w2);
    }
    if (ta != tb) return false;
    using traits::Key;
    switch (traits::of(ta).key) {
    case Key::none:
    case Key::unset:
        return true;
    case Key::word1_only:
        return a.w1 == b.w1;
    case Key::word2_only:
        return a.w2 == b.w2;
    case Key::decimal: {
        // The doubles are equal as numbers (0.0 and -0.0 are; a NaN is equal to nothing), as
        // find compares them; only sameness looks at the bits. Equality within a tolerance,
        // which the compare action allows under code 0, could not be hashed.
        if (code == 9) return a.w2 == b.w2 && a.w3 == b.w3;
        double x, y;
        std::memcpy(&x, &a.w2, sizeof x);
        std::memcpy(&y, &b.w2, sizeof y);
        return x == y;
    }
    case Key::bytes: {
        if (a.w2 == b.w2 && a.w1 == b.w1) return true;
        if (code == 9) return false;
        const Units x = units_of(a), y = units_of(b);
        const size_t n = size_t{x.count} * x.unit;
        return n == size_t{y.count} * y.unit && (n == 0 || std::memcmp(x.at, y.at, n) == 0);
    }
    case Key::symbol: {
        const Units x = symbol_text(a), y = symbol_text(b);
        return x.count == y.count && bytes_equal(x.at, y.at, x.count, code != 2);
    }
    default:
        return a.w1 == b.w1 && a.w2 == b.w2 && a.w3 == b.w3;
    }
}

namespace {

// init, with the cells of a hash! or map! source indexed from `start`, one every `skip`.
uint32_t make_table(uint32_t size, const Cell* source, Kind kind, uint32_t extra, uint32_t start,
                    uint32_t skip) {
    if (size > kMaxKeys) memory::raise(memory::Fault::no_memory);
    const bool has_source = source && cell::type(source) != kTypeNone;
    if (kind == kWords && extra == 2 && has_source) return copy_record(source->w1);
    GcRoot source_root(has_source ? *source : Cell{kTypeNone, 0, 0, 0});
    Root root(0);
    {
        const uint32_t table = memory::alloc_bytes(sizeof(Record));
        std::memset(buf(table)->data(), 0, sizeof(Record));
        buf(table)->tail = sizeof(Record);
        root.set(table);
    }
    rec(root.node())->kind = kind;
    if (kind == kWords && size >= kWordTableDoubling) size *= 2;
    if (kind == kIntegers || kind == kOwners) {
        rec(root.node())->index = (extra + 1) * sizeof(Cell);
        rec(root.node())->stamp = current_stamp();
    }
    size = std::max(size, 4u);
    const uint32_t n = buckets_for(size);
    {
        Record* r = rec(root.node());
        r->buckets = n;
        r->bound = bound_of(n);
    }
    uint32_t node = new_slots(n);
    rec(root.node())->keys = node;
    if (kind == kHash) {
        node = new_ints(size, 0xFF);
        rec(root.node())->index = node;
        node = new_ints(0, 0);
        rec(root.node())->chains = node;
    }
    if (kind == kIntegers || kind == kOwners || !has_source) {
        node = memory::alloc_cells(size);
        rec(root.node())->data = node;
    } else {
        rec(root.node())->data = source_root.cell().w2;
        if (kind == kHash || kind == kMap) fill_from_block(root.node(), start, skip);
    }
    return root.node();
}

} // namespace

uint32_t init(uint32_t size, const Cell* source, Kind kind, uint32_t extra) {
    return make_table(size, source, kind, extra, 0, kind == kMap ? 2 : 1);
}

uint32_t init_range(uint32_t size, const Cell& source, uint32_t start, uint32_t skip) {
    return make_table(size, &source, kHash, 0, start, std::max(skip, 1u));
}

uint32_t copy_record(uint32_t table) {
    Root source(table);
    Root copy(0);
    {
        const uint32_t node = memory::alloc_bytes(sizeof(Record));
        std::memcpy(buf(node)->data(), rec(source.node()), sizeof(Record));
        buf(node)->tail = sizeof(Record);
        copy.set(node);
    }
    uint32_t node = memory::copy_series(buf(rec(source.node())->keys));
    rec(copy.node())->keys = node;
    node = memory::copy_series(buf(rec(source.node())->data));
    rec(copy.node())->data = node;
    return copy.node();
}

void fill_from_block(uint32_t table, uint32_t start, uint32_t skip) {
    Root root(table);
    if (skip < 1) skip = 1;
    const uint32_t kind = rec(table)->kind;
    if (kind == kHash) {
        for (uint32_t l = start; l < cell_count(rec(root.node())->data); l += skip) {
            bool rebuilt = false;
            put(root.node(), l, &rebuilt);
            if (rebuilt) return; // every cell of the block is indexed now
        }
        return;
    }
    if (kind != kMap) return;
    uint32_t l = start;
    while (l + 1 < cell_count(rec(root.node())->data)) {
        Record* r = rec(root.node());
        Cell* cells = cells_of(r->data);
        const int32_t e = map_find(r, cells[l], 2);
        if (e >= 0 && static_cast<uint32_t>(e) != l) {
            // A repeated key: the first keeps its place and takes the later value, and the
            // later pair leaves the block.
            if (cells[e + 1].header == 0 && cells[l + 1].header != 0) ++r->size;
            cells[e + 1] = cells[l + 1];
            Buffer* b = buf(r->data);
            std::memmove(cells + l, cells + l + 2, (cell_count(r->data) - l - 2) * sizeof(Cell));
            b->tail -= 2 * sizeof(Cell);
            continue;
        }
        put(root.node(), l);
        if (key_prepare) key_prepare(rec(root.node())->data, l);
        l += skip;
    }
}

namespace {

// hash!: indexes cell `l` of the block unless it is indexed already, growing the table first
// at the bound. Answers whether the table was rebuilt from its block instead (every cell is
// indexed then). May collect.
bool index_cell(Root& root, uint32_t l) {
    ensure_index(root, l + 1);
    if (ints_of(rec(root.node())->index)[l] > 0) return false;
    if (rec(root.node())->occupied >= rec(root.node())->bound && grow(root)) return true;
    if (insert_hash_cell(root, l)) return false;
    rebuild_hash(root, uint64_t{rec(root.node())->buckets} + 1);
    return true;
}

// hash!: every cell of the block indexed again, in buckets sized for them. May collect.
void rebuild_all(Root& root) {
    const Record* r = rec(root.node());
    rebuild_hash(root, uint64_t{std::max(cell_count(r->data), r->size)} + 1);
}

// refresh_range of a hash! table (its waiting cells left waiting). May collect.
// Gives the cells at [lo, hi) the positions that `to` maps them to in the entries that name
// them: a bucket's own entry, and the entries of each chain they are in that `in_span` picks
// (a chain is renumbered once, however many of its cells lie in the span).
template <class To, class InSpan>
void renumber(Record* r, uint32_t lo, uint32_t hi, To to, InSpan in_span) {
    const int32_t* index = ints_of(r->index);
    Slot* slots = buckets_of(r).slots;
    std::vector<uint8_t> seen(ints_length(r->chains) + 1);
    for (uint32_t l = lo; l < hi; ++l) {
        const int32_t b = index[l] - 1;
        if (b < 0 || static_cast<uint32_t>(b) >= r->buckets) continue;
        const int32_t entry = slots[b].entry;
        if (entry >= 0) {
            slots[b].entry = static_cast<int32_t>(to(entry));
            continue;
        }
        const uint32_t number = static_cast<uint32_t>(-int64_t{entry});
        const uint32_t chain = chain_node(r, number);
        if (!chain || seen[number]) continue;
        seen[number] = 1;
        int32_t* at = ints_of(chain);
        for (uint32_t i = 0, n = ints_length(chain); i < n; ++i)
            if (in_span(at[i])) at[i] = static_cast<int32_t>(to(at[i]));
    }
}

int shift_entries(Root& root, int32_t shift, uint32_t first, uint32_t count, bool move) {
    if (count > kRangeLimit) return 1;
    if (shift == 0) return 0;
    if (move && shift < 0 && int64_t{first} + shift < 0) return 0;
    if (move && shift < 0)
        for (uint32_t l = first + shift; l < first; ++l) delete_hash_cell(rec(root.node()), l);
    const uint32_t old_length = ints_length(rec(root.node())->index);
    if (first >= old_length) return 0;
    const uint32_t end =
        static_cast<uint32_t>(std::min<uint64_t>(uint64_t{first} + count, old_length));
    if (move && shift > 0) ensure_index(root, old_length + static_cast<uint32_t>(shift));
    Record* r = rec(root.node());
    int32_t* index = ints_of(r->index);
    renumber(
        r, first, end, [&](int64_t x) { return x + shift; },
        [&](int32_t x) { return x >= static_cast<int32_t>(first); });
    if (move) {
        // The entries of the range move along with their cells; the places they leave
        // hold no cell's entry.
        const int64_t to = int64_t{first} + shift;
        const uint32_t n = end - first;
        std::memmove(index + to, index + first, size_t{n} * 4);
        if (shift > 0)
            std::fill(index + first, index + std::min<int64_t>(to, end), -1);
        else
            std::fill(index + std::max<int64_t>(to + n, first), index + end, -1);
    }
    return 0;
}

// hash!: indexes the cells waiting at the tail of the block (appended since the last
// lookup). May collect.
void flush(Root& root) {
    Record* r = rec(root.node());
    if (r->pending == 0 || r->kind != kHash) return;
    CompactionOff off;
    const uint32_t count = cell_count(r->data);
    if (stale(root.node()) || r->pending > count || uint64_t{r->size} + r->pending != count ||
        r->occupied + uint64_t{r->pending} >= r->bound) {
        // Out of step, or no room for them all: one rebuild, sized for the whole block.
        rebuild_all(root);
        return;
    }
    const uint32_t from = count - r->pending;
    ensure_index(root, count);
    rec(root.node())->pending = 0;
    if (!index_run(root, from, count)) rebuild_all(root);
}

} // namespace

int32_t put(uint32_t table, uint32_t index, bool* rebuilt) {
    if (rebuilt) *rebuilt = false;
    const uint32_t kind = rec(table)->kind;
    if (kind == kMap) return map_put(table, index);
    if (kind != kHash) return -1;
    Root root(table);
    CompactionOff off;
    refresh_stamp(root);
    flush(root);
    if (index >= cell_count(rec(root.node())->data)) return -1;
    const bool again = index_cell(root, index);
    if (rebuilt) *rebuilt = again;
    return static_cast<int32_t>(index);
}

void splice(uint32_t table, uint32_t at, uint32_t removed, uint32_t inserted) {
    Record* r = rec(table);
    if (r->kind != kHash) return;
    const uint32_t count = cell_count(r->data);
    const uint64_t before = uint64_t{count} + removed - inserted;
    // A stale table, or one that did not account for every cell of the block before the
    // change (the block was changed behind its back), is built again from the block.
    const bool in_step = !stale(table) && at <= count && inserted <= count - at &&
                         uint64_t{r->size} + r->pending == before;
    // The cells from `indexed` on (old places) were appended and wait to be indexed.
    const uint64_t indexed = before - r->pending;
    // Appended cells, and any change among the waiting ones, only add to the wait: they are
    // indexed together at the next lookup (flush), where the misses of their insertions
    // overlap. Nothing is allocated for them.
    if (in_step && count > 0 && at >= indexed) {
        r->pending = count - static_cast<uint32_t>(indexed);
        return;
    }
    Root root(table);
    CompactionOff off;
    if (!in_step) {
        rebuild_all(root);
        return;
    }
    if (count == 0) {
        clear(root.node());
        return;
    }
    const uint32_t after = count - at - inserted;
    // A change that touches as many cells as the block holds (a sort, a clear, a change of
    // everything) costs less as a rebuild.
    if (uint64_t{removed} + inserted >= count) {
        rebuild_all(root);
        return;
    }
    // Only indexed cells have entries to remove or to move; the waiting cells after them
    // keep waiting.
    const auto removed_indexed = static_cast<uint32_t>(std::min<uint64_t>(removed, indexed - at));
    const auto moved =
        static_cast<uint32_t>(at + uint64_t{removed} < indexed ? indexed - at - removed : 0);
    for (uint32_t l = at; l < at + removed_indexed; ++l) delete_hash_cell(rec(root.node()), l);
    const int64_t shift = int64_t{inserted} - removed;
    if (shift != 0 && moved > 0 &&
        shift_entries(root, static_cast<int32_t>(shift), at + removed, moved, true) != 0) {
        rebuild_all(root);
        return;
    }
    rec(root.node())->pending = after - moved;
    if (inserted > 0) ensure_index(root, at + inserted);
    for (uint32_t l = at; l < at + inserted; ++l)
        if (index_cell(root, l)) return; // rebuilt: every cell is indexed
    r = rec(root.node());
    if (uint64_t{r->size} + r->pending != count) rebuild_all(root);
}

namespace {

// A hash! search, its buckets rebuilt first when nodes moved.
[[gnu::noinline]] int32_t hash_find_all(uint32_t table, const Cell& key, int32_t start,
                                        int32_t skip, int code, bool last, bool reverse) {
    if (!stale(table) && rec(table)->pending == 0)
        return hash_find(table, key, start, skip, code, last, reverse);
    Root root(table);
    GcRoot keep(key);
    CompactionOff off;
    refresh_stamp(root);
    flush(root);
    return hash_find(root.node(), keep.cell(), start, skip, code, last, reverse);
}

} // namespace

int32_t find_all_by_kind(uint32_t table, const Cell& key, int32_t start, int32_t skip, int code,
                         bool last, bool reverse) {
    const Record* r = rec(table);
    if (r->kind == kMap) return map_find(r, key, code);
    if (r->kind == kHash) return hash_find_all(table, key, start, skip, code, last, reverse);
    return -1;
}

int32_t find_next(uint32_t table, Cell key, Probe& probe) {
    const Record* r = rec(table);
    if (r->kind == kMap) key = map_key(key);
    const Buckets at = buckets_of(r);
    const Cell* cells = cells_of(r->data);
    const uint32_t count = cell_count(r->data);
    const uint32_t mask = r->buckets - 1;
    const uint32_t tag = tag_of(hash_value(key, false));
    const uint8_t control = control_of(tag);
    uint32_t b;
    if (probe.bucket < 0) {
        b = tag & mask;
        probe.start = b;
        probe.step = 0;
    } else {
        b = (static_cast<uint32_t>(probe.bucket) + ++probe.step) & mask;
        if (b == probe.start) return -1;
    }
    for (;;) {
        probe.bucket = static_cast<int32_t>(b);
        const uint8_t c = at.control[b];
        if (c == kEmpty) return -1;
        if (c == control && at.slots[b].tag == tag) {
            const int32_t e = at.slots[b].entry;
            if (e >= 0 && static_cast<uint32_t>(e) < count &&
                cell::type(&cells[e]) == cell::type(&key) && keys_equal(cells[e], key, 0))
                return e;
        }
        b = (b + ++probe.step) & mask;
        if (b == probe.start) return -1;
    }
}

void delete_(uint32_t table, uint32_t index) {
    const uint32_t kind = rec(table)->kind;
    if (kind == kMap) {
        Record* r = rec(table);
        if (index + 1 >= cell_count(r->data)) return;
        Cell& value = cells_of(r->data)[index + 1];
        if (value.header == 0) return;
        value.header = 0;
        --r->size;
        return;
    }
    if (kind != kHash) return;
    Root root(table);
    CompactionOff off;
    refresh_stamp(root);
    flush(root);
    delete_hash_cell(rec(root.node()), index);
}

void remove_range(uint32_t table, uint32_t index, uint32_t count) {
    if (rec(table)->kind != kHash) return;
    Root root(table);
    CompactionOff off;
    refresh_stamp(root);
    flush(root);
    Record* r = rec(root.node());
    const uint32_t length = cell_count(r->data);
    if (index >= length) return;
    count = std::min(count, length - index);
    if (index == 0 && count == length) {
        clear(root.node());
        return;
    }
    for (uint32_t l = index; l < index + count; ++l) delete_hash_cell(r, l);
}

int refresh_range(uint32_t table, int32_t shift, uint32_t first, uint32_t count, bool move) {
    if (count > kRangeLimit) return 1;
    if (rec(table)->kind != kHash || shift == 0) return 0;
    Root root(table);
    CompactionOff off;
    flush(root);
    return shift_entries(root, shift, first, count, move);
}

void move_keys(uint32_t table, uint32_t target, uint32_t first, uint32_t count) {
    if (rec(table)->kind != kHash || count == 0 || target == first) return;
    Root root(table);
    flush(root);
    Record* r = rec(root.node());
    const uint32_t length = ints_length(r->index);
    const uint32_t lo = std::min(target, first);
    const uint64_t hi = uint64_t{std::max(target, first)} + count;
    if (hi > length) return;
    // Where each cell of the span [lo, hi) went.
    const auto moved_to = [&](uint32_t x) -> uint32_t {
        if (x >= first && x < first + count) return x - first + target;
        return target < first ? x + count : x - count;
    };
    int32_t* index = ints_of(r->index);
    std::vector<int32_t> entries(index + lo, index + hi);
    renumber(
        r, lo, hi, [&](int64_t x) { return moved_to(static_cast<uint32_t>(x)); },
        [&](int32_t x) { return x >= static_cast<int32_t>(lo) && x < static_cast<int64_t>(hi); });
    for (uint32_t x = lo; x < hi; ++x) index[moved_to(x)] = entries[x - lo];
}

uint32_t copy(uint32_t data, uint32_t table) {
    Root source(table);
    GcRoot block(data);
    Root copy(0);
    {
        const uint32_t node = memory::alloc_bytes(sizeof(Record));
        std::memcpy(buf(node)->data(), rec(source.node()), sizeof(Record));
        buf(node)->tail = sizeof(Record);
        copy.set(node);
    }
    rec(copy.node())->data = block.node();
    uint32_t node = memory::copy_series(buf(rec(source.node())->keys));
    rec(copy.node())->keys = node;
    if (rec(source.node())->kind != kHash) return copy.node();
    node = memory::copy_series(buf(rec(source.node())->index));
    rec(copy.node())->index = node;
    node = memory::copy_series(buf(rec(source.node())->chains));
    rec(copy.node())->chains = node;
    for (uint32_t i = 0; i < ints_length(rec(copy.node())->chains); ++i) {
        node = memory::copy_series(buf(words_of(rec(copy.node())->chains)[i]));
        words_of(rec(copy.node())->chains)[i] = node;
    }
    return copy.node();
}

void clear(uint32_t table) {
    Record* r = rec(table);
    std::memset(buckets_of(r).control, kEmpty, r->buckets);
    r->size = 0;
    r->occupied = 0;
    r->pending = 0;
    if (r->kind == kHash) {
        Buffer* chains = buf(r->chains);
        chains->tail = chains->head;
        Buffer* index = buf(r->index);
        std::memset(index->at_head(), 0xFF, index->tail - index->head);
    } else if (int_kind(r)) {
        Buffer* data = buf(r->data);
        data->tail = data->head;
    }
}

void resize(uint32_t table, uint32_t request) {
    Root root(table);
    switch (rec(table)->kind) {
    case kHash:
        rebuild_hash(root, request);
        break;
    case kMap:
    case kWords:
        regrow(root, request);
        break;
    default:
        regrow_int(root, request);
    }
}

void rehash(uint32_t table) {
    Root root(table);
    CompactionOff off;
    refresh_stamp(root);
}

// --- Integer-keyed tables -------------------------------------------------------------------

Cell* put_int(uint32_t table, uint32_t key) {
    if (!int_kind(rec(table))) return nullptr;
    Root root(table);
    CompactionOff off;
    refresh_stamp(root);
    if (rec(root.node())->occupied >= rec(root.node())->bound) grow(root);
    const IntProbe p = probe_int(rec(root.node()), key);
    const uint32_t stride = rec(root.node())->index;
    if (p.found >= 0) {
        Cell* entry = entry_at(rec(root.node()), p.found);
        for (uint32_t i = 0; i < stride / sizeof(Cell); ++i) entry[i].header = kTypeUnset;
        return entry + 1;
    }
    if (p.slot < 0) { // no free bucket: only when the bound was passed by hand
        regrow_int(root, uint64_t{rec(root.node())->buckets} + 1);
        return put_int(root.node(), key);
    }
    Buffer* data = buf(rec(root.node())->data);
    const uint32_t offset = data->tail - data->head;
    auto* entry = reinterpret_cast<Cell*>(memory::alloc_tail_bytes(data, stride));
    for (uint32_t i = 0; i < stride / sizeof(Cell); ++i) entry[i] = Cell{kTypeUnset, 0, 0, 0};
    entry->w1 = key;
    Record* r = rec(root.node());
    set_live(buckets_of(r), static_cast<uint32_t>(p.slot),
             Slot{tag_of(hash::mix_int(key)), static_cast<int32_t>(offset), 0, 0});
    ++r->size;
    if (p.empty) ++r->occupied;
    return entry + 1;
}

Cell* get_int(uint32_t table, uint32_t key) {
    if (!int_kind(rec(table))) return nullptr;
    if (stale(table)) rehash_int(rec(table));
    const IntProbe p = probe_int(rec(table), key);
    return p.found >= 0 ? entry_at(rec(table), p.found) + 1 : nullptr;
}

Cell* delete_int(uint32_t table, uint32_t key) {
    if (!int_kind(rec(table))) return nullptr;
    if (stale(table)) rehash_int(rec(table));
    const IntProbe p = probe_int(rec(table), key);
    return p.found >= 0 ? remove_entry(rec(table), p.found) : nullptr;
}

// --- Symbols and context words --------------------------------------------------------------

uint32_t put_symbol(uint32_t table, const char* text, uint32_t length, bool case_insensitive) {
    Root root(table);
    // The text may live in a buffer that moves: work on a copy.
    const std::vector<uint8_t> own(text, text + length);
    if (rec(root.node())->occupied >= rec(root.node())->bound) grow(root);
    Record* r = rec(root.node());
    const uint32_t tag = tag_of(lowered_hash(own.data(), length));
    const uint8_t control = control_of(tag);
    const uint32_t mask = r->buckets - 1;
    int32_t alias = -1;
    int32_t slot = -1;
    for (int pass = 0; pass < 2 && alias < 0; ++pass) {
        const bool fold = case_insensitive || pass == 1;
        const Buckets at = buckets_of(r);
        const Cell* cells = cells_of(r->data);
        const uint32_t count = cell_count(r->data);
        uint32_t b = tag & mask, step = 0;
        const uint32_t start = b;
        for (;;) {
            const uint8_t c = at.control[b];
            if (c == kEmpty) {
                if (pass == 0) slot = static_cast<int32_t>(b);
                break;
            }
            const int32_t e = c == control ? at.slots[b].entry : -1;
            if (e >= 0 && at.slots[b].tag == tag && static_cast<uint32_t>(e) < count) {
                const Units t = symbol_text(cells[e]);
                if (t.count == length && bytes_equal(t.at, own.data(), length, fold)) {
                    if (pass == 0) return static_cast<uint32_t>(e) + 1;
                    // A case variant: the new symbol is an alias of its canonical.
                    const int32_t found_alias = static_cast<int32_t>(cells[e].w1);
                    alias = found_alias > 0 ? found_alias : e + 1;
                    break;
                }
            }
            b = (b + ++step) & mask;
            if (b == start) break;
        }
        if (case_insensitive) break;
    }
    if (slot < 0) { // no free bucket: only when the bound was passed by hand
        regrow(root, (uint64_t{rec(root.node())->buckets} + 1) * kSymbolGrowth);
        return put_symbol(root.node(), reinterpret_cast<const char*>(own.data()), length,
                          case_insensitive);
    }
    GcRoot utf8(memory::alloc_bytes(length + 1));
    {
        Buffer* b = buf(utf8.node());
        if (length) std::memcpy(b->data(), own.data(), length);
        b->data()[length] = 0;
        b->tail = length;
    }
    const uint32_t index = cell_count(rec(root.node())->data);
    Cell* symbol = memory::alloc_tail_cell(buf(rec(root.node())->data));
    *symbol = Cell{kTypeSymbol, static_cast<uint32_t>(alias), 0, utf8.node()};
    r = rec(root.node());
    set_live(buckets_of(r), static_cast<uint32_t>(slot),
             Slot{tag, static_cast<int32_t>(index), 0, 0});
    ++r->size;
    ++r->occupied;
    return index + 1;
}

int32_t put_context(uint32_t table, uint32_t symbol, bool case_insensitive, uint32_t context,
                    int32_t* out_index) {
    if (context && rec(table)->occupied >= rec(table)->bound) {
        Root root(table);
        grow(root);
        table = root.node();
    }
    const uint32_t canonical = resolve(symbol);
    Record* r = rec(table);
    const Buckets at = buckets_of(r);
    const Cell* cells = cells_of(r->data);
    const uint32_t count = cell_count(r->data);
    const uint32_t mask = r->buckets - 1;
    const uint32_t tag = tag_of(hash::mix_int(canonical));
    const uint8_t control = control_of(tag);
    uint32_t b = tag & mask, step = 0;
    const uint32_t start = b;
    int32_t slot = -1;
    for (;;) {
        const uint8_t c = at.control[b];
        if (c == kEmpty) {
            slot = static_cast<int32_t>(b);
            break;
        }
        const int32_t e = c == control ? at.slots[b].entry : -1;
        if (e >= 0 && at.slots[b].tag == tag && static_cast<uint32_t>(e) < count) {
            const uint32_t candidate = cells[e].w2;
            if (case_insensitive ? resolve(candidate) == canonical : candidate == symbol) return e;
        }
        b = (b + ++step) & mask;
        if (b == start) break;
    }
    if (out_index) *out_index = -1;
    if (!context) return -1;
    Root root(table);
    if (slot < 0) { // no free bucket: only when the bound was passed by hand
        regrow(root, (uint64_t{rec(table)->buckets} + 1) * kSymbolGrowth);
        return put_context(root.node(), symbol, case_insensitive, context, out_index);
    }
    GcRoot owner(context);
    const uint32_t index = count;
    Cell* word = memory::alloc_tail_cell(buf(rec(root.node())->data));
    *word = Cell{kTypeWord, owner.node(), symbol, index};
    r = rec(root.node());
    set_live(buckets_of(r), static_cast<uint32_t>(slot),
             Slot{tag, static_cast<int32_t>(index), 0, 0});
    ++r->size;
    ++r->occupied;
    if (out_index) *out_index = static_cast<int32_t>(index);
    return -1;
}

// --- Collector ------------------------------------------------------------------------------

void mark(uint32_t& table) {
    if (!collector::busy() || table == 0) return;
    const bool fresh = collector::mark_series(table);
    Buffer* b = memory::find_buffer(table);
    if (!b || b->unit() != 1 || b->size < sizeof(Record)) return;
    Record* r = rec(table);
    // Marked before with its buckets: this table is done for this cycle. (A record marked
    // alone was reached through a plain node root; the rest is marked now.)
    if (!fresh && r->keys != 0 && collector::is_marked(r->keys)) return;
    // The parts may have been marked already by the roots that the table's own operations
    // keep while they grow a part, so what they refer to is marked whatever the answer.
    collector::mark_series(r->keys);
    if (r->kind == kHash) {
        collector::mark_series(r->index);
        if (r->chains != 0) {
            collector::mark_series(r->chains);
            uint32_t* chains = words_of(r->chains);
            for (uint32_t i = 0, n = ints_length(r->chains); i < n; ++i)
                collector::mark_series(chains[i]);
        }
    }
    if (!int_kind(r)) {
        if (r->data != 0) collector::mark_node_cells(r->data);
        return;
    }
    if (r->data == 0) return;
    collector::mark_series(r->data);
    // The owner table holds its entries weakly (sweep drops those whose parts died): a series
    // that refers back to its owner, or a field word whose context is the owner's, would
    // otherwise keep the owner alive for ever.
    if (r->kind == kOwners) return;
    Buffer* data = buf(r->data);
    const uint32_t stride = r->index;
    const uint32_t cells = stride / sizeof(Cell);
    for (uint32_t at = data->head; stride && at + stride <= data->tail; at += stride) {
        auto* entry = reinterpret_cast<Cell*>(data->data() + at);
        if (entry->header != kTypeUnset) continue;
        collector::mark_node_cells(entry->w1);
        collector::mark_block(entry + 1, entry + cells);
    }
}

namespace {

// During a sweep: follows a node id kept in a weak cell to where evacuation put it, and
// answers whether its buffer was reached.
bool survives(uint32_t& node) {
    node = collector::forward(node);
    return collector::is_marked(node);
}

// Whether an owner table entry lives on: its series, its owner object (context and change
// record) and the context of its field word were reached. The node ids of a survivor are
// brought up to date, since marking never visited them.
bool owner_entry_survives(Cell* entry, uint32_t cells) {
    if (!survives(entry->w1)) return false;
    if (cells > 1) entry[1].w2 = entry->w1; // the series as it was given
    if (cells > 2 && cell::type(&entry[2]) == kTypeObject) {
        Cell& owner = entry[2];
        if (!survives(owner.w1)) return false;
        if (owner.w3 != 0 && !survives(owner.w3)) return false;
    }
    if (cells > 3) {
        Cell& word = entry[3];
        const uint8_t t = cell::type(&word);
        if (traits::is_bindable_word(t) && word.w1 != 0 && !survives(word.w1)) return false;
    }
    return true;
}

} // namespace

void sweep(uint32_t table) {
    if (table == 0 || !memory::find_buffer(table)) return;
    Record* r = rec(table);
    if (!int_kind(r)) return;
    const uint32_t cells = r->index / sizeof(Cell);
    for (uint32_t b = 0; b < r->buckets; ++b) {
        if (!is_live(buckets_of(r).control[b])) continue;
        Cell* entry = entry_at(r, static_cast<int32_t>(b));
        const bool live = r->kind == kOwners ? owner_entry_survives(entry, cells)
                                             : collector::is_marked(entry->w1);
        if (live) continue;
        Cell* values = remove_entry(r, static_cast<int32_t>(b));
        for (uint32_t i = 1; i < r->index / sizeof(Cell); ++i)
            values[i - 1] = Cell{kTypeUnset, 0, 0, 0};
    }
}

// --- Diagnostics ----------------------------------------------------------------------------

std::string dump_text(uint32_t table) {
    const Record* r = rec(table);
    const Buckets at = buckets_of(r);
    const Slot* slots = at.slots;
    std::string out;
    char line[32];
    for (int pass = 0; pass < 2; ++pass) {
        out += pass == 0 ? "\n== Deleted keys ==\n" : "== Alive keys ==\n";
        for (uint32_t b = 0; b < r->buckets; ++b) {
            if (pass == 0 ? at.control[b] != kDeleted : !is_live(at.control[b])) continue;
            if (int_kind(r)) {
                const Buffer* data = buf(r->data);
                const uint32_t e = static_cast<uint32_t>(slots[b].entry);
                if (e + r->index > data->tail - data->head) continue;
                const Cell* entry = entry_at(r, static_cast<int32_t>(b));
                std::snprintf(line, sizeof line, "%08X", entry->w1);
                out += line;
                for (uint32_t i = 1; i < r->index / sizeof(Cell); ++i) {
                    std::snprintf(line, sizeof line, " %u", entry[i].header & cell::kTypeMask);
                    out += line;
                }
            } else {
                const int32_t entry = slots[b].entry;
                const int32_t first = r->kind == kHash ? first_of(r, entry) : entry;
                const uint32_t count = cell_count(r->data);
                if (first < 0 || static_cast<uint32_t>(first) >= count) continue;
                const Cell* cells = cells_of(r->data);
                std::snprintf(line, sizeof line, "%u", cell::type(&cells[first]));
                out += line;
                if (r->kind == kMap && static_cast<uint32_t>(first) + 1 < count) {
                    std::snprintf(line, sizeof line, " %u", cells[first + 1].header & 0xFF);
                    out += line;
                }
            }
            out += '\n';
        }
    }
    return out;
}

void dump(uint32_t table) {
    stdio::write_bytes(dump_text(table).c_str());
}

uint32_t int_value(intmap::Map* map, uint32_t key) {
    const uint32_t* value = intmap::find(map, key);
    return value ? *value : key;
}

} // namespace hashtable

// --- The collector's integer map --------------------------------------------------------------

namespace intmap {

namespace {

uint32_t flag_at(const uint32_t* flags, uint32_t b) {
    return (flags[b >> 4] >> ((b & 15) * 2)) & 3;
}
void flag_set(uint32_t* flags, uint32_t b, uint32_t value) {
    const uint32_t shift = (b & 15) * 2;
    flags[b >> 4] = (flags[b >> 4] & ~(3u << shift)) | (value << shift);
}

// Flags for n buckets, all empty (at least one word, so that reads of word 0 stay inside).
uint32_t* empty_flags(uint32_t buckets) {
    const size_t bytes = std::max<size_t>(buckets / 4, 4);
    auto* flags = static_cast<uint32_t*>(memory::alloc(bytes));
    std::memset(flags, 0xAA, bytes);
    return flags;
}

uint32_t power_at_least(uint64_t wanted) {
    if (wanted > (1u << 28)) runtime::quit(runtime::kErrorOutOfMemory, ZAN_CALLER_ADDRESS());
    uint32_t n = 1;
    while (n < wanted) n <<= 1;
    return n;
}

// Re-places every pair for a new bucket count, in place: a pair whose new bucket still holds
// a pair not yet re-placed takes its place and that pair moves on (kick-out).
void resize(Map* map, uint32_t buckets) {
    const uint32_t old_buckets = map->buckets;
    if (buckets > old_buckets)
        map->pairs = static_cast<uint32_t*>(memory::realloc(map->pairs, size_t{buckets} * 8));
    uint32_t* flags = empty_flags(buckets);
    uint32_t* old = map->flags;
    const uint32_t mask = buckets - 1;
    for (uint32_t j = 0; j < old_buckets; ++j) {
        if (flag_at(old, j) != 0) continue;
        uint32_t key = map->pairs[2 * j], value = map->pairs[2 * j + 1];
        flag_set(old, j, 1); // taken out
        for (;;) {
            uint32_t b = hash::mix_int(key) & mask, step = 0;
            while (flag_at(flags, b) != 2) b = (b + ++step) & mask;
            flag_set(flags, b, 0);
            if (b < old_buckets && flag_at(old, b) == 0) {
                std::swap(key, map->pairs[2 * b]);
                std::swap(value, map->pairs[2 * b + 1]);
                flag_set(old, b, 1);
                continue;
            }
            map->pairs[2 * b] = key;
            map->pairs[2 * b + 1] = value;
            break;
        }
    }
    memory::free(old);
    if (buckets < old_buckets)
        map->pairs = static_cast<uint32_t*>(memory::realloc(map->pairs, size_t{buckets} * 8));
    map->flags = flags;
    map->buckets = buckets;
    map->bound = static_cast<uint32_t>(buckets * 0.77 + 0.5);
    map->occupied = map->size;
}

// The bucket of a key, or -1; `slot` gets where an absent key goes.
int32_t probe(const Map* map, uint32_t key, int32_t& slot, bool& empty) {
    const uint32_t mask = map->buckets - 1;
    uint32_t b = hash::mix_int(key) & mask, step = 0;
    const uint32_t start = b;
    slot = -1;
    empty = false;
    for (;;) {
        const uint32_t f = flag_at(map->flags, b);
        if (f == 2) {
            if (slot < 0) {
                slot = static_cast<int32_t>(b);
                empty = true;
            }
            return -1;
        }
        if (f == 1) {
            if (slot < 0) slot = static_cast<int32_t>(b);
        } else if (map->pairs[2 * b] == key) {
            return static_cast<int32_t>(b);
        }
        b = (b + ++step) & mask;
        if (b == start) return -1;
    }
}

} // namespace

Map* make(uint32_t size) {
    auto* map = static_cast<Map*>(memory::alloc(sizeof(Map)));
    const uint32_t buckets = power_at_least(static_cast<uint64_t>(std::max(size, 4u) / 0.77));
    map->size = 0;
    map->occupied = 0;
    map->buckets = buckets;
    map->bound = static_cast<uint32_t>(buckets * 0.77);
    map->flags = empty_flags(buckets);
    map->pairs = static_cast<uint32_t*>(memory::alloc(size_t{buckets} * 8));
    return map;
}

void put(Map* map, uint32_t key, uint32_t value) {
    if (map->occupied >= map->bound) {
        const uint64_t n = map->buckets;
        const uint64_t request = uint64_t{map->size} * 2 < n ? n - 1 : n + 1;
        resize(map, std::max(4u, power_at_least(request)));
    }
    int32_t slot;
    bool empty;
    const int32_t found = probe(map, key, slot, empty);
    if (found >= 0) {
        map->pairs[2 * found + 1] = value;
        return;
    }
    if (slot < 0) { // no free bucket: cannot happen below the bound
        resize(map, power_at_least(uint64_t{map->buckets} + 1));
        put(map, key, value);
        return;
    }
    map->pairs[2 * slot] = key;
    map->pairs[2 * slot + 1] = value;
    flag_set(map->flags, static_cast<uint32_t>(slot), 0);
    ++map->size;
    if (empty) ++map->occupied;
}

uint32_t* find(Map* map, uint32_t key) {
    int32_t slot;
    bool empty;
    const int32_t found = probe(map, key, slot, empty);
    return found >= 0 ? &map->pairs[2 * found + 1] : nullptr;
}

bool delete_(Map* map, uint32_t key) {
    int32_t slot;
    bool empty;
    const int32_t found = probe(map, key, slot, empty);
    if (found < 0) return false;
    flag_set(map->flags, static_cast<uint32_t>(found), 1);
    --map->size;
    return true;
}

bool next(const Map* map, uint32_t& position, uint32_t& key, uint32_t& value) {
    for (uint32_t b = position; b < map->buckets; ++b) {
        if (flag_at(map->flags, b) != 0) continue;
        key = map->pairs[2 * b];
        value = map->pairs[2 * b + 1];
        position = b + 1;
        return true;
    }
    position = map->buckets;
    return false;
}

void clear(Map* map) {
    std::memset(map->flags, 0xAA, std::max<size_t>(map->buckets / 4, 4));
    map->size = 0;
    map->occupied = 0;
}

void destroy(Map* map) {
    if (!map) return;
    memory::free(map->flags);
    memory::free(map->pairs);
    memory::free(map);
}

} // namespace intmap
