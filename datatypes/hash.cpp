#include "datatypes/hash.h"

#include "datatypes/block.h"
#include "datatypes/cycles.h"
#include "datatypes/datatype.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/hashtable.h"
#include "runtime-core/memory.h"
#include "runtime-core/support.h"

namespace hash_ {

Cell* index_block(Cell* cell) {
    cell::set_type(cell, kTypeHash);
    cell->w3 = 0;
    const uint32_t count = memory::buffer(cell->w2)->length();
    const uint32_t table = hashtable::init(count ? count : 1, cell, hashtable::kHash);
    cell->w3 = table;
    return cell;
}

Cell* push_new(int32_t capacity) {
    Cell* result = block::push_new(capacity > 0 ? capacity : 1);
    return index_block(result);
}

Cell* make(Cell* prototype, Cell* spec, int32_t type) {
    const uint8_t st = cell::type(spec);
    if (st == kTypeInteger || st == kTypeFloat) return push_new(check::int_arg(spec));
    if (st == kTypeBlock) {
        Cell* result = block::copy_series(spec, false, false);
        return index_block(result);
    }
    return to(prototype, spec, type);
}

Cell* to(Cell* prototype, Cell* spec, int32_t) {
    if (cell::type(spec) == kTypeHash) {
        Cell* result = stack::push_cell();
        result->header = kTypeNone;
        return copy(spec, result, {});
    }
    Cell* result = block::to(prototype, spec, kTypeBlock);
    return index_block(result);
}

Cell* copy(Cell* value, Cell* result, const action::CopyOptions& options) {
    const bool whole =
        !options.part && !options.deep && !options.types && series::clamped_index(value) == 0;
    const uint32_t table = value->w3;
    if (whole && table != 0) {
        hashtable::Root source_table(table); // followed through the copy of the cells
        block::copy(value, result, options);
        cell::set_type(result, kTypeHash);
        result->w3 = 0;
        result->w3 = hashtable::copy(result->w2, source_table.node());
        return result;
    }
    block::copy(value, result, options);
    cell::set_type(result, kTypeHash);
    return index_block(result);
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent) {
    // A hash met again inside itself is written as the cycle marker alone.
    if (cycles::detect(value, string, &limit, true)) return limit;
    if (!options.only) {
        string::concatenate_cstring(string, "make hash! ");
        limit -= 11;
    }
    return block::mold(value, string, options.nested(), limit, indent);
}

Cell* sort(Cell* series, const action::SortOptions& options) {
    return block::sort(series, options);
}

Cell* trim(Cell* series, const action::TrimOptions& options) {
    return block::trim(series, options);
}

Cell* take(Cell* series, const action::TakeOptions& options) {
    Cell* result = block::take(series, options);
    // The values taken with /part make a hash! of their own, with a table of its own.
    if (cell::type(result) == kTypeHash && result->w3 == 0) index_block(result);
    return result;
}

void register_actions() {
    namespace s = action::slot;
    action::Row row;
    row.set<s::make>(make)
        .set<s::to>(to)
        .set<s::mold>(mold)
        .set<s::copy>(copy)
        .set<s::sort>(sort)
        .set<s::trim>(trim)
        .set<s::take>(take)
        .inherit({s::random, s::reflect, s::form,   s::eval_path, s::compare, s::append,
                  s::at,     s::back,    s::change, s::clear,     s::find,    s::head,
                  s::head_q, s::index_q, s::insert, s::length_q,  s::move,    s::next,
                  s::pick,   s::poke,    s::put,    s::remove,    s::reverse, s::select,
                  s::skip,   s::swap,    s::tail,   s::tail_q,    s::modify});
    datatype::register_({kTypeHash, kTypeBlock, "hash!", row.entries()});
}

} // namespace hash_
