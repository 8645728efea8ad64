#include "datatypes/context.h"

#include <algorithm>

#include "datatypes/cycles.h"
#include "datatypes/datatype.h"
#include "datatypes/symbol.h"
#include "datatypes/words.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/hashtable.h"
#include "runtime-core/memory.h"
#include "runtime-core/root.h"
#include "runtime-core/support.h"
#include "runtime-core/type-traits.h"

namespace context {

uint32_t global = 0;

namespace {

ChangeHook change_hook = nullptr;

constexpr int32_t kUnresolved = -1;

memory::Buffer* values_block(uint32_t context) {
    const Cell* c = cell_of(context);
    return (c->header & kFlagOnStack) || c->w2 == 0 ? nullptr : memory::buffer(c->w2);
}

// Appends unset slots until the values block holds `count` cells. May collect.
void ensure_slots(uint32_t context, uint32_t count) {
    GcRoot keep(context);
    for (;;) {
        memory::Buffer* values = values_block(keep.node());
        if (!values || values->length() >= count) return;
        memory::alloc_tail_cell(values);
    }
}

void mark_global() {
    if (global != 0) mark(global);
}

// Restores the data-stack top on every way out of a change notification.
class StackTop {
public:
    StackTop() : saved_(stack::top) {}
    ~StackTop() { stack::top = saved_; }
    StackTop(const StackTop&) = delete;
    StackTop& operator=(const StackTop&) = delete;

private:
    Cell* saved_;
};

void bind_block(uint32_t node, int32_t index, uint32_t context, bool self) {
    if (node == 0 || cycles::find(node)) return;
    cycles::Push on_walk(node);
    // Nothing below allocates, so the buffer stays where it is for the whole walk.
    memory::Buffer* b = memory::buffer(node);
    Cell* c = b->cells() + std::clamp<int32_t>(index, 0, static_cast<int32_t>(b->length()));
    for (Cell* end = b->cells_tail(); c < end; ++c) {
        const uint8_t type = cell::type(c);
        if (traits::is_bindable_word(type)) {
            if (self && type == kTypeWord && c->w2 == ::words::symbol.self && c->w2 != 0) {
                c->w1 = context;
                c->w3 = static_cast<uint32_t>(kUnresolved);
            } else {
                bind_word(context, c);
            }
        } else if (traits::is_any_block(type)) {
            bind_block(c->w2, static_cast<int32_t>(c->w1), context, self);
        }
    }
}

} // namespace

void init_global() {
    global = create(kGlobalSlots, false, false, nullptr, kPlain);
    collector::add_marker(mark_global);
}

void release() {
    global = 0;
    change_hook = nullptr;
}

// --- Making contexts ------------------------------------------------------------------------

uint32_t create(uint32_t slots, bool on_stack, bool object_flag, const Cell* source, Kind kind) {
    if (slots == 0) slots = 1;
    GcRoot from(source ? *source : Cell{kTypeNone, 0, 0, 0});
    GcRoot node(memory::alloc_unset_cells(2));
    {
        memory::Buffer* b = memory::buffer(node.node());
        b->tail = b->head + 2 * sizeof(Cell);
    }
    const uint32_t table =
        hashtable::init(slots, source ? &from.cell() : nullptr, hashtable::kWords, source ? 2 : 0);
    uint32_t header = kTypeContext | ((static_cast<uint32_t>(kind) << kKindShift) & kKindMask);
    if (on_stack) header |= kFlagOnStack;
    if (object_flag) header |= kFlagObject;
    *cell_of(node.node()) = Cell{header, table, 0, 0};
    // A copied word list still names the source: its entries belong to the new context.
    if (source)
        for (Cell *w = words(node.node()), *end = w + word_count(node.node()); w < end; ++w)
            w->w1 = node.node();
    if (!on_stack) {
        const uint32_t values = memory::alloc_unset_cells(slots);
        cell_of(node.node())->w2 = values;
    }
    return node.node();
}

uint32_t make_from_spec(const Cell* spec, bool on_stack, bool object_flag, Kind kind) {
    GcRoot block(*spec);
    uint32_t slots = 0, words_in_spec = 0;
    if (block.cell().w2 != 0) {
        memory::Buffer* b = memory::buffer(block.cell().w2);
        const auto index = static_cast<int32_t>(block.cell().w1);
        slots = b->length() - std::min(static_cast<uint32_t>(std::max(index, 0)), b->length());
        for (const Cell* c = b->cells(); c < b->cells_tail(); ++c) {
            const uint8_t t = cell::type(c);
            words_in_spec += traits::is_arg_word(t) || t == kTypeRefinement;
        }
    }
    // The words are taken from the head of the block: room for all of them, even when the
    // block's index is past some.
    GcRoot context(create(std::max(slots, words_in_spec), on_stack, object_flag, nullptr, kind));
    for (uint32_t i = 0;; ++i) {
        if (block.cell().w2 == 0) break;
        memory::Buffer* b = memory::buffer(block.cell().w2);
        if (i >= b->length()) break;
        const Cell c = b->cells()[i];
        const uint8_t t = cell::type(&c);
        if (!traits::is_arg_word(t) && t != kTypeRefinement) continue;
        int32_t added = kUnresolved;
        find_word_ex(context.node(), c.w2, true, &added);
    }
    if (!on_stack) {
        memory::Buffer* values = values_block(context.node());
        values->tail = values->head + word_count(context.node()) * sizeof(Cell);
    }
    return context.node();
}

uint32_t clone(Cell* holder, Kind kind) {
    GcRoot source(holder->w1);
    const Cell original = *cell_of(source.node());
    const uint32_t count = word_count(source.node());
    GcRoot copy(create(count, original.header & kFlagOnStack, original.header & kFlagObject,
                       &original, kind));
    if (memory::Buffer* values = values_block(copy.node()))
        values->tail = values->head + count * sizeof(Cell);
    holder->w1 = copy.node();
    return copy.node();
}

// --- Reading a context ----------------------------------------------------------------------

Cell* cell_of(uint32_t context) {
    return memory::buffer(context)->cells();
}

Cell* owner_of(uint32_t context) {
    return memory::buffer(context)->cells() + 1;
}

Kind kind_of(uint32_t context) {
    return static_cast<Kind>((cell_of(context)->header & kKindMask) >> kKindShift);
}

bool on_stack(uint32_t context) {
    return cell_of(context)->header & kFlagOnStack;
}

uint32_t word_list(uint32_t context) {
    return hashtable::record(cell_of(context)->w1)->data;
}

Cell* words(uint32_t context) {
    return memory::buffer(word_list(context))->cells();
}

uint32_t word_count(uint32_t context) {
    return memory::buffer(word_list(context))->length();
}

Cell* slot(uint32_t context, int32_t index) {
    if (context == 0 || index < 0) return nullptr;
    const Cell* c = cell_of(context);
    if (c->header & kFlagOnStack) {
        if (c->w2 == 0 || static_cast<uint32_t>(index) >= word_count(context)) return nullptr;
        Cell* at = stack::bottom + (c->w2 - 1) + index;
        return at < stack::end ? at : nullptr;
    }
    if (c->w2 == 0) return nullptr;
    memory::Buffer* values = memory::buffer(c->w2);
    const uint32_t count = (values->tail - values->head) / sizeof(Cell); // a cell buffer
    return static_cast<uint32_t>(index) < count ? values->cells() + index : nullptr;
}

uint32_t set_stack_values(uint32_t context, const Cell* first) {
    Cell* c = cell_of(context);
    const uint32_t saved = c->w2;
    c->w2 = first ? stack::index_of(first) + 1 : 0;
    return saved;
}

void restore_stack_values(uint32_t context, uint32_t saved) {
    cell_of(context)->w2 = saved;
}

// --- Lookup and adding words ----------------------------------------------------------------

int32_t find_word(uint32_t context, uint32_t symbol, bool case_insensitive) {
    if (context == 0) return kUnresolved;
    return hashtable::put_context(cell_of(context)->w1, symbol, case_insensitive, 0, nullptr);
}

int32_t find_word_ex(uint32_t context, uint32_t symbol, bool case_insensitive, int32_t* out) {
    int32_t added = kUnresolved;
    const int32_t found =
        hashtable::put_context(cell_of(context)->w1, symbol, case_insensitive, context, &added);
    if (out) *out = found >= 0 ? found : added;
    return found;
}

int32_t bind_index(uint32_t context, uint32_t symbol) {
    GcRoot keep(context);
    int32_t added = kUnresolved;
    const int32_t found = find_word_ex(keep.node(), symbol, true, &added);
    if (found >= 0) return found;
    ensure_slots(keep.node(), static_cast<uint32_t>(added) + 1);
    return added;
}

Cell* value_cell(uint32_t symbol, uint32_t context) {
    if (context != 0 && on_stack(context)) context = global;
    return slot(context, find_word(context, symbol, true));
}

Cell* add_symbol(uint32_t id, bool case_insensitive, bool keep_letters) {
    GcRoot context(global);
    int32_t added = kUnresolved;
    const int32_t found = find_word_ex(context.node(), id, case_insensitive, &added);
    if (found >= 0) {
        Cell* entry = words(context.node()) + found;
        if (!case_insensitive || !keep_letters || entry->w2 == id) return entry;
        // Another letter case of the word: a copy that keeps the letters asked for.
        Cell copy = *entry;
        copy.w2 = id;
        Cell* at = root::boot_flag ? root::alloc_tail() : stack::push_cell();
        *at = copy;
        return at;
    }
    if (symbol::get_alias(id) > 0) {
        // The first variant along the probe is the earliest added: its slot is shared.
        const int32_t first = find_word(context.node(), id, true);
        Cell* w = words(context.node());
        if (first >= 0) w[added].w3 = w[first].w3;
    }
    ensure_slots(context.node(), static_cast<uint32_t>(added) + 1);
    return words(context.node()) + added;
}

Cell* add_global(uint32_t symbol) {
    Cell* entry = add_symbol(symbol, false, true);
    if (!root::boot_flag) return entry;
    const Cell copy = *entry;
    Cell* at = root::alloc_tail();
    *at = copy;
    return at;
}

// --- Values through words -------------------------------------------------------------------

Cell* set_word_value(uint32_t context, const Cell* word, const Cell* value) {
    GcRoot keep(context), w(*word), v(*value);
    const int32_t index = bind_index(keep.node(), w.cell().w2);
    Cell* s = slot(keep.node(), index);
    if (!s) error::fire(error::kScript, error::script::not_defined, {&w.cell()});
    *s = v.cell();
    return s;
}

Cell* add_word_value(uint32_t context, const Cell* word, const Cell* value) {
    GcRoot keep(context), v(*value);
    int32_t added = kUnresolved;
    if (find_word_ex(keep.node(), word->w2, true, &added) >= 0) return nullptr;
    ensure_slots(keep.node(), static_cast<uint32_t>(added) + 1);
    Cell* s = slot(keep.node(), added);
    if (s) *s = v.cell();
    return s;
}

Cell* set_in(Cell* word, const Cell* value, uint32_t context, bool notify) {
    if (context == 0) error::fire(error::kScript, error::script::not_defined, {word});
    // The usual case first: an index known, a slot there, no object to mark or notify.
    if (word->w3 != static_cast<uint32_t>(kUnresolved) && kind_of(context) != kObject) {
        if (Cell* s = slot(context, static_cast<int32_t>(word->w3))) {
            *s = *value;
            return s;
        }
    }
    GcRoot keep(context), v(*value);
    auto index = static_cast<int32_t>(word->w3);
    if (index < 0) {
        index = find_word(context, word->w2, false);
        bool add = false;
        if (index < 0) {
            index = find_word(context, word->w2, true);
            // Absent in every letter case: it goes at the end of the word list.
            if (index < 0) {
                index = static_cast<int32_t>(word_count(context));
                add = true;
            }
        }
        // Cached before adding, which may move the buffer that holds the word.
        word->w3 = static_cast<uint32_t>(index);
        if (add) {
            // Adding may collect: go on with a rooted copy of the word.
            GcRoot w(*word);
            bind_index(keep.node(), w.cell().w2);
            return set_in(&w.cell(), &v.cell(), keep.node(), notify);
        }
    }
    Cell* s = slot(keep.node(), index);
    if (!s) error::fire(error::kScript, error::script::not_defined, {word});
    if (on_stack(keep.node())) {
        *s = v.cell();
        return s;
    }
    if (kind_of(keep.node()) == kObject) {
        if (static_cast<uint32_t>(index) < word_count(keep.node()))
            words(keep.node())[index].header |= kTouched;
        const Cell* owner = owner_of(keep.node());
        if (notify && change_hook && cell::type(owner) == kTypeObject && owner->w3 != 0) {
            StackTop restore;
            Cell* o = stack::push(*owner);
            Cell* w = stack::push(*word);
            Cell* old_value = stack::push(*s);
            Cell* new_value = stack::push(v.cell());
            *s = v.cell();
            change_hook(o, w, old_value, new_value);
            return slot(keep.node(), index);
        }
    }
    *s = v.cell();
    return s;
}

Cell* set_word(Cell* word, const Cell* value) {
    return set_in(word, value, word->w1, true);
}

Cell* get_in(const Cell* word, uint32_t context) {
    // An unbound word has no context to read from.
    if (context == 0) error::fire(error::kScript, error::script::not_in_context, {word});
    auto index = static_cast<int32_t>(word->w3);
    // A word loaded into a block is bound with its index unknown until first use: look it up.
    if (index < 0 && word->w1 == context) index = find_word(context, word->w2, true);
    if (index < 0) {
        if (word->w2 == ::words::symbol.self && word->w2 != 0 && word->w1 != 0)
            return owner_of(word->w1);
        error::fire(error::kScript, error::script::no_value, {word});
    }
    Cell* s = slot(context, index);
    if (!s) error::fire(error::kScript, error::script::not_in_context, {word});
    return s;
}

Cell* get_word(const Cell* word) {
    return get_in(word, word->w1);
}

// --- Binding --------------------------------------------------------------------------------

int32_t bind_word(uint32_t context, Cell* word) {
    const int32_t index = find_word(context, word->w2, true);
    if (index >= 0) {
        word->w1 = context;
        word->w3 = static_cast<uint32_t>(index);
    }
    return index;
}

Cell* bind_deep(Cell* block, uint32_t context, bool self) {
    bind_block(block->w2, static_cast<int32_t>(block->w1), context, self);
    return block;
}

bool add_set_words(uint32_t context, Cell* block) {
    if (block->w2 == 0) return false;
    GcRoot keep(context), list(block->w2);
    const uint32_t length = memory::buffer(list.node())->length();
    const auto index = static_cast<int32_t>(block->w1);
    const uint32_t from = std::min(static_cast<uint32_t>(std::max(index, 0)), length);
    if (index > static_cast<int32_t>(length)) block->w1 = length;
    const uint32_t before = word_count(keep.node());
    for (uint32_t i = from;; ++i) {
        memory::Buffer* b = memory::buffer(list.node());
        if (i >= b->length()) break;
        const Cell c = b->cells()[i];
        if (cell::type(&c) == kTypeSetWord) bind_index(keep.node(), c.w2);
    }
    return word_count(keep.node()) > before;
}

// --- Change notification --------------------------------------------------------------------

void set_change_hook(ChangeHook hook) {
    change_hook = hook;
}

// --- Collector ------------------------------------------------------------------------------

void mark_cell(Cell& c) {
    if (c.w1 != 0) hashtable::mark(c.w1);
    if (!(c.header & kFlagOnStack) && c.w2 != 0) collector::mark_node_cells(c.w2);
}

void mark(uint32_t& node) {
    collector::mark_node_cells(node);
}

void register_actions() {
    action::Row row;
    datatype::register_({kTypeContext, 0, "context!", row.entries()});
    collector::set_type_marker(kTypeContext, mark_cell);
}

} // namespace context
