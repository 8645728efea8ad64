// The console's entry points as the start-up sequence sees them.
#pragma once

namespace gui_console_ctx {

// The console's main: returns when the console's loop ends.
void launch();

} // namespace gui_console_ctx
