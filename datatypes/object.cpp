#include "datatypes/object.h"

#include <algorithm>
#include <optional>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/cycles.h"
#include "datatypes/datatype.h"
#include "datatypes/dispatch.h"
#include "datatypes/form-mold.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/ownership.h"
#include "datatypes/series.h"
#include "datatypes/signature.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/root.h"
#include "runtime-core/support.h"
#include "runtime-core/type-traits.h"

using memory::Buffer;

namespace object {

namespace {

const Evaluator* evaluator = nullptr;
int32_t class_counter = kFirstClassId;
Cell unset_cell{kTypeUnset, 0, 0, 0};

// Event classes of the tracer for the two handlers.
constexpr int32_t kOnChangeEvent = 8;
constexpr int32_t kOnDeepChangeEvent = 16;

// --- Small helpers ----------------------------------------------------------------------------

uint32_t context_of(const Cell* object) {
    return object->w1;
}

Buffer* values_buffer(uint32_t context) {
    return memory::buffer(context::cell_of(context)->w2);
}

// Makes the values block of a fresh object context hold one cell per word.
void cover_words(uint32_t context) {
    Buffer* b = values_buffer(context);
    const uint32_t n = context::word_count(context);
    if (b->length() < n) b->tail = b->head + n * sizeof(Cell);
}

uint32_t canonical(uint32_t symbol) {
    return series::canonical(symbol);
}

bool same_symbol(uint32_t a, const Cell* word) {
    return word && canonical(a) == canonical(word->w2);
}

bool is_handler_word(uint32_t symbol) {
    return same_symbol(symbol, words::word.on_change) ||
           same_symbol(symbol, words::word.on_deep_change);
}

// The series types a deep copy of an object replaces (no types given).
bool deep_copied(uint8_t t) {
    return (series::is_any_block(t) && t != kTypeHash) || series::is_any_string(t);
}

[[noreturn]] void invalid_path(const Cell* path, const Cell* element) {
    error::fire(error::kScript, error::script::invalid_path, {path, element});
}

[[noreturn]] void invalid_obj_evt(const Cell* value) {
    error::fire(error::kScript, error::script::invalid_obj_evt, {value});
}

// Replaces the value at an index of a context by its deep copy (copy action). May collect.
void deep_copy_slot(uint32_t context, uint32_t index) {
    GcRoot keep(context);
    GcRoot item(*context::slot(context, static_cast<int32_t>(index)));
    actions::call<action::slot::copy>(&item.cell(), &item.cell(), {.deep = true});
    if (Cell* s = context::slot(keep.node(), static_cast<int32_t>(index))) *s = item.cell();
}

// Rebuilds a function! field for the object it now belongs to. May collect.
void rebind_slot(uint32_t context, uint32_t index) {
    GcRoot keep(context);
    GcRoot item(*context::slot(context, static_cast<int32_t>(index)));
    if (evaluator && evaluator->rebind_function)
        evaluator->rebind_function(&item.cell(), keep.node());
    else
        rebind_function(&item.cell(), keep.node());
    if (Cell* s = context::slot(keep.node(), static_cast<int32_t>(index))) *s = item.cell();
}

// Over every value of a context: series of the deep-copied set (or of every series type with
// `all_series`) replaced by deep copies, function! values rebound. May collect.
void copy_and_rebind(uint32_t context, bool copy_series, bool all_series) {
    GcRoot keep(context);
    const uint32_t n = context::word_count(context);
    for (uint32_t i = 0; i < n; ++i) {
        const Cell* v = context::slot(keep.node(), static_cast<int32_t>(i));
        if (!v) break;
        const uint8_t t = cell::type(v);
        if (copy_series && (all_series ? series::is_series(t) : deep_copied(t)))
            deep_copy_slot(keep.node(), i);
        else if (t == kTypeFunction)
            rebind_slot(keep.node(), i);
    }
}

// --- Change records -------------------------------------------------------------------------

struct HandlerSlot {
    int32_t index;
    int32_t count;
    uint32_t spec;
};

HandlerSlot read_record(uint32_t record, int which) {
    const Cell& c = memory::buffer(record)->cells()[which];
    return {static_cast<int32_t>(c.w2) >> 16, static_cast<int32_t>(c.w2 & 0xFFFF), c.w3};
}

void write_record(uint32_t record, int which, const HandlerSlot& h) {
    Cell& c = memory::buffer(record)->cells()[which];
    c = Cell{kTypePair, 0, (static_cast<uint32_t>(h.index) << 16) | (h.count & 0xFFFF), h.spec};
}

// The handler function of a record slot: a copy of the field's value, with the record's
// cached count brought up to date when the function changed since it was taken.
std::optional<Cell> handler_of(const Cell& object, int which, HandlerSlot& h) {
    h = read_record(object.w3, which);
    if (h.index < 0) return std::nullopt;
    const Cell* v = context::slot(object.w1, h.index);
    if (!v) return std::nullopt;
    Cell fn = *v;
    if ((cell::type(&fn) == kTypeFunction || cell::type(&fn) == kTypeRoutine) &&
        any_function::spec_node(&fn) != h.spec) {
        h.spec = any_function::spec_node(&fn);
        h.count = static_cast<int32_t>(signature::view(&fn).optional_cells());
        write_record(object.w3, which, h);
    }
    return fn;
}

// Runs a handler whose arguments are pushed after `result` (the frame's result slot).
void call(const Cell& function, const Cell* name, uint32_t context, int32_t event_class,
          int32_t locals, Cell* result) {
    GcRoot fn(function), ctx(context);
    if (locals > 0) signature::push_optional(&fn.cell());
    stack::arguments = result;
    evaluator->call_handler(&fn.cell(), name, ctx.node(), event_class);
}

// A global word by name (the word tables have no present-tense insert and remove). May
// collect.
Cell global_word(const char* name) {
    Cell w = *context::add_symbol(symbol::make(name), true, false);
    w.header = kTypeWord;
    return w;
}

// The action word that on-deep-change* receives for a report. May collect.
Cell action_word(ownership::Action action) {
    using A = ownership::Action;
    const words::Words& w = words::word;
    switch (action) {
    case A::append:
        return *w.append;
    case A::appended:
        return *w.appended;
    case A::change:
        return *w.change;
    case A::changed:
        return *w.changed;
    case A::clear:
        return *w.clear;
    case A::cleared:
        return *w.cleared;
    case A::insert:
        return global_word("insert");
    case A::inserted:
        return *w.inserted;
    case A::move:
        return *w.move;
    case A::moved:
        return *w.moved;
    case A::poke:
        return *w.poke;
    case A::poked:
        return *w.poked;
    case A::put:
        return *w.put;
    case A::put_ed:
        return *w.put_ed;
    case A::random:
        return *w.random;
    case A::randomized:
        return *w.randomized;
    case A::remove:
        return global_word("remove");
    case A::removed:
        return *w.removed;
    case A::reverse:
        return *w.reverse;
    case A::reversed:
        return *w.reversed;
    case A::sort:
        return *w.sort;
    case A::sorted:
        return *w.sorted;
    case A::swap:
        return *w.swap;
    case A::swaped:
        return *w.swaped;
    case A::take:
        return *w.take;
    case A::taken:
        return *w.taken;
    case A::trim:
        return *w.trim;
    case A::trimmed:
        return *w.trimmed;
    case A::uppercase:
        return *w.uppercase;
    case A::lowercase:
        return *w.lowercase;
    case A::set_path:
        return global_word("set-path");
    }
    return none::value;
}

// The hooks of context.h (set-word on a field) and ownership.h (an owned series changed).
void on_field_set(Cell* owner, Cell* word, Cell* old_value, Cell* new_value) {
    fire_on_change(owner, word, old_value, new_value);
}

void on_series_changed(const Cell* owner, const Cell* word, const Cell* target,
                       ownership::Action action, const Cell* new_value, int32_t index,
                       int32_t part) {
    GcRoot o(*owner), w(*word), t(*target), n(new_value ? *new_value : none::value);
    GcRoot a(action_word(action));
    fire_on_deep_change(&o.cell(), &w.cell(), &t.cell(), &a.cell(), new_value ? &n.cell() : nullptr,
                        index, part);
}

// Collector rule of object!, error! and port! cells: the context and the change record.
void mark_cell(Cell& c) {
    if (c.w1 != 0) context::mark(c.w1);
    if (c.w3 != 0) collector::mark_series(c.w3);
}

} // namespace

void set_evaluator(const Evaluator* e) {
    evaluator = e;
}

void do_block(const Cell* block) {
    if (!evaluator || !evaluator->do_block)
        error::fire(error::kInternal, error::internal::not_done);
    GcRoot b(*block);
    evaluator->do_block(&b.cell());
}

// --- Accessors --------------------------------------------------------------------------------

Cell* word_at(uint32_t context, uint32_t index) {
    return context::words(context) + index;
}

Cell* first_word(const Cell* object) {
    return context::words(context_of(object));
}

Cell* values(const Cell* object) {
    return values_buffer(context_of(object))->cells();
}

uint32_t field_count(const Cell* object) {
    return context::word_count(context_of(object));
}

int32_t find_symbol_index(const Cell* object, uint32_t symbol) {
    return context::find_word(context_of(object), symbol, true);
}

int32_t find_word_index(const Cell* object, const Cell* word) {
    return find_symbol_index(object, word->w2);
}

Cell* select_word(const Cell* object, const Cell* word) {
    Cell* s = context::slot(context_of(object), find_word_index(object, word));
    return s ? s : &none::value;
}

bool slot_holds_object(uint32_t context, int32_t index, int32_t class_id) {
    const Cell* v = context::slot(context, index);
    return v && cell::type(v) == kTypeObject && static_cast<int32_t>(v->w2) == class_id;
}

bool word_holds_object(const Cell* word, int32_t class_id) {
    return slot_holds_object(word->w1, static_cast<int32_t>(word->w3), class_id);
}

void clear_new_lines(uint32_t cells) {
    Buffer* b = memory::buffer(cells);
    for (Cell *c = b->cells(), *end = b->cells_tail(); c < end; ++c) cell::clear_new_line(c);
}

void clear_value_marks(uint32_t context) {
    Cell* w = context::words(context);
    for (uint32_t i = 0, n = context::word_count(context); i < n; ++i)
        w[i].header &= ~context::kTouched;
}

int32_t new_class_id() {
    return ++class_counter;
}

// --- Constructors -----------------------------------------------------------------------------

Cell* make_at(uint32_t context, int32_t class_id) {
    cover_words(context);
    Cell* o = stack::push_cell();
    *o = Cell{kTypeObject, context, static_cast<uint32_t>(class_id), 0};
    *context::owner_of(context) = *o;
    return o;
}

Cell* push(uint32_t context, uint32_t record, int32_t class_id) {
    Cell* o = make_at(context, class_id);
    o->w3 = record;
    *context::owner_of(context) = *o;
    return o;
}

Cell* make_empty_at(Cell* cell, uint32_t slots) {
    cell->header = kTypeUnset;
    const uint32_t context = context::create(slots, false, true, nullptr, context::kObject);
    *cell = Cell{kTypeObject, context, 0, 0};
    *context::owner_of(context) = *cell;
    return cell;
}

Cell* build(const Cell* source, Cell* target, bool deep, const Cell* types, bool copy) {
    GcRoot src(*source);
    GcRoot kinds(types ? *types : none::value);
    target->header = kTypeUnset;
    const uint32_t n = field_count(source);
    const Cell from = *context::cell_of(context_of(source));
    GcRoot ctx(context::create(n, false, true, &from, context::kObject));
    const Cell& s = src.cell();
    *target = Cell{cell::type(&s), ctx.node(), s.w2, copy ? 0 : s.w3};
    *context::owner_of(ctx.node()) = *target;
    if (n == 0) {
        if (copy) setup_change_handlers(target);
        return target;
    }
    Buffer* b = values_buffer(ctx.node());
    b->tail = b->head + n * sizeof(Cell);
    std::copy_n(values_buffer(context_of(&s))->cells(), n, b->cells());
    if (deep && !types) {
        copy_and_rebind(ctx.node(), true, false);
    } else {
        copy_and_rebind(ctx.node(), false, false);
        if (types) {
            if (deep && cycles::find(context_of(&s))) {
                cycles::reset();
                error::fire(error::kInternal, error::internal::no_cycle);
            }
            cycles::Push walking(context_of(&s));
            GcRoot values(Cell{kTypeBlock, 0, context::cell_of(ctx.node())->w2, 0});
            block::copy_deep_filter(&values.cell(), 0, n, 1, deep, &kinds.cell());
        }
    }
    if (copy) setup_change_handlers(target);
    return target;
}

bool inherit_from(const Cell* target, const Cell* source) {
    GcRoot t(*target), s(*source);
    const uint32_t before = field_count(target);
    for (uint32_t i = 0;; ++i) {
        if (i >= field_count(&s.cell())) break;
        GcRoot w(*word_at(context_of(&s.cell()), i));
        const Cell* v = context::slot(context_of(&s.cell()), static_cast<int32_t>(i));
        GcRoot value(v ? *v : none::value);
        context::set_word_value(context_of(&t.cell()), &w.cell(), &value.cell());
    }
    copy_and_rebind(context_of(&t.cell()), true, true);
    return field_count(&t.cell()) > before;
}

void rebind_function(Cell* function, uint32_t context) {
    GcRoot ctx(context);
    if (cell::type(&any_function::body(function)) != kTypeBlock)
        error::fire(error::kScript, error::script::bad_func_def, {function});
    Cell* const base = stack::top;
    Cell* spec = stack::push(any_function::spec(function));
    Cell* body = stack::push(any_function::body(function));
    Cell* locals = stack::push(*function);
    // The same spec, the same signature: a copy of it, whose types the method's own first
    // call reads.
    Cell* compiled = stack::push(Cell{kTypeBlock, 0, any_function::signature(function).w2, 0});
    compiled = block::copy_series(compiled, false, false);
    context::clone(locals, context::kFunction);
    Cell* copy = block::copy_series(body, true, true);
    context::bind_deep(copy, ctx.node(), true);
    context::bind_deep(copy, locals->w1, false);
    function::build(spec, compiled, copy, locals->w1);
    *function = stack::top[-1];
    // A rebuilt method runs interpreted, whatever the one it was made from did.
    memory::buffer(function->w3)->cells()[2] = unset_cell;
    stack::top = base;
}

void copy_values(uint32_t source, uint32_t target, bool all) {
    GcRoot src(source), dst(target);
    const uint32_t n = std::min(context::word_count(source), context::word_count(target));
    for (uint32_t i = 0; i < n; ++i) {
        const Cell* v = context::slot(src.node(), static_cast<int32_t>(i));
        if (!v) break;
        const uint8_t t = cell::type(v);
        if (series::is_series(t)) {
            GcRoot item(*v);
            actions::call<action::slot::copy>(&item.cell(), &item.cell(), {.deep = true});
            if (series::is_any_block(t)) context::bind_deep(&item.cell(), dst.node(), true);
            if (Cell* s = context::slot(dst.node(), static_cast<int32_t>(i))) *s = item.cell();
        } else if (all) {
            if (Cell* s = context::slot(dst.node(), static_cast<int32_t>(i))) *s = *v;
        }
    }
}

Cell* make_from_block(const Cell* spec, const Cell* prototype, bool only) {
    GcRoot s(*spec);
    Cell* result = stack::push_cell();
    if (!prototype) {
        make_empty_at(result, 4);
        result->w2 = static_cast<uint32_t>(new_class_id());
    } else {
        GcRoot p(*prototype);
        build(&p.cell(), result, true, nullptr, true);
    }
    GcRoot o(*result);
    result->header = kTypeUnset;
    auto ctx = [&o] { return context_of(&o.cell()); };
    // Each set-word takes the next value that is not a set-word (none at the end).
    const int32_t n = block::length_from_index(&s.cell());
    for (int32_t i = 0; i < n; ++i) {
        const Cell* c = block::cell_at(&s.cell(), s.cell().w1 + i);
        if (cell::type(c) != kTypeSetWord) continue;
        int32_t j = i + 1;
        while (j < n && cell::type(block::cell_at(&s.cell(), s.cell().w1 + j)) == kTypeSetWord) ++j;
        GcRoot w(*c);
        GcRoot v(j < n ? *block::cell_at(&s.cell(), s.cell().w1 + j) : none::value);
        Cell& value = v.cell();
        if (!only && cell::type(&value) == kTypeWord) {
            const uint32_t sym = canonical(value.w2);
            const words::Symbols& y = words::symbol;
            if (sym == canonical(y.true_) || sym == canonical(y.yes) || sym == canonical(y.on))
                logic::make_at(&value, true);
            else if (sym == canonical(y.false_) || sym == canonical(y.no) ||
                     sym == canonical(y.off))
                logic::make_at(&value, false);
            else if (sym == canonical(y.none))
                none::make_at(&value);
        }
        const int32_t index = context::bind_index(ctx(), w.cell().w2);
        if (Cell* slot = context::slot(ctx(), index)) *slot = v.cell();
    }
    *result = o.cell();
    *context::owner_of(ctx()) = o.cell();
    return result;
}

void set_values(const Cell* object, const Cell* value, const SetOptions& options) {
    GcRoot o(*object), v(*value);
    auto ctx = [&o] { return context_of(&o.cell()); };
    int32_t change_index = -1, deep_index = -1;
    if (object->w3 != 0) {
        change_index = read_record(object->w3, 0).index;
        deep_index = read_record(object->w3, 1).index;
    }
    const uint8_t vt = cell::type(value);
    const bool by_position = !options.only && (vt == kTypeBlock || vt == kTypeObject);
    const uint32_t n = field_count(object);

    // Values for the fields in order; a field without one (or left alone) is skipped.
    for (uint32_t i = 0; i < n; ++i) {
        GcRoot source(v.cell());
        if (by_position) {
            if (vt == kTypeBlock) {
                const int32_t left = block::length_from_index(&v.cell());
                const auto at = static_cast<int32_t>(i);
                source.set_cell(at < left ? *block::cell_at(&v.cell(), v.cell().w1 + i)
                                          : none::value);
            } else {
                const Cell* w = word_at(ctx(), i);
                const int32_t j = find_symbol_index(&v.cell(), w->w2);
                if (j < 0) continue;
                const Cell* sv = context::slot(context_of(&v.cell()), j);
                source.set_cell(sv ? *sv : none::value);
            }
            if (!options.any && cell::type(&source.cell()) == kTypeUnset) {
                Cell* w = word::push(word_at(ctx(), i));
                error::fire(error::kScript, error::script::need_value, {w});
            }
            if (options.some && cell::type(&source.cell()) == kTypeNone) continue;
        }
        Cell* w = word_at(ctx(), i);
        w->header |= context::kTouched;
        const auto at = static_cast<int32_t>(i);
        if (o.cell().w3 == 0) {
            *context::slot(ctx(), at) = source.cell();
            continue;
        }
        if (at == change_index || at == deep_index) continue;
        GcRoot old(*context::slot(ctx(), at));
        GcRoot word(*w);
        *context::slot(ctx(), at) = source.cell();
        fire_on_change(&o.cell(), &word.cell(), &old.cell(), &source.cell());
    }
}

// --- Change handlers --------------------------------------------------------------------------

uint32_t make_change_record(uint32_t spec1, uint32_t spec2, int32_t index1, int32_t count1,
                            int32_t index2, int32_t count2) {
    const uint32_t record = memory::alloc_unset_cells(2);
    Buffer* b = memory::buffer(record);
    b->tail = b->head + 2 * sizeof(Cell);
    write_record(record, 0, {index1, count1, spec1});
    write_record(record, 1, {index2, count2, spec2});
    return record;
}

uint32_t find_change_handlers(uint32_t context) {
    int32_t index[2] = {-1, -1};
    // Every object made looks: the handlers' canonical symbols are resolved once.
    const Cell* handlers[2] = {words::word.on_change, words::word.on_deep_change};
    uint32_t wanted[2] = {0, 0};
    for (int k = 0; k < 2; ++k)
        if (handlers[k]) wanted[k] = canonical(handlers[k]->w2);
    const Cell* w = context::words(context);
    for (uint32_t i = 0, n = context::word_count(context); i < n; ++i) {
        const uint32_t symbol = canonical(w[i].w2);
        for (int k = 0; k < 2; ++k)
            if (handlers[k] && symbol == wanted[k]) index[k] = static_cast<int32_t>(i);
    }
    if (index[0] < 0 && index[1] < 0) return 0;
    uint32_t spec[2] = {0, 0};
    int32_t count[2] = {0, 0};
    for (int k = 0; k < 2; ++k) {
        if (index[k] < 0) continue;
        const Cell* v = context::slot(context, index[k]);
        const uint8_t t = v ? cell::type(v) : uint8_t{kTypeUnset};
        if (t != kTypeFunction && t != kTypeRoutine) {
            Cell* field = word::push(context::words(context) + index[k]);
            Cell* type = datatype::push(t);
            error::fire(error::kScript, error::script::bad_field_set, {field, type});
        }
        spec[k] = v->w2;
        count[k] = static_cast<int32_t>(signature::view(v).optional_cells());
    }
    return make_change_record(spec[0], spec[1], index[0], count[0], index[1], count[1]);
}

void setup_change_handlers(Cell* object) {
    GcRoot ctx(context_of(object));
    const uint32_t record = find_change_handlers(ctx.node());
    object->w3 = record;
    *context::owner_of(ctx.node()) = *object;
    if (record != 0 && read_record(record, 1).index >= 0)
        ownership::set_all(object, object, &none::value);
    *context::owner_of(ctx.node()) = *object;
}

uint32_t init_change_handlers(uint32_t context, int32_t index1, int32_t count1, int32_t index2,
                              int32_t count2) {
    GcRoot ctx(context);
    const uint32_t record = make_change_record(0, 0, index1, count1, index2, count2);
    Cell* o = stack::top_value();
    o->w3 = record;
    if (index2 != -1) ownership::set_all(o, o, &none::value);
    *context::owner_of(ctx.node()) = *stack::top_value();
    return record;
}

bool has_deep_change_handler(const Cell* object) {
    return object->w3 != 0 && read_record(object->w3, 1).index != -1;
}

void fire_on_change(const Cell* object, const Cell* word, const Cell* old_value,
                    const Cell* new_value) {
    GcRoot o(*object), w(*word), old(*old_value), now(*new_value);
    HandlerSlot h;
    std::optional<Cell> fn = handler_of(o.cell(), 0, h);
    if (!fn) return;
    if (cell::type(&*fn) != kTypeFunction) invalid_obj_evt(&*fn);
    const uint32_t ctx = context_of(&o.cell());
    // The handler sees a word! bound to its object, whatever word type set the field; the
    // caller's word is left alone.
    cell::set_type(&w.cell(), kTypeWord);
    cell::clear_new_line(&w.cell());
    if (w.cell().w1 != ctx) context::bind_word(ctx, &w.cell());
    if (!evaluator || !evaluator->call_handler) return;
    stack::FrameGuard guard;
    Cell* result = stack::push(unset_cell);
    stack::push(w.cell());
    stack::push(old.cell());
    stack::push(now.cell());
    call(*fn, words::word.on_change, ctx, kOnChangeEvent, h.count, result);
}

void fire_on_change_from_stack(const Cell* object, const Cell* word) {
    const Cell* top = stack::top_value();
    fire_on_change(object, word, top, top - 1);
}

void fire_on_change_in(uint32_t context, const Cell* word) {
    GcRoot owner(*context::owner_of(context));
    fire_on_change_from_stack(&owner.cell(), word);
}

void fire_on_change_of_word(const Cell* object_word, const Cell* word) {
    GcRoot owner(*context::get_word(object_word));
    fire_on_change_from_stack(&owner.cell(), word);
}

void fire_on_deep_change(const Cell* owner, const Cell* word, const Cell* target,
                         const Cell* action, const Cell* new_value, int32_t index, int32_t part) {
    if (owner->w3 == 0) invalid_obj_evt(owner);
    GcRoot o(*owner), w(*word), t(*target), a(*action), n(new_value ? *new_value : none::value);
    HandlerSlot h;
    std::optional<Cell> fn = handler_of(o.cell(), 1, h);
    if (!fn || cell::type(&*fn) != kTypeFunction) return;
    if (!evaluator || !evaluator->call_handler) return;
    stack::FrameGuard guard;
    Cell* result = stack::push(unset_cell);
    stack::push(o.cell());
    stack::push(w.cell());
    stack::push(t.cell());
    stack::push(a.cell());
    stack::push(n.cell());
    integer::push(index);
    integer::push(part);
    call(*fn, words::word.on_deep_change, context_of(&o.cell()), kOnDeepChangeEvent, h.count,
         result);
}

// --- make, copy, path access, select, put ------------------------------------------------------

Cell* make(Cell* prototype, Cell* spec, int32_t type) {
    GcRoot proto(*prototype), s(*spec);
    Cell* result = stack::push_cell();
    result->header = kTypeUnset;
    const bool from_object = cell::type(prototype) == kTypeObject;
    if (from_object) {
        // Series are copied below, once the copies can be bound to the new object.
        build(&proto.cell(), result, false, nullptr, false);
    } else {
        make_empty_at(result, 4);
    }
    GcRoot o(*result);
    result->header = kTypeUnset;
    // Node ids may change at every allocation: the context is read again through the root.
    auto ctx = [&o] { return context_of(&o.cell()); };
    const uint8_t st = cell::type(&s.cell());
    bool added = false;
    if (st == kTypeObject) {
        added = inherit_from(&o.cell(), &s.cell());
    } else if (st == kTypeBlock) {
        added = context::add_set_words(ctx(), &s.cell());
        cover_words(ctx());
        context::bind_deep(&s.cell(), ctx(), true);
        if (from_object) copy_values(context_of(&proto.cell()), ctx(), false);
        do_block(&s.cell());
        clear_value_marks(ctx());
        clear_new_lines(context::cell_of(ctx())->w2);
    } else {
        Cell* t = datatype::push(static_cast<uint32_t>(type));
        error::fire(error::kSyntax, error::syntax::malconstruct, {t, &s.cell()});
    }
    if (added || !from_object) o.cell().w2 = static_cast<uint32_t>(new_class_id());
    cell::set_type(&o.cell(), static_cast<uint8_t>(type));
    setup_change_handlers(&o.cell());
    *result = o.cell();
    return result;
}

Cell* copy(Cell* value, Cell* result, const action::CopyOptions& options) {
    // An object has no parts to copy: the error names the refinement itself, /part.
    if (options.part)
        error::fire(error::kScript, error::script::invalid_refine_arg,
                    {refinements::refinement.part, options.part});
    GcRoot source(*value);
    GcRoot kinds(options.types ? *options.types : none::value);
    GcRoot made(none::value);
    build(&source.cell(), &made.cell(), options.deep, options.types ? &kinds.cell() : nullptr,
          true);
    *result = made.cell();
    return result;
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, const action::PathOptions& options) {
    if (!traits::is_any_word(cell::type(element))) invalid_path(options.path, element);
    // A missing or unset field: unset! for an access that accepts it at the last element,
    // else an error that names the path and the element.
    auto missing = [&]() -> Cell* {
        if (!value && options.get && options.tail) return stack::push(unset_cell);
        if (!options.tail)
            error::fire(error::kScript, error::script::unset_path, {options.path, element});
        invalid_path(options.path, element);
    };
    const uint32_t ctx = context_of(parent);
    if (element->w1 != ctx || static_cast<int32_t>(element->w3) < 0) {
        const int32_t index = context::find_word(ctx, element->w2, true);
        if (index < 0) return missing();
        // The path's own word keeps the index, so the next evaluation skips the lookup.
        element->w1 = ctx;
        element->w3 = static_cast<uint32_t>(index);
    }
    const auto index = static_cast<int32_t>(element->w3);
    if (value) {
        GcRoot o(*parent), e(*element), v(*value);
        const bool notify = o.cell().w3 != 0;
        GcRoot old(notify ? *context::slot(ctx, index) : none::value);
        context::set_in(&e.cell(), &v.cell(), ctx, false);
        if (notify) fire_on_change(&o.cell(), &e.cell(), &old.cell(), &v.cell());
        return stack::push(v.cell());
    }
    Cell* s = context::slot(ctx, index);
    if (!s || cell::type(s) == kTypeUnset) return missing();
    return s;
}

Cell* select(Cell* series, Cell* value, const action::FindOptions&) {
    if (!traits::is_any_word(cell::type(value))) {
        Cell* t = datatype::push(cell::type(value));
        error::fire(error::kScript, error::script::invalid_type, {t});
    }
    return select_word(series, value);
}

Cell* put(Cell* series, Cell* key, Cell* value, const action::PutOptions&) {
    if (cell::type(key) != kTypeWord) {
        Cell* t = datatype::push(cell::type(key));
        error::fire(error::kScript, error::script::invalid_key_type, {t});
    }
    GcRoot k(*key), v(*value);
    Cell* none_path = none::push();
    eval_path(series, &k.cell(), &v.cell(), {.path = none_path, .tail = true});
    return stack::push(v.cell());
}

// --- form, mold, compare, reflect, modify -----------------------------------------------------

int32_t serialize(const Cell* object, const Cell* string, const SerializeOptions& options,
                  int32_t limit, int32_t tabs) {
    GcRoot o(*object);
    const uint32_t ctx = context_of(object);
    const uint32_t n = field_count(object);
    if (n == 0) return limit;
    const bool all = options.all, flat = options.flat;
    const bool indent = options.indent && !flat && !(options.mold && options.only);
    const char* separator = flat ? " " : "\n";
    if (!flat && options.mold && !options.only) {
        string::concatenate_cstring(string, "\n");
        limit -= 1;
    }
    cycles::Push walking(ctx);
    bool first = true;
    for (uint32_t i = 0; i < n; ++i) {
        if (limit <= 0) return limit;
        const uint32_t c = context_of(&o.cell());
        Cell w = *word_at(c, i);
        if (!all && is_handler_word(w.w2)) continue;
        if (!indent && !first) {
            string::concatenate_cstring(string, separator);
            limit -= 1;
        }
        first = false;
        if (indent) limit = ::mold::indent(string, tabs, limit);
        Cell* word_cell = stack::push(w);
        cell::set_type(word_cell, kTypeWord);
        limit = actions::mold(word_cell, const_cast<Cell*>(string), {.all = all, .flat = flat},
                              limit, tabs);
        stack::pop(1);
        string::concatenate_cstring(string, ": ");
        limit -= 2;
        // The word's mold may have moved the context's node.
        const Cell* v = context::slot(context_of(&o.cell()), static_cast<int32_t>(i));
        Cell* item = stack::push(v ? *v : unset_cell);
        if (cell::type(item) == 0) item->header = kTypeUnset;
        if (cell::type(item) == kTypeWord) {
            string::concatenate_cstring(string, "'");
            limit -= 1;
        }
        limit =
            actions::mold(item, const_cast<Cell*>(string), {.all = all, .flat = flat}, limit, tabs);
        stack::pop(1);
        if (indent) {
            string::concatenate_cstring(string, separator);
            limit -= 1;
        }
    }
    return limit;
}

int32_t form(Cell* value, Cell* string, Cell*, int32_t limit) {
    if (cycles::detect(value, string, &limit, false)) return limit;
    return serialize(value, string, {.only = true}, limit, 0);
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent) {
    if (cycles::detect(value, string, &limit, true)) return limit;
    if (!options.only) {
        // error! and port! share this mold under their own names.
        const char* prefix = cell::type(value) == kTypeError  ? "make error! ["
                             : cell::type(value) == kTypePort ? "make port! ["
                                                              : "make object! [";
        string::concatenate_cstring(string, prefix);
        limit -= static_cast<int32_t>(std::char_traits<char>::length(prefix));
    }
    limit = serialize(value, string,
                      {.only = options.only,
                       .all = options.all,
                       .flat = options.flat,
                       .indent = true,
                       .mold = true},
                      limit, indent + 1);
    if (!options.flat && indent > 0) limit = ::mold::indent(string, indent, limit);
    if (!options.only) {
        string::concatenate_cstring(string, "]");
        limit -= 1;
    }
    return limit;
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    const uint8_t ot = cell::type(other);
    if (!traits::is_any_object(ot)) return action::kNotComparable;
    const uint32_t c1 = context_of(value), c2 = context_of(other);
    if (c1 == c2) return 0;
    if (op == action::op::same) return -1;
    if (cycles::find(c1)) return cycles::find(c2) ? 0 : -1;
    const uint32_t n1 = context::word_count(c1), n2 = context::word_count(c2);
    if (n1 < n2) return -1;
    if (n1 > n2) return 1;
    if (n1 == 0) return 0;
    cycles::Push walk1(c1);
    cycles::Push walk2(c2);
    int32_t r = 0;
    for (uint32_t i = 0; i < n1 && r == 0; ++i) {
        const uint32_t s1 = canonical(word_at(c1, i)->w2), s2 = canonical(word_at(c2, i)->w2);
        if (s1 != s2) return s1 < s2 ? -1 : 1;
        Cell* v1 = context::slot(c1, static_cast<int32_t>(i));
        Cell* v2 = context::slot(c2, static_cast<int32_t>(i));
        const uint8_t t1 = cell::type(v1), t2 = cell::type(v2);
        if (t1 != t2 && !(traits::is_all_word(t1) && traits::is_all_word(t2)) &&
            !(traits::is_number(t1) && traits::is_number(t2)))
            return t1 < t2 ? -1 : 1;
        r = actions::compare_values(v1, v2, op);
    }
    return r;
}

namespace {

// The body of an object in `result` (a cell that stays where it is): a set-word of each field
// on a new line, bound to the object, then its value, words as lit-words and paths as
// lit-paths so that the body reads back to the same values. May collect.
void body_of(const Cell* object, Cell* result) {
    GcRoot o(*object);
    const uint32_t n = field_count(object);
    block::make_at(result, static_cast<int32_t>(std::max<uint32_t>(n * 2, 1)));
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t ctx = context_of(&o.cell());
        Cell w = *word_at(ctx, i);
        w.header = kTypeSetWord | cell::kNewLine;
        w.w1 = ctx;
        w.w3 = i;
        block::append_copy(result, &w);
        const Cell* v = context::slot(context_of(&o.cell()), static_cast<int32_t>(i));
        Cell item = v ? *v : unset_cell;
        if (cell::type(&item) == kTypeWord) cell::set_type(&item, kTypeLitWord);
        if (cell::type(&item) == kTypePath) cell::set_type(&item, kTypeLitPath);
        cell::clear_new_line(&item);
        block::append_copy(result, &item);
    }
}

void to_block(const Cell* object, Cell* result) {
    body_of(object, result);
}

} // namespace

Cell* reflect(Cell* value, int32_t field_symbol) {
    const uint32_t field = canonical(static_cast<uint32_t>(field_symbol));
    const words::Symbols& y = words::symbol;
    GcRoot o(*value);
    const uint32_t ctx = context_of(value);
    const uint32_t n = field_count(value);
    if (field == canonical(y.class_)) {
        return integer::make_at(value, static_cast<int32_t>(o.cell().w2));
    }
    if (field == canonical(y.owner)) {
        return logic::make_at(value, context::cell_of(ctx)->header & ownership::kOwnerFlag);
    }
    if (field == canonical(y.events_q)) {
        return logic::make_at(value, o.cell().w3 != 0);
    }
    Cell* result = block::push_new(static_cast<int32_t>(std::max<uint32_t>(n, 1)));
    if (field == canonical(words::word.changed->w2)) {
        for (uint32_t i = 0; i < n; ++i) {
            const Cell w = *word_at(context_of(&o.cell()), i);
            if (w.header & context::kTouched) {
                Cell copy = w;
                copy.header &= ~context::kTouched;
                block::append_copy(result, &copy);
            }
        }
    } else if (field == canonical(y.words)) {
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t c = context_of(&o.cell());
            Cell w = *word_at(c, i);
            w.header = kTypeWord;
            w.w1 = c;
            w.w3 = i;
            block::append_copy(result, &w);
        }
    } else if (field == canonical(y.values)) {
        for (uint32_t i = 0; i < n; ++i) {
            const Cell* v = context::slot(context_of(&o.cell()), static_cast<int32_t>(i));
            const Cell item = v ? *v : unset_cell;
            block::append_copy(result, &item);
        }
    } else if (field == canonical(y.body)) {
        body_of(&o.cell(), result);
    } else {
        error::fire(error::kInternal, error::internal::not_done);
    }
    *value = *result;
    stack::pop(1);
    return value;
}

Cell* modify(Cell* target, Cell* field, Cell* value, const action::PutOptions&) {
    if (!traits::is_all_word(cell::type(field))) return value;
    const uint32_t f = canonical(field->w2);
    GcRoot o(*target), v(*value);
    if (f == canonical(words::word.changed->w2)) {
        if (cell::type(value) != kTypeNone)
            error::fire(error::kScript, error::script::invalid_arg, {value});
        clear_value_marks(context_of(target));
    } else if (f == canonical(words::symbol.owner)) {
        ownership::set_all(&o.cell(), &o.cell(), &none::value);
    } else if (f == canonical(words::symbol.owned)) {
        if (cell::type(value) == kTypeNone) {
            ownership::unset(&o.cell());
        } else if (cell::type(value) == kTypeBlock && block::length_from_index(value) >= 2) {
            GcRoot owner(*block::cell_at(value, value->w1));
            GcRoot word(*block::cell_at(value, value->w1 + 1));
            ownership::set_all(&o.cell(), &owner.cell(), &word.cell());
        }
    }
    *value = v.cell();
    return value;
}

void register_actions() {
    namespace slot = action::slot;
    action::Row row;
    row.set<slot::make>(make)
        .set<slot::reflect>(reflect)
        .set<slot::form>(form)
        .set<slot::mold>(mold)
        .set<slot::eval_path>(eval_path)
        .set<slot::compare>(compare)
        .set<slot::copy>(copy)
        .set<slot::put>(put)
        .set<slot::select>(select)
        .set<slot::modify>(modify);
    datatype::register_({kTypeObject, 0, "object!", row.entries()});
    collector::set_type_marker(kTypeObject, mark_cell);
    collector::set_type_marker(kTypeError, mark_cell);
    collector::set_type_marker(kTypePort, mark_cell);
    block::set_conversion(kTypeObject, to_block);
    context::set_change_hook(on_field_set);
    ownership::set_fire_hook(on_series_changed);
}

} // namespace object
