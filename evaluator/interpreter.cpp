// The evaluation steps, top to bottom: a block, one expression, the infix lookahead, a call
// (argument gathering with its spec cache, then the entry or the body), paths.
#include "evaluator/interpreter.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <optional>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/port.h"
#include "datatypes/symbol.h"
#include "datatypes/system-fields.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "evaluator/actions.h"
#include "evaluator/frames.h"
#include "evaluator/natives.h"
#include "loading/lexer.h"
#include "runtime-core/collector.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/runtime.h"
#include "runtime-core/support.h"
#include "runtime-core/throw.h"

namespace interp {

Cell exit_value{kTypeUnset, 0, 0, 0};
Cell current{kTypeNone, 0, 0, 0};
Cell thrown_value{kTypeNone, 0, 0, 0};
Cell thrown_name{kTypeNone, 0, 0, 0};
Cell error_value{kTypeNone, 0, 0, 0};

namespace {

using stack::Frame;

// The installed tracers, innermost last, each with its event mask; `tracer_running` while one
// of them runs (tracing is off then, and no function's `trace` attribute turns it back on).
struct Tracer {
    Cell function;
    uint32_t mask;
};
std::vector<Tracer> tracers;
bool tracer_running = false;

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

// Break, continue, return and exit travel as a status, but C++ code that runs language code
// as a callback (sort with its comparator, an object's change handler, a tracer, making an
// object from its spec) has no way to hand one back. Such a callback's status goes on as the
// matching thrown code through that C++ code, which cleans up as it does for an error, to
// the block evaluation around it, which turns it back into the status (eval_block).
constexpr uint32_t kStatusCodes[] = {0, runtime::kThrowBreak, runtime::kThrowContinue,
                                     runtime::kThrowReturn, runtime::kThrowExit};

void pass_on(Status status) {
    runtime::throw_code(kStatusCodes[static_cast<uint8_t>(status)]);
}

// The status that a thrown code carries; normal for the codes that are not one.
Status status_of(uint32_t code) {
    for (uint8_t s = 1; s < std::size(kStatusCodes); ++s)
        if (kStatusCodes[s] == code) return static_cast<Status>(s);
    return Status::normal;
}

inline Cell* cells_of(uint32_t node) {
    return memory::buffer(node)->cells();
}
inline uint32_t length_of(uint32_t node) {
    const memory::Buffer* b = memory::buffer(node);
    return (b->tail - b->head) / sizeof(Cell);
}
inline Cell* code_at(const Cell* code, uint32_t i) {
    return cells_of(code->w2) + i;
}

inline bool is_callable(uint8_t t) {
    return t == kTypeNative || t == kTypeAction || t == kTypeFunction || t == kTypeRoutine;
}

// The value cell of a word whose index in its context is resolved: contexts only grow, so the
// usual case reads the cell directly; null when the context has no values now.
inline Cell* resolved_slot(const Cell* word) {
    const Cell* c = memory::buffer(word->w1)->cells();
    if (c->header & context::kFlagOnStack) [[unlikely]]
        return context::slot(word->w1, static_cast<int32_t>(word->w3));
    if (c->w2 == 0) return nullptr;
    memory::Buffer* values = memory::buffer(c->w2);
    return word->w3 < (values->tail - values->head) / sizeof(Cell) ? values->cells() + word->w3
                                                                   : nullptr;
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

// --- The argument list cache ------------------------------------------------------------------
//
// Built from a function's spec on its first call and kept in cell 1 of its more block, which
// every function kind has. Entries, in spec order:
//   argument:   a typeset! of the accepted types (flags: get-argument, lit-argument), then
//               the argument's word;
//   refinement: the refinement! (word 3: its number, from 1), then an integer! counting its
//               arguments, whose entries follow;
// and at the end an integer!: the number of local cells (/local and the words after it).

constexpr uint32_t kGetArg = 1u << 20;
constexpr uint32_t kLitArg = 1u << 21;

// Adds a spec's type block to a typeset: datatypes and typesets, directly or through words.
void add_types(Cell* typeset, const Cell* types) {
    const uint32_t node = types->w2;
    for (uint32_t k = types->w1; k < length_of(node); ++k) {
        const Cell* t = cells_of(node) + k;
        if (cell::type(t) == kTypeWord) {
            // The word of a datatype that this build does not have yet names no type a
            // value can have: it adds nothing.
            t = peek_value(const_cast<Cell*>(t));
            if (!t || cell::type(t) == kTypeUnset) continue;
        }
        if (cell::type(t) == kTypeDatatype || cell::type(t) == kTypeTypeset)
            typeset::add(typeset, t);
        else
            error::fire(error::kScript, error::script::invalid_type_spec, {cells_of(node) + k});
    }
}

uint32_t build_arg_list(const Cell* fn) {
    GcRoot spec(fn->w2);
    Cell* list = block::push_new(16);
    uint32_t locals = 0, refinements = 0;
    bool in_locals = false;
    int32_t count_at = -1; // the current refinement's count cell, from the list head
    for (uint32_t k = 0; k < length_of(spec.node()); ++k) {
        const Cell c = cells_of(spec.node())[k];
        const uint8_t t = cell::type(&c);
        if (t == kTypeWord || t == kTypeLitWord || t == kTypeGetWord) {
            if (in_locals) {
                ++locals;
                continue;
            }
            Cell ts;
            typeset::make_any_type(&ts);
            if (k + 1 < length_of(spec.node()) &&
                cell::type(cells_of(spec.node()) + k + 1) == kTypeBlock) {
                typeset::clear(&ts);
                Cell types = cells_of(spec.node())[++k];
                add_types(&ts, &types);
            }
            ts.header |= t == kTypeLitWord ? kLitArg : t == kTypeGetWord ? kGetArg : 0;
            block::append_copy(list, &ts);
            Cell w = c;
            cell::set_type(&w, kTypeWord);
            block::append_copy(list, &w);
            if (count_at >= 0) ++cells_of(list->w2)[count_at].w2;
        } else if (t == kTypeRefinement) {
            if (symbol::resolve(c.w2) == symbol::resolve(refinements::refinement.local->w2)) {
                in_locals = true;
                locals = 1;
                continue;
            }
            if (in_locals) break;
            Cell r = c;
            r.w3 = ++refinements;
            block::append_copy(list, &r);
            Cell n{kTypeInteger, 0, 0, 0};
            count_at = static_cast<int32_t>(length_of(list->w2));
            block::append_copy(list, &n);
        } else if (t == kTypeSetWord) {
            if (in_locals) break;
            // return: and its type block take no cell of the call.
            if (k + 1 < length_of(spec.node()) &&
                cell::type(cells_of(spec.node()) + k + 1) == kTypeBlock)
                ++k;
        }
    }
    Cell n{kTypeInteger, 0, locals, 0};
    block::append_copy(list, &n);
    const uint32_t node = list->w2;
    Cell cache = *list;
    stack::pop(1);
    cells_of(fn->w3)[1] = cache;
    return node;
}

// --- Native and action specs -----------------------------------------------------------------
//
// A native's or action's entry reads its arguments and refinements from the frame by position
// and trusts their types. The argument list of each slot's first definition (the start-up
// one) is kept: a later make must give the same arguments and refinements in the same order,
// each accepting no type that its counterpart refuses. Names and doc strings may differ.

// Natives by slot, then actions by slot: the node of the first definition's argument list.
uint32_t slot_lists[natives::kSlots + action::kSlotCount];

bool types_within(const Cell& types, const Cell& allowed) {
    return (types.w1 & ~allowed.w1) == 0 && (types.w2 & ~allowed.w2) == 0 &&
           (types.w3 & ~allowed.w3) == 0;
}

// Whether an argument list gives an entry what the slot's own list does. Both end in the
// locals count, an integer!.
bool fits_slot(uint32_t list, uint32_t slot_list) {
    const Cell* a = cells_of(list);
    const Cell* b = cells_of(slot_list);
    for (; cell::type(a) == kTypeTypeset && cell::type(b) == kTypeTypeset; a += 2, b += 2)
        if (!types_within(*a, *b)) return false;
    while (cell::type(a) == kTypeRefinement && cell::type(b) == kTypeRefinement) {
        const uint32_t n = a[1].w2;
        if (n != b[1].w2) return false;
        for (uint32_t k = 0; k < n; ++k)
            if (!types_within(a[2 + 2 * k], b[2 + 2 * k])) return false;
        a += 2 + 2 * n;
        b += 2 + 2 * n;
    }
    return cell::type(a) == kTypeInteger && cell::type(b) == kTypeInteger;
}

// The spec check of native! and action! make (native.h): the new value's argument list is
// built now, once, and compared with its slot's.
void check_native_spec(const Cell* made, const Cell* prototype, const Cell* spec) {
    Cell* const base = stack::top;
    const uint32_t list = build_arg_list(made);
    const uint32_t at = (cell::type(made) == kTypeAction ? natives::kSlots : 0) + made->w1 - 1;
    if (at >= std::size(slot_lists))
        error::fire(error::kScript, error::script::bad_make_arg, {prototype, spec});
    if (!slot_lists[at])
        slot_lists[at] = list;
    else if (!fits_slot(list, slot_lists[at]))
        error::fire(error::kScript, error::script::bad_make_arg, {prototype, spec});
    stack::top = base;
}

inline uint32_t arg_list(const Cell* fn) {
    const Cell* cache = cells_of(fn->w3) + 1;
    if (cell::type(cache) == kTypeBlock) return cache->w2;
    return build_arg_list(fn);
}

// Completes a function frame whose first `given` cells the caller has pushed: the cells its
// spec has beyond them get their absent values (a refinement false, its arguments and the
// locals none); given cells beyond the spec's arguments are dropped. `fn` is on the data
// stack. May collect (the first call of a function builds its argument list).
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

// The function value of the call whose frame is `fn + 1`: its cells on the stack.
struct Call {
    Cell* fn;            // the function value; the result replaces it
    const Cell* code;    // the block the arguments come from (on the data stack)
    uint32_t* index;     // position in it
    const Cell* path;    // the path naming the call (on the data stack), or null
    uint32_t path_index; // the first refinement element of the path
    bool infix;
    uint32_t preset = 0;  // arguments already in place after the function value
    bool literal = false; // apply: each argument is the next value as it is
};

void check_type(const Cell* value, const Cell* typeset, const Cell* word) {
    if (!typeset::contains(typeset, cell::type(value))) expect_arg(value, word);
}

Status eval_expr(const Cell* code, uint32_t& i, bool prefix_only, bool no_call);
Status eval_path(const Cell* code, uint32_t& i, const Cell* path, int mode);
Status call(Call& c, const Cell* name);

enum PathMode { kPathCall = 0, kPathGet = 1, kPathSet = 2 };

// Fetches one argument of the entry `ts`, `word` and pushes it.
Status fetch_arg(Call& c, const Cell& ts, const Cell& word) {
    const uint32_t end = length_of(c.code->w2);
    uint32_t& i = *c.index;
    if (i >= end) {
        if ((ts.header & kLitArg) && typeset::contains(&ts, kTypeUnset)) {
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
    if (!(ts.header & (kLitArg | kGetArg))) return eval_expr(c.code, i, c.infix, false);
    const Cell v = *code_at(c.code, i++);
    if (ts.header & kLitArg) {
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
    uint32_t j = 0, n = 0;
    while (cell::type(cells_of(list) + j) == kTypeTypeset) {
        const Cell ts = cells_of(list)[j];
        const Cell w = cells_of(list)[j + 1];
        j += 2;
        if (n >= c.preset) {
            Status s = fetch_arg(c, ts, w);
            if (s != Status::normal) return s;
            list = arg_list(c.fn);
        }
        check_type(stack::arguments + n++, &ts, &w);
    }
    // Every refinement absent, its cells none (a function's refinement cell false).
    const uint32_t refinements_at = j;
    uint32_t r = 0;
    while (cell::type(cells_of(list) + j) == kTypeRefinement) {
        const uint32_t n = cells_of(list)[j + 1].w2;
        if (is_function) logic::push(false);
        for (uint32_t k = 0; k < n; ++k) stack::push(Cell{kTypeNone, 0, 0, 0});
        ++r;
        j += 2 + 2 * n;
    }
    refs.reset(r);
    if (is_function)
        for (uint32_t k = cells_of(list)[j].w2; k > 0; --k) stack::push(Cell{kTypeNone, 0, 0, 0});
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
        if (twice) {
            Cell name;
            stack::get_call(&name);
            error::fire(error::kScript, error::script::dup_refine, {c.path});
        }
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

// Runs a function!'s body on its frame: the locals context reads the frame's cells. `name`
// (for the tracer) is the word the function was called by.
Status run_body(Cell* fn, const Cell* name = nullptr) {
    const uint32_t locals = fn->w1;
    context::set_stack_values(locals, stack::arguments);
    stack::set_body_flag(true);
    Cell body = cells_of(fn->w3)[0];
    if (cell::type(&body) != kTypeBlock) {
        stack::arguments[0] = Cell{kTypeNone, 0, 0, 0};
        return Status::normal;
    }
    // A spec's `trace` attribute turns tracing on for the body where do/trace is at work, and
    // `no-trace` turns it off; both are put back when the body ends, however it ends.
    struct BodyTracing {
        bool saved = tracing;
        ~BodyTracing() { tracing = saved; }
    } body_tracing;
    if (fn->header & (function::kTraceFlag | function::kNoTraceFlag)) [[unlikely]] {
        if (fn->header & function::kTraceFlag) tracing = !tracers.empty() && !tracer_running;
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
        stack::arguments[0] = stack::top[-1];
        return s;
    case Status::return_:
        stack::arguments[0] = exit_value;
        return Status::normal;
    case Status::exit:
        stack::arguments[0] = Cell{kTypeUnset, 0, 0, 0};
        return Status::normal;
    default:
        return s;
    }
}

// Calls the function value at c.fn: frame, arguments, entry or body; the result replaces
// the function value and the top comes back to just above it.
Status call(Call& c, const Cell* name) {
    DepthGuard guard;
    // The name comes back in trace events after the arguments ran user code: with a tracer
    // installed it is held (a collection may renumber the nodes of a copy).
    std::optional<GcRoot> held_name;
    if (!tracers.empty()) [[unlikely]] {
        held_name.emplace(*name);
        name = &held_name->cell();
    }
    const uint8_t t = cell::type(c.fn);
    const bool is_function = t == kTypeFunction;
    stack::top = c.fn + 1;
    if (is_function)
        stack::mark_func(name, c.fn->w1, true);
    else
        stack::mark(name, stack::kNative | stack::kInterpFlag >> 24);
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
Status eval_path(const Cell* code, uint32_t& i, const Cell* path, int mode) {
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

// The operators whose integer case the interpreter computes itself: the action slots of add,
// subtract and multiply, and the comparison natives (their comparison codes + 100).
int32_t fast_operator(const Cell& op) {
    if (cell::type(&op) == kTypeAction)
        return op.w1 == action::slot::add || op.w1 == action::slot::subtract ||
                       op.w1 == action::slot::multiply
                   ? static_cast<int32_t>(op.w1)
                   : -1;
    if (cell::type(&op) == kTypeNative && op.w1 >= natives::kEqualQ &&
        op.w1 <= natives::kGreaterOrEqualQ) {
        static constexpr int32_t kCodes[] = {
            action::op::equal,           action::op::not_equal, action::op::strict_equal,
            action::op::lesser,          action::op::greater,   action::op::lesser_or_equal,
            action::op::greater_or_equal};
        return 100 + kCodes[op.w1 - natives::kEqualQ];
    }
    return -1;
}

// Computes `left op right` into `left`; false when the result leaves the integers (the
// action then makes the float).
bool integer_operation(int32_t op, Cell* left, const Cell* right) {
    const auto a = static_cast<int32_t>(left->w2);
    const auto b = static_cast<int32_t>(right->w2);
    int32_t r = 0;
    bool truth = false;
    switch (op) {
    case action::slot::add:
        if (__builtin_add_overflow(a, b, &r)) return false;
        break;
    case action::slot::subtract:
        if (__builtin_sub_overflow(a, b, &r)) return false;
        break;
    case action::slot::multiply:
        if (__builtin_mul_overflow(a, b, &r)) return false;
        break;
    case 100 + action::op::equal:
    case 100 + action::op::strict_equal:
        truth = a == b;
        break;
    case 100 + action::op::not_equal:
        truth = a != b;
        break;
    case 100 + action::op::lesser:
        truth = a < b;
        break;
    case 100 + action::op::lesser_or_equal:
        truth = a <= b;
        break;
    case 100 + action::op::greater:
        truth = a > b;
        break;
    default:
        truth = a >= b;
        break;
    }
    if (op >= 100)
        *left = Cell{kTypeLogic, truth ? 1u : 0u, 0, 0};
    else
        *left = Cell{kTypeInteger, 0, static_cast<uint32_t>(r), 0};
    return true;
}

// --- One expression ---------------------------------------------------------------------------

Status eval_expr(const Cell* code, uint32_t& i, bool prefix_only, bool no_call) {
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
        // The word's index is resolved once, in the code.
        peek_value(at);
        stack::mark(words::word.body, stack::kNative | stack::kInterpFlag >> 24);
        stack::push(*at);
        s = eval_expr(code, i, false, false);
        if (s != Status::normal) {
            stack::unwind();
            return s;
        }
        if (tracing) [[unlikely]] {
            Cell value = stack::top[-1];
            fire_event(Event::set, code, start, &value, stack::arguments); // the word
        }
        word::set_to_next_checked();
        stack::unwind_keep();
        pushed = false;
        break;
    }
    case kTypeSetPath: {
        if (i >= length_of(code->w2)) error::fire(error::kScript, error::script::need_value, {&v});
        Cell* p = stack::push(v);
        s = eval_expr(code, i, false, false);
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
        if (no_call) break;
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
    while (i < length_of(code->w2)) {
        Cell* next = code_at(code, i);
        if (cell::type(next) != kTypeWord) break;
        const Cell* value = peek_value(next);
        if (!value || cell::type(value) != kTypeOp) break;
        // Rooted: evaluating the right operand may collect and move the op's spec node and
        // the context of its name.
        GcRoot name(*next);
        GcRoot op(*value);
        op.cell().header = (op.cell().header >> 16) & 0xFF;
        if (tracing) [[unlikely]]
            fire_event(Event::fetch, code, static_cast<int32_t>(i), &name.cell(), nullptr);
        ++i;
        Call c{base, code, &i, nullptr, 0, true, 1};
        const int32_t fast = fast_operator(op.cell());
        if (fast >= 0 && !tracing && cell::type(base) == kTypeInteger && i < length_of(code->w2)) {
            // Integer operands take no frame; anything else is called with both operands
            // in place. A tracer sees every call, so while one is at work the operator is
            // called like any other.
            Cell* right = stack::top;
            s = eval_expr(code, i, true, false);
            if (s != Status::normal) return s;
            if (cell::type(right) == kTypeInteger && integer_operation(fast, base, right)) {
                stack::top = base + 1;
                continue;
            }
            stack::push(*right);
            *right = *base;
            c.preset = 2;
        } else {
            stack::push(*base); // the left operand moves up: it is the first argument
        }
        *base = op.cell();
        s = call(c, &name.cell());
        if (s != Status::normal) return s;
    }
    return s;
}

// An internal/no-memory error made at the first raise, while memory is still there: making an
// error needs memory, so a raise while one is being made (memory ran out) takes this one
// instead of making another, which would fail and raise again until the machine stack ran out.
Cell spare_error{kTypeNone, 0, 0, 0};
bool making_error = false;

Cell* kept_cells[] = {&exit_value,  &current,     &thrown_value,
                      &thrown_name, &error_value, &spare_error};

uint32_t event_symbols[kEventCount];
constexpr const char* kEventNames[kEventCount] = {
    "init",  "end",  "prolog", "epilog", "enter", "exit",  "open",  "return",
    "fetch", "push", "set",    "call",   "error", "throw", "catch", "expr"};

void mark_interp() {
    for (Cell* c : kept_cells) collector::mark_block(c, c + 1);
    for (Tracer& t : tracers) collector::mark_block(&t.function, &t.function + 1);
    for (uint32_t& list : slot_lists)
        if (list) collector::mark_node_cells(list);
}

// The raiser: every language error becomes an error! value naming the call it happened in
// and the code near it, and recording the frame level for its stack trace.
void on_fire(const error::Raised& raised) {
    if (making_error) {
        if (cell::type(&spare_error) != kTypeError)
            runtime::quit(runtime::kErrorOutOfMemory, ZAN_CALLER_ADDRESS());
        error_value = spare_error;
        return;
    }
    struct Making {
        Making() { making_error = true; }
        ~Making() { making_error = false; }
    };
    {
        Making making;
        keep_spare_error();
        Cell* e = error::create(raised);
        Cell* where = stack::push_cell();
        stack::get_call(where);
        error::get_where(e, where);
        Cell* near = error::field(e, error::kNear);
        if (cell::type(&current) == kTypeBlock && cell::type(near) == kTypeNone) *near = current;
        Cell* level = error::field(e, error::kStack);
        if (cell::type(level) != kTypeBlock) *level = Cell{kTypeInteger, 0, stack::depth(), 0};
        error_value = *e;
        stack::top = e;
    }
    trace(Event::error, nullptr, -1, &error_value);
}

// What the error module reads of the frames.
uint32_t current_spec() {
    if (stack::depth() == 0) return 0;
    const Frame* f = stack::last_frame();
    if (!(f->header & stack::kInterpFlag) || stack::arguments <= stack::bottom) return 0;
    const Cell* fn = stack::arguments - 1;
    return is_callable(cell::type(fn)) ? fn->w2 : 0;
}

// The calls of an error's stack line, from the bottom frame up to the recorded level: with
// one level only the frames whose name refers to a function!, with more every named frame.
// Frames above the current depth were popped when the error unwound them: their symbols
// still name the calls, but their name contexts may have been collected since, so those
// names are looked up in the global context.
void trace_calls(const Cell* block, int32_t frame, int32_t levels) {
    const uint32_t body = words::word.body->w2, anon = words::word.anon->w2;
    const int32_t live = static_cast<int32_t>(stack::depth());
    for (int32_t i = 0; i < frame && i < static_cast<int32_t>(stack::kFrames); ++i) {
        const Frame f = stack::frame_bottom[i];
        if (f.symbol() == body || f.symbol() == anon) continue;
        const uint32_t ctx = i < live && f.name_context ? f.name_context : context::global;
        Cell w{kTypeWord, ctx, f.symbol(), word::kUnresolved};
        if (levels <= 1) {
            const Cell* v = peek_value(&w);
            if (!v || cell::type(v) != kTypeFunction) continue;
        }
        block::append_copy(block, &w);
    }
}

uint32_t frame_depth() {
    return stack::depth();
}

const error::Calls kCalls{current_spec, trace_calls, stack::get_call, frame_depth};

// An object spec block runs for its effects: its value is dropped, and a break or return
// that leaves it goes on to its loop or function (pass_on).
void do_object_spec(const Cell* block) {
    Cell* const base = stack::top;
    const Status s = eval_block(block);
    stack::top = base;
    pass_on(s);
}

// Runs a change handler whose result slot (stack::arguments) and arguments the object module
// has pushed: a function frame opens over them, the body runs and its value stays in the
// result slot.
void call_object_handler(const Cell* function, const Cell* name, uint32_t, int32_t event_class) {
    CallbackTracing traced(static_cast<uint32_t>(event_class));
    Cell fn = *function;
    const auto result = stack::arguments - stack::bottom;
    Cell* const args_end = stack::top;
    // A function frame's base is its first argument, where its body leaves its value.
    stack::top = stack::arguments + 1;
    stack::mark_func(name, fn.w1, true);
    stack::top = args_end;
    const Status s = run_body(&fn, name);
    const Cell value = stack::arguments[0];
    stack::unwind();
    pass_on(s);
    stack::bottom[result] = value;
}

// port!'s call of an actor function (port::Services::call): the function that the actor
// object holds under the word of `symbol`, called over the `count` argument cells at
// `arguments`; false when the actor has no such function.
bool call_actor_function(const Cell* actor, uint32_t symbol, const Cell* arguments, uint32_t count,
                         Cell* result) {
    const int32_t at = object::find_symbol_index(actor, symbol);
    if (at < 0) return false;
    const Cell fn = object::values(actor)[at];
    if (cell::type(&fn) != kTypeFunction) return false;
    Cell* base = const_cast<Cell*>(arguments);
    Cell name{};
    word::make_at(symbol, &name);
    CallbackTracing traced(kPortCallback);
    status_to_error(call_pushed(&fn, &name, base, count));
    *result = *base;
    return true;
}

// The lexer's trace function: a function frame over the five arguments
// (event, input, type, line, token). A new position the function gives its input argument
// comes back through `input` (a data-stack cell of the lexer's), when it is still a position
// in the same series.
bool call_trace(const Cell* function, const Cell* event, Cell* input, const Cell* type,
                const Cell* line, const Cell* token) {
    CallbackTracing traced(kLexerCallback);
    Cell fn = *function;
    Cell* const base = stack::top;
    // The frame's base is its first argument, where the body leaves its value.
    stack::mark_func(words::word.anon, fn.w1, true);
    stack::push(*event);
    stack::push(*input);
    stack::push(*type);
    stack::push(*line);
    stack::push(*token);
    object::count_locals(fn.w2, true);
    const Status s = run_body(&fn);
    const Cell value = stack::arguments[0];
    const Cell moved = stack::arguments[1];
    stack::unwind();
    stack::top = base;
    status_to_error(s);
    if (cell::type(&moved) == cell::type(input) && moved.w2 == input->w2) input->w1 = moved.w1;
    return logic::value_true(&value);
}

Cell trace_body(const Cell* function) {
    return cells_of(function->w3)[0];
}

const lexer::TraceServices kTraceServices{call_trace, trace_body};

// A method of a derived object is rebuilt by the object module itself.
const object::Evaluator kObjectHooks{do_object_spec, call_object_handler, nullptr};

// sort's comparator: the frame is on the data stack, as for a change handler.
void call_comparator(const Cell* function) {
    call_object_handler(function, words::word.compare_callback, 0, kSortCallback);
}

} // namespace

// --- Blocks -----------------------------------------------------------------------------------

Status eval_block(const Cell* block) {
    DepthGuard guard;
    PositionGuard position;
    stack::mark(words::word.body, stack::kEval | stack::kInterpFlag >> 24);
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
            s = eval_expr(code, i, false, false);
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
        *stack::arguments = stack::top[-1];
        stack::top = stack::arguments + 1;
    }
    return s;
}

Status eval_next(const Cell* block, uint32_t* index, bool prefix_only) {
    return eval_expr(block, *index, prefix_only, false);
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
    Status s = eval_expr(block, i, false, false);
    *next = i;
    return s;
}

Status eval_framed(const Cell* code, uint32_t* index) {
    stack::mark(words::word.body, stack::kNative | stack::kInterpFlag >> 24);
    Status s = eval_expr(code, *index, false, false);
    if (s != Status::normal) {
        stack::unwind();
        return s;
    }
    stack::unwind_keep();
    return s;
}

Status call_pushed(const Cell* function, const Cell* name, Cell* arguments, uint32_t count) {
    GcRoot fn(*function), called(name ? *name : *words::word.anon);
    stack::top = arguments;
    stack::mark_func(&called.cell(), fn.cell().w1, true);
    stack::top = arguments + count;
    fill_frame(&fn.cell(), count);
    const Status s = run_body(&fn.cell(), &called.cell());
    stack::unwind_keep();
    return s;
}

Cell call_values(const Cell* function, const Cell* values, uint32_t count) {
    Cell* const base = stack::top;
    const uint32_t first = stack::index_of(values);
    for (uint32_t i = 0; i < count; ++i) stack::push(stack::bottom[first + i]);
    const Status s = call_pushed(function, nullptr, base, count);
    const Cell value = *base;
    stack::top = base;
    status_to_error(s);
    return value;
}

Status call_with(const Cell* function, const Cell* values, const Cell* refinements,
                 const Cell* name) {
    Cell* fn = stack::push(*function);
    if (cell::type(fn) == kTypeOp) fn->header = (fn->header >> 16) & 0xFF;
    uint32_t i = values->w1;
    Call c{fn, values, &i, refinements, refinements ? refinements->w1 : 0, false};
    c.literal = true;
    return call(c, name ? name : words::word.anon);
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

void near_position(Cell* near) {
    *near = current;
}

Cell* value_of(Cell* word) {
    return word_value(word);
}

void expect_arg(const Cell* value, const Cell* argument) {
    Cell name;
    stack::get_call(&name);
    Cell type;
    datatype::make_at(&type, cell::type(value));
    error::fire(error::kScript, error::script::expect_arg, {&name, &type, argument});
}

void status_to_error(Status status) {
    switch (status) {
    case Status::break_:
        error::fire(error::kThrow, error::throw_::break_);
    case Status::continue_:
        error::fire(error::kThrow, error::throw_::continue_);
    case Status::return_:
    case Status::exit:
        error::fire(error::kThrow, error::throw_::return_);
    default:
        return;
    }
}

// --- The tracer -------------------------------------------------------------------------------

bool tracing = false;

uint32_t event_mask(const Cell* function) {
    if (cell::type(function) != kTypeFunction) return kAllEvents;
    const Cell body = cells_of(function->w3)[0];
    if (cell::type(&body) != kTypeBlock || body.w1 >= length_of(body.w2)) return kAllEvents;
    const Cell events = cells_of(body.w2)[body.w1];
    if (cell::type(&events) != kTypeBlock) return kAllEvents;
    uint32_t mask = 0;
    for (uint32_t k = events.w1; k < length_of(events.w2); ++k) {
        const Cell* w = cells_of(events.w2) + k;
        if (cell::type(w) != kTypeWord) continue;
        for (uint32_t e = 0; e < kEventCount; ++e)
            if (symbol::resolve(w->w2) == symbol::resolve(event_symbols[e])) mask |= 1u << e;
    }
    return mask;
}

uint32_t callbacks_symbol = 0, bits_symbol = 0, state_symbol = 0;

bool CallbackTracing::callback_traced(uint32_t kind) {
    const Cell* callbacks = system_object::field({state_symbol, callbacks_symbol});
    if (!callbacks || cell::type(callbacks) != kTypeObject) return false;
    const int32_t at = context::find_word(callbacks->w1, bits_symbol, true);
    if (at < 0) return false;
    const Cell* bits = context::slot(callbacks->w1, at);
    return bits && cell::type(bits) == kTypeInteger && (bits->w2 & kind) != 0;
}

void install_tracer(const Cell* function) {
    if (cell::type(function) != kTypeFunction) expect_arg(function, &none::value);
    tracers.push_back(Tracer{*function, event_mask(function)});
    tracing = true;
}

void remove_tracer() {
    if (!tracers.empty()) tracers.pop_back();
    tracing = !tracers.empty();
}

void fire_event(Event event, const Cell* code, int32_t offset, const Cell* value, const Cell* ref) {
    if (!tracing || tracers.empty()) return;
    const Tracer& tracer = tracers.back();
    const auto e = static_cast<uint32_t>(event);
    if (!(tracer.mask & (1u << e))) return;
    // Everything the call needs is copied onto the data stack before anything allocates.
    Cell* const base = stack::top;
    Cell* const caller = stack::arguments;
    const auto arguments_index = static_cast<int32_t>(stack::index_of(caller));
    const auto top_index = static_cast<int32_t>(stack::index_of(base));
    const uint8_t ct = code ? cell::type(code) : uint8_t{kTypeNone};
    const bool has_code = ct == kTypeBlock || ct == kTypeParen || ct == kTypePath ||
                          ct == kTypeGetPath || ct == kTypeSetPath || ct == kTypeLitPath;
    Cell* fn = stack::push(tracer.function);
    Cell* held_code = stack::push(has_code ? *code : Cell{kTypeNone, 0, 0, 0});
    Cell* held_value = stack::push(value ? *value : Cell{kTypeNone, 0, 0, 0});
    const bool with_ref = event == Event::set || event == Event::prolog || event == Event::epilog ||
                          event == Event::return_ || event == Event::call;
    Cell* held_ref = stack::push(with_ref && ref ? *ref : Cell{kTypeNone, 0, 0, 0});
    struct TracerState {
        bool was_running = tracer_running;
        ~TracerState() {
            tracer_running = was_running;
            tracing = !tracers.empty();
        }
    } state;
    tracing = false;
    tracer_running = true;
    // Whatever ends the call, the caller's frames and data stack come back before it goes on.
    const uint32_t thrown = protected_call(
        [](uint32_t) { return true; },
        [&] {
            stack::mark_func(words::word.interp_callback, fn->w1, true);
            word::make_at(event_symbols[e], stack::push_cell());
            stack::push(*held_code);
            stack::push(Cell{kTypeInteger, 0, static_cast<uint32_t>(has_code ? offset : -1), 0});
            stack::push(*held_value);
            stack::push(*held_ref);
            pair::push(arguments_index, top_index);
            fill_frame(fn, 6);
            const Status s = run_body(fn);
            stack::unwind();
            pass_on(s);
        });
    stack::arguments = caller;
    stack::top = base;
    runtime::throw_code(thrown); // nothing when the call ended normally
}

void keep_spare_error() {
    if (cell::type(&spare_error) == kTypeError) return;
    Cell* spare = error::create(error::kInternal, error::internal::no_memory);
    spare_error = *spare;
    stack::top = spare;
}

void caught_error(Cell* out, bool keep) {
    *out = error_value;
    if (keep) error::set_trace(out);
}

void init() {
    for (Cell* c : kept_cells) *c = Cell{kTypeNone, 0, 0, 0};
    for (uint32_t e = 0; e < kEventCount; ++e) event_symbols[e] = symbol::make(kEventNames[e]);
    callbacks_symbol = symbol::make("callbacks");
    bits_symbol = symbol::make("bits");
    state_symbol = symbol::make("state");
    tracers.clear();
    tracing = false;
    std::fill(std::begin(slot_lists), std::end(slot_lists), 0u);
    native::set_spec_check(check_native_spec);
    exit_value = Cell{kTypeUnset, 0, 0, 0};
    collector::add_marker(mark_interp);
    error::set_fire_hook(on_fire);
    error::set_calls(&kCalls);
    object::set_evaluator(&kObjectHooks);
    block::set_function_caller(call_comparator);
    port::services.call = call_actor_function;
    lexer::set_trace_services(&kTraceServices);
}

} // namespace interp
