// string! sort: refinement checks, the flags word, and the comparators that the record sorts
// of runtime-core/sort.h call.
#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/words.h"
#include "runtime-core/case.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/root.h"
#include "runtime-core/runtime.h"
#include "runtime-core/sort.h"
#include "runtime-core/support.h"

using memory::Buffer;

namespace string {

namespace {

constexpr uint32_t kReverse = 1;
constexpr uint32_t kWholeRecord = 2;

// The two strings that carry whole records to a user comparator (/all with /skip): cells of
// the root block, made on first use and reused by later sorts.
Cell* record_strings[2] = {nullptr, nullptr};

// What the user comparator callback needs: the function, and the series as the sort found
// it.
struct Callback {
    const Cell* function;
    const Cell* series;
    uint32_t length;
    uint32_t unit;
};

// The result of a comparison of a and b: its sign turned with the reverse bit.
inline int32_t ordered(int64_t difference, uint32_t flags) {
    const int32_t r = difference < 0 ? -1 : difference > 0 ? 1 : 0;
    return flags & kReverse ? -r : r;
}

// Walks the units compared: one at the offset, or every unit of the record.
template <class Read, class Fold>
int32_t compare_units(const void* a, const void* b, uint32_t flags, Read read, Fold fold) {
    const auto* x = static_cast<const uint8_t*>(a);
    const auto* y = static_cast<const uint8_t*>(b);
    uint32_t first = flags >> 2;
    uint32_t count = 1;
    if (flags & kWholeRecord) {
        count = first;
        first = 0;
    }
    for (uint32_t i = first; i < first + count; ++i) {
        const int64_t d = static_cast<int64_t>(fold(read(x, i))) - fold(read(y, i));
        if (d != 0) return ordered(d, flags);
    }
    return 0;
}

template <class T> T load(const uint8_t* records, uint32_t i) {
    T v;
    std::memcpy(&v, records + i * sizeof(T), sizeof(T));
    return v;
}

template <class T> int32_t compare_floats(const void* a, const void* b, uint32_t flags) {
    const auto* x = static_cast<const uint8_t*>(a);
    const auto* y = static_cast<const uint8_t*>(b);
    uint32_t first = flags >> 2;
    uint32_t count = 1;
    if (flags & kWholeRecord) {
        count = first;
        first = 0;
    }
    for (uint32_t i = first; i < first + count; ++i) {
        const T p = load<T>(x, i);
        const T q = load<T>(y, i);
        if (p > q) return ordered(1, flags);
        if (p < q) return ordered(-1, flags);
    }
    return 0;
}

// Makes the record strings hold at least `bytes` bytes. May collect.
void reserve_record_strings(uint32_t bytes) {
    for (Cell*& s : record_strings) {
        if (!s) {
            s = root::alloc_tail();
            make_at(s, bytes);
        }
        Buffer* b = memory::buffer(s->w2);
        if (b->size < bytes) memory::expand_series(b, bytes);
    }
}

// Loads a record into a record string: the user function may have changed the string since
// the last call, so everything is set again. The string has room (reserve_record_strings).
void load_record(Cell* string, const uint8_t* record, uint32_t units, uint32_t unit) {
    const uint32_t bytes = units * unit;
    Buffer* b = memory::buffer(string->w2);
    b->flags = (b->flags & ~memory::kUnitMask) | unit;
    b->head = 0;
    b->tail = bytes;
    std::memcpy(b->data(), record, bytes);
    *string = Cell{kTypeString, 0, string->w2, 0};
}

// A user comparator may not change the text it sorts (the sort would put back records the
// text no longer holds): its length and width must be as the sort found them.
void check_unchanged(const Callback& callback) {
    Buffer* now = memory::find_buffer(callback.series->w2);
    if (!now || now->length() != callback.length || now->unit() != callback.unit)
        error::fire(error::kScript, error::script::protected_);
}

// The user comparator: b then a (a then b with the reverse bit), as char! values or, with
// whole records, as two record strings holding copies of the records. Flags: bit 0 reverse,
// bit 1 whole record, bits 2-4 the unit size, bits 5 up the record length.
int32_t sort_call_compare(const void* a, const void* b, uintptr_t op, uint32_t flags) {
    const auto* callback = reinterpret_cast<const Callback*>(op);
    const auto* x = static_cast<const uint8_t*>(a);
    const auto* y = static_cast<const uint8_t*>(b);
    const uint32_t unit = (flags >> 2) & 7;
    const uint32_t length = flags >> 5;
    const uint8_t* first = flags & kReverse ? x : y;
    const uint8_t* second = flags & kReverse ? y : x;
    int32_t answer;
    if ((flags & kWholeRecord) && length > 0) {
        // The records are copied out: the strings never point into another buffer. (The
        // function may have left them other buffers since: room is made again first.)
        reserve_record_strings(length * unit);
        load_record(record_strings[0], first, length, unit);
        load_record(record_strings[1], second, length, unit);
        answer = block::call_comparator(callback->function, *record_strings[0], *record_strings[1]);
    } else {
        const Cell one{kTypeChar, 0, get_char(first, unit), 0};
        const Cell two{kTypeChar, 0, get_char(second, unit), 0};
        answer = block::call_comparator(callback->function, one, two);
    }
    check_unchanged(*callback);
    return answer;
}

} // namespace

namespace detail {
void reset_sort_scratch() {
    record_strings[0] = record_strings[1] = nullptr;
}
} // namespace detail

int32_t sort_compare_latin1(const void* a, const void* b, uintptr_t case_arg, uint32_t flags) {
    const bool fold = case_arg == 0;
    return compare_units(
        a, b, flags, [](const uint8_t* r, uint32_t i) -> uint32_t { return r[i]; },
        [fold](uint32_t c) { return fold && c >= 'A' && c <= 'Z' ? c + 32 : c; });
}

int32_t sort_compare_ucs2(const void* a, const void* b, uintptr_t case_arg, uint32_t flags) {
    const bool fold = case_arg == 0;
    return compare_units(
        a, b, flags, [](const uint8_t* r, uint32_t i) -> uint32_t { return load<uint16_t>(r, i); },
        [fold](uint32_t c) { return fold ? case_::to_upper(c) : c; });
}

int32_t sort_compare_ucs4(const void* a, const void* b, uintptr_t case_arg, uint32_t flags) {
    const bool fold = case_arg == 0;
    return compare_units(
        a, b, flags, [](const uint8_t* r, uint32_t i) { return load<uint32_t>(r, i); },
        [fold](uint32_t c) { return fold ? case_::to_upper(c) : c; });
}

int32_t sort_compare_float32(const void* a, const void* b, uintptr_t, uint32_t flags) {
    return compare_floats<float>(a, b, flags);
}

int32_t sort_compare_float64(const void* a, const void* b, uintptr_t, uint32_t flags) {
    return compare_floats<double>(a, b, flags);
}

Cell* sort(Cell* series, const action::SortOptions& options) {
    Cell* const skip = options.skip;
    const bool all = options.all;
    Cell* const comparator = options.comparator;
    block::SortRange range;
    if (!block::sort_range(series, options.part, skip, all, range)) return series;
    const int64_t index = range.index, size = range.size;
    int64_t records = range.records;

    Buffer* b = memory::buffer(series->w2);
    const uint32_t unit = b->unit();
    const bool vector = cell::type(series) == kTypeVector;
    sort::Compare compare;
    if (vector && series->w3 == kTypeFloat && (unit == 4 || unit == 8)) {
        compare = unit == 4 ? sort_compare_float32 : sort_compare_float64;
    } else {
        switch (unit) {
        case 1:
            compare = sort_compare_latin1;
            break;
        case 2:
            compare = sort_compare_ucs2;
            break;
        case 4:
            compare = sort_compare_ucs4;
            break;
        default:
            runtime::quit(runtime::kErrorNoSwitch, ZAN_CALLER_ADDRESS());
        }
    }
    uintptr_t op = vector || options.case_ ? 2 : 0;
    uint32_t flags = options.reverse ? kReverse : 0;
    bool user = false;
    if (comparator) {
        switch (cell::type(comparator)) {
        case kTypeFunction:
            block::check_comparator(comparator);
            user = true;
            flags |= unit << 2;
            if (all && skip) flags |= kWholeRecord | static_cast<uint32_t>(size << 5);
            break;
        case kTypeInteger:
            flags |= block::sort_field_flags(comparator, skip, all, size);
            break;
        default:
            series::invalid_refine(refinements::refinement.compare, comparator);
        }
    } else if (all) {
        flags |= kWholeRecord | static_cast<uint32_t>(size << 2);
    }

    const bool owned =
        series::notify(series, ownership::Action::sort, nullptr, static_cast<int32_t>(index), 0);
    if (owned) {
        // The owner's handler may have shortened the text or changed its width.
        b = memory::buffer(series->w2);
        if (b->unit() != unit) error::fire(error::kScript, error::script::protected_);
        const int64_t available = static_cast<int64_t>(b->length()) - index;
        records = std::clamp<int64_t>(available / size, 0, records);
    }
    const auto width = static_cast<int32_t>(size * unit);
    const auto count = static_cast<int32_t>(records);
    if (!user) {
        // The comparators allocate nothing: the records are sorted where they are.
        b = memory::buffer(series->w2);
        uint8_t* first = b->at_head() + index * unit;
        if (options.stable)
            sort::merge(first, count, width, op, flags, compare);
        else
            sort::quick(first, count, width, op, flags, compare);
    } else {
        // The function may collect and move the text: a private copy of the records is
        // sorted, and goes back only when the text was left alone.
        if (flags & kWholeRecord) reserve_record_strings(static_cast<uint32_t>(width));
        b = memory::buffer(series->w2);
        std::vector<uint8_t> copy(b->at_head() + index * unit,
                                  b->at_head() + index * unit + int64_t{count} * width);
        Callback callback{comparator, series, b->length(), unit};
        op = reinterpret_cast<uintptr_t>(&callback);
        if (options.stable)
            sort::merge(copy.data(), count, width, op, flags, sort_call_compare);
        else
            sort::quick(copy.data(), count, width, op, flags, sort_call_compare);
        check_unchanged(callback);
        std::memcpy(memory::buffer(series->w2)->at_head() + index * unit, copy.data(), copy.size());
    }
    if (owned)
        series::notify(series, ownership::Action::sorted, nullptr, static_cast<int32_t>(index), 0);
    return series;
}

} // namespace string
