#include "datatypes/percent.h"

#include <cstring>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/string.h"
#include "runtime-core/data-stack.h"

namespace percent {

Cell* make_at(Cell* cell, double fraction) {
    float_::make_at(cell, fraction);
    cell->header = kTypePercent;
    return cell;
}

Cell* box(double fraction) {
    return make_at(stack::arguments, fraction);
}

Cell* push(double fraction) {
    return make_at(stack::push_cell(), fraction);
}

Cell* add_to_block(const Cell* block, double fraction) {
    Cell value;
    make_at(&value, fraction);
    return block::append_copy(block, &value);
}

int32_t form(Cell* value, Cell* string, Cell*, int32_t limit) {
    const char* text = float_::form_float(float_::get(value) * 100, float_::kPercent);
    const auto length = static_cast<int32_t>(std::strlen(text));
    string::concatenate_cstring(string, text);
    return limit - length;
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t) {
    return form(value, string, options.part, limit);
}

void register_actions() {
    namespace s = action::slot;
    action::Row row;
    row.set<s::form>(form).set<s::mold>(mold).inherit(
        {s::make, s::random, s::to, s::compare, s::absolute, s::add, s::divide, s::multiply,
         s::negate, s::power, s::remainder, s::round, s::subtract, s::even_q, s::odd_q});
    datatype::register_({kTypePercent, kTypeFloat, "percent!", row.entries()});
}

} // namespace percent
