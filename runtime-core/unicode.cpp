#include "runtime-core/unicode.h"

#include <cstring>

#include "runtime-core/memory.h"

namespace unicode {

namespace {

// Units are read and written through memcpy: a buffer's head need not be aligned to its
// unit size.
inline uint32_t load_unit(const uint8_t* p, uint32_t unit) {
    if (unit == 1) return *p;
    if (unit == 2) {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

inline void store_unit(uint8_t* p, uint32_t unit, uint32_t value) {
    if (unit == 1) {
        *p = static_cast<uint8_t>(value);
    } else if (unit == 2) {
        const auto v = static_cast<uint16_t>(value);
        std::memcpy(p, &v, 2);
    } else {
        std::memcpy(p, &value, 4);
    }
}

memory::Buffer* widen(memory::Buffer* b, uint32_t from, uint32_t to) {
    const uint32_t count = b->length();
    const uint64_t needed = (static_cast<uint64_t>(count) + 1) * to;
    if (b->head + needed > b->size) {
        if (needed > 0x7FFFFFFF) memory::raise(memory::Fault::no_memory);
        b = memory::expand_series_to(b, static_cast<uint32_t>(needed));
    }
    uint8_t* p = b->at_head();
    for (uint32_t i = count; i-- > 0;) store_unit(p + i * to, to, load_unit(p + i * from, from));
    b->tail = b->head + count * to;
    b->flags = (b->flags & ~memory::kUnitMask) | to;
    return b;
}

} // namespace

memory::Buffer* latin1_to_ucs2(memory::Buffer* buffer) {
    return widen(buffer, 1, 2);
}
memory::Buffer* latin1_to_ucs4(memory::Buffer* buffer) {
    return widen(buffer, 1, 4);
}
memory::Buffer* ucs2_to_ucs4(memory::Buffer* buffer) {
    return widen(buffer, 2, 4);
}

int encode_utf8_char(uint32_t cp, char* out) {
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (cp >> 12));
        out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (cp >> 18));
    out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

std::string utf16_to_utf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    char buf[4];
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        out.append(buf, encode_utf8_char(cp, buf));
    }
    return out;
}

std::u16string utf8_to_utf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        auto b = static_cast<uint8_t>(text[i]);
        uint32_t cp;
        int extra;
        if (b < 0x80) {
            cp = b;
            extra = 0;
        } else if (b >= 0xC2 && b <= 0xDF) {
            cp = b & 0x1F;
            extra = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            cp = b & 0x0F;
            extra = 2;
        } else if (b >= 0xF0 && b <= 0xF4) {
            cp = b & 0x07;
            extra = 3;
        } else {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        bool ok = i + extra < text.size();
        for (int k = 1; ok && k <= extra; ++k) {
            auto c = static_cast<uint8_t>(text[i + k]);
            if ((c & 0xC0) != 0x80)
                ok = false;
            else
                cp = (cp << 6) | (c & 0x3F);
        }
        static constexpr uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (!ok || cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += extra + 1;
    }
    return out;
}

} // namespace unicode
