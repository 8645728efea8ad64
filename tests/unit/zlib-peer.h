// zlib, the peer the deflate tests and benchmarks check against. Kept apart from our codec's
// header: zlib's `compress` function and our `compress` namespace cannot meet in one file.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace zlib_peer {

using Bytes = std::vector<uint8_t>;

// Window bits: -15 raw deflate, 15 zlib, 31 gzip.
constexpr int kRaw = -15, kZlib = 15, kGzip = 31;
// Strategies: zlib's own numbers.
constexpr int kDefault = 0, kFiltered = 1, kHuffmanOnly = 2, kRle = 3, kFixed = 4;

// The whole output, or "<zlib error>" when the stream does not end well.
std::string inflate(const Bytes& in, int window_bits, size_t expected);
Bytes deflate(const Bytes& in, int level, int window_bits, int strategy = kDefault);
uint32_t crc32(const uint8_t* bytes, size_t length);
uint32_t adler32(const uint8_t* bytes, size_t length);

} // namespace zlib_peer
