#include "loading/image-codec.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

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

bool allocate(Pixels& out, uint32_t width, uint32_t height, uint32_t fill) {
    try {
        out.words.assign(static_cast<size_t>(width) * height, fill);
    } catch (const std::bad_alloc&) {
        out = Pixels{};
        return false;
    }
    out.width = width;
    out.height = height;
    return true;
}

Decoded decode_as(int32_t format, const uint8_t* data, size_t size, Pixels& out) {
    out = Pixels{};
    if (!declared_size_fits(format, data, size)) return Decoded::refused;
    Decoded result;
    try {
        result = platform_decode(format, data, size, out);
    } catch (const std::bad_alloc&) {
        result = Decoded::no_memory; // a work buffer of a decoder
    }
    if (result == Decoded::ok &&
        (!acceptable(out.width, out.height) ||
         out.words.size() != static_cast<uint64_t>(out.width) * out.height))
        result = Decoded::refused;
    if (result != Decoded::ok) out = Pixels{};
    return result;
}

Decoded decode_image(const uint8_t* data, size_t size, Pixels& out) {
    const int32_t format = known_format(data, size);
    if (format < 0) {
        out = Pixels{};
        return Decoded::refused;
    }
    return decode_as(format, data, size, out);
}

bool decode(const uint8_t* data, size_t size, Pixels& out) {
    return decode_image(data, size, out) == Decoded::ok;
}

// --- Declared sizes -------------------------------------------------------------------------
//
// Every compression has a largest ratio of decoded to encoded bytes, reached only by data
// made of one repeated value. A header that declares more pixels than its whole file could
// give at that ratio cannot be honest, and is refused before a decoder allocates for it; a
// real file, however uniform, stays below the bound.

namespace {

// A deflate stream (PNG, TIFF) gives at most 1032 bytes for each byte it holds: a 258-byte
// match costs two bits at least.
constexpr uint64_t kDeflateRatio = 1032;
// An LZW code (GIF, TIFF) gives at most 4096 values, the longest string of its table.
constexpr uint64_t kLzwString = 4096;
// PackBits repeats one byte at most 128 times for every two bytes.
constexpr uint64_t kPackBitsRatio = 64;
// A Huffman-coded JPEG block costs one bit at least, and a component sampled at a quarter in
// both directions has one 8 × 8 block for every 32 × 32 pixels.
constexpr uint64_t kJpegPixelsPerBit = 32 * 32;

// The bytes of a header, read with bounds checks, little or big endian.
struct Header {
    const uint8_t* d;
    size_t n;
    bool big;
    bool has(uint64_t at, uint64_t count) const { return at <= n && count <= n - at; }
    uint32_t u16(uint64_t at) const {
        return big ? d[at] << 8 | d[at + 1] : d[at] | d[at + 1] << 8;
    }
    uint32_t u32(uint64_t at) const {
        return big ? u16(at) << 16 | u16(at + 2) : u16(at) | u16(at + 2) << 16;
    }
    uint64_t bits() const { return uint64_t{n} * 8; }
};

bool png_fits(const Header& h) {
    if (!h.has(8, 25) || std::memcmp(h.d + 12, "IHDR", 4) != 0) return false;
    const uint64_t width = h.u32(16), height = h.u32(20);
    const uint32_t depth = h.d[24], type = h.d[25], interlaced = h.d[28];
    uint32_t channels;
    switch (type) {
    case 0: // grey
    case 3: // palette
        channels = 1;
        break;
    case 2: // RGB
        channels = 3;
        break;
    case 4: // grey and alpha
        channels = 2;
        break;
    case 6: // RGB and alpha
        channels = 4;
        break;
    default:
        return false;
    }
    if (depth == 0 || !acceptable(width, height)) return false;
    // The bits of every pixel, and a filter byte a row (interlaced rows have more).
    const uint64_t raw = width * height * depth * channels + (interlaced ? 0 : height * 8);
    return raw <= h.bits() * kDeflateRatio;
}

// The picture of a frame header (the bytes after the marker's length), whose scans take
// `data` bytes at most.
bool jpeg_frame_fits(const Header& h, uint64_t at, uint64_t length, uint32_t marker,
                     uint64_t data) {
    // Only Huffman-coded frames: baseline, extended and progressive. Arithmetic coding can
    // spend far less than a bit on a block, so nothing bounds what such a file declares;
    // lossless and hierarchical frames are not read by the Windows imaging codecs either.
    if (marker > 0xC2 || length < 6) return false;
    const uint64_t height = h.u16(at + 1), width = h.u16(at + 3);
    const uint32_t count = h.d[at + 5];
    if (width == 0 || height == 0 || count == 0 || length < 6 + 3 * uint64_t{count} ||
        !acceptable(width, height))
        return false;
    uint32_t h_max = 1, v_max = 1;
    for (uint32_t k = 0; k < count; ++k) {
        const uint32_t sampling = h.d[at + 7 + 3 * k];
        const uint32_t hs = sampling >> 4, vs = sampling & 15;
        if (hs < 1 || hs > 4 || vs < 1 || vs > 4) return false;
        h_max = std::max(h_max, hs);
        v_max = std::max(v_max, vs);
    }
    // Every block of at least one component is coded (a progressive file codes the DC of a
    // component before anything else of it): the least sampled component's blocks bound it.
    uint64_t fewest = UINT64_MAX;
    for (uint32_t k = 0; k < count; ++k) {
        const uint32_t sampling = h.d[at + 7 + 3 * k];
        const uint64_t columns = (width * (sampling >> 4) + h_max - 1) / h_max;
        const uint64_t rows = (height * (sampling & 15) + v_max - 1) / v_max;
        fewest = std::min(fewest, (columns + 7) / 8 * ((rows + 7) / 8));
    }
    return fewest <= data * 8;
}

// The segments up to the first scan: the frame header must come before it, and the scans
// hold at most the bytes from there to the end.
bool jpeg_fits(const Header& h) {
    uint64_t at = 2, frame = 0, frame_length = 0;
    uint32_t frame_marker = 0;
    for (;;) {
        while (at < h.n && h.d[at] != 0xFF) ++at; // stray bytes between segments
        while (at < h.n && h.d[at] == 0xFF) ++at; // fill bytes
        if (at >= h.n) return false;
        const uint32_t marker = h.d[at++];
        if (marker == 0 || marker == 0x01 || marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7))
            continue; // markers without a length
        if (marker == 0xDA)
            return frame && jpeg_frame_fits(h, frame, frame_length, frame_marker, h.n - at);
        if (marker == 0xD9 || !h.has(at, 2)) return false; // the end before any scan
        const uint32_t length = h.u16(at);
        if (length < 2 || !h.has(at, length)) return false;
        const bool is_frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (is_frame && !frame) {
            frame = at + 2;
            frame_length = length - 2;
            frame_marker = marker;
        }
        at += length;
    }
}

bool gif_fits(const Header& h) {
    if (!h.has(0, 13)) return false;
    const uint64_t screen_w = h.u16(6), screen_h = h.u16(8);
    const uint32_t packed = h.d[10];
    uint64_t at = 13 + (packed & 0x80 ? 3u << ((packed & 7) + 1) : 0);
    // Codes take 2 bits at least.
    const uint64_t most = (h.bits() / 2 + 1) * kLzwString;
    for (;;) {
        if (!h.has(at, 1)) return false;
        const uint32_t block = h.d[at++];
        if (block == 0x21) { // an extension: its label, then sub-blocks up to an empty one
            ++at;
            for (;;) {
                if (!h.has(at, 1)) return false;
                const uint32_t n = h.d[at++];
                if (n == 0) break;
                at += n;
            }
            continue;
        }
        // The trailer, or anything else, before the first image.
        if (block != 0x2C || !h.has(at, 9)) return false;
        const uint64_t width = h.u16(at + 4), height = h.u16(at + 6);
        // The picture is the logical screen (the image alone where the screen has no size;
        // the Windows codecs give the image alone): both must pass.
        const bool screen = screen_w > 0 && screen_h > 0;
        return width > 0 && height > 0 && acceptable(width, height) && width * height <= most &&
               (!screen || (acceptable(screen_w, screen_h) && screen_w * screen_h <= most));
    }
}

bool bmp_fits(const Header& h) {
    if (!h.has(0, 26)) return false;
    const uint32_t header = h.u32(14);
    int64_t width, height;
    uint32_t bpp, compression = 0;
    if (header == 12) {
        width = h.u16(18);
        height = static_cast<int16_t>(h.u16(20));
        bpp = h.u16(24);
    } else if (header >= 40 && h.has(14, 40)) {
        width = static_cast<int32_t>(h.u32(18));
        height = static_cast<int32_t>(h.u32(22));
        bpp = h.u16(28);
        compression = h.u32(30);
    } else {
        return false;
    }
    if (height < 0) height = -height;
    if (width < 0 || !acceptable(static_cast<uint64_t>(width), static_cast<uint64_t>(height)))
        return false;
    // Uncompressed rows, plain or with channel masks, are all in the file. Run-length coded
    // ones may stop early and leave the rest of the picture unset: no bound there.
    if (compression != 0 && compression != 3 && compression != 6) return true;
    const uint64_t stride = (static_cast<uint64_t>(width) * bpp + 31) / 32 * 4;
    return stride * static_cast<uint64_t>(height) <= h.n;
}

// The first value of a directory entry at `e` (inline or at its offset), for the integer
// types; false for another type or a value outside the data.
bool tiff_value(const Header& h, uint64_t e, uint64_t index, uint64_t& value) {
    const uint32_t type = h.u16(e + 2), count = h.u32(e + 4);
    uint32_t size;
    switch (type) {
    case 1: // BYTE
    case 6: // SBYTE
        size = 1;
        break;
    case 3: // SHORT
    case 8: // SSHORT
        size = 2;
        break;
    case 4: // LONG
    case 9: // SLONG
        size = 4;
        break;
    default:
        return false;
    }
    if (index >= count) return false;
    const uint64_t at = (uint64_t{count} * size <= 4 ? e + 8 : h.u32(e + 8)) + index * size;
    if (!h.has(at, size)) return false;
    value = size == 1 ? h.d[at] : size == 2 ? h.u16(at) : h.u32(at);
    return true;
}

bool tiff_fits(const Header& h) {
    if (!h.has(0, 8)) return false;
    const uint64_t directory = h.u32(4);
    if (!h.has(directory, 2)) return false;
    const uint32_t entries = h.u16(directory);
    uint64_t width = 0, height = 0, compression = 1, bits = 0;
    for (uint32_t k = 0; k < entries && h.has(directory + 2 + 12 * uint64_t{k}, 12); ++k) {
        const uint64_t e = directory + 2 + 12 * uint64_t{k};
        uint64_t value;
        if (!tiff_value(h, e, 0, value)) continue;
        switch (h.u16(e)) {
        case 256:
            width = value;
            break;
        case 257:
            height = value;
            break;
        case 258: // bits per sample, one value a sample: the fewest count
            bits = value;
            for (uint64_t i = 1; i < 16 && tiff_value(h, e, i, value); ++i)
                bits = std::min(bits, value);
            break;
        case 259:
            compression = value;
            break;
        }
    }
    if (width == 0 || height == 0 || !acceptable(width, height)) return false;
    // The fewest bits the pixels take: one sample each.
    const uint64_t raw = width * height * std::max<uint64_t>(bits, 1);
    switch (compression) {
    case 1: // none
        return raw <= h.bits();
    case 32773: // PackBits
        return raw <= h.bits() * kPackBitsRatio;
    case 5: // LZW, codes of 9 bits at least, each giving at most 4096 bytes
        return raw <= (h.bits() / 9 + 1) * kLzwString * 8;
    case 8: // deflate
    case 32946:
        return raw <= h.bits() * kDeflateRatio;
    case 6: // JPEG
    case 7:
        return width * height <= h.bits() * kJpegPixelsPerBit;
    case 2: // the fax codings: a row takes one bit at least
    case 3:
    case 4:
    case 32771:
        return height <= h.bits();
    default: // codings with no useful bound, which the Windows codecs do not read either
        return false;
    }
}

} // namespace

bool declared_size_fits(int32_t format, const uint8_t* data, size_t size) {
    switch (format) {
    case kPng:
        return png_fits(Header{data, size, true});
    case kJpeg:
        return jpeg_fits(Header{data, size, true});
    case kGif:
        return gif_fits(Header{data, size, false});
    case kBmp:
        return bmp_fits(Header{data, size, false});
    case kTiff:
        return tiff_fits(Header{data, size, size > 0 && data[0] == 'M'});
    default:
        return false;
    }
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

Decoded bmp_decode(const uint8_t* d, size_t n, Pixels& out) {
    out = Pixels{};
    if (n < 26 || d[0] != 'B' || d[1] != 'M') return Decoded::refused;
    const uint32_t offset = u32(d + 10);
    const uint32_t header = u32(d + 14);
    if (header != 12 && header < 40) return Decoded::refused;
    if (14 + static_cast<uint64_t>(header) > n) return Decoded::refused;
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
        return Decoded::refused;
    const bool masked = compression == kBitfields || compression == kAlphaBitfields;
    if (compression != kRgb && !masked) return Decoded::refused; // run-length and embedded formats
    if (masked && bpp != 16 && bpp != 32) return Decoded::refused;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        return Decoded::refused;

    // The channel masks: in the header from 52 bytes on, else right after it.
    uint32_t masks[4] = {0, 0, 0, 0};
    size_t after = 14 + header;
    if (masked) {
        const size_t count = compression == kAlphaBitfields ? 4 : 3;
        if (header >= 52) {
            for (size_t k = 0; k < 3; ++k) masks[k] = u32(d + 54 + 4 * k);
            if (header >= 56) masks[3] = u32(d + 66);
        } else {
            if (after + 4 * count > n) return Decoded::refused;
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
        if (count > 256) return Decoded::refused;
        if (after + count * entry > n) count = (n - after) / entry;
        for (size_t k = 0; k < count; ++k) {
            const uint8_t* p = d + after + k * entry;
            palette[k] = 0xFF000000u | p[2] << 16 | p[1] << 8 | p[0];
        }
        for (size_t k = count; k < 256; ++k) palette[k] = 0xFF000000u;
    }

    const uint64_t stride = (static_cast<uint64_t>(width) * bpp + 31) / 32 * 4;
    if (offset > n || stride * height > n - offset) return Decoded::refused;
    const Channel r(masks[0]), g(masks[1]), b(masks[2]), a(masks[3]);
    if (!allocate(out, static_cast<uint32_t>(width), static_cast<uint32_t>(height)))
        return Decoded::no_memory;
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
    return Decoded::ok;
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
