// The platform's cryptographic provider (hashes and secure random bytes).
#pragma once
#include <cstddef>

namespace crypto {

// Acquires the process's provider once, at platform initialisation.
void acquire_context();

// Fills `count` bytes from the platform's secure random source; answers false when the
// source failed (the bytes are then unspecified).
bool random_bytes(void* out, size_t count);

} // namespace crypto
