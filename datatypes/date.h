// date!: a day of the proleptic Gregorian calendar with an optional time of day and an
// optional zone offset in quarter hours.
//
// Cell: type id 47. Word 1 is the packed date word (bit 0 lowest):
//   0-1 zone quarter hours, 2-5 zone hours, 6 zone sign (1 = negative offset): the 7-bit zone
//   in which every routine here passes a zone (all zero: UTC, no zone written);
//   7-11 day, 12-15 month, 16 time present, 17-31 year (signed, read with an arithmetic shift).
// Words 2-3 hold the time of day as a double in seconds, kept as local time minus the zone
// offset ("stored time"); 0.0 without a time.
//
// Every operation that normalises keeps local time (stored time + offset) in [0, 86400) with
// year, month and day the local calendar date; make_at stores exactly what it is given.
//
// Day numbers count from day 0 = 1 March of year 0 and divide with floor division, so they
// are right on both sides of year 0. Weekdays run Monday = 1 to Sunday = 7.
#pragma once
#include <cstdint>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace date {

constexpr int32_t kMinYear = -16384;
constexpr int32_t kMaxYear = 16383;

// --- The packed word --------------------------------------------------------------------------

int32_t year_of(uint32_t packed);
int32_t month_of(uint32_t packed);
int32_t day_of(uint32_t packed);
uint32_t zone_of(uint32_t packed);
bool has_time(uint32_t packed);
// A packed word from its fields (the year is cut to 15 bits: callers check the range).
uint32_t pack(int32_t year, int32_t month, int32_t day, uint32_t zone, bool time);
// The 7-bit zone of an offset of `hours` (signed) and `minutes` (0, 15, 30 or 45; rounded
// down to a quarter).
uint32_t zone_bits(int32_t hours, int32_t minutes);
// The offset of a 7-bit zone in seconds.
double zone_seconds(uint32_t zone);

// --- Day numbers --------------------------------------------------------------------------------

int64_t to_days(uint32_t packed);
// The packed word of day number `days` with the given zone bits and time flag.
uint32_t from_days(int64_t days, uint32_t zone, bool time);
// Monday = 1 ... Sunday = 7.
int32_t weekday(int64_t days);
bool leap_year_q(int32_t year);
// Day number of 1 January of the word's year; 1-based day of its year.
int64_t year_start_days(uint32_t packed);
int32_t year_day(uint32_t packed);
// Day number of the Monday that starts ISO week 1 of the word's year; `jan1_weekday` gets the
// ISO weekday (1-7) of its 1 January.
int64_t iso_week_one(uint32_t packed, int32_t* jan1_weekday = nullptr);
// The ISO 8601 week number (1-53) and the Sunday-based week number (week 1 holds 1 January).
int32_t iso_week(uint32_t packed);
int32_t sunday_week(uint32_t packed);

// --- Constructors ---------------------------------------------------------------------------

// The lexer's constructor: the date as read, not normalised. With `time_present` the time is
// stored as time - offset; without it the time is 0.0 and the flag is cleared. The zone is
// given as signed hours and minutes; with zero hours the minutes' sign is the zone's (-0:30).
Cell* make_at(Cell* cell, int32_t year, int32_t month, int32_t day, double time, int32_t zone_hours,
              int32_t zone_minutes, bool time_present);
// The operating-system clock's: time present, UTC.
Cell* from_system_time(Cell* cell, int32_t year, int32_t month, int32_t day, int32_t hour,
                       int32_t minute, int32_t second, int32_t nanoseconds);
// From the two payload parts as stored (the binary codecs).
Cell* make_raw_at(Cell* cell, uint32_t packed, double time);
Cell* push(uint32_t packed, double time);
Cell* set_result(uint32_t packed, double time);
// Appends at the tail of a block. May collect: the result is valid until the next allocation.
Cell* add_to_block(const Cell* block, uint32_t packed, double time);

double stored_time(const Cell* date);
// Local time: stored time plus the zone offset.
double local_time(const Cell* date);

// Re-establishes the invariant: with `local` the time is first turned from local into stored
// form; days and time are then carried by the zone. A year outside kMinYear..kMaxYear raises
// script/type-limit (date!) and leaves the cell alone.
Cell* normalize(Cell* date, double time, bool local);
// Sets the cell (header kept) to day number `days` and stored `time` carried by its zone.
Cell* set_days(Cell* date, int64_t days, double time, uint32_t zone, bool time_present);

// The week-date and ordinal-date setters (the lexer's 2020-W53-5 and 2020-123): the ISO week's
// Monday, a weekday (1-7) of the date's Monday-based week, a day (1-based) of its year.
void set_week(Cell* date, int32_t week);
void set_weekday(Cell* date, int32_t weekday);
void set_yearday(Cell* date, int32_t yearday);

// Seconds since 1970-01-01 00:00 UTC (integer! conversion; the caller checks the range).
int64_t to_epoch_seconds(const Cell* date);
// The date of epoch seconds: UTC, time present.
Cell* from_epoch_seconds(Cell* cell, int64_t seconds);
// a becomes the time! (days(a) - days(b)) x 86400 + (time(a) - time(b)) (the difference
// native).
Cell* difference(Cell* a, const Cell* b);

// --- Fields ---------------------------------------------------------------------------------

// 1-14 for the field words (date year month day zone time hour minute second weekday
// yearday/julian timezone week isoweek) and integers 1-14; -1 for anything else.
int32_t field_index(const Cell* selector);
// The value of field 1-14 into `result` (which may be the date's own cell).
Cell* get_field(const Cell* date, int32_t index, Cell* result);
// Sets field 1-14 in place; a value of the wrong type raises script/invalid-arg.
void set_field(Cell* date, int32_t index, const Cell* value);

// The month names for mold: a hook that answers the locale's months block (a block of 12
// strings), or null for the English names. A block without a string at a month's position
// raises script/invalid-months.
using MonthsHook = const Cell* (*)();
void set_months_hook(MonthsHook hook);

// --- Slot functions -------------------------------------------------------------------------

// make: a block of [day month year] (or [year month day] when the first is above 99), then
// [hours minutes seconds] or a time!, then a zone; every field must be in range (else
// script/bad-to-arg). to: the same without the range check (out-of-range fields carry), a
// date! as it is, an integer! as epoch seconds.
Cell* make(Cell* prototype, Cell* spec, int32_t type);
Cell* to(Cell* prototype, Cell* spec, int32_t type);
Cell* random(Cell* value, const action::RandomOptions& options);
int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, const action::PathOptions& options);
int32_t compare(Cell* value, Cell* other, int32_t op);
// Frame arithmetic: date + integer days or time! seconds; date - integer, time! or date! (the
// day difference, an integer!). Another operand raises script/invalid-type; date + date
// script/not-related.
void add();
void subtract();
Cell* pick(Cell* value, int32_t index, Cell* index_value);

// Registers date! (type 47, no parent).
void register_actions();

} // namespace date
