// A child program for the child-process tests: copies its standard input to its standard
// error as it reads, a block at a time, so that a parent which feeds the input without
// draining the error output at the same time blocks both processes once a pipe fills.
#include <cstdio>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

int main() {
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    char block[4096];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, stdin)) > 0)
        if (std::fwrite(block, 1, n, stderr) != n) return 1;
    return std::ferror(stdin) ? 1 : 0;
}
