#include "datatypes/map.h"

#include <vector>

#include "datatypes/block.h"
#include "datatypes/compound.h"
#include "datatypes/context.h"
#include "datatypes/cycles.h"
#include "datatypes/datatype.h"
#include "datatypes/dispatch.h"
#include "datatypes/form-mold.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/words.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/hashtable.h"
#include "runtime-core/memory.h"
#include "runtime-core/support.h"
#include "runtime-core/type-traits.h"

namespace map {

using memory::Buffer;

namespace {

Buffer* pairs_of(const Cell* map) {
    return memory::buffer(map->w2);
}

uint32_t cell_count(const Cell* map) {
    return pairs_of(map)->length();
}

Cell* pair_at(const Cell* map, uint32_t index) {
    return pairs_of(map)->cells() + index;
}

bool removed(const Cell* map, uint32_t key_index) {
    return pair_at(map, key_index + 1)->header == 0;
}

bool is_series_key(uint8_t type) {
    return series::is_any_string(type) || type == kTypeBinary;
}

[[noreturn]] void invalid_key(const Cell* map, const Cell* key) {
    Cell* t = datatype::push(cell::type(key));
    error::fire(error::kScript, error::script::invalid_path, {map ? map : &none::value, t});
}

// The cell index of a key's pair (removed pairs included), or -1.
int32_t find_key(const Cell* map, const Cell* key, int code) {
    if (map->w3 == 0) return -1;
    return hashtable::find_all(map->w3, *key, 0, 1, code);
}

// A key as readers answer it: a set-word as a word!.
Cell as_read(Cell key) {
    if (cell::type(&key) == kTypeSetWord) cell::set_type(&key, kTypeWord);
    return cell::clear_new_line(&key), key;
}

// Copies the series values of a map's pairs for copy/deep, each through its own copy: a map
// that is already being copied raises internal/no-cycle. May collect.
void copy_values_deep(const Cell* map) {
    for (uint32_t i = 1; i < cell_count(map); i += 2) {
        const uint8_t type = cell::type(pair_at(map, i));
        if (type == kTypeMap) {
            if (cycles::find(pair_at(map, i)->w2))
                error::fire(error::kInternal, error::internal::no_cycle);
        } else if (!series::is_series(type)) {
            continue;
        }
        GcRoot value(*pair_at(map, i));
        actions::call<action::slot::copy>(&value.cell(), &value.cell(), {.deep = true});
        const Cell copied = value.cell();
        *pair_at(map, i) = copied;
    }
}

} // namespace

namespace {

// The table indexes keys that differ only in case apart (it merged strictly equal ones while
// it was built): such a key is the same key of the map, so its later pair gives its value to
// the first one and leaves the block. The table is then built again over the pairs left.
// May collect.
void merge_case_variants(Cell* map) {
    std::vector<bool> merged;
    bool any = false;
    for (uint32_t l = 0; l + 1 < cell_count(map); l += 2) {
        const int32_t e = find_key(map, pair_at(map, l), 0);
        const bool later = e >= 0 && static_cast<uint32_t>(e) < l;
        if (later) *pair_at(map, static_cast<uint32_t>(e) + 1) = *pair_at(map, l + 1);
        merged.push_back(later);
        any = any || later;
    }
    if (!any) return;
    Buffer* b = pairs_of(map);
    Cell* cells = b->cells();
    uint32_t kept = 0;
    for (uint32_t pair = 0; pair < merged.size(); ++pair) {
        if (merged[pair]) continue;
        cells[kept] = cells[2 * pair];
        cells[kept + 1] = cells[2 * pair + 1];
        kept += 2;
    }
    b->tail = b->head + kept * static_cast<uint32_t>(sizeof(Cell));
    hashtable::clear(map->w3);
    for (uint32_t l = 0; l < kept; l += 2) hashtable::put(map->w3, l);
}

} // namespace

Cell* make_at(Cell* cell, uint32_t block, uint32_t size) {
    GcRoot pairs(block ? block : memory::alloc_cells(size * 2 > 2 ? size * 2 : 2));
    const Cell source{kTypeBlock, 0, pairs.node(), 0};
    GcRoot held(source);
    const uint32_t count = memory::buffer(pairs.node())->length() / 2;
    const uint32_t table =
        hashtable::init(count > size ? count : size, &held.cell(), hashtable::kMap);
    GcRoot made(Cell{kTypeMap, 0, held.cell().w2, table});
    merge_case_variants(&made.cell());
    *cell = made.cell();
    return cell;
}

Cell* push(const Cell* map) {
    return stack::push(*map);
}

bool valid_key_type(uint8_t type) {
    return traits::in(type, traits::kScalar | traits::kAllWord | traits::kAnyString) ||
           type == kTypeBinary;
}

void key_prepare(uint32_t block, uint32_t index) {
    Cell* key = memory::buffer(block)->cells() + index;
    const uint8_t type = cell::type(key);
    if (!valid_key_type(type)) invalid_key(nullptr, key);
    if (traits::is_any_word(type)) {
        cell::set_type(key, kTypeSetWord);
    } else if (is_series_key(type)) {
        GcRoot held(Cell{kTypeBlock, 0, block, 0});
        const Cell k = *key;
        const uint32_t node = series::copy_part(k.w2, series::clamped_index(&k), 0x7FFFFFFF);
        key = memory::buffer(held.cell().w2)->cells() + index;
        *key = Cell{k.header, 0, node, 0};
    }
    cell::clear_new_line(key);
}

Cell* put(Cell* map, Cell* key, Cell* value, bool case_) {
    if (!valid_key_type(cell::type(key))) invalid_key(map, key);
    int32_t index = find_key(map, key, case_ ? 2 : 0);
    if (index < 0) {
        const Cell held_block{kTypeBlock, 0, map->w2, 0};
        GcRoot pairs(held_block);
        index = static_cast<int32_t>(cell_count(map));
        block::append_copy(&pairs.cell(), key);
        block::append_copy(&pairs.cell(), value);
        hashtable::put(map->w3, static_cast<uint32_t>(index));
        key_prepare(map->w2, static_cast<uint32_t>(index));
        return value;
    }
    if (removed(map, static_cast<uint32_t>(index))) ++hashtable::record(map->w3)->size;
    *pair_at(map, static_cast<uint32_t>(index) + 1) = *value;
    cell::clear_new_line(pair_at(map, static_cast<uint32_t>(index) + 1));
    return value;
}

Cell* extend(Cell* map, Cell* block, bool case_) {
    const int32_t count = block::length_from_index(block);
    if (count % 2 != 0) compound::invalid_arg(block);
    for (int32_t i = 0; i + 1 < count; i += 2) {
        const uint32_t at = series::clamped_index(block) + static_cast<uint32_t>(i);
        Cell* key = stack::push(*block::cell_at(block, at));
        Cell* value = stack::push(*block::cell_at(block, at + 1));
        put(map, key, value, case_);
        stack::pop(2);
    }
    return map;
}

Cell* get(const Cell* map, const Cell* key, bool case_) {
    if (!valid_key_type(cell::type(key))) invalid_key(map, key);
    const int32_t index = find_key(map, key, case_ ? 2 : 0);
    if (index < 0 || removed(map, static_cast<uint32_t>(index))) return nullptr;
    return pair_at(map, static_cast<uint32_t>(index) + 1);
}

uint32_t live_count(const Cell* map) {
    return map->w3 ? hashtable::record(map->w3)->size : 0;
}

bool foreach_next(const Cell* words, const Cell* map, uint32_t& position) {
    const int32_t count = block::length_from_index(words);
    for (int32_t i = 0; i < count; ++i)
        if (!traits::is_any_word(
                cell::type(block::cell_at(words, series::clamped_index(words) + i))))
            compound::invalid_arg(block::cell_at(words, series::clamped_index(words) + i));
    auto next_live = [&] {
        while (position + 1 < cell_count(map) && removed(map, position)) position += 2;
        return position + 1 < cell_count(map);
    };
    if (!next_live()) return false;
    for (int32_t i = 0; i < count; ++i) {
        Cell* word = stack::push(*block::cell_at(words, series::clamped_index(words) + i));
        Cell* value = stack::push_cell();
        value->header = kTypeNone;
        if (i % 2 == 0 && next_live()) {
            *value = as_read(*pair_at(map, position));
            if (i == count - 1) position += 2; // no word is left for its value
        } else if (i % 2 == 1 && position + 1 < cell_count(map)) {
            *value = *pair_at(map, position + 1);
            position += 2;
        }
        context::set_word(word, value);
        stack::pop(2);
    }
    return true;
}

int32_t form_entries(const Cell* map, Cell* string, bool mold, bool flat, int32_t limit,
                     int32_t indent) {
    bool first = true;
    for (uint32_t i = 0; i + 1 < cell_count(map) && limit > 0; i += 2) {
        if (removed(map, i)) continue;
        if (flat) {
            if (!first) {
                string::concatenate_cstring(string, " ");
                --limit;
            }
        } else if (mold || !first) {
            string::concatenate_cstring(string, "\n");
            --limit;
            if (mold) limit = mold::indent(string, indent + 1, limit);
        }
        first = false;
        // Copies on the data stack: molding may move the pair block.
        Cell* key = stack::push(*pair_at(map, i));
        cell::clear_new_line(key);
        limit = actions::mold(key, string, {.flat = flat}, limit, indent + 1);
        string::concatenate_cstring(string, " ");
        --limit;
        Cell* value = stack::push(*pair_at(map, i + 1));
        limit = actions::mold(value, string, {.flat = flat}, limit, indent + 1);
        stack::pop(2);
    }
    if (mold && !flat && !first) {
        string::concatenate_cstring(string, "\n");
        limit = mold::indent(string, indent, limit - 1);
    }
    return limit;
}

int32_t compare_maps(const Cell* a, const Cell* b, int32_t op) {
    if (a->w2 == b->w2) return 0;
    // A map met again while comparing is equal only to itself.
    if (cycles::find(a->w2) || cycles::find(b->w2)) return 1;
    if (live_count(a) != live_count(b)) return 1;
    cycles::Push in_a(a->w2);
    cycles::Push in_b(b->w2);
    const bool strict = op == action::op::strict_equal;
    for (uint32_t i = 0; i + 1 < cell_count(a); i += 2) {
        if (removed(a, i)) continue;
        Cell key = *pair_at(a, i);
        Cell value = *pair_at(a, i + 1);
        const int32_t j = find_key(b, &key, strict ? 2 : 0);
        if (j < 0 || removed(b, static_cast<uint32_t>(j))) return 1;
        Cell theirs = *pair_at(b, static_cast<uint32_t>(j) + 1);
        if (!actions::compare(&value, &theirs,
                              strict ? action::op::strict_equal : action::op::equal))
            return 1;
    }
    return 0;
}

// --- Slot functions -------------------------------------------------------------------------

Cell* to(Cell*, Cell* spec, int32_t) {
    const uint8_t st = cell::type(spec);
    Cell* result = stack::push_cell();
    result->header = kTypeNone;
    if (series::is_any_list(st)) {
        if (block::length_from_index(spec) % 2 != 0) compound::invalid_arg(spec);
        const Cell copied = *block::copy_series(spec, false, false);
        stack::pop(1);
        Buffer* b = memory::buffer(copied.w2);
        for (Cell* c = b->cells(); c < b->cells_tail(); ++c) cell::clear_new_line(c);
        GcRoot pairs(copied);
        return make_at(result, pairs.cell().w2, 0);
    }
    if (st == kTypeMap) {
        return copy(spec, result, {});
    }
    compound::bad_to_arg(kTypeMap, spec);
}

Cell* make(Cell* prototype, Cell* spec, int32_t type) {
    const uint8_t st = cell::type(spec);
    if (st != kTypeInteger && st != kTypeFloat) return to(prototype, spec, type);
    const int32_t size = check::int_arg(spec);
    if (size < 0) compound::out_of_range(spec);
    if (size > 0x3FFFFFF) error::fire(error::kInternal, error::internal::no_memory);
    Cell* result = stack::push_cell();
    result->header = kTypeNone;
    return make_at(result, 0, size > 0 ? static_cast<uint32_t>(size) : 1);
}

Cell* reflect(Cell* value, int32_t field_symbol) {
    const auto field = static_cast<uint32_t>(field_symbol);
    const bool keys = field == words::symbol.words, values = field == words::symbol.values,
               body = field == words::symbol.body;
    if (!keys && !values && !body) compound::not_done();
    const uint32_t live = live_count(value);
    Cell* result = block::push_new(static_cast<int32_t>(body ? live * 2 : live));
    for (uint32_t i = 0; i + 1 < cell_count(value); i += 2) {
        if (removed(value, i)) continue;
        if (keys || body) {
            // words-of answers word keys as words; body-of keeps them as the map holds them
            // (set-words), so that the body reads as a spec of the map.
            Cell key = *pair_at(value, i);
            if (body) {
                key.header |= cell::kNewLine;
            } else {
                key = as_read(key);
            }
            block::append_copy(result, &key);
        }
        if (values || body) {
            const Cell v = *pair_at(value, i + 1);
            block::append_copy(result, &v);
        }
    }
    return result;
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent) {
    if (cycles::detect(value, string, &limit, true)) return limit;
    cycles::Push inside(value->w2);
    if (!options.only) {
        string::concatenate_cstring(string, "#[");
        limit -= 2;
    }
    limit = form_entries(value, string, true, options.flat, limit, indent);
    if (!options.only) {
        string::concatenate_cstring(string, "]");
        limit -= 1;
    }
    return limit;
}

int32_t form(Cell* value, Cell* string, Cell*, int32_t limit) {
    if (cycles::detect(value, string, &limit, true)) return limit;
    cycles::Push inside(value->w2);
    return form_entries(value, string, false, false, limit, 0);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, const action::PathOptions& options) {
    if (value) return put(parent, element, value, options.case_);
    const Cell* found = get(parent, element, options.case_);
    return found ? stack::push(*found) : none::push();
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    if (cell::type(other) != kTypeMap) return action::kNotComparable;
    switch (op) {
    case action::op::same:
        return value->w2 == other->w2 ? 0 : 1;
    case action::op::sort:
    case action::op::case_sort: {
        const auto a = reinterpret_cast<uintptr_t>(pairs_of(value));
        const auto b = reinterpret_cast<uintptr_t>(pairs_of(other));
        return (a > b) - (a < b);
    }
    case action::op::equal:
    case action::op::not_equal:
    case action::op::strict_equal:
    case action::op::find:
        return compare_maps(value, other, op);
    default:
        return action::kNotComparable;
    }
}

Cell* clear(Cell* series) {
    if (series->w3) hashtable::clear(series->w3);
    Buffer* b = pairs_of(series);
    b->tail = b->head;
    return series;
}

Cell* copy(Cell* value, Cell* result, const action::CopyOptions& options) {
    GcRoot source(*value); // result may be the value's own cell
    GcRoot pairs(*block::copy_series(&source.cell(), false, false));
    stack::pop(1);
    const uint32_t table = hashtable::copy(pairs.cell().w2, source.cell().w3);
    *result = Cell{kTypeMap, 0, pairs.cell().w2, table};
    if (options.deep) {
        cycles::Push inside(source.cell().w2);
        copy_values_deep(result);
    }
    return result;
}

Cell* find(Cell* series, Cell* value, const action::FindOptions& options) {
    if (!valid_key_type(cell::type(value))) invalid_key(series, value);
    const int32_t index = find_key(series, value, options.case_ ? 2 : 0);
    if (index < 0 || removed(series, static_cast<uint32_t>(index))) return none::push();
    return stack::push(as_read(*pair_at(series, static_cast<uint32_t>(index))));
}

int32_t length_q(Cell* series) {
    return static_cast<int32_t>(live_count(series));
}

Cell* put_action(Cell* series, Cell* key, Cell* value, const action::PutOptions& options) {
    return put(series, key, value, options.case_);
}

Cell* remove(Cell* series, Cell*, Cell* key) {
    if (!key) error::fire(error::kScript, error::script::missing_arg);
    if (!valid_key_type(cell::type(key))) invalid_key(series, key);
    const int32_t index = find_key(series, key, 2);
    if (index >= 0) hashtable::delete_(series->w3, static_cast<uint32_t>(index));
    return series;
}

Cell* select(Cell* series, Cell* value, const action::FindOptions& options) {
    const Cell* found = get(series, value, options.case_);
    return found ? stack::push(*found) : none::push();
}

void register_actions() {
    hashtable::set_map_key_prepare(key_prepare);
    block::set_conversion(kTypeMap, [](const Cell* value, Cell* result) {
        // The map is rooted while its body block is made: that allocation may move its node.
        GcRoot held(*value);
        const Cell body = *reflect(&held.cell(), static_cast<int32_t>(words::symbol.body));
        stack::pop(1);
        *result = body;
    });
    namespace s = action::slot;
    action::Row row;
    row.set<s::make>(make)
        .set<s::reflect>(reflect)
        .set<s::to>(to)
        .set<s::form>(form)
        .set<s::mold>(mold)
        .set<s::eval_path>(eval_path)
        .set<s::compare>(compare)
        .set<s::clear>(clear)
        .set<s::copy>(copy)
        .set<s::find>(find)
        .set<s::length_q>(length_q)
        .set<s::put>(put_action)
        .set<s::remove>(remove)
        .set<s::select>(select);
    datatype::register_({kTypeMap, 0, "map!", row.entries()});
}

} // namespace map
