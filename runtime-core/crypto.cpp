// The portable half of the crypto module: CRC-32, Adler-32, the internet checksum and HMAC
// over the platform's digests.
#include "runtime-core/crypto.h"

#include <cstring>

#include "runtime-core/error-ids.h"
#include "runtime-core/support.h"

namespace crypto {

namespace {

// The CRC-32 table, built on first use and kept for the life of the process.
struct Crc32Table {
    uint32_t entry[256];
    Crc32Table() {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entry[n] = c;
        }
    }
};

const uint32_t* crc32_table() {
    static const Crc32Table table;
    return table.entry;
}

} // namespace

uint32_t digest_size(int32_t method) {
    switch (method) {
    case kMd5:
        return 16;
    case kSha1:
        return 20;
    case kSha256:
        return 32;
    case kSha384:
        return 48;
    case kSha512:
        return 64;
    default:
        return 0;
    }
}

uint32_t hmac_block_size(int32_t method) {
    return method == kSha384 || method == kSha512 ? 128 : 64;
}

uint32_t crc32(const uint8_t* bytes, size_t length, uint32_t crc) {
    const uint32_t* table = crc32_table();
    uint32_t c = ~crc;
    for (size_t i = 0; i < length; ++i) c = table[(c ^ bytes[i]) & 0xFF] ^ (c >> 8);
    return ~c;
}

uint32_t adler32(const uint8_t* bytes, size_t length, uint32_t adler) {
    // 3854 bytes of 255 cannot carry either sum past 32 bits between reductions.
    constexpr uint32_t kBase = 65521, kRun = 3854;
    uint32_t s1 = adler & 0xFFFF, s2 = adler >> 16;
    while (length > 0) {
        const size_t run = length < kRun ? length : kRun;
        for (size_t i = 0; i < run; ++i) {
            s1 += bytes[i];
            s2 += s1;
        }
        s1 %= kBase;
        s2 %= kBase;
        bytes += run;
        length -= run;
    }
    return (s2 << 16) | s1;
}

uint32_t tcp_checksum(const uint8_t* bytes, size_t length) {
    // Summed in 64 bits, then folded: the same result as 32-bit sums folded on the way, for
    // any length a series can hold.
    uint64_t sum = 0;
    size_t i = 0;
    for (; i + 1 < length; i += 2) sum += (uint32_t(bytes[i]) << 8) | bytes[i + 1];
    if (i < length) sum += uint32_t(bytes[i]) << 8;
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return ~static_cast<uint32_t>(sum) & 0xFFFF;
}

void crypt_hash(const uint8_t* bytes, size_t length, int32_t method, uint8_t* out) {
    Digest digest(method);
    digest.update(bytes, length);
    digest.finish(out);
}

void hmac(const uint8_t* data, size_t length, const uint8_t* key, size_t key_length, int32_t method,
          uint8_t* out) {
    const uint32_t block = hmac_block_size(method);
    uint8_t padded[128] = {};
    if (key_length > block)
        crypt_hash(key, key_length, method, padded);
    else if (key_length > 0)
        std::memcpy(padded, key, key_length);
    uint8_t pad[128];
    for (uint32_t i = 0; i < block; ++i) pad[i] = padded[i] ^ 0x36;
    uint8_t inner[kMaxDigest];
    {
        Digest digest(method);
        digest.update(pad, block);
        digest.update(data, length);
        digest.finish(inner);
    }
    for (uint32_t i = 0; i < block; ++i) pad[i] = padded[i] ^ 0x5C;
    Digest digest(method);
    digest.update(pad, block);
    digest.update(inner, digest_size(method));
    digest.finish(out);
}

} // namespace crypto
