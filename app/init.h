// The runtime initialisation: brings every module up in a fixed order.
#pragma once

namespace runtime {

void init();

} // namespace runtime
