// gzip decoding over arbitrary bytes: every input ends in a status, never a write past the
// output's capacity; a measuring run agrees with a decoding one; what decodes re-encodes and
// decodes back to itself; any input but a whole gzip stream survives a gzip round trip.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "loading/compress.h"

namespace {

constexpr uint64_t kCapacity = 1 << 20;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 16) return 0;
    const auto n = static_cast<uint32_t>(size);
    static std::vector<uint8_t> out(kCapacity); // exactly the capacity: ASan sees past it
    uint64_t produced = kCapacity;
    const int32_t status = compress::gzip_decode(out.data(), &produced, data, n);
    uint64_t measured = 0;
    const int32_t measuring = compress::gzip_decode(nullptr, &measured, data, n);
    if (status == compress::kDone) {
        if (produced > kCapacity) std::abort();
        if (measuring > compress::kTooSmall || measured != produced) std::abort();
        std::vector<uint8_t> again(produced + 64 + produced / 4);
        uint64_t packed = again.size();
        if (compress::gzip_encode(again.data(), &packed, out.data(),
                                  static_cast<uint32_t>(produced)))
            std::abort();
        std::vector<uint8_t> back(produced);
        uint64_t unpacked = back.size();
        if (compress::gzip_decode(back.data(), &unpacked, again.data(),
                                  static_cast<uint32_t>(packed)) ||
            unpacked != produced ||
            (produced && std::memcmp(back.data(), out.data(), produced) != 0))
            std::abort();
    }
    // Any bytes come back from a gzip round trip unchanged, except a whole gzip stream, which
    // compresses to itself.
    std::vector<uint8_t> packed(size + size / 4 + 64);
    uint64_t packed_size = packed.size();
    if (compress::gzip_encode(packed.data(), &packed_size, data, n)) std::abort();
    const bool itself = packed_size == size && std::memcmp(packed.data(), data, size) == 0;
    if (itself != (status == compress::kDone)) std::abort();
    if (!itself) {
        std::vector<uint8_t> back(size + 1);
        uint64_t back_size = size;
        if (compress::gzip_decode(back.data(), &back_size, packed.data(),
                                  static_cast<uint32_t>(packed_size)) ||
            back_size != size || (size && std::memcmp(back.data(), data, size) != 0))
            std::abort();
    }
    return 0;
}
