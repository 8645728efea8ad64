// load-json over arbitrary text: every input gives a value or the invalid-JSON error! value
// (or one of the errors bad input may raise), never a crash or a hang. What loads is written
// by to-json, and that text loads again and is written the same: to-json's output is valid
// JSON and a fixed point of the round trip. /pretty and /ascii output load back too.
#include "fuzz/fuzz-text-codec.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_text_codec::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 16) return 0;
    if (!fuzz_text_codec::check("fuzz-json", data, size, 0)) std::abort();
    return 0;
}
