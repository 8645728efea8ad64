#include "library/json.h"

#include <cstdint>

#include "datatypes/string.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/support.h"

namespace json {

namespace {

using interp::Status;

// The text of a string from its index, one code point per unit of `unit` bytes.
struct Text {
    const uint8_t* units;
    uint32_t unit, length;

    uint32_t at(uint32_t i) const { return string::get_char(units + i * unit, unit); }
};

int32_t hex_digit(uint32_t c) {
    if (c >= '0' && c <= '9') return static_cast<int32_t>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<int32_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<int32_t>(c - 'a' + 10);
    return -1;
}

// The four hexadecimal digits at i, or -1 when there are not four of them.
int32_t hex4(const Text& t, uint32_t i) {
    if (t.length - i < 4) return -1;
    int32_t v = 0;
    for (uint32_t k = 0; k < 4; ++k) {
        const int32_t d = hex_digit(t.at(i + k));
        if (d < 0) return -1;
        v = v * 16 + d;
    }
    return v;
}

// Decodes the character at i (an escape sequence when it starts with a backslash) into `cp`;
// answers the position after it, or 0 when the escape is bad (no character ends at 0).
uint32_t decode(const Text& t, uint32_t i, uint32_t& cp) {
    const uint32_t c1 = t.at(i++);
    if (c1 != '\\') {
        cp = c1;
        return i;
    }
    if (i == t.length) return 0;
    switch (const uint32_t c2 = t.at(i++)) {
    case '"':
    case '\\':
    case '/':
        cp = c2;
        return i;
    case 'b':
        cp = 8;
        return i;
    case 'f':
        cp = 12;
        return i;
    case 'n':
        cp = 10;
        return i;
    case 'r':
        cp = 13;
        return i;
    case 't':
        cp = 9;
        return i;
    case 'u': {
        const int32_t high = hex4(t, i);
        if (high < 0) return 0;
        i += 4;
        cp = static_cast<uint32_t>(high);
        if (high < 0xD800 || high > 0xDBFF) return i;
        // A high surrogate must be followed by the escape of a low one: the pair is one
        // character.
        if (t.length - i < 6 || t.at(i) != '\\' || t.at(i + 1) != 'u') return 0;
        const int32_t low = hex4(t, i + 2);
        if (low < 0xDC00 || low > 0xDFFF) return 0;
        cp = 0x10000 + ((static_cast<uint32_t>(high) - 0xD800) << 10) +
             (static_cast<uint32_t>(low) - 0xDC00);
        return i + 6;
    }
    default:
        return 0;
    }
}

Text text_of(Cell* s) {
    memory::Buffer* b = memory::buffer(s->w2);
    const uint32_t length = string::length(s);
    return {string::index_pointer(s), b->unit(), length};
}

// unescape str: the escape sequences of the text from the index are replaced by the
// characters they stand for, in the string's own storage, which is widened first when a
// decoded character needs wider units. A bad escape raises script/invalid-data with the
// string. May collect (the widening).
Status unescape(const int32_t*) {
    Cell* s = stack::arguments;
    // First pass: check every escape and find the widest character to be written.
    Text t = text_of(s);
    uint32_t widest = 0;
    for (uint32_t i = 0; i < t.length;) {
        uint32_t cp = 0;
        i = decode(t, i, cp);
        if (i == 0) error::fire(error::kScript, error::script::invalid_data, {s});
        if (cp > widest) widest = cp;
    }
    memory::Buffer* b = memory::buffer(s->w2);
    const uint32_t wanted = widest > 0xFFFF ? 4 : widest > 0xFF ? 2 : 1;
    if (wanted > b->unit()) {
        string::widen_to(b, b->unit(), wanted);
        t = text_of(s);
    }
    // Second pass: the decoded text is never longer than the text read, so it is written
    // over it from the start.
    b = memory::buffer(s->w2);
    uint8_t* out = const_cast<uint8_t*>(t.units);
    uint32_t written = 0;
    for (uint32_t i = 0; i < t.length; ++written) {
        uint32_t cp = 0;
        i = decode(t, i, cp);
        uint8_t* at = out + written * t.unit;
        if (t.unit == 1) {
            at[0] = static_cast<uint8_t>(cp);
        } else if (t.unit == 2) {
            at[0] = static_cast<uint8_t>(cp);
            at[1] = static_cast<uint8_t>(cp >> 8);
        } else {
            for (uint32_t k = 0; k < 4; ++k) at[k] = static_cast<uint8_t>(cp >> (8 * k));
        }
    }
    b->tail = static_cast<uint32_t>(out + written * t.unit - b->at_head()) + b->head;
    return Status::normal;
}

const routines::Routine kTable[] = {
    {"json-unescape",
     "[\"Replaces the escape sequences of JSON text by their characters, in place\" str "
     "[string!] return: [string!]]",
     unescape},
};

} // namespace

std::span<const routines::Routine> table() {
    return kTable;
}

} // namespace json
