#include "datatypes/tuple.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/compound.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/strtod.h"
#include "runtime-core/support.h"

namespace tuple {

namespace {

constexpr uint32_t kLengthShift = 19;
constexpr uint32_t kLengthMask = 0xF << kLengthShift;

void set_length(Cell* tuple, uint32_t n) {
    tuple->header = (tuple->header & ~kLengthMask) | (n << kLengthShift);
}

uint8_t clamp(int64_t v) {
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

int32_t hex_digit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The byte of a block value for make: integer!, char! or float! (truncated) within 0..255;
// anything else raises bad-to-arg with the spec.
uint8_t spec_byte(const Cell* v, const Cell* spec) {
    double d;
    switch (cell::type(v)) {
    case kTypeInteger:
    case kTypeChar:
        d = integer::get(v);
        break;
    case kTypeFloat:
        d = std::trunc(float_::get(v));
        break;
    default:
        compound::bad_to_arg(kTypeTuple, spec);
    }
    if (!(d >= 0 && d <= 255)) compound::bad_to_arg(kTypeTuple, spec);
    return static_cast<uint8_t>(d);
}

// One byte combined with an integer by integer! arithmetic: an overflow counts as 255 when
// positive and 0 otherwise; divide and remainder truncate.
uint8_t with_integer(uint8_t b, int32_t n, int32_t op) {
    if (op == integer::kDivide || op == integer::kRemainder)
        return clamp(integer::do_math(b, n, op, nullptr));
    Cell r{kTypeInteger, 0, 0, 0};
    const int32_t v = integer::do_math(b, n, op, &r);
    if (cell::type(&r) != kTypeInteger) return float_::get(&r) > 0 ? 255 : 0;
    return clamp(v);
}

} // namespace

Cell* make_at(Cell* cell, const uint8_t* bytes, uint32_t length) {
    const uint32_t n = std::min(length, kMaxLength);
    *cell = Cell{kTypeTuple, 0, 0, 0};
    std::memcpy(&cell->w1, bytes, n);
    set_length(cell, std::max(n, kMinLength));
    return cell;
}

Cell* push(const uint8_t* bytes, uint32_t length) {
    return make_at(stack::push_cell(), bytes, length);
}

Cell* push_words(uint32_t length, uint32_t w1, uint32_t w2, uint32_t w3) {
    const uint32_t words[3] = {w1, w2, w3};
    return push(reinterpret_cast<const uint8_t*>(words), length);
}

Cell* box(const uint8_t* bytes, uint32_t length) {
    return make_at(stack::arguments, bytes, length);
}

Cell* add_to_block(const Cell* block, const uint8_t* bytes, uint32_t length) {
    Cell value;
    make_at(&value, bytes, length);
    return block::append_copy(block, &value);
}

uint32_t length(const Cell* tuple) {
    return (tuple->header & kLengthMask) >> kLengthShift;
}

const uint8_t* bytes(const Cell* tuple) {
    return reinterpret_cast<const uint8_t*>(&tuple->w1);
}

uint8_t* bytes(Cell* tuple) {
    return reinterpret_cast<uint8_t*>(&tuple->w1);
}

bool zero_q(const Cell* tuple) {
    return tuple->w1 == 0 && tuple->w2 == 0 && tuple->w3 == 0;
}

Cell* from_binary(Cell* result, const Cell* binary) {
    uint32_t count = 0, unit = 0;
    const uint8_t* b = series::units_from_index(binary, count, unit);
    uint8_t copy[kMaxLength] = {};
    count = std::min(count, kMaxLength);
    std::memcpy(copy, b, count);
    return make_at(result, copy, count);
}

Cell* from_issue(Cell* result, const Cell* issue) {
    const std::string_view text = symbol::text(issue->w2);
    const size_t n = text.size();
    if (n != 3 && n != 6 && n != 8)
        error::fire(error::kScript, error::script::invalid_data, {issue});
    uint8_t out[4] = {};
    for (size_t i = 0; i < n; ++i) {
        const int32_t d = hex_digit(static_cast<uint8_t>(text[i]));
        if (d < 0) error::fire(error::kScript, error::script::invalid_data, {issue});
        if (n == 3)
            out[i] = static_cast<uint8_t>(d * 17);
        else
            out[i / 2] = static_cast<uint8_t>(out[i / 2] << 4 | d);
    }
    return make_at(result, out, n == 8 ? 4 : 3);
}

Cell* poke(Cell* series, int32_t index, Cell* value, Cell* index_value) {
    Cell position;
    const Cell* selector = compound::selector(index, index_value, position);
    if (cell::type(selector) != kTypeInteger) compound::invalid_type(selector);
    const int32_t i = integer::get(selector);
    const auto n = static_cast<int32_t>(length(series));
    if (i < 1 || i > n) compound::out_of_range(selector);
    uint8_t* b = bytes(series);
    switch (cell::type(value)) {
    case kTypeInteger:
        b[i - 1] = clamp(integer::get(value));
        break;
    case kTypeNone:
        std::fill(b + i - 1, b + kMaxLength, 0);
        set_length(series, std::max<uint32_t>(static_cast<uint32_t>(i - 1), kMinLength));
        break;
    default:
        compound::invalid_type(value);
    }
    return value;
}

Cell* do_math(int32_t op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    if (cell::type(left) != kTypeTuple) {
        if (op == integer::kSubtract || op == integer::kDivide)
            compound::not_related(compound::operation_word(op), cell::type(left));
        std::swap(*left, *right);
    }
    const uint32_t n = length(left);
    uint8_t* b = bytes(left);
    switch (cell::type(right)) {
    case kTypeFloat:
    case kTypePercent: {
        const double f = float_::get(right);
        for (uint32_t i = 0; i < n; ++i) {
            const double r = std::trunc(float_::do_math_op(b[i], f, op));
            b[i] = std::isnan(r) ? 0 : clamp(static_cast<int64_t>(std::clamp(r, -1.0, 256.0)));
        }
        break;
    }
    case kTypeInteger:
        for (uint32_t i = 0; i < n; ++i) b[i] = with_integer(b[i], integer::get(right), op);
        break;
    case kTypeTuple: {
        const uint32_t m = std::max(n, length(right));
        const uint8_t* c = bytes(right);
        for (uint32_t i = 0; i < m; ++i) b[i] = with_integer(b[i], c[i], op);
        set_length(left, m);
        break;
    }
    default:
        compound::invalid_type(right);
    }
    return left;
}

Cell* make(Cell* prototype, Cell* spec, int32_t) {
    const uint8_t st = cell::type(spec);
    switch (st) {
    case kTypeTuple:
        return *prototype = *spec, prototype;
    case kTypeBlock:
    case kTypeParen:
    case kTypeHash: {
        const int32_t count = block::length_from_index(spec);
        if (count > static_cast<int32_t>(kMaxLength)) compound::bad_to_arg(kTypeTuple, spec);
        uint8_t out[kMaxLength] = {};
        const uint32_t start = series::clamped_index(spec);
        for (int32_t i = 0; i < count; ++i)
            out[i] = spec_byte(block::cell_at(spec, start + i), spec);
        return make_at(prototype, out, count < 0 ? 0 : static_cast<uint32_t>(count));
    }
    case kTypeBinary:
        return from_binary(prototype, spec);
    case kTypeIssue:
        return from_issue(prototype, spec);
    default:
        if (series::is_any_string(st)) {
            // The text must be a tuple literal (three to twelve dotted bytes): "7" or "1.2"
            // would load as another type. A text that is not one is a failed conversion,
            // not a syntax error.
            uint32_t length = 0, unit = 0;
            const uint8_t* text = series::units_from_index(spec, length, unit);
            uint8_t out[kMaxLength] = {};
            int32_t error = 0;
            const uint32_t count = number_text::text_to_tuple(text, length, unit, out, error);
            if (error != 0 || count < 3) compound::bad_to_arg(kTypeTuple, spec);
            return make_at(prototype, out, count);
        }
        compound::bad_to_arg(kTypeTuple, spec);
    }
}

Cell* random(Cell* value, const action::RandomOptions& options) {
    if (options.seed) {
        Cell s{kTypeInteger, 0, value->w1 ^ value->w2 ^ value->w3, 0};
        integer::random(&s, {.seed = true, .secure = options.secure});
        return unset::make_at(value);
    }
    uint8_t* b = bytes(value);
    for (uint32_t i = 0; i < length(value); ++i) {
        // 0 to b: a draw of 1 to b + 1, less one.
        Cell n{kTypeInteger, 0, static_cast<uint32_t>(b[i]) + 1, 0};
        integer::random(&n, {.secure = options.secure});
        b[i] = static_cast<uint8_t>(integer::get(&n) - 1);
    }
    return value;
}

int32_t form(Cell* value, Cell* string, Cell*, int32_t limit) {
    std::string text;
    for (uint32_t i = 0; i < length(value); ++i) {
        if (i > 0) text += '.';
        text += integer::to_decimal(bytes(value)[i]);
    }
    string::concatenate_cstring(string, text.c_str());
    return limit - static_cast<int32_t>(text.size());
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t) {
    return form(value, string, options.part, limit);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, const action::PathOptions& options) {
    if (cell::type(element) != kTypeInteger) compound::invalid_type(element);
    if (!value) return pick(stack::push(*parent), 0, element);
    poke(parent, 0, value, element);
    compound::tell_owner(options.grand_parent, parent, options.position);
    return value;
}

int32_t compare(Cell* value, Cell* other, int32_t) {
    if (cell::type(other) != kTypeTuple) return action::kNotComparable;
    const uint32_t n = std::max(length(value), length(other));
    const uint8_t *a = bytes(value), *b = bytes(other);
    for (uint32_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return 0;
}

Cell* complement(Cell* value) {
    uint8_t* b = bytes(value);
    for (uint32_t i = 0; i < length(value); ++i) b[i] = static_cast<uint8_t>(~b[i]);
    return value;
}

int32_t length_q(Cell* series) {
    return static_cast<int32_t>(length(series));
}

Cell* pick(Cell* series, int32_t index, Cell* index_value) {
    Cell position;
    const Cell* selector = compound::selector(index, index_value, position);
    const int32_t i = cell::type(selector) == kTypeInteger ? integer::get(selector) : 0;
    if (i < 1 || i > static_cast<int32_t>(length(series))) compound::out_of_range(selector);
    return integer::make_at(series, bytes(series)[i - 1]);
}

Cell* reverse(Cell* series, Cell* part, Cell* skip) {
    const auto n = static_cast<int32_t>(length(series));
    int32_t count = part ? std::clamp(check::int_arg(part), 0, n) : n;
    const int32_t size = skip ? check::int_arg(skip) : 1;
    if (size < 1) compound::out_of_range(skip);
    // Whole records only: records of `size` bytes swap end for end, the bytes after them stay.
    // The bytes are worked on in copies, as they span the cell's payload words.
    uint8_t from[kMaxLength], to[kMaxLength];
    std::memcpy(from, bytes(series), kMaxLength);
    std::memcpy(to, from, kMaxLength);
    const int32_t records = count / size;
    for (int32_t k = 0; k < records * size; ++k)
        to[(records - 1 - k / size) * size + k % size] = from[k];
    std::memcpy(bytes(series), to, kMaxLength);
    return series;
}

void register_actions() {
    namespace s = action::slot;
    action::Row row;
    row.set<s::make>(make)
        .set<s::random>(random)
        .set<s::to>(make)
        .set<s::form>(form)
        .set<s::mold>(mold)
        .set<s::eval_path>(eval_path)
        .set<s::compare>(compare)
        .set<s::complement>(complement)
        .set<s::length_q>(length_q)
        .set<s::pick>(pick)
        .set<s::reverse>(reverse);
    compound::set_math<do_math>(row, true);
    datatype::register_({kTypeTuple, 0, "tuple!", row.entries()});
}

} // namespace tuple
