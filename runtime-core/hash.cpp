#include "runtime-core/hash.h"

#include <charconv>
#include <cstring>

#include "runtime-core/case.h"
#include "runtime-core/runtime.h"

namespace hash {

namespace {

uint32_t process_seed = 0;

constexpr uint32_t kC1 = 0xCC9E2D51;
constexpr uint32_t kC2 = 0x1B873593;

constexpr uint32_t rotl(uint32_t x, int r) {
    return (x << r) | (x >> (32 - r));
}

uint32_t scramble(uint32_t k) {
    return rotl(k * kC1, 15) * kC2;
}

uint32_t add_block(uint32_t h, uint32_t k) {
    return rotl(h ^ scramble(k), 13) * 5 + 0xE6546B64;
}

uint32_t finish(uint32_t h, uint32_t length) {
    return mix_int(h ^ length);
}

template <class Unit>
uint32_t hash_units(const uint8_t* units, uint32_t count, bool case_sensitive) {
    uint32_t h = process_seed;
    for (uint32_t i = 0; i < count; ++i) {
        Unit unit;
        std::memcpy(&unit, units + size_t{i} * sizeof(Unit), sizeof(Unit));
        uint32_t cp = unit;
        if (!case_sensitive) cp = case_::to_upper(cp);
        h = add_block(h, cp);
    }
    return finish(h, count * 4);
}

} // namespace

void set_seed(uint32_t seed) {
    process_seed = seed;
}

uint32_t seed() {
    return process_seed;
}

uint32_t start_seed(const char* fixed, uint32_t random) {
    if (!fixed) return random;
    const char* const end = fixed + std::strlen(fixed);
    uint32_t value = 0;
    const auto [at, error] = std::from_chars(fixed, end, value);
    return error == std::errc() && at == end && at != fixed ? value : random;
}

uint32_t murmur3_with_seed(const void* bytes, size_t length, uint32_t seed) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    uint32_t h = seed;
    const size_t blocks = length / 4;
    for (size_t i = 0; i < blocks; ++i) {
        uint32_t k;
        std::memcpy(&k, p + i * 4, 4); // little-endian on both builds
        h = add_block(h, k);
    }
    const uint8_t* tail = p + blocks * 4;
    uint32_t k = 0;
    switch (length & 3) {
    case 3:
        k ^= uint32_t{tail[2]} << 16;
        [[fallthrough]];
    case 2:
        k ^= uint32_t{tail[1]} << 8;
        [[fallthrough]];
    case 1:
        h ^= scramble(k ^ tail[0]);
    }
    return finish(h, static_cast<uint32_t>(length));
}

uint32_t murmur3(const void* bytes, size_t length) {
    return murmur3_with_seed(bytes, length, process_seed);
}

uint32_t code_points(const void* units, uint32_t count, int unit_size, bool case_sensitive) {
    const auto* p = static_cast<const uint8_t*>(units);
    switch (unit_size) {
    case 1:
        return hash_units<uint8_t>(p, count, case_sensitive);
    case 2:
        return hash_units<uint16_t>(p, count, case_sensitive);
    case 4:
        return hash_units<uint32_t>(p, count, case_sensitive);
    default:
        runtime::quit(runtime::kErrorNoSwitch, ZAN_CALLER_ADDRESS());
    }
}

} // namespace hash
