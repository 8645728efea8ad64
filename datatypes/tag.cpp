#include "datatypes/tag.h"

#include "datatypes/datatype.h"
#include "datatypes/string.h"
#include "runtime-core/data-stack.h"

namespace tag {

Cell* make_at(Cell* cell, const char* utf8, uint32_t length) {
    return string::text_at(cell, kTypeTag, utf8, length);
}

Cell* push(const char* utf8, uint32_t length) {
    return string::text_push(kTypeTag, utf8, length);
}

Cell* set_result(const char* utf8, uint32_t length) {
    return make_at(stack::arguments, utf8, length);
}

Cell* add_to_block(const Cell* block, const char* utf8, uint32_t length) {
    return string::text_add_to_block(block, kTypeTag, utf8, length);
}

int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit) {
    string::append_bytes(string, "<", 1);
    const int32_t left = string::form(value, string, part, limit - 1);
    string::append_bytes(string, ">", 1);
    return left - 1;
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t) {
    return form(value, string, options.part, limit);
}

void register_actions() {
    namespace s = action::slot;
    action::Row row;
    row.set<s::form>(form).set<s::mold>(mold).inherit(
        {s::make,    s::reflect, s::to,       s::eval_path, s::compare, s::append, s::at,
         s::back,    s::change,  s::clear,    s::copy,      s::find,    s::head,   s::head_q,
         s::index_q, s::insert,  s::length_q, s::move,      s::next,    s::pick,   s::poke,
         s::put,     s::remove,  s::reverse,  s::select,    s::skip,    s::swap,   s::tail,
         s::tail_q,  s::take,    s::modify});
    datatype::register_({kTypeTag, kTypeString, "tag!", row.entries()});
}

} // namespace tag
