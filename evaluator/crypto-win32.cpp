#include <windows.h>
// after windows.h
#include <wincrypt.h>

#include "evaluator/crypto.h"

namespace crypto {

namespace {
HCRYPTPROV provider = 0;
}

void acquire_context() {
    if (!provider)
        CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT);
}

bool random_bytes(void* out, size_t count) {
    acquire_context(); // callers before start-up's acquisition (the hash seed) get it here
    return provider && count <= 0xFFFFFFFFu &&
           CryptGenRandom(provider, static_cast<DWORD>(count), static_cast<BYTE*>(out));
}

} // namespace crypto
