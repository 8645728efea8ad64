#include "library/image-codecs.h"

#include <array>
#include <cstdint>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/image.h"
#include "datatypes/none.h"
#include "loading/image-codec.h"
#include "os/io.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/stdio.h"
#include "runtime-core/support.h"

namespace image_codecs {

namespace {

using interp::Status;

[[noreturn]] void bad_media() {
    error::fire(error::kAccess, error::access::bad_media);
}

// Whether the bytes of a binary from its index start with a known image signature.
bool known_format(const Cell* binary) {
    return image_codec::known_format(binary::zs_head(binary), binary::zs_length(binary)) >= 0;
}

// A new image decoded from the binary's bytes (index to tail), pushed on the data stack;
// none when the format is not recognised; access/bad-media when the decoding fails. May
// collect.
Cell* from_binary(const Cell* binary) {
    if (!known_format(binary)) return none::push();
    image_codec::Pixels decoded;
    // Decoding allocates nothing of the memory manager: the bytes stay where they are.
    switch (
        image_codec::decode_image(binary::zs_head(binary), binary::zs_length(binary), decoded)) {
    case image_codec::Decoded::ok:
        break;
    case image_codec::Decoded::no_memory:
        error::fire(error::kInternal, error::internal::no_memory);
    case image_codec::Decoded::refused:
        bad_media();
    }
    return image::push_from_pixels(decoded.words.data(), decoded.width, decoded.height);
}

// A binary! through from_binary; a file! (or another source) through the file services,
// access/cannot-open with the source when it cannot be read. The image is pushed. May
// collect.
Cell* decode(const Cell* source) {
    if (cell::type(source) == kTypeBinary) return from_binary(source);
    Cell* base = stack::top;
    Cell* data =
        cell::type(source) == kTypeFile ? io::read_file(source, -1, -1, true, false) : nullptr;
    if (!data || cell::type(data) != kTypeBinary) {
        stack::top = base;
        error::fire(error::kAccess, error::access::cannot_open, {stack::push(*source)});
    }
    const Cell made = *from_binary(data);
    stack::top = base;
    return stack::push(made);
}

// The image encoded in a format (0 BMP, 1 PNG, 2 GIF, 3 JPEG, 4 TIFF) as a new binary,
// pushed; an image without pixels raises access/bad-media. An unknown format code prints
// "Cannot find image encoder" and pushes none. `where` is not used. May collect.
Cell* encode(const Cell* image, const Cell*, int32_t format) {
    if (format < image_codec::kBmp || format > image_codec::kTiff) {
        print::values_line({"Cannot find image encoder"});
        return none::push();
    }
    const uint32_t width = image::width(image), height = image::height(image);
    if (width * height == 0) bad_media();
    std::vector<uint8_t> bytes;
    if (!image_codec::encode(format, image::pixels(image), width, height, bytes)) bad_media();
    if (bytes.size() > 0x7FFFFFF0u) error::fire(error::kInternal, error::internal::no_memory);
    return binary::load(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

template <int32_t Format> Status encode_routine(const int32_t*) {
    const Cell made = *encode(stack::arguments, stack::arguments + 1, Format);
    stack::set_last(made);
    return Status::normal;
}

Status decode_routine(const int32_t*) {
    const Cell made = *decode(stack::arguments);
    stack::set_last(made);
    return Status::normal;
}

constexpr const char* kEncodeSpec =
    "[\"Encodes an image in the codec's format\" img [image!] where [any-type!]]";
constexpr const char* kDecodeSpec =
    "[\"Decodes an image from binary data or a file\" data [any-type!]]";

const routines::Routine kDecode{nullptr, kDecodeSpec, decode_routine};

// clang-format off
const Codec kCodecs[] = {
    {"png",  "PNG",  "[image/png]",  "[%.png]",                     {nullptr, kEncodeSpec, encode_routine<image_codec::kPng>},  kDecode},
    {"jpeg", "JPEG", "[image/jpeg]", "[%.jpg %.jpeg %.jpe %.jfif]", {nullptr, kEncodeSpec, encode_routine<image_codec::kJpeg>}, kDecode},
    {"bmp",  "BMP",  "[image/bmp]",  "[%.bmp]",                     {nullptr, kEncodeSpec, encode_routine<image_codec::kBmp>},  kDecode},
    {"gif",  "GIF",  "[image/gif]",  "[%.gif]",                     {nullptr, kEncodeSpec, encode_routine<image_codec::kGif>},  kDecode},
    {"tiff", "TIFF", "[image/tiff]", "[%.tif %.tiff]",              {nullptr, kEncodeSpec, encode_routine<image_codec::kTiff>}, kDecode},
};
// clang-format on

} // namespace

std::span<const Codec> codecs() {
    return kCodecs;
}

std::span<const routines::Routine> table() {
    static const auto rows = [] {
        std::array<routines::Routine, 2 * std::size(kCodecs)> r{};
        for (size_t k = 0; k < std::size(kCodecs); ++k) {
            r[2 * k] = kCodecs[k].encode;
            r[2 * k + 1] = kCodecs[k].decode;
        }
        return r;
    }();
    return rows;
}

} // namespace image_codecs
