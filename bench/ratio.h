// Shared by the benchmarks: runs ours and the peer's benchmarks interleaved and repeated (so
// that a busy machine slows both alike) and keeps each run's median time for the ratios.
#pragma once
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace bench {

// The peer interpreter: the system's python3 where it is installed, so that a version
// manager's shim on the PATH (which costs a process start of its own) is not timed with it.
inline const char* python3() {
    static const char* path =
        access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
    return path;
}

// The zan executable of the build a benchmark was built in: the one in the build folder
// above the benchmark's own, or else beside it.
inline std::string zan_executable(const char* argv0) {
    const std::filesystem::path self = std::filesystem::absolute(argv0);
    const std::filesystem::path above = self.parent_path().parent_path() / "zan";
    return (std::filesystem::exists(above) ? above : self.parent_path() / "zan").string();
}

// The processor time (user and system) of the child processes that have ended, in seconds.
inline double children_seconds() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Runs a shell command (its output discarded) once per iteration, timed by the processor time
// of its process, so that a machine busy with other work slows no side: a benchmark of it
// uses manual time.
inline void run_process(benchmark::State& state, const std::string& command) {
    for (auto _ : state) {
        const double before = children_seconds();
        if (std::system((command + " >/dev/null").c_str()) != 0)
            state.SkipWithError(("failed: " + command).c_str());
        state.SetIterationTime(children_seconds() - before);
    }
}

class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> times;

    // With cpu_time, the times are CPU times: on a machine loaded by other work they count
    // what the code itself costs, where wall time also counts the waits for a core.
    explicit RatioReporter(bool cpu_time = false) : cpu_time_(cpu_time) {}

    // The time of a run that ratios use.
    double time_of_run(const Run& run) const {
        return cpu_time_ ? run.GetAdjustedCPUTime() : run.GetAdjustedRealTime();
    }

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration ||
                (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")) {
                times[run.run_name.str()] = time_of_run(run);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // The median time of the first run whose name starts with `prefix`, or 0.
    double time_of(const std::string& prefix) const {
        for (const auto& [name, time] : times)
            if (name.rfind(prefix, 0) == 0) return time;
        return 0;
    }

private:
    bool cpu_time_;
};

// Runs the registered benchmarks interleaved and repeated; flags given on the command line
// come later and win. Returns false on unrecognised arguments.
inline bool run_interleaved(int argc, char** argv, RatioReporter& reporter) {
    std::vector<char*> args{argv[0]};
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    static char repeat[] = "--benchmark_repetitions=7";
    static char min_time[] = "--benchmark_min_time=0.2";
    static char aggregates[] = "--benchmark_report_aggregates_only=true";
    args.insert(args.end(), {interleave, repeat, min_time, aggregates});
    args.insert(args.end(), argv + 1, argv + argc);
    int args_count = int(args.size());
    benchmark::Initialize(&args_count, args.data());
    if (benchmark::ReportUnrecognizedArguments(args_count, args.data())) return false;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return true;
}

} // namespace bench
