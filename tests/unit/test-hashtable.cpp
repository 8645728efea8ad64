#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "memory-fixture.h"
#include "runtime-core/case.h"
#include "runtime-core/hash.h"
#include "runtime-core/hashtable.h"

using hashtable::Kind;

namespace {

// The symbol table the resolver of these tests reads (the symbol module's role).
uint32_t* symbol_table = nullptr;

uint32_t resolve_in_table(uint32_t symbol) {
    if (!symbol_table || symbol == 0) return symbol;
    const uint32_t block = hashtable::record(*symbol_table)->data;
    const memory::Buffer* b = memory::buffer(block);
    if (symbol > b->length()) return symbol;
    const auto alias = static_cast<int32_t>(memory::buffer(block)->cells()[symbol - 1].w1);
    return alias > 0 ? static_cast<uint32_t>(alias) : symbol;
}

class HashTable : public MemoryTest {
protected:
    void SetUp() override {
        MemoryTest::SetUp();
        case_::init();
        hashtable::register_markers();
    }
    void TearDown() override {
        hashtable::set_symbol_resolver(nullptr);
        hashtable::set_map_key_prepare(nullptr);
        symbol_table = nullptr;
        MemoryTest::TearDown();
    }

    // A text cell of `type` holding `text` at `unit` bytes per code point. May collect; root
    // or store the result before the next allocation.
    static Cell text(const std::u32string& text, uint32_t unit, uint8_t type = kTypeString) {
        const auto n = static_cast<uint32_t>(text.size());
        const uint32_t node = memory::alloc_units(n, unit);
        memory::Buffer* b = memory::buffer(node);
        for (uint32_t i = 0; i < n; ++i) std::memcpy(b->data() + i * unit, &text[i], unit);
        b->tail = n * unit;
        return Cell{type, 0, node, 0};
    }
    static Cell integer(int32_t value) {
        return Cell{kTypeInteger, 0, static_cast<uint32_t>(value), 0};
    }
    static Cell word(uint8_t type, uint32_t symbol) { return Cell{type, 0, symbol, 0xFFFFFFFF}; }

    static uint32_t length(uint32_t block) { return memory::buffer(block)->length(); }
    static Cell& at(uint32_t block, uint32_t i) { return memory::buffer(block)->cells()[i]; }
};

// A hash! or map! value rooted for the test: its block in word 2, its table in word 3.
class Keyed {
public:
    Keyed(Kind kind, uint32_t size)
        : value_(Cell{kind == hashtable::kHash ? uint8_t{kTypeHash} : uint8_t{kTypeMap}, 0,
                      memory::alloc_cells(std::max(size, 1u)), 0}) {
        const uint32_t table = hashtable::init(size, &value_.cell(), kind);
        value_.cell().w3 = table;
    }
    uint32_t block() { return value_.cell().w2; }
    uint32_t table() { return value_.cell().w3; }
    // Where the table's node lives: a rooted word that collections keep up to date.
    uint32_t* table_slot() { return &value_.cell().w3; }
    hashtable::Record& record() { return *hashtable::record(table()); }
    // Appends a value and indexes it. May collect.
    int32_t add(const Cell& value, bool* rebuilt = nullptr) {
        GcRoot keep(value);
        Cell* c = memory::alloc_tail_cell(memory::buffer(block()));
        *c = keep.cell();
        return hashtable::put(table(), memory::buffer(block())->length() - 1, rebuilt);
    }
    // Appends a key/value pair of a map! and indexes the key. May collect.
    int32_t add_pair(const Cell& key, const Cell& value) {
        GcRoot k(key), v(value);
        *memory::alloc_tail_cell(memory::buffer(block())) = k.cell();
        *memory::alloc_tail_cell(memory::buffer(block())) = v.cell();
        return hashtable::put(table(), memory::buffer(block())->length() - 2);
    }
    int32_t find(const Cell& key, int code = 0, int32_t start = 0, int32_t skip = 1,
                 bool last = false, bool reverse = false) {
        GcRoot keep(key);
        return hashtable::find_all(table(), keep.cell(), start, skip, code, last, reverse);
    }

private:
    GcRoot value_;
};

} // namespace

// A new table has the next power of two at or above size / 0.77 buckets (at least 4 keys),
// and an upper bound of 0.77 of them; a word table asked for 4000 or more doubles first.
TEST_F(HashTable, NewTablesSizeTheirBucketsForTheExpectedKeys) {
    struct Case {
        uint32_t size;
        Kind kind;
        uint32_t buckets, bound;
    };
    const Case cases[] = {
        {0, hashtable::kHash, 8, 6},         {1, hashtable::kMap, 8, 6},
        {3, hashtable::kIntegers, 8, 6},     {4, hashtable::kWords, 8, 6},
        {100, hashtable::kHash, 256, 197},   {100, hashtable::kMap, 256, 197},
        {100, hashtable::kOwners, 256, 197}, {4000, hashtable::kWords, 16384, 12615},
    };
    for (const Case& c : cases) {
        GcRoot keep(Cell{kTypeHash, 0, 0, hashtable::init(c.size, nullptr, c.kind, 3)});
        const hashtable::Record& r = *hashtable::record(keep.cell().w3);
        EXPECT_EQ(r.buckets, c.buckets) << c.size << " kind " << c.kind;
        EXPECT_EQ(r.bound, c.bound) << c.size << " kind " << c.kind;
        EXPECT_EQ(r.size, 0u);
        EXPECT_EQ(r.kind, uint32_t{c.kind});
        EXPECT_EQ(r.stamp != 0, c.kind == hashtable::kIntegers || c.kind == hashtable::kOwners);
        if (c.kind >= hashtable::kIntegers) {
            EXPECT_EQ(r.index, 64u); // key and 3 value cells an entry
        }
    }
}

TEST_F(HashTable, HashesOfValuesByType) {
    GcRoot block(memory::alloc_cells(8));
    for (uint32_t unit : {1u, 2u, 4u}) append(block, text(U"Grüße", unit));
    append(block, text(U"GRÜSSE", 1)); // ß has no one-to-one upper case
    append(block, text(U"GRÜßE", 2));
    const Cell* c = memory::buffer(block.node())->cells();
    for (bool sensitive : {false, true}) {
        EXPECT_EQ(hashtable::hash_value(c[0], sensitive), hashtable::hash_value(c[1], sensitive));
        EXPECT_EQ(hashtable::hash_value(c[0], sensitive), hashtable::hash_value(c[2], sensitive));
    }
    EXPECT_EQ(hashtable::hash_value(c[0], false), hashtable::hash_value(c[4], false));
    EXPECT_NE(hashtable::hash_value(c[0], true), hashtable::hash_value(c[4], true));
    EXPECT_NE(hashtable::hash_value(c[0], false), hashtable::hash_value(c[3], false));
    // A text is hashed from its index.
    Cell tail = c[0];
    tail.w1 = 2;
    const uint32_t expected_tail = hashtable::hash_value(c[0], false);
    EXPECT_NE(hashtable::hash_value(tail, false), expected_tail);
    tail.w1 = 99; // beyond the tail: the empty text
    Cell empty = tail;
    empty.w1 = 5;
    EXPECT_EQ(hashtable::hash_value(tail, false), hashtable::hash_value(empty, false));

    EXPECT_EQ(hashtable::hash_value(Cell{kTypeNone, 0, 0, 0}, false), 0xFFFFFFFFu);
    EXPECT_EQ(hashtable::hash_value(Cell{kTypeUnset, 0, 0, 0}, false), 0xFFFFFFFEu);
    EXPECT_EQ(hashtable::hash_value(Cell{kTypeBitset, 0, 1234, 0}, false), 0u);
    EXPECT_EQ(hashtable::hash_value(Cell{kTypeVector, 0, 99, 11}, false), 0u);
    EXPECT_EQ(hashtable::hash_value(integer(42), false), hash::mix_int(42));
    EXPECT_EQ(hashtable::hash_value(Cell{kTypeChar, 0, 'a', 0}, false), hash::mix_int('a'));
    const uint32_t bytes[] = {3, 77};
    EXPECT_EQ(hashtable::hash_value(Cell{kTypeBlock, 3, 77, 0}, false), hash::murmur3(bytes, 8));
    // money!: the header counts with its type and sign only; tuple!: its length in bytes.
    const uint32_t sign = 0x4000;
    EXPECT_EQ(hashtable::hash_value(Cell{kTypeMoney | sign | cell::kNewLine, 1, 2, 3}, false),
              hashtable::hash_value(Cell{kTypeMoney | sign, 1, 2, 3}, false));
    EXPECT_NE(hashtable::hash_value(Cell{kTypeMoney | sign, 1, 2, 3}, false),
              hashtable::hash_value(Cell{kTypeMoney, 1, 2, 3}, false));
    const uint8_t tuple[] = {1, 2, 3};
    EXPECT_EQ(hashtable::hash_value(Cell{kTypeTuple | 3u << 19, 0x00030201, 0xFFFF, 0}, false),
              hash::murmur3(tuple, 3));
    // symbol!: its UTF-8 text with A-Z lowered.
    const uint32_t utf8 = make_text("FoO");
    EXPECT_EQ(hashtable::hash_value(Cell{kTypeSymbol, 0xFFFFFFFF, 0, utf8}, false),
              hash::murmur3("foo", 3));
    EXPECT_TRUE(hashtable::node_keyed(kTypeBlock));
    EXPECT_FALSE(hashtable::node_keyed(kTypeString));
}

// Float-like keys are equal as numbers: 0.0 and -0.0 are one key, a NaN is no key's equal,
// only sameness tells bit patterns apart; an integer! is never equal to a float!.
TEST_F(HashTable, FloatKeysAreEqualAsNumbers) {
    auto number = [](double d, uint8_t type = kTypeFloat) {
        Cell c{type, 0, 0, 0};
        std::memcpy(&c.w2, &d, sizeof d);
        return c;
    };
    const Cell zero = number(0.0), minus_zero = number(-0.0), nan = number(std::nan(""));
    EXPECT_EQ(hashtable::hash_value(zero, false), hashtable::hash_value(minus_zero, false));
    for (int code : {0, 2, 12}) {
        EXPECT_TRUE(hashtable::keys_equal(zero, minus_zero, code)) << code;
        EXPECT_FALSE(hashtable::keys_equal(nan, nan, code)) << code;
    }
    EXPECT_FALSE(hashtable::keys_equal(zero, minus_zero, 9));
    EXPECT_TRUE(hashtable::keys_equal(nan, nan, 9));
    EXPECT_FALSE(hashtable::keys_equal(number(1.0, kTypePercent), number(1.0), 0));
    EXPECT_FALSE(hashtable::keys_equal(integer(1), number(1.0), 0));

    Keyed h(hashtable::kHash, 0);
    h.add(number(-0.0));
    h.add(nan);
    h.add(number(2.5));
    EXPECT_EQ(h.find(zero), 0);
    EXPECT_EQ(h.find(zero, 9), -1);
    EXPECT_EQ(h.find(nan), -1);
    EXPECT_EQ(h.find(number(2.5), 12), 2);
    EXPECT_EQ(h.find(integer(2)), -1);
}

// Word keys hash and compare through their canonical symbol, so case variants collide.
TEST_F(HashTable, WordsHashByTheirCanonicalSymbol) {
    Keyed symbols(hashtable::kWords, 0);
    symbol_table = symbols.table_slot();
    hashtable::set_symbol_resolver(resolve_in_table);
    const uint32_t foo = hashtable::put_symbol(symbols.table(), "foo", 3, false);
    const uint32_t FOO = hashtable::put_symbol(symbols.table(), "FOO", 3, false);
    const Cell a = word(kTypeWord, foo), b = word(kTypeSetWord, FOO);
    EXPECT_EQ(hashtable::hash_value(a, false), hashtable::hash_value(b, false));
    EXPECT_TRUE(hashtable::keys_equal(a, b, 0));
    EXPECT_FALSE(hashtable::keys_equal(a, b, 2));
    EXPECT_FALSE(hashtable::keys_equal(a, word(kTypeIssue, foo), 0));
}

// Keys of any width and case find the same entry; strict equality tells case apart.
TEST_F(HashTable, TextKeysAreFoundInEveryWidthAndWithoutRegardToCase) {
    for (Kind kind : {hashtable::kHash, hashtable::kMap}) {
        Keyed keyed(kind, 0);
        const bool map = kind == hashtable::kMap;
        if (map)
            keyed.add_pair(text(U"Straße", 1), integer(1));
        else
            keyed.add(text(U"Straße", 1));
        for (uint32_t unit : {1u, 2u, 4u}) {
            EXPECT_EQ(keyed.find(text(U"Straße", unit)), 0) << unit;
            EXPECT_EQ(keyed.find(text(U"STRAßE", unit)), 0) << unit;
            EXPECT_EQ(keyed.find(text(U"Straße", unit), 2), 0) << unit;
            EXPECT_EQ(keyed.find(text(U"STRAßE", unit), 2), -1) << unit;
            EXPECT_EQ(keyed.find(text(U"Strasse", unit)), -1) << unit;
        }
        // A text of another type is the same key only for plain equality (hash!); a map!
        // wants the same type.
        EXPECT_EQ(keyed.find(text(U"straße", 1, kTypeFile)), map ? -1 : 0);
        EXPECT_EQ(keyed.find(text(U"straße", 1, kTypeFile), 2), -1);
    }
}

// Equal keys in a hash! share one bucket through a chain; a search walks it with the start,
// the skip, /last and /reverse.
TEST_F(HashTable, EqualKeysOfAHashShareAChain) {
    Keyed h(hashtable::kHash, 0);
    // 0:a 1:x 2:A 3:a 4:y 5:a
    for (const char32_t* t : {U"a", U"x", U"A", U"a", U"y", U"a"}) h.add(text(t, 1));
    EXPECT_EQ(h.record().size, 6u);
    EXPECT_EQ(h.record().occupied, 3u); // a, x, y
    struct Case {
        int code;
        int32_t start, skip;
        bool last, reverse;
        int32_t found;
    };
    const Case cases[] = {
        {0, 0, 1, false, false, 0},  {0, 1, 1, false, false, 2}, {2, 1, 1, false, false, 3},
        {0, 0, 1, true, false, 5},   {2, 0, 1, true, false, 5},  {0, 4, 1, false, true, 3},
        {0, 3, 1, false, true, 2},   {2, 3, 1, false, true, 0},  {0, 1, 2, false, false, 3},
        {0, 0, 2, false, false, 0},  {0, 1, 2, true, false, 2},  {0, 0, 3, false, false, 0},
        {0, 6, 1, false, false, -1}, {0, 0, 1, false, true, -1}, {0, 2, 0, false, false, 2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(h.find(text(U"a", 2), c.code, c.start, c.skip, c.last, c.reverse), c.found)
            << "code " << c.code << " start " << c.start << " skip " << c.skip << " last " << c.last
            << " reverse " << c.reverse;

    // Unindexing chained cells keeps the others findable; the bucket goes when the chain
    // empties.
    for (uint32_t i : {0u, 3u, 2u}) hashtable::delete_(h.table(), i);
    EXPECT_EQ(h.find(text(U"a", 1)), 5);
    EXPECT_EQ(h.record().size, 3u);
    hashtable::delete_(h.table(), 5);
    EXPECT_EQ(h.find(text(U"a", 1)), -1);
    EXPECT_EQ(h.find(text(U"x", 1)), 1);
    EXPECT_EQ(h.record().size, 2u);
}

// A deleted bucket is taken again by the next key that passes it; the occupied count stays.
TEST_F(HashTable, DeletedBucketsAreReused) {
    Keyed h(hashtable::kHash, 0);
    for (int i = 0; i < 5; ++i) h.add(integer(i));
    EXPECT_EQ(h.record().occupied, 5u);
    hashtable::delete_(h.table(), 2);
    EXPECT_EQ(h.find(integer(2)), -1);
    EXPECT_EQ(h.record().size, 4u);
    EXPECT_EQ(h.record().occupied, 5u);
    // The same value again: its probe meets the deleted bucket first.
    EXPECT_EQ(h.add(integer(2)), 5);
    EXPECT_EQ(h.find(integer(2)), 5);
    EXPECT_EQ(h.record().size, 5u);
    EXPECT_EQ(h.record().occupied, 5u);
    const std::string dump = hashtable::dump_text(h.table());
    EXPECT_EQ(dump, "\n== Deleted keys ==\n== Alive keys ==\n11\n11\n11\n11\n11\n");

    // The integer kinds likewise.
    GcRoot ints(Cell{kTypeHash, 0, 0, hashtable::init(0, nullptr, hashtable::kIntegers, 1)});
    GcRoot keys(memory::alloc_cells(4));
    for (int i = 0; i < 3; ++i) append(keys, string_of(make_text("k")));
    auto key = [&](int i) { return at(keys.node(), static_cast<uint32_t>(i)).w2; };
    for (int i = 0; i < 3; ++i) *hashtable::put_int(ints.cell().w3, key(i)) = integer(i);
    ASSERT_NE(hashtable::delete_int(ints.cell().w3, key(1)), nullptr);
    EXPECT_EQ(hashtable::get_int(ints.cell().w3, key(1)), nullptr);
    EXPECT_EQ(hashtable::delete_int(ints.cell().w3, key(1)), nullptr);
    const hashtable::Record& r = *hashtable::record(ints.cell().w3);
    EXPECT_EQ(r.size, 2u);
    EXPECT_EQ(r.occupied, 3u);
    Cell* again = hashtable::put_int(ints.cell().w3, key(1));
    EXPECT_EQ(again->header, uint32_t{kTypeUnset}); // every cell of the entry is fresh
    EXPECT_EQ(hashtable::record(ints.cell().w3)->occupied, 3u);
    EXPECT_EQ(hashtable::get_int(ints.cell().w3, key(0))->w2, 0u);
    const std::string text = hashtable::dump_text(ints.cell().w3);
    EXPECT_NE(text.find("== Alive keys ==\n"), std::string::npos);
    char line[16];
    std::snprintf(line, sizeof line, "%08X 2\n", key(1));
    EXPECT_NE(text.find(line), std::string::npos);
}

// Growth happens before the insertion that finds the occupied count at the bound: a map!
// (and a hash! of 8 or more buckets) doubles whether the buckets are live or deleted, an
// integer table mostly deleted is rebuilt at the same size.
TEST_F(HashTable, TablesGrowAtTheBound) {
    {
        Keyed h(hashtable::kHash, 0);
        for (int i = 0; i < 6; ++i) {
            bool rebuilt = true;
            h.add(integer(i), &rebuilt);
            EXPECT_FALSE(rebuilt);
        }
        EXPECT_EQ(h.record().buckets, 8u);
        bool rebuilt = false;
        EXPECT_EQ(h.add(integer(6), &rebuilt), 6);
        EXPECT_TRUE(rebuilt); // rebuilt from the block, the new cell included
        EXPECT_EQ(h.record().buckets, 16u);
        EXPECT_EQ(h.record().bound, 12u);
        for (int i = 0; i < 7; ++i) EXPECT_EQ(h.find(integer(i)), i);
    }
    {
        Keyed h(hashtable::kHash, 0);
        for (int i = 0; i < 6; ++i) h.add(integer(i));
        // Mostly deleted: the request is the bucket count - 1, still doubled from 8.
        for (uint32_t i = 0; i < 5; ++i) hashtable::delete_(h.table(), i);
        bool rebuilt = false;
        h.add(integer(100), &rebuilt);
        EXPECT_TRUE(rebuilt);
        EXPECT_EQ(h.record().buckets, 16u);
        // Rebuilding indexes every cell of the block again: the block is the truth.
        EXPECT_EQ(h.find(integer(0)), 0);
        EXPECT_EQ(h.record().occupied, 7u);
    }
    {
        Keyed m(hashtable::kMap, 0);
        for (int i = 0; i < 6; ++i) m.add_pair(integer(i), integer(-i));
        EXPECT_EQ(m.record().buckets, 8u);
        m.add_pair(integer(6), integer(-6));
        EXPECT_EQ(m.record().buckets, 16u);
        EXPECT_EQ(m.record().bound, 12u); // trunc(16 * 0.77 + 0.5)
        EXPECT_EQ(m.record().size, 7u);
        for (int i = 0; i < 7; ++i) EXPECT_EQ(m.find(integer(i)), 2 * i);
    }
    {
        GcRoot t(Cell{kTypeHash, 0, 0, hashtable::init(0, nullptr, hashtable::kIntegers, 1)});
        GcRoot keys(memory::alloc_cells(8));
        for (int i = 0; i < 8; ++i) append(keys, string_of(make_text("k")));
        auto key = [&](int i) { return at(keys.node(), static_cast<uint32_t>(i)).w2; };
        for (int i = 0; i < 6; ++i) *hashtable::put_int(t.cell().w3, key(i)) = integer(i);
        for (int i = 0; i < 5; ++i) hashtable::delete_int(t.cell().w3, key(i));
        const uint32_t data_before = memory::buffer(hashtable::record(t.cell().w3)->data)->length();
        hashtable::put_int(t.cell().w3, key(6)); // occupied 6 = bound, 1 live of 8
        const hashtable::Record& r = *hashtable::record(t.cell().w3);
        EXPECT_EQ(r.buckets, 8u);
        EXPECT_EQ(r.size, 2u);
        EXPECT_EQ(r.occupied, 2u);
        // The deleted entries left the data block.
        EXPECT_EQ(memory::buffer(r.data)->length(), 4u);
        EXPECT_EQ(data_before, 12u);
        EXPECT_EQ(hashtable::get_int(t.cell().w3, key(5))->w2, 5u);
        EXPECT_EQ(hashtable::get_int(t.cell().w3, key(0)), nullptr);
    }
}

// Many keys, growth after growth, all findable; removed pairs of a map! stay indexed.
TEST_F(HashTable, ManyKeysSurviveEveryGrowth) {
    // key-<i> and a letter that fits one byte (é) or needs two (Ā).
    auto key = [](int i) {
        std::u32string t = U"key-";
        for (char c : std::to_string(i)) t += char32_t(c);
        return t + (i % 2 ? U"é" : U"Ā");
    };
    auto upper = [](std::u32string t) {
        for (char32_t& c : t) c = case_::to_upper(c);
        return t;
    };
    Keyed m(hashtable::kMap, 0);
    Keyed h(hashtable::kHash, 0);
    const int n = memory::record.torture ? 300 : 3000;
    for (int i = 0; i < n; ++i) {
        const uint32_t narrow = i % 2 ? 1 : 2;
        m.add_pair(text(key(i), i % 3 ? narrow : 4), integer(i));
        h.add(text(key(i), 4));
    }
    EXPECT_EQ(m.record().size, uint32_t(n));
    EXPECT_EQ(h.record().size, uint32_t(n));
    for (int i = 0; i < n; i += 7) {
        hashtable::delete_(m.table(), 2 * i);
        EXPECT_EQ(at(m.block(), 2 * i + 1).header, 0u);
    }
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(m.find(text(upper(key(i)), 4)), 2 * i) << i;
        EXPECT_EQ(h.find(text(upper(key(i)), 2 + (i % 2) * 2)), i) << i;
    }
    EXPECT_EQ(m.record().size, uint32_t(n - (n + 6) / 7));
}

// Keys equal without regard to case share a probe; through every growth a lookup finds the
// earliest of them, and each one itself by strict comparison. The variants of each word are
// added in turns, so each word's keys lie far apart in the block; several seeds, so that some
// probes wrap around the end of the buckets.
TEST_F(HashTable, CaseVariantsKeepTheirOrderThroughGrowth) {
    const uint32_t saved_seed = hash::seed();
    const std::u32string variants[] = {U"ab", U"Ab", U"aB", U"AB"};
    const int words = memory::record.torture ? 20 : 150;
    for (uint32_t seed : {1u, 2u, 3u, 4u}) {
        hash::set_seed(seed);
        Keyed m(hashtable::kMap, 0);
        auto word = [&](int w, int v) {
            return variants[v] + std::u32string(1, U'0' + w % 10) +
                   std::u32string(1, U'a' + w / 10 % 26);
        };
        for (int v = 0; v < 4; ++v)
            for (int w = 0; w < words; ++w) m.add_pair(text(word(w, v), 1), integer(w));
        for (int w = 0; w < words; ++w)
            for (int v = 0; v < 4; ++v) {
                const int32_t own = 2 * (v * words + w);
                ASSERT_EQ(m.find(text(word(w, v), 1)), 2 * w) << seed << " " << w << " " << v;
                ASSERT_EQ(m.find(text(word(w, v), 1), 2), own) << seed << " " << w << " " << v;
            }
    }
    hash::set_seed(saved_seed);
}

// A map! made from a block with a repeated key keeps the first key's place with the last
// value, and the block loses the later pairs.
TEST_F(HashTable, AMapFromABlockKeepsTheFirstKeyWithTheLastValue) {
    GcRoot block(memory::alloc_cells(10));
    append(block, text(U"a", 1));
    append(block, integer(1));
    append(block, text(U"b", 1));
    append(block, integer(2));
    append(block, text(U"A", 2)); // not strictly equal: a key of its own
    append(block, integer(3));
    append(block, text(U"a", 4));
    append(block, integer(4));
    append(block, text(U"a", 1));
    append(block, integer(5));
    GcRoot map(Cell{kTypeMap, 0, block.node(), 0});
    map.cell().w3 = hashtable::init(5, &map.cell(), hashtable::kMap);
    const uint32_t b = map.cell().w2;
    ASSERT_EQ(length(b), 6u);
    EXPECT_EQ(at(b, 1).w2, 5u);
    EXPECT_EQ(at(b, 3).w2, 2u);
    EXPECT_EQ(at(b, 5).w2, 3u);
    EXPECT_EQ(hashtable::record(map.cell().w3)->size, 3u);
    GcRoot key(text(U"A", 1));
    EXPECT_EQ(hashtable::find_all(map.cell().w3, key.cell(), 0, 1, 0), 0);
    EXPECT_EQ(hashtable::find_all(map.cell().w3, key.cell(), 0, 1, 2), 4);
    // find_next walks every key equal without regard to case, in probe order.
    hashtable::Probe probe;
    EXPECT_EQ(hashtable::find_next(map.cell().w3, key.cell(), probe), 0);
    EXPECT_EQ(hashtable::find_next(map.cell().w3, key.cell(), probe), 4);
    EXPECT_EQ(hashtable::find_next(map.cell().w3, key.cell(), probe), -1);

    // A removed pair stays indexed; putting its key again finds it.
    hashtable::delete_(map.cell().w3, 2);
    EXPECT_EQ(hashtable::record(map.cell().w3)->size, 2u);
    EXPECT_EQ(at(map.cell().w2, 3).header, 0u);
    hashtable::delete_(map.cell().w3, 2); // twice counts once
    EXPECT_EQ(hashtable::record(map.cell().w3)->size, 2u);
    append(map.cell().w2, text(U"b", 1));
    append(map.cell().w2, integer(9));
    EXPECT_EQ(hashtable::put(map.cell().w3, 6), 2);
}

// The key preparation of the map module sees every new key of a block; word keys are looked
// up as set-words.
TEST_F(HashTable, MapKeysGoThroughTheKeyPreparation) {
    hashtable::set_map_key_prepare([](uint32_t block, uint32_t index) {
        Cell& key = memory::buffer(block)->cells()[index];
        if (cell::type(&key) == kTypeWord) cell::set_type(&key, kTypeSetWord);
    });
    GcRoot block(memory::alloc_cells(6));
    append(block, word(kTypeWord, 7));
    append(block, integer(1));
    append(block, word(kTypeLitWord, 8));
    append(block, integer(2));
    append(block, word(kTypeGetWord, 7)); // the same key as the first
    append(block, integer(3));
    GcRoot map(Cell{kTypeMap, 0, block.node(), 0});
    map.cell().w3 = hashtable::init(3, &map.cell(), hashtable::kMap);
    const uint32_t b = map.cell().w2;
    ASSERT_EQ(length(b), 4u);
    EXPECT_EQ(at(b, 0).header, uint32_t{kTypeSetWord});
    EXPECT_EQ(at(b, 1).w2, 3u);
    EXPECT_EQ(at(b, 2).header, uint32_t{kTypeLitWord}); // left alone by this preparation
    for (uint8_t type : {kTypeWord, kTypeSetWord, kTypeLitWord, kTypeGetWord})
        EXPECT_EQ(hashtable::find_all(map.cell().w3, word(type, 7)), 0) << int(type);
    EXPECT_EQ(hashtable::find_all(map.cell().w3, word(kTypeRefinement, 7)), -1);
    EXPECT_EQ(hashtable::find_all(map.cell().w3, word(kTypeWord, 8)), -1);
}

// Symbols: exact lookup first, case variants become aliases of the canonical symbol, the
// case-insensitive interning answers any variant; growth keeps the canonical first.
TEST_F(HashTable, SymbolsAreInternedWithCaseVariantsAsAliases) {
    GcRoot symbols(Cell{kTypeBlock, 0, memory::alloc_cells(4), 0});
    GcRoot table(Cell{kTypeHash, 0, 0, hashtable::init(0, &symbols.cell(), hashtable::kWords)});
    auto put = [&](const char* t, bool ci = false) {
        return hashtable::put_symbol(table.cell().w3, t, uint32_t(std::strlen(t)), ci);
    };
    auto block = [&] { return hashtable::record(table.cell().w3)->data; };
    auto alias = [&](uint32_t id) { return static_cast<int32_t>(at(block(), id - 1).w1); };
    const uint32_t foo = put("foo");
    EXPECT_EQ(foo, 1u);
    EXPECT_EQ(put("foo"), foo);
    const uint32_t FOO = put("FOO");
    EXPECT_EQ(FOO, 2u);
    EXPECT_EQ(alias(FOO), int32_t(foo));
    const uint32_t Foo = put("Foo");
    EXPECT_EQ(alias(Foo), int32_t(foo));
    EXPECT_EQ(alias(foo), -1);
    EXPECT_EQ(put("fOO", true), foo); // any variant, nothing added
    EXPECT_EQ(length(block()), 3u);
    const uint32_t e = put("\xC3\xA9"), E = put("\xC3\x89"); // é and É: not ASCII letters
    EXPECT_NE(e, E);
    EXPECT_EQ(alias(E), -1);
    const uint32_t empty = put("");
    EXPECT_EQ(put(""), empty);
    // Each symbol's text is a byte series with a NUL after its end.
    memory::Buffer* text = memory::buffer(at(block(), FOO - 1).w3);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(text->data()), text->length()), "FOO");
    EXPECT_EQ(text->data()[3], 0);

    // Enough symbols to grow the table twice; case variants added across the growth.
    const int n = memory::record.torture ? 150 : 2000;
    std::vector<uint32_t> ids;
    for (int i = 0; i < n; ++i) ids.push_back(put(("sym" + std::to_string(i)).c_str()));
    for (int i = 0; i < n; i += 3) {
        const uint32_t variant = put(("SYM" + std::to_string(i)).c_str());
        EXPECT_EQ(alias(variant), int32_t(ids[i])) << i;
        EXPECT_EQ(put(("Sym" + std::to_string(i)).c_str(), true), ids[i]) << i;
    }
    EXPECT_GT(hashtable::record(table.cell().w3)->buckets, 8u);
    for (int i = 0; i < n; ++i) EXPECT_EQ(put(("sym" + std::to_string(i)).c_str()), ids[i]);
}

// Context words: found by symbol id or by canonical id, added at the end of the word list.
TEST_F(HashTable, ContextWordsAreFoundByCanonicalOrExactSymbol) {
    Keyed symbols(hashtable::kWords, 0);
    symbol_table = symbols.table_slot();
    hashtable::set_symbol_resolver(resolve_in_table);
    auto sym = [&](const char* t) {
        return hashtable::put_symbol(symbols.table(), t, uint32_t(std::strlen(t)), 0);
    };
    const uint32_t foo = sym("foo"), bar = sym("bar"), FOO = sym("FOO");
    GcRoot context(memory::alloc_cells(2));
    GcRoot words(Cell{kTypeHash, 0, 0, hashtable::init(0, nullptr, hashtable::kWords)});
    auto put = [&](uint32_t s, bool ci, bool add, int32_t* out) {
        return hashtable::put_context(words.cell().w3, s, ci, add ? context.node() : 0, out);
    };
    int32_t index = 99;
    EXPECT_EQ(put(foo, true, false, &index), -1);
    EXPECT_EQ(index, -1);
    EXPECT_EQ(put(foo, true, true, &index), -1);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(put(bar, true, true, &index), -1);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(put(FOO, true, false, &index), 0); // canonical ids compared
    EXPECT_EQ(put(FOO, false, false, &index), -1);
    EXPECT_EQ(put(FOO, false, true, &index), -1); // exact: a word of its own
    EXPECT_EQ(index, 2);
    EXPECT_EQ(put(FOO, false, false, &index), 2);
    EXPECT_EQ(put(bar, false, false, &index), 1);
    const uint32_t list = hashtable::record(words.cell().w3)->data;
    const Cell& w = at(list, 2);
    EXPECT_EQ(w.header, uint32_t{kTypeWord});
    EXPECT_EQ(w.w1, context.node());
    EXPECT_EQ(w.w2, FOO);
    EXPECT_EQ(w.w3, 2u);

    // Growth multiplies the request by 16; a copy of the table is independent.
    for (int i = 0; i < 10; ++i) put(sym(("w" + std::to_string(i)).c_str()), true, true, &index);
    EXPECT_EQ(hashtable::record(words.cell().w3)->buckets, 256u); // (8 + 1) * 16 -> 256
    Cell source{kTypeContext, words.cell().w3, 0, 0};
    GcRoot copy(Cell{kTypeHash, 0, 0, hashtable::init(0, &source, hashtable::kWords, 2)});
    const uint32_t fresh = sym("new");
    EXPECT_EQ(hashtable::put_context(copy.cell().w3, fresh, true, context.node(), &index), -1);
    EXPECT_EQ(index, 13);
    EXPECT_EQ(hashtable::put_context(words.cell().w3, fresh, true, 0, &index), -1);
    EXPECT_EQ(hashtable::put_context(copy.cell().w3, bar, true, 0, &index), 1);
    EXPECT_NE(hashtable::record(copy.cell().w3)->data, hashtable::record(words.cell().w3)->data);
}

// Cells moved inside a hashed block: the table follows removals, insertions and moves.
TEST_F(HashTable, HashesFollowCellsMovedInTheirBlock) {
    Keyed h(hashtable::kHash, 0);
    // 0:a 1:b 2:a 3:c 4:d
    for (const char32_t* t : {U"a", U"b", U"a", U"c", U"d"}) h.add(text(t, 1));
    auto block_move = [&](uint32_t to, uint32_t from, uint32_t n) {
        Cell* c = memory::buffer(h.block())->cells();
        std::memmove(c + to, c + from, n * sizeof(Cell));
    };
    // Remove 1 (b): the cells after it move down.
    block_move(1, 2, 3);
    memory::buffer(h.block())->tail -= sizeof(Cell);
    EXPECT_EQ(hashtable::refresh_range(h.table(), -1, 2, 3, true), 0);
    EXPECT_EQ(h.find(text(U"b", 1)), -1);
    EXPECT_EQ(h.find(text(U"a", 1), 0, 1), 1);
    EXPECT_EQ(h.find(text(U"c", 1)), 2);
    EXPECT_EQ(h.find(text(U"d", 1)), 3);
    EXPECT_EQ(h.record().size, 4u);
    // Insert e at 1: the cells from 1 move up, then the new cell is added.
    memory::alloc_tail_cell(memory::buffer(h.block()));
    block_move(2, 1, 3);
    at(h.block(), 1) = integer(77);
    EXPECT_EQ(hashtable::refresh_range(h.table(), 1, 1, 3, true), 0);
    hashtable::put(h.table(), 1);
    // a 77 a c d
    EXPECT_EQ(h.find(integer(77)), 1);
    EXPECT_EQ(h.find(text(U"a", 1), 0, 1, 0, true), 2);
    EXPECT_EQ(h.find(text(U"d", 1)), 4);
    // Move the run [3, 5) (c d) to 0: d c... -> c d a 77 a
    {
        Cell run[2] = {at(h.block(), 3), at(h.block(), 4)};
        block_move(2, 0, 3);
        at(h.block(), 0) = run[0];
        at(h.block(), 1) = run[1];
    }
    hashtable::move_keys(h.table(), 0, 3, 2);
    EXPECT_EQ(h.find(text(U"c", 1)), 0);
    EXPECT_EQ(h.find(text(U"d", 1)), 1);
    EXPECT_EQ(h.find(text(U"a", 1)), 2);
    EXPECT_EQ(h.find(text(U"a", 1), 0, 3), 4);
    EXPECT_EQ(h.find(integer(77)), 3);
    // Beyond 30000 cells the caller rebuilds instead.
    EXPECT_EQ(hashtable::refresh_range(h.table(), 1, 0, 30001, true), 1);
    // Removing every cell empties the table.
    hashtable::remove_range(h.table(), 0, 100);
    EXPECT_EQ(h.record().size, 0u);
    EXPECT_EQ(h.find(text(U"c", 1)), -1);
}

// A copied table indexes the copied block and shares nothing with its source.
TEST_F(HashTable, ACopySharesNoStructureWithItsSource) {
    Keyed h(hashtable::kHash, 0);
    for (const char32_t* t : {U"a", U"b", U"a", U"c", U"a"}) h.add(text(t, 1));
    GcRoot copied(Cell{kTypeHash, 0, memory::copy_series(memory::buffer(h.block())), 0});
    copied.cell().w3 = hashtable::copy(copied.cell().w2, h.table());
    const hashtable::Record source = h.record();
    const hashtable::Record& copy = *hashtable::record(copied.cell().w3);
    for (uint32_t hashtable::Record::*field :
         {&hashtable::Record::keys, &hashtable::Record::index, &hashtable::Record::chains,
          &hashtable::Record::data})
        EXPECT_NE(copy.*field, source.*field);
    EXPECT_NE(*reinterpret_cast<uint32_t*>(memory::buffer(copy.chains)->data()),
              *reinterpret_cast<uint32_t*>(memory::buffer(source.chains)->data()));
    // Changing the copy leaves the source alone.
    hashtable::delete_(copied.cell().w3, 2);
    hashtable::delete_(copied.cell().w3, 0);
    GcRoot key(text(U"a", 1));
    EXPECT_EQ(hashtable::find_all(copied.cell().w3, key.cell()), 4);
    EXPECT_EQ(hashtable::find_all(h.table(), key.cell()), 0);
    EXPECT_EQ(hashtable::find_all(h.table(), key.cell(), 1), 2);
    hashtable::clear(copied.cell().w3);
    EXPECT_EQ(hashtable::find_all(copied.cell().w3, key.cell()), -1);
    EXPECT_EQ(hashtable::find_all(h.table(), key.cell(), 0, 1, 0, true), 4);
}

// Node ids change when the collector evacuates a node frame. A hash! holding blocks and an
// integer table keyed by nodes notice it through their stamp and rebuild their buckets.
TEST_F(HashTable, TablesRebuildAfterTheCollectorMovesNodes) {
    memory::record.torture = false;
    collector::state.enabled = 0;
    memory::NodeFrame* first = memory::record.first_node_frame;
    GcRoot pool(memory::alloc_cells(1000));               // room for the table's blocks and entries
    while (first->free_head != 0) memory::alloc_bytes(1); // garbage fills the first frame

    Keyed h(hashtable::kHash, 16);
    GcRoot ints(Cell{kTypeHash, 0, 0, hashtable::init(16, nullptr, hashtable::kIntegers, 1)});
    constexpr uint32_t kBlocks = 12;
    for (uint32_t i = 0; i < kBlocks; ++i) {
        append(pool, block_of(memory::alloc_cells(1)));
        const Cell b = at(pool.node(), i);
        h.add(b);
        *hashtable::put_int(ints.cell().w3, b.w2) = integer(int32_t(i));
    }
    h.add(at(pool.node(), 3)); // the same block twice: a chain
    EXPECT_EQ(h.record().stamp, 1u);
    std::vector<uint32_t> before;
    for (uint32_t i = 0; i < kBlocks; ++i) before.push_back(at(pool.node(), i).w2);

    for (int cycle = 0; cycle < 20 && collector::state.node_cycles == 0; ++cycle)
        collector::collect();
    ASSERT_EQ(collector::state.node_cycles, 1);
    for (uint32_t i = 0; i < kBlocks; ++i) EXPECT_NE(at(pool.node(), i).w2, before[i]);
    // The table's own cells were rewritten by marking: they hold the new ids too.
    EXPECT_EQ(at(h.block(), 5).w2, at(pool.node(), 5).w2);
    EXPECT_EQ(h.record().stamp, 1u); // stale until the next operation

    for (uint32_t i = 0; i < kBlocks; ++i) {
        const Cell b = at(pool.node(), i);
        EXPECT_EQ(h.find(b, 0, 0, 1, true), i == 3 ? int32_t(kBlocks) : int32_t(i)) << i;
        const Cell* value = hashtable::get_int(ints.cell().w3, b.w2);
        ASSERT_NE(value, nullptr) << i;
        EXPECT_EQ(value->w2, i);
    }
    EXPECT_EQ(h.record().stamp, 2u);
    EXPECT_EQ(hashtable::record(ints.cell().w3)->stamp, 2u);
    EXPECT_EQ(hashtable::get_int(ints.cell().w3, before[0]), nullptr);
    EXPECT_EQ(collector::state.node_compaction, 1); // restored after every rebuild
}

// A rebuild switches node compaction off and restores the setting, also when an error
// unwinds through it.
TEST_F(HashTable, RebuildsRestoreNodeCompactionOnEveryWayOut) {
    Keyed h(hashtable::kHash, 0);
    for (int i = 0; i < 20; ++i) h.add(integer(i));
    EXPECT_EQ(collector::state.node_compaction, 1);
    collector::state.node_compaction = 0;
    hashtable::resize(h.table(), 100);
    EXPECT_EQ(collector::state.node_compaction, 0);
    collector::state.node_compaction = 1;
    memory::set_fault_hook([](memory::Fault) { throw std::runtime_error("no memory"); });
    EXPECT_THROW(hashtable::resize(h.table(), 1u << 30), std::runtime_error);
    memory::set_fault_hook(nullptr);
    EXPECT_EQ(collector::state.node_compaction, 1);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(h.find(integer(i)), i);
}

// The integer map of the collector: keys to values on the system heap, grown in place.
TEST_F(HashTable, TheIntegerMapKeepsEveryPairThroughGrowth) {
    intmap::Map* map = intmap::make(0);
    EXPECT_EQ(map->buckets, 8u);
    EXPECT_EQ(map->bound, 6u);
    std::mt19937 rng(7);
    std::vector<uint32_t> keys;
    for (int i = 0; i < 5000; ++i) keys.push_back(rng() | 1);
    for (size_t i = 0; i < keys.size(); ++i) intmap::put(map, keys[i], uint32_t(i));
    intmap::put(map, keys[10], 123456); // replaces
    EXPECT_EQ(map->size, 5000u);
    EXPECT_EQ(map->buckets, 8192u);
    for (size_t i = 0; i < keys.size(); ++i)
        ASSERT_EQ(*intmap::find(map, keys[i]), i == 10 ? 123456u : uint32_t(i)) << i;
    EXPECT_EQ(intmap::find(map, 2), nullptr);
    EXPECT_EQ(hashtable::int_value(map, keys[20]), 20u);
    EXPECT_EQ(hashtable::int_value(map, 2), 2u);
    for (size_t i = 0; i < keys.size(); i += 2) EXPECT_TRUE(intmap::delete_(map, keys[i]));
    EXPECT_FALSE(intmap::delete_(map, keys[0]));
    EXPECT_EQ(map->size, 2500u);
    uint32_t position = 0, key, value, seen = 0;
    while (intmap::next(map, position, key, value)) {
        EXPECT_EQ(keys[value], key);
        EXPECT_EQ(value % 2, 1u);
        ++seen;
    }
    EXPECT_EQ(seen, 2500u);
    intmap::clear(map);
    EXPECT_EQ(intmap::find(map, keys[1]), nullptr);
    position = 0;
    EXPECT_FALSE(intmap::next(map, position, key, value));
    intmap::destroy(map);
}

namespace {

uint32_t owner_table = 0;
void mark_owner_table() {
    hashtable::mark(owner_table);
}
void sweep_owner_table() {
    hashtable::sweep(owner_table);
}

} // namespace

// The owner table holds its entries weakly: an entry goes when its series, its owner or its
// field word's context dies, also when the series refers back to the owner; a survivor
// follows its nodes.
TEST_F(HashTable, TheOwnerTableHoldsItsEntriesWeakly) {
    collector::add_marker(mark_owner_table);
    collector::set_owner_sweep(sweep_owner_table);
    owner_table = hashtable::init(0, nullptr, hashtable::kOwners, 3);
    // The parts of the one entry that lives: the series, the owner (standing for an object's
    // context) and the context of the field word.
    GcRoot series(make_text("kept"));
    GcRoot owner(memory::alloc_cells(1));
    GcRoot context(memory::alloc_cells(1));
    enum Dies { nothing, the_owner, the_series, the_context, both_in_a_cycle };
    for (Dies dies : {nothing, the_owner, the_series, the_context, both_in_a_cycle}) {
        GcRoot s(dies == nothing ? series.node() : memory::alloc_cells(1));
        GcRoot o(dies == nothing || dies == the_series || dies == the_context
                     ? owner.node()
                     : memory::alloc_cells(1));
        GcRoot w(dies == the_context ? memory::alloc_cells(1) : context.node());
        if (dies == both_in_a_cycle) append(s, block_of(o.node())); // refers back
        Cell* values = hashtable::put_int(owner_table, s.node());
        values[0] = dies == nothing ? string_of(s.node()) : block_of(s.node());
        values[1] = Cell{kTypeObject, o.node(), 0, 0};
        values[2] = Cell{kTypeWord, w.node(), 1, 0};
    }
    for (int i = 0; i < 3; ++i) collector::collect();
    ASSERT_EQ(hashtable::record(owner_table)->size, 1u);
    const Cell* values = hashtable::get_int(owner_table, series.node());
    ASSERT_NE(values, nullptr);
    EXPECT_EQ(values[0].w2, series.node());
    EXPECT_EQ(text_of(values[0].w2), "kept");
    EXPECT_EQ(values[1].w1, owner.node());
    EXPECT_EQ(values[2].w1, context.node());
    owner_table = 0;
}

namespace {

// One find with random options (a pool value, the comparison code, start, skip, last,
// reverse) must answer what a linear search over the table's block answers.
void find_as_a_linear_search_does(Keyed& h, const GcRoot& pool, std::mt19937& rng, int step) {
    auto length = [](uint32_t block) { return memory::buffer(block)->length(); };
    auto at = [](uint32_t block, uint32_t i) { return memory::buffer(block)->cells()[i]; };
    const uint32_t n = length(h.block());
    const Cell key = at(pool.node(), rng() % length(pool.node()));
    const int code = rng() % 2 ? 0 : 2;
    const int32_t start = static_cast<int32_t>(rng() % (n + 1));
    const int32_t skip = 1 + static_cast<int32_t>(rng() % 3);
    const bool last = rng() % 3 == 0, reverse = rng() % 4 == 0;
    int32_t expected = -1;
    for (uint32_t l = 0; l < n; ++l) {
        const int32_t i = static_cast<int32_t>(l);
        if (!hashtable::keys_equal(at(h.block(), l), key, code)) continue;
        const bool rev = reverse, lst = last || reverse;
        if (rev ? i >= start : i < start) continue;
        int64_t d = lst ? int64_t{start} - 1 - i : int64_t{i} - start;
        if (((d % skip) + skip) % skip != 0) continue;
        if (lst ? i > expected : expected < 0) expected = i;
    }
    ASSERT_EQ(h.find(key, code, start, skip, last, reverse), expected)
        << "step " << step << " code " << code << " start " << start << " skip " << skip << " last "
        << last << " reverse " << reverse;
}

} // namespace

// Random work on a hash! checked against a plain list of its cells: appends, removals and
// insertions in the middle, finds with every option. Run under ZAN_GC_TORTURE=1 every
// allocation moves every buffer.
TEST_F(HashTable, AHashAgreesWithALinearSearchUnderRandomWork) {
    GcRoot pool(memory::alloc_cells(32));
    for (const char32_t* t : {U"a", U"A", U"b", U"ß", U"ẞ", U"long text 1"})
        for (uint32_t unit : {1u, 2u, 4u}) append(pool, text(t, unit));
    for (int i = 0; i < 4; ++i) append(pool, integer(i));
    // Characters of the same values: their keys sit beside the integers' in the buckets.
    for (uint32_t i = 0; i < 4; ++i) append(pool, Cell{kTypeChar, 0, i, 0});
    for (int i = 0; i < 3; ++i) append(pool, block_of(memory::alloc_cells(1)));
    const uint32_t pool_size = length(pool.node());

    Keyed h(hashtable::kHash, 0);
    std::mt19937 rng(12345);
    const int steps = memory::record.torture ? 400 : 4000;
    for (int step = 0; step < steps; ++step) {
        const uint32_t n = length(h.block());
        const uint32_t choice = rng() % 10;
        if (choice < 4 || n == 0) {
            h.add(at(pool.node(), rng() % pool_size));
        } else if (choice < 6) {
            // remove cell p
            const uint32_t p = rng() % n;
            Cell* c = memory::buffer(h.block())->cells();
            std::memmove(c + p, c + p + 1, (n - p - 1) * sizeof(Cell));
            memory::buffer(h.block())->tail -= sizeof(Cell);
            ASSERT_EQ(hashtable::refresh_range(h.table(), -1, p + 1, n - p - 1, true), 0);
        } else if (choice < 7) {
            // insert a pool value at p
            const uint32_t p = rng() % n;
            GcRoot value(at(pool.node(), rng() % pool_size));
            memory::alloc_tail_cell(memory::buffer(h.block()));
            Cell* c = memory::buffer(h.block())->cells();
            std::memmove(c + p + 1, c + p, (n - p) * sizeof(Cell));
            c[p] = value.cell();
            ASSERT_EQ(hashtable::refresh_range(h.table(), 1, p, n - p, true), 0);
            hashtable::put(h.table(), p);
        } else if (choice < 8 && n > 2) {
            // move a run
            const uint32_t count = 1 + rng() % (n / 2);
            const uint32_t from = rng() % (n - count + 1), to = rng() % (n - count + 1);
            std::vector<Cell> cells(memory::buffer(h.block())->cells(),
                                    memory::buffer(h.block())->cells() + n);
            std::vector<Cell> run(cells.begin() + from, cells.begin() + from + count);
            cells.erase(cells.begin() + from, cells.begin() + from + count);
            cells.insert(cells.begin() + to, run.begin(), run.end());
            std::copy(cells.begin(), cells.end(), memory::buffer(h.block())->cells());
            hashtable::move_keys(h.table(), to, from, count);
        } else {
            ASSERT_NO_FATAL_FAILURE(find_as_a_linear_search_does(h, pool, rng, step));
        }
        ASSERT_EQ(h.record().size, length(h.block())) << "step " << step;
    }
}

// A map! under random insertions, removals and lookups of mixed keys (texts of every width
// and case, integers and characters of the same values) finds what a linear search finds:
// the earliest key of the same type equal by the code. Removed pairs stay indexed.
TEST_F(HashTable, AMapAgreesWithALinearSearchUnderRandomWork) {
    GcRoot pool(memory::alloc_cells(32));
    for (const char32_t* t : {U"a", U"A", U"ß", U"ẞ", U"long text 1", U"LONG TEXT 1"})
        for (uint32_t unit : {1u, 2u, 4u}) append(pool, text(t, unit));
    for (int i = 0; i < 40; ++i) {
        append(pool, integer(i * 7919));
        append(pool, Cell{kTypeChar, 0, static_cast<uint32_t>(i * 7919), 0});
    }
    const uint32_t pool_size = length(pool.node());

    Keyed m(hashtable::kMap, 0);
    std::mt19937 rng(4321);
    const int steps = memory::record.torture ? 300 : 3000;
    for (int step = 0; step < steps; ++step) {
        const uint32_t choice = rng() % 4;
        const Cell key = at(pool.node(), rng() % pool_size);
        const uint32_t n = length(m.block());
        if (choice == 0) {
            const int32_t e = m.add_pair(key, integer(step));
            // A strictly equal key already there keeps its entry (the new pair stays unindexed
            // in this test's block, so it leaves it again).
            if (e != static_cast<int32_t>(n)) memory::buffer(m.block())->tail -= 2 * sizeof(Cell);
        } else if (choice == 1 && n > 0) {
            hashtable::delete_(m.table(), 2 * (rng() % (n / 2)));
        } else {
            const int code = rng() % 2 ? 0 : 2;
            int32_t expected = -1;
            for (uint32_t l = 0; l < n && expected < 0; l += 2) {
                const Cell& c = at(m.block(), l);
                if (cell::type(&c) == cell::type(&key) && hashtable::keys_equal(c, key, code))
                    expected = static_cast<int32_t>(l);
            }
            ASSERT_EQ(m.find(key, code), expected) << "step " << step << " code " << code;
        }
    }
}

// A hash! under random changes of its block told to the table one change at a time
// (splice: some cells replaced by others, the cells after them moving along; appends among
// them) finds what a linear search finds, equal keys and every comparison code included.
// Appended cells wait until the next lookup; the table always accounts for every cell.
TEST_F(HashTable, AHashFollowsSplicedChangesUnderRandomWork) {
    GcRoot pool(memory::alloc_cells(32));
    for (const char32_t* t : {U"a", U"A", U"b", U"ß", U"ẞ"})
        for (uint32_t unit : {1u, 2u}) append(pool, text(t, unit));
    for (int i = 0; i < 6; ++i) append(pool, integer(i));
    for (uint32_t i = 0; i < 3; ++i) append(pool, Cell{kTypeChar, 0, i, 0});
    append(pool, block_of(memory::alloc_cells(1)));
    const uint32_t pool_size = length(pool.node());

    Keyed h(hashtable::kHash, 0);
    std::mt19937 rng(2468);
    const int steps = memory::record.torture ? 300 : 3000;
    for (int step = 0; step < steps; ++step) {
        const uint32_t n = length(h.block());
        const uint32_t choice = rng() % 8;
        if (choice < 5) {
            // Replace `removed` cells at `p` by `inserted` pool values; at the tail, appends.
            const uint32_t p = choice == 0 ? n : rng() % (n + 1);
            const uint32_t removed = std::min<uint32_t>(rng() % 4, n - p);
            const uint32_t inserted = n > 80 ? rng() % 2 : rng() % 5;
            // Room first: the cells are read after the last allocation, with the node ids
            // that a collection left them.
            if (inserted > removed)
                memory::alloc_tail_bytes(memory::buffer(h.block()),
                                         (inserted - removed) * sizeof(Cell));
            std::vector<Cell> cells(memory::buffer(h.block())->cells(),
                                    memory::buffer(h.block())->cells() + n);
            std::vector<Cell> values;
            for (uint32_t i = 0; i < inserted; ++i)
                values.push_back(at(pool.node(), rng() % pool_size));
            cells.erase(cells.begin() + p, cells.begin() + p + removed);
            cells.insert(cells.begin() + p, values.begin(), values.end());
            memory::Buffer* b = memory::buffer(h.block());
            std::copy(cells.begin(), cells.end(), b->cells());
            b->tail = b->head + static_cast<uint32_t>(cells.size() * sizeof(Cell));
            hashtable::splice(h.table(), p, removed, inserted);
        } else {
            ASSERT_NO_FATAL_FAILURE(find_as_a_linear_search_does(h, pool, rng, step));
            EXPECT_EQ(h.record().pending, 0u) << "step " << step;
        }
        ASSERT_EQ(h.record().size + h.record().pending, length(h.block())) << "step " << step;
    }
}

// Appended cells wait for the next lookup, which indexes them all; a change before them
// leaves them waiting after the cells it moved. A table that missed a change to its block
// is built again from the block at the next one.
TEST_F(HashTable, AppendedCellsWaitForTheNextLookup) {
    Keyed h(hashtable::kHash, 0);
    auto append_values = [&](std::initializer_list<int> values) {
        for (int v : values) *memory::alloc_tail_cell(memory::buffer(h.block())) = integer(v);
    };
    append_values({10, 11, 12});
    hashtable::splice(h.table(), 0, 0, 3);
    append_values({13, 11});
    hashtable::splice(h.table(), 3, 0, 2);
    EXPECT_EQ(h.record().size, 0u);
    EXPECT_EQ(h.record().pending, 5u);
    EXPECT_EQ(h.find(integer(11), 0, 0, 1, true), 4);
    EXPECT_EQ(h.record().size, 5u);
    EXPECT_EQ(h.record().pending, 0u);
    // 10 11 12 13 11, then 14 waits; 20 replaces 10 and 11 at the head: 20 12 13 11 14.
    append_values({14});
    hashtable::splice(h.table(), 5, 0, 1);
    {
        Cell* c = memory::buffer(h.block())->cells();
        std::memmove(c + 1, c + 2, 4 * sizeof(Cell));
        c[0] = integer(20);
        memory::buffer(h.block())->tail -= sizeof(Cell);
    }
    hashtable::splice(h.table(), 0, 2, 1);
    EXPECT_EQ(h.record().pending, 1u);
    EXPECT_EQ(h.find(integer(10)), -1);
    EXPECT_EQ(h.find(integer(20)), 0);
    EXPECT_EQ(h.find(integer(11)), 3);
    EXPECT_EQ(h.find(integer(14)), 4);
    // Two cells appended behind the table's back, then one told: all three are found.
    append_values({15, 16, 17});
    hashtable::splice(h.table(), 7, 0, 1);
    EXPECT_EQ(h.find(integer(15)), 5);
    EXPECT_EQ(h.find(integer(17)), 7);
    EXPECT_EQ(h.record().size, 8u);
}

// A cell changed again and again (a poke) leaves a deleted bucket each time: the table is
// built again at the size its block needs, not at twice its last size each time.
TEST_F(HashTable, CellsChangedAgainAndAgainDoNotGrowTheTable) {
    Keyed h(hashtable::kHash, 0);
    for (int i = 0; i < 10; ++i) h.add(integer(i));
    for (int i = 0; i < 20000; ++i) {
        at(h.block(), static_cast<uint32_t>(i % 10)) = integer(100 + i);
        hashtable::splice(h.table(), static_cast<uint32_t>(i % 10), 1, 1);
    }
    EXPECT_LE(h.record().buckets, 32u);
    for (int i = 19990; i < 20000; ++i) EXPECT_EQ(h.find(integer(100 + i)), i % 10);
    EXPECT_EQ(h.find(integer(100)), -1);
}
