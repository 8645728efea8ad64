// The interpreter's entries that natives and tools call from C++: eval-single, the framed
// expression, and the tracer (install, events, masks). Each test runs in a child process on a
// fully started runtime (start-up runs once per process) and reports on standard error.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <regex>
#include <string>

#include "app/boot.h"
#include "app/init.h"
#include "datatypes/context.h"
#include "datatypes/symbol.h"
#include "evaluator/frames.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "loading/lexer.h"
#include "runtime-core/throw.h"

namespace {

std::string formed(const Cell* value) {
    const std::u16string text = natives::formed(value);
    return std::string(text.begin(), text.end());
}

// What the child process says; compared with what the test expects before it exits.
std::string said;

void say(const char* format, ...) {
    char text[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    said += text;
}

void report(const Cell* value) {
    say("[%s]\n", formed(value).c_str());
}

// Starts the runtime, runs `body` and exits 0 when what it said matches `expected` (a
// regular expression); otherwise, or on an uncaught language error, it shows what was said
// and exits 1. The exit status carries the verdict: standard error of a child process is not
// read back on every platform.
[[noreturn]] void in_runtime(const char* expected, const std::function<void()>& body) {
    runtime::init();
    boot::run();
    const uint32_t code = runtime::catch_level(runtime::kThrowError, body);
    if (code == runtime::kThrowError) report(&interp::error_value);
    const bool ok = code != runtime::kThrowError && std::regex_search(said, std::regex(expected));
    if (!ok) std::fprintf(stderr, "said: %s\n", said.c_str());
    std::fflush(stderr);
    std::exit(ok ? 0 : 1);
}

// Loads source text onto the data stack (a block at its head).
Cell* load(const char* source) {
    return lexer::load_push(reinterpret_cast<const uint8_t*>(source),
                            static_cast<uint32_t>(std::strlen(source)));
}

// Evaluates source text for its effects.
void run(const char* source) {
    Cell* code = load(source);
    interp::status_to_error(interp::eval_block(code));
    stack::top = code;
}

Cell* global(const char* name) {
    return context::value_cell(symbol::make(name), context::global);
}

// A tracer that records each event word, and for the events that carry one, the ref's word.
constexpr const char* kRecorder = "log: copy [] "
                                  "recorder: func [event code offset value ref frame] ["
                                  "    append log event"
                                  "    if :ref [append log :ref]"
                                  "]";

} // namespace

TEST(InterpreterDeathTest, EvalSingleAnswersTheValueAndTheNextIndex) {
    const std::string expected = "9 5\\|next 6\\|1 6\\|9 5 1";
    auto check = [&] {
        in_runtime(expected.c_str(), [] {
            Cell* code = load("1 + 2 * 3 \"next\"");
            uint32_t next = 0;
            interp::eval_single(code, &next);
            say("%s %u|", formed(stack::top - 1).c_str(), next);
            code->w1 = next;
            interp::eval_single(code, &next);
            say("%s %u|", formed(stack::top - 1).c_str(), next);
            code->w1 = next;
            // At the tail: unset, the index stays.
            interp::eval_single(code, &next);
            say("%d %u|", cell::type(stack::top - 1) == kTypeUnset, next);
            // The framed form leaves the frames as it found them.
            stack::Frame* level = stack::frame_top;
            code->w1 = 0;
            uint32_t i = 0;
            interp::eval_framed(code, &i);
            say("%s %u %d\n", formed(stack::top - 1).c_str(), i, stack::frame_top == level);
        });
    };
    EXPECT_EXIT(check(), testing::ExitedWithCode(0), "");
}

TEST(InterpreterDeathTest, TracerSeesTheEventsOfACallInOrder) {
    // enter/exit of the block; the call with its name as the ref; the argument fetched and
    // pushed; the body's own block with prolog and epilog around it; the expression's value.
    const char* events = "enter fetch open fetch push call f prolog f enter fetch push expr "
                         "exit epilog f return f expr exit";
    const std::string expected = std::string("\\[") + events + "\\]\n\\[" + events + "\\]";
    auto check = [&] {
        in_runtime(expected.c_str(), [] {
            run(kRecorder);
            run("f: func [x] [x]");
            Cell* code = load("f 1");
            interp::install_tracer(global("recorder"));
            interp::eval_block(code);
            interp::remove_tracer();
            report(global("log"));
            // Removed: nothing more is recorded.
            run("f 2");
            report(global("log"));
        });
    };
    EXPECT_EXIT(check(), testing::ExitedWithCode(0), "");
}

TEST(InterpreterDeathTest, TracerSeesSetAndErrorEvents) {
    const std::string expected =
        "set a expr .* call / error return try expr .* call throw throw .*catch return "
        "catch expr exit";
    auto check = [&] {
        in_runtime(expected.c_str(), [] {
            run(kRecorder);
            Cell* code = load("a: 1 try [1 / 0] catch [throw 5]");
            interp::install_tracer(global("recorder"));
            interp::eval_block(code);
            interp::remove_tracer();
            report(global("log"));
        });
    };
    EXPECT_EXIT(check(), testing::ExitedWithCode(0), "");
}

TEST(InterpreterDeathTest, ABlockOfEventsAtTheBodyStartIsTheMask) {
    const std::string expected = "mask 256 all 131071\n\\[1 \\+ 2\\]";
    auto check = [&] {
        in_runtime(expected.c_str(), [] {
            run("log: copy [] "
                "fetches: func [event code offset value ref frame] ["
                "    [fetch] append log :value"
                "]");
            say("mask %u all %u\n", interp::event_mask(global("fetches")),
                interp::event_mask(global("print")));
            Cell* code = load("1 + 2");
            interp::install_tracer(global("fetches"));
            interp::eval_block(code);
            interp::remove_tracer();
            report(global("log"));
        });
    };
    EXPECT_EXIT(check(), testing::ExitedWithCode(0), "");
}

TEST(InterpreterDeathTest, TracersNestAndTracingIsOffInsideTheTracer) {
    const std::string expected = "\\[inner outer\\]\ntracing 0";
    auto check = [&] {
        in_runtime(expected.c_str(), [] {
            // The tracer itself evaluates code: that must not call it again.
            run("log: copy [] "
                "outer: func [event code offset value ref frame] [[expr] append log 'outer]"
                "inner: func [event code offset value ref frame] [[expr] append log 'inner]");
            interp::install_tracer(global("outer"));
            interp::install_tracer(global("inner"));
            run("1");
            interp::remove_tracer();
            run("2");
            interp::remove_tracer();
            run("3");
            report(global("log"));
            say("tracing %d\n", interp::tracing);
        });
    };
    EXPECT_EXIT(check(), testing::ExitedWithCode(0), "");
}

TEST(InterpreterDeathTest, AnErrorInTheTracerReachesTheTracedCode) {
    const std::string expected = "caught 1 tracing 0 \\[4\\]";
    auto check = [&] {
        in_runtime(expected.c_str(), [] {
            run("failing: func [event code offset value ref frame] [[expr] 1 / 0]");
            Cell* const top = stack::top;
            stack::Frame* const level = stack::frame_top;
            interp::install_tracer(global("failing"));
            const uint32_t code = runtime::catch_level(runtime::kThrowError, [] { run("1"); });
            runtime::reset_thrown_code();
            interp::remove_tracer();
            stack::unroll_to(level);
            stack::top = stack::arguments = top;
            run("x: 4");
            say("caught %d tracing %d ", code == runtime::kThrowError, interp::tracing);
            report(global("x"));
        });
    };
    EXPECT_EXIT(check(), testing::ExitedWithCode(0), "");
}
