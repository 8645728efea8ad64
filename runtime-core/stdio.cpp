#include "runtime-core/stdio.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "runtime-core/dyn-print.h"
#include "runtime-core/unicode.h"

namespace stdio {

uint16_t default_attribute = 0x07;

namespace {

Console* console = nullptr;
ByteSink byte_sink = nullptr;
int saved_x = 0, saved_y = 0;

void out_bytes(const char* bytes, size_t count) {
    if (count == 0) return;
    if (byte_sink)
        byte_sink(bytes, count);
    else
        platform_write_stdout(bytes, count);
}

ScreenInfo screen() {
    ScreenInfo info;
    console->info(info);
    return info;
}

void erase(int x, int y, uint32_t count) {
    console->fill(x, y, count, default_attribute);
}

} // namespace

void init_attribute() {
    default_attribute = platform_default_attribute();
}

void probe_mode() {
    console = platform_console();
}

bool console_mode() {
    return console != nullptr;
}

void set_console(Console* c) {
    console = c;
}

void set_byte_sink(ByteSink sink) {
    byte_sink = sink;
}

void write(const char16_t* text, size_t units, bool newline) {
    if (console)
        write_console(text, units, newline);
    else
        write_redirected(text, units, newline);
}

void write_console(const char16_t* text, size_t units, bool newline) {
    char16_t buf[kConsoleChunk + 2];
    size_t n = 0;
    auto flush = [&] {
        if (n) console->write(buf, n);
        n = 0;
    };
    for (size_t i = 0; i < units;) {
        if (text[i] == 27) {
            flush();
            if (size_t used = parse_escape(text + i, units - i)) {
                i += used;
                continue;
            }
        }
        buf[n++] = text[i++];
        if (n == kConsoleChunk) flush();
    }
    if (newline) {
        buf[n++] = 13;
        buf[n++] = 10;
    }
    flush();
}

void write_redirected(const char16_t* text, size_t units, bool newline) {
    char buf[kByteChunk + 8];
    size_t n = 0;
    for (size_t i = 0; i < units; ++i) {
        uint32_t cp = text[i];
        // A surrogate pair is one character: one four-byte sequence, never two halves.
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        n += unicode::encode_utf8_char(cp, buf + n);
        if (n > kByteChunk) {
            out_bytes(buf, n);
            n = 0;
        }
    }
    if (newline) {
        buf[n++] = 13;
        buf[n++] = 10;
    }
    out_bytes(buf, n);
}

const char* write_bytes(const char* text) {
    size_t len = std::strlen(text);
    if (console) {
        // The console takes UTF-16: decode, so that non-ASCII text shows as written.
        std::u16string wide = unicode::utf8_to_utf16(std::string_view(text, len));
        console->write(wide.data(), wide.size());
    } else {
        out_bytes(text, len);
    }
    dyn_print::call_print(text, static_cast<int32_t>(len), 0);
    return text;
}

uint16_t sgr(uint16_t a, uint32_t code) {
    static constexpr uint16_t kForeground[8] = {0, 4, 2, 6, 1, 5, 3, 7};
    static constexpr uint16_t kBackground[8] = {0x00, 0x40, 0x20, 0x60, 0x10, 0x50, 0x30, 0x70};
    if (code == 0) return default_attribute;
    if (code == 1) return a | 0x88;
    if (code == 4) return a | 0x8000;
    if (code == 7) return static_cast<uint16_t>(((a & 0xF) << 4) | ((a & 0xF0) >> 4));
    if (code >= 30 && code <= 37) return (a & 0xF8) | kForeground[code - 30];
    if (code == 39) return a | 8;
    if (code >= 40 && code <= 47) return (a & 0x8F) | kBackground[code - 40];
    if (code == 49) return a | 0x80;
    return a; // codes without a console meaning leave the attribute alone
}

size_t parse_escape(const char16_t* text, size_t units) {
    if (units < 2 || text[1] != '[') return 0;
    enum { Start, First, AfterSemicolon, Second } state = Start;
    uint32_t n1 = 0, n2 = 0;
    bool have_attribute = false;
    uint16_t attribute = 0;
    auto current = [&] {
        if (!have_attribute) attribute = screen().attribute;
        have_attribute = true;
        return attribute;
    };
    auto apply = [&](uint16_t a) {
        attribute = a;
        have_attribute = true;
        console->set_attribute(a);
    };
    size_t i = 2;
    while (i < units) {
        unsigned c = text[i++] & 0xFF;
        bool digit = c >= '0' && c <= '9';
        switch (state) {
        case Start:
            if (digit) {
                n1 = c - '0';
                state = First;
                continue;
            }
            if (c == ';') continue;
            if (c == 's') {
                ScreenInfo s = screen();
                saved_x = s.cursor_x;
                saved_y = s.cursor_y;
            } else if (c == 'u') {
                console->set_cursor(saved_x, saved_y);
            } else if (c == 'K') {
                ScreenInfo s = screen();
                erase(s.cursor_x, s.cursor_y, static_cast<uint32_t>(s.width - s.cursor_x));
            } else if (c == 'J') {
                ScreenInfo s = screen();
                erase(0, s.cursor_y, static_cast<uint32_t>(s.width * (s.height - s.cursor_y)));
            } else if (c == 'H' || c == 'f') {
                console->set_cursor(0, 0);
            } else if (c == '?') {
                ScreenInfo s = screen();
                using print::Arg;
                print::values_line({"Screen buffer info:"});
                print::values_line({"   size______ ", s.width, "x", s.height});
                print::values_line({"   cursor____ ", s.cursor_x, "x", s.cursor_y});
                print::values_line({"   attribute_ ", Arg::other(s.attribute), " ",
                                    Arg::other(default_attribute)});
                print::values_line({"   left______ ", s.left, " top: ", s.top});
                print::values_line({"   right_____ ", s.right, " bottom: ", s.bottom});
                print::values_line({"   max_______ ", s.max_width, "x", s.max_height});
            }
            return i;
        case First:
            if (digit) {
                n1 = (n1 * 10 + (c - '0')) % 65535;
                continue;
            }
            if (c == ';') {
                state = AfterSemicolon;
                continue;
            }
            if (c == 'm') {
                apply(sgr(current(), n1));
            } else if (c == 'A' || c == 'B' || c == 'C' || c == 'D') {
                ScreenInfo s = screen();
                int n = static_cast<int>(n1);
                int x = s.cursor_x, y = s.cursor_y;
                if (c == 'A') y = std::max(0, y - n);
                if (c == 'B') y = std::min(s.height - 1, y + n);
                if (c == 'C') x = std::min(s.width - 1, x + n);
                if (c == 'D') x = std::max(0, x - n);
                console->set_cursor(x, y);
            } else if (c == 'J') {
                ScreenInfo s = screen();
                if (n1 == 1) erase(0, 0, static_cast<uint32_t>(s.width * s.cursor_y));
                if (n1 == 2) {
                    erase(0, 0, static_cast<uint32_t>(s.width * s.height));
                    console->set_cursor(0, 0);
                }
            } else if (c == 'K') {
                ScreenInfo s = screen();
                if (n1 == 1) erase(0, s.cursor_y, static_cast<uint32_t>(s.cursor_x));
                if (n1 == 2) erase(0, s.cursor_y, static_cast<uint32_t>(s.width));
                if (n1 == 1 || n1 == 2) console->set_cursor(0, s.cursor_y);
            }
            return i;
        case AfterSemicolon:
            if (digit) {
                n2 = c - '0';
                state = Second;
                continue;
            }
            if (c == ';') continue;
            return i;
        case Second:
            if (digit) {
                n2 = (n2 * 10 + (c - '0')) % 65535;
                continue;
            }
            if (c == 'm') {
                apply(sgr(sgr(current(), n1), n2));
            } else if (c == ';') {
                apply(sgr(sgr(current(), n1), n2));
                n1 = n2 = 0;
                state = Start;
                continue;
            } else if (c == 'H' || c == 'f') {
                // Row first and counted from 1, as terminals do.
                console->set_cursor(std::max(0, static_cast<int>(n2) - 1),
                                    std::max(0, static_cast<int>(n1) - 1));
            }
            return i;
        }
    }
    return i;
}

} // namespace stdio

namespace print {

namespace {

void number(const char* format, ...) __attribute__((format(printf, 1, 2)));

void number(const char* format, ...) {
    char text[64];
    va_list args;
    va_start(args, format);
    int len = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    len = std::clamp(len, 0, static_cast<int>(sizeof text) - 1);
    char16_t wide[64];
    for (int i = 0; i < len; ++i) wide[i] = static_cast<unsigned char>(text[i]);
    stdio::write(wide, static_cast<size_t>(len), false);
    dyn_print::call_print(text, len, 0);
}

} // namespace

void char_(char c) {
    char text[2] = {c, 0};
    stdio::write_bytes(text);
}

void int_(int32_t value) {
    number("%i", value);
}
void byte_hex(int32_t value) {
    number("%02X", value);
}
void hex(int32_t value) {
    number("%08X", static_cast<uint32_t>(value));
}
void float_(double value) {
    number("%.16g", value);
}
void float32(float value) {
    number("%.7g", static_cast<double>(value));
}

void values(std::initializer_list<Arg> args, bool spaced) {
    size_t k = 0;
    for (const Arg& a : args) {
        char last = 0;
        switch (a.type) {
        case Arg::Logic:
            stdio::write_bytes(a.i ? "true" : "false");
            break;
        case Arg::Integer:
            int_(a.i);
            break;
        case Arg::Char:
            char_(a.c);
            last = a.c;
            break;
        case Arg::Float32:
            float32(a.f);
            break;
        case Arg::Double:
            float_(a.d);
            break;
        case Arg::Bytes:
            stdio::write_bytes(a.s);
            if (*a.s) last = a.s[std::strlen(a.s) - 1];
            break;
        case Arg::Other:
            hex(static_cast<int32_t>(a.word));
            break;
        }
        ++k;
        if (spaced && k < args.size() && last != ' ' && last != '\n' && last != '\r' &&
            last != '\t')
            char_(' ');
    }
    std::fflush(nullptr);
}

void values_no_newline(std::initializer_list<Arg> args) {
    values(args, false);
}

void values_line(std::initializer_list<Arg> args) {
    values(args, false);
    char_('\n');
}

} // namespace print
