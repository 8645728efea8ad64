#include "loading/image-codec.h"

#include <bit>
#include <cstring>

namespace image_codec {

uint64_t max_decode_pixels = kMaxPixels;

int32_t known_format(const uint8_t* d, size_t n) {
    if (n >= 4 && d[0] == 137 && d[1] == 'P' && d[2] == 'N' && d[3] == 'G') return kPng;
    if (n >= 3 && d[0] == 255 && d[1] == 216 && d[2] == 255) return kJpeg;
    if (n >= 2 && d[0] == 'B' && d[1] == 'M') return kBmp;
    if (n >= 6 && std::memcmp(d, "GIF8", 4) == 0 && (d[4] == '7' || d[4] == '9') && d[5] == 'a')
        return kGif;
    if (n >= 4 && ((d[0] == 'I' && d[1] == 'I' && d[2] == '*' && d[3] == 0) ||
                   (d[0] == 'M' && d[1] == 'M' && d[2] == 0 && d[3] == '*')))
        return kTiff;
    return -1;
}

bool decode(const uint8_t* data, size_t size, Pixels& out) {
    out = Pixels{};
    const int32_t format = known_format(data, size);
    if (format < 0) return false;
    if (!platform_decode(format, data, size, out) || !acceptable(out.width, out.height) ||
        out.words.size() != static_cast<uint64_t>(out.width) * out.height) {
        out = Pixels{};
        return false;
    }
    return true;
}

bool encode(int32_t format, const uint32_t* words, uint32_t width, uint32_t height,
            std::vector<uint8_t>& out) {
    out.clear();
    if (format < kBmp || format > kTiff) return false;
    if (width == 0 || height == 0) return true;
    return platform_encode(format, words, width, height, out);
}

// --- BMP ------------------------------------------------------------------------------------

namespace {

uint32_t u16(const uint8_t* p) {
    return p[0] | p[1] << 8;
}
uint32_t u32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// A channel of a masked pixel, scaled to 8 bits; `absent` when the mask is empty.
struct Channel {
    uint32_t mask = 0, shift = 0, max = 0;
    explicit Channel(uint32_t m) : mask(m) {
        if (!m) return;
        shift = static_cast<uint32_t>(std::countr_zero(m));
        const uint32_t bits = static_cast<uint32_t>(std::popcount(m));
        max = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
    }
    uint32_t get(uint32_t pixel, uint32_t absent) const {
        if (!mask) return absent;
        const uint64_t v = (pixel & mask) >> shift;
        return static_cast<uint32_t>((v * 255 + max / 2) / max) & 0xFF;
    }
};

constexpr uint32_t kRgb = 0, kBitfields = 3, kAlphaBitfields = 6;

} // namespace

bool bmp_decode(const uint8_t* d, size_t n, Pixels& out) {
    if (n < 26 || d[0] != 'B' || d[1] != 'M') return false;
    const uint32_t offset = u32(d + 10);
    const uint32_t header = u32(d + 14);
    if (header != 12 && header < 40) return false;
    if (14 + static_cast<uint64_t>(header) > n) return false;
    int64_t width, height;
    uint32_t bpp, compression = kRgb, colours = 0;
    if (header == 12) {
        width = u16(d + 18);
        height = static_cast<int16_t>(u16(d + 20));
        bpp = u16(d + 24);
    } else {
        width = static_cast<int32_t>(u32(d + 18));
        height = static_cast<int32_t>(u32(d + 22));
        bpp = u16(d + 28);
        compression = u32(d + 30);
        colours = u32(d + 46);
    }
    const bool top_down = height < 0;
    if (top_down) height = -height;
    if (width < 0 || !acceptable(static_cast<uint64_t>(width), static_cast<uint64_t>(height)))
        return false;
    const bool masked = compression == kBitfields || compression == kAlphaBitfields;
    if (compression != kRgb && !masked) return false; // run-length and embedded formats
    if (masked && bpp != 16 && bpp != 32) return false;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return false;

    // The channel masks: in the header from 52 bytes on, else right after it.
    uint32_t masks[4] = {0, 0, 0, 0};
    size_t after = 14 + header;
    if (masked) {
        const size_t count = compression == kAlphaBitfields ? 4 : 3;
        if (header >= 52) {
            for (size_t k = 0; k < 3; ++k) masks[k] = u32(d + 54 + 4 * k);
            if (header >= 56) masks[3] = u32(d + 66);
        } else {
            if (after + 4 * count > n) return false;
            for (size_t k = 0; k < count; ++k) masks[k] = u32(d + after + 4 * k);
            after += 4 * count;
        }
    } else if (bpp == 16) {
        masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
    }
    // The palette of the indexed depths.
    uint32_t palette[256] = {};
    if (bpp <= 8) {
        const size_t entry = header == 12 ? 3 : 4;
        uint64_t count = colours ? colours : 1u << bpp;
        if (count > 256) return false;
        if (after + count * entry > n) count = (n - after) / entry;
        for (size_t k = 0; k < count; ++k) {
            const uint8_t* p = d + after + k * entry;
            palette[k] = 0xFF000000u | p[2] << 16 | p[1] << 8 | p[0];
        }
        for (size_t k = count; k < 256; ++k) palette[k] = 0xFF000000u;
    }

    const uint64_t stride = (static_cast<uint64_t>(width) * bpp + 31) / 32 * 4;
    if (offset > n || stride * height > n - offset) return false;
    const Channel r(masks[0]), g(masks[1]), b(masks[2]), a(masks[3]);
    out.width = static_cast<uint32_t>(width);
    out.height = static_cast<uint32_t>(height);
    out.words.resize(static_cast<size_t>(width * height));
    for (int64_t y = 0; y < height; ++y) {
        const uint8_t* row = d + offset + stride * (top_down ? y : height - 1 - y);
        uint32_t* to = out.words.data() + y * width;
        for (int64_t x = 0; x < width; ++x) {
            uint32_t p;
            switch (bpp) {
            case 1:
                p = palette[row[x >> 3] >> (7 - (x & 7)) & 1];
                break;
            case 4:
                p = palette[row[x >> 1] >> (x & 1 ? 0 : 4) & 15];
                break;
            case 8:
                p = palette[row[x]];
                break;
            case 24:
                p = 0xFF000000u | row[3 * x + 2] << 16 | row[3 * x + 1] << 8 | row[3 * x];
                break;
            default: {
                const uint32_t raw = bpp == 16 ? u16(row + 2 * x) : u32(row + 4 * x);
                if (bpp == 32 && !masked) {
                    p = 0xFF000000u | (raw & 0xFFFFFF); // the fourth byte is not alpha
                } else {
                    p = a.get(raw, 255) << 24 | r.get(raw, 0) << 16 | g.get(raw, 0) << 8 |
                        b.get(raw, 0);
                }
            }
            }
            to[x] = p;
        }
    }
    return true;
}

void bmp_encode(const uint32_t* words, uint32_t width, uint32_t height, std::vector<uint8_t>& out) {
    constexpr uint32_t kHeader = 108; // with the channel masks, alpha included
    const uint32_t data = 14 + kHeader;
    const uint64_t bytes = static_cast<uint64_t>(width) * height * 4;
    out.clear();
    out.reserve(static_cast<size_t>(data + bytes));
    out.push_back('B');
    out.push_back('M');
    put32(out, static_cast<uint32_t>(data + bytes));
    put32(out, 0);
    put32(out, data);
    put32(out, kHeader);
    put32(out, width);
    put32(out, height); // bottom-up
    put16(out, 1);
    put16(out, 32);
    put32(out, kBitfields);
    put32(out, static_cast<uint32_t>(bytes));
    put32(out, 2835); // 72 dots per inch
    put32(out, 2835);
    put32(out, 0);
    put32(out, 0);
    for (uint32_t m : {0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0xFF000000u}) put32(out, m);
    put32(out, 0x73524742);                     // "sRGB"
    for (int k = 0; k < 12; ++k) put32(out, 0); // end points and gamma, unused for sRGB
    for (uint32_t y = height; y-- > 0;)
        for (uint32_t x = 0; x < width; ++x) put32(out, words[static_cast<size_t>(y) * width + x]);
}

} // namespace image_codec
