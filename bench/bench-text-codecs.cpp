// The JSON and CSV codecs against Python's json and csv modules, 10 MB of input each:
// - load-json of a document against json.loads, to-json of the value against json.dumps;
// - load-csv of a table against list(csv.reader(...)), to-csv of the rows against
//   csv.writer(...).writerows into a StringIO.
//
// The peers run in one python3 process that stays up for the whole run: each iteration asks it
// for one job and takes the time it measured around it (manual timing). Ours calls the
// library functions on string! values with the collector on, as a script does; what each
// loading job makes is kept for the writing job.
//
// Prints ours / peer, from the medians of interleaved repetitions. The goals: JSON at most
// 3.0, CSV at most 2.0.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/boot.h"
#include "app/init.h"
#include "bench/python-peer.h"
#include "bench/ratio.h"
#include "datatypes/context.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/evaluator.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/memory.h"

namespace {

using bench::next_random;
using bench::word;

constexpr size_t kSize = 10 * 1024 * 1024;

// One JSON value: objects of a few members, arrays, strings (some with escapes), integers,
// floats, literals; nesting up to 4 levels.
void json_value(std::string& s, uint32_t& state, int depth) {
    const uint32_t kind = next_random(state) % (depth < 4 ? 10 : 7);
    switch (kind) {
    case 0:
        s += std::to_string(static_cast<int32_t>(next_random(state) % 2000000) - 1000000);
        break;
    case 1:
        s.append(std::to_string(next_random(state) % 100000)).append(".");
        s.append(std::to_string(next_random(state) % 1000));
        break;
    case 2:
    case 3:
        s.append("\"").append(word(state, 0, 12));
        if (next_random(state) % 8 == 0) s.append("\\n\\u00e9\\\"");
        s.append(word(state, 0, 6)).append("\"");
        break;
    case 4:
        s += "true";
        break;
    case 5:
        s += "null";
        break;
    case 6:
        s.append("\"").append(word(state, 3, 20)).append(" ").append(word(state, 3, 20));
        s += '"';
        break;
    case 7:
    case 8: {
        s += '{';
        for (uint32_t n = next_random(state) % 6, i = 0; i < n; ++i) {
            if (i) s += ", ";
            s.append("\"").append(word(state, 1, 8)).append("\": ");
            json_value(s, state, depth + 1);
        }
        s += '}';
        break;
    }
    default: {
        s += '[';
        for (uint32_t n = next_random(state) % 6, i = 0; i < n; ++i) {
            if (i) s += ", ";
            json_value(s, state, depth + 1);
        }
        s += ']';
    }
    }
}

std::string json_text() {
    std::string s = "[";
    uint32_t state = 5;
    while (s.size() < kSize) {
        if (s.size() > 1) s += ",\n";
        json_value(s, state, 0);
    }
    return s + "]";
}

// Lines of 8 fields: words, numbers, now and then an empty field or a quoted one.
std::string csv_text() {
    std::string s;
    uint32_t state = 3;
    while (s.size() < kSize) {
        for (int f = 0; f < 8; ++f) {
            if (f) s += ',';
            const uint32_t kind = next_random(state) % 10;
            if (kind < 5)
                s += word(state, 2, 10);
            else if (kind < 8)
                s += std::to_string(next_random(state) % 100000);
            else if (kind < 9)
                s.append("\"say \"\"").append(word(state, 2, 6)).append("\"\", friend\"");
        }
        s += '\n';
    }
    return s;
}

const char* const kPythonScript =
    "import csv, io, json, sys, time\n"
    "j = open(sys.argv[1], encoding='utf-8').read()\n"
    "c = open(sys.argv[2], encoding='utf-8', newline='').read()\n"
    "value = json.loads(j); rows = list(csv.reader(io.StringIO(c, newline='')))\n"
    "def write_csv(rows):\n"
    "    out = io.StringIO()\n"
    "    csv.writer(out, lineterminator='\\n').writerows(rows)\n"
    "    return out.getvalue()\n"
    "jobs = {\n"
    "    'load-json': lambda: json.loads(j),\n"
    "    'to-json': lambda: json.dumps(value, ensure_ascii=False),\n"
    "    'load-csv': lambda: list(csv.reader(io.StringIO(c, newline=''))),\n"
    "    'to-csv': lambda: write_csv(rows),\n"
    "}\n"
    "for line in sys.stdin:\n"
    "    t = time.perf_counter()\n"
    "    r = jobs[line.strip()]()\n"
    "    t = time.perf_counter() - t\n"
    "    print(t, len(r), flush=True)\n";

bench::PythonPeer python;

// Data-stack cells: the two texts, the two loaded values, the four functions.
struct Job {
    const char* name;
    Cell* function;
    Cell* input;
    Cell* output;
};
Job jobs[4];

Cell* global_value(const char* name) {
    return stack::push(*context::get_word(word::make_global(name)));
}

void BM_Ours(benchmark::State& state, Job* job) {
    for (auto _ : state) {
        Cell* base = stack::top;
        stack::push(*job->input);
        const Cell result = interp::call_values(job->function, base, 1);
        if (cell::type(&result) == kTypeError) std::abort();
        if (job->output) *job->output = result;
        stack::top = base;
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSize));
}

void BM_Python(benchmark::State& state, const char* what) {
    python.time_job(state, what, kSize);
}

} // namespace

int main(int argc, char** argv) {
    runtime::init();
    boot::run();
    const std::string json_source = json_text();
    const std::string csv_source = csv_text();
    Cell* json = string::load_push(reinterpret_cast<const uint8_t*>(json_source.data()),
                                   static_cast<uint32_t>(json_source.size()), string::kUtf8);
    Cell* csv = string::load_push(reinterpret_cast<const uint8_t*>(csv_source.data()),
                                  static_cast<uint32_t>(csv_source.size()), string::kUtf8);
    Cell* json_value = stack::push(Cell{kTypeNone, 0, 0, 0});
    Cell* csv_rows = stack::push(Cell{kTypeNone, 0, 0, 0});
    jobs[0] = {"load-json", global_value("load-json"), json, json_value};
    jobs[1] = {"to-json", global_value("to-json"), json_value, nullptr};
    jobs[2] = {"load-csv", global_value("load-csv"), csv, csv_rows};
    jobs[3] = {"to-csv", global_value("to-csv"), csv_rows, nullptr};
    // The writing jobs need what the loading ones make, whatever order the runs take.
    for (int k : {0, 2}) {
        Cell* base = stack::top;
        stack::push(*jobs[k].input);
        *jobs[k].output = interp::call_values(jobs[k].function, base, 1);
        stack::top = base;
    }

    const std::string json_path = bench::write_temp("zan-bench-codecs-", json_source, "json");
    const std::string csv_path = bench::write_temp("zan-bench-codecs-", csv_source, "csv");
    if (json_path.empty() || csv_path.empty() ||
        !python.start(kPythonScript, {json_path, csv_path})) {
        std::fprintf(stderr, "cannot start python3\n");
        return 1;
    }
    for (Job& job : jobs) {
        benchmark::RegisterBenchmark((std::string("zan ") + job.name).c_str(), BM_Ours, &job)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
        benchmark::RegisterBenchmark((std::string("python ") + job.name).c_str(), BM_Python,
                                     job.name)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
    }
    bench::RatioReporter reporter;
    const bool ok = bench::run_interleaved(argc, argv, reporter);
    python.stop();
    std::remove(json_path.c_str());
    std::remove(csv_path.c_str());
    if (!ok) return 1;

    std::printf("\nratio ours / peer, 10 MB of input each (goals: JSON 3.0, CSV 2.0)\n");
    for (const Job& job : jobs) {
        const double ours = reporter.time_of(std::string("zan ") + job.name);
        const double theirs = reporter.time_of(std::string("python ") + job.name);
        if (ours > 0 && theirs > 0) std::printf("  %-10s %.2f\n", job.name, ours / theirs);
    }
    return 0;
}
