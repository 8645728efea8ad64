#include "app/boot.h"

#include "evaluator/evaluator.h"
#include "evaluator/interpreter.h"
#include "library/environment.h"
#include "library/profiler.h"
#include "loading/zanbin.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/memory.h"
#include "runtime-core/root.h"
#include "runtime-core/runtime.h"
#include "runtime-core/type-traits.h"

namespace boot {

namespace {

// Literal cell 0 is the root block's cell at this index; the count is fixed by the image.
uint32_t literal_base = 0;
uint32_t literals = 0;

// The start-up steps that belong between two segments of the sources.
constexpr int32_t kEventSegment = 11;
constexpr int32_t kBackendSegment = 13;

// event! registers here, with the boot flag set for the call, once its module exists.
void register_event_type() {
    root::BootScope boot;
}

// The GUI backend's module start-up (its symbols and words with the boot flag set, then its
// tables, the collector enabled again) runs here once the backend exists.
void start_backend() {
    root::BootScope boot;
}

void run_hook(int32_t segment) {
    if (segment == kEventSegment) register_event_type();
    if (segment == kBackendSegment) start_backend();
}

} // namespace

void load(const uint8_t* image, uint32_t size) {
    environment::init();
    profiler::init();
    routines::init();
    literal_base = zanbin::boot_load(image, size, &root::block);
    literals = memory::buffer(series::node(&root::block))->length() - literal_base;
}

uint32_t literal_count() {
    return literals;
}

const Cell* literal(uint32_t n) {
    return memory::buffer(series::node(&root::block))->cells() + literal_base + n;
}

void run_segments() {
    // From here on a collection may run at any allocation: the literal cells and what they
    // hold are reached through the root block, the words through the global context.
    collector::state.enabled = 1;
    root::boot_flag = 0;
    // The image holds pairs of cells: a segment number, then the code of one source. An image
    // of any other shape is a build fault.
    if (literals % 2 != 0) runtime::quit(runtime::kErrorAssertion, 0);
    int32_t next_hook = kEventSegment;
    auto hooks_before = [&](int32_t segment) {
        for (; next_hook <= kBackendSegment && next_hook <= segment; next_hook += 2)
            run_hook(next_hook);
    };
    for (uint32_t k = 0; k < literals; k += 2) {
        const Cell* number = literal(k);
        const Cell* code = literal(k + 1);
        if (cell::type(number) != kTypeInteger || cell::type(code) != kTypeBlock)
            runtime::quit(runtime::kErrorAssertion, 0);
        hooks_before(static_cast<int32_t>(number->w2));
        Cell* running = stack::push(*code);
        interp::status_to_error(interp::eval_block(running));
        stack::top = running;
    }
    hooks_before(kBackendSegment);
}

void run() {
    load(kImage, kImageSize);
    run_segments();
}

} // namespace boot
