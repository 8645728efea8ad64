#include <unistd.h>

#include "runtime-core/error-box.h"

namespace gui {

void error_box(std::u16string_view title, std::u16string_view message) {
    std::string text = error_box_text(title, message);
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(STDERR_FILENO, p, left);
        if (n <= 0) return;
        p += n;
        left -= static_cast<size_t>(n);
    }
}

} // namespace gui
