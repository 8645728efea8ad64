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

} // namespace number_text
