// Linux: the clipboard is the process's own. Nothing outside the process sees it; it keeps
// what the last write gave it, as the system's clipboard would.
#include "os/clipboard.h"

#include <algorithm>

namespace clipboard {

namespace {

Contents held;

} // namespace

bool read_platform(Contents& contents) {
    contents = held;
    return true;
}

bool write_platform(const Contents& contents) {
    // A picture without pixels is nothing to hold: the clipboard is only emptied.
    if (contents.kind == Contents::Kind::image && contents.image.words.empty()) {
        held = Contents{};
        return false;
    }
    held = contents;
    // The system's clipboard ends text at its first zero.
    held.text.resize(std::min(held.text.size(), held.text.find(u'\0')));
    return true;
}

} // namespace clipboard
