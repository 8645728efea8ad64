// The stable merge sort against std::stable_sort on 1,000,000 random integers, both calling
// the same comparison function through a pointer (as the sort actions call their
// comparators), so that the figures compare the algorithms and their record moves.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "bench/ratio.h"
#include "runtime-core/sort.h"

namespace {

constexpr int kCount = 1000000;

[[gnu::noinline]] int32_t compare_ints(const void* x, const void* y, uintptr_t, uint32_t) {
    int32_t a, b;
    std::memcpy(&a, x, 4);
    std::memcpy(&b, y, 4);
    return (a > b) - (a < b);
}

const std::vector<int32_t>& random_input() {
    static const std::vector<int32_t> input = [] {
        std::mt19937 rng(12345);
        std::vector<int32_t> v(kCount);
        for (auto& x : v) x = static_cast<int32_t>(rng());
        return v;
    }();
    return input;
}

// The comparison function as the optimiser cannot see through it.
sort::Compare opaque_compare() {
    sort::Compare compare = compare_ints;
    benchmark::DoNotOptimize(compare);
    return compare;
}

void BM_MergeSort(benchmark::State& state) {
    const sort::Compare compare = opaque_compare();
    std::vector<int32_t> v;
    for (auto _ : state) {
        v = random_input();
        sort::merge(v.data(), kCount, 4, 0, 0, compare);
        benchmark::ClobberMemory();
    }
    if (!std::is_sorted(v.begin(), v.end())) state.SkipWithError("not sorted");
}

void BM_StdStableSort(benchmark::State& state) {
    const sort::Compare compare = opaque_compare();
    std::vector<int32_t> v;
    for (auto _ : state) {
        v = random_input();
        std::stable_sort(v.begin(), v.end(), [compare](const int32_t& a, const int32_t& b) {
            return compare(&a, &b, 0, 0) < 0;
        });
        benchmark::ClobberMemory();
    }
    if (!std::is_sorted(v.begin(), v.end())) state.SkipWithError("not sorted");
}

} // namespace

BENCHMARK(BM_MergeSort)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdStableSort)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    bench::RatioReporter reporter;
    if (!bench::run_interleaved(argc, argv, reporter)) return 1;
    double ours = reporter.time_of("BM_MergeSort"), peer = reporter.time_of("BM_StdStableSort");
    if (ours > 0 && peer > 0)
        std::printf("\nratio merge sort / std::stable_sort: %.2f (goal: at most 1.2)\n",
                    ours / peer);
    return 0;
}
