#include "console/launch.h"

namespace gui_console_ctx {

// The console engine is not part of the program yet: start-up runs through and the process
// ends with status 0.
void launch() {}

} // namespace gui_console_ctx
