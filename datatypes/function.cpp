#include "datatypes/function.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/native.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/support.h"

namespace function {

inline Cell* cells_of(uint32_t node) {
    return memory::buffer(node)->cells();
}
inline uint32_t length_of(uint32_t node) {
    return memory::buffer(node)->length();
}

namespace {

inline bool is_arg_word(uint8_t t) {
    return t == kTypeWord || t == kTypeLitWord || t == kTypeGetWord;
}

uint32_t canonical(const Cell* c) {
    return symbol::resolve(c->w2);
}

bool is_local(const Cell* c) {
    return cell::type(c) == kTypeRefinement &&
           canonical(c) == symbol::resolve(refinements::refinement.local->w2);
}

[[noreturn]] void bad_spec(const Cell* spec) {
    error::fire(error::kScript, error::script::bad_func_def, {spec});
}

} // namespace

uint32_t validate_spec(const Cell* spec) {
    const uint32_t node = spec->w2;
    const uint32_t end = length_of(node);
    uint32_t k = spec->w1, flags = 0;
    bool return_seen = false, local_seen = false;
    auto at = [&](uint32_t i) { return cells_of(node) + i; };
    auto type_at = [&](uint32_t i) { return i < end ? cell::type(at(i)) : 0; };
    if (k < end && cell::type(at(k)) == kTypeBlock) {
        const Cell attributes = *at(k);
        for (uint32_t a = attributes.w1; a < length_of(attributes.w2); ++a) {
            const Cell* w = cells_of(attributes.w2) + a;
            if (cell::type(w) != kTypeWord) bad_spec(spec);
            if (canonical(w) == symbol::resolve(words::symbol.trace)) flags |= kTraceFlag;
            if (canonical(w) == symbol::resolve(words::symbol.no_trace)) flags |= kNoTraceFlag;
        }
        ++k;
    }
    while (k < end) {
        const uint8_t t = cell::type(at(k));
        if (is_arg_word(t)) {
            if (local_seen && t != kTypeWord) bad_spec(spec);
            if (type_at(k + 1) == kTypeString && type_at(k + 2) == kTypeBlock) bad_spec(spec);
            if (return_seen && !local_seen) bad_spec(spec);
            ++k;
            if (type_at(k) == kTypeBlock) {
                const Cell types = *at(k);
                for (uint32_t a = types.w1; a < length_of(types.w2); ++a) {
                    const Cell* e = cells_of(types.w2) + a;
                    const Cell* v = e;
                    Cell w = *e;
                    if (cell::type(e) == kTypeWord) {
                        if (w.w1 && w.w3 == word::kUnresolved) context::bind_word(w.w1, &w);
                        v = context::get_word(&w);
                        if (cell::type(v) == kTypeUnset)
                            error::fire(error::kScript, error::script::no_value, {e});
                    }
                    const uint8_t vt = cell::type(v);
                    if (vt != kTypeDatatype && vt != kTypeTypeset && vt != kTypeWord)
                        error::fire(error::kScript, error::script::invalid_type_spec, {e});
                }
                ++k;
            }
        } else if (t == kTypeSetWord) {
            if (return_seen || local_seen ||
                canonical(at(k)) != symbol::resolve(words::symbol.return_))
                bad_spec(spec);
            if (type_at(k + 1) != kTypeBlock) bad_spec(spec);
            const uint8_t after = type_at(k + 2);
            if (after != 0 && after != kTypeRefinement && after != kTypeString) bad_spec(spec);
            return_seen = true;
            k += 2;
        } else if (t == kTypeRefinement) {
            if (is_local(at(k)))
                local_seen = true;
            else if (return_seen || local_seen)
                bad_spec(spec);
            const uint8_t next = type_at(k + 1);
            if (next != 0 && !is_arg_word(next) && next != kTypeRefinement &&
                next != kTypeSetWord && next != kTypeString)
                bad_spec(spec);
            ++k;
        } else if (t == kTypeString) {
            ++k;
        } else {
            bad_spec(spec);
        }
    }
    // Duplicates: the later of two words with one canonical symbol is named.
    for (uint32_t a = spec->w1; a < end; ++a) {
        const uint8_t ta = cell::type(at(a));
        if (!is_arg_word(ta) && ta != kTypeRefinement) continue;
        for (uint32_t b = a + 1; b < end; ++b) {
            const uint8_t tb = cell::type(at(b));
            if ((is_arg_word(tb) || tb == kTypeRefinement) && canonical(at(a)) == canonical(at(b)))
                error::fire(error::kScript, error::script::dup_vars, {at(b)});
        }
    }
    return flags;
}

uint32_t build(const Cell* spec_in, const Cell* body_in, uint32_t flags, uint32_t context) {
    GcRoot given(context);
    Cell* fn = stack::push(Cell{kTypeUnset, 0, 0, 0});
    Cell* spec = stack::push(*spec_in);
    if (spec->w1 > 0) *spec = *block::copy_series(spec, false, false);
    stack::top = spec + 1;
    spec->w1 = 0;
    Cell* more = stack::push_cell();
    block::make_at(more, 5);
    for (int k = 0; k < 5; ++k) block::append_copy(more, &fn[0]);
    const uint32_t ctx =
        context ? given.node() : context::make_from_spec(spec, true, false, context::kFunction);
    *fn = Cell{kTypeFunction | flags, ctx, spec->w2, more->w2};
    *context::owner_of(ctx) = *fn;
    if (body_in && cell::type(body_in) == kTypeBlock) {
        Cell* body = block::copy_series(body_in, true, true);
        if (!context) context::bind_deep(body, fn->w1, false);
        cells_of(fn->w3)[0] = *body;
    } else {
        cells_of(fn->w3)[0] = Cell{kTypeNone, 0, 0, 0};
    }
    stack::top = fn + 1;
    return fn->w1;
}

int32_t count_locals(const Cell* spec, bool need_local) {
    int32_t count = 0;
    bool counting = false;
    for (uint32_t k = spec->w1; k < length_of(spec->w2); ++k) {
        const Cell* c = cells_of(spec->w2) + k;
        if (!counting && is_local(c)) {
            counting = true;
            count = 1;
        } else if (counting && cell::type(c) == kTypeWord) {
            ++count;
        }
    }
    return need_local && !counting ? -1 : count;
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
                    if (is_arg_word(cell::type(&w))) add_local(&w, known, locals);
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
    // /extern: the words after it stay global; a /local section after them is kept.
    const uint32_t n = length_of(spec->w2);
    const uint32_t extern_sym = symbol::resolve(refinements::refinement.extern_->w2);
    int32_t extern_at = -1;
    for (uint32_t k = spec->w1; k < n; ++k) {
        const Cell* c = cells_of(spec->w2) + k;
        if (cell::type(c) == kTypeRefinement && canonical(c) == extern_sym) {
            extern_at = static_cast<int32_t>(k);
            break;
        }
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
    if (count_locals(spec, true) < 0) {
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
    const uint32_t flags = validate_spec(parts);
    build(parts, parts + 1, flags);
    *prototype = stack::top[-1];
    stack::top = parts;
    return prototype;
}

Cell* reflect(Cell* value, int32_t field_symbol) {
    const auto field = static_cast<uint32_t>(field_symbol);
    if (field == symbol::resolve(words::symbol.spec)) {
        *value = Cell{kTypeBlock, 0, value->w2, 0};
        return value;
    }
    if (field == symbol::resolve(words::symbol.body)) {
        *value = cells_of(value->w3)[0];
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
    Cell* spec = stack::push(Cell{kTypeBlock, 0, value->w2, 0});
    Cell* body = stack::push(cells_of(value->w3)[0]);
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
    uint32_t count = 0;
    for (uint32_t k = 0; k < length_of(spec.w2); ++k)
        if (cell::type(cells_of(spec.w2) + k) == kTypeWord) ++count;
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
    const uint32_t ctx = context::make_from_spec(from_head, true, false, context::kFunction);
    *value = Cell{kTypeRoutine | (cell_args ? kCellArgsFlag : 0u), ctx, held->w2, more->w2};
    stack::top = value + 1;
    cache_arity(value);
    *context::owner_of(ctx) = *value;
    return value;
}

} // namespace routine
