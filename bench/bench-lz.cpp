// The LZ codec against zlib at level 1 (its fastest setting), on three inputs: the
// language-level sources as text, the body of the boot image that the build embeds (those
// sources lexed and encoded, before compression) and 10 MB of typical source text. Measures
// compression and expansion speed and prints, side by side, the compressed sizes and ours / zlib
// for the times.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/boot.h"
#include "bench/ratio.h"
#include "loading/lz.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The language-level sources of the boot image, in the order of library/boot-sources.txt.
Bytes boot_sources() {
    const std::string root = std::string(ZAN_SOURCE_DIR) + "/";
    std::ifstream list(root + "library/boot-sources.txt");
    Bytes all;
    for (std::string f; std::getline(list, f);) {
        if (f.empty() || f[0] == '#') continue;
        std::ifstream in(root + f, std::ios::binary);
        all.insert(all.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return all;
}

// The boot image's body as the generator gave it to the compressor.
Bytes boot_image_body() {
    Bytes body;
    if (boot::kImageSize > 8 && (boot::kImage[7] & 2))
        lz::decompress(boot::kImage + 8, boot::kImageSize - 8, body);
    return body;
}

Bytes text_10mb() {
    std::string s;
    for (uint32_t i = 0; s.size() < 10 * 1024 * 1024; ++i) {
        const std::string n = std::to_string(i % 997);
        s += "make-item-" + n + ": func [name [string!] count [integer!] /local result] [\n";
        s += "    result: copy []\n    repeat i count [append result rejoin [name \"-\" i]]\n";
        s += "    if count > " + std::to_string(i % 50) + " [print [\"large\" count " +
             std::to_string(i % 100) + ".25]]\n    either empty? result [none] [first result]\n]\n";
    }
    return Bytes(s.begin(), s.end());
}

struct Input {
    const char* name;
    Bytes data;
    Bytes lz;
    Bytes zlib;
};

Input inputs[3];

Bytes lz_compress(const Bytes& in) {
    Bytes out(in.size());
    const int32_t n = lz::compress(in.data(), static_cast<uint32_t>(in.size()), out.data());
    out.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return out;
}

Bytes zlib_compress(const Bytes& in) {
    uLongf size = compressBound(static_cast<uLong>(in.size()));
    Bytes out(size);
    compress2(out.data(), &size, in.data(), static_cast<uLong>(in.size()), 1);
    out.resize(size);
    return out;
}

void BM_lz_compress(benchmark::State& state) {
    const Input& in = inputs[state.range(0)];
    for (auto _ : state) benchmark::DoNotOptimize(lz_compress(in.data));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.data.size()));
}
void BM_zlib_compress(benchmark::State& state) {
    const Input& in = inputs[state.range(0)];
    for (auto _ : state) benchmark::DoNotOptimize(zlib_compress(in.data));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.data.size()));
}
void BM_lz_expand(benchmark::State& state) {
    const Input& in = inputs[state.range(0)];
    Bytes out;
    for (auto _ : state) {
        lz::decompress(in.lz.data(), static_cast<uint32_t>(in.lz.size()), out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.data.size()));
}
void BM_zlib_expand(benchmark::State& state) {
    const Input& in = inputs[state.range(0)];
    Bytes out(in.data.size());
    for (auto _ : state) {
        uLongf size = static_cast<uLongf>(out.size());
        uncompress(out.data(), &size, in.zlib.data(), static_cast<uLong>(in.zlib.size()));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.data.size()));
}

BENCHMARK(BM_lz_compress)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_zlib_compress)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_lz_expand)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_zlib_expand)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    inputs[0] = {"language sources", boot_sources(), {}, {}};
    inputs[1] = {"10 MB of text", text_10mb(), {}, {}};
    inputs[2] = {"boot image body", boot_image_body(), {}, {}};
    for (Input& in : inputs) {
        in.lz = lz_compress(in.data);
        in.zlib = zlib_compress(in.data);
    }
    bench::RatioReporter reporter;
    if (!bench::run_interleaved(argc, argv, reporter)) return 1;
    std::printf("\n%-18s %10s %10s %10s   time ours / zlib-1: compress expand\n", "input", "bytes",
                "lz", "zlib-1");
    for (int k = 0; k < 3; ++k) {
        const Input& in = inputs[k];
        const std::string arg = std::string("/") + std::to_string(k);
        auto ratio = [&](const char* ours, const char* theirs) {
            const double a = reporter.time_of(std::string(ours) + arg);
            const double b = reporter.time_of(std::string(theirs) + arg);
            return b > 0 ? a / b : 0.0;
        };
        std::printf("%-18s %10zu %10zu %10zu   %.2f %.2f\n", in.name, in.data.size(), in.lz.size(),
                    in.zlib.size(), ratio("BM_lz_compress", "BM_zlib_compress"),
                    ratio("BM_lz_expand", "BM_zlib_expand"));
    }
    return 0;
}
