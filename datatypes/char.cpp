#include "datatypes/char.h"

#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/support.h"
#include "runtime-core/unicode.h"

namespace char_ {

namespace {

[[noreturn]] void overflow() {
    error::fire(error::kMath, error::math::overflow);
}

[[noreturn]] void out_of_range(const Cell* spec) {
    error::fire(error::kScript, error::script::out_of_range, {spec});
}

[[noreturn]] void bad_to_arg(const Cell* spec) {
    Cell* t = datatype::push(kTypeChar);
    error::fire(error::kScript, error::script::bad_to_arg, {t, spec});
}

Cell* make_at(Cell* cell, uint32_t cp) {
    cell->header = kTypeChar;
    cell->w2 = cp;
    return cell;
}

} // namespace

// --- Cells --------------------------------------------------------------------------------

Cell* push(uint32_t cp) {
    return make_at(stack::push_cell(), cp);
}

Cell* add_to_block(const Cell* block, uint32_t cp) {
    return make_at(memory::alloc_tail_cell(memory::buffer(block->w2)), cp);
}

// --- Arithmetic ---------------------------------------------------------------------------

void do_math(int32_t code) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    int32_t operand = 0;
    switch (cell::type(right)) {
    case kTypeChar:
    case kTypeInteger:
        operand = integer::get(right);
        break;
    case kTypeFloat: {
        // Truncated toward zero. A float that no integer holds (NaN included) cannot leave a
        // code point either.
        const double d = float_::get(right);
        if (!(d > -2147483649.0 && d < 2147483648.0)) overflow();
        operand = static_cast<int32_t>(d);
        break;
    }
    case kTypeVector:
        // Element-wise arithmetic comes with vector!.
        error::fire(error::kInternal, error::internal::not_done);
    default: {
        Cell* t = datatype::push(cell::type(right));
        error::fire(error::kScript, error::script::invalid_type, {t});
    }
    }
    // Without a result cell integer!'s divide truncates instead of giving a float; the other
    // operations get a scratch cell, which turns into a float! when they overflow 32 bits.
    Cell scratch{kTypeInteger, 0, 0, 0};
    const int32_t result = integer::do_math(integer::get(left), operand, code,
                                            code == integer::kDivide ? nullptr : &scratch);
    if (cell::type(&scratch) != kTypeInteger || result < 0 ||
        static_cast<uint32_t>(result) > kMaxCodePoint)
        overflow();
    cell::set_type(left, kTypeChar);
    left->w2 = static_cast<uint32_t>(result);
}

// --- Slot functions -----------------------------------------------------------------------

Cell* make(Cell* prototype, Cell* spec, int32_t) {
    const uint8_t type = cell::type(spec);
    uint32_t cp = 0;
    switch (type) {
    case kTypeChar:
    case kTypeInteger: {
        const int32_t n = integer::get(spec);
        if (n < 0 || static_cast<uint32_t>(n) > kMaxCodePoint) out_of_range(spec);
        cp = static_cast<uint32_t>(n);
        break;
    }
    case kTypeFloat:
    case kTypePercent: {
        // Truncated toward zero: everything above -1 and below 0x110000 lands in range.
        const double d = float_::get(spec);
        if (!(d > -1.0 && d < kMaxCodePoint + 1.0)) out_of_range(spec);
        cp = static_cast<uint32_t>(d);
        break;
    }
    case kTypeBinary: {
        uint32_t count = 0, unit = 0;
        const uint8_t* bytes = series::units_from_index(spec, count, unit);
        // No byte to read, or fewer bytes than the lead byte announces.
        if (count == 0) bad_to_arg(spec);
        const int32_t decoded = unicode::decode_utf8_char(bytes, count);
        if (decoded < 0) bad_to_arg(spec);
        cp = static_cast<uint32_t>(decoded);
        break;
    }
    default: {
        if (!series::is_any_string(type)) bad_to_arg(spec);
        uint32_t count = 0, unit = 0;
        const uint8_t* text = series::units_from_index(spec, count, unit);
        if (count == 0) bad_to_arg(spec);
        cp = string::get_char(text, unit);
        break;
    }
    }
    return make_at(prototype, cp);
}

int32_t form(Cell* value, Cell* string, Cell*, int32_t limit) {
    string::append_char(memory::buffer(string->w2), value->w2);
    return limit - 1;
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t) {
    const uint32_t cp = value->w2;
    string::concatenate_cstring(string, "#\"");
    string::append_escaped_char(string, cp, options.all);
    string::concatenate_cstring(string, "\"");
    // The budget counts the character once, however long its escape.
    return limit - 4;
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    const uint8_t type = cell::type(other);
    // A character is the same value only as another character: under strict equality and
    // the find comparison an integer of its code point differs.
    if ((op == action::op::strict_equal || op == action::op::find) && type != kTypeChar) return 1;
    if (type != kTypeChar && type != kTypeInteger) return action::kNotComparable;
    const int32_t a = integer::get(value), b = integer::get(other);
    return (a > b) - (a < b);
}

void add() {
    do_math(integer::kAdd);
}

void divide() {
    do_math(integer::kDivide);
}

void multiply() {
    do_math(integer::kMultiply);
}

void remainder() {
    do_math(integer::kRemainder);
}

void subtract() {
    do_math(integer::kSubtract);
}

void and_() {
    do_math(integer::kAnd);
}

void or_() {
    do_math(integer::kOr);
}

void xor_() {
    do_math(integer::kXor);
}

void register_actions() {
    namespace slot = action::slot;
    action::Row row;
    row.set<slot::make>(make)
        .set<slot::to>(make)
        .set<slot::form>(form)
        .set<slot::mold>(mold)
        .set<slot::compare>(compare)
        .set<slot::add>(add)
        .set<slot::divide>(divide)
        .set<slot::multiply>(multiply)
        .set<slot::remainder>(remainder)
        .set<slot::subtract>(subtract)
        .set<slot::and_>(and_)
        .set<slot::or_>(or_)
        .set<slot::xor_>(xor_)
        .inherit({slot::random, slot::absolute, slot::even_q, slot::odd_q});
    datatype::register_({kTypeChar, kTypeInteger, "char!", row.entries()});
}

} // namespace char_
