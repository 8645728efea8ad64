// One full collection of heaps of small live blocks, all held by one block, against memcpy of
// the same number of live bytes in the same run. Three shapes, each at 1,000,000 and
// 10,000,000 blocks:
// - compact: the blocks lie in allocation order and nothing is dead (compaction moves nothing);
// - garbage: a dead block lies after every live one, so every live buffer moves;
// - shuffled: the holder refers to the blocks in random order (marking follows random
//   addresses; nothing moves).
// Each is repeated; the ratios are given for the minimum, the median and the maximum CPU time.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/ratio.h"
#include "runtime-core/collector.h"
#include "runtime-core/externals.h"
#include "runtime-core/memory.h"
#include "runtime-core/slots.h"

namespace {

enum class Shape { compact, garbage, shuffled };

uint32_t holder = 0;
Shape built_shape = Shape::compact;
uint32_t built_blocks = 0;

void mark_holder() {
    collector::mark_node_cells(holder);
}

// Bytes of the live buffers with their headers and spare bytes: the holder and the blocks.
uint64_t live_bytes(uint32_t blocks) {
    uint64_t cell_bytes = (uint64_t{blocks} * 16 + 15) & ~uint64_t{15};
    return cell_bytes + memory::kBufferOverhead + uint64_t{blocks} * (32 + memory::kBufferOverhead);
}

void build(Shape shape, uint32_t blocks) {
    memory::init();
    externals::init();
    memory::new_node_frame(memory::kNodesPerFrame);
    memory::new_series_frame();
    collector::init();
    collector::reset_registrations();
    collector::add_marker(mark_holder);
    collector::state.enabled = 0; // building does not collect
    holder = memory::alloc_cells(blocks);
    for (uint32_t i = 0; i < blocks; ++i) {
        uint32_t block = memory::alloc_cells(2);
        memory::Buffer* b = memory::buffer(block);
        *memory::alloc_tail_cell(b) = Cell{kTypeInteger, i, 0, 0};
        *memory::alloc_tail_cell(b) = Cell{kTypeInteger, i + 1, 0, 0};
        *memory::alloc_tail_cell(memory::buffer(holder)) = Cell{kTypeBlock, 0, block, 0};
        if (shape == Shape::garbage) memory::alloc_cells(2);
    }
    if (shape == Shape::shuffled) {
        memory::Buffer* h = memory::buffer(holder);
        std::shuffle(h->cells(), h->cells_tail(), std::mt19937(1));
    }
    collector::state.enabled = 1;
    built_shape = shape;
    built_blocks = blocks;
}

void BM_Collect(benchmark::State& state, Shape shape) {
    const auto blocks = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) {
        if (shape == Shape::garbage || built_shape != shape || built_blocks != blocks) {
            state.PauseTiming();
            build(shape, blocks);
            if (shape != Shape::garbage) collector::collect(); // settled: later cycles alike
            state.ResumeTiming();
        }
        collector::collect();
    }
    state.counters["live MB"] = double(live_bytes(blocks)) / 1e6;
}

double min_of(const std::vector<double>& v) {
    return *std::min_element(v.begin(), v.end());
}
double max_of(const std::vector<double>& v) {
    return *std::max_element(v.begin(), v.end());
}

// Keeps the minimum and maximum times beside the medians that the ratio reporter keeps, all
// CPU times.
class MinMaxReporter : public bench::RatioReporter {
public:
    MinMaxReporter() : RatioReporter(/*cpu_time=*/true) {}
    std::map<std::string, double> mins, maxs;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Aggregate) continue;
            if (run.aggregate_name == "min") mins[run.run_name.str()] = time_of_run(run);
            if (run.aggregate_name == "max") maxs[run.run_name.str()] = time_of_run(run);
        }
        RatioReporter::ReportRuns(runs);
    }
    static double find(const std::map<std::string, double>& times, const std::string& prefix) {
        for (const auto& [name, time] : times)
            if (name.rfind(prefix, 0) == 0) return time;
        return 0;
    }
};

void BM_Memcpy(benchmark::State& state) {
    const uint64_t bytes = live_bytes(static_cast<uint32_t>(state.range(0)));
    std::vector<char> from(bytes, 1), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::ClobberMemory();
    }
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<int64_t> sizes{1000000, 10000000};
    const std::pair<const char*, Shape> shapes[] = {
        {"compact", Shape::compact}, {"garbage", Shape::garbage}, {"shuffled", Shape::shuffled}};
    for (int64_t n : sizes) {
        const int repetitions = n > 1000000 ? 3 : 7;
        for (const auto& [name, shape] : shapes) {
            benchmark::RegisterBenchmark(("collect " + std::string(name)).c_str(), BM_Collect,
                                         shape)
                ->Arg(n)
                ->Iterations(n > 1000000 ? 1 : 5)
                ->Repetitions(repetitions)
                ->ComputeStatistics("min", min_of)
                ->ComputeStatistics("max", max_of)
                ->Unit(benchmark::kMillisecond);
        }
        benchmark::RegisterBenchmark("memcpy", BM_Memcpy)
            ->Arg(n)
            ->Repetitions(repetitions)
            ->ComputeStatistics("min", min_of)
            ->ComputeStatistics("max", max_of)
            ->Unit(benchmark::kMillisecond);
    }
    MinMaxReporter reporter;
    if (!bench::run_interleaved(argc, argv, reporter)) return 1;
    std::printf("\nratio collection / memcpy of the live bytes in CPU time, min / median / max "
                "(goal: below 5)\n");
    for (int64_t n : sizes) {
        std::string arg = "/";
        arg += std::to_string(n);
        arg += '/';
        const std::string peer = std::string("memcpy") + arg;
        const double peer_median = reporter.time_of(peer);
        const double peer_min = MinMaxReporter::find(reporter.mins, peer);
        const double peer_max = MinMaxReporter::find(reporter.maxs, peer);
        for (const auto& [name, shape] : shapes) {
            const std::string ours = "collect " + std::string(name) + arg;
            const double median = reporter.time_of(ours);
            const double min = MinMaxReporter::find(reporter.mins, ours);
            const double max = MinMaxReporter::find(reporter.maxs, ours);
            if (median > 0 && peer_median > 0 && peer_min > 0 && peer_max > 0)
                std::printf("  %-8s %9lld blocks: %.2f / %.2f / %.2f\n", name,
                            static_cast<long long>(n), min / peer_min, median / peer_median,
                            max / peer_max);
        }
    }
    return 0;
}
