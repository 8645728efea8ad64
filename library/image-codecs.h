// The image codecs' routines: for PNG, JPEG, BMP, GIF and TIFF an encode (an image! to a
// binary! in the codec's format) and a decode (a binary!, or the bytes of a file!, to an
// image!). The codec objects of system/codecs hold them (system-object.h); the pixels go
// through the image backend (loading/image-codec.h).
#pragma once
#include <span>

#include "evaluator/evaluator.h"

namespace image_codecs {

// The ten rows of the routine table, without global words: encode then decode of png, jpeg,
// bmp, gif and tiff.
std::span<const routines::Routine> table();

} // namespace image_codecs
