#include "console/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <iostream>

namespace terminal {

bool interactive() {
    return isatty(STDIN_FILENO) != 0;
}

int width() {
    winsize ws{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 80;
}

bool read_line(std::string& line) {
    return static_cast<bool>(std::getline(std::cin, line));
}

} // namespace terminal
