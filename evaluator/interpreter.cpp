// The evaluation steps, each before the steps that use it: reading a word's value; a call
// (argument gathering over the function's signature, then the entry or the body); paths; the
// integer fast paths of the infix operators; one expression with its infix lookahead; a block.
#include "evaluator/interpreter.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>

#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/signature.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "evaluator/actions.h"
#include "evaluator/frames.h"
#include "evaluator/natives.h"
#include "runtime-core/collector.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/support.h"
#include "runtime-core/throw.h"

namespace interp {

Cell exit_value{kTypeUnset, 0, 0, 0};
Cell current{kTypeNone, 0, 0, 0};
Cell thrown_value{kTypeNone, 0, 0, 0};
Cell thrown_name{kTypeNone, 0, 0, 0};

namespace {

using stack::Frame;

// C++ recursion of the evaluator is bounded here as well as by the frame stack: every
// block evaluation and call counts one level.
constexpr uint32_t kMaxDepth = 24000;
uint32_t depth = 0;

struct DepthGuard {
    DepthGuard() {
        if (++depth > kMaxDepth) {
            --depth;
            error::fire(error::kInternal, error::internal::stack_overflow);
        }
    }
    ~DepthGuard() { --depth; }
};

// Restores the current position when an evaluation ends, however it ends.
// The saved position is rooted: the evaluation in between may collect and move its block.
struct PositionGuard {
    GcRoot saved{current};
    ~PositionGuard() { current = saved.cell(); }
};

// --- Words ------------------------------------------------------------------------------------

using memory::cells_of;
inline uint32_t length_of(uint32_t node) {
    const memory::Buffer* b = memory::buffer(node);
    return (b->tail - b->head) / sizeof(Cell);
}
inline Cell* code_at(const Cell* code, uint32_t i) {
    return cells_of(code->w2) + i;
}
// The cell at `i` of a block, null past its tail: one lookup of its buffer.
inline Cell* code_at_or_null(const Cell* code, uint32_t i) {
    memory::Buffer* b = memory::buffer(code->w2);
    return i < (b->tail - b->head) / sizeof(Cell) ? b->cells() + i : nullptr;
}

// The value cell of a word whose index in its context is resolved: contexts only grow, so the
// usual case reads the cell directly; null when the context has no values now.
// A resolved index is always within its context's words (contexts never shrink), so a
// function's word reads its call's frame without counting them.
inline Cell* resolved_slot(const Cell* word) {
    const Cell* c = memory::buffer(word->w1)->cells();
    if (c->w2 == 0) return nullptr;
    if (c->header & context::kFlagOnStack) {
        Cell* at = stack::bottom + (c->w2 - 1) + word->w3;
        return at < stack::end ? at : nullptr;
    }
    memory::Buffer* values = memory::buffer(c->w2);
    return word->w3 < (values->tail - values->head) / sizeof(Cell) ? values->cells() + word->w3
                                                                   : nullptr;
}

// Stores a set-word's value straight into its slot when the word's index is known and its
// context is not an object's (whose fields are marked as set, and whose owner may hear of
// the change); false leaves the store to context::set_word, which also raises the errors.
inline bool store_direct(const Cell* word, const Cell& value) {
    if (word->w1 == 0 || word->w3 == word::kUnresolved || cell::type(&value) == kTypeUnset)
        return false;
    const Cell* c = memory::buffer(word->w1)->cells();
    if ((c->header & context::kKindMask) == context::kObject << context::kKindShift) return false;
    Cell* slot = resolved_slot(word);
    if (!slot) return false;
    *slot = value;
    return true;
}

// The value of a word at an expression's edge, or null when the word has none to offer
// (unbound, unresolved outside its context, no values now). Never raises, never collects.
inline Cell* peek_value(Cell* word) {
    const uint32_t ctx = word->w1;
    if (ctx == 0) return nullptr;
    if (word->w3 == word::kUnresolved) {
        const int32_t index = context::find_word(ctx, word->w2, true);
        if (index < 0) return nullptr;
        word->w3 = static_cast<uint32_t>(index);
    }
    return resolved_slot(word);
}

// The value of a word: its index is resolved and cached in the cell on first use. An
// unbound word raises script/not-in-context, a word without a value script/no-value.
inline Cell* word_value(Cell* word) {
    if (word->w1 != 0 && word->w3 != word::kUnresolved) [[likely]] {
        if (Cell* v = resolved_slot(word)) return v;
    }
    if (Cell* v = peek_value(word)) return v;
    return context::get_word(word);
}

// The value of a word read without a call (a get-word, a path's head or get-word selector):
// as word_value, except that a word its context does not hold reads as unset, like a word
// that is there without a value. Never collects.
inline const Cell* read_value(Cell* word) {
    static const Cell unset{kTypeUnset, 0, 0, 0};
    if (Cell* v = peek_value(word)) return v;
    if (word->w1 != 0 && word->w3 == word::kUnresolved && word->w2 != words::symbol.self)
        return &unset;
    return context::get_word(word);
}

// --- Calls ------------------------------------------------------------------------------------

// The call section of a function's signature (signature.h), its types resolved at the first
// call.
inline uint32_t arg_list(const Cell* fn) {
    const Cell* held = &any_function::signature(fn);
    if (held->header == signature::kReadyHeader) [[likely]]
        return held->w2;
    return signature::ready(fn);
}

} // namespace

void fill_frame(const Cell* fn, uint32_t given) {
    const uint32_t list = arg_list(fn);
    uint32_t position = 0, j = 0;
    auto fill = [&](const Cell& absent) {
        if (position++ >= given) stack::push(absent);
    };
    const Cell none{kTypeNone, 0, 0, 0};
    while (cell::type(cells_of(list) + j) == kTypeTypeset) {
        fill(none);
        j += 2;
    }
    while (cell::type(cells_of(list) + j) == kTypeRefinement) {
        const uint32_t n = cells_of(list)[j + 1].w2;
        fill(Cell{kTypeLogic, 0, 0, 0});
        for (uint32_t k = 0; k < n; ++k) fill(none);
        j += 2 + 2 * n;
    }
    if (given > position) stack::top = stack::arguments + position;
    for (uint32_t k = cells_of(list)[j].w2; k > 0; --k) stack::push(none);
}

namespace {

void check_type(const Cell* value, const Cell* typeset, const Cell* word) {
    if (!typeset::contains(typeset, cell::type(value))) expect_arg(value, word);
}

enum PathMode { kPathCall = 0, kPathGet = 1, kPathSet = 2 };

Status eval_expr(const Cell* code, uint32_t& i, bool prefix_only);
Status eval_path(const Cell* code, uint32_t& i, const Cell* path, PathMode mode);

// Fetches one argument of the entry `ts`, `word` and pushes it.
Status fetch_arg(Call& c, const Cell& ts, const Cell& word) {
    uint32_t& i = *c.index;
    // The usual argument: evaluated, at the index of a code block that has it.
    if (!(ts.header & (signature::kLitArg | signature::kGetArg)) && !c.literal &&
        i < length_of(c.code->w2)) [[likely]]
        return eval_expr(c.code, i, c.infix);
    const uint32_t end = length_of(c.code->w2);
    if (i >= end) {
        if ((ts.header & signature::kLitArg) && typeset::contains(&ts, kTypeUnset)) {
            stack::push(Cell{kTypeUnset, 0, 0, 0});
            return Status::normal;
        }
        Cell name;
        stack::get_call(&name);
        error::fire(error::kScript, error::script::no_arg, {&name, &word});
    }
    if (c.literal) {
        stack::push(*code_at(c.code, i++));
        return Status::normal;
    }
    if (!(ts.header & (signature::kLitArg | signature::kGetArg)))
        return eval_expr(c.code, i, c.infix);
    const Cell v = *code_at(c.code, i++);
    if (ts.header & signature::kLitArg) {
        switch (cell::type(&v)) {
        case kTypeParen:
            return eval_block(&v);
        case kTypeGetWord: {
            Cell w = v;
            stack::push(*word_value(&w));
            return Status::normal;
        }
        case kTypeGetPath: {
            Cell* p = stack::push(v);
            uint32_t unused = 0;
            Status s = eval_path(c.code, unused, p, kPathGet);
            *p = stack::top[-1];
            stack::top = p + 1;
            return s;
        }
        default:
            break;
        }
    }
    stack::push(v);
    return Status::normal;
}

// The refinement list a native, action or routine entry receives: one position per
// refinement of the spec, however many there are (inline room for the usual few).
class Refinements {
public:
    // Room for `count` positions, every one absent (-1).
    void reset(uint32_t count) {
        if (count > kInline) {
            heap_ = std::make_unique<int32_t[]>(count);
            data_ = heap_.get();
        }
        std::fill_n(data_, count, -1);
    }
    int32_t* data() { return data_; }
    int32_t& operator[](uint32_t i) { return data_[i]; }

private:
    static constexpr uint32_t kInline = 16;
    int32_t inline_[kInline];
    std::unique_ptr<int32_t[]> heap_;
    int32_t* data_ = inline_;
};

// Whether the path element at `p` names the same refinement as one before it in the call.
bool given_before(const Call& c, uint32_t p) {
    const uint32_t s = symbol::resolve(cells_of(c.path->w2)[p].w2);
    for (uint32_t q = c.path_index; q < p; ++q)
        if (symbol::resolve(cells_of(c.path->w2)[q].w2) == s) return true;
    return false;
}

// Gathers the arguments of the call in `c` (its frame just pushed) into spec order: the
// required arguments, then each refinement's cells as absent, then the refinements that
// the path names, in the path's order. Natives and actions receive their refinements in
// `refs`: -1 when absent, else the frame position of the refinement's first argument.
Status gather(Call& c, Refinements& refs, bool is_function) {
    uint32_t list = arg_list(c.fn);
    // The signature's cells, read again after each argument (its evaluation may collect).
    const Cell* cells = cells_of(list);
    uint32_t j = 0, n = 0;
    while (cell::type(cells + j) == kTypeTypeset) {
        const Cell ts = cells[j];
        const Cell w = cells[j + 1];
        j += 2;
        if (n >= c.preset) {
            Status s = fetch_arg(c, ts, w);
            if (s != Status::normal) return s;
            list = arg_list(c.fn);
            cells = cells_of(list);
        }
        check_type(stack::arguments + n++, &ts, &w);
    }
    // Every refinement absent, its cells none (a function's refinement cell false). Nothing
    // here allocates.
    const uint32_t refinements_at = j;
    uint32_t r = 0;
    while (cell::type(cells + j) == kTypeRefinement) {
        const uint32_t n = cells[j + 1].w2;
        if (is_function) logic::push(false);
        for (uint32_t k = 0; k < n; ++k) stack::push(Cell{kTypeNone, 0, 0, 0});
        ++r;
        j += 2 + 2 * n;
    }
    if (r != 0) refs.reset(r);
    if (is_function)
        for (uint32_t k = cells[j].w2; k > 0; --k) stack::push(Cell{kTypeNone, 0, 0, 0});
    if (!c.path) return Status::normal;

    uint64_t used = 0;
    for (uint32_t p = c.path_index; p < length_of(c.path->w2); ++p) {
        Cell e = cells_of(c.path->w2)[p];
        const uint8_t et = cell::type(&e);
        if (et != kTypeWord && et != kTypeGetWord)
            error::fire(error::kScript, error::script::bad_refine, {&e});
        // Find the refinement and where its cells are in the frame.
        list = arg_list(c.fn);
        uint32_t k = refinements_at, number = 0;
        uint32_t position = (refinements_at) / 2; // cells of the required arguments
        bool found = false;
        while (cell::type(cells_of(list) + k) == kTypeRefinement) {
            const Cell& rc = cells_of(list)[k];
            const uint32_t n = cells_of(list)[k + 1].w2;
            if (symbol::resolve(rc.w2) == symbol::resolve(e.w2)) {
                found = true;
                break;
            }
            position += n + (is_function ? 1 : 0);
            ++number;
            k += 2 + 2 * n;
        }
        if (!found) {
            Cell name;
            stack::get_call(&name);
            cell::set_type(&e, kTypeRefinement);
            error::fire(error::kScript, error::script::no_refine, {&name, &e});
        }
        const bool twice = number < 64 ? (used & (uint64_t{1} << number)) != 0 : given_before(c, p);
        if (twice) error::fire(error::kScript, error::script::dup_refine, {c.path});
        if (number < 64) used |= uint64_t{1} << number;
        bool on = true;
        if (et == kTypeGetWord) on = logic::value_true(word_value(&e));
        const uint32_t n = cells_of(list)[k + 1].w2;
        if (is_function) {
            logic::make_at(stack::arguments + position, on);
            ++position;
        }
        refs[number] = on ? static_cast<int32_t>(position) : -1;
        for (uint32_t a = 0; a < n; ++a) {
            list = arg_list(c.fn);
            const Cell ts = cells_of(list)[k + 2 + 2 * a];
            const Cell w = cells_of(list)[k + 3 + 2 * a];
            Status s = fetch_arg(c, ts, w);
            if (s != Status::normal) return s;
            check_type(stack::top - 1, &ts, &w);
            if (on) stack::arguments[position + a] = stack::top[-1];
            stack::pop(1);
        }
    }
    return Status::normal;
}

} // namespace

Status run_body(Cell* fn, const Cell* name) {
    const uint32_t locals = fn->w1;
    context::set_stack_values(locals, stack::arguments);
    stack::set_body_flag(true);
    Cell body = any_function::body(fn);
    if (cell::type(&body) != kTypeBlock) {
        stack::set_last(Cell{kTypeNone, 0, 0, 0});
        return Status::normal;
    }
    // A spec's `trace` attribute turns tracing on for the body where do/trace is at work, and
    // `no-trace` turns it off; both are put back when the body ends, however it ends, unless
    // the body switched tracing itself (set_tracing), which holds for the rest of the run.
    struct BodyTracing {
        bool saved = tracing;
        uint32_t switches = tracing_switches;
        ~BodyTracing() {
            if (tracing_switches == switches) tracing = saved;
        }
    } body_tracing;
    if (fn->header & (function::kTraceFlag | function::kNoTraceFlag)) [[unlikely]] {
        if (fn->header & function::kTraceFlag) tracing = tracer_available();
        if (fn->header & function::kNoTraceFlag) tracing = false;
    }
    Status s;
    if (tracing) [[unlikely]] {
        // The function and its body stay where the collector sees them while the tracer runs.
        GcRoot function(*fn), code(body);
        fire_event(Event::prolog, &code.cell(), -1, &function.cell(), name);
        s = eval_block(&code.cell());
        fire_event(Event::epilog, &code.cell(), -1, &function.cell(), name);
    } else {
        s = eval_block(&body);
    }
    switch (s) {
    case Status::normal:
        stack::set_last(stack::top[-1]);
        return s;
    case Status::return_:
        stack::set_last(exit_value);
        return Status::normal;
    case Status::exit:
        stack::set_last(Cell{kTypeUnset, 0, 0, 0});
        return Status::normal;
    default:
        return s;
    }
}

Status call(Call& c, const Cell* name) {
    DepthGuard guard;
    // The name comes back in trace events after the arguments ran user code: with a tracer
    // installed it is held (a collection may renumber the nodes of a copy).
    std::optional<GcRoot> held_name;
    if (tracers_installed != 0) [[unlikely]] {
        held_name.emplace(*name);
        name = &held_name->cell();
    }
    const uint8_t t = cell::type(c.fn);
    const bool is_function = t == kTypeFunction;
    stack::top = c.fn + 1;
    if (is_function)
        stack::mark_func(name, c.fn->w1);
    else
        stack::mark(name, stack::kNative, stack::Origin::interpreter);
    stack::top += c.preset; // operands already in place
    const auto position = static_cast<int32_t>(*c.index);
    trace(Event::open, c.code, position, name);
    Refinements refs;
    Status s = gather(c, refs, is_function);
    if (s == Status::normal) {
        trace(Event::call, c.code, position, c.fn, name);
        if (is_function)
            s = run_body(c.fn, name);
        else if (t == kTypeAction)
            s = actions::entry(c.fn->w1)(refs.data());
        else if (t == kTypeRoutine)
            s = routines::entry(cells_of(c.fn->w3)[2].w2)(refs.data());
        else
            s = natives::entry(c.fn->w1)(refs.data());
    }
    if (s != Status::normal) {
        stack::unwind();
        return s;
    }
    stack::unwind();
    *c.fn = c.fn[1];
    stack::top = c.fn + 1;
    trace(Event::return_, c.code, position, c.fn, name);
    return Status::normal;
}

namespace {

// --- Paths ------------------------------------------------------------------------------------

// Types whose fields live in the value cell itself: setting such a field changes a copy,
// which must be stored back where the value came from.
bool fields_in_cell(uint8_t type) {
    switch (type) {
    case kTypeDate:
    case kTypeTime:
    case kTypePair:
    case kTypeTuple:
    case kTypePoint2D:
    case kTypePoint3D:
    case kTypeMoney:
        return true;
    default:
        return false;
    }
}

// After a set-path stored into the value at `changed` (the last of `levels` values the walk
// left on the stack from the head's value on, each followed by its selector; `first` is the
// head's index in the path), stores every changed
// in-cell value back into the level above it, and the first one into the head word.
void write_back(Cell* head, const Cell* path, uint32_t first, Cell* changed, uint32_t levels) {
    for (uint32_t level = levels; level-- > 0;) {
        if (!fields_in_cell(cell::type(changed))) return;
        if (level == 0) {
            context::set_word(head, changed);
            return;
        }
        Cell* above = changed - 2;
        Cell* selector = changed - 1;
        auto fn = datatype::function<action::slot::eval_path>(cell::type(above));
        fn(above, selector, changed,
           {.path = const_cast<Cell*>(path),
            .position = static_cast<int32_t>(first + level),
            .tail = true});
        changed = above;
    }
}

// `path` is a cell on the data stack. Pushes the value (call and get modes); in set mode the
// value to store is the cell on top, which the walk leaves as the result.
Status eval_path(const Cell* code, uint32_t& i, const Cell* path, PathMode mode) {
    const uint32_t node = path->w2;
    const uint32_t first = path->w1;
    if (first >= length_of(node)) error::fire(error::kScript, error::script::empty_path);
    Cell head = cells_of(node)[first];
    if (cell::type(&head) != kTypeWord)
        error::fire(error::kScript, error::script::word_first, {path});
    if (tracing) [[unlikely]] {
        fire_event(Event::enter, path, static_cast<int32_t>(first), nullptr, nullptr);
        fire_event(Event::fetch, path, static_cast<int32_t>(first), &head, nullptr);
        // The head again, from the path as the tracer left it.
        if (first >= length_of(path->w2)) error::fire(error::kScript, error::script::empty_path);
        head = cells_of(path->w2)[first];
        if (cell::type(&head) != kTypeWord)
            error::fire(error::kScript, error::script::word_first, {path});
    }
    Cell* new_value = mode == kPathSet ? stack::top - 1 : nullptr;
    Cell* parent = stack::push(*read_value(&head));
    Cell* const base = parent;
    if (cell::type(parent) == kTypeUnset)
        error::fire(error::kScript, error::script::unset_path, {path, &head});
    for (uint32_t k = first + 1;; ++k) {
        if (is_callable(cell::type(parent))) {
            if (mode == kPathSet)
                error::fire(error::kScript, error::script::invalid_path_set, {path});
            if (mode == kPathGet && k < length_of(path->w2))
                error::fire(error::kScript, error::script::invalid_path_get, {path});
            if (mode == kPathCall) {
                Call c{parent, code, &i, path, k, false};
                Cell name = cells_of(path->w2)[k - 1];
                if (cell::type(&name) != kTypeWord) name = *words::word.anon;
                return call(c, &name);
            }
        }
        if (k >= length_of(path->w2)) break;
        Cell* selector = stack::push(cells_of(path->w2)[k]);
        trace(Event::fetch, path, static_cast<int32_t>(k), selector);
        Cell e = *selector;
        if (cell::type(&e) == kTypeParen) {
            Status s = eval_block(&e);
            if (s != Status::normal) return s;
            *selector = stack::top[-1];
        } else if (cell::type(&e) == kTypeGetWord) {
            *selector = *read_value(&e);
        }
        stack::top = selector + 1;
        if (cell::type(selector) == kTypeUnset)
            error::fire(error::kScript, error::script::invalid_path, {path, selector});
        const bool last = k + 1 >= length_of(path->w2);
        auto fn = datatype::function<action::slot::eval_path>(cell::type(parent));
        if (!fn) {
            if (k > first + 1)
                error::fire(error::kScript, error::script::bad_path_type,
                            {selector, datatype::push(cell::type(parent)), path});
            error::fire(error::kScript, error::script::bad_path_type2,
                        {selector, datatype::push(cell::type(parent))});
        }
        Cell* answer = fn(parent, selector, mode == kPathSet && last ? new_value : nullptr,
                          {.path = const_cast<Cell*>(path),
                           .position = static_cast<int32_t>(k),
                           .get = mode == kPathGet,
                           .tail = last});
        if (mode == kPathSet && last) {
            write_back(&head, path, first, parent, k - first);
            stack::top = base;
            return Status::normal;
        }
        if (mode == kPathSet) {
            // Each level stays on the stack: a field set in a value held inside the cell
            // (a date, a pair...) is written back through the levels above it.
            const Cell value = *answer;
            stack::top = selector + 1;
            parent = stack::push(value);
            continue;
        }
        *parent = *answer;
        stack::top = parent + 1;
    }
    if (mode == kPathSet)
        stack::top = base;
    else
        trace(Event::exit, path, static_cast<int32_t>(length_of(path->w2)), stack::top - 1);
    return Status::normal;
}

// --- Integer fast paths -----------------------------------------------------------------------

// The operators whose integer case the interpreter computes itself: the actions add, subtract
// and multiply, and the comparison natives.
enum class FastOp : uint8_t {
    none,
    add,
    subtract,
    multiply,
    equal,
    not_equal,
    lesser,
    lesser_or_equal,
    greater,
    greater_or_equal,
};

FastOp fast_operator(const Cell& op) {
    if (cell::type(&op) == kTypeAction) {
        switch (op.w1) {
        case action::slot::add:
            return FastOp::add;
        case action::slot::subtract:
            return FastOp::subtract;
        case action::slot::multiply:
            return FastOp::multiply;
        default:
            return FastOp::none;
        }
    }
    if (cell::type(&op) != kTypeNative) return FastOp::none;
    switch (op.w1) {
    case natives::kEqualQ:
    case natives::kStrictEqualQ:
        return FastOp::equal;
    case natives::kNotEqualQ:
        return FastOp::not_equal;
    case natives::kLesserQ:
        return FastOp::lesser;
    case natives::kLesserOrEqualQ:
        return FastOp::lesser_or_equal;
    case natives::kGreaterQ:
        return FastOp::greater;
    case natives::kGreaterOrEqualQ:
        return FastOp::greater_or_equal;
    default:
        return FastOp::none;
    }
}

inline bool is_fast_number(const Cell* c) {
    const uint8_t t = cell::type(c);
    return t == kTypeInteger || t == kTypeFloat;
}

inline double number_of(const Cell* c) {
    if (cell::type(c) == kTypeInteger) return static_cast<int32_t>(c->w2);
    double d;
    std::memcpy(&d, &c->w2, sizeof d);
    return d;
}

// Adds, subtracts or multiplies two numbers of which one at least is a float!, as the
// actions do: the float! of the doubles' operation. False for the comparisons, whose
// tolerance the comparison natives keep.
bool float_operation(FastOp op, Cell* left, const Cell* right) {
    const double a = number_of(left), b = number_of(right);
    double r = 0;
    switch (op) {
    case FastOp::add:
        r = a + b;
        break;
    case FastOp::subtract:
        r = a - b;
        break;
    case FastOp::multiply:
        r = a * b;
        break;
    default:
        return false;
    }
    *left = Cell{kTypeFloat, 0, 0, 0};
    std::memcpy(&left->w2, &r, sizeof r);
    return true;
}

// Computes `left op right` into `left` (integers or floats); false when the interpreter
// leaves the case to the operator itself: an integer result that leaves the integers (the
// action then makes the float), a comparison of floats.
bool number_operation(FastOp op, Cell* left, const Cell* right) {
    if (cell::type(left) != kTypeInteger || cell::type(right) != kTypeInteger) [[unlikely]]
        return float_operation(op, left, right);
    const auto a = static_cast<int32_t>(left->w2);
    const auto b = static_cast<int32_t>(right->w2);
    int32_t r = 0;
    bool truth = false;
    switch (op) {
    case FastOp::add:
        if (__builtin_add_overflow(a, b, &r)) return false;
        *left = Cell{kTypeInteger, 0, static_cast<uint32_t>(r), 0};
        return true;
    case FastOp::subtract:
        if (__builtin_sub_overflow(a, b, &r)) return false;
        *left = Cell{kTypeInteger, 0, static_cast<uint32_t>(r), 0};
        return true;
    case FastOp::multiply:
        if (__builtin_mul_overflow(a, b, &r)) return false;
        *left = Cell{kTypeInteger, 0, static_cast<uint32_t>(r), 0};
        return true;
    case FastOp::equal:
        truth = a == b;
        break;
    case FastOp::not_equal:
        truth = a != b;
        break;
    case FastOp::lesser:
        truth = a < b;
        break;
    case FastOp::lesser_or_equal:
        truth = a <= b;
        break;
    case FastOp::greater:
        truth = a > b;
        break;
    case FastOp::greater_or_equal:
        truth = a >= b;
        break;
    case FastOp::none:
        return false;
    }
    *left = Cell{kTypeLogic, truth ? 1u : 0u, 0, 0};
    return true;
}

// --- One expression ---------------------------------------------------------------------------

Status eval_expr(const Cell* code, uint32_t& i, bool prefix_only) {
    Cell* base = stack::top;
    const auto start = static_cast<int32_t>(i);
    Cell* at = code_at(code, i++);
    Cell v = *at;
    if (tracing) [[unlikely]] {
        // The value is held while the tracer runs (a collection may renumber its nodes). The
        // tracer may also have moved or changed the code: the cell that words resolve in is
        // the code's own only while it still holds the value.
        GcRoot held(v);
        fire_event(Event::fetch, code, start, &v, nullptr);
        v = held.cell();
        at = static_cast<uint32_t>(start) < length_of(code->w2) ? code_at(code, start) : nullptr;
        if (!at || std::memcmp(at, &v, sizeof v) != 0) at = &v;
    }
    Status s = Status::normal;
    bool pushed = true; // a value pushed as it is (the push event), not a call's result
    switch (cell::type(&v)) {
    case kTypeParen:
        s = eval_block(&v);
        pushed = false;
        break;
    case kTypeSetWord: {
        if (i >= length_of(code->w2)) error::fire(error::kScript, error::script::need_value, {&v});
        // The word's index is resolved once, in the code. The word waits on the data stack,
        // under its value.
        peek_value(at);
        Cell* word = stack::push(*at);
        s = eval_expr(code, i, false);
        if (s != Status::normal) {
            stack::top = word;
            return s;
        }
        Cell* value = word + 1;
        if (tracing) [[unlikely]] {
            Cell copy = *value;
            fire_event(Event::set, code, start, &copy, word);
        }
        if (!store_direct(word, *value)) {
            if (cell::type(value) == kTypeUnset)
                error::fire(error::kScript, error::script::need_value, {word});
            context::set_word(word, value); // both cells on the data stack, which never moves
        }
        *word = *value;
        stack::top = word + 1;
        pushed = false;
        break;
    }
    case kTypeSetPath: {
        if (i >= length_of(code->w2)) error::fire(error::kScript, error::script::need_value, {&v});
        Cell* p = stack::push(v);
        s = eval_expr(code, i, false);
        if (s != Status::normal) return s;
        if (tracing) [[unlikely]] {
            Cell value = p[1];
            fire_event(Event::set, code, start, &value, p);
        }
        s = eval_path(code, i, p, kPathSet);
        if (s != Status::normal) return s;
        *base = p[1];
        stack::top = base + 1;
        pushed = false;
        break;
    }
    case kTypeGetWord:
        stack::push(*read_value(at));
        break;
    case kTypeLitWord:
        cell::set_type(stack::push(v), kTypeWord);
        break;
    case kTypeWord: {
        const Cell* value = word_value(at);
        const uint8_t t = cell::type(value);
        if (is_callable(t)) {
            Cell* fn = stack::push(*value);
            Call c{fn, code, &i, nullptr, 0, false};
            s = call(c, &v);
            pushed = false;
        } else if (t == kTypeUnset) {
            error::fire(error::kScript, error::script::no_value, {&v});
        } else if (t == kTypeOp) {
            error::fire(error::kScript, error::script::no_op_arg, {&v});
        } else if (t == kTypeLitWord) {
            cell::set_type(stack::push(*value), kTypeWord);
        } else {
            stack::push(*value);
        }
        break;
    }
    case kTypePath:
    case kTypeGetPath: {
        Cell* p = stack::push(v);
        s = eval_path(code, i, p, cell::type(&v) == kTypePath ? kPathCall : kPathGet);
        if (s != Status::normal) return s;
        *base = stack::top[-1];
        stack::top = base + 1;
        break;
    }
    case kTypeLitPath:
        cell::set_type(stack::push(v), kTypePath);
        break;
    case kTypeOp:
        error::fire(error::kInternal, error::internal::not_done);
    case kTypeNative:
    case kTypeAction:
    case kTypeFunction:
    case kTypeRoutine: {
        Cell* fn = stack::push(v);
        Call c{fn, code, &i, nullptr, 0, false};
        s = call(c, words::word.anon);
        pushed = false;
        break;
    }
    case kTypeIssue:
        if (i < length_of(code->w2) && cell::type(code_at(code, i)) == kTypeBlock &&
            (v.w2 == words::symbol.system || v.w2 == words::symbol.system_global))
            error::fire(error::kInternal, error::internal::zan_system);
        stack::push(v);
        break;
    default:
        stack::push(v);
        break;
    }
    if (s != Status::normal) return s;
    if (tracing && pushed) [[unlikely]] {
        Cell value = stack::top[-1];
        fire_event(Event::push, code, start, &value, nullptr);
    }
    if (prefix_only) return s;

    // Infix lookahead: operators chain strictly from left to right.
    for (;;) {
        Cell* next = code_at_or_null(code, i);
        if (!next || cell::type(next) != kTypeWord) break;
        const Cell* value = peek_value(next);
        if (!value || cell::type(value) != kTypeOp) break;
        Cell op = *value;
        op.header = (op.header >> 16) & 0xFF; // the function the op was made from
        const FastOp fast = fast_operator(op);
        if (fast != FastOp::none && !tracing && is_fast_number(base) &&
            i + 1 < length_of(code->w2)) {
            // Integer and float operands take no frame; anything else is called with both
            // operands in place. A tracer sees every call, so while one is at work the
            // operator is called like any other. The op and its name wait on the data
            // stack, where a collection during the right operand keeps them current.
            ++i;
            Cell* held = stack::push(op);
            stack::push(*next);
            Cell* right = stack::top;
            s = eval_expr(code, i, true);
            if (s != Status::normal) return s;
            if (is_fast_number(right) && number_operation(fast, base, right)) {
                stack::top = base + 1;
                continue;
            }
            GcRoot name(held[1]);
            const Cell left = *base, operand = *right;
            base[0] = held[0];
            base[1] = left;
            base[2] = operand;
            stack::top = base + 3;
            Call c{base, code, &i, nullptr, 0, true, 2};
            s = call(c, &name.cell());
            if (s != Status::normal) return s;
            continue;
        }
        // Rooted: evaluating the right operand may collect and move the op's spec node and
        // the context of its name.
        GcRoot name(*next);
        GcRoot held(op);
        if (tracing) [[unlikely]]
            fire_event(Event::fetch, code, static_cast<int32_t>(i), &name.cell(), nullptr);
        ++i;
        Call c{base, code, &i, nullptr, 0, true, 1};
        stack::push(*base); // the left operand moves up: it is the first argument
        *base = held.cell();
        s = call(c, &name.cell());
        if (s != Status::normal) return s;
    }
    return s;
}

Cell* kept_cells[] = {&exit_value, &current, &thrown_value, &thrown_name};

void mark_interp() {
    for (Cell* c : kept_cells) collector::mark_block(c, c + 1);
}

} // namespace

// --- Blocks -----------------------------------------------------------------------------------

Status eval_block(const Cell* block) {
    DepthGuard guard;
    PositionGuard position;
    stack::mark(words::word.body, stack::kEval, stack::Origin::interpreter);
    Frame* const level = stack::frame_top;
    Cell* result = stack::push(Cell{kTypeUnset, 0, 0, 0});
    Cell* code = stack::push(*block);
    Status s = Status::normal;
    try {
        uint32_t i = code->w1;
        trace(Event::enter, code, static_cast<int32_t>(i), nullptr);
        while (i < length_of(code->w2)) {
            stack::top = code + 1;
            current = *code;
            current.w1 = i;
            const uint32_t start = i;
            s = eval_expr(code, i, false);
            if (s != Status::normal) break;
            *result = code[1];
            trace(Event::expr, code, static_cast<int32_t>(start), result);
        }
        if (s == Status::normal)
            trace(Event::exit, code, static_cast<int32_t>(length_of(code->w2)), result);
    } catch (const runtime::Thrown& t) {
        // A status that a callback passed on through C++ code (pass_on) goes on from here.
        s = status_of(t.code);
        if (s == Status::normal) throw;
        runtime::reset_thrown_code();
        stack::unroll_to(level);
        stack::arguments = result;
    }
    if (s != Status::normal) {
        stack::unwind();
        return s;
    }
    stack::unwind_keep();
    return s;
}

Status do_block(const Cell* block) {
    Status s = eval_block(block);
    if (s == Status::normal) {
        stack::set_last(stack::top[-1]);
        stack::top = stack::arguments + 1;
    }
    return s;
}

Status eval_next(const Cell* block, uint32_t* index) {
    return eval_expr(block, *index, false);
}

Status eval_single(const Cell* block, uint32_t* next) {
    uint32_t i = block->w1;
    *next = i;
    if (i >= length_of(block->w2)) {
        stack::push(Cell{kTypeUnset, 0, 0, 0});
        return Status::normal;
    }
    PositionGuard position;
    current = *block;
    Status s = eval_expr(block, i, false);
    *next = i;
    return s;
}

Status eval_framed(const Cell* code, uint32_t* index) {
    stack::mark(words::word.body, stack::kNative, stack::Origin::interpreter);
    Status s = eval_expr(code, *index, false);
    if (s != Status::normal) {
        stack::unwind();
        return s;
    }
    stack::unwind_keep();
    return s;
}

Status set_path(const Cell* path, const Cell* value) {
    Cell* p = stack::push(*path);
    stack::push(*value);
    uint32_t unused = 0;
    Status s = eval_path(nullptr, unused, p, kPathSet);
    stack::top = p;
    return s;
}

Status get_path(const Cell* path) {
    Cell* p = stack::push(*path);
    uint32_t unused = 0;
    Status s = eval_path(nullptr, unused, p, kPathGet);
    if (s == Status::normal) {
        *p = stack::top[-1];
        stack::top = p + 1;
    }
    return s;
}

Cell* value_of(Cell* word) {
    return word_value(word);
}

Cell* peek(Cell* word) {
    return peek_value(word);
}

void init() {
    for (Cell* c : kept_cells) *c = Cell{kTypeNone, 0, 0, 0};
    exit_value = Cell{kTypeUnset, 0, 0, 0};
    collector::add_marker(mark_interp);
    init_tracer();
    init_raise();
    init_signatures();
    init_callbacks();
}

} // namespace interp
