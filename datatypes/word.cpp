#include "datatypes/word.h"

#include <string>

#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/root.h"
#include "runtime-core/runtime.h"
#include "runtime-core/support.h"
#include "runtime-core/type-traits.h"

namespace word {

namespace {

const Lexer* lexer = nullptr;

const Lexer& need_lexer() {
    if (!lexer || !lexer->scan_type || !lexer->load)
        error::fire(error::kInternal, error::internal::not_done);
    return *lexer;
}

bool in_root_block(const Cell* c) {
    if (!root::exists()) return false;
    memory::Buffer* b = memory::buffer(root::block.w2);
    return c >= b->cells() && c < b->cells_tail();
}

// An index that compiled code or the interpreter hands in names an entry of the context; one
// beyond its word list is a fault of the program.
Cell* entry_at(uint32_t ctx, int32_t index) {
    if (index < 0 || static_cast<uint32_t>(index) >= context::word_count(ctx))
        runtime::quit(runtime::kErrorAssertion, ZAN_CALLER_ADDRESS());
    return context::words(ctx) + index;
}

Cell* slot_or_fail(uint32_t ctx, int32_t index) {
    Cell* s = context::slot(ctx, index);
    if (!s) error::fire(error::kScript, error::script::not_defined, {entry_at(ctx, index)});
    return s;
}

// The setters by index mark a set field of an object.
void touch(uint32_t ctx, int32_t index) {
    if (context::kind_of(ctx) == context::kObject &&
        static_cast<uint32_t>(index) < context::word_count(ctx))
        context::words(ctx)[index].header |= context::kTouched;
}

[[noreturn]] void bad_to_arg(int32_t type, const Cell* spec) {
    Cell* target = datatype::push(static_cast<uint32_t>(type));
    error::fire(error::kScript, error::script::bad_to_arg, {target, spec});
}

// The one word that the text of a string holds, else script/invalid-chars. May collect.
Cell load_word(const Cell* string) {
    const Lexer& lex = need_lexer();
    GcRoot first(Cell{kTypeUnset, 0, 0, 0});
    const uint32_t count = lex.load(string, &first.cell());
    if (count != 1 || !traits::is_all_word(cell::type(&first.cell())))
        error::fire(error::kScript, error::script::invalid_chars);
    return first.cell();
}

// The symbol cell of an id with its string made, as a value (the string node is current
// until the next allocation). May collect.
Cell symbol_text_cell(uint32_t id) {
    symbol::get_string(id);
    return *symbol::cell_at(id);
}

} // namespace

// --- Constructors and accessors -------------------------------------------------------------

Cell* make_global(const char* name) {
    const uint32_t s = symbol::make(name);
    Cell* entry = context::add_symbol(s, true, true);
    if (!root::boot_flag || in_root_block(entry)) return entry;
    const Cell copy = *entry;
    Cell* at = root::alloc_tail();
    *at = copy;
    return at;
}

Cell* make_at(uint32_t symbol, Cell* cell) {
    const int32_t index = context::bind_index(context::global, symbol);
    // The global node is read after the lookup, which may have collected.
    *cell = Cell{kTypeWord, context::global, symbol, static_cast<uint32_t>(index)};
    return cell;
}

Cell* add_to_block(uint32_t symbol, uint32_t block) {
    GcRoot target(block);
    GcRoot made(Cell{kTypeUnset, 0, 0, 0});
    make_at(symbol, &made.cell());
    Cell* at = memory::alloc_tail_cell(memory::buffer(target.node()));
    *at = made.cell();
    return at;
}

Cell* push_new(uint32_t symbol) {
    Cell* at = stack::push_cell();
    *at = Cell{kTypeUnset, 0, 0, 0};
    return make_at(symbol, at);
}

Cell* push(const Cell* word) {
    return stack::push(*word);
}

Cell* slot_word(uint32_t ctx, int32_t index) {
    return entry_at(ctx, index);
}

Cell* push_slot_word(uint32_t ctx, int32_t index) {
    return stack::push(*entry_at(ctx, index));
}

Cell* find_or_add(uint32_t ctx, uint32_t symbol) {
    const int32_t index = context::find_word(ctx, symbol, false);
    if (index >= 0) return context::words(ctx) + index;
    return context::add_global(symbol);
}

Cell* value_at(uint32_t ctx, int32_t index) {
    return context::slot(ctx, index);
}

Cell* fetch_value(uint32_t ctx, int32_t index) {
    return stack::push(*slot_or_fail(ctx, index));
}

Cell* symbol_record(const Cell* word) {
    return symbol::record_at(word->w2);
}

Cell* get_set_value(const Cell* word) {
    const Cell* value = context::get_word(word);
    if (cell::type(value) == kTypeUnset)
        error::fire(error::kScript, error::script::no_value, {word});
    return stack::push(*value);
}

void set_to_next_checked() {
    Cell* word = stack::arguments;
    Cell* value = stack::arguments + 1;
    if (cell::type(value) == kTypeUnset)
        error::fire(error::kScript, error::script::need_value, {word});
    // Both cells are on the data stack, which never moves.
    context::set_word(word, value);
    stack::set_last(*value);
}

Cell* set_slot_push_old(uint32_t ctx, int32_t index) {
    Cell* s = slot_or_fail(ctx, index);
    const Cell last = *stack::top_value();
    Cell* old = stack::push(*s);
    *s = last;
    touch(ctx, index);
    return old;
}

Cell* set_slot_from_top(uint32_t ctx, int32_t index) {
    Cell* s = slot_or_fail(ctx, index);
    *s = *stack::top_value();
    touch(ctx, index);
    return s;
}

Cell* push_symbol_string(const Cell* word) {
    const uint32_t node = symbol::get_string(word->w2);
    return stack::push(Cell{kTypeString, 0, node, 0});
}

uint8_t scan_symbol_text(const Cell* word) {
    const Lexer& lex = need_lexer();
    // The scan works on a copy: the symbol's bytes live in a buffer that may move.
    const std::string text(symbol::text(word->w2));
    return lex.scan_type(text.data(), static_cast<uint32_t>(text.size()));
}

void set_lexer(const Lexer* l) {
    lexer = l;
}

uint32_t load_text(const Cell* string, Cell* first) {
    return need_lexer().load(string, first);
}

// --- Slot functions -------------------------------------------------------------------------

Cell* make(Cell* prototype, Cell* spec, int32_t type) {
    Cell result{};
    switch (cell::type(spec)) {
    case kTypeWord:
    case kTypeSetWord:
    case kTypeLitWord:
    case kTypeGetWord:
        result = *spec;
        break;
    case kTypeRefinement:
    case kTypeIssue:
        if (!traits::is_any_word(scan_symbol_text(spec))) bad_to_arg(type, spec);
        result = *spec;
        context::bind_word(context::global, &result);
        break;
    case kTypeString:
        result = load_word(spec);
        break;
    case kTypeChar: {
        Cell* text = string::make_at(stack::push_cell(), 1);
        string::append_char(memory::buffer(text->w2), spec->w2);
        result = load_word(text);
        stack::pop(1);
        break;
    }
    case kTypeDatatype: {
        const Cell* name = datatype::name_record(spec->w1).word;
        if (!name) bad_to_arg(type, spec);
        result = *name;
        break;
    }
    case kTypeLogic: {
        GcRoot made(Cell{kTypeUnset, 0, 0, 0});
        make_at(symbol::make(spec->w1 == 1 ? "true" : "false"), &made.cell());
        result = made.cell();
        break;
    }
    default:
        bad_to_arg(type, spec);
    }
    result.header = static_cast<uint32_t>(type);
    *prototype = result;
    return prototype;
}

int32_t form(Cell* value, Cell* string, Cell*, int32_t limit) {
    // The word's own letters, not its canonical symbol's. The target lies on the data stack;
    // the symbol's string is read again after it was made.
    const Cell text = symbol_text_cell(value->w2);
    const auto length = static_cast<int32_t>(memory::buffer(text.w2)->length());
    string::concatenate(string, &text, -1, 0, true, string::kAppendMode);
    return limit - length;
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t) {
    Cell word = *value;
    const char* prefix = nullptr;
    switch (cell::type(&word)) {
    case kTypeLitWord:
        prefix = "'";
        break;
    case kTypeGetWord:
        prefix = ":";
        break;
    case kTypeRefinement:
        prefix = "/";
        break;
    default:
        break;
    }
    if (prefix) {
        string::append_bytes(string, prefix, 1);
        --limit;
    }
    limit = form(&word, string, options.part, limit);
    if (cell::type(&word) == kTypeSetWord) {
        string::append_bytes(string, ":", 1);
        --limit;
    }
    return limit;
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    const uint8_t a_type = cell::type(value), b_type = cell::type(other);
    if ((b_type == kTypeIssue && a_type != kTypeIssue) || !traits::is_all_word(b_type))
        return action::kNotComparable;
    const uint32_t a = value->w2, b = other->w2;
    const bool same_symbol = a == b;
    const bool same_word = symbol::resolve(a) == symbol::resolve(b);
    // The parse engine lets a word! match a lit-word! of the same name.
    const bool word_and_lit = (a_type == kTypeWord && b_type == kTypeLitWord) ||
                              (a_type == kTypeLitWord && b_type == kTypeWord);
    switch (op) {
    case action::op::equal:
    case action::op::not_equal:
    case action::op::find:
        return same_word ? 0 : 1;
    case action::op::strict_equal:
        return a_type == b_type && same_symbol ? 0 : 1;
    case action::op::same:
        return same_symbol && value->w1 == other->w1 && a_type == b_type ? 0 : 1;
    case action::op::parse_case:
        return (word_and_lit || a_type == b_type) && same_symbol ? 0 : 1;
    case action::op::parse:
        return (word_and_lit || a_type == b_type) && same_word ? 0 : 1;
    default: {
        // Orderings compare the texts; both strings are made before either is read.
        symbol::get_string(a);
        symbol::get_string(b);
        const Cell x = *symbol::cell_at(a), y = *symbol::cell_at(b);
        return string::compare_strings(&x, &y, op, false);
    }
    }
}

void index_q() {
    Cell* value = stack::arguments;
    const uint32_t index = value->w3;
    *value = Cell{};
    if (index == kUnresolved)
        none::make_at(value);
    else
        integer::make_at(value, static_cast<int32_t>(index + 1));
}

void mark_cell(Cell& c) {
    if (c.w1 != 0) collector::mark_node_cells(c.w1);
}

void register_actions() {
    using action::slot::compare;
    using action::slot::form;
    using action::slot::index_q;
    using action::slot::make;
    using action::slot::mold;
    using action::slot::to;
    action::Row row;
    row.set<make>(word::make)
        .set<to>(word::make)
        .set<form>(word::form)
        .set<mold>(word::mold)
        .set<compare>(word::compare)
        .set<index_q>(word::index_q);
    datatype::register_({kTypeWord, kTypeSymbol, "word!", row.entries()});

    action::Row kin;
    kin.set<mold>(word::mold).inherit({make, to, form, compare, index_q});
    datatype::register_({kTypeLitWord, kTypeWord, "lit-word!", kin.entries()});
    datatype::register_({kTypeSetWord, kTypeWord, "set-word!", kin.entries()});
    datatype::register_({kTypeGetWord, kTypeWord, "get-word!", kin.entries()});

    action::Row refinement;
    refinement.set<mold>(word::mold).inherit({make, to, form, compare});
    datatype::register_({kTypeRefinement, kTypeWord, "refinement!", refinement.entries()});

    for (uint8_t type : {kTypeWord, kTypeSetWord, kTypeLitWord, kTypeGetWord, kTypeRefinement})
        collector::set_type_marker(type, mark_cell);
}

} // namespace word

namespace {

Cell* push_retyped(const Cell& word, uint8_t type) {
    return cell::set_type(stack::push(word), type);
}

} // namespace

namespace get_word {

Cell* push(const Cell* word) {
    return push_retyped(*word, kTypeGetWord);
}

Cell* push_slot(uint32_t ctx, int32_t index) {
    return push_retyped(*word::slot_word(ctx, index), kTypeGetWord);
}

Cell* get_value(const Cell* word) {
    return stack::push(*context::get_word(word));
}

} // namespace get_word

namespace refinement {

Cell* push(const Cell* word) {
    return push_retyped(*word, kTypeRefinement);
}

Cell* push_slot(uint32_t ctx, int32_t index) {
    return push_retyped(*word::slot_word(ctx, index), kTypeRefinement);
}

Cell* add_to_root(const char* name) {
    const uint32_t id = symbol::make(name);
    Cell* at = root::alloc_tail();
    *at = Cell{kTypeRefinement, 0, id, word::kUnresolved};
    return at;
}

} // namespace refinement
