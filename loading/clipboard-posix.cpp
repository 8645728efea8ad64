// Linux: the clipboard is the process's own. Nothing outside the process sees it; it keeps
// what the last write gave it, as the system's clipboard would.
#include "loading/clipboard.h"

namespace clipboard {

namespace {

Contents held;

} // namespace

bool read_platform(Contents& contents) {
    contents = held;
    return true;
}

bool write_platform(const Contents& contents) {
    held = contents;
    return true;
}

} // namespace clipboard
