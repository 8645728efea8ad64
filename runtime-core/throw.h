// Non-local exits between native frames: thrown codes and catch levels.
//
// A throw carries an unsigned 32-bit code and unwinds to the nearest catch construct whose
// level admits it (level L takes every code K <= L, unsigned). Codes travel as a C++
// exception; the code is mirrored in the runtime record's `thrown_code` so that handling
// code reads it the same way whether the body completed or a throw arrived.
#pragma once
#include <cstdint>
#include <utility>

namespace runtime {

enum ThrownCode : uint32_t {
    kThrowDraw = 1,                   // draw-dialect error
    kThrowLexer = 10,                 // lexer error
    kThrowFreeVirtual = 0x7FFFFFF6,   // releasing virtual memory failed
    kThrowAllocVirtual = 0x7FFFFFF7,  // reserving virtual memory failed
    kLevelMemory = 0x7FFFFFF8,        // level only: the memory manager's catch
    kThrowPowerOverflow = 0x7FFFFFF9, // integer overflow in power
    kThrowThrow = 0x7FFFFFFA,         // the throw native
    kThrowExit = 0x7FFFFFFB,
    kThrowReturn = 0x7FFFFFFC,
    kThrowContinue = 0x7FFFFFFD,
    kThrowBreak = 0x7FFFFFFE,
    kThrowError = 0x7FFFFFFF,      // language error; also the usual catch-all level
    kThrowOrderlyEnd = 0x0BADCAFE, // reserved: ends the process with status 0
    kLevelAll = 0xFFFFFFFF,
};

// The exception object of a throw. Deliberately not derived from std::exception, so that
// handlers for library errors never swallow a language-level exit.
struct Thrown {
    uint32_t code;
};

// Stores `code` as the thrown code and unwinds to the nearest catch construct that admits
// it. A code of 0 does nothing and returns.
void throw_code(uint32_t code);

// Re-throws the current thrown code from here (a handler that does not take the code);
// returns when that code is 0.
void rethrow();

// The thrown code as the last throw or handler left it (0 in the normal state).
uint32_t thrown_code();
void reset_thrown_code();

// The catch construct: runs `body` with catch level `level`. Returns 0 when the body
// completed, otherwise the code of the throw that arrived (also left in the thrown code).
// Codes above the level pass through untouched. The caller either handles the code (and
// calls reset_thrown_code) or passes it on with rethrow().
template <class Body> uint32_t catch_level(uint32_t level, Body&& body) {
    try {
        std::forward<Body>(body)();
    } catch (const Thrown& t) {
        if (t.code > level) throw;
        return t.code;
    }
    return 0;
}

} // namespace runtime
