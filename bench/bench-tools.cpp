// The cost of the language's reactivity and profiling, each against the same work without
// them, every program run as a whole process, interleaved and repeated:
// - 1,000,000 changes of a reactor's field with one dependent reaction, against a plain
//   object given the same assignments (the field, then its copy): the cost per reactive
//   change;
// - recursive fib 25 under `profile`, against plain fib 25: the profiler's slowdown (goal:
//   at most 5x, since a profiler that costs more distorts what it measures).
// The start-up of a process (an empty script) is taken off every time. The programs are
// bench/tools/NAME.zan. Run from the build folder; the zan executable is looked for next to
// this one.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/ratio.h"

namespace {

const char* const kPrograms[] = {"empty", "reactor-change", "object-change", "fib-profile",
                                 "fib-plain"};

} // namespace

int main(int argc, char** argv) {
    const std::string zan_exe = bench::zan_executable(argv[0]);
    const std::string programs =
        (std::filesystem::path(ZAN_SOURCE_DIR) / "bench" / "tools").string();
    for (const char* p : kPrograms) {
        benchmark::RegisterBenchmark((std::string("zan ") + p).c_str(), bench::run_process,
                                     zan_exe + " " + programs + "/" + p + ".zan")
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    static char repeat[] = "--benchmark_repetitions=3";
    std::vector<char*> args(argv, argv + argc);
    args.push_back(repeat);
    bench::RatioReporter reporter;
    if (!bench::run_interleaved(static_cast<int>(args.size()), args.data(), reporter)) return 1;
    const double start = reporter.time_of("zan empty");
    auto work = [&](const char* p) { return reporter.time_of(std::string("zan ") + p) - start; };
    const double reactive = work("reactor-change"), plain = work("object-change");
    const double profiled = work("fib-profile"), fib = work("fib-plain");
    // Times are in milliseconds for 1,000,000 changes: a millisecond is a nanosecond each.
    if (reactive > 0 && plain > 0)
        std::printf("reactor change: %.0f ns a reactive change, %.0f ns a plain one, the "
                    "reaction costs %.0f ns (ratio %.1f)\n",
                    reactive, plain, reactive - plain, reactive / plain);
    if (profiled > 0 && fib > 0)
        std::printf("profile fib 25: %.1fx plain fib 25 (goal: at most 5x)\n", profiled / fib);
    return 0;
}
