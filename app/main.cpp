// The entry point: process set-up, then the runtime on a stack big enough for it.
#include <new>
#include <string>

#include "app/boot.h"
#include "app/init.h"
#include "console/launch.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "runtime-core/error-box.h"
#include "runtime-core/heap.h"
#include "runtime-core/process.h"
#include "runtime-core/runtime.h"
#include "runtime-core/stdio.h"
#include "runtime-core/throw.h"

namespace {

struct Args {
    int argc;
    char** argv;
};

// The steps after the process set-up: opens the outermost catch frame, runs the runtime
// initialisation, the boot program and the console, and ends the process.
[[noreturn]] void run() {
    using namespace runtime;
    // The outermost catch frame takes every code.
    try {
        init();
        boot::run();
        interp::keep_spare_error();
        finish(gui_console_ctx::launch());
    } catch (const Thrown& t) {
        record.thrown_code = t.code;
        // An error that no try took: its text in the error box.
        if (t.code == kThrowError) {
            // Forming the text needs memory: where there is none left, the fatal report says so.
            std::u16string text;
            try {
                text = natives::formed(&interp::error_value);
            } catch (...) {
                quit(kErrorOutOfMemory, 0);
            }
            gui::error_box(u"Zan NoName App", text);
            finish(-2);
        }
        top_catch();
    } catch (const std::bad_alloc&) {
        quit(kErrorOutOfMemory, 0);
    }
    quit(0, 0);
}

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
    run();
}

} // namespace

int main(int argc, char** argv) {
    Args args{argc, argv};
    process::run_on_big_stack(entry, &args);
    return 0;
}
