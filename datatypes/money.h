// money!: an exact decimal amount with an optional currency.
//
// Cell (16 bytes): header with type id 49, bit 14 the sign (1 = negative); byte 4 the currency
// index (0 none, else the 1-based position of its code in the currency list); bytes 5-15 hold
// 22 packed decimal digits, two per byte, most significant first: digits 1-17 the integer
// part (17 the units), 18-22 five decimal places. A zero amount has all digits 0 whatever its
// sign bit. The largest magnitude is 99999999999999999.99999.
//
// Arithmetic works digit by digit, so amounts never pick up binary rounding; any overflow
// raises script/type-limit, and no error leaves a partial result in a cell.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace money {

constexpr int32_t kDigits = 22;
constexpr int32_t kIntegerDigits = 17;
constexpr int32_t kDigitBytes = 11;
constexpr uint32_t kSignBit = 0x4000;

// --- The currency list ------------------------------------------------------------------------

// The list is the system's (system/locale/currencies/list, a block of words that only grows,
// read through the hook below), or the built-in list of the codes it starts with while there
// is none. Never collect.
//
// The number of codes in the list and the code of a 1-based index ("USD"; empty for an index
// outside the list or an entry that is not a three-letter word).
int32_t currency_count();
std::string currency_code(int32_t index);
// The 1-based index of a code, compared case-insensitively; -1 when it is not in the list.
int32_t currency_index(std::string_view code);
// The index of a word's code (by its canonical symbol's text); -1 when absent.
int32_t word_currency_index(const Cell* word);

// --- Cells --------------------------------------------------------------------------------------

bool negative_q(const Cell* money);
bool zero_q(const Cell* money);
bool positive_q(const Cell* money);
// 0 when every digit is 0, else -1 or 1.
int32_t sign(const Cell* money);
int32_t get_currency(const Cell* money);
void set_currency(Cell* money, int32_t index);
// Digit 1-22.
int32_t get_digit(const Cell* money, int32_t position);
void set_digit(Cell* money, int32_t position, int32_t digit);

// --- Constructors ---------------------------------------------------------------------------

// From the parts as stored (the binary codecs): sign, currency index and the 11 digit bytes.
Cell* make_in(Cell* cell, bool negative, int32_t currency, const uint8_t digits[kDigitBytes]);
Cell* push_in(bool negative, int32_t currency, const uint8_t digits[kDigitBytes]);
// The lexer's constructor over the source text: the integer digits run from `start` to `dot`
// (or to `end` without a dot, `dot` < 0), "'" separators skipped, at most 17 taken from the
// units digit up; the fraction digits after the dot, at most 5 (more are dropped). `currency`
// is an index (0 for none). Returns the cell.
Cell* make_at(Cell* cell, bool negative, int32_t currency, const char* text, int32_t start,
              int32_t dot, int32_t end);
Cell* push(bool negative, int32_t currency, const char* text, int32_t start, int32_t dot,
           int32_t end);
Cell* set_result(bool negative, int32_t currency, const char* text, int32_t start, int32_t dot,
                 int32_t end);
// Appends at the tail of a block. May collect: the result is valid until the next allocation.
Cell* add_to_block(const Cell* block, bool negative, int32_t currency, const char* text,
                   int32_t start, int32_t dot, int32_t end);
// Reads the text of a money literal: [-|+][CODE]$ then digits with "'" only between two
// digits, and an optional point with digits on both sides (fraction digits past the fifth
// are dropped); at most 17 integer digits besides leading zeros. False when the text is not
// one (or its code is not in the list).
bool from_text(std::string_view text, Cell* cell);

// --- Conversions --------------------------------------------------------------------------------

Cell* from_integer(Cell* cell, int32_t value);
// The amount of the double's shortest decimal digits that read back as it (0.1 is one tenth).
// Raises script/bad-make-arg (money!, the float) for an infinity or NaN, a magnitude of 1e17
// or more, one below 0.00001 but not zero, and, with `strict`, digits past the fifth decimal
// place (otherwise those are dropped).
Cell* from_float(Cell* cell, double value, bool strict);
// The integer part; script/type-limit (integer!) outside the 32-bit range.
int32_t to_integer(const Cell* money);
double to_float(const Cell* money);

// The options money text reads: a hook answering system/options/money-digits (null for
// none: 2 decimals). A value that is not an integer! gives 2; more than 5 gives 5.
using OptionHook = const Cell* (*)();
void set_money_digits_hook(OptionHook hook);
// The hook answering the system's currency list (a block!), or null while there is none.
void set_currency_list_hook(OptionHook hook);

// --- Slot functions -------------------------------------------------------------------------

// make: a word! is a zero amount in that currency; a block! [code amount], [amount], [code
// amount fraction] or [amount fraction] (fraction 0-99999 in the five places); else as to.
// to: a text through the money reader, an integer!, a float! (strictly), a money!.
Cell* make(Cell* prototype, Cell* spec, int32_t type);
Cell* to(Cell* prototype, Cell* spec, int32_t type);
Cell* random(Cell* value, const action::RandomOptions& options);
// form: groups of three integer digits after "'" and money-digits decimals; mold: no groups,
// with /all all five decimals.
int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);
// code (1): the currency word or none; amount (2): the amount without currency. Setting raises
// script/bad-path-set; another element script/invalid-path.
Cell* eval_path(Cell* parent, Cell* element, Cell* value, const action::PathOptions& options);
// Against money!, integer! or float!; other types are not comparable. Ordering two amounts of
// different currencies raises script/wrong-denom.
int32_t compare(Cell* value, Cell* other, int32_t op);
// The frame math entry for every side that holds money (integer! and float! send theirs
// here): op 0 add, 1 subtract, 2 multiply, 3 divide, 4 remainder.
void do_math(int32_t op);
void absolute();
void add();
void subtract();
void multiply();
void divide();
void remainder();
void negate();
Cell* round(Cell* value, const action::RoundOptions& options);
bool even_q(Cell* value);
bool odd_q(Cell* value);
Cell* pick(Cell* value, int32_t index, Cell* index_value);

// Registers money! (type 49, no parent).
void register_actions();

} // namespace money
