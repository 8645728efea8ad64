// load-csv over arbitrary text, with the settings and refinements the first byte picks: every
// input gives rows, records, columns or one of the error! values load-csv returns (or the
// /HEADER error it raises), never a crash or a hang. Plain rows are written by to-csv and read
// back as the same rows.
#include "fuzz/fuzz-text-codec.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_text_codec::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 1 << 16) return 0;
    if (!fuzz_text_codec::check("fuzz-csv", data + 1, size - 1, data[0])) std::abort();
    return 0;
}
