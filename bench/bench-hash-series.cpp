// hash! changes against the same changes to a block!: the table of a hash! must follow each
// change at a cost of the order of the change itself, not of the whole block. Three pairs, each
// through the action entries a script reaches (the append action, poke, remove):
// - 1,000,000 distinct integers appended one at a time to an empty series, then a find of
//   the last one (find/last, through the table of the hash!, by a scan of the block);
// - the same with 1,000 values, each appended a thousand times (equal keys share a bucket
//   through a chain of cells);
// - 200,000 pokes at pseudo-random positions of a 100,000-value series, then a find;
// - 10,000 removals of one value each, 20,000 values before the tail of a 100,000-value
//   series (each removal moves the values after it, in the block and in the table), then a
//   find.
// Every series is searched once before the timed changes (so that the table of a hash!
// answers for each of its values) and once after them.
// The collector runs as it does for a script.
//
// Prints hash! / block! for each pair, from the medians of interleaved repetitions. The goal
// for the appends is at most 3.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <vector>

#include "app/init.h"
#include "bench/ratio.h"
#include "datatypes/block.h"
#include "datatypes/hash.h"
#include "datatypes/series.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/memory.h"

namespace {

constexpr uint32_t kAppends = 1000000;
constexpr uint32_t kSize = 100000;
constexpr uint32_t kPokes = 200000;
// Removals from a position this far from the tail, so that each one moves that many
// values or fewer.
constexpr uint32_t kRemovalsBefore = 20000;
constexpr uint32_t kRemovals = 10000;

// An empty series of the kind on the data stack.
Cell* new_series(bool hash) {
    return hash ? hash_::push_new(1) : block::push_new(1);
}

// The place of the last `value` in the series (find/last), or -1.
int64_t find_last(Cell* series, Cell* value) {
    const Cell* found = block::find(series, value, {.last = true});
    const int64_t at = cell::type(found) == kTypeNone ? -1 : found->w1;
    stack::pop(1);
    return at;
}

void BM_Append(benchmark::State& state, bool hash, uint32_t distinct) {
    Cell* value = stack::push(Cell{kTypeInteger, 0, 0, 0});
    for (auto _ : state) {
        Cell* s = new_series(hash);
        for (uint32_t i = 0; i < kAppends; ++i) {
            value->w2 = i % distinct;
            block::insert(s, value, {.append = true});
        }
        // A find of the last value: the table has answered for every value since it came.
        if (find_last(s, value) != kAppends - 1) state.SkipWithError("last value not found");
        stack::pop(1);
    }
    stack::pop(1);
}

// A series of `size` distinct integers on the data stack, made outside the timing, and
// searched once (the table of a hash! answers for all of them).
Cell* filled(benchmark::State& state, bool hash, uint32_t size, Cell* value) {
    state.PauseTiming();
    Cell* s = new_series(hash);
    for (uint32_t i = 0; i < size; ++i) {
        value->w2 = i;
        block::insert(s, value, {.append = true});
    }
    if (find_last(s, value) != size - 1) state.SkipWithError("last value not found");
    state.ResumeTiming();
    return s;
}

void BM_Poke(benchmark::State& state, bool hash) {
    std::vector<uint32_t> positions(kPokes);
    std::mt19937 rng(7);
    for (uint32_t& p : positions) p = rng() % kSize;
    Cell* value = stack::push(Cell{kTypeInteger, 0, 0, 0});
    for (auto _ : state) {
        Cell* s = filled(state, hash, kSize, value);
        for (uint32_t i = 0; i < kPokes; ++i) {
            value->w2 = kSize + i;
            series::poke(s, static_cast<int32_t>(positions[i] + 1), value, nullptr);
        }
        if (find_last(s, value) != positions[kPokes - 1]) state.SkipWithError("not found");
        stack::pop(1);
    }
    stack::pop(1);
}

void BM_Remove(benchmark::State& state, bool hash) {
    Cell* value = stack::push(Cell{kTypeInteger, 0, 0, 0});
    Cell* one = stack::push(Cell{kTypeInteger, 0, 1, 0});
    for (auto _ : state) {
        Cell* s = filled(state, hash, kSize, value);
        s->w1 = kSize - kRemovalsBefore;
        for (uint32_t i = 0; i < kRemovals; ++i) series::remove(s, one, nullptr);
        value->w2 = kSize - 1;
        if (find_last(s, value) != kSize - kRemovals - 1) state.SkipWithError("not found");
        stack::pop(1);
    }
    stack::pop(2);
}

} // namespace

int main(int argc, char** argv) {
    runtime::init();
    collector::state.enabled = 1;
    for (const bool hash : {true, false}) {
        const char* kind = hash ? "hash!" : "block!";
        benchmark::RegisterBenchmark((std::string(kind) + " append distinct").c_str(), BM_Append,
                                     hash, kAppends)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string(kind) + " append repeated").c_str(), BM_Append,
                                     hash, kAppends / 1000)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string(kind) + " poke").c_str(), BM_Poke, hash)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string(kind) + " remove").c_str(), BM_Remove, hash)
            ->Unit(benchmark::kMillisecond);
    }
    bench::RatioReporter reporter;
    if (!bench::run_interleaved(argc, argv, reporter)) return 1;
    std::printf("\ngoal: appends at most 3\n");
    for (const char* what : {"append distinct", "append repeated", "poke", "remove"}) {
        const double ours = reporter.time_of(std::string("hash! ") + what);
        const double peer = reporter.time_of(std::string("block! ") + what);
        if (ours > 0 && peer > 0)
            std::printf("ratio hash!/block! %-16s %.2f (%.0f ms against %.0f ms)\n", what,
                        ours / peer, ours, peer);
    }
    return 0;
}
