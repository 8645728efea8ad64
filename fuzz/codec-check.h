// The checks every deflate-family fuzz target makes over arbitrary bytes: the decoder ends in
// a status and never writes past the output's capacity; a measuring run agrees with a
// decoding one; what decodes re-encodes and decodes back to itself. Answers the status.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "loading/compress.h"

namespace fuzz_codec {

using Codec = int32_t (*)(uint8_t*, uint64_t*, const uint8_t*, uint32_t);

inline int32_t check(Codec decode, Codec encode, const uint8_t* data, uint32_t n) {
    constexpr uint64_t kCapacity = 1 << 20;
    static std::vector<uint8_t> out(kCapacity); // exactly the capacity: ASan sees past it
    uint64_t produced = kCapacity;
    const int32_t status = decode(out.data(), &produced, data, n);
    uint64_t measured = 0;
    const int32_t measuring = decode(nullptr, &measured, data, n);
    if (status == compress::kDone) {
        if (produced > kCapacity) std::abort();
        if (measuring > compress::kTooSmall || measured != produced) std::abort();
        std::vector<uint8_t> again(produced + 64 + produced / 4);
        uint64_t packed = again.size();
        if (encode(again.data(), &packed, out.data(), static_cast<uint32_t>(produced)))
            std::abort();
        std::vector<uint8_t> back(produced);
        uint64_t unpacked = back.size();
        if (decode(back.data(), &unpacked, again.data(), static_cast<uint32_t>(packed)) ||
            unpacked != produced ||
            (produced && std::memcmp(back.data(), out.data(), produced) != 0))
            std::abort();
    }
    return status;
}

} // namespace fuzz_codec
