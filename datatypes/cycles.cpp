#include "datatypes/cycles.h"

#include <cstring>

#include "datatypes/string.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/support.h"
#include "runtime-core/type-traits.h"

namespace cycles {

namespace {

uint32_t entries[kEntries];
uint32_t top = 0; // number of entries in use

} // namespace

void init() {
    top = 0;
    collector::add_marker(mark);
    stack::set_overflow_hook(reset);
}

void push(uint32_t node) {
    entries[top++] = node;
    if (top == kEntries) {
        top = 0;
        error::fire(error::kInternal, error::internal::too_deep);
    }
}

void pop() {
    if (top > 0) --top;
}

void pop_n(uint32_t n) {
    top = n >= top ? 0 : top - n;
}

void reset() {
    top = 0;
}

bool find(uint32_t node) {
    for (uint32_t i = 0; i < top; ++i)
        if (entries[i] == node) return true;
    return false;
}

uint32_t depth() {
    return top;
}

uint32_t node_of(const Cell* value) {
    return traits::data_node(value);
}

bool detect(const Cell* value, const Cell* string, int32_t* limit, bool mold) {
    uint32_t node = node_of(value);
    if (node == 0 || !find(node)) return false;
    const char* marker = "...";
    if (mold) {
        switch (cell::type(value)) {
        case kTypeBlock:
        case kTypeHash:
            marker = "[...]";
            break;
        case kTypeParen:
            marker = "(...)";
            break;
        case kTypeMap:
            marker = "#[...]";
            break;
        case kTypeObject:
            marker = "make object! [...]";
            break;
        default:
            break;
        }
    }
    string::concatenate_cstring(string, marker);
    *limit -= static_cast<int32_t>(std::strlen(marker));
    return true;
}

void mark() {
    for (uint32_t i = 0; i < top; ++i) collector::mark_series(entries[i]);
}

} // namespace cycles
