// Double to decimal text: the shortest digits that read back as the same double (or at most a
// given number of digits, correctly rounded), and the layout that float!, percent! and money!
// print. Both builds produce identical text.
#pragma once
#include <array>
#include <cstdint>

namespace number_text {

// Position codes of float_to_text for values that have no digits: the text is final.
constexpr int32_t kPositionInfNan = 9999;
constexpr int32_t kPositionZero = 9998;

// No double needs more than 17 digits to read back, and every digit cap stops there too, so
// no result is longer than this.
constexpr int kMaxDigits = 17;

// Decimal digits of a double: the value is 0.d1d2...dn times 10^position.
struct FloatDigits {
    // NUL-terminated digits, or for an infinity, a NaN or a zero the final text
    // ("1.#INF", "-1.#INF", "1.#NaN", "0.0", "-0.0", "0", "-0").
    char text[kMaxDigits + 1];
    int32_t position; // kPositionInfNan or kPositionZero for the special texts
    int32_t sign;     // 1 when the value is negative (sign bit set), else 0
    int32_t length;   // characters in text
};

// max_digits <= 0: the shortest digits that read back as the same double (the closest to
// the value among equally short ones, the even one on a tie). max_digits > 0: the same when
// they are at most that many, else the value correctly rounded (half to even) to max_digits
// digits; only an integer below 10^15 cut so may keep zeros at the end of its digits.
// zero_with_point picks "0.0" / "-0.0" rather than "0" / "-0" for a zero. NaN has sign 0.
FloatDigits float_to_text(double value, int32_t max_digits, bool zero_with_point);

// --- Shared with the text-to-double conversion ---------------------------------------------

struct U128 {
    uint64_t hi;
    uint64_t lo;
};

// The full product of two 64-bit integers.
inline U128 mul_64x64(uint64_t a, uint64_t b) {
#ifdef __SIZEOF_INT128__
    __extension__ using u128 = unsigned __int128;
    u128 p = u128(a) * b;
    return {uint64_t(p >> 64), uint64_t(p)};
#else
    uint64_t a_lo = uint32_t(a), a_hi = a >> 32, b_lo = uint32_t(b), b_hi = b >> 32;
    uint64_t p0 = a_lo * b_lo, p1 = a_lo * b_hi, p2 = a_hi * b_lo, p3 = a_hi * b_hi;
    uint64_t mid = (p0 >> 32) + uint32_t(p1) + uint32_t(p2);
    return {p3 + (p1 >> 32) + (p2 >> 32) + (mid >> 32), (mid << 32) | uint32_t(p0)};
#endif
}

// Powers of ten as 128-bit significands with the top bit set, one above the truncated value:
// kPow10Table[e - kPow10Min] = floor(10^e * 2^(127 - floor(log2 10^e))) + 1.
constexpr int kPow10Min = -342;
constexpr int kPow10Max = 324;
using Pow10Table = std::array<U128, kPow10Max - kPow10Min + 1>;
extern const Pow10Table kPow10Table;

// Room for the longest text of form_float with its NUL: "-0.000000" and 17 digits.
constexpr int kFloatTextSize = 32;

// Writes the printed form of a double into `out` (kFloatTextSize bytes), NUL-terminated, and
// returns its length. Positions 1 to 17 and -6 to 0 print plainly (123.456, 0.00000015,
// 10000000000000000.0), others as one digit, the rest after a point and "e" with the
// exponent (1.0e17, 1.5e-8). A point left last is completed to ".0" with keep_point_zero,
// else dropped. Infinities, NaN and zeros print as float_to_text's texts.
int form_float(double value, int32_t max_digits, bool keep_point_zero, char* out);

} // namespace number_text
