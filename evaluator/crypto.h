// The platform's cryptographic provider (hashes and secure random bytes).
#pragma once

namespace crypto {

// Acquires the process's provider once, at platform initialisation.
void acquire_context();

} // namespace crypto
