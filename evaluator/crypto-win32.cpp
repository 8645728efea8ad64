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

} // namespace crypto
