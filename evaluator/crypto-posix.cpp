#include "evaluator/crypto.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>

namespace crypto {

// The Linux build hashes with libcrypto and draws secure bytes with getrandom; neither
// needs a provider handle.
void acquire_context() {}

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
