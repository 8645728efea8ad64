#include "datatypes/paren.h"

#include "datatypes/block.h"
#include "datatypes/cycles.h"
#include "datatypes/datatype.h"
#include "datatypes/string.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"

namespace paren {

Cell* push(Cell* cell) {
    cell->header = kTypeParen;
    return stack::push(*cell);
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent) {
    // A paren met again inside itself writes its marker instead of recursing.
    if (cycles::detect(value, string, &limit, true)) return limit;
    if (!options.only) {
        string::concatenate_cstring(string, "(");
        --limit;
    }
    limit = block::mold_cells(value, string, options, limit, indent);
    if (options.only) return limit;
    string::concatenate_cstring(string, ")");
    return limit - 1;
}

void register_actions() {
    namespace s = action::slot;
    action::Row row;
    row.set<s::mold>(paren::mold).inherit({s::make,    s::random,    s::reflect,  s::to,
                                           s::form,    s::eval_path, s::compare,  s::append,
                                           s::at,      s::back,      s::change,   s::clear,
                                           s::copy,    s::find,      s::head,     s::head_q,
                                           s::index_q, s::insert,    s::length_q, s::move,
                                           s::next,    s::pick,      s::poke,     s::put,
                                           s::remove,  s::reverse,   s::select,   s::sort,
                                           s::skip,    s::swap,      s::tail,     s::tail_q,
                                           s::take,    s::modify});
    datatype::register_({kTypeParen, kTypeBlock, "paren!", row.entries()});
    collector::set_type_marker(kTypeParen, collector::mark_block_cell);
}

} // namespace paren
