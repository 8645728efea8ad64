#include "library/system-object.h"

#include <string_view>

#include "datatypes/block.h"
#include "datatypes/catalog.h"
#include "datatypes/context.h"
#include "datatypes/date.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/evaluator.h"
#include "library/image-codecs.h"
#include "loading/lexer.h"
#include "os/os-info.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/unicode.h"

namespace system_object {

namespace {

constexpr const char* kFields[] = {
    "version", "build",   "words", "platform",   "catalog", "state",  "modules",
    "codecs",  "schemes", "ports", "locale",     "options", "script", "standard",
    "lexer",   "console", "view",  "reactivity", "tools",
};
constexpr const char* kStateFields[] = {"interpreted?", "last-error", "stack-trace",
                                        "source-files", "callbacks",  "GC"};
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

// The value of source text (one value), pushed. May collect.
Cell* push_loaded(std::string_view text) {
    Cell* loaded = lexer::load_push(reinterpret_cast<const uint8_t*>(text.data()),
                                    static_cast<uint32_t>(text.size()));
    const Cell value = memory::buffer(loaded->w2)->cells()[loaded->w1];
    *loaded = value;
    return loaded;
}

// A routine! of a row of the routine table, pushed. May collect.
void push_routine(const routines::Routine& row) {
    Cell* spec = push_loaded(row.spec);
    const Cell made = *routine::build(spec, nullptr, routines::index_of(row.entry), -1, false);
    stack::pop(2);
    stack::push(made);
}

// What the printers read of the system object: the decimals of money (options/money-digits),
// the currency codes (locale/currencies/list) and the month names of dates (locale/months).
// Null while the field is missing or none, so the printers keep their built-in defaults.
uint32_t options_symbol, money_digits_symbol, locale_symbol, months_symbol, currencies_symbol,
    list_symbol;

const Cell* present(Cell* value) {
    return value && cell::type(value) != kTypeNone ? value : nullptr;
}

const Cell* money_digits() {
    return present(field({options_symbol, money_digits_symbol}));
}

const Cell* months() {
    return present(field({locale_symbol, months_symbol}));
}

const Cell* currency_list() {
    return present(field({locale_symbol, currencies_symbol, list_symbol}));
}

// The process command line as the platform gives it, program path and quoting included.
interp::Status command_line(const int32_t*) {
    const std::string text = unicode::utf16_to_utf8(platform::command_line());
    string::text_at(stack::arguments, kTypeString, text.data(), static_cast<uint32_t>(text.size()));
    return interp::Status::normal;
}

// The collector's routines of system/state/GC: whether it is enabled, and how many series
// and node collections it has run.
interp::Status gc_active(const int32_t*) {
    logic::make_at(stack::arguments, collector::state.enabled != 0);
    return interp::Status::normal;
}

interp::Status gc_series_cycles(const int32_t*) {
    integer::make_at(stack::arguments, collector::state.series_cycles);
    return interp::Status::normal;
}

interp::Status gc_nodes_cycles(const int32_t*) {
    integer::make_at(stack::arguments, collector::state.node_cycles);
    return interp::Status::normal;
}

const routines::Routine kTable[] = {
    {"command-line*", "[\"Internal Use Only\" return: [string!]]", command_line},
    {nullptr, "[\"Whether the collector is enabled\" return: [logic!]]", gc_active},
    {nullptr, "[\"The number of series collections run so far\" return: [integer!]]",
     gc_series_cycles},
    {nullptr, "[\"The number of node collections run so far\" return: [integer!]]",
     gc_nodes_cycles},
};

} // namespace

std::span<const routines::Routine> table() {
    return kTable;
}

void init() {
    init_symbols();
    options_symbol = symbol::make("options");
    money_digits_symbol = symbol::make("money-digits");
    locale_symbol = symbol::make("locale");
    months_symbol = symbol::make("months");
    currencies_symbol = symbol::make("currencies");
    list_symbol = symbol::make("list");
    money::set_money_digits_hook(money_digits);
    money::set_currency_list_hook(currency_list);
    date::set_months_hook(months);

    Cell* top = stack::top;
    push_object(kFields, 0);

    push_object({"errors"}, 0);
    catalog::make_errors();
    set_field("errors");
    set_field("catalog");

    // The templates of ports (url-parts, scheme, port) and of script headers come with the
    // library's sources.
    push_object({"error", "url-parts", "scheme", "port", "header"}, 0);
    Cell* prototype = push_object(kErrorFields, object::kErrorClassId);
    cell::set_type(prototype, kTypeError);
    *context::owner_of(prototype->w1) = *prototype;
    set_field("error");
    set_field("standard");

    push_object(kStateFields, 0);
    integer::push(1);
    set_field("stack-trace");
    block::push_new(4);
    set_field("source-files");
    set_field("state");

    // system/words: the global context seen as an object (class id -1, no change record),
    // which also becomes the global context's owner.
    object::make_at(context::global, -1);
    set_field("words");

    Cell* w = word::make_global("system");
    context::set_word_value(context::global, w, stack::top_value());
    stack::top = top;
}

// The codecs of system/codecs: a map of codec objects keyed by word, each with a title, a
// name, its media types and file suffixes, and an encode and a decode routine. The image
// codecs come first, in the order of their table (image-codecs.h); the others are added by
// their modules.
void make_codecs() {
    Cell* top = stack::top;
    stack::push(*field({}));
    map::make_at(stack::push_cell(), 0, 8);
    for (const image_codecs::Codec& c : image_codecs::codecs()) {
        push_object({"title", "name", "mime-type", "suffixes", "encode", "decode"}, 0);
        string::make_at(stack::push_cell(), 1);
        set_field("title");
        stack::push(field_word(c.name));
        set_field("name");
        push_loaded(c.mime_type);
        set_field("mime-type");
        push_loaded(c.suffixes);
        set_field("suffixes");
        push_routine(c.encode);
        set_field("encode");
        push_routine(c.decode);
        set_field("decode");
        Cell* key = stack::push(field_word(c.key));
        cell::set_type(key, kTypeLitWord);
        map::put(stack::top_value() - 2, key, stack::top_value() - 1, false);
        stack::pop(2);
    }
    set_field("codecs");
    stack::top = top;
}

void make_gc_routines() {
    Cell* top = stack::top;
    stack::push(*field({symbol.state}));
    push_object({"active?", "series-cycles", "nodes-cycles"}, 0);
    push_routine(kTable[1]);
    set_field("active?");
    push_routine(kTable[2]);
    set_field("series-cycles");
    push_routine(kTable[3]);
    set_field("nodes-cycles");
    set_field("GC");
    stack::top = top;
}

} // namespace system_object
