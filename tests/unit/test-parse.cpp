// The parse engine's work stacks: however a parse ends (an answer, an error, a paren that
// leaves through return, a callback that stops it), both stacks are back at the length they
// had at its start. The whole runtime runs in a child process, as the start-up tests do.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "app/boot.h"
#include "app/init.h"
#include "evaluator/interpreter.h"
#include "evaluator/parse.h"
#include "loading/lexer.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/throw.h"

namespace {

// Evaluates the source; answers whether it ended without an error.
bool run(const char* source) {
    Cell* const base = stack::top;
    const uint32_t code = runtime::catch_level(runtime::kThrowError, [&] {
        Cell* block = lexer::load_push(reinterpret_cast<const uint8_t*>(source),
                                       static_cast<uint32_t>(std::strlen(source)));
        interp::status_to_error(interp::eval_block(block));
    });
    runtime::reset_thrown_code();
    stack::top = base;
    return code == 0;
}

bool stacks_empty() {
    return parse::rule_stack_length() == 0 && parse::input_stack_length() == 0;
}

TEST(ParseStackDeathTest, EveryExitLeavesBothStacksEmpty) {
    auto check = [] {
        runtime::init();
        boot::run();
        struct Case {
            const char* source;
            bool succeeds;
        };
        const Case cases[] = {
            {"parse [a [b]] [collect [keep skip into [collect [keep skip]]]]", true},
            {"deep: [deep] parse [a] deep", false},
            {"parse [a [b]] [skip into [collect [keep (1 / 0)]]]", false},
            {"f: func [] [parse [[a]] [collect [into [(return 1)]]]] f", true},
            {"parse/trace [a b] [some skip] func [e m r i s] [e <> 'iterate]", true},
            {"parse [a] [skip (parse [b] [collect [keep undefined-word]])]", false},
        };
        for (const Case& c : cases) {
            if (run(c.source) != c.succeeds || !stacks_empty()) std::exit(1);
        }
        // A nested parse that fails inside an outer one leaves the outer one's work intact.
        if (!run("r: parse [x [y]] ['x into [(try [parse [] [keep skip]]) 'y]] if not r [1 / 0]") ||
            !stacks_empty())
            std::exit(2);
        std::exit(0);
    };
    EXPECT_EXIT(check(), testing::ExitedWithCode(0), "");
}

} // namespace
