#include "runtime-core/throw.h"

#include "runtime-core/runtime.h"

namespace runtime {

void throw_code(uint32_t code) {
    if (code == 0) return;
    record.thrown_code = code;
    throw Thrown{code};
}

void rethrow() {
    throw_code(record.thrown_code);
}

uint32_t thrown_code() {
    return record.thrown_code;
}

void reset_thrown_code() {
    record.thrown_code = 0;
}

} // namespace runtime
