#include "library/system-object.h"

#include <string_view>

#include "datatypes/core/block.h"
#include "datatypes/core/context.h"
#include "datatypes/core/integer.h"
#include "datatypes/core/none.h"
#include "datatypes/core/object.h"
#include "datatypes/core/symbol.h"
#include "datatypes/core/word.h"
#include "datatypes/more/catalog.h"
#include "datatypes/more/error.h"
#include "evaluator/stack.h"
#include "runtime-core/collector.h"

namespace system_object {

Symbols symbol{};

namespace {

constexpr const char* kFields[] = {
    "version", "build",   "words", "platform",   "catalog", "state",  "modules",
    "codecs",  "schemes", "ports", "locale",     "options", "script", "standard",
    "lexer",   "console", "view",  "reactivity", "tools",
};
constexpr const char* kStateFields[] = {"interpreted?", "last-error", "stack-trace",
                                        "source-files", "callbacks",  "GC"};
constexpr const char* kUrlPartsFields[] = {"scheme", "user-info", "host",     "port", "path",
                                           "target", "query",     "fragment", "ref"};
constexpr const char* kSchemeFields[] = {"name", "title", "info", "actor", "awake"};
constexpr const char* kPortFields[] = {"spec",  "scheme", "actor", "awake",
                                       "state", "data",   "extra"};
constexpr const char* kErrorFields[] = {"code", "type", "id",    "arg1",  "arg2",
                                        "arg3", "near", "where", "stack", "files"};

Cell field_word(std::string_view name) {
    const uint32_t sym = symbol::find_or_make(name.data(), static_cast<uint32_t>(name.size()));
    return Cell{kTypeWord, 0, sym, word::kUnresolved};
}

// An object pushed on the data stack with the fields in order, all none. May collect.
template <size_t N> Cell* push_object(const char* const (&fields)[N], int32_t class_id) {
    Cell* o = object::make_empty_at(stack::push_cell(), N);
    o->w2 = static_cast<uint32_t>(class_id);
    for (const char* name : fields) {
        const Cell w = field_word(name);
        context::set_word_value(o->w1, &w, &none::value);
    }
    *context::owner_of(o->w1) = *o;
    return o;
}

// Sets a field of the object under the top of the data stack to the top value, and drops it.
// May collect.
void set_field(std::string_view name) {
    const Cell w = field_word(name);
    Cell* object = stack::top_value() - 1;
    context::set_word_value(object->w1, &w, stack::top_value());
    stack::pop(1);
}

} // namespace

void init() {
    symbol.system = symbol::make("system");
    symbol.catalog = symbol::make("catalog");
    symbol.errors = symbol::make("errors");
    symbol.standard = symbol::make("standard");
    symbol.error = symbol::make("error");
    symbol.state = symbol::make("state");
    symbol.stack_trace = symbol::make("stack-trace");
    symbol.source_files = symbol::make("source-files");

    Cell* top = stack::top;
    push_object(kFields, 0);

    push_object({"errors"}, 0);
    catalog::make_errors();
    set_field("errors");
    set_field("catalog");

    push_object({"error", "url-parts", "scheme", "port"}, 0);
    Cell* prototype = push_object(kErrorFields, object::kErrorClassId);
    cell::set_type(prototype, kTypeError);
    *context::owner_of(prototype->w1) = *prototype;
    set_field("error");
    // The templates of ports (port.h), of the schemes that make them and of their specs.
    push_object(kUrlPartsFields, 0);
    set_field("url-parts");
    push_object(kSchemeFields, 0);
    set_field("scheme");
    push_object(kPortFields, 0);
    set_field("port");
    set_field("standard");

    // No scheme is registered at start-up.
    Cell* schemes = object::make_empty_at(stack::push_cell(), 4);
    *context::owner_of(schemes->w1) = *schemes;
    set_field("schemes");

    push_object(kStateFields, 0);
    integer::push(1);
    set_field("stack-trace");
    block::push_new(4);
    set_field("source-files");
    set_field("state");

    Cell* w = word::make_global("system");
    context::set_word_value(context::global, w, stack::top_value());
    stack::top = top;
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
