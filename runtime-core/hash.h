// Hash functions of the hash tables: MurmurHash3 (x86, 32-bit) over bytes and over the code
// points of text, and its 32-bit finaliser alone for integer and node keys.
//
// Text hashes take each code point as one 32-bit block whatever the storage width, so that
// equal texts of one, two or four bytes per code point hash equally; case-insensitive hashes
// map every code point to upper case first.
#pragma once
#include <cstddef>
#include <cstdint>

namespace hash {

// The process-wide seed. The random generator's initialisation sets it once, before the
// memory manager starts, and it never changes afterwards: bucket positions depend on it,
// the result of no operation does.
void set_seed(uint32_t seed);
uint32_t seed();
// The seed of a run: `fixed` when it is a decimal 32-bit number (the start-up passes the
// environment variable ZAN_HASH_SEED, through which tests fix bucket positions), else
// `random` (from the secure random source, so that crafted keys cannot be aimed at one
// probe sequence).
uint32_t start_seed(const char* fixed, uint32_t random);

// MurmurHash3 x86 32-bit of a byte range, with the process seed or a given one.
uint32_t murmur3(const void* bytes, size_t length);
uint32_t murmur3_with_seed(const void* bytes, size_t length, uint32_t seed);

// The 32-bit finaliser of MurmurHash3 (no seed, no length). Inline: the hash tables call it
// on every integer and node key.
inline uint32_t mix_int(uint32_t h) {
    h ^= h >> 16;
    h *= 0x85EBCA6B;
    h ^= h >> 13;
    h *= 0xC2B2AE35;
    h ^= h >> 16;
    return h;
}

// MurmurHash3 x86 32-bit, with the process seed, of `count` code points stored in units of
// `unit_size` bytes (1, 2 or 4; any other size is internal fault 101): each code point is one
// block and the length mixed in is 4 × count. Without `case_sensitive` each code point is
// first mapped to upper case (the case tables must be built).
uint32_t code_points(const void* units, uint32_t count, int unit_size, bool case_sensitive);

} // namespace hash
