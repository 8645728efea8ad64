// The evaluator as the layers above it see it: the library, the console, the GUI layer, the
// debugger and start-up include this header and none of the evaluator's others. It offers
// evaluating a block, calling a function value, the protected call (run something, take the
// error or throw that ends it, put the frames and the data stack back), the tracer, the
// signatures of function values, the routine table that the library fills, and the console
// output of values.
//
// Routines read their arguments from the current frame on the data stack as natives do
// (runtime-core/data-stack.h): argument i in stack::arguments[i], which is also the result
// slot for i = 0; a refinement reaches the entry as the frame position of its first argument
// cell, -1 when absent (ref_arg, ref_on below). An entry answers the status that break,
// continue, return and exit travel as; errors, throw and quit travel as a C++ exception
// carrying the thrown code (runtime-core/throw.h).
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>

#include "datatypes/signature.h"
#include "runtime-core/cell.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/throw.h"

namespace interp {

enum class Status : uint8_t { normal = 0, break_, continue_, return_, exit };

// The error! value of the last language error raised.
extern Cell error_value;
// What the throw native throws: its value and its name (none without /name).
extern Cell thrown_value;
extern Cell thrown_name;

// --- Evaluating -----------------------------------------------------------------------------

// Evaluates a block from its index under a block-evaluation frame and pushes the value of
// its last expression (unset for an empty block). `block` may lie anywhere: it is copied.
// May collect and run user code.
Status eval_block(const Cell* block);

// Calls a function value with `count` argument values given as they are (not evaluated),
// the rest of its spec's arguments and its refinements absent, and answers its result. A
// break, continue, return or exit that escapes the body becomes an error. Runs user code:
// may collect; `values` must lie where the collector follows them (the data stack).
Cell call_values(const Cell* function, const Cell* values, uint32_t count);

// Converts a status that escapes a place where no loop or function can take it (a callback
// run by native code, a top-level evaluation) into the matching error of the throw category.
void status_to_error(Status status);

// Makes the internal/no-memory error that a raise takes when memory runs out while its own
// error is being made (making one needs memory). Start-up calls it once the catalogue is
// loaded; the first raise does when nothing has.
void keep_spare_error();

// Makes the last raised error the result of a try (`out`); with `keep` its stack trace is
// filled in from the frames it recorded.
void caught_error(Cell* out, bool keep);

// --- The protected call ---------------------------------------------------------------------

// A position of the frame stack and the data stack (top and arguments base), taken when made;
// restore() unrolls the frames above it (function contexts get their storage back) and puts
// the data stack back.
class Level {
public:
    Level();
    void restore() const;

private:
    uint32_t frames_;
    Cell* top_;
    Cell* arguments_;
};

// Runs `body`. When a thrown code ends it that `take(code)` accepts, the frames and the data
// stack are put back where they were, the thrown code is reset and the code is answered (an
// error's value is then error_value, a throw's thrown_value); other codes travel on untouched.
// Answers 0 when the body ends normally. May collect and run user code.
template <class Take, class Body> uint32_t protected_call(Take&& take, Body&& body) {
    const Level level;
    try {
        std::forward<Body>(body)();
    } catch (const runtime::Thrown& t) {
        if (!take(t.code)) throw;
        level.restore();
        runtime::reset_thrown_code();
        return t.code;
    }
    return 0;
}

// The protected call that takes language errors only: false when an error ended the body
// (its error! value is error_value), true otherwise.
template <class Body> bool try_call(Body&& body) {
    return protected_call([](uint32_t code) { return code == runtime::kThrowError; },
                          std::forward<Body>(body)) == 0;
}

// --- The tracer -----------------------------------------------------------------------------
//
// A tracer is a function! of (event code offset value ref frame) that do/trace and the
// debugger install; the interpreter calls it at each event that its mask holds: the event
// word; the code block (none without one); the offset of the position in it (-1 without);
// the value; the ref (the name word or set-word for prolog, epilog, return, call and set);
// a pair! of the arguments base's and the top's data-stack indices. Tracing is off while the
// tracer itself runs. With no tracer installed each event site costs one test of `tracing`.

enum class Event : uint32_t {
    init,    // a traced evaluation starts (do/trace)
    end,     // it ends
    prolog,  // a function body starts: body, -1, the function, the name
    epilog,  // it ends: the same
    enter,   // a block or path evaluation starts: block, head
    exit,    // it ends: block, tail, result
    open,    // a call, before its arguments: code, position, the name
    return_, // after a call: code, position, result, the name
    fetch,   // a value read at an expression start or as a path element
    push,    // a value pushed as a result
    set,     // before a set-word or set-path assignment: the value and the set-word
    call,    // before a function's entry or body runs: the function and the name
    error,   // an error raised: the error
    throw_,  // the throw native: the thrown value
    catch_,  // the catch native: its result
    expr,    // after each expression of a block: its result
};
constexpr uint32_t kEventCount = 16;
constexpr uint32_t kAllEvents = 0x1FFFF;
constexpr uint32_t event_bit(Event e) {
    return 1u << static_cast<uint32_t>(e);
}

// True while a tracer is installed and not running itself.
extern bool tracing;
// Switches tracing on (only where a tracer is installed and not running) or off, for the
// rest of the traced evaluation.
void set_tracing(bool on);

// Installs a tracer function (with its mask: when its body begins with a block of event
// words, their bits; otherwise every event); the one installed before comes back with
// remove_tracer. Tracers nest as deep as do/trace calls do.
void install_tracer(const Cell* function);
void remove_tracer();

// Calls the tracer for an event in its mask (the cells are copied first; any may be null).
// A break, continue, return or exit that leaves the tracer goes on, as a thrown code, to the
// block evaluation around the event, which passes it on as a status. May collect and run
// user code.
void fire_event(Event event, const Cell* code, int32_t offset, const Cell* value, const Cell* ref);
inline void trace(Event event, const Cell* code, int32_t offset, const Cell* value,
                  const Cell* ref = nullptr) {
    if (tracing) [[unlikely]]
        fire_event(event, code, offset, value, ref);
}

// --- Signatures -------------------------------------------------------------------------------

// What the spec of a function value (native!, action!, function!, routine!, or an op! made from
// one) says, as its calls read it (datatypes/signature.h): each argument with its word, kind,
// types and type block, each refinement with its arguments, the locals, return: and the places
// of the doc strings, for help and a debugger. The argument types are resolved first if no
// call has resolved them yet, as the first call does. The view is valid until the next
// allocation.
signature::View signature_of(const Cell* function);

} // namespace interp

namespace natives {

// The machine entry of a native! or routine!: it receives one integer per refinement of its
// spec, in spec order (-1 when absent, otherwise the frame position of the refinement's first
// argument cell; an absent refinement's argument cells hold none).
using Entry = interp::Status (*)(const int32_t* refinements);

// Refinement `i` of an entry's refinement list as the address of its first argument cell,
// null when absent.
inline Cell* ref_arg(const int32_t* refinements, int i) {
    return refinements[i] >= 0 ? stack::arguments + refinements[i] : nullptr;
}
// The refinement as a flag.
inline bool ref_on(const int32_t* refinements, int i) {
    return refinements[i] >= 0;
}

// Output of the console and the script runner (natives-system.cpp): UTF-8 text; a value
// formed; a value molded after "== " and cut to a width. May collect.
void write_text(const uint8_t* text, size_t size, bool newline);
void write_formed(const Cell* value, bool newline);
std::u16string formed(const Cell* value);
void write_result(const Cell* value, int32_t width);

// The value-level print hook of a console on standard output: writes the text and, with
// `newline`, a line end.
void print_to_output(const Cell* string, int32_t newline);
// The GUI backend's message pump, which wait runs once after sleeping (none until set).
void set_event_pump(void (*pump)());

} // namespace natives

// The routine table: machine functions of the runtime that the language sees as routine!
// values. A routine! value keeps its index in the table; its arguments come in the frame as a
// native's do.
namespace routines {

// A row of the table: the routine's global word (null for one that an object's field holds
// instead), its spec block as source text, its entry.
struct Routine {
    const char* name;
    const char* spec;
    natives::Entry entry;
};

// The table: families of rows, indexed in this order (start-up gives the library's before
// anything makes a routine!).
void set_families(std::span<const std::span<const Routine>> families);

// The entry at an index (internal/not-done for one that holds none).
natives::Entry entry(uint32_t index);

// The index of the first row with the entry (the row count when none has it).
uint32_t index_of(natives::Entry entry);

// Builds the routine! values of the rows that have a name and sets their global words. May
// collect.
void init();

} // namespace routines

// What routines read of the frame stack.
namespace stack {

// The name of the innermost named call: frames named `<body>` and `<anon>` are skipped; the
// word `<not-found>` when there is none. The word is written into `out`.
void get_call(Cell* out);

// Appends to a block, from the top frame down, each named frame's word and the data-stack
// index of its arguments base. May collect.
void collect_calls(const Cell* block);

} // namespace stack
