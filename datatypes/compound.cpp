#include "datatypes/compound.h"

#include "datatypes/datatype.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/words.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/support.h"

namespace compound {

namespace {
TextLoader text_loader = nullptr;
} // namespace

void invalid_type(const Cell* value) {
    Cell* t = datatype::push(cell::type(value));
    error::fire(error::kScript, error::script::invalid_type, {t});
}

void invalid_arg(const Cell* value) {
    error::fire(error::kScript, error::script::invalid_arg, {value});
}

void out_of_range(const Cell* value) {
    error::fire(error::kScript, error::script::out_of_range, {value});
}

void bad_to_arg(uint8_t type, const Cell* spec) {
    Cell* t = datatype::push(type);
    error::fire(error::kScript, error::script::bad_to_arg, {t, spec});
}

void malconstruct(uint8_t type, const Cell* spec) {
    Cell* t = datatype::push(type);
    error::fire(error::kSyntax, error::syntax::malconstruct, {t, spec});
}

void not_related(const Cell* word, uint8_t type) {
    Cell* t = datatype::push(type);
    error::fire(error::kScript, error::script::not_related, {word ? word : &none::value, t});
}

void invalid_path(const Cell* path, const Cell* element) {
    error::fire(error::kScript, error::script::invalid_path, {path ? path : &none::value, element});
}

void not_done() {
    error::fire(error::kInternal, error::internal::not_done);
}

const Cell* operation_word(int32_t op) {
    if (op == 1) return words::word.subtract;
    if (op == 3) return words::word.divide;
    return nullptr;
}

bool names(const Cell* word, uint32_t symbol) {
    return series::canonical(word->w2) == series::canonical(symbol);
}

const Cell* selector(int32_t index, const Cell* index_value, Cell& scratch) {
    if (index_value) return index_value;
    scratch = Cell{kTypeInteger, 0, static_cast<uint32_t>(index), 0};
    return &scratch;
}

void set_text_loader(TextLoader loader) {
    text_loader = loader;
}

Cell* load_value(uint8_t type, const Cell* spec) {
    if (!text_loader) not_done();
    Cell* result = stack::push_cell();
    result->header = kTypeNone;
    if (!text_loader(spec, result)) bad_to_arg(type, spec);
    return result;
}

Cell* load_as(uint8_t type, const Cell* spec) {
    Cell* result = load_value(type, spec);
    if (cell::type(result) != type) bad_to_arg(type, spec);
    return result;
}

void tell_owner(const Cell* holder, const Cell* value, int32_t position) {
    if (!holder || !series::is_series(cell::type(holder))) return;
    series::notify(holder, ownership::Action::poke, value, position, 1);
    series::notify(holder, ownership::Action::poked, value, position, 1);
}

} // namespace compound
