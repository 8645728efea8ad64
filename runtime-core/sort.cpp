#include "runtime-core/sort.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "runtime-core/error-ids.h"
#include "runtime-core/support.h"
#include "runtime-core/throw.h"

namespace sort {

namespace {

constexpr size_t kMinRun = 24;
constexpr size_t kProbeStep = 10;      // quicksort: distance between run probes
constexpr size_t kEstimateStride = 97; // quicksort: one pair in 97 votes on the direction
constexpr size_t kSmallRange = 7;      // quicksort: ranges this small use insertion sort
// Upper-part recursions nest this deep only on hostile input (a comparator that answers
// so as to make every pivot bad). Beyond it the quicksort recurses into the smaller part
// and loops on the larger, which gives the same records in the same places and bounds the
// native stack.
constexpr int kDeepRecursion = 96;

// The merge sort's own failures, raised before any record is touched.
[[noreturn]] void fail(Failure failure) {
    if (failure == Failure::kTooLong) error::fire(error::kScript, error::script::too_long);
    error::fire(error::kInternal, error::internal::no_memory);
}

void swap_bytes(uint8_t* x, uint8_t* y, size_t width) {
    for (size_t i = 0; i < width; ++i) std::swap(x[i], y[i]);
}

void swap_words(uint8_t* x, uint8_t* y, size_t width) {
    size_t i = 0;
    for (; i + 4 <= width; i += 4) {
        uint32_t a, b;
        std::memcpy(&a, x + i, 4);
        std::memcpy(&b, y + i, 4);
        std::memcpy(x + i, &b, 4);
        std::memcpy(y + i, &a, 4);
    }
    swap_bytes(x + i, y + i, width - i);
}

// Record access for a width known at compile time (W > 0), which turns copies and
// exchanges into register moves, or given at run time (W == 0).
template <size_t W> struct Records {
    uint8_t* base;
    size_t run_time_width;
    bool bytewise;

    size_t width() const {
        if constexpr (W != 0)
            return W;
        else
            return run_time_width;
    }
    uint8_t* at(size_t i) const { return base + i * width(); }
    size_t index(const uint8_t* p) const { return static_cast<size_t>(p - base) / width(); }
    void copy(uint8_t* to, const uint8_t* from) const { std::memcpy(to, from, width()); }
    void exchange(uint8_t* x, uint8_t* y) const {
        if constexpr (W != 0) {
            uint8_t t[W];
            std::memcpy(t, x, W);
            std::memcpy(x, y, W);
            std::memcpy(y, t, W);
        } else if (bytewise) {
            swap_bytes(x, y, run_time_width);
        } else {
            swap_words(x, y, run_time_width);
        }
    }
    void reverse(uint8_t* first, uint8_t* last) const { // both included
        while (first < last) {
            exchange(first, last);
            first += width();
            last -= width();
        }
    }
};

// The callback with its pass-through arguments. Hot loops take a local copy so that the
// three words stay in registers across the calls.
struct Comparator {
    Compare function;
    uintptr_t op;
    uint32_t flags;
    int32_t operator()(const uint8_t* x, const uint8_t* y) const {
        return function(x, y, op, flags);
    }
};

template <size_t W> class MergeSort {
public:
    MergeSort(uint8_t* base, size_t count, const MergeContext& context, uint8_t* buffer)
        : rec_{base, static_cast<size_t>(context.width), context.width % 4 != 0},
          count_(count), compare_{context.compare, context.op, context.flags}, buffer_(buffer) {}

    uint8_t* find_run(uint8_t* start, uint8_t* end) const {
        const Comparator compare = compare_;
        const size_t w = rec_.width();
        uint8_t* p = start + w;
        if (p >= end) return end;
        if (compare(start, p) > 0) {
            while (p + w < end && compare(p, p + w) > 0) p += w;
            rec_.reverse(start, p);
        } else {
            while (p + w < end && compare(p, p + w) <= 0) p += w;
        }
        return p + w;
    }

    // When the comparator throws, the records still in the buffer are put back into the gap
    // that the merge left, so that the records stay a permutation of the input.
    void merge_runs(uint8_t* first, uint8_t* middle, uint8_t* last) const {
        const Comparator compare = compare_;
        const size_t w = rec_.width();
        const size_t left = static_cast<size_t>(middle - first) / w;
        const size_t right = static_cast<size_t>(last - middle) / w;
        if (right < left) {
            // Keep the right run aside and fill from the back.
            std::memcpy(buffer_, middle, right * w);
            // The free places lie between the left records not yet placed (up to l) and the
            // placed ones; there are as many as buffer records not yet placed (up to b).
            uint8_t* l = middle;
            uint8_t* b = buffer_ + right * w;
            try {
                while (b > buffer_ && l > first) {
                    uint8_t* const d = l + (b - buffer_) - w;
                    if (compare(l - w, b - w) <= 0) {
                        b -= w;
                        rec_.copy(d, b);
                    } else {
                        l -= w;
                        rec_.copy(d, l);
                    }
                }
            } catch (...) {
                std::memcpy(l, buffer_, static_cast<size_t>(b - buffer_));
                throw;
            }
            std::memcpy(first, buffer_, static_cast<size_t>(b - buffer_)); // left run used up
        } else {
            // Keep the left run aside and fill from the front.
            std::memcpy(buffer_, first, left * w);
            // The free places end where the right records not yet placed begin (r); there are
            // as many as buffer records not yet placed (from b).
            uint8_t* b = buffer_;
            uint8_t* const b_end = buffer_ + left * w;
            uint8_t* r = middle;
            try {
                while (b < b_end && r < last) {
                    uint8_t* const d = r - (b_end - b);
                    if (compare(b, r) <= 0) {
                        rec_.copy(d, b);
                        b += w;
                    } else {
                        rec_.copy(d, r);
                        r += w;
                    }
                }
            } catch (...) {
                std::memcpy(r - (b_end - b), b, static_cast<size_t>(b_end - b));
                throw;
            }
            std::memcpy(r - (b_end - b), b, static_cast<size_t>(b_end - b));
        }
    }

    // The natural run from `start`, extended by insertion to the minimum run length: each
    // further record moves left past the records that compare above it. The moving record
    // waits in the (still unused) merge buffer while its neighbours shift right, which gives
    // the same comparisons and result as adjacent exchanges without a chain of stores and
    // reloads; if the comparator throws, it goes back into the hole.
    size_t next_run(size_t start) const {
        const Comparator compare = compare_;
        const size_t w = rec_.width();
        uint8_t* const first = rec_.at(start);
        uint8_t* const wanted = rec_.at(std::min(start + kMinRun, count_));
        uint8_t* const moving = buffer_;
        uint8_t* end = find_run(first, rec_.at(count_));
        for (; end < wanted; end += w) {
            rec_.copy(moving, end);
            uint8_t* hole = end;
            try {
                while (hole > first && compare(hole - w, moving) > 0) {
                    rec_.copy(hole, hole - w);
                    hole -= w;
                }
            } catch (...) {
                rec_.copy(hole, moving);
                throw;
            }
            rec_.copy(hole, moving);
        }
        return rec_.index(end);
    }

    // Powersort: the power of the boundary between run [s1, s2) and run [s2, e2).
    int power(size_t s1, size_t s2, size_t e2) const {
        const uint64_t n = count_;
        uint64_t a = s1 + s2, b = s2 + e2;
        int p = 0;
        while ((a < n) == (b < n)) {
            ++p;
            if (a >= n) {
                a -= n;
                b -= n;
            }
            a *= 2;
            b *= 2;
        }
        return p + 1;
    }

    void run() {
        struct Entry {
            size_t start;
            int power;
        };
        // Powers on the stack strictly increase and stay below the bit length of a 32-bit
        // count; the bottom entry (power 0) is a sentinel that is never popped.
        Entry stack[40] = {};
        int top = 0;
        size_t s1 = 0;
        size_t e1 = next_run(0);
        while (e1 < count_) {
            const size_t s2 = e1;
            const size_t e2 = next_run(s2);
            const int p = power(s1, s2, e2);
            while (stack[top].power > p) {
                merge_runs(rec_.at(stack[top].start), rec_.at(s1), rec_.at(e1));
                s1 = stack[top].start;
                --top;
            }
            if (top + 1 == static_cast<int>(std::size(stack))) { // cannot happen; stay safe
                merge_runs(rec_.at(stack[top].start), rec_.at(s1), rec_.at(e1));
                s1 = stack[top--].start;
            }
            stack[++top] = {s1, p};
            s1 = s2;
            e1 = e2;
        }
        for (; top > 0; --top) {
            merge_runs(rec_.at(stack[top].start), rec_.at(s1), rec_.at(count_));
            s1 = stack[top].start;
        }
    }

private:
    Records<W> rec_;
    size_t count_;
    Comparator compare_;
    uint8_t* buffer_;
};

template <size_t W>
void merge_sort(uint8_t* base, size_t count, const MergeContext& context, uint8_t* buffer) {
    MergeSort<W>(base, count, context, buffer).run();
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// The quicksort over one range of records; `depth` counts nested upper-part recursions.
class QuickSort {
public:
    QuickSort(int32_t width, uintptr_t op, uint32_t flags, Compare compare)
        : width_(static_cast<size_t>(width)), bytewise_(width % 4 != 0), op_(op), flags_(flags),
          compare_(compare) {}

    int32_t compare(const uint8_t* base, size_t i, size_t j) const {
        return compare_(base + i * width_, base + j * width_, op_, flags_);
    }
    void exchange(uint8_t* base, size_t i, size_t j) const {
        uint8_t* x = base + i * width_;
        uint8_t* y = base + j * width_;
        if (bytewise_)
            swap_bytes(x, y, width_);
        else
            swap_words(x, y, width_);
    }

    void sort(uint8_t* base, size_t count) const;
    void partition(uint8_t* base, int64_t sample, size_t count, int depth) const;

private:
    void insertion_sort(uint8_t* base, size_t count) const {
        for (size_t k = 1; k < count; ++k)
            for (size_t j = k; j > 0 && compare(base, j - 1, j) > 0; --j) exchange(base, j - 1, j);
    }

    size_t width_;
    bool bytewise_;
    uintptr_t op_;
    uint32_t flags_;
    Compare compare_;
};

// With direction +1 (ascending) a pair agrees when it compares at most 0; with -1 at least 0.
bool agrees(int direction, int32_t c) {
    return direction > 0 ? c <= 0 : c >= 0;
}

void QuickSort::sort(uint8_t* base, size_t count) const {
    // 1. The sorted prefix: equal pairs first, then the first unequal pair sets the direction.
    size_t i = 0;
    int32_t c = 0;
    while (i + 1 < count && (c = compare(base, i, i + 1)) == 0) ++i;
    if (i + 1 >= count) return; // every record equal
    int direction = c < 0 ? 1 : -1;
    size_t last = i + 1; // the prefix is records 0..last
    while (last + 1 < count && agrees(direction, compare(base, last, last + 1))) ++last;

    // 2. Estimate how presorted the rest is from a sparse sample of pairs.
    int64_t estimate =
        direction > 0 ? static_cast<int64_t>(last + 1) : -static_cast<int64_t>(last + 1);
    for (size_t p = last + kEstimateStride; p + 1 < count; p += kEstimateStride) {
        c = compare(base, p, p + 1);
        if (c < 0)
            ++estimate;
        else if (c > 0)
            --estimate;
    }

    // 3. Mostly presorted: grow the prefix from runs found further on.
    if (static_cast<uint64_t>(estimate < 0 ? -estimate : estimate) > count / 512) {
        if ((estimate > 0) != (direction > 0)) {
            last = 0;
            direction = -direction;
        }
        size_t probe = last;
        for (;;) {
            probe += kProbeStep;
            if (probe >= count) break;
            size_t hi = probe;
            while (hi < count && agrees(direction, compare(base, hi - 1, hi))) ++hi;
            size_t lo = probe - 1;
            while (lo > last + 1 && agrees(direction, compare(base, lo - 1, lo))) --lo;
            probe = hi;
            const size_t length = hi - lo;
            if (length < 4) continue;
            size_t write = last;
            if (last > 0) {
                // Give up as few records as needed so that prefix and run join in order.
                const size_t k = std::min(length / 2, last / 4);
                size_t n = 0;
                while (n < k && !agrees(direction, compare(base, last - n, lo + n))) ++n;
                if (n == k) continue;
                write = last - n + 1;
                lo += n;
            }
            if (lo == write) {
                last = hi - 1;
            } else {
                for (size_t j = 0; lo + j < hi; ++j) exchange(base, write + j, lo + j);
                last = write + (hi - lo) - 1;
            }
        }
    }

    // 4. A descending prefix is turned round.
    if (direction < 0)
        for (size_t a = 0, b = last; a < b; ++a, --b) exchange(base, a, b);

    // 5. Sort the rest around the prefix.
    if (last + 1 < count) partition(base, static_cast<int64_t>(last + 1), count, 0);
}

void QuickSort::partition(uint8_t* base, int64_t sample, size_t count, int depth) const {
    for (;;) {
        if (count <= kSmallRange) {
            insertion_sort(base, count);
            return;
        }
        const size_t h = static_cast<size_t>(sample < 0 ? -sample : sample);
        if (h >= count) return; // the sample is the whole range
        size_t region, lower, upper, pivot, scan_end;
        if (h < 3) {
            // Median of three from the region's first, middle and last records.
            region = count > 511 ? 63 : count;
            const size_t end = region - 1;
            exchange(base, region / 2, 1);
            if (compare(base, 0, 1) > 0) exchange(base, 0, 1);
            if (compare(base, 1, end) > 0) {
                exchange(base, 1, end);
                if (compare(base, 0, 1) > 0) exchange(base, 0, 1);
            }
            pivot = 1;
            lower = 1;
            upper = 1;
            scan_end = region - 2;
        } else {
            // The pivot is the median of the sorted sample; the sample's halves stand at the
            // region's two ends and need no scanning.
            region = h <= count / 256 ? 16 * h - 1 : count;
            if (sample < 0 && region == count) {
                const size_t from = count - h;
                for (size_t j = 0; j < (h + 1) / 2; ++j) exchange(base, j, from + j);
            } else {
                if (sample < 0)
                    for (size_t j = 0; j < h; ++j) exchange(base, j, count - h + j);
                if (region < count) {
                    const size_t stride = count / region;
                    for (size_t j = 1; j < region - h; ++j) exchange(base, h + j, h + j * stride);
                }
                // From the top down, so that overlapping ranges keep the sample whole.
                for (size_t j = 0; j < h / 2; ++j) exchange(base, h - 1 - j, region - 1 - j);
            }
            lower = (h - 1) / 2;
            upper = h / 2;
            pivot = lower;
            scan_end = pivot + region - h;
        }

        // Partition [pivot + 1, right]: records below the pivot gather after the block of
        // records equal to it ([pivot, e)), records above it go right.
        int64_t i = static_cast<int64_t>(pivot) + 1;
        int64_t e = i;
        int64_t right = static_cast<int64_t>(scan_end);
        while (i <= right) {
            int32_t c = 0;
            while (i <= right && (c = compare(base, i, pivot)) < 0) ++i;
            if (i > right) break;
            if (c == 0) {
                if (i != e) exchange(base, i, e);
                ++e;
                ++i;
                continue;
            }
            while (right >= i && (c = compare(base, right, pivot)) > 0) --right;
            if (right <= i) break;
            exchange(base, i, right);
            if (c == 0) {
                if (i != e) exchange(base, i, e);
                ++e;
            }
            ++i;
            --right;
        }

        // Move the equal block between the lesser and the greater records.
        const size_t equal = static_cast<size_t>(e) - pivot;
        const size_t less = static_cast<size_t>(i - e);
        const size_t moved = std::min(equal, less);
        for (size_t j = 0; j < moved; ++j)
            exchange(base, pivot + j, static_cast<size_t>(i) - moved + j);

        uint8_t* const upper_base = base + static_cast<size_t>(i) * width_;
        const size_t upper_count = region - static_cast<size_t>(i);
        const size_t lower_count = pivot + less;
        const int64_t upper_sample = -static_cast<int64_t>(upper);
        if (region < count) {
            // Sort the region, which then serves as the sample of the next pass.
            if (upper_count > upper) partition(upper_base, upper_sample, upper_count, depth + 1);
            if (lower_count > lower)
                partition(base, static_cast<int64_t>(lower), lower_count, depth + 1);
            sample = static_cast<int64_t>(region);
            continue;
        }
        if (depth >= kDeepRecursion && upper_count > lower_count) {
            if (lower_count > lower)
                partition(base, static_cast<int64_t>(lower), lower_count, depth + 1);
            if (upper_count <= upper) return;
            base = upper_base;
            count = upper_count;
            sample = upper_sample;
            continue;
        }
        if (upper_count > upper) partition(upper_base, upper_sample, upper_count, depth + 1);
        if (lower_count <= lower) return;
        count = lower_count;
        sample = static_cast<int64_t>(lower);
    }
}

} // namespace

void swap(void* x, void* y, int32_t width, bool bytewise) {
    if (width <= 0) return;
    if (bytewise)
        swap_bytes(static_cast<uint8_t*>(x), static_cast<uint8_t*>(y), width);
    else
        swap_words(static_cast<uint8_t*>(x), static_cast<uint8_t*>(y), width);
}

uint8_t* find_run(uint8_t* start, uint8_t* end, int32_t width, uintptr_t op, uint32_t flags,
                  Compare compare) {
    if (width <= 0 || end <= start) return start;
    const MergeContext context{width, op, flags, compare};
    return MergeSort<0>(start, 0, context, nullptr).find_run(start, end);
}

void merge_runs(uint8_t* first, uint8_t* middle, uint8_t* last, uint8_t* buffer,
                const MergeContext& context) {
    if (context.width <= 0 || middle <= first || last <= middle) return;
    MergeSort<0>(first, 0, context, buffer).merge_runs(first, middle, last);
}

void merge(void* base, int32_t count, int32_t width, uintptr_t op, uint32_t flags,
           Compare compare) {
    if (count < 2 || width < 1) return;
    const uint64_t bytes = static_cast<uint64_t>(count / 2) * static_cast<uint64_t>(width);
    if (bytes > 0xFFFFFFFFu) fail(Failure::kTooLong);
    // Freed on every way out, also when the comparator throws.
    std::unique_ptr<uint8_t, FreeDeleter> buffer(
        static_cast<uint8_t*>(std::malloc(static_cast<size_t>(bytes))));
    if (!buffer) fail(Failure::kNoMemory);

    const MergeContext context{width, op, flags, compare};
    auto* records = static_cast<uint8_t*>(base);
    const auto n = static_cast<size_t>(count);
    switch (width) {
    case 4:
        merge_sort<4>(records, n, context, buffer.get());
        break;
    case 8:
        merge_sort<8>(records, n, context, buffer.get());
        break;
    case 16:
        merge_sort<16>(records, n, context, buffer.get());
        break;
    default:
        merge_sort<0>(records, n, context, buffer.get());
        break;
    }
}

void quick(void* base, int32_t count, int32_t width, uintptr_t op, uint32_t flags,
           Compare compare) {
    if (count < 2 || width < 1) return;
    QuickSort(width, op, flags, compare).sort(static_cast<uint8_t*>(base), count);
}

void quick_partition(void* base, int32_t sample, int32_t count, int32_t width, uintptr_t op,
                     uint32_t flags, Compare compare) {
    if (count < 2 || width < 1) return;
    QuickSort(width, op, flags, compare)
        .partition(static_cast<uint8_t*>(base), sample, static_cast<size_t>(count), 0);
}

} // namespace sort
