// `checksum data 'sha256` against Python's hashlib on the same work: 100 MB made in memory,
// then its SHA-256 taken five times, each program run as a whole process (start-up and
// making the data included for both), interleaved and repeated. The programs are
// bench/checksum/sha256.zan and .py. Run from the build folder; the zan executable is
// looked for next to this one.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/ratio.h"

int main(int argc, char** argv) {
    const std::string zan = bench::zan_executable(argv[0]);
    const std::string base =
        (std::filesystem::path(ZAN_SOURCE_DIR) / "bench" / "checksum" / "sha256").string();
    benchmark::RegisterBenchmark("zan sha256", bench::run_process, zan + " " + base + ".zan")
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("python sha256", bench::run_process,
                                 std::string(bench::python3()) + " " + base + ".py")
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    static char repeat[] = "--benchmark_repetitions=5";
    std::vector<char*> args(argv, argv + argc);
    args.push_back(repeat);
    bench::RatioReporter reporter;
    if (!bench::run_interleaved(static_cast<int>(args.size()), args.data(), reporter)) return 1;
    const double ours = reporter.time_of("zan sha256"), py = reporter.time_of("python sha256");
    if (ours > 0 && py > 0)
        std::printf("ratio sha256 of 100 MB, zan/python: %.2f (goal: at most 1.0)\n", ours / py);
    return 0;
}
