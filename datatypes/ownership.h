// Series ownership: how an object with an on-deep-change* handler learns that a series it
// holds was changed in place, however deep that series sits.
//
// Giving ownership walks everything reachable from a value (blocks recursively, the values of
// nested objects) and records every series it meets in the owner table: series node -> (a copy
// of the series value, the owner object, the owner's field word through which the series is
// reached). Every action that changes a series in place calls check() before the change and,
// when that reported an owner, again after it with the past-tense action; check() hands the
// change to the owner's on-deep-change* handler through the fire hook that the object module
// installs.
//
// Flags:
// - memory::kFlagOwned on a series buffer: the series may have an entry (the flag outlives an
//   entry dropped by the collector, so every use still goes through the table);
// - kOwnerFlag on the header of an object's context cell: the object owns its series, so
//   walks for other owners do not descend into it;
// - kImageOwnedFlag on the header of an image! cell, which has no buffer of its own to mark.
//
// The owner table is a hash table of the owner kind (runtime-core/hashtable.h), keyed by the series
// node, with three value cells per entry. It is weak: its marker marks the table's own series and
// nothing it records; after marking, the sweep drops every entry whose series, owner or field
// word's context died (a dead series' node may be handed out again) and brings the node ids of
// the survivors up to date. So an owner dies when nothing else refers to it, and its series
// stop reporting.
#pragma once
#include <cstdint>

#include "runtime-core/cell.h"

namespace memory {
struct Buffer;
}

namespace ownership {

constexpr uint32_t kInitialEntries = 1000;
constexpr uint32_t kOwnerFlag = 0x10000;
constexpr uint32_t kImageOwnedFlag = 0x10000;

// The actions that in-place changes report: a present-tense word before the change and its
// past-tense word after it (the object module turns them into the runtime's action words).
enum class Action : uint8_t {
    append,
    appended,
    change,
    changed,
    clear,
    cleared,
    insert,
    inserted,
    move,
    moved,
    poke,
    poked,
    put,
    put_ed,
    random,
    randomized,
    remove,
    removed,
    reverse,
    reversed,
    sort,
    sorted,
    swap,
    swaped,
    take,
    taken,
    trim,
    trimmed,
    uppercase,
    lowercase,
    set_path, // a value held in the series was changed in place through a set-path
};

// Makes the empty table (room for kInitialEntries) and registers its marker and the
// collector's owner sweep (the hash table's own). Calling it again forgets the old table. May
// collect.
void init();

// Gives ownership of the series reachable from `value` to `owner` (an object!), reached
// through its field `word`. A series that already has an entry keeps its first owner; a
// block-like series is walked from its index to its tail, an object's values are walked with
// their own field words, an object that is itself an owner is not entered. May collect.
void set_value(const Cell* value, const Cell* owner, const Cell* word);
// set_value, then marks `owner` as an owner of series.
void set_all(const Cell* value, const Cell* owner, const Cell* word);
// Takes ownership back from everything reachable from `value`. May collect.
void unset(const Cell* value);
// unset on `count` cells of a block from `index`.
void unset_range(const Cell* block, uint32_t index, uint32_t count);

// The owner object of a series node, or null when the node has no entry; the field word is
// the next cell. The address is valid until the next allocation.
const Cell* owner_of(uint32_t node);

// Reports an in-place change of `target` (a series, bitset! or object!) to its owner's
// on-deep-change* handler: `action`, the new value (null for none), the index and the count
// the action gives. Answers whether it was reported: false when the target has no entry, its
// owner has no change record or no handler is installed. May run user code (and so collect
// and change any series, the target included): callers re-read everything afterwards.
bool check(const Cell* target, Action action, const Cell* new_value, int32_t index, int32_t part);

// What check() calls: the object module's on-deep-change* call. `owner` and `word` are the
// entry's owner object and field word; all cells stay valid during the call.
using FireHook = void (*)(const Cell* owner, const Cell* word, const Cell* target, Action action,
                          const Cell* new_value, int32_t index, int32_t part);
void set_fire_hook(FireHook hook);

// Accessors of the word list of a context value (an object, word or context cell: its word 1
// is the context node; context.h has the list). The cell address is valid until the next
// allocation; null (0) when there is no such word or no such context.
const Cell* context_word_at(const Cell* context, uint32_t index);
memory::Buffer* context_words(const Cell* context);
uint32_t context_words_node(const Cell* context);

// Number of entries in the table.
uint32_t entry_count();

// Collector side: the marker and the weak sweep (registered by init).
void mark();
void sweep();

} // namespace ownership
