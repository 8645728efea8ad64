// Unicode text conversions between UTF-8, UTF-16 and code points, and the widening of a
// text buffer from one unit size to a larger one.
//
// A string stores one code point per unit of 1, 2 or 4 bytes (the unit size in the low bits
// of its buffer's flags): a 1-byte unit holds 0-FF, a 2-byte unit 0-FFFF, a 4-byte unit any
// code point. A buffer widens as a whole and never narrows again.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace memory {
struct Buffer;
}

namespace unicode {

// --- Widening in place ------------------------------------------------------------------

// Each converts the units of a text buffer to the wider size: the buffer grows first when
// the used part at the new width plus one unit does not fit (which may move it), the units
// are converted from the last to the first so that old and new data may overlap, and the
// tail and the unit size follow. Returns the buffer that now holds the text. May collect.
memory::Buffer* latin1_to_ucs2(memory::Buffer* buffer);
memory::Buffer* latin1_to_ucs4(memory::Buffer* buffer);
memory::Buffer* ucs2_to_ucs4(memory::Buffer* buffer);

// --- Helpers for the platform layer ---------------------------------------------------

// Writes the UTF-8 bytes of code point `cp` to `out` (room for 4 bytes); returns the count.
// Surrogate code points and values above 0x10FFFF are written as U+FFFD.
int encode_utf8_char(uint32_t cp, char* out);

// UTF-16 to UTF-8: surrogate pairs become one four-byte sequence; a lone surrogate becomes
// U+FFFD.
std::string utf16_to_utf8(std::u16string_view text);

// UTF-8 to UTF-16: malformed or cut sequences become U+FFFD, one per offending byte.
std::u16string utf8_to_utf16(std::string_view text);

} // namespace unicode
