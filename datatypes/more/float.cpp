#include "datatypes/more/float.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "datatypes/core/datatype.h"
#include "datatypes/core/integer.h"
#include "datatypes/core/logic.h"
#include "datatypes/core/none.h"
#include "datatypes/core/string.h"
#include "datatypes/more/error-ids.h"
#include "datatypes/more/money.h"
#include "datatypes/more/pair.h"
#include "datatypes/more/point.h"
#include "datatypes/more/tuple.h"
#include "datatypes/more/vector.h"
#include "evaluator/stack.h"
#include "runtime-core/dtoa.h"
#include "runtime-core/support.h"
#include "runtime-core/words.h"

namespace float_ {

bool pretty = false;

namespace {

constexpr uint64_t kExponentBits = 0x7FF0000000000000;
constexpr uint64_t kMantissaBits = 0x000FFFFFFFFFFFFF;
constexpr uint64_t kMagnitudeBits = 0x7FFFFFFFFFFFFFFF;
constexpr uint64_t kSignBit = 0x8000000000000000;
constexpr double kEpsilon = 2.220446049250313e-16;

uint64_t bits_of(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return bits;
}

// The values of datatypes whose modules are still to come (money!, tuple!, vector!, the
// compound numbers) cannot be handled yet.
[[noreturn]] void not_done() {
    error::fire(error::kInternal, error::internal::not_done);
}

// script/not-related (operation or call, datatype). The operation's word comes from the
// runtime's word tables; the call's name comes with the call frames. Either is none until it
// exists.
[[noreturn]] void not_related(const Cell* name, uint8_t type) {
    Cell* t = datatype::push(type);
    error::fire(error::kScript, error::script::not_related, {name ? name : &none::value, t});
}

[[noreturn]] void expect_arg(uint8_t type) {
    Cell* t = datatype::push(type);
    error::fire(error::kScript, error::script::expect_arg, {&none::value, t, &none::value});
}

bool is_float_like(uint8_t type) {
    return type == kTypeFloat || type == kTypePercent || type == kTypeTime;
}

// The number of an integer!, char! or float-like cell.
double number(const Cell* value) {
    const uint8_t type = cell::type(value);
    if (type == kTypeInteger || type == kTypeChar) return static_cast<int32_t>(value->w2);
    return get(value);
}

// The printf-style format of each printer kind, and the shorter one of the `pretty?` reprint.
const char* const kFormats[] = {"%.7g", "%.16g", "%.7g", "%.13g", nullptr, "%.7g"};

int print(char* out, size_t size, const char* format, double value) {
    const int n = std::snprintf(out, size, format, value);
    return n < 0 ? 0 : (n >= static_cast<int>(size) ? static_cast<int>(size) - 1 : n);
}

} // namespace

// --- Cells --------------------------------------------------------------------------------

double get(const Cell* value) {
    double d;
    std::memcpy(&d, &value->w2, sizeof d);
    return d;
}

void set(Cell* value, double d) {
    std::memcpy(&value->w2, &d, sizeof d);
}

Cell* make_at(Cell* cell, double d) {
    cell->header = kTypeFloat;
    cell->w1 = 0;
    set(cell, d);
    return cell;
}

Cell* box(double d) {
    return make_at(stack::arguments, d);
}

Cell* push(double d) {
    return make_at(stack::push_cell(), d);
}

// --- The number printer -------------------------------------------------------------------

const char* form_float(double value, Kind kind) {
    static char out[number_text::kFloatTextSize];
    const uint64_t bits = bits_of(value);
    if ((bits & kExponentBits) == kExponentBits) {
        if (bits & kMantissaBits) return "1.#NaN";
        return (bits & kSignBit) ? "-1.#INF" : "1.#INF";
    }
    const bool percent = kind == kPercentVector32 || kind == kPercent;
    if (pretty && std::fabs(value) < kEpsilon) return percent ? "0%" : kind == kPoint ? "0" : "0.0";

    char text[number_text::kFloatTextSize];
    int length = kind == kSeconds ? number_text::form_float(value, 6, false, text)
                                  : print(text, sizeof text, kFormats[kind], value);
    const char* e = nullptr;
    for (bool reprinted = false;;) {
        e = std::strchr(text, 'e');
        if (!pretty || reprinted) break;
        // Binary noise in the last two digits of a long text ("...01", "...99"): print again
        // with two digits fewer.
        const char* last_two = nullptr;
        if (!e) {
            const int first = text[0] == '-' ? 1 : 0;
            if (length > 16 && (text[first] != '0' || length > 17)) last_two = text + length - 2;
        } else if (e - text > 16) {
            last_two = e - 2;
        }
        if (!last_two || !((last_two[0] == '0' && last_two[1] == '1') ||
                           (last_two[0] == '9' && last_two[1] == '9')))
            break;
        const bool short_kind = kind == kVector32 || kind == kSeconds || kind == kPoint;
        length = print(text, sizeof text, short_kind ? "%.5g" : "%.14g", value);
        reprinted = true;
    }

    // The mantissa, then the exponent without "+" and leading zeros (1e+020 -> 1e20).
    const int mantissa = e ? static_cast<int>(e - text) : length;
    const bool point = std::memchr(text, '.', mantissa) != nullptr;
    int n = 0;
    std::memcpy(out, text, mantissa);
    n = mantissa;
    const bool add_point_zero = !percent && !point && kind != kSeconds && kind != kPoint;
    if (add_point_zero) {
        out[n++] = '.';
        out[n++] = '0';
    }
    if (e) {
        out[n++] = 'e';
        const char* digit = e + 1;
        if (*digit == '-') out[n++] = '-';
        while (*digit && *digit < '1') ++digit;
        while (*digit) out[n++] = *digit++;
    }
    if (percent) out[n++] = '%';
    out[n] = '\0';
    return out;
}

// --- Arithmetic and comparison ------------------------------------------------------------

double do_math_op(double a, double b, int32_t op) {
    switch (op) {
    case kAdd:
        return a + b;
    case kSubtract:
        return a - b;
    case kMultiply:
        return a * b;
    case kDivide:
        return a / b;
    case kRemainder:
        if (std::isfinite(b)) return std::fmod(a, b);
        if (std::isnan(b)) return b;
        return std::isfinite(a) ? a : std::nan("");
    default: {
        Cell* t = datatype::push(kTypeFloat);
        error::fire(error::kScript, error::script::cannot_use, {&none::value, t});
    }
    }
}

Cell* do_math(int32_t op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    const uint8_t left_type = cell::type(left);
    const uint8_t right_type = cell::type(right);
    switch (right_type) {
    case kTypeMoney:
        if (op > kRemainder) break; // refused below
        money::do_math(op);
        return left;
    case kTypeTuple:
        return tuple::do_math(op);
    case kTypeVector:
        return vector::do_math(op, right, left);
    case kTypePair:
    case kTypePoint2D:
    case kTypePoint3D:
        if (left_type == kTypeTime) break; // refused below
        // The compound value's own arithmetic takes the number as its right operand; a
        // number minus or divided by a compound value has no meaning.
        if (op == kSubtract || op == kDivide)
            not_related(op == kSubtract ? words::word.subtract : words::word.divide, right_type);
        std::swap(*left, *right);
        return right_type == kTypePair ? pair::do_math(op) : point::do_math(op);
    default:
        break;
    }
    const bool number_right =
        right_type == kTypeInteger || is_float_like(right_type) ||
        (right_type == kTypeChar && left_type != kTypeTime && left_type != kTypePercent);
    if (!number_right) {
        Cell* t = datatype::push(right_type);
        error::fire(error::kScript, error::script::invalid_type, {t});
    }
    const double result = do_math_op(number(left), number(right), op);
    const uint8_t type = (left_type == kTypeTime || right_type == kTypeTime) ? kTypeTime
                         : left_type == kTypePercent                         ? kTypePercent
                                                                             : kTypeFloat;
    cell::set_type(left, type);
    set(left, result);
    return left;
}

bool compare_values(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return false;
    if (a == b || std::fabs(a - b) < kEpsilon) return true;
    // Ordered images of the bit patterns: neighbouring doubles are neighbouring integers.
    auto image = [](double d) {
        const uint64_t bits = bits_of(d);
        const uint64_t magnitude = bits & kMagnitudeBits;
        return (bits & kSignBit) ? kSignBit - magnitude : kSignBit + magnitude;
    };
    const uint64_t x = image(a), y = image(b);
    return (x > y ? x - y : y - x) <= 10;
}

bool compare32(float a, float b) {
    if (std::isnan(a) || std::isnan(b)) return false;
    if (a == b) return true; // both zeros included
    uint32_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    const uint32_t mx = x & 0x7FFFFFFF, my = y & 0x7FFFFFFF;
    if (std::isinf(a) || std::isinf(b))
        return (x >> 31) == (y >> 31) && (mx > my ? mx - my : my - mx) < (1u << 20);
    // Signed magnitudes: neighbouring singles are neighbouring integers across zero too.
    const int64_t ix = (x >> 31) ? -static_cast<int64_t>(mx) : mx;
    const int64_t iy = (y >> 31) ? -static_cast<int64_t>(my) : my;
    return (ix > iy ? ix - iy : iy - ix) <= 10;
}

double random_float(double bound, bool secure) {
    const logic::RandomSource* source = logic::random_source();
    if (!source) not_done();
    if (!secure) return static_cast<int32_t>(source->next()) / 2147483647.0 * bound;
    const double r1 = source->secure_next() & 0x7FFFFFFF;
    const double r2 = source->secure_next() & 0x7FFFFFFF;
    return (r2 + r1 / 2147483647.0) * bound / 2147483648.0;
}

// --- Slot functions -----------------------------------------------------------------------

int32_t form(Cell* value, Cell* string, Cell*, int32_t limit) {
    const char* text = form_float(get(value), kFloat);
    const auto length = static_cast<int32_t>(std::strlen(text));
    string::concatenate_cstring(string, text);
    return limit - length;
}

int32_t mold(Cell* value, Cell* string, bool, bool, bool, Cell*, int32_t limit, int32_t) {
    char text[number_text::kFloatTextSize];
    const int length = number_text::form_float(get(value), 0, true, text);
    string::concatenate_cstring(string, text);
    return limit - length;
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    const uint8_t type = cell::type(other);
    if ((op == action::op::strict_equal || op == action::op::same || op == action::op::find) &&
        type != cell::type(value))
        return 1;
    if (type == kTypeMoney) return -money::compare(other, value, op);
    if (type != kTypeInteger && !is_float_like(type)) return action::kNotComparable;
    const double a = get(value);
    const double b = number(other);
    const bool unordered = std::isnan(a) || std::isnan(b);
    switch (op) {
    case action::op::equal:
    case action::op::not_equal:
    case action::op::parse_case:
    case action::op::parse:
        return compare_values(a, b) ? 0 : 1;
    case action::op::strict_equal:
    case action::op::find:
        return a == b ? 0 : 1;
    case action::op::same:
        return bits_of(a) == bits_of(b) ? 0 : 1;
    case action::op::lesser:
    case action::op::lesser_or_equal:
        if (unordered) return 1; // so that lesser? and lesser-or-equal? are false
        break;
    case action::op::greater:
    case action::op::greater_or_equal:
        if (unordered) return -1;
        break;
    default:
        break;
    }
    return (a > b) - (a < b);
}

void add() {
    do_math(kAdd);
}

void subtract() {
    do_math(kSubtract);
}

void multiply() {
    do_math(kMultiply);
}

void divide() {
    do_math(kDivide);
}

void remainder() {
    do_math(kRemainder);
}

void power() {
    Cell* base = stack::arguments;
    Cell* exponent = base + 1;
    const uint8_t type = cell::type(exponent);
    if (type != kTypeInteger && type != kTypeFloat) expect_arg(type);
    make_at(base, std::pow(number(base), number(exponent)));
}

Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor,
            bool ceiling, bool half_ceiling) {
    const bool percent = cell::type(value) == kTypePercent;
    uint8_t result_type = cell::type(value);
    double s = percent ? 0.01 : 1.0;
    if (scale) {
        const uint8_t type = cell::type(scale);
        if (type == kTypeMoney) not_related(nullptr, kTypeMoney);
        if (type != kTypeInteger && !is_float_like(type)) expect_arg(type);
        s = std::fabs(number(scale));
        if (percent) s /= 100;
        result_type = type;
    }
    const double v = get(value);
    // A scale of 0, or one below the value's precision, leaves nothing to round.
    if (s == 0 || std::fabs(v) * 0x1p-53 > s) return value;

    // A scale too small for its inverse to be a double: value and scale are brought near 1
    // first and the result put back.
    int shift = 0;
    double x = v;
    if (std::ilogb(s) < -1021) {
        shift = std::ilogb(s);
        x = std::ldexp(v, -shift);
        s = std::ldexp(s, -shift);
    }
    const double inverse = s < 1.0 ? 1.0 / s : 0.0;
    double q = s < 1.0 ? x * inverse : x / s;
    if (down) {
        q = std::trunc(q);
    } else if (floor) {
        q = std::floor(q);
    } else if (ceiling) {
        q = std::ceil(q);
    } else {
        const double magnitude = std::fabs(q);
        const double whole = std::floor(magnitude);
        const double fraction = magnitude - whole;
        double rounded;
        if (fraction > 0.5)
            rounded = whole + 1;
        else if (fraction < 0.5)
            rounded = whole;
        else if (even)
            rounded = std::fmod(whole, 2.0) == 0 ? whole : whole + 1;
        else if (half_down)
            rounded = whole;
        else if (half_ceiling)
            rounded = std::fabs(std::ceil(q));
        else
            rounded = whole + 1;
        q = std::copysign(rounded, q);
    }
    double result = s < 1.0 ? q / inverse : q * s;
    if (shift) result = std::ldexp(result, shift);
    if (std::isinf(result)) error::fire(error::kMath, error::math::overflow);

    if (result_type == kTypeInteger) {
        if (!(result >= -2147483648.0 && result <= 2147483647.0))
            error::fire(error::kMath, error::math::overflow);
        return integer::make_at(value, static_cast<int32_t>(result));
    }
    cell::set_type(value, result_type);
    set(value, result);
    return value;
}

void register_actions() {
    action::Row row;
    row.set<action::slot::form>(form)
        .set<action::slot::mold>(mold)
        .set<action::slot::compare>(compare)
        .set<action::slot::add>(add)
        .set<action::slot::divide>(divide)
        .set<action::slot::multiply>(multiply)
        .set<action::slot::power>(power)
        .set<action::slot::remainder>(remainder)
        .set<action::slot::round>(round)
        .set<action::slot::subtract>(subtract);
    datatype::register_({kTypeFloat, 0, "float!", row.entries()});
}

} // namespace float_
