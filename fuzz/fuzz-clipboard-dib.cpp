// The clipboard's bitmap reader over arbitrary bytes: it accepts or refuses the data, never
// crashes, hangs or allocates beyond the limit set here, and what it accepts has as many
// pixel words as its size says.
#include <cstdlib>

#include "os/clipboard.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return 0;
    image_codec::max_decode_pixels = 1 << 22; // 16 MB of pixels
    image_codec::Pixels out;
    if (!clipboard::dib_decode(data, size, out)) {
        if (out.width || out.height || !out.words.empty()) std::abort();
        return 0;
    }
    if (out.words.size() != static_cast<uint64_t>(out.width) * out.height) std::abort();
    return 0;
}
