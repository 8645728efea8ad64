// The tracer: the functions that do/trace and the debugger install, the events the
// interpreter fires at them (each with its mask), and the tracing of calls made on behalf of a
// callback.
#include "evaluator/tracer.h"

#include <vector>

#include "datatypes/context.h"
#include "datatypes/none.h"
#include "datatypes/pair.h"
#include "datatypes/symbol.h"
#include "datatypes/system-fields.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "evaluator/frames.h"
#include "evaluator/interpreter.h"
#include "runtime-core/collector.h"
#include "runtime-core/memory.h"
#include "runtime-core/throw.h"
#include "runtime-core/type-traits.h"

namespace interp {

bool tracing = false;
uint32_t tracers_installed = 0;

namespace {

// The installed tracers, innermost last, each with its event mask; `tracer_running` while one
// of them runs (tracing is off then, and no function's `trace` attribute turns it back on).
struct Tracer {
    Cell function;
    uint32_t mask;
};
std::vector<Tracer> tracers;
bool tracer_running = false;

uint32_t event_symbols[kEventCount];
constexpr const char* kEventNames[kEventCount] = {
    "init",  "end",  "prolog", "epilog", "enter", "exit",  "open",  "return",
    "fetch", "push", "set",    "call",   "error", "throw", "catch", "expr"};

// The words of system/state/callbacks/bits.
uint32_t callbacks_symbol = 0, bits_symbol = 0, state_symbol = 0;

using memory::cells_of;
using memory::length_of;

void mark_tracers() {
    for (Tracer& t : tracers) collector::mark_block(&t.function, &t.function + 1);
}

} // namespace

uint32_t event_mask(const Cell* function) {
    if (cell::type(function) != kTypeFunction) return kAllEvents;
    const Cell body = any_function::body(function);
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
    tracers_installed = static_cast<uint32_t>(tracers.size());
    tracing = true;
}

void remove_tracer() {
    if (!tracers.empty()) tracers.pop_back();
    tracers_installed = static_cast<uint32_t>(tracers.size());
    tracing = !tracers.empty();
}

bool tracer_available() {
    return !tracers.empty() && !tracer_running;
}

uint32_t tracing_switches = 0;

void set_tracing(bool on) {
    tracing = on && tracer_available();
    ++tracing_switches;
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
            stack::mark_func(words::word.interp_callback, fn->w1);
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

void init_tracer() {
    for (uint32_t e = 0; e < kEventCount; ++e) event_symbols[e] = symbol::make(kEventNames[e]);
    callbacks_symbol = symbol::make("callbacks");
    bits_symbol = symbol::make("bits");
    state_symbol = symbol::make("state");
    tracers.clear();
    tracers_installed = 0;
    tracing = false;
    collector::add_marker(mark_tracers);
}

} // namespace interp
