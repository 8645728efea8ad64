// Hash tables against std::unordered_map and absl::flat_hash_map: insertion and lookup of
// 1,000,000 integer keys and of 1,000,000 text keys. Ours is a map! table (key/value pairs in a
// block, the table over it), driven through the entry points the map! datatype uses: put/map
// looks the key up (hashtable::find_all, code 0), appends the key and value cells to the block
// and indexes the key (hashtable::put); select/map looks the key up (hashtable::find_all) and
// reads the value after the key cell through the map's block. The hash! rows look keys up in a
// hash! over a block of the keys, as find on a hash! does (hashtable::find_all with its start
// and skip), and answer the cell index; the peers' rows are their finds again.
// Text keys are string! values of one byte per character, looked up without regard to case (the
// map! default) through other string! values of the same text; the peers' are std::string
// (case-sensitive, each with its own hash). Keys are made before the timing, and lookups go in
// another random order than insertions. The collector is disabled while timing (as during start-up)
// and run between iterations, so that the figures are the table's.
//
// Prints ours / each peer, from the medians of interleaved repetitions.
#include <absl/container/flat_hash_map.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "bench/ratio.h"
#include "runtime-core/case.h"
#include "runtime-core/collector.h"
#include "runtime-core/hashtable.h"
#include "runtime-core/memory.h"

namespace {

constexpr uint32_t kCount = 1000000;

// Distinct, well-scattered integers: an odd multiplier is a bijection of 32-bit values.
const std::vector<uint32_t>& integer_keys() {
    static const std::vector<uint32_t> keys = [] {
        std::vector<uint32_t> v(kCount);
        for (uint32_t i = 0; i < kCount; ++i) v[i] = (i + 1) * 2654435761u;
        std::shuffle(v.begin(), v.end(), std::mt19937(1));
        return v;
    }();
    return keys;
}

// Distinct texts of 9 to 16 characters, such as identifiers and file names.
const std::vector<std::string>& text_keys() {
    static const std::vector<std::string> keys = [] {
        std::vector<std::string> v;
        v.reserve(kCount);
        std::mt19937 rng(2);
        const char* const stems[] = {"key-", "name_", "item", "value.", "x", "entry-"};
        for (uint32_t i = 0; i < kCount; ++i) {
            std::string t = stems[rng() % 6] + std::to_string(i * 7919u % 10000019u);
            while (t.size() < 9 + rng() % 8) t += char('a' + rng() % 26);
            v.push_back(t);
        }
        std::shuffle(v.begin(), v.end(), std::mt19937(3));
        return v;
    }();
    return keys;
}

// The lookup order: a permutation of the keys other than their insertion order.
const std::vector<uint32_t>& lookup_order() {
    static const std::vector<uint32_t> order = [] {
        std::vector<uint32_t> v(kCount);
        for (uint32_t i = 0; i < kCount; ++i) v[i] = i;
        std::shuffle(v.begin(), v.end(), std::mt19937(4));
        return v;
    }();
    return order;
}

// The memory manager as start-up leaves it, collector off.
void start_memory() {
    static bool started = false;
    if (started) return;
    started = true;
    memory::init();
    memory::record.torture = false;
    memory::new_node_frame(memory::kNodesPerFrame);
    memory::new_series_frame();
    case_::init();
    collector::init();
    collector::state.enabled = 0;
    hashtable::register_markers();
}

// A block of string! values, one per text key, kept alive for the whole run. Two of them:
// the keys inserted and the keys looked up are different series with the same texts.
uint32_t text_block(int which) {
    static GcRoot* blocks[2] = {nullptr, nullptr};
    if (!blocks[which]) {
        blocks[which] = new GcRoot(memory::alloc_cells(kCount));
        for (const std::string& t : text_keys()) {
            const auto n = static_cast<uint32_t>(t.size());
            const uint32_t node = memory::alloc_bytes(n);
            memory::Buffer* b = memory::buffer(node);
            std::copy(t.begin(), t.end(), b->data());
            b->tail = n;
            memory::Buffer* block = memory::buffer(blocks[which]->node());
            *memory::alloc_tail_cell(block) = Cell{kTypeString, 0, node, 0};
        }
    }
    return blocks[which]->node();
}

const Cell& text_key(int which, uint32_t i) {
    return memory::buffer(text_block(which))->cells()[i];
}

Cell integer_cell(uint32_t value) {
    return Cell{kTypeInteger, 0, value, 0};
}

// A new map! of the keys: its block in word 2, its table in word 3. Each key as put/map adds
// one: looked up first, then appended with its value and indexed. May collect.
template <class KeyOf> void fill_map(GcRoot& map, KeyOf key_of) {
    map.set_cell(Cell{kTypeMap, 0, 0, 0});
    map.cell().w3 = hashtable::init(0, nullptr, hashtable::kMap);
    map.cell().w2 = hashtable::record(map.cell().w3)->data;
    for (uint32_t i = 0; i < kCount; ++i) {
        const Cell key = key_of(i);
        if (hashtable::find_all(map.cell().w3, key, 0, 1, 0) >= 0) continue;
        memory::Buffer* block = memory::buffer(map.cell().w2);
        const uint32_t index = block->length();
        *memory::alloc_tail_cell(block) = key;
        *memory::alloc_tail_cell(memory::buffer(map.cell().w2)) = integer_cell(i);
        hashtable::put(map.cell().w3, index);
    }
}

// The value of a key, or -1, as select/map reads it: the key's cell index from the table, the
// value from the map's block. Inlined into the loops, as the peers' lookups are.
[[gnu::always_inline]] inline int32_t select(const Cell& map, const Cell& key) {
    const int32_t at = hashtable::find_all(map.w3, key, 0, 1, 0);
    if (at < 0) return -1;
    return static_cast<int32_t>(memory::buffer(map.w2)->cells()[at + 1].w2);
}

// A hash! over a block of the keys: its block in word 2, its table in word 3. May collect.
template <class KeyOf> void fill_hash(GcRoot& hash, KeyOf key_of) {
    GcRoot block(memory::alloc_cells(kCount));
    for (uint32_t i = 0; i < kCount; ++i)
        *memory::alloc_tail_cell(memory::buffer(block.node())) = key_of(i);
    const Cell source{kTypeBlock, 0, block.node(), 0};
    hash.set_cell(Cell{kTypeHash, 0, block.node(), 0});
    hash.cell().w3 = hashtable::init(kCount, &source, hashtable::kHash);
}

// --- Timing loops ---------------------------------------------------------------------------

// Times filling a map! with the keys; the map is dropped and collected between iterations.
template <class KeyOf> void time_our_inserts(benchmark::State& state, KeyOf key_of) {
    for (auto _ : state) {
        GcRoot map;
        fill_map(map, key_of);
        benchmark::DoNotOptimize(map.cell().w3);
        state.PauseTiming();
        if (hashtable::record(map.cell().w3)->size != kCount) state.SkipWithError("lost keys");
        map.set_node(0);
        collector::collect();
        state.ResumeTiming();
    }
}

template <class Map, class Key>
void time_peer_inserts(benchmark::State& state, const std::vector<Key>& keys) {
    for (auto _ : state) {
        Map map;
        for (uint32_t i = 0; i < kCount; ++i) map.emplace(keys[i], i);
        benchmark::DoNotOptimize(map.size());
        state.PauseTiming();
        if (map.size() != kCount) state.SkipWithError("lost keys");
        { auto gone = std::move(map); }
        state.ResumeTiming();
    }
}

// Times a lookup of every key in the lookup order. `lookup(i)` answers key i's value or cell
// index; those are 0 to kCount - 1 once each, so their sum shows a wrong answer.
template <class Lookup> void time_lookups(benchmark::State& state, Lookup lookup) {
    const auto& order = lookup_order();
    for (auto _ : state) {
        uint64_t sum = 0;
        for (uint32_t i : order) sum += static_cast<uint32_t>(lookup(i));
        benchmark::DoNotOptimize(sum);
        if (sum != uint64_t{kCount} * (kCount - 1) / 2) state.SkipWithError("wrong answers");
    }
}

// --- Integer keys ---------------------------------------------------------------------------

void BM_ours_insert_integers(benchmark::State& state) {
    start_memory();
    const auto& keys = integer_keys();
    time_our_inserts(state, [&](uint32_t i) { return integer_cell(keys[i]); });
}

template <class Map> void BM_peer_insert_integers(benchmark::State& state) {
    time_peer_inserts<Map>(state, integer_keys());
}

void BM_ours_find_integers(benchmark::State& state) {
    start_memory();
    const auto& keys = integer_keys();
    GcRoot map;
    fill_map(map, [&](uint32_t i) { return integer_cell(keys[i]); });
    const Cell m = map.cell();
    time_lookups(state, [&](uint32_t i) { return select(m, integer_cell(keys[i])); });
}

template <class Map> void BM_peer_find_integers(benchmark::State& state) {
    const auto& keys = integer_keys();
    Map map;
    for (uint32_t i = 0; i < kCount; ++i) map.emplace(keys[i], i);
    time_lookups(state, [&](uint32_t i) { return map.find(keys[i])->second; });
}

// find on a hash! of the integers: the cell index of each key.
void BM_ours_hash_find_integers(benchmark::State& state) {
    start_memory();
    const auto& keys = integer_keys();
    GcRoot hash;
    fill_hash(hash, [&](uint32_t i) { return integer_cell(keys[i]); });
    const uint32_t table = hash.cell().w3;
    time_lookups(state, [&](uint32_t i) {
        return hashtable::find_all(table, integer_cell(keys[i]), 0, 1, 0);
    });
}

// --- Text keys ------------------------------------------------------------------------------

void BM_ours_insert_texts(benchmark::State& state) {
    start_memory();
    text_block(0);
    time_our_inserts(state, [](uint32_t i) { return text_key(0, i); });
}

template <class Map> void BM_peer_insert_texts(benchmark::State& state) {
    time_peer_inserts<Map>(state, text_keys());
}

void BM_ours_find_texts(benchmark::State& state) {
    start_memory();
    text_block(0);
    text_block(1);
    GcRoot map;
    fill_map(map, [](uint32_t i) { return text_key(0, i); });
    const Cell m = map.cell();
    time_lookups(state, [&](uint32_t i) { return select(m, text_key(1, i)); });
}

// find on a hash! of the texts (case-insensitive, as find's default) through other strings.
void BM_ours_hash_find_texts(benchmark::State& state) {
    start_memory();
    text_block(0);
    text_block(1);
    GcRoot hash;
    fill_hash(hash, [](uint32_t i) { return text_key(0, i); });
    const uint32_t table = hash.cell().w3;
    time_lookups(state,
                 [&](uint32_t i) { return hashtable::find_all(table, text_key(1, i), 0, 1, 0); });
}

template <class Map> void BM_peer_find_texts(benchmark::State& state) {
    const auto& keys = text_keys();
    // Lookups through other strings of the same texts, as ours.
    const std::vector<std::string> probes(keys.begin(), keys.end());
    Map map;
    for (uint32_t i = 0; i < kCount; ++i) map.emplace(keys[i], i);
    time_lookups(state, [&](uint32_t i) { return map.find(probes[i])->second; });
}

using StdIntegers = std::unordered_map<uint32_t, uint32_t>;
using AbslIntegers = absl::flat_hash_map<uint32_t, uint32_t>;
using StdTexts = std::unordered_map<std::string, uint32_t>;
using AbslTexts = absl::flat_hash_map<std::string, uint32_t>;

} // namespace

int main(int argc, char** argv) {
    using Bench = void (*)(benchmark::State&);
    struct Case {
        const char* name;
        Bench ours, std_map, absl_map;
    };
    const Case cases[] = {
        {"insert_integers", BM_ours_insert_integers, BM_peer_insert_integers<StdIntegers>,
         BM_peer_insert_integers<AbslIntegers>},
        {"find_integers", BM_ours_find_integers, BM_peer_find_integers<StdIntegers>,
         BM_peer_find_integers<AbslIntegers>},
        {"insert_texts", BM_ours_insert_texts, BM_peer_insert_texts<StdTexts>,
         BM_peer_insert_texts<AbslTexts>},
        {"find_texts", BM_ours_find_texts, BM_peer_find_texts<StdTexts>,
         BM_peer_find_texts<AbslTexts>},
        {"hash_find_integers", BM_ours_hash_find_integers, BM_peer_find_integers<StdIntegers>,
         BM_peer_find_integers<AbslIntegers>},
        {"hash_find_texts", BM_ours_hash_find_texts, BM_peer_find_texts<StdTexts>,
         BM_peer_find_texts<AbslTexts>},
    };
    for (const Case& c : cases) {
        const std::string name = c.name;
        benchmark::RegisterBenchmark(("ours/" + name).c_str(), c.ours)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("std/" + name).c_str(), c.std_map)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("absl/" + name).c_str(), c.absl_map)
            ->Unit(benchmark::kMillisecond);
    }
    bench::RatioReporter reporter;
    if (!bench::run_interleaved(argc, argv, reporter)) return 1;

    std::printf("\nratio ours / peer (below 1.0: ours is faster)\n");
    std::printf("  %-18s %17s %21s\n", "", "std::unordered_map", "absl::flat_hash_map");
    for (const Case& c : cases) {
        const std::string name = c.name;
        const double ours = reporter.time_of("ours/" + name);
        const double std_map = reporter.time_of("std/" + name);
        const double absl_map = reporter.time_of("absl/" + name);
        if (ours == 0 || std_map == 0 || absl_map == 0) continue;
        std::printf("  %-18s %17.2f %21.2f\n", c.name, ours / std_map, ours / absl_map);
    }
    return 0;
}
