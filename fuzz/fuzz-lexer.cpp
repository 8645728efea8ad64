// transcode over arbitrary bytes: every input must end in a value or a syntax error, in each
// of the lexer's modes (load, scan, prescan, one value at a time).
#include <cstdint>
#include <cstdlib>

#include "app/init.h"
#include "loading/lexer.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/support.h"
#include "runtime-core/throw.h"

namespace {

void run(const uint8_t* data, uint32_t size, const lexer::ScanMode& mode) {
    Cell* const base = stack::top;
    const uint32_t code = runtime::catch_level(runtime::kThrowError, [&] {
        Cell* dst = stack::push(Cell{kTypeNone, 0, 0, 0});
        lexer::scan(dst, data, size, mode, nullptr, nullptr, nullptr, nullptr);
    });
    runtime::reset_thrown_code();
    stack::top = base;
    // The only errors allowed: syntax errors, and values of types still to come.
    if (code == runtime::kThrowError && error::last_raised.category != error::kSyntax &&
        !(error::last_raised.category == error::kInternal &&
          error::last_raised.id == error::internal::not_done))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    runtime::init();
    // Collections on, as once start-up is done: the lexer runs under collection as in scripts.
    collector::state.enabled = 1;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return 0;
    const auto n = static_cast<uint32_t>(size);
    run(data, n, lexer::ScanMode{});
    lexer::ScanMode scan;
    scan.load = false;
    run(data, n, scan);
    lexer::ScanMode prescan;
    prescan.load = false;
    prescan.scan = false;
    run(data, n, prescan);
    lexer::ScanMode one;
    one.one = true;
    run(data, n, one);
    // A scan holds its buffers in place, so the collections it causes reclaim without
    // compacting and the frames only grow; a script compacts at its next allocation outside a
    // scan, which never comes here: every so many inputs a collection does it.
    static uint32_t inputs = 0;
    if (++inputs % 1024 == 0) collector::collect();
    return 0;
}
