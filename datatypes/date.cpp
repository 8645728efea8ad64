#include "datatypes/date.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/time.h"
#include "datatypes/words.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/support.h"
#include "runtime-core/type-traits.h"

namespace date {

namespace {

constexpr uint32_t kZoneMask = 0x7F;
constexpr uint32_t kTimeFlag = 0x10000;
// The year, month and day bits: what compare looks at.
constexpr uint32_t kDateBits = 0xFFFEFF80;

MonthsHook months_hook = nullptr;

// More seconds than the whole range of years spans (32768 years are about 1e12 seconds).
constexpr double kFarSeconds = 1e15;

const char* const kMonths[12] = {"January",   "February", "March",    "April",
                                 "May",       "June",     "July",     "August",
                                 "September", "October",  "November", "December"};

int64_t floor_div(int64_t a, int64_t b) {
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

int64_t floor_mod(int64_t a, int64_t b) {
    return a - floor_div(a, b) * b;
}

// Days from day 0 to 1 March of year y.
int64_t march_days(int64_t y) {
    return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400);
}

[[noreturn]] void bad_to_arg(const Cell* spec) {
    Cell* t = datatype::push(kTypeDate);
    error::fire(error::kScript, error::script::bad_to_arg, {t, spec});
}

[[noreturn]] void type_limit() {
    Cell* t = datatype::push(kTypeDate);
    error::fire(error::kScript, error::script::type_limit, {t});
}

[[noreturn]] void invalid_arg(const Cell* value) {
    error::fire(error::kScript, error::script::invalid_arg, {value});
}

// Carries days and stored time by the zone so that local time lies in [0, 86400). A time that
// is not finite, or so far away that no year in range could hold it, raises
// script/type-limit (date!).
void shift_by_zone(int64_t& days, double& time, uint32_t zone) {
    if (!(std::fabs(time) < kFarSeconds)) type_limit();
    const double z = zone_seconds(zone) / 3600;
    const auto k = static_cast<int64_t>(std::trunc(time / 3600 + z)) / 24;
    time -= static_cast<double>(k) * 86400;
    days += k;
    if (time + z * 3600 < 0) {
        time += 86400;
        days -= 1;
    }
}

// The packed word of a day number, or script/type-limit when its year does not fit.
uint32_t checked_from_days(int64_t days, uint32_t zone, bool time) {
    // Year bounds as day numbers: 1 January kMinYear to 31 December kMaxYear.
    static const int64_t first = march_days(kMinYear - 1) + 306;
    static const int64_t last = march_days(kMaxYear) + 305;
    if (days < first || days > last) type_limit();
    return from_days(days, zone, time);
}

// A zone given as a time! in seconds, reduced modulo 16 hours: hours truncated toward zero
// and minutes, the minutes signed when the hours are zero (zone_bits' convention). False for
// an infinity or NaN, which is no zone.
bool zone_parts(double seconds, int32_t& hours, int32_t& minutes) {
    if (!std::isfinite(seconds)) return false;
    const double t = std::fmod(seconds, 57600);
    hours = static_cast<int32_t>(std::trunc(t / 3600));
    minutes = static_cast<int32_t>(std::fmod(std::fabs(t), 3600) / 60);
    if (t < 0 && hours == 0) minutes = -minutes;
    return true;
}

// A zone written as an integer (hours, remainder by 16) or a time! (reduced modulo 16 hours).
uint32_t zone_from_value(const Cell* value) {
    if (cell::type(value) == kTypeInteger) return zone_bits(integer::get(value) % 16, 0);
    int32_t hours, minutes;
    if (!zone_parts(float_::get(value), hours, minutes)) invalid_arg(value);
    return zone_bits(hours, minutes);
}

} // namespace

// --- The packed word --------------------------------------------------------------------------

int32_t year_of(uint32_t packed) {
    return static_cast<int32_t>(packed) >> 17;
}
int32_t month_of(uint32_t packed) {
    return static_cast<int32_t>((packed >> 12) & 0xF);
}
int32_t day_of(uint32_t packed) {
    return static_cast<int32_t>((packed >> 7) & 0x1F);
}
uint32_t zone_of(uint32_t packed) {
    return packed & kZoneMask;
}
bool has_time(uint32_t packed) {
    return (packed & kTimeFlag) != 0;
}

uint32_t pack(int32_t year, int32_t month, int32_t day, uint32_t zone, bool time) {
    return (static_cast<uint32_t>(year) << 17) | (time ? kTimeFlag : 0) |
           (static_cast<uint32_t>(month & 0xF) << 12) | (static_cast<uint32_t>(day & 0x1F) << 7) |
           (zone & kZoneMask);
}

// Negative minutes with zero hours (-0:30) carry the sign, which zero hours cannot.
uint32_t zone_bits(int32_t hours, int32_t minutes) {
    const uint32_t magnitude =
        hours < 0 ? 0u - static_cast<uint32_t>(hours) : static_cast<uint32_t>(hours);
    const uint32_t quarters =
        (minutes < 0 ? 0u - static_cast<uint32_t>(minutes) : static_cast<uint32_t>(minutes)) / 15 &
        3;
    return ((magnitude << 2) & kZoneMask) | quarters |
           (hours < 0 || (hours == 0 && minutes < 0) ? 0x40 : 0);
}

double zone_seconds(uint32_t zone) {
    const double s = ((zone >> 2) & 0xF) * 3600.0 + (zone & 3) * 900.0;
    return (zone & 0x40) ? -s : s;
}

// --- Day numbers --------------------------------------------------------------------------------

int64_t to_days(uint32_t packed) {
    const int64_t b = (month_of(packed) + 9) % 12;
    const int64_t c = year_of(packed) - b / 10;
    return march_days(c) + (306 * b + 5) / 10 + (day_of(packed) - 1);
}

uint32_t from_days(int64_t n, uint32_t zone, bool time) {
    auto y = static_cast<int64_t>(std::floor((10000.0 * static_cast<double>(n) + 14780) / 3652425));
    int64_t g = n - march_days(y);
    if (g < 0) {
        --y;
        g = n - march_days(y);
    }
    const int64_t m = (100 * g + 52) / 3060;
    const int64_t year = y + (m + 2) / 12;
    const int64_t month = (m + 2) % 12 + 1;
    const int64_t day = g - (306 * m + 5) / 10 + 1;
    return pack(static_cast<int32_t>(year), static_cast<int32_t>(month), static_cast<int32_t>(day),
                zone, time);
}

int32_t weekday(int64_t days) {
    return static_cast<int32_t>(floor_mod(days + 2, 7)) + 1;
}

bool leap_year_q(int32_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int64_t year_start_days(uint32_t packed) {
    return to_days(pack(year_of(packed), 1, 1, 0, false));
}

int32_t year_day(uint32_t packed) {
    return static_cast<int32_t>(to_days(packed) - year_start_days(packed)) + 1;
}

int64_t iso_week_one(uint32_t packed, int32_t* jan1_weekday) {
    const int64_t jan1 = year_start_days(packed);
    const int32_t wd = weekday(jan1);
    if (jan1_weekday) *jan1_weekday = wd;
    int64_t monday = jan1 - (wd - 1);
    if (wd >= 5) monday += 7; // 1 January on Friday, Saturday or Sunday: week 1 starts later
    return monday;
}

int32_t iso_week(uint32_t packed) {
    const int64_t days = to_days(packed);
    const int32_t year = year_of(packed);
    int64_t start = iso_week_one(packed);
    if (days < start) {
        start = iso_week_one(pack(year - 1, 1, 1, 0, false));
    } else {
        const int64_t next = iso_week_one(pack(year + 1, 1, 1, 0, false));
        if (days >= next) start = next;
    }
    return static_cast<int32_t>((days - start) / 7) + 1;
}

int32_t sunday_week(uint32_t packed) {
    const int64_t jan1 = year_start_days(packed);
    const int32_t offset = weekday(jan1) % 7; // Sunday 0, Monday 1 ...
    return static_cast<int32_t>((to_days(packed) - jan1 + offset) / 7) + 1;
}

// --- Constructors ---------------------------------------------------------------------------

Cell* make_raw_at(Cell* cell, uint32_t packed, double time) {
    cell->header = kTypeDate;
    cell->w1 = packed;
    float_::set(cell, time);
    return cell;
}

Cell* make_at(Cell* cell, int32_t year, int32_t month, int32_t day, double time, int32_t zone_hours,
              int32_t zone_minutes, bool time_present) {
    const uint32_t zone = zone_bits(zone_hours, zone_minutes);
    const double stored = time_present ? time - zone_seconds(zone) : 0.0;
    return make_raw_at(cell, pack(year, month, day, zone, time_present), stored);
}

Cell* from_system_time(Cell* cell, int32_t year, int32_t month, int32_t day, int32_t hour,
                       int32_t minute, int32_t second, int32_t nanoseconds) {
    const double time = 3600.0 * hour + 60.0 * minute + second + 1e-9 * nanoseconds;
    return make_raw_at(cell, pack(year, month, day, 0, true), time);
}

Cell* push(uint32_t packed, double time) {
    return make_raw_at(stack::push_cell(), packed, time);
}

Cell* set_result(uint32_t packed, double time) {
    return make_raw_at(stack::arguments, packed, time);
}

Cell* add_to_block(const Cell* block, uint32_t packed, double time) {
    return make_raw_at(memory::alloc_tail_cell(memory::buffer(block->w2)), packed, time);
}

double stored_time(const Cell* date) {
    return float_::get(date);
}

double local_time(const Cell* date) {
    return float_::get(date) + zone_seconds(zone_of(date->w1));
}

Cell* set_days(Cell* date, int64_t days, double time, uint32_t zone, bool time_present) {
    shift_by_zone(days, time, zone);
    const uint32_t packed = checked_from_days(days, zone, time_present);
    date->w1 = packed;
    float_::set(date, time);
    return date;
}

Cell* normalize(Cell* date, double time, bool local) {
    const uint32_t zone = zone_of(date->w1);
    if (local) time -= zone_seconds(zone);
    return set_days(date, to_days(date->w1), time, zone, has_time(date->w1));
}

void set_week(Cell* date, int32_t week) {
    const uint32_t w = date->w1;
    set_days(date, iso_week_one(w) + 7 * (static_cast<int64_t>(week) - 1), stored_time(date),
             zone_of(w), has_time(w));
}

void set_weekday(Cell* date, int32_t day) {
    const uint32_t w = date->w1;
    const int64_t days = to_days(w);
    set_days(date, days + (static_cast<int64_t>(day) - weekday(days)), stored_time(date),
             zone_of(w), has_time(w));
}

void set_yearday(Cell* date, int32_t day) {
    const uint32_t w = date->w1;
    set_days(date, year_start_days(w) + day - 1, stored_time(date), zone_of(w), has_time(w));
}

namespace {
int64_t epoch_days() {
    static const int64_t days = year_start_days(pack(1970, 1, 1, 0, false));
    return days;
}
} // namespace

int64_t to_epoch_seconds(const Cell* date) {
    return (to_days(date->w1) - epoch_days()) * 86400 +
           static_cast<int64_t>(std::trunc(stored_time(date) + 0.5));
}

Cell* from_epoch_seconds(Cell* cell, int64_t seconds) {
    const int64_t days = epoch_days() + seconds / 86400;
    const double time = static_cast<double>(seconds % 86400);
    make_raw_at(cell, pack(1970, 1, 1, 0, true), 0.0);
    return set_days(cell, days, time, 0, true);
}

Cell* difference(Cell* a, const Cell* b) {
    const double seconds = static_cast<double>(to_days(a->w1) - to_days(b->w1)) * 86400 +
                           (stored_time(a) - stored_time(b));
    return time_::make_at(a, seconds);
}

// --- Fields ---------------------------------------------------------------------------------

int32_t field_index(const Cell* selector) {
    const uint8_t type = cell::type(selector);
    if (type == kTypeInteger) {
        const int32_t i = integer::get(selector);
        return i >= 1 && i <= 14 ? i : -1;
    }
    if (!traits::is_bindable_word(type)) return -1;
    const uint32_t s = symbol::resolve(selector->w2);
    const words::Symbols& w = words::symbol;
    const uint32_t fields[] = {w.date,    w.year,     w.month,  w.day,    w.zone,
                               w.time,    w.hour,     w.minute, w.second, w.weekday,
                               w.yearday, w.timezone, w.week,   w.isoweek};
    for (int32_t i = 0; i < 14; ++i)
        if (s == symbol::resolve(fields[i])) return i + 1;
    if (s == symbol::resolve(w.julian)) return 11;
    return -1;
}

Cell* get_field(const Cell* date, int32_t index, Cell* result) {
    const uint32_t w = date->w1;
    const double local = local_time(date);
    switch (index) {
    case 1:
        return make_raw_at(result, pack(year_of(w), month_of(w), day_of(w), 0, false), 0.0);
    case 2:
        return integer::make_at(result, year_of(w));
    case 3:
        return integer::make_at(result, month_of(w));
    case 4:
        return integer::make_at(result, day_of(w));
    case 5:
    case 12:
        if (!has_time(w)) return none::make_at(result);
        return time_::make_at(result, zone_seconds(zone_of(w)));
    case 6:
        if (!has_time(w)) return none::make_at(result);
        return time_::make_at(result, local);
    case 7:
        return time_::get_field(local, 1, result);
    case 8:
        return time_::get_field(local, 2, result);
    case 9:
        return time_::get_field(local, 3, result);
    case 10:
        return integer::make_at(result, weekday(to_days(w)));
    case 11:
        return integer::make_at(result, year_day(w));
    case 13:
        return integer::make_at(result, sunday_week(w));
    default:
        return integer::make_at(result, iso_week(w));
    }
}

void set_field(Cell* date, int32_t index, const Cell* value) {
    const uint8_t type = cell::type(value);
    const uint32_t w = date->w1;
    const uint32_t zone = zone_of(w);
    const double stored = stored_time(date);
    const bool needs_integer = index == 2 || index == 3 || index == 4 || index == 10 ||
                               index == 11 || index == 13 || index == 14 || index == 7 ||
                               index == 8;
    if (needs_integer && type != kTypeInteger) invalid_arg(value);
    switch (index) {
    case 1:
        if (type != kTypeDate) invalid_arg(value);
        date->w1 = (value->w1 & (kDateBits | kTimeFlag)) | zone;
        return;
    case 2:
        if (integer::get(value) < kMinYear || integer::get(value) > kMaxYear) type_limit();
        set_days(date, to_days(pack(integer::get(value), month_of(w), day_of(w), 0, false)), stored,
                 zone, has_time(w));
        return;
    case 3: {
        const int64_t m = static_cast<int64_t>(integer::get(value)) - 1;
        const int64_t year = year_of(w) + floor_div(m, 12);
        if (year < kMinYear || year > kMaxYear) type_limit();
        const auto month = static_cast<int32_t>(floor_mod(m, 12)) + 1;
        set_days(date,
                 to_days(pack(static_cast<int32_t>(year), month, 1, 0, false)) + day_of(w) - 1,
                 stored, zone, has_time(w));
        return;
    }
    case 4:
        set_days(date,
                 to_days(pack(year_of(w), month_of(w), 1, 0, false)) - 1 + integer::get(value),
                 stored, zone, has_time(w));
        return;
    case 5:
    case 12: {
        if (type != kTypeInteger && type != kTypeTime) invalid_arg(value);
        const uint32_t new_zone = zone_from_value(value);
        // zone keeps the local time (the instant moves); timezone keeps the instant.
        const double time =
            index == 5 ? stored + zone_seconds(zone) - zone_seconds(new_zone) : stored;
        set_days(date, to_days(w), time, new_zone, true);
        return;
    }
    case 6:
        if (type == kTypeNone) {
            date->w1 = w & ~kTimeFlag;
            float_::set(date, 0.0);
            return;
        }
        if (type != kTypeTime) invalid_arg(value);
        set_days(date, to_days(w), float_::get(value) - zone_seconds(zone), zone, true);
        return;
    case 7:
        set_days(date, to_days(w), time_::set_field(stored, 1, value) - zone_seconds(zone), zone,
                 true);
        return;
    case 8:
    case 9:
        if (index == 9 && type != kTypeInteger && type != kTypeFloat) invalid_arg(value);
        set_days(date, to_days(w), time_::set_field(stored, index - 6, value), zone, true);
        return;
    case 10:
        set_weekday(date, integer::get(value));
        return;
    case 11:
        set_yearday(date, integer::get(value));
        return;
    case 13: {
        const int32_t week = integer::get(value);
        const int64_t jan1 = year_start_days(w);
        const int64_t days =
            week <= 1 ? jan1 : jan1 - weekday(jan1) % 7 + 7 * (static_cast<int64_t>(week) - 1);
        set_days(date, days, stored, zone, has_time(w));
        return;
    }
    default:
        set_week(date, integer::get(value));
        return;
    }
}

void set_months_hook(MonthsHook hook) {
    months_hook = hook;
}

// --- make and to ----------------------------------------------------------------------------

namespace {

enum BlockSlot : uint8_t {
    kNone,
    kFirst,
    kMonth,
    kThird,
    kHours,
    kTime,
    kZoneHours,
    kZoneTime,
    kZoneMinutes,
    kMinutes,
    kSeconds,
    kFloatSeconds,
};

struct Step {
    int8_t next;
    BlockSlot slot;
};

// The states of the block reader: for an integer!, a time! and a float! the next state and
// the field that takes the value; next -1 refuses the value.
constexpr Step kNo{-1, kNone};
constexpr Step kStates[14][3] = {
    {{1, kFirst}, kNo, kNo},                    // 0
    {{2, kMonth}, kNo, kNo},                    // 1
    {{3, kThird}, kNo, kNo},                    // 2
    {{8, kHours}, {4, kTime}, kNo},             // 3
    {{6, kZoneHours}, {5, kZoneTime}, kNo},     // 4
    {kNo, kNo, kNo},                            // 5
    {{7, kZoneMinutes}, kNo, kNo},              // 6
    {kNo, kNo, kNo},                            // 7
    {{9, kMinutes}, kNo, kNo},                  // 8
    {{10, kSeconds}, kNo, {10, kFloatSeconds}}, // 9
    {{12, kZoneHours}, {11, kZoneTime}, kNo},   // 10
    {kNo, kNo, kNo},                            // 11
    {{13, kZoneMinutes}, kNo, kNo},             // 12
    {kNo, kNo, kNo},                            // 13
};

Cell* from_block(Cell* result, const Cell* spec, bool check) {
    const int32_t count = block::length_from_index(spec);
    const Cell* values = memory::buffer(spec->w2)->cells() + spec->w1;
    int64_t first = 0, month = 0, third = 0, hours = 0, minutes = 0, seconds = 0;
    int32_t zone_hours = 0, zone_minutes = 0;
    double time_value = 0, float_seconds = 0;
    bool has_time_value = false;
    int state = 0;
    for (int32_t i = 0; i < count; ++i) {
        const Cell* v = &values[i];
        const uint8_t type = cell::type(v);
        const int column = type == kTypeInteger ? 0
                           : type == kTypeTime  ? 1
                           : type == kTypeFloat ? 2
                                                : -1;
        if (column < 0) bad_to_arg(spec);
        const Step step = kStates[state][column];
        if (step.next < 0) bad_to_arg(spec);
        state = step.next;
        const int64_t n = type == kTypeInteger ? integer::get(v) : 0;
        switch (step.slot) {
        case kFirst:
            first = n;
            break;
        case kMonth:
            month = n;
            break;
        case kThird:
            third = n;
            break;
        case kHours:
            hours = n;
            break;
        case kMinutes:
            minutes = n;
            break;
        case kSeconds:
            seconds = n;
            break;
        case kFloatSeconds:
            float_seconds = float_::get(v);
            break;
        case kTime:
            time_value = float_::get(v);
            has_time_value = true;
            break;
        case kZoneHours:
            zone_hours = static_cast<int32_t>(n);
            break;
        case kZoneMinutes:
            zone_minutes = static_cast<int32_t>(n);
            break;
        case kZoneTime:
            if (!zone_parts(float_::get(v), zone_hours, zone_minutes)) bad_to_arg(spec);
            break;
        default:
            break;
        }
    }
    if (count < 3) bad_to_arg(spec);
    int64_t day = first, year = third;
    if (first > 99 && third <= 99) {
        day = third;
        year = first;
    }
    const double local =
        has_time_value ? time_value
                       : 3600.0 * static_cast<double>(hours) + 60.0 * static_cast<double>(minutes) +
                             (float_seconds != 0.0 ? float_seconds : static_cast<double>(seconds));
    // The month rule carries months outside 1-12 into years.
    const int64_t carried_year = year + floor_div(month - 1, 12);
    const int64_t carried_month = floor_mod(month - 1, 12) + 1;
    if (carried_year < kMinYear || carried_year > kMaxYear) {
        if (check) bad_to_arg(spec);
        type_limit();
    }
    const int64_t day0 = to_days(pack(static_cast<int32_t>(carried_year),
                                      static_cast<int32_t>(carried_month), 1, 0, false)) -
                         1;
    const bool time_present = count > 3;
    Cell made{};
    make_raw_at(&made, pack(0, 1, 1, 0, time_present), 0.0);
    set_days(&made, day0 + day, local, 0, time_present);
    if (check) {
        const uint32_t w = made.w1;
        if (year_of(w) != year || month_of(w) != month || day_of(w) != day) bad_to_arg(spec);
        const double t = stored_time(&made);
        const int32_t given_minutes =
            has_time_value ? time_::remainder_part(time_value) : static_cast<int32_t>(minutes);
        if (local != 0) {
            const double whole_hours = std::floor(local / 3600);
            if (whole_hours < 0 || whole_hours > 23) bad_to_arg(spec);
            if (time_::remainder_part(t) != given_minutes) bad_to_arg(spec);
        } else if (time_::hours_part(t) != hours || time_::remainder_part(t) != given_minutes) {
            bad_to_arg(spec);
        }
    }
    const uint32_t zone = zone_bits(zone_hours, zone_minutes);
    made.w1 = (made.w1 & ~kZoneMask) | zone;
    normalize(&made, stored_time(&made), true);
    *result = made;
    return result;
}

Cell* convert(Cell* prototype, Cell* spec, bool check) {
    const uint8_t type = cell::type(spec);
    switch (type) {
    case kTypeDate:
        return cell::copy(spec, prototype);
    case kTypeBlock:
    case kTypeParen:
    case kTypeHash:
        return from_block(prototype, spec, check);
    case kTypeInteger:
        if (check) bad_to_arg(spec);
        return from_epoch_seconds(prototype, integer::get(spec));
    default:
        bad_to_arg(spec);
    }
}

} // namespace

Cell* make(Cell* prototype, Cell* spec, int32_t) {
    return convert(prototype, spec, true);
}

Cell* to(Cell* prototype, Cell* spec, int32_t) {
    return convert(prototype, spec, false);
}

Cell* random(Cell* value, const action::RandomOptions& options) {
    const integer::RandomSource* source = integer::random_source();
    if (!source) error::fire(error::kInternal, error::internal::not_done);
    const uint32_t w = value->w1;
    if (options.seed) {
        source->seed(w +
                     static_cast<uint32_t>(static_cast<int64_t>(std::trunc(stored_time(value)))));
        value->header = kTypeUnset;
        return value;
    }
    const int64_t n = to_days(w);
    if (n < 1) return value; // nothing lies between 1 March of year 0 and the day before
    const int64_t days = source->rand(options.secure, static_cast<int32_t>(n)) - 1;
    if (!has_time(w)) return set_days(value, days, 0.0, zone_of(w), false);
    const uint32_t zone = static_cast<uint32_t>(source->rand(options.secure, 128) - 1);
    const double u = source->rand(options.secure, 2147483647) / 2147483647.0;
    const double local = std::floor(u * 3600) / 3600 * 24 * 3600;
    return set_days(value, days, local - zone_seconds(zone), zone, true);
}

// --- Text ---------------------------------------------------------------------------------

namespace {

// The first three characters of the month's name.
void append_month(const Cell* string, int32_t month) {
    if (month < 1 || month > 12) error::fire(error::kScript, error::script::invalid_months);
    const Cell* months = months_hook ? months_hook() : nullptr;
    if (!months) {
        string::append_bytes(string, kMonths[month - 1], 3);
        return;
    }
    if (!series::is_any_block(cell::type(months)) || block::length_from_index(months) < month)
        error::fire(error::kScript, error::script::invalid_months);
    Cell name = memory::buffer(months->w2)->cells()[months->w1 + month - 1];
    if (cell::type(&name) != kTypeString)
        error::fire(error::kScript, error::script::invalid_months);
    GcRoot held(name);
    string::concatenate(string, &held.cell(), 3, 0, true, string::kAppendMode);
}

} // namespace

int32_t mold(Cell* value, Cell* string, const action::MoldOptions&, int32_t limit, int32_t) {
    uint32_t w = value->w1;
    double local = local_time(value);
    // A time of day whose seconds print as 60 at the end of the day shows as midnight of the
    // next day (23:59:59.9999999 would read 24:00:00, which no date literal holds).
    if (has_time(w)) {
        const double shown = time_::shown_seconds(local);
        const bool last_day = year_of(w) == kMaxYear && month_of(w) == 12 && day_of(w) == 31;
        if (shown >= 86400 && !last_day) {
            local = shown - 86400;
            w = from_days(to_days(w) + 1, zone_of(w), true);
        }
    }
    const int32_t year = year_of(w);
    const char separator = year < 0 ? '/' : '-';
    const uint32_t before = string::length_from_head(string);
    char text[64];
    int n = std::snprintf(text, sizeof text, "%d%c", day_of(w), separator);
    string::append_bytes(string, text, static_cast<uint32_t>(n));
    append_month(string, month_of(w));
    const int32_t magnitude = year < 0 ? -year : year;
    n = std::snprintf(text, sizeof text, "%c%s%0*d", separator, year < 0 ? "-" : "",
                      magnitude <= 99 ? 4 : 1, magnitude);
    string::append_bytes(string, text, static_cast<uint32_t>(n));
    if (has_time(w)) {
        string::append_bytes(string, "/", 1);
        time_::write_parts(local, string, 0);
        const uint32_t zone = zone_of(w);
        if (zone != 0) {
            n = std::snprintf(text, sizeof text, "%c%02u:%02u", (zone & 0x40) ? '-' : '+',
                              (zone >> 2) & 0xF, (zone & 3) * 15);
            string::append_bytes(string, text, static_cast<uint32_t>(n));
        }
    }
    return limit - static_cast<int32_t>(string::length_from_head(string) - before);
}

int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit) {
    return mold(value, string, {.part = part}, limit, 0);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, const action::PathOptions& options) {
    const int32_t index = field_index(element);
    if (index < 0)
        error::fire(error::kScript, error::script::invalid_path,
                    {options.path ? options.path : &none::value, element});
    if (!value) return get_field(parent, index, stack::push_cell());
    GcRoot old(*parent);
    set_field(parent, index, value);
    time_::notify_owner(options.grand_parent, options.previous, &old.cell(), parent);
    return value;
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    if (cell::type(other) != kTypeDate) return action::kNotComparable;
    const uint32_t a = value->w1 & kDateBits, b = other->w1 & kDateBits;
    const double ta = stored_time(value), tb = stored_time(other);
    if (op == action::op::same)
        return a == b && std::memcmp(&value->w2, &other->w2, 8) == 0 ? 0 : 1;
    const bool equal = a == b && float_::compare_values(ta, tb);
    switch (op) {
    case action::op::equal:
    case action::op::not_equal:
    case action::op::strict_equal:
    case action::op::find:
    case action::op::parse:
    case action::op::parse_case:
        return equal ? 0 : 1;
    default:
        if (equal) return 0;
        if (a != b) return static_cast<int32_t>(a) < static_cast<int32_t>(b) ? -1 : 1;
        return ta < tb ? -1 : 1;
    }
}

namespace {

void do_math(bool subtract) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    const uint8_t type = cell::type(right);
    const uint32_t w = left->w1;
    int64_t days = to_days(w);
    double time = stored_time(left);
    bool time_present = has_time(w);
    switch (type) {
    case kTypeInteger:
        days += subtract ? -static_cast<int64_t>(integer::get(right)) : integer::get(right);
        break;
    case kTypeTime:
        time += subtract ? -float_::get(right) : float_::get(right);
        time_present = true;
        break;
    case kTypeDate: {
        if (!subtract) {
            Cell* t = datatype::push(kTypeDate);
            error::fire(error::kScript, error::script::not_related,
                        {words::word.add ? words::word.add : &none::value, t});
        }
        int64_t d = days - to_days(right->w1);
        double t = time - stored_time(right);
        shift_by_zone(d, t, 0);
        if (d < INT32_MIN || d > INT32_MAX) {
            Cell* limit = datatype::push(kTypeInteger);
            error::fire(error::kScript, error::script::type_limit, {limit});
        }
        integer::make_at(left, static_cast<int32_t>(d));
        return;
    }
    default: {
        Cell* t = datatype::push(type);
        error::fire(error::kScript, error::script::invalid_type, {t});
    }
    }
    set_days(left, days, time, zone_of(w), time_present);
}

} // namespace

void add() {
    do_math(false);
}

void subtract() {
    do_math(true);
}

Cell* pick(Cell* value, int32_t index, Cell* index_value) {
    return get_field(value, time_::pick_field(index, index_value, field_index, 14), value);
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
        .set<s::add>(add)
        .set<s::subtract>(subtract)
        .set<s::pick>(pick);
    datatype::register_({kTypeDate, 0, "date!", row.entries()});
}

} // namespace date
