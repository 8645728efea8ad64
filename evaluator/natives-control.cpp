// Control-flow natives: conditionals, loops, and the non-local exits with catch and try.
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/dispatch.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/series.h"
#include "datatypes/signature.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "evaluator/actions.h"
#include "evaluator/frames.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/support.h"
#include "runtime-core/throw.h"
#include "runtime-core/type-traits.h"

namespace natives {

namespace {

using interp::Status;

const Cell kUnsetCell{kTypeUnset, 0, 0, 0};
const Cell kNoneCell{kTypeNone, 0, 0, 0};

inline Cell* arg(int i) {
    return stack::arguments + i;
}

// The truth test of conditions that must yield a value.
bool strict_true(const Cell* value) {
    if (cell::type(value) == kTypeUnset) error::fire(error::kScript, error::script::no_return);
    return logic::value_true(value);
}

// Runs a block and makes its value the native's result.
Status run(const Cell* block) {
    return interp::do_block(block);
}

// --- Conditionals -------------------------------------------------------------------------

Status if_(const int32_t*) {
    if (logic::value_true(arg(0))) return run(arg(1));
    stack::set_last(kNoneCell);
    return Status::normal;
}

Status unless(const int32_t*) {
    if (!logic::value_true(arg(0))) return run(arg(1));
    stack::set_last(kNoneCell);
    return Status::normal;
}

Status either(const int32_t*) {
    return run(arg(strict_true(arg(0)) ? 1 : 2));
}

// any and all step through their block one expression at a time.
Status any_all(bool all) {
    Cell* a = stack::arguments;
    uint32_t i = a->w1;
    Cell* code = stack::push(*a);
    Cell last = kNoneCell;
    while (i < memory::buffer(series::node(code))->length()) {
        stack::top = code + 1;
        Status s = interp::eval_next(code, &i);
        if (s != Status::normal) return s;
        const bool truth = logic::value_true(stack::top - 1);
        if (!all && truth) {
            *a = stack::top[-1];
            return Status::normal;
        }
        if (all && !truth) {
            *a = kNoneCell;
            return Status::normal;
        }
        last = stack::top[-1];
    }
    *a = all ? last : kNoneCell;
    return Status::normal;
}

Status any(const int32_t*) {
    return any_all(false);
}
Status all(const int32_t*) {
    return any_all(true);
}

// switch's lookup: the first block! after the first value of `cases` (from its index) of
// the value's type that equals it; null when nothing matches or no block follows the match.
// A block! value matches nothing.
const Cell* select_case(const Cell* value, const Cell* cases) {
    const uint8_t t = cell::type(value);
    if (t == kTypeBlock) return nullptr;
    memory::Buffer* b = memory::buffer(cases->w2);
    const Cell* end = b->cells() + b->length();
    for (const Cell* c = b->cells() + cases->w1; c < end; ++c) {
        if (cell::type(c) != t || block::compare_cells(value, c, action::op::equal) != 0) continue;
        for (++c; c < end; ++c)
            if (cell::type(c) == kTypeBlock) return c;
        return nullptr;
    }
    return nullptr;
}

Status switch_(const int32_t* refs) {
    const Cell* found = select_case(arg(0), arg(1));
    if (!found) found = ref_arg(refs, 0);
    if (found) {
        const Cell block = *found;
        return run(&block);
    }
    stack::set_last(kNoneCell);
    return Status::normal;
}

// case: each condition gets the strict test; a true one evaluates the block (or the
// expression) after it. With /all every condition is tried, and the result is the value of
// the last evaluated block when the last condition tested was true.
Status case_(const int32_t* refs) {
    struct {
        bool all;
    } options{ref_on(refs, 0)};
    Cell* a = arg(0);
    Cell* result = stack::push(kNoneCell);
    Cell* code = stack::push(*a);
    uint32_t i = series::index(code);
    while (i < memory::buffer(series::node(code))->length()) {
        stack::top = code + 1;
        Status s = interp::eval_next(code, &i);
        if (s != Status::normal) return s;
        if (i >= memory::buffer(series::node(code))->length()) {
            const Cell name{kTypeWord, context::global, words::symbol.case_, word::kUnresolved};
            error::fire(error::kScript, error::script::need_value, {&name});
        }
        if (!strict_true(stack::top - 1)) {
            ++i; // exactly one value is skipped
            *result = kNoneCell;
            continue;
        }
        stack::top = code + 1;
        const Cell next = memory::buffer(series::node(code))->cells()[i];
        if (cell::type(&next) == kTypeBlock) {
            ++i;
            s = interp::eval_block(&next);
        } else {
            s = interp::eval_next(code, &i);
        }
        if (s != Status::normal) return s;
        *result = stack::top[-1];
        if (!options.all) break;
    }
    *a = *result;
    stack::top = a + 1;
    return Status::normal;
}

// --- Loops ----------------------------------------------------------------------------------
//
// Each loop pushes a loop frame, the target of break and continue. A status of return or exit
// passes through; break ends the loop with the value break carried (unset for a plain break).

struct Loop {
    Cell* args; // the native's frame
    Cell* last; // the last body value, kept on the data stack below the loop frame
    Loop() : args(stack::arguments), last(stack::push(kUnsetCell)) {
        stack::mark(words::word.body, stack::kLoop);
    }
    // One body evaluation; false when the loop must end (with `status` to pass on).
    bool body(const Cell* block, Status& status) {
        stack::top = stack::arguments;
        status = interp::eval_block(block);
        switch (status) {
        case Status::normal:
            *last = stack::top[-1];
            return true;
        case Status::continue_:
            status = Status::normal;
            *last = kUnsetCell;
            return true;
        case Status::break_:
            status = Status::normal;
            *last = interp::exit_value;
            interp::exit_value = kUnsetCell;
            return false;
        default:
            return false;
        }
    }
    Status end(Status status, const Cell& result) {
        const Cell value = result; // `result` may be `*last`, which the unwinding drops
        stack::unwind();
        if (status == Status::normal) *args = value;
        return status;
    }
    Status end(Status status) { return end(status, *last); }
};

Status while_(const int32_t*) {
    Loop loop;
    Status s = Status::normal;
    for (;;) {
        stack::top = stack::arguments;
        s = interp::eval_block(loop.args);
        if (s == Status::break_ || s == Status::continue_)
            error::fire(error::kThrow, error::throw_::while_cond);
        if (s != Status::normal || !strict_true(stack::top - 1)) break;
        if (!loop.body(loop.args + 1, s)) break;
    }
    return loop.end(s, kUnsetCell);
}

Status until(const int32_t*) {
    Loop loop;
    Status s = Status::normal;
    for (;;) {
        stack::top = stack::arguments;
        s = interp::eval_block(loop.args);
        if (s == Status::normal) {
            *loop.last = stack::top[-1];
            if (strict_true(loop.last)) break;
        } else if (s == Status::continue_) {
            s = Status::normal;
        } else {
            if (s == Status::break_) {
                s = Status::normal;
                *loop.last = interp::exit_value;
                interp::exit_value = kUnsetCell;
            }
            break;
        }
    }
    return loop.end(s);
}

// A count argument: a float is truncated toward zero and the cell becomes an integer!. A
// float below 1 (NaN too) runs no iteration however far below it lies; one above the
// integers raises script/out-of-range.
int32_t loop_count(Cell* count) {
    if (cell::type(count) == kTypeFloat && !(float_::get(count) >= 1.0)) {
        integer::make_at(count, 0);
        return 0;
    }
    const int32_t n = check::int_arg(count);
    integer::make_at(count, n);
    return n;
}

Status loop(const int32_t*) {
    const int32_t n = loop_count(arg(0));
    if (n < 1) {
        stack::set_last(kNoneCell);
        return Status::normal;
    }
    Loop loop;
    Status s = Status::normal;
    for (int32_t k = 0; k < n && loop.body(loop.args + 1, s); ++k) {
    }
    return loop.end(s);
}

Status repeat(const int32_t*) {
    const int32_t n = loop_count(arg(1));
    if (n < 1) {
        stack::set_last(kNoneCell);
        return Status::normal;
    }
    Loop loop;
    Status s = Status::normal;
    for (int32_t k = 1; k <= n; ++k) {
        Cell counter{kTypeInteger, 0, static_cast<uint32_t>(k), 0};
        context::set_word(loop.args, &counter);
        if (!loop.body(loop.args + 2, s)) break;
    }
    return loop.end(s);
}

Status forever(const int32_t*) {
    Loop loop;
    Status s = Status::normal;
    while (loop.body(loop.args, s)) {
    }
    return loop.end(s);
}

// The word of argument `n` (from 0) in the spec of the native whose frame begins at `args`
// (the native value lies just below it), for the errors that name an argument; none when
// the spec has no such argument.
Cell argument_word(const Cell* args, uint32_t n) {
    const Cell* fn = args - 1;
    if (cell::type(fn) != kTypeNative) return kNoneCell;
    const signature::View spec = signature::view(fn);
    return n < spec.required() ? spec.entry(n).word : kNoneCell;
}

// --- Series loops ---------------------------------------------------------------------------
//
// foreach and remove-each set their words from the values of a series, n at a time: a block's
// values are its cells, other series give theirs through their pick action. The iteration
// state (a copy of the series cell and the words as word! cells) lies on the data stack below
// the loop frame, where the collector keeps it current.

// Pushes the words a loop sets: the word itself, or each word of a block (any word type,
// retyped to word!). An empty block, or an element that is not a word, raises
// script/invalid-arg. Answers the count.
uint32_t push_loop_words(const Cell* spec) {
    if (cell::type(spec) == kTypeWord) {
        stack::push(*spec);
        return 1;
    }
    memory::Buffer* b = memory::buffer(spec->w2);
    uint32_t n = 0;
    for (uint32_t k = spec->w1; k < b->length(); ++k) {
        const Cell* w = b->cells() + k;
        if (!traits::is_any_word(cell::type(w)))
            error::fire(error::kScript, error::script::invalid_arg, {w});
        cell::set_type(stack::push(*w), kTypeWord);
        ++n;
    }
    if (n == 0) error::fire(error::kScript, error::script::invalid_arg, {spec});
    return n;
}

// Sets the n words from the values at the series' index and moves the index past them
// (words beyond the tail take none); false, setting nothing, when the index is at the tail.
// May collect and run user code (the words' owners hear of the change).
bool series_step(Cell* series, Cell* words, uint32_t n) {
    const uint32_t index = series::clamped_index(series);
    if (index >= series::total_units(series)) return false;
    const uint8_t t = cell::type(series);
    for (uint32_t k = 0; k < n; ++k) {
        if (series::is_any_block(t)) {
            memory::Buffer* b = memory::buffer(series::node(series));
            const Cell* v = index + k < b->length() ? b->cells() + index + k : &kNoneCell;
            context::set_word(words + k, v); // the value is copied before anything collects
            continue;
        }
        Cell* v = stack::push(*series);
        v->w1 = index + k;
        const Cell* picked = actions::call<action::slot::pick>(v, 1, static_cast<Cell*>(nullptr));
        if (picked != v) *v = *picked;
        context::set_word(words + k, v);
        stack::pop(1);
    }
    series->w1 = index + n;
    return true;
}

Status foreach (const int32_t*) {
    Cell* spec = arg(0);
    Cell* data = arg(1);
    const bool map = cell::type(data) == kTypeMap;
    uint32_t n = 0;
    Cell* words = stack::top;
    if (!map) {
        n = push_loop_words(spec);
    } else if (cell::type(spec) != kTypeBlock ||
               memory::buffer(spec->w2)->length() != spec->w1 + 2) {
        // A map gives a key and a value at each step.
        error::fire(error::kScript, error::script::invalid_arg, {spec});
    }
    Loop loop;
    Status s = Status::normal;
    uint32_t position = 0;
    for (;;) {
        const bool more =
            map ? map::foreach_next(spec, data, position) : series_step(data, words, n);
        if (!more || !loop.body(loop.args + 2, s)) break;
    }
    return loop.end(s);
}

// forall: the body runs at each position of the series a word refers to. A body that points
// the word at another series ends the loop with script/bad-loop-series; a normal end puts
// the word back at its starting position, a break leaves it where it was.
Status forall(const int32_t*) {
    Cell* word = arg(0);
    Cell* start = stack::push(*interp::value_of(word));
    if (!series::is_series(cell::type(start))) {
        const Cell argument = argument_word(stack::arguments, 0);
        interp::expect_arg(start, &argument);
    }
    Loop loop;
    Status s = Status::normal;
    for (;;) {
        if (series::index_past_tail(interp::value_of(word))) break;
        if (!loop.body(loop.args + 1, s)) return loop.end(s);
        Cell* now = stack::push(*interp::value_of(word));
        if (cell::type(now) != cell::type(start) || now->w2 != start->w2)
            error::fire(error::kScript, error::script::bad_loop_series, {now});
        now->w1 = series::clamped_index(now) + 1;
        context::set_word(word, now);
    }
    context::set_word(word, start);
    return loop.end(s);
}

// remove-each: after a body that gives a true value, the values the step just set the words
// from are removed (from the index the step started at, so that a short last record loses
// only what it had). The result is the series at its starting position.
Status remove_each(const int32_t*) {
    Cell* data = stack::push(*arg(1));
    Cell* words = stack::top;
    const uint32_t n = push_loop_words(arg(0));
    Cell* part = stack::push(Cell{kTypeInteger, 0, n, 0});
    Loop loop;
    Status s = Status::normal;
    for (;;) {
        const uint32_t index = series::clamped_index(data);
        if (!series_step(data, words, n)) break;
        stack::top = stack::arguments;
        s = interp::eval_block(loop.args + 2);
        if (s == Status::continue_) {
            s = Status::normal;
            continue;
        }
        if (s != Status::normal) {
            if (s == Status::break_) {
                s = Status::normal;
                interp::exit_value = kUnsetCell;
            }
            break;
        }
        if (!logic::value_true(stack::top - 1)) continue;
        if (!datatype::function<action::slot::remove>(cell::type(data))) {
            // A series that cannot lose values: the error names the data argument.
            const Cell argument = argument_word(loop.args, 1);
            interp::expect_arg(data, &argument);
        }
        data->w1 = index;
        *part = Cell{kTypeInteger, 0, n, 0};
        actions::call<action::slot::remove>(data, part, static_cast<Cell*>(nullptr));
        data->w1 = index;
    }
    return loop.end(s, loop.args[1]);
}

// --- Exits ----------------------------------------------------------------------------------

Status break_(const int32_t* refs) {
    if (!stack::find_target(stack::kLoop, 1)) error::fire(error::kThrow, error::throw_::break_);
    const Cell* value = ref_arg(refs, 0);
    interp::exit_value = value ? *value : kUnsetCell;
    return Status::break_;
}

Status continue_(const int32_t*) {
    if (!stack::find_target(stack::kLoop, 1)) error::fire(error::kThrow, error::throw_::continue_);
    interp::exit_value = kUnsetCell;
    return Status::continue_;
}

Status exit_(const int32_t*) {
    if (!stack::find_target(0, 1)) error::fire(error::kThrow, error::throw_::return_);
    interp::exit_value = kUnsetCell;
    return Status::exit;
}

Status return_(const int32_t*) {
    if (!stack::find_target(0, 1)) error::fire(error::kThrow, error::throw_::return_);
    interp::exit_value = *arg(0);
    return Status::return_;
}

Status throw_(const int32_t* refs) {
    interp::trace(interp::Event::throw_, nullptr, -1, arg(0));
    const Cell* name = ref_arg(refs, 0);
    interp::thrown_value = *arg(0);
    interp::thrown_name = name ? *name : kNoneCell;
    stack::save_call_frame();
    if (!stack::find_target(stack::kCatch, 1))
        error::fire(error::kThrow, error::throw_::throw_, {arg(0)});
    runtime::throw_code(runtime::kThrowThrow);
    return Status::normal;
}

// Whether a catch/name takes a throw with the name `thrown`.
bool name_matches(const Cell* names, const Cell& thrown) {
    if (cell::type(&thrown) != kTypeWord) return false;
    const uint32_t s = symbol::resolve(thrown.w2);
    if (cell::type(names) == kTypeWord) return symbol::resolve(names->w2) == s;
    for (uint32_t k = names->w1; k < memory::buffer(names->w2)->length(); ++k) {
        const Cell* n = memory::buffer(names->w2)->cells() + k;
        if (cell::type(n) == kTypeWord && symbol::resolve(n->w2) == s) return true;
    }
    return false;
}

// The catch constructs: run the block under a frame of the kind; a thrown code that `take`
// accepts ends the construct, with `on_caught` making its result.
template <class Take, class Caught> Status guarded(uint32_t kind, Take take, Caught on_caught) {
    Cell* a = stack::arguments;
    Status s = Status::normal;
    const uint32_t caught = interp::protected_call(take, [&] {
        stack::mark(words::word.body, kind);
        s = interp::eval_block(a);
        if (s == Status::normal) *a = stack::top[-1];
        stack::unwind();
    });
    if (!caught) return s;
    stack::top = a + 1;
    on_caught(a);
    return Status::normal;
}

Status catch_(const int32_t* refs) {
    const Cell* names = ref_arg(refs, 0);
    if (names && cell::type(names) == kTypeBlock) {
        for (uint32_t k = names->w1; k < memory::buffer(names->w2)->length(); ++k)
            if (cell::type(memory::buffer(names->w2)->cells() + k) != kTypeWord)
                error::fire(error::kScript, error::script::invalid_refine_arg,
                            {words::word.name, names});
    }
    stack::Frame* level = stack::frame_top;
    const Status s = guarded(
        stack::kCatch,
        [names, level](uint32_t code) {
            if (code != runtime::kThrowThrow) return false;
            if (!names || name_matches(names, interp::thrown_name)) return true;
            // Passed on: an outer catch must take it.
            if (!stack::find_target(stack::kCatch, static_cast<uint32_t>(stack::frame_top - level)))
                error::fire(error::kThrow, error::throw_::throw_, {&interp::thrown_value});
            return false;
        },
        [](Cell* a) { *a = interp::thrown_value; });
    if (s == Status::normal) interp::trace(interp::Event::catch_, nullptr, -1, stack::arguments);
    return s;
}

Status try_(const int32_t* refs) {
    struct {
        bool all, keep;
    } options{ref_on(refs, 0), ref_on(refs, 1)};
    return guarded(
        options.all ? stack::kTryAll : stack::kTry,
        [](uint32_t code) { return code == runtime::kThrowError; },
        [keep = options.keep](Cell* a) { interp::caught_error(a, keep); });
}

const Registration kFamily[] = {
    {kIf, "if", if_},
    {kUnless, "unless", unless},
    {kEither, "either", either},
    {kAny, "any", any},
    {kAll, "all", all},
    {kWhile, "while", while_},
    {kUntil, "until", until},
    {kLoop, "loop", loop},
    {kRepeat, "repeat", repeat},
    {kForever, "forever", forever},
    {kForeach, "foreach", foreach},
    {kForall, "forall", forall},
    {kRemoveEach, "remove-each", remove_each},
    {kSwitch, "switch", switch_},
    {kCase, "case", case_},
    {kBreak, "break", break_},
    {kContinue, "continue", continue_},
    {kExit, "exit", exit_},
    {kReturn, "return", return_},
    {kThrow, "throw", throw_},
    {kCatch, "catch", catch_},
    {kTry, "try", try_},
};

} // namespace

std::span<const Registration> control_family() {
    return kFamily;
}

} // namespace natives
