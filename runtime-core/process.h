// The process set-up of the entry point: floating-point state, fault handling, standard
// handles, the UTF-8 argument vector and the big stack the runtime runs on.
#pragma once
#include <cstdint>

namespace process {

// Standard handles (Windows handles, or file descriptors on Linux); -1 until start-up.
extern intptr_t std_input;
extern intptr_t std_output;
extern intptr_t std_error;

// Floating-point state: reset, then all exceptions masked, 53-bit precision, round to nearest.
void reset_fpu();
void set_fpu_control();

// Routes processor faults (system exceptions, or signals on Linux) to the runtime error
// report; a console Ctrl-C ends the process with status 0.
void install_fault_handler();
// The system shows no critical-error boxes of its own.
void set_error_mode();
void get_std_handles();
// Fills the runtime record's argument vector with the command line in UTF-8 (heap blocks).
void get_argv(int argc, char** argv);

// Runs `fn` on a stack big enough for deep evaluation (the main thread itself where the
// linker sized its stack) and returns when it does.
void run_on_big_stack(void (*fn)(void*), void* arg);

// Linux: the runtime error code of a fatal signal.
int32_t map_signal(int signal);

} // namespace process
