#include "os/clipboard.h"

#include <algorithm>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/file.h"
#include "datatypes/image.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/support.h"
#include "runtime-core/unicode.h"

namespace clipboard {

namespace {

std::u16string text_of(const Cell* string) {
    return unicode::utf8_to_utf16(string::utf8_from_index(string));
}

uint32_t get32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
void put32(uint8_t* p, uint32_t v) {
    for (int k = 0; k < 4; ++k) p[k] = static_cast<uint8_t>(v >> (8 * k));
}

// Header fields and values of the bitmaps exchanged.
constexpr uint32_t kV5HeaderSize = 124;
constexpr uint32_t kCoreHeaderSize = 12, kInfoHeaderSize = 40;
constexpr uint32_t kBitfields = 3, kAlphaBitfields = 6;
constexpr uint32_t kMasks[4] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
constexpr uint32_t kWindowsColourSpace = 0x57696E20; // "Win "
constexpr uint32_t kIntentImages = 4;

} // namespace

Cell* read() {
    Contents contents;
    if (!read_platform(contents)) return logic::push(false);
    switch (contents.kind) {
    case Contents::Kind::text: {
        const std::string utf8 = unicode::utf16_to_utf8(contents.text);
        return string::text_push(kTypeString, utf8.data(), static_cast<uint32_t>(utf8.size()));
    }
    case Contents::Kind::files: {
        Cell* list = block::push_new(static_cast<int32_t>(contents.files.size()));
        for (const std::u16string& path : contents.files) {
            const std::string utf8 = unicode::utf16_to_utf8(local_to_file(path));
            file::add_to_block(list, utf8.data(), static_cast<uint32_t>(utf8.size()));
        }
        return list;
    }
    case Contents::Kind::image: {
        const image_codec::Pixels& picture = contents.image;
        return image::push_from_pixels(picture.words.data(), picture.width, picture.height);
    }
    case Contents::Kind::empty:
        break;
    }
    return none::push();
}

bool write(const Cell* data) {
    Contents contents;
    switch (cell::type(data)) {
    case kTypeNone:
        break;
    case kTypeString:
        contents.kind = Contents::Kind::text;
        contents.text = text_of(data);
        break;
    case kTypeBlock: {
        contents.kind = Contents::Kind::files;
        const int32_t count = block::length_from_index(data);
        for (int32_t i = 0; i < count; ++i) {
            const Cell* item = block::cell_at(data, data->w1 + static_cast<uint32_t>(i));
            const uint8_t type = cell::type(item);
            // A path may not hold the zero that ends it in the list.
            std::u16string path = type == kTypeFile     ? file::to_local_utf16(item)
                                  : type == kTypeString ? text_of(item)
                                                        : std::u16string(1, u'\0');
            if (path.find(u'\0') != std::u16string::npos)
                error::fire(error::kScript, error::script::invalid_arg, {stack::push(*item)});
            contents.files.push_back(std::move(path));
        }
        break;
    }
    case kTypeImage: {
        // A copy of the pixels: the image's buffer may move once anything allocates.
        contents.kind = Contents::Kind::image;
        image_codec::Pixels& picture = contents.image;
        picture.width = image::width(data);
        picture.height = image::height(data);
        const uint32_t* words = image::pixels(data);
        picture.words.assign(words, words + static_cast<size_t>(picture.width) * picture.height);
        break;
    }
    default:
        error::fire(error::kScript, error::script::invalid_arg, {data});
    }
    return write_platform(contents);
}

std::vector<uint8_t> drop_files(const std::vector<std::u16string>& paths) {
    // The header's five words: list offset, drop point x and y, non-client flag, wide flag.
    const uint32_t header[5] = {20, 0, 0, 0, 1};
    std::vector<uint8_t> bytes(sizeof header);
    std::memcpy(bytes.data(), header, sizeof header);
    auto put = [&bytes](char16_t unit) {
        bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<uint8_t>(unit >> 8));
    };
    for (const std::u16string& path : paths) {
        for (char16_t unit : path) put(unit);
        put(0);
    }
    put(0);
    return bytes;
}

std::vector<uint8_t> dib_v5(const uint32_t* words, uint32_t width, uint32_t height) {
    const size_t pixel_bytes = static_cast<size_t>(width) * height * 4;
    std::vector<uint8_t> bytes(kV5HeaderSize + pixel_bytes, 0);
    uint8_t* h = bytes.data();
    put32(h + 0, kV5HeaderSize);
    put32(h + 4, width);
    put32(h + 8, static_cast<uint32_t>(-static_cast<int32_t>(height))); // rows top-down
    h[12] = 1;                                                          // planes
    h[14] = 32;                                                         // bits per pixel
    put32(h + 16, kBitfields);
    put32(h + 20, static_cast<uint32_t>(pixel_bytes));
    for (int k = 0; k < 4; ++k) put32(h + 40 + 4 * k, kMasks[k]);
    put32(h + 56, kWindowsColourSpace);
    put32(h + 108, kIntentImages);
    // The pixel words are stored little endian: B, G, R, opacity, as the masks say.
    uint8_t* at = h + kV5HeaderSize;
    for (size_t i = 0; i < pixel_bytes / 4; ++i, at += 4) put32(at, words[i]);
    return bytes;
}

bool dib_decode(const uint8_t* d, size_t n, image_codec::Pixels& out) {
    out = image_codec::Pixels{};
    if (n < 4) return false;
    const uint32_t header = get32(d);
    if (header != kCoreHeaderSize && (header < kInfoHeaderSize || header > n)) return false;
    if (header == kCoreHeaderSize && n < kCoreHeaderSize) return false;
    uint32_t bpp, compression = 0, colours = 0;
    if (header == kCoreHeaderSize) {
        bpp = d[10] | d[11] << 8;
    } else {
        bpp = d[14] | d[15] << 8;
        compression = get32(d + 16);
        colours = get32(d + 32);
    }
    // Masks stored after a 40-byte header, then the colour table, then the pixels.
    uint64_t offset = header;
    if (header == kInfoHeaderSize && compression == kBitfields) offset += 12;
    if (header == kInfoHeaderSize && compression == kAlphaBitfields) offset += 16;
    const uint64_t entries = bpp <= 8 && colours == 0 ? uint64_t{1} << bpp : colours;
    offset += entries * (header == kCoreHeaderSize ? 3 : 4);
    if (offset > n) return false;

    // The layout written by dib_v5 (and by other programs that keep opacity): the pixel
    // words are the image's own.
    const bool own_layout = header >= 56 && bpp == 32 && compression == kBitfields &&
                            get32(d + 40) == kMasks[0] && get32(d + 44) == kMasks[1] &&
                            get32(d + 48) == kMasks[2] && get32(d + 52) == kMasks[3];
    if (own_layout) {
        const int64_t width = static_cast<int32_t>(get32(d + 4));
        int64_t height = static_cast<int32_t>(get32(d + 8));
        const bool top_down = height < 0;
        if (top_down) height = -height;
        if (width < 0 ||
            !image_codec::acceptable(static_cast<uint64_t>(width), static_cast<uint64_t>(height)))
            return false;
        const uint64_t count = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
        if (count * 4 > n - offset) return false;
        out.width = static_cast<uint32_t>(width);
        out.height = static_cast<uint32_t>(height);
        out.words.resize(count);
        for (uint64_t row = 0; row < static_cast<uint64_t>(height); ++row) {
            // A bottom-up bitmap stores its last row first.
            const uint64_t from = top_down ? row : static_cast<uint64_t>(height) - 1 - row;
            const uint8_t* p = d + offset + from * static_cast<uint64_t>(width) * 4;
            for (uint64_t x = 0; x < static_cast<uint64_t>(width); ++x, p += 4)
                out.words[row * static_cast<uint64_t>(width) + x] = get32(p);
        }
        return true;
    }
    // Anything else: as a BMP file, the bitmap behind a 14-byte file header.
    std::vector<uint8_t> file(14 + n);
    file[0] = 'B';
    file[1] = 'M';
    put32(file.data() + 2, static_cast<uint32_t>(std::min<uint64_t>(file.size(), 0xFFFFFFFF)));
    put32(file.data() + 10, static_cast<uint32_t>(14 + offset));
    std::memcpy(file.data() + 14, d, n);
    return image_codec::decode(file.data(), file.size(), out);
}

std::u16string local_to_file(std::u16string_view local) {
    std::u16string out;
    bool colon = false;
    bool after_separator = false;
    for (size_t i = 0; i < local.size(); ++i) {
        const char16_t c = local[i];
        if (c == u':') {
            // A second colon (or one right after a separator) ends the name.
            if (colon || after_separator) return out;
            colon = true;
            if (i + 1 < local.size() && (local[i + 1] == u'\\' || local[i + 1] == u'/')) ++i;
            out += u'/';
            after_separator = true;
        } else if (c == u'\\' || c == u'/') {
            if (!after_separator) out += u'/';
            after_separator = true;
        } else {
            out += c;
            after_separator = false;
        }
    }
    if (colon) out.insert(out.begin(), u'/');
    return out;
}

} // namespace clipboard
