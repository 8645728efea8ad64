// lz::decompress over arbitrary bytes: every input expands or is refused as corrupt, never
// reads or writes outside its buffers, and never allocates more than the payload can expand
// to. (Round trips through the encoder are the unit tests' part: its tables make each call
// too slow for fuzzing.)
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "loading/lz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return 0;
    std::vector<uint8_t> out;
    const lz::Status status = lz::decompress(data, static_cast<uint32_t>(size), out);
    // What expands can only be as large as the payload allows.
    if (status == lz::Status::ok && out.size() > 206 * size) std::abort();
    return 0;
}
