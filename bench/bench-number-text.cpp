// Number text against the standard library: form_float against std::to_chars (shortest),
// parse_float against strtod and std::from_chars, on the same inputs in the same run; also the
// lexer's decimal loader (syntax check, then parse_float) against std::from_chars. Prints ours /
// peer, from the medians of the CPU times of interleaved repetitions.
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/ratio.h"
#include "loading/lexer-literals.h"
#include "runtime-core/dtoa.h"
#include "runtime-core/strtod.h"

namespace {

constexpr int kCount = 4096;

double from_bits(uint64_t bits) {
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

// Finite doubles with a uniformly random exponent field and significand.
std::vector<double> random_doubles() {
    std::mt19937_64 rng(1);
    std::vector<double> v;
    while (v.size() < kCount) {
        const double d = from_bits(rng());
        if (d == d && d - d == 0) v.push_back(d);
    }
    return v;
}

// Doubles read from short decimal texts, as scripts write them: 0.1, 123.456, 2.5e-3.
std::vector<double> short_decimals() {
    std::mt19937_64 rng(2);
    std::vector<double> v;
    for (int i = 0; i < kCount; ++i) {
        const int digits = 1 + int(rng() % 6);
        uint64_t m = 0;
        for (int j = 0; j < digits; ++j) m = m * 10 + rng() % 10;
        const int exponent = int(rng() % 13) - 8;
        std::string text = std::to_string(m);
        text += 'e';
        text += std::to_string(exponent);
        v.push_back(std::strtod(text.c_str(), nullptr));
    }
    return v;
}

// Integers below a million: counters, sizes, coordinates.
std::vector<double> small_integers() {
    std::mt19937_64 rng(3);
    std::vector<double> v;
    for (int i = 0; i < kCount; ++i) v.push_back(double(rng() % 1000000));
    return v;
}

const std::vector<double>& data_set(int which) {
    static const std::vector<double> sets[] = {random_doubles(), short_decimals(),
                                               small_integers()};
    return sets[which];
}

// The texts of a set, as form_float writes them (every one also a valid strtod text).
const std::vector<std::string>& text_set(int which) {
    static std::vector<std::string> sets[4];
    if (sets[which].empty()) {
        if (which == 3) {
            // Long texts: 25 to 40 digits, beyond what any double needs.
            std::mt19937_64 rng(4);
            for (int i = 0; i < kCount; ++i) {
                std::string t = "0.";
                const int digits = 25 + int(rng() % 16);
                for (int j = 0; j < digits; ++j) t += char('0' + rng() % 10);
                t += 'e';
                t += std::to_string(int(rng() % 600) - 300);
                sets[which].push_back(t);
            }
        } else {
            char out[number_text::kFloatTextSize];
            for (double d : data_set(which)) {
                number_text::form_float(d, 0, true, out);
                sets[which].push_back(out);
            }
        }
    }
    return sets[which];
}

const char* const kSetNames[] = {"random_bits", "short_decimals", "small_integers", "long_texts"};

void BM_form_float(benchmark::State& state) {
    const auto& values = data_set(int(state.range(0)));
    char out[number_text::kFloatTextSize];
    for (auto _ : state) {
        for (double d : values) {
            benchmark::DoNotOptimize(number_text::form_float(d, 0, true, out));
            benchmark::ClobberMemory();
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kCount);
}

void BM_to_chars(benchmark::State& state) {
    const auto& values = data_set(int(state.range(0)));
    char out[64];
    for (auto _ : state) {
        for (double d : values) {
            benchmark::DoNotOptimize(std::to_chars(out, out + sizeof out, d).ptr);
            benchmark::ClobberMemory();
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kCount);
}

void BM_parse_float(benchmark::State& state) {
    const auto& texts = text_set(int(state.range(0)));
    for (auto _ : state) {
        for (const std::string& t : texts) {
            int32_t unconsumed;
            benchmark::DoNotOptimize(
                number_text::parse_float(t.data(), t.data() + t.size(), 0, unconsumed));
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kCount);
}

void BM_lexer_float(benchmark::State& state) {
    const auto& texts = text_set(int(state.range(0)));
    for (auto _ : state) {
        for (const std::string& t : texts) {
            double d;
            benchmark::DoNotOptimize(lexer::literals::parse_float(
                reinterpret_cast<const uint8_t*>(t.data()), uint32_t(t.size()), 0, d));
            benchmark::DoNotOptimize(d);
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kCount);
}

void BM_strtod(benchmark::State& state) {
    const auto& texts = text_set(int(state.range(0)));
    for (auto _ : state) {
        for (const std::string& t : texts) {
            char* end;
            benchmark::DoNotOptimize(std::strtod(t.c_str(), &end));
            benchmark::DoNotOptimize(end);
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kCount);
}

void BM_from_chars(benchmark::State& state) {
    const auto& texts = text_set(int(state.range(0)));
    for (auto _ : state) {
        for (const std::string& t : texts) {
            double d;
            benchmark::DoNotOptimize(std::from_chars(t.data(), t.data() + t.size(), d).ptr);
            benchmark::DoNotOptimize(d);
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kCount);
}

} // namespace

int main(int argc, char** argv) {
    for (int set = 0; set < 3; ++set) {
        const std::string suffix = std::string("/") + kSetNames[set];
        benchmark::RegisterBenchmark(("form_float" + suffix).c_str(), BM_form_float)->Arg(set);
        benchmark::RegisterBenchmark(("to_chars" + suffix).c_str(), BM_to_chars)->Arg(set);
    }
    for (int set = 0; set < 4; ++set) {
        const std::string suffix = std::string("/") + kSetNames[set];
        benchmark::RegisterBenchmark(("parse_float" + suffix).c_str(), BM_parse_float)->Arg(set);
        benchmark::RegisterBenchmark(("strtod" + suffix).c_str(), BM_strtod)->Arg(set);
        benchmark::RegisterBenchmark(("from_chars" + suffix).c_str(), BM_from_chars)->Arg(set);
        benchmark::RegisterBenchmark(("lexer_float" + suffix).c_str(), BM_lexer_float)->Arg(set);
    }
    bench::RatioReporter reporter(/*cpu_time=*/true);
    if (!bench::run_interleaved(argc, argv, reporter)) return 1;

    std::printf("\nratio ours / peer, CPU time (below 1.0: ours is faster)\n");
    const char* const pairs[][2] = {{"form_float", "to_chars"},
                                    {"parse_float", "strtod"},
                                    {"parse_float", "from_chars"},
                                    {"lexer_float", "from_chars"}};
    for (const auto& pair : pairs) {
        for (const char* set : kSetNames) {
            double ours = reporter.time_of(std::string(pair[0]) + "/" + set + "/");
            double peer = reporter.time_of(std::string(pair[1]) + "/" + set + "/");
            if (ours == 0 || peer == 0) continue;
            std::printf("  %-12s vs %-10s %-15s %.2f\n", pair[0], pair[1], set, ours / peer);
        }
    }
    return 0;
}
