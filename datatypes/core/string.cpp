#include "datatypes/core/string.h"

#include <cstring>

#include "runtime-core/collector.h"
#include "runtime-core/memory.h"
#include "runtime-core/runtime.h"
#include "runtime-core/unicode.h"

using memory::Buffer;

namespace string {

namespace {

[[noreturn]] void bad_unit() {
    runtime::quit(runtime::kErrorNoSwitch, ZAN_CALLER_ADDRESS());
}

inline void put_char(uint8_t* at, uint32_t unit, uint32_t cp) {
    switch (unit) {
    case 1:
        *at = static_cast<uint8_t>(cp);
        break;
    case 2: {
        const auto v = static_cast<uint16_t>(cp);
        std::memcpy(at, &v, 2);
        break;
    }
    case 4:
        std::memcpy(at, &cp, 4);
        break;
    default:
        bad_unit();
    }
}

// Reserves `count` bytes at the tail of the buffer of `node` (growing it when full) and
// returns the buffer with its tail already past them. May collect.
Buffer* reserve_tail(uint32_t node, uint32_t count) {
    Buffer* b = memory::buffer(node);
    if (b->tail + static_cast<uint64_t>(count) <= b->size) {
        b->tail += count;
        return b;
    }
    GcRoot root(node);
    memory::alloc_tail_bytes(b, count);
    return memory::buffer(root.node());
}

} // namespace

// --- Making strings -----------------------------------------------------------------------

Cell* make_at(Cell* cell, uint32_t capacity) {
    cell->header = kTypeUnset;
    const uint32_t node = memory::alloc_units(capacity ? capacity : 1, 1);
    cell->w1 = 0;
    cell->w2 = node;
    cell->w3 = 0;
    return cell::set_type(cell, kTypeString);
}

// --- Reading characters -------------------------------------------------------------------

uint32_t get_char(const uint8_t* at, uint32_t unit) {
    switch (unit) {
    case 1:
        return *at;
    case 2: {
        uint16_t v;
        std::memcpy(&v, at, 2);
        return v;
    }
    case 4: {
        uint32_t v;
        std::memcpy(&v, at, 4);
        return v;
    }
    default:
        bad_unit();
    }
}

// --- Writing characters -------------------------------------------------------------------

Buffer* append_char(Buffer* b, uint32_t cp) {
    for (;;) {
        switch (b->unit()) {
        case 1:
            if (cp <= 0x7F) break;
            b = cp <= 0xFFFF ? unicode::latin1_to_ucs2(b) : unicode::latin1_to_ucs4(b);
            continue;
        case 2:
            if (cp <= 0xFFFF) break;
            b = unicode::ucs2_to_ucs4(b);
            continue;
        case 4:
            break;
        default:
            bad_unit();
        }
        const uint32_t unit = b->unit();
        b = reserve_tail(b->node, unit);
        put_char(b->at_tail() - unit, unit, cp);
        return b;
    }
}

void append_bytes(const Cell* string, const char* bytes, uint32_t count) {
    if (count == 0) return;
    GcRoot root(string->w2);
    // The source may lie in a series buffer that moves while this one grows.
    GcInterior<const char> source(bytes);
    Buffer* b = memory::buffer(root.node());
    if (b->unit() == 1) {
        bool ascii = true;
        for (uint32_t i = 0; i < count && ascii; ++i) ascii = static_cast<uint8_t>(bytes[i]) < 0x80;
        if (!ascii) b = unicode::latin1_to_ucs2(b);
    }
    const uint32_t unit = b->unit();
    if (unit != 1 && unit != 2 && unit != 4) bad_unit();
    const uint64_t size = static_cast<uint64_t>(count) * unit;
    if (size > 0x7FFFFFFF) memory::raise(memory::Fault::no_memory);
    b = reserve_tail(root.node(), static_cast<uint32_t>(size));
    uint8_t* at = b->at_tail() - size;
    const auto* from = reinterpret_cast<const uint8_t*>(source.get());
    if (unit == 1) {
        std::memcpy(at, from, count);
    } else {
        for (uint32_t i = 0; i < count; ++i) put_char(at + i * unit, unit, from[i]);
    }
}

void concatenate_cstring(const Cell* string, const char* text) {
    const size_t length = std::strlen(text);
    if (length > 0x7FFFFFFF) memory::raise(memory::Fault::no_memory);
    append_bytes(string, text, static_cast<uint32_t>(length));
}

} // namespace string
