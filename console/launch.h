// The console's entry points as the start-up sequence sees them.
#pragma once

namespace gui_console_ctx {

// The console's main: runs the script named on the command line, or the prompt loop; answers
// the process's exit status.
int launch();

} // namespace gui_console_ctx
