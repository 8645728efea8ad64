// Evaluation, function-making and binding natives.
#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/dispatch.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/signature.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "evaluator/actions.h"
#include "evaluator/frames.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "loading/lexer.h"
#include "runtime-core/collector.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/runtime.h"
#include "runtime-core/support.h"
#include "runtime-core/throw.h"
#include "runtime-core/type-traits.h"

namespace natives {

using interp::Status;

namespace {

using memory::cells_of;
using memory::length_of;
inline Cell* arg(int i) {
    return stack::arguments + i;
}

// Pushes a new block of the live pairs of a map (a cell on the data stack), key then value;
// with `key_words` a key stored as a set-word comes as a word!, as the map's readers give it.
// May collect.
Cell* push_pairs(const Cell* map, bool key_words) {
    Cell* pairs = block::push_new(8);
    for (uint32_t k = 0; k + 1 < length_of(map->w2); k += 2) {
        if (cells_of(map->w2)[k + 1].header == 0) continue;
        Cell* key = block::append_copy(pairs, cells_of(map->w2) + k);
        if (key_words && cell::type(key) == kTypeSetWord) cell::set_type(key, kTypeWord);
        block::append_copy(pairs, cells_of(map->w2) + k + 1);
    }
    return pairs;
}

// Inserts `value` (its cells when `spread`, else the value as one) into `out` at its position
// through out's own insert, so that a hash! keeps its index; `out` becomes the position after
// the insertion. May collect.
void insert_into(Cell* out, Cell* value, bool spread) {
    Cell* at = actions::call<action::slot::insert>(out, value, {.only = !spread});
    *out = *at;
}

} // namespace

Status reduce_block(const Cell* block) {
    Cell* code = stack::push(*block);
    // Each value goes into the result at once, so that a block of any length reduces without
    // filling the data stack; no expression takes less than one cell of the code.
    Cell* out = block::push_new(std::max(block::length_from_index(code), 0));
    uint32_t i = series::index(code);
    while (i < length_of(series::node(code))) {
        Status s = interp::eval_next(code, &i);
        if (s != Status::normal) return s;
        cell::clear_new_line(block::append_copy(out, stack::top - 1));
        stack::top = out + 1;
    }
    *code = *out;
    stack::top = code + 1;
    return Status::normal;
}

namespace {

// --- do -----------------------------------------------------------------------------------------

struct DoRefinements {
    bool expand, trace;
    Cell* args;     // /args value or null
    Cell* position; // /next word or null
    explicit DoRefinements(const int32_t* refs)
        : expand(ref_on(refs, 0)), trace(ref_on(refs, 3)), args(ref_arg(refs, 1)),
          position(ref_arg(refs, 2)) {}
};

// Evaluates a block (a cell of the frame): the whole of it, or with a /next word one
// expression, the word then holding the block after it.
Status do_code(Cell* code, Cell* position) {
    if (!position) return interp::do_block(code);
    uint32_t i = series::index(code);
    if (i >= length_of(series::node(code))) {
        Cell* rest = stack::push(*code);
        context::set_word(position, rest);
        stack::set_last_keep(Cell{kTypeUnset, 0, 0, 0});
        return Status::normal;
    }
    Status s = interp::eval_next(code, &i);
    if (s != Status::normal) return s;
    Cell* rest = stack::push(*code);
    rest->w1 = i;
    context::set_word(position, rest);
    stack::set_last_keep(rest[-1]);
    return Status::normal;
}

// A value that is not code runs as a block holding it alone: a word calls its function, a path
// is evaluated as a path, anything else is itself.
Status do_single(const Cell* value) {
    Cell* wrap = block::push_new(1);
    block::append_copy(wrap, value);
    return interp::do_block(wrap);
}

// A script file or URL goes to the library's script runner, `do-file`, with no trace callback
// and the /args value (none without it).
Status do_file(Cell* file, Cell* args) {
    const uint32_t name = symbol::make("do-file");
    const Cell* fn = context::value_cell(name, context::global);
    if (!fn || cell::type(fn) != kTypeFunction)
        error::fire(error::kInternal, error::internal::not_done);
    Cell* runner = stack::push(*fn);
    Cell* values = block::push_new(3);
    block::append_copy(values, file);
    block::append_copy(values, &none::value);
    block::append_copy(values, args ? args : &none::value);
    Status s = interp::call_with(runner, values, nullptr);
    if (s == Status::normal) stack::set_last_keep(stack::top[-1]);
    return s;
}

// do/expand: the code goes through the preprocessor's expand method first (with no job),
// which rewrites it in place. May collect and run user code.
void expand_code(Cell* code) {
    const Cell* pre = context::value_cell(symbol::make("preprocessor"), context::global);
    const Cell* fn = pre && cell::type(pre) == kTypeObject
                         ? context::value_cell(symbol::make("expand"), pre->w1)
                         : nullptr;
    if (!fn || cell::type(fn) != kTypeFunction)
        error::fire(error::kInternal, error::internal::not_done);
    Cell* values = stack::push(*code);
    stack::push(none::value);
    const Cell* runner = stack::push(*fn);
    interp::call_values(runner, values, 2);
    stack::top = values;
}

Status do_value(Cell* a, const DoRefinements& r) {
    switch (cell::type(a)) {
    case kTypeBlock:
    case kTypeParen:
    case kTypeHash:
        cell::set_type(a, kTypeBlock);
        if (r.expand) expand_code(a);
        return do_code(a, r.position);
    case kTypeString: {
        Cell* loaded = stack::push_cell();
        lexer::load_string(loaded, a, -1, lexer::ScanMode{}, nullptr, nullptr, nullptr);
        *a = *loaded;
        stack::top = loaded;
        if (r.expand) expand_code(a);
        return do_code(a, r.position);
    }
    case kTypeFile:
    case kTypeUrl:
        return do_file(a, r.args);
    case kTypeError: {
        // Raised as the runtime raises its own errors: it names the call it was raised in and
        // records the frame level for its stack trace (a name it has already is kept).
        Cell* where = stack::push_cell();
        stack::get_call(where);
        error::get_where(a, where);
        Cell* level = error::field(a, error::kStack);
        if (cell::type(level) != kTypeBlock) *level = Cell{kTypeInteger, 0, stack::depth(), 0};
        interp::error_value = *a;
        runtime::throw_code(runtime::kThrowError);
        return Status::normal;
    }
    default:
        return do_single(a);
    }
}

// do/trace: the callback traces this evaluation, from an init event to an end event (sent
// also when an error passes), unless a tracer is already at work, which then goes on alone.
Status do_traced(Cell* a, const DoRefinements& r, const Cell* callback) {
    interp::install_tracer(callback);
    struct Restore {
        ~Restore() { interp::remove_tracer(); }
    } restore;
    const int32_t offset = series::is_any_list(cell::type(a)) ? static_cast<int32_t>(a->w1) : -1;
    GcRoot code(*a);
    interp::trace(interp::Event::init, &code.cell(), offset, nullptr);
    Status s;
    try {
        s = do_value(a, r);
    } catch (...) {
        // The values in flight are held while the callback runs (it may collect).
        GcRoot error(interp::error_value), thrown(interp::thrown_value),
            carried(interp::exit_value);
        interp::trace(interp::Event::end, &code.cell(), offset, nullptr);
        interp::error_value = error.cell();
        interp::thrown_value = thrown.cell();
        interp::exit_value = carried.cell();
        throw;
    }
    // A break or return on its way out keeps its value whatever the callback does.
    GcRoot carried(interp::exit_value);
    interp::trace(interp::Event::end, &code.cell(), offset, stack::arguments);
    interp::exit_value = carried.cell();
    return s;
}

Status do_(const int32_t* raw) {
    const DoRefinements r(raw);
    if (r.trace && !interp::tracing) return do_traced(arg(0), r, ref_arg(raw, 3));
    return do_value(arg(0), r);
}

// --- reduce and compose ----------------------------------------------------------------------

Status reduce(const int32_t* refs) {
    Cell* a = arg(0);
    Cell* out = ref_arg(refs, 0);
    const uint8_t t = cell::type(a);
    Status s = Status::normal;
    if (t == kTypeBlock) {
        s = reduce_block(a);
    } else if (traits::is_any_function(t)) {
        stack::push(*a);
    } else {
        Cell* wrap = block::push_new(1);
        block::append_copy(wrap, a);
        s = interp::eval_block(wrap);
    }
    if (s != Status::normal) return s;
    if (!out) {
        stack::set_last_keep(stack::top[-1]);
        return s;
    }
    Cell* value = stack::push(stack::top[-1]);
    insert_into(out, value, t == kTypeBlock);
    stack::set_last_keep(*out);
    return s;
}

// Pushes a copy of the block (a cell on the data stack) in which every non-empty paren is
// replaced by its value: nothing for unset, the values of a block unless `only`, else the value
// itself; nested blocks are composed too with `deep`. May collect and run user code.
Status compose_block(const Cell* block, bool deep, bool only) {
    Cell* result = block::push_new(block::length_from_index(block));
    for (uint32_t k = series::index(block); k < length_of(series::node(block)); ++k) {
        Cell* item = stack::push(cells_of(series::node(block))[k]);
        const uint8_t t = cell::type(item);
        if (t == kTypeParen && item->w1 < length_of(item->w2)) {
            Status s = interp::eval_block(item);
            if (s != Status::normal) return s;
            Cell* value = stack::top - 1;
            const uint8_t vt = cell::type(value);
            if (vt == kTypeBlock && !only)
                block::append_cells(result, value);
            else if (vt != kTypeUnset)
                block::append_copy(result, value);
        } else if (t == kTypeBlock && deep) {
            Status s = compose_block(item, deep, only);
            if (s != Status::normal) return s;
            Cell* composed = stack::top - 1;
            composed->header = item->header; // the nested block keeps its new-line marker
            block::append_copy(result, composed);
        } else {
            block::append_copy(result, item);
        }
        stack::top = result + 1;
    }
    return Status::normal;
}

Status compose(const int32_t* refs) {
    Cell* a = arg(0);
    if (cell::type(a) != kTypeBlock) {
        Cell* expected = datatype::push(kTypeBlock);
        Cell* got = datatype::push(cell::type(a));
        error::fire(error::kScript, error::script::expect_val, {expected, got});
    }
    Status s = compose_block(a, ref_on(refs, 0), ref_on(refs, 1));
    if (s != Status::normal) return s;
    if (Cell* out = ref_arg(refs, 2)) {
        insert_into(out, stack::top - 1, true);
        stack::set_last_keep(*out);
    } else {
        stack::set_last_keep(stack::top[-1]);
    }
    return s;
}

// --- Function makers -------------------------------------------------------------------------

// Makes a function from the spec and body cells given and makes it the result.
Status make_function(Cell* spec, Cell* body) {
    const Cell* compiled = signature::compile(spec, signature::Validation::on);
    function::build(spec, compiled, body);
    stack::set_last_keep(stack::top[-1]);
    return Status::normal;
}

Status func(const int32_t*) {
    return make_function(arg(0), arg(1));
}

Status function_(const int32_t*) {
    Cell* spec = block::copy_series(arg(0), false, false);
    function::collect_locals(spec, arg(1));
    return make_function(spec, arg(1));
}

Status does(const int32_t*) {
    Cell* spec = block::push_new(1);
    return make_function(spec, arg(0));
}

Status has(const int32_t*) {
    Cell* spec = block::push_new(4);
    Cell local = *refinements::refinement.local;
    block::append_copy(spec, &local);
    block::append_cells(spec, arg(0));
    return make_function(spec, arg(1));
}

// --- get and set -----------------------------------------------------------------------------

// The value slot of a bound word, or null when its context has no such word. With `strict`,
// a word that its context holds while the context has no values (the context of a function
// that is not running) raises script/not-in-context.
const Cell* bound_value(const Cell* w, bool strict = false) {
    const int32_t index = w->w3 != word::kUnresolved ? static_cast<int32_t>(w->w3)
                                                     : context::find_word(w->w1, w->w2, true);
    if (index < 0) return nullptr;
    const Cell* slot = context::slot(w->w1, index);
    if (!slot && strict) error::fire(error::kScript, error::script::not_in_context, {w});
    return slot;
}

Status get(const int32_t* refs) {
    Cell* a = arg(0);
    const bool any = ref_on(refs, 0);
    if (series::is_any_path(cell::type(a))) {
        Status s = interp::get_path(a);
        if (s != Status::normal) return s;
        if (!any && cell::type(stack::top - 1) == kTypeUnset)
            error::fire(error::kScript, error::script::no_value, {a});
        stack::set_last_keep(stack::top[-1]);
        return s;
    }
    if (cell::type(a) == kTypeObject) {
        actions::call<action::slot::reflect>(a, static_cast<int32_t>(words::symbol.values));
        return Status::normal;
    }
    // An unbound word raises; a word whose context lacks it reads as unset.
    const Cell* value = a->w1 == 0 ? interp::value_of(a) : bound_value(a, true);
    if ((!value || cell::type(value) == kTypeUnset) && !any)
        error::fire(error::kScript, error::script::no_value, {a});
    *a = value ? *value : Cell{kTypeUnset, 0, 0, 0};
    return Status::normal;
}

// The refinements of set, /any /case /only /some, of which /case is not read.
object::SetOptions set_options(const int32_t* refs) {
    return {.any = ref_on(refs, 0), .only = ref_on(refs, 2), .some = ref_on(refs, 3)};
}

// set on a block of words: the n-th word takes the n-th value of a series value or of a
// map's keys and values (unless /only), else every word takes the value. Every value is
// checked before any word is set.
void set_many(const Cell* targets, const Cell* value, const object::SetOptions& r) {
    if (!r.only && cell::type(value) == kTypeMap) value = push_pairs(value, true);
    const uint8_t vt = cell::type(value);
    const bool spread = !r.only && (series::is_any_block(vt));
    const uint32_t first = targets->w1;
    const uint32_t n = length_of(targets->w2);
    auto value_at = [&](uint32_t k) -> Cell {
        if (!spread) return *value;
        const uint32_t at = value->w1 + (k - first);
        return at < length_of(value->w2) ? cells_of(value->w2)[at] : none::value;
    };
    for (uint32_t k = first; k < n; ++k) {
        const Cell* w = cells_of(targets->w2) + k;
        const uint8_t wt = cell::type(w);
        if (!traits::is_any_word(wt)) error::fire(error::kScript, error::script::invalid_arg, {w});
        const Cell v = value_at(k);
        if (!r.any && cell::type(&v) == kTypeUnset)
            error::fire(error::kScript, error::script::need_value, {w});
    }
    for (uint32_t k = first; k < length_of(targets->w2); ++k) {
        Cell* v = stack::push(value_at(k));
        if (!(r.some && cell::type(v) == kTypeNone)) {
            Cell* w = stack::push(cells_of(targets->w2)[k]);
            context::set_word(w, v);
        }
        stack::top = v;
    }
}

Status set(const int32_t* refs) {
    const object::SetOptions r = set_options(refs);
    Cell* a = arg(0);
    Cell* value = arg(1);
    const uint8_t t = cell::type(a);
    if (t == kTypeBlock) {
        set_many(a, value, r);
    } else if (t == kTypeObject) {
        object::set_values(a, value, r);
    } else {
        if (!r.any && cell::type(value) == kTypeUnset)
            error::fire(error::kScript, error::script::need_value, {a});
        if (series::is_any_path(t)) {
            Status s = interp::set_path(a, value);
            if (s != Status::normal) return s;
        } else if (!(r.some && cell::type(value) == kTypeNone)) {
            context::set_word(a, value);
        }
    }
    *a = *value;
    return Status::normal;
}

Status value_q(const int32_t*) {
    Cell* a = arg(0);
    const Cell* v = a->w1 != 0 ? bound_value(a) : nullptr;
    logic::make_at(a, v && cell::type(v) != kTypeUnset);
    return Status::normal;
}

// --- Binding ---------------------------------------------------------------------------------

Status bind(const int32_t* refs) {
    Cell* target = arg(0);
    const Cell* where = arg(1);
    const uint32_t ctx = where->w1;
    if (ctx == 0) error::fire(error::kScript, error::script::not_defined, {where});
    const bool self = cell::type(where) == kTypeObject;
    if (cell::type(target) == kTypeBlock) {
        if (ref_on(refs, 0)) {
            *target = *block::copy_series(target, true, true);
            stack::top = target + 1;
        }
        context::bind_deep(target, arg(1)->w1, self);
    } else {
        context::bind_word(ctx, target);
    }
    return Status::normal;
}

Status in(const int32_t*) {
    Cell* w = arg(1);
    // A native's or action's context holds its arguments only while it runs, and its cell
    // keeps a slot number where other function values keep their context: none to bind to.
    const uint8_t t = cell::type(arg(0));
    const uint8_t under = t == kTypeOp ? native::op_type(arg(0)) : t;
    if (under == kTypeNative || under == kTypeAction)
        error::fire(error::kScript, error::script::not_in_context, {w});
    const uint32_t ctx = arg(0)->w1;
    const int32_t index = context::find_word(ctx, w->w2, true);
    if (index < 0) {
        none::make_at(arg(0));
        return Status::normal;
    }
    Cell bound = *w;
    bound.w1 = ctx;
    bound.w3 = static_cast<uint32_t>(index);
    stack::set_last(bound);
    return Status::normal;
}

Status construct(const int32_t* refs) {
    Cell* made = object::make_from_block(arg(0), ref_arg(refs, 0), ref_on(refs, 1));
    stack::set_last_keep(*made);
    return Status::normal;
}

Status extend(const int32_t* refs) {
    Cell* target = arg(0);
    if (cell::type(target) != kTypeMap) error::fire(error::kInternal, error::internal::not_done);
    Cell* spec = arg(1);
    if (cell::type(spec) == kTypeMap) *spec = *push_pairs(spec, false);
    cell::set_type(spec, kTypeBlock);
    map::extend(target, spec, ref_on(refs, 0));
    return Status::normal;
}

// --- apply -----------------------------------------------------------------------------------

// The entries of a function value's signature (a cell on the data stack): its arguments and
// refinements in spec order. Each read takes the signature afresh, since arguments are
// evaluated between reads and a view is valid only until the next allocation.
struct Entries {
    const Cell* fn;
    uint32_t count() const { return signature::view(fn).entries(); }
    uint32_t required() const { return signature::view(fn).required(); }
    signature::Entry at(uint32_t e) const { return signature::view(fn).entry(e); }
    // The entry after refinement `r` and its arguments.
    uint32_t next_refinement(uint32_t r) const { return r + 1 + at(r).arguments; }
};

// What take_arg does with an argument: adds it to the values, passes over it unevaluated, or
// evaluates it and drops the value.
enum class Take { keep, skip, drop };

// Takes one argument from the block into `values`: a lit- or get-argument as it stands, any
// other the value of the next expression, as `take` says. Past the end of the block a kept
// argument is none with `complete` (apply/all); otherwise nothing is added, and the call
// finds the argument missing as a call in code does.
Status take_arg(Cell* code, uint32_t& i, signature::Kind kind, Cell* values, Take take,
                bool complete) {
    if (i >= length_of(series::node(code))) {
        if (take == Take::keep && complete) block::append_copy(values, &none::value);
        return Status::normal;
    }
    if (take == Take::skip) {
        ++i;
        return Status::normal;
    }
    if (kind != signature::Kind::normal) {
        if (take == Take::keep) block::append_copy(values, cells_of(series::node(code)) + i);
        ++i;
        return Status::normal;
    }
    Status s = interp::eval_next(code, &i);
    if (s != Status::normal) return s;
    if (take == Take::keep) block::append_copy(values, stack::top - 1);
    stack::pop(1);
    return s;
}

// The function that apply calls: the value itself, a word's value or the value of a path's
// first word. That word (as a word!) names the call in `name`; a function given as it is
// leaves `name` as it was.
Cell resolve_applied(Cell* f, Cell* name) {
    Cell value = *f;
    if (series::is_any_path(cell::type(f))) {
        if (f->w1 >= length_of(f->w2)) error::fire(error::kScript, error::script::invalid_arg, {f});
        value = cells_of(f->w2)[f->w1];
    }
    if (traits::is_all_word(cell::type(&value))) {
        *name = value;
        cell::set_type(name, kTypeWord);
        value = *interp::value_of(&value);
    }
    if (!traits::is_any_function(cell::type(&value)))
        error::fire(error::kScript, error::script::invalid_arg, {&value});
    return value;
}

Status apply_(const int32_t* refs) {
    const bool all = ref_on(refs, 0), safer = ref_on(refs, 1);
    Cell* name = stack::push(*words::word.anon);
    Cell* fn = stack::push(resolve_applied(arg(0), name));
    Cell* code = stack::push(*arg(1));
    Cell* values = block::push_new(8);
    Cell* active = block::push_new(4);
    uint32_t i = series::index(code);
    // The required arguments, in spec order.
    const Entries spec{fn};
    const uint32_t required = spec.required();
    for (uint32_t e = 0; e < required; ++e) {
        Status s = take_arg(code, i, spec.at(e).kind, values, Take::keep, all);
        if (s != Status::normal) return s;
    }
    // A refinement's truth, then its arguments: taken when it is on; when it is off, skipped
    // unevaluated with /safer, else evaluated and dropped.
    auto refinement = [&](uint32_t r) -> Status {
        bool on = false;
        if (i < length_of(series::node(code))) {
            Status s = interp::eval_next(code, &i);
            if (s != Status::normal) return s;
            on = logic::value_true(stack::top - 1);
            stack::pop(1);
        }
        if (on) {
            Cell w = spec.at(r).word;
            w.header = kTypeWord;
            block::append_copy(active, &w);
        }
        const uint32_t end = spec.next_refinement(r);
        for (uint32_t a = r + 1; a < end; ++a) {
            const Take take = on ? Take::keep : safer ? Take::skip : Take::drop;
            Status s = take_arg(code, i, spec.at(a).kind, values, take, all);
            if (s != Status::normal) return s;
        }
        return Status::normal;
    };
    if (all) {
        // Every refinement in spec order, each with a truth value (false past the end).
        for (uint32_t r = required; r < spec.count(); r = spec.next_refinement(r)) {
            Status s = refinement(r);
            if (s != Status::normal) return s;
        }
    } else {
        // Refinements named in the block, each followed by its truth value.
        while (i < length_of(series::node(code))) {
            const Cell named = cells_of(series::node(code))[i];
            if (cell::type(&named) != kTypeRefinement)
                error::fire(error::kScript, error::script::invalid_arg, {&named});
            uint32_t r = required;
            while (r < spec.count() &&
                   symbol::resolve(spec.at(r).word.w2) != symbol::resolve(named.w2))
                r = spec.next_refinement(r);
            if (r >= spec.count())
                error::fire(error::kScript, error::script::no_refine, {arg(0), &named});
            ++i;
            Status s = refinement(r);
            if (s != Status::normal) return s;
        }
    }
    Status s = interp::call_with(fn, values, active, name);
    if (s == Status::normal) stack::set_last_keep(stack::top[-1]);
    return s;
}

const Registration kFamily[] = {
    {kDo, "do", do_},
    {kReduce, "reduce", reduce},
    {kCompose, "compose", compose},
    {kFunc, "func", func},
    {kFunction, "function", function_},
    {kDoes, "does", does},
    {kHas, "has", has},
    {kGet, "get", get},
    {kSet, "set", set},
    {kValueQ, "value?", value_q},
    {kBind, "bind", bind},
    {kIn, "in", in},
    {kConstruct, "construct", construct},
    {kExtend, "extend", extend},
    {kApply, "apply", apply_},
};

} // namespace

std::span<const Registration> eval_family() {
    return kFamily;
}

} // namespace natives
