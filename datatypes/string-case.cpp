#include "datatypes/string-case.h"

#include <algorithm>
#include <cstring>

#include "datatypes/ownership.h"
#include "datatypes/string.h"
#include "runtime-core/case.h"
#include "runtime-core/collector.h"
#include "runtime-core/memory.h"
#include "runtime-core/runtime.h"

namespace case_ {

namespace {

// Maps the units [i, end) in place while each mapping fits in a unit (`limit` is the largest
// code point one holds); answers where a mapping needs wider units, or `end`.
template <class Unit>
uint32_t map_units(uint8_t* head, uint32_t i, uint32_t end, bool upper, uint32_t limit) {
    const uint32_t* table = upper ? detail::upper_table : detail::lower_table;
    for (; i < end; ++i) {
        Unit c;
        std::memcpy(&c, head + static_cast<size_t>(i) * sizeof(Unit), sizeof(Unit));
        uint32_t mapped;
        if (c <= 0xFFFF) {
            mapped = table[c];
            if (!mapped) continue;
        } else {
            mapped = detail::fold_above_ffff(c, upper);
            if (mapped == c) continue;
        }
        if (mapped > limit) return i;
        const auto unit = static_cast<Unit>(mapped);
        std::memcpy(head + static_cast<size_t>(i) * sizeof(Unit), &unit, sizeof(Unit));
    }
    return end;
}

} // namespace

uint32_t change_text(const Cell* string, uint32_t count, bool upper) {
    GcRoot root(string->w2);
    memory::Buffer* b = memory::buffer(root.node());
    const auto index = static_cast<int32_t>(string->w1);
    const uint32_t length = b->length();
    const uint32_t start = index <= 0 ? 0 : std::min(static_cast<uint32_t>(index), length);
    count = std::min(count, length - start);
    const uint32_t end = start + count;
    uint32_t i = start;
    while (i < end) {
        b = memory::buffer(root.node());
        const uint32_t unit = b->unit();
        uint8_t* head = b->at_head();
        switch (unit) {
        case 1:
            i = map_units<uint8_t>(head, i, end, upper, 0xFF);
            break;
        case 2:
            i = map_units<uint16_t>(head, i, end, upper, 0xFFFF);
            break;
        case 4:
            i = map_units<uint32_t>(head, i, end, upper, 0xFFFFFFFF);
            break;
        default:
            runtime::quit(runtime::kErrorNoSwitch, ZAN_CALLER_ADDRESS());
        }
        if (i == end) break;
        // This character needs wider units: the buffer widens as a whole (it may move), and
        // the walk goes on at the new width.
        uint8_t* at = head + static_cast<size_t>(i) * unit;
        string::write_char(b, at, fold_wide(string::get_char(at, unit), upper));
        ++i;
    }
    // The owner of the string hears of the change once, with the native's word and the count.
    GcRoot target(*string);
    target.cell().w2 = root.node();
    ownership::check(&target.cell(),
                     upper ? ownership::Action::uppercase : ownership::Action::lowercase, nullptr,
                     static_cast<int32_t>(start), static_cast<int32_t>(count));
    return count;
}

} // namespace case_
