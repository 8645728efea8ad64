#include "datatypes/integer.h"

#include <cstring>
#include <utility>

#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/money.h"
#include "datatypes/none.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/unset.h"
#include "datatypes/vector.h"
#include "datatypes/words.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/runtime.h"
#include "runtime-core/support.h"
#include "runtime-core/throw.h"

namespace integer {

namespace {

constexpr int32_t kMin = -2147483647 - 1;
constexpr int32_t kMax = 2147483647;

const RandomSource* random_source_ = nullptr;

[[noreturn]] void math_error(uint32_t id) {
    error::fire(error::kMath, id);
}

// The values of datatypes whose modules are still to come (money!, date!, vector!, the
// compound numbers) cannot be handled yet.
[[noreturn]] void not_done() {
    error::fire(error::kInternal, error::internal::not_done);
}

// script/not-related (operation, datatype): the operation's word from the runtime's word
// tables, none before they exist.
[[noreturn]] void not_related(const Cell* operation, uint8_t type) {
    Cell* t = datatype::push(type);
    error::fire(error::kScript, error::script::not_related,
                {operation ? operation : &none::value, t});
}

[[noreturn]] void invalid_type(const Cell* value) {
    Cell* t = datatype::push(cell::type(value));
    error::fire(error::kScript, error::script::invalid_type, {t});
}

[[noreturn]] void bad_to_arg(const Cell* spec) {
    Cell* t = datatype::push(kTypeInteger);
    error::fire(error::kScript, error::script::bad_to_arg, {t, spec});
}

// A cell that held an integer becomes a float!, keeping its header flags.
void become_float(Cell* cell, double d) {
    cell::set_type(cell, kTypeFloat);
    float_::set(cell, d);
}

bool fits(double d) {
    // NaN fails both comparisons, an infinity one of them.
    return d >= -2147483648.0 && d <= 2147483647.0;
}

// A double truncated toward zero; one that does not fit raises script/type-limit.
int32_t truncate_checked(double d) {
    if (!fits(d)) {
        Cell* t = datatype::push(kTypeInteger);
        error::fire(error::kScript, error::script::type_limit, {t});
    }
    return static_cast<int32_t>(d);
}

} // namespace

// --- Cells --------------------------------------------------------------------------------

Cell* make_at(Cell* cell, int32_t value) {
    // Every payload word is written, so that same? and hashing never read leftovers.
    cell::set_type(cell, kTypeInteger);
    cell->w1 = 0;
    cell->w2 = static_cast<uint32_t>(value);
    cell->w3 = 0;
    return cell;
}

Cell* push(int32_t value) {
    Cell* c = stack::push_cell();
    c->header = kTypeInteger;
    c->w2 = static_cast<uint32_t>(value);
    return c;
}

Cell* add_to_block(const Cell* block, int32_t value) {
    Cell* c = memory::alloc_tail_cell(memory::buffer(block->w2));
    c->header = kTypeInteger;
    c->w2 = static_cast<uint32_t>(value);
    return c;
}

Cell* set_result(int32_t value) {
    return make_at(stack::arguments, value);
}

int32_t get(const Cell* value) {
    return static_cast<int32_t>(value->w2);
}

int32_t get_result() {
    return get(stack::arguments);
}

int32_t result_or_zero() {
    return cell::type(stack::arguments) == kTypeInteger ? get_result() : 0;
}

// --- Helpers ------------------------------------------------------------------------------

int32_t sign(int32_t value) {
    return (value > 0) - (value < 0);
}

int32_t abs_checked(int32_t value) {
    if (value == kMin) math_error(error::math::overflow);
    return value < 0 ? -value : value;
}

bool clamp_from_float(const Cell* value) {
    return !fits(float_::get(value));
}

const char* to_decimal(int32_t value) {
    static char buffer[12];
    if (value == 0) return "0";
    if (value == kMin) return "-2147483648";
    char* at = buffer + sizeof buffer - 1;
    *at = '\0';
    uint32_t magnitude = value < 0 ? static_cast<uint32_t>(-value) : static_cast<uint32_t>(value);
    while (magnitude) {
        *--at = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    }
    if (value < 0) *--at = '-';
    return at;
}

// --- Arithmetic ---------------------------------------------------------------------------

int32_t do_math(int32_t a, int32_t b, int32_t code, Cell* result) {
    int32_t r = 0;
    switch (code) {
    case kAdd:
        if (__builtin_add_overflow(a, b, &r)) {
            become_float(result, static_cast<double>(a) + static_cast<double>(b));
            return 0;
        }
        break;
    case kSubtract:
        if (__builtin_sub_overflow(a, b, &r)) {
            become_float(result, static_cast<double>(a) - static_cast<double>(b));
            return 0;
        }
        break;
    case kMultiply:
        if (__builtin_mul_overflow(a, b, &r)) {
            become_float(result, static_cast<double>(a) * static_cast<double>(b));
            return 0;
        }
        break;
    case kDivide:
    case kRemainder:
        if (b == 0) math_error(error::math::zero_divide);
        if (a == kMin && b == -1) math_error(error::math::overflow);
        if (code == kRemainder) {
            r = a % b;
        } else if (result && a % b != 0) {
            become_float(result, static_cast<double>(a) / static_cast<double>(b));
            return 0;
        } else {
            r = a / b;
        }
        break;
    case kOr:
        r = a | b;
        break;
    case kAnd:
        r = a & b;
        break;
    case kXor:
        r = a ^ b;
        break;
    default:
        runtime::quit(runtime::kErrorNoSwitch, ZAN_CALLER_ADDRESS());
    }
    if (result) result->w2 = static_cast<uint32_t>(r);
    return r;
}

void math_dispatch(int32_t code) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    switch (cell::type(right)) {
    case kTypeInteger:
    case kTypeChar:
        do_math(get(left), get(right), code, left);
        return;
    case kTypeFloat:
    case kTypePercent:
    case kTypeTime:
        float_::do_math(code);
        return;
    case kTypeMoney:
        if (code > kRemainder) invalid_type(right);
        money::do_math(code);
        return;
    case kTypeVector:
        vector::do_math(code, right, left, true);
        return;
    case kTypePair:
    case kTypePoint2D:
    case kTypePoint3D: {
        // The compound value's own arithmetic takes the integer as its right operand (a
        // subtraction as an addition to the negated compound); a division has no meaning.
        if (code == kDivide) not_related(words::word.divide, kTypeInteger);
        const uint8_t type = cell::type(right);
        std::swap(*left, *right);
        if (code == kSubtract) {
            if (type == kTypePair)
                pair::negate();
            else
                point::negate();
            code = kAdd;
        }
        if (type == kTypePair)
            pair::do_math(code);
        else
            point::do_math(code);
        return;
    }
    case kTypeTuple:
        if (code == kSubtract || code == kDivide)
            not_related(code == kSubtract ? words::word.subtract : words::word.divide,
                        kTypeInteger);
        tuple::do_math(code);
        return;
    case kTypeDate:
        // Days can be added to a date, nothing else; the error names subtract whatever the
        // operation was.
        if (code != kAdd) not_related(words::word.subtract, kTypeInteger);
        std::swap(left[0], left[1]); // integer + date is date + integer
        date::add();
        return;
    default:
        invalid_type(right);
    }
}

int32_t power_loop(int32_t base, int32_t exponent) {
    int32_t result = 1;
    while (exponent != 0) {
        if ((exponent & 1) && __builtin_mul_overflow(result, base, &result))
            runtime::throw_code(runtime::kThrowPowerOverflow);
        exponent >>= 1;
        if (exponent != 0 && __builtin_mul_overflow(base, base, &base))
            runtime::throw_code(runtime::kThrowPowerOverflow);
    }
    return result;
}

// --- Conversions --------------------------------------------------------------------------

int32_t text_to_integer(const uint8_t* text, uint32_t length, uint32_t unit, int32_t& error) {
    error = -1;
    uint32_t i = 0;
    bool negative = false;
    if (length > 0) {
        const uint32_t c = string::get_char(text, unit);
        if (c == '-' || c == '+') {
            negative = c == '-';
            i = 1;
        }
    }
    // The magnitude may reach 2147483648 for the smallest integer.
    const uint64_t limit = negative ? 2147483648u : 2147483647u;
    uint64_t magnitude = 0;
    bool digits = false;
    bool overflow = false;
    for (; i < length; ++i) {
        const uint32_t c = string::get_char(text + static_cast<uint64_t>(i) * unit, unit);
        if (c == '\'' && digits) continue;
        if (c < '0' || c > '9') return 0;
        digits = true;
        if (!overflow) {
            magnitude = magnitude * 10 + (c - '0');
            overflow = magnitude > limit;
        }
    }
    if (!digits) return 0;
    if (overflow) {
        error = -2;
        return 0;
    }
    error = 0;
    return negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude))
                    : static_cast<int32_t>(magnitude);
}

int32_t from_binary(const Cell* binary) {
    uint32_t length = 0, unit = 0;
    const uint8_t* bytes = series::units_from_index(binary, length, unit);
    if (length > 4) length = 4;
    uint32_t value = 0;
    for (uint32_t i = 0; i < length; ++i) value = (value << 8) | bytes[i];
    return static_cast<int32_t>(value);
}

int32_t from_issue_text(const uint8_t* text, uint32_t length, const Cell* issue) {
    if (length == 0 || length > 8)
        error::fire(error::kScript, error::script::invalid_data, {issue});
    uint32_t value = 0;
    for (uint32_t i = 0; i < length; ++i) {
        const uint8_t c = text[i];
        uint32_t digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            error::fire(error::kScript, error::script::invalid_data, {issue});
        value = (value << 4) | digit;
    }
    return static_cast<int32_t>(value);
}

void set_random_source(const RandomSource* source) {
    random_source_ = source;
}

const RandomSource* random_source() {
    return random_source_;
}

// --- Slot functions -----------------------------------------------------------------------

Cell* to(Cell* prototype, Cell* spec, int32_t) {
    const uint8_t type = cell::type(spec);
    switch (type) {
    case kTypeInteger:
        return spec;
    case kTypeChar:
        return make_at(prototype, get(spec));
    case kTypeFloat:
    case kTypePercent:
        return make_at(prototype, truncate_checked(float_::get(spec)));
    case kTypeTime:
        // Seconds rounded half up, then truncated toward zero.
        return make_at(prototype, truncate_checked(float_::get(spec) + 0.5));
    case kTypeBinary:
        return make_at(prototype, from_binary(spec));
    case kTypeIssue: {
        const std::string_view text = symbol::text(spec->w2);
        return make_at(prototype, from_issue_text(reinterpret_cast<const uint8_t*>(text.data()),
                                                  static_cast<uint32_t>(text.size()), spec));
    }
    case kTypeDate: {
        const int64_t seconds = date::to_epoch_seconds(spec);
        if (seconds < kMin || seconds > kMax) {
            Cell* t = datatype::push(kTypeInteger);
            error::fire(error::kScript, error::script::type_limit, {t});
        }
        return make_at(prototype, static_cast<int32_t>(seconds));
    }
    case kTypeMoney:
        return make_at(prototype, money::to_integer(spec));
    default:
        if (!series::is_any_string(type)) bad_to_arg(spec);
        uint32_t length = 0, unit = 0;
        const uint8_t* text = series::units_from_index(spec, length, unit);
        int32_t error = 0;
        const int32_t value = text_to_integer(text, length, unit, error);
        if (error != 0) bad_to_arg(spec);
        return make_at(prototype, value);
    }
}

Cell* make(Cell* prototype, Cell* spec, int32_t type) {
    if (cell::type(spec) == kTypeLogic) return make_at(prototype, spec->w1 == 1 ? 1 : 0);
    return to(prototype, spec, type);
}

Cell* random(Cell* value, const action::RandomOptions& options) {
    if (!random_source_) not_done();
    if (options.seed) {
        random_source_->seed(value->w2);
        return unset::make_at(value);
    }
    const int32_t n = get(value);
    if (n != 0) value->w2 = static_cast<uint32_t>(random_source_->rand(options.secure, n));
    return value;
}

int32_t form(Cell* value, Cell* string, Cell*, int32_t limit) {
    const char* text = to_decimal(get(value));
    const auto length = static_cast<int32_t>(std::strlen(text));
    string::concatenate_cstring(string, text);
    return limit - length;
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t) {
    return form(value, string, options.part, limit);
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    const uint8_t type = cell::type(other);
    // An integer is never the same value as one of another type, whatever the numbers.
    if ((op == action::op::strict_equal || op == action::op::same || op == action::op::find) &&
        type != kTypeInteger)
        return 1;
    switch (type) {
    case kTypeInteger:
    case kTypeChar: {
        const int32_t a = get(value), b = get(other);
        return (a > b) - (a < b);
    }
    case kTypeFloat:
    case kTypePercent:
    case kTypeTime: {
        Cell as_float{};
        float_::make_at(&as_float, static_cast<double>(get(value)));
        return float_::compare(&as_float, other, op);
    }
    case kTypeMoney:
        return -money::compare(other, value, op);
    default:
        return action::kNotComparable;
    }
}

void absolute() {
    Cell* value = stack::arguments;
    value->w2 = static_cast<uint32_t>(abs_checked(get(value)));
}

void add() {
    math_dispatch(kAdd);
}

void divide() {
    math_dispatch(kDivide);
}

void multiply() {
    math_dispatch(kMultiply);
}

void negate() {
    Cell* value = stack::arguments;
    if (get(value) == kMin) math_error(error::math::overflow);
    value->w2 = static_cast<uint32_t>(-get(value));
}

void power() {
    Cell* base = stack::arguments;
    Cell* exponent = base + 1;
    const uint8_t type = cell::type(exponent);
    if (type != kTypeInteger && type != kTypeFloat) {
        // The call's name and the argument's word come with the call frames; until then
        // both are none.
        Cell* t = datatype::push(type);
        error::fire(error::kScript, error::script::expect_arg, {&none::value, t, &none::value});
    }
    if (type == kTypeInteger && get(exponent) >= 0) {
        int32_t result = 0;
        const uint32_t code = runtime::catch_level(
            runtime::kThrowPowerOverflow, [&] { result = power_loop(get(base), get(exponent)); });
        if (code == 0) {
            base->w2 = static_cast<uint32_t>(result);
            return;
        }
        if (code != runtime::kThrowPowerOverflow) runtime::rethrow();
        runtime::reset_thrown_code();
    }
    // A float or negative exponent, or a result beyond 32 bits: computed as a float.
    become_float(base, static_cast<double>(get(base)));
    float_::power();
}

void remainder() {
    math_dispatch(kRemainder);
}

Cell* round(Cell* value, const action::RoundOptions& options) {
    Cell* const scale = options.scale;
    if (scale && cell::type(scale) == kTypeMoney) float_::call_not_related(kTypeMoney);
    const int32_t n = get(value);
    if (n == kMin) return value;
    if (scale && cell::type(scale) != kTypeInteger) {
        become_float(value, static_cast<double>(n));
        return float_::round(value, options);
    }
    const int32_t s = scale ? abs_checked(get(scale)) : 1;
    if (s == 0) return value;
    const int32_t m = n < 0 ? -n : n;
    const int32_t r = m % s;
    if (r == 0) return value;
    const int32_t d = s - r;
    const int32_t toward = n < 0 ? -(m - r) : m - r;
    bool away;
    if (options.down)
        away = false;
    else if (options.floor)
        away = n <= 0;
    else if (options.ceiling)
        away = n >= 0;
    else if (r != d)
        away = r > d;
    else if (options.even)
        away = (m / s) % 2 != 0;
    else if (options.half_down)
        away = false;
    else if (options.half_ceiling)
        away = n >= 0;
    else
        away = true;
    if (!away) {
        value->w2 = static_cast<uint32_t>(toward);
        return value;
    }
    int32_t up = 0;
    if (__builtin_add_overflow(m, d, &up)) math_error(error::math::overflow);
    value->w2 = static_cast<uint32_t>(n < 0 ? -up : up);
    return value;
}

void subtract() {
    math_dispatch(kSubtract);
}

bool even_q(Cell* value) {
    return (value->w2 & 1) == 0;
}

bool odd_q(Cell* value) {
    return (value->w2 & 1) != 0;
}

void and_() {
    math_dispatch(kAnd);
}

Cell* complement(Cell* value) {
    value->w2 = ~value->w2;
    return value;
}

void or_() {
    math_dispatch(kOr);
}

void xor_() {
    math_dispatch(kXor);
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
        .set<action::slot::odd_q>(odd_q)
        .set<action::slot::and_>(and_)
        .set<action::slot::complement>(complement)
        .set<action::slot::or_>(or_)
        .set<action::slot::xor_>(xor_);
    datatype::register_({kTypeInteger, 0, "integer!", row.entries()});
}

} // namespace integer
