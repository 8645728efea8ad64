#include "datatypes/email.h"

#include "datatypes/datatype.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/words.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/support.h"

namespace email {

Cell* make_at(Cell* cell, const char* utf8, uint32_t length) {
    return string::text_at(cell, kTypeEmail, utf8, length);
}

Cell* push(const char* utf8, uint32_t length) {
    return string::text_push(kTypeEmail, utf8, length);
}

Cell* set_result(const char* utf8, uint32_t length) {
    return make_at(stack::arguments, utf8, length);
}

Cell* add_to_block(const Cell* block, const char* utf8, uint32_t length) {
    return string::text_add_to_block(block, kTypeEmail, utf8, length);
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t) {
    return string::form(value, string, options.part, limit);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, const action::PathOptions& options) {
    const uint8_t type = cell::type(element);
    if (type == kTypeInteger) return string::eval_path(parent, element, value, options);
    bool user = false, host = false;
    if (type == kTypeWord) {
        const uint32_t s = symbol::resolve(element->w2);
        user = s == symbol::resolve(words::symbol.user);
        host = s == symbol::resolve(words::symbol.host);
    }
    if (!user && !host)
        error::fire(error::kScript, error::script::invalid_path,
                    {options.path ? options.path : &none::value, element});
    const uint32_t length = string::length(parent);
    const int32_t at = string::find_char(parent, '@');
    const uint32_t m = at < 0 ? length : static_cast<uint32_t>(at);
    const uint32_t start = parent->w1 + (user ? 0 : (m < length ? m + 1 : length));
    const uint32_t count = user ? m : parent->w1 + length - start;
    if (!value) {
        const uint32_t node = series::copy_part(parent->w2, start, count);
        return stack::push(Cell{kTypeString, 0, node, 0});
    }
    // The part is replaced through string! change on a position of its own.
    Cell* target = stack::push(Cell{parent->header, start, parent->w2, 0});
    cell::set_type(target, kTypeString);
    string::change(target, value, {.part = static_cast<int32_t>(count)});
    stack::pop(1);
    return value;
}

void register_actions() {
    namespace s = action::slot;
    action::Row row;
    row.set<s::mold>(mold).set<s::eval_path>(eval_path).inherit(
        {s::make,     s::reflect, s::to,   s::form, s::compare, s::append, s::at,      s::back,
         s::change,   s::clear,   s::copy, s::find, s::head,    s::head_q, s::index_q, s::insert,
         s::length_q, s::move,    s::next, s::pick, s::poke,    s::put,    s::remove,  s::reverse,
         s::select,   s::skip,    s::swap, s::tail, s::tail_q,  s::take,   s::modify});
    datatype::register_({kTypeEmail, kTypeString, "email!", row.entries()});
}

} // namespace email
