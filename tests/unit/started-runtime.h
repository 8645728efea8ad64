// Suites that start the whole runtime (runtime::init and the boot image) share the process
// with suites that build only parts of it: these two steps leave the process as the next
// suite expects it.
#pragma once
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "datatypes/compound.h"
#include "datatypes/context.h"
#include "datatypes/cycles.h"
#include "datatypes/error.h"
#include "datatypes/native.h"
#include "datatypes/symbol.h"
#include "datatypes/url.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "evaluator/evaluator.h"
#include "loading/lexer.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/memory.h"
#include "runtime-core/root.h"
#include "runtime-core/slots.h"
#include "runtime-core/support.h"
#include "runtime-core/throw.h"

// After start-up on Windows: the test runner's output goes back to text mode and crashes to
// the test runner, not to the runtime's fault report.
inline void after_full_start_up() {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_TEXT);
    _setmode(_fileno(stderr), _O_TEXT);
    SetUnhandledExceptionFilter(nullptr);
#endif
}

// Releases a started runtime: nothing may name the old one afterwards (hooks, the word
// tables pointing into the released root block, registrations, the memory).
inline void release_full_runtime() {
    error::set_fire_hook(nullptr);
    error::set_calls(nullptr);
    native::set_spec_check(nullptr);
    word::set_lexer(nullptr);
    url::set_make_port(nullptr);
    compound::set_text_loader(nullptr);
    cycles::reset();
    error::last_raised = error::Raised{};
    context::release();
    symbol::release();
    root::release();
    words::word = words::Words{};
    refinements::refinement = refinements::Refinements{};
    stack::bottom = stack::top = stack::end = stack::arguments = nullptr;
    collector::reset_registrations();
    collector::state.enabled = 0;
    collector::state.node_compaction = 1;
    slots::table = slots::Table{};
    memory::release_all();
}

// Evaluates source text in a started runtime; answers the last value, held on the data stack
// in place of the code. An error fails the test. May collect.
inline Cell* eval_text(const char* text) {
    Cell* code = lexer::load_push(reinterpret_cast<const uint8_t*>(text),
                                  static_cast<uint32_t>(std::strlen(text)));
    Cell result{kTypeNone, 0, 0, 0};
    const uint32_t code_thrown = runtime::catch_level(runtime::kThrowError, [&] {
        interp::status_to_error(interp::eval_block(code));
        result = stack::top[-1];
    });
    runtime::reset_thrown_code();
    EXPECT_NE(code_thrown, runtime::kThrowError) << text;
    *code = result;
    stack::top = code + 1;
    return code;
}
