#include "runtime-core/dtoa.h"

#include <array>
#include <bit>
#include <charconv>
#include <cstring>

// Shortest digits come from the Schubfach method: the value and the two ends of its
// round-trip interval are scaled by a power of ten (a 128-bit table entry, products rounded
// to odd so that exact ones stay recognisable), chosen so that the scaled interval is less
// than ten units wide. The shortest decimal inside is then the multiple of ten or, failing
// that, the integer next to the scaled value that lies inside; the closer one wins when both
// do. Integers below 10^15 are printed directly, and capped digits that are fewer than the
// shortest ones come from std::to_chars, which rounds the exact value.

namespace number_text {

namespace {

// ---- Powers of ten: g(e) = floor(10^e * 2^(127 - floor(log2 10^e))) + 1, 128 bits ----

constexpr int floor_log2_pow10(int e) {
    return (e * 1741647) >> 19;
}
constexpr int floor_log10_pow2(int e) {
    return (e * 1262611) >> 22;
}
constexpr int floor_log10_three_quarters_pow2(int e) {
    return (e * 1262611 - 524031) >> 22;
}

// Exact unsigned integer of up to 1344 bits for building the table at compile time.
struct Big {
    static constexpr int kLimbs = 42;
    uint32_t limb[kLimbs] = {};

    constexpr int bit_length() const {
        for (int i = kLimbs - 1; i >= 0; --i) {
            if (limb[i]) return i * 32 + (32 - std::countl_zero(limb[i]));
        }
        return 0;
    }
    constexpr bool bit(int n) const { return n >= 0 && ((limb[n / 32] >> (n % 32)) & 1u); }
    constexpr void mul_small(uint32_t m) {
        uint64_t carry = 0;
        for (uint32_t& l : limb) {
            uint64_t p = uint64_t(l) * m + carry;
            l = uint32_t(p);
            carry = p >> 32;
        }
    }
    constexpr void div_small(uint32_t d) {
        uint64_t rem = 0;
        for (int i = kLimbs - 1; i >= 0; --i) {
            uint64_t cur = (rem << 32) | limb[i];
            limb[i] = uint32_t(cur / d);
            rem = cur % d;
        }
    }
    // floor(this * 2^(128 - bit_length)): the top 128 bits, zeros shifted in below.
    constexpr U128 top128() const {
        int top = bit_length() - 1;
        U128 r{0, 0};
        for (int n = 0; n < 128; ++n) {
            bool b = bit(top - n);
            if (n < 64)
                r.hi |= uint64_t(b) << (63 - n);
            else
                r.lo |= uint64_t(b) << (127 - n);
        }
        return r;
    }
};

constexpr U128 plus_one(U128 v) {
    v.lo += 1;
    if (v.lo == 0) v.hi += 1;
    return v;
}

constexpr Pow10Table make_pow10_table() {
    Pow10Table table{};
    Big p; // 10^e
    p.limb[0] = 1;
    for (int e = 0; e <= kPow10Max; ++e) {
        if (p.bit_length() - 1 != floor_log2_pow10(e)) throw "floor_log2_pow10 is wrong";
        table[e - kPow10Min] = plus_one(p.top128());
        p.mul_small(10);
    }
    // floor(2^M / 10^n) for a fixed M wide enough for every n: dividing step by step keeps
    // it exact, and its top bits are those of 10^-n.
    constexpr int kM = 1310;
    Big q;
    q.limb[kM / 32] = 1u << (kM % 32);
    for (int n = 1; n <= -kPow10Min; ++n) {
        q.div_small(10);
        if (q.bit_length() - 1 - kM != floor_log2_pow10(-n)) throw "floor_log2_pow10 is wrong";
        table[-n - kPow10Min] = plus_one(q.top128());
    }
    return table;
}

} // namespace

constinit const Pow10Table kPow10Table = make_pow10_table();

namespace {

// The top 64 bits of g * cp (a 192-bit product, g 128 bits), rounded to odd: the lowest bit
// is set when anything below was cut off, so that exact products stay distinguishable.
inline uint64_t round_to_odd(U128 g, uint64_t cp) {
    U128 x = mul_64x64(g.lo, cp);
    U128 y = mul_64x64(g.hi, cp);
    uint64_t z0 = y.lo + x.hi;
    uint64_t z1 = y.hi + (z0 < y.lo);
    return z1 | (z0 > 1 ? 1u : 0u);
}

struct Decimal {
    uint64_t digits; // may end in zeros
    int exponent;    // value = digits * 10^exponent
};

// The shortest decimal in the round-trip interval of a positive finite double given by its
// fields; its boundaries belong to it when the significand is even.
Decimal shortest_decimal(uint64_t fraction, int biased_exponent) {
    uint64_t c;
    int q;
    if (biased_exponent != 0) {
        c = fraction | (uint64_t(1) << 52);
        q = biased_exponent - 1075;
    } else {
        c = fraction;
        q = -1074;
    }
    const bool even = (c & 1) == 0;
    // The gap below an exact power of two is half the gap above it.
    const bool lower_closer = fraction == 0 && biased_exponent > 1;
    const uint64_t cbl = 4 * c - 2 + (lower_closer ? 1 : 0);
    const uint64_t cb = 4 * c;
    const uint64_t cbr = 4 * c + 2;
    const int k = lower_closer ? floor_log10_three_quarters_pow2(q) : floor_log10_pow2(q);
    const int h = q + floor_log2_pow10(-k) + 1; // 1 to 4
    const U128 g = kPow10Table[-k - kPow10Min];
    const uint64_t vbl = round_to_odd(g, cbl << h);
    const uint64_t vb = round_to_odd(g, cb << h);
    const uint64_t vbr = round_to_odd(g, cbr << h);
    const uint64_t lower = vbl + (even ? 0 : 1);
    const uint64_t upper = vbr - (even ? 0 : 1);

    const uint64_t s = vb / 4;
    if (s >= 10) {
        // One digit fewer: of the two candidates around the value, take the one inside.
        const uint64_t sp = s / 10;
        const bool up_inside = lower <= 40 * sp;
        const bool wp_inside = 40 * sp + 40 <= upper;
        if (up_inside != wp_inside) return {sp + (wp_inside ? 1 : 0), k + 1};
    }
    const bool u_inside = lower <= 4 * s;
    const bool w_inside = 4 * s + 4 <= upper;
    if (u_inside != w_inside) return {s + (w_inside ? 1 : 0), k};
    // Both inside: the closer one, the even one on a tie.
    const uint64_t mid = 4 * s + 2;
    const bool round_up = vb > mid || (vb == mid && (s & 1) != 0);
    return {s + (round_up ? 1 : 0), k};
}

constexpr char kDigitPairs[] = "00010203040506070809"
                               "10111213141516171819"
                               "20212223242526272829"
                               "30313233343536373839"
                               "40414243444546474849"
                               "50515253545556575859"
                               "60616263646566676869"
                               "70717273747576777879"
                               "80818283848586878889"
                               "90919293949596979899";

constexpr uint64_t kPow10Int[20] = {1,
                                    10,
                                    100,
                                    1000,
                                    10000,
                                    100000,
                                    1000000,
                                    10000000,
                                    100000000,
                                    1000000000,
                                    10000000000,
                                    100000000000,
                                    1000000000000,
                                    10000000000000,
                                    100000000000000,
                                    1000000000000000,
                                    10000000000000000,
                                    100000000000000000,
                                    1000000000000000000,
                                    10000000000000000000u};

// Number of decimal digits of v > 0.
inline int decimal_length(uint64_t v) {
    const int t = ((64 - std::countl_zero(v)) * 1233) >> 12;
    return t + (v >= kPow10Int[t] ? 1 : 0);
}

inline void write_pair(char* p, uint32_t two) {
    std::memcpy(p, kDigitPairs + 2 * two, 2);
}

// The eight digits of v < 10^8.
inline void write8(uint32_t v, char* p) {
    const uint32_t hi = v / 10000, lo = v % 10000;
    write_pair(p, hi / 100);
    write_pair(p + 2, hi % 100);
    write_pair(p + 4, lo / 100);
    write_pair(p + 6, lo % 100);
}

// Writes the `len` digits of v (len = decimal_length(v)) to out.
void write_digits(uint64_t v, int len, char* out) {
    char* p = out + len;
    while (v >= 100000000) {
        p -= 8;
        write8(uint32_t(v % 100000000), p);
        v /= 100000000;
    }
    uint32_t w = uint32_t(v);
    while (w >= 100) {
        p -= 2;
        write_pair(p, w % 100);
        w /= 100;
    }
    if (w >= 10)
        write_pair(p - 2, w);
    else
        p[-1] = char('0' + w);
}

// Trailing zero digits dropped; the count goes to the exponent.
inline uint64_t strip_zeros(uint64_t v, int& exponent) {
    if (v % 10 != 0) return v;
    while (v % 10000 == 0) {
        v /= 10000;
        exponent += 4;
    }
    while (v % 10 == 0) {
        v /= 10;
        exponent += 1;
    }
    return v;
}

// A finite non-zero value as digits: the value is 0.d1...dn times 10^position.
struct Digits {
    uint64_t value; // d1...dn as an integer
    int length;     // n
    int position;
};

// An integer below 10^15: its digits up to the last non-zero one. A cap cuts them and rounds
// the rest half to even; digits kept as they stand may then end in zeros.
Digits integer_digits(uint64_t n, int32_t max_digits) {
    const int len = decimal_length(n);
    int zeros = 0;
    const uint64_t significant = strip_zeros(n, zeros);
    if (max_digits <= 0 || len - zeros <= max_digits) return {significant, len - zeros, len};
    const uint64_t unit = kPow10Int[len - max_digits];
    uint64_t kept = n / unit;
    const uint64_t rest = n % unit;
    if (2 * rest > unit || (2 * rest == unit && (kept & 1) != 0)) {
        // Round up: trailing nines carry, all nines become "1" one place higher.
        kept += 1;
        int dropped = 0;
        kept = strip_zeros(kept, dropped);
        if (kept == 1 && dropped == max_digits) return {1, 1, len + 1};
        return {kept, max_digits - dropped, len};
    }
    return {kept, max_digits, len};
}

// The value correctly rounded (half to even) to max_digits digits, trailing zeros dropped.
Digits capped_digits(double value, int32_t max_digits) {
    char buf[64];
    const auto res =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, max_digits - 1);
    const char* p = buf;
    uint64_t digits = 0;
    for (; p < res.ptr && *p != 'e'; ++p) {
        if (*p != '.') digits = digits * 10 + uint64_t(*p - '0');
    }
    int exponent = 0;
    std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), res.ptr, exponent);
    int zeros = 0;
    digits = strip_zeros(digits, zeros);
    return {digits, max_digits - zeros, exponent + 1};
}

Digits finite_digits(uint64_t bits, double magnitude, int32_t max_digits) {
    if (magnitude < 1e15 && magnitude >= 1.0) {
        const uint64_t n = uint64_t(magnitude);
        if (double(n) == magnitude) return integer_digits(n, max_digits);
    }
    Decimal d = shortest_decimal(bits & ((uint64_t(1) << 52) - 1), int((bits >> 52) & 0x7FF));
    d.digits = strip_zeros(d.digits, d.exponent);
    const int len = decimal_length(d.digits);
    if (max_digits > 0 && len > max_digits) return capped_digits(magnitude, max_digits);
    return {d.digits, len, d.exponent + len};
}

// The final text of an infinity, a NaN or a zero, else null.
const char* special_text(uint64_t bits, bool zero_with_point) {
    const bool negative = (bits >> 63) != 0;
    const uint64_t magnitude = bits & ~(uint64_t(1) << 63);
    if (magnitude >= 0x7FF0000000000000ULL) {
        if (magnitude > 0x7FF0000000000000ULL) return "1.#NaN";
        return negative ? "-1.#INF" : "1.#INF";
    }
    if (magnitude == 0) {
        return zero_with_point ? (negative ? "-0.0" : "0.0") : (negative ? "-0" : "0");
    }
    return nullptr;
}

} // namespace

FloatDigits float_to_text(double value, int32_t max_digits, bool zero_with_point) {
    FloatDigits out;
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    out.sign = int32_t(bits >> 63);
    if (const char* text = special_text(bits, zero_with_point)) {
        out.length = int32_t(std::strlen(text));
        std::memcpy(out.text, text, size_t(out.length) + 1);
        const uint64_t magnitude = bits << 1;
        out.position = magnitude == 0 ? kPositionZero : kPositionInfNan;
        if (magnitude > (0x7FF0000000000000ULL << 1)) out.sign = 0; // NaN has no sign
        return out;
    }
    const Digits d = finite_digits(bits, value < 0 ? -value : value, max_digits);
    write_digits(d.value, d.length, out.text);
    out.text[d.length] = '\0';
    out.length = d.length;
    out.position = d.position;
    return out;
}

int form_float(double value, int32_t max_digits, bool keep_point_zero, char* out) {
    static_assert(kFloatTextSize >= 1 + 2 + 6 + kMaxDigits + 1);
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    if (const char* text = special_text(bits, keep_point_zero)) {
        const size_t len = std::strlen(text);
        std::memcpy(out, text, len + 1);
        return int(len);
    }
    const Digits d = finite_digits(bits, value < 0 ? -value : value, max_digits);
    char* p = out;
    if (bits >> 63) *p++ = '-';
    const int n = d.length;
    const int pos = d.position;
    const bool exponent_form = pos > 17 || pos < -6;
    // The digits go where most of them stay: one place right in exponent form (the first
    // comes back in front of the point), after "0." and the zeros for a small value.
    char* const digits = exponent_form ? p + 1 : pos >= 1 ? p : p + 2 - pos;
    write_digits(d.value, n, digits);
    bool point_last = false;
    if (exponent_form) {
        p[0] = p[1];
        p[1] = '.';
        p += n + 1;
        point_last = n == 1;
    } else if (pos >= 1) {
        if (pos < n) {
            std::memmove(p + pos + 1, p + pos, size_t(n - pos));
            p[pos] = '.';
            p += n + 1;
        } else {
            std::memset(p + n, '0', size_t(pos - n));
            p += pos;
            *p++ = '.';
            point_last = true;
        }
    } else {
        p[0] = '0';
        p[1] = '.';
        std::memset(p + 2, '0', size_t(-pos));
        p += 2 - pos + n;
    }
    if (point_last) {
        if (keep_point_zero)
            *p++ = '0';
        else
            --p;
    }
    if (exponent_form) {
        // "e", a "-" when negative, and 1 to 3 digits.
        *p++ = 'e';
        unsigned e = unsigned(pos - 1);
        if (pos - 1 < 0) {
            *p++ = '-';
            e = unsigned(1 - pos);
        }
        if (e >= 100) {
            *p++ = char('0' + e / 100);
            write_pair(p, e % 100);
            p += 2;
        } else if (e >= 10) {
            write_pair(p, e);
            p += 2;
        } else {
            *p++ = char('0' + e);
        }
    }
    *p = '\0';
    return int(p - out);
}

} // namespace number_text
