// One full collection of a heap of 1,000,000 live small blocks, all held by one block,
// against memcpy of the same number of live bytes in the same run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "bench/ratio.h"
#include "runtime-core/collector.h"
#include "runtime-core/externals.h"
#include "runtime-core/memory.h"
#include "runtime-core/slots.h"

namespace {

constexpr uint32_t kBlocks = 1000000;

uint32_t holder = 0;
uint64_t live_bytes = 0;

void mark_holder() { collector::mark_node_cells(holder); }

void build_heap() {
    memory::init();
    externals::init();
    memory::new_node_frame(memory::kNodesPerFrame);
    memory::new_series_frame();
    collector::init();
    collector::add_marker(mark_holder);
    holder = memory::alloc_cells(kBlocks);
    collector::state.enabled = 1;
    for (uint32_t i = 0; i < kBlocks; ++i) {
        uint32_t block = memory::alloc_cells(2);
        memory::Buffer* b = memory::buffer(block);
        Cell* c = memory::alloc_tail_cell(b);
        *c = Cell{kTypeInteger, i, 0, 0};
        c = memory::alloc_tail_cell(memory::buffer(block));
        *c = Cell{kTypeInteger, i + 1, 0, 0};
        *memory::alloc_tail_cell(memory::buffer(holder)) = Cell{kTypeBlock, 0, block, 0};
    }
    collector::collect();
    // Every live buffer with its header and spare bytes.
    live_bytes = memory::buffer(holder)->size + memory::kBufferOverhead;
    memory::Buffer* h = memory::buffer(holder);
    for (Cell* c = h->cells(); c != h->cells_tail(); c = c + 1)
        live_bytes += memory::buffer(c->w2)->size + memory::kBufferOverhead;
}

void BM_Collect(benchmark::State& state) {
    for (auto _ : state) collector::collect();
    state.counters["live MB"] = double(live_bytes) / 1e6;
}

void BM_Memcpy(benchmark::State& state) {
    std::vector<char> from(live_bytes, 1), to(live_bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), live_bytes);
        benchmark::ClobberMemory();
    }
}

} // namespace

int main(int argc, char** argv) {
    build_heap();
    benchmark::RegisterBenchmark("collect", BM_Collect)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("memcpy", BM_Memcpy)->Unit(benchmark::kMillisecond);
    bench::RatioReporter reporter;
    if (!bench::run_interleaved(argc, argv, reporter)) return 1;
    double ours = reporter.time_of("collect"), peer = reporter.time_of("memcpy");
    if (ours > 0 && peer > 0)
        std::printf("\nratio collection / memcpy of the live bytes: %.2f (goal: below 5)\n",
                    ours / peer);
    return 0;
}
