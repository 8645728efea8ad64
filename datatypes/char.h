// char!: a Unicode code point, 0 to 0x10FFFF.
//
// Cell: type id 10, a child of integer! with integer!'s layout: word 2 holds the code point;
// words 1 and 3 carry nothing. The arithmetic runs through integer!'s routine and every result
// must stay a code point: one outside 0-0x10FFFF raises math/overflow, and a division
// truncates instead of turning into a float!. random, absolute, even? and odd? are integer!'s
// own, inherited at registration.
#pragma once
#include <cstdint>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace char_ {

constexpr uint32_t kMaxCodePoint = 0x10FFFF;

// --- Cells --------------------------------------------------------------------------------

// A new char! on the data stack.
Cell* push(uint32_t cp);
// Appends a char! at a block's tail. May collect: the result is valid until the next
// allocation.
Cell* add_to_block(const Cell* block, uint32_t cp);

// --- Arithmetic ---------------------------------------------------------------------------

// One arithmetic action on the current frame, with integer!'s operation codes (integer.h):
// the first cell (a char!) with the second, which counts by its integer value (a float!
// truncated toward zero). The first cell keeps type char! and receives the result. Another
// kind of operand raises script/invalid-type; a result beyond 32 bits or outside the
// code-point range raises math/overflow; a zero divisor math/zero-divide.
void do_math(int32_t code);

// --- Slot functions -----------------------------------------------------------------------

// make and to, one function: from char!, integer!, float!, percent! (truncated), the first
// UTF-8 character of a binary! or the character at a text's index. A number outside the
// code-point range raises script/out-of-range; an empty text or binary and any other kind of
// spec raise script/bad-to-arg.
Cell* make(Cell* prototype, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);
int32_t compare(Cell* value, Cell* other, int32_t op);
void add();
void divide();
void multiply();
void remainder();
void subtract();
void and_();
void or_();
void xor_();

void register_actions();

} // namespace char_
