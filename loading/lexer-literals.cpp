#include "loading/lexer-literals.h"

#include <cmath>
#include <cstring>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/none.h"
#include "datatypes/pair.h"
#include "datatypes/percent.h"
#include "datatypes/point.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/time.h"
#include "datatypes/tuple.h"
#include "datatypes/unset.h"
#include "datatypes/url.h"
#include "datatypes/word.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/strtod.h"
#include "runtime-core/support.h"
#include "runtime-core/unicode.h"

namespace lexer::literals {

using engine::Record;

namespace {

inline bool is_digit(uint8_t c) {
    return c >= '0' && c <= '9';
}
inline bool is_alpha(uint8_t c) {
    return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
}
inline int hex_value(uint8_t c) {
    if (is_digit(c)) return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}
inline bool ascii_equal_nocase(const uint8_t* a, const char* b, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i)
        if ((a[i] | 0x20) != (static_cast<uint8_t>(b[i]) | 0x20)) return false;
    return true;
}

// Reads up to `max` decimal digits; answers how many were read.
uint32_t read_digits(const uint8_t*& p, const uint8_t* end, uint32_t max, int32_t& value) {
    uint32_t n = 0;
    int64_t v = 0;
    while (p < end && is_digit(*p) && n < max) {
        v = v * 10 + (*p++ - '0');
        ++n;
    }
    value = static_cast<int32_t>(v);
    return n;
}

bool leap_year(int32_t y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}
int32_t month_days(int32_t y, int32_t m) {
    static const int32_t days[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && !leap_year(y) ? 28 : days[m - 1];
}
int32_t year_days(int32_t y) {
    return leap_year(y) ? 366 : 365;
}
// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t days_from_civil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}
// 1 Monday to 7 Sunday.
int32_t weekday(int32_t y, int32_t m, int32_t d) {
    const int64_t days = days_from_civil(y, m, d); // 1970-01-01 was a Thursday
    return static_cast<int32_t>(((days % 7) + 7 + 3) % 7) + 1;
}
void ordinal_to_date(int32_t year, int32_t ordinal, DateParts& date) {
    int32_t m = 1;
    while (ordinal > month_days(year, m)) ordinal -= month_days(year, m++);
    date.year = year;
    date.month = m;
    date.day = ordinal;
}

const char* const kMonths[12] = {"January",   "February", "March",    "April",
                                 "May",       "June",     "July",     "August",
                                 "September", "October",  "November", "December"};

// h:m[:s[.f]] for the time of a date: fields within a day, of one or two digits each (as a
// time literal may write them).
bool parse_day_time(const uint8_t*& p, const uint8_t* end, double& seconds) {
    int32_t h = 0, m = 0;
    if (!read_digits(p, end, 2, h) || p >= end || *p != ':') return false;
    ++p;
    if (!read_digits(p, end, 2, m)) return false;
    double s = 0;
    if (p < end && *p == ':') {
        ++p;
        const uint8_t* start = p;
        while (p < end && (is_digit(*p) || *p == '.')) ++p;
        if (p == start || !parse_float(start, static_cast<uint32_t>(p - start), 0, s)) return false;
        if (!(s < 60)) return false;
    }
    if (h > 23 || m > 59) return false;
    seconds = h * 3600.0 + m * 60.0 + s;
    return true;
}

// The basic time of an ISO date: hhmm[ss].
bool parse_basic_time(const uint8_t*& p, const uint8_t* end, double& seconds) {
    const uint8_t* start = p;
    int32_t v = 0;
    const uint32_t n = read_digits(p, end, 6, v);
    if (n != 4 && n != 6) return false;
    auto field = [&](uint32_t i) { return (start[i] - '0') * 10 + (start[i + 1] - '0'); };
    const int32_t h = field(0), m = field(2), s = n == 6 ? field(4) : 0;
    if (h > 23 || m > 59 || s > 59) return false;
    seconds = h * 3600.0 + m * 60.0 + s;
    return true;
}

// Z, or a sign with hours and optional minutes (":mm" or "mm").
bool parse_zone(const uint8_t*& p, const uint8_t* end, DateParts& date) {
    if (p >= end) return true;
    if (*p == 'Z') {
        ++p;
        date.has_zone = true;
        return true;
    }
    if (*p != '+' && *p != '-') return false;
    const bool negative = *p++ == '-';
    int32_t h = 0, m = 0;
    const uint32_t n = read_digits(p, end, 4, h);
    if (n == 0) return false;
    if (n > 2) {
        if (n != 4) return false;
        m = h % 100;
        h /= 100;
    } else if (p < end && *p == ':') {
        ++p;
        if (read_digits(p, end, 2, m) != 2) return false;
    }
    if (h > 15 || m > 59) return false;
    date.has_zone = true;
    date.zone_minutes = (negative ? -1 : 1) * (h * 60 + m);
    return true;
}

bool check_date(const DateParts& d) {
    return d.year >= -9999 && d.year <= 9999 && d.month >= 1 && d.month <= 12 && d.day >= 1 &&
           d.day <= month_days(d.year, d.month);
}

// The month of a name of 3 to 9 letters, matched as a prefix; 0 for none.
int32_t month_of_name(const uint8_t* name, uint32_t n) {
    if (n < 3 || n > 9) return 0;
    for (int32_t i = 0; i < 12; ++i)
        if (std::strlen(kMonths[i]) >= n && ascii_equal_nocase(name, kMonths[i], n)) return i + 1;
    return 0;
}

} // namespace

// --- Parsers --------------------------------------------------------------------------------

bool parse_special_float(const uint8_t* text, uint32_t length, double& value) {
    bool negative = false;
    if (length && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        ++text;
        --length;
    }
    if (length != 6 || std::memcmp(text, "1.#", 3) != 0) return false;
    if (ascii_equal_nocase(text + 3, "nan", 3)) {
        const uint64_t bits = 0x7FF8000000000000ull;
        std::memcpy(&value, &bits, 8);
        return true;
    }
    if (!ascii_equal_nocase(text + 3, "inf", 3)) return false;
    value = negative ? -HUGE_VAL : HUGE_VAL;
    return true;
}

bool parse_integer(const uint8_t* text, uint32_t length, int32_t& value, bool& fits) {
    uint32_t i = 0, digits = 0;
    if (length && (text[0] == '+' || text[0] == '-')) i = 1;
    bool tick = true; // no apostrophe before the first digit
    for (; i < length; ++i) {
        if (text[i] == '\'') {
            if (tick) return false;
            tick = true;
        } else if (is_digit(text[i])) {
            ++digits;
            tick = false;
        } else {
            return false;
        }
    }
    if (!digits || tick) return false;
    fits = false;
    if (digits > 10) return true;
    int32_t error = 0;
    value = integer::text_to_integer(text, length, 1, error);
    fits = error == 0;
    return true;
}

bool parse_hex(const uint8_t* text, uint32_t length, int32_t& value) {
    if (length < 3 || length > 9 || text[length - 1] != 'h') return false;
    uint32_t v = 0;
    for (uint32_t i = 0; i + 1 < length; ++i) {
        const uint8_t c = text[i];
        if (!is_digit(c) && !(c >= 'A' && c <= 'F')) return false;
        v = (v << 4) | static_cast<uint32_t>(hex_value(c));
    }
    value = static_cast<int32_t>(v);
    return true;
}

bool parse_pair(const uint8_t* text, uint32_t length, int32_t& x, int32_t& y) {
    uint32_t cut = 0;
    while (cut < length && (text[cut] | 0x20) != 'x') ++cut;
    if (cut == length) return false;
    bool fits_x = false, fits_y = false;
    return parse_integer(text, cut, x, fits_x) && fits_x &&
           parse_integer(text + cut + 1, length - cut - 1, y, fits_y) && fits_y;
}

bool parse_time(const uint8_t* text, uint32_t length, double& seconds) {
    const uint8_t* p = text;
    const uint8_t* end = text + length;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    // Up to three fields; only the last may carry a point.
    const uint8_t* fields[3];
    uint32_t sizes[3];
    uint32_t count = 0;
    while (true) {
        const uint8_t* start = p;
        while (p < end && *p != ':') ++p;
        if (p == start || count == 3) return false; // an empty field, a trailing ":"
        fields[count] = start;
        sizes[count++] = static_cast<uint32_t>(p - start);
        if (p == end) break;
        ++p;
    }
    if (count < 2) return false;
    double values[3] = {0, 0, 0};
    for (uint32_t i = 0; i < count; ++i) {
        const bool last = i + 1 == count;
        for (uint32_t j = 0; j < sizes[i]; ++j)
            if (!is_digit(fields[i][j]) && !(last && fields[i][j] == '.')) return false;
        if (!parse_float(fields[i], sizes[i], 0, values[i])) return false;
    }
    const bool fraction = std::memchr(fields[count - 1], '.', sizes[count - 1]) != nullptr;
    double s;
    if (count == 2 && fraction)
        s = values[0] * 60 + values[1]; // m:s.f
    else if (count == 2)
        s = values[0] * 3600 + values[1] * 60;
    else
        s = values[0] * 3600 + values[1] * 60 + values[2];
    if (s > 2147483647.0 * 3600) return false;
    seconds = negative ? -s : s;
    return true;
}

bool parse_date(const uint8_t* text, uint32_t length, DateParts& date) {
    const uint8_t* p = text;
    const uint8_t* end = text + length;
    date = DateParts{};
    // ISO basic: yyyymmddThhmm[ss][zone].
    if (length >= 9 && text[8] == 'T') {
        bool digits = true;
        for (int i = 0; i < 8; ++i) digits = digits && is_digit(text[i]);
        if (digits) {
            read_digits(p, end, 4, date.year);
            read_digits(p, end, 2, date.month);
            read_digits(p, end, 2, date.day);
            ++p;
            date.has_time = true;
            const uint8_t* probe = p;
            while (probe < end && is_digit(*probe)) ++probe;
            const bool colon = probe < end && *probe == ':';
            if (!(colon ? parse_day_time(p, end, date.seconds)
                        : parse_basic_time(p, end, date.seconds)))
                return false;
            if (!parse_zone(p, end, date) || p != end) return false;
            return check_date(date);
        }
    }
    int32_t first = 0;
    const uint32_t first_digits = read_digits(p, end, 9, first);
    if (!first_digits || p >= end || (*p != '-' && *p != '/')) return false;
    const uint8_t sep = *p++;
    bool done = false;
    if (sep == '-' && first_digits == 4 && p < end && *p == 'W') {
        // ISO week: yyyy-Www[-d].
        ++p;
        int32_t week = 0, wd = 1;
        if (read_digits(p, end, 2, week) != 2 || week < 1 || week > 53) return false;
        if (p < end && *p == '-') {
            ++p;
            if (read_digits(p, end, 1, wd) != 1 || wd < 1 || wd > 7) return false;
        }
        int32_t year = first;
        int32_t ordinal = week * 7 + wd - (weekday(year, 1, 4) + 3);
        if (ordinal < 1) {
            --year;
            ordinal += year_days(year);
        } else if (ordinal > year_days(year)) {
            ordinal -= year_days(year);
            ++year;
        }
        ordinal_to_date(year, ordinal, date);
        done = true;
    }
    if (!done) {
        int32_t month = 0;
        if (p < end && is_alpha(*p)) {
            const uint8_t* name = p;
            while (p < end && is_alpha(*p)) ++p;
            month = month_of_name(name, static_cast<uint32_t>(p - name));
            if (!month) return false;
        } else {
            const uint32_t n = read_digits(p, end, 3, month);
            if (!n) return false;
            if (n == 3) {
                // Ordinal: yyyy-ddd.
                if (sep != '-' || first_digits != 4 || (p < end && *p != '/' && *p != 'T'))
                    return false;
                if (month < 1 || month > year_days(first)) return false;
                ordinal_to_date(first, month, date);
                done = true;
            }
        }
        if (!done) {
            if (p >= end || *p != sep) return false;
            ++p;
            // A year before year 0 is written with its sign, last (15/Mar/-0044).
            const bool negative_year = sep == '/' && p < end && *p == '-';
            if (negative_year) ++p;
            int32_t last = 0;
            const uint32_t last_digits = read_digits(p, end, 9, last);
            if (!last_digits) return false;
            uint32_t year_digits;
            if (negative_year) {
                date.day = first;
                date.year = -last;
                year_digits = last_digits;
            } else if (first > 99 && last <= 31) {
                date.year = first;
                date.day = last;
                year_digits = first_digits;
            } else {
                date.day = first;
                date.year = last;
                year_digits = last_digits;
            }
            if (year_digits <= 2 && !negative_year) date.year += date.year <= 49 ? 2000 : 1900;
            date.month = month;
        }
    }
    if (p < end && (*p == '/' || *p == 'T')) {
        ++p;
        date.has_time = true;
        if (!parse_day_time(p, end, date.seconds) || !parse_zone(p, end, date)) return false;
    }
    return p == end && check_date(date);
}

bool parse_money(const uint8_t* text, uint32_t length, MoneyParts& money) {
    const uint8_t* p = text;
    const uint8_t* end = text + length;
    money = MoneyParts{};
    if (p < end && (*p == '+' || *p == '-')) money.negative = *p++ == '-';
    const uint8_t* code = p;
    while (p < end && is_alpha(*p)) ++p;
    const auto code_length = p - code;
    if (code_length != 0 && code_length != 3) return false;
    for (const uint8_t* c = code; c < p; ++c)
        money.currency.push_back(static_cast<char>(*c & ~0x20));
    if (p >= end || *p++ != '$') return false;
    bool tick = true; // no separator first
    uint32_t digits = 0;
    while (p < end && *p != '.') {
        if (*p == '\'') {
            if (tick) return false;
            tick = true;
        } else if (is_digit(*p)) {
            tick = false;
            ++digits;
            if (!money.whole.empty() || *p != '0') money.whole.push_back(static_cast<char>(*p));
        } else {
            return false;
        }
        ++p;
    }
    if (!digits || tick || money.whole.size() > 17) return false;
    if (p < end) {
        ++p;
        while (p < end && is_digit(*p)) money.fraction.push_back(static_cast<char>(*p++));
        if (p != end || money.fraction.empty() || money.fraction.size() > 5) return false;
    }
    return true;
}

bool parse_binary(const uint8_t* text, uint32_t length, std::vector<uint8_t>& bytes) {
    const uint8_t* p = text;
    const uint8_t* end = text + length;
    int32_t base = 16;
    if (p < end && is_digit(*p)) {
        if (!read_digits(p, end, 3, base)) return false;
        if (base != 2 && base != 16 && base != 64) return false;
    }
    if (end - p < 3 || p[0] != '#' || p[1] != '{' || end[-1] != '}') return false;
    p += 2;
    --end;
    bytes.clear();
    uint32_t acc = 0, bits = 0, pad = 0;
    for (; p < end; ++p) {
        const uint8_t c = *p;
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        if (c == ';') {
            while (p < end && *p != '\n') ++p;
            continue;
        }
        int32_t v;
        uint32_t width;
        if (base == 16) {
            v = hex_value(c);
            width = 4;
        } else if (base == 2) {
            v = c == '0' ? 0 : c == '1' ? 1 : -1;
            width = 1;
        } else {
            if (c == '=') {
                ++pad;
                continue;
            }
            if (pad) return false; // data after the padding
            v = c >= 'A' && c <= 'Z'   ? c - 'A'
                : c >= 'a' && c <= 'z' ? c - 'a' + 26
                : is_digit(c)          ? c - '0' + 52
                : c == '+'             ? 62
                : c == '/'             ? 63
                                       : -1;
            width = 6;
        }
        if (v < 0) return false;
        acc = (acc << width) | static_cast<uint32_t>(v);
        bits += width;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(static_cast<uint8_t>(acc >> bits));
            acc &= (1u << bits) - 1;
        }
    }
    if (base == 64) {
        // Leftover bits are the padding of the last group: 2 with "==", 4 with "=".
        // Bits left over belong to a cut last group: 4 with "==", 2 with "=".
        return pad <= 2 && (pad ? bits == 2 * pad : bits == 0 || bits == 2 || bits == 4);
    }
    return bits == 0;
}

bool parse_point(const uint8_t* text, uint32_t length, double coordinates[3], uint32_t& count) {
    const uint8_t* p = text;
    const uint8_t* end = text + length;
    count = 0;
    bool ok = true;
    while (true) {
        while (p < end && (*p == ' ' || *p == '\t')) ++p;
        const uint8_t* start = p;
        while (p < end && *p != ',' && *p != ' ' && *p != '\t') ++p;
        const auto n = static_cast<uint32_t>(p - start);
        double v = 0;
        if (!(parse_float(start, n, 0, v) || parse_special_float(start, n, v))) ok = false;
        if (count < 3) coordinates[count] = v;
        ++count;
        while (p < end && (*p == ' ' || *p == '\t')) ++p;
        if (p == end) break;
        if (*p != ',') {
            ok = false;
            break;
        }
        ++p;
    }
    return ok && (count == 2 || count == 3);
}

void decode_percent_escapes(std::u32string& text) {
    // Escapes are decoded as UTF-8 bytes, so a run like %C3%A9 is one character.
    std::string utf8_text;
    uint8_t bytes[4];
    for (char32_t c : text)
        utf8_text.append(reinterpret_cast<const char*>(bytes), utf8::encode_char(c, bytes));
    text = url::percent_decode_text(utf8_text);
}

// --- Construction ---------------------------------------------------------------------------
// Each literal ends in its type module's constructor from parts.

void make_percent(Cell* cell, double fraction) {
    percent::make_at(cell, fraction);
}
void make_pair(Cell* cell, int32_t x, int32_t y) {
    pair::make_at(cell, x, y);
}
void make_point2(Cell* cell, float x, float y) {
    point2D::make_at(cell, x, y);
}
void make_point3(Cell* cell, float x, float y, float z) {
    point3D::make_at(cell, x, y, z);
}
void make_tuple(Cell* cell, const uint8_t* bytes, uint32_t count) {
    tuple::make_at(cell, bytes, count);
}
void make_time(Cell* cell, double seconds) {
    time_::make_at(cell, seconds);
}
void make_date(Cell* cell, const DateParts& date) {
    // The zone goes as signed hours and signed minutes (the sign of -0:30 is in the minutes).
    date::make_at(cell, date.year, date.month, date.day, date.seconds, date.zone_minutes / 60,
                  date.zone_minutes % 60, date.has_time);
}
void make_money(Cell* cell, const MoneyParts& money) {
    // The loader has checked the code against the currency list.
    const int32_t currency = money.currency.empty() ? 0 : money::currency_index(money.currency);
    std::string digits = money.whole.empty() ? std::string("0") : money.whole;
    int32_t dot = -1;
    if (!money.fraction.empty()) {
        dot = static_cast<int32_t>(digits.size());
        digits += '.';
        digits += money.fraction;
    }
    money::make_at(cell, money.negative, currency, digits.c_str(), 0, dot,
                   static_cast<int32_t>(digits.size()));
}
void make_binary(Cell* cell, const uint8_t* bytes, uint32_t count) {
    // The cell lies outside the collector's view: the value is made on the data stack first.
    *cell = *binary::load(bytes, count);
    stack::pop(1);
}
void make_text(Cell* cell, uint8_t type, const uint32_t* code_points, uint32_t count,
               uint32_t unit) {
    string::make_units_at(cell, count ? count : 1, unit);
    memory::Buffer* b = memory::buffer(cell->w2);
    uint8_t* out = b->data();
    // The code points may lie in the decoder's scratch buffer, which no allocation touches.
    for (uint32_t i = 0; i < count; ++i) std::memcpy(out + i * unit, &code_points[i], unit);
    b->tail = count * unit;
    cell::set_type(cell, type);
}
void make_map(Cell* cell) {
    map::make_at(cell, cell->w2, 0);
}

// --- Loaders --------------------------------------------------------------------------------

namespace {

[[noreturn]] void invalid(Record& r, uint8_t type) {
    engine::raise_error(r, r.token_start, r.token_end, type);
}

// Writes the decoded code points as a string-like value into a new slot.
void build_decoded(Record& r, uint8_t type, uint32_t width, const uint32_t* cps, uint32_t count,
                   uint32_t max) {
    uint32_t unit = width;
    if (max > 0xFFFF)
        unit = 4;
    else if (max > 0xFF && unit < 2)
        unit = 2;
    make_text(engine::slot(engine::emit_slot(r)), type, cps, count, unit);
}

} // namespace

namespace {

// Names interned lately, by a hash of their text: symbol ids never change, so a name found
// here needs no lookup in the symbol table (source text repeats its words).
uint32_t recent_symbols[1024];

uint32_t intern(const uint8_t* text, uint32_t length) {
    uint32_t h = length;
    for (uint32_t i = 0; i < length; ++i) h = h * 31 + text[i];
    uint32_t& slot = recent_symbols[(h ^ (h >> 15)) & 1023];
    if (slot && slot <= symbol::count()) {
        const std::string_view known = symbol::text(slot);
        if (known.size() == length && std::memcmp(known.data(), text, length) == 0) return slot;
    }
    slot = symbol::find_or_make(reinterpret_cast<const char*>(text), length);
    return slot;
}

} // namespace

void forget_symbols() {
    std::memset(recent_symbols, 0, sizeof recent_symbols);
}

void build_word(Record& r, uint8_t type, const uint8_t* start, const uint8_t* end) {
    const uint32_t sym = intern(start, static_cast<uint32_t>(end - start));
    const uint32_t index = engine::emit_slot(r);
    Cell* c = engine::slot(index);
    c->header = (c->header & ~cell::kTypeMask) | type;
    c->w1 = context::global;
    c->w2 = sym;
    c->w3 = word::kUnresolved;
}

bool valid_utf8(const uint8_t* start, const uint8_t* end) {
    for (const uint8_t* q = start; q < end; ++q)
        if (*q >= 0x80) {
            uint32_t max = 0;
            return engine::decode_text(q, end, false, max);
        }
    return true;
}

namespace {

void load_word(Record& r, const uint8_t* start, const uint8_t* end, uint32_t flags, bool build) {
    uint8_t type = kTypeWord;
    const uint8_t* s = start;
    const uint8_t* e = end;
    if (flags & table::kFlagColon) {
        // One colon, first (get-word!) or last (set-word!).
        const bool lit = *s == '\'';
        uint32_t colons = 0;
        for (const uint8_t* q = s; q < e; ++q) colons += *q == ':';
        if (colons != 1 || e - s < 2) invalid(r, lit ? kTypeLitWord : kTypeWord);
        if (*s == ':') {
            type = kTypeGetWord;
            ++s;
        } else if (e[-1] == ':') {
            if (lit) invalid(r, kTypeLitWord);
            type = kTypeSetWord;
            --e;
        } else {
            invalid(r, lit ? kTypeLitWord : kTypeWord);
        }
    }
    if (type == kTypeWord && *s == '\'' && e - s > 1) {
        type = kTypeLitWord;
        ++s;
    }
    if (!valid_utf8(s, e)) invalid(r, kTypeWord);
    r.token_type = type;
    if (build) build_word(r, type, s, e);
}

void load_prefixed(Record& r, const uint8_t* start, const uint8_t* end, bool build) {
    // Reached through "/" (refinements), "'" and ":" followed by "/": only a slash prefix
    // with a name makes a refinement.
    if (*start != '/' || end - start < 2 ||
        std::memchr(start + 1, '/', static_cast<size_t>(end - start - 1)))
        invalid(r, kTypeRefinement);
    if (!valid_utf8(start, end)) invalid(r, kTypeRefinement);
    r.token_type = kTypeRefinement;
    if (build) build_word(r, kTypeRefinement, start + 1, end);
}

void load_issue(Record& r, const uint8_t* start, const uint8_t* end, bool build) {
    if (end - start < 2) invalid(r, kTypeIssue);
    if (!valid_utf8(start, end)) invalid(r, kTypeIssue);
    if (build) build_word(r, kTypeIssue, start + 1, end);
}

void load_integer(Record& r, const uint8_t* start, const uint8_t* end, bool build) {
    int32_t value = 0;
    bool fits = false;
    const auto n = static_cast<uint32_t>(end - start);
    if (!parse_integer(start, n, value, fits)) invalid(r, kTypeInteger);
    if (!fits) {
        double d = 0;
        if (!parse_float(start, n, 0, d)) invalid(r, kTypeFloat);
        r.token_type = kTypeFloat;
        if (build) float_::make_at(engine::slot(engine::emit_slot(r)), d);
        return;
    }
    if (build) {
        Cell* c = engine::slot(engine::emit_slot(r));
        c->header = (c->header & ~cell::kTypeMask) | kTypeInteger;
        c->w2 = static_cast<uint32_t>(value);
    }
}

// Keeps the new-line marker that emit_slot gave the slot when a constructor writes the whole
// header.
template <class Make> void build_keeping_marker(Record& r, Make make) {
    const uint32_t index = engine::emit_slot(r);
    const uint32_t marker = engine::slot(index)->header & cell::kNewLine;
    make(engine::slot(index));
    engine::slot(index)->header |= marker;
}

void load_char(Record& r, const uint8_t* start, const uint8_t* end, bool build) {
    // #"x": the text between the quotes holds one character or one escape.
    uint32_t max = 0;
    if (end - start < 3 || !engine::decode_text(start + 2, end, true, max) ||
        engine::decoded_length() != 1 || max > 0x10FFFF)
        invalid(r, kTypeChar);
    if (build) {
        const uint32_t cp = engine::decoded()[0];
        Cell* c = engine::slot(engine::emit_slot(r));
        c->header = (c->header & ~cell::kTypeMask) | kTypeChar;
        c->w2 = cp;
    }
}

void load_construct(Record& r, const uint8_t* start, const uint8_t* end, bool build) {
    // #(name): a constant or a datatype.
    const uint8_t* s = start + 2;
    const uint8_t* e = end;
    while (s < e && (*s == ' ' || *s == '\t')) ++s;
    while (e > s && (e[-1] == ' ' || e[-1] == '\t')) --e;
    const auto n = static_cast<uint32_t>(e - s);
    struct Constant {
        const char* name;
        uint8_t type;
        uint32_t value;
    };
    static const Constant constants[] = {{"true", kTypeLogic, 1},
                                         {"false", kTypeLogic, 0},
                                         {"none", kTypeNone, 0},
                                         {"unset", kTypeUnset, 0}};
    for (const Constant& k : constants)
        if (std::strlen(k.name) == n && ascii_equal_nocase(s, k.name, n)) {
            r.token_type = k.type;
            if (build) {
                Cell* c = engine::slot(engine::emit_slot(r));
                c->header = (c->header & ~cell::kTypeMask) | k.type;
                c->w1 = k.value;
            }
            return;
        }
    for (int32_t t = 1; t <= datatype::highest_type_id; ++t) {
        const datatype::NameRecord& name = datatype::name_record(static_cast<uint32_t>(t));
        if (name.length == 0 || name.length + 1 != n || !ascii_equal_nocase(s, name.name, n))
            continue;
        r.token_type = kTypeDatatype;
        if (build) {
            Cell* c = engine::slot(engine::emit_slot(r));
            c->header = (c->header & ~cell::kTypeMask) | kTypeDatatype;
            c->w1 = static_cast<uint32_t>(t);
        }
        return;
    }
    engine::raise_error(r, start, end, engine::kMalconstruct);
}

void load_raw_string(Record& r, const uint8_t* start, const uint8_t* end, uint32_t flags,
                     bool build) {
    uint32_t open = 0, close = 0;
    while (start + open < end && start[open] == '%') ++open;
    while (close < static_cast<uint32_t>(end - start) &&
           end[-1 - static_cast<int32_t>(close)] == '%')
        ++close;
    const uint8_t* text = start + open + 1;    // after "{"
    const uint8_t* text_end = end - close - 1; // at "}"
    if (open != close || text_end < text) invalid(r, kTypeString);
    if (!build) return;
    uint32_t max = 0;
    if (!engine::decode_text(text, text_end, false, max)) invalid(r, kTypeString);
    build_decoded(r, kTypeString, table::width_of(flags), engine::decoded(),
                  engine::decoded_length(), max);
}

} // namespace

void load_text(Record& r, const uint8_t* start, const uint8_t* end, uint8_t type, bool escapes,
               bool percent, bool build) {
    uint32_t max = 0;
    // Plain ASCII strings are copied as they are.
    if (type == kTypeString && !escapes && build) {
        bool ascii = true;
        for (const uint8_t* q = start; q < end && ascii; ++q) ascii = *q < 0x80;
        if (ascii) {
            const auto n = static_cast<uint32_t>(end - start);
            const uint32_t index = engine::emit_slot(r);
            string::make_units_at(engine::slot(index), n ? n : 1, 1);
            Cell* c = engine::slot(index);
            memory::Buffer* b = memory::buffer(c->w2);
            std::memcpy(b->data(), start, n);
            b->tail = n;
            cell::set_type(c, kTypeString);
            return;
        }
    }
    if (!engine::decode_text(start, end, escapes, max)) invalid(r, type);
    if (percent) {
        std::u32string text(reinterpret_cast<const char32_t*>(engine::decoded()),
                            engine::decoded_length());
        decode_percent_escapes(text);
        if (!build) return;
        uint32_t m = 0;
        for (char32_t c : text) m = c > m ? c : m;
        build_decoded(r, type, 1, reinterpret_cast<const uint32_t*>(text.data()),
                      static_cast<uint32_t>(text.size()), m);
        return;
    }
    if (build) build_decoded(r, type, 1, engine::decoded(), engine::decoded_length(), max);
}

void load(Record& r, uint8_t kind, const uint8_t* start, const uint8_t* end, uint32_t flags,
          bool build) {
    const auto n = static_cast<uint32_t>(end - start);
    const bool caret = (flags & table::kFlagCaret) != 0;
    r.pos = end;
    switch (kind) {
    case table::kString: // "..." with the closing quote at end
        r.pos = end + 1;
        load_text(r, start + 1, end, kTypeString, caret, false, build);
        break;
    case table::kWord:
        load_word(r, start, end, flags, build);
        break;
    case table::kIssue:
        load_issue(r, start, end, build);
        break;
    case table::kInteger:
        load_integer(r, start, end, build);
        break;
    case table::kPrefixedWord:
        load_prefixed(r, start, end, build);
        break;
    case table::kChar:
        r.pos = end + 1;
        load_char(r, start, end, build);
        break;
    case table::kFile:
        if (start[1] == '"') {
            r.pos = end + 1;
            const bool percent = std::memchr(start + 2, '%', n - 2) != nullptr;
            load_text(r, start + 2, end, kTypeFile, caret, percent, build);
        } else {
            const bool percent = std::memchr(start + 1, '%', n - 1) != nullptr;
            load_text(r, start + 1, end, kTypeFile, caret, percent, build);
        }
        break;
    case table::kBinary: {
        r.pos = end + 1;
        std::vector<uint8_t> bytes;
        if (!parse_binary(start, n + 1, bytes)) invalid(r, kTypeBinary);
        if (build)
            build_keeping_marker(r, [&](Cell* c) {
                make_binary(c, bytes.data(), static_cast<uint32_t>(bytes.size()));
            });
        break;
    }
    case table::kPercentKind: {
        r.pos = end + 1; // the "%" belongs to the token
        double d = 0;
        if (!parse_float(start, n, -2, d)) invalid(r, kTypePercent);
        if (build) build_keeping_marker(r, [&](Cell* c) { make_percent(c, d); });
        break;
    }
    case table::kFloat: {
        double d = 0;
        if (!parse_float(start, n, 0, d)) invalid(r, kTypeFloat);
        if (build) build_keeping_marker(r, [&](Cell* c) { float_::make_at(c, d); });
        break;
    }
    case table::kFloatSpecial: {
        double d = 0;
        if (!parse_special_float(start, n, d)) invalid(r, kTypeFloat);
        if (build) build_keeping_marker(r, [&](Cell* c) { float_::make_at(c, d); });
        break;
    }
    case table::kTuple: {
        uint8_t bytes[12];
        uint32_t count = 0;
        if (!parse_tuple(start, n, bytes, count)) invalid(r, kTypeTuple);
        if (build) build_keeping_marker(r, [&](Cell* c) { make_tuple(c, bytes, count); });
        break;
    }
    case table::kDate: {
        DateParts date;
        if (!parse_date(start, n, date)) invalid(r, kTypeDate);
        if (build) build_keeping_marker(r, [&](Cell* c) { make_date(c, date); });
        break;
    }
    case table::kPair: {
        int32_t x = 0, y = 0;
        if (!parse_pair(start, n, x, y)) invalid(r, kTypePair);
        if (build) build_keeping_marker(r, [&](Cell* c) { make_pair(c, x, y); });
        break;
    }
    case table::kTime: {
        double s = 0;
        if (!parse_time(start, n, s)) invalid(r, kTypeTime);
        if (build) build_keeping_marker(r, [&](Cell* c) { make_time(c, s); });
        break;
    }
    case table::kMoney: {
        MoneyParts money;
        if (!parse_money(start, n, money) ||
            (!money.currency.empty() && money::currency_index(money.currency) < 0))
            invalid(r, kTypeMoney);
        if (build) build_keeping_marker(r, [&](Cell* c) { make_money(c, money); });
        break;
    }
    case table::kTag:
        r.pos = end + 1;
        load_text(r, start + 1, end, kTypeTag, false, false, build);
        break;
    case table::kUrl:
        if (*start == ':') invalid(r, kTypeGetWord);
        if (*start == '\'') invalid(r, kTypeLitWord);
        load_text(r, start, end, kTypeUrl, caret, (flags & table::kFlagPercent) != 0, build);
        break;
    case table::kEmail: {
        const auto* at = static_cast<const uint8_t*>(std::memchr(start, '@', n));
        if (!at || at == start || at == end - 1) invalid(r, kTypeEmail);
        load_text(r, start, end, kTypeEmail, false, false, build);
        break;
    }
    case table::kRef:
        if (n < 2) invalid(r, kTypeRef);
        load_text(r, start + 1, end, kTypeRef, false, false, build);
        break;
    case table::kHex: {
        int32_t value = 0;
        if (!parse_hex(start, n, value)) invalid(r, kTypeInteger);
        if (build) {
            Cell* c = engine::slot(engine::emit_slot(r));
            c->header = (c->header & ~cell::kTypeMask) | kTypeInteger;
            c->w2 = static_cast<uint32_t>(value);
        }
        break;
    }
    case table::kRawString:
        load_raw_string(r, start, end, flags, build);
        break;
    case table::kConstruct:
        r.pos = end + 1;
        load_construct(r, start, end, build);
        break;
    default:
        break;
    }
}

} // namespace lexer::literals
