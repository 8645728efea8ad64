// Deflate (RFC 1951) with the zlib (RFC 1950) and gzip (RFC 1952) framings: the codecs behind
// the `compress` and `decompress` natives.
//
// The encoder is small: one final block of fixed Huffman codes and a 4,096-entry match cache
// on the stack. The decoder reads every deflate stream.
//
// Every entry writes into `out` while below the capacity given through `size` and keeps
// counting beyond it; on return `size` holds the size the output needs (or produced), and
// the answer is a status: 0 done, 1 the capacity was too small (`size` says how much is
// needed), 2 and above the input is invalid (or, for the framing encoders, 2: the capacity
// is hopelessly small). Nothing is written at or past the capacity. No entry allocates.
#pragma once
#include <cstdint>

namespace compress {

enum Status : int32_t {
    kDone = 0,
    kTooSmall = 1,
    kInvalid = 2,        // bad framing, a bad dynamic header, a code that is not in the tables
    kStoredPastEnd = 3,  // a stored block longer than the input
    kBadBlockType = 4,   // block type 3
    kDistanceTooFar = 5, // a distance reaching before the start of the output
};

// The canonical symbols of the method words zlib, deflate and gzip.
struct MethodSymbols {
    uint32_t zlib, deflate, gzip;
};
extern MethodSymbols symbol;

// Makes the method words once, in the order above. May collect.
void init();

// Encoders: a raw deflate stream, and the two framings.
int32_t deflate(uint8_t* out, uint64_t* size, const uint8_t* in, uint32_t length);
int32_t zlib_encode(uint8_t* out, uint64_t* size, const uint8_t* in, uint32_t length);
// Input that is already whole gzip data (every member decodes and its trailer checks out)
// is copied unchanged.
int32_t gzip_encode(uint8_t* out, uint64_t* size, const uint8_t* in, uint32_t length);

// Decoders; with a null `out` they only measure. A stream whose codes run past its end is
// invalid.
int32_t inflate(uint8_t* out, uint64_t* size, const uint8_t* in, uint32_t length);
int32_t zlib_decode(uint8_t* out, uint64_t* size, const uint8_t* in, uint32_t length);
// Every member of the data is decoded and their outputs concatenated; each member's size
// field must be the size it produced and its CRC-32 that of its output. A measuring run
// decodes without writing (a false size field buys nothing) and answers the total.
int32_t gzip_decode(uint8_t* out, uint64_t* size, const uint8_t* in, uint32_t length);

} // namespace compress
