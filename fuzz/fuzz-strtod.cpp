// Decimal text to double over arbitrary bytes: the char reader (eight characters at a time)
// and the UTF-16 reader (one at a time) give the same value and leave the same rest, and the
// part read, read again alone, gives that value (a zero may lose its sign) with nothing left
// but a last "e".
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime-core/strtod.h"

namespace {

uint64_t bits_of(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return bits;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    // A copy of exactly the input's size, so that the sanitizer sees any read past its end.
    char* const text = static_cast<char*>(std::malloc(size + 1));
    if (size) std::memcpy(text, data, size);
    int32_t unconsumed = -1;
    const double narrow = number_text::parse_float(text, text + size, 0, unconsumed);
    const std::u16string wide(reinterpret_cast<const uint8_t*>(text),
                              reinterpret_cast<const uint8_t*>(text) + size);
    int32_t wide_unconsumed = -1;
    const double w =
        number_text::parse_float(wide.data(), wide.data() + wide.size(), 0, wide_unconsumed);
    if (bits_of(w) != bits_of(narrow) || wide_unconsumed != unconsumed) std::abort();
    if (unconsumed < 0 || size_t(unconsumed) > size) std::abort();
    const size_t read = size - size_t(unconsumed);
    if (read > 0 && read < size) {
        int32_t again_unconsumed = -1;
        const double again = number_text::parse_float(text, text + read, 0, again_unconsumed);
        // A zero may lose its sign: a text of only zeros reads as +0.0. An "e" with
        // something after it is read even without exponent digits; alone at the end it is not.
        const bool same = narrow == narrow ? again == narrow : again != again;
        const bool e_left = again_unconsumed == 1 && (text[read - 1] | 0x20) == 'e';
        if (!same || (again_unconsumed != 0 && !e_left)) std::abort();
    }
    std::free(text);
    return 0;
}
