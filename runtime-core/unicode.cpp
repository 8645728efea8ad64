#include "runtime-core/unicode.h"

#include <cstring>

#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/runtime.h"
#include "runtime-core/support.h"

using memory::Buffer;

namespace utf8 {

// clang-format off
const uint8_t kDecoderTable[364] = {
    // Byte classes.
    0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,
    0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,
    0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,
    0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,
    1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,
    7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,
    8,8,2,2,2,2,2,2,2,2,2,2,2,2,2,2,2,2,2,2,2,2,2,2,2,2,2,2,2,2,2,2,
    10,3,3,3,3,3,3,3,3,3,3,3,3,4,3,3,11,6,6,6,5,8,8,8,8,8,8,8,8,8,8,8,
    // Transitions: state + class.
    0,12,24,36,60,96,84,12,12,12,48,72,12,12,12,12,12,12,12,12,12,12,12,12,
    12,0,12,12,12,12,12,0,12,0,12,12,12,24,12,12,12,12,12,24,12,24,12,12,
    12,12,12,12,12,12,12,24,12,12,12,12,12,24,12,12,12,12,12,12,12,24,12,12,
    12,12,12,12,12,12,12,36,12,36,12,12,12,36,12,12,12,12,12,36,12,36,12,12,
    12,36,12,12,12,12,12,12,12,12,12,12,
};
// clang-format on

namespace {

[[noreturn]] void invalid_char(uint32_t cp) {
    const Cell value{kTypeInteger, 0, cp, 0};
    error::fire(error::kScript, error::script::invalid_char, {&value});
}

} // namespace

const uint8_t* decode_char(const uint8_t* at, const uint8_t* end, int32_t& cp) {
    uint32_t state = kAccept;
    uint32_t value = 0;
    while (at < end) {
        const uint32_t byte = *at++;
        const uint32_t type = kDecoderTable[byte];
        value = state != kAccept ? (byte & 0x3F) | (value << 6) : (0xFFu >> type) & byte;
        state = kDecoderTable[256 + state + type];
        if (state == kAccept) {
            cp = static_cast<int32_t>(value);
            return at;
        }
        if (state == kReject) break;
    }
    cp = -1;
    return at;
}

uint32_t count_chars(const uint8_t* start, const uint8_t* end) {
    uint32_t count = 0;
    int32_t cp;
    while (start < end) {
        start = decode_char(start, end, cp);
        ++count;
    }
    return count;
}

const uint8_t* skip_chars(const uint8_t* start, const uint8_t* limit, uint32_t n) {
    int32_t cp;
    for (; n > 0 && start < limit; --n) start = decode_char(start, limit, cp);
    return start;
}

uint32_t lead_length(uint8_t byte) {
    if (byte >= 0xF0) return 4;
    if (byte >= 0xE0) return 3;
    if (byte >= 0xC0) return 2;
    return 0;
}

uint32_t encode_length(uint32_t cp) {
    if (cp <= 0x7F) return 1;
    if (cp <= 0x7FF) return 2;
    if (cp <= 0xFFFF) return 3;
    if (cp <= 0x10FFFF) return 4;
    invalid_char(cp);
}

uint32_t encode_char(uint32_t cp, uint8_t* out) {
    if (cp <= 0x7F) {
        out[0] = static_cast<uint8_t>(cp);
        return 1;
    }
    if (cp <= 0x7FF) {
        out[0] = static_cast<uint8_t>(0xC0 | (cp >> 6));
        out[1] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp <= 0xFFFF) {
        out[0] = static_cast<uint8_t>(0xE0 | (cp >> 12));
        out[1] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
        return 3;
    }
    if (cp > 0x10FFFF) invalid_char(cp);
    out[0] = static_cast<uint8_t>(0xF0 | (cp >> 18));
    out[1] = static_cast<uint8_t>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
    return 4;
}

uint32_t encode_char_limited(uint32_t cp, uint8_t* out, int32_t room) {
    uint8_t sequence[4];
    const uint32_t length = encode_char(cp, sequence);
    if (room <= 0) return 0;
    const uint32_t n = length < static_cast<uint32_t>(room) ? length : static_cast<uint32_t>(room);
    std::memcpy(out, sequence, n);
    return n;
}

} // namespace utf8

namespace unicode {

namespace {

[[noreturn]] void bad_unit() {
    runtime::quit(runtime::kErrorNoSwitch, ZAN_CALLER_ADDRESS());
}

// Units are read and written through memcpy: a buffer's head need not be aligned to its
// unit size.
inline uint32_t load_unit(const uint8_t* p, uint32_t unit) {
    if (unit == 1) return *p;
    if (unit == 2) {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

inline void store_unit(uint8_t* p, uint32_t unit, uint32_t value) {
    if (unit == 1) {
        *p = static_cast<uint8_t>(value);
    } else if (unit == 2) {
        const auto v = static_cast<uint16_t>(value);
        std::memcpy(p, &v, 2);
    } else {
        std::memcpy(p, &value, 4);
    }
}

inline uint32_t checked_unit(const Buffer* b) {
    const uint32_t unit = b->unit();
    if (unit != 1 && unit != 2 && unit != 4) bad_unit();
    return unit;
}

// The first character a conversion reads: the index, negative as 0, past the tail as the
// tail.
inline uint32_t start_index(const Cell* string, const Buffer* b) {
    const auto index = static_cast<int32_t>(string->w1);
    const uint32_t length = b->length();
    if (index < 0) return 0;
    return static_cast<uint32_t>(index) > length ? length : static_cast<uint32_t>(index);
}

// Characters to convert: `part` when it is 0 or more and within what the string holds,
// else all from the index.
inline uint32_t part_count(int32_t part, uint32_t available) {
    return part < 0 || static_cast<uint32_t>(part) > available ? available
                                                               : static_cast<uint32_t>(part);
}

Buffer* widen(Buffer* b, uint32_t from, uint32_t to) {
    const uint32_t count = b->length();
    const uint64_t needed = (static_cast<uint64_t>(count) + 1) * to;
    if (b->head + needed > b->size) {
        if (needed > 0x7FFFFFFF) memory::raise(memory::Fault::no_memory);
        b = memory::expand_series_to(b, static_cast<uint32_t>(needed));
    }
    uint8_t* p = b->at_head();
    for (uint32_t i = count; i-- > 0;) store_unit(p + i * to, to, load_unit(p + i * from, from));
    b->tail = b->head + count * to;
    b->flags = (b->flags & ~memory::kUnitMask) | to;
    return b;
}

Buffer* widen_to(Buffer* b, uint32_t from, uint32_t to) {
    if (to == 2) return latin1_to_ucs2(b);
    return from == 1 ? latin1_to_ucs4(b) : ucs2_to_ucs4(b);
}

// The smallest unit that holds `cp` in a buffer of `unit`, by the loaders' rule (1-byte
// units hold up to FF).
inline uint32_t unit_for(uint32_t unit, uint32_t cp) {
    if (cp > 0xFFFF) return 4;
    if (cp > 0xFF && unit < 2) return 2;
    return unit;
}

// Makes the text buffer of a load: the target's (its text dropped, room for `count` units
// of `unit` bytes, 0 meaning its own unit size) or a new one of `count` units of `unit` bytes
// (1 byte when 0). Returns its node. May collect.
uint32_t load_target(const Cell* target, uint32_t count, uint32_t unit) {
    if (!target) return memory::alloc_units(count ? count : 1, unit ? unit : 1);
    GcRoot root(target->w2);
    Buffer* b = memory::buffer(root.node());
    const uint64_t needed = static_cast<uint64_t>(count) * (unit ? unit : checked_unit(b));
    if (b->head + needed > b->size) {
        if (needed > 0x7FFFFFF0) memory::raise(memory::Fault::no_memory);
        // A multiple of 16 bytes is a whole number of units of any size.
        b = memory::expand_series(b, static_cast<uint32_t>((needed + 15) & ~uint64_t(15)));
    }
    b->tail = b->head;
    return root.node();
}

// Where a loader reads when it is given no input: the data of the target's conversion cache.
const uint8_t* cache_data(const Cell* target) {
    if (!target || !target->w3) return nullptr;
    return memory::buffer(target->w3)->data();
}

// Decodes a byte text into a string, one code point at a time through `decode` (which
// answers -1 for a sequence cut off by the end), widening the buffer when a code point needs
// it. With `crlf`, CR LF becomes LF and a lone CR becomes LF. The bytes may lie in a series
// buffer: they are re-read after every allocation. May collect.
template <class Decode>
uint32_t load_bytes(const uint8_t* bytes, uint32_t length, uint32_t start, const Cell* target,
                    int32_t* unconsumed, bool crlf, Decode decode) {
    if (unconsumed) *unconsumed = 0;
    GcInterior<const uint8_t> source(bytes);
    GcRoot root(load_target(target, length, 0));
    Buffer* b = memory::buffer(root.node());
    uint32_t unit = checked_unit(b);
    uint32_t tail = b->tail;
    const uint8_t* in = source.get();
    uint32_t pos = start;
    while (pos < length) {
        uint32_t size = length - pos;
        const int32_t decoded = decode(in + pos, size);
        if (decoded < 0) {
            if (unconsumed) *unconsumed = static_cast<int32_t>(length - pos);
            break;
        }
        pos += size;
        auto cp = static_cast<uint32_t>(decoded);
        if (crlf && cp == '\r') {
            if (pos < length && in[pos] == '\n') continue;
            cp = '\n';
        }
        const uint32_t wanted = unit_for(unit, cp);
        if (wanted != unit) {
            b->tail = tail;
            b = widen_to(b, unit, wanted);
            unit = wanted;
            tail = b->tail;
            in = source.get();
        }
        if (tail + unit > b->size) {
            // The input can hold no more characters than bytes; a wider text needs room for
            // more bytes than the input had.
            uint32_t grow = unit == 2 ? length / 4 : length;
            if (grow < 16) grow = 16;
            if (static_cast<uint64_t>(b->size) + grow > 0x7FFFFFF0)
                memory::raise(memory::Fault::no_memory);
            b->tail = tail;
            b = memory::expand_series_to(b, b->size + grow);
            tail = b->tail;
            in = source.get();
        }
        store_unit(b->data() + tail, unit, cp);
        tail += unit;
    }
    b->tail = tail;
    return root.node();
}

// clang-format off
const uint16_t kCp1251[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};
// clang-format on

} // namespace

// --- Widening in place ------------------------------------------------------------------

Buffer* latin1_to_ucs2(Buffer* buffer) {
    return widen(buffer, 1, 2);
}
Buffer* latin1_to_ucs4(Buffer* buffer) {
    return widen(buffer, 1, 4);
}
Buffer* ucs2_to_ucs4(Buffer* buffer) {
    return widen(buffer, 2, 4);
}

// --- Strings to bytes ---------------------------------------------------------------------

uint32_t utf8_size(const uint8_t* start, const uint8_t* end, uint32_t unit) {
    if (unit != 1 && unit != 2 && unit != 4) bad_unit();
    uint32_t size = 0;
    for (; start < end; start += unit) size += utf8::encode_length(load_unit(start, unit));
    return size;
}

uint8_t* scratch_buffer(Cell* string, uint32_t size) {
    if (string->w3) {
        Buffer* cache = memory::buffer(string->w3);
        if (cache->size >= size) return cache->data();
    }
    // The string and its old cache stay alive while the new one is made.
    GcRoot keep(*string);
    uint32_t node;
    if (string->w3) {
        node = memory::expand_series_to(memory::buffer(string->w3), size)->node;
    } else {
        node = memory::alloc_bytes(size);
    }
    string->w2 = keep.cell().w2;
    string->w3 = node;
    return memory::buffer(node)->data();
}

const char* to_utf8_part(Cell* string, int32_t& part, bool crlf) {
    Buffer* b = memory::buffer(string->w2);
    const uint32_t unit = checked_unit(b);
    const uint32_t index = start_index(string, b);
    const uint32_t count = part_count(part, b->length() - index);
    const uint64_t size = (static_cast<uint64_t>(count) + 1) * (unit == 1 ? 2 : unit == 2 ? 3 : 4);
    if (size > 0x7FFFFFFF) memory::raise(memory::Fault::no_memory);
    uint8_t* out = scratch_buffer(string, static_cast<uint32_t>(size));
    const uint8_t* in = memory::buffer(string->w2)->at_head() + index * unit;
    uint32_t n = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t cp = load_unit(in + i * unit, unit);
        if (crlf && cp == '\n') out[n++] = '\r';
        n += utf8::encode_char(cp, out + n);
    }
    out[n] = 0;
    part = static_cast<int32_t>(n);
    return reinterpret_cast<const char*>(out);
}

const char* to_utf8(Cell* string, int32_t& part) {
    return to_utf8_part(string, part, false);
}

uint32_t write_utf8(const Cell* string, uint8_t* out, int32_t part, bool terminate) {
    Buffer* b = memory::buffer(string->w2);
    const uint32_t unit = checked_unit(b);
    const uint32_t index = start_index(string, b);
    const uint32_t count = part_count(part, b->length() - index);
    const uint8_t* in = b->at_head() + index * unit;
    uint32_t n = 0;
    for (uint32_t i = 0; i < count; ++i)
        n += utf8::encode_char(load_unit(in + i * unit, unit), out + n);
    if (terminate) out[n] = 0;
    return n;
}

uint32_t write_utf8_limited(const Cell* string, uint8_t* out, int32_t room, int32_t part,
                            bool terminate) {
    Buffer* b = memory::buffer(string->w2);
    const uint32_t unit = checked_unit(b);
    const uint32_t index = start_index(string, b);
    const uint32_t available = b->length() - index;
    const uint32_t count = part >= 1 && static_cast<uint32_t>(part) < available
                               ? static_cast<uint32_t>(part)
                               : available;
    const uint8_t* in = b->at_head() + index * unit;
    uint32_t n = 0;
    for (uint32_t i = 0; i < count && static_cast<int32_t>(n) < room; ++i)
        n += utf8::encode_char_limited(load_unit(in + i * unit, unit), out + n,
                                       room - static_cast<int32_t>(n));
    if (terminate) out[n] = 0;
    return n;
}

const char16_t* to_utf16_part(Cell* string, int32_t& part, bool crlf) {
    Buffer* b = memory::buffer(string->w2);
    const uint32_t unit = checked_unit(b);
    const uint32_t index = start_index(string, b);
    const uint32_t count = part_count(part, b->length() - index);
    // Room: one unit per character and the NUL, one more for each line feed and each code
    // point that needs a surrogate pair.
    uint64_t units = static_cast<uint64_t>(count) + 1;
    const uint8_t* in = b->at_head() + index * unit;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t cp = load_unit(in + i * unit, unit);
        if (cp > 0x10FFFF) return nullptr;
        if (cp == '\n' || cp >= 0x10000) ++units;
    }
    if (units * 2 > 0x7FFFFFFF) memory::raise(memory::Fault::no_memory);
    auto* out =
        reinterpret_cast<char16_t*>(scratch_buffer(string, static_cast<uint32_t>(units * 2)));
    in = memory::buffer(string->w2)->at_head() + index * unit;
    uint32_t n = 0;
    if (unit == 2 && !crlf) {
        std::memcpy(out, in, count * 2);
        n = count;
    } else {
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t cp = load_unit(in + i * unit, unit);
            if (crlf && cp == '\n') out[n++] = u'\r';
            n += encode_utf16_char(cp, out + n);
        }
    }
    out[n] = 0;
    part = static_cast<int32_t>(n);
    return out;
}

const char16_t* to_utf16(Cell* string) {
    int32_t part = -1;
    return to_utf16_part(string, part, true);
}

void ascii_to_utf16(const char* text, char16_t* out) {
    do *out++ = static_cast<uint8_t>(*text);
    while (*text++);
}

uint32_t encode_utf16_char(uint32_t cp, char16_t* out) {
    if (cp < 0x10000) {
        out[0] = static_cast<char16_t>(cp);
        return 1;
    }
    if (cp > 0x10FFFF) return 0;
    cp -= 0x10000;
    out[0] = static_cast<char16_t>(0xD800 + (cp >> 10));
    out[1] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    return 2;
}

// --- Bytes to strings ---------------------------------------------------------------------

int32_t decode_utf8_char(const uint8_t* at, uint32_t& length) {
    const uint32_t available = length;
    const uint32_t b0 = at[0];
    uint32_t needed;
    uint32_t cp = 0;
    if (b0 < 0x80) {
        length = 1;
        return static_cast<int32_t>(b0);
    }
    if (b0 < 0xC0 || b0 >= 0xF8) {
        needed = 0;
    } else {
        needed = b0 < 0xE0 ? 2 : b0 < 0xF0 ? 3 : 4;
        if (available < needed) return -1;
        cp = b0 & (0x7F >> needed);
        for (uint32_t i = 1; i < needed && needed; ++i) {
            if ((at[i] & 0xC0) != 0x80)
                needed = 0;
            else
                cp = (cp << 6) | (at[i] & 0x3F);
        }
        if ((needed == 3 && cp >= 0xDC00 && cp <= 0xDCFF) || (needed == 4 && cp > 0x10FFFF))
            needed = 0;
    }
    if (needed == 0) {
        // The offending bytes are copied out first: they may lie in a buffer that the
        // error value's allocation moves.
        uint8_t bytes[4];
        const uint32_t n = available < 4 ? available : 4;
        std::memcpy(bytes, at, n);
        const Cell* arg = push_binary(bytes, n);
        error::fire(error::kAccess, error::access::invalid_utf8, {arg});
    }
    length = needed;
    return static_cast<int32_t>(cp);
}

uint32_t load_utf8(const uint8_t* bytes, uint32_t length, const Cell* target, int32_t* unconsumed,
                   bool crlf) {
    const uint32_t start =
        length > 2 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
    return load_bytes(bytes, length, start, target, unconsumed, crlf,
                      [](const uint8_t* at, uint32_t& size) {
                          if (*at < 0x80) {
                              size = 1;
                              return static_cast<int32_t>(*at);
                          }
                          return decode_utf8_char(at, size);
                      });
}

uint32_t load_utf8_binary(const uint8_t* bytes, uint32_t length, const Cell* target,
                          int32_t* unconsumed) {
    return load_utf8(bytes, length, target, unconsumed, false);
}

uint32_t load_utf8_simple(const uint8_t* bytes, uint32_t length) {
    return load_utf8(bytes, length, nullptr, nullptr, false);
}

uint32_t load_cp1251(const uint8_t* bytes, uint32_t length, const Cell* target, bool crlf) {
    GcRoot cache(bytes || !target ? 0 : target->w3);
    if (!bytes) bytes = cache_data(target);
    if (!bytes) length = 0;
    return load_bytes(bytes, length, 0, target, nullptr, crlf,
                      [](const uint8_t* at, uint32_t& size) {
                          size = 1;
                          return static_cast<int32_t>(*at < 0x80 ? *at : kCp1251[*at - 0x80]);
                      });
}

uint32_t load_utf16(const char16_t* units, uint32_t count, const Cell* target, bool crlf) {
    const auto* raw = units ? reinterpret_cast<const uint8_t*>(units) : cache_data(target);
    if (!raw) count = 0;
    GcInterior<const uint8_t> source(raw);
    uint32_t width = 1;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t u = load_unit(raw + 2 * i, 2);
        if (u >= 0xD800 && u <= 0xDFFF) {
            width = 4;
            break;
        }
        if (u > 0xFF) width = 2;
    }
    GcRoot cache(units || !target ? 0 : target->w3);
    GcRoot root(load_target(target, count, width));
    Buffer* b = memory::buffer(root.node());
    b->flags = (b->flags & ~memory::kUnitMask) | width | kFlagLoadedUtf16;
    const uint8_t* in = source.get();
    uint8_t* out = b->data() + b->head;
    uint32_t n = 0;
    if (width == 2 && !crlf) {
        if (count) std::memcpy(out, in, count * 2);
        n = count;
    } else {
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t u = load_unit(in + 2 * i, 2);
            if (crlf && u == '\r') continue;
            if (u >= 0xD800 && u <= 0xDFFF) {
                const uint32_t next = i + 1 < count ? load_unit(in + 2 * (i + 1), 2) : 0;
                if (u <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
                    u = 0x10000 + ((u - 0xD800) << 10) + (next - 0xDC00);
                    ++i;
                } else {
                    u = 0xFFFD; // a surrogate without its partner
                }
            }
            store_unit(out + n * width, width, u);
            ++n;
        }
    }
    b->tail = b->head + n * width;
    return root.node();
}

Cell* push_binary(const uint8_t* bytes, uint32_t count) {
    GcInterior<const uint8_t> source(bytes);
    Cell* cell = stack::push_cell();
    *cell = Cell{kTypeUnset, 0, 0, 0};
    const uint32_t node = memory::alloc_bytes(count);
    Buffer* b = memory::buffer(node);
    if (count) std::memcpy(b->data(), source.get(), count);
    b->tail = count;
    cell->w2 = node;
    return cell::set_type(cell, kTypeBinary);
}

// --- Helpers for the platform layer ---------------------------------------------------

int encode_utf8_char(uint32_t cp, char* out) {
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (cp >> 12));
        out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (cp >> 18));
    out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

std::string utf16_to_utf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    char buf[4];
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        out.append(buf, encode_utf8_char(cp, buf));
    }
    return out;
}

std::u16string utf8_to_utf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        auto b = static_cast<uint8_t>(text[i]);
        uint32_t cp;
        int extra;
        if (b < 0x80) {
            cp = b;
            extra = 0;
        } else if (b >= 0xC2 && b <= 0xDF) {
            cp = b & 0x1F;
            extra = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            cp = b & 0x0F;
            extra = 2;
        } else if (b >= 0xF0 && b <= 0xF4) {
            cp = b & 0x07;
            extra = 3;
        } else {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        bool ok = i + extra < text.size();
        for (int k = 1; ok && k <= extra; ++k) {
            auto c = static_cast<uint8_t>(text[i + k]);
            if ((c & 0xC0) != 0x80)
                ok = false;
            else
                cp = (cp << 6) | (c & 0x3F);
        }
        static constexpr uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (!ok || cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += extra + 1;
    }
    return out;
}

} // namespace unicode
