// The interpreter against CPython 3 and Lua 5.4 on the same work, each program run as a whole
// process (start-up included for all three), interleaved and repeated, timed by the processor
// time of each process:
// - recursive fib 30, once as an either expression and once with return;
// - a while loop of 10,000,000 integer additions;
// - a 1,000,000-call loop of a two-argument user function;
// - foreach summing a 1,000,000-integer block, five passes;
// - 1,000,000 objects made from a three-field prototype, one field of each read;
// - 500,000 string-key puts, then as many selects, on a map!;
// - a 1,000,000-character string built by appending characters;
// - sort of 1,000,000 pseudo-random integers (five fresh copies).
// The programs are bench/interp/NAME.zan, .py and .lua. Run from the build folder; the zan
// executable is looked for next to this one. The goal: every row at most 1.0 of CPython's
// time, and the function-call rows (fib, calls) within 4 times Lua's.
//
// ZAN_BENCH_BASELINE=PATH adds a second zan executable (say, a build of an earlier commit)
// to the same interleaved runs, so that a change is measured before and after in one run;
// its rows and ratios are printed as "base".
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/ratio.h"

namespace {

struct Row {
    const char* program;
    bool calls; // a function-call row: its goal against Lua is at most 4
};

const Row kRows[] = {{"fib-either", true},      {"fib-return", true},     {"while-add", false},
                     {"call-loop", true},       {"foreach-sum", false},   {"object-make", false},
                     {"map-put-select", false}, {"string-append", false}, {"sort-ints", false}};

void add(const std::string& label, const std::string& command) {
    benchmark::RegisterBenchmark(label.c_str(), bench::run_process, command)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
}

} // namespace

int main(int argc, char** argv) {
    const std::string zan = bench::zan_executable(argv[0]);
    const std::filesystem::path programs =
        std::filesystem::path(ZAN_SOURCE_DIR) / "bench" / "interp";
    const char* baseline = std::getenv("ZAN_BENCH_BASELINE");
    for (const Row& r : kRows) {
        const std::string base = (programs / r.program).string();
        add(std::string("zan ") + r.program, zan + " " + base + ".zan");
        if (baseline)
            add(std::string("base ") + r.program, std::string(baseline) + " " + base + ".zan");
        add(std::string("python ") + r.program, std::string(bench::python3()) + " " + base + ".py");
        add(std::string("lua ") + r.program, "lua5.4 " + base + ".lua");
    }
    static char repeat[] = "--benchmark_repetitions=3";
    std::vector<char*> args(argv, argv + argc);
    args.push_back(repeat);
    bench::RatioReporter reporter;
    if (!bench::run_interleaved(static_cast<int>(args.size()), args.data(), reporter)) return 1;
    std::printf("%-15s %-4s %9s %9s %9s %11s %9s\n", "row", "zan", "zan ms", "python ms", "lua ms",
                "zan/python", "zan/lua");
    for (const Row& r : kRows) {
        const double py = reporter.time_of(std::string("python ") + r.program);
        const double lua = reporter.time_of(std::string("lua ") + r.program);
        for (const char* who : {"base", "zan"}) {
            const double ours = reporter.time_of(std::string(who) + " " + r.program);
            if (ours <= 0 || py <= 0 || lua <= 0) continue;
            std::printf("%-15s %-4s %9.0f %9.0f %9.0f %11.2f %9.2f  (goal: python at most "
                        "1.0%s)\n",
                        r.program, who, ours, py, lua, ours / py, ours / lua,
                        r.calls ? ", lua at most 4.0" : "");
        }
    }
    return 0;
}
