#include "runtime-core/strtod.h"

#include <bit>
#include <charconv>
#include <cstring>
#include <limits>

#include "runtime-core/dtoa.h"

// The scan takes every digit, leading zeros included, into one 64-bit value (which wraps
// past 19 digits) and notes where the digits before and after the point lie. Three ways to
// the double, the first that applies:
// - up to 2^53 with a power of ten that is exact in a double, one correctly rounded double
//   operation (Clinger's fast path);
// - otherwise 19 digits times a 128-bit power of ten (the table that dtoa.h shares), whose
//   top bits decide the rounding unless they sit right at a halfway point (Eisel and
//   Lemire's method); a text of more digits keeps its first 19 significant ones, and the
//   two ends of that truncation must round alike;
// - the rest (halfway cases, more digits than can be told apart) goes to std::from_chars,
//   which rounds correctly for any digit count. No double halfway point has more than 767
//   significant digits, so digits past 800 only matter as "something non-zero follows".

namespace number_text {

namespace {

// Exact powers of ten in a double.
constexpr double kExactPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                  1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr uint64_t kTwoTo53 = uint64_t(1) << 53;
constexpr int kMantissaDigits = 19;

// Digits kept for the exact conversion; one more digit "1" stands for a non-zero tail.
constexpr int kKeptDigits = 800;

// Beyond this an exponent only ever means overflow or underflow.
constexpr int64_t kExponentLimit = 100000000;

template <typename Ch> inline bool is_digit(Ch c) {
    return c >= Ch('0') && c <= Ch('9');
}

// Runs of digits in char texts on little-endian machines are read eight at a time, the
// first character in the lowest byte of a word.
constexpr bool kWordScan = std::endian::native == std::endian::little;
constexpr uint64_t kZeros = 0x3030303030303030;
constexpr uint64_t kHighBits = 0x8080808080808080;
constexpr uint32_t kPow10U32[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};

// The high bit of each byte of v that is not an ASCII digit. Carries and borrows only run
// towards later characters, so the lowest bit set is exactly the first non-digit.
inline uint64_t non_digits(uint64_t v) {
    return ((v + 0x4646464646464646) | (v - kZeros)) & kHighBits;
}

// The value of eight digits 0 to 9, one a byte, the first in the lowest byte.
inline uint32_t eight_digit_value(uint64_t v) {
    v = v * 10 + (v >> 8);
    return uint32_t(((v & 0x000000FF000000FF) * (100 + (uint64_t(1000000) << 32)) +
                     ((v >> 16) & 0x000000FF000000FF) * (1 + (uint64_t(10000) << 32))) >>
                    32);
}

// Adds the digits at s (up to end) to `value` (ten times the value plus the digit, wrapping
// past 19 digits); returns where they stop. kWords: eight at a time while they last, for runs
// that are often long (those after the point); short runs go faster one by one.
template <bool kWords = true, typename Ch>
[[gnu::always_inline]] inline const Ch* add_digits(const Ch* s, const Ch* end, uint64_t& value) {
    if constexpr (kWords && sizeof(Ch) == 1 && kWordScan) {
        while (end - s >= 8) {
            uint64_t v;
            std::memcpy(&v, s, 8);
            const uint64_t stops = non_digits(v);
            if (stops != 0) {
                // Fewer than eight: those before the first non-digit, moved to the top of
                // the word with zero digits below them.
                const int n = std::countr_zero(stops) >> 3;
                value =
                    value * kPow10U32[n] + eight_digit_value(((v - kZeros) << (56 - 8 * n)) << 8);
                return s + n;
            }
            value = value * 100000000 + eight_digit_value(v - kZeros);
            s += 8;
        }
    }
    while (s < end && is_digit(*s)) {
        value = value * 10 + uint64_t(*s - Ch('0'));
        ++s;
    }
    return s;
}

// The significant digits: from the first non-zero one, the point skipped.
struct Digits {
    uint64_t mantissa = 0;    // value of the first 19 of them
    int64_t count = 0;        // all of them
    bool cut_nonzero = false; // a non-zero digit past the 19th
};

// For more than 19 digits: the value of the first 19 and whether a non-zero one follows.
template <typename Ch>
void first_digits(const Ch* int_from, const Ch* int_to, const Ch* frac_from, const Ch* frac_to,
                  Digits& d) {
    d.mantissa = 0;
    int n = 0;
    // Takes digits of one part; answers true once a non-zero digit past the 19th was seen.
    const auto take = [&](const Ch* p, const Ch* to) {
        if constexpr (sizeof(Ch) == 1 && kWordScan) {
            // All of them are digits.
            for (; n + 8 <= kMantissaDigits && to - p >= 8; n += 8, p += 8) {
                uint64_t v;
                std::memcpy(&v, p, 8);
                d.mantissa = d.mantissa * 100000000 + eight_digit_value(v - kZeros);
            }
        }
        for (; p < to && n < kMantissaDigits; ++p, ++n)
            d.mantissa = d.mantissa * 10 + uint64_t(*p - Ch('0'));
        if constexpr (sizeof(Ch) == 1) {
            for (; to - p >= 8; p += 8) {
                uint64_t v;
                std::memcpy(&v, p, 8);
                if (v != kZeros) return d.cut_nonzero = true;
            }
        }
        for (; p < to; ++p)
            if (*p != Ch('0')) return d.cut_nonzero = true;
        return false;
    };
    if (!take(int_from, int_to)) take(frac_from, frac_to);
}

double with_sign(double magnitude, bool negative) {
    return negative ? 0.0 - magnitude : magnitude;
}

// w times 10^q rounded to the nearest double, as its bits; false when the product lies too
// close to a halfway point for 128 bits of the power to decide. w is not 0.
[[gnu::always_inline]] inline bool eisel_lemire(uint64_t w, int64_t q, uint64_t& bits) {
    if (q < kPow10Min) {
        bits = 0;
        return true;
    }
    if (q > 308) {
        bits = uint64_t(0x7FF) << 52;
        return true;
    }
    // The table holds floor + 1 of each power; the method wants the truncated value where
    // the power is exact (0 <= q <= 55) or far from it (q < -27), the value above it for the
    // short negative powers.
    U128 power = kPow10Table[size_t(q - kPow10Min)];
    const uint64_t above = q >= 0 || q < -27;
    power.hi -= power.lo < above;
    power.lo -= above;
    const int lz = std::countl_zero(w);
    w <<= lz;
    U128 product = mul_64x64(w, power.hi);
    if ((product.hi & 0x1FF) == 0x1FF) {
        const U128 low = mul_64x64(w, power.lo);
        product.lo += low.hi;
        if (low.hi > product.lo) ++product.hi;
    }
    if (product.lo == ~uint64_t(0) && (q < -27 || q > 55)) return false;
    const int upper = int(product.hi >> 63);
    const int shift = upper + 9;
    uint64_t mantissa = product.hi >> shift;
    int32_t power2 = int32_t(((217706 * q) >> 16) + 63 + upper - lz + 1023);
    if (power2 <= 0) {
        // Below the normal range: no halfway point of a subnormal has 19 digits or fewer.
        if (-power2 + 1 >= 64) {
            bits = 0;
            return true;
        }
        mantissa >>= -power2 + 1;
        mantissa += mantissa & 1;
        mantissa >>= 1;
        power2 = mantissa < (uint64_t(1) << 52) ? 0 : 1;
        bits = mantissa | (uint64_t(power2) << 52);
        return true;
    }
    // An exact product at a halfway point rounds to even.
    if (product.lo <= 1 && q >= -4 && q <= 23 && (mantissa & 3) == 1 &&
        (mantissa << shift) == product.hi)
        mantissa &= ~uint64_t(1);
    mantissa += mantissa & 1;
    mantissa >>= 1;
    if (mantissa >= (uint64_t(2) << 52)) {
        mantissa = uint64_t(1) << 52;
        ++power2;
    }
    mantissa &= ~(uint64_t(1) << 52);
    if (power2 >= 0x7FF) {
        bits = uint64_t(0x7FF) << 52;
        return true;
    }
    bits = mantissa | (uint64_t(power2) << 52);
    return true;
}

double from_bits(uint64_t bits) {
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

// The exact conversion: the significant digits written out again (first [int_from,
// int_to), then [frac_from, frac_to)) for std::from_chars.
template <typename Ch>
double convert_exactly(const Ch* int_from, const Ch* int_to, const Ch* frac_from, const Ch* frac_to,
                       int64_t point_position) {
    char text[kKeptDigits + 2 + 24];
    int64_t n = 0;
    int64_t last_nonzero = 0;
    bool nonzero_past = false;
    const auto add = [&](const Ch* from, const Ch* to) {
        for (const Ch* p = from; p < to; ++p) {
            if (n < kKeptDigits) {
                text[n++] = char(*p);
                if (*p != Ch('0')) last_nonzero = n;
            } else if (*p != Ch('0')) {
                nonzero_past = true;
            }
        }
    };
    add(int_from, int_to);
    add(frac_from, frac_to);
    n = last_nonzero;
    if (nonzero_past) {
        n = kKeptDigits;
        text[n++] = '1';
    }
    char* p = text + n;
    *p++ = 'e';
    p = std::to_chars(p, text + sizeof text, point_position - n).ptr;
    double r = 0;
    const auto res = std::from_chars(text, p, r);
    if (res.ec == std::errc::result_out_of_range) {
        if (point_position <= 0) return 0.0;
        r = std::numeric_limits<double>::infinity();
    }
    return r;
}

// value = w * 10^q, where w is exact, or, with cut_nonzero, the true digits lie between w and
// w + 1: the double by one exact operation (Clinger) or by Eisel and Lemire's method, when
// they decide it.
[[gnu::always_inline]] inline bool convert_fast(uint64_t w, int64_t q, bool cut_nonzero,
                                                bool negative, double& value) {
    if (!cut_nonzero && w <= kTwoTo53 && q >= -22 && q <= 22) {
        const double d = double(w);
        value = with_sign(q < 0 ? d / kExactPow10[-q] : d * kExactPow10[q], negative);
        return true;
    }
    uint64_t bits, above;
    if (!eisel_lemire(w, q, bits) ||
        (cut_nonzero && !(eisel_lemire(w + 1, q, above) && above == bits)))
        return false;
    // Too small for a double: +0.0 whatever the sign.
    value = bits == 0 ? 0.0 : with_sign(from_bits(bits), negative);
    return true;
}

// The digits of a number: [int_from, int_to) before the point, [frac_from, frac_to) after
// it, leading zeros included.
template <typename Ch> struct DigitRanges {
    const Ch* int_from;
    const Ch* int_to;
    const Ch* frac_from;
    const Ch* frac_to;
};

// Any number of digits: the first 19 significant ones, whether a non-zero one follows, and
// the exact conversion when those do not decide. `exponent` is the written one plus the
// adjustment. Inlined: as a call, with the ranges passed through memory, it cost long texts
// about a sixth of their time.
template <typename Ch>
[[gnu::always_inline]] inline double convert_long(DigitRanges<Ch> r, int64_t exponent,
                                                  bool negative) {
    // Leading zeros: those before the point are nothing, those after it move the point.
    while (r.int_from < r.int_to && *r.int_from == Ch('0')) ++r.int_from;
    int64_t point_position = r.int_to - r.int_from;
    if (point_position == 0) {
        const Ch* const z = r.frac_from;
        while (r.frac_from < r.frac_to && *r.frac_from == Ch('0')) ++r.frac_from;
        point_position -= r.frac_from - z;
    }
    Digits digits;
    digits.count = (r.int_to - r.int_from) + (r.frac_to - r.frac_from);
    // The first significant digit is never 0, so no digit means a zero.
    if (digits.count == 0) return negative ? -0.0 : 0.0;
    point_position += exponent;
    if (point_position > 310) return with_sign(std::numeric_limits<double>::infinity(), negative);
    if (point_position < -324) return 0.0;

    // value = mantissa * 10^q, exactly unless a non-zero digit was cut off.
    first_digits(r.int_from, r.int_to, r.frac_from, r.frac_to, digits);
    const int64_t kept = digits.count < kMantissaDigits ? digits.count : kMantissaDigits;
    double value;
    if (convert_fast(digits.mantissa, point_position - kept, digits.cut_nonzero, negative, value))
        return value;
    const double d = convert_exactly(r.int_from, r.int_to, r.frac_from, r.frac_to, point_position);
    if (d == 0) return 0.0;
    return with_sign(d, negative);
}

// Whether [from, to) holds only the digit 0.
template <typename Ch> bool only_zeros(const Ch* from, const Ch* to) {
    for (; from < to; ++from)
        if (*from != Ch('0')) return false;
    return true;
}

// The special texts "1.#INF" and "1.#NaN" (one significant digit before the point, whatever
// it is); s is at the "#". Out of line, as they are rare.
template <typename Ch>
[[gnu::noinline]] bool special_value(const Ch* int_from, const Ch* int_to, const Ch* s,
                                     bool negative, double& value) {
    while (int_from < int_to && *int_from == Ch('0')) ++int_from;
    if (int_to - int_from != 1) return false;
    const Ch letter = s[1];
    if (letter == Ch('I') || letter == Ch('i')) {
        value = with_sign(std::numeric_limits<double>::infinity(), negative);
        return true;
    }
    if (letter == Ch('N') || letter == Ch('n')) {
        value = from_bits(uint64_t(0x7FF80000) << 32);
        return true;
    }
    return false;
}

// The scan takes leading zeros as digits (adding nothing to the value), so that the common
// short texts pass each part in one loop; only a text of more than 19 digits, leading zeros
// included, looks for its significant ones (convert_long).
template <typename Ch>
double parse(const Ch* const start, const Ch* const end, int32_t adjust, int32_t& unconsumed) {
    unconsumed = 0;
    const Ch* s = start;
    bool negative = false;
    if (s < end && (*s == Ch('+') || *s == Ch('-'))) {
        negative = *s == Ch('-');
        ++s;
    }
    uint64_t w = 0;
    DigitRanges<Ch> r;
    r.int_from = s;
    // Words pay off from two digits on; one digit before the point is the usual layout
    // of a number with an exponent.
    s = end - s >= 8 && is_digit(s[1]) ? add_digits(s, end, w) : add_digits<false>(s, end, w);
    r.int_to = s;
    if (s == end) {
        // Nothing at all is not a number; only zeros are +0.0 whatever the sign.
        if (r.int_to == r.int_from) {
            unconsumed = int32_t(end - start);
            return 0.0;
        }
        if (w == 0 &&
            (r.int_to - r.int_from <= kMantissaDigits || only_zeros(r.int_from, r.int_to)))
            return 0.0;
    }
    r.frac_from = r.frac_to = s;
    if (s < end && *s == Ch('.')) {
        ++s;
        if (end - s >= 2 && *s == Ch('#')) {
            double special;
            if (special_value(r.int_from, r.int_to, s, negative, special)) return special;
        }
        r.frac_from = s;
        s = add_digits(s, end, w);
        r.frac_to = s;
    }
    const int64_t digit_count = (r.int_to - r.int_from) + (r.frac_to - r.frac_from);
    if (digit_count == 0) {
        unconsumed = int32_t(end - start);
        return 0.0;
    }

    // An exponent needs a character after the "e"; its digits end at the first non-digit,
    // which counts as unconsumed.
    int64_t exponent = 0;
    if (end - s >= 2 && (*s == Ch('e') || *s == Ch('E'))) {
        ++s;
        bool exponent_negative = false;
        if (*s == Ch('+') || *s == Ch('-')) {
            exponent_negative = *s == Ch('-');
            ++s;
        }
        while (s < end && is_digit(*s)) {
            if (exponent < kExponentLimit) exponent = exponent * 10 + (*s - Ch('0'));
            ++s;
        }
        if (exponent_negative) exponent = -exponent;
    }
    unconsumed = int32_t(end - s);
    exponent += adjust;
    if (digit_count > kMantissaDigits) return convert_long(r, exponent, negative);

    // Up to 19 digits: value = w * 10^q exactly.
    if (w == 0) return negative ? -0.0 : 0.0;
    double value;
    if (convert_fast(w, exponent - (r.frac_to - r.frac_from), false, negative, value)) return value;
    return convert_long(r, exponent, negative);
}

} // namespace

double parse_float(const char* start, const char* end, int32_t exponent_adjust,
                   int32_t& unconsumed) {
    return parse(start, end, exponent_adjust, unconsumed);
}

double parse_float(const char16_t* start, const char16_t* end, int32_t exponent_adjust,
                   int32_t& unconsumed) {
    return parse(start, end, exponent_adjust, unconsumed);
}

namespace {

// Reads a run of digits from text[i], with single apostrophes allowed between digits; the
// number of digits read, or -1 when an apostrophe is not between two digits.
int32_t digit_run(const uint8_t* text, uint32_t length, uint32_t& i, bool& ticks) {
    int32_t digits = 0;
    while (i < length) {
        if (is_digit(text[i])) {
            ++digits;
            ++i;
        } else if (text[i] == '\'' && digits > 0) {
            if (++i == length || !is_digit(text[i])) return -1;
            ticks = true;
        } else {
            break;
        }
    }
    return digits;
}

} // namespace

bool float_syntax(const uint8_t* text, uint32_t length, bool* ticks) {
    bool any_ticks = false;
    uint32_t i = 0;
    if (i < length && (text[i] == '+' || text[i] == '-')) ++i;
    const int32_t whole = digit_run(text, length, i, any_ticks);
    if (whole < 0) return false;
    if (i < length && text[i] == '.') {
        ++i;
        const int32_t fraction = digit_run(text, length, i, any_ticks);
        if (fraction < 0 || whole + fraction == 0) return false;
    } else if (whole == 0) {
        return false;
    }
    if (i < length && (text[i] == 'e' || text[i] == 'E')) {
        if (++i < length && (text[i] == '+' || text[i] == '-')) ++i;
        const uint32_t start = i;
        while (i < length && is_digit(text[i])) ++i;
        if (i == start) return false;
    }
    if (ticks) *ticks = any_ticks;
    return i == length;
}

bool parse_float(const uint8_t* text, uint32_t length, int32_t exponent_adjust, double& value) {
    bool ticks;
    if (length > 312 || !float_syntax(text, length, &ticks)) return false;
    const char* digits = reinterpret_cast<const char*>(text);
    char buffer[313];
    if (ticks) {
        uint32_t n = 0;
        for (uint32_t i = 0; i < length; ++i)
            if (text[i] != '\'') buffer[n++] = static_cast<char>(text[i]);
        digits = buffer;
        length = n;
    }
    int32_t unconsumed = 0;
    value = parse_float(digits, digits + length, exponent_adjust, unconsumed);
    return unconsumed == 0;
}

namespace {

// The ASCII bytes of a text of 1-, 2- or 4-byte units, "," read as "." when asked; false for a
// character beyond ASCII or a text longer than `max`.
bool ascii_text(const uint8_t* text, uint32_t length, uint32_t unit, uint32_t max, bool comma,
                uint8_t* out) {
    if (length > max || (unit != 1 && unit != 2 && unit != 4)) return false;
    for (uint32_t i = 0; i < length; ++i) {
        uint32_t c = 0;
        std::memcpy(&c, text + static_cast<size_t>(i) * unit, unit); // little-endian units
        if (c >= 0x80) return false;
        out[i] = comma && c == ',' ? '.' : static_cast<uint8_t>(c);
    }
    return true;
}

} // namespace

double text_to_float(const uint8_t* text, uint32_t length, uint32_t unit, int32_t& error) {
    uint8_t ascii[312];
    double value = 0;
    error = ascii_text(text, length, unit, sizeof ascii, true, ascii) &&
                    parse_float(ascii, length, 0, value)
                ? 0
                : -1;
    if (error) {
        const uint64_t bits = 0x7FF8000000000000ull;
        std::memcpy(&value, &bits, 8);
    }
    return value;
}

bool parse_tuple(const uint8_t* text, uint32_t length, uint8_t bytes[12], uint32_t& count,
                 uint32_t least) {
    const uint8_t* p = text;
    const uint8_t* end = text + length;
    count = 0;
    for (;;) {
        // Up to three digits.
        uint32_t n = 0;
        int32_t v = 0;
        for (; p < end && is_digit(*p) && n < 3; ++p, ++n) v = v * 10 + (*p - '0');
        if (!n || v > 255 || count == 12) return false;
        bytes[count++] = static_cast<uint8_t>(v);
        if (p == end) break;
        if (*p++ != '.') return false;
    }
    return count >= least;
}

uint32_t text_to_tuple(const uint8_t* text, uint32_t length, uint32_t unit, uint8_t bytes[12],
                       int32_t& error) {
    uint8_t ascii[48];
    uint32_t count = 0;
    const bool ok = ascii_text(text, length, unit, sizeof ascii, false, ascii) &&
                    parse_tuple(ascii, length, bytes, count, 1);
    error = ok ? 0 : -1;
    return ok ? count : 0;
}

} // namespace number_text
