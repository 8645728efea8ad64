// string! against the standard library and a plain loop, three pairs:
// - find of a 16-character needle near the end of a 10 MB one-byte text, with and without
//   /case, against std::string_view::find;
// - 10,000,000 characters appended one at a time through the append action, against
//   std::string::push_back;
// - uppercase of a 10 MB text of two-byte units (ASCII mixed with Latin-1 and Greek and
//   Cyrillic letters) through the case change of the uppercase native, against a loop over
//   the same case table.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "app/init.h"
#include "bench/ratio.h"
#include "datatypes/none.h"
#include "datatypes/string-case.h"
#include "datatypes/string.h"
#include "runtime-core/case.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/memory.h"

namespace {

constexpr uint32_t kTextBytes = 10 * 1024 * 1024;
constexpr uint32_t kAppends = 10000000;
const std::string kNeedle = "quixotic zephyrs";

// Letters and spaces, with the needle near the end.
const std::string& haystack() {
    static const std::string text = [] {
        std::mt19937 rng(1);
        std::string t(kTextBytes, ' ');
        for (char& c : t)
            if (rng() % 6 != 0) c = static_cast<char>('a' + rng() % 26);
        t.replace(kTextBytes - 100, kNeedle.size(), kNeedle);
        return t;
    }();
    return text;
}

// The haystack as a string! on the data stack (cell 0) and the needle (cell 1).
Cell* text_cell = nullptr;
Cell* needle_cell = nullptr;

Cell* push_bytes(const std::string& bytes) {
    Cell* s = string::make_at(stack::push_cell(), static_cast<uint32_t>(bytes.size()));
    string::append_bytes(s, bytes.data(), static_cast<uint32_t>(bytes.size()));
    return s;
}

void BM_Find(benchmark::State& state, bool case_) {
    int64_t at = -1;
    for (auto _ : state) {
        Cell* top = stack::top;
        Cell* r = string::find(text_cell, needle_cell, {.case_ = case_});
        at = cell::type(r) == kTypeNone ? -1 : r->w1;
        stack::top = top;
        benchmark::DoNotOptimize(at);
    }
    if (at != kTextBytes - 100) state.SkipWithError("not found");
}

void BM_StringViewFind(benchmark::State& state) {
    const std::string_view text = haystack();
    size_t at = 0;
    for (auto _ : state) {
        at = text.find(kNeedle);
        benchmark::DoNotOptimize(at);
    }
    if (at != kTextBytes - 100) state.SkipWithError("not found");
}

void BM_Append(benchmark::State& state) {
    Cell* c = stack::push(Cell{kTypeChar, 0, 'a', 0});
    for (auto _ : state) {
        Cell* s = string::make_at(stack::push_cell(), 16);
        for (uint32_t i = 0; i < kAppends; ++i) {
            c->w2 = 'a' + (i & 15);
            string::append(s, c, {.append = true});
        }
        benchmark::DoNotOptimize(memory::buffer(s->w2)->tail);
        stack::pop(1);
    }
    stack::pop(1);
}

void BM_PushBack(benchmark::State& state) {
    for (auto _ : state) {
        std::string s;
        for (uint32_t i = 0; i < kAppends; ++i) s.push_back(static_cast<char>('a' + (i & 15)));
        benchmark::DoNotOptimize(s.data());
    }
}

// Five million characters: two thirds ASCII, the rest Latin-1, Greek and Cyrillic lower case.
const std::vector<uint16_t>& mixed_text() {
    static const std::vector<uint16_t> text = [] {
        std::mt19937 rng(2);
        std::vector<uint16_t> t(kTextBytes / 2);
        for (uint16_t& c : t) {
            switch (rng() % 6) {
            case 0:
                c = static_cast<uint16_t>(0xE0 + rng() % 31); // Latin-1
                break;
            case 1:
                c = static_cast<uint16_t>(rng() % 2 ? 0x3B1 + rng() % 24 : 0x430 + rng() % 32);
                break;
            default:
                c = static_cast<uint16_t>(rng() % 5 ? 'a' + rng() % 26 : ' ');
            }
        }
        return t;
    }();
    return text;
}

void BM_Uppercase(benchmark::State& state) {
    const std::vector<uint16_t>& text = mixed_text();
    Cell* s = string::make_units_at(stack::push_cell(), static_cast<uint32_t>(text.size()), 2);
    memory::Buffer* b = memory::buffer(s->w2);
    b->tail = b->head + static_cast<uint32_t>(text.size() * 2);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(memory::buffer(s->w2)->at_head(), text.data(), text.size() * 2);
        state.ResumeTiming();
        case_::change_text(s, static_cast<uint32_t>(text.size()), true);
        benchmark::ClobberMemory();
    }
    stack::pop(1);
}

void BM_TableLoop(benchmark::State& state) {
    const std::vector<uint16_t>& text = mixed_text();
    std::vector<uint16_t> work(text.size());
    const uint32_t* table = case_::detail::upper_table;
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(work.data(), text.data(), text.size() * 2);
        state.ResumeTiming();
        for (uint16_t& c : work) {
            const uint32_t m = table[c];
            if (m) c = static_cast<uint16_t>(m);
        }
        benchmark::ClobberMemory();
    }
}

} // namespace

int main(int argc, char** argv) {
    runtime::init();
    collector::state.enabled = 1;
    text_cell = push_bytes(haystack());
    needle_cell = push_bytes(kNeedle);
    benchmark::RegisterBenchmark("find folding", BM_Find, false)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("find case", BM_Find, true)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("string_view::find", BM_StringViewFind)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("append", BM_Append)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("push_back", BM_PushBack)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("uppercase", BM_Uppercase)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("table loop", BM_TableLoop)->Unit(benchmark::kMillisecond);
    bench::RatioReporter reporter;
    if (!bench::run_interleaved(argc, argv, reporter)) return 1;
    auto ratio = [&](const char* what, const char* ours, const char* peer) {
        const double a = reporter.time_of(ours), b = reporter.time_of(peer);
        if (a > 0 && b > 0) std::printf("ratio %s: %.2f (goal: at most 1.5)\n", what, a / b);
    };
    std::printf("\n");
    ratio("find / string_view::find", "find folding", "string_view");
    ratio("find/case / string_view::find", "find case", "string_view");
    ratio("append / push_back", "append", "push_back");
    ratio("uppercase / table loop", "uppercase", "table loop");
    return 0;
}
