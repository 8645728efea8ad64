#include "datatypes/error.h"

#include <string_view>

#include "datatypes/block.h"
#include "datatypes/catalog.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/dispatch.h"
#include "datatypes/form-mold.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/system-fields.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/type-traits.h"

namespace error {

namespace {

const Calls* calls = nullptr;

constexpr int32_t kNearWidth = 40;

bool is_word(const Cell* c) {
    return traits::is_any_word(cell::type(c));
}

Cell word_of(const char* name) {
    const uint32_t sym = symbol::make(name);
    return Cell{kTypeWord, 0, sym, word::kUnresolved};
}

// A word cell retyped to word!, unbound: what the type and id fields hold.
Cell plain_word(const Cell* w) {
    return Cell{kTypeWord, 0, w->w2, word::kUnresolved};
}

void set(const Cell* error, Field f, const Cell& value) {
    if (Cell* s = context::slot(error->w1, static_cast<int32_t>(f))) *s = value;
}

[[noreturn]] void invalid_spec_field(const char* name) {
    Cell* w = stack::push(word_of(name));
    fire(kScript, script::invalid_spec_field, {w});
}

// Checks the type and id words of an error against the catalogue and stores the code. May
// raise script/invalid-spec-field.
void set_code(const Cell* error) {
    const Cell* type = field(error, kType);
    if (!is_word(type)) invalid_spec_field("type");
    const int32_t category = catalog::category_position(type);
    if (category < 0) invalid_spec_field("type");
    const Cell* id = field(error, kId);
    if (!is_word(id)) invalid_spec_field("id");
    const int32_t position = catalog::id_position(catalog::category(category), id);
    if (position < 2) invalid_spec_field("id");
    Cell code{kTypeInteger, 0, static_cast<uint32_t>(category * 100 + position - 2), 0};
    set(error, kCode, code);
}

// A copy of system/standard/error in `result` (a cell that stays where it is), type error!,
// class id 1, no change record. May collect.
void copy_prototype(Cell* result) {
    const Cell* prototype =
        system_object::field({system_object::symbol.standard, system_object::symbol.error});
    if (!prototype || cell::type(prototype) != kTypeError)
        fire(kInternal, internal::invalid_error, {prototype ? prototype : &none::value});
    GcRoot p(*prototype);
    object::build(&p.cell(), result, true, nullptr, true);
    *result = Cell{kTypeError, result->w1, static_cast<uint32_t>(object::kErrorClassId), 0};
    *context::owner_of(result->w1) = *result;
}

} // namespace

void set_calls(const Calls* c) {
    calls = c;
}

void call_name(Cell* out) {
    if (calls && calls->name) {
        calls->name(out);
        return;
    }
    *out = words::word.body ? *words::word.not_found : Cell{kTypeNone, 0, 0, 0};
}

uint32_t call_depth() {
    return calls && calls->depth ? calls->depth() : 0;
}

// --- Making errors
// --------------------------------------------------------------------------------

Cell* create_from_words(const Cell* category, const Cell* id,
                        std::initializer_list<const Cell*> args) {
    GcRoot c(*category), i(*id);
    GcRoot a[3];
    uint32_t n = 0;
    for (const Cell* arg : args)
        if (n < 3) a[n++].set_cell(*arg);
    Cell* spec = block::push_new(2);
    block::append_copy(spec, &c.cell());
    block::append_copy(spec, &i.cell());
    Cell* result = make(nullptr, spec, kTypeError);
    for (uint32_t k = 0; k < n; ++k) set(result, static_cast<Field>(kArg1 + k), a[k].cell());
    // The spec block goes; the error takes its place.
    *spec = *result;
    stack::top = spec + 1;
    return spec;
}

Cell* create(uint32_t category, uint32_t id, std::initializer_list<const Cell*> args) {
    // The words at those positions of the catalogue, or the table's own when the catalogue
    // lacks them.
    Cell words[2];
    const Cell* c = catalog::errors();
    const Cell* cat = catalog::category(category);
    if (c && cat && category < context::word_count(c->w1) && id < context::word_count(cat->w1)) {
        words[0] = plain_word(object::word_at(c->w1, category));
        words[1] = plain_word(object::word_at(cat->w1, id));
    } else {
        const char* cn = catalog::category_name(category);
        const char* in = catalog::id_name(category, id);
        words[0] = word_of(cn ? cn : "internal");
        words[1] = word_of(in ? in : "invalid-error");
    }
    GcRoot w0(words[0]), w1(words[1]);
    return create_from_words(&w0.cell(), &w1.cell(), args);
}

Cell* create(const Raised& raised) {
    const Raised r = raised;
    GcRoot a0(r.args[0]), a1(r.args[1]), a2(r.args[2]);
    const Cell* all[3] = {&a0.cell(), &a1.cell(), &a2.cell()};
    switch (r.argc) {
    case 0:
        return create(r.category, r.id);
    case 1:
        return create(r.category, r.id, {all[0]});
    case 2:
        return create(r.category, r.id, {all[0], all[1]});
    default:
        return create(r.category, r.id, {all[0], all[1], all[2]});
    }
}

// --- Fields
// ---------------------------------------------------------------------------------------

Cell* field(const Cell* error, Field f) {
    Cell* s = context::slot(error->w1, static_cast<int32_t>(f));
    return s ? s : &none::value;
}

const Cell* get_type(const Cell* error) {
    return field(error, kType);
}

const Cell* get_id(const Cell* error) {
    return field(error, kId);
}

void get_where(const Cell* error, const Cell* word) {
    if (cell::type(field(error, kWhere)) == kTypeNone) set(error, kWhere, *word);
}

Cell* get_call_name(int32_t n) {
    const uint32_t spec = calls && calls->current_spec ? calls->current_spec() : 0;
    memory::Buffer* b = spec ? memory::find_buffer(spec) : nullptr;
    if (b && b->unit() == sizeof(Cell) && n >= 0) {
        int32_t k = 0;
        for (const Cell *c = b->cells(), *end = b->cells_tail(); c < end; ++c) {
            const uint8_t t = cell::type(c);
            if (!traits::is_arg_word(t) && t != kTypeRefinement) continue;
            if (k++ == n) {
                Cell w = *c;
                cell::set_type(&w, kTypeWord);
                cell::clear_new_line(&w);
                return stack::push(w);
            }
        }
    }
    return none::push();
}

void set_trace(const Cell* error) {
    if (cell::type(field(error, kStack)) != kTypeInteger) return;
    GcRoot e(*error);
    const Cell* levels_cell =
        system_object::field({system_object::symbol.state, system_object::symbol.stack_trace});
    int32_t levels = 1;
    if (levels_cell && cell::type(levels_cell) == kTypeInteger &&
        static_cast<int32_t>(levels_cell->w2) > 0)
        levels = static_cast<int32_t>(levels_cell->w2);
    const auto frame = static_cast<int32_t>(field(&e.cell(), kStack)->w2);
    Cell* names = block::push_new(20);
    if (calls && calls->trace) calls->trace(names, frame, levels);
    set(&e.cell(), kStack, *names);
    const Cell* files =
        system_object::field({system_object::symbol.state, system_object::symbol.source_files});
    if (files && cell::type(files) == kTypeBlock && block::length_from_index(files) > 0) {
        GcRoot source(*files);
        Cell* copy = block::copy_series(&source.cell(), false, false);
        set(&e.cell(), kFiles, *copy);
        stack::pop(1);
    }
    stack::pop(1);
}

// --- make
// -------------------------------------------------------------------------------------------

Cell* make(Cell*, Cell* spec, int32_t) {
    GcRoot s(*spec);
    Cell* result = stack::push_cell();
    result->header = kTypeUnset;
    const uint8_t st = cell::type(spec);
    if (st == kTypeString) {
        Cell user = word_of("user"), message = word_of("message");
        GcRoot u(user), m(message);
        Cell* made = create_from_words(&u.cell(), &m.cell(), {&s.cell()});
        *result = *made;
        stack::top = result + 1;
        return result;
    }
    if (st != kTypeInteger && st != kTypeBlock) {
        Cell* t = datatype::push(kTypeError);
        fire(kScript, script::bad_make_arg, {t, &s.cell()});
    }
    GcRoot made(none::value);
    copy_prototype(&made.cell());
    const Cell* e = &made.cell();
    if (st == kTypeInteger) {
        const auto code = static_cast<int32_t>(s.cell().w2);
        const Cell* all = catalog::errors();
        const Cell* category =
            code >= 0 ? catalog::category(static_cast<uint32_t>(code / 100)) : nullptr;
        const uint32_t position = static_cast<uint32_t>(code % 100) + 2;
        if (!all || !category || position >= object::field_count(category))
            fire(kScript, script::out_of_range, {&s.cell()});
        set(e, kCode, s.cell());
        set(e, kType, plain_word(object::word_at(all->w1, static_cast<uint32_t>(code / 100))));
        set(e, kId, plain_word(object::word_at(category->w1, position)));
    } else {
        const int32_t n = block::length_from_index(&s.cell());
        const Cell* first = n > 0 ? block::cell_at(&s.cell(), s.cell().w1) : nullptr;
        if (first && cell::type(first) == kTypeWord) {
            if (catalog::category_position(first) < 0) invalid_spec_field("type");
            set(e, kType, plain_word(first));
            const Cell* second = n > 1 ? block::cell_at(&s.cell(), s.cell().w1 + 1) : nullptr;
            if (!second) invalid_spec_field("id");
            if (cell::type(second) != kTypeWord) fire(kScript, script::invalid_arg, {second});
            set(e, kId, plain_word(second));
            set_code(e);
        } else if (first && cell::type(first) == kTypeSetWord) {
            context::bind_deep(&s.cell(), e->w1, false);
            object::do_block(&s.cell());
            set_code(&made.cell());
        } else {
            fire(kInternal, internal::invalid_error, {first ? first : &none::value});
        }
    }
    *result = made.cell();
    return result;
}

// --- form and mold
// ------------------------------------------------------------------------------------

namespace {

// Appends the text of a value: formed, or molded (only, flat), cut to `width` characters when
// it is above 0. May collect.
void append_value(const Cell* string, const Cell* value, bool molded, bool only, int32_t width) {
    Cell* v = stack::push(*value);
    Cell* text = string::make_at(stack::push_cell(), 16);
    if (molded)
        actions::mold(v, text, {.only = only, .flat = only}, form_mold::kNoLimit, 0);
    else
        actions::form(v, text, nullptr, form_mold::kNoLimit);
    string::concatenate(string, text, width > 0 ? width : -1, 0, true, string::kAppendMode);
    stack::pop(2);
}

// The category object and the template of an error; a type or id that the catalogue lacks
// turns the error into internal/invalid-error naming it.
const Cell* find_template(const Cell* error, const Cell** category) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        const Cell* type = field(error, kType);
        const int32_t c = is_word(type) ? catalog::category_position(type) : -1;
        if (c < 0) {
            set(error, kArg1, *type);
            set(error, kType, word_of("internal"));
            set(error, kId, word_of("invalid-error"));
            continue;
        }
        *category = catalog::category(static_cast<uint32_t>(c));
        const Cell* id = field(error, kId);
        const int32_t at = is_word(id) ? catalog::id_position(*category, id) : -1;
        const Cell* text = at >= 2 ? context::slot((*category)->w1, at) : nullptr;
        // A template that is a word stands for that field of the error.
        if (text && cell::type(text) == kTypeWord) text = object::select_word(error, text);
        if (text && (cell::type(text) == kTypeString || cell::type(text) == kTypeBlock))
            return text;
        set(error, kArg1, *id);
        set(error, kType, word_of("internal"));
        set(error, kId, word_of("invalid-error"));
    }
    return nullptr;
}

} // namespace

int32_t form(Cell* value, Cell* string, Cell*, int32_t limit) {
    GcRoot e(*value);
    const uint32_t before = string::length_from_head(string);
    string::concatenate_cstring(string, "*** ");
    const Cell* category = nullptr;
    const Cell* text = catalog::errors() ? find_template(&e.cell(), &category) : nullptr;
    if (!text) {
        // No catalogue to read: the words themselves.
        append_value(string, field(&e.cell(), kType), false, false, 0);
        string::concatenate_cstring(string, " ");
        append_value(string, field(&e.cell(), kId), false, false, 0);
    } else {
        GcRoot cat(*category), t(*text);
        Cell title = *object::select_word(&cat.cell(), stack::push(word_of("type")));
        stack::pop(1);
        append_value(string, &title, false, false, 0);
        string::concatenate_cstring(string, ": ");
        const bool syntax = catalog::category_position(field(&e.cell(), kType)) == kSyntax;
        if (cell::type(&t.cell()) == kTypeString) {
            append_value(string, &t.cell(), false, false, 0);
        } else {
            const int32_t n = block::length_from_index(&t.cell());
            for (int32_t i = 0; i < n; ++i) {
                if (i > 0) string::concatenate_cstring(string, " ");
                const Cell item = *block::cell_at(&t.cell(), t.cell().w1 + i);
                if (cell::type(&item) == kTypeString) {
                    append_value(string, &item, false, false, 0);
                } else if (is_word(&item)) {
                    const Cell arg = *object::select_word(&e.cell(), &item);
                    append_value(string, &arg, !syntax, false, 0);
                }
            }
        }
    }

    string::concatenate_cstring(string, "\n*** Where: ");
    const Cell where = *field(&e.cell(), kWhere);
    if (cell::type(&where) == kTypeWord || cell::type(&where) == kTypeString)
        append_value(string, &where, false, false, 0);
    else
        string::concatenate_cstring(string, "???");

    string::concatenate_cstring(string, "\n*** Near : ");
    const Cell near = *field(&e.cell(), kNear);
    append_value(string, &near, true, true, kNearWidth);

    const Cell* trace =
        system_object::field({system_object::symbol.state, system_object::symbol.stack_trace});
    const Cell stack_value = *field(&e.cell(), kStack);
    if (trace && cell::type(trace) == kTypeInteger && static_cast<int32_t>(trace->w2) > 0) {
        const auto levels = static_cast<int32_t>(trace->w2);
        if (cell::type(&stack_value) == kTypeBlock) {
            string::concatenate_cstring(string, "\n*** Stack: ");
            append_value(string, &stack_value, false, false, 0);
        } else if (cell::type(&stack_value) == kTypeInteger && calls && calls->trace) {
            Cell* names = block::push_new(20);
            calls->trace(names, static_cast<int32_t>(stack_value.w2), levels);
            string::concatenate_cstring(string, "\n*** Stack: ");
            append_value(string, names, false, false, 0);
            stack::pop(1);
        }
    }

    const Cell files = *field(&e.cell(), kFiles);
    if (cell::type(&files) == kTypeBlock) {
        string::concatenate_cstring(string, "\n*** Files: ");
        append_value(string, &files, true, true, kNearWidth);
    }
    return limit - static_cast<int32_t>(string::length_from_head(string) - before);
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent) {
    return object::mold(value, string, options, limit, indent);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, const action::PathOptions& options) {
    return object::eval_path(parent, element, value, options);
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    if (cell::type(other) != kTypeError) return action::kNotComparable;
    return object::compare(value, other, op);
}

void register_actions() {
    namespace slot = action::slot;
    action::Row row;
    row.set<slot::make>(make)
        .set<slot::form>(form)
        .set<slot::mold>(mold)
        .set<slot::eval_path>(eval_path)
        .set<slot::compare>(compare)
        .inherit({slot::reflect, slot::copy, slot::find, slot::select});
    datatype::register_({kTypeError, kTypeObject, "error!", row.entries()});
}

} // namespace error
