// integer!: the 32-bit signed integer of the language.
//
// Cell: type id 11; word 2 holds the value (two's complement); words 1 and 3 carry nothing.
// char! (10) is a child that shares the layout and reuses these routines.
//
// Arithmetic is exact and raises math errors where an exact result is impossible, except
// that add, subtract and multiply overflow into a float! result, and so does a divide that
// is not exact. Arithmetic with another kind of number is handed to that number's datatype.
#pragma once
#include <cstdint>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace integer {

// --- Cells --------------------------------------------------------------------------------

// make_at sets the type and keeps the header's flags.
Cell* make_at(Cell* cell, int32_t value);
Cell* push(int32_t value);
// Appends at a block's tail. May collect: the result is valid until the next allocation.
Cell* add_to_block(const Cell* block, int32_t value);
// The running native's result slot becomes the integer.
Cell* set_result(int32_t value);

int32_t get(const Cell* value);
// The value of the result slot; result_or_zero gives 0 when it is not an integer!.
int32_t get_result();
int32_t result_or_zero();

// --- Helpers ------------------------------------------------------------------------------

// -1, 0 or 1.
int32_t sign(int32_t value);
// |value|; -2147483648 raises math/overflow.
int32_t abs_checked(int32_t value);
// True when a float-like cell cannot become an integer: above 2147483647.0, below
// -2147483648.0, NaN or infinite.
bool clamp_from_float(const Cell* value);

// The decimal text of a value, in a static buffer valid until the next call.
const char* to_decimal(int32_t value);

// --- Arithmetic ---------------------------------------------------------------------------

// Operation codes of the math entries.
enum MathOp : int32_t {
    kAdd = 0,
    kSubtract = 1,
    kMultiply = 2,
    kDivide = 3,
    kRemainder = 4,
    kOr = 5,
    kAnd = 6,
    kXor = 7,
};

// One operation on two integers. `result` may be null; when it is given and the result
// stays an integer, word 2 receives it (the header stays). Add, subtract and multiply that
// overflow make `result` a float! holding the operation done on the two values as doubles
// (callers always pass a cell for these), and return 0. Divide and remainder raise
// math/zero-divide for a zero divisor and math/overflow for -2147483648 by -1; an inexact
// divide with a result cell makes it a float! holding a / b (and returns 0), without one it
// truncates toward zero. A code outside 0-7 is an internal fault (runtime error 101).
int32_t do_math(int32_t a, int32_t b, int32_t code, Cell* result);

// The arithmetic actions: the current frame's first cell (integer! or char!) with the
// second, by the second's type: integer! and char! through do_math into the first cell;
// float!, percent! and time! through float!'s arithmetic. Another kind of value raises
// script/invalid-type; the compound numbers (pair!, points, tuple!, date!) reject the
// operations they do not take with script/not-related.
void math_dispatch(int32_t code);

// base to the power exponent (>= 0) by repeated squaring. A product that overflows 32 bits
// (the squared base only while exponent bits remain) abandons the loop with the native
// throw kThrowPowerOverflow, which power catches.
int32_t power_loop(int32_t base, int32_t exponent);

// --- Conversions --------------------------------------------------------------------------

// The decimal reader of text: an optional sign, decimal digits and "'" separators after the
// first digit, in units of 1, 2 or 4 bytes. `error` becomes 0, -1 for another character (or
// no digit at all) or -2 for a value beyond 32 bits; "-2147483648" is the smallest integer.
// The lexer's integer reader: it lives here until the lexer takes it over.
int32_t text_to_integer(const uint8_t* text, uint32_t length, uint32_t unit, int32_t& error);

// The first up to four bytes from a binary!'s index, big-endian (an empty binary gives 0).
int32_t from_binary(const Cell* binary);

// An issue's text read as hexadecimal: 1 to 8 digits 0-9, A-F, a-f; anything else raises
// script/invalid-data with the issue.
int32_t from_issue_text(const uint8_t* text, uint32_t length, const Cell* issue);

// --- Random source ------------------------------------------------------------------------

// random draws from the pseudo-random generator, which belongs to the evaluator and installs
// itself here. rand is its bounded draw: 1 to n for n > 0, n to -1 for n < 0, from the
// cryptographic source when `secure` is set; seed reseeds the generator. Without a source,
// random on an integer raises internal/not-done.
struct RandomSource {
    int32_t (*rand)(bool secure, int32_t n);
    void (*seed)(uint32_t seed);
};
void set_random_source(const RandomSource* source);
// The installed source, null while there is none (the other random actions share it).
const RandomSource* random_source();

// --- Slot functions -----------------------------------------------------------------------

Cell* make(Cell* prototype, Cell* spec, int32_t type);
Cell* to(Cell* prototype, Cell* spec, int32_t type);
Cell* random(Cell* value, const action::RandomOptions& options);
int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);
int32_t compare(Cell* value, Cell* other, int32_t op);
void absolute();
void add();
void divide();
void multiply();
void negate();
void power();
void remainder();
Cell* round(Cell* value, const action::RoundOptions& options);
void subtract();
bool even_q(Cell* value);
bool odd_q(Cell* value);
void and_();
Cell* complement(Cell* value);
void or_();
void xor_();

void register_actions();

} // namespace integer
