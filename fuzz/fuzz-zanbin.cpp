// The ZANBIN decoder (codec mode) over arbitrary bytes: every input decodes or raises a
// language error, never crashes, hangs or allocates beyond what the data can describe. What
// decodes must mold and encode again.
#include <cstdint>
#include <cstdlib>

#include "app/boot.h"
#include "app/init.h"
#include "datatypes/block.h"
#include "datatypes/dispatch.h"
#include "datatypes/form-mold.h"
#include "datatypes/string.h"
#include "loading/zanbin.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/support.h"
#include "runtime-core/throw.h"

namespace {

void run(const uint8_t* data, uint32_t size) {
    Cell* const base = stack::top;
    runtime::catch_level(runtime::kThrowError, [&] {
        Cell* target = block::push_new(1);
        zanbin::decode(data, size, target, nullptr);
        Cell* text = string::make_at(stack::push_cell(), 64);
        actions::mold(target, text, {.all = true}, 100000, 0);
        zanbin::encode_compact(target);
        zanbin::encode_fixed(target);
    });
    runtime::reset_thrown_code();
    stack::top = base;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    runtime::init();
    boot::run();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return 0;
    run(data, static_cast<uint32_t>(size));
    return 0;
}
