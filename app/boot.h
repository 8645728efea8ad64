// Start-up of the language-level half. The sources written in Zan (base values, the native!,
// action! and op! definitions, the constants, the library) reach the executable as the boot
// image, which the build's zan-bootgen writes in ZANBIN boot mode: word-with-value records
// that give the datatype words and make their values, then for each source two literal
// cells, its segment number and its code. Start-up decodes the image into the root block and
// runs the code of each source in order, interpreted, once the runtime is initialised and
// before any script.
#pragma once
#include <cstdint>

#include "runtime-core/cell.h"

namespace boot {

// The boot image that the build embeds (a generated source).
extern const uint8_t kImage[];
extern const uint32_t kImageSize;

// The whole boot program: load(kImage), then run_segments(). May collect.
void run();

// Makes the routines and decodes an image into the root block with the collector off and the
// boot flag as the runtime initialisation left it (set): every word of the sources is then
// in the global context, and the literal cells lie in the root block, which never moves. A
// missing magic or a corrupt compressed body ends the process with status 1 and its message.
void load(const uint8_t* image, uint32_t size);

// The literal cells of the loaded image: their count and cell number n (not checked).
uint32_t literal_count();
const Cell* literal(uint32_t n);

// Enables the collector, clears the boot flag and runs the code of each source in order;
// the hooks of segments 11 (event!) and 13 (the GUI backend's start-up) run where their
// segments fall, after the last source when no source follows them. May collect and run
// user code.
void run_segments();

} // namespace boot
