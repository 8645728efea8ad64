// The LZ codec: a small LZ77 format with a bit-level token stream, used for compressed
// ZANBIN bodies.
//
// Container (integers little-endian):
//   u32 payload size     bytes of block data after this 8-byte header
//   u32 uncompressed     total number of decompressed bytes
//   blocks               each: u32 block size (1 to 1,048,576 decompressed bytes), then a
//                        token bit stream padded with zero bits to a whole byte
//
// Bits are packed least-significant first. A token is a literal (bit 0, then 8 bits) or a
// match (bit 1, a length code, a distance code) that copies bytes from earlier in the same
// block: blocks never refer to each other.
//
// The decoder trusts nothing: it reads only inside the given bytes, checks every match
// against its block, and refuses an uncompressed size that the payload could not produce.
#pragma once
#include <cstdint>
#include <vector>

namespace lz {

constexpr uint32_t kHeaderSize = 8;
constexpr uint32_t kMaxBlock = 1048576;
constexpr uint32_t kMinLength = 3;
constexpr uint32_t kMaxLength = 566;
constexpr uint32_t kMaxDistance = 262144;
// Sources shorter than this are never compressed.
constexpr uint32_t kMinSource = 128;

enum class Status { ok, corrupt, no_memory };

// Expands `length` bytes of compressed data into `out` (resized to the bytes produced).
// `corrupt` for any malformed input or an uncompressed size beyond what the payload can
// expand to; `no_memory` when the output buffer cannot be allocated.
Status decompress(const uint8_t* data, uint32_t length, std::vector<uint8_t>& out);

// Compresses `length` bytes into `destination`, which must hold `length` bytes. Returns the
// compressed length (header included), or -1 when the source is shorter than 128 bytes or
// the result would not be smaller than the source minus 8 bytes.
int32_t compress(const uint8_t* source, uint32_t length, uint8_t* destination);

} // namespace lz
