#include "datatypes/string.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/bitset.h"
#include "datatypes/datatype.h"
#include "datatypes/dispatch.h"
#include "datatypes/form-mold.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "runtime-core/case.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/root.h"
#include "runtime-core/runtime.h"
#include "runtime-core/stdio.h"
#include "runtime-core/strtod.h"
#include "runtime-core/support.h"
#include "runtime-core/unicode.h"

using memory::Buffer;

namespace string {

namespace {

[[noreturn]] void bad_unit() {
    runtime::quit(runtime::kErrorNoSwitch, ZAN_CALLER_ADDRESS());
}

inline uint32_t checked_unit(const Buffer* b) {
    const uint32_t unit = b->unit();
    if (unit != 1 && unit != 2 && unit != 4) bad_unit();
    return unit;
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

// The index of a text cell as its readers take it: negative as 0, past the tail as the tail.
inline uint32_t clamped_index(const Cell* string, const Buffer* b) {
    const auto index = static_cast<int32_t>(string->w1);
    if (index <= 0) return 0;
    return std::min(static_cast<uint32_t>(index), b->length());
}

// A text operand: the node and index of a string-like cell, or of a symbol's text from its
// start.
struct Text {
    uint32_t node;
    uint32_t index;
};

Text text_of(const Cell* c) {
    if (cell::type(c) == kTypeSymbol) return {c->w2, 0};
    return {c->w2, clamped_index(c, memory::buffer(c->w2))};
}

// The unit that holds `cp` when it is written at a position: 1-byte units hold up to FF.
inline uint32_t unit_for_write(uint32_t unit, uint32_t cp) {
    if (cp > 0xFFFF) return 4;
    if (cp > 0xFF && unit < 2) return 2;
    return unit;
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

// Grows the buffer so that `end` bytes after its data start fit: to twice its size, or to
// `end` when that is more. May collect.
Buffer* grow_to_hold(Buffer* b, uint64_t end) {
    if (end <= b->size) return b;
    if (end > 0x7FFFFFF0) memory::raise(memory::Fault::no_memory);
    const uint64_t doubled = 2 * static_cast<uint64_t>(b->size);
    const uint64_t size = std::max(doubled, (end + 15) & ~uint64_t(15));
    return memory::expand_series_to(b, static_cast<uint32_t>(std::min<uint64_t>(size, 0x7FFFFFF0)));
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

Cell* make_units_at(Cell* cell, uint32_t count, uint32_t unit) {
    cell::set_type(cell, kTypeUnset);
    const uint32_t node = memory::alloc_units(count, unit);
    cell->w1 = 0;
    cell->w2 = node;
    cell->w3 = 0;
    return cell::set_type(cell, kTypeString);
}

Cell* push(const Cell* string) {
    return stack::push(*string);
}

Cell* load(const uint8_t* bytes, uint32_t length, Cell* target, int32_t encoding) {
    if (encoding != kUtf8 && encoding != kUtf16le) {
        print::values_line({"*** Loading Error: input encoding unsupported"});
        runtime::quit(0, 0);
    }
    Cell* cell = target ? target : stack::push_cell();
    *cell = Cell{kTypeUnset, 0, 0, 0};
    const uint32_t node = encoding == kUtf8
                              ? unicode::load_utf8_simple(bytes, length)
                              : unicode::load_utf16(reinterpret_cast<const char16_t*>(bytes),
                                                    length / 2, nullptr, false);
    cell->w2 = node;
    return cell::set_type(cell, kTypeString);
}

Cell* text_at(Cell* cell, uint8_t type, const char* utf8, uint32_t length) {
    load(reinterpret_cast<const uint8_t*>(utf8), length, cell, kUtf8);
    return cell::set_type(cell, type);
}

Cell* text_push(uint8_t type, const char* utf8, uint32_t length) {
    return text_at(stack::push_cell(), type, utf8, length);
}

Cell* text_add_to_block(const Cell* block, uint8_t type, const char* utf8, uint32_t length) {
    Cell* c = load_into_block(reinterpret_cast<const uint8_t*>(utf8), length, block->w2, kUtf8);
    return cell::set_type(c, type);
}

std::string utf8_from_index(const Cell* string) {
    memory::Buffer* b = memory::buffer(string->w2);
    const uint32_t unit = b->unit();
    std::string out;
    for (uint32_t i = string->w1; i < b->length(); ++i) {
        char bytes[4];
        const int n = unicode::encode_utf8_char(get_char(b->at_head() + i * unit, unit), bytes);
        out.append(bytes, static_cast<size_t>(n));
    }
    return out;
}

Cell* load_into_block(const uint8_t* bytes, uint32_t length, uint32_t block, int32_t encoding) {
    GcRoot target(block);
    GcRoot text(Cell{kTypeUnset, 0, 0, 0});
    load(bytes, length, &text.cell(), encoding);
    Cell* c = memory::alloc_tail_cell(memory::buffer(target.node()));
    *c = text.cell();
    return c;
}

Cell* load_in(const uint8_t* bytes, uint32_t length, int32_t encoding) {
    return load(bytes, length, root::alloc_tail(), encoding);
}

Cell* load_push(const uint8_t* bytes, uint32_t length, int32_t encoding) {
    return load(bytes, length, nullptr, encoding);
}

Cell* from_utf8_checked(const uint8_t* bytes, uint32_t length) {
    GcInterior<const uint8_t> source(bytes);
    Cell* cell = make_at(stack::push_cell(), length);
    int32_t unconsumed = 0;
    unicode::load_utf8_binary(source.get(), length, cell, &unconsumed);
    if (unconsumed > 0) {
        const Cell* rest = unicode::push_binary(source.get() + length - unconsumed,
                                                static_cast<uint32_t>(unconsumed));
        error::fire(error::kAccess, error::access::invalid_utf8, {rest});
    }
    return cell;
}

// --- Positions ----------------------------------------------------------------------------

uint32_t length(Cell* string) {
    const uint32_t total = memory::buffer(string->w2)->length();
    const auto index = static_cast<int32_t>(string->w1);
    const uint32_t start = index < 0 ? 0 : static_cast<uint32_t>(index);
    if (total >= start) return total - start;
    string->w1 = total;
    return 0;
}

uint32_t length_from_head(const Cell* string) {
    return memory::buffer(string->w2)->length();
}

bool advance(Cell* string, int32_t n) {
    const int64_t total = memory::buffer(string->w2)->length();
    const int64_t wanted = static_cast<int64_t>(static_cast<int32_t>(string->w1)) + n;
    if (wanted <= total) string->w1 = static_cast<uint32_t>(static_cast<int32_t>(wanted));
    return wanted >= total;
}

bool step_next(Cell* string) {
    return advance(string, 1);
}

uint8_t* index_pointer(Cell* string) {
    Buffer* b = memory::buffer(string->w2);
    const auto index = static_cast<int32_t>(string->w1);
    if (index > 0 && static_cast<uint32_t>(index) > b->length()) string->w1 = b->length();
    return b->at_head() + clamped_index(string, b) * checked_unit(b);
}

uint8_t* tail_pointer(const Cell* string) {
    return memory::buffer(string->w2)->at_tail();
}

bool index_at_tail(const Cell* string) {
    const auto index = static_cast<int32_t>(string->w1);
    return index >= 0 && static_cast<uint32_t>(index) >= memory::buffer(string->w2)->length();
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

uint32_t char_at(const Cell* string, uint32_t offset) {
    Buffer* b = memory::buffer(string->w2);
    const uint32_t unit = checked_unit(b);
    return get_char(b->at_head() + offset * unit, unit);
}

int32_t find_char(const Cell* string, uint32_t cp) {
    Buffer* b = memory::buffer(string->w2);
    const uint32_t unit = checked_unit(b);
    const uint32_t index = clamped_index(string, b);
    const uint8_t* p = b->at_head() + index * unit;
    const uint32_t count = b->length() - index;
    for (uint32_t i = 0; i < count; ++i)
        if (get_char(p + i * unit, unit) == cp) return static_cast<int32_t>(i);
    return -1;
}

bool contains_char(const Cell* string, uint32_t cp, int32_t step, int32_t case_flag) {
    Buffer* b = memory::buffer(string->w2);
    const uint32_t unit = checked_unit(b);
    const bool fold = case_flag != 1;
    if (fold) cp = case_::to_upper(cp);
    const uint32_t stride = step > 1 ? static_cast<uint32_t>(step) : 1;
    const uint32_t length = b->length();
    for (uint32_t i = clamped_index(string, b); i < length; i += stride) {
        uint32_t c = get_char(b->at_head() + i * unit, unit);
        if (fold) c = case_::to_upper(c);
        if (c == cp) return true;
    }
    return false;
}

bool starts_with_cstring(const Cell* string, const char* text) {
    Buffer* b = memory::buffer(string->w2);
    const uint32_t unit = checked_unit(b);
    const uint32_t length = b->length();
    uint32_t i = clamped_index(string, b);
    for (; *text; ++text, ++i) {
        if (i >= length) return false;
        if (get_char(b->at_head() + i * unit, unit) != static_cast<uint8_t>(*text)) return false;
    }
    return true;
}

bool char_in_bitset(const Cell* string, const Cell* bitset) {
    Buffer* b = memory::buffer(string->w2);
    const uint32_t unit = checked_unit(b);
    const uint32_t index = clamped_index(string, b);
    if (index >= b->length()) return false;
    const uint32_t cp = get_char(b->at_head() + index * unit, unit);
    return bitset::has(memory::buffer(bitset->w2), cp);
}

bool angle_bracketed(const Cell* string, const Cell* tag) {
    Buffer* b = memory::buffer(string->w2);
    const uint32_t unit = checked_unit(b);
    const uint32_t index = clamped_index(string, b);
    Buffer* t = memory::buffer(tag->w2);
    const uint64_t close = static_cast<uint64_t>(index) + 1 + (t->length() - clamped_index(tag, t));
    if (close >= b->length()) return false;
    return get_char(b->at_head() + index * unit, unit) == '<' &&
           get_char(b->at_head() + close * unit, unit) == '>';
}

int32_t compare_strings(const Cell* first, const Cell* second, int32_t op, bool match) {
    const bool same = first->w2 == second->w2 && first->w1 == second->w1;
    if (op == kSame) return same ? 0 : -1;
    const bool equality = op == kEqual || op == kNotEqual || op == kStrictEqual || op == kFind;
    if (same && equality) return 0;

    const Text a = text_of(first);
    const Text b = text_of(second);
    Buffer* ba = memory::buffer(a.node);
    Buffer* bb = memory::buffer(b.node);
    const uint32_t ua = checked_unit(ba);
    const uint32_t ub = checked_unit(bb);
    const uint32_t length1 = ba->length() - a.index;
    const uint32_t length2 = bb->length() - b.index;

    uint32_t count;
    if (match) {
        if (length2 == 0) return op == kFind ? 1 : 0;
        if (length2 > length1) return 1;
        count = length2;
    } else {
        if (length1 != length2) {
            if (equality || length2 == 0) return 1;
        } else if (length1 == 0) {
            return 0;
        }
        count = std::min(length1, length2);
    }
    if (length1 == 0) return -1;

    const bool fold = op != kStrictEqual && op != kCaseSort;
    const uint8_t* pa = ba->at_head() + a.index * ua;
    const uint8_t* pb = bb->at_head() + b.index * ub;
    uint32_t c1 = 0, c2 = 0;
    for (uint32_t i = 0; i < count; ++i) {
        c1 = get_char(pa + i * ua, ua);
        c2 = get_char(pb + i * ub, ub);
        if (fold) {
            c1 = case_::to_upper(c1);
            c2 = case_::to_upper(c2);
        }
        if (c1 != c2) break;
    }
    if (!match && c1 == c2) return length1 < length2 ? -1 : length1 > length2 ? 1 : 0;
    return c1 < c2 ? -1 : c1 > c2 ? 1 : 0;
}

bool match_value(const Cell* string, const Cell* value, int32_t op) {
    switch (cell::type(value)) {
    case kTypeString:
    case kTypeFile:
    case kTypeUrl:
    case kTypeEmail:
    case kTypeRef:
        return compare_strings(string, value, op, true) == 0;
    case kTypeChar: {
        Buffer* b = memory::buffer(string->w2);
        const uint32_t unit = checked_unit(b);
        const uint32_t index = clamped_index(string, b);
        if (index >= b->length()) return false;
        const uint32_t c = get_char(b->at_head() + index * unit, unit);
        if (op == kStrictEqual) return c == value->w2;
        return case_::to_upper(c) == case_::to_upper(value->w2);
    }
    case kTypeTag: {
        if (!angle_bracketed(string, value)) return false;
        Cell inside = *string;
        inside.w1 = clamped_index(string, memory::buffer(string->w2)) + 1;
        return compare_strings(&inside, value, op, true) == 0;
    }
    default:
        return false;
    }
}

// --- Writing characters -------------------------------------------------------------------

Cell* reset(Cell* string) {
    Buffer* b = memory::buffer(string->w2);
    b->tail = b->head;
    b->flags = (b->flags & ~memory::kUnitMask) | 1;
    string->w1 = 0;
    return string;
}

void truncate(Buffer* b, uint32_t n) {
    const uint64_t end = b->head + static_cast<uint64_t>(n) * checked_unit(b);
    if (end <= b->size && end < b->tail) b->tail = static_cast<uint32_t>(end);
}

void remove_units(const Cell* string, uint32_t position, uint32_t n) {
    Buffer* b = memory::buffer(string->w2);
    const uint32_t unit = checked_unit(b);
    const uint32_t length = b->length();
    if (position >= length) return;
    n = std::min(n, length - position);
    uint8_t* at = b->at_head() + position * unit;
    std::memmove(at, at + n * unit, (length - position - n) * unit);
    b->tail -= n * unit;
}

void remove_char(const Cell* string, uint32_t position) {
    remove_units(string, position, 1);
}

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

Buffer* write_char(Buffer* b, uint8_t* at, uint32_t cp) {
    const uint32_t unit = checked_unit(b);
    const uint32_t wanted = unit_for_write(unit, cp);
    if (wanted != unit) {
        const auto offset = static_cast<uint32_t>(at - b->at_head()) / unit;
        b = widen_to(b, unit, wanted);
        at = b->at_head() + offset * wanted;
    }
    put_char(at, b->unit(), cp);
    return b;
}

Buffer* overwrite_char(Buffer* b, uint32_t offset, uint32_t cp) {
    uint32_t unit = checked_unit(b);
    const uint32_t wanted = unit_for_write(unit, cp);
    if (wanted != unit) b = widen_to(b, unit, wanted);
    unit = b->unit();
    b = grow_to_hold(b, b->head + (static_cast<uint64_t>(offset) + 1) * unit);
    const uint32_t length = b->length();
    uint8_t* head = b->at_head();
    if (offset > length) std::memset(head + length * unit, 0, (offset - length) * unit);
    put_char(head + offset * unit, unit, cp);
    if (offset >= length) b->tail = b->head + (offset + 1) * unit;
    return b;
}

Buffer* insert_char(Buffer* b, uint32_t offset, uint32_t cp) {
    uint32_t unit = checked_unit(b);
    const uint32_t wanted = unit_for_write(unit, cp);
    if (wanted != unit) b = widen_to(b, unit, wanted);
    unit = b->unit();
    b = grow_to_hold(b, static_cast<uint64_t>(b->tail) + unit);
    const uint32_t length = b->length();
    offset = std::min(offset, length);
    uint8_t* at = b->at_head() + offset * unit;
    std::memmove(at + unit, at, (length - offset) * unit);
    b->tail += unit;
    put_char(at, unit, cp);
    return b;
}

Buffer* widen_to(Buffer* b, uint32_t unit, uint32_t new_unit) {
    if (new_unit <= unit) return b;
    if (new_unit == 2) return unicode::latin1_to_ucs2(b);
    return unit == 1 ? unicode::latin1_to_ucs4(b) : unicode::ucs2_to_ucs4(b);
}

Buffer* insert_units(Buffer* source, Buffer* target, uint32_t size, uint32_t target_unit,
                     uint32_t source_offset, uint32_t target_offset, int32_t count, bool keep) {
    const uint32_t unit = source->unit();
    if ((unit != 1 && unit != 2) || (target_unit != 2 && target_unit != 4))
        runtime::quit(runtime::kErrorNoCase, ZAN_CALLER_ADDRESS());
    if (!target) {
        GcRoot owner(source->node);
        const uint32_t fresh =
            memory::alloc_series((size + target_unit - 1) / target_unit, target_unit, 0);
        const uint32_t node = owner.node();
        source = memory::buffer(node);
        target = memory::buffer(fresh);
        // The new buffer takes over the source's node; the old one stays readable under the
        // fresh node until the collector finds it unreferenced.
        memory::node_slot(node) = reinterpret_cast<uintptr_t>(target);
        memory::node_slot(fresh) = reinterpret_cast<uintptr_t>(source);
        constexpr uint32_t kOwn = memory::kFlagFixed | memory::kFlagBig | memory::kFlagMark |
                                  memory::kFlagMiddle | memory::kUnitMask;
        target->flags = (source->flags & ~kOwn) | (target->flags & kOwn);
        target->node = node;
        source->node = fresh;
    }
    const uint8_t* from = source->at_head() + std::min(source_offset, source->tail - source->head);
    const uint8_t* end = source->at_tail();
    if (count >= 1 && static_cast<uint32_t>(count) < static_cast<uint32_t>(end - from))
        end = from + count;
    uint8_t* to = target->at_head() + target_offset;
    const uint32_t units = static_cast<uint32_t>(end - from) / unit;
    for (uint32_t i = 0; i < units; ++i)
        put_char(to + i * target_unit, target_unit, get_char(from + i * unit, unit));
    if (!keep) {
        target->tail = static_cast<uint32_t>(to + units * target_unit - target->data());
        target->flags = (target->flags & ~memory::kUnitMask) | target_unit;
    }
    return target;
}

void concatenate(const Cell* target, const Cell* source, int32_t part, int32_t offset,
                 bool keep_source, int32_t mode) {
    const Text s = text_of(source);
    GcRoot troot(target->w2);
    GcRoot sroot(s.node);
    const auto target_index = static_cast<int32_t>(target->w1);
    Buffer* tb = memory::buffer(troot.node());
    Buffer* sb = memory::buffer(sroot.node());
    uint32_t tu = checked_unit(tb);
    const uint32_t su = checked_unit(sb);
    if (tu < su) {
        widen_to(tb, tu, su);
        tu = su;
    } else if (su < tu && !keep_source) {
        widen_to(sb, su, tu);
    }
    tb = memory::buffer(troot.node());
    sb = memory::buffer(sroot.node());
    const bool same = troot.node() == sroot.node();
    const bool convert = sb->unit() != tu;

    uint32_t count = sb->length() - std::min(s.index, sb->length());
    if (part >= 0 && static_cast<uint32_t>(part) < count) count = static_cast<uint32_t>(part);
    const uint64_t bytes = static_cast<uint64_t>(count) * tu;
    if (bytes == 0) return;
    const uint64_t used = tb->tail - tb->head;
    if (used + bytes > 0x7FFFFFF0) memory::raise(memory::Fault::no_memory);
    if (tb->tail + bytes > tb->size) {
        memory::expand_series_to(tb, static_cast<uint32_t>(2 * (used + bytes)));
        tb = memory::buffer(troot.node());
        sb = memory::buffer(sroot.node());
    }

    // The write position: the tail, or the target's index plus the offset (within the text).
    const uint32_t length = tb->length();
    uint32_t position = length;
    if (mode != kAppendMode) {
        const int64_t at = static_cast<int64_t>(std::max(target_index, 0)) + offset;
        position = static_cast<uint32_t>(std::clamp<int64_t>(at, 0, length));
    }
    const uint8_t* from = sb->at_head() + s.index * sb->unit();
    std::vector<uint8_t> saved;
    if (mode == kInsertMode) {
        if (same) { // the move below may shift the source's own characters
            saved.assign(from, from + bytes);
            from = saved.data();
        }
        uint8_t* at = tb->at_head() + position * tu;
        std::memmove(at + bytes, at, (length - position) * tu);
    }
    uint8_t* to = tb->at_head() + position * tu;
    if (convert) {
        const uint32_t unit = sb->unit();
        for (uint32_t i = 0; i < count; ++i)
            put_char(to + i * tu, tu, get_char(from + i * unit, unit));
    } else {
        std::memmove(to, from, bytes);
    }
    const uint32_t written_end = static_cast<uint32_t>(to + bytes - tb->data());
    if (mode == kInsertMode)
        tb->tail += static_cast<uint32_t>(bytes);
    else
        tb->tail = std::max(tb->tail, written_end);
}

void overwrite(const Cell* target, const Cell* source, int32_t part, int32_t offset,
               bool keep_source) {
    concatenate(target, source, part, offset, keep_source, kOverwriteMode);
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
    const uint32_t unit = checked_unit(b);
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

void append_chars(const Cell* string, const uint32_t* chars, uint32_t count) {
    if (count == 0) return;
    uint32_t top = 0;
    for (uint32_t i = 0; i < count; ++i) top = std::max(top, chars[i]);
    GcRoot root(string->w2);
    Buffer* b = memory::buffer(root.node());
    uint32_t unit = checked_unit(b);
    const uint32_t wanted = top <= 0x7F ? 1 : top <= 0xFFFF ? 2 : 4;
    if (wanted > unit) {
        widen_to(b, unit, wanted);
        unit = wanted;
    }
    const uint64_t size = static_cast<uint64_t>(count) * unit;
    if (size > 0x7FFFFFFF) memory::raise(memory::Fault::no_memory);
    b = reserve_tail(root.node(), static_cast<uint32_t>(size));
    uint8_t* at = b->at_tail() - size;
    if (unit == 1) {
        for (uint32_t i = 0; i < count; ++i) at[i] = static_cast<uint8_t>(chars[i]);
    } else {
        for (uint32_t i = 0; i < count; ++i) put_char(at + i * unit, unit, chars[i]);
    }
}

void concatenate_cstring(const Cell* string, const char* text) {
    const size_t length = std::strlen(text);
    if (length > 0x7FFFFFFF) memory::raise(memory::Fault::no_memory);
    append_bytes(string, text, static_cast<uint32_t>(length));
}

void move_chars(const Cell* source, const Cell* target, uint32_t bytes) {
    GcRoot sroot(source->w2);
    GcRoot troot(target->w2);
    Buffer* sb = memory::buffer(sroot.node());
    const uint32_t su = checked_unit(sb);
    const uint32_t from = clamped_index(source, sb);
    const uint32_t count = std::min(bytes / su, sb->length() - from);
    uint32_t at = clamped_index(target, memory::buffer(troot.node()));
    for (uint32_t i = 0; i < count; ++i) {
        sb = memory::buffer(sroot.node());
        const uint32_t cp = get_char(sb->at_head() + (from + i) * su, su);
        insert_char(memory::buffer(troot.node()), at++, cp);
    }
    Cell moved = *source;
    moved.w2 = sroot.node();
    remove_units(&moved, from, count);
}

// --- Numbers ------------------------------------------------------------------------------

namespace {
constexpr char kHexDigits[] = "0123456789ABCDEF";
}

const char* byte_to_hex(uint8_t byte) {
    static char digits[3];
    digits[0] = kHexDigits[byte >> 4];
    digits[1] = kHexDigits[byte & 15];
    digits[2] = 0;
    return digits;
}

const char* int_to_hex(int32_t value, bool strip) {
    static char digits[9];
    const auto bits = static_cast<uint32_t>(value);
    for (int i = 0; i < 8; ++i) digits[i] = kHexDigits[(bits >> (28 - 4 * i)) & 15];
    digits[8] = 0;
    if (!strip) return digits;
    if (value == 0) return digits + 6;
    const char* first = digits;
    while (*first == '0') ++first;
    return first;
}

double to_float(const char* text, int32_t count, int32_t& unconsumed) {
    return number_text::parse_float(text, text + count, 0, unconsumed);
}

// --- make and to ---------------------------------------------------------------------------

namespace detail {
void reset_sort_scratch(); // string-sort.cpp
Cell* append_value(Cell* series, Cell* value, int32_t part, bool only, int32_t dup,
                   bool notify); // string-insert.cpp
} // namespace detail

Cell* make(Cell* prototype, Cell* spec, int32_t type) {
    const uint8_t st = cell::type(spec);
    if (st == kTypeInteger || st == kTypeFloat) {
        const int32_t capacity = check::int_arg(spec);
        if (capacity < 0) error::fire(error::kScript, error::script::out_of_range, {spec});
        Cell* result = stack::push_cell();
        result->header = kTypeUnset;
        const uint32_t node = memory::alloc_bytes(static_cast<uint32_t>(capacity));
        *result = Cell{static_cast<uint32_t>(type), 0, node, 0};
        return result;
    }
    if (type == kTypeBinary) {
        if (st == kTypeMoney) {
            Cell* datatype = datatype::push(kTypeBinary);
            error::fire(error::kScript, error::script::bad_make_arg, {datatype, spec});
        }
        // binary! takes this entry over from string! but converts with its own to.
        auto binary_to = datatype::function<action::slot::to>(kTypeBinary);
        if (!binary_to || binary_to == to) error::fire(error::kInternal, error::internal::not_done);
        return binary_to(prototype, spec, type);
    }
    return to(prototype, spec, type);
}

Cell* to(Cell*, Cell* spec, int32_t type) {
    const uint8_t st = cell::type(spec);
    Cell* result;
    if (series::is_any_string(st)) {
        result = stack::push_cell();
        result->header = kTypeUnset;
        series::copy(spec, result, {});
    } else if (st == kTypeBinary) {
        Buffer* b = memory::buffer(spec->w2);
        const uint32_t index = clamped_index(spec, b);
        result = from_utf8_checked(b->at_head() + index, b->length() - index);
    } else if (series::is_any_list(st)) {
        result = make_at(stack::push_cell(), 16);
        detail::append_value(result, spec, -1, false, 1, false);
    } else if (st == kTypeNone) {
        Cell* datatype = datatype::push(kTypeString);
        error::fire(error::kScript, error::script::bad_to_arg, {datatype, spec});
    } else {
        result = make_at(stack::push_cell(), 16);
        // A refinement becomes its word in a string!, but keeps its slash in a file! or url!.
        if (st == kTypeRefinement && type != kTypeString)
            actions::mold(spec, result, {}, form_mold::kNoLimit, 0);
        else
            actions::form(spec, result, nullptr, form_mold::kNoLimit);
    }
    cell::set_type(result, static_cast<uint8_t>(type));
    return result;
}

// --- form and mold --------------------------------------------------------------------------

int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit) {
    const auto whole = static_cast<int32_t>(length(value));
    concatenate(string, value, part ? check::int_arg(part) : -1, 0, true, kAppendMode);
    return limit - whole;
}

namespace {

// The characters that stand after "^" for the controls 00-1F.
constexpr char kControlEscapes[33] = "@ABCDEFGH-/KLMNOPQRSTUVWXYZ[\\]^_";

void escape_into(std::vector<uint32_t>& out, uint32_t cp, bool all) {
    if (cp == 0x1E || (cp >= 0x80 && cp <= 0x9F) || (all && cp > 0x7F)) {
        out.push_back('^');
        out.push_back('(');
        for (const char* d = int_to_hex(static_cast<int32_t>(cp), true); *d; ++d)
            out.push_back(static_cast<uint8_t>(*d));
        out.push_back(')');
    } else if (cp < 0x20) {
        out.push_back('^');
        out.push_back(static_cast<uint8_t>(kControlEscapes[cp]));
    } else if (cp == '"' || cp == '^') {
        out.push_back('^');
        out.push_back(cp);
    } else if (cp == 0x7F) {
        out.push_back('^');
        out.push_back('~');
    } else {
        out.push_back(cp);
    }
}

// The first "{" in [start, end) that no "}" after it closes, or `end`. Walking backward, a
// "}" waits for an opening brace and a "{" closes the nearest waiting one: the same pairs as
// counting forward from each opening brace, in one pass.
uint32_t first_unclosed_brace(const uint8_t* head, uint32_t unit, uint32_t start, uint32_t end) {
    uint32_t first = end;
    uint32_t waiting = 0;
    for (uint32_t i = end; i-- > start;) {
        const uint32_t c = get_char(head + i * unit, unit);
        if (c == '}') {
            ++waiting;
        } else if (c == '{') {
            if (waiting > 0)
                --waiting;
            else
                first = i;
        }
    }
    return first;
}

} // namespace

void append_escaped_char(const Cell* string, uint32_t cp, bool all) {
    std::vector<uint32_t> out;
    escape_into(out, cp, all);
    append_chars(string, out.data(), static_cast<uint32_t>(out.size()));
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t) {
    Buffer* b = memory::buffer(value->w2);
    uint32_t unit = checked_unit(b);
    const uint32_t start = clamped_index(value, b);
    const uint32_t tail = b->length();
    uint32_t end = tail;
    if (options.part && check::int_arg(options.part) != 0)
        end = limit < 0 ? start
                        : static_cast<uint32_t>(std::min<int64_t>(int64_t{start} + limit, tail));

    uint32_t quotes = 0, line_feeds = 0;
    for (uint32_t i = start; i < end; ++i) {
        const uint32_t c = get_char(b->at_head() + i * unit, unit);
        quotes += c == '"';
        line_feeds += c == '\n';
    }
    const bool braces = line_feeds >= 3 || quotes > 0 || tail - start >= 50;
    const uint32_t unclosed = braces ? first_unclosed_brace(b->at_head(), unit, start, end) : end;

    // The text is built in chunks: appending may move the value's buffer, which is read
    // again after each chunk.
    constexpr size_t kChunk = 4096;
    std::vector<uint32_t> out;
    out.reserve(kChunk + 16);
    out.push_back(braces ? '{' : '"');
    uint32_t depth = 0;
    for (uint32_t i = start; i < end; ++i) {
        const uint32_t c = get_char(b->at_head() + i * unit, unit);
        if (!braces) {
            escape_into(out, c, options.all);
        } else if (c == '{') {
            if (i < unclosed) ++depth;
            if (i >= unclosed) out.push_back('^');
            out.push_back('{');
        } else if (c == '}') {
            if (depth == 0) out.push_back('^');
            if (depth > 0) --depth;
            out.push_back('}');
        } else if (c == '"') {
            out.push_back('"');
        } else {
            escape_into(out, c, options.all);
        }
        if (out.size() >= kChunk) {
            append_chars(string, out.data(), static_cast<uint32_t>(out.size()));
            out.clear();
            b = memory::buffer(value->w2);
            unit = b->unit();
        }
    }
    out.push_back(braces ? '}' : '"');
    append_chars(string, out.data(), static_cast<uint32_t>(out.size()));
    return limit - static_cast<int32_t>(end - start) - 2;
}

// --- Path access and comparison -------------------------------------------------------------

Cell* eval_path(Cell* parent, Cell* element, Cell* value, const action::PathOptions& options) {
    const uint8_t et = cell::type(element);
    if (et == kTypeInteger) {
        const auto n = static_cast<int32_t>(element->w2);
        // pick answers in its first argument: give it a copy of the parent.
        if (!value) return actions::call<action::slot::pick>(stack::push(*parent), n, element);
        return actions::call<action::slot::poke>(parent, n, value, element);
    }
    if (et == kTypeWord)
        error::fire(error::kScript, error::script::invalid_path, {options.path, element});
    if (!value) return select(parent, element, {});
    Cell* found = find(parent, element, {});
    if (cell::type(found) == kTypeNone)
        error::fire(error::kScript, error::script::bad_path_set, {options.path, element});
    actions::call<action::slot::poke>(found, 2, value, nullptr);
    return value;
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    if (cell::type(value) != cell::type(other)) {
        if (!series::is_any_string(cell::type(other))) return action::kNotComparable;
        if (op != kEqual && op != kNotEqual) return action::kNotComparable;
    }
    return compare_strings(value, other, op, false);
}

// --- Registration ---------------------------------------------------------------------------

void register_actions() {
    detail::reset_sort_scratch();
    namespace s = action::slot;
    action::Row row;
    row.set<s::make>(make)
        .set<s::to>(to)
        .set<s::form>(form)
        .set<s::mold>(mold)
        .set<s::eval_path>(eval_path)
        .set<s::compare>(compare)
        .set<s::append>(append)
        .set<s::change>(change)
        .set<s::find>(find)
        .set<s::insert>(insert)
        .set<s::select>(select)
        .set<s::sort>(sort)
        .set<s::swap>(swap)
        .set<s::take>(take)
        .set<s::trim>(trim)
        .inherit({s::random, s::reflect, s::at,       s::back, s::clear,  s::copy,  s::head,
                  s::head_q, s::index_q, s::length_q, s::move, s::next,   s::pick,  s::poke,
                  s::remove, s::reverse, s::skip,     s::tail, s::tail_q, s::modify});
    datatype::register_({kTypeString, kTypeSeries, "string!", row.entries()});
}

} // namespace string
