#include "datatypes/function.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/native.h"
#include "datatypes/signature.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/support.h"
#include "runtime-core/type-traits.h"

namespace function {

using memory::cells_of;
using memory::length_of;

namespace {

uint32_t canonical(const Cell* c) {
    return symbol::resolve(c->w2);
}

bool is_local(const Cell* c) {
    return cell::type(c) == kTypeRefinement &&
           canonical(c) == symbol::resolve(refinements::refinement.local->w2);
}

} // namespace

uint32_t build(const Cell* spec_in, const Cell* compiled, const Cell* body_in, uint32_t context) {
    GcRoot given(context);
    Cell* fn = stack::push(Cell{kTypeUnset, 0, 0, 0});
    Cell* spec = stack::push(*spec_in);
    if (spec->w1 > 0) *spec = *block::copy_series(spec, false, false);
    stack::top = spec + 1;
    spec->w1 = 0;
    Cell* more = stack::push_cell();
    block::make_at(more, 5);
    for (int k = 0; k < 5; ++k) block::append_copy(more, &fn[0]);
    cells_of(more->w2)[1] = Cell{kTypeBlock, 0, compiled->w2, 0};
    const uint32_t ctx = context ? given.node() : signature::make_context(compiled, spec);
    *fn = Cell{kTypeFunction | signature::attributes(compiled), ctx, spec->w2, more->w2};
    *context::owner_of(ctx) = *fn;
    if (body_in && cell::type(body_in) == kTypeBlock) {
        Cell* body = block::copy_series(body_in, true, true);
        if (!context) context::bind_deep(body, fn->w1, false);
        any_function::body(fn) = *body;
    } else {
        any_function::body(fn) = Cell{kTypeNone, 0, 0, 0};
    }
    stack::top = fn + 1;
    return fn->w1;
}

namespace {

// Adds a word to the locals unless it is known; `known` and `locals` are blocks on the stack.
void add_local(const Cell* c, Cell* known, Cell* locals) {
    // On the data stack, so that the word's context node follows a collection.
    Cell* w = stack::push(*c);
    w->header = kTypeWord;
    for (uint32_t k = 0; k < length_of(known->w2); ++k) {
        const Cell* e = cells_of(known->w2) + k;
        if (cell::type(e) == kTypeWord && canonical(e) == canonical(w)) {
            stack::pop(1);
            return;
        }
    }
    block::append_copy(known, w);
    block::append_copy(locals, w);
    stack::pop(1);
}

void collect_deep(const Cell* body, Cell* known, Cell* locals) {
    GcRoot root(*body);
    for (uint32_t k = body->w1; k < length_of(root.cell().w2); ++k) {
        const Cell c = cells_of(root.cell().w2)[k];
        const uint8_t t = cell::type(&c);
        if (t == kTypeSetWord) {
            add_local(&c, known, locals);
        } else if (t == kTypeBlock || t == kTypeParen) {
            collect_deep(&c, known, locals);
        } else if (t == kTypeWord && k + 1 < length_of(root.cell().w2)) {
            const uint32_t s = canonical(&c);
            const bool each = s == symbol::resolve(words::symbol.foreach) ||
                              s == symbol::resolve(words::symbol.remove_each);
            const bool repeat = s == symbol::resolve(words::symbol.repeat);
            GcRoot next(cells_of(root.cell().w2)[k + 1]);
            const uint8_t nt = cell::type(&next.cell());
            if (each && nt == kTypeBlock) {
                for (uint32_t a = next.cell().w1; a < length_of(next.cell().w2); ++a) {
                    const Cell w = cells_of(next.cell().w2)[a];
                    if (traits::is_arg_word(cell::type(&w))) add_local(&w, known, locals);
                }
            } else if ((each || repeat) && (nt == kTypeWord || nt == kTypeSetWord)) {
                add_local(&next.cell(), known, locals);
            }
        }
    }
}

} // namespace

void collect_locals(Cell* spec, const Cell* body) {
    Cell* locals = block::push_new(8);
    Cell* known = block::copy_series(spec, false, false);
    // /extern: the words after it stay global; a /local section after them is kept. Whether
    // the spec keeps a /local of its own (one before /extern) is noted on the way.
    const uint32_t n = length_of(spec->w2);
    const uint32_t extern_sym = symbol::resolve(refinements::refinement.extern_->w2);
    int32_t extern_at = -1;
    bool has_local = false;
    for (uint32_t k = spec->w1; k < n; ++k) {
        const Cell* c = cells_of(spec->w2) + k;
        if (cell::type(c) == kTypeRefinement && canonical(c) == extern_sym) {
            extern_at = static_cast<int32_t>(k);
            break;
        }
        has_local = has_local || is_local(c);
    }
    if (extern_at >= 0) {
        uint32_t k = static_cast<uint32_t>(extern_at) + 1;
        while (k < n && cell::type(cells_of(spec->w2) + k) == kTypeWord) ++k;
        if (k < n && is_local(cells_of(spec->w2) + k))
            for (++k; k < n && cell::type(cells_of(spec->w2) + k) == kTypeWord; ++k) {
                Cell w = cells_of(spec->w2)[k];
                block::append_copy(locals, &w);
            }
        block::set_tail(spec, static_cast<uint32_t>(extern_at));
    }
    for (uint32_t k = 0; k < length_of(known->w2); ++k) {
        Cell* c = cells_of(known->w2) + k;
        const uint8_t t = cell::type(c);
        if (t == kTypeSetWord || t == kTypeLitWord || t == kTypeGetWord || t == kTypeRefinement)
            c->header = kTypeWord;
        else if (extern_at >= 0 && t != kTypeWord && t != kTypeBlock && t != kTypeString)
            error::fire(error::kScript, error::script::bad_func_extern, {c});
    }
    collect_deep(body, known, locals);
    if (length_of(locals->w2) == 0) return;
    if (!has_local) {
        Cell local = *refinements::refinement.local;
        block::append_copy(spec, &local);
    }
    for (uint32_t k = 0; k < length_of(locals->w2); ++k) {
        Cell w = cells_of(locals->w2)[k];
        if (canonical(&w) == symbol::resolve(refinements::refinement.local->w2)) continue;
        block::append_copy(spec, &w);
    }
}

Cell* make(Cell* prototype, Cell* spec, int32_t) {
    if (cell::type(spec) != kTypeBlock || block::length_from_index(spec) < 2)
        error::fire(error::kScript, error::script::bad_func_def, {spec});
    const Cell* c = cells_of(spec->w2) + spec->w1;
    if (cell::type(c) != kTypeBlock || cell::type(c + 1) != kTypeBlock)
        error::fire(error::kScript, error::script::bad_func_def, {spec});
    Cell* parts = stack::push(c[0]);
    stack::push(c[1]);
    const Cell* compiled = signature::compile(parts, signature::Validation::on);
    build(parts, compiled, parts + 1);
    *prototype = stack::top[-1];
    stack::top = parts;
    return prototype;
}

Cell* reflect(Cell* value, int32_t field_symbol) {
    const auto field = static_cast<uint32_t>(field_symbol);
    if (field == symbol::resolve(words::symbol.spec)) {
        *value = any_function::spec(value);
        return value;
    }
    if (field == symbol::resolve(words::symbol.body)) {
        *value = any_function::body(value);
        return value;
    }
    if (field == symbol::resolve(words::symbol.words)) {
        const uint32_t ctx = value->w1;
        Cell* list = stack::push(Cell{kTypeBlock, 0, context::word_list(ctx), 0});
        Cell* copy = block::copy_series(list, false, false);
        for (uint32_t k = 0; k < length_of(copy->w2); ++k) cells_of(copy->w2)[k].w1 = ctx;
        *value = *copy;
        stack::top = list;
        return value;
    }
    error::fire(error::kInternal, error::internal::not_done);
}

int32_t form(Cell* value, Cell* string, Cell*, int32_t limit) {
    const bool routine = cell::type(value) == kTypeRoutine;
    string::concatenate_cstring(string, routine ? "?routine?" : "?function?");
    return limit - (routine ? 9 : 10);
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent) {
    const bool routine = cell::type(value) == kTypeRoutine;
    string::concatenate_cstring(string, routine ? "routine " : "func ");
    // Spec and body wait on the data stack: molding allocates.
    Cell* spec = stack::push(any_function::spec(value));
    Cell* body = stack::push(any_function::body(value));
    limit = block::mold(spec, string, options.nested(), limit - (routine ? 8 : 5), indent);
    if (cell::type(body) != kTypeBlock) {
        string::concatenate_cstring(string, " none");
        limit -= 5;
    } else {
        limit = block::mold(body, string, options.nested(), limit, indent);
    }
    stack::top = spec;
    return limit;
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    if (cell::type(other) != cell::type(value)) return action::kNotComparable;
    return native::compare_identity(value->w3, other->w3, op);
}

void mark_cell(Cell& c) {
    if (c.w1) context::mark(c.w1);
    if (c.w2) collector::mark_node_cells(c.w2);
    if (c.w3) collector::mark_node_cells(c.w3);
}

void register_actions() {
    namespace s = action::slot;
    action::Row row;
    row.set<s::make>(make)
        .set<s::reflect>(reflect)
        .set<s::form>(form)
        .set<s::mold>(mold)
        .set<s::compare>(compare);
    datatype::register_({kTypeFunction, kTypeContext, "function!", row.entries()});
    collector::set_type_marker(kTypeFunction, mark_cell);
    // routine!: the runtime's machine functions (the routine table, evaluator/evaluator.h), shown
    // and compared as functions.
    action::Row routine;
    routine.set<s::form>(form).set<s::mold>(mold).set<s::compare>(compare).inherit({s::reflect});
    datatype::register_({kTypeRoutine, kTypeFunction, "routine!", routine.entries()});
    collector::set_type_marker(kTypeRoutine, mark_cell);
}

} // namespace function

namespace routine {

using function::cells_of;
using function::length_of;

uint32_t get_arity(const Cell* r) {
    return (r->header >> 25) & 0x1F;
}

void cache_arity(Cell* r) {
    const Cell spec{kTypeBlock, 0, r->w2, 0};
    const uint32_t count = signature::view(r).plain_words();
    if (count > kMaxArity) error::fire(error::kScript, error::script::bad_func_def, {&spec});
    r->header = (r->header & 0xC1FFFFFFu) | (count << 25);
}

Cell* build(const Cell* spec, const Cell* body, uint32_t index, int32_t result_type,
            bool cell_args) {
    Cell* value = stack::push(Cell{kTypeUnset, 0, 0, 0});
    Cell* held = stack::push(*spec);
    Cell* more = stack::push_cell();
    block::make_at(more, 5);
    for (int k = 0; k < 5; ++k) block::append_copy(more, value);
    Cell* m = cells_of(more->w2);
    m[0] = body && cell::type(body) == kTypeBlock ? *body : Cell{kTypeNone, 0, 0, 0};
    m[2] = Cell{kTypeInteger, 0, index, 0};
    m[4] = Cell{kTypeInteger, 0, static_cast<uint32_t>(result_type), 0};
    Cell whole = *held;
    whole.w1 = 0;
    Cell* from_head = stack::push(whole);
    const Cell* compiled = signature::compile(from_head, signature::Validation::off);
    cells_of(more->w2)[1] = *compiled;
    const uint32_t ctx = signature::make_context(compiled, from_head);
    *value = Cell{kTypeRoutine | (cell_args ? kCellArgsFlag : 0u), ctx, held->w2, more->w2};
    stack::top = value + 1;
    cache_arity(value);
    *context::owner_of(ctx) = *value;
    return value;
}

} // namespace routine
