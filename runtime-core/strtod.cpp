#include "runtime-core/strtod.h"

#include <charconv>
#include <cstring>
#include <limits>

// The scan collects the significant digits and the position of the decimal point. Up to 2^53
// with an exponent that keeps every step exact, one or two double operations give the
// correctly rounded result (Clinger's fast path); the rest goes to std::from_chars, which
// rounds correctly for any digit count. No double halfway point has more than 767
// significant digits, so digits past 800 only matter as "something non-zero follows".

namespace number_text {

namespace {

// Exact powers of ten in a double.
constexpr double kExactPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                  1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr uint64_t kTwoTo53 = uint64_t(1) << 53;

// Digits kept for the exact conversion; one more digit "1" stands for a non-zero tail.
constexpr int kKeptDigits = 800;

// Beyond this an exponent only ever means overflow or underflow.
constexpr int64_t kExponentLimit = 100000000;

template <typename Ch> inline bool is_digit(Ch c) {
    return c >= Ch('0') && c <= Ch('9');
}

struct Scan {
    // Significant digits (from the first non-zero one), as text for the slow path.
    char digits[kKeptDigits + 2 + 16];
    int64_t count = 0;        // significant digits seen
    int64_t last_nonzero = 0; // count up to the last non-zero one
    uint64_t mantissa = 0;    // their value while at most 19 digits
    uint64_t trimmed = 0;     // the value up to the last non-zero digit, while at most 19

    void add(int d) {
        ++count;
        if (count <= 19) mantissa = mantissa * 10 + uint64_t(d);
        if (count <= kKeptDigits) digits[count - 1] = char('0' + d);
        if (d != 0) {
            last_nonzero = count;
            if (count <= 19) trimmed = mantissa;
        }
    }
};

// The value 0.d1d2...dn times 10^point_position of the scanned digits (trailing zeros left
// out), with the sign; a value too small for a double is +0.0.
double convert(Scan& scan, int64_t point_position, bool negative) {
    const int64_t nd = scan.last_nonzero;
    if (point_position > 310) {
        return negative ? -std::numeric_limits<double>::infinity()
                        : std::numeric_limits<double>::infinity();
    }
    if (point_position < -324) return 0.0;
    const int64_t e = point_position - nd;
    if (nd <= 19 && scan.trimmed <= kTwoTo53) {
        const uint64_t d = scan.trimmed;
        double r = -1;
        if (e == 0) {
            r = double(d);
        } else if (e > 0 && e <= 22) {
            r = double(d) * kExactPow10[e];
        } else if (e < 0 && e >= -22) {
            r = double(d) / kExactPow10[-e];
        } else if (e > 22 && e <= 22 + 15) {
            // Move the excess power into the integer while it stays exact.
            uint64_t scaled = d;
            for (int64_t i = 22; i < e && scaled <= kTwoTo53; ++i) scaled *= 10;
            if (scaled <= kTwoTo53) r = double(scaled) * 1e22;
        }
        if (r >= 0) return negative ? 0.0 - r : r;
    }

    char* text = scan.digits;
    int64_t n = nd < kKeptDigits ? nd : kKeptDigits;
    if (nd > kKeptDigits) text[n++] = '1';
    char* p = text + n;
    *p++ = 'e';
    p = std::to_chars(p, text + sizeof scan.digits, point_position - n).ptr;
    double r = 0;
    auto res = std::from_chars(text, p, r);
    if (res.ec == std::errc::result_out_of_range) {
        if (point_position <= 0) return 0.0;
        r = std::numeric_limits<double>::infinity();
    }
    if (r == 0) return 0.0;
    return negative ? 0.0 - r : r;
}

template <typename Ch>
double parse(const Ch* const start, const Ch* const end, int32_t adjust, int32_t& unconsumed) {
    unconsumed = 0;
    const Ch* s = start;
    bool negative = false;
    if (s < end && (*s == Ch('+') || *s == Ch('-'))) {
        negative = *s == Ch('-');
        ++s;
    }
    const Ch* const zeros = s;
    while (s < end && *s == Ch('0')) ++s;
    bool any_digit = s > zeros;
    if (s == end) {
        // Only zeros: +0.0 whatever the sign. Nothing at all is not a number.
        if (!any_digit) unconsumed = int32_t(end - start);
        return 0.0;
    }

    Scan scan;
    while (s < end && is_digit(*s)) {
        scan.add(int(*s - Ch('0')));
        ++s;
    }
    // Digits before the point, counted from the first significant one.
    int64_t point_position = scan.count;
    if (scan.count > 0) any_digit = true;

    if (s < end && *s == Ch('.')) {
        ++s;
        if (scan.count == 1 && end - s >= 2 && *s == Ch('#')) {
            const Ch letter = s[1];
            if (letter == Ch('I') || letter == Ch('i')) {
                return negative ? -std::numeric_limits<double>::infinity()
                                : std::numeric_limits<double>::infinity();
            }
            if (letter == Ch('N') || letter == Ch('n')) {
                const uint64_t bits = uint64_t(0x7FF80000) << 32;
                double nan;
                std::memcpy(&nan, &bits, sizeof nan);
                return nan;
            }
        }
        if (scan.count == 0) {
            // Zeros right after the point only move it.
            const Ch* const z = s;
            while (s < end && *s == Ch('0')) ++s;
            point_position -= s - z;
            if (s > z) any_digit = true;
        }
        const int64_t before = scan.count;
        while (s < end && is_digit(*s)) {
            scan.add(int(*s - Ch('0')));
            ++s;
        }
        if (scan.count > before) any_digit = true;
    }
    if (!any_digit) {
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

    if (scan.last_nonzero == 0) return negative ? -0.0 : 0.0;
    return convert(scan, point_position + exponent + adjust, negative);
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

} // namespace number_text
