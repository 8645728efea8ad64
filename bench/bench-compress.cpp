// Deflate against zlib at level 6 on 5 MB of text (this repository's sources, repeated):
// compressing with the zlib framing, inflating our stream and zlib's, and the command-line
// `gzip -6` on the same file; then the size ratios. Our encoder writes one fixed-code block
// with a small match cache, so its size ratio is what that design gives; inflate aims at
// zlib's speed.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/ratio.h"
#include "loading/compress.h"
#include "tests/unit/zlib-peer.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kSize = 5 * 1024 * 1024;

const Bytes& text() {
    static const Bytes bytes = [] {
        Bytes all;
        for (const char* folder :
             {"runtime-core", "datatypes", "loading", "os", "evaluator", "library", "app"})
            for (const auto& entry : std::filesystem::recursive_directory_iterator(
                     std::filesystem::path(ZAN_SOURCE_DIR) / folder)) {
                if (!entry.is_regular_file()) continue;
                std::ifstream in(entry.path(), std::ios::binary);
                all.insert(all.end(), std::istreambuf_iterator<char>(in),
                           std::istreambuf_iterator<char>());
            }
        Bytes out;
        while (out.size() < kSize) out.insert(out.end(), all.begin(), all.end());
        out.resize(kSize);
        return out;
    }();
    return bytes;
}

Bytes ours_zlib() {
    Bytes out(text().size() * 2);
    uint64_t size = out.size();
    compress::zlib_encode(out.data(), &size, text().data(), static_cast<uint32_t>(text().size()));
    out.resize(size);
    return out;
}

const Bytes& our_stream() {
    static const Bytes s = ours_zlib();
    return s;
}
const Bytes& zlib_stream() {
    static const Bytes s = zlib_peer::deflate(text(), 6, zlib_peer::kZlib);
    return s;
}

void BM_OursCompress(benchmark::State& state) {
    Bytes out(text().size() * 2);
    for (auto _ : state) {
        uint64_t size = out.size();
        compress::zlib_encode(out.data(), &size, text().data(), static_cast<uint32_t>(kSize));
        benchmark::DoNotOptimize(size);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSize));
}

void BM_ZlibCompress(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(zlib_peer::deflate(text(), 6, zlib_peer::kZlib));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSize));
}

void inflate_ours(benchmark::State& state, const Bytes& stream) {
    Bytes out(kSize);
    for (auto _ : state) {
        uint64_t size = out.size();
        if (compress::zlib_decode(out.data(), &size, stream.data(),
                                  static_cast<uint32_t>(stream.size())))
            state.SkipWithError("did not decode");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSize));
}

void BM_OursDecompressOurs(benchmark::State& state) {
    inflate_ours(state, our_stream());
}
void BM_OursDecompressZlibs(benchmark::State& state) {
    inflate_ours(state, zlib_stream());
}
void BM_ZlibDecompressZlibs(benchmark::State& state) {
    for (auto _ : state)
        if (zlib_peer::inflate(zlib_stream(), zlib_peer::kZlib, kSize).size() != kSize)
            state.SkipWithError("did not decode");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSize));
}
void BM_ZlibDecompressOurs(benchmark::State& state) {
    for (auto _ : state)
        if (zlib_peer::inflate(our_stream(), zlib_peer::kZlib, kSize).size() != kSize)
            state.SkipWithError("did not decode");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSize));
}

std::string text_file;
void BM_GzipCommand(benchmark::State& state) {
    const std::string command = "gzip -6 -c " + text_file + " >/dev/null";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError("gzip failed");
}

} // namespace

BENCHMARK(BM_OursCompress)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibCompress)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GzipCommand)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OursDecompressOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibDecompressOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OursDecompressZlibs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibDecompressZlibs)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    text_file = (std::filesystem::temp_directory_path() / "zan-bench-compress.txt").string();
    {
        std::ofstream out(text_file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(text().data()), std::streamsize(kSize));
    }
    bench::RatioReporter reporter;
    const bool ran = bench::run_interleaved(argc, argv, reporter);
    const std::string gzip_size_command = "gzip -6 -c " + text_file + " | wc -c";
    long gzip_size = 0;
    if (FILE* p = popen(gzip_size_command.c_str(), "r")) {
        if (std::fscanf(p, "%ld", &gzip_size) != 1) gzip_size = 0;
        pclose(p);
    }
    std::filesystem::remove(text_file);
    if (!ran) return 1;
    const double ours = double(our_stream().size()), zlib = double(zlib_stream().size());
    std::printf("\nsizes of 5 MB of text: ours %.0f, zlib level 6 %.0f, gzip -6 %ld bytes\n", ours,
                zlib, gzip_size);
    std::printf("size ratio ours / zlib level 6: %.2f\n", ours / zlib);
    auto ratio = [&](const char* label, const char* a, const char* b, const char* goal) {
        const double x = reporter.time_of(a), y = reporter.time_of(b);
        if (x > 0 && y > 0) std::printf("ratio %s: %.2f%s\n", label, x / y, goal);
    };
    ratio("compress, ours / zlib level 6", "BM_OursCompress", "BM_ZlibCompress", "");
    ratio("compress, ours / gzip -6 (a process)", "BM_OursCompress", "BM_GzipCommand", "");
    ratio("inflate of zlib's stream, ours / zlib", "BM_OursDecompressZlibs",
          "BM_ZlibDecompressZlibs", " (goal: at most 1.0)");
    ratio("inflate of our stream, ours / zlib", "BM_OursDecompressOurs", "BM_ZlibDecompressOurs",
          " (goal: at most 1.0)");
    return 0;
}
