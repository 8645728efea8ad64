// Print hooks: printed output goes to lists of callbacks registered at run time, not to a
// fixed device. With no hook registered, print produces no output at all.
#pragma once
#include <cstdint>

struct Cell;

namespace dyn_print {

// Receives the formed text of what print (newline 1) or prin (newline 0) emits.
using ValueHook = void (*)(const Cell* string, int32_t newline);
// Receives UTF-8 bytes of low-level output; a length of -1 means zero-terminated.
using TextHook = void (*)(const char* text, int32_t length, int32_t newline);

constexpr uint32_t kGrowth = 5;

void init();
// Appends each hook that is not null to its list.
void add(ValueHook value_hook, TextHook text_hook);
// Calls every value-level hook, in registration order.
void call(const Cell* string, int32_t newline);
// Calls every text-level hook, in registration order.
void call_print(const char* text, int32_t length, int32_t newline);

// List sizes, for diagnostics and tests.
uint32_t value_hook_count();
uint32_t value_hook_capacity();
uint32_t text_hook_count();
uint32_t text_hook_capacity();

} // namespace dyn_print
