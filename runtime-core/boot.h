// Start-up of the language-level half: the sources written in Zan (base values, the native!,
// action! and op! definitions, the constants, the first library functions) run in a fixed
// order once the runtime is initialised, before any script.
//
// Until the boot image carries them, the sources are embedded as text (a generated source
// file) and loaded through the lexer here.
#pragma once
#include <cstdint>

#include "runtime-core/cell.h"

namespace boot {

struct Source {
    const char* name;
    const unsigned char* text;
    uint32_t size;
};
extern const Source kSources[];
extern const unsigned kSourceCount;

// Gives every datatype's word its datatype value, enables the collector, clears the boot
// flag and runs each source's code after its header, in order. May collect.
void run();

} // namespace boot

namespace boot {

// The index after the header of a loaded script (the word Zan, matched case-sensitively,
// and the block after it), or -1 when the block has none.
int32_t header_end(const Cell* block);

// Loads `size` bytes of UTF-8 source, skips its header and evaluates the rest. A source
// without a header is a build fault: runtime error 98. May collect and run user code.
void run_source(const char* name, const uint8_t* text, uint32_t size);

} // namespace boot
