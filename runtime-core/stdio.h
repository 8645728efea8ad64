// The lowest output layer: text to standard output, either to a Windows console (UTF-16,
// with a subset of ANSI escape sequences emulated through console calls) or, when standard
// output is not a console, as UTF-8 bytes. Every write also reaches the text-level print
// hooks. On Linux standard output always takes the byte path, so a terminal receives the
// escape sequences as they are.
#pragma once
#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace stdio {

struct ScreenInfo {
    int width = 80, height = 25; // screen buffer size
    int cursor_x = 0, cursor_y = 0;
    uint16_t attribute = 0x07;
    int left = 0, top = 0, right = 79, bottom = 24; // visible window
    int max_width = 80, max_height = 25;
};

// What the console path needs of a console; the Windows build wraps the real one, tests
// use a fake.
class Console {
public:
    virtual ~Console() = default;
    virtual void write(const char16_t* units, size_t count) = 0;
    virtual bool info(ScreenInfo& out) = 0;
    virtual void set_attribute(uint16_t attribute) = 0;
    virtual void set_cursor(int x, int y) = 0;
    // Fills `count` cells from (x, y) on, row by row, with blanks in `attribute`.
    virtual void fill(int x, int y, uint32_t count, uint16_t attribute) = 0;
};

// Where the byte path writes.
using ByteSink = void (*)(const char* bytes, size_t count);

constexpr size_t kConsoleChunk = 510; // units per console write
constexpr size_t kByteChunk = 1020;   // bytes per write on the byte path

// The attribute of standard output's screen buffer at start; SGR 0 and erasing use it.
extern uint16_t default_attribute;

// Reads the default attribute (start-up).
void init_attribute();
// Chooses the console path when standard output is a console (platform initialisation).
void probe_mode();
bool console_mode();

// Redirects output, for tests: a console (null for the byte path) and the byte sink
// (null for standard output).
void set_console(Console* console);
void set_byte_sink(ByteSink sink);

// Writes UTF-16 text; with `newline`, CR LF follows.
void write(const char16_t* text, size_t units, bool newline);
void write_console(const char16_t* text, size_t units, bool newline);
void write_redirected(const char16_t* text, size_t units, bool newline);

// Writes a zero-terminated UTF-8 byte string unchanged (no escape processing) and hands it
// to the text-level print hooks. Returns `text`.
const char* write_bytes(const char* text);

// Parses the escape sequence at `text[0]` (an ESC) and applies it to the console. Returns
// the units consumed, or 0 when the ESC is not followed by "[". Never reads past `units`.
size_t parse_escape(const char16_t* text, size_t units);

// Select graphic rendition: the console attribute after applying one SGR code.
uint16_t sgr(uint16_t attribute, uint32_t code);

// Platform half (stdio-win32.cpp, stdio-posix.cpp).
Console* platform_console(); // the console of standard output, or null
uint16_t platform_default_attribute();
void platform_write_stdout(const char* bytes, size_t count);

} // namespace stdio

// The runtime's print primitives (diagnostics, start-up messages, error reports).
namespace print {

void char_(char c);
void int_(int32_t value);     // "%i"
void byte_hex(int32_t value); // "%02X"
void hex(int32_t value);      // "%08X"
void float_(double value);    // "%.16g"
void float32(float value);    // "%.7g"

// One entry of a typed argument list.
struct Arg {
    enum Type : uint32_t {
        Logic = 1,
        Integer = 2,
        Char = 3,
        Float32 = 4,
        Double = 5,
        Bytes = 6,
        Other = 7
    };
    Type type;
    union {
        int32_t i;
        char c;
        float f;
        double d;
        const char* s;
        uint32_t word;
    };
    Arg(bool v) : type(Logic), i(v) {}
    Arg(int32_t v) : type(Integer), i(v) {}
    Arg(char v) : type(Char), c(v) {}
    Arg(float v) : type(Float32), f(v) {}
    Arg(double v) : type(Double), d(v) {}
    Arg(const char* v) : type(Bytes), s(v) {}
    static Arg other(uint32_t w) {
        Arg a(0);
        a.type = Other;
        a.word = w;
        return a;
    }
};

// Prints the entries; with `spaced`, a blank after every entry but the last unless the
// entry ends in a blank, LF, CR or TAB.
void values(std::initializer_list<Arg> args, bool spaced);
void values_no_newline(std::initializer_list<Arg> args);
void values_line(std::initializer_list<Arg> args);

} // namespace print
