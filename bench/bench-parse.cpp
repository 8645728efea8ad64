// Parse against Python on two everyday text jobs, 10 MB of input each:
// - split comma-separated lines into a flat list of field strings: a collect/keep rule,
//   against str.split on lines and on commas in a loop;
// - extract every e-mail-like token (name@domain from letters, digits and ._+-) with a
//   character-set rule, against re.findall.
//
// The peers run in one python3 process that stays up for the whole run: each iteration asks it
// for one job and takes the time it measured around it (manual timing), so that process
// start-up and the pipe are not counted. Ours runs the rules on a string! value with the
// collector on, as a script does; the result block is dropped after each iteration.
//
// Prints ours / peer, from the medians of interleaved repetitions.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/boot.h"
#include "app/init.h"
#include "bench/python-peer.h"
#include "bench/ratio.h"
#include "datatypes/string.h"
#include "evaluator/interpreter.h"
#include "evaluator/parse.h"
#include "loading/lexer.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/memory.h"

namespace {

using bench::next_random;
using bench::word;

constexpr size_t kSize = 10 * 1024 * 1024;

// Lines of 8 fields: words, numbers, now and then an empty field.
std::string csv_text() {
    std::string s;
    uint32_t state = 1;
    while (s.size() < kSize) {
        for (int f = 0; f < 8; ++f) {
            if (f) s += ',';
            const uint32_t kind = next_random(state) % 10;
            if (kind < 5)
                s += word(state, 2, 10);
            else if (kind < 9)
                s += std::to_string(next_random(state) % 100000);
        }
        s += '\n';
    }
    return s;
}

// Prose with an address every few dozen words.
std::string mail_text() {
    std::string s;
    uint32_t state = 7;
    while (s.size() < kSize) {
        const uint32_t kind = next_random(state) % 40;
        if (kind == 0)
            s += word(state, 3, 8) + "." + word(state, 2, 6) + "@" + word(state, 3, 8) + ".com";
        else
            s += word(state, 1, 9);
        s += next_random(state) % 12 == 0 ? ".\n" : " ";
    }
    return s;
}

const char* const kRules = R"(
    field-end: make bitset! ",^/"
    name: make bitset! "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._+-"
    reduce [
        [collect [any [keep copy f to field-end skip]]]
        [collect [any [s: some name opt [#"@" some name e: keep (copy/part s e)] | skip]]]
    ]
)";

// The peers' jobs: split the comma-separated text, or find the addresses in the prose.
const char* const kPythonScript =
    "import re, sys, time\n"
    "c = open(sys.argv[1]).read(); m = open(sys.argv[2]).read()\n"
    "mail = re.compile(r'[A-Za-z0-9_.+-]+@[A-Za-z0-9_.+-]+')\n"
    "def split(text):\n"
    "    fields = []\n"
    "    for line in text.split('\\n')[:-1]:\n"
    "        fields.extend(line.split(','))\n"
    "    return fields\n"
    "for line in sys.stdin:\n"
    "    t = time.perf_counter()\n"
    "    r = split(c) if line.strip() == 'split' else mail.findall(m)\n"
    "    t = time.perf_counter() - t\n"
    "    print(t, len(r), flush=True)\n";

bench::PythonPeer python;
// Data-stack cells: the two texts and the two rule blocks.
Cell* csv = nullptr;
Cell* mail = nullptr;
Cell* split_rule = nullptr;
Cell* mail_rule = nullptr;

uint32_t run_parse(const Cell* input, const Cell* rules) {
    Cell* result = stack::push(Cell{kTypeNone, 0, 0, 0});
    if (parse::process(input, rules, parse::Options{}, result) != interp::Status::normal ||
        cell::type(result) != kTypeBlock)
        std::abort();
    const uint32_t n = memory::buffer(result->w2)->length();
    stack::pop(1);
    return n;
}

void BM_Parse(benchmark::State& state, Cell** input, Cell** rules) {
    uint32_t n = 0;
    for (auto _ : state) n = run_parse(*input, *rules);
    state.counters["items"] = n;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSize));
}

void BM_Python(benchmark::State& state, const char* what) {
    python.time_job(state, what, kSize);
}

} // namespace

int main(int argc, char** argv) {
    runtime::init();
    boot::run();
    const std::string csv_source = csv_text();
    const std::string mail_source = mail_text();
    csv = string::load_push(reinterpret_cast<const uint8_t*>(csv_source.data()),
                            static_cast<uint32_t>(csv_source.size()), string::kUtf8);
    mail = string::load_push(reinterpret_cast<const uint8_t*>(mail_source.data()),
                             static_cast<uint32_t>(mail_source.size()), string::kUtf8);
    Cell* code = lexer::load_push(reinterpret_cast<const uint8_t*>(kRules),
                                  static_cast<uint32_t>(std::strlen(kRules)));
    if (interp::eval_block(code) != interp::Status::normal) return 1;
    const Cell pair = stack::top[-1];
    stack::top = code;
    Cell* rules = stack::push(pair);
    split_rule = stack::push(memory::buffer(rules->w2)->cells()[0]);
    mail_rule = stack::push(memory::buffer(rules->w2)->cells()[1]);

    const std::string csv_path = bench::write_temp("zan-bench-parse-", csv_source, "csv");
    const std::string mail_path = bench::write_temp("zan-bench-parse-", mail_source, "mail");
    if (csv_path.empty() || mail_path.empty() ||
        !python.start(kPythonScript, {csv_path, mail_path})) {
        std::fprintf(stderr, "cannot start python3\n");
        return 1;
    }
    benchmark::RegisterBenchmark("parse split", BM_Parse, &csv, &split_rule)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("python split", BM_Python, "split")
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("parse mail", BM_Parse, &mail, &mail_rule)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("python mail", BM_Python, "mail")
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    bench::RatioReporter reporter;
    const bool ok = bench::run_interleaved(argc, argv, reporter);
    python.stop();
    std::remove(csv_path.c_str());
    std::remove(mail_path.c_str());
    if (!ok) return 1;

    std::printf("\nratio ours / peer (goal: at most 2.0), 10 MB of input each\n");
    for (const char* job : {"split", "mail"}) {
        const double ours = reporter.time_of(std::string("parse ") + job);
        const double theirs = reporter.time_of(std::string("python ") + job);
        if (ours > 0 && theirs > 0) std::printf("  %-6s parse / python %.2f\n", job, ours / theirs);
    }
    return 0;
}
