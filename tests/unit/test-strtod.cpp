#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "runtime-core/dtoa.h"
#include "runtime-core/strtod.h"
#include "tests/unit/fuzz-corpus.h"

using number_text::parse_float;

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

double parse(const std::string& text, int32_t& unconsumed, int32_t adjust = 0) {
    unconsumed = -1;
    return parse_float(text.data(), text.data() + text.size(), adjust, unconsumed);
}

uint64_t parse_bits(const std::string& text) {
    int32_t unconsumed;
    const double d = parse(text, unconsumed);
    EXPECT_EQ(unconsumed, 0) << text;
    return to_bits(d);
}

// Exact decimal of 2^-1075, half the smallest subnormal: the digits of 5^1075, e-1075.
std::string half_smallest_subnormal_digits() {
    std::vector<int> digits{1}; // least significant first
    for (int i = 0; i < 1075; ++i) {
        int carry = 0;
        for (int& d : digits) {
            const int v = d * 5 + carry;
            d = v % 10;
            carry = v / 10;
        }
        while (carry) {
            digits.push_back(carry % 10);
            carry /= 10;
        }
    }
    std::string text;
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) text += char('0' + *it);
    return text;
}

} // namespace

struct ParseCase {
    const char* text;
    int32_t adjust;
    uint64_t bits;
    int32_t unconsumed;
};

// Each text reads as its bits, leaving its rest.
template <size_t N> void expect_cases(const ParseCase (&cases)[N]) {
    for (const ParseCase& c : cases) {
        int32_t unconsumed;
        const double d = parse(c.text, unconsumed, c.adjust);
        EXPECT_EQ(to_bits(d), c.bits) << '"' << c.text << '"';
        EXPECT_EQ(unconsumed, c.unconsumed) << '"' << c.text << '"';
    }
}

// The UTF-16 reader reads the text (each byte a character) as the char reader does: the same
// bits, the same rest.
testing::AssertionResult readers_agree(const std::string& text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const std::u16string wide(bytes, bytes + text.size());
    int32_t narrow_unconsumed = -1, wide_unconsumed = -1;
    const double narrow = parse(text, narrow_unconsumed);
    const double w = parse_float(wide.data(), wide.data() + wide.size(), 0, wide_unconsumed);
    if (to_bits(w) == to_bits(narrow) && wide_unconsumed == narrow_unconsumed)
        return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << '"' << text << "\": char " << narrow << " leaving " << narrow_unconsumed
           << ", UTF-16 " << w << " leaving " << wide_unconsumed;
}

TEST(ParseFloat, ScanTable) {
    const uint64_t kInf = 0x7FF0000000000000ULL;
    const uint64_t kMinusInf = 0xFFF0000000000000ULL;
    const uint64_t kMinusZero = 0x8000000000000000ULL;
    const uint64_t kOne = 0x3FF0000000000000ULL;
    const ParseCase cases[] = {
        // Zero texts: only zeros give +0.0, others keep the sign.
        {"0", 0, 0, 0},
        {"-0", 0, 0, 0},
        {"000", 0, 0, 0},
        {"-0.0", 0, kMinusZero, 0},
        {"-.0", 0, kMinusZero, 0},
        {"0.000", 0, 0, 0},
        {"-0e5", 0, kMinusZero, 0},
        // The texts of infinities and NaN.
        {"1.#INF", 0, kInf, 0},
        {"-1.#INF", 0, kMinusInf, 0},
        {"1.#NaN", 0, 0x7FF8000000000000ULL, 0},
        {"-1.#NaN", 0, 0x7FF8000000000000ULL, 0},
        {"01.#inf", 0, kInf, 0},
        {"12.#INF", 0, 0x4028000000000000ULL, 4}, // two digits: 12, "#INF" left over
        {"0.#INF", 0, 0, 4},
        {"1.#", 0, kOne, 1}, // no letter after "#": not read past the end
        {"1.#X", 0, kOne, 2},
        // Signs, points, exponents.
        {"+2.5", 0, 0x4004000000000000ULL, 0},
        {".5", 0, 0x3FE0000000000000ULL, 0},
        {"5.", 0, 0x4014000000000000ULL, 0},
        {"1E3", 0, 0x408F400000000000ULL, 0},
        {"1e+3", 0, 0x408F400000000000ULL, 0},
        {"1000e-3", 0, kOne, 0},
        {"1e+", 0, kOne, 0}, // a sign with nothing after it: exponent 0
        {"-1e309", 0, kMinusInf, 0},
        {"1e309", 0, kInf, 0},
        {"1e-400", 0, 0, 0},
        {"-1e-400", 0, 0, 0}, // underflow is +0.0 whatever the sign
        {"1e99999999999999999999", 0, kInf, 0},
        {"1e-99999999999999999999", 0, 0, 0},
        // Unconsumed text after the number.
        {"1e", 0, kOne, 1},
        {"1.5x", 0, 0x3FF8000000000000ULL, 1},
        {"1e5x", 0, 0x40F86A0000000000ULL, 1},
        {"1e-2.5", 0, 0x3F847AE147AE147BULL, 2},
        {"1e 5", 0, kOne, 2},
        {"2.5.5", 0, 0x4004000000000000ULL, 2},
        // The exponent adjust of percent texts.
        {"12", -2, 0x3FBEB851EB851EB8ULL, 0},
        {"12.5e1", -2, 0x3FF4000000000000ULL, 0},
        {"1e-22", 45, 0x44B52D02C7E14AF6ULL, 0},
        // No digit at all: not a number, nothing consumed.
        {"-", 0, 0, 1},
        {".", 0, 0, 1},
        {"+.e5", 0, 0, 4},
        {"e5", 0, 0, 2},
        {"abc", 0, 0, 3},
        {"", 0, 0, 0},
    };
    expect_cases(cases);
}

TEST(ParseFloat, OnlyTheGivenRangeIsRead) {
    const char text[] = "123456";
    int32_t unconsumed;
    EXPECT_EQ(parse_float(text, text + 3, 0, unconsumed), 123.0);
    EXPECT_EQ(unconsumed, 0);
    const char inf[] = "1.#INF";
    EXPECT_EQ(parse_float(inf, inf + 3, 0, unconsumed), 1.0); // "1.#" only
    EXPECT_EQ(unconsumed, 1);
    const char exp[] = "1e55";
    EXPECT_EQ(parse_float(exp, exp + 3, 0, unconsumed), 1e5);
}

TEST(ParseFloat, Utf16TextReadsAlike) {
    const char* texts[] = {"-1.#INF",
                           "1.5x",
                           "-0.0",
                           "2.2250738585072011e-308",
                           "12.#INF",
                           "0.1e-5",
                           "1e",
                           "0000000000000000000001.#INF",
                           "-00000000000000000000000",
                           "18446744073709551616",
                           "9223372036854776832.00000000000000000001",
                           "12345678.9x"};
    for (const char* t : texts) EXPECT_TRUE(readers_agree(t));
    const std::u16string other = u"1.5\u0661"; // a non-ASCII digit ends the number
    int32_t unconsumed;
    EXPECT_EQ(parse_float(other.data(), other.data() + other.size(), 0, unconsumed), 1.5);
    EXPECT_EQ(unconsumed, 1);
}

struct HardCase {
    const char* text;
    uint64_t bits;
};

// Correctly rounded results, ties to even, checked against a correctly rounding strtod.
TEST(ParseFloat, HardCases) {
    const HardCase cases[] = {
        {"2.2250738585072011e-308", 0x000FFFFFFFFFFFFFULL},
        {"2.2250738585072012e-308", 0x0010000000000000ULL},
        {"2.225073858507201136057409796709131975934819546351645648e-308", 0x000FFFFFFFFFFFFFULL},
        {"2.2250738585072014e-308", 0x0010000000000000ULL},
        {"9007199254740993", 0x4340000000000000ULL},
        {"9007199254740995", 0x4340000000000002ULL},
        {"9007199254740993.0000000000000000000000000000000000001", 0x4340000000000001ULL},
        {"90071992547409930000000000000000000000000001e-28", 0x4340000000000001ULL},
        {"1.00000000000000011102230246251565404236316680908203125", 0x3FF0000000000000ULL},
        {"1.00000000000000011102230246251565404236316680908203125000000000000000000001",
         0x3FF0000000000001ULL},
        {"1.00000000000000033306690738754696212708950042724609375", 0x3FF0000000000002ULL},
        {"4.9406564584124654e-324", 0x0000000000000001ULL},
        {"4.9e-324", 0x0000000000000001ULL},
        {"2.4703282292062328e-324", 0x0000000000000001ULL},
        {"2.4703282292062327e-324", 0x0000000000000000ULL},
        {"1e-323", 0x0000000000000002ULL},
        {"1.00000000000000000000000000000000000000000000000000000000000000000000000000000001e-310",
         0x000012688B70E62BULL},
        {"1.7976931348623157e308", 0x7FEFFFFFFFFFFFFFULL},
        {"1.7976931348623158e308", 0x7FEFFFFFFFFFFFFFULL},
        {"1.7976931348623159e308", 0x7FF0000000000000ULL},
        {"179769313486231580793728971405301e276", 0x7FEFFFFFFFFFFFFFULL},
        {"9.9999999999999999999999999999999999999999e307", 0x7FE1CCF385EBC8A0ULL},
        {"8.98846567431158e307", 0x7FE0000000000000ULL},
        {"1e23", 0x44B52D02C7E14AF6ULL},
        {"8.589973e9", 0x42000004B0400000ULL},
        {"7.2057594037927933e16", 0x4370000000000000ULL},
        {"123456789012345678901234567890", 0x45F8EE90FF6C373EULL},
        {"3.0e-22", 0x3B76AAD80C11872CULL},
        {"4.5e22", 0x44A30EE8E7179044ULL},
        {"1.2e37", 0x47A20E3B5B9AD8AAULL},
        {"1.448997445238699", 0x3FF72F17F1F49AADULL},
        // Nineteen digits exactly halfway between two doubles (2^63 + 2^10, 2^63 + 3 * 2^10):
        // ties go to the even significand; one more unit goes up.
        {"9223372036854776832", 0x43E0000000000000ULL},
        {"9223372036854778880", 0x43E0000000000002ULL},
        {"9223372036854776833", 0x43E0000000000001ULL},
        {"92233720368547768320000e-4", 0x43E0000000000000ULL},
        {"0.000000000000000000000000000000000000000000001", 0x3696D601AD376AB9ULL},
        // Trailing zeros after the point, dropped before the exact double operation.
        {"123456.000", 0x40FE240000000000ULL},
        {"1.50e1", 0x402E000000000000ULL},
        {"100e-2", 0x3FF0000000000000ULL},
        {"0.10", 0x3FB999999999999AULL},
        {"9007199254740991.0", 0x433FFFFFFFFFFFFFULL},
        {"-2500.00e-3", 0xC004000000000000ULL},
        {"1234567890123456.00000", 0x43118B54F22AEB00ULL},
    };
    for (const HardCase& c : cases) EXPECT_EQ(parse_bits(c.text), c.bits) << c.text;

    // Exactly half the smallest subnormal ties to even (+0.0); anything above rounds up.
    const std::string half = half_smallest_subnormal_digits();
    EXPECT_EQ(parse_bits(half + "e-1075"), 0u);
    EXPECT_EQ(parse_bits("-" + half + "e-1075"), 0u);
    EXPECT_EQ(parse_bits(half + std::string(22, '0') + "1e-1098"), 1u);

    // Long texts: zeros that only place the point, and digits past the 800th that decide a
    // tie.
    EXPECT_EQ(parse_bits("0." + std::string(2000, '0') + "1e2000"), 0x3FB999999999999AULL);
    EXPECT_EQ(parse_bits("1" + std::string(400, '0') + "e-400"), 0x3FF0000000000000ULL);
    EXPECT_EQ(parse_bits("1." + std::string(900, '0') + "1"), 0x3FF0000000000000ULL);
    const std::string tie = "1.00000000000000011102230246251565404236316680908203125";
    EXPECT_EQ(parse_bits(tie + std::string(900, '0')), 0x3FF0000000000000ULL);
    EXPECT_EQ(parse_bits(tie + std::string(900, '0') + "1"), 0x3FF0000000000001ULL);
}

// Leading zeros are scanned as digits: a text of more than 19 digits, leading zeros
// included, looks for its significant ones, and a 64-bit value that wrapped to 0 is no zero.
TEST(ParseFloat, LeadingZerosAndWrappedValues) {
    const uint64_t kInf = 0x7FF0000000000000ULL;
    const uint64_t kMinusZero = 0x8000000000000000ULL;
    const uint64_t kTwoTo63 = 0x43E0000000000000ULL;
    const ParseCase cases[] = {
        {"00000000000000000000000000001", 0, 0x3FF0000000000000ULL, 0},
        {"0.00000000000000000000000012345", 0, 0x3AC31A5BBB97D2EDULL, 0},
        {"000000000000000000000.000000000000000000000012345e21", 0, 0x3F894855DA272863ULL, 0},
        {"-00000000000000000000000", 0, 0, 0}, // only zeros: +0.0
        {"-00000000000000000000000.0", 0, kMinusZero, 0},
        {"-0.00000000000000000000000e7", 0, kMinusZero, 0},
        {"0000000000000000000001.#INF", 0, kInf, 0},
        {"0000000000000000000000.#INF", 0, 0, 4},
        {"18446744073709551616", 0, 0x43F0000000000000ULL, 0}, // 2^64: wraps to 0
        {"36893488147419103232", 0, 0x4400000000000000ULL, 0}, // 2^65
        {"-18446744073709551616.0", 0, 0xC3F0000000000000ULL, 0},
        {"1844674407370955161.6e1", 0, 0x43F0000000000000ULL, 0},
        // Ties at 20 digits and a twentieth digit or a far tail that decides.
        {"9223372036854776832.0", 0, kTwoTo63, 0},
        {"9223372036854776832.00000000000000000001", 0, kTwoTo63 + 1, 0},
        {"9223372036854776831.99999999999999999999", 0, kTwoTo63, 0},
        {"92233720368547768321", -1, kTwoTo63 + 1, 0},
        {"0.00000000000000000000922337203685477683200000000000000000001e39", 0, kTwoTo63 + 1, 0},
        // Words of digits: full, partial, ending the text, followed by other characters.
        {"12345678", 0, 0x41678C29C0000000ULL, 0},
        {"12345678.9", 0, 0x41678C29DCCCCCCDULL, 0},
        {"1234567890123456789", 0, 0x43B12210F47DE981ULL, 0},
        {"1.23456789012e5", 0, 0x40FE240C9FCB0C02ULL, 0},
        {"1234567.x", 0, 0x4132D68700000000ULL, 1},
        {"0.1234567x9", 0, 0x3FBF9ADBB8F8DA72ULL, 2},
        // Subnormals, overflow, 1e23 and the sign of zero through the short path.
        {"4.9406564584124654e-324", 0, 1, 0},
        {"-2.2250738585072009e-308", 0, 0x800FFFFFFFFFFFFFULL, 0},
        {"-1.7976931348623159e308", 0, 0xFFF0000000000000ULL, 0},
        {"99999999999999999999e289", 0, kInf, 0},
        {"1e23", 0, 0x44B52D02C7E14AF6ULL, 0},
        {"-0.0e-5", 0, kMinusZero, 0},
    };
    expect_cases(cases);
}

// Digits are read eight at a time wherever a word lies inside the range: a range that ends
// inside a run of digits reads none past its end, whatever follows in memory.
TEST(ParseFloat, WordsStayInsideTheRange) {
    std::mt19937_64 rng(99);
    std::string text;
    for (int i = 0; i < 100000; ++i) {
        text.clear();
        const int zeros = int(rng() % 4) == 0 ? int(rng() % 24) : 0;
        text.append(size_t(zeros), '0');
        const int digits = 1 + int(rng() % 24);
        const int point = int(rng() % (digits + 8));
        for (int j = 0; j < digits; ++j) {
            if (j == point) text += '.';
            text += char('0' + rng() % 10);
        }
        if (rng() % 3 == 0) text += "e" + std::to_string(int(rng() % 80) - 40);
        // What follows the range: more digits, or a character that is no digit.
        const std::string after = rng() % 2 ? "123456789" : "x";
        const std::string all = text + after;
        int32_t unconsumed = -1;
        const double d = parse_float(all.data(), all.data() + text.size(), 0, unconsumed);
        double expected = std::strtod(text.c_str(), nullptr);
        if (expected == 0) expected = 0.0; // zeros without a sign here
        ASSERT_EQ(to_bits(d), to_bits(expected)) << text;
        ASSERT_EQ(unconsumed, 0) << text;
    }
}

// Char texts are read a word at a time, UTF-16 ones a character at a time: on any mix of
// the characters that matter, both give the same value and leave the same rest.
TEST(ParseFloat, NarrowAndWideReadAlike) {
    std::mt19937_64 rng(4242);
    const char alphabet[] = "0000123456789..eE+-#INx";
    std::string text;
    for (int i = 0; i < 200000; ++i) {
        text.clear();
        const int length = int(rng() % 32);
        for (int j = 0; j < length; ++j) text += alphabet[rng() % (sizeof alphabet - 1)];
        ASSERT_TRUE(readers_agree(text));
    }
}

// The inputs of the fuzzing corpus: the char and UTF-16 readers agree, and the part read
// reads alone as the same value.
TEST(ParseFloat, FuzzCorpusReplay) {
    int files = 0;
    for (const auto& [path, text] : fuzz_corpus::files("strtod")) {
        EXPECT_TRUE(readers_agree(text)) << path;
        int32_t unconsumed = -1;
        const double narrow = parse(text, unconsumed);
        ASSERT_GE(unconsumed, 0);
        int32_t again_unconsumed = -1;
        const double again =
            parse(text.substr(0, text.size() - size_t(unconsumed)), again_unconsumed);
        if (narrow == narrow) {
            EXPECT_EQ(again, narrow) << path;
        }
        const size_t read = text.size() - size_t(unconsumed);
        if (again_unconsumed == 1) {
            // An "e" with something after it is read without exponent digits, alone at the
            // end it is not.
            EXPECT_EQ(text[read - 1] | 0x20, 'e') << path;
        } else {
            EXPECT_EQ(again_unconsumed, 0) << path;
        }
        ++files;
    }
    EXPECT_GT(files, 0);
}

// Random texts of every length and exponent read as the C library's correctly rounded
// strtod reads them (apart from the sign of underflow, +0.0 here).
TEST(ParseFloat, MatchesStrtod) {
    std::mt19937_64 rng(12345);
    std::string text;
    for (int i = 0; i < 200000; ++i) {
        text.clear();
        if (rng() % 2) text += '-';
        const int digits = 1 + int(rng() % (i % 8 == 0 ? 60 : 20));
        const size_t point = rng() % (digits + 2);
        for (int j = 0; j < digits; ++j) {
            if (size_t(j) == point) text += '.';
            text += char('0' + rng() % 10);
        }
        if (i % 4 != 0) {
            text += 'e';
            text += std::to_string(int(rng() % 700) - 350);
        }
        double expected = std::strtod(text.c_str(), nullptr);
        // +0.0 for underflow and for a text of only zeros.
        const bool only_zeros = text.find_first_not_of("-0") == std::string::npos;
        const bool nonzero_digit = text.find_first_of("123456789") < text.find('e');
        if (expected == 0 && (only_zeros || nonzero_digit)) expected = 0.0;
        ASSERT_EQ(parse_bits(text), to_bits(expected)) << text;
    }
}

// The shortest text of any double reads back as that double: 17 digits or fewer over the
// whole exponent range, subnormals included.
TEST(ParseFloat, ShortestTextsReadBack) {
    std::mt19937_64 rng(777);
    char text[number_text::kFloatTextSize];
    for (int i = 0; i < 200000; ++i) {
        uint64_t bits = rng();
        if (i % 16 == 0) bits &= 0x800FFFFFFFFFFFFFULL; // subnormal
        const double d = from_bits(bits);
        if (!std::isfinite(d) || d == 0) continue;
        const int length = number_text::form_float(d, 0, true, text);
        ASSERT_EQ(parse_bits(std::string(text, length)), bits) << text;
    }
}

// Both builds read the same doubles: a digest of many results, the same constant on each.
TEST(ParseFloat, SameResultsOnBothBuilds) {
    std::mt19937_64 rng(2424);
    uint64_t digest = 14695981039346656037ULL; // FNV-1a
    std::string text;
    for (int i = 0; i < 100000; ++i) {
        text = std::to_string(rng() >> (rng() % 64));
        text.insert(rng() % (text.size() + 1), ".");
        text += "e" + std::to_string(int(rng() % 660) - 330);
        digest = (digest ^ parse_bits(text)) * 1099511628211ULL;
    }
    EXPECT_EQ(digest, 14639789820775282160ULL);
}
