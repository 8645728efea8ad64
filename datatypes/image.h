// image!: a rectangle of 32-bit pixels seen as a series of pixels in row-major order with a
// current index (type id 53, child of series!).
//
// Cell: word 1 the index (a pixel offset from the top-left), word 2 the node of the pixel
// buffer, word 3 the size: height in bits 16-31, width in bits 0-15. The pixel buffer is a
// series buffer of 4-byte units, one per pixel, its tail at width × height units, so the
// series! positions (back, head, head?, index?) work on it unchanged; an image without
// pixels still has a (empty) buffer.
//
// A pixel word holds opacity in bits 24-31 (255 opaque), R in 16-23, G in 8-15 and B in 0-7
// (in memory B, G, R, opacity). The language sees a pixel as the tuple R.G.B.alpha, where
// alpha is transparency: 255 − opacity; a 3-byte tuple written into a pixel is opaque.
//
// Byte views of all the pixels (modes of to_binary and set_pixels): 0 alpha (one byte per
// pixel, 255 − opacity), 1 rgb (R, G, B), 2 argb (the pixel words as stored).
//
// The encoded forms (PNG, JPEG, BMP, GIF, TIFF) are the image backend's
// (loading/image-codec.h), which the library's codec routines call (library/image-codecs.h).
#pragma once
#include <cstdint>

#include "runtime-core/cell.h"

namespace image {

enum Mode : int32_t { kAlpha = 0, kRgb = 1, kArgb = 2 };

// The largest side an image! can have (its cell keeps each side in 16 bits).
constexpr uint32_t kMaxSide = 65535;
// The most pixels an image! can have: its pixel buffer must fit a series buffer.
constexpr uint64_t kMaxPixels = (0x7FFFFFFFu - 2 * 2097152u) / 4;

uint32_t width(const Cell* image);
uint32_t height(const Cell* image);
// The pixel words from the top-left; valid until the next allocation.
uint32_t* pixels(const Cell* image);

// Makes `cell` an image of the size with every pixel `fill` (unset! while the buffer is
// allocated). A side beyond 65535 raises script/out-of-range with the size as a pair; a
// pixel count beyond what a series buffer holds raises internal/no-memory. Both checks come
// before anything is allocated. May collect.
Cell* make_at(Cell* cell, int64_t width, int64_t height, uint32_t fill = 0xFFFFFFFF);
// The same, pushed on the data stack. May collect.
Cell* push_new(int64_t width, int64_t height, uint32_t fill = 0xFFFFFFFF);
// A new image holding a copy of pixel words, pushed on the data stack. May collect.
Cell* push_from_pixels(const uint32_t* words, uint32_t width, uint32_t height);

// A new binary of all the pixels from the top-left in a mode's layout, pushed. May collect.
Cell* to_binary(const Cell* image, int32_t mode);
// Writes all pixels from the top-left from a binary!, tuple! or integer! in a mode (see the
// routines' contract in image.cpp); another value raises script/invalid-arg. The owner is
// told of the change.
void set_pixels(const Cell* image, const Cell* value, int32_t mode);

// Registers image! (type 53, parent series!), its marking rule and the external-resource
// kind "image".
void register_actions();

} // namespace image
