#include "runtime-core/init.h"

#include "evaluator/stack.h"
#include "runtime-core/case.h"
#include "runtime-core/collector.h"
#include "runtime-core/dyn-print.h"
#include "runtime-core/externals.h"
#include "runtime-core/hashtable.h"
#include "runtime-core/memory.h"
#include "runtime-core/platform.h"
#include "runtime-core/slots.h"
#include "runtime-core/support.h"

namespace runtime {

// The modules come up in a fixed order; the steps of modules still to come keep their
// places between these.
void init() {
    dyn_print::init();
    platform::init();
    memory::init();
    externals::init();
    memory::new_node_frame(memory::kNodesPerFrame);
    memory::new_series_frame();
    case_::init();
    stack::init();
    slots::init();
    collector::init();
    hashtable::register_markers();
    error::init_support();
}

} // namespace runtime
