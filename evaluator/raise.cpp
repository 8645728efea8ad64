// Error raising: the raiser that the runtime's fire hook calls, which makes every language
// error an error! value that names the call it happened in and the code near it, and what the
// error module reads of the frames (the current spec, the calls of a stack line, the depth).
#include "evaluator/raise.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "evaluator/frames.h"
#include "evaluator/interpreter.h"
#include "runtime-core/collector.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/runtime.h"
#include "runtime-core/support.h"
#include "runtime-core/type-traits.h"

namespace interp {

Cell error_value{kTypeNone, 0, 0, 0};

namespace {

using stack::Frame;

// An internal/no-memory error made at the first raise, while memory is still there: making an
// error needs memory, so a raise while one is being made (memory ran out) takes this one
// instead of making another, which would fail and raise again until the machine stack ran out.
Cell spare_error{kTypeNone, 0, 0, 0};
bool making_error = false;

void mark_errors() {
    collector::mark_block(&error_value, &error_value + 1);
    collector::mark_block(&spare_error, &spare_error + 1);
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
    return is_callable(cell::type(fn)) ? any_function::spec_node(fn) : 0;
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
            const Cell* v = peek(&w);
            if (!v || cell::type(v) != kTypeFunction) continue;
        }
        block::append_copy(block, &w);
    }
}

uint32_t frame_depth() {
    return stack::depth();
}

const error::Calls kCalls{current_spec, trace_calls, stack::get_call, frame_depth};

} // namespace

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

void init_raise() {
    error_value = Cell{kTypeNone, 0, 0, 0};
    spare_error = Cell{kTypeNone, 0, 0, 0};
    collector::add_marker(mark_errors);
    error::set_fire_hook(on_fire);
    error::set_calls(&kCalls);
}

} // namespace interp
