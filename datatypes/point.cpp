#include "datatypes/point.h"

#include <cmath>
#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/compound.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/pair.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "datatypes/words.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/support.h"

namespace point2D {

Cell* make_at(Cell* cell, float x, float y) {
    *cell = Cell{kTypePoint2D, 0, 0, 0};
    point::set(cell, 0, x);
    point::set(cell, 1, y);
    return cell;
}

Cell* push(float x, float y) {
    return make_at(stack::push_cell(), x, y);
}

Cell* box(float x, float y) {
    return make_at(stack::arguments, x, y);
}

Cell* add_to_block(const Cell* block, float x, float y) {
    Cell value;
    make_at(&value, x, y);
    return block::append_copy(block, &value);
}

} // namespace point2D

namespace point3D {

Cell* make_at(Cell* cell, float x, float y, float z) {
    *cell = Cell{kTypePoint3D, 0, 0, 0};
    point::set(cell, 0, x);
    point::set(cell, 1, y);
    point::set(cell, 2, z);
    return cell;
}

Cell* push(float x, float y, float z) {
    return make_at(stack::push_cell(), x, y, z);
}

Cell* box(float x, float y, float z) {
    return make_at(stack::arguments, x, y, z);
}

Cell* add_to_block(const Cell* block, float x, float y, float z) {
    Cell value;
    make_at(&value, x, y, z);
    return block::append_copy(block, &value);
}

} // namespace point3D

namespace point {

namespace {

uint32_t* word_of(Cell* point, uint32_t i) {
    return i == 0 ? &point->w1 : i == 1 ? &point->w2 : &point->w3;
}

// A cell of `type` (51 or 52) with the components; the missing z is 0.
Cell* make_typed(Cell* cell, uint8_t type, float x, float y, float z) {
    if (type == kTypePoint3D) return point3D::make_at(cell, x, y, z);
    return point2D::make_at(cell, x, y);
}

bool is_float_like(uint8_t type) {
    return type == kTypeFloat || type == kTypePercent;
}

// The component of the selector for path or pick: 1-based, 0 for an integer out of range,
// -1 for another word or another value.
int32_t selector_index(const Cell* point, const Cell* selector) {
    const uint32_t n = dimensions(point);
    switch (cell::type(selector)) {
    case kTypeInteger: {
        const int32_t i = integer::get(selector);
        return i >= 1 && static_cast<uint32_t>(i) <= n ? i : 0;
    }
    case kTypeWord:
        if (compound::names(selector, words::symbol.x)) return 1;
        if (compound::names(selector, words::symbol.y)) return 2;
        if (n == 3 && compound::names(selector, words::symbol.z)) return 3;
        return -1;
    default:
        return -1;
    }
}

uint32_t bits(float f) {
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

} // namespace

uint32_t dimensions(const Cell* point) {
    return cell::type(point) == kTypePoint3D ? 3 : 2;
}

float get(const Cell* point, uint32_t i) {
    float f;
    std::memcpy(&f, i == 0 ? &point->w1 : i == 1 ? &point->w2 : &point->w3, sizeof f);
    return f;
}

void set(Cell* point, uint32_t i, float value) {
    std::memcpy(word_of(point, i), &value, sizeof value);
}

Cell* do_math(int32_t op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    const uint32_t n = dimensions(left);
    const uint8_t rt = cell::type(right);
    double operand[3];
    bool single = false; // a float factor or divisor: multiplied or divided in single precision
    if (rt == cell::type(left)) {
        for (uint32_t i = 0; i < n; ++i) operand[i] = get(right, i);
    } else if (rt == kTypePair && n == 2) {
        operand[0] = pair::x(right);
        operand[1] = pair::y(right);
    } else if (rt == kTypeInteger) {
        operand[0] = operand[1] = operand[2] = integer::get(right);
    } else if (is_float_like(rt)) {
        operand[0] = operand[1] = operand[2] = float_::get(right);
        single = op == float_::kMultiply || op == float_::kDivide;
    } else {
        compound::invalid_type(right);
    }
    for (uint32_t i = 0; i < n; ++i) {
        float r;
        if (single) {
            const float a = get(left, i), b = static_cast<float>(operand[i]);
            r = op == float_::kMultiply ? a * b : a / b;
        } else {
            r = static_cast<float>(float_::do_math_op(get(left, i), operand[i], op));
        }
        set(left, i, r);
    }
    return left;
}

int32_t path_index(const Cell* point, const Cell* selector) {
    const int32_t i = selector_index(point, selector);
    return i > 0 ? i : 0;
}

Cell* make(Cell* prototype, Cell* spec, int32_t type) {
    const uint8_t target = type == kTypePoint3D || type == kTypePoint2D ? static_cast<uint8_t>(type)
                                                                        : cell::type(prototype);
    const uint32_t n = target == kTypePoint3D ? 3 : 2;
    switch (cell::type(spec)) {
    case kTypeInteger: {
        const auto f = static_cast<float>(integer::get(spec));
        return make_typed(prototype, target, f, f, f);
    }
    case kTypeFloat: {
        const auto f = static_cast<float>(float_::get(spec));
        return make_typed(prototype, target, f, f, f);
    }
    case kTypePoint2D:
        return make_typed(prototype, target, get(spec, 0), get(spec, 1), 0);
    case kTypePoint3D:
        if (n == 2) compound::bad_to_arg(target, spec);
        return *prototype = *spec, prototype;
    case kTypePair:
        return make_typed(prototype, target, static_cast<float>(pair::x(spec)),
                          static_cast<float>(pair::y(spec)), 0);
    case kTypeBlock: {
        if (block::length_from_index(spec) < static_cast<int32_t>(n))
            compound::malconstruct(target, spec);
        float c[3] = {0, 0, 0};
        for (uint32_t i = 0; i < n; ++i) {
            const Cell* v = block::cell_at(spec, series::clamped_index(spec) + i);
            if (cell::type(v) == kTypeInteger)
                c[i] = static_cast<float>(integer::get(v));
            else if (cell::type(v) == kTypeFloat)
                c[i] = static_cast<float>(float_::get(v));
            else
                compound::malconstruct(target, spec);
        }
        return make_typed(prototype, target, c[0], c[1], c[2]);
    }
    case kTypeString: {
        const Cell loaded = *compound::load_as(target, spec);
        return *prototype = loaded, prototype;
    }
    default:
        compound::bad_to_arg(target, spec);
    }
}

Cell* random(Cell* value, const action::RandomOptions& options) {
    if (options.seed) {
        Cell s{kTypeInteger, 0, value->w1 ^ value->w2 ^ value->w3, 0};
        integer::random(&s, {.seed = true, .secure = options.secure});
        return unset::make_at(value);
    }
    for (uint32_t i = 0; i < dimensions(value); ++i) {
        const float c = get(value, i);
        if (c != 0) set(value, i, static_cast<float>(float_::random_float(c, options.secure)));
    }
    return value;
}

int32_t form(Cell* value, Cell* string, Cell*, int32_t limit) {
    std::string text = "(";
    for (uint32_t i = 0; i < dimensions(value); ++i) {
        if (i > 0) text += ", ";
        text += float_::form_float(get(value, i), float_::kPoint);
    }
    text += ')';
    string::concatenate_cstring(string, text.c_str());
    return limit - static_cast<int32_t>(text.size());
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t) {
    return form(value, string, options.part, limit);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, const action::PathOptions& options) {
    const int32_t i = selector_index(parent, element);
    if (i <= 0) compound::invalid_path(options.path, element);
    if (!value) return float_::push(get(parent, static_cast<uint32_t>(i - 1)));
    double d;
    if (cell::type(value) == kTypeInteger)
        d = integer::get(value);
    else if (cell::type(value) == kTypeFloat)
        d = float_::get(value);
    else
        compound::invalid_type(value);
    set(parent, static_cast<uint32_t>(i - 1), static_cast<float>(d));
    compound::tell_owner(options.grand_parent, parent, options.position);
    return value;
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    Cell as_point;
    if (cell::type(other) == kTypePair && cell::type(value) == kTypePoint2D) {
        point2D::make_at(&as_point, static_cast<float>(pair::x(other)),
                         static_cast<float>(pair::y(other)));
        other = &as_point;
    }
    if (cell::type(other) != cell::type(value)) return action::kNotComparable;
    const uint32_t n = dimensions(value);
    switch (op) {
    case action::op::equal:
    case action::op::not_equal:
    case action::op::parse:
    case action::op::parse_case:
        for (uint32_t i = 0; i < n; ++i)
            if (!float_::compare32(get(value, i), get(other, i))) return 1;
        return 0;
    case action::op::strict_equal:
    case action::op::find:
        for (uint32_t i = 0; i < n; ++i)
            if (get(value, i) != get(other, i)) return 1;
        return 0;
    case action::op::same:
        for (uint32_t i = 0; i < n; ++i)
            if (bits(get(value, i)) != bits(get(other, i))) return 1;
        return 0;
    default:
        for (uint32_t i = 0; i < n; ++i) {
            const float d = get(value, i) - get(other, i);
            if (d != 0) return d < 0 ? -1 : 1;
        }
        return 0;
    }
}

void absolute() {
    Cell* value = stack::arguments;
    for (uint32_t i = 0; i < dimensions(value); ++i) set(value, i, std::fabs(get(value, i)));
}

void negate() {
    Cell* value = stack::arguments;
    for (uint32_t i = 0; i < dimensions(value); ++i) set(value, i, 0.0f - get(value, i));
}

void add() {
    point::do_math(float_::kAdd);
}

void divide() {
    point::do_math(float_::kDivide);
}

void multiply() {
    point::do_math(float_::kMultiply);
}

void remainder() {
    point::do_math(float_::kRemainder);
}

void subtract() {
    point::do_math(float_::kSubtract);
}

Cell* round(Cell* value, const action::RoundOptions& options) {
    Cell* const scale = options.scale;
    if (scale && cell::type(scale) == kTypeMoney) float_::call_not_related(kTypeMoney);
    const uint32_t n = dimensions(value);
    // A point or pair scale rounds each axis by its own component; a point2D! scale of a
    // point3D! rounds z with a scale of 0.
    const uint8_t st = scale ? cell::type(scale) : 0;
    const bool per_axis = st == kTypePoint2D || st == kTypePoint3D || (st == kTypePair && n == 2);
    for (uint32_t i = 0; i < n; ++i) {
        Cell c;
        float_::make_at(&c, get(value, i));
        Cell s;
        action::RoundOptions axis = options;
        if (per_axis) {
            double d = 0;
            if (st == kTypePair)
                d = i == 0 ? pair::x(scale) : pair::y(scale);
            else if (i < dimensions(scale))
                d = get(scale, i);
            float_::make_at(&s, d);
            axis.scale = &s;
        }
        Cell* r = float_::round(&c, axis);
        const double d = cell::type(r) == kTypeInteger ? integer::get(r) : float_::get(r);
        set(value, i, static_cast<float>(d));
    }
    return value;
}

Cell* pick(Cell* series, int32_t index, Cell* index_value) {
    Cell position;
    const Cell* selector = compound::selector(index, index_value, position);
    const int32_t i = selector_index(series, selector);
    if (i == 0 || (i < 0 && cell::type(selector) != kTypeWord)) compound::out_of_range(selector);
    if (i < 0) {
        Cell* t = datatype::push(cell::type(series));
        error::fire(error::kScript, error::script::cannot_use, {selector, t});
    }
    return float_::make_at(series, get(series, static_cast<uint32_t>(i - 1)));
}

Cell* reverse(Cell* series, Cell*, Cell*) {
    const uint32_t last = dimensions(series) - 1;
    const float first = get(series, 0);
    set(series, 0, get(series, last));
    set(series, last, first);
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
        .set<s::absolute>(absolute)
        .set<s::add>(add)
        .set<s::divide>(divide)
        .set<s::multiply>(multiply)
        .set<s::negate>(negate)
        .set<s::remainder>(remainder)
        .set<s::round>(round)
        .set<s::subtract>(subtract)
        .set<s::pick>(pick)
        .set<s::reverse>(reverse);
    datatype::register_({kTypePoint2D, 0, "point2D!", row.entries()});
    datatype::register_({kTypePoint3D, 0, "point3D!", row.entries()});
}

} // namespace point
