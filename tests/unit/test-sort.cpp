#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "runtime-core/error-ids.h"
#include "runtime-core/sort.h"
#include "runtime-core/support.h"
#include "runtime-core/throw.h"

namespace {

// Records of `width` bytes: an unsigned little-endian key in the first min(width, 4) bytes,
// then the record's input position (as far as it fits) so that stability is visible.
struct Records {
    int width;
    std::vector<uint8_t> bytes;

    int32_t count() const { return static_cast<int32_t>(bytes.size() / width); }
    uint8_t* at(int i) { return bytes.data() + static_cast<size_t>(i) * width; }
    const uint8_t* at(int i) const { return bytes.data() + static_cast<size_t>(i) * width; }
    std::vector<uint8_t> record(int i) const { return {at(i), at(i) + width}; }
};

int key_bytes(int width) {
    return std::min(width, 4);
}

uint32_t key_of(const uint8_t* record, int width) {
    uint32_t key = 0;
    std::memcpy(&key, record, key_bytes(width));
    return key;
}

Records make_records(int width, const std::vector<uint32_t>& keys) {
    Records r{width, std::vector<uint8_t>(keys.size() * width)};
    for (size_t i = 0; i < keys.size(); ++i) {
        uint8_t* p = r.at(static_cast<int>(i));
        std::memcpy(p, &keys[i], key_bytes(width));
        for (int b = key_bytes(width); b < width; ++b)
            p[b] = static_cast<uint8_t>(i >> (8 * ((b - key_bytes(width)) % 4)));
    }
    return r;
}

// The comparator under test: compares keys, counts its calls and checks that op and flags
// arrive unchanged.
struct CompareState {
    int width;
    long calls = 0;
    long throw_at = -1; // throw on this call (1-based); -1 never
    bool throw_thrown = true;
};
constexpr uint32_t kFlags = 0xA5A50003u;

int32_t compare_keys(const void* x, const void* y, uintptr_t op, uint32_t flags) {
    auto* state = reinterpret_cast<CompareState*>(op);
    EXPECT_EQ(flags, kFlags);
    if (++state->calls == state->throw_at) {
        if (state->throw_thrown) runtime::throw_code(runtime::kThrowError);
        throw std::runtime_error("comparator failed");
    }
    const uint32_t a = key_of(static_cast<const uint8_t*>(x), state->width);
    const uint32_t b = key_of(static_cast<const uint8_t*>(y), state->width);
    return (a > b) - (a < b);
}

long run_merge(Records& r, CompareState& state) {
    sort::merge(r.bytes.data(), r.count(), r.width, reinterpret_cast<uintptr_t>(&state), kFlags,
                compare_keys);
    return state.calls;
}

long run_quick(Records& r, CompareState& state) {
    sort::quick(r.bytes.data(), r.count(), r.width, reinterpret_cast<uintptr_t>(&state), kFlags,
                compare_keys);
    return state.calls;
}

Records stable_oracle(const Records& in) {
    std::vector<int> order(in.count());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return key_of(in.at(a), in.width) < key_of(in.at(b), in.width);
    });
    Records out{in.width, {}};
    for (int i : order) out.bytes.insert(out.bytes.end(), in.at(i), in.at(i) + in.width);
    return out;
}

std::vector<std::vector<uint8_t>> as_multiset(const Records& r) {
    std::vector<std::vector<uint8_t>> all;
    for (int i = 0; i < r.count(); ++i) all.push_back(r.record(i));
    std::sort(all.begin(), all.end());
    return all;
}

bool keys_sorted(const Records& r) {
    for (int i = 1; i < r.count(); ++i)
        if (key_of(r.at(i - 1), r.width) > key_of(r.at(i), r.width)) return false;
    return true;
}

enum class Shape {
    kRandom,
    kFewKeys,
    kSorted,
    kReversed,
    kEqual,
    kNearlySorted,
    kPairsDown,
    kOrganPipe,
    kSawtooth
};
const Shape kShapes[] = {Shape::kRandom,    Shape::kFewKeys,   Shape::kSorted,
                         Shape::kReversed,  Shape::kEqual,     Shape::kNearlySorted,
                         Shape::kPairsDown, Shape::kOrganPipe, Shape::kSawtooth};

std::vector<uint32_t> make_keys(Shape shape, int n, int width, uint32_t seed) {
    std::mt19937 rng(seed);
    const uint32_t key_max = width >= 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1;
    std::vector<uint32_t> keys(n);
    for (int i = 0; i < n; ++i) {
        uint32_t k = 0;
        switch (shape) {
        case Shape::kRandom:
            k = rng();
            break;
        case Shape::kFewKeys:
            k = rng() % 4;
            break;
        case Shape::kSorted:
            k = static_cast<uint32_t>(i) * 3;
            break;
        case Shape::kReversed:
            k = static_cast<uint32_t>(n - i) * 3;
            break;
        case Shape::kEqual:
            k = 7;
            break;
        case Shape::kNearlySorted:
            k = static_cast<uint32_t>(i);
            break;
        case Shape::kPairsDown:
            k = static_cast<uint32_t>(n - i) / 2;
            break;
        case Shape::kOrganPipe:
            k = static_cast<uint32_t>(std::min(i, n - i));
            break;
        case Shape::kSawtooth:
            k = static_cast<uint32_t>(i % 37);
            break;
        }
        keys[i] = k & key_max;
    }
    if (shape == Shape::kNearlySorted && n > 1)
        for (int s = 0; s < 1 + n / 50; ++s) std::swap(keys[rng() % n], keys[rng() % n]);
    return keys;
}

std::string describe(Shape shape, int n, int width) {
    return "shape " + std::to_string(static_cast<int>(shape)) + ", " + std::to_string(n) +
           " records of " + std::to_string(width) + " bytes";
}

const int kWidths[] = {1, 2, 4, 6, 8, 12, 16, 24};
const int kSizes[] = {2, 3, 5, 7, 8, 9, 23, 24, 25, 48, 100, 511, 512, 513, 1000, 4097};

} // namespace

TEST(Sort, MergeSortEqualsStableSort) {
    for (int width : kWidths)
        for (Shape shape : kShapes)
            for (int n : kSizes) {
                Records r = make_records(width, make_keys(shape, n, width, n * 31 + width));
                const Records expected = stable_oracle(r);
                CompareState state{width};
                run_merge(r, state);
                ASSERT_TRUE(r.bytes == expected.bytes) << describe(shape, n, width);
            }
}

TEST(Sort, QuickSortGivesASortedPermutation) {
    for (int width : kWidths)
        for (Shape shape : kShapes)
            for (int n : kSizes) {
                Records r = make_records(width, make_keys(shape, n, width, n * 17 + width));
                const auto before = as_multiset(r);
                CompareState state{width};
                run_quick(r, state);
                ASSERT_TRUE(keys_sorted(r)) << describe(shape, n, width);
                ASSERT_TRUE(as_multiset(r) == before) << describe(shape, n, width);
            }
}

// Large ranges take the sampled partition: a sorted 63-record region grows into the sample
// of the whole range, spread through it when the range is at least 256 times the sample.
TEST(Sort, LargeInputsAcrossTheSamplingPaths) {
    for (int n : {20000, 70000})
        for (Shape shape :
             {Shape::kRandom, Shape::kFewKeys, Shape::kNearlySorted, Shape::kOrganPipe}) {
            Records r = make_records(16, make_keys(shape, n, 16, n + 1));
            Records q = r;
            const Records expected = stable_oracle(r);
            CompareState merge_state{16}, quick_state{16};
            run_merge(r, merge_state);
            EXPECT_TRUE(r.bytes == expected.bytes) << describe(shape, n, 16);
            run_quick(q, quick_state);
            EXPECT_TRUE(keys_sorted(q)) << describe(shape, n, 16);
            EXPECT_TRUE(as_multiset(q) == as_multiset(expected)) << describe(shape, n, 16);
        }
}

TEST(Sort, ZeroOrOneRecordCallsNothing) {
    for (int n : {0, 1, -5}) {
        uint8_t bytes[8] = {9, 8, 7, 6, 5, 4, 3, 2};
        CompareState state{4, 0, 1};
        const auto op = reinterpret_cast<uintptr_t>(&state);
        sort::merge(bytes, n, 4, op, kFlags, compare_keys);
        sort::quick(bytes, n, 4, op, kFlags, compare_keys);
        sort::quick_partition(bytes, 0, n, 4, op, kFlags, compare_keys);
        EXPECT_EQ(state.calls, 0);
        EXPECT_EQ(bytes[0], 9);
    }
}

// Already sorted or reversed input is one run for the merge sort and the whole prefix for
// the quicksort: one comparison per adjacent pair and nothing else.
TEST(Sort, SortedAndReversedInputCostOnePassOfComparisons) {
    const int n = 5000;
    for (Shape shape : {Shape::kSorted, Shape::kReversed, Shape::kEqual}) {
        Records a = make_records(8, make_keys(shape, n, 8, 1));
        Records b = a;
        const Records expected = stable_oracle(a);
        CompareState merge_state{8}, quick_state{8};
        EXPECT_EQ(run_merge(a, merge_state), n - 1) << describe(shape, n, 8);
        EXPECT_TRUE(a.bytes == expected.bytes);
        EXPECT_EQ(run_quick(b, quick_state), n - 1) << describe(shape, n, 8);
        EXPECT_TRUE(keys_sorted(b));
    }
}

TEST(Sort, QuickSortTakesA1000RecordInputSortedButForItsLastRecordFromThePrefix) {
    for (uint32_t last_key : {0u, 1500u, 5000u}) {
        std::vector<uint32_t> keys(1000);
        for (int i = 0; i < 999; ++i) keys[i] = 10 + i * 3;
        keys[999] = last_key;
        Records r = make_records(8, keys);
        CompareState state{8};
        // 999 comparisons find the prefix; placing one record costs a few per halving.
        EXPECT_LT(run_quick(r, state), 999 + 40);
        EXPECT_TRUE(keys_sorted(r));
        EXPECT_TRUE(as_multiset(r) == as_multiset(make_records(8, keys)));
    }
}

// A long presorted stretch with unsorted records scattered behind it: the runs after the
// prefix join it, and the partition only scans the records outside the sorted sample.
TEST(Sort, QuickSortGrowsThePrefixFromLaterRuns) {
    const int n = 20000;
    std::vector<uint32_t> keys(n);
    std::mt19937 rng(5);
    for (int i = 0; i < n; ++i) keys[i] = static_cast<uint32_t>(i) * 4;
    for (int i = 0; i < 40; ++i) keys[5000 + rng() % 15000] = rng() % (4 * n);
    Records presorted = make_records(4, keys);
    Records shuffled = presorted;
    std::shuffle(keys.begin(), keys.end(), rng);
    shuffled = make_records(4, keys);

    CompareState p{4}, s{4};
    const long presorted_calls = run_quick(presorted, p);
    const long shuffled_calls = run_quick(shuffled, s);
    EXPECT_TRUE(keys_sorted(presorted));
    EXPECT_TRUE(keys_sorted(shuffled));
    EXPECT_LT(presorted_calls * 5, shuffled_calls);
    EXPECT_LT(presorted_calls, 3 * n);
}

TEST(Sort, MergeSortKeepsEqualRecordsOfDescendingPairsInInputOrder) {
    // Keys 5 5 4 4 3 3 ...: a descending run stops at the first equal pair.
    const std::vector<uint32_t> keys = {5, 5, 4, 4, 3, 3, 2, 2, 1, 1, 0, 0};
    for (int width : {6, 8}) {
        Records r = make_records(width, keys);
        CompareState state{width};
        run_merge(r, state);
        for (int i = 0; i < r.count(); ++i) {
            EXPECT_EQ(key_of(r.at(i), width), static_cast<uint32_t>(i / 2));
            // The first of each pair stood first in the input.
            const int original = 10 - (i / 2) * 2 + (i % 2);
            EXPECT_EQ(r.at(i)[4], original) << "width " << width << " position " << i;
        }
    }
}

TEST(Sort, SwapExchangesExactlyTheRecordBytes) {
    for (int width = 1; width <= 17; ++width)
        for (bool bytewise : {true, false}) {
            // Offsets 1 and 11 give unaligned records.
            std::vector<uint8_t> bytes(40);
            std::iota(bytes.begin(), bytes.end(), 0);
            std::vector<uint8_t> expected = bytes;
            std::swap_ranges(expected.begin() + 1, expected.begin() + 1 + width,
                             expected.begin() + 21);
            sort::swap(bytes.data() + 1, bytes.data() + 21, width, bytewise);
            EXPECT_EQ(bytes, expected) << "width " << width << " bytewise " << bytewise;
        }
}

TEST(Sort, FindRunReversesAStrictlyDescendingRun) {
    const std::vector<uint32_t> keys = {9, 7, 4, 4, 1};
    Records r = make_records(8, keys);
    CompareState state{8};
    uint8_t* end = sort::find_run(r.at(0), r.at(5), 8, reinterpret_cast<uintptr_t>(&state), kFlags,
                                  compare_keys);
    EXPECT_EQ(end, r.at(3)); // 9 7 4, stopped by the equal pair
    EXPECT_EQ(key_of(r.at(0), 8), 4u);
    EXPECT_EQ(key_of(r.at(1), 8), 7u);
    EXPECT_EQ(key_of(r.at(2), 8), 9u);
    EXPECT_EQ(r.at(2)[4], 0); // the record that stood first
}

TEST(Sort, MergeRunsOfEitherShorterSideKeepEqualRecordsInOrder) {
    // Left run shorter, then right run shorter; the key 5 occurs on both sides.
    for (const auto& runs : {std::pair<std::vector<uint32_t>, int>{{1, 5, 5, 6, 8, 9}, 2},
                             std::pair<std::vector<uint32_t>, int>{{1, 5, 5, 9, 2, 5}, 4}}) {
        Records r = make_records(6, runs.first);
        CompareState state{6};
        std::vector<uint8_t> buffer(6 * 6);
        const sort::MergeContext context{6, reinterpret_cast<uintptr_t>(&state), kFlags,
                                         compare_keys};
        sort::merge_runs(r.at(0), r.at(runs.second), r.at(6), buffer.data(), context);
        const Records expected = stable_oracle(make_records(6, runs.first));
        EXPECT_TRUE(r.bytes == expected.bytes);
    }
}

// A comparator that throws leaves the records a permutation of the input (partly sorted,
// nothing lost or doubled) and the merge buffer freed (the leak checker of the sanitizer
// build watches that).
TEST(Sort, AThrowingComparatorLosesNoRecord) {
    const int n = 3000;
    const Records input = make_records(12, make_keys(Shape::kRandom, n, 12, 99));
    const auto before = as_multiset(input);
    for (long throw_at : {1L, 2L, 30L, 500L, 5000L, 20000L, 30000L})
        for (bool thrown : {true, false}) {
            Records a = input, b = input;
            CompareState merge_state{12, 0, throw_at, thrown}, quick_state = merge_state;
            if (thrown) {
                EXPECT_THROW(run_merge(a, merge_state), runtime::Thrown);
                EXPECT_THROW(run_quick(b, quick_state), runtime::Thrown);
            } else {
                EXPECT_THROW(run_merge(a, merge_state), std::runtime_error);
                EXPECT_THROW(run_quick(b, quick_state), std::runtime_error);
            }
            EXPECT_TRUE(as_multiset(a) == before) << "merge, throw at call " << throw_at;
            EXPECT_TRUE(as_multiset(b) == before) << "quick, throw at call " << throw_at;
        }
    runtime::reset_thrown_code();
}

// A buffer of count / 2 records that does not fit in 32 bits is refused before any record
// is read (the records here do not even exist): script/too-long is raised directly.
TEST(Sort, MergeBufferBeyond32BitsIsTooLong) {
    CompareState state{4, 0, 1};
    const auto op = reinterpret_cast<uintptr_t>(&state);
    for (int32_t count : {0x20000, 0x7FFFFFFF}) {
        const int32_t width = count == 0x20000 ? 0x10000 : 5;
        error::last_raised = {};
        try {
            sort::merge(nullptr, count, width, op, kFlags, compare_keys);
            ADD_FAILURE() << "no failure raised";
        } catch (const runtime::Thrown& t) {
            EXPECT_EQ(t.code, runtime::kThrowError);
        }
        runtime::reset_thrown_code();
        EXPECT_EQ(error::last_raised.category, error::kScript);
        EXPECT_EQ(error::last_raised.id, error::script::too_long);
    }
    EXPECT_EQ(state.calls, 0);
}

TEST(Sort, QuickPartitionTakesASampleAtEitherEnd) {
    for (int n : {40, 700, 5000}) {
        // Sorted sample of 9 at the front, then random records.
        std::vector<uint32_t> keys = make_keys(Shape::kRandom, n, 8, n);
        std::sort(keys.begin(), keys.begin() + 9);
        for (int sample : {9, -9}) {
            std::vector<uint32_t> k = keys;
            if (sample < 0) std::rotate(k.begin(), k.begin() + 9, k.end());
            Records r = make_records(8, k);
            CompareState state{8};
            sort::quick_partition(r.bytes.data(), sample, n, 8, reinterpret_cast<uintptr_t>(&state),
                                  kFlags, compare_keys);
            EXPECT_TRUE(keys_sorted(r)) << n << " records, sample " << sample;
            EXPECT_TRUE(as_multiset(r) == as_multiset(make_records(8, k)));
        }
    }
}
