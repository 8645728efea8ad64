#include "datatypes/pair.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/compound.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/point.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/support.h"

namespace pair {

namespace {

// A pair cell becomes the point2D! of its coordinates.
void to_point(Cell* value) {
    point2D::make_at(value, static_cast<float>(x(value)), static_cast<float>(y(value)));
}

// A finite double truncated to an integer; anything else raises script/invalid-arg.
int32_t truncated(double d, const Cell* culprit) {
    if (!(d > -2147483649.0 && d < 2147483648.0)) compound::invalid_arg(culprit);
    return static_cast<int32_t>(d);
}

} // namespace

Cell* make_at(Cell* cell, int32_t x, int32_t y) {
    *cell = Cell{kTypePair, 0, static_cast<uint32_t>(x), static_cast<uint32_t>(y)};
    return cell;
}

Cell* push(int32_t x, int32_t y) {
    return make_at(stack::push_cell(), x, y);
}

Cell* box(int32_t x, int32_t y) {
    return make_at(stack::arguments, x, y);
}

Cell* add_to_block(const Cell* block, int32_t x, int32_t y) {
    Cell value;
    make_at(&value, x, y);
    return block::append_copy(block, &value);
}

int32_t x(const Cell* pair) {
    return static_cast<int32_t>(pair->w2);
}

int32_t y(const Cell* pair) {
    return static_cast<int32_t>(pair->w3);
}

Cell* do_math(int32_t op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    int32_t rx = 0, ry = 0;
    switch (cell::type(right)) {
    case kTypePair:
        rx = x(right);
        ry = y(right);
        break;
    case kTypeInteger:
        rx = ry = integer::get(right);
        break;
    case kTypeFloat:
    case kTypePercent: {
        const double f = float_::get(right);
        if (op == integer::kMultiply || op == integer::kDivide) {
            if (op == integer::kMultiply ? !std::isfinite(f) : std::isnan(f))
                compound::invalid_arg(right);
            to_point(left);
            return point::do_math(op);
        }
        rx = ry = truncated(f, right);
        break;
    }
    case kTypePoint2D:
        to_point(left);
        return point::do_math(op);
    default:
        compound::invalid_type(right);
    }
    // Add, subtract and multiply that overflow turn the scratch cell into a float!; divide
    // and remainder truncate (and raise integer!'s errors).
    int32_t nx, ny;
    // The one quotient that leaves the integers goes on in point2D! like the other overflows.
    const auto quotient_overflows = [&](int32_t a, int32_t b) {
        return op == integer::kDivide && a == INT32_MIN && b == -1;
    };
    if (quotient_overflows(x(left), rx) || quotient_overflows(y(left), ry)) {
        to_point(left);
        if (cell::type(right) == kTypePair) to_point(right);
        return point::do_math(op);
    }
    if (op <= integer::kMultiply) {
        Cell cx{kTypeInteger, 0, 0, 0}, cy{kTypeInteger, 0, 0, 0};
        integer::do_math(x(left), rx, op, &cx);
        integer::do_math(y(left), ry, op, &cy);
        if (cell::type(&cx) != kTypeInteger || cell::type(&cy) != kTypeInteger) {
            to_point(left);
            if (cell::type(right) == kTypePair) to_point(right);
            return point::do_math(op);
        }
        nx = integer::get(&cx);
        ny = integer::get(&cy);
    } else {
        nx = integer::do_math(x(left), rx, op, nullptr);
        ny = integer::do_math(y(left), ry, op, nullptr);
    }
    return make_at(left, nx, ny);
}

int32_t path_index(const Cell* selector) {
    switch (cell::type(selector)) {
    case kTypeInteger: {
        const int32_t n = integer::get(selector);
        return n == 1 || n == 2 ? n : 0;
    }
    case kTypeWord:
        if (compound::names(selector, words::symbol.x)) return 1;
        if (compound::names(selector, words::symbol.y)) return 2;
        return 0;
    default:
        return 0;
    }
}

Cell* make(Cell* prototype, Cell* spec, int32_t) {
    switch (cell::type(spec)) {
    case kTypePair:
        return make_at(prototype, x(spec), y(spec));
    case kTypeInteger:
        return make_at(prototype, integer::get(spec), integer::get(spec));
    case kTypeFloat:
    case kTypePercent: {
        const int32_t n = truncated(float_::get(spec), spec);
        return make_at(prototype, n, n);
    }
    case kTypePoint2D: {
        const int32_t px = truncated(point::get(spec, 0), spec);
        return make_at(prototype, px, truncated(point::get(spec, 1), spec));
    }
    case kTypeBlock: {
        int32_t xy[2];
        if (block::length_from_index(spec) < 2) compound::malconstruct(kTypePair, spec);
        for (int i = 0; i < 2; ++i) {
            const Cell* v = block::cell_at(spec, series::clamped_index(spec) + i);
            const uint8_t t = cell::type(v);
            if (t == kTypeInteger)
                xy[i] = integer::get(v);
            else if (t == kTypeFloat)
                xy[i] = truncated(float_::get(v), spec);
            else
                compound::malconstruct(kTypePair, spec);
        }
        return make_at(prototype, xy[0], xy[1]);
    }
    default:
        if (cell::type(spec) == kTypeString) {
            const Cell* loaded = compound::load_as(kTypePair, spec);
            return make_at(prototype, x(loaded), y(loaded));
        }
        compound::bad_to_arg(kTypePair, spec);
    }
}

Cell* random(Cell* value, const action::RandomOptions& options) {
    if (options.seed) {
        Cell s{kTypeInteger, 0, value->w2 ^ value->w3, 0};
        integer::random(&s, {.seed = true, .secure = options.secure});
        return unset::make_at(value);
    }
    for (uint32_t* w : {&value->w2, &value->w3}) {
        if (*w == 0) continue;
        Cell n{kTypeInteger, 0, *w, 0};
        integer::random(&n, {.secure = options.secure});
        *w = n.w2;
    }
    return value;
}

int32_t form(Cell* value, Cell* string, Cell*, int32_t limit) {
    std::string text = integer::to_decimal(x(value));
    text += 'x';
    text += integer::to_decimal(y(value));
    string::concatenate_cstring(string, text.c_str());
    return limit - static_cast<int32_t>(text.size());
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t) {
    return form(value, string, options.part, limit);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, const action::PathOptions& options) {
    if (cell::type(element) == kTypePair) {
        Cell* t = datatype::push(kTypePair);
        error::fire(error::kScript, error::script::cannot_use,
                    {options.path ? options.path : &none::value, t});
    }
    const int32_t index = path_index(element);
    if (index == 0) compound::invalid_path(options.path, element);
    if (!value) return integer::push(index == 1 ? x(parent) : y(parent));
    if (cell::type(value) != kTypeInteger) compound::invalid_type(value);
    (index == 1 ? parent->w2 : parent->w3) = value->w2;
    compound::tell_owner(options.grand_parent, parent, options.position);
    return value;
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    if (cell::type(other) == kTypePoint2D) {
        Cell as_point = *value;
        to_point(&as_point);
        return point::compare(&as_point, other, op);
    }
    if (cell::type(other) != kTypePair) return action::kNotComparable;
    if (x(value) != x(other)) return x(value) < x(other) ? -1 : 1;
    return (y(value) > y(other)) - (y(value) < y(other));
}

void absolute() {
    Cell* value = stack::arguments;
    make_at(value, integer::abs_checked(x(value)), integer::abs_checked(y(value)));
}

void negate() {
    Cell* value = stack::arguments;
    if (x(value) == INT32_MIN || y(value) == INT32_MIN)
        error::fire(error::kMath, error::math::overflow);
    make_at(value, -x(value), -y(value));
}

Cell* round(Cell* value, const action::RoundOptions& options) {
    Cell* const scale = options.scale;
    if (scale && cell::type(scale) == kTypeMoney) float_::call_not_related(kTypeMoney);
    int32_t result[2];
    for (int i = 0; i < 2; ++i) {
        Cell c{kTypeInteger, 0, i == 0 ? value->w2 : value->w3, 0};
        Cell s;
        action::RoundOptions axis = options;
        if (scale && cell::type(scale) == kTypePair) {
            s = Cell{kTypeInteger, 0, i == 0 ? scale->w2 : scale->w3, 0};
            axis.scale = &s;
        }
        Cell* r = integer::round(&c, axis);
        if (cell::type(r) == kTypeInteger) {
            result[i] = integer::get(r);
        } else {
            const double d = float_::get(r);
            if (!(d > -2147483649.0 && d < 2147483648.0))
                error::fire(error::kMath, error::math::overflow);
            result[i] = static_cast<int32_t>(d);
        }
    }
    return make_at(value, result[0], result[1]);
}

Cell* pick(Cell* series, int32_t index, Cell* index_value) {
    Cell position;
    const Cell* selector = compound::selector(index, index_value, position);
    const int32_t n = path_index(selector);
    if (n == 0) compound::out_of_range(selector);
    return integer::make_at(series, n == 1 ? x(series) : y(series));
}

Cell* reverse(Cell* series, Cell*, Cell*) {
    return make_at(series, y(series), x(series));
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
        .set<s::absolute>(absolute)
        .set<s::negate>(negate)
        .set<s::round>(round)
        .set<s::pick>(pick)
        .set<s::reverse>(reverse);
    compound::set_math<do_math>(row, true);
    datatype::register_({kTypePair, 0, "pair!", row.entries()});
}

} // namespace pair
