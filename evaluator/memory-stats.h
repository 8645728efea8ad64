// Memory statistics: what the memory manager holds, for the stats and recycle natives.
//
// The figures count the frames the way they are laid out: a node slot and the frame headers
// are pointer-sized, so the byte counts of a 64-bit build are larger than those of the 32-bit
// build for the same contents (on the 32-bit build a node is 4 bytes, a node frame header
// 36, a series frame header 20, a big frame header 12 and a heap block header 16).
#pragma once
#include <cstdint>

#include "runtime-core/cell.h"

namespace memory {

constexpr uint32_t kStatsNodeBytes = sizeof(uintptr_t);
constexpr uint32_t kStatsNodeFrameHeader = 28 + 2 * sizeof(void*);
constexpr uint32_t kStatsSeriesFrameHeader = 4 + 4 * sizeof(void*);
constexpr uint32_t kStatsBigFrameHeader = 4 + 2 * sizeof(void*);
constexpr uint32_t kStatsHeapBlockHeader = 4 * sizeof(void*);

// Mode 1: answers the bytes in use (used nodes, the used part of every series frame, the big
// frames), leaving `block` alone. Mode 2 and above: appends to `block` (a block! that stays
// where it is) a block of [free used total] nodes per node frame, one of [free used total]
// bytes per series frame, one of the big frames' sizes, then the bytes taken from the system
// (frames and heap blocks with their headers) and the heap blocks' share of them, and answers
// 0. Collection is switched off while the frames are walked. May collect while appending.
double frame_stats(const Cell* block, int32_t mode);

// Appends a size to a block: an integer! up to 2147483647, a float! above. May collect.
void box_size(const Cell* block, int64_t size);

} // namespace memory
