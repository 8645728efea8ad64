// The image codecs' routines: for PNG, JPEG, BMP, GIF and TIFF an encode (an image! to a
// binary! in the codec's format) and a decode (a binary!, or the bytes of a file!, to an
// image!). The codec objects of system/codecs hold them (system-object.h); the pixels go
// through the image backend (loading/image-codec.h).
#pragma once
#include <span>

#include "evaluator/evaluator.h"

namespace image_codecs {

// An image codec as system/codecs shows it, with its two routine rows.
struct Codec {
    const char* key;       // its word in system/codecs
    const char* name;      // its name field
    const char* mime_type; // its media types, as the source text of a block
    const char* suffixes;  // its file suffixes, as the source text of a block
    routines::Routine encode;
    routines::Routine decode;
};

// The codecs, in the order system/codecs lists them: png, jpeg, bmp, gif and tiff.
std::span<const Codec> codecs();

// The ten rows of the routine table, without global words: encode then decode of each codec,
// in the order of codecs().
std::span<const routines::Routine> table();

} // namespace image_codecs
