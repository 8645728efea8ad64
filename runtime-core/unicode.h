// Unicode text conversions between UTF-8, UTF-16 and code points.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace unicode {

// Writes the UTF-8 bytes of code point `cp` to `out` (room for 4 bytes); returns the count.
// Surrogate code points and values above 0x10FFFF are written as U+FFFD.
int encode_utf8_char(uint32_t cp, char* out);

// UTF-16 to UTF-8: surrogate pairs become one four-byte sequence; a lone surrogate becomes
// U+FFFD.
std::string utf16_to_utf8(std::u16string_view text);

// UTF-8 to UTF-16: malformed or cut sequences become U+FFFD, one per offending byte.
std::u16string utf8_to_utf16(std::string_view text);

} // namespace unicode
