// lz::decompress over arbitrary bytes: every input expands or is refused as corrupt, never
// reads or writes outside its buffers; whatever expands must compress and expand back.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "loading/lz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return 0;
    std::vector<uint8_t> out;
    const lz::Status status = lz::decompress(data, static_cast<uint32_t>(size), out);
    if (status != lz::Status::ok || out.size() > (1u << 22)) return 0;
    std::vector<uint8_t> packed(out.size() + 1);
    const int32_t n = lz::compress(out.data(), static_cast<uint32_t>(out.size()), packed.data());
    if (n < 0) return 0;
    std::vector<uint8_t> again;
    if (lz::decompress(packed.data(), static_cast<uint32_t>(n), again) != lz::Status::ok ||
        again != out)
        std::abort();
    return 0;
}
