#include "datatypes/symbol.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "datatypes/datatype.h"
#include "datatypes/string.h"
#include "runtime-core/collector.h"
#include "runtime-core/hashtable.h"
#include "runtime-core/memory.h"
#include "runtime-core/root.h"
#include "runtime-core/runtime.h"
#include "runtime-core/unicode.h"

namespace symbol {

uint32_t table = 0;

namespace {

// The symbol block's cell in the root block: the root block never moves, and its marker
// keeps the node in this cell current.
Cell* block_cell = nullptr;

memory::Buffer* block_buffer() {
    return memory::buffer(block_cell->w2);
}

// The id of a symbol cell that lies in the symbol block, else 0.
uint32_t id_of(const Cell* c) {
    if (!block_cell) return 0;
    memory::Buffer* b = block_buffer();
    if (c < b->cells() || c >= b->cells_tail()) return 0;
    return static_cast<uint32_t>(c - b->cells()) + 1;
}

void mark_table() {
    if (table != 0) hashtable::mark(table);
}

} // namespace

void append_block() {
    const uint32_t node = memory::alloc_cells(kInitialSize);
    block_cell = root::alloc_tail();
    *block_cell = Cell{kTypeBlock, 0, node, 0};
}

void init_table() {
    // The table and its growth are kept live by the marker; the block also by the root block.
    table = hashtable::init(kInitialSize, block_cell, hashtable::kWords);
    hashtable::set_symbol_resolver(resolve);
    collector::add_marker(mark_table);
    collector::set_type_marker(kTypeSymbol, mark_cell);
}

bool exists() {
    return table != 0 && block_cell != nullptr;
}

void release() {
    table = 0;
    block_cell = nullptr;
    hashtable::set_symbol_resolver(nullptr);
}

uint32_t block() {
    return block_cell ? block_cell->w2 : 0;
}

uint32_t count() {
    return block_cell ? block_buffer()->length() : 0;
}

// --- Interning ------------------------------------------------------------------------------

uint32_t make(const char* text) {
    return find_or_make(text, static_cast<uint32_t>(std::strlen(text)));
}

uint32_t find_or_make(const char* text, uint32_t length) {
    // The hash table works on its own copy of the text, so the text may move meanwhile.
    return hashtable::put_symbol(table, text, length, false);
}

uint32_t make_from_string(const Cell* string) {
    // The UTF-8 form is built on the C++ heap: nothing here allocates series until the
    // interning itself.
    memory::Buffer* b = memory::buffer(string->w2);
    const auto index = static_cast<int32_t>(string->w1);
    const uint32_t length = b->length();
    const uint32_t from = index < 0 ? 0 : std::min(static_cast<uint32_t>(index), length);
    std::string utf8(size_t{length - from} * 4 + 1, '\0');
    const uint32_t n =
        unicode::write_utf8(string, reinterpret_cast<uint8_t*>(utf8.data()), -1, false);
    return find_or_make(utf8.data(), n);
}

uint32_t intern_flagged(const char* text) {
    return hashtable::put_symbol(table, text, static_cast<uint32_t>(std::strlen(text)), true);
}

// --- Reading --------------------------------------------------------------------------------

uint32_t resolve(uint32_t id) {
    if (id == 0 || id > count()) return id;
    const auto alias = static_cast<int32_t>(block_buffer()->cells()[id - 1].w1);
    return alias > 0 ? static_cast<uint32_t>(alias) : id;
}

int32_t get_alias(uint32_t id) {
    return static_cast<int32_t>(cell_at(id)->w1);
}

Cell* cell_at(uint32_t id) {
    // Symbol ids come from the runtime's own tables; one that names nothing is a fault of
    // the program, not of the user's data.
    if (id == 0 || id > count()) runtime::quit(runtime::kErrorAssertion, ZAN_CALLER_ADDRESS());
    return block_buffer()->cells() + (id - 1);
}

std::string_view text(uint32_t id) {
    memory::Buffer* b = memory::buffer(cell_at(id)->w3);
    return {reinterpret_cast<const char*>(b->at_head()), b->tail - b->head};
}

uint32_t get_string(uint32_t id) {
    const Cell* c = cell_at(id);
    if (c->w2 != 0) return c->w2;
    // The decoder follows the UTF-8 bytes if their buffer moves; the symbol cell is found
    // again by its id afterwards.
    memory::Buffer* utf8 = memory::buffer(c->w3);
    const uint32_t node = unicode::load_utf8_simple(utf8->at_head(), utf8->tail - utf8->head);
    cell_at(id)->w2 = node;
    return node;
}

Cell* record_at(uint32_t id) {
    get_string(id);
    return cell_at(id);
}

// --- symbol! ------------------------------------------------------------------------------

int32_t compare(Cell* value, Cell* other, int32_t op) {
    if (cell::type(other) != kTypeSymbol) return action::kNotComparable;
    // Strings are made through the ids (cells in the symbol block may move meanwhile); a
    // symbol cell from elsewhere is compared through a rooted copy.
    const uint32_t a = id_of(value), b = id_of(other);
    GcRoot first(*value), second(*other);
    auto ensure = [](uint32_t id, GcRoot& copy) {
        if (id != 0) {
            get_string(id);
        } else if (copy.cell().w2 == 0) {
            memory::Buffer* utf8 = memory::buffer(copy.cell().w3);
            copy.cell().w2 = unicode::load_utf8_simple(utf8->at_head(), utf8->tail - utf8->head);
        }
    };
    ensure(a, first);
    ensure(b, second);
    const Cell x = a ? *cell_at(a) : first.cell();
    const Cell y = b ? *cell_at(b) : second.cell();
    return string::compare_strings(&x, &y, op, false);
}

void mark_cell(Cell& c) {
    if (c.w3 != 0) collector::mark_series(c.w3);
    if (c.w2 != 0) collector::mark_series(c.w2);
}

void register_actions() {
    action::Row row;
    row.set<action::slot::compare>(compare);
    datatype::register_({kTypeSymbol, 0, "symbol!", row.entries()});
    collector::set_type_marker(kTypeSymbol, mark_cell);
}

} // namespace symbol
