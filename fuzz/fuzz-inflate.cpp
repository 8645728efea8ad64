// inflate decoding over arbitrary bytes: every input ends in a status, never a write past the
// output's capacity; a measuring run agrees with a decoding one; what decodes re-encodes and
// decodes back to itself.
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
    const int32_t status = compress::inflate(out.data(), &produced, data, n);
    uint64_t measured = 0;
    const int32_t measuring = compress::inflate(nullptr, &measured, data, n);
    if (status == compress::kDone) {
        if (produced > kCapacity) std::abort();
        if (measuring > compress::kTooSmall || measured != produced) std::abort();
        std::vector<uint8_t> again(produced + 64 + produced / 4);
        uint64_t packed = again.size();
        if (compress::deflate(again.data(), &packed, out.data(), static_cast<uint32_t>(produced)))
            std::abort();
        std::vector<uint8_t> back(produced);
        uint64_t unpacked = back.size();
        if (compress::inflate(back.data(), &unpacked, again.data(),
                              static_cast<uint32_t>(packed)) ||
            unpacked != produced ||
            (produced && std::memcmp(back.data(), out.data(), produced) != 0))
            std::abort();
    }
    return 0;
}
