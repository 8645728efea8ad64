// The lexer against two peers of the same input size: transcode of 10 MB of typical source
// (words, set-words, blocks, parens, paths, strings, integers, floats) into values, against
// Python's json.loads of 10 MB of JSON and Python's compile() of 10 MB of Python source.
//
// The peers run in one python3 process that stays up for the whole run: each iteration asks it
// for one parse and takes the time it measured around the call (manual timing), so that
// process start-up and the pipe are not counted. Ours loads the text into a new block with the
// collector on, as a script load does; the block is dropped after each iteration.
//
// Prints ours / peer, from the medians of interleaved repetitions.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/init.h"
#include "bench/python-peer.h"
#include "bench/ratio.h"
#include "loading/lexer.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"

namespace {

constexpr size_t kSize = 10 * 1024 * 1024;

// Typical source: small functions over a vocabulary of a few hundred words.
std::string zan_source() {
    std::string s;
    for (uint32_t i = 0; s.size() < kSize; ++i) {
        const std::string n = std::to_string(i % 997);
        s += "make-item-" + n + ": func [name [string!] count [integer!] /local result] [\n";
        s += "    result: copy []\n";
        s += "    repeat i count [append result rejoin [name \"-item-\" i]]\n";
        s += "    if count > " + std::to_string(i % 50) + " [print [\"large\" count " +
             std::to_string(i % 100) + ".25 system/options/home]]\n";
        s += "    either empty? result [none] [first result] ; the first one\n";
        s += "    result\n]\n";
    }
    return s;
}

std::string json_text() {
    std::string s = "[";
    for (uint32_t i = 0; s.size() < kSize; ++i) {
        if (i) s += ",\n";
        s += "{\"name\": \"item-" + std::to_string(i % 997) +
             "\", \"count\": " + std::to_string(i % 1000) +
             ", \"value\": " + std::to_string(i % 100) +
             ".25, \"tags\": [\"alpha\", \"beta\"], \"ok\": true, \"next\": null}";
    }
    return s + "]";
}

std::string python_source() {
    std::string s;
    for (uint32_t i = 0; s.size() < kSize; ++i) {
        const std::string n = std::to_string(i % 997);
        s += "def make_item_" + n + "(name, count):\n";
        s += "    result = []\n";
        s += "    for i in range(count):\n";
        s += "        result.append(name + \"-item-\" + str(i))\n";
        s += "    if count > " + std::to_string(i % 50) + ":\n";
        s += "        print(\"large\", count, " + std::to_string(i % 100) +
             ".25, system.options.home)\n";
        s += "    return result[0] if result else None  # the first one\n\n";
    }
    return s;
}

// The python3 process: reads a command per line ("json" or "compile") and answers with the
// seconds that one parse took.
const char* const kPythonScript = "import json, sys, time\n"
                                  "j = open(sys.argv[1]).read(); p = open(sys.argv[2]).read()\n"
                                  "for line in sys.stdin:\n"
                                  "    t = time.perf_counter()\n"
                                  "    if line.strip() == 'json': json.loads(j)\n"
                                  "    else: compile(p, 'bench', 'exec')\n"
                                  "    print(time.perf_counter() - t, flush=True)\n";

bench::PythonPeer python;
std::string source;

void BM_Transcode(benchmark::State& state) {
    for (auto _ : state) {
        Cell* block = lexer::load_push(reinterpret_cast<const uint8_t*>(source.data()),
                                       static_cast<uint32_t>(source.size()));
        benchmark::DoNotOptimize(block);
        stack::pop(1);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(source.size()));
}

void BM_Python(benchmark::State& state, const char* what) {
    for (auto _ : state) state.SetIterationTime(python.run(what));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSize));
}

} // namespace

int main(int argc, char** argv) {
    runtime::init();
    collector::state.enabled = 1;
    source = zan_source();
    const std::string json_path = bench::write_temp("zan-bench-lexer-", json_text(), "json");
    const std::string python_path = bench::write_temp("zan-bench-lexer-", python_source(), "py");
    if (json_path.empty() || python_path.empty() ||
        !python.start(kPythonScript, {json_path, python_path})) {
        std::fprintf(stderr, "cannot start python3\n");
        return 1;
    }
    benchmark::RegisterBenchmark("transcode", BM_Transcode)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("json.loads", BM_Python, "json")
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("compile", BM_Python, "compile")
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    bench::RatioReporter reporter;
    const bool ok = bench::run_interleaved(argc, argv, reporter);
    python.stop();
    std::remove(json_path.c_str());
    std::remove(python_path.c_str());
    if (!ok) return 1;

    std::printf("\nratio ours / peer (below 1.0: ours is faster), 10 MB of input each\n");
    const double ours = reporter.time_of("transcode");
    for (const char* peer : {"json.loads", "compile"}) {
        const double theirs = reporter.time_of(peer);
        if (ours > 0 && theirs > 0) std::printf("  transcode vs %-10s %.2f\n", peer, ours / theirs);
    }
    return 0;
}
