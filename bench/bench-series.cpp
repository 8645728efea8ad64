// The series functions that scripts call in loops against CPython 3 doing the same work with
// its built-ins, each program run as a whole process, interleaved and repeated:
// - rejoin of a block of 100,000 short strings against "".join;
// - replace/all of a word in a 1 MB text against str.replace;
// - split of the 1 MB text at spaces against str.split;
// - extract of every second value of a block of 100,000 integers against a slice;
// - collect/keep of the even ones of the 100,000 integers against a list comprehension.
// Every program first builds the same data; a baseline program of each language only builds
// it, and its time is taken off. Each row repeats its work often enough to be measured, a
// different number of times in each language; the ratio compares the time of one round.
// The programs are written to /tmp; the zan executable is looked for next to this one.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/python-peer.h"
#include "bench/ratio.h"

namespace {

struct Row {
    const char* name;
    const char* zan_work;
    int zan_rounds;
    const char* python_work;
    int python_rounds;
};

const Row kRows[] = {
    {"rejoin", "rejoin words", 20, "''.join(words)", 200},
    {"replace/all", "replace/all copy text \"brown\" \"red\"", 10, "text.replace('brown', 'red')",
     100},
    {"split", "split text \" \"", 4, "text.split(' ')", 20},
    {"extract", "extract numbers 2", 10, "numbers[::2]", 1000},
    {"collect/keep", "collect [foreach n numbers [if even? n [keep n]]]", 4,
     "[n for n in numbers if n % 2 == 0]", 40},
};

// The data: a text of 1,000,032 characters in lines of nine words, 100,000 strings w1 to
// w100000, the integers 1 to 100,000.
const char* const kZanData = R"(Zan []
line: "the quick brown fox jumps over the lazy dog^/"
text: make string! 1000032
loop 22728 [append text line]
words: make block! 100000
repeat i 100000 [append words append copy "w" i]
numbers: make block! 100000
repeat i 100000 [append numbers i]
)";
const char* const kPythonData = R"(line = "the quick brown fox jumps over the lazy dog\n"
text = line * 22728
words = ["w" + str(i) for i in range(1, 100001)]
numbers = list(range(1, 100001))
)";

void add(const std::string& label, const std::string& command) {
    benchmark::RegisterBenchmark(label.c_str(), bench::run_process, command)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
}

// A file name for a row's program: its name without the slash.
std::string file_name(const char* row, const char* suffix) {
    std::string name = row;
    for (char& c : name)
        if (c == '/') c = '-';
    return name + suffix;
}

} // namespace

int main(int argc, char** argv) {
    const std::filesystem::path self = std::filesystem::absolute(argv[0]);
    std::string zan = (self.parent_path().parent_path() / "zan").string();
    if (!std::filesystem::exists(zan)) zan = (self.parent_path() / "zan").string();
    const std::string python = bench::python3();

    const std::string zan_base = bench::write_temp("zan-bench-series-", kZanData, "base.zan");
    const std::string python_base = bench::write_temp("zan-bench-series-", kPythonData, "base.py");
    if (zan_base.empty() || python_base.empty()) return 1;
    add("zan base", zan + " " + zan_base);
    add("python base", python + " " + python_base);
    for (const Row& r : kRows) {
        const std::string zan_program = std::string(kZanData) + "loop " +
                                        std::to_string(r.zan_rounds) + " [" + r.zan_work + "]\n";
        const std::string python_program = std::string(kPythonData) + "for _ in range(" +
                                           std::to_string(r.python_rounds) + "):\n    " +
                                           r.python_work + "\n";
        const std::string z =
            bench::write_temp("zan-bench-series-", zan_program, file_name(r.name, ".zan").c_str());
        const std::string p = bench::write_temp("zan-bench-series-", python_program,
                                                file_name(r.name, ".py").c_str());
        if (z.empty() || p.empty()) return 1;
        add(std::string("zan ") + r.name, zan + " " + z);
        add(std::string("python ") + r.name, python + " " + p);
    }

    static char repeat[] = "--benchmark_repetitions=3";
    std::vector<char*> args(argv, argv + argc);
    args.push_back(repeat);
    bench::RatioReporter reporter;
    if (!bench::run_interleaved(static_cast<int>(args.size()), args.data(), reporter)) return 1;
    const double zan_base_time = reporter.time_of("zan base");
    const double python_base_time = reporter.time_of("python base");
    for (const Row& r : kRows) {
        const double ours =
            (reporter.time_of(std::string("zan ") + r.name) - zan_base_time) / r.zan_rounds;
        const double py = (reporter.time_of(std::string("python ") + r.name) - python_base_time) /
                          r.python_rounds;
        if (ours > 0 && py > 0)
            std::printf("ratio %-13s zan/python %.1f (goal: at most 2; %.2f ms against %.2f ms a "
                        "round)\n",
                        r.name, ours / py, ours, py);
    }
    return 0;
}
