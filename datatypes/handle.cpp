#include "datatypes/handle.h"

#include <string>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/string.h"
#include "runtime-core/data-stack.h"

namespace handle {

namespace {
const char* const kClassNames[] = {"null", "fd", "monitor", "window", "font", "rich-text"};
} // namespace

Cell* make_at(Cell* cell, uint32_t value, uint32_t class_) {
    *cell = Cell{kTypeHandle, class_, value, 0xFFFFFFFF};
    return cell;
}

Cell* box(uint32_t value, uint32_t class_) {
    return make_at(stack::arguments, value, class_);
}

Cell* push(uint32_t value, uint32_t class_) {
    return make_at(stack::push_cell(), value, class_);
}

Cell* push_value(uint32_t value) {
    return push(value, kNone);
}

Cell* add_to_block(const Cell* block, uint32_t value, uint32_t class_) {
    Cell cell;
    make_at(&cell, value, class_);
    return block::append_copy(block, &cell);
}

const char* class_name(uint32_t class_) {
    return class_ >= kNull && class_ <= kRichText ? kClassNames[class_ - 1] : nullptr;
}

int32_t form(Cell* value, Cell* string, Cell*, int32_t limit) {
    std::string text = string::int_to_hex(static_cast<int32_t>(value->w2), false);
    text += 'h';
    string::concatenate_cstring(string, text.c_str());
    return limit - 9;
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t) {
    if (!options.all) {
        string::concatenate_cstring(string, "handle!");
        return limit - 7;
    }
    string::concatenate_cstring(string, "#[handle! ");
    limit = form(value, string, options.part, limit - 10);
    if (const char* name = class_name(value->w1)) {
        std::string text = " ";
        text += name;
        string::concatenate_cstring(string, text.c_str());
        limit -= static_cast<int32_t>(text.size());
    }
    string::concatenate_cstring(string, "]");
    return limit - 1;
}

int32_t compare(Cell* value, Cell* other, int32_t) {
    if (cell::type(other) != kTypeHandle) return 1;
    const auto a = static_cast<int32_t>(value->w2), b = static_cast<int32_t>(other->w2);
    return (a > b) - (a < b);
}

void register_actions() {
    namespace s = action::slot;
    action::Row row;
    row.set<s::form>(form).set<s::mold>(mold).set<s::compare>(compare);
    datatype::register_({kTypeHandle, kTypeInteger, "handle!", row.entries()});
}

} // namespace handle
