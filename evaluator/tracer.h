// The tracer, as the evaluator's files share it (installing a tracer and firing an event are in
// evaluator.h): the event mask of a tracer function, whether one is installed, and the tracing
// of calls made on behalf of a callback.
#pragma once
#include <cstdint>

#include "evaluator/evaluator.h"
#include "runtime-core/cell.h"

namespace interp {

// The events a tracer function asks for: when its body begins with a block of event words,
// their bits; otherwise every event.
uint32_t event_mask(const Cell* function);

// How many tracers are installed (tracing may be off meanwhile: while one runs, or in a
// no-trace body).
extern uint32_t tracers_installed;

// Whether a tracer is installed and not running itself: what a body's `trace` attribute sets
// tracing to.
bool tracer_available();

// How many times set_tracing has run: a body that saw it change keeps the tracing it set
// instead of putting its own back.
extern uint32_t tracing_switches;

// Calls made on behalf of a callback carry its kind: the bit that system/state/callbacks keeps
// for it (lexer 1, parse 2, sort 4, change 8, deep 16, port 32). While one lives, a call of
// that kind is traced only when its bit is set in the object's `bits`.
enum CallbackKind : uint32_t {
    kLexerCallback = 1,
    kParseCallback = 2,
    kSortCallback = 4,
    kChangeCallback = 8,
    kDeepCallback = 16,
    kPortCallback = 32,
};
class CallbackTracing {
public:
    explicit CallbackTracing(uint32_t kind) : saved_(tracing) {
        if (tracing) [[unlikely]]
            tracing = callback_traced(kind);
    }
    ~CallbackTracing() { tracing = saved_; }
    CallbackTracing(const CallbackTracing&) = delete;
    CallbackTracing& operator=(const CallbackTracing&) = delete;

private:
    static bool callback_traced(uint32_t kind);
    bool saved_;
};

// The event words, no tracer installed, the collector marker of the installed ones.
void init_tracer();

} // namespace interp
