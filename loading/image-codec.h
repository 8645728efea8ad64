// The image backend: turns encoded PNG, JPEG, BMP, GIF and TIFF data into pixels and pixels
// back into encoded data. image! values (datatypes/image.h) keep their pixels in a
// series buffer of the memory manager; the backend works on plain pixel arrays outside it,
// so that no managed buffer is held while a decoder runs.
//
// Pixel format on both sides: one 32-bit word per pixel, row-major from the top-left,
// opacity in bits 24-31 (255 opaque), R in 16-23, G in 8-15, B in 0-7; in memory (little
// endian) the bytes run B, G, R, opacity.
//
// The Windows build decodes and encodes through the Windows Imaging Component; the Linux
// build through libpng, libjpeg, giflib and libtiff, with BMP read and written here
// (image-codec.cpp). Decoders of outside data never trust a size they read: before any
// platform decoder runs, the size the header declares is checked here, the same way on both
// builds (declared_size_fits): an image wider or taller than kMaxSide, with more pixels than
// max_decode_pixels, or with more pixels than its encoded bytes could possibly produce, is
// refused before anything is allocated for its pixels. An allocation that fails while
// decoding is reported as such (Decoded::no_memory), never as an abort.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "datatypes/image.h"

namespace image_codec {

// Encoder format codes.
enum Format : int32_t { kBmp = 0, kPng = 1, kGif = 2, kJpeg = 3, kTiff = 4 };

// The limits of image! (datatypes/image.h): the largest side, the most pixels.
constexpr uint32_t kMaxSide = image::kMaxSide;
constexpr uint64_t kMaxPixels = image::kMaxPixels;

// The most pixels a decoder accepts (at most kMaxPixels; the fuzz targets lower it).
extern uint64_t max_decode_pixels;

struct Pixels {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint32_t> words; // width × height pixel words
};

// Whether a size fits the limits of a decoder.
inline bool acceptable(uint64_t width, uint64_t height) {
    return width <= kMaxSide && height <= kMaxSide && width * height <= max_decode_pixels;
}

// Prepares the platform's imaging services (the Windows build creates the imaging factory;
// later calls retry when it could not be made). Called once at start-up before image!
// registers.
void init_codecs();

// The format of the data by its signature: PNG (137 "PNG"), JPEG (255 216 255), BMP ("BM"),
// GIF ("GIF87a", "GIF89a"), TIFF ("II*\0", "MM\0*"); -1 when none matches.
int32_t known_format(const uint8_t* data, size_t size);

// What decoding gave: the picture, a refusal (unknown, corrupt, truncated or beyond the
// limits), or a failed allocation.
enum class Decoded { ok, refused, no_memory };

// Whether the picture that the header of data in a format (Format) declares passes the
// limits and could come out of the data: its pixel count is bounded by the most that the
// format's compression can make of the bytes that may hold its coded pixels (all of them; a
// JPEG's from its first scan on). A header that cannot be read, or a compression whose
// output has no such bound, fails. Allocates nothing.
bool declared_size_fits(int32_t format, const uint8_t* data, size_t size);

// Decodes the first frame of encoded data in the format its signature names; `out` is empty
// unless the result is ok. Never collects.
Decoded decode_image(const uint8_t* data, size_t size, Pixels& out);
// The same for data taken as a given format (Format).
Decoded decode_as(int32_t format, const uint8_t* data, size_t size, Pixels& out);
// decode_image, true when it gave a picture.
bool decode(const uint8_t* data, size_t size, Pixels& out);

// Sizes `out` for a picture of width × height pixels, each `fill`; false when the memory
// cannot be had (out is then empty).
bool allocate(Pixels& out, uint32_t width, uint32_t height, uint32_t fill = 0);

// Encodes the pixels in a format (Format). An image with no pixels gives no bytes. False
// for an unknown format code or a failing encoder. Never collects.
bool encode(int32_t format, const uint32_t* words, uint32_t width, uint32_t height,
            std::vector<uint8_t>& out);

// The platform's decoders and encoders behind decode and encode (image-codec-win32.cpp,
// image-codec-posix.cpp); `format` is the one known_format found, and the data's declared
// size has passed declared_size_fits.
Decoded platform_decode(int32_t format, const uint8_t* data, size_t size, Pixels& out);
bool platform_encode(int32_t format, const uint32_t* words, uint32_t width, uint32_t height,
                     std::vector<uint8_t>& out);

// The BMP reader and writer of the Linux build (the Windows build uses the platform's).
// The reader takes uncompressed 1, 4, 8, 16, 24 and 32-bit images and 16 and 32-bit ones
// with channel masks, stored bottom-up or top-down; the writer stores 32 bits per pixel,
// bottom-up, with the channel masks of the pixel format (alpha included).
Decoded bmp_decode(const uint8_t* data, size_t size, Pixels& out);
void bmp_encode(const uint32_t* words, uint32_t width, uint32_t height, std::vector<uint8_t>& out);

} // namespace image_codec
