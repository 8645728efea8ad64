// The system clipboard: text, file lists and pictures go to and from it as string!, block!
// of file! values and image!. Windows uses the system's clipboard in its formats (Unicode
// text, dropped files, the registered picture formats "PNG", "JFIF" and "GIF", device-
// independent bitmaps); the Linux build keeps a clipboard of its own inside the process with
// the same behaviour (a picture is kept as a copy of its pixels), so that what a script
// writes it reads back.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "loading/image-codec.h"
#include "runtime-core/cell.h"

namespace clipboard {

// --- Language side --------------------------------------------------------------------------

// Pushes what the clipboard holds: a string!, a block! of file! values, an image!, none
// when it holds nothing usable, or false when the clipboard stays busy. May collect.
Cell* read();
// Replaces the clipboard's contents by the value: none empties it, a string! is text, a
// block! of file! (or string!) values is a file list, an image! is a picture (all its
// pixels, whatever its index); anything else raises script/invalid-arg. Answers whether the
// clipboard took the data: an image without pixels writes nothing (the clipboard is only
// emptied) and answers false. May collect.
bool write(const Cell* data);

// --- Platform side --------------------------------------------------------------------------

// Contents in the system's terms: text, the local paths of a file list, or a picture.
struct Contents {
    enum class Kind { empty, text, files, image } kind = Kind::empty;
    std::u16string text;
    std::vector<std::u16string> files;
    image_codec::Pixels image;
};

// Reads the clipboard into `contents` (empty when nothing usable is there). False when the
// clipboard could not be opened.
bool read_platform(Contents& contents);
// Empties the clipboard and hands it the contents. False when the clipboard could not be
// opened or would not take the data.
bool write_platform(const Contents& contents);

// --- Shared pieces, tested on every build ---------------------------------------------------

// A dropped-file list as the system's clipboard holds it: a 20-byte header (offset of the
// list 20, the wide-character flag 1, all else 0), each path in UTF-16 with its terminating
// zero, then one more zero.
std::vector<uint8_t> drop_files(const std::vector<std::u16string>& paths);

// A picture as a device-independent bitmap of the fifth header version: a 124-byte header
// (width; the height negated, so rows run top-down; 1 plane; 32 bits per pixel; channel
// masks R 0x00FF0000, G 0x0000FF00, B 0x000000FF, A 0xFF000000; image size width × height ×
// 4; the colour space of the system, intent 4; all else 0) followed by the pixel words.
std::vector<uint8_t> dib_v5(const uint32_t* words, uint32_t width, uint32_t height);

// Reads a device-independent bitmap (header, optional masks and colour table, pixels, with
// no file header). 32-bit pixels with exactly the masks dib_v5 writes are taken as they are
// (rows bottom-up when the height is positive, top-down when it is negative); any other
// layout goes through the BMP decoder of the image backend. False, with `out` empty, for a
// damaged or unsupported bitmap. Never collects.
bool dib_decode(const uint8_t* data, size_t size, image_codec::Pixels& out);

// A local path in the language's file notation ("/" as the only separator, a drive as a
// leading folder): D:\dir\file becomes /D/dir/file, D: becomes /D/, a run of separators
// becomes one, and a second colon ends the name.
std::u16string local_to_file(std::u16string_view local);

} // namespace clipboard
