#include <windows.h>
// after windows.h
#include <wincrypt.h>

#include "runtime-core/crypto.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/support.h"

namespace crypto {

namespace {

HCRYPTPROV provider = 0;

ALG_ID algorithm(int32_t method) {
    switch (method) {
    case kMd5:
        return CALG_MD5;
    case kSha1:
        return CALG_SHA1;
    case kSha256:
        return CALG_SHA_256;
    case kSha384:
        return CALG_SHA_384;
    case kSha512:
        return CALG_SHA_512;
    default:
        return 0;
    }
}

[[noreturn]] void provider_failed() {
    error::fire(error::kInternal, error::internal::no_memory);
}

} // namespace

void acquire_context() {
    if (!provider)
        CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT);
}

Digest::Digest(int32_t method) : method_(method) {
    const ALG_ID id = algorithm(method);
    if (!id) {
        const Cell number{kTypeInteger, 0, static_cast<uint32_t>(method), 0};
        error::fire(error::kScript, error::script::invalid_arg, {&number});
    }
    acquire_context();
    HCRYPTHASH hash = 0;
    if (!provider || !CryptCreateHash(provider, id, 0, 0, &hash)) provider_failed();
    handle_ = static_cast<uintptr_t>(hash);
}

Digest::~Digest() {
    if (handle_) CryptDestroyHash(static_cast<HCRYPTHASH>(handle_));
}

void Digest::update(const uint8_t* bytes, size_t length) {
    // CryptHashData takes a 32-bit count: longer data goes in pieces.
    while (length > 0) {
        const DWORD piece = length > 0x40000000u ? 0x40000000u : static_cast<DWORD>(length);
        if (!CryptHashData(static_cast<HCRYPTHASH>(handle_), bytes, piece, 0)) provider_failed();
        bytes += piece;
        length -= piece;
    }
}

void Digest::finish(uint8_t* out) {
    DWORD size = digest_size(method_);
    if (!CryptGetHashParam(static_cast<HCRYPTHASH>(handle_), HP_HASHVAL, out, &size, 0))
        provider_failed();
}

bool random_bytes(void* out, size_t count) {
    acquire_context(); // callers before start-up's acquisition (the hash seed) get it here
    return provider && count <= 0xFFFFFFFFu &&
           CryptGenRandom(provider, static_cast<DWORD>(count), static_cast<BYTE*>(out));
}

} // namespace crypto
