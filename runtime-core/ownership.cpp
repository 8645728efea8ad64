#include "runtime-core/ownership.h"

#include <cstring>

#include "runtime-core/collector.h"
#include "runtime-core/cycles.h"
#include "runtime-core/hash.h"
#include "runtime-core/memory.h"

using memory::Buffer;

namespace ownership {

namespace {

// The table: a dense run of entries of four cells {key, series copy, owner, field word} (the
// key cell holds the series node in word 2), and an index of buckets over them: open
// addressing with linear probing on the node's hash, a bucket holding entry number + 1 or 0
// when empty. Deletion moves the last entry into the hole and closes the probe gap by
// shifting back, so there are no tombstones.
constexpr uint32_t kCellsPerEntry = 4;
constexpr uint32_t kKey = 0, kSeries = 1, kOwner = 2, kWord = 3;

uint32_t entries_node = 0;
uint32_t buckets_node = 0;
uint32_t count = 0;
uint32_t capacity = 0;
uint32_t bucket_count = 0; // a power of two, at most 77% full

FireHook fire_hook = nullptr;
WordListHook word_list_hook = nullptr;

bool block_like(uint8_t t) {
    switch (t) {
    case kTypeBlock:
    case kTypeParen:
    case kTypeHash:
    case kTypePath:
    case kTypeLitPath:
    case kTypeSetPath:
    case kTypeGetPath:
        return true;
    default:
        return false;
    }
}

// Series that are owned as a whole, without a walk; bitset! is marked the same way.
bool leaf(uint8_t t) {
    switch (t) {
    case kTypeString:
    case kTypeFile:
    case kTypeUrl:
    case kTypeTag:
    case kTypeEmail:
    case kTypeRef:
    case kTypeBinary:
    case kTypeVector:
    case kTypeImage:
    case kTypeBitset:
        return true;
    default:
        return false;
    }
}

uint32_t buckets_for(uint32_t entries) {
    uint32_t n = 16;
    while (n * 77 / 100 < entries + 1) n *= 2;
    return n;
}

Cell* entry(uint32_t i) {
    return memory::buffer(entries_node)->cells() + i * kCellsPerEntry;
}
uint32_t* buckets() {
    return reinterpret_cast<uint32_t*>(memory::buffer(buckets_node)->data());
}
uint32_t home(uint32_t key) {
    return hash::mix_int(key) & (bucket_count - 1);
}

// The bucket holding the entry of `key`, or the empty bucket where it would go.
uint32_t probe(uint32_t key) {
    const uint32_t* b = buckets();
    const Cell* base = entry(0);
    uint32_t i = home(key);
    while (b[i] != 0 && base[(b[i] - 1) * kCellsPerEntry + kKey].w2 != key)
        i = (i + 1) & (bucket_count - 1);
    return i;
}

int32_t find(uint32_t key) {
    if (entries_node == 0 || key == 0) return -1;
    uint32_t v = buckets()[probe(key)];
    return v ? static_cast<int32_t>(v - 1) : -1;
}

void rebuild_index() {
    uint32_t* b = buckets();
    std::memset(b, 0, bucket_count * sizeof(uint32_t));
    for (uint32_t e = 0; e < count; ++e) b[probe(entry(e)[kKey].w2)] = e + 1;
}

void remove_entry(uint32_t e) {
    uint32_t* b = buckets();
    const uint32_t mask = bucket_count - 1;
    uint32_t hole = probe(entry(e)[kKey].w2);
    b[hole] = 0;
    // Close the gap: a later entry of the probe run moves into the hole unless its home
    // lies cyclically in (hole, j].
    for (uint32_t j = (hole + 1) & mask; b[j] != 0; j = (j + 1) & mask) {
        uint32_t k = home(entry(b[j] - 1)[kKey].w2);
        bool stays = hole <= j ? (hole < k && k <= j) : (hole < k || k <= j);
        if (stays) continue;
        b[hole] = b[j];
        b[j] = 0;
        hole = j;
    }
    uint32_t last = count - 1;
    if (e != last) {
        std::memcpy(static_cast<void*>(entry(e)), entry(last), kCellsPerEntry * sizeof(Cell));
        b[probe(entry(e)[kKey].w2)] = e + 1;
    }
    Cell* gone = entry(last);
    for (uint32_t i = 0; i < kCellsPerEntry; ++i) gone[i] = Cell{kTypeUnset, 0, 0, 0};
    --count;
}

// Makes room for one more entry, doubling both buffers when full. May collect (and so sweep
// the table).
void reserve_one() {
    if (count < capacity) return;
    const uint32_t new_capacity = capacity * 2;
    const uint32_t new_buckets = buckets_for(new_capacity);
    GcRoot cells(memory::alloc_cells(new_capacity * kCellsPerEntry));
    GcRoot index(memory::alloc_bytes(new_buckets * sizeof(uint32_t)));
    std::memcpy(static_cast<void*>(memory::buffer(cells.node())->data()), entry(0),
                count * kCellsPerEntry * sizeof(Cell));
    entries_node = cells.node();
    buckets_node = index.node();
    capacity = new_capacity;
    bucket_count = new_buckets;
    rebuild_index();
}

// The node the table keys a value by, 0 for a value that cannot be owned.
uint32_t key_of(const Cell* value) {
    uint8_t t = cell::type(value);
    if (t == kTypeObject) return value->w1;
    if (block_like(t) || leaf(t)) return value->w2;
    return 0;
}

// Adds the entry of a series unless it has one. The three cells are rooted by the caller.
void own(const Cell& series, const Cell& owner, const Cell& word) {
    if (!memory::find_buffer(series.w2) || find(series.w2) >= 0) return;
    reserve_one();
    const uint32_t key = series.w2; // re-read: the allocation may have moved the node
    Cell* e = entry(count);
    e[kKey] = Cell{kTypeInteger, 0, key, 0};
    e[kSeries] = series;
    cell::clear_new_line(&e[kSeries]);
    // Word 3 of a series holds a node (conversion cache, hash table) except for vector!; the
    // entry only needs the series itself.
    if (cell::type(&series) != kTypeVector) e[kSeries].w3 = 0;
    e[kOwner] = owner;
    e[kWord] = word;
    buckets()[probe(key)] = count + 1;
    ++count;
    if (cell::type(&series) != kTypeImage) memory::buffer(key)->flags |= memory::kFlagOwned;
}

Cell* context_cell(uint32_t context_node) {
    Buffer* b = memory::find_buffer(context_node);
    return b && b->length() > 0 ? b->cells() : nullptr;
}

// The walk of set_value over rooted cells.
void give(const Cell& value, const Cell& owner, const Cell& word) {
    const uint8_t t = cell::type(&value);
    if (block_like(t) || leaf(t)) {
        own(value, owner, word);
        if (!block_like(t) || cycles::find(value.w2)) return;
        cycles::Push walking(value.w2);
        int32_t start = static_cast<int32_t>(value.w1);
        for (uint32_t i = start > 0 ? static_cast<uint32_t>(start) : 0;; ++i) {
            Buffer* b = memory::find_buffer(value.w2);
            if (!b || i >= b->length()) break;
            GcRoot item(b->cells()[i]);
            give(item.cell(), owner, word);
        }
    } else if (t == kTypeObject) {
        const Cell* context = context_cell(value.w1);
        if (!context || (context->header & kOwnerFlag) || cycles::find(value.w1)) return;
        cycles::Push walking(value.w1);
        for (uint32_t i = 0;; ++i) {
            context = context_cell(value.w1);
            Buffer* values = context ? memory::find_buffer(context->w2) : nullptr;
            if (!values || i >= values->length()) break;
            GcRoot item(values->cells()[i]);
            if (cell::type(&item.cell()) == kTypeObject && item.cell().w1 == owner.w1) continue;
            const Cell* field = context_word_at(&value, i);
            GcRoot field_word(field ? *field : word);
            give(item.cell(), owner, field_word.cell());
        }
    }
}

// The walk of unset; it allocates nothing, so cells are read in place.
void take_back(const Cell& value) {
    const uint8_t t = cell::type(&value);
    if (block_like(t) || leaf(t)) {
        Buffer* b = memory::find_buffer(value.w2);
        if (!b) return;
        if (t != kTypeImage) b->flags &= ~memory::kFlagOwned;
        int32_t e = find(value.w2);
        if (e >= 0) remove_entry(static_cast<uint32_t>(e));
        // The cycle stack stops a block that contains itself.
        if (!block_like(t) || cycles::find(value.w2)) return;
        cycles::Push walking(value.w2);
        int32_t start = static_cast<int32_t>(value.w1);
        for (uint32_t i = start > 0 ? static_cast<uint32_t>(start) : 0; i < b->length(); ++i)
            take_back(b->cells()[i]);
    } else if (t == kTypeObject) {
        const Cell* context = context_cell(value.w1);
        if (!context || (context->header & kOwnerFlag) || cycles::find(value.w1)) return;
        cycles::Push walking(value.w1);
        Buffer* values = memory::find_buffer(context->w2);
        for (uint32_t i = 0; values && i < values->length(); ++i) take_back(values->cells()[i]);
    }
}

// During a sweep: the node after evacuation, and whether its buffer was reached.
bool alive(uint32_t& node) {
    node = collector::forward(node);
    return collector::is_marked(node);
}

} // namespace

void init() {
    entries_node = buckets_node = 0;
    count = capacity = bucket_count = 0;
    collector::add_marker(mark);
    collector::set_owner_sweep(sweep);
    GcRoot cells(memory::alloc_cells(kInitialEntries * kCellsPerEntry));
    const uint32_t buckets = buckets_for(kInitialEntries);
    GcRoot index(memory::alloc_bytes(buckets * sizeof(uint32_t)));
    entries_node = cells.node();
    buckets_node = index.node();
    capacity = kInitialEntries;
    bucket_count = buckets;
    rebuild_index();
}

void set_value(const Cell* value, const Cell* owner, const Cell* word) {
    if (entries_node == 0) return;
    GcRoot v(*value), o(*owner), w(*word);
    give(v.cell(), o.cell(), w.cell());
}

void set_all(const Cell* value, const Cell* owner, const Cell* word) {
    GcRoot o(*owner);
    set_value(value, owner, word);
    if (cell::type(&o.cell()) != kTypeObject) return;
    if (Cell* context = context_cell(o.cell().w1)) context->header |= kOwnerFlag;
}

void unset(const Cell* value) {
    if (entries_node == 0) return;
    take_back(*value);
}

void unset_range(const Cell* block, uint32_t index, uint32_t n) {
    for (uint32_t i = index; i - index < n; ++i) {
        Buffer* b = memory::find_buffer(block->w2);
        if (!b || i >= b->length()) break;
        Cell item = b->cells()[i];
        unset(&item);
    }
}

const Cell* owner_of(uint32_t node) {
    int32_t e = find(node);
    return e >= 0 ? entry(static_cast<uint32_t>(e)) + kOwner : nullptr;
}

bool check(const Cell* target, Action action, const Cell* new_value, int32_t index, int32_t part) {
    const uint8_t t = cell::type(target);
    const uint32_t key = key_of(target);
    if (key == 0) return false;
    // The owned flag is set whenever an entry is made: without it there is nothing to find.
    if (t != kTypeObject && t != kTypeImage) {
        Buffer* b = memory::find_buffer(key);
        if (!b || !(b->flags & memory::kFlagOwned)) return false;
    }
    int32_t e = find(key);
    if (e < 0) return false;
    const Cell* found = entry(static_cast<uint32_t>(e));
    if (found[kOwner].w3 == 0 || !fire_hook) return false; // no change record
    // The handler runs user code: the entry may move or go; keep copies.
    GcRoot owner(found[kOwner]), word(found[kWord]);
    fire_hook(&owner.cell(), &word.cell(), target, action, new_value, index, part);
    return true;
}

void set_fire_hook(FireHook hook) {
    fire_hook = hook;
}

void set_word_list_hook(WordListHook hook) {
    word_list_hook = hook;
}

uint32_t context_words_node(const Cell* context) {
    return word_list_hook ? word_list_hook(context->w1) : 0;
}

Buffer* context_words(const Cell* context) {
    uint32_t node = context_words_node(context);
    return node ? memory::find_buffer(node) : nullptr;
}

const Cell* context_word_at(const Cell* context, uint32_t index) {
    Buffer* b = context_words(context);
    return b && index < b->length() ? b->cells() + index : nullptr;
}

uint32_t entry_count() {
    return count;
}

void mark() {
    if (entries_node == 0) return;
    collector::mark_series(entries_node);
    collector::mark_series(buckets_node);
}

void sweep() {
    if (entries_node == 0) return;
    Cell* base = entry(0);
    uint32_t kept = 0;
    for (uint32_t i = 0; i < count; ++i) {
        Cell* e = base + i * kCellsPerEntry;
        Cell& owner = e[kOwner];
        bool live = alive(e[kKey].w2);
        e[kSeries].w2 = e[kKey].w2;
        if (live && cell::type(&owner) == kTypeObject) {
            live = alive(owner.w1);
            if (live && owner.w3 != 0) live = alive(owner.w3); // the change record
        }
        const uint8_t word_type = cell::type(&e[kWord]);
        if (live && word_type >= kTypeWord && word_type <= kTypeRefinement && e[kWord].w1 != 0)
            live = alive(e[kWord].w1); // the word's context
        if (!live) continue;
        if (kept != i)
            std::memcpy(static_cast<void*>(base + kept * kCellsPerEntry), e,
                        kCellsPerEntry * sizeof(Cell));
        ++kept;
    }
    for (uint32_t i = kept * kCellsPerEntry; i < count * kCellsPerEntry; ++i)
        base[i] = Cell{kTypeUnset, 0, 0, 0};
    count = kept;
    rebuild_index();
}

} // namespace ownership
