// gzip decoding over arbitrary bytes (the checks of codec-check.h); and any input but a whole
// gzip stream survives a gzip round trip, while a whole stream compresses to itself.
#include "fuzz/codec-check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 16) return 0;
    const auto n = static_cast<uint32_t>(size);
    const int32_t status = fuzz_codec::check(compress::gzip_decode, compress::gzip_encode, data, n);
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
