#include <gtest/gtest.h>

#include "datatypes/core/string.h"
#include "string-fixture.h"

using memory::Buffer;

namespace {

class String : public StringTest {};

} // namespace

TEST_F(String, MakeAtGivesAnEmptyOneByteString) {
    for (uint32_t capacity : {0u, 1u, 100u}) {
        GcRoot s(Cell{kTypeNone | cell::kNewLine, 7, 7, 7});
        EXPECT_EQ(string::make_at(&s.cell(), capacity), &s.cell());
        const Cell& c = s.cell();
        EXPECT_EQ(c.header, kTypeString);
        EXPECT_EQ(c.w1, 0u);
        EXPECT_EQ(c.w3, 0u);
        Buffer* b = memory::buffer(c.w2);
        EXPECT_EQ(b->unit(), 1u);
        EXPECT_EQ(b->length(), 0u);
        EXPECT_GE(b->size, capacity ? capacity : 1);
    }
}

// Appending widens by the appending rule: a 1-byte string takes only 0-7F.
TEST_F(String, AppendCharWidensByTheAppendingRule) {
    struct Case {
        uint32_t unit, cp, widened;
    } cases[] = {{1, 0x41, 1},    {1, 0x7F, 1},    {1, 0x80, 2},     {1, 0xE9, 2},
                 {1, 0xFFFF, 2},  {1, 0x10000, 4}, {1, 0x10FFFF, 4}, {2, 0xFFFF, 2},
                 {2, 0x10000, 4}, {4, 0x41, 4},    {4, 0x1F600, 4}};
    for (const Case& c : cases) {
        GcRoot s(make_string(U"a\u00FFz", c.unit == 1 ? 1 : c.unit));
        Buffer* b = string::append_char(memory::buffer(s.cell().w2), c.cp);
        EXPECT_EQ(b, memory::buffer(s.cell().w2));
        EXPECT_EQ(unit_of(s.cell()), c.widened) << std::hex << c.cp;
        EXPECT_EQ(text_of(s.cell()), std::u32string(U"a\u00FFz") + char32_t(c.cp));
    }
}

// Many appends grow the buffer again and again; the text survives every move and both
// widenings.
TEST_F(String, AppendsAcrossGrowthAndBothWidenings) {
    GcRoot s(Cell{});
    string::make_at(&s.cell(), 1);
    std::u32string expected;
    for (uint32_t i = 0; i < 600; ++i) {
        char32_t cp = i < 200 ? U'a' + i % 26 : i < 400 ? 0x400 + i : 0x10000 + i;
        string::append_char(memory::buffer(s.cell().w2), cp);
        expected.push_back(cp);
    }
    EXPECT_EQ(unit_of(s.cell()), 4u);
    EXPECT_EQ(text_of(s.cell()), expected);
}

TEST_F(String, AppendBytesTakesBytesAsLatin1) {
    struct Case {
        uint32_t unit;
        const char* bytes;
        uint32_t widened;
        std::u32string text;
    } cases[] = {{1, "caf\xE9", 2, U"xcaf\u00E9"},
                 {1, "plain", 1, U"xplain"},
                 {2, "\xFF!", 2, U"x\u00FF!"},
                 {4, "ok\x80", 4, U"xok\u0080"}};
    for (const Case& c : cases) {
        GcRoot s(make_string(U"x", c.unit));
        string::append_bytes(&s.cell(), c.bytes, static_cast<uint32_t>(std::strlen(c.bytes)));
        EXPECT_EQ(unit_of(s.cell()), c.widened) << c.bytes;
        EXPECT_EQ(text_of(s.cell()), c.text) << c.bytes;
    }
}

// The bytes may come from a series buffer, which moves while the string grows.
TEST_F(String, AppendBytesFollowsASourceThatMoves) {
    GcRoot source(make_text("0123456789abcdefghijklmnopqrstuvwxyz"));
    GcRoot s(Cell{});
    string::make_at(&s.cell(), 1);
    for (int round = 0; round < 20; ++round) {
        Buffer* b = memory::buffer(source.node());
        string::append_bytes(&s.cell(), reinterpret_cast<const char*>(b->at_head()) + 10, 26);
    }
    std::u32string expected;
    for (int round = 0; round < 20; ++round) expected += U"abcdefghijklmnopqrstuvwxyz";
    EXPECT_EQ(text_of(s.cell()), expected);
}

// An empty byte string appends nothing (its terminator is never taken for a character).
TEST_F(String, ConcatenateCstringStopsAtTheTerminator) {
    GcRoot s(make_string(U"ab", 1));
    string::concatenate_cstring(&s.cell(), "");
    EXPECT_EQ(text_of(s.cell()), U"ab");
    string::concatenate_cstring(&s.cell(), "c\xE9");
    EXPECT_EQ(text_of(s.cell()), U"abc\u00E9");
    EXPECT_EQ(unit_of(s.cell()), 2u);
}
