#include "datatypes/float.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "datatypes/block.h"
#include "datatypes/compound.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/money.h"
#include "datatypes/none.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/unset.h"
#include "datatypes/vector.h"
#include "datatypes/words.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/dtoa.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/strtod.h"
#include "runtime-core/support.h"

namespace float_ {

bool pretty = true;
bool full = false;

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

// script/not-related (operation, datatype). The operation's word comes from the runtime's
// word tables; it is none until they exist.
[[noreturn]] void not_related(const Cell* name, uint8_t type) {
    Cell* t = datatype::push(type);
    error::fire(error::kScript, error::script::not_related, {name ? name : &none::value, t});
}

// script/expect-arg: the running call refuses the datatype for its parameter at `parameter`
// (counted among the words of its spec, refinements included).
[[noreturn]] void expect_arg(uint8_t type, int32_t parameter) {
    Cell* name = stack::push_cell();
    error::call_name(name);
    Cell* t = datatype::push(type);
    Cell* argument = error::get_call_name(parameter);
    error::fire(error::kScript, error::script::expect_arg, {name, t, argument});
}

// The positions of the parameters named in errors: power's exponent (number exponent) and
// round's scale (n /to scale).
constexpr int32_t kPowerExponent = 1;
constexpr int32_t kRoundScale = 2;

bool is_float_like(uint8_t type) {
    return type == kTypeFloat || type == kTypePercent || type == kTypeTime;
}

// The number of an integer!, char! or float-like cell.
double number(const Cell* value) {
    const uint8_t type = cell::type(value);
    if (type == kTypeInteger || type == kTypeChar) return static_cast<int32_t>(value->w2);
    return get(value);
}

// The significant digits of each printer kind's general format ("%.Ng"); the seconds kind
// has its own exact conversion.
constexpr int kDigits[] = {7, 16, 7, 13, 0, 7};

// The general format with `digits` significant digits, written the same on every build (the
// C library's printf differs between them in its exponent digits). Returns the length.
int print(char* out, size_t size, int digits, double value) {
    const auto r = std::to_chars(out, out + size - 1, value, std::chars_format::general, digits);
    *r.ptr = '\0';
    return static_cast<int>(r.ptr - out);
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

Cell* push64(uint32_t low, uint32_t high) {
    Cell* c = push(0.0);
    c->w2 = low;
    c->w3 = high;
    return c;
}

Cell* add_to_block(const Cell* block, double d) {
    Cell value;
    make_at(&value, d);
    return block::append_copy(block, &value);
}

double abs_from_words(uint32_t low, uint32_t high) {
    Cell c{kTypeFloat, 0, low, high & 0x7FFFFFFF};
    return get(&c);
}

bool is_special(double d) {
    const uint64_t bits = bits_of(d);
    return (bits & kExponentBits) == kExponentBits && (bits & kMantissaBits) != 0;
}

bool is_nan32(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return (bits & 0x7F800000) == 0x7F800000 && (bits & 0x007FFFFF) != 0;
}

bool is_edge_value(double d) {
    return (bits_of(d) & kExponentBits) == kExponentBits;
}

int32_t to_int_rounded(double d) {
    return saturate(d + 0.49999999999999994);
}

int32_t saturate(double d) {
    if (std::isnan(d)) return 0;
    if (d >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (d <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(d);
}

void call_not_related(uint8_t type) {
    Cell* name = stack::push_cell();
    error::call_name(name);
    Cell* t = datatype::push(type);
    error::fire(error::kScript, error::script::not_related, {name, t});
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
                                  : print(text, sizeof text, kDigits[kind], value);
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
        length = print(text, sizeof text, short_kind ? 5 : 14, value);
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
        return vector::do_math(op, right, left, true);
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
    // The plain draw has its sign bit cleared, so that the result lies between 0 and the bound
    // as the secure one does (a signed draw would give negative values for a positive bound).
    if (!secure) return (source->next() & 0x7FFFFFFF) / 2147483647.0 * bound;
    const double r1 = source->secure_next() & 0x7FFFFFFF;
    const double r2 = source->secure_next() & 0x7FFFFFFF;
    return (r2 + r1 / 2147483647.0) * bound / 2147483648.0;
}

// --- Slot functions -----------------------------------------------------------------------

namespace {

[[noreturn]] void bad_to_arg(int32_t type, const Cell* spec) {
    compound::bad_to_arg(type == kTypePercent ? kTypePercent : kTypeFloat, spec);
}

// mantissa x 10^exponent, correctly rounded from the mantissa's shortest decimal digits, so
// that [15 -1] gives exactly 1.5 (a product with a power of ten would round twice).
double scaled_by_ten(double mantissa, double exponent) {
    if (mantissa == 0 || !std::isfinite(mantissa)) return mantissa;
    // Beyond these exponents every finite mantissa gives zero or an infinity.
    const int32_t e = saturate(std::fmax(-100000.0, std::fmin(100000.0, exponent)));
    const number_text::FloatDigits d = number_text::float_to_text(mantissa, 0, false);
    char text[number_text::kMaxDigits + 24];
    char* at = text;
    if (d.sign) *at++ = '-';
    *at++ = '.';
    std::memcpy(at, d.text, static_cast<size_t>(d.length));
    at += d.length;
    *at++ = 'e';
    at = std::to_chars(at, text + sizeof text, d.position + e).ptr;
    int32_t unconsumed = 0;
    const double r = number_text::parse_float(text, at, 0, unconsumed);
    return r == 0 ? std::copysign(0.0, mantissa) : r; // the reader's zero has no sign
}

// The double of make and to for float! and percent! (`type`), by the spec's type.
double convert(const Cell* spec, int32_t type) {
    const uint8_t t = cell::type(spec);
    switch (t) {
    case kTypeInteger:
    case kTypeChar:
    case kTypeFloat:
    case kTypePercent:
    case kTypeTime:
        return number(spec);
    case kTypeMoney:
        return money::to_float(spec);
    case kTypeBinary: {
        // Up to 8 bytes from the index, big-endian: the bit pattern of the double.
        uint32_t count = 0, unit = 0;
        const uint8_t* bytes = series::units_from_index(spec, count, unit);
        uint64_t bits = 0;
        for (uint32_t k = 0; k < count && k < 8; ++k) bits = (bits << 8) | bytes[k];
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }
    case kTypeBlock:
    case kTypeParen:
    case kTypeHash: {
        // [mantissa exponent], each an integer! or a float!.
        if (block::length_from_index(spec) != 2) bad_to_arg(type, spec);
        const Cell* m = block::cell_at(spec, series::clamped_index(spec));
        for (const Cell* v : {m, m + 1})
            if (cell::type(v) != kTypeInteger && cell::type(v) != kTypeFloat)
                bad_to_arg(type, spec);
        return scaled_by_ten(number(m), std::trunc(number(m + 1)));
    }
    default:
        break;
    }
    if (!series::is_any_string(t)) bad_to_arg(type, spec);
    if (type == kTypePercent) {
        // The text as one value, whose number becomes the fraction ("50%" is 0.5, "50" 50.0).
        Cell* loaded = compound::load_value(kTypePercent, spec);
        const uint8_t lt = cell::type(loaded);
        if (lt != kTypeInteger && lt != kTypeFloat && lt != kTypePercent) bad_to_arg(type, spec);
        const double d = number(loaded);
        stack::pop(1);
        return d;
    }
    uint32_t length = 0, unit = 0;
    const uint8_t* text = series::units_from_index(spec, length, unit);
    int32_t error = 0;
    const double d = length == 0 ? 0.0 : number_text::text_to_float(text, length, unit, error);
    if (length == 0 || error != 0) bad_to_arg(type, spec);
    return d;
}

} // namespace

Cell* make(Cell* prototype, Cell* spec, int32_t type) {
    const double d = convert(spec, type);
    make_at(prototype, d);
    if (type == kTypePercent) cell::set_type(prototype, kTypePercent);
    return prototype;
}

Cell* to(Cell* prototype, Cell* spec, int32_t type) {
    return make(prototype, spec, type);
}

Cell* random(Cell* value, const action::RandomOptions& options) {
    if (options.seed) {
        const logic::RandomSource* source = logic::random_source();
        if (!source) not_done();
        source->seed(value->w2 ^ value->w3);
        return unset::make_at(value);
    }
    set(value, random_float(get(value), options.secure));
    return value;
}

void absolute() {
    stack::arguments->w3 &= 0x7FFFFFFF;
}

void negate() {
    Cell* value = stack::arguments;
    set(value, 0.0 - get(value));
}

bool even_q(Cell* value) {
    return (saturate(get(value)) & 1) == 0;
}

bool odd_q(Cell* value) {
    return (saturate(get(value)) & 1) != 0;
}

int32_t form(Cell* value, Cell* string, Cell*, int32_t limit) {
    const char* text = form_float(get(value), kFloat);
    const auto length = static_cast<int32_t>(std::strlen(text));
    string::concatenate_cstring(string, text);
    return limit - length;
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions&, int32_t limit, int32_t) {
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
    if (type != kTypeInteger && type != kTypeFloat) expect_arg(type, kPowerExponent);
    make_at(base, std::pow(number(base), number(exponent)));
}

Cell* round(Cell* value, const action::RoundOptions& options) {
    Cell* const scale = options.scale;
    const bool percent = cell::type(value) == kTypePercent;
    uint8_t result_type = cell::type(value);
    double s = percent ? 0.01 : 1.0;
    if (scale) {
        const uint8_t type = cell::type(scale);
        if (type == kTypeMoney) call_not_related(kTypeMoney);
        if (type != kTypeInteger && !is_float_like(type)) expect_arg(type, kRoundScale);
        s = std::fabs(number(scale));
        if (percent) s /= 100;
        result_type = type;
    }
    const double v = get(value);
    // A scale of 0, or one below the value's precision, leaves nothing to round.
    if (s == 0 || std::fabs(v) * 0x1p-53 > s) return value;

    // A scale too small for its inverse to be a double: value and scale are brought near 1
    // first and the result put back. (A NaN or infinite scale has no binary exponent; it
    // gives NaN below.)
    int shift = 0;
    double x = v;
    if (std::isfinite(s) && std::ilogb(s) < -1021) {
        shift = std::ilogb(s);
        x = std::ldexp(v, -shift);
        s = std::ldexp(s, -shift);
    }
    const double inverse = s < 1.0 ? 1.0 / s : 0.0;
    double q = s < 1.0 ? x * inverse : x / s;
    if (options.down) {
        q = std::trunc(q);
    } else if (options.floor) {
        q = std::floor(q);
    } else if (options.ceiling) {
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
        else if (options.even)
            rounded = std::fmod(whole, 2.0) == 0 ? whole : whole + 1;
        else if (options.half_down)
            rounded = whole;
        else if (options.half_ceiling)
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
    row.set<action::slot::make>(make)
        .set<action::slot::random>(random)
        .set<action::slot::to>(to)
        .set<action::slot::form>(form)
        .set<action::slot::mold>(mold)
        .set<action::slot::compare>(compare)
        .set<action::slot::absolute>(absolute)
        .set<action::slot::add>(add)
        .set<action::slot::divide>(divide)
        .set<action::slot::multiply>(multiply)
        .set<action::slot::negate>(negate)
        .set<action::slot::power>(power)
        .set<action::slot::remainder>(remainder)
        .set<action::slot::round>(round)
        .set<action::slot::subtract>(subtract)
        .set<action::slot::even_q>(even_q)
        .set<action::slot::odd_q>(odd_q);
    datatype::register_({kTypeFloat, 0, "float!", row.entries()});
}

} // namespace float_
