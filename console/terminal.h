// What the plain prompt loop needs of the terminal it runs in.
#pragma once
#include <string>

namespace terminal {

// Whether standard input is an interactive terminal (never on the Windows build, whose
// console is the GUI console).
bool interactive();
// The width of the terminal in characters (80 when unknown).
int width();
// Reads one line of standard input without its line end; false at the end of input.
bool read_line(std::string& line);

} // namespace terminal
