// Mathematical natives: sign and zero tests, max and min, bit shifts, hexadecimal digits, the
// trigonometric and logarithmic functions, and the constructors of pairs, points and money.
//
// The functions of one number take integer!, float! and percent! alike and answer a float!;
// the sign tests and max/min compare across integer!, float! and percent! as doubles.
#include <cmath>
#include <cstdio>
#include <numbers>

#include "datatypes/dispatch.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/issue.h"
#include "datatypes/logic.h"
#include "datatypes/money.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/tuple.h"
#include "evaluator/frames.h"
#include "evaluator/natives.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/math.h"
#include "runtime-core/support.h"
#include "runtime-core/type-traits.h"

namespace natives {

namespace {

using interp::Status;

inline Cell* arg(int i) {
    return stack::arguments + i;
}

// The double of an integer!, float!, percent! or time!: the functions of one number read
// their argument so, which makes their result a float! whatever number they are given.
double number_of(const Cell* value) {
    return cell::type(value) == kTypeInteger ? integer::get(value) : float_::get(value);
}

// --- Signs and tests --------------------------------------------------------------------------

// -1, 0 or 1 by the sign of a number, time or money (NaN counts as 0).
int32_t sign_of(const Cell* value) {
    switch (cell::type(value)) {
    case kTypeInteger:
    case kTypeFloat:
    case kTypePercent:
    case kTypeTime: {
        const double d = number_of(value);
        return d > 0 ? 1 : d < 0 ? -1 : 0;
    }
    case kTypeMoney:
        return money::sign(value);
    default:
        actions::not_supported(value);
    }
}

Status negative_q(const int32_t*) {
    logic::make_at(arg(0), sign_of(arg(0)) < 0);
    return Status::normal;
}

Status positive_q(const int32_t*) {
    logic::make_at(arg(0), sign_of(arg(0)) > 0);
    return Status::normal;
}

Status sign_q(const int32_t*) {
    integer::make_at(arg(0), sign_of(arg(0)));
    return Status::normal;
}

Status zero_q(const int32_t*) {
    const Cell* v = arg(0);
    bool zero = false;
    switch (cell::type(v)) {
    case kTypeInteger:
    case kTypeChar:
        zero = v->w2 == 0;
        break;
    case kTypeFloat:
    case kTypePercent:
    case kTypeTime:
        zero = float_::get(v) == 0.0;
        break;
    case kTypeMoney:
        zero = money::zero_q(v);
        break;
    case kTypePair:
        zero = pair::x(v) == 0 && pair::y(v) == 0;
        break;
    case kTypePoint2D:
    case kTypePoint3D:
        zero = true;
        for (uint32_t i = 0; i < point::dimensions(v); ++i) zero = zero && point::get(v, i) == 0;
        break;
    case kTypeTuple:
        zero = tuple::zero_q(v);
        break;
    default:
        actions::not_supported(v);
    }
    logic::make_at(arg(0), zero);
    return Status::normal;
}

Status nan_q(const int32_t*) {
    logic::make_at(arg(0), cell::type(arg(0)) == kTypeFloat && std::isnan(float_::get(arg(0))));
    return Status::normal;
}

// --- max and min ------------------------------------------------------------------------------

// A float as a pair coordinate: truncated toward zero; beyond the 32-bit integers (or NaN)
// script/type-limit.
int32_t pair_coordinate(double d) {
    if (!(d >= -2147483648.0 && d < 2147483648.0)) {
        Cell* type = datatype::push(kTypePair);
        error::fire(error::kScript, error::script::type_limit, {type});
    }
    return static_cast<int32_t>(d);
}

// A pair or point with a number or a value of its own kind, coordinate by coordinate; false
// for any other combination.
bool max_min_coordinates(Cell* a, const Cell* b, bool max) {
    const uint8_t ta = cell::type(a), tb = cell::type(b);
    const bool a_vector = ta == kTypePair || ta == kTypePoint2D || ta == kTypePoint3D;
    const bool b_vector = tb == kTypePair || tb == kTypePoint2D || tb == kTypePoint3D;
    if (!(a_vector && (tb == ta || traits::is_number(tb))) && !(b_vector && traits::is_number(ta)))
        return false;
    const Cell* vector = a_vector ? a : b;
    const Cell* other = a_vector ? b : a;
    auto pick = [max](auto x, auto y) { return max ? (y > x ? y : x) : (y < x ? y : x); };
    if (cell::type(vector) == kTypePair) {
        int32_t x = pair::x(vector), y = pair::y(vector);
        if (cell::type(other) == kTypePair) {
            x = pick(x, pair::x(other));
            y = pick(y, pair::y(other));
        } else {
            const int32_t n = cell::type(other) == kTypeInteger
                                  ? integer::get(other)
                                  : pair_coordinate(float_::get(other));
            x = pick(x, n);
            y = pick(y, n);
        }
        pair::make_at(a, x, y);
        return true;
    }
    Cell result = *vector;
    for (uint32_t i = 0; i < point::dimensions(vector); ++i) {
        const float o = cell::type(other) == cell::type(vector)
                            ? point::get(other, i)
                            : static_cast<float>(number_of(other));
        point::set(&result, i, pick(point::get(vector, i), o));
    }
    *a = result;
    return true;
}

Status max_min(bool max) {
    Cell* a = arg(0);
    Cell* b = arg(1);
    const uint8_t ta = cell::type(a), tb = cell::type(b);
    if (traits::is_number(ta) && traits::is_number(tb)) {
        // Two numbers: a NaN wins; otherwise the winning argument as it is.
        if (ta != kTypeInteger && std::isnan(float_::get(a))) return Status::normal;
        if (tb != kTypeInteger && std::isnan(float_::get(b))) {
            *a = *b;
            return Status::normal;
        }
        bool second;
        if (ta == kTypeInteger && tb == kTypeInteger)
            second = max ? integer::get(b) > integer::get(a) : integer::get(b) < integer::get(a);
        else
            second = max ? number_of(b) > number_of(a) : number_of(b) < number_of(a);
        if (second) *a = *b;
        return Status::normal;
    }
    if (max_min_coordinates(a, b, max)) return Status::normal;
    if (actions::compare(a, b, max ? action::op::lesser : action::op::greater)) *a = *b;
    return Status::normal;
}

Status max_(const int32_t*) {
    return max_min(true);
}
Status min_(const int32_t*) {
    return max_min(false);
}

// --- Bits and digits --------------------------------------------------------------------------

// shift: right and arithmetic by default; /left wins over /logical. A negative count counts
// as 0; a count above 31 shifts everything out.
Status shift(const int32_t* refs) {
    struct {
        bool left, logical;
    } options{ref_on(refs, 0), ref_on(refs, 1)};
    const int32_t data = integer::get(arg(0));
    const int32_t bits = std::max(integer::get(arg(1)), 0);
    int32_t result;
    if (options.left)
        result = bits > 31 ? 0 : static_cast<int32_t>(static_cast<uint32_t>(data) << bits);
    else if (options.logical)
        result = bits > 31 ? 0 : static_cast<int32_t>(static_cast<uint32_t>(data) >> bits);
    else
        result = bits > 31 ? (data < 0 ? -1 : 0) : data >> bits;
    integer::make_at(arg(0), result);
    return Status::normal;
}

// to-hex: an issue! of the eight hexadecimal digits of the integer, or of the last n of them.
Status to_hex(const int32_t* refs) {
    const Cell* size = ref_arg(refs, 0);
    int32_t n = 8;
    if (size) {
        n = integer::get(size);
        if (n <= 0) error::fire(error::kScript, error::script::invalid_arg, {size});
        n = std::min(n, 8);
    }
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08X", static_cast<uint32_t>(integer::get(arg(0))));
    issue::make_at(arg(0), digits + 8 - n);
    return Status::normal;
}

// --- Functions of one number ------------------------------------------------------------------

// Values nearer zero than the double epsilon are rounding noise of the angle conversion.
double trimmed(double d) {
    return std::fabs(d) < 2.220446049250313e-16 ? 0.0 : d;
}

// The normaliser's fold for each function: sine keeps its value under 180 - y, tangent
// under y +- 180; cosine is taken unfolded.
enum Fold { kFoldTangent = 0, kNoFold = 1, kFoldSine = 2 };

template <double (*F)(double), int FoldMode> Status trigonometric(const int32_t* refs) {
    double angle = number_of(arg(0));
    if (!ref_on(refs, 0)) angle = math::degrees_normalise(angle, FoldMode);
    float_::make_at(arg(0), trimmed(F(angle)));
    return Status::normal;
}

double sin_(double x) {
    return std::sin(x);
}
double cos_(double x) {
    return std::cos(x);
}
double tan_(double x) {
    return std::tan(x);
}
double asin_(double x) {
    return std::asin(x);
}
double acos_(double x) {
    return std::acos(x);
}
double atan_(double x) {
    return std::atan(x);
}

// The result in degrees unless /radians.
Status in_degrees(double radians, bool keep_radians) {
    float_::make_at(arg(0), keep_radians ? radians : radians * 180.0 / std::numbers::pi);
    return Status::normal;
}

template <double (*F)(double)> Status arc(const int32_t* refs) {
    return in_degrees(F(number_of(arg(0))), ref_on(refs, 0));
}

Status arctangent2(const int32_t* refs) {
    return in_degrees(std::atan2(number_of(arg(0)), number_of(arg(1))), ref_on(refs, 0));
}

double log2_(double x) {
    return std::log(x) / std::log(2.0);
}
double log10_(double x) {
    return std::log10(x);
}
double log_(double x) {
    return std::log(x);
}
double exp_(double x) {
    return std::pow(std::numbers::e, x);
}
double sqrt_(double x) {
    return std::sqrt(x);
}

template <double (*F)(double)> Status unary(const int32_t*) {
    float_::make_at(arg(0), F(number_of(arg(0))));
    return Status::normal;
}

// --- Constructors -----------------------------------------------------------------------------

// A pair coordinate from an integer!, or a float! truncated toward zero; a float beyond the
// 32-bit integers (or NaN) raises script/invalid-arg.
int32_t integer_coordinate(const Cell* value) {
    if (cell::type(value) == kTypeInteger) return integer::get(value);
    const double d = float_::get(value);
    if (!(d >= -2147483648.0 && d <= 2147483647.0))
        error::fire(error::kScript, error::script::invalid_arg, {value});
    return static_cast<int32_t>(d);
}

float float_coordinate(const Cell* value) {
    return static_cast<float>(number_of(value));
}

Status as_pair(const int32_t*) {
    const int32_t x = integer_coordinate(arg(0));
    const int32_t y = integer_coordinate(arg(1));
    pair::make_at(arg(0), x, y);
    return Status::normal;
}

Status as_point2d(const int32_t*) {
    point2D::make_at(arg(0), float_coordinate(arg(0)), float_coordinate(arg(1)));
    return Status::normal;
}

Status as_point3d(const int32_t*) {
    point3D::make_at(arg(0), float_coordinate(arg(0)), float_coordinate(arg(1)),
                     float_coordinate(arg(2)));
    return Status::normal;
}

Status as_money(const int32_t*) {
    const int32_t currency = money::word_currency_index(arg(0));
    if (currency < 0) error::fire(error::kScript, error::script::bad_denom, {arg(0)});
    Cell* amount = arg(1);
    if (cell::type(amount) == kTypeInteger)
        money::from_integer(arg(0), integer::get(amount));
    else
        money::from_float(arg(0), float_::get(amount), false);
    money::set_currency(arg(0), currency);
    return Status::normal;
}

const Registration kFamily[] = {
    {kNegativeQ, "negative?", negative_q},
    {kPositiveQ, "positive?", positive_q},
    {kSignQ, "sign?", sign_q},
    {kZeroQ, "zero?", zero_q},
    {kNaNQ, "NaN?", nan_q},
    {kMax, "max", max_},
    {kMin, "min", min_},
    {kShift, "shift", shift},
    {kToHex, "to-hex", to_hex},
    {kSine, "sine", trigonometric<sin_, kFoldSine>},
    {kCosine, "cosine", trigonometric<cos_, kNoFold>},
    {kTangent, "tangent", trigonometric<tan_, kFoldTangent>},
    {kArcsine, "arcsine", arc<asin_>},
    {kArccosine, "arccosine", arc<acos_>},
    {kArctangent, "arctangent", arc<atan_>},
    {kArctangent2, "arctangent2", arctangent2},
    {kLog2, "log-2", unary<log2_>},
    {kLog10, "log-10", unary<log10_>},
    {kLogE, "log-e", unary<log_>},
    {kExp, "exp", unary<exp_>},
    {kSquareRoot, "square-root", unary<sqrt_>},
    {kAsPair, "as-pair", as_pair},
    {kAsPoint2D, "as-point2D", as_point2d},
    {kAsPoint3D, "as-point3D", as_point3d},
    {kAsMoney, "as-money", as_money},
};

} // namespace

std::span<const Registration> math_family() {
    return kFamily;
}

} // namespace natives
