// The interpreter against CPython 3 and Lua 5.4 on the same work, each program run as a whole
// process (start-up included for all three), interleaved and repeated:
// - recursive fib 30, once as an either expression and once with return;
// - a while loop of 10,000,000 integer additions;
// - a 1,000,000-character string built by appending characters;
// - a 1,000,000-call loop of a two-argument user function;
// - 1,000,000 objects made from a three-field prototype, one field of each read.
// The programs are bench/interp/NAME.zan, .py and .lua. Run from the build folder; the zan
// executable is looked for next to this one.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/ratio.h"

namespace {

const char* const kPrograms[] = {"fib-either",    "fib-return", "while-add",
                                 "string-append", "call-loop",  "object-make"};

std::string zan_exe;
std::string programs;

} // namespace

int main(int argc, char** argv) {
    zan_exe = bench::zan_executable(argv[0]);
    programs = (std::filesystem::path(ZAN_SOURCE_DIR) / "bench" / "interp").string();
    for (const char* p : kPrograms) {
        const std::string base = programs + "/" + p;
        benchmark::RegisterBenchmark((std::string("zan ") + p).c_str(), bench::run_command,
                                     zan_exe + " " + base + ".zan")
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("python ") + p).c_str(), bench::run_command,
                                     std::string(bench::python3()) + " " + base + ".py")
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("lua ") + p).c_str(), bench::run_command,
                                     "lua5.4 " + base + ".lua")
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    }
    static char repeat[] = "--benchmark_repetitions=3";
    std::vector<char*> args(argv, argv + argc);
    args.push_back(repeat);
    bench::RatioReporter reporter;
    if (!bench::run_interleaved(static_cast<int>(args.size()), args.data(), reporter)) return 1;
    for (const char* p : kPrograms) {
        const double ours = reporter.time_of(std::string("zan ") + p);
        const double py = reporter.time_of(std::string("python ") + p);
        const double lua = reporter.time_of(std::string("lua ") + p);
        if (ours > 0 && py > 0 && lua > 0)
            std::printf("ratio %-14s zan/python %.2f (goal: at most 1.0)  zan/lua %.2f\n", p,
                        ours / py, ours / lua);
    }
    return 0;
}
