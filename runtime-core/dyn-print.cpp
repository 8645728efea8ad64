#include "runtime-core/dyn-print.h"

#include <cstring>

#include "runtime-core/heap.h"

namespace dyn_print {

namespace {

template <class Hook> struct HookList {
    Hook* entries = nullptr;
    uint32_t count = 0;
    uint32_t capacity = 0;

    void init() {
        entries = static_cast<Hook*>(memory::alloc(sizeof(Hook) * kGrowth));
        count = 0;
        capacity = kGrowth;
    }
    void add(Hook hook) {
        if (!hook) return;
        if (count == capacity) {
            auto* grown = static_cast<Hook*>(memory::alloc(sizeof(Hook) * (capacity + kGrowth)));
            if (count) std::memcpy(grown, entries, sizeof(Hook) * count);
            memory::free(entries);
            entries = grown;
            capacity += kGrowth;
        }
        entries[count++] = hook;
    }
};

HookList<ValueHook> value_hooks;
HookList<TextHook> text_hooks;

} // namespace

void init() {
    value_hooks.init();
    text_hooks.init();
}

void add(ValueHook value_hook, TextHook text_hook) {
    value_hooks.add(value_hook);
    text_hooks.add(text_hook);
}

void call(const Cell* string, int32_t newline) {
    for (uint32_t i = 0; i < value_hooks.count; ++i) value_hooks.entries[i](string, newline);
}

void call_print(const char* text, int32_t length, int32_t newline) {
    for (uint32_t i = 0; i < text_hooks.count; ++i) text_hooks.entries[i](text, length, newline);
}

uint32_t value_hook_count() {
    return value_hooks.count;
}
uint32_t value_hook_capacity() {
    return value_hooks.capacity;
}
uint32_t text_hook_count() {
    return text_hooks.count;
}
uint32_t text_hook_capacity() {
    return text_hooks.capacity;
}

} // namespace dyn_print
