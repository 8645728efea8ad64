#include <openssl/evp.h>
#include <sys/random.h>

#include <cerrno>
#include <cstdint>

#include "runtime-core/crypto.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/support.h"

namespace crypto {

namespace {

const EVP_MD* algorithm(int32_t method) {
    switch (method) {
    case kMd5:
        return EVP_md5();
    case kSha1:
        return EVP_sha1();
    case kSha256:
        return EVP_sha256();
    case kSha384:
        return EVP_sha384();
    case kSha512:
        return EVP_sha512();
    default:
        return nullptr;
    }
}

EVP_MD_CTX* context(uintptr_t handle) {
    return reinterpret_cast<EVP_MD_CTX*>(handle);
}

[[noreturn]] void provider_failed() {
    error::fire(error::kInternal, error::internal::no_memory);
}

} // namespace

// The Linux build hashes with libcrypto and draws secure bytes with getrandom; neither
// needs a provider handle.
void acquire_context() {}

Digest::Digest(int32_t method) : method_(method) {
    const EVP_MD* md = algorithm(method);
    if (!md) {
        const Cell number{kTypeInteger, 0, static_cast<uint32_t>(method), 0};
        error::fire(error::kScript, error::script::invalid_arg, {&number});
    }
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    if (!ctx) provider_failed();
    if (EVP_DigestInit_ex(ctx, md, nullptr) != 1) {
        EVP_MD_CTX_free(ctx);
        provider_failed();
    }
    handle_ = reinterpret_cast<uintptr_t>(ctx);
}

Digest::~Digest() {
    EVP_MD_CTX_free(context(handle_));
}

void Digest::update(const uint8_t* bytes, size_t length) {
    if (EVP_DigestUpdate(context(handle_), bytes, length) != 1) provider_failed();
}

void Digest::finish(uint8_t* out) {
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(context(handle_), out, &size) != 1) provider_failed();
}

bool random_bytes(void* out, size_t count) {
    auto* at = static_cast<uint8_t*>(out);
    while (count > 0) {
        const ssize_t got = getrandom(at, count, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        at += got;
        count -= static_cast<size_t>(got);
    }
    return true;
}

} // namespace crypto
