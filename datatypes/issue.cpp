#include "datatypes/issue.h"

#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/memory.h"
#include "runtime-core/root.h"

namespace issue {

namespace {

// An issue of a symbol. The global context's node is read here, after any interning that
// may have collected.
Cell issue_of(uint32_t symbol) {
    return Cell{kTypeIssue, context::global, symbol, word::kUnresolved};
}

} // namespace

// --- Constructors ---------------------------------------------------------------------------

Cell* make_at(Cell* cell, const char* text) {
    const uint32_t symbol = symbol::make(text);
    *cell = issue_of(symbol);
    return cell;
}

Cell* add_to_block(const char* text, uint32_t block) {
    GcRoot target(block);
    const uint32_t symbol = symbol::make(text);
    Cell* at = memory::alloc_tail_cell(memory::buffer(target.node()));
    *at = issue_of(symbol);
    return at;
}

Cell* from_cstring(const char* text) {
    const uint32_t symbol = symbol::make(text);
    Cell* at = root::boot_flag ? root::alloc_tail() : stack::push_cell();
    *at = issue_of(symbol);
    return at;
}

Cell* push(const Cell* word) {
    Cell* at = stack::push(*word);
    at->header = kTypeIssue;
    return at;
}

// --- Slot functions -------------------------------------------------------------------------

Cell* make(Cell* prototype, Cell* spec, int32_t type) {
    Cell result{};
    switch (cell::type(spec)) {
    case kTypeWord:
    case kTypeSetWord:
    case kTypeLitWord:
    case kTypeGetWord:
    case kTypeRefinement:
    case kTypeIssue:
        result = *spec;
        break;
    case kTypeString: {
        // The interning reads the text from the string's index.
        const uint32_t symbol = symbol::make_from_string(spec);
        result = issue_of(symbol);
        break;
    }
    case kTypeChar: {
        const uint32_t cp = spec->w2;
        Cell* text = string::make_at(stack::push_cell(), 4);
        string::append_char(memory::buffer(text->w2), cp);
        const uint32_t symbol = symbol::make_from_string(text);
        stack::pop(1);
        result = issue_of(symbol);
        break;
    }
    default:
        // Datatypes and logic values make their words; every other spec raises
        // script/bad-to-arg naming the requested type.
        word::make(prototype, spec, type);
        result = *prototype;
        break;
    }
    result.header = static_cast<uint32_t>(type);
    *prototype = result;
    return prototype;
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t) {
    // The value is copied before the target grows: its cell may lie in a buffer that moves.
    Cell issue = *value;
    string::append_bytes(string, "#", 1);
    return word::form(&issue, string, options.part, limit - 1);
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    if (cell::type(other) != kTypeIssue) return action::kNotComparable;
    return word::compare(value, other, op);
}

// --- Registration ---------------------------------------------------------------------------

void register_actions() {
    namespace s = action::slot;
    action::Row row;
    row.set<s::make>(issue::make)
        .set<s::to>(issue::make)
        .set<s::mold>(issue::mold)
        .set<s::compare>(issue::compare)
        .inherit({s::form});
    datatype::register_({kTypeIssue, kTypeWord, "issue!", row.entries()});
    collector::set_type_marker(kTypeIssue, word::mark_cell);
}

} // namespace issue
