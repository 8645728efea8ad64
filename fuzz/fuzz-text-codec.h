// What the JSON and CSV fuzz targets (and the unit test that replays their corpora) share: the
// whole runtime started (boot image included), the checking functions written in Zan, and
// the call of one on an input as text. A check answers true when all went as it should,
// false on a finding; of the language errors only the ones that bad input may cause are
// allowed (a bad escape, the parse engine's depth limit, the interpreter's stack).
#pragma once
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/boot.h"
#include "app/init.h"
#include "datatypes/context.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/evaluator.h"
#include "loading/lexer.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/support.h"
#include "runtime-core/unicode.h"

namespace fuzz_text_codec {

// fuzz-json: load-json, then what loads is written by to-json and that text loads again and
// is written the same (to-json's output is valid JSON and a fixed point of the round trip);
// /pretty and /ascii output load back too.
constexpr std::string_view kJsonChecker = R"~(
fuzz-json: func [input [string!] mode [integer!] /local value text again] [
    value: load-json input
    if error? :value [return value/type = 'user]
    text: to-json :value
    again: load-json text
    if error? :again [return false]
    unless text == to-json :again [return false]
    if error? load-json to-json/pretty :value "  " [return false]
    not error? load-json to-json/ascii :value
]
)~";

// fuzz-csv: load-csv with the settings and refinements that `mode` picks (bits 0-1 the
// delimiter, 2 strict? off, 3 ignore-empty? on, 4-6 the refinements, 7 the apostrophe as the
// quote character); plain rows are written by to-csv and read back as the same rows.
constexpr std::string_view kCsvChecker = R"~(
fuzz-csv: func [input [string!] mode [integer!] /local delim q rows again] [
    delim: pick ["," ";" "^-" "||"] 1 + (mode and 3)
    q: either zero? mode and 128 [#"^""] [#"'"]
    csv/strict?: zero? mode and 4
    csv/ignore-empty?: not zero? mode and 8
    rows: try [
        switch (shift mode 4) and 7 [
            0 [load-csv/with/quote input delim q]
            1 [load-csv/with/quote/header input delim q]
            2 [load-csv/with/quote/as-records input delim q]
            3 [load-csv/with/quote/as-columns input delim q]
            4 [load-csv/with/quote/flat input delim q]
            5 [load-csv/with/quote/trim input delim q]
            6 [load-csv/with/quote/header/as-records input delim q]
            7 [load-csv/with/quote/flat/header input delim q]
        ]
    ]
    csv/strict?: true
    csv/ignore-empty?: false
    if error? rows [
        return any [
            rows/type = 'user
            all [rows/type = 'script rows/id = 'parse-stack]
        ]
    ]
    if any [not zero? mode and 120 not block? rows] [return true]
    again: to-csv/with/quote rows delim q
    if error? again [return not zero? mode and 4]
    again: load-csv/with/quote again delim q
    rows == again
]
)~";

// Defines the checking functions in a started runtime.
inline void define_checkers() {
    Cell* base = stack::top;
    for (std::string_view source : {kJsonChecker, kCsvChecker}) {
        Cell* code = lexer::load_push(reinterpret_cast<const uint8_t*>(source.data()),
                                      static_cast<uint32_t>(source.size()));
        interp::status_to_error(interp::eval_block(code));
        stack::top = base;
    }
}

// Starts the runtime and defines the checking functions.
inline void init() {
    runtime::init();
    boot::run();
    define_checkers();
}

inline bool allowed(const error::Raised& raised) {
    using namespace error;
    return (raised.category == kScript &&
            (raised.id == script::invalid_data || raised.id == script::parse_stack)) ||
           (raised.category == kInternal &&
            (raised.id == internal::stack_overflow || raised.id == internal::too_deep));
}

// Calls the function of the global word `checker` with the bytes as text (malformed UTF-8
// replaced by U+FFFD, as the input of a codec is always valid text) and `mode`; answers
// false on a finding.
inline bool check(const char* checker, const uint8_t* data, size_t size, int32_t mode) {
    const std::string text = unicode::utf16_to_utf8(
        unicode::utf8_to_utf16(std::string_view(reinterpret_cast<const char*>(data), size)));
    Cell* base = stack::top;
    bool answer = true;
    const bool ok = interp::try_call([&] {
        const Cell fn = *context::get_word(word::make_global(checker));
        Cell* function = stack::push(fn);
        string::load_push(reinterpret_cast<const uint8_t*>(text.data()),
                          static_cast<uint32_t>(text.size()), string::kUtf8);
        integer::make_at(stack::push_cell(), mode);
        const Cell result = interp::call_values(function, function + 1, 2);
        answer = cell::type(&result) == kTypeLogic && logic::value_true(&result);
    });
    stack::top = base;
    return (ok || allowed(error::last_raised)) && answer;
}

} // namespace fuzz_text_codec
