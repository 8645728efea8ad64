// float!: the 64-bit IEEE double of the language.
//
// Cell: type id 12; words 2-3 hold the double (low word first, read and written with memcpy);
// word 1 is not used. percent! (38) and time! (43) share the layout, so the arithmetic and
// the comparison here serve them too: `float-like` below means float!, percent! or time!.
//
// The module also holds the number printer that float!, percent!, time!, vector! and the
// point types use to turn a double into text, and the arithmetic core through which every
// float-like operation of integer! and float! goes.
#pragma once
#include <cstdint>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace float_ {

// --- Cells --------------------------------------------------------------------------------

// The double of a float-like cell.
double get(const Cell* value);
// Stores the double into words 2-3, leaving the header alone.
void set(Cell* value, double d);

// make_at writes the whole header (no flags).
Cell* make_at(Cell* cell, double d);
// The running native's result slot becomes the float.
Cell* box(double d);
// Pushes a float on the data stack.
Cell* push(double d);
// Pushes the float of two payload words (low word first).
Cell* push64(uint32_t low, uint32_t high);
// Appends a float at a block's tail. May collect: the result is valid until the next
// allocation.
Cell* add_to_block(const Cell* block, double d);

// --- Doubles ------------------------------------------------------------------------------

// The double of two payload words with its sign bit cleared.
double abs_from_words(uint32_t low, uint32_t high);
// Whether a double is a NaN (an infinity is not).
bool is_special(double d);
// Whether a single is a NaN.
bool is_nan32(float f);
// Whether a double is an infinity or a NaN.
bool is_edge_value(double d);
// A double truncated toward zero into the 32-bit integers: beyond them the nearest end, NaN 0.
int32_t saturate(double d);
// x + 0.49999999999999994 truncated (saturated) toward zero: the pixel of a GUI coordinate.
int32_t to_int_rounded(double d);

// script/not-related naming the running call and a datatype: a round given a scale it cannot
// use (a money! scale for a value that is not money).
[[noreturn]] void call_not_related(uint8_t type);

// --- The number printer -------------------------------------------------------------------

// What the printer writes a double for.
enum Kind : int32_t {
    kVector32 = 0,        // 32-bit vector element: "%.7g"
    kFloat = 1,           // float! form, 64-bit vector element: "%.16g"
    kPercentVector32 = 2, // 32-bit percent vector element: "%.7g" and "%"
    kPercent = 3,         // percent!, 64-bit percent vector element: "%.13g" and "%"
    kSeconds = 4,         // seconds of time! and date!: at most 6 significant digits
    kPoint = 5,           // point2D!/point3D! coordinate: "%.7g"
};

// The printer's `pretty?` switch (system/options/float/pretty?): values nearer zero than
// the double epsilon print as zero, and a text whose last two digits show binary noise
// ("01", "99") is printed again with fewer digits. On at start-up, as the option's field is;
// the option's change handler keeps the two in step.
extern bool pretty;
// The option's full-support switch (system/options/float/full?): kept, read by nothing.
extern bool full;

// The text of `value` for `kind`, in a static buffer valid until the next call. The
// percent kinds print the number they are given (the percentage, the fraction times 100) and
// append "%". Infinities and NaN print as "1.#INF", "-1.#INF" and "1.#NaN"; an exponent is
// written without "+" and without leading zeros, and a text without a point gets ".0"
// (1.0e20, 3.0) except for the percent, seconds and point kinds.
const char* form_float(double value, Kind kind);

// --- Arithmetic and comparison ------------------------------------------------------------

// Operation codes of the math entries.
enum MathOp : int32_t { kAdd = 0, kSubtract = 1, kMultiply = 2, kDivide = 3, kRemainder = 4 };

// One operation on two doubles: the processor's arithmetic for add, subtract, multiply and
// divide (a division by zero gives an infinity or NaN, no error); remainder is fmod for a
// finite divisor, NaN for a NaN divisor, and for an infinite divisor the dividend when it is
// finite, else NaN. Another code raises script/cannot-use.
double do_math_op(double a, double b, int32_t op);

// Arithmetic on the current frame: the first cell (float-like, integer! or char!) with the
// second. The result replaces the first cell: time! when either operand is a time!, else
// percent! when the first is a percent!, else float!. A second operand that is not a number
// raises script/invalid-type with its datatype (a char! too when the first is a time! or a
// percent!); a pair or point operand under subtract or divide raises script/not-related.
Cell* do_math(int32_t op);

// Near-equality: not NaN, and equal, or closer than the double epsilon, or at most 10 steps
// apart in the ordered bit patterns.
bool compare_values(double a, double b);
// The same for singles (the point types): not NaN, and both zeros, or at most 10 steps apart
// in the ordered bit patterns; beyond the largest finite single, the same sign and magnitude
// bits less than 2^20 apart.
bool compare32(float a, float b);

// A random double scaled by `bound`, between 0 and the bound: the generator's next word with
// its sign bit cleared / 2147483647.0 x bound; with `secure`, (r2 + r1 / 2147483647.0) x
// bound / 2147483648.0 of two 31-bit secure words. Without a random source,
// internal/not-done.
double random_float(double bound, bool secure);

// --- Slot functions -----------------------------------------------------------------------

// make and to (the same for both), for float! and for percent! (type 38), by the spec:
// integer!, char!, float!, percent!, time! (its seconds) and money! give their number; a
// binary! the bit pattern of its first up to 8 bytes, big-endian (fewer fill the low end); a
// block!, paren! or hash! of exactly two integer! or float! values [mantissa exponent] gives
// mantissa x 10^exponent (the exponent truncated); text ("," read as ".") the number it
// writes, and for percent! the one value it loads, integer!, float! or percent!, as the
// fraction. Anything else raises script/bad-to-arg (the target datatype, the spec).
Cell* make(Cell* prototype, Cell* spec, int32_t type);
Cell* to(Cell* prototype, Cell* spec, int32_t type);
// With /seed: seeds the generator with the exclusive-or of the payload words and gives
// unset!. Otherwise random_float of the value, in its type.
Cell* random(Cell* value, const action::RandomOptions& options);
// absolute clears the sign bit; negate is 0.0 minus the value (never -0.0). Frame slots.
void absolute();
void negate();
// The lowest bit of the value truncated (saturated) into the 32-bit integers.
bool even_q(Cell* value);
bool odd_q(Cell* value);

int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);
// Equality codes compare with near-equality, strict-equal and find exactly, same by bit
// pattern; these three answer unequal for another type on the other side. Ordering codes
// answer false for every test that involves a NaN. Other values than integer!, char! and
// the float-like ones are not comparable.
int32_t compare(Cell* value, Cell* other, int32_t op);

// add, subtract, multiply, divide, remainder: do_math with their codes.
void add();
void subtract();
void multiply();
void divide();
void remainder();

// power (frame): the first cell raised to the second, an integer! or a float!, as float!.
// Another exponent raises script/expect-arg.
void power();

// round with its refinements: the value rounded to a multiple of the scale (1.0 without
// one, 0.01 for a percent!). An integer! scale gives an integer! result, another scale a
// result of its type; without a scale the value keeps its type. A money! scale raises
// script/not-related, a result that overflows math/overflow.
Cell* round(Cell* value, const action::RoundOptions& options);

void register_actions();

} // namespace float_
