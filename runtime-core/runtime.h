// The runtime record, process start-up and orderly or fatal process exit.
#pragma once
#include <cstdint>
#include <string>

namespace memory {
struct HeapAnchor;
}

namespace runtime {

// Where a fault or an out-of-memory report happened.
struct FaultContext {
    uintptr_t stack_pointer;
    uintptr_t frame_pointer;
};

// State shared by the whole runtime. Start-up fills it; `thrown_code` belongs to throw.h.
struct RuntimeRecord {
    int argc = 0;
    char** argv = nullptr; // UTF-8 arguments in heap blocks, ended by a null pointer
    uint32_t reserved = 0;
    uint32_t thrown_code = 0;
    const uint8_t* boot_image = nullptr;
    FaultContext* fault = nullptr;
    memory::HeapAnchor* heap = nullptr;
};

extern RuntimeRecord record;

// The exit status of an orderly end (quit/return).
extern int32_t quit_status;

// Ends the process with a status and no report (a script's end).
[[noreturn]] void finish(int32_t status);

// Runtime error codes with a message of their own.
enum RuntimeError : int32_t {
    kErrorAccessViolation = 1,
    kErrorSegmentationFault = 32,
    kErrorFpu = 33,
    kErrorBus = 34,
    kErrorOutOfMemory = 94,
    kErrorNoCatch = 95,
    kErrorAssertion = 98,
    kErrorUnknown = 99,
    kErrorNoCase = 100,
    kErrorNoSwitch = 101,
};

// The fixed message of a runtime error code ("unknown error code!" for codes without one).
const char* error_message(int32_t status);

// The two-line report shown for a fatal runtime error.
std::string format_report(int32_t status, uint32_t address);
// The same report written into `out` (cut to fit, no terminating zero); returns its length.
// Async-signal-safe: no allocation, no locale, no lock, so a signal handler may use it.
size_t format_report_to(char* out, size_t size, int32_t status, uint32_t address);

// Maps a system exception code to a runtime error code (0 for a console Ctrl-C exit).
int32_t map_exception(uint32_t exception_code);

// Ends the process. A status other than 0 first shows the runtime error report in the
// error box; every heap block is freed before exit.
[[noreturn]] void quit(int32_t status, uint32_t address);

// Frees every heap block; called by quit just before exit.
void on_quit();

// Releases every memory frame to the system and frees every heap block. Kept for
// diagnostics; the process never needs it (the system reclaims everything at exit).
void exit_cleanup();

// The handler of the outermost catch frame: the orderly-end code exits with 0, any other
// uncaught code is runtime error 95.
[[noreturn]] void top_catch();

// The code address of the caller of the function that uses it (the "at" of a report).
#define ZAN_CALLER_ADDRESS()                                                                       \
    static_cast<uint32_t>(reinterpret_cast<uintptr_t>(__builtin_return_address(0)))

} // namespace runtime
