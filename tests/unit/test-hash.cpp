#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/init.h"
#include "runtime-core/case.h"
#include "runtime-core/crypto.h"
#include "runtime-core/hash.h"

namespace {

class Hash : public testing::Test {
protected:
    void SetUp() override {
        case_::init();
        saved_seed_ = hash::seed();
        hash::set_seed(0);
    }
    void TearDown() override { hash::set_seed(saved_seed_); }
    uint32_t saved_seed_ = 0;
};

// The same code points stored `unit_size` bytes per unit.
std::vector<uint8_t> units_of(const std::u32string& text, int unit_size) {
    std::vector<uint8_t> out(text.size() * unit_size);
    for (size_t i = 0; i < text.size(); ++i) {
        const uint32_t cp = text[i];
        std::memcpy(out.data() + i * unit_size, &cp, unit_size); // little-endian
    }
    return out;
}

uint32_t text_hash(const std::u32string& text, int unit_size, bool case_sensitive) {
    const auto units = units_of(text, unit_size);
    return hash::code_points(units.data(), static_cast<uint32_t>(text.size()), unit_size,
                             case_sensitive);
}

} // namespace

// Published MurmurHash3 x86 32-bit vectors, tails of 0 to 3 bytes included.
TEST_F(Hash, Murmur3ReferenceVectors) {
    struct Vector {
        std::string bytes;
        uint32_t seed, hash;
    };
    const Vector vectors[] = {
        {"", 0, 0},
        {"", 1, 0x514E28B7},
        {"", 0xFFFFFFFF, 0x81F16F39},
        {"hello", 0, 0x248BFA47},
        {"Hello, world!", 1234, 0xFAF6CDB3},
        {"The quick brown fox jumps over the lazy dog", 0, 0x2E4FF723},
        {std::string("\0\0\0\0", 4), 0, 0x2362F9DE},
        {"\xFF\xFF\xFF\xFF", 0, 0x76293B50},
        {"\x21\x43\x65\x87", 0, 0xF55B516B},
        {"\x21\x43\x65", 0, 0x7E4A8634},
        {"\x21\x43", 0, 0xA0F7B07A},
        {"\x21", 0, 0x72661CF4},
        {"aaaa", 0x9747B28C, 0x5A97808A},
        {"abcd", 0x9747B28C, 0xF0478627},
    };
    for (const Vector& v : vectors)
        EXPECT_EQ(hash::murmur3_with_seed(v.bytes.data(), v.bytes.size(), v.seed), v.hash)
            << '"' << v.bytes << "\" seed " << v.seed;
}

TEST_F(Hash, Murmur3UsesTheProcessSeed) {
    hash::set_seed(1234);
    EXPECT_EQ(hash::murmur3("Hello, world!", 13), 0xFAF6CDB3u);
    hash::set_seed(1);
    EXPECT_EQ(hash::murmur3("", 0), 0x514E28B7u);
}

TEST_F(Hash, MixIntIsTheFinaliserAlone) {
    EXPECT_EQ(hash::mix_int(0), 0u);
    EXPECT_EQ(hash::mix_int(1), 0x514E28B7u); // the hash of no bytes with seed 1
    EXPECT_EQ(hash::mix_int(0xDEADBEEF), 0x0DE5C6A9u);
    hash::set_seed(99);
    EXPECT_EQ(hash::mix_int(1), 0x514E28B7u);
}

// Each code point is one little-endian 32-bit block: the hash of a text is the hash of its
// four-byte form, whatever width holds it.
TEST_F(Hash, TextHashesAlikeInEveryWidth) {
    const std::u32string texts[] = {U"", U"abc", U"The quick brown fox", U"\u00FF\u00E9\u00DF",
                                    U"caf\u00E9 \u03C3\u03BF\u03C6\u03AF\u03B1"};
    for (const auto& text : texts)
        for (bool case_sensitive : {true, false}) {
            const uint32_t four = text_hash(text, 4, case_sensitive);
            EXPECT_EQ(text_hash(text, 2, case_sensitive), four);
            bool latin1 = true;
            for (char32_t c : text) latin1 &= c <= 0xFF;
            if (latin1) {
                EXPECT_EQ(text_hash(text, 1, case_sensitive), four);
            }
        }
    const auto abc = units_of(U"abc", 4);
    EXPECT_EQ(text_hash(U"abc", 1, true), hash::murmur3(abc.data(), abc.size()));
    EXPECT_EQ(text_hash(U"abc", 1, true), 0x9BF65D80u);
    hash::set_seed(77);
    EXPECT_EQ(text_hash(U"abc", 2, true), hash::murmur3_with_seed(abc.data(), abc.size(), 77));
}

TEST_F(Hash, TextHashFoldsCaseUnlessCaseMatters) {
    EXPECT_EQ(text_hash(U"abc", 1, false), text_hash(U"ABC", 1, false));
    EXPECT_EQ(text_hash(U"abc", 1, false), text_hash(U"ABC", 4, true));
    EXPECT_EQ(text_hash(U"ABC", 1, true), 0x4273B6E4u);
    EXPECT_NE(text_hash(U"abc", 1, true), text_hash(U"ABC", 1, true));
    // Folding goes through the case tables: sharp s and "S", the y with diaeresis and its
    // capital, a supplementary pair.
    EXPECT_EQ(text_hash(U"\u00DF", 1, false), text_hash(U"s", 1, false));
    EXPECT_EQ(text_hash(U"\u00FF", 1, false), text_hash(U"\u0178", 2, false));
    EXPECT_EQ(text_hash(U"\U0001E922", 4, false), text_hash(U"\U0001E900", 4, false));
    EXPECT_NE(text_hash(U"\U0001E922", 4, true), text_hash(U"\U0001E900", 4, true));
}

TEST_F(Hash, UnitSizeOtherThan124IsAnInternalFault) {
    const uint8_t units[6] = {'a', 'b', 'c', 'd', 'e', 'f'};
    EXPECT_EXIT(hash::code_points(units, 2, 3, true), testing::ExitedWithCode(101),
                "no value matched in SWITCH");
}

// The seed of a run: a decimal 32-bit number in the environment fixes it; anything else
// leaves the secure random value.
TEST(HashSeed, FixedOnlyByAWholeDecimalNumber) {
    constexpr uint32_t kRandom = 0xC0FFEE01;
    const struct {
        const char* text;
        uint32_t seed;
    } cases[] = {
        {nullptr, kRandom},      {"0", 0},      {"12345", 12345}, {"4294967295", 0xFFFFFFFF},
        {"4294967296", kRandom}, {"", kRandom}, {"12x", kRandom}, {"-1", kRandom},
        {" 7", kRandom},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hash::start_seed(c.text, kRandom), c.seed) << (c.text ? c.text : "(absent)");
}

namespace {
void set_seed_variable(const char* value) {
#ifdef _WIN32
    _putenv((std::string("ZAN_HASH_SEED=") + (value ? value : "")).c_str());
#else
    if (value)
        setenv("ZAN_HASH_SEED", value, 1);
    else
        unsetenv("ZAN_HASH_SEED");
#endif
}
} // namespace

// In child processes: the start-up takes the seed from the environment when it is given
// there, and otherwise draws it (a draw of 0, the seed that once was fixed, would be a 1 in
// 2^32 fluke).
TEST(HashSeedDeathTest, StartUpSeedsTheHashes) {
    const auto seed_of_start_up = [](const char* value) {
        set_seed_variable(value);
        runtime::init();
        return hash::seed();
    };
    EXPECT_EXIT(std::exit(seed_of_start_up("4242") == 4242 ? 0 : 1), testing::ExitedWithCode(0),
                "");
    EXPECT_EXIT(std::exit(seed_of_start_up(nullptr) != 0 ? 0 : 1), testing::ExitedWithCode(0), "");
}

// Secure random bytes: two draws of 128 bits differ.
TEST(HashSeed, SecureRandomBytesDiffer) {
    uint8_t a[16] = {}, b[16] = {};
    ASSERT_TRUE(crypto::random_bytes(a, sizeof a));
    ASSERT_TRUE(crypto::random_bytes(b, sizeof b));
    EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
}
