#include <unistd.h>

#include <cerrno>

#include "runtime-core/process.h"
#include "runtime-core/stdio.h"

namespace stdio {

// Standard output is never driven as a console here: a terminal interprets the escape
// sequences itself, so all text takes the byte path.
Console* platform_console() {
    return nullptr;
}

uint16_t platform_default_attribute() {
    return 0x07;
}

void platform_write_stdout(const char* bytes, size_t count) {
    int fd = static_cast<int>(process::std_output);
    while (count > 0) {
        ssize_t n = ::write(fd, bytes, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return; // output to a closed or missing stream is lost silently
        bytes += n;
        count -= static_cast<size_t>(n);
    }
}

} // namespace stdio
