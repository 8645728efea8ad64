// The frame entries of the action slots: what an action! value runs when the interpreter
// calls it. The typed dispatch that they use, and that C++ code calls directly, is the
// datatypes' (datatypes/dispatch.h).
#pragma once
#include <cstdint>
#include <span>

#include "datatypes/dispatch.h"
#include "evaluator/natives.h"

namespace actions {

// The frame entry of an action slot (1 to 62): it reads the arguments and refinements from
// the current frame as a native does (natives.h) and calls the slot function of the first
// argument's type. The internal slots 7, 8 and 9 (and any other number) have an entry that
// raises internal/not-done.
natives::Entry entry(uint32_t slot);

// One action slot: the word that the boot sources bind to an action! of the slot and its
// frame entry, both null for the internal slots. The rows list the 62 slots in order (checked
// when compiling); the unit tests check the words against the boot image.
struct Registration {
    action::Slot slot;
    const char* word;
    natives::Entry entry;
};
std::span<const Registration> registrations();

} // namespace actions
