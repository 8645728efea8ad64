// Generic in-place sorts of fixed-size records through a compare callback.
//
// `merge` is a stable natural merge sort (Powersort run policy, minimum run 24, one buffer
// of half the records); `quick` is an unstable quicksort that first finds and grows a
// presorted prefix and then partitions around pivots taken from sorted samples. The sort
// actions of blocks and strings pick `merge` for /stable and `quick` otherwise.
//
// Records are `count` records of `width` bytes stored contiguously from `base`. The
// callback answers negative when x sorts before y, 0 when equal, positive when after; `op`
// and `flags` are passed through unchanged (by the callers' convention op is the comparison
// operator or a user function, flags bit 0 reverse, bit 1 whole record, bits 2 up a record
// size or field offset).
//
// The merge sort hands the callback records that wait in its buffer as well as records in
// place, so a callback reads the two records it is given and nothing around them.
//
// The callback may run user code and may throw (a language error or any C++ exception); the
// records are then left partly sorted and nothing leaks. The caller keeps the records where
// they are while the sort runs (a user comparator runs under the collector's pinning).
#pragma once
#include <cstddef>
#include <cstdint>

namespace sort {

using Compare = int32_t (*)(const void* x, const void* y, uintptr_t op, uint32_t flags);

// What the run merger needs besides its runs: passed as one record.
struct MergeContext {
    int32_t width;
    uintptr_t op;
    uint32_t flags;
    Compare compare;
};

// Stable merge sort. Counts below 2 (and widths below 1) return at once.
void merge(void* base, int32_t count, int32_t width, uintptr_t op, uint32_t flags, Compare compare);

// Unstable quicksort that exploits presorted data; allocates nothing.
void quick(void* base, int32_t count, int32_t width, uintptr_t op, uint32_t flags, Compare compare);

// The quicksort proper. `sample` records at the front are already sorted (0 when none);
// a negative sample means that many sorted records stand at the end instead. A sample that
// covers the whole range leaves it as it is.
void quick_partition(void* base, int32_t sample, int32_t count, int32_t width, uintptr_t op,
                     uint32_t flags, Compare compare);

// The end of the natural run that begins at `start` (not beyond `end`): records while each
// pair compares not above 0, or while each pair compares above 0, in which case the strictly
// descending run is reversed in place.
uint8_t* find_run(uint8_t* start, uint8_t* end, int32_t width, uintptr_t op, uint32_t flags,
                  Compare compare);

// Merges the adjacent sorted runs [first, middle) and [middle, last), keeping equal records
// in order. `buffer` holds at least the shorter run.
void merge_runs(uint8_t* first, uint8_t* middle, uint8_t* last, uint8_t* buffer,
                const MergeContext& context);

// Exchanges two records: 32-bit words at a time, or byte by byte when `bytewise`.
void swap(void* x, void* y, int32_t width, bool bytewise);

// The merge sort's own failures, raised as language errors before any record is touched:
// the buffer size does not fit in 32 bits (script error too-long), or the buffer cannot be
// had (internal error no-memory).
enum class Failure { kTooLong, kNoMemory };

} // namespace sort
