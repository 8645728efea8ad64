#include "datatypes/money.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/time.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/dtoa.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/strtod.h"
#include "runtime-core/support.h"
#include "runtime-core/type-traits.h"

namespace money {

namespace {

const char* const kCurrencies[] = {
    "AED", "AFN", "ALL", "AMD", "ANG", "AOA", "ARS", "AUD", "AWG", "AZN", "BAM", "BBD", "BDT",
    "BTC", "BGN", "BHD", "BIF", "BMD", "BND", "BOB", "BRL", "BSD", "BTN", "BWP", "BYN", "BZD",
    "CAD", "CDF", "CHF", "CKD", "CLP", "CNY", "COP", "CRC", "CUC", "CUP", "CVE", "CZK", "DJF",
    "DKK", "DOP", "DZD", "EGP", "ERN", "ETB", "ETH", "EUR", "FJD", "FKP", "FOK", "GBP", "GEL",
    "GGP", "GHS", "GIP", "GMD", "GNF", "GTQ", "GYD", "HKD", "HNL", "HRK", "HTG", "HUF", "IDR",
    "ILS", "IMP", "INR", "IQD", "IRR", "ISK", "JEP", "JMD", "JOD", "JPY", "KES", "KGS", "KHR",
    "KID", "KMF", "KPW", "KRW", "KWD", "KYD", "KZT", "LAK", "LBP", "LKR", "LRD", "LSL", "LYD",
    "MAD", "MDL", "MGA", "MKD", "MMK", "MNT", "MOP", "MRU", "MUR", "MVR", "MWK", "MXN", "MYR",
    "MZN", "NAD", "NGN", "NIO", "NOK", "NPR", "NZD", "OMR", "PAB", "PEN", "PGK", "PHP", "PKR",
    "PLN", "PND", "PRB", "PYG", "QAR", "ZAN", "RON", "RSD", "RUB", "RWF", "SAR", "SBD", "SCR",
    "SDG", "SEK", "SGD", "SHP", "SLL", "SLS", "SOS", "SRD", "SSP", "STN", "SYP", "SZL", "THB",
    "TJS", "TMT", "TND", "TOP", "TRY", "TTD", "TVD", "TWD", "TZS", "UAH", "UGX", "USD", "UYU",
    "UZS", "VES", "VND", "VUV", "WST", "CFA", "XAF", "XCD", "XOF", "CFP", "XPF", "YER", "ZAR",
    "ZMW"};
constexpr int32_t kCurrencyCount = sizeof kCurrencies / sizeof kCurrencies[0];
constexpr int32_t kFractionDigits = kDigits - kIntegerDigits;

OptionHook money_digits_hook = nullptr;
OptionHook currency_list_hook = nullptr;

// The system's currency list, or null: then the built-in one holds.
const Cell* system_currencies() {
    const Cell* list = currency_list_hook ? currency_list_hook() : nullptr;
    return list && cell::type(list) == kTypeBlock ? list : nullptr;
}

// The code of an entry of the system's list; empty unless it is a word of three letters.
std::string_view entry_code(const Cell* entry) {
    if (cell::type(entry) != kTypeWord) return {};
    const std::string_view text = symbol::text(entry->w2);
    return text.size() == 3 ? text : std::string_view{};
}

bool same_code(std::string_view a, const char* upper) {
    for (int i = 0; i < 3; ++i) {
        const char c = (a[i] >= 'a' && a[i] <= 'z') ? static_cast<char>(a[i] - 32) : a[i];
        if (c != upper[i]) return false;
    }
    return true;
}

// An amount taken apart: digit 1 at d[0], digit 22 at d[21].
struct Amount {
    bool negative = false;
    int32_t currency = 0;
    uint8_t d[kDigits]{};

    bool zero() const {
        return std::all_of(d, d + kDigits, [](uint8_t x) { return x == 0; });
    }
    // Digits from the first non-zero one to digit 22, at least 1.
    int32_t significant() const {
        for (int32_t i = 0; i < kDigits; ++i)
            if (d[i]) return kDigits - i;
        return 1;
    }
};

const uint8_t* bytes_of(const Cell* c) {
    return reinterpret_cast<const uint8_t*>(c) + 4;
}
uint8_t* bytes_of(Cell* c) {
    return reinterpret_cast<uint8_t*>(c) + 4;
}

Amount load(const Cell* c) {
    Amount a;
    a.negative = (c->header & kSignBit) != 0;
    const uint8_t* b = bytes_of(c);
    a.currency = b[0];
    for (int32_t i = 0; i < kDigits; ++i)
        a.d[i] = (i & 1) ? (b[1 + i / 2] & 0xF) : (b[1 + i / 2] >> 4);
    return a;
}

Cell* store(Cell* c, const Amount& a) {
    c->header = kTypeMoney | (a.negative && !a.zero() ? kSignBit : 0);
    uint8_t* b = bytes_of(c);
    b[0] = static_cast<uint8_t>(a.currency);
    for (int32_t i = 0; i < kDigitBytes; ++i)
        b[1 + i] = static_cast<uint8_t>((a.d[2 * i] << 4) | a.d[2 * i + 1]);
    return c;
}

[[noreturn]] void type_limit(uint8_t type = kTypeMoney) {
    Cell* t = datatype::push(type);
    error::fire(error::kScript, error::script::type_limit, {t});
}

[[noreturn]] void bad_make_arg(const Cell* value) {
    Cell* t = datatype::push(kTypeMoney);
    error::fire(error::kScript, error::script::bad_make_arg, {t, value});
}

[[noreturn]] void bad_to_arg(const Cell* value) {
    Cell* t = datatype::push(kTypeMoney);
    error::fire(error::kScript, error::script::bad_to_arg, {t, value});
}

[[noreturn]] void invalid_type(uint8_t type) {
    Cell* t = datatype::push(type);
    error::fire(error::kScript, error::script::invalid_type, {t});
}

int32_t compare_magnitudes(const Amount& a, const Amount& b) {
    for (int32_t i = 0; i < kDigits; ++i)
        if (a.d[i] != b.d[i]) return a.d[i] < b.d[i] ? -1 : 1;
    return 0;
}

// a + b digit-wise, magnitudes only; a carry out of digit 1 is an overflow.
Amount add_magnitudes(const Amount& a, const Amount& b) {
    Amount r;
    int carry = 0;
    for (int32_t i = kDigits - 1; i >= 0; --i) {
        int s = a.d[i] + b.d[i] + carry;
        carry = s >= 10;
        r.d[i] = static_cast<uint8_t>(carry ? s - 10 : s);
    }
    if (carry) type_limit();
    return r;
}

// a - b with a >= b.
Amount subtract_magnitudes(const Amount& a, const Amount& b) {
    Amount r;
    int borrow = 0;
    for (int32_t i = kDigits - 1; i >= 0; --i) {
        int s = a.d[i] - b.d[i] - borrow;
        borrow = s < 0;
        r.d[i] = static_cast<uint8_t>(borrow ? s + 10 : s);
    }
    return r;
}

Amount signed_add(const Amount& a, const Amount& b) {
    if (b.zero()) return a;
    if (a.zero()) return b;
    Amount r;
    if (a.negative == b.negative) {
        r = add_magnitudes(a, b);
        r.negative = a.negative;
    } else if (compare_magnitudes(a, b) >= 0) {
        r = subtract_magnitudes(a, b);
        r.negative = a.negative;
    } else {
        r = subtract_magnitudes(b, a);
        r.negative = b.negative;
    }
    return r;
}

Amount multiply_amounts(const Amount& a, const Amount& b) {
    if (a.significant() + b.significant() > 28) type_limit();
    uint8_t p[2 * kDigits]{};
    for (int32_t i = kDigits - 1; i >= 0; --i) {
        int carry = 0;
        for (int32_t j = kDigits - 1; j >= 0; --j) {
            const int t = p[i + j + 1] + a.d[i] * b.d[j] + carry;
            p[i + j + 1] = static_cast<uint8_t>(t % 10);
            carry = t / 10;
        }
        p[i] = static_cast<uint8_t>(p[i] + carry);
    }
    // The product has ten decimal places: the last five go (truncated).
    const int32_t skip = 2 * kDigits - kFractionDigits - kDigits;
    for (int32_t i = 0; i < skip; ++i)
        if (p[i]) type_limit();
    Amount r;
    std::memcpy(r.d, p + skip, kDigits);
    r.negative = a.negative != b.negative;
    return r;
}

// Long division of the digits of `dividend` (most significant first) by b; the quotient
// digits go to `quotient` (as many as the dividend has), the remainder to `rest`.
void long_divide(const uint8_t* dividend, int32_t count, const Amount& b, uint8_t* quotient,
                 Amount& rest) {
    Amount r;
    for (int32_t i = 0; i < count; ++i) {
        // r = r * 10 + digit; r stays below 10 x b, which fits: b has at most 22 digits and
        // r < b before the step, so r's top digit is 0 whenever b's is.
        if (r.d[0] != 0) type_limit();
        std::memmove(r.d, r.d + 1, kDigits - 1);
        r.d[kDigits - 1] = dividend[i];
        uint8_t q = 0;
        while (compare_magnitudes(r, b) >= 0) {
            r = subtract_magnitudes(r, b);
            ++q;
        }
        quotient[i] = q;
    }
    rest = r;
}

Amount divide_amounts(const Amount& a, const Amount& b, bool remainder) {
    if (b.zero()) error::fire(error::kMath, error::math::zero_divide);
    if (a.significant() - b.significant() + 6 > kDigits) type_limit();
    Amount r;
    if (remainder) {
        uint8_t q[kDigits];
        long_divide(a.d, kDigits, b, q, r);
        r.negative = a.negative;
        return r;
    }
    uint8_t shifted[kDigits + kFractionDigits]{};
    std::memcpy(shifted, a.d, kDigits);
    uint8_t q[kDigits + kFractionDigits];
    Amount rest;
    long_divide(shifted, kDigits + kFractionDigits, b, q, rest);
    for (int32_t i = 0; i < kFractionDigits; ++i)
        if (q[i]) type_limit();
    std::memcpy(r.d, q + kFractionDigits, kDigits);
    r.negative = a.negative != b.negative;
    return r;
}

// Digits of a decimal text into an amount: the integer digits from `start` to `dot` (or
// `end`), "'" skipped, at most 17 from the units up; the fraction after the dot, at most 5.
Amount amount_of_text(const char* text, int32_t start, int32_t dot, int32_t end) {
    Amount a;
    const int32_t integer_end = dot >= 0 ? dot : end;
    int32_t position = kIntegerDigits - 1;
    for (int32_t i = integer_end - 1; i >= start && position >= 0; --i) {
        const char c = text[i];
        if (c == '\'') continue;
        if (c >= '0' && c <= '9') a.d[position--] = static_cast<uint8_t>(c - '0');
    }
    if (dot >= 0) {
        position = kIntegerDigits;
        for (int32_t i = dot + 1; i < end && position < kDigits; ++i)
            if (text[i] >= '0' && text[i] <= '9')
                a.d[position++] = static_cast<uint8_t>(text[i] - '0');
    }
    return a;
}

// The amount of an operand: money as it is, an integer exactly, a float or percent through the
// 22-digit text; another type raises script/invalid-type.
Amount operand(const Cell* value) {
    Cell m{};
    switch (cell::type(value)) {
    case kTypeMoney:
        return load(value);
    case kTypeInteger:
        return load(from_integer(&m, integer::get(value)));
    case kTypeFloat:
    case kTypePercent:
        return load(from_float(&m, float_::get(value), false));
    default:
        invalid_type(cell::type(value));
    }
}

int32_t decimals_option() {
    const Cell* option = money_digits_hook ? money_digits_hook() : nullptr;
    if (!option || cell::type(option) != kTypeInteger) return 2;
    return std::min(integer::get(option), 5);
}

// The text of an amount: sign, currency, "$", the integer digits (with group separators when
// `groups`), and `decimals` fraction digits.
std::string text_of(const Amount& a, bool groups, int32_t decimals) {
    std::string out;
    if (a.negative && !a.zero()) out += '-';
    if (a.currency > 0) out += currency_code(a.currency);
    out += '$';
    int32_t first = 0;
    while (first < kIntegerDigits - 1 && a.d[first] == 0) ++first;
    for (int32_t i = first; i < kIntegerDigits; ++i) {
        out += static_cast<char>('0' + a.d[i]);
        const int32_t left = kIntegerDigits - 1 - i;
        if (groups && left > 0 && left % 3 == 0) out += '\'';
    }
    if (decimals >= 1) {
        out += '.';
        for (int32_t i = 0; i < decimals; ++i)
            out += static_cast<char>('0' + a.d[kIntegerDigits + i]);
    }
    return out;
}

// The code of an index as a word; none when the list has no code there. May collect.
Cell* currency_word(Cell* result, int32_t index) {
    const std::string code = currency_code(index);
    if (code.empty()) return none::make_at(result);
    const uint32_t s = symbol::find_or_make(code.data(), static_cast<uint32_t>(code.size()));
    *result = Cell{kTypeWord, 0, s, word::kUnresolved};
    return result;
}

} // namespace

// --- The currency list ------------------------------------------------------------------------

// A money! keeps its code's index in one byte: entries past the 255th name no currency.
constexpr int32_t kMaxCurrencies = 255;

int32_t currency_count() {
    const Cell* list = system_currencies();
    if (!list) return kCurrencyCount;
    return static_cast<int32_t>(std::min<uint32_t>(series::total_units(list), kMaxCurrencies));
}

std::string currency_code(int32_t index) {
    if (index < 1 || index > currency_count()) return {};
    const Cell* list = system_currencies();
    if (!list) return kCurrencies[index - 1];
    return std::string(entry_code(memory::buffer(list->w2)->cells() + index - 1));
}

int32_t currency_index(std::string_view code) {
    if (code.size() != 3) return -1;
    char upper[3];
    for (int i = 0; i < 3; ++i)
        upper[i] = (code[i] >= 'a' && code[i] <= 'z') ? static_cast<char>(code[i] - 32) : code[i];
    const Cell* list = system_currencies();
    if (!list) {
        for (int32_t i = 0; i < kCurrencyCount; ++i)
            if (std::memcmp(kCurrencies[i], upper, 3) == 0) return i + 1;
        return -1;
    }
    const Cell* entries = memory::buffer(list->w2)->cells();
    for (int32_t i = 0, n = currency_count(); i < n; ++i) {
        const std::string_view entry = entry_code(entries + i);
        if (!entry.empty() && same_code(entry, upper)) return i + 1;
    }
    return -1;
}

int32_t word_currency_index(const Cell* word) {
    return currency_index(symbol::text(symbol::resolve(word->w2)));
}

// --- Cells --------------------------------------------------------------------------------------

bool negative_q(const Cell* m) {
    return sign(m) < 0;
}
bool zero_q(const Cell* m) {
    return sign(m) == 0;
}
bool positive_q(const Cell* m) {
    return sign(m) > 0;
}
int32_t sign(const Cell* m) {
    const Amount a = load(m);
    return a.zero() ? 0 : a.negative ? -1 : 1;
}
int32_t get_currency(const Cell* m) {
    return bytes_of(m)[0];
}
void set_currency(Cell* m, int32_t index) {
    bytes_of(m)[0] = static_cast<uint8_t>(index);
}
int32_t get_digit(const Cell* m, int32_t position) {
    return load(m).d[position - 1];
}
void set_digit(Cell* m, int32_t position, int32_t digit) {
    Amount a = load(m);
    a.d[position - 1] = static_cast<uint8_t>(digit);
    const uint32_t flags = m->header & ~(kTypeMoney | kSignBit | cell::kTypeMask);
    store(m, a)->header |= flags;
}

// --- Constructors ---------------------------------------------------------------------------

Cell* make_in(Cell* cell, bool negative, int32_t currency, const uint8_t digits[kDigitBytes]) {
    cell->header = kTypeMoney | (negative ? kSignBit : 0);
    uint8_t* b = bytes_of(cell);
    b[0] = static_cast<uint8_t>(currency);
    std::memcpy(b + 1, digits, kDigitBytes);
    return cell;
}

Cell* push_in(bool negative, int32_t currency, const uint8_t digits[kDigitBytes]) {
    return make_in(stack::push_cell(), negative, currency, digits);
}

Cell* make_at(Cell* cell, bool negative, int32_t currency, const char* text, int32_t start,
              int32_t dot, int32_t end) {
    Amount a = amount_of_text(text, start, dot, end);
    a.negative = negative;
    a.currency = currency;
    return store(cell, a);
}

Cell* push(bool negative, int32_t currency, const char* text, int32_t start, int32_t dot,
           int32_t end) {
    return make_at(stack::push_cell(), negative, currency, text, start, dot, end);
}

Cell* set_result(bool negative, int32_t currency, const char* text, int32_t start, int32_t dot,
                 int32_t end) {
    return make_at(stack::arguments, negative, currency, text, start, dot, end);
}

Cell* add_to_block(const Cell* block, bool negative, int32_t currency, const char* text,
                   int32_t start, int32_t dot, int32_t end) {
    return make_at(memory::alloc_tail_cell(memory::buffer(block->w2)), negative, currency, text,
                   start, dot, end);
}

bool from_text(std::string_view text, Cell* cell) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    const size_t dollar = text.find('$', i);
    if (dollar == std::string_view::npos) return false;
    int32_t currency = 0;
    if (dollar > i) {
        currency = currency_index(text.substr(i, dollar - i));
        if (currency < 0) return false;
    }
    // Digits with "'" between two of them (none after the point), and one point with digits
    // on both sides: what a money literal may hold after its "$".
    const auto start = static_cast<int32_t>(dollar + 1);
    const auto end = static_cast<int32_t>(text.size());
    int32_t dot = -1, significant = 0;
    bool after_digit = false;
    for (int32_t k = start; k < end; ++k) {
        const char c = text[static_cast<size_t>(k)];
        if (c >= '0' && c <= '9') {
            if (dot < 0 && (significant > 0 || c != '0')) ++significant;
            after_digit = true;
        } else if ((c == '\'' && dot < 0) || (c == '.' && dot < 0)) {
            if (!after_digit) return false;
            if (c == '.') dot = k;
            after_digit = false;
        } else {
            return false;
        }
    }
    if (!after_digit || significant > kIntegerDigits) return false;
    make_at(cell, negative, currency, text.data(), start, dot, end);
    return true;
}

// --- Conversions --------------------------------------------------------------------------------

Cell* from_integer(Cell* cell, int32_t value) {
    Amount a;
    a.negative = value < 0;
    uint32_t magnitude =
        value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    for (int32_t i = kIntegerDigits - 1; magnitude; --i) {
        a.d[i] = static_cast<uint8_t>(magnitude % 10);
        magnitude /= 10;
    }
    return store(cell, a);
}

Cell* from_float(Cell* cell, double value, bool strict) {
    const double magnitude = std::fabs(value);
    if (!std::isfinite(value) || magnitude >= 1e17 || (magnitude != 0 && magnitude < 0.00001)) {
        Cell* f = float_::push(value);
        bad_make_arg(f);
    }
    Amount a;
    a.negative = value < 0;
    if (magnitude == 0) return store(cell, a);
    // The shortest digits that read back as the double: 0.1 is one tenth, not the 22 digits
    // of the binary fraction nearest to it (whose tail would be noise past the fifth place).
    const number_text::FloatDigits text = number_text::float_to_text(magnitude, kDigits, false);
    // Digit k of the text stands for 10^(position - 1 - k).
    for (int32_t k = 0; k < text.length; ++k) {
        const int32_t power = text.position - 1 - k;
        const int32_t index = kIntegerDigits - 1 - power; // in a.d
        const auto digit = static_cast<uint8_t>(text.text[k] - '0');
        if (index >= kDigits) {
            if (strict && digit != 0) {
                Cell* f = float_::push(value);
                bad_make_arg(f);
            }
            continue;
        }
        if (index >= 0) a.d[index] = digit;
    }
    return store(cell, a);
}

int32_t to_integer(const Cell* money) {
    const Amount a = load(money);
    int64_t v = 0;
    for (int32_t i = 0; i < kIntegerDigits; ++i) {
        v = v * 10 + a.d[i];
        if (v > 2147483648LL) type_limit(kTypeInteger);
    }
    if (a.negative) v = -v;
    if (v > 2147483647LL || v < -2147483648LL) type_limit(kTypeInteger);
    return static_cast<int32_t>(v);
}

double to_float(const Cell* money) {
    Amount a = load(money);
    if (a.zero()) return 0.0;
    const bool negative = a.negative;
    a.negative = false;
    a.currency = 0;
    const std::string text = text_of(a, false, kFractionDigits);
    int32_t unconsumed = 0;
    const double d =
        number_text::parse_float(text.data() + 1, text.data() + text.size(), 0, unconsumed);
    return negative ? -d : d;
}

void set_money_digits_hook(OptionHook hook) {
    money_digits_hook = hook;
}

void set_currency_list_hook(OptionHook hook) {
    currency_list_hook = hook;
}

// --- Slot functions -------------------------------------------------------------------------

Cell* to(Cell* prototype, Cell* spec, int32_t) {
    const uint8_t type = cell::type(spec);
    switch (type) {
    case kTypeMoney:
        return cell::copy(spec, prototype);
    case kTypeInteger:
        return from_integer(prototype, integer::get(spec));
    case kTypeFloat:
        return from_float(prototype, float_::get(spec), true);
    default: {
        if (!series::is_any_string(type)) bad_to_arg(spec);
        const std::string text = string::utf8_from_index(spec);
        Cell made{};
        if (!from_text(text, &made)) bad_to_arg(spec);
        *prototype = made;
        return prototype;
    }
    }
}

Cell* make(Cell* prototype, Cell* spec, int32_t type) {
    const uint8_t spec_type = cell::type(spec);
    if (spec_type == kTypeWord) {
        const int32_t index = word_currency_index(spec);
        if (index < 0) bad_make_arg(spec);
        Amount a;
        a.currency = index;
        return store(prototype, a);
    }
    if (!series::is_any_list(spec_type)) return to(prototype, spec, type);
    // [code amount], [amount], [code amount fraction] or [amount fraction].
    const int32_t count = block::length_from_index(spec);
    const Cell* v = memory::buffer(spec->w2)->cells() + spec->w1;
    int32_t i = 0, currency = 0;
    if (count > 0 && cell::type(&v[0]) == kTypeWord) {
        currency = word_currency_index(&v[0]);
        if (currency < 0) bad_make_arg(&v[0]);
        i = 1;
    }
    if (i >= count || count - i > 2) bad_make_arg(spec);
    const Cell* amount = &v[i];
    Cell made{};
    if (cell::type(amount) == kTypeInteger) {
        from_integer(&made, integer::get(amount));
    } else if (cell::type(amount) == kTypeFloat && i + 1 == count) {
        from_float(&made, float_::get(amount), false);
    } else {
        bad_make_arg(amount);
    }
    Amount a = load(&made);
    if (i + 1 < count) {
        const Cell* fraction = &v[i + 1];
        if (cell::type(fraction) != kTypeInteger || integer::get(fraction) < 0 ||
            integer::get(fraction) > 99999)
            bad_make_arg(fraction);
        int32_t f = integer::get(fraction);
        Amount extra;
        extra.negative = a.negative;
        for (int32_t k = kDigits - 1; f; --k) {
            extra.d[k] = static_cast<uint8_t>(f % 10);
            f /= 10;
        }
        a = signed_add(a, extra);
    }
    a.currency = currency;
    return store(prototype, a);
}

Cell* random(Cell* value, const action::RandomOptions& options) {
    const integer::RandomSource* source = integer::random_source();
    if (!source) error::fire(error::kInternal, error::internal::not_done);
    if (options.seed) {
        source->seed(value->w1 ^ value->w2 ^ value->w3 ^ (value->header & kSignBit));
        value->header = kTypeUnset;
        return value;
    }
    const Amount bound = load(value);
    Amount r;
    r.negative = bound.negative;
    r.currency = bound.currency;
    auto draw = [&] { return source->rand(options.secure, 2147483647); };
    bool equal_so_far = true;
    for (int32_t i = kDigits - bound.significant(); i < kDigits; ++i) {
        if (!equal_so_far) {
            r.d[i] = static_cast<uint8_t>(draw() % 10);
            continue;
        }
        for (;;) {
            const auto digit = static_cast<uint8_t>(draw() % (bound.d[i] + 1));
            // The bound's own digit is taken only sometimes, so that the bound stays rare.
            if (digit == bound.d[i] && draw() % 1000 != draw() % 1000) continue;
            r.d[i] = digit;
            equal_so_far = digit == bound.d[i];
            break;
        }
    }
    return store(value, r);
}

int32_t form(Cell* value, Cell* string, Cell*, int32_t limit) {
    const std::string text = text_of(load(value), true, decimals_option());
    string::append_bytes(string, text.data(), static_cast<uint32_t>(text.size()));
    return limit - static_cast<int32_t>(text.size());
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t) {
    const std::string text =
        text_of(load(value), false, options.all ? kFractionDigits : decimals_option());
    string::append_bytes(string, text.data(), static_cast<uint32_t>(text.size()));
    return limit - static_cast<int32_t>(text.size());
}

namespace {
// 1 for code, 2 for amount, -1 for anything else.
int32_t field_index(const Cell* selector) {
    const uint8_t type = cell::type(selector);
    if (type == kTypeInteger) {
        const int32_t i = integer::get(selector);
        return i == 1 || i == 2 ? i : -1;
    }
    if (!traits::is_bindable_word(type)) return -1;
    const uint32_t s = symbol::resolve(selector->w2);
    if (s == symbol::resolve(words::symbol.code)) return 1;
    if (s == symbol::resolve(words::symbol.amount)) return 2;
    return -1;
}

Cell* get_field(const Cell* value, int32_t index, Cell* result) {
    const Amount a = load(value);
    if (index == 1) return a.currency ? currency_word(result, a.currency) : none::make_at(result);
    Amount amount = a;
    amount.currency = 0;
    return store(result, amount);
}
} // namespace

Cell* eval_path(Cell* parent, Cell* element, Cell* value, const action::PathOptions& options) {
    const Cell* shown_path = options.path ? options.path : &none::value;
    if (value) error::fire(error::kScript, error::script::bad_path_set, {shown_path, element});
    const int32_t index = field_index(element);
    if (index < 0) error::fire(error::kScript, error::script::invalid_path, {shown_path, element});
    return get_field(parent, index, stack::push_cell());
}

Cell* pick(Cell* value, int32_t index, Cell* index_value) {
    return get_field(value, time_::pick_field(index, index_value, field_index, 2), value);
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    const uint8_t type = cell::type(other);
    const bool identity =
        op == action::op::strict_equal || op == action::op::same || op == action::op::find;
    if (identity && type != kTypeMoney) return 1;
    const Amount a = load(value);
    Amount b;
    switch (type) {
    case kTypeMoney:
        b = load(other);
        break;
    case kTypeInteger: {
        Cell m{};
        b = load(from_integer(&m, integer::get(other)));
        break;
    }
    case kTypeFloat: {
        const double f = float_::get(other);
        if (f != 0 && std::fabs(f) < 0.00001) return 1;
        if (std::fabs(f) >= 1e17) return -1;
        Cell m{};
        b = load(from_float(&m, f, true));
        break;
    }
    default:
        return action::kNotComparable;
    }
    const bool both = a.currency && b.currency;
    switch (op) {
    case action::op::lesser:
    case action::op::lesser_or_equal:
    case action::op::greater:
    case action::op::greater_or_equal:
        if (both && a.currency != b.currency) {
            Cell left = *value, right = *other;
            error::fire(error::kScript, error::script::wrong_denom, {&left, &right});
        }
        break;
    case action::op::equal:
    case action::op::not_equal:
    case action::op::parse:
    case action::op::parse_case:
        if (both && a.currency != b.currency) return 1;
        break;
    case action::op::strict_equal:
    case action::op::same:
        if (a.currency != b.currency) return 1;
        break;
    case action::op::find:
        if (b.currency && a.currency != b.currency) return 1;
        break;
    case action::op::sort:
    case action::op::case_sort:
        if (a.currency != b.currency) {
            if (!a.currency || !b.currency) return a.currency ? 1 : -1;
            return currency_code(a.currency) < currency_code(b.currency) ? -1 : 1;
        }
        break;
    default:
        break;
    }
    const int32_t sa = a.zero() ? 0 : a.negative ? -1 : 1;
    const int32_t sb = b.zero() ? 0 : b.negative ? -1 : 1;
    if (sa != sb) return sa < sb ? -1 : 1;
    const int32_t m = compare_magnitudes(a, b);
    return sa < 0 ? -m : m;
}

void do_math(int32_t op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    const uint8_t lt = cell::type(left), rt = cell::type(right);
    if ((lt == kTypeMoney && rt == kTypeMoney && op == float_::kMultiply) ||
        (lt != kTypeMoney && rt == kTypeMoney &&
         (op == float_::kDivide || op == float_::kRemainder)))
        invalid_type(lt);
    Amount a = operand(left);
    Amount b = operand(right);
    if (a.currency && b.currency && a.currency != b.currency) {
        Cell l = *left, r = *right;
        error::fire(error::kScript, error::script::wrong_denom, {&l, &r});
    }
    const int32_t currency = b.currency ? b.currency : a.currency;
    Amount r;
    switch (op) {
    case float_::kAdd:
        r = signed_add(a, b);
        break;
    case float_::kSubtract:
        b.negative = !b.negative;
        r = signed_add(a, b);
        break;
    case float_::kMultiply:
        r = multiply_amounts(a, b);
        break;
    case float_::kDivide:
        r = divide_amounts(a, b, false);
        break;
    case float_::kRemainder:
        r = divide_amounts(a, b, true);
        break;
    default: {
        Cell* t = datatype::push(kTypeMoney);
        error::fire(error::kScript, error::script::cannot_use, {&none::value, t});
    }
    }
    r.currency = currency;
    if (op == float_::kDivide && lt == kTypeMoney && rt == kTypeMoney) {
        Cell q{};
        store(&q, r);
        float_::make_at(left, to_float(&q));
        return;
    }
    store(left, r);
}

void absolute() {
    stack::arguments->header &= ~kSignBit;
}

void negate() {
    Cell* v = stack::arguments;
    if (!zero_q(v)) v->header ^= kSignBit;
}

void add() {
    money::do_math(float_::kAdd);
}
void subtract() {
    money::do_math(float_::kSubtract);
}
void multiply() {
    money::do_math(float_::kMultiply);
}
void divide() {
    money::do_math(float_::kDivide);
}
void remainder() {
    money::do_math(float_::kRemainder);
}

Cell* round(Cell* value, const action::RoundOptions& options) {
    Cell* const scale = options.scale;
    Amount v = load(value);
    Amount s;
    if (!scale) {
        s.d[kIntegerDigits - 1] = 1;
    } else {
        const uint8_t type = cell::type(scale);
        Cell m{};
        if (type == kTypeMoney)
            s = load(scale);
        else if (type == kTypeInteger)
            s = load(from_integer(&m, integer::get(scale)));
        else if (type == kTypeFloat)
            s = load(from_float(&m, float_::get(scale), true));
        else
            float_::call_not_related(type);
    }
    s.negative = false;
    s.currency = 0;
    if (s.zero()) return value;
    const bool negative = v.negative && !v.zero();
    const int32_t currency = v.currency;
    v.negative = false;
    v.currency = 0;
    const Amount r = divide_amounts(v, s, true);
    const Amount lower = subtract_magnitudes(v, r);
    auto upper = [&] { return add_magnitudes(lower, s); };
    // An exact half: the fraction digits of the remainder are 50000 (exact for a scale of 1).
    const bool half =
        r.d[kIntegerDigits] == 5 &&
        std::all_of(r.d + kIntegerDigits + 1, r.d + kDigits, [](uint8_t x) { return x == 0; });
    const Amount other = subtract_magnitudes(s, r); // s - r
    const bool nearer_down = compare_magnitudes(r, other) < 0;
    bool go_down;
    if (r.zero())
        go_down = true;
    else if (options.down)
        go_down = true;
    else if (options.floor)
        go_down = !negative;
    else if (options.ceiling)
        go_down = negative;
    else if (options.even && half)
        go_down = v.d[kIntegerDigits - 1] % 2 == 0;
    else if (options.half_down && half)
        go_down = true;
    else if (options.half_ceiling && half)
        go_down = negative;
    else
        go_down = nearer_down;
    Amount result = go_down ? lower : upper();
    result.negative = negative;
    result.currency = currency;
    const uint32_t flags = value->header & ~(cell::kTypeMask | kSignBit);
    store(value, result)->header |= flags;
    return value;
}

bool even_q(Cell* value) {
    return load(value).d[kIntegerDigits - 1] % 2 == 0;
}

bool odd_q(Cell* value) {
    return !even_q(value);
}

void register_actions() {
    namespace s = action::slot;
    action::Row row;
    row.set<s::make>(make)
        .set<s::random>(random)
        .set<s::to>(to)
        .set<s::form>(form)
        .set<s::mold>(mold)
        .set<s::eval_path>(eval_path)
        .set<s::compare>(compare)
        .set<s::absolute>(absolute)
        .set<s::add>(add)
        .set<s::subtract>(subtract)
        .set<s::multiply>(multiply)
        .set<s::divide>(divide)
        .set<s::remainder>(remainder)
        .set<s::negate>(negate)
        .set<s::round>(round)
        .set<s::even_q>(even_q)
        .set<s::odd_q>(odd_q)
        .set<s::pick>(pick);
    datatype::register_({kTypeMoney, 0, "money!", row.entries()});
}

} // namespace money
