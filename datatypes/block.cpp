#include "datatypes/block.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "datatypes/cycles.h"
#include "datatypes/datatype.h"
#include "datatypes/dispatch.h"
#include "datatypes/form-mold.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "datatypes/words.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/hashtable.h"
#include "runtime-core/memory.h"
#include "runtime-core/support.h"
#include "runtime-core/type-traits.h"

using memory::Buffer;
using ownership::Action;

namespace block {

namespace detail {
void reset_sort_scratch(); // block-sort.cpp
}

namespace {

Conversion conversions[256] = {};

// Where make_in and append_nested put a block that has no parent; marked while it holds one.
Cell scratch{};

void mark_scratch() {
    collector::mark_block_value(scratch);
}

constexpr size_t kCell = sizeof(Cell);
// The most cells a block may hold: its byte size must stay a signed 32-bit number.
constexpr int64_t kMaxCells = 0x7FFFFFF;

Buffer* buffer_of(const Cell* block) {
    return memory::buffer(block->w2);
}

Cell* head_of(const Cell* block) {
    return buffer_of(block)->cells();
}

uint32_t total(const Cell* block) {
    Buffer* b = buffer_of(block);
    return (b->tail - b->head) / kCell;
}

uint32_t index_of(const Cell* block) {
    return series::clamped_index(block);
}

// Cells from the index to the tail by the index rule (never negative).
int64_t length_of(const Cell* block) {
    return static_cast<int64_t>(total(block)) - index_of(block);
}

bool is_integer(const Cell* value) {
    return cell::type(value) == kTypeInteger;
}

[[noreturn]] void no_memory() {
    error::fire(error::kInternal, error::internal::no_memory);
}

[[noreturn]] void no_cycle() {
    cycles::reset();
    error::fire(error::kInternal, error::internal::no_cycle);
}

bool copyable(uint8_t t) {
    return series::is_series(t) || t == kTypeMap || t == kTypeBitset || t == kTypeObject ||
           t == kTypeError;
}

// Moves `count` cells of the block from cell `from` to cell `to` (both from the head).
void move_cells(const Cell* block, uint32_t from, uint32_t to, uint32_t count) {
    Cell* head = head_of(block);
    std::memmove(static_cast<void*>(head + to), head + from, count * kCell);
}

// Grows the block's buffer so that `cells` cells fit from its head: to exactly that many, or
// to `doubled` times when growing. May collect.
void reserve(const Cell* block, int64_t cells, bool doubled) {
    if (cells > kMaxCells) no_memory();
    Buffer* b = buffer_of(block);
    const int64_t bytes = cells * static_cast<int64_t>(kCell);
    if (b->head + bytes <= b->size) return;
    const int64_t size = doubled ? std::min<int64_t>(bytes * 2, 0x7FFFFFF0) : bytes;
    memory::expand_series_to(b, static_cast<uint32_t>(size));
}

// The text formed or molded so far ends with a line feed, carriage return or tab.
bool ends_with_break(const Cell* string) {
    Buffer* b = memory::buffer(string->w2);
    if (b->tail <= b->head) return false;
    const uint32_t c = string::get_char(b->at_tail() - b->unit(), b->unit());
    return c == '\n' || c == '\r' || c == '\t';
}

// Whether two values are equal under an equality code (0, 2, 9, 12), by compare_cells.
bool same_value(const Cell* a, const Cell* b, int32_t op) {
    return compare_cells(a, b, op) == 0;
}

} // namespace

int32_t compare_cells(const Cell* a, const Cell* b, int32_t op) {
    auto compare = datatype::function<action::slot::compare>(cell::type(a));
    if (!compare) return action::kNotComparable;
    return actions::compare_values(const_cast<Cell*>(a), const_cast<Cell*>(b), op);
}

void set_conversion(uint8_t type, Conversion conversion) {
    conversions[type] = conversion;
}

// --- Cell routines --------------------------------------------------------------------------

int32_t length_from_index(const Cell* block) {
    return static_cast<int32_t>(total(block)) - static_cast<int32_t>(block->w1);
}

bool step_next(Cell* block) {
    const int64_t next = static_cast<int64_t>(static_cast<int32_t>(block->w1)) + 1;
    if (next <= total(block)) block->w1 = static_cast<uint32_t>(next);
    return block->w1 == total(block);
}

Cell* index_cell(Cell* block) {
    block->w1 = index_of(block);
    return head_of(block) + block->w1;
}

Cell* tail_cell(const Cell* block) {
    return buffer_of(block)->cells_tail();
}

bool index_at_tail(const Cell* block) {
    return block->w1 == total(block);
}

Cell* cell_at(const Cell* block, uint32_t n) {
    return head_of(block) + n;
}

void set_tail(const Cell* block, uint32_t n) {
    Buffer* b = buffer_of(block);
    b->tail = b->head + n * static_cast<uint32_t>(kCell);
}

void cut_at_index(const Cell* block) {
    const uint32_t index = index_of(block);
    if (index < total(block)) set_tail(block, index);
}

Cell* append_copy(const Cell* block, const Cell* value) {
    GcRoot keep(*value);
    Cell* c = memory::alloc_tail_cell(buffer_of(block));
    *c = keep.cell();
    return c;
}

const Cell* append_cells(const Cell* target, const Cell* source) {
    const uint32_t from = index_of(source);
    const uint32_t count = total(source) - from;
    for (uint32_t i = 0; i < count; ++i) {
        if (from + i >= total(source)) break;
        append_copy(target, head_of(source) + from + i);
    }
    return target;
}

void remove_last(Cell* block) {
    Buffer* b = buffer_of(block);
    if (b->tail <= b->head) return;
    b->tail -= kCell;
    if (static_cast<int32_t>(block->w1) > static_cast<int32_t>(total(block)))
        block->w1 = total(block);
}

const Cell* find_value(const Cell* block, const Cell* value) {
    const uint32_t n = total(block);
    for (uint32_t i = index_of(block); i < n; ++i) {
        Cell* c = head_of(block) + i;
        if (same_value(value, c, action::op::find))
            return i + 1 < n ? head_of(block) + i + 1 : &none::value;
    }
    return &none::value;
}

bool find_value_from(const Cell* block, const Cell* value, bool from_head) {
    const uint32_t n = total(block);
    for (uint32_t i = from_head ? 0 : index_of(block); i < n; ++i) {
        if (!same_value(value, head_of(block) + i, action::op::find)) continue;
        move_cells(block, i + 1, i, n - i - 1);
        buffer_of(block)->tail -= kCell;
        return static_cast<int64_t>(i) <= static_cast<int32_t>(block->w1);
    }
    return false;
}

const Cell* find_word(const Cell* block, const Cell* word, bool exact) {
    const uint32_t n = total(block);
    const uint32_t symbol = exact ? word->w2 : series::canonical(word->w2);
    for (uint32_t i = index_of(block); i < n; ++i) {
        const Cell* c = head_of(block) + i;
        const uint8_t t = cell::type(c);
        if (!traits::is_any_word(t)) continue;
        if ((exact ? c->w2 : series::canonical(c->w2)) == symbol)
            return i + 1 < n ? c + 1 : &none::value;
    }
    return &none::value;
}

Cell* copy_series(const Cell* block, bool deep, bool all_blocks) {
    const uint8_t type = cell::type(block);
    const uint32_t from = index_of(block);
    const uint32_t count = total(block) - from;
    if (deep && cycles::find(block->w2)) no_cycle();
    Cell* result = push_new(static_cast<int32_t>(std::max(count, 1u)));
    result->header = type;
    std::memcpy(static_cast<void*>(head_of(result)), head_of(block) + from, count * kCell);
    set_tail(result, count);
    if (!deep) return result;
    cycles::Push walking(block->w2);
    for (uint32_t i = 0; i < count; ++i) {
        const Cell* c = head_of(result) + i;
        const uint8_t t = cell::type(c);
        if (t != kTypeBlock && !(all_blocks && (t == kTypeParen || series::is_any_path(t))))
            continue;
        GcRoot nested(*c);
        const Cell* copied = copy_series(&nested.cell(), true, all_blocks);
        head_of(result)[i] = Cell{nested.cell().header, 0, copied->w2, 0};
        stack::pop(1);
    }
    return result;
}

void copy_deep_filter(const Cell* block, uint32_t from, uint32_t end, uint32_t stride, bool deep,
                      const Cell* types) {
    if (stride == 0) stride = 1;
    for (uint32_t i = from; i < end && i < total(block); i += stride) {
        const uint8_t t = cell::type(head_of(block) + i);
        if (!typeset::names_type(types, t) || !copyable(t)) continue;
        GcRoot item(head_of(block)[i]);
        actions::call<action::slot::copy>(
            &item.cell(), &item.cell(),
            {.deep = deep, .types = deep ? const_cast<Cell*>(types) : nullptr});
        if (i < total(block)) head_of(block)[i] = item.cell();
    }
}

void insert_value(Cell* block, const Cell* value, bool advance, bool at_head) {
    GcRoot keep(*value);
    reserve(block,
            static_cast<int64_t>(buffer_of(block)->tail - buffer_of(block)->head) / kCell + 1,
            true);
    const uint32_t n = total(block);
    const uint32_t at = at_head ? 0 : index_of(block);
    move_cells(block, at, at + 1, n - at);
    buffer_of(block)->tail += kCell;
    head_of(block)[at] = keep.cell();
    series::rehash(block, at, 0, 1);
    if (advance) block->w1 = at + 1;
}

void append_all(Cell* target, const Cell* source) {
    const uint32_t from = index_of(source);
    const uint32_t count = total(source) - from;
    for (uint32_t i = 0; i < count && from + i < total(source); ++i) {
        GcRoot item(head_of(source)[from + i]);
        insert_value(target, &item.cell(), true, false);
    }
}

void append_second_arg() {
    insert_value(stack::arguments - 1, stack::arguments, true, false);
}

void append_arg() {
    append_copy(stack::arguments - 1, stack::arguments);
    series::rehash(stack::arguments - 1, total(stack::arguments - 1) - 1, 0, 1);
}

Cell* append_next_arg() {
    append_copy(stack::arguments, stack::arguments + 1);
    series::rehash(stack::arguments, total(stack::arguments) - 1, 0, 1);
    return stack::arguments;
}

Cell* make_at(Cell* cell, int32_t capacity) {
    cell->header = kTypeUnset;
    const uint32_t node = memory::alloc_cells(static_cast<uint32_t>(std::max(capacity, 1)));
    *cell = Cell{kTypeBlock, 0, node, 0};
    return cell;
}

namespace {

// A buffer of unset cells, in the frames or outside them. May collect (not outside).
uint32_t unset_cells(int32_t capacity, bool outside) {
    const auto n = static_cast<uint32_t>(std::max(capacity, 1));
    if (!outside) return memory::alloc_unset_cells(n);
    const uint32_t node = memory::alloc_unmanaged_series(n, kCell, 0);
    Buffer* b = memory::buffer(node);
    Cell* c = reinterpret_cast<Cell*>(b->data());
    for (uint32_t i = 0; i < b->size / kCell; ++i) c[i] = Cell{kTypeUnset, 0, 0, 0};
    return node;
}

// The new block cell at the tail of `parent`, or the scratch cell. May collect.
Cell* place_for(const Cell* parent, uint32_t node) {
    if (!parent) {
        scratch = Cell{kTypeBlock, 0, node, 0};
        return &scratch;
    }
    GcRoot keep(node);
    Cell* c = memory::alloc_tail_cell(buffer_of(parent));
    *c = Cell{kTypeBlock, 0, keep.node(), 0};
    return c;
}

} // namespace

Cell* make_fixed_at(Cell* cell, int32_t capacity, bool outside) {
    cell->header = kTypeUnset;
    const uint32_t node = unset_cells(capacity, outside);
    *cell = Cell{kTypeBlock, 0, node, 0};
    return cell;
}

Cell* make_in(const Cell* parent, int32_t capacity) {
    return place_for(parent, unset_cells(capacity, true));
}

Cell* append_nested(const Cell* parent, int32_t capacity) {
    return place_for(parent, memory::alloc_cells(static_cast<uint32_t>(std::max(capacity, 1))));
}

Cell* push(const Cell* block) {
    return stack::push(*block);
}

Cell* push_new(int32_t capacity) {
    return make_at(stack::push_cell(), capacity == 0 ? 1 : capacity);
}

// --- make and to ----------------------------------------------------------------------------

Cell* make(Cell*, Cell* spec, int32_t type) {
    Cell* result = stack::push_cell();
    result->header = kTypeUnset;
    const uint8_t st = cell::type(spec);
    if (st == kTypeInteger || st == kTypeFloat) {
        make_at(result, check::int_arg(spec));
    } else if (series::is_any_block(st)) {
        *result = *copy_series(spec, false, false);
        stack::pop(1);
    } else if ((st == kTypeObject || st == kTypeMap || st == kTypeVector) && conversions[st]) {
        conversions[st](spec, result);
        return result; // keeps the type the conversion gives
    } else {
        Cell* datatype = datatype::push(static_cast<uint32_t>(type));
        error::fire(error::kScript, error::script::bad_make_arg, {datatype, spec});
    }
    cell::set_type(result, static_cast<uint8_t>(type));
    return result;
}

Cell* to(Cell*, Cell* spec, int32_t type) {
    Cell* result = stack::push_cell();
    result->header = kTypeUnset;
    const uint8_t st = cell::type(spec);
    const bool converted =
        st == kTypeObject || st == kTypeMap || st == kTypeVector || st == kTypeTypeset;
    if (st == kTypeString) {
        if (!conversions[st]) error::fire(error::kInternal, error::internal::not_done);
        conversions[st](spec, result);
    } else if (converted && conversions[st]) {
        conversions[st](spec, result);
    } else if (series::is_any_block(st)) {
        *result = *copy_series(spec, false, false);
        stack::pop(1);
    } else {
        make_at(result, 1);
        append_copy(result, spec);
    }
    cell::set_type(result, static_cast<uint8_t>(type));
    return result;
}

// --- Path access ----------------------------------------------------------------------------

Cell* eval_path(Cell* parent, Cell* element, Cell* value, const action::PathOptions& options) {
    const bool case_ = options.case_;
    const uint8_t et = cell::type(element);
    if (et == kTypeInteger) {
        const auto n = static_cast<int32_t>(element->w2);
        // pick answers in its first argument: give it a copy of the parent.
        if (!value) return actions::call<action::slot::pick>(stack::push(*parent), n, element);
        return actions::call<action::slot::poke>(parent, n, value, element);
    }
    if (!value) {
        if (et == kTypeWord && cell::type(parent) != kTypeHash)
            return stack::push(*find_word(parent, element, case_));
        return actions::call<action::slot::select>(parent, element, {.only = true, .case_ = case_});
    }
    Cell* found = actions::call<action::slot::find>(parent, element, {.case_ = case_});
    if (cell::type(found) == kTypeNone)
        error::fire(error::kScript, error::script::bad_path_set, {options.path, element});
    return actions::call<action::slot::poke>(found, 2, value, nullptr);
}

// --- Comparison -----------------------------------------------------------------------------

int32_t compare(Cell* value, Cell* other, int32_t op) {
    const uint8_t a = cell::type(value);
    const uint8_t b = cell::type(other);
    if (a != b) {
        const bool paths =
            (a == kTypePath && b == kTypeLitPath) || (a == kTypeLitPath && b == kTypePath);
        if (!paths || (op != action::op::parse_case && op != action::op::parse))
            return action::kNotComparable;
    }
    return compare_each(value, other, op);
}

int32_t compare_each(const Cell* a, const Cell* b, int32_t op) {
    if (a->w2 == b->w2 && a->w1 == b->w1) return 0;
    if (op == action::op::same) return -1;
    if (cycles::find(a->w2)) return cycles::find(b->w2) ? 0 : -1;
    const int64_t la = length_of(a);
    const int64_t lb = length_of(b);
    switch (op) {
    case action::op::equal:
    case action::op::not_equal:
    case action::op::strict_equal:
    case action::op::parse_case:
    case action::op::parse:
    case action::op::find:
        if (la != lb) return 1;
        break;
    default:
        break;
    }
    int32_t result = 0;
    {
        cycles::Push pa(a->w2);
        cycles::Push pb(b->w2);
        const uint32_t ia = index_of(a);
        const uint32_t ib = index_of(b);
        for (int64_t i = 0; i < std::min(la, lb) && result == 0; ++i) {
            // Comparisons allocate nothing: the addresses stay right during the walk.
            Cell* x = head_of(a) + ia + i;
            Cell* y = head_of(b) + ib + i;
            const uint8_t tx = cell::type(x);
            const uint8_t ty = cell::type(y);
            if (tx == ty || (traits::is_all_word(tx) && traits::is_all_word(ty)) ||
                (traits::is_number(tx) && traits::is_number(ty)))
                result = compare_cells(x, y, op);
            else
                result = tx < ty ? -1 : 1;
        }
    }
    if (result == 0) result = la < lb ? -1 : la > lb ? 1 : 0;
    return result;
}

// --- form and mold --------------------------------------------------------------------------

int32_t form(Cell* block, Cell* string, Cell* part, int32_t limit) {
    if (cycles::detect(block, string, &limit, false)) return limit;
    cycles::Push walking(block->w2);
    for (uint32_t i = index_of(block); i < total(block); ++i) {
        if (part && limit < 1) break;
        if (i > index_of(block) && !ends_with_break(string)) {
            string::concatenate_cstring(string, " ");
            --limit;
        }
        if (i >= total(block)) break; // forming may have changed the block
        GcRoot item(head_of(block)[i]);
        limit = actions::form(&item.cell(), string, part, limit);
    }
    return limit;
}

int32_t mold(Cell* block, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent) {
    if (cycles::detect(block, string, &limit, true)) return limit;
    if (!options.only) {
        string::concatenate_cstring(string, "[");
        --limit;
    }
    limit = mold_cells(block, string, options, limit, indent);
    if (!options.only) {
        string::concatenate_cstring(string, "]");
        --limit;
    }
    return limit;
}

int32_t mold_cells(Cell* block, Cell* string, const action::MoldOptions& options, int32_t limit,
                   int32_t indent) {
    cycles::Push walking(block->w2);
    const uint32_t first = index_of(block);
    bool opened = false;
    for (uint32_t i = first; i < total(block); ++i) {
        if (options.part && limit < 1) return limit;
        GcRoot item(head_of(block)[i]);
        if (!options.flat && (item.cell().header & cell::kNewLine)) {
            if (!options.only && i == first) {
                opened = true;
                ++indent;
            }
            if (!(options.only && i == first)) {
                string::concatenate_cstring(string, "\n");
                --limit;
            }
            limit = mold::indent(string, indent, limit);
        } else if (i > first) {
            string::concatenate_cstring(string, " ");
            --limit;
        }
        limit = actions::mold(&item.cell(), string, options.nested(), limit, indent);
    }
    if (opened) {
        --indent;
        string::concatenate_cstring(string, "\n");
        limit = mold::indent(string, indent, limit - 1);
    }
    return limit;
}

// --- insert and append ----------------------------------------------------------------------

namespace {

// What an insertion or change writes, read from the cells as they are now.
struct Plan {
    bool spread;
    int64_t count; // cells of the value: its length from its index, or 1
    int64_t part;  // cells taken from the value
    int64_t dup;
    uint32_t index; // the series' index, clamped
    uint32_t total;
};

Plan plan_for(Cell* series, const Cell* value, int32_t part, bool only, int32_t dup) {
    Plan p{};
    p.spread = series::is_any_block(cell::type(value)) && !only;
    p.count = p.spread ? length_of(value) : 1;
    p.part = part < 0 || part > p.count ? p.count : part;
    p.dup = std::max(dup, 0);
    p.index = index_of(series);
    series->w1 = p.index;
    p.total = total(series);
    return p;
}

// The source of the written cells: a node and an index. A value that shares the series'
// buffer is copied first, so that moving the series' cells cannot change what is read.
struct Source {
    GcRoot node;
    uint32_t index = 0;
};

void take_source(Source& source, const Cell* series, const Cell* value, int64_t part) {
    if (value->w2 == series->w2) {
        source.node.set_node(
            series::copy_part(value->w2, index_of(value), static_cast<uint32_t>(part)));
        source.index = 0;
    } else {
        source.node.set_node(value->w2);
        source.index = index_of(value);
    }
}

// Writes `count` cells of the source (or the single value) at cell `at`, then repeats them
// `dup` times.
void write_cells(const Cell* series, uint32_t at, const Plan& p, int64_t count,
                 const Source& source, const Cell* value) {
    Cell* to = head_of(series) + at;
    if (p.spread) {
        Buffer* s = memory::buffer(source.node.node());
        std::memcpy(static_cast<void*>(to), s->cells() + source.index, count * kCell);
    } else {
        *to = *value;
    }
    memory::repeat_fill(reinterpret_cast<uint8_t*>(to), static_cast<uint32_t>(count * kCell),
                        static_cast<uint32_t>(p.dup));
}

} // namespace

Cell* insert(Cell* series, Cell* value, const action::InsertOptions& options) {
    Plan p = plan_for(series, value, options.part, options.only, options.dup);
    if (p.count == 0) return series;
    int64_t n = p.part * p.dup;
    if (n > 0xFFFFFFFFll) no_memory();
    const Action before = options.append ? Action::append : Action::insert;
    const uint32_t at_before = options.append ? p.total : p.index;
    const bool owned = series::notify(series, before, value, static_cast<int32_t>(at_before),
                                      static_cast<int32_t>(n));
    if (owned) {
        p = plan_for(series, value, options.part, options.only, options.dup);
        n = p.part * p.dup;
    }
    if (n > kMaxCells || p.total + n > kMaxCells) no_memory();
    const uint32_t at = options.append || p.index == p.total ? p.total : p.index;
    if (n > 0) {
        Source source;
        if (p.spread) take_source(source, series, value, p.part);
        reserve(series, p.total + n, p.dup < 5);
        move_cells(series, at, static_cast<uint32_t>(at + n), p.total - at);
        buffer_of(series)->tail += static_cast<uint32_t>(n * kCell);
        write_cells(series, at, p, p.part, source, value);
        series::rehash(series, at, 0, static_cast<uint32_t>(n));
    }
    if (owned)
        series::notify(series, options.append ? Action::appended : Action::inserted, value,
                       static_cast<int32_t>(at_before), static_cast<int32_t>(n));
    series->w1 =
        options.append ? 0 : std::min<uint32_t>(static_cast<uint32_t>(p.index + n), total(series));
    return series;
}

// --- change ---------------------------------------------------------------------------------

Cell* change(Cell* series, Cell* value, const action::ChangeOptions& options) {
    const int32_t part = options.part;
    Plan p = plan_for(series, value, -1, options.only, options.dup);
    int64_t rest = p.total - p.index;
    int64_t given = part >= 0 ? std::min<int64_t>(part, rest) : -1;
    int64_t notified = given >= 0 ? given : std::min(p.count * p.dup, rest);
    const bool owned = series::notify(series, Action::change, value, static_cast<int32_t>(p.index),
                                      static_cast<int32_t>(notified));
    if (owned) {
        p = plan_for(series, value, -1, options.only, options.dup);
        rest = p.total - p.index;
        given = part >= 0 ? std::min<int64_t>(part, rest) : -1;
    }
    const int64_t written = p.count * p.dup;
    const int64_t removed = given >= 0 ? given : std::min(rest, written);
    const int64_t length = p.total + written - removed;
    if (written > kMaxCells || length > kMaxCells) no_memory();
    Source source;
    if (p.spread && p.count > 0) take_source(source, series, value, p.count);
    reserve(series, length, false);
    if (written != removed) {
        const uint32_t after = static_cast<uint32_t>(p.index + removed);
        move_cells(series, after, static_cast<uint32_t>(p.index + written), p.total - after);
        set_tail(series, static_cast<uint32_t>(length));
    }
    if (written > 0) write_cells(series, p.index, p, p.count, source, value);
    series::rehash(series, p.index, static_cast<uint32_t>(removed), static_cast<uint32_t>(written));
    if (owned)
        series::notify(series, Action::changed, value, static_cast<int32_t>(p.index),
                       static_cast<int32_t>(written));
    series->w1 = static_cast<uint32_t>(std::min<int64_t>(p.index + written, total(series)));
    return series;
}

// --- put ------------------------------------------------------------------------------------

Cell* put(Cell* series, Cell* key, Cell* value, const action::PutOptions& options) {
    Cell* found = actions::call<action::slot::find>(series, key, {.case_ = options.case_});
    if (cell::type(found) == kTypeNone) {
        const auto at = static_cast<int32_t>(length_of(series));
        const bool owned = series::notify(series, Action::put, value, at, 1);
        append_copy(series, key);
        append_copy(series, value);
        series::rehash(series, total(series) - 2, 0, 2);
        if (owned) series::notify(series, Action::put_ed, value, at, 1);
        return value;
    }
    const uint32_t k = index_of(found);
    const bool owned = series::notify(found, Action::put, value, static_cast<int32_t>(k + 1), 1);
    const uint32_t n = total(found);
    if (k + 1 < n) {
        Cell* next = head_of(found) + k + 1;
        if (!same_value(next, value, action::op::find)) {
            *next = *value;
            series::rehash(found, k + 1, 1, 1);
        }
    } else if (k < n) {
        append_copy(found, value);
        series::rehash(found, k + 1, 0, 1);
    }
    if (owned) series::notify(found, Action::put_ed, value, static_cast<int32_t>(k + 1), 1);
    return value;
}

// --- take, swap, trim -----------------------------------------------------------------------

Cell* take(Cell* series, const action::TakeOptions& options) {
    if (length_of(series) < 1) return none::make_at(series);
    Cell* taken = series::take(series, options);
    if (cell::type(taken) == kTypeNone) return taken;
    if (options.deep) {
        for (uint32_t i = 0; i < total(taken); ++i) {
            const uint8_t t = cell::type(head_of(taken) + i);
            if (!series::is_series(t)) continue;
            GcRoot item(head_of(taken)[i]);
            actions::call<action::slot::copy>(&item.cell(), &item.cell(), {.deep = true});
            head_of(taken)[i] = item.cell();
        }
    }
    if (!options.part) {
        // The one-cell result lives in the shared take scratch series: hand out its value.
        if (total(taken) != 1) return none::make_at(taken);
        const Cell value = head_of(taken)[0];
        *taken = value;
    }
    return taken;
}

Cell* swap(Cell* series, Cell* other) {
    if (!series::is_any_block(cell::type(other)))
        error::fire(error::kScript, error::script::invalid_arg, {other});
    uint32_t i = index_of(series);
    uint32_t j = index_of(other);
    if (i >= total(series) || j >= total(other)) return series;
    const bool first = series::notify(series, Action::swap, nullptr, static_cast<int32_t>(i), 1);
    const bool second = series::notify(other, Action::swap, nullptr, static_cast<int32_t>(j), 1);
    i = index_of(series);
    j = index_of(other);
    if (i < total(series) && j < total(other)) {
        std::swap(head_of(series)[i], head_of(other)[j]);
        if (series->w2 == other->w2) {
            // Both cells changed before either table update: one change of the span.
            const uint32_t low = std::min(i, j), span = std::max(i, j) - low + 1;
            series::rehash(cell::type(series) == kTypeHash ? series : other, low, span, span);
        } else {
            series::rehash(series, i, 1, 1);
            series::rehash(other, j, 1, 1);
        }
    }
    if (first) series::notify(series, Action::swaped, nullptr, static_cast<int32_t>(i), 1);
    if (second) series::notify(other, Action::swaped, nullptr, static_cast<int32_t>(j), 1);
    return series;
}

Cell* trim(Cell* series, const action::TrimOptions&) {
    const uint32_t index = index_of(series);
    const bool owned =
        series::notify(series, Action::trim, nullptr, static_cast<int32_t>(index), 0);
    const uint32_t n = total(series);
    Cell* head = head_of(series);
    const uint32_t from = index_of(series);
    uint32_t kept = from;
    for (uint32_t i = kept; i < n; ++i)
        if (cell::type(head + i) != kTypeNone) head[kept++] = head[i];
    set_tail(series, kept);
    if (kept < n) series::rehash(series, from, n - from, kept - from);
    if (owned) series::notify(series, Action::trimmed, nullptr, static_cast<int32_t>(index), 0);
    return series;
}

// --- copy -----------------------------------------------------------------------------------

Cell* copy(Cell* series, Cell* result, const action::CopyOptions& options) {
    const bool deep = options.deep;
    Cell* const types = options.types;
    std::optional<cycles::Push> walking;
    if (deep) {
        if (cycles::find(series->w2)) no_cycle();
        walking.emplace(series->w2);
    }
    const bool hash = cell::type(series) == kTypeHash;
    series::copy(series, result, options);
    if (!deep && !types) return result;
    if (hash) cell::set_type(result, kTypeBlock);
    if (types) {
        copy_deep_filter(result, 0, total(result), 1, deep, types);
        return result;
    }
    for (uint32_t i = 0; i < total(result); ++i) {
        const uint8_t t = cell::type(head_of(result) + i);
        if (!series::is_series(t)) continue;
        GcRoot item(head_of(result)[i]);
        actions::call<action::slot::copy>(&item.cell(), &item.cell(), {.deep = true});
        if (i < total(result)) head_of(result)[i] = item.cell();
    }
    return result;
}

// --- find and select ------------------------------------------------------------------------

namespace {

enum class Match { single, type, typeset, sequence };

struct Search {
    Match match = Match::single;
    int32_t op = action::op::find;
    int64_t sub_index = 0; // the sub-sequence: from its index, `sub_length` cells
    int64_t sub_length = 0;
    int64_t found = -1; // position of the match
};

// Whether the cells from `position` match; `bound` is one past the last cell that may be
// compared.
bool matches_at(const Cell* series, const Cell* value, int64_t position, int64_t bound,
                const Search& s) {
    const Cell* c = head_of(series) + position;
    switch (s.match) {
    case Match::type:
        return cell::type(c) == value->w1;
    case Match::typeset:
        return typeset::names_type(value, cell::type(c));
    case Match::single:
        return same_value(c, value, s.op);
    case Match::sequence:
        if (position + s.sub_length > bound) return false;
        for (int64_t j = 0; j < s.sub_length; ++j) {
            Cell* x = head_of(series) + position + j;
            Cell* y = head_of(value) + s.sub_index + j;
            if (!same_value(x, y, s.op)) return false;
        }
        return true;
    }
    return false;
}

// Whether a find goes through the hash! table: single values of a hash! that has one, except
// under /match and for the values that the table cannot answer by their hash (any-block!
// values unless looked up by identity, objects unless by identity).
bool searched_by_table(const Cell* series, const Cell* value, const Search& s,
                       const action::FindOptions& options) {
    if (cell::type(series) != kTypeHash || series->w3 == 0 || options.match ||
        s.match != Match::single)
        return false;
    const uint8_t vt = cell::type(value);
    if (series::is_any_block(vt)) return options.same && options.only;
    return vt != kTypeObject || options.same;
}

// The table search of a hash! (`result` is the pushed copy of the series). It visits the same
// cells as the linear search: forward from the index by the step up to the last searched
// cell, backward from the start position (the last searched cell, the last cell, or the cell
// before the index) to the head by the step. The lookup may rebuild the table (may collect).
Cell* find_in_table(Cell* result, const Cell* value, int32_t op, int64_t index, int64_t step,
                    int64_t last_cell, const action::FindOptions& options) {
    const bool last = options.last;
    const bool backward = last || options.reverse;
    int64_t found;
    if (!backward) {
        found = hashtable::find_all(result->w3, *value, static_cast<int32_t>(index),
                                    static_cast<int32_t>(step), op);
        if (found > last_cell) found = -1;
    } else {
        const int64_t from = options.part || last ? last_cell : index - 1;
        if (from < 0) return none::make_at(result);
        found = hashtable::find_all(result->w3, *value, static_cast<int32_t>(from + 1),
                                    static_cast<int32_t>(step), op, true, true);
    }
    if (found < 0) return none::make_at(result);
    if (options.tail) found += backward ? 1 : step;
    result->w1 = static_cast<uint32_t>(found);
    return result;
}

} // namespace

Cell* find(Cell* series, Cell* value, const action::FindOptions& options) {
    Cell* const part = options.part;
    Cell* const skip = options.skip;
    const bool only = options.only, same = options.same, last = options.last;
    const bool reverse = options.reverse, tail = options.tail, match = options.match;
    Cell* result = stack::push(*series);
    const int64_t n = total(series);
    const int64_t index = index_of(series);
    if (n == 0 || (index >= n && !reverse)) return none::make_at(result);
    int64_t step = 1;
    if (skip) {
        if (!is_integer(skip)) series::invalid_refine(refinements::refinement.skip, skip);
        step = static_cast<int32_t>(skip->w2);
        if (step < 1) error::fire(error::kScript, error::script::out_of_range, {skip});
    }
    int64_t last_cell = n - 1;
    if (part) {
        if (is_integer(part)) {
            const int32_t count = static_cast<int32_t>(part->w2);
            if (count < 1) return none::make_at(result);
            last_cell = index + count - 1;
        } else if (cell::type(part) == cell::type(series) && part->w2 == series->w2) {
            last_cell = static_cast<int32_t>(part->w1);
        } else {
            series::invalid_refine(refinements::refinement.part, part);
        }
        last_cell = std::min(last_cell, n - 1);
    }

    Search s;
    const uint8_t vt = cell::type(value);
    if (!only && vt == kTypeDatatype) {
        s.match = Match::type;
    } else if (!only && vt == kTypeTypeset) {
        s.match = Match::typeset;
    } else if (!only && series::is_any_block(vt)) {
        s.match = Match::sequence;
        s.sub_index = index_of(value);
        s.sub_length = length_of(value);
        // An empty sub-sequence has nothing to find.
        if (s.sub_length == 0) return none::make_at(result);
    }
    s.op = same ? action::op::same : options.case_ ? action::op::strict_equal : action::op::find;

    const int64_t width = s.match == Match::sequence ? s.sub_length : 1;
    const bool backward = last || reverse;
    if (searched_by_table(series, value, s, options))
        return find_in_table(result, value, s.op, index, step, last_cell, options);
    int64_t position;
    int64_t bound; // forward: one past the last searched cell; backward: the tail
    if (!backward) {
        position = index;
        bound = part ? last_cell + 1 : n;
    } else {
        step = -step;
        bound = n;
        if (part)
            position = last_cell;
        else if (last)
            position = n - width;
        else
            position = index - width;
        if (position < 0) return none::make_at(result);
    }
    for (; backward ? position >= 0 : position < bound; position += step) {
        if (matches_at(series, value, position, bound, s)) {
            s.found = position;
            break;
        }
        if (match) break;
    }
    if (s.found < 0) return none::make_at(result);
    int64_t at = s.found;
    if (tail) at += s.match == Match::sequence ? s.sub_length : backward ? 1 : step;
    result->w1 = static_cast<uint32_t>(at);
    return result;
}

Cell* select(Cell* series, Cell* value, const action::FindOptions& options) {
    action::FindOptions search = options;
    search.tail = search.match = false;
    Cell* found = find(series, value, search);
    if (cell::type(found) == kTypeNone) return found;
    const uint8_t vt = cell::type(value);
    const bool sequence =
        !options.only && (vt == kTypeBlock || vt == kTypeParen || series::is_any_path(vt));
    const int64_t after = static_cast<int64_t>(found->w1) + (sequence ? length_of(value) : 1);
    if (after >= total(found)) return none::make_at(found);
    *found = head_of(found)[after];
    return found;
}

// --- Set operations -------------------------------------------------------------------------

namespace {

// Whether the first cell of a record equals the first cell of a record of `set` (from its
// index, every `step` cells), by `op`; any-block! values by the find comparison with /only.
bool contains(const Cell* set, uint32_t from, uint32_t step, const Cell* value, int32_t op) {
    const bool block_value = series::is_any_block(cell::type(value));
    const uint32_t n = total(set);
    for (uint32_t i = from; i < n; i += step) {
        Cell* c = head_of(set) + i;
        if (same_value(c, value, block_value ? action::op::find : op)) return true;
    }
    return false;
}

// Whether `key` is the first cell of a record of `set` (records from `from`, `step` cells
// each): through `table`, which indexes the set, or for an any-block! key by a linear find
// with /only. May collect (a table whose nodes moved is rebuilt first).
bool is_member(const Cell* set, uint32_t table, uint32_t from, uint32_t step, const Cell& key,
               int32_t op) {
    if (series::is_any_block(cell::type(&key))) return contains(set, from, step, &key, op);
    return hashtable::find_all(table, key, static_cast<int32_t>(from), static_cast<int32_t>(step),
                               op) >= 0;
}

// Records of `step` cells from the index of a set (a shorter last one included).
uint32_t records_of(const Cell* set, uint32_t step) {
    const uint64_t cells = total(set) - index_of(set);
    return static_cast<uint32_t>((cells + step - 1) / step);
}

} // namespace

Cell* set_operation(bool case_, const Cell* skip, int32_t operation) {
    uint32_t step = 1;
    if (skip) {
        if (!is_integer(skip) || static_cast<int32_t>(skip->w2) < 1)
            series::invalid_refine(refinements::refinement.skip, skip);
        step = skip->w2;
    }
    Cell* first = stack::arguments;
    Cell* second = stack::arguments + 1;
    const bool two = operation != kUnique;
    first->w1 = index_of(first);
    if (two) second->w1 = index_of(second);
    const int64_t capacity =
        static_cast<int64_t>(total(first) - first->w1) + (two ? total(second) - second->w1 : 0);
    if (capacity > kMaxCells) no_memory();
    const bool hash = cell::type(first) == kTypeHash || (two && cell::type(second) == kTypeHash);
    // Room for every cell the result can take: appending a record never grows the buffer.
    Cell* result = push_new(static_cast<int32_t>(std::max<int64_t>(capacity, 1)));
    // The result's table indexes the first cell of each kept record, or every cell when the
    // result is to be a hash! (it becomes that hash!'s table).
    const uint32_t keys = hash ? static_cast<uint32_t>(capacity)
                               : static_cast<uint32_t>((capacity + step - 1) / step);
    hashtable::Root kept(hashtable::init(keys, result, hashtable::kHash));
    const int32_t op = case_ ? action::op::strict_equal : action::op::equal;
    const bool against_other =
        operation == kIntersect || operation == kExclude || operation == kDifference;
    const int passes = operation == kUnion || operation == kDifference ? 2 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        const Cell* set = pass == 0 ? first : second;
        const Cell* other = pass == 0 ? second : first;
        // The other set is searched through its own table when it is a hash! that has one,
        // else through one made over it for this pass.
        hashtable::Root others(0);
        if (against_other) {
            if (cell::type(other) == kTypeHash && other->w3 != 0)
                others.set(other->w3);
            else
                others.set(hashtable::init_range(records_of(other, step), *other, other->w1, step));
        }
        for (uint32_t i = set->w1; i < total(set); i += step) {
            GcRoot key(head_of(set)[i]);
            if (against_other) {
                const bool found = is_member(other, others.node(), other->w1, step, key.cell(), op);
                if (found != (operation == kIntersect)) continue;
            }
            if (is_member(result, kept.node(), 0, step, key.cell(), op)) continue;
            const uint32_t cells = std::min(step, total(set) - i);
            const uint32_t at = total(result);
            Buffer* r = buffer_of(result);
            std::memcpy(static_cast<void*>(r->cells_tail()), head_of(set) + i, cells * kCell);
            r->tail += cells * static_cast<uint32_t>(kCell);
            for (uint32_t c = 0; c < (hash ? cells : 1u); ++c) hashtable::put(kept.node(), at + c);
        }
    }
    const uint8_t type = hash ? static_cast<uint8_t>(kTypeHash) : cell::type(first);
    *first = Cell{type, 0, result->w2, hash ? kept.node() : 0};
    stack::pop(1);
    return first;
}

// --- Registration ---------------------------------------------------------------------------

void register_actions() {
    scratch = Cell{};
    std::fill(std::begin(conversions), std::end(conversions), nullptr);
    detail::reset_sort_scratch();
    collector::add_marker(mark_scratch);
    namespace s = action::slot;
    action::Row row;
    row.set<action::slot::make>(make)
        .set<action::slot::to>(to)
        .set<action::slot::form>(form)
        .set<action::slot::mold>(mold)
        .set<action::slot::eval_path>(eval_path)
        .set<action::slot::compare>(compare)
        .set<action::slot::append>(insert)
        .set<action::slot::insert>(insert)
        .set<action::slot::change>(change)
        .set<action::slot::copy>(copy)
        .set<action::slot::find>(find)
        .set<action::slot::put>(put)
        .set<action::slot::select>(select)
        .set<action::slot::sort>(sort)
        .set<action::slot::swap>(swap)
        .set<action::slot::take>(take)
        .set<action::slot::trim>(trim)
        .inherit({s::random, s::reflect, s::at, s::back, s::clear, s::head, s::head_q, s::index_q,
                  s::length_q, s::move, s::next, s::pick, s::poke, s::remove, s::reverse, s::skip,
                  s::tail, s::tail_q, s::modify});
    datatype::register_({kTypeBlock, kTypeSeries, "block!", row.entries()});
}

} // namespace block
