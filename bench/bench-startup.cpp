// Start-up: how long the executable takes from its start to the first statement of a script
// and to its exit, with the language-level library (the boot image) present, against a
// python3 process that runs nothing. Also the boot program alone, in this process (runtime
// initialisation, decoding the image, running its code).
//
// Under Wine: set ZAN_BENCH_WINDOWS_EXE to a Windows build's zan.exe (run through
// scripts/wine-run) to time that too; its ratio is against the native executable.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/boot.h"
#include "app/init.h"
#include "bench/python-peer.h"
#include "bench/ratio.h"
#include "datatypes/compound.h"
#include "datatypes/context.h"
#include "datatypes/cycles.h"
#include "datatypes/error.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/memory.h"
#include "runtime-core/root.h"
#include "runtime-core/slots.h"
#include "runtime-core/support.h"
#include "tests/unit/started-runtime.h"

extern char** environ;

namespace {

std::string script_first; // ends at its first statement
std::string script_exit;  // one statement, then the end of the script

bool run(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", 1, 0);
    pid_t pid;
    const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed) return false;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status);
}

void BM_boot_in_process(benchmark::State& state) {
    for (auto _ : state) {
        runtime::init();
        boot::run();
        state.PauseTiming();
        release_full_runtime();
        state.ResumeTiming();
    }
}

void BM_zan_to_first_statement(benchmark::State& state) {
    for (auto _ : state)
        if (!run({ZAN_EXECUTABLE, script_first})) state.SkipWithError("zan did not run");
}
void BM_zan_to_exit(benchmark::State& state) {
    for (auto _ : state)
        if (!run({ZAN_EXECUTABLE, script_exit})) state.SkipWithError("zan did not run");
}
void BM_python_to_exit(benchmark::State& state) {
    for (auto _ : state)
        if (!run({"/usr/bin/python3", "-c", "pass"})) state.SkipWithError("python3 did not run");
}
void BM_wine_zan_to_exit(benchmark::State& state) {
    const char* exe = std::getenv("ZAN_BENCH_WINDOWS_EXE");
    for (auto _ : state)
        if (!run({ZAN_SOURCE_DIR "/scripts/wine-run", exe, script_exit}))
            state.SkipWithError("wine-run did not run");
}

} // namespace

int main(int argc, char** argv) {
    // The first statement quits; the other script prints a line and ends.
    script_first = bench::write_temp("zan-bench-startup-", "Zan []\nquit\n", "first.zan");
    script_exit = bench::write_temp("zan-bench-startup-", "Zan []\nprint 1\n", "exit.zan");
    benchmark::RegisterBenchmark("BM_boot_in_process", BM_boot_in_process)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_zan_to_first_statement", BM_zan_to_first_statement)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_zan_to_exit", BM_zan_to_exit)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_python_to_exit", BM_python_to_exit)
        ->Unit(benchmark::kMillisecond);
    const bool wine = std::getenv("ZAN_BENCH_WINDOWS_EXE") != nullptr;
    if (wine)
        benchmark::RegisterBenchmark("BM_wine_zan_to_exit", BM_wine_zan_to_exit)
            ->Unit(benchmark::kMillisecond);
    bench::RatioReporter reporter;
    if (!bench::run_interleaved(argc, argv, reporter)) return 1;
    const double boot = reporter.time_of("BM_boot_in_process");
    const double first = reporter.time_of("BM_zan_to_first_statement");
    const double done = reporter.time_of("BM_zan_to_exit");
    const double python = reporter.time_of("BM_python_to_exit");
    std::printf("\nboot program in process %.2f ms; zan to first statement %.2f ms, to exit "
                "%.2f ms (goal: under 50 ms)\n",
                boot, first, done);
    std::printf("zan to exit / python3 -c pass: %.2f\n", python > 0 ? done / python : 0.0);
    if (wine) {
        const double windows = reporter.time_of("BM_wine_zan_to_exit");
        std::printf("under Wine: zan.exe to exit %.2f ms, / native %.2f\n", windows,
                    done > 0 ? windows / done : 0.0);
    }
    return 0;
}
