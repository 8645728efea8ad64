#include "datatypes/path.h"

#include "datatypes/block.h"
#include "datatypes/cycles.h"
#include "datatypes/datatype.h"
#include "datatypes/dispatch.h"
#include "datatypes/float.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/support.h"

namespace path {

namespace {

// The capacity a number asks for: an integer as it is, a float! or percent! truncated toward
// zero; one beyond 32 bits raises script/out-of-range with the spec.
int32_t capacity_of(const Cell* spec) {
    if (cell::type(spec) != kTypePercent) return check::int_arg(spec);
    const double d = float_::get(spec);
    if (!(d >= -2147483648.0 && d <= 2147483647.0))
        error::fire(error::kScript, error::script::out_of_range, {spec});
    return static_cast<int32_t>(d);
}

uint32_t total(const Cell* path) {
    return series::total_units(path);
}

// The element walk shared by form and mold: each cell from the index written through its
// type's slot, "/" between two. `self` holds the path, so that its node is followed while the
// target grows.
int32_t write_elements(GcRoot& self, Cell* string, bool molding, const action::MoldOptions& options,
                       int32_t limit, int32_t indent) {
    if (cycles::detect(&self.cell(), string, &limit, molding)) return limit;
    cycles::Push walking(self.cell().w2);
    for (uint32_t i = series::clamped_index(&self.cell()); i < total(&self.cell()); ++i) {
        GcRoot item(*block::cell_at(&self.cell(), i));
        limit = molding ? actions::mold(&item.cell(), string, options, limit, indent)
                        : actions::form(&item.cell(), string, options.part, limit);
        if (options.part && limit <= 0) return limit;
        // Writing an element may have changed the path: the walk goes on from what is there.
        if (i + 1 < total(&self.cell())) {
            string::concatenate_cstring(string, "/");
            --limit;
        }
    }
    return limit;
}

} // namespace

Cell* make_at(Cell* cell, int32_t capacity) {
    block::make_at(cell, capacity);
    return cell::set_type(cell, kTypePath);
}

Cell* push(Cell* cell) {
    cell::set_type(cell, kTypePath);
    return stack::push(*cell);
}

// --- make and to ----------------------------------------------------------------------------

Cell* make(Cell* prototype, Cell* spec, int32_t type) {
    const uint8_t st = cell::type(spec);
    if (st == kTypeInteger || st == kTypeFloat || st == kTypePercent) {
        const int32_t capacity = capacity_of(spec);
        Cell* result = stack::push_cell();
        make_at(result, capacity);
        return cell::set_type(result, static_cast<uint8_t>(type));
    }
    if (series::is_any_block(st)) return block::to(prototype, spec, type);
    Cell* datatype = datatype::push(static_cast<uint32_t>(type));
    error::fire(error::kScript, error::script::bad_make_arg, {datatype, spec});
}

Cell* to(Cell* prototype, Cell* spec, int32_t type) {
    const uint8_t st = cell::type(spec);
    if (st != kTypeMap && st != kTypeObject && st != kTypeTypeset)
        return block::to(prototype, spec, type);
    // These would give their contents as a block; a path holds the value itself.
    GcRoot value(*spec);
    Cell* result = stack::push_cell();
    block::make_at(result, 1);
    block::append_copy(result, &value.cell());
    result->header = static_cast<uint32_t>(type);
    return result;
}

// --- form and mold --------------------------------------------------------------------------

int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit) {
    GcRoot self(*value);
    return write_elements(self, string, false, {.part = part}, limit, 0);
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent) {
    const uint8_t type = cell::type(value);
    GcRoot self(*value);
    if (type == kTypeLitPath || type == kTypeGetPath) {
        string::concatenate_cstring(string, type == kTypeLitPath ? "'" : ":");
        --limit;
    }
    limit = write_elements(self, string, true, options, limit, indent);
    if (type == kTypeSetPath) {
        string::concatenate_cstring(string, ":");
        --limit;
    }
    return limit;
}

// --- Registration ---------------------------------------------------------------------------

void register_actions() {
    namespace s = action::slot;
    action::Row row;
    row.set<s::make>(path::make)
        .set<s::to>(path::to)
        .set<s::form>(path::form)
        .set<s::mold>(path::mold)
        .set<s::copy>(block::copy)
        .inherit({s::reflect, s::eval_path, s::compare, s::append, s::at,     s::back,
                  s::change,  s::clear,     s::find,    s::head,   s::head_q, s::index_q,
                  s::insert,  s::length_q,  s::move,    s::next,   s::pick,   s::poke,
                  s::put,     s::remove,    s::reverse, s::select, s::skip,   s::swap,
                  s::tail,    s::tail_q,    s::take,    s::modify});
    datatype::register_({kTypePath, kTypeBlock, "path!", row.entries()});

    action::Row variant;
    variant.set<s::mold>(path::mold).inherit({s::make,      s::reflect,  s::to,     s::form,
                                              s::eval_path, s::compare,  s::append, s::at,
                                              s::back,      s::change,   s::clear,  s::copy,
                                              s::find,      s::head,     s::head_q, s::index_q,
                                              s::insert,    s::length_q, s::move,   s::next,
                                              s::pick,      s::poke,     s::put,    s::remove,
                                              s::reverse,   s::select,   s::skip,   s::swap,
                                              s::tail,      s::tail_q,   s::take,   s::modify});
    datatype::register_({kTypeLitPath, kTypePath, "lit-path!", variant.entries()});
    datatype::register_({kTypeSetPath, kTypePath, "set-path!", variant.entries()});
    datatype::register_({kTypeGetPath, kTypePath, "get-path!", variant.entries()});

    for (uint8_t type : {kTypePath, kTypeLitPath, kTypeSetPath, kTypeGetPath})
        collector::set_type_marker(type, collector::mark_block_cell);
}

} // namespace path
