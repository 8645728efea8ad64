// The crypto module: the checksums and hashes behind the `checksum` native, the CRC-32 and
// Adler-32 of the deflate framings, and the platform's cryptographic provider (the digests
// and secure random bytes).
//
// CRC-32, Adler-32, the internet checksum and HMAC are this module's own code; the five
// digests come from the platform (CryptoAPI on Windows, libcrypto elsewhere).
#pragma once
#include <cstddef>
#include <cstdint>

namespace crypto {

// Method numbers, in the order of crypto/method-id.
enum Method : int32_t {
    kTcp = 0,
    kCrc32 = 1,
    kMd5 = 2,
    kSha1 = 3,
    kSha256 = 4,
    kSha384 = 5,
    kSha512 = 6,
};

// Digest size in bytes of md5 to sha512; HMAC block size of the same.
uint32_t digest_size(int32_t method);
uint32_t hmac_block_size(int32_t method);
constexpr uint32_t kMaxDigest = 64;

// CRC-32 of ISO 3309 / RFC 1952 (reflected polynomial 0xEDB88320), continued from `crc`
// (0 to start).
uint32_t crc32(const uint8_t* bytes, size_t length, uint32_t crc = 0);
// Adler-32 of RFC 1950, continued from `adler` (1 to start).
uint32_t adler32(const uint8_t* bytes, size_t length, uint32_t adler = 1);
// The internet checksum of RFC 1071 (0 to 65535).
uint32_t tcp_checksum(const uint8_t* bytes, size_t length);

// A digest being computed by the platform's provider. A method outside md5 to sha512
// raises script/invalid-arg with its number.
class Digest {
public:
    explicit Digest(int32_t method);
    ~Digest();
    Digest(const Digest&) = delete;
    Digest& operator=(const Digest&) = delete;
    void update(const uint8_t* bytes, size_t length);
    // Writes digest_size(method) bytes; the digest takes no more data afterwards.
    void finish(uint8_t* out);

private:
    int32_t method_;
    uintptr_t handle_ = 0;
};

// The digest of `length` bytes into `out` (kMaxDigest bytes of room).
void crypt_hash(const uint8_t* bytes, size_t length, int32_t method, uint8_t* out);
// HMAC of RFC 2104 over the method's digest into `out`.
void hmac(const uint8_t* data, size_t length, const uint8_t* key, size_t key_length, int32_t method,
          uint8_t* out);
// Acquires the process's provider once, at platform initialisation.
void acquire_context();

// Fills `count` bytes from the platform's secure random source; answers false when the
// source failed (the bytes are then unspecified).
bool random_bytes(void* out, size_t count);

} // namespace crypto
