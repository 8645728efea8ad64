// Calls made from C++: functions run on behalf of native code (sort's comparator, an object's
// change handlers and spec, a port's actor, the lexer's trace function, parse's callbacks,
// apply), and the way a break, continue, return or exit crosses that C++ code.
#include "evaluator/callbacks.h"

#include <iterator>

#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/port.h"
#include "datatypes/signature.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "evaluator/frames.h"
#include "evaluator/interpreter.h"
#include "loading/lexer.h"
#include "runtime-core/collector.h"
#include "runtime-core/memory.h"
#include "runtime-core/throw.h"
#include "runtime-core/type-traits.h"

namespace interp {

namespace {

// The thrown code that carries each status across C++ code, by the status's value.
constexpr uint32_t kStatusCodes[] = {0, runtime::kThrowBreak, runtime::kThrowContinue,
                                     runtime::kThrowReturn, runtime::kThrowExit};

} // namespace

void pass_on(Status status) {
    runtime::throw_code(kStatusCodes[static_cast<uint8_t>(status)]);
}

Status status_of(uint32_t code) {
    for (uint8_t s = 1; s < std::size(kStatusCodes); ++s)
        if (kStatusCodes[s] == code) return static_cast<Status>(s);
    return Status::normal;
}

namespace {

using memory::cells_of;

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
    const uint32_t result = stack::index_of(stack::arguments);
    Cell* const args_end = stack::top;
    // A function frame's base is its first argument, where its body leaves its value.
    stack::top = stack::arguments + 1;
    stack::mark_func(name, fn.w1);
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
    stack::mark_func(words::word.anon, fn.w1);
    stack::push(*event);
    stack::push(*input);
    stack::push(*type);
    stack::push(*line);
    stack::push(*token);
    signature::push_optional(&fn);
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
    return any_function::body(function);
}

const lexer::TraceServices kTraceServices{call_trace, trace_body};

// A method of a derived object is rebuilt by the object module itself.
const object::Evaluator kObjectHooks{do_object_spec, call_object_handler, nullptr};

// sort's comparator: the frame is on the data stack, as for a change handler.
void call_comparator(const Cell* function) {
    call_object_handler(function, words::word.compare_callback, 0, kSortCallback);
}

} // namespace

Status call_pushed(const Cell* function, const Cell* name, Cell* arguments, uint32_t count) {
    GcRoot fn(*function), called(name ? *name : *words::word.anon);
    stack::top = arguments;
    stack::mark_func(&called.cell(), fn.cell().w1);
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

void init_callbacks() {
    object::set_evaluator(&kObjectHooks);
    block::set_function_caller(call_comparator);
    port::services.call = call_actor_function;
    lexer::set_trace_services(&kTraceServices);
}

} // namespace interp
