#include "runtime-core/random.h"

#include <array>

#include "runtime-core/crypto.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/support.h"

namespace random_ {

namespace {

constexpr int kWords = 624;
constexpr int kShift = 397;
constexpr uint32_t kMatrix = 0x9908B0DF;
constexpr uint32_t kUpper = 0x80000000;
constexpr uint32_t kLower = 0x7FFFFFFF;

std::array<uint32_t, kWords> state{};
int index = 0;

// The arithmetic right shift that the sequence is defined with.
uint32_t sar(uint32_t word, int bits) {
    return static_cast<uint32_t>(static_cast<int32_t>(word) >> bits);
}

void twist() {
    for (int k = 0; k < kWords; ++k) {
        const uint32_t y = (state[k] & kUpper) | (state[(k + 1) % kWords] & kLower);
        state[k] = state[(k + kShift) % kWords] ^ sar(y, 1) ^ ((y & 1) ? kMatrix : 0);
    }
    index = 0;
}

int32_t draw(bool secure) {
    return secure ? secure_next() : (next() & 0x7FFFFFFF);
}

int32_t rand_positive(bool secure, int32_t n) {
    const int32_t limit = 2147483647 / n * n;
    int32_t v;
    do {
        v = draw(secure);
    } while (v >= limit);
    return v % n + 1;
}

} // namespace

void init_genrand(uint32_t seed) {
    state[0] = seed;
    for (int i = 1; i < kWords; ++i) {
        const uint32_t p = state[i - 1];
        state[i] = 1812433253u * (p ^ sar(p, 30)) + static_cast<uint32_t>(i);
    }
    index = 0;
}

int32_t next() {
    if (index == kWords) twist();
    uint32_t y = state[index++];
    y ^= sar(y, 11);
    y ^= (y << 7) & 0x9D2C5680;
    y ^= (y << 15) & 0xEFC60000;
    y ^= sar(y, 18);
    return static_cast<int32_t>(y);
}

int32_t secure_next() {
    uint32_t word = 0;
    if (!crypto::random_bytes(&word, sizeof word))
        error::fire(error::kInternal, error::internal::feature_na);
    return static_cast<int32_t>(word & 0x7FFFFFFF);
}

int32_t rand(bool secure, int32_t n) {
    if (n == 0) return 0;
    if (n == INT32_MIN) return -1 - draw(secure);
    if (n < 0) return -rand_positive(secure, -n);
    return rand_positive(secure, n);
}

} // namespace random_
