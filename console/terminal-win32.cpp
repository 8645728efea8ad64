#include "console/terminal.h"

namespace terminal {

bool interactive() {
    return false;
}
int width() {
    return 80;
}
bool read_line(std::string&) {
    return false;
}

} // namespace terminal
