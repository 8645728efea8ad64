#include "datatypes/system-fields.h"

#include "datatypes/context.h"
#include "datatypes/symbol.h"

namespace system_object {

Symbols symbol{};

void init_symbols() {
    symbol.system = symbol::make("system");
    symbol.catalog = symbol::make("catalog");
    symbol.errors = symbol::make("errors");
    symbol.standard = symbol::make("standard");
    symbol.error = symbol::make("error");
    symbol.state = symbol::make("state");
    symbol.stack_trace = symbol::make("stack-trace");
    symbol.source_files = symbol::make("source-files");
}

Cell* field(std::initializer_list<uint32_t> path) {
    if (symbol.system == 0 || context::global == 0) return nullptr;
    Cell* at = context::value_cell(symbol.system, context::global);
    for (uint32_t sym : path) {
        if (!at || cell::type(at) != kTypeObject) return nullptr;
        at = context::slot(at->w1, context::find_word(at->w1, sym, true));
    }
    return at;
}

} // namespace system_object
