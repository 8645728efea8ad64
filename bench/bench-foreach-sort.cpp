// foreach and sort against CPython 3 on the same work, each program run as a whole process,
// interleaved and repeated:
// - foreach over a 1,000,000-value block of integers, summing them, against a Python for
//   loop over a list (five times over);
// - sort of 1,000,000 pseudo-random integers against Python's list sort (five fresh copies).
// Both programs first build their data with a loop, the same in both languages; a second
// program of each pair only builds the data, and its time is taken off, so that the ratios
// compare the foreach loop and the sort alone. The programs are bench/interp/NAME.zan and
// .py. Run from the build folder; the zan executable is looked for next to this one.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/ratio.h"

namespace {

struct Pair {
    const char* name;     // the measured work
    const char* program;  // builds the data and does the work
    const char* baseline; // only builds the data
};

const Pair kPairs[] = {{"foreach-sum", "foreach-sum", "foreach-build"},
                       {"sort-ints", "sort-ints", "sort-build"}};

void add(const std::string& label, const std::string& command) {
    benchmark::RegisterBenchmark(label.c_str(), bench::run_process, command)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
}

} // namespace

int main(int argc, char** argv) {
    const std::string zan = bench::zan_executable(argv[0]);
    const std::string programs =
        (std::filesystem::path(ZAN_SOURCE_DIR) / "bench" / "interp").string() + "/";
    for (const Pair& p : kPairs) {
        for (const char* program : {p.program, p.baseline}) {
            add(std::string("zan ") + program, zan + " " + programs + program + ".zan");
            add(std::string("python ") + program,
                std::string(bench::python3()) + " " + programs + program + ".py");
        }
    }
    static char repeat[] = "--benchmark_repetitions=3";
    std::vector<char*> args(argv, argv + argc);
    args.push_back(repeat);
    bench::RatioReporter reporter;
    if (!bench::run_interleaved(static_cast<int>(args.size()), args.data(), reporter)) return 1;
    for (const Pair& p : kPairs) {
        auto time = [&](const char* who, const char* program) {
            return reporter.time_of(std::string(who) + " " + program);
        };
        const double ours = time("zan", p.program) - time("zan", p.baseline);
        const double py = time("python", p.program) - time("python", p.baseline);
        if (ours > 0 && py > 0)
            std::printf(
                "ratio %-12s zan/python %.2f (goal: at most 1.0; %.0f ms against %.0f ms)\n",
                p.name, ours / py, ours, py);
    }
    return 0;
}
