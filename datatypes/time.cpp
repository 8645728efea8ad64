#include "datatypes/time.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/ownership.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/support.h"
#include "runtime-core/type-traits.h"

namespace time_ {

namespace {

ObjectChangeHook object_change_hook = nullptr;

[[noreturn]] void not_related(const Cell* operation, uint8_t type) {
    Cell* t = datatype::push(type);
    error::fire(error::kScript, error::script::not_related,
                {operation ? operation : &none::value, t});
}

// Seconds of a block spec: [hours minutes seconds], integers, the seconds may be a float!;
// only the hours may be negative, which negates the whole.
double from_block(const Cell* spec) {
    const int32_t count = block::length_from_index(spec);
    if (count < 1 || count > 3) raise_make_error(spec);
    const Cell* values = memory::buffer(spec->w2)->cells() + spec->w1;
    double parts[3] = {0, 0, 0};
    bool negative = false;
    for (int32_t i = 0; i < count; ++i) {
        const uint8_t type = cell::type(&values[i]);
        double v;
        if (type == kTypeInteger)
            v = integer::get(&values[i]);
        else if (type == kTypeFloat && i == 2)
            v = float_::get(&values[i]);
        else
            raise_make_error(spec);
        if (v < 0) {
            if (i > 0) raise_make_error(spec);
            negative = true;
            v = -v;
        }
        parts[i] = v;
    }
    const double seconds = parts[0] * 3600 + parts[1] * 60 + parts[2];
    return negative ? -seconds : seconds;
}

} // namespace

// --- Constructors -------------------------------------------------------------------------

Cell* make_at(Cell* cell, double seconds) {
    cell->header = kTypeTime;
    cell->w1 = 0;
    float_::set(cell, seconds);
    return cell;
}

Cell* push(double seconds) {
    return make_at(stack::push_cell(), seconds);
}

Cell* set_result(double seconds) {
    return make_at(stack::arguments, seconds);
}

Cell* add_to_block(const Cell* block, double seconds) {
    return make_at(memory::alloc_tail_cell(memory::buffer(block->w2)), seconds);
}

Cell* make_parts_at(Cell* cell, bool negative, int32_t hours, int32_t minutes, double seconds) {
    const double x =
        static_cast<double>(hours) * 3600 + static_cast<double>(minutes) * 60 + seconds;
    return make_at(cell, negative ? -x : x);
}

// --- Text and fields ------------------------------------------------------------------------

double shown_seconds(double seconds) {
    const double x = std::fabs(seconds);
    const double s = std::fmod(x, 60);
    // Six significant digits of 59.9999996 are "60": that is the next whole minute.
    if (!(s >= 1e-06) || std::strcmp(float_::form_float(s, float_::kSeconds), "60") != 0)
        return seconds;
    const double up = x - s + 60;
    return seconds < 0 ? -up : up;
}

int32_t write_parts(double seconds, const Cell* string, int32_t limit) {
    // A duration without hours, minutes and seconds prints as the float printer writes it.
    if (!std::isfinite(seconds)) {
        const char* special = float_::form_float(seconds, float_::kSeconds);
        string::concatenate_cstring(string, special);
        return limit - static_cast<int32_t>(std::strlen(special));
    }
    // The hours of the largest double take 309 digits.
    char text[400];
    int n = 0;
    double x = shown_seconds(seconds);
    if (x < 0) {
        text[n++] = '-';
        x = -x;
    }
    n += std::snprintf(text + n, sizeof text - static_cast<size_t>(n),
                       "%.0f:", std::floor(x / 3600));
    const int minutes = static_cast<int>(std::floor(std::fmod(x, 3600) / 60));
    text[n++] = static_cast<char>('0' + minutes / 10);
    text[n++] = static_cast<char>('0' + minutes % 10);
    text[n++] = ':';
    const double s = std::fmod(x, 60);
    if (s < 1e-06) {
        text[n++] = '0';
        text[n++] = '0';
    } else {
        const char* digits = float_::form_float(s, float_::kSeconds);
        const size_t length = std::strlen(digits);
        if (length == 1 || digits[1] == '.') text[n++] = '0';
        std::memcpy(text + n, digits, length);
        n += static_cast<int>(length);
    }
    text[n] = '\0';
    string::concatenate_cstring(string, text);
    return limit - n;
}

int32_t pick_field(int32_t index, const Cell* index_value, int32_t (*select)(const Cell*),
                   int32_t count) {
    const int32_t i =
        index_value ? select(index_value) : (index >= 1 && index <= count ? index : -1);
    if (i < 0) {
        const Cell* shown = index_value ? index_value : integer::push(index);
        error::fire(error::kScript, error::script::out_of_range, {shown});
    }
    return i;
}

int32_t field_index(const Cell* word) {
    if (!traits::is_bindable_word(cell::type(word))) return -1;
    const uint32_t s = symbol::resolve(word->w2);
    if (s == symbol::resolve(words::symbol.hour)) return 1;
    if (s == symbol::resolve(words::symbol.minute)) return 2;
    if (s == symbol::resolve(words::symbol.second)) return 3;
    return -1;
}

int32_t selector_index(const Cell* selector) {
    if (cell::type(selector) == kTypeInteger) {
        const int32_t i = integer::get(selector);
        return i >= 1 && i <= 3 ? i : -1;
    }
    return field_index(selector);
}

int32_t hours_part(double seconds) {
    return float_::saturate(std::trunc(seconds / 3600));
}

int32_t remainder_part(double seconds) {
    return float_::saturate(std::floor(std::fmod(std::fabs(seconds), 3600) / 60));
}

Cell* get_field(double seconds, int32_t index, Cell* result) {
    // A duration too long (or not finite) for its hours to be an integer! has no integer fields.
    if (index != 3 && !(std::fabs(std::trunc(seconds / 3600)) <= 2147483647.0)) {
        Cell* t = datatype::push(kTypeInteger);
        error::fire(error::kScript, error::script::type_limit, {t});
    }
    switch (index) {
    case 1:
        return integer::make_at(result, hours_part(seconds));
    case 2:
        return integer::make_at(result, remainder_part(seconds));
    default:
        return float_::make_at(result, std::fmod(seconds, 60));
    }
}

double set_field(double x, int32_t index, const Cell* value) {
    const uint8_t type = cell::type(value);
    if (type != kTypeInteger && !(index == 3 && type == kTypeFloat))
        error::fire(error::kScript, error::script::invalid_arg, {value});
    const double v = type == kTypeInteger ? integer::get(value) : float_::get(value);
    switch (index) {
    case 1:
        return x - (std::floor(x / 3600) - v) * 3600;
    case 2:
        return x - (std::floor(std::fmod(x, 3600) / 60) - v) * 60;
    default:
        return x - (std::fmod(x, 60) - v);
    }
}

void set_object_change_hook(ObjectChangeHook hook) {
    object_change_hook = hook;
}

void notify_owner(const Cell* grand_parent, const Cell* previous, const Cell* old_value,
                  const Cell* new_value) {
    if (!grand_parent) return;
    const uint8_t type = cell::type(grand_parent);
    if (type == kTypeObject) {
        if (object_change_hook && previous)
            object_change_hook(grand_parent, previous, old_value, new_value);
    } else if (series::is_series(type)) {
        ownership::check(grand_parent, ownership::Action::set_path, new_value, 0, 1);
    }
}

void raise_make_error(const Cell* spec) {
    Cell* t = datatype::push(kTypeTime);
    error::fire(error::kScript, error::script::bad_to_arg, {t, spec});
}

// --- Slot functions -------------------------------------------------------------------------

Cell* make(Cell* prototype, Cell* spec, int32_t) {
    const uint8_t type = cell::type(spec);
    switch (type) {
    case kTypeTime:
        return make_at(prototype, float_::get(spec));
    case kTypeInteger:
        return make_at(prototype, integer::get(spec));
    case kTypeFloat:
    case kTypePercent:
        return make_at(prototype, float_::get(spec));
    case kTypeBlock:
    case kTypeParen:
    case kTypeHash:
        return make_at(prototype, from_block(spec));
    default:
        if (!series::is_any_string(type)) raise_make_error(spec);
        GcRoot loaded(Cell{kTypeNone, 0, 0, 0});
        word::load_text(spec, &loaded.cell());
        if (cell::type(&loaded.cell()) != kTypeTime) raise_make_error(spec);
        return make_at(prototype, float_::get(&loaded.cell()));
    }
}

int32_t form(Cell* value, Cell* string, Cell*, int32_t limit) {
    return write_parts(float_::get(value), string, limit);
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions&, int32_t limit, int32_t) {
    return write_parts(float_::get(value), string, limit);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, const action::PathOptions& options) {
    const int32_t index = selector_index(element);
    if (index < 0)
        error::fire(error::kScript, error::script::invalid_path,
                    {options.path ? options.path : &none::value, element});
    if (!value) return get_field(float_::get(parent), index, stack::push_cell());
    const Cell old = *parent;
    float_::set(parent, set_field(float_::get(parent), index, value));
    GcRoot kept_old(old);
    notify_owner(options.grand_parent, options.previous, &kept_old.cell(), parent);
    return value;
}

void add() {
    if (cell::type(stack::arguments + 1) == kTypeDate) {
        // time + date is date + time.
        std::swap(stack::arguments[0], stack::arguments[1]);
        date::add();
        return;
    }
    float_::do_math(float_::kAdd);
    cell::set_type(stack::arguments, kTypeTime);
}

void subtract() {
    if (cell::type(stack::arguments + 1) == kTypeDate) not_related(words::word.subtract, kTypeTime);
    float_::do_math(float_::kSubtract);
    cell::set_type(stack::arguments, kTypeTime);
}

void multiply() {
    if (cell::type(stack::arguments + 1) == kTypeTime) not_related(words::word.multiply, kTypeTime);
    float_::do_math(float_::kMultiply);
    cell::set_type(stack::arguments, kTypeTime);
}

void divide() {
    const bool ratio = cell::type(stack::arguments + 1) == kTypeTime;
    float_::do_math(float_::kDivide);
    cell::set_type(stack::arguments, ratio ? kTypeFloat : kTypeTime);
}

Cell* round(Cell* value, const action::RoundOptions& options) {
    float_::round(value, options);
    if (cell::type(value) == kTypeInteger) return make_at(value, integer::get(value));
    cell::set_type(value, kTypeTime);
    return value;
}

namespace {
int32_t whole_seconds(const Cell* value) {
    const double x = float_::get(value);
    return float_::saturate(std::fmod(x + std::copysign(1e-06, x), 60));
}
} // namespace

bool even_q(Cell* value) {
    return (whole_seconds(value) & 1) == 0;
}

bool odd_q(Cell* value) {
    return (whole_seconds(value) & 1) != 0;
}

Cell* pick(Cell* value, int32_t index, Cell* index_value) {
    const int32_t i = pick_field(index, index_value, selector_index, 3);
    return get_field(float_::get(value), i, value);
}

void register_actions() {
    namespace s = action::slot;
    action::Row row;
    row.set<s::make>(make)
        .set<s::to>(make)
        .set<s::form>(form)
        .set<s::mold>(mold)
        .set<s::eval_path>(eval_path)
        .set<s::add>(add)
        .set<s::subtract>(subtract)
        .set<s::divide>(divide)
        .set<s::multiply>(multiply)
        .set<s::round>(round)
        .set<s::even_q>(even_q)
        .set<s::odd_q>(odd_q)
        .set<s::pick>(pick)
        .inherit({s::random, s::compare, s::absolute, s::negate, s::remainder});
    datatype::register_({kTypeTime, kTypeFloat, "time!", row.entries()});
}

} // namespace time_
