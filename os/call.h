// Child processes for the `call` native: starts a command (directly, or through the system's
// command interpreter), feeds its standard input from a string, binary or file, collects its
// standard output and error into string!/binary! values or appends them to files, and answers
// its exit code, or its process id when it is not waited for.
//
// Input, output and error are serviced at the same time, so a child that fills one pipe while
// the parent is busy with another never stalls. String input reaches the child as UTF-8.
//
// The portable part (call.cpp) turns the native's arguments into redirections and collected
// bytes back into values; call-posix.cpp and call-win32.cpp start and service the child.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime-core/cell.h"

namespace call {

// The most bytes collected from one stream: what a series holds.
constexpr int64_t kMaxCollected = 0x7FFFFFFF;

// One standard stream of the child.
struct Redirect {
    enum Kind { kInherit, kFile, kBuffer } kind = kInherit;
    std::u16string path; // kFile: a local path (read for input, appended to for output)
    std::string bytes;   // kBuffer: the input's bytes, or the output collected
    // Output collection: at most `limit` bytes are taken. A child that writes more is ended
    // and `cut` says why the output is incomplete; so does a collection that ran out of
    // memory.
    int64_t limit = kMaxCollected;
    enum Cut : uint8_t { kWhole, kTooLong, kNoMemory } cut = kWhole;
};

// --- Platform ---------------------------------------------------------------------------------

// Starts `command` and services its streams. With `shell` the command runs through the
// command interpreter; a command that cannot be found is retried that way, which sets
// `used_shell`. The child is waited for when `wait` is set or any stream is redirected; a
// stream neither redirected nor waited for goes to the null device. Answers the exit code,
// the process id when not waited for, or -1 when a pipe, a file or the process cannot be made.
int64_t spawn(std::u16string_view command, bool show, bool shell, bool wait, Redirect& input,
              Redirect& output, Redirect& error, bool& used_shell);

// The text of collected bytes: the command interpreter's code page when `shell` is set (the
// same as UTF-8 on POSIX systems), otherwise UTF-8; malformed sequences become U+FFFD.
std::u16string decode(std::string_view bytes, bool shell);

// --- The native -------------------------------------------------------------------------------

// The refinements of `call`: /wait /show /console /shell, and the values of /input, /output
// and /error or null.
struct RunOptions {
    bool wait = false;
    bool show = false;
    bool console = false;
    bool shell = false;
    const Cell* input = nullptr;
    const Cell* output = nullptr;
    const Cell* error = nullptr;
};

// `call`: `command` is a string! or file! (converted to its local form); `input`, `output` and
// `error` are the refinements' values or null. An empty command answers 0 at once; /console
// raises internal/not-done; a command holding a NUL raises script/invalid-arg. Collected
// output is appended to a string! or binary! target; a stream longer than `limit` bytes (a
// series' most, unless a test asks for less) raises script/too-long before anything is
// appended, and so does a target that would grow beyond what a series holds. May collect.
int64_t run(const Cell* command, const RunOptions& options, int64_t limit = kMaxCollected);

} // namespace call
