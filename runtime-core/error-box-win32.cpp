#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "runtime-core/error-box.h"

namespace gui {

void error_box(std::u16string_view title, std::u16string_view message) {
    const char* mode = std::getenv("ZAN_ERROR_BOX");
    if (mode && std::strcmp(mode, "stderr") == 0) {
        std::string text = error_box_text(title, message);
        DWORD written;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()),
                  &written, nullptr);
        return;
    }
    std::u16string t(title), m(message);
    MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(m.c_str()),
                reinterpret_cast<const wchar_t*>(t.c_str()), MB_TASKMODAL | MB_ICONERROR);
}

} // namespace gui
