// Hash tables: one open-addressing design for every keyed lookup of the runtime.
//
// A table never holds values. It indexes the cells of a data block that belongs to its user,
// so a hash! or map! stays an ordinary block and only the index is extra:
//   kind 0, hash!   the hash! value's own block; every cell is a key, equal keys share a
//                   bucket through a chain of cell indexes;
//   kind 1, map!    a block of key/value pairs (key at even cells, value after it);
//   kind 2, words   the symbol block (symbol! cells) or a context's word list (word! cells);
//   kind 3, 4       integer-keyed tables (kind 4 is the owner table, whose entries are
//                   weak): entries of a fixed stride in their own cell block; the first cell
//                   of a live entry has header 2 and holds the key (a node id) in word 1, a
//                   deleted one has header 0.
//
// The table itself is a 44-byte byte series holding a Record; its node is the table. Buckets
// are a power of two in count, at least 4, in one series: a control byte per bucket (empty,
// deleted, or 7 bits of the live key's hash), then 16 bytes per bucket: the key's hash with
// the top bit set, an int32 entry naming the key's place in the data block, and for an
// integer or character key of a map! or hash! the key itself (value and type). A probe
// compares control bytes, then hashes, so it reads a key cell only for a key of the same
// hash, and an integer or character lookup in a map! or hash! reads no key cell at all.
// Probing is triangular (i, i+1, i+3, i+6 ...), the load bound 0.77.
//
// Hashing: text over its code points (so every width hashes alike), case-folded except for
// the symbol kind, whose case variants share a probe through an ASCII-lowered text; binary
// over its bytes; integers, characters and nodes through the 32-bit finaliser.
//
// Node ids as keys. Node-keyed values (blocks, objects, functions ...) hash their node id,
// which changes only when the collector evacuates a node frame. A hash! holding such a value
// and every kind 3 or 4 table carry a stamp (the collector's node-cycle count + 1 when the
// buckets were built); any operation that finds it stale rebuilds the buckets first.
//
// Collector safety. Operations that may allocate say so ("may collect"); they keep the table
// and the new series rooted themselves, and node compaction is off while they run, so a key
// node passed in stays valid through the call. A table node kept across such a call in a
// plain variable must be re-read from where it lives (a cell, a Root). Cell addresses that an
// operation returns are valid until the next allocation.
#pragma once
#include <cstdint>
#include <string>

#include "runtime-core/cell.h"
#include "runtime-core/collector.h"
#include "runtime-core/hash.h"
#include "runtime-core/memory.h"
#include "runtime-core/type-traits.h"

namespace hashtable {

enum Kind : uint32_t { kHash = 0, kMap = 1, kWords = 2, kIntegers = 3, kOwners = 4 };

// The table record: the payload of the table's byte series.
struct Record {
    uint32_t size;     // live keys (hash!: indexed cells, chained ones included)
    uint32_t index;    // hash!: node of the index series; kinds 3, 4: entry stride in bytes
    uint32_t chains;   // hash!: node of the chain list (nodes of int32 arrays)
    uint32_t pending;  // hash!: cells appended at the block's tail, not indexed yet (splice)
    uint32_t keys;     // node of the buckets series (control bytes, then probing::Slot)
    uint32_t data;     // node of the data block
    uint32_t occupied; // live or deleted buckets
    uint32_t buckets;  // a power of two, at least 4
    uint32_t bound;    // occupied count at which the next insertion grows the table first
    uint32_t kind;
    uint32_t stamp; // 0, or the node-cycle count + 1 when the buckets were last built
};
static_assert(sizeof(Record) == 44, "a table record is eleven 32-bit words");

// The record of a table. Valid until the next allocation.
inline Record* record(uint32_t table) {
    return reinterpret_cast<Record*>(memory::buffer(table)->data());
}

// Keeps a table and everything it refers to (buckets, chains, data block) alive and
// follows it when its node moves. Scoped: create it on the stack.
class Root {
public:
    explicit Root(uint32_t table);
    uint32_t node() const { return root_.cell().w3; }
    void set(uint32_t table) { root_.cell().w3 = table; }

private:
    mutable GcRoot root_;
};

// --- Set-up ---------------------------------------------------------------------------------

// Sets the collector's marking rule of hash! and map! cells (their block, then their table
// in word 3). The runtime initialisation calls it; a Root also does when it finds none.
void register_markers();

// Symbol resolution for word keys: the canonical id of a symbol id. The symbol module
// installs it; without one a symbol is its own canonical.
using Resolve = uint32_t (*)(uint32_t symbol);
void set_symbol_resolver(Resolve resolve);
uint32_t resolve(uint32_t symbol);

// The map module's preparation of a key added by fill_from_block (copy of a series key,
// words stored as set-words, type check). It may collect and raise errors. None: keys stay.
using KeyPrepare = void (*)(uint32_t block, uint32_t index);
void set_map_key_prepare(KeyPrepare prepare);

// --- Hashing and key comparison -------------------------------------------------------------

// The code points of a string-family cell from its index to its tail.
uint32_t hash_string(const Cell& text, bool case_sensitive);
// The hash of a value by type.
uint32_t hash_value(const Cell& value, bool case_sensitive);
// Whether a type's hash depends on a node id.
bool node_keyed(uint8_t type);

// Whether two keys are equal under a comparison code (0 equal, 1 not-equal taken as equal,
// 2 strict-equal, 9 same, 12 find). This is the one equality of every table lookup, and so of
// find on a hash! and of the set operations: text is case-folded unless code 2 (the text types
// meet only under codes 0 and 1), words compare by canonical symbol (by symbol and type under
// code 2), float-like numbers as doubles (by their bits under code 9), integers and characters
// by value, binary by bytes; values of different types are otherwise different keys (an
// integer! never equals a float!, as find has it), and any other type compares its payload
// words. A type's compare action may say more under code 0 (numbers across types, floats
// within a tolerance); a table cannot, since equal keys must hash alike.
bool keys_equal(const Cell& a, const Cell& b, int code);

// --- Tables ---------------------------------------------------------------------------------

// A new table for `size` expected keys. `source`: a block cell to index (hash!, map!: its
// cells are added at once; kind 2: the symbol block), for kind 2 with extra 2 a context cell
// whose word 1 is the table to copy, or null (a new data block of `size` cells is made).
// `extra`: kinds 3 and 4, the value cells of an entry. May collect.
uint32_t init(uint32_t size, const Cell* source, Kind kind, uint32_t extra = 0);
// A hash! table over the block of `source` that indexes only its cells from `start`, one
// every `skip` (the set operations' table over the other set). Lookups through it ask for
// that start and skip: a rebuild indexes every cell of the block. May collect.
uint32_t init_range(uint32_t size, const Cell& source, uint32_t start, uint32_t skip);
// A copy of a word table: record, buckets and word list. May collect.
uint32_t copy_record(uint32_t table);
// Adds the cells of the data block from `start`, one key every `skip` cells. map!: a key
// already present (strictly equal) gets the new value and the later pair leaves the block;
// a new key goes to the key preparation. May collect.
void fill_from_block(uint32_t table, uint32_t start, uint32_t skip);
// Adds cell `index` of the data block (hash!, map!). Returns the index of the cell that
// holds the key's entry: `index`, or for a map! the strictly equal key already present.
// `rebuilt` is set when a hash! was rebuilt from its block instead (the cell is indexed
// then too). May collect.
int32_t put(uint32_t table, uint32_t index, bool* rebuilt = nullptr);
// The cell index of a key, or -1. hash!: the qualifying cell of the first bucket that has
// one (cells at a multiple of `skip` from `start`, equal by `code`; with `last` the largest,
// with `reverse` the largest below `start`, else the smallest at or above it). map!: the
// first key of the same type equal by `code`, word keys looked up as set-words. Other kinds
// answer -1 (they have put_symbol, put_context, get_int). A stale hash! is rebuilt first, and
// the cells waiting in a hash! are indexed first (may collect). Inline below: the lookup of an
// integer or a character in a map!, and in a hash! forwards without a skip.
inline int32_t find_all(uint32_t table, Cell key, int32_t start = 0, int32_t skip = 1, int code = 0,
                        bool last = false, bool reverse = false);
// A probe of a table without chains, continued from where it stopped.
struct Probe {
    int32_t bucket = -1; // -1: not started
    uint32_t start = 0;
    uint32_t step = 0;
};
// The next key of the probe that has the key's type and equals it (code 0), or -1 at an
// empty bucket or when the probe comes back to its start.
int32_t find_next(uint32_t table, Cell key, Probe& probe);
// hash!: unindexes cell `index` (its bucket becomes deleted when no equal key is left).
// map!: the pair of key cell `index` is marked removed (its value's header becomes 0). May
// collect (a stale hash! is rebuilt first).
void delete_(uint32_t table, uint32_t index);
// hash!: the upkeep of one change to the block. The `removed` cells from `at` were replaced
// by the `inserted` cells now there, and the cells after them moved by inserted - removed:
// the removed ones are unindexed, the entries of the moved ones follow them and the new ones
// are indexed, so that the table again answers for every cell of the block. Cells appended
// at the tail (and changes among them) only wait (Record::pending): the next lookup or
// other table operation indexes them together, so that the cache misses of their insertions
// overlap. A stale table, or one that did not account for every cell before the change, is
// built again from the block instead, as is the table of a change that touches as many cells
// as the block holds. May collect.
void splice(uint32_t table, uint32_t at, uint32_t removed, uint32_t inserted);
// hash!: unindexes `count` cells from `index` (clamped to the block); all of them: the table
// is emptied. May collect.
void remove_range(uint32_t table, uint32_t index, uint32_t count);
// hash!: after cells moved by `shift` places, adds `shift` to the cell index kept for each
// of `count` cells from `first` (chain entries at or above `first` too). With `move`, a
// negative shift first unindexes the -shift cells before `first`, a positive one makes room
// in the index series, and the index series entries move along. Answers 1 without doing
// anything when `count` is above 30000 (rebuild with resize then), else 0. May collect.
int refresh_range(uint32_t table, int32_t shift, uint32_t first, uint32_t count, bool move);
// hash!: the run of `count` cells that started at `first` now starts at `target`; the cells
// in between moved the other way by `count`. May collect.
void move_keys(uint32_t table, uint32_t target, uint32_t first, uint32_t count);
// A copy of a table indexing the copied block `data` (same cells in the same places); the
// copy shares no structure with the source. May collect.
uint32_t copy(uint32_t data, uint32_t table);
// Every bucket empty, no chains, size 0 (kinds 3 and 4: no entries).
void clear(uint32_t table);
// Tables are reclaimed by the collector.
inline void destroy(uint32_t) {}
// Regrows the buckets for a request of `request` keys: a hash! is rebuilt from its block,
// the other kinds re-place their keys. May collect.
void resize(uint32_t table, uint32_t request);
// Rebuilds the buckets of a table whose stamp is stale (nodes moved). May collect.
void rehash(uint32_t table);

// --- Integer-keyed tables (kinds 3 and 4) ----------------------------------------------------

// Finds or adds a key; every cell of its entry becomes unset!. Returns the first value
// cell. May collect.
Cell* put_int(uint32_t table, uint32_t key);
// The first value cell of a key's entry, or null. May collect (stale stamp).
Cell* get_int(uint32_t table, uint32_t key);
// Removes a key; returns the first value cell of its former entry, or null. May collect.
Cell* delete_int(uint32_t table, uint32_t key);

// --- Symbols and context words (kind 2) ------------------------------------------------------

// Finds or interns a UTF-8 text in the symbol table; returns the symbol id (cell index + 1).
// Lookup is exact first; a text that matches an existing symbol only without regard to
// ASCII case becomes a new symbol whose alias is that symbol. With `case_insensitive` any
// case variant is the answer and a new symbol is always canonical. May collect.
uint32_t put_symbol(uint32_t table, const char* text, uint32_t length, bool case_insensitive);
// Finds a symbol in a context's word table: its word-list position, or -1. With
// `case_insensitive` canonical ids are compared, else symbol ids. When absent and `context`
// is not 0, a word! cell (context, symbol, new index) is appended to the word list; -1 is
// returned with the new index in `out_index`. May collect.
int32_t put_context(uint32_t table, uint32_t symbol, bool case_insensitive, uint32_t context,
                    int32_t* out_index);

// --- Collector ------------------------------------------------------------------------------

// Marks a table: its record, buckets, index series and chains; kind 3 the key node of
// every live entry (and its cells) and the entry's values; then the data block. The owner
// table (kind 4) marks only its own series: its entries are weak, so that neither an owned
// series that refers back to its owner nor a field word bound to the owner keeps it alive.
void mark(uint32_t& table);
// After marking: drops the entries of a kind 3 table whose key is unmarked. In the owner
// table an entry of {key, series, owner, field word} goes when its series (the key), its
// owner object (word 1, and word 3 when set) or the context of its field word was not
// reached; the node ids of the survivors are brought up to date, and the buckets are placed
// again on the next use when nodes moved.
void sweep(uint32_t table);

// --- Diagnostics ----------------------------------------------------------------------------

// "\n== Deleted keys ==" and one line per deleted bucket, then "== Alive keys ==" and one
// line per live one: the key (hexadecimal for kinds 3 and 4, the key cell's type id
// otherwise), a blank and the type ids of the entry's value cells.
std::string dump_text(uint32_t table);
void dump(uint32_t table);

// --- Probing, shared with the inline lookup -----------------------------------------------------

namespace probing {

// A bucket: the tag of its key (the key's hash with the top bit set, equal to the hash in
// every bit that picks a bucket), beside the key's entry, so that a probe passes buckets of
// other keys without touching their key cells. A map! or hash! bucket of an integer or
// character key also holds the key (word 2 and type), so that a lookup of such a key touches
// the bucket's line and then only the value: the map! datatype never rewrites such a key in
// its cell, and the hash! datatype re-indexes the cells it changes. A bucket of a text key
// holds the node of its text (word 2) in `key` as a hint only: a lookup starts reading the
// text through it while the key cell is on its way, and compares through the cell. Every
// other bucket has 0 there; its type is 0 for every key that is only in its cell.
struct Slot {
    uint32_t tag;
    int32_t entry;
    uint32_t key;  // word 2 of an inline key, the text node hint, or 0
    uint32_t type; // the type of an inline key, or 0: the key is only in its cell
};
static_assert(sizeof(Slot) == 16);

// The state of each bucket is one control byte, in an array before the buckets of the same
// series: empty, deleted, or the top byte of a live key's tag (top bit set, so never one of
// the two states). A probe reads control bytes, and a bucket only where its byte matches, so
// that a new table or a grown one clears one byte per bucket and leaves the buckets as they
// are until they are used.
constexpr uint8_t kEmpty = 0;
constexpr uint8_t kDeleted = 1;
constexpr uint32_t kLiveBit = 0x80000000u;

inline uint32_t tag_of(uint32_t hash) {
    return hash | kLiveBit;
}
inline uint8_t control_of(uint32_t tag) {
    return static_cast<uint8_t>(tag >> 24);
}
inline bool live(uint8_t control) {
    return control >= 0x80;
}
// Bytes of the control array of a table: the buckets that follow it stay 16-byte aligned.
inline uint32_t control_bytes(uint32_t buckets) {
    return (buckets + 15) & ~15u;
}

// The arrays of a table, read once for a probe. Valid until the next allocation.
struct Buckets {
    uint8_t* control;
    Slot* slots;
};
inline Buckets buckets_of(const Record* r) {
    uint8_t* head = memory::buffer(r->keys)->at_head();
    return {head, reinterpret_cast<Slot*>(head + control_bytes(r->buckets))};
}

// The arrays of a table without chains, read once for a probe. Valid until the next
// allocation.
struct View {
    Buckets buckets;
    Cell* cells;
    uint32_t count; // cells in the data block
    uint32_t mask;
};
inline View view_of(const Record* r) {
    memory::Buffer* data = memory::buffer(r->data);
    return {buckets_of(r), data->cells(),
            (data->tail - data->head) / static_cast<uint32_t>(sizeof(Cell)), r->buckets - 1};
}

// The first bucket on the probe of `tag` that has that tag and satisfies `hit`, or null at an
// empty bucket or back at the start.
template <class Hit>
inline const Slot* probe_slot(const Buckets& at, uint32_t mask, uint32_t tag, Hit hit) {
    const uint8_t control = control_of(tag);
    uint32_t b = tag & mask;
    const uint32_t start = b;
    uint32_t step = 0;
    for (;;) {
        const uint8_t c = at.control[b];
        if (c == control) {
            const Slot& slot = at.slots[b];
            if (slot.tag == tag && hit(slot)) return &slot;
        } else if (c == kEmpty) {
            return nullptr;
        }
        b = (b + ++step) & mask;
        if (b == start) return nullptr;
    }
}
// The entry of that bucket, or -1.
template <class Hit> inline int32_t probe(const Buckets& at, uint32_t mask, uint32_t tag, Hit hit) {
    const Slot* slot = probe_slot(at, mask, tag, hit);
    return slot ? slot->entry : -1;
}

// The first live bucket of the probe of `tag` whose key has that tag and satisfies `match`:
// its cell index, or -1.
template <class Match> inline int32_t find(const View& v, uint32_t tag, Match match) {
    return probe(v.buckets, v.mask, tag, [&](const Slot& slot) {
        return static_cast<uint32_t>(slot.entry) < v.count && match(v.cells[slot.entry]);
    });
}

// Keys equal exactly when their type and word 2 are (integer!, char!): they get a probe
// without calls, inlined where it is used, so that the processor overlaps the cache misses
// of successive lookups.
inline bool word2_keyed(uint8_t type) {
    return traits::of(type).key == traits::Key::word2_only;
}
// The bucket of such a key in a map! or hash!: buckets only, no key cell. A bucket holding
// the same key has its tag, so the key is compared without it.
inline const Slot* find_word2_slot(const Record* r, uint8_t type, uint32_t w2) {
    const Buckets at = buckets_of(r);
    const uint32_t mask = r->buckets - 1;
    const uint32_t tag = tag_of(hash::mix_int(w2));
    const uint8_t control = control_of(tag);
    uint32_t b = tag & mask;
    const uint32_t start = b;
    uint32_t step = 0;
    for (;;) {
        const uint8_t c = at.control[b];
        if (c == control) {
            const Slot& slot = at.slots[b];
            if (slot.key == w2 && slot.type == type) return &slot;
        } else if (c == kEmpty) {
            return nullptr;
        }
        b = (b + ++step) & mask;
        if (b == start) return nullptr;
    }
}
// Its lookup in a map!. The entries of a map! bucket name cells of its block, which only
// grows (clear empties the buckets with it).
inline int32_t find_word2(const Record* r, uint8_t type, uint32_t w2) {
    const Slot* slot = find_word2_slot(r, type, w2);
    return slot ? slot->entry : -1;
}
// Its lookup in a hash! from `start` to the tail, or -2 when the general search must answer:
// the key has a chain of equal cells, its cell is outside that range, the buckets may be
// stale or appended cells wait to be indexed. A key equal to it in its bucket is equal under
// every comparison code, and no other bucket holds one.
inline int32_t find_word2_in_hash(const Record* r, uint8_t type, uint32_t w2, int32_t start) {
    if (r->pending != 0) return -2;
    if (r->stamp != 0 && r->stamp != static_cast<uint32_t>(collector::state.node_cycles) + 1)
        return -2;
    const Slot* slot = find_word2_slot(r, type, w2);
    if (!slot) return -1;
    const int32_t entry = slot->entry;
    if (entry < start || entry < 0) return -2;
    const memory::Buffer* data = memory::buffer(r->data);
    return static_cast<uint32_t>(entry) < (data->tail - data->head) / sizeof(Cell) ? entry : -2;
}

} // namespace probing

// find_all of every key other than the inline one.
int32_t find_all_by_kind(uint32_t table, const Cell& key, int32_t start, int32_t skip, int code,
                         bool last, bool reverse);

inline int32_t find_all(uint32_t table, Cell key, int32_t start, int32_t skip, int code, bool last,
                        bool reverse) {
    const Record* r = record(table);
    const uint8_t type = cell::type(&key);
    if (probing::word2_keyed(type)) {
        if (r->kind == kMap) return probing::find_word2(r, type, key.w2);
        if (r->kind == kHash && skip == 1 && !last && !reverse) {
            const int32_t found = probing::find_word2_in_hash(r, type, key.w2, start);
            if (found != -2) return found;
        }
    }
    return find_all_by_kind(table, key, start, skip, code, last, reverse);
}

} // namespace hashtable

// The collector's table on the system heap: 32-bit keys to 32-bit values, two flag bits
// per bucket (2 empty, 1 deleted, 0 live), the same probing, keys hashed with the finaliser.
namespace intmap {

struct Map {
    uint32_t size;
    uint32_t* flags;
    uint32_t* pairs; // key, value per bucket
    uint32_t occupied;
    uint32_t buckets;
    uint32_t bound;
};

Map* make(uint32_t size);
// Sets the value of a key (added when absent).
void put(Map* map, uint32_t key, uint32_t value);
// The address of a key's value, or null.
uint32_t* find(Map* map, uint32_t key);
// Removes a key; answers whether it was there.
bool delete_(Map* map, uint32_t key);
// Iteration: from position 0, the next live pair; answers false at the end.
bool next(const Map* map, uint32_t& position, uint32_t& key, uint32_t& value);
void clear(Map* map);
void destroy(Map* map);

} // namespace intmap

namespace hashtable {
// The value of a key in an integer map, or the key itself when absent (translating a node
// through the forwarding table).
uint32_t int_value(intmap::Map* map, uint32_t key);
} // namespace hashtable
