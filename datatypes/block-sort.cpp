// block! sort: refinement checks, the flags word, and the two comparison callbacks that the
// record sorts of runtime-core/sort.h call.
#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/dispatch.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/signature.h"
#include "datatypes/words.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/root.h"
#include "runtime-core/sort.h"
#include "runtime-core/support.h"
#include "runtime-core/type-traits.h"

using memory::Buffer;

namespace block {

namespace {

constexpr uint32_t kReverse = 1;
constexpr uint32_t kWholeRecord = 2;
constexpr uint32_t kCell = sizeof(Cell);
// Record blocks used for records of this size or more are given back after the sort.
constexpr int64_t kReleaseBytes = 2097152;

FunctionCaller function_caller = nullptr;

// The two blocks that carry whole records to a user comparator (/all with /skip): cells of
// the root block, made on first use, grown as needed, reused by later sorts.
Cell* record_blocks[2] = {nullptr, nullptr};

// What the user comparator callback needs: the function, and the series as the sort found
// it.
struct Callback {
    const Cell* function;
    uint32_t node;
    const Buffer* buffer;
    uint32_t head;
    uint32_t tail;
};

[[noreturn]] void bad_refines() {
    error::fire(error::kScript, error::script::bad_refines);
}

// The argument count of a function: the arguments of its spec before the first refinement.
// With `push`, the frame cells after the arguments are pushed as absent
// (signature::push_optional).
int32_t refinement_slots(const Cell* function, bool push) {
    const auto arguments = static_cast<int32_t>(signature::view(function).required());
    if (push) signature::push_optional(function);
    return arguments;
}

// Makes the record blocks hold at least `cells` cells. May collect.
void reserve_record_blocks(uint32_t cells) {
    for (Cell*& block : record_blocks) {
        if (!block) {
            block = root::alloc_tail();
            make_at(block, static_cast<int32_t>(cells));
        }
        Buffer* b = memory::buffer(block->w2);
        if (b->size < cells * kCell) memory::expand_series(b, cells * kCell);
    }
}

// Fills a record block with `cells` cells from `record`.
const Cell* load_record(Cell* block, const Cell* record, uint32_t cells) {
    Buffer* b = memory::buffer(block->w2);
    b->head = 0;
    b->tail = cells * kCell;
    std::memcpy(static_cast<void*>(b->data()), record, cells * kCell);
    block->w1 = 0;
    return block;
}

// A user comparator may not change the series it sorts (the sort would put back records the
// series no longer holds): its buffer, head and tail must be as the sort found them.
void check_unchanged(const Callback& callback) {
    const Buffer* now = memory::find_buffer(callback.node);
    if (!now || now != callback.buffer || now->head != callback.head || now->tail != callback.tail)
        error::fire(error::kScript, error::script::protected_);
}

// The user comparator: b then a (a then b with the reverse bit), with whole records two
// record blocks instead.
int32_t sort_call_compare(const void* a, const void* b, uintptr_t op, uint32_t flags) {
    const auto* callback = reinterpret_cast<const Callback*>(op);
    const auto* x = static_cast<const Cell*>(a);
    const auto* y = static_cast<const Cell*>(b);
    const uint32_t k = flags >> 2;
    const Cell* first = flags & kReverse ? x : y;
    const Cell* second = flags & kReverse ? y : x;
    if ((flags & kWholeRecord) && k > 0) {
        first = load_record(record_blocks[0], first, k);
        second = load_record(record_blocks[1], second, k);
    }
    const int32_t answer = call_comparator(callback->function, *first, *second);
    check_unchanged(*callback);
    return answer;
}

// One pair of cells; values that cannot be compared order by type id.
int32_t compare_pair(const Cell* x, const Cell* y, int32_t op) {
    int32_t r = compare_cells(x, y, op);
    if (r == action::kNotComparable) r = cell::type(x) - cell::type(y);
    return r;
}

// Records that are single integer! cells compare by value alone: they are ordered here
// directly, by a least-significant-digit radix sort on the values (three passes of 11 bits),
// which keeps equal values in their order (an outcome the general sorts allow too). False,
// touching nothing, when a record holds another type.
bool sort_integers(Cell* first, int32_t count, bool reverse) {
    for (int32_t i = 0; i < count; ++i)
        if (cell::type(first + i) != kTypeInteger) return false;
    if (count < 2) return true;
    // The key orders signed values as unsigned ones; reversed, the order turns round.
    const uint32_t flip = reverse ? 0x7FFFFFFFu : 0x80000000u;
    auto key = [flip](const Cell& c) { return c.w2 ^ flip; };
    constexpr uint32_t kBits = 11, kBuckets = 1u << kBits;
    std::vector<Cell> spare(static_cast<size_t>(count));
    Cell* from = first;
    Cell* to = spare.data();
    std::vector<uint32_t> start(kBuckets);
    for (uint32_t shift = 0; shift < 32; shift += kBits) {
        std::fill(start.begin(), start.end(), 0u);
        for (int32_t i = 0; i < count; ++i) ++start[(key(from[i]) >> shift) & (kBuckets - 1)];
        // A pass whose digit is the same for every value leaves the order as it is.
        if (start[(key(from[0]) >> shift) & (kBuckets - 1)] == static_cast<uint32_t>(count))
            continue;
        uint32_t sum = 0;
        for (uint32_t& n : start) sum += std::exchange(n, sum);
        for (int32_t i = 0; i < count; ++i)
            to[start[(key(from[i]) >> shift) & (kBuckets - 1)]++] = from[i];
        std::swap(from, to);
    }
    if (from != first) std::copy(from, from + count, first);
    return true;
}

} // namespace

namespace detail {
void reset_sort_scratch() {
    record_blocks[0] = record_blocks[1] = nullptr;
}
} // namespace detail

void set_function_caller(FunctionCaller caller) {
    function_caller = caller;
}

int32_t comparator_answer(const Cell* result) {
    switch (cell::type(result)) {
    case kTypeLogic:
        return logic::get(result) ? 1 : -1;
    case kTypeInteger:
        return static_cast<int32_t>(result->w2);
    case kTypeFloat: {
        double d;
        std::memcpy(&d, &result->w2, sizeof d);
        return d > 0.0 ? 1 : d < 0.0 ? -1 : 0;
    }
    case kTypeNone:
        return -1;
    default:
        return 1;
    }
}

void check_comparator(const Cell* function) {
    // The frame holds exactly the two values and the absent refinements.
    if (refinement_slots(function, false) != 2)
        series::invalid_refine(refinements::refinement.compare, function);
    if (!function_caller) error::fire(error::kInternal, error::internal::not_done);
}

int32_t call_comparator(const Cell* function, const Cell& first, const Cell& second) {
    stack::FrameGuard guard;
    Cell* result = stack::push_cell();
    *result = Cell{kTypeUnset, 0, 0, 0};
    stack::push(first);
    stack::push(second);
    refinement_slots(function, true);
    stack::arguments = result;
    function_caller(function);
    return comparator_answer(result);
}

int32_t sort_compare(const void* a, const void* b, uintptr_t op, uint32_t flags) {
    const auto* x = static_cast<const Cell*>(a);
    const auto* y = static_cast<const Cell*>(b);
    if (flags & kReverse) std::swap(x, y);
    const uint32_t k = flags >> 2;
    const auto code = static_cast<int32_t>(op);
    if (!(flags & kWholeRecord)) return compare_pair(x + k, y + k, code);
    for (uint32_t i = 0; i < k; ++i)
        if (int32_t r = compare_pair(x + i, y + i, code)) return r;
    return 0;
}

uint32_t sort_field_flags(const Cell* comparator, const Cell* skip, bool all, int64_t size) {
    if (!skip || all) bad_refines();
    const auto offset = static_cast<int32_t>(comparator->w2);
    if (offset < 1 || offset > size)
        error::fire(error::kScript, error::script::out_of_range, {comparator});
    return static_cast<uint32_t>(offset - 1) << 2;
}

bool sort_range(Cell* series, Cell* part, Cell* skip, bool all, SortRange& range) {
    int64_t n = series::get_length(series, false);
    if (n <= 0) return false;
    int64_t index = series::clamped_index(series);
    if (part) {
        const int64_t p = series::part_count(series, part);
        if (p < n) n = p;
        if (n < 0) {
            // A negative part sorts what stands before the index.
            index += n;
            n = -n;
            if (index < 0) {
                index = 0;
                n = 0;
            }
            series->w1 = static_cast<uint32_t>(index);
        }
    }
    if (n == 0) return false;
    int64_t size = 1;
    if (skip) {
        if (cell::type(skip) != kTypeInteger)
            series::invalid_refine(refinements::refinement.skip, skip);
        size = static_cast<int32_t>(skip->w2);
        if (size < 1 || n % size != 0 || n < size)
            series::invalid_refine(refinements::refinement.skip, skip);
    }
    if (all && !skip) bad_refines();
    range = SortRange{index, size, n / size};
    return true;
}

Cell* sort(Cell* series, const action::SortOptions& options) {
    Cell* const skip = options.skip;
    const bool all = options.all;
    SortRange range;
    if (!sort_range(series, options.part, skip, all, range)) return series;
    const int64_t index = range.index, size = range.size;
    int64_t records = range.records;

    uint32_t flags = options.reverse ? kReverse : 0;
    uintptr_t op = options.case_ ? action::op::case_sort : action::op::sort;
    sort::Compare compare = sort_compare;
    bool user = false;
    if (options.comparator) {
        switch (cell::type(options.comparator)) {
        case kTypeFunction:
            check_comparator(options.comparator);
            user = true;
            if (all && skip) {
                flags |= kWholeRecord | static_cast<uint32_t>(size << 2);
                reserve_record_blocks(static_cast<uint32_t>(size));
            }
            break;
        case kTypeInteger:
            flags |= sort_field_flags(options.comparator, skip, all, size);
            break;
        default:
            series::invalid_refine(refinements::refinement.compare, options.comparator);
        }
    } else if (all) {
        flags |= kWholeRecord | static_cast<uint32_t>(size << 2);
    }

    const bool owned =
        series::notify(series, ownership::Action::sort, nullptr, static_cast<int32_t>(index), 0);
    if (owned) {
        const int64_t available = static_cast<int64_t>(series::total_units(series)) - index;
        records = std::clamp<int64_t>(available / size, 0, records);
    }
    {
        // No collection may move the records or change node ids while the sort holds them.
        NoGcScope pin;
        Buffer* b = memory::buffer(series->w2);
        Cell* first = b->cells() + index;
        const auto width = static_cast<int32_t>(size * kCell);
        const auto count = static_cast<int32_t>(records);
        // User code could still replace the buffer (by growing the series): a user comparator
        // sorts a private copy, which goes back only if the series was left alone.
        std::vector<Cell> copy;
        Callback callback{options.comparator, series->w2, b, b->head, b->tail};
        if (user) {
            copy.assign(first, first + records * size);
            first = copy.data();
            op = reinterpret_cast<uintptr_t>(&callback);
            compare = sort_call_compare;
        }
        if (user || size != 1 || !sort_integers(first, count, flags & kReverse)) {
            if (options.stable)
                sort::merge(first, count, width, op, flags, compare);
            else
                sort::quick(first, count, width, op, flags, compare);
        }
        if (user) {
            check_unchanged(callback);
            std::memcpy(static_cast<void*>(memory::buffer(series->w2)->cells() + index),
                        copy.data(), copy.size() * kCell);
        }
    }
    if ((flags & kWholeRecord) && user && size * kCell >= kReleaseBytes) {
        for (Cell* block : record_blocks) make_at(block, 1);
    }
    const auto sorted = static_cast<uint32_t>(records * size);
    series::rehash(series, static_cast<uint32_t>(index), sorted, sorted);
    if (owned)
        series::notify(series, ownership::Action::sorted, nullptr, static_cast<int32_t>(index), 0);
    return series;
}

} // namespace block
