// The checks every image decoder's fuzz target makes over arbitrary bytes: the decoder of one
// format accepts or refuses the data, never crashes, hangs or allocates beyond the limit set
// here; what it accepts has as many pixel words as its size says, and encodes and decodes
// back to the same size.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "loading/image-codec.h"

namespace fuzz_image {

inline void check(int32_t format, const uint8_t* data, size_t size) {
    // Small enough that a tiny input declaring a large picture is refused or decodes
    // quickly, so the fuzzer explores more inputs a second: the size checks are the same at
    // any limit, and 64 x 64 pixels still hold several blocks, strips and frames.
    image_codec::max_decode_pixels = 1 << 12;
    image_codec::Pixels out;
    if (image_codec::decode_as(format, data, size, out) != image_codec::Decoded::ok) return;
    if (out.words.size() != static_cast<uint64_t>(out.width) * out.height) std::abort();
    if (out.words.empty()) return;
    std::vector<uint8_t> again;
    if (!image_codec::encode(format, out.words.data(), out.width, out.height, again)) std::abort();
    image_codec::Pixels back;
    if (!image_codec::decode(again.data(), again.size(), back) || back.width != out.width ||
        back.height != out.height)
        std::abort();
}

} // namespace fuzz_image
