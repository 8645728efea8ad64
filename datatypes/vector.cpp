#include "datatypes/vector.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/compound.h"
#include "datatypes/datatype.h"
#include "datatypes/dispatch.h"
#include "datatypes/error.h"
#include "datatypes/float.h"
#include "datatypes/form-mold.h"
#include "datatypes/integer.h"
#include "datatypes/percent.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/words.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/support.h"

namespace vector {

using memory::Buffer;
using ownership::Action;

namespace {

bool is_float_kind(uint32_t type) {
    return type == kTypeFloat || type == kTypePercent;
}

uint32_t default_width(uint32_t type) {
    return is_float_kind(type) ? 8 : 4;
}

uint32_t element_count(const Cell* v) {
    return memory::buffer(v->w2)->length();
}

uint32_t index_of(const Cell* v) {
    const auto index = static_cast<int32_t>(v->w1);
    return index < 0 ? 0 : std::min(static_cast<uint32_t>(index), element_count(v));
}

uint8_t* element(const Cell* v, uint32_t i) {
    Buffer* b = memory::buffer(v->w2);
    return b->at_head() + static_cast<size_t>(i) * b->unit();
}

int64_t integer_at(const uint8_t* at, uint32_t unit) {
    switch (unit) {
    case 1:
        return static_cast<int8_t>(*at);
    case 2: {
        int16_t v;
        std::memcpy(&v, at, 2);
        return v;
    }
    default: {
        int32_t v;
        std::memcpy(&v, at, 4);
        return v;
    }
    }
}

double float_at(const uint8_t* at, uint32_t unit) {
    if (unit == 4) {
        float f;
        std::memcpy(&f, at, 4);
        return f;
    }
    double d;
    std::memcpy(&d, at, 8);
    return d;
}

// The value truncated to the width, in the machine's byte order.
void store_integer(uint8_t* at, uint32_t unit, uint32_t v) {
    if (unit == 4) {
        std::memcpy(at, &v, 4);
    } else if (unit == 2) {
        const auto h = static_cast<uint16_t>(v);
        std::memcpy(at, &h, 2);
    } else {
        *at = static_cast<uint8_t>(v);
    }
}

void store_float(uint8_t* at, uint32_t unit, double d) {
    if (unit == 4) {
        const auto f = static_cast<float>(d);
        std::memcpy(at, &f, 4);
    } else {
        std::memcpy(at, &d, 8);
    }
}

// An integer operation with 32-bit wrap-around instead of a float result.
uint32_t wrapping(uint32_t a, uint32_t b, int32_t op) {
    switch (op) {
    case integer::kAdd:
        return a + b;
    case integer::kSubtract:
        return a - b;
    case integer::kMultiply:
        return a * b;
    case integer::kDivide:
    case integer::kRemainder:
        // The one quotient no 32-bit integer holds wraps around like the other results.
        if (a == 0x80000000u && b == 0xFFFFFFFFu) return op == integer::kDivide ? a : 0;
        [[fallthrough]];
    default:
        return static_cast<uint32_t>(
            integer::do_math(static_cast<int32_t>(a), static_cast<int32_t>(b), op, nullptr));
    }
}

// The raw element bytes of the values that append, insert and change add: one element, or the
// elements of a block (at most `part` of them).
std::string element_bytes(const Cell* v, const Cell* value, int32_t part) {
    const uint32_t type = v->w3;
    const uint32_t unit = memory::buffer(v->w2)->unit();
    std::string out;
    auto add = [&](const Cell* e) {
        if (cell::type(e) != type) compound::invalid_arg(e);
        uint8_t raw[8];
        set_value(raw, e, unit);
        out.append(reinterpret_cast<const char*>(raw), unit);
    };
    if (!series::is_any_list(cell::type(value))) {
        add(value);
        return out;
    }
    int32_t count = block::length_from_index(value);
    if (part >= 0 && part < count) count = part;
    for (int32_t i = 0; i < count; ++i)
        add(block::cell_at(value, series::clamped_index(value) + static_cast<uint32_t>(i)));
    return out;
}

// The elements `dup` times (none for a count below 1, as a block takes it).
std::string repeated(const std::string& one, int32_t dup) {
    const uint64_t count = dup < 1 ? 0 : static_cast<uint64_t>(dup);
    if (one.size() * count > 0x7FFFFF00) error::fire(error::kInternal, error::internal::no_memory);
    std::string all;
    all.reserve(one.size() * count);
    for (uint64_t i = 0; i < count; ++i) all += one;
    return all;
}

const char* type_name(uint32_t type) {
    switch (type) {
    case kTypeChar:
        return "char!";
    case kTypeInteger:
        return "integer!";
    case kTypeFloat:
        return "float!";
    default:
        return "percent!";
    }
}

// The values of a vector from its index, separated by spaces; chars molded or as they are.
int32_t write_values(const Cell* v, Cell* string, bool mold, int32_t limit) {
    const uint32_t unit = memory::buffer(v->w2)->unit();
    const uint32_t n = element_count(v);
    for (uint32_t i = index_of(v); i < n && limit > 0; ++i) {
        if (i > index_of(v)) {
            string::concatenate_cstring(string, " ");
            --limit;
        }
        Cell e;
        get_value(element(v, i), unit, v->w3, &e);
        const char* text = nullptr;
        switch (v->w3) {
        case kTypeInteger:
            text = integer::to_decimal(integer::get(&e));
            break;
        case kTypeChar:
            if (mold) {
                Cell* held = stack::push(e);
                limit = actions::mold(held, string, {}, limit, 0);
                stack::pop(1);
            } else {
                const uint32_t cp = e.w2;
                string::append_chars(string, &cp, 1);
                --limit;
            }
            continue;
        case kTypeFloat:
            text =
                float_::form_float(float_::get(&e), unit == 4 ? float_::kVector32 : float_::kFloat);
            break;
        default:
            text = float_::form_float(float_::get(&e) * 100,
                                      unit == 4 ? float_::kPercentVector32 : float_::kPercent);
            break;
        }
        string::concatenate_cstring(string, text);
        limit -= static_cast<int32_t>(std::strlen(text));
    }
    return limit;
}

[[noreturn]] void bad_make(const Cell* spec) {
    Cell* t = datatype::push(kTypeVector);
    error::fire(error::kScript, error::script::bad_make_arg, {t, spec});
}

// Stores the values of a block into a new vector, filling up to `count` elements with zeros.
Cell* filled(uint8_t type, uint32_t width, uint32_t count, const Cell* values) {
    const int32_t n = values ? block::length_from_index(values) : 0;
    const uint32_t total = std::max(count, static_cast<uint32_t>(std::max(n, 0)));
    Cell* result = make_at(stack::push_cell(), total, type, width);
    std::string bytes;
    if (values && n > 0) bytes = element_bytes(result, values, -1);
    bytes.resize(static_cast<size_t>(total) * width, '\0');
    binary::zs_splice(result, 0, 0, bytes);
    return result;
}

// and, or and xor work on the bits of integers: on float and percent elements they raise
// script/cannot-use naming the running action and the element type.
void check_op(int32_t op, uint32_t element_type) {
    if (!is_float_kind(element_type) || op <= integer::kRemainder) return;
    Cell* name = stack::push_cell();
    error::call_name(name);
    Cell* type = datatype::push(element_type);
    error::fire(error::kScript, error::script::cannot_use, {name, type});
}

// The frame's two operands: a vector with a scalar or a vector (either side).
void math_entry(int32_t op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    if (cell::type(left) != kTypeVector) {
        do_math(op, right, left, true);
        return;
    }
    if (cell::type(right) != kTypeVector) {
        do_math(op, left, right, false);
        return;
    }
    if (left->w3 != right->w3) error::fire(error::kScript, error::script::not_same_type);
    check_op(op, left->w3);
    const uint32_t na = element_count(left) - index_of(left);
    const uint32_t nb = element_count(right) - index_of(right);
    const uint32_t n = std::min(na, nb);
    const uint32_t ua = memory::buffer(left->w2)->unit(), ub = memory::buffer(right->w2)->unit();
    const uint32_t width = std::max(ua, ub);
    const uint32_t type = left->w3;
    GcRoot a(*left), b(*right);
    Cell* result = make_at(stack::push_cell(), n, static_cast<uint8_t>(type), width);
    binary::zs_splice(result, 0, 0, std::string(static_cast<size_t>(n) * width, '\0'));
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* x = element(&a.cell(), index_of(&a.cell()) + i);
        const uint8_t* y = element(&b.cell(), index_of(&b.cell()) + i);
        uint8_t* out = element(result, i);
        if (is_float_kind(type))
            store_float(out, width, float_::do_math_op(float_at(x, ua), float_at(y, ub), op));
        else
            store_integer(out, width,
                          wrapping(static_cast<uint32_t>(integer_at(x, ua)),
                                   static_cast<uint32_t>(integer_at(y, ub)), op));
    }
    const Cell made = *result;
    stack::pop(1);
    stack::set_last(made);
}

} // namespace

Cell* make_at(Cell* cell, uint32_t capacity, uint8_t element_type, uint32_t width) {
    if (static_cast<uint64_t>(capacity) * width > 0x7FFFFF00)
        error::fire(error::kInternal, error::internal::no_memory);
    cell->header = kTypeUnset;
    const uint32_t node = memory::alloc_units(capacity ? capacity : 1, width);
    *cell = Cell{kTypeVector, 0, node, element_type};
    return cell;
}

void get_value(const uint8_t* at, uint32_t unit, uint32_t element_type, Cell* result) {
    switch (element_type) {
    case kTypeChar:
        *result = Cell{kTypeChar, 0, static_cast<uint32_t>(integer_at(at, unit)), 0};
        return;
    case kTypeInteger:
        *result = Cell{kTypeInteger, 0, static_cast<uint32_t>(integer_at(at, unit)), 0};
        return;
    case kTypeFloat:
        float_::make_at(result, float_at(at, unit));
        return;
    default:
        percent::make_at(result, float_at(at, unit));
        return;
    }
}

void set_value(uint8_t* at, const Cell* value, uint32_t unit) {
    switch (cell::type(value)) {
    case kTypeInteger:
    case kTypeChar:
        store_integer(at, unit, value->w2);
        return;
    case kTypeFloat:
    case kTypePercent:
        store_float(at, unit, float_::get(value));
        return;
    default:
        compound::invalid_type(value);
    }
}

Cell* to_block(const Cell* vector) {
    GcRoot v(*vector);
    const uint32_t start = index_of(vector);
    const uint32_t n = element_count(vector);
    Cell* result = block::push_new(static_cast<int32_t>(n - start));
    for (uint32_t i = start; i < element_count(&v.cell()); ++i) {
        Cell e;
        get_value(element(&v.cell(), i), memory::buffer(v.cell().w2)->unit(), v.cell().w3, &e);
        block::append_copy(result, &e);
    }
    return result;
}

uint32_t zs_length(const Cell* vector) {
    return element_count(vector) - index_of(vector);
}

void set_tail_at_index(const Cell* vector) {
    Buffer* b = memory::buffer(vector->w2);
    b->tail = b->head + index_of(vector) * b->unit();
}

void zs_append_int32(const Cell* vector, int32_t value) {
    std::string raw(4, '\0');
    std::memcpy(raw.data(), &value, 4);
    Buffer* b = memory::buffer(vector->w2);
    binary::zs_splice(vector, b->tail - b->head, 0, raw);
}

Cell* do_math(int32_t op, Cell* vector, const Cell* scalar, bool scalar_left) {
    const uint8_t st = cell::type(scalar);
    const bool float_vector = is_float_kind(vector->w3);
    check_op(op, vector->w3);
    double f = 0;
    uint32_t n = 0;
    if (float_vector) {
        if (st == kTypeInteger)
            f = integer::get(scalar);
        else if (st == kTypeFloat || st == kTypePercent)
            f = float_::get(scalar);
        else
            compound::not_done();
    } else {
        if (st == kTypeInteger) {
            n = scalar->w2;
        } else if (st == kTypeFloat || st == kTypePercent) {
            const double d = float_::get(scalar);
            if (!(d > -2147483649.0 && d < 2147483648.0)) compound::invalid_arg(scalar);
            n = static_cast<uint32_t>(static_cast<int32_t>(d));
        } else {
            compound::not_done();
        }
        f = static_cast<int32_t>(n);
    }
    const Cell v = *vector;
    stack::set_last(v);
    // 0 + x, x + 0, x - 0, 1 * x, x * 1 and x / 1 leave every element as it is.
    const bool identity =
        ((op == integer::kAdd || (op == integer::kSubtract && !scalar_left)) && f == 0) ||
        ((op == integer::kMultiply || (op == integer::kDivide && !scalar_left)) && f == 1);
    if (identity) return stack::arguments;
    const uint32_t unit = memory::buffer(v.w2)->unit();
    for (uint32_t i = index_of(&v); i < element_count(&v); ++i) {
        uint8_t* at = element(&v, i);
        if (float_vector) {
            const double x = float_at(at, unit);
            store_float(at, unit,
                        scalar_left ? float_::do_math_op(f, x, op) : float_::do_math_op(x, f, op));
        } else {
            const auto x = static_cast<uint32_t>(integer_at(at, unit));
            store_integer(at, unit, scalar_left ? wrapping(n, x, op) : wrapping(x, n, op));
        }
    }
    return stack::arguments;
}

Cell* make(Cell*, Cell* spec, int32_t) {
    const uint8_t st = cell::type(spec);
    if (st == kTypeInteger || st == kTypeFloat) {
        const int32_t n = check::int_arg(spec);
        return filled(kTypeInteger, 4, n > 0 ? static_cast<uint32_t>(n) : 0, nullptr);
    }
    if (st != kTypeBlock) compound::not_done();
    const int32_t length = block::length_from_index(spec);
    const uint32_t start = series::clamped_index(spec);
    if (length <= 0) return filled(kTypeInteger, 4, 0, nullptr);
    const Cell* first = block::cell_at(spec, start);
    if (cell::type(first) != kTypeWord) {
        // A block of values: the type of the first one, at its default width.
        const uint8_t type = cell::type(first);
        if (type != kTypeInteger && type != kTypeChar && !is_float_kind(type))
            compound::invalid_type(first);
        return filled(type, default_width(type), 0, spec);
    }
    uint8_t type;
    if (compound::names(first, words::symbol.integer_type))
        type = kTypeInteger;
    else if (compound::names(first, words::symbol.char_type))
        type = kTypeChar;
    else if (compound::names(first, words::symbol.float_type))
        type = kTypeFloat;
    else if (compound::names(first, words::symbol.percent_type))
        type = kTypePercent;
    else
        bad_make(spec);
    if (length < 2) bad_make(spec);
    int32_t i = 1;
    uint32_t width = 0;
    const Cell* c = block::cell_at(spec, start + 1);
    if (cell::type(c) == kTypeInteger) {
        const int32_t bits = integer::get(c);
        if (type == kTypePercent)
            width = 8;
        else if (type == kTypeFloat && (bits == 32 || bits == 64))
            width = static_cast<uint32_t>(bits / 8);
        else if (!is_float_kind(type) && (bits == 8 || bits == 16 || bits == 32))
            width = static_cast<uint32_t>(bits / 8);
        else
            bad_make(spec);
        ++i;
    } else if (type == kTypePercent) {
        width = 8;
    } else {
        error::fire(error::kScript, error::script::invalid_spec_field, {spec});
    }
    uint32_t count = 0;
    if (i < length && cell::type(block::cell_at(spec, start + i)) == kTypeInteger) {
        const int32_t n = integer::get(block::cell_at(spec, start + i));
        if (n < 0) bad_make(spec);
        count = static_cast<uint32_t>(n);
        ++i;
    }
    const Cell* values = nullptr;
    if (i < length) {
        values = block::cell_at(spec, start + i);
        if (cell::type(values) != kTypeBlock)
            error::fire(error::kScript, error::script::invalid_spec_field, {spec});
        ++i;
    }
    GcRoot held(values ? *values : Cell{kTypeNone, 0, 0, 0});
    return filled(type, width, count, values ? &held.cell() : nullptr);
}

int32_t form(Cell* value, Cell* string, Cell*, int32_t limit) {
    return write_values(value, string, false, limit);
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t) {
    if (!options.only) {
        string::concatenate_cstring(string, "make vector! [");
        limit -= 14;
    }
    const uint32_t unit = memory::buffer(value->w2)->unit();
    const bool plain = zs_length(value) > 0 && unit == default_width(value->w3);
    if (plain) {
        limit = write_values(value, string, true, limit);
    } else {
        std::string head = type_name(value->w3);
        head += ' ';
        head += integer::to_decimal(static_cast<int32_t>(unit * 8));
        head += " [";
        string::concatenate_cstring(string, head.c_str());
        limit -= static_cast<int32_t>(head.size());
        limit = write_values(value, string, true, limit);
        string::concatenate_cstring(string, "]");
        --limit;
    }
    if (!options.only) {
        string::concatenate_cstring(string, "]");
        --limit;
    }
    return limit;
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    if (cell::type(other) != kTypeVector) return action::kNotComparable;
    if (value->w3 != other->w3) error::fire(error::kScript, error::script::not_same_type);
    const bool same_place = value->w2 == other->w2 && index_of(value) == index_of(other);
    if (op == action::op::same) return same_place ? 0 : 1;
    const bool equality = op == action::op::equal || op == action::op::not_equal ||
                          op == action::op::strict_equal || op == action::op::find;
    if (same_place && equality) return 0;
    const uint32_t na = zs_length(value), nb = zs_length(other);
    if (equality && na != nb) return 1;
    const uint32_t ua = memory::buffer(value->w2)->unit(), ub = memory::buffer(other->w2)->unit();
    for (uint32_t i = 0; i < std::min(na, nb); ++i) {
        const uint8_t* x = element(value, index_of(value) + i);
        const uint8_t* y = element(other, index_of(other) + i);
        if (is_float_kind(value->w3)) {
            const double a = float_at(x, ua), b = float_at(y, ub);
            if (std::isnan(a) || std::isnan(b)) return 0;
            if (a != b) return a < b ? -1 : 1;
        } else {
            const int64_t a = integer_at(x, ua), b = integer_at(y, ub);
            if (a != b) return a < b ? -1 : 1;
        }
    }
    return (na > nb) - (na < nb);
}

void add() {
    math_entry(integer::kAdd);
}
void subtract() {
    math_entry(integer::kSubtract);
}
void multiply() {
    math_entry(integer::kMultiply);
}
void divide() {
    math_entry(integer::kDivide);
}
void remainder() {
    math_entry(integer::kRemainder);
}
void and_() {
    math_entry(integer::kAnd);
}
void or_() {
    math_entry(integer::kOr);
}
void xor_() {
    math_entry(integer::kXor);
}

Cell* insert(Cell* series, Cell* value, const action::InsertOptions& options) {
    const std::string bytes = repeated(element_bytes(series, value, options.part), options.dup);
    const uint32_t unit = memory::buffer(series->w2)->unit();
    const auto added = static_cast<int32_t>(bytes.size() / unit);
    series::notify(series, options.append ? Action::append : Action::insert, value,
                   static_cast<int32_t>(index_of(series)), 0);
    const uint32_t at = options.append ? element_count(series) : index_of(series);
    binary::zs_splice(series, at * unit, 0, bytes);
    series::notify(series, options.append ? Action::appended : Action::inserted, value,
                   static_cast<int32_t>(at), added);
    if (!options.append) series->w1 = at + static_cast<uint32_t>(added);
    return series;
}

Cell* change(Cell* series, Cell* value, const action::ChangeOptions& options) {
    const std::string bytes = repeated(element_bytes(series, value, -1), options.dup);
    const uint32_t unit = memory::buffer(series->w2)->unit();
    const auto added = static_cast<uint32_t>(bytes.size() / unit);
    const uint32_t replaced = options.part >= 0 ? static_cast<uint32_t>(options.part) : added;
    series::notify(series, Action::change, value, static_cast<int32_t>(index_of(series)), 0);
    const uint32_t at = index_of(series);
    const uint64_t remove = std::min<uint64_t>(replaced, element_count(series) - at) * unit;
    binary::zs_splice(series, at * unit, static_cast<uint32_t>(remove), bytes);
    series::notify(series, Action::changed, value, static_cast<int32_t>(at),
                   static_cast<int32_t>(added));
    series->w1 = at + added;
    return series;
}

void register_actions() {
    series::services.vector_get = get_value;
    series::services.vector_set = set_value;
    block::set_conversion(kTypeVector, [](const Cell* value, Cell* result) {
        const Cell made = *to_block(value);
        stack::pop(1);
        *result = made;
    });
    namespace s = action::slot;
    action::Row row;
    row.set<s::make>(make)
        .set<s::form>(form)
        .set<s::mold>(mold)
        .set<s::compare>(compare)
        .set<s::add>(add)
        .set<s::subtract>(subtract)
        .set<s::multiply>(multiply)
        .set<s::divide>(divide)
        .set<s::remainder>(remainder)
        .set<s::and_>(and_)
        .set<s::or_>(or_)
        .set<s::xor_>(xor_)
        .set<s::append>(insert)
        .set<s::insert>(insert)
        .set<s::change>(change)
        .inherit({s::random, s::reflect, s::eval_path, s::at,      s::back,     s::clear, s::copy,
                  s::find,   s::head,    s::head_q,    s::index_q, s::length_q, s::move,  s::next,
                  s::pick,   s::poke,    s::remove,    s::reverse, s::select,   s::sort,  s::skip,
                  s::tail,   s::tail_q,  s::take,      s::modify});
    datatype::register_({kTypeVector, kTypeString, "vector!", row.entries()});
}

} // namespace vector
