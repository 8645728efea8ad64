// The lexer's literal loaders: for each value kind of token, the checks of its text beyond
// what the state machine decides, the parts of its value, and its construction.
//
// The parsers below are pure: they read a token's bytes and fill the parts of the value (the
// fields of a date, the bytes of a binary, the digits of money), answering false when the
// text is not a valid literal. The construction functions turn parts into a value cell; each
// type has exactly one. A type that the value model does not have yet raises
// internal/not-done there (never a wrong value).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "loading/lexer-engine.h"
#include "runtime-core/cell.h"
#include "runtime-core/strtod.h"

namespace lexer::literals {

// --- Loading a token ------------------------------------------------------------------------

// Checks the token [start, end) of a value kind (13-35) and, with `build`, writes its value to
// a new slot. `flags` is the OR of the class flags of its bytes. Moves the record's position
// past the token. Errors go through engine::raise_error.
void load(engine::Record& r, uint8_t kind, const uint8_t* start, const uint8_t* end, uint32_t flags,
          bool build);

// A string-like value (string!, file!, url!, tag!, email!, ref!) of the text [start, end)
// with ^ escapes decoded when `escapes`; %xx escapes are decoded afterwards for file! and
// url! when `percent` is set. Checks only unless `build`.
void load_text(engine::Record& r, const uint8_t* start, const uint8_t* end, uint8_t type,
               bool escapes, bool percent, bool build);

// A word of a type (word!, set-word!, refinement!, issue! ...) of the UTF-8 name [start, end),
// interned, bound to the global context with its index unresolved, in a new slot.
void build_word(engine::Record& r, uint8_t type, const uint8_t* start, const uint8_t* end);
// Forgets the names build_word interned lately (a new symbol table).
void forget_symbols();
// Whether [start, end) is well-formed UTF-8.
bool valid_utf8(const uint8_t* start, const uint8_t* end);

// --- Parsers --------------------------------------------------------------------------------

// The float syntax and a decimal number of it (number_text::float_syntax, parse_float).
using number_text::float_syntax;
using number_text::parse_float;
// "1.#NaN", "1.#INF", "-1.#INF", "+1.#INF" (NaN and INF in any letter case).
bool parse_special_float(const uint8_t* text, uint32_t length, double& value);
// Decimal digits with an optional sign and "'" between digits; false when the text is not
// one. `fits` is false when it has more than 10 digits (leading zeros counted) or leaves the
// 32-bit range, in which case the literal is a float!.
bool parse_integer(const uint8_t* text, uint32_t length, int32_t& value, bool& fits);
// 2 to 8 digits 0-9 A-F followed by "h".
bool parse_hex(const uint8_t* text, uint32_t length, int32_t& value);
// `least` (3 for a literal) to 12 byte values 0-255 separated by single dots
// (number_text::parse_tuple).
using number_text::parse_tuple;
// Two integers separated by x or X.
bool parse_pair(const uint8_t* text, uint32_t length, int32_t& x, int32_t& y);
// h:m, h:m:s, h:m:s.f, m:s.f with an optional sign: the seconds.
bool parse_time(const uint8_t* text, uint32_t length, double& seconds);

struct DateParts {
    int32_t year = 0, month = 0, day = 0;
    bool has_time = false;
    double seconds = 0; // of the day
    bool has_zone = false;
    int32_t zone_minutes = 0;
};
// d-m-y, d/m/y, y-m-d (month as a number or a name), ISO basic yyyymmddThhmm[ss][zone], ISO
// week yyyy-Www[-d], ordinal yyyy-ddd; then an optional /time or Ttime and a zone.
bool parse_date(const uint8_t* text, uint32_t length, DateParts& date);

struct MoneyParts {
    bool negative = false;
    std::string currency; // three letters, upper-cased, or empty
    std::string whole;    // digits before the point, no separators, leading zeros dropped
    std::string fraction; // digits after the point (at most 5)
};
bool parse_money(const uint8_t* text, uint32_t length, MoneyParts& money);

// The bytes of #{...}, 2#{...}, 16#{...} or 64#{...} (the whole token, braces included).
bool parse_binary(const uint8_t* text, uint32_t length, std::vector<uint8_t>& bytes);

// The coordinates between the parentheses of a point literal (2 or 3 of them): `count`
// receives how many were found even when the text is invalid.
bool parse_point(const uint8_t* text, uint32_t length, double coordinates[3], uint32_t& count);

// Decodes %xx escapes of a text in place; a "%" without two hexadecimal digits after it
// stays as it is.
void decode_percent_escapes(std::u32string& text);

// --- Construction ---------------------------------------------------------------------------

// Each writes the value to `cell` (a slot of the slot buffer, which the collector marks).
void make_percent(Cell* cell, double fraction);
void make_pair(Cell* cell, int32_t x, int32_t y);
void make_point2(Cell* cell, float x, float y);
void make_point3(Cell* cell, float x, float y, float z);
void make_tuple(Cell* cell, const uint8_t* bytes, uint32_t count);
void make_time(Cell* cell, double seconds);
void make_date(Cell* cell, const DateParts& date);
void make_money(Cell* cell, const MoneyParts& money);
void make_binary(Cell* cell, const uint8_t* bytes, uint32_t count);
// file!, url!, tag!, email!, ref! (string! has its builder in load_text).
void make_text(Cell* cell, uint8_t type, const uint32_t* code_points, uint32_t count,
               uint32_t unit);
// A map! of `count` cells (keys and values alternating) that `cell` holds as a block.
void make_map(Cell* cell);

} // namespace lexer::literals
