// inflate decoding over arbitrary bytes (the checks of codec-check.h).
#include "fuzz/codec-check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 16) return 0;
    fuzz_codec::check(compress::inflate, compress::deflate, data, static_cast<uint32_t>(size));
    return 0;
}
