// The PNG decoder over arbitrary bytes (fuzz-image.h says what is checked).
#include "fuzz/fuzz-image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return 0;
    fuzz_image::check(image_codec::kPng, data, size);
    return 0;
}
