#include "library/url-port.h"

#include "datatypes/context.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/port.h"
#include "datatypes/symbol.h"
#include "datatypes/url.h"
#include "evaluator/evaluator.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/support.h"

namespace url_port {

namespace {

// The parse-url function of the global url-parser object; internal/not-done when the
// library has not made it (or a script replaced it by something else).
Cell parse_url_function() {
    // Interning may allocate: both symbols come before any cell address is taken.
    const uint32_t parser_symbol = symbol::make("url-parser");
    const uint32_t function_symbol = symbol::make("parse-url");
    const Cell* parser = context::value_cell(parser_symbol, context::global);
    if (parser && cell::type(parser) == kTypeObject) {
        const int32_t at = object::find_symbol_index(parser, function_symbol);
        if (at >= 0) {
            const Cell function = object::values(parser)[at];
            if (cell::type(&function) == kTypeFunction) return function;
        }
    }
    error::fire(error::kInternal, error::internal::not_done);
}

// The url's parts as parse-url gives them, a port made from them and, with `open`, opened
// with the open refinements. A url the parser refuses raises script/invalid-type. Answers
// the port, pushed on the data stack. Runs user code: may collect.
Cell* make_port(const Cell* url, const action::OpenOptions& options, bool open) {
    GcRoot given(*url);
    GcRoot allowed(options.allow ? *options.allow : none::value);
    const bool with_allow = options.allow != nullptr;
    GcRoot function(parse_url_function());
    Cell* argument = stack::push(given.cell());
    GcRoot parts(interp::call_values(&function.cell(), argument, 1));
    stack::pop(1);
    if (cell::type(&parts.cell()) != kTypeObject)
        error::fire(error::kScript, error::script::invalid_type, {&given.cell()});
    Cell* made = stack::push(none::value);
    port::make(made, &parts.cell(), kTypePort);
    if (open) {
        // The open forwarder leaves the actor's answer in the cell it is given.
        Cell* opened = stack::push(*made);
        action::OpenOptions reopen = options;
        reopen.allow = with_allow ? &allowed.cell() : nullptr;
        port::open(opened, reopen);
        stack::pop(1);
    }
    return made;
}

} // namespace

void install() {
    url::set_make_port(make_port);
}

} // namespace url_port
