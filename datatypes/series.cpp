#include "datatypes/series.h"

#include "datatypes/string.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/datatype.h"
#include "datatypes/dispatch.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/unset.h"
#include "datatypes/words.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/hash.h"
#include "runtime-core/hashtable.h"
#include "runtime-core/memory.h"
#include "runtime-core/runtime.h"
#include "runtime-core/support.h"
#include "runtime-core/unicode.h"

using memory::Buffer;
using ownership::Action;

namespace series {

Services services;

namespace {

// The take scratch series: one 16-byte unit outside the collected frames, made on first use.
uint32_t take_scratch = 0;

// Its node id moves when its node frame is evacuated; the marker keeps it right.
void mark_scratch() {
    if (take_scratch != 0) collector::mark_series(take_scratch);
}

Buffer* buffer_of(const Cell* series) {
    return memory::buffer(series->w2);
}

int32_t index_of(const Cell* series) {
    return static_cast<int32_t>(series->w1);
}

bool is_integer(const Cell* value) {
    return cell::type(value) == kTypeInteger;
}

int32_t integer_of(const Cell* value) {
    return static_cast<int32_t>(value->w2);
}

[[noreturn]] void out_of_range(int32_t n) {
    Cell* value = integer_at(stack::push_cell(), n);
    error::fire(error::kScript, error::script::out_of_range, {value});
}

[[noreturn]] void move_bad(const Cell* origin, const Cell* target) {
    Cell* from = datatype::push(cell::type(origin));
    Cell* to = datatype::push(cell::type(target));
    error::fire(error::kScript, error::script::move_bad, {from, to});
}

void put_unit(uint8_t* at, uint32_t unit, uint32_t value) {
    switch (unit) {
    case 1:
        *at = static_cast<uint8_t>(value);
        break;
    case 2: {
        auto v = static_cast<uint16_t>(value);
        std::memcpy(at, &v, 2);
        break;
    }
    case 4:
        std::memcpy(at, &value, 4);
        break;
    default:
        runtime::quit(runtime::kErrorNoSwitch, ZAN_CALLER_ADDRESS());
    }
}

// The unit size that text needs for a code point by the writing rule.
uint32_t unit_for(uint32_t cp) {
    return cp <= 0xFF ? 1 : cp <= 0xFFFF ? 2 : 4;
}

// Widens a text buffer to at least `unit` bytes per character. May collect.
Buffer* widen(Buffer* b, uint32_t unit) {
    if (b->unit() == 1 && unit == 2) return unicode::latin1_to_ucs2(b);
    if (b->unit() == 1 && unit == 4) return unicode::latin1_to_ucs4(b);
    if (b->unit() == 2 && unit == 4) return unicode::ucs2_to_ucs4(b);
    return b;
}

// The element at unit `position` as a value, into `out` (which may be the series cell).
void element_at(const Cell* series, uint32_t position, Cell* out) {
    Buffer* b = buffer_of(series);
    const uint8_t type = cell::type(series);
    const uint32_t unit = b->unit();
    const uint8_t* at = b->at_head() + (static_cast<size_t>(position) << unit_shift(unit));
    if (is_any_block(type) || type == kTypeMap) {
        *out = *reinterpret_cast<const Cell*>(at);
    } else if (type == kTypeVector) {
        if (!services.vector_get) error::fire(error::kInternal, error::internal::not_done);
        const uint32_t element_type = series->w3;
        services.vector_get(at, unit, element_type, out);
    } else if (type == kTypeBinary) {
        integer_at(out, *at);
    } else {
        char_at(out, string::get_char(at, unit));
    }
}

// A number from 1 to n (n > 0) from the random source, by rejection so that every outcome is
// equally likely.
int32_t draw(int32_t n, bool secure) {
    const logic::RandomSource* source = logic::random_source();
    if (!source) error::fire(error::kInternal, error::internal::not_done);
    const uint32_t limit = 0x7FFFFFFFu / static_cast<uint32_t>(n) * static_cast<uint32_t>(n);
    uint32_t r;
    do {
        r = (secure ? source->secure_next() : source->next()) & 0x7FFFFFFF;
    } while (r >= limit);
    return static_cast<int32_t>(r % static_cast<uint32_t>(n)) + 1;
}

// Exchanges two runs of bytes that do not overlap.
void exchange(uint8_t* x, uint8_t* y, uint32_t bytes) {
    std::swap_ranges(x, x + bytes, y);
}

} // namespace

const uint8_t* units_from_index(const Cell* series, uint32_t& count, uint32_t& unit) {
    memory::Buffer* b = memory::buffer(series->w2);
    unit = b->unit();
    const uint32_t total = b->length();
    const auto index = static_cast<int32_t>(series->w1);
    const uint32_t at = index < 0 ? 0 : (static_cast<uint32_t>(index) > total ? total : index);
    count = total - at;
    return b->at_head() + static_cast<uint64_t>(at) * unit;
}

// --- Services -------------------------------------------------------------------------------

const Cell* word_or_none(const Cell* word) {
    return word ? word : &none::value;
}

void invalid_refine(const Cell* word, const Cell* argument) {
    // The error names the refinement as a word (`part`), as a script would write its name.
    Cell name = *word_or_none(word);
    if (cell::type(&name) == kTypeRefinement) cell::set_type(&name, kTypeWord);
    error::fire(error::kScript, error::script::invalid_refine_arg, {&name, argument});
}

uint32_t canonical(uint32_t symbol) {
    return hashtable::resolve(symbol);
}

void rehash(const Cell* series, uint32_t at, uint32_t removed, uint32_t inserted) {
    if (cell::type(series) != kTypeHash || series->w3 == 0) return;
    if (removed == 0 && inserted == 0) return;
    hashtable::splice(series->w3, at, removed, inserted);
}

// --- Low-level routines ---------------------------------------------------------------------

uint32_t unit_shift(uint32_t unit) {
    switch (unit) {
    case 1:
        return 0;
    case 2:
        return 1;
    case 4:
        return 2;
    case 8: // vector! of 64-bit elements
        return 3;
    case 16:
        return 4;
    default:
        runtime::quit(runtime::kErrorNoSwitch, ZAN_CALLER_ADDRESS());
    }
}

uint32_t total_units(const Cell* series) {
    Buffer* b = buffer_of(series);
    return (b->tail - b->head) >> unit_shift(b->unit());
}

uint32_t clamped_index(const Cell* series) {
    int32_t i = index_of(series);
    if (i <= 0) return 0;
    return std::min(static_cast<uint32_t>(i), total_units(series));
}

bool index_past_tail(const Cell* series) {
    int32_t i = index_of(series);
    return static_cast<int64_t>(i < 0 ? 0 : i) >= total_units(series);
}

bool advance(Cell* series, int32_t n) {
    const int64_t candidate = static_cast<int64_t>(index_of(series)) + n;
    const int64_t total = total_units(series);
    if (candidate <= total) series->w1 = static_cast<uint32_t>(candidate);
    return candidate >= total;
}

int32_t offset_index(bool at) {
    Cell* series = stack::arguments;
    Cell* offset = stack::arguments + 1;
    if (!is_integer(offset)) error::fire(error::kScript, error::script::invalid_arg, {offset});
    const int64_t n = integer_of(offset);
    int64_t index = index_of(series) + n;
    if (at && n > 0) --index;
    return static_cast<int32_t>(std::clamp<int64_t>(index, 0, total_units(series)));
}

int32_t get_length(Cell* series, bool from_head) {
    int32_t start = from_head ? 0 : index_of(series);
    if (start < 0) start = 0;
    const uint32_t n = total_units(series);
    if (n >= static_cast<uint32_t>(start)) return static_cast<int32_t>(n - start);
    series->w1 = n;
    return 0;
}

bool notify(const Cell* series, Action action, const Cell* value, int32_t index, int32_t count) {
    return ownership::check(series, action, value, index, count);
}

Cell* integer_at(Cell* cell, int32_t value) {
    *cell = Cell{kTypeInteger, 0, static_cast<uint32_t>(value), 0};
    return cell;
}

Cell* char_at(Cell* cell, uint32_t code_point) {
    *cell = Cell{kTypeChar, 0, code_point, 0};
    return cell;
}

int32_t part_count(const Cell* series, const Cell* part) {
    if (is_integer(part)) return integer_of(part);
    if (cell::type(part) == cell::type(series) && part->w2 == series->w2)
        return index_of(part) - index_of(series);
    invalid_refine(refinements::refinement.part, part);
}

// --- Positions ------------------------------------------------------------------------------

void at() {
    stack::arguments->w1 = static_cast<uint32_t>(offset_index(true));
}

void skip() {
    stack::arguments->w1 = static_cast<uint32_t>(offset_index(false));
}

void back() {
    Cell* series = stack::arguments;
    if (index_of(series) > 0) series->w1 -= 1;
}

void next() {
    advance(stack::arguments, 1);
}

void head() {
    stack::arguments->w1 = 0;
}

void tail() {
    stack::arguments->w1 = total_units(stack::arguments);
}

void head_q() {
    logic::make_at(stack::arguments, index_of(stack::arguments) == 0);
}

void tail_q() {
    logic::make_at(stack::arguments, index_past_tail(stack::arguments));
}

void index_q() {
    integer_at(stack::arguments, static_cast<int32_t>(stack::arguments->w1 + 1u));
}

int32_t length_q(Cell* series) {
    return get_length(series, false);
}

// --- pick and poke --------------------------------------------------------------------------

namespace {

// The position of pick and poke n from the index, or -1 when there is none.
int64_t position_of(const Cell* series, int32_t n) {
    if (n == 0) return -1;
    const int64_t p = static_cast<int64_t>(clamped_index(series)) + n - (n > 0 ? 1 : 0);
    return p >= 0 && p < total_units(series) ? p : -1;
}

} // namespace

Cell* pick(Cell* series, int32_t n, Cell*) {
    const int64_t p = position_of(series, n);
    if (p < 0) return none::make_at(series);
    element_at(series, static_cast<uint32_t>(p), series);
    return series;
}

Cell* poke(Cell* series, int32_t n, Cell* value, Cell*) {
    int64_t p = position_of(series, n);
    if (p < 0) out_of_range(n);
    const uint8_t type = cell::type(series);
    const uint8_t vt = cell::type(value);
    // Every check comes before the owner hears of the change.
    if (type == kTypeVector) {
        if (vt != series->w3) error::fire(error::kScript, error::script::invalid_arg, {value});
        if (!services.vector_set) error::fire(error::kInternal, error::internal::not_done);
    } else if (type == kTypeBinary) {
        if (vt != kTypeInteger && vt != kTypeChar)
            error::fire(error::kScript, error::script::invalid_arg, {value});
    } else if (!is_any_block(type) && type != kTypeMap && vt != kTypeChar) {
        error::fire(error::kScript, error::script::invalid_arg, {value});
    }
    const bool owned = notify(series, Action::poke, value, static_cast<int32_t>(p), 1);
    if (owned) {
        // The owner's handler may have shortened the series.
        p = position_of(series, n);
        if (p < 0) out_of_range(n);
    }
    const auto position = static_cast<uint32_t>(p);
    Buffer* b = buffer_of(series);
    const uint32_t unit = b->unit();
    uint8_t* at = b->at_head() + (static_cast<size_t>(position) << unit_shift(unit));
    if (is_any_block(type) || type == kTypeMap) {
        *reinterpret_cast<Cell*>(at) = *value;
        rehash(series, position, 1, 1);
    } else if (type == kTypeVector) {
        services.vector_set(at, value, unit);
    } else if (type == kTypeBinary) {
        *at = static_cast<uint8_t>(value->w2);
    } else {
        const uint32_t cp = value->w2;
        if (unit_for(cp) > unit) {
            b = widen(b, unit_for(cp)); // may collect: the position is kept as a count
            at = b->at_head() + (static_cast<size_t>(position) << unit_shift(b->unit()));
        }
        put_unit(at, b->unit(), cp);
    }
    if (owned) notify(series, Action::poked, value, static_cast<int32_t>(position), 1);
    return value;
}

// --- clear and remove -----------------------------------------------------------------------

Cell* clear(Cell* series) {
    const uint32_t index = clamped_index(series);
    const uint32_t total = total_units(series);
    if (index >= total) return series;
    notify(series, Action::clear, nullptr, static_cast<int32_t>(index),
           static_cast<int32_t>(total - index));
    Buffer* b = buffer_of(series);
    const uint32_t before = total_units(series); // the owner may have changed it
    const uint64_t position = b->head + (static_cast<uint64_t>(index) << unit_shift(b->unit()));
    if (position < b->tail) b->tail = static_cast<uint32_t>(position);
    if (before > index) rehash(series, index, before - index, 0);
    notify(series, Action::cleared, nullptr, static_cast<int32_t>(index), 0);
    return series;
}

Cell* remove(Cell* series, Cell* part, Cell* key) {
    int32_t count = part ? part_count(series, part) : 1;
    if (count < 1) return series;
    uint32_t position = clamped_index(series);
    if (key) {
        Cell* found = actions::call<action::slot::find>(series, key, {.case_ = true});
        if (cell::type(found) == kTypeNone) return none::make_at(series);
        position = clamped_index(found);
        series->w1 = position;
        if (count < 0x7FFFFFFF) ++count; // the key and the value after it
    }
    if (position >= total_units(series)) return series;
    notify(series, Action::remove, nullptr, static_cast<int32_t>(position), count);
    const uint32_t total = total_units(series); // again: the owner may have changed it
    if (position < total) {
        Buffer* b = buffer_of(series);
        const uint32_t shift = unit_shift(b->unit());
        uint8_t* from = b->at_head() + (static_cast<size_t>(position) << shift);
        const auto removed = static_cast<uint32_t>(
            std::min<uint64_t>(static_cast<uint32_t>(count), total - position));
        if (static_cast<uint64_t>(position) + count < total) {
            const size_t bytes = static_cast<size_t>(count) << shift;
            std::memmove(from, from + bytes, b->at_tail() - (from + bytes));
            b->tail -= static_cast<uint32_t>(bytes);
        } else {
            b->tail = static_cast<uint32_t>(from - b->data());
        }
        rehash(series, position, removed, 0);
    }
    notify(series, Action::removed, nullptr, static_cast<int32_t>(position), 0);
    return series;
}

// --- reverse --------------------------------------------------------------------------------

Cell* reverse(Cell* series, Cell* part, Cell* skip) {
    if (index_past_tail(series)) return series;
    const uint32_t index = clamped_index(series);
    int64_t count = total_units(series) - index;
    if (part) {
        int32_t n = part_count(series, part);
        if (n < 1) return series;
        count = std::min<int64_t>(count, n);
    }
    int64_t size = 1;
    if (skip) {
        if (!is_integer(skip)) invalid_refine(refinements::refinement.skip, skip);
        size = integer_of(skip);
        if (size == count) return series;
        if (size < 1) error::fire(error::kScript, error::script::out_of_range, {skip});
        if (count < size || count % size != 0) invalid_refine(refinements::refinement.skip, skip);
    }
    const bool owned = notify(series, Action::reverse, nullptr, static_cast<int32_t>(index),
                              static_cast<int32_t>(count));
    if (owned) {
        const int64_t left = static_cast<int64_t>(total_units(series)) - index;
        count = std::max<int64_t>(0, std::min(count, left)) / size * size;
    }
    Buffer* b = buffer_of(series);
    const uint32_t shift = unit_shift(b->unit());
    const auto record = static_cast<uint32_t>(size << shift);
    if (count >= 2 * size) {
        uint8_t* first = b->at_head() + (static_cast<size_t>(index) << shift);
        uint8_t* last = first + (static_cast<size_t>(count) << shift) - record;
        for (; first < last; first += record, last -= record) exchange(first, last, record);
        rehash(series, index, static_cast<uint32_t>(count), static_cast<uint32_t>(count));
    }
    if (owned)
        notify(series, Action::reversed, nullptr, static_cast<int32_t>(index),
               static_cast<int32_t>(count));
    return series;
}

// --- take -----------------------------------------------------------------------------------

Cell* take(Cell* series, const action::TakeOptions& options) {
    Cell* const part = options.part;
    const int32_t length = get_length(series, false);
    if (length < 1) return none::make_at(series);
    const int64_t index = clamped_index(series);
    int64_t n = 1;
    if (part) {
        if (is_integer(part)) {
            n = integer_of(part);
        } else if (cell::type(part) == cell::type(series) && part->w2 == series->w2) {
            const int64_t p = index_of(part);
            const int64_t d = p < index ? 0 : p - index;
            n = options.last ? length - d : d;
        } else {
            invalid_refine(refinements::refinement.part, part);
        }
    }
    int64_t available = length;
    int64_t count;
    if (n < 0) {
        available = index;
        count = options.last ? 1 : -n;
    } else {
        count = n;
    }
    count = std::min(count, available);
    if (count == 0) count = 1;
    // Where the units come from; nothing is taken when n < 1 and the run would start before
    // the head, or with /last.
    bool empty = false;
    int64_t start;
    if (n >= 1) {
        start = options.last ? total_units(series) - count : index;
    } else {
        start = index - count;
        empty = options.last || count > index;
    }
    const bool owned =
        notify(series, Action::take, nullptr, static_cast<int32_t>(index), static_cast<int32_t>(n));
    if (empty) {
        count = 0;
        start = 0;
    } else {
        const int64_t total = total_units(series); // the owner may have changed it
        start = std::min(start, total);
        count = std::min(count, total - start);
    }
    const uint8_t type = cell::type(series);
    Cell* result = stack::push_cell();
    result->header = kTypeUnset;
    uint32_t node;
    if (part) {
        node = copy_part(series->w2, static_cast<uint32_t>(start), static_cast<uint32_t>(count));
    } else {
        if (take_scratch == 0) take_scratch = memory::alloc_unmanaged_series(1, 16, 0);
        node = take_scratch;
        Buffer* scratch = memory::buffer(node);
        Buffer* b = buffer_of(series);
        scratch->flags = (scratch->flags & ~memory::kUnitMask) | b->unit();
        const size_t bytes = static_cast<size_t>(count) << unit_shift(b->unit());
        std::memcpy(scratch->data(),
                    b->at_head() + (static_cast<size_t>(start) << unit_shift(b->unit())), bytes);
        scratch->head = 0;
        scratch->tail = static_cast<uint32_t>(bytes);
    }
    GcRoot taken(node); // the table upkeep below may collect
    if (count > 0) {
        Buffer* b = buffer_of(series);
        const uint32_t shift = unit_shift(b->unit());
        uint8_t* from = b->at_head() + (static_cast<size_t>(start) << shift);
        const size_t bytes = static_cast<size_t>(count) << shift;
        std::memmove(from, from + bytes, b->at_tail() - (from + bytes));
        b->tail -= static_cast<uint32_t>(bytes);
        rehash(series, static_cast<uint32_t>(start), static_cast<uint32_t>(count), 0);
    }
    *result = Cell{type, 0, taken.node(), type == kTypeVector ? series->w3 : 0};
    if (owned) notify(series, Action::taken, nullptr, static_cast<int32_t>(index), 0);
    return result;
}

// --- copy -----------------------------------------------------------------------------------

Cell* copy(Cell* series, Cell* result, const action::CopyOptions& options) {
    Cell* const part = options.part;
    const int64_t index = clamped_index(series);
    const int64_t total = total_units(series);
    int64_t start = index;
    int64_t count = total - index;
    if (part) {
        if (is_integer(part)) {
            count = integer_of(part);
        } else if (cell::type(part) == kTypePair) {
            const int64_t x = static_cast<int32_t>(part->w2);
            const int64_t y = static_cast<int32_t>(part->w3);
            start = std::max<int64_t>(0, x >= 0 ? index + x - 1 : index + x);
            count = y >= x ? y - x : 0;
        } else if (cell::type(part) == cell::type(series) && part->w2 == series->w2) {
            count = index_of(part) - index;
        } else {
            invalid_refine(refinements::refinement.part, part);
        }
        if (count < 0) {
            start = index + count;
            count = -count;
            if (start < 0) {
                start = 0;
                count = index;
            }
        }
    }
    start = std::min(start, total);
    count = std::min(count, total - start);
    const uint32_t header = cell::type(series) | (series->header & cell::kNewLine);
    const uint32_t w3 = cell::type(series) == kTypeVector ? series->w3 : 0;
    const uint32_t source = series->w2;
    if (result != series) result->header = kTypeUnset;
    const uint32_t node =
        copy_part(source, static_cast<uint32_t>(start), static_cast<uint32_t>(count));
    *result = Cell{header, 0, node, w3};
    return result;
}

// --- move -----------------------------------------------------------------------------------

namespace {

// Moves `count` units within one buffer from `from` to before the unit at `to` (or to the
// tail), as one run taken out and put back.
void move_within(Buffer* b, uint32_t from, uint32_t count, uint32_t to) {
    const uint32_t shift = unit_shift(b->unit());
    uint8_t* head = b->at_head();
    std::vector<uint8_t> run(head + (static_cast<size_t>(from) << shift),
                             head + (static_cast<size_t>(from + count) << shift));
    if (from < to) {
        // The units after the run up to the destination move down over it.
        std::memmove(head + (static_cast<size_t>(from) << shift),
                     head + (static_cast<size_t>(from + count) << shift),
                     static_cast<size_t>(to - from - count) << shift);
        std::memcpy(head + (static_cast<size_t>(to - count) << shift), run.data(), run.size());
    } else {
        std::memmove(head + (static_cast<size_t>(to + count) << shift),
                     head + (static_cast<size_t>(to) << shift),
                     static_cast<size_t>(from - to) << shift);
        std::memcpy(head + (static_cast<size_t>(to) << shift), run.data(), run.size());
    }
}

} // namespace

Cell* move(Cell* origin, Cell* target, Cell* part) {
    const uint8_t ot = cell::type(origin);
    const uint8_t tt = cell::type(target);
    if (!is_series(tt)) {
        // The function's name and the argument's word come with the call frames.
        Cell* type = datatype::push(tt);
        error::fire(error::kScript, error::script::expect_arg, {&none::value, type, &none::value});
    }
    if (index_past_tail(origin)) return target;
    int64_t count = 1;
    if (part) {
        if (!is_integer(part)) invalid_refine(refinements::refinement.part, part);
        count = integer_of(part);
        if (count < 1) return target;
    }
    const uint32_t from = clamped_index(origin);
    count = std::min<int64_t>(count, total_units(origin) - from);

    if (origin->w2 == target->w2) {
        const uint32_t total = total_units(target);
        const uint32_t t = clamped_index(target);
        if (from == t) return target;
        if (from < t && t != total && total - t < count) return origin;
        // A destination inside the run itself leaves everything in place.
        if (from < t && t < from + count) return target;
        const bool owned = notify(target, Action::move, origin, static_cast<int32_t>(from),
                                  static_cast<int32_t>(count));
        const uint32_t now = total_units(target);
        if (owned && (from + count > now || t > now)) return target; // changed under us
        // Moving forward, the unit at the destination moves down too and the run lands
        // after it (at the tail when the destination is the tail).
        const uint32_t to = from < t && t != now ? t + 1 : t;
        move_within(buffer_of(target), from, static_cast<uint32_t>(count), to);
        // The run and the units it passed make one reordered span.
        const uint32_t low = std::min(from, to);
        const uint32_t span = std::max(from + static_cast<uint32_t>(count), to) - low;
        rehash(cell::type(target) == kTypeHash ? target : origin, low, span, span);
        if (owned)
            notify(target, Action::moved, origin, static_cast<int32_t>(t - count),
                   static_cast<int32_t>(count));
        return target;
    }

    if (is_any_block(ot) != is_any_block(tt)) move_bad(origin, target);
    Buffer* ob = buffer_of(origin);
    Buffer* tb = buffer_of(target);
    const bool text = ob->unit() != tb->unit();
    if (text && (ot == kTypeBinary || ot == kTypeVector || tt == kTypeBinary || tt == kTypeVector))
        move_bad(origin, target);
    const bool owned = notify(target, Action::move, origin, static_cast<int32_t>(from),
                              static_cast<int32_t>(count));
    if (owned) {
        count = std::min<int64_t>(count, static_cast<int64_t>(total_units(origin)) -
                                             clamped_index(origin));
        if (count < 1) return target;
    }
    // Room first (widening a narrower text, growing), so that nothing allocates while the
    // units are copied.
    if (text) {
        ob = buffer_of(origin);
        const uint32_t ou = ob->unit();
        const uint8_t* at = ob->at_head() + (static_cast<size_t>(from) << unit_shift(ou));
        uint32_t needed = 1;
        for (int64_t i = 0; i < count; ++i)
            needed = std::max(needed, unit_for(string::get_char(at + i * ou, ou)));
        tb = buffer_of(target);
        if (needed > tb->unit()) widen(tb, needed);
    }
    tb = buffer_of(target);
    const uint32_t tu = tb->unit();
    const uint64_t needed = static_cast<uint64_t>(tb->tail - tb->head) +
                            (static_cast<uint64_t>(count) << unit_shift(tu));
    if (needed > 0x3FFFFFFF) error::fire(error::kInternal, error::internal::no_memory);
    if (tb->head + needed > tb->size)
        memory::expand_series_to(tb, static_cast<uint32_t>(needed * 2));
    tb = buffer_of(target);
    ob = buffer_of(origin);
    const uint32_t ou = ob->unit();
    const uint32_t to = clamped_index(target);
    const uint32_t tshift = unit_shift(tu);
    uint8_t* dest = tb->at_head() + (static_cast<size_t>(to) << tshift);
    const size_t run = static_cast<size_t>(count) << tshift;
    std::memmove(dest + run, dest, tb->at_tail() - dest);
    tb->tail += static_cast<uint32_t>(run);
    uint8_t* source = ob->at_head() + (static_cast<size_t>(from) << unit_shift(ou));
    if (ou == tu) {
        std::memcpy(dest, source, run);
    } else {
        for (int64_t i = 0; i < count; ++i)
            put_unit(dest + i * tu, tu, string::get_char(source + i * ou, ou));
    }
    const size_t taken = static_cast<size_t>(count) << unit_shift(ou);
    std::memmove(source, source + taken, ob->at_tail() - (source + taken));
    ob->tail -= static_cast<uint32_t>(taken);
    rehash(origin, from, static_cast<uint32_t>(count), 0);
    rehash(target, to, 0, static_cast<uint32_t>(count));
    if (owned)
        notify(target, Action::moved, origin, static_cast<int32_t>(to),
               static_cast<int32_t>(count));
    return target;
}

// --- random ---------------------------------------------------------------------------------

Cell* random(Cell* series, const action::RandomOptions& options) {
    const uint32_t index = clamped_index(series);
    if (options.seed) {
        Buffer* b = buffer_of(series);
        const uint8_t* from = b->at_head() + (static_cast<size_t>(index) << unit_shift(b->unit()));
        const uint32_t h = hash::murmur3(from, static_cast<size_t>(b->at_tail() - from));
        const logic::RandomSource* source = logic::random_source();
        if (!source) error::fire(error::kInternal, error::internal::not_done);
        source->seed(h);
        return unset::make_at(series);
    }
    const int32_t length = static_cast<int32_t>(total_units(series) - index);
    const bool owned = notify(series, Action::random, nullptr, static_cast<int32_t>(index), length);
    const int32_t now = static_cast<int32_t>(total_units(series)) - static_cast<int32_t>(index);
    if (options.only) {
        if (now < 1) return none::make_at(series);
        const int32_t r = draw(now, options.secure);
        element_at(series, index + static_cast<uint32_t>(r) - 1, series);
        return series;
    }
    Buffer* b = buffer_of(series);
    const uint32_t shift = unit_shift(b->unit());
    const uint32_t unit = b->unit();
    for (int32_t p = 0; p < now; ++p) {
        const int32_t r = draw(now - p, options.secure); // draws allocate nothing
        if (r == 1) continue;
        uint8_t* at = b->at_head() + (static_cast<size_t>(index + p) << shift);
        exchange(at, at + static_cast<size_t>(r - 1) * unit, unit);
    }
    if (now > 0) rehash(series, index, static_cast<uint32_t>(now), static_cast<uint32_t>(now));
    if (owned) notify(series, Action::randomized, nullptr, static_cast<int32_t>(index), now);
    return series;
}

// --- reflect and modify ---------------------------------------------------------------------

Cell* reflect(Cell* series, int32_t field_symbol) {
    if (words::symbol.owned == 0 || static_cast<uint32_t>(field_symbol) != words::symbol.owned)
        error::fire(error::kInternal, error::internal::not_done);
    const Cell* owner = ownership::owner_of(series->w2);
    if (!owner) return none::make_at(series);
    *series = *owner;
    return series;
}

Cell* modify(Cell* series, Cell* field, Cell* value, const action::PutOptions&) {
    const uint8_t ft = cell::type(field);
    if (!traits::is_bindable_word(ft) || words::symbol.owned == 0 ||
        canonical(field->w2) != canonical(words::symbol.owned))
        return value;
    if (cell::type(value) == kTypeNone) {
        ownership::unset(series);
    } else if (cell::type(value) == kTypeBlock) {
        Buffer* b = buffer_of(value);
        const uint32_t index = clamped_index(value);
        if (b->length() - index >= 2) {
            Cell owner = b->cells()[index];
            Cell word = b->cells()[index + 1];
            ownership::set_all(series, &owner, &word);
        }
    }
    return value;
}

// --- Registration ---------------------------------------------------------------------------

void register_actions() {
    take_scratch = 0;
    collector::add_marker(mark_scratch);
    action::Row row;
    row.set<action::slot::random>(random)
        .set<action::slot::reflect>(reflect)
        .set<action::slot::at>(at)
        .set<action::slot::back>(back)
        .set<action::slot::clear>(clear)
        .set<action::slot::copy>(copy)
        .set<action::slot::head>(head)
        .set<action::slot::head_q>(head_q)
        .set<action::slot::index_q>(index_q)
        .set<action::slot::length_q>(length_q)
        .set<action::slot::move>(move)
        .set<action::slot::next>(next)
        .set<action::slot::pick>(pick)
        .set<action::slot::poke>(poke)
        .set<action::slot::remove>(remove)
        .set<action::slot::reverse>(reverse)
        .set<action::slot::skip>(skip)
        .set<action::slot::tail>(tail)
        .set<action::slot::tail_q>(tail_q)
        .set<action::slot::take>(take)
        .set<action::slot::modify>(modify);
    datatype::register_({kTypeSeries, 0, "series!", row.entries()});
}

} // namespace series
