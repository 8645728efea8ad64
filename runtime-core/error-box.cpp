#include "runtime-core/error-box.h"

#include "runtime-core/unicode.h"

namespace gui {

std::string error_box_text(std::u16string_view title, std::u16string_view message) {
    std::string text = unicode::utf16_to_utf8(title) + "\n" + unicode::utf16_to_utf8(message);
    if (text.empty() || text.back() != '\n') text += '\n';
    return text;
}

} // namespace gui
