#include "runtime-core/case.h"

#include <algorithm>
#include <iterator>

#include "datatypes/core/string.h"
#include "runtime-core/collector.h"
#include "runtime-core/heap.h"
#include "runtime-core/memory.h"

namespace case_ {

namespace detail {
const uint32_t* upper_table = nullptr;
const uint32_t* lower_table = nullptr;
} // namespace detail

namespace {

constexpr uint32_t kBmpSize = 0x10000;

template <size_t N> const uint32_t* build_table(const Pair (&pairs)[N]) {
    auto* table = static_cast<uint32_t*>(memory::alloc_zeroed(kBmpSize * sizeof(uint32_t)));
    for (const Pair& p : pairs) table[p.from] = p.to;
    return table;
}

template <size_t N> uint32_t look_up(const Pair (&pairs)[N], uint32_t cp) {
    if (cp < pairs[0].from || cp > pairs[N - 1].from) return cp;
    const Pair* p =
        std::lower_bound(std::begin(pairs), std::end(pairs), cp,
                         [](const Pair& pair, uint32_t key) { return pair.from < key; });
    return p->from == cp ? p->to : cp;
}

} // namespace

void init() {
    if (detail::upper_table) return;
    detail::upper_table = build_table(bmp_lower_to_upper);
    detail::lower_table = build_table(bmp_upper_to_lower);
}

uint32_t detail::fold_above_ffff(uint32_t cp, bool upper) {
    return upper ? look_up(wide_lower_to_upper, cp) : look_up(wide_upper_to_lower, cp);
}

uint32_t toggle(uint32_t cp) {
    const uint32_t up = fold_wide(cp, true);
    return up != cp ? up : fold_wide(cp, false);
}

uint32_t change_text(const Cell* string, uint32_t count, bool upper) {
    GcRoot root(string->w2);
    memory::Buffer* b = memory::buffer(root.node());
    const auto index = static_cast<int32_t>(string->w1);
    const uint32_t length = b->length();
    const uint32_t start = index <= 0 ? 0 : std::min(static_cast<uint32_t>(index), length);
    count = std::min(count, length - start);
    for (uint32_t i = start; i < start + count; ++i) {
        b = memory::buffer(root.node());
        const uint32_t unit = b->unit();
        uint8_t* at = b->at_head() + i * unit;
        const uint32_t cp = string::get_char(at, unit);
        const uint32_t mapped = fold_wide(cp, upper);
        if (mapped != cp) string::write_char(b, at, mapped);
    }
    // The series' owner is told of the change here (word and count) once series ownership
    // exists.
    return count;
}

} // namespace case_
