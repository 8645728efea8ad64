#include "datatypes/ref.h"

#include "datatypes/datatype.h"
#include "datatypes/string.h"
#include "runtime-core/data-stack.h"

namespace ref {

Cell* make_at(Cell* cell, const char* utf8, uint32_t length) {
    return string::text_at(cell, kTypeRef, utf8, length);
}

Cell* push(const char* utf8, uint32_t length) {
    return string::text_push(kTypeRef, utf8, length);
}

Cell* set_result(const char* utf8, uint32_t length) {
    return make_at(stack::arguments, utf8, length);
}

Cell* add_to_block(const Cell* block, const char* utf8, uint32_t length) {
    return string::text_add_to_block(block, kTypeRef, utf8, length);
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t) {
    string::append_bytes(string, "@", 1);
    return string::form(value, string, options.part, limit - 1);
}

void register_actions() {
    namespace s = action::slot;
    action::Row row;
    row.set<s::mold>(mold).inherit(
        {s::make,  s::reflect, s::to,     s::form, s::compare, s::at,      s::back,   s::change,
         s::clear, s::copy,    s::find,   s::head, s::head_q,  s::index_q, s::insert, s::length_q,
         s::move,  s::next,    s::pick,   s::poke, s::remove,  s::reverse, s::select, s::skip,
         s::swap,  s::tail,    s::tail_q, s::take, s::modify});
    datatype::register_({kTypeRef, kTypeString, "ref!", row.entries()});
}

} // namespace ref
