// The entry point: process set-up, then the runtime on a stack big enough for it.
#include "runtime-core/heap.h"
#include "runtime-core/process.h"
#include "runtime-core/runtime.h"
#include "runtime-core/stdio.h"

namespace {

struct Args {
    int argc;
    char** argv;
};

void entry(void* p) {
    auto* args = static_cast<Args*>(p);
    process::reset_fpu();
    runtime::record.heap = &memory::heap_anchor;
    memory::heap_anchor = {nullptr, nullptr};
    process::install_fault_handler();
    process::set_error_mode();
    process::get_std_handles();
    process::get_argv(args->argc, args->argv);
    process::set_fpu_control();
    stdio::init_attribute();
    runtime::run();
}

} // namespace

int main(int argc, char** argv) {
    Args args{argc, argv};
    process::run_on_big_stack(entry, &args);
    return 0;
}
