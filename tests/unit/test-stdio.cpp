#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime-core/dyn-print.h"
#include "runtime-core/math.h"
#include "runtime-core/stdio.h"

namespace {

// A console that records what the escape parser and the writer do to it.
class FakeConsole : public stdio::Console {
public:
    std::vector<std::u16string> writes;
    std::vector<std::string> ops;
    stdio::ScreenInfo state;

    void write(const char16_t* units, size_t count) override { writes.emplace_back(units, count); }
    bool info(stdio::ScreenInfo& out) override {
        out = state;
        return true;
    }
    void set_attribute(uint16_t a) override {
        state.attribute = a;
        ops.push_back("attr " + std::to_string(a));
    }
    void set_cursor(int x, int y) override {
        state.cursor_x = x;
        state.cursor_y = y;
        ops.push_back("cursor " + std::to_string(x) + "," + std::to_string(y));
    }
    void fill(int x, int y, uint32_t count, uint16_t a) override {
        ops.push_back("fill " + std::to_string(x) + "," + std::to_string(y) + " " +
                      std::to_string(count) + " " + std::to_string(a));
    }
};

std::string captured;
void capture(const char* bytes, size_t count) {
    captured.append(bytes, count);
}

class Stdio : public testing::Test {
protected:
    void SetUp() override {
        stdio::default_attribute = 0x07;
        console.state.width = 80;
        console.state.height = 25;
        console.state.attribute = 0x07;
        captured.clear();
        stdio::set_byte_sink(capture);
    }
    void TearDown() override {
        stdio::set_console(nullptr);
        stdio::set_byte_sink(nullptr);
    }
    void on_console() { stdio::set_console(&console); }
    void write(const std::u16string& s, bool newline = false) {
        stdio::write(s.data(), s.size(), newline);
    }
    FakeConsole console;
};

} // namespace

TEST_F(Stdio, LongRunsGoOutIn510UnitWrites) {
    on_console();
    write(std::u16string(600, u'x'));
    ASSERT_EQ(console.writes.size(), 2u);
    EXPECT_EQ(console.writes[0].size(), 510u);
    EXPECT_EQ(console.writes[1].size(), 90u);
}

TEST_F(Stdio, NewlineIsCrLf) {
    on_console();
    write(u"ab", true);
    ASSERT_EQ(console.writes.size(), 1u);
    EXPECT_EQ(console.writes[0], u"ab\r\n");
}

TEST_F(Stdio, EscWithoutBracketIsAnOrdinaryUnit) {
    on_console();
    write(u"a\x1b"
          u"b");
    std::u16string all;
    for (auto& w : console.writes) all += w;
    EXPECT_EQ(all, u"a\x1b"
                   u"b");
    EXPECT_TRUE(console.ops.empty());
}

TEST_F(Stdio, SgrSequences) {
    struct Case {
        std::u16string sequence;
        uint16_t before, after;
    } cases[] = {
        {u"\x1b[1;31m", 0x07, ((0x07 | 0x88) & 0xF8) | 4},
        {u"\x1b[31;44;1m", 0x07, 0x9C},
        {u"\x1b[0m", 0x4F, 0x07},
        {u"\x1b[7m", 0x1E, 0xE1},
        {u"\x1b[4m", 0x07, 0x8007},
        {u"\x1b[39m", 0x01, 0x09},
        {u"\x1b[49m", 0x01, 0x81},
        {u"\x1b[47m", 0x07, 0x77},
    };
    on_console();
    for (const Case& c : cases) {
        console.state.attribute = c.before;
        write(c.sequence + u"x");
        EXPECT_EQ(console.state.attribute, c.after)
            << std::string(c.sequence.begin() + 1, c.sequence.end());
        ASSERT_FALSE(console.writes.empty());
        EXPECT_EQ(console.writes.back(), u"x"); // the sequence itself is not shown
    }
}

TEST_F(Stdio, ThreeCodesInOneSequenceEachApply) {
    on_console();
    write(u"\x1b[31;44;1m");
    // 31;44 applied together at the ";" after 44, then 1 on its own at "m".
    EXPECT_EQ(console.ops.size(), 2u);
}

TEST_F(Stdio, EraseAndCursorMoves) {
    struct Case {
        std::u16string sequence;
        int x, y;
        std::vector<std::string> ops;
    } cases[] = {
        {u"\x1b[2J", 5, 3, {"fill 0,0 2000 7", "cursor 0,0"}},
        {u"\x1b[K", 5, 3, {"fill 5,3 75 7"}},
        {u"\x1b[J", 5, 3, {"fill 0,3 1760 7"}},
        {u"\x1b[1J", 5, 3, {"fill 0,0 240 7"}},
        {u"\x1b[1K", 5, 3, {"fill 0,3 5 7", "cursor 0,3"}},
        {u"\x1b[2K", 5, 3, {"fill 0,3 80 7", "cursor 0,3"}},
        {u"\x1b[3J", 5, 3, {}},
        {u"\x1b[H", 5, 3, {"cursor 0,0"}},
        {u"\x1b[10A", 5, 3, {"cursor 5,0"}},
        {u"\x1b[2B", 5, 3, {"cursor 5,5"}},
        {u"\x1b[99B", 5, 3, {"cursor 5,24"}},
        {u"\x1b[4C", 5, 3, {"cursor 9,3"}},
        {u"\x1b[99C", 5, 3, {"cursor 79,3"}},
        {u"\x1b[9D", 5, 3, {"cursor 0,3"}},
        {u"\x1b[3;7H", 5, 3, {"cursor 6,2"}},
        {u"\x1b[s", 5, 3, {}},
        {u"\x1b[Z", 5, 3, {}},
    };
    on_console();
    for (const Case& c : cases) {
        console.ops.clear();
        console.state.cursor_x = c.x;
        console.state.cursor_y = c.y;
        write(c.sequence);
        EXPECT_EQ(console.ops, c.ops) << std::string(c.sequence.begin() + 1, c.sequence.end());
        EXPECT_TRUE(console.writes.empty() || console.writes.back() != c.sequence);
    }
    console.state.cursor_x = 7;
    console.state.cursor_y = 8;
    write(u"\x1b[s");
    console.state.cursor_x = 0;
    console.state.cursor_y = 0;
    console.ops.clear();
    write(u"\x1b[u");
    EXPECT_EQ(console.ops, (std::vector<std::string>{"cursor 7,8"}));
}

TEST_F(Stdio, ParserNeverReadsPastTheText) {
    on_console();
    const char16_t cut[] = {27, '[', '3', '1'};
    EXPECT_EQ(stdio::parse_escape(cut, 4), 4u);
    EXPECT_EQ(stdio::parse_escape(cut, 1), 0u);
    EXPECT_TRUE(console.ops.empty());
}

TEST_F(Stdio, RedirectedPathWritesUtf8AndKeepsEscapes) {
    write(u"\x1b[31mcaf\u00e9 \U0001F600", true);
    EXPECT_EQ(captured, "\x1b[31mcaf\xC3\xA9 \xF0\x9F\x98\x80\r\n");
}

TEST_F(Stdio, RedirectedPathSplitsLongText) {
    std::u16string text(3000, u'\u00e9');
    write(text);
    EXPECT_EQ(captured.size(), 6000u);
}

TEST_F(Stdio, WriteBytesReachesTheTextHooks) {
    static std::string hooked;
    dyn_print::init();
    dyn_print::add(nullptr, [](const char* t, int32_t n, int32_t nl) {
        hooked.append(t, n);
        hooked += std::to_string(nl);
    });
    stdio::write_bytes("h\xC3\xA9");
    print::int_(-42);
    print::hex(255);
    print::byte_hex(10);
    print::float_(0.1);
    print::float32(0.1f);
    EXPECT_EQ(captured, "h\xC3\xA9-42000000FF0A0.10.1");
    EXPECT_EQ(hooked, "h\xC3\xA9"
                      "0-420000000FF00A00.100.10");
    dyn_print::init();
}

TEST_F(Stdio, PrintValuesSpacing) {
    print::values({"a", "b"}, true);
    EXPECT_EQ(captured, "a b");
    captured.clear();
    print::values({"a\n", "b"}, true);
    EXPECT_EQ(captured, "a\nb");
    captured.clear();
    print::values({true, 7, 'c', 1.5, 0.25f, print::Arg::other(0xBEEF)}, true);
    EXPECT_EQ(captured, "true 7 c 1.5 0.25 0000BEEF");
    captured.clear();
    print::values_line({"n=", 3});
    EXPECT_EQ(captured, "n=3\n");
}

TEST_F(Stdio, ConsoleWriteBytesShowsUtf8AsText) {
    on_console();
    stdio::write_bytes("caf\xC3\xA9");
    ASSERT_EQ(console.writes.size(), 1u);
    EXPECT_EQ(console.writes[0], u"caf\u00e9");
}

TEST(Math, DegreesNormalise) {
    const double k = 3.14159265358979323846 / 180.0;
    struct Case {
        double x;
        int mode;
        double degrees;
    } cases[] = {
        {30, 0, 30},  {390, 0, 30},   {-200, 0, -20}, {120, 0, -60},
        {120, 2, 60}, {-120, 2, -60}, {120, 1, 120},  {270, 1, -90},
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(math::degrees_normalise(c.x, c.mode), c.degrees * k)
            << c.x << " " << c.mode;
}
