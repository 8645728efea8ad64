#include "runtime-core/init.h"

#include "runtime-core/case.h"
#include "runtime-core/dyn-print.h"
#include "runtime-core/platform.h"

namespace runtime {

void init() {
    dyn_print::init();
    platform::init();
    case_::init();
}

} // namespace runtime
