#include "console/terminal.h"

#include <windows.h>

namespace terminal {

bool interactive() {
    return false;
}
int width() {
    return 80;
}

// Standard input, when the program was given one (a pipe or a file), read a byte at a time so
// that nothing past the line is taken from a reader that shares it.
bool read_line(std::string& line) {
    line.clear();
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    if (in == nullptr || in == INVALID_HANDLE_VALUE) return false;
    bool any = false;
    for (;;) {
        char c = 0;
        DWORD got = 0;
        if (!ReadFile(in, &c, 1, &got, nullptr) || got == 0) return any;
        any = true;
        if (c == '\n') return true;
        line.push_back(c);
    }
}

} // namespace terminal
