#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "runtime-core/dtoa.h"
#include "runtime-core/strtod.h"

using number_text::float_to_text;
using number_text::FloatDigits;
using number_text::form_float;
using number_text::kFloatTextSize;
using number_text::kPositionInfNan;
using number_text::kPositionZero;

namespace {

double from_bits(uint64_t bits) {
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

uint64_t to_bits(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return bits;
}

std::string form(double value, int max_digits, bool keep_point_zero) {
    char out[kFloatTextSize + 8];
    std::memset(out, 'X', sizeof out);
    int len = form_float(value, max_digits, keep_point_zero, out);
    EXPECT_EQ(int(std::strlen(out)), len);
    EXPECT_EQ(out[kFloatTextSize], 'X') << "text ran past its buffer";
    return out;
}

// Digits and point position of a decimal in scientific notation ("1.25e+02" -> "125", 3),
// trailing zeros dropped.
void split_scientific(const char* text, std::string& digits, int& position) {
    digits.clear();
    const char* p = text;
    for (; *p != 'e'; ++p) {
        if (*p != '.') digits += *p;
    }
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    position = std::atoi(p + 1) + 1;
}

// Random doubles of every exponent, and the kinds that take special paths: exact powers of
// two, values with few significand bits, integers, subnormals.
double random_double(std::mt19937_64& rng, int i) {
    uint64_t bits = rng() & ~(uint64_t(1) << 63);
    const uint64_t field = rng() % 2047;
    switch (i % 6) {
    case 0:
        return from_bits(bits);
    case 1:
        return from_bits((field << 52) | (bits & ((uint64_t(1) << 52) - 1)));
    case 2:
        return from_bits(field << 52);
    case 3:
        return from_bits((field << 52) | (bits & 0xFFFF000000000ULL));
    case 4:
        return double(bits >> (rng() % 64));
    default:
        return from_bits(bits >> 12); // subnormal
    }
}

} // namespace

struct FormCase {
    double value;
    int max_digits;
    bool keep_point_zero;
    const char* text;
};

TEST(FormFloat, LayoutTable) {
    const double inf = std::numeric_limits<double>::infinity();
    const FormCase cases[] = {
        {1.0, 0, true, "1.0"},
        {0.1, 0, true, "0.1"},
        {1e16, 0, true, "10000000000000000.0"},
        {1e17, 0, true, "1.0e17"},
        {1e17, 0, false, "1e17"},
        {1.5e-7, 0, true, "0.00000015"},
        {1.5e-8, 0, true, "1.5e-8"},
        {123.456, 0, true, "123.456"},
        {-2.5, 0, true, "-2.5"},
        {100.0, 0, false, "100"},
        {100.0, 0, true, "100.0"},
        {1.0 / 3, 0, true, "0.3333333333333333"},
        // Position 17 stays plain, 18 switches; -6 stays plain, -7 switches.
        {12345678901234567e0, 0, true, "12345678901234568.0"},
        {1.5e16, 0, true, "15000000000000000.0"},
        {1.5e17, 0, true, "1.5e17"},
        {1.2e-6, 0, true, "0.0000012"},
        {1e-7, 0, true, "0.0000001"},
        {1e-8, 0, true, "1.0e-8"},
        {1e-8, 0, false, "1e-8"},
        {-1.25e-300, 0, true, "-1.25e-300"},
        {5e-324, 0, true, "5.0e-324"},
        {1.7976931348623157e308, 0, true, "1.7976931348623157e308"},
        {1e23, 0, true, "1.0e23"},
        {-1.2345678901234567e-8, 0, true, "-1.2345678901234567e-8"},
        {-1.2345678901234567e-7, 0, true, "-0.00000012345678901234566"}, // the longest text
        {-1.2345678901234567e-6, 0, true, "-0.0000012345678901234567"},
        // Caps: correctly rounded, carried through nines, half to even.
        {123456789.0, 6, false, "123457000"},
        {123456789.0, 6, true, "123457000.0"},
        {0.9999996, 6, true, "1.0"},
        {0.9999996, 7, true, "0.9999996"},
        {2.5, 1, false, "2"},
        {3.5, 1, false, "4"},
        {0.125, 2, true, "0.12"},
        {0.375, 2, true, "0.38"},
        {1.0 / 3, 6, false, "0.333333"},
        {2.0 / 3, 6, false, "0.666667"},
        {999999.5, 6, false, "1000000"},
        {1234.5678, 6, true, "1234.57"},
        {9.87654321e20, 3, true, "9.88e20"},
        // A cap at or above the shortest length changes nothing, however large.
        {0.1, 30, true, "0.1"},
        {-1.2345678901234567e-6, 40, true, "-0.0000012345678901234567"},
        {1.0 / 3, 1000, true, "0.3333333333333333"},
        {1.0 / 3, std::numeric_limits<int32_t>::max(), true, "0.3333333333333333"},
        {1.0 / 3, -5, true, "0.3333333333333333"},
        // Values without digits.
        {inf, 0, true, "1.#INF"},
        {-inf, 0, false, "-1.#INF"},
        {std::nan(""), 0, true, "1.#NaN"},
        {from_bits(0xFFF8000000000001ULL), 0, true, "1.#NaN"},
        {0.0, 0, true, "0.0"},
        {-0.0, 0, true, "-0.0"},
        {0.0, 0, false, "0"},
        {-0.0, 6, false, "-0"},
    };
    for (const FormCase& c : cases) {
        EXPECT_EQ(form(c.value, c.max_digits, c.keep_point_zero), c.text)
            << c.value << " cap " << c.max_digits;
    }
}

struct DigitsCase {
    double value;
    int max_digits;
    const char* digits;
    int position;
};

TEST(FloatToText, DigitsAndPosition) {
    const DigitsCase cases[] = {
        {5e-324, 0, "5", -323},
        {1.7976931348623157e308, 0, "17976931348623157", 309},
        {9007199254740992.0, 0, "9007199254740992", 16},
        {100000000000000.0, 0, "1", 15},
        {999999999999999.0, 0, "999999999999999", 15},
        {1152921504606846976.0, 0, "1152921504606847", 19}, // 2^60: the narrower gap below
        {1e23, 0, "1", 24},
        {0.1, 0, "1", 0},
        {0.001, 0, "1", -2},
        {123456789.0, 6, "123457", 9},
        {0.9999996, 6, "1", 1},
        {999.0, 2, "1", 4},
        // An integer below 10^15 cut by a cap keeps its digits as they stand.
        {101000.0, 2, "10", 6},
    };
    for (const DigitsCase& c : cases) {
        FloatDigits d = float_to_text(-c.value, c.max_digits, true);
        EXPECT_STREQ(d.text, c.digits) << c.value;
        EXPECT_EQ(d.position, c.position) << c.value;
        EXPECT_EQ(d.length, int(std::strlen(c.digits))) << c.value;
        EXPECT_EQ(d.sign, 1) << c.value;
    }
    EXPECT_EQ(float_to_text(1.0, 0, true).sign, 0);
}

TEST(FloatToText, SpecialPositions) {
    EXPECT_EQ(float_to_text(std::numeric_limits<double>::infinity(), 0, true).position,
              kPositionInfNan);
    EXPECT_EQ(float_to_text(-std::nan(""), 0, true).position, kPositionInfNan);
    EXPECT_STREQ(float_to_text(-std::nan(""), 0, true).text, "1.#NaN");
    EXPECT_EQ(float_to_text(-0.0, 0, true).position, kPositionZero);
    EXPECT_STREQ(float_to_text(-0.0, 0, false).text, "-0");
}

// The shortest digits equal those of std::to_chars and read back to the same bits.
TEST(FloatToText, ShortestMatchesToCharsAndRoundTrips) {
    std::mt19937_64 rng(20240611);
    for (int i = 0; i < 200000; ++i) {
        const double v = random_double(rng, i);
        if (v == 0 || !std::isfinite(v)) continue;
        char ref[64];
        *std::to_chars(ref, ref + sizeof ref, v, std::chars_format::scientific).ptr = '\0';
        std::string digits;
        int position;
        split_scientific(ref, digits, position);
        FloatDigits d = float_to_text(v, 0, true);
        ASSERT_EQ(d.text, digits) << ref;
        ASSERT_EQ(d.position, position) << ref;

        const std::string text = form(i % 2 ? -v : v, 0, i % 3 == 0);
        int32_t unconsumed = -1;
        const double back =
            number_text::parse_float(text.data(), text.data() + text.size(), 0, unconsumed);
        ASSERT_EQ(to_bits(back), to_bits(i % 2 ? -v : v)) << text;
        ASSERT_EQ(unconsumed, 0) << text;
    }
}

// A cap below the shortest length rounds the exact value half to even, as printf does.
TEST(FloatToText, CappedMatchesPrintf) {
    std::mt19937_64 rng(77);
    for (int i = 0; i < 100000; ++i) {
        const double v = random_double(rng, i);
        if (v == 0 || !std::isfinite(v)) continue;
        const int cap = 1 + int(rng() % 17);
        FloatDigits shortest = float_to_text(v, 0, true);
        FloatDigits d = float_to_text(v, cap, true);
        std::string digits = d.text;
        while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
        if (shortest.length <= cap) {
            ASSERT_STREQ(d.text, shortest.text);
            ASSERT_EQ(d.position, shortest.position);
            continue;
        }
        char ref[64];
        std::snprintf(ref, sizeof ref, "%.*e", cap - 1, v);
        std::string ref_digits;
        int position;
        split_scientific(ref, ref_digits, position);
        ASSERT_EQ(digits, ref_digits) << ref << " cap " << cap;
        ASSERT_EQ(d.position, position) << ref << " cap " << cap;
    }
}

// Both builds print the same text: a digest of many texts, the same constant on each.
TEST(FormFloat, SameTextOnBothBuilds) {
    std::mt19937_64 rng(4242);
    uint64_t digest = 14695981039346656037ULL; // FNV-1a
    for (int i = 0; i < 100000; ++i) {
        const double v = random_double(rng, i);
        const int cap = int(rng() % 20);
        char out[kFloatTextSize];
        const int len = form_float(i % 2 ? -v : v, cap, i % 3 != 0, out);
        for (int j = 0; j <= len; ++j) digest = (digest ^ uint8_t(out[j])) * 1099511628211ULL;
    }
    EXPECT_EQ(digest, 4896412435648597827ULL);
}
