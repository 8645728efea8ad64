// Until the console engine exists: `zan FILE [ARGS]` runs a script as the engine's launch
// does (header search, load, evaluation, an error printed formed), and `zan` alone on a
// terminal runs a plain prompt loop.
#include "console/launch.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "console/terminal.h"
#include "datatypes/context.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "evaluator/evaluator.h"
#include "loading/lexer.h"
#include "runtime-core/dyn-print.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/runtime.h"
#include "runtime-core/support.h"
#include "runtime-core/throw.h"

namespace gui_console_ctx {

namespace {

void print_text(const char* text) {
    natives::write_text(reinterpret_cast<const uint8_t*>(text), std::strlen(text), true);
}

// Runs `body` as try does: an error is printed formed and answers false. The frames and the
// data stack come back to where they were.
template <class Body> bool try_do(Body body) {
    if (interp::try_call([&] { interp::status_to_error(body()); })) return true;
    Cell* const top = stack::top;
    Cell* error = stack::push(interp::error_value);
    natives::write_formed(error, true);
    stack::top = top;
    return false;
}

// Position of the header in the source text: "Zan", optionally "/System", blanks, "[".
size_t find_header(const std::string& text) {
    for (size_t at = text.find("Zan"); at != std::string::npos; at = text.find("Zan", at + 1)) {
        size_t k = at + 3;
        if (text.compare(k, 7, "/System") == 0) k += 7;
        while (k < text.size() &&
               (text[k] == ' ' || text[k] == '\t' || text[k] == '\r' || text[k] == '\n'))
            ++k;
        if (k < text.size() && text[k] == '[') return at;
    }
    return std::string::npos;
}

// Runs the library's preprocessor, `expand-directives`, over the block (a data stack cell),
// which it changes in place. May collect and run user code.
interp::Status expand_directives(const Cell* code) {
    const Cell* fn = context::value_cell(symbol::make("expand-directives"), context::global);
    if (!fn || cell::type(fn) != kTypeFunction) return interp::Status::normal;
    Cell* values = stack::push(*code);
    const Cell* runner = stack::push(*fn);
    interp::call_values(runner, values, 1);
    stack::top = values;
    return interp::Status::normal;
}

int run_script(const char* name) {
    std::ifstream in(std::filesystem::path(reinterpret_cast<const char8_t*>(name)),
                     std::ios::binary);
    if (!in) {
        bool ok = try_do([&] {
            Cell* file = string::load_push(reinterpret_cast<const uint8_t*>(name),
                                           static_cast<uint32_t>(std::strlen(name)), 0);
            error::fire(error::kAccess, error::access::cannot_open, {file});
            return interp::Status::normal;
        });
        return ok ? 0 : 1;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t at = find_header(text);
    if (at == std::string::npos) {
        print_text("*** Error: Zan header not found!");
        return 1;
    }
    Cell* code = stack::push_cell();
    *code = Cell{kTypeNone, 0, 0, 0};
    if (!try_do([&] {
            lexer::load_at(code, reinterpret_cast<const uint8_t*>(text.data() + at),
                           static_cast<uint32_t>(text.size() - at));
            return interp::Status::normal;
        }))
        return 1;
    // The directives are expanded over the whole block, from the header word on, in place.
    if (!try_do([&] { return expand_directives(code); })) return 1;
    const int32_t start = lexer::header_end(code);
    if (start < 0) {
        print_text(text.find("Zan/System") != std::string::npos
                       ? "*** Error: contains Zan/System code which requires compilation!"
                       : "*** Error: not a Zan program!");
        return 1;
    }
    code->w1 = static_cast<uint32_t>(start);
    return try_do([&] { return interp::eval_block(code); }) ? 0 : 1;
}

// The prompt loop: ">> ", the result molded after "== " and cut to the terminal's width.
int prompt_loop() {
    std::string line;
    for (;;) {
        natives::write_text(reinterpret_cast<const uint8_t*>(">> "), 3, false);
        if (!terminal::read_line(line)) return 0;
        Cell* base = stack::top;
        try_do([&] {
            Cell* code = lexer::load_push(reinterpret_cast<const uint8_t*>(line.data()),
                                          static_cast<uint32_t>(line.size()));
            interp::Status s = interp::eval_block(code);
            if (s == interp::Status::normal && cell::type(stack::top - 1) != kTypeUnset)
                natives::write_result(stack::top - 1, terminal::width());
            return s;
        });
        stack::top = base;
    }
}

} // namespace

int launch() {
    dyn_print::add(natives::print_to_output, nullptr);
    if (runtime::record.argc > 1 && runtime::record.argv[1])
        return run_script(runtime::record.argv[1]);
    if (terminal::interactive()) return prompt_loop();
    return 0;
}

} // namespace gui_console_ctx
