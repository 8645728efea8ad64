#include "datatypes/triple.h"

#include <string>

#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"

namespace triple {

int32_t form(Cell* value, Cell* string, Cell*, int32_t limit) {
    // The whole text is built before the one append that may collect.
    std::string text = "make triple! [";
    text += integer::to_decimal(static_cast<int32_t>(value->w1));
    text += ' ';
    text += integer::to_decimal(static_cast<int32_t>(value->w2));
    text += ' ';
    text += integer::to_decimal(static_cast<int32_t>(value->w3));
    text += ']';
    string::concatenate_cstring(string, text.c_str());
    return limit - static_cast<int32_t>(text.size());
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t) {
    return form(value, string, options.part, limit);
}

void register_actions() {
    action::Row row;
    row.set<action::slot::form>(form).set<action::slot::mold>(mold);
    datatype::register_({kTypeTriple, 0, "triple!", row.entries()});
}

} // namespace triple
