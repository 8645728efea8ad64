#include "runtime-core/case.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "runtime-core/heap.h"
#include "runtime-core/memory.h"
#include "runtime-core/runtime.h"

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

} // namespace case_
