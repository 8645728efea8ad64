#include <windows.h>

#include "runtime-core/process.h"
#include "runtime-core/stdio.h"

namespace stdio {

namespace {

HANDLE out_handle() {
    return reinterpret_cast<HANDLE>(process::std_output);
}

class WindowsConsole final : public Console {
public:
    void write(const char16_t* units, size_t count) override {
        DWORD written;
        WriteConsoleW(out_handle(), units, static_cast<DWORD>(count), &written, nullptr);
    }
    bool info(ScreenInfo& out) override {
        CONSOLE_SCREEN_BUFFER_INFO csbi;
        if (!GetConsoleScreenBufferInfo(out_handle(), &csbi)) return false;
        out.width = csbi.dwSize.X;
        out.height = csbi.dwSize.Y;
        out.cursor_x = csbi.dwCursorPosition.X;
        out.cursor_y = csbi.dwCursorPosition.Y;
        out.attribute = csbi.wAttributes;
        out.left = csbi.srWindow.Left;
        out.top = csbi.srWindow.Top;
        out.right = csbi.srWindow.Right;
        out.bottom = csbi.srWindow.Bottom;
        out.max_width = csbi.dwMaximumWindowSize.X;
        out.max_height = csbi.dwMaximumWindowSize.Y;
        return true;
    }
    void set_attribute(uint16_t attribute) override {
        SetConsoleTextAttribute(out_handle(), attribute);
    }
    void set_cursor(int x, int y) override {
        SetConsoleCursorPosition(out_handle(), COORD{static_cast<SHORT>(x), static_cast<SHORT>(y)});
    }
    void fill(int x, int y, uint32_t count, uint16_t attribute) override {
        DWORD done;
        COORD at{static_cast<SHORT>(x), static_cast<SHORT>(y)};
        FillConsoleOutputCharacterW(out_handle(), L' ', count, at, &done);
        FillConsoleOutputAttribute(out_handle(), attribute, count, at, &done);
    }
};

WindowsConsole the_console;

} // namespace

Console* platform_console() {
    DWORD mode;
    return GetConsoleMode(out_handle(), &mode) ? &the_console : nullptr;
}

uint16_t platform_default_attribute() {
    CONSOLE_SCREEN_BUFFER_INFO csbi;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &csbi)) return csbi.wAttributes;
    return 0x07;
}

void platform_write_stdout(const char* bytes, size_t count) {
    DWORD written;
    WriteFile(out_handle(), bytes, static_cast<DWORD>(count), &written, nullptr);
}

} // namespace stdio
