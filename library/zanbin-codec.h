// The ZANBIN codec's routines: encode* (a value to a ZANBIN binary!, compact or fixed-width)
// and decode (a binary!, or the bytes of a file! or url!, back to values). start-up binds
// them to the words zanbin-encode* and zanbin-decode, from which the codec object of
// library/zanbin-codec.zan takes them into system/codecs/zanbin before unsetting those words.
#pragma once
#include <span>

#include "evaluator/evaluator.h"

namespace zanbin_codec {

// The rows of the routine table, in the order start-up binds them.
std::span<const routines::Routine> table();

} // namespace zanbin_codec
