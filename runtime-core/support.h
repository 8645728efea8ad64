// Support routines shared by the runtime and the natives: raising a language error, reading
// checked arguments.
//
// Until error! values and the evaluator's error unwinding exist, a raised error is recorded
// here (category, id and up to three argument cells, kept alive for the collector) and
// travels as the error code; the evaluator installs the full raiser with set_fire_hook.
#pragma once
#include <cstdint>
#include <initializer_list>

#include "runtime-core/cell.h"

namespace error {

struct Raised {
    uint32_t category = 0;
    uint32_t id = 0;
    uint32_t argc = 0;
    Cell args[3]{};
};

// The last error raised through fire.
extern Raised last_raised;

using FireHook = void (*)(const Raised& error);
void set_fire_hook(FireHook hook);

// Raises the language error (category, id) with up to three arguments. Never returns.
[[noreturn]] void fire(uint32_t category, uint32_t id, std::initializer_list<const Cell*> args = {});

// Registers the collector marker of the recorded arguments (runtime initialisation).
void init_support();

} // namespace error

namespace check {

// An integer argument: an integer! gives its value; a float! within -2147483648.0 to
// 2147483647.0 gives its value truncated toward zero, and one outside that range (or NaN)
// raises script/out-of-range with the value. Any other value raises script/invalid-arg.
int32_t int_arg(const Cell* value);

} // namespace check
