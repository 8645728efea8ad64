// Decimal text to double, correctly rounded (ties to even) for any number of digits. Reads
// the texts that dtoa.h writes, "1.#INF", "-1.#INF" and "1.#NaN" among them.
#pragma once
#include <cstdint>

namespace number_text {

// Reads the number at the start of [start, end): an optional sign, digits with an optional
// point, and an optional exponent ("e" or "E", an optional sign, digits). exponent_adjust is
// added to the decimal exponent (-2 reads "12" as 0.12). `unconsumed` receives the count of
// characters after the number (0 when the whole range was read); a range without any digit
// is not a number and leaves all of it unconsumed.
//
// Quirks kept for the texts of the lexer: a range of only zeros ("0", "-0", "000") gives +0.0
// while other zero texts keep the sign ("-0.0", "-.0"); one significant digit, ".", "#" and a
// letter I or N give an infinity with the sign or a NaN at once; a result too small for a
// double is +0.0 whatever the sign, one too large an infinity with the sign.
double parse_float(const char* start, const char* end, int32_t exponent_adjust,
                   int32_t& unconsumed);
double parse_float(const char16_t* start, const char16_t* end, int32_t exponent_adjust,
                   int32_t& unconsumed);

// The float syntax of the language: an optional sign, digits with "'" only between digits, an
// optional point with digits on at least one side, an optional exponent (e or E, an optional
// sign, digits). `ticks`, when given, tells whether the text has any "'".
bool float_syntax(const uint8_t* text, uint32_t length, bool* ticks = nullptr);
// A decimal number of that syntax (at most 312 bytes), exactly rounded; `exponent_adjust` is
// added to its decimal exponent.
bool parse_float(const uint8_t* text, uint32_t length, int32_t exponent_adjust, double& value);
// A text of 1-, 2- or 4-byte units (at most 312 of them, "," read as ".") of that syntax:
// its number with `error` 0, or NaN with `error` -1.
double text_to_float(const uint8_t* text, uint32_t length, uint32_t unit, int32_t& error);

// `least` (3 for a literal) to 12 byte values 0-255 separated by single dots, the tuple
// syntax; `count` receives how many.
bool parse_tuple(const uint8_t* text, uint32_t length, uint8_t bytes[12], uint32_t& count,
                 uint32_t least = 3);
// A text of 1-, 2- or 4-byte units of 1 to 12 byte values 0-255 separated by single dots:
// how many, with `error` 0; 0 with `error` -1 for any other text.
uint32_t text_to_tuple(const uint8_t* text, uint32_t length, uint32_t unit, uint8_t bytes[12],
                       int32_t& error);

} // namespace number_text
