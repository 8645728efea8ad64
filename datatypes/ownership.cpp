#include "datatypes/ownership.h"

#include "datatypes/context.h"
#include "datatypes/cycles.h"
#include "runtime-core/collector.h"
#include "runtime-core/hashtable.h"
#include "runtime-core/memory.h"
#include "runtime-core/type-traits.h"

using memory::Buffer;

namespace ownership {

namespace {

// The owner table is a hash table of the owner kind (runtime-core/hashtable.h): keyed by the node
// of the owned series, each entry holding three value cells after its key cell.
constexpr uint32_t kValueCells = 3;
constexpr uint32_t kSeries = 0, kOwner = 1, kWord = 2; // from the first value cell

uint32_t table = 0; // 0 until init

FireHook fire_hook = nullptr;

// The values whose buffer can have an owner: every series, and bitset!, which is marked the
// same way. Only an any-block! is walked for the values it holds.
bool ownable(uint8_t t) {
    return traits::is_series(t) || t == kTypeBitset;
}

// The value cells of the entry of `node`, or null. Valid until the next allocation.
Cell* entry_of(uint32_t node) {
    if (table == 0 || node == 0) return nullptr;
    return hashtable::get_int(table, node);
}

// The node the table keys a value by, 0 for a value that cannot be owned.
uint32_t key_of(const Cell* value) {
    uint8_t t = cell::type(value);
    if (t == kTypeObject) return value->w1;
    if (ownable(t)) return value->w2;
    return 0;
}

// Adds the entry of a series unless it has one. The three cells are rooted by the caller.
void own(const Cell& series, const Cell& owner, const Cell& word) {
    if (!memory::find_buffer(series.w2) || entry_of(series.w2)) return;
    // The table keeps node compaction off while it adds the key, so the node stays valid.
    Cell* values = hashtable::put_int(table, series.w2);
    values[kSeries] = series;
    cell::clear_new_line(&values[kSeries]);
    // Word 3 of a series holds a node (conversion cache, hash table) except for vector!; the
    // entry only needs the series itself.
    if (cell::type(&series) != kTypeVector) values[kSeries].w3 = 0;
    values[kOwner] = owner;
    values[kWord] = word;
    if (cell::type(&series) != kTypeImage) memory::buffer(series.w2)->flags |= memory::kFlagOwned;
}

Cell* context_cell(uint32_t context_node) {
    Buffer* b = memory::find_buffer(context_node);
    return b && b->length() > 0 ? b->cells() : nullptr;
}

// The walk of set_value over rooted cells.
void give(const Cell& value, const Cell& owner, const Cell& word) {
    const uint8_t t = cell::type(&value);
    if (ownable(t)) {
        own(value, owner, word);
        if (!traits::is_any_block(t) || cycles::find(value.w2)) return;
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
    if (ownable(t)) {
        Buffer* b = memory::find_buffer(value.w2);
        if (!b) return;
        if (t != kTypeImage) b->flags &= ~memory::kFlagOwned;
        if (table != 0) {
            if (Cell* values = hashtable::delete_int(table, value.w2))
                for (uint32_t i = 0; i < kValueCells; ++i) values[i] = Cell{kTypeUnset, 0, 0, 0};
        }
        // The cycle stack stops a block that contains itself.
        if (!traits::is_any_block(t) || cycles::find(value.w2)) return;
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

} // namespace

void init() {
    table = 0;
    collector::add_marker(mark);
    collector::set_owner_sweep(sweep);
    table = hashtable::init(kInitialEntries, nullptr, hashtable::kOwners, kValueCells);
}

void set_value(const Cell* value, const Cell* owner, const Cell* word) {
    if (table == 0) return;
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
    if (table == 0) return;
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
    const Cell* values = entry_of(node);
    return values ? values + kOwner : nullptr;
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
    const Cell* found = entry_of(key);
    if (!found) return false;
    if (found[kOwner].w3 == 0 || !fire_hook) return false; // no change record
    // The handler runs user code: the entry may move or go; keep copies.
    GcRoot owner(found[kOwner]), word(found[kWord]);
    fire_hook(&owner.cell(), &word.cell(), target, action, new_value, index, part);
    return true;
}

void set_fire_hook(FireHook hook) {
    fire_hook = hook;
}

uint32_t context_words_node(const Cell* context) {
    const Cell* c = context_cell(context->w1);
    return c && cell::type(c) == kTypeContext && c->w1 != 0 ? context::word_list(context->w1) : 0;
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
    return table ? hashtable::record(table)->size : 0;
}

void mark() {
    if (table != 0) hashtable::mark(table);
}

void sweep() {
    if (table != 0) hashtable::sweep(table);
}

} // namespace ownership
