#include "runtime-core/support.h"

#include <cstring>

#include "runtime-core/collector.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/throw.h"

namespace error {

Raised last_raised;

namespace {

FireHook fire_hook = nullptr;

void mark_raised() { collector::mark_block(last_raised.args, last_raised.args + last_raised.argc); }

} // namespace

void set_fire_hook(FireHook hook) { fire_hook = hook; }

void fire(uint32_t category, uint32_t id, std::initializer_list<const Cell*> args) {
    Raised raised;
    raised.category = category;
    raised.id = id;
    for (const Cell* a : args) {
        if (raised.argc == 3) break;
        raised.args[raised.argc++] = *a;
    }
    last_raised = raised;
    if (fire_hook) fire_hook(last_raised);
    runtime::throw_code(runtime::kThrowError);
    __builtin_unreachable();
}

void init_support() { collector::add_marker(mark_raised); }

} // namespace error

namespace check {

int32_t int_arg(const Cell* value) {
    switch (cell::type(value)) {
    case kTypeInteger:
        return static_cast<int32_t>(value->w2);
    case kTypeFloat: {
        double d;
        std::memcpy(&d, &value->w2, sizeof d);
        if (!(d >= -2147483648.0 && d <= 2147483647.0))
            error::fire(error::kScript, error::script::out_of_range, {value});
        return static_cast<int32_t>(d);
    }
    default:
        error::fire(error::kScript, error::script::invalid_arg, {value});
    }
}

} // namespace check
