#include <gtest/gtest.h>

#include "datatypes/string.h"
#include "runtime-core/error-ids.h"
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

// Writing at a position widens only above FF: a 1-byte string holds Latin-1 there.
TEST_F(String, WriteCharWidensByTheWritingRule) {
    struct Case {
        uint32_t unit, cp, widened;
    } cases[] = {{1, 0xE9, 1},    {1, 0xFF, 1},   {1, 0x100, 2},   {1, 0xFFFF, 2},
                 {1, 0x10000, 4}, {2, 0xFFFF, 2}, {2, 0x10000, 4}, {4, 0x10FFFF, 4}};
    for (const Case& c : cases) {
        GcRoot s(make_string(U"abc", c.unit));
        Buffer* b = memory::buffer(s.cell().w2);
        b = string::write_char(b, b->at_head() + 1 * c.unit, c.cp);
        EXPECT_EQ(b, memory::buffer(s.cell().w2));
        EXPECT_EQ(unit_of(s.cell()), c.widened) << std::hex << c.cp;
        EXPECT_EQ(text_of(s.cell()), U"a" + std::u32string(1, char32_t(c.cp)) + U"c");
    }
}

TEST_F(String, OverwriteCharGrowsAndMovesTheTail) {
    struct Case {
        uint32_t offset, cp;
        std::u32string text;
        uint32_t unit;
    } cases[] = {
        {0, 'X', U"Xbc", 1},
        {2, 0xE9, U"ab\u00E9", 1},
        {3, 'd', U"abcd", 1},                                 // at the tail
        {5, 0x20AC, std::u32string(U"abc\0\0\u20AC", 6), 2},  // past the tail: a gap of zeros
        {40, 'z', U"abc" + std::u32string(37, 0) + U"z", 1}}; // far past the end
    for (const Case& c : cases) {
        GcRoot s(make_string(U"abc", 1));
        string::overwrite_char(memory::buffer(s.cell().w2), c.offset, c.cp);
        EXPECT_EQ(text_of(s.cell()), c.text) << c.offset;
        EXPECT_EQ(unit_of(s.cell()), c.unit) << c.offset;
    }
}

TEST_F(String, InsertCharMovesTheRestUp) {
    struct Case {
        uint32_t offset, cp;
        std::u32string text;
        uint32_t unit;
    } cases[] = {{0, 'X', U"Xabc", 1},
                 {1, 0xE9, U"a\u00E9bc", 1},
                 {3, 0x1F600, U"abc\U0001F600", 4},
                 {9, '!', U"abc!", 1}}; // past the tail: at the tail
    for (const Case& c : cases) {
        GcRoot s(make_string(U"abc", 1));
        string::insert_char(memory::buffer(s.cell().w2), c.offset, c.cp);
        EXPECT_EQ(text_of(s.cell()), c.text) << c.offset;
        EXPECT_EQ(unit_of(s.cell()), c.unit) << c.offset;
    }
    // Many inserts grow the buffer again and again.
    GcRoot s(make_string(U"", 1));
    std::u32string expected;
    for (uint32_t i = 0; i < 300; ++i) {
        string::insert_char(memory::buffer(s.cell().w2), i / 2, 0x3B1 + i % 20);
        expected.insert(expected.begin() + i / 2, char32_t(0x3B1 + i % 20));
    }
    EXPECT_EQ(text_of(s.cell()), expected);
}

TEST_F(String, ResetTruncateAndRemove) {
    GcRoot s(make_string(U"\U0001F600abc", 4));
    s.cell().w1 = 2;
    string::reset(&s.cell());
    EXPECT_EQ(s.cell().w1, 0u);
    EXPECT_EQ(unit_of(s.cell()), 1u);
    EXPECT_EQ(text_of(s.cell()), U"");

    GcRoot t(make_string(U"abcdef", 2));
    Buffer* b = memory::buffer(t.cell().w2);
    string::truncate(b, 9); // past the tail: nothing
    EXPECT_EQ(text_of(t.cell()), U"abcdef");
    string::truncate(b, 4);
    EXPECT_EQ(text_of(t.cell()), U"abcd");
    string::remove_units(&t.cell(), 1, 2);
    EXPECT_EQ(text_of(t.cell()), U"ad");
    string::remove_units(&t.cell(), 1, 5); // cut to what follows the position
    EXPECT_EQ(text_of(t.cell()), U"a");
    string::remove_char(&t.cell(), 1); // at the tail: nothing
    string::remove_char(&t.cell(), 0);
    EXPECT_EQ(text_of(t.cell()), U"");
}

TEST_F(String, PositionsClampToTheTail) {
    GcRoot s(make_string(U"abcd", 2));
    Cell& c = s.cell();
    EXPECT_EQ(string::length(&c), 4u);
    EXPECT_EQ(string::length_from_head(&c), 4u);
    EXPECT_FALSE(string::advance(&c, 3));
    EXPECT_EQ(c.w1, 3u);
    EXPECT_TRUE(string::step_next(&c));
    EXPECT_EQ(c.w1, 4u);
    EXPECT_TRUE(string::advance(&c, 2)); // would pass the tail: stays
    EXPECT_EQ(c.w1, 4u);
    EXPECT_TRUE(string::index_at_tail(&c));
    c.w1 = 9;
    EXPECT_EQ(string::index_pointer(&c), string::tail_pointer(&c));
    EXPECT_EQ(c.w1, 4u); // written back
    c.w1 = 7;
    EXPECT_EQ(string::length(&c), 0u);
    EXPECT_EQ(c.w1, 4u);
    c.w1 = 1;
    EXPECT_EQ(string::length(&c), 3u);
    EXPECT_EQ(string::char_at(&c, 0), U'a'); // from the head, not the index
    EXPECT_EQ(string::get_char(string::index_pointer(&c), 2), U'b');
}

TEST_F(String, FindAndContainsChar) {
    GcRoot s(make_string(U"xabcAbc\u00E9", 2));
    s.cell().w1 = 1;
    EXPECT_EQ(string::find_char(&s.cell(), 'b'), 1);
    EXPECT_EQ(string::find_char(&s.cell(), 'x'), -1); // before the index
    EXPECT_EQ(string::find_char(&s.cell(), 0xE9), 6);
    EXPECT_TRUE(string::contains_char(&s.cell(), 'a', 1, 1));
    EXPECT_FALSE(string::contains_char(&s.cell(), 'B', 1, 1));
    EXPECT_TRUE(string::contains_char(&s.cell(), 'B', 1, 0));
    EXPECT_TRUE(string::contains_char(&s.cell(), 0xC9, 1, 0)); // É folds to é
    // With a step only every step-th character counts: a c b from index 1.
    EXPECT_TRUE(string::contains_char(&s.cell(), 'c', 2, 1));
    EXPECT_FALSE(string::contains_char(&s.cell(), 'b', 3, 1));
    EXPECT_TRUE(string::contains_char(&s.cell(), 'A', 3, 1));
}

TEST_F(String, StartsWithCstring) {
    GcRoot s(make_string(U"-caf\u00E9\u0100", 2));
    s.cell().w1 = 1;
    EXPECT_TRUE(string::starts_with_cstring(&s.cell(), "caf"));
    EXPECT_TRUE(string::starts_with_cstring(&s.cell(), "caf\xE9"));
    EXPECT_TRUE(string::starts_with_cstring(&s.cell(), ""));
    EXPECT_FALSE(string::starts_with_cstring(&s.cell(), "Caf"));
    EXPECT_FALSE(string::starts_with_cstring(&s.cell(), "caf\xE9\xC4"));  // 100 is above FF
    EXPECT_FALSE(string::starts_with_cstring(&s.cell(), "caf\xE9\x01z")); // longer
}

// A bitset: bit 0x80 of byte 0 is code point 0; beyond its bytes the complement flag answers.
TEST_F(String, CharInBitset) {
    GcRoot bits(make_text(std::string(13, '\0').c_str()));
    memory::Buffer* b = memory::buffer(bits.node());
    b->tail = 13;
    std::memset(b->data(), 0, 13);
    b->data()['a' >> 3] |= 0x80 >> ('a' & 7);
    GcRoot bitset_root(Cell{kTypeBitset, 0, bits.node(), 0});
    const Cell& bitset = bitset_root.cell();
    struct Case {
        std::u32string text;
        bool complement, in;
    } cases[] = {{U"a", false, true},
                 {U"b", false, false},
                 {U"\u00E9", false, false},
                 {U"\u00E9", true, true},
                 {U"", false, false}};
    for (const Case& c : cases) {
        GcRoot s(make_string(c.text, 2));
        b = memory::buffer(bits.node());
        b->flags = c.complement ? b->flags | 0x80000 : b->flags & ~0x80000u;
        EXPECT_EQ(string::char_in_bitset(&s.cell(), &bitset), c.in);
    }
}

// --- Comparing texts ---------------------------------------------------------------------

TEST_F(String, CompareStringsCodes) {
    using namespace string;
    struct Case {
        std::u32string a, b;
        int32_t op;
        bool match;
        int32_t result;
    } cases[] = {
        {U"abc", U"ABC", kEqual, false, 0},
        {U"abc", U"ABC", kStrictEqual, false, 1},
        {U"abc", U"ABC", kCaseSort, false, 1},
        {U"ABC", U"abc", kCaseSort, false, -1},
        {U"abc", U"abd", kLesser, false, -1},
        {U"abd", U"abc", kGreater, false, 1},
        {U"ab", U"abc", kLesser, false, -1},
        {U"abc", U"ab", kLesser, false, 1},
        {U"ab", U"abc", kEqual, false, 1},
        {U"ab", U"abc", kNotEqual, false, 1},
        {U"", U"", kEqual, false, 0},
        {U"", U"", kLesser, false, 0},
        {U"", U"a", kLesser, false, -1},
        {U"a", U"", kLesser, false, 1},
        {U"\u00E9t\u00E9", U"\u00C9T\u00C9", kEqual, false, 0}, // folding beyond ASCII
        {U"stra\u00DFe", U"STRASSE", kEqual, false, 1},         // simple folding only
        {U"abc", U"ab", kEqual, true, 0},                       // begins with
        {U"abc", U"AB", kFind, true, 0},
        {U"abc", U"AB", kStrictEqual, true, 1},
        {U"abc", U"abcd", kEqual, true, 1}, // longer second
        {U"abc", U"", kEqual, true, 0},     // empty second
        {U"abc", U"", kFind, true, 1},
        {U"abc", U"b", kEqual, true, -1},
        {U"b", U"a", kEqual, true, 1},
    };
    for (const Case& c : cases)
        for (uint32_t ua : {1u, 4u})
            for (uint32_t ub : {2u, 4u}) {
                if (c.a.find_first_of(U"\u00E9") != std::u32string::npos && ua == 1) continue;
                GcRoot a(make_string(c.a, ua));
                GcRoot b(make_string(c.b, ub));
                EXPECT_EQ(compare_strings(&a.cell(), &b.cell(), c.op, c.match), c.result)
                    << ua << ub << " op " << c.op << " match " << c.match;
            }
}

TEST_F(String, CompareStringsSameness) {
    using namespace string;
    GcRoot a(make_string(U"abc", 1));
    GcRoot b_root(a.cell()); // followed when making c moves the node
    Cell& b = b_root.cell();
    EXPECT_EQ(compare_strings(&a.cell(), &b, kSame, false), 0);
    EXPECT_EQ(compare_strings(&a.cell(), &b, kEqual, false), 0);
    EXPECT_EQ(compare_strings(&a.cell(), &b, kLesser, false), 0);
    b.w1 = 1;
    EXPECT_EQ(compare_strings(&a.cell(), &b, kSame, false), -1);
    GcRoot c(make_string(U"abc", 1));
    EXPECT_EQ(compare_strings(&a.cell(), &c.cell(), kSame, false), -1);
    EXPECT_EQ(compare_strings(&a.cell(), &c.cell(), kEqual, false), 0);
    // From the indexes: "bc" against "c".
    b.w1 = 1;
    c.cell().w1 = 2;
    EXPECT_EQ(compare_strings(&b, &c.cell(), kLesser, false), -1);
    // A symbol stands for its text from the start.
    const Cell symbol{kTypeSymbol, static_cast<uint32_t>(-1), c.cell().w2, 0};
    EXPECT_EQ(compare_strings(&a.cell(), &symbol, kEqual, false), 0);
}

TEST_F(String, MatchValue) {
    using namespace string;
    GcRoot s(make_string(U"x<Ab>rest", 2));
    s.cell().w1 = 1;
    GcRoot inside(make_string(U"ab", 1));
    GcRoot prefix(make_string(U"<AB>", 1));
    const Cell tag{kTypeTag, 0, inside.cell().w2, 0};
    Cell file = prefix.cell();
    file.header = kTypeFile;
    const Cell lt{kTypeChar, 0, '<', 0};
    const Cell a_char{kTypeChar, 0, 'a', 0};
    const Cell number{kTypeInteger, 0, '<', 0};
    EXPECT_TRUE(match_value(&s.cell(), &prefix.cell(), kEqual));
    EXPECT_FALSE(match_value(&s.cell(), &prefix.cell(), kStrictEqual));
    EXPECT_TRUE(match_value(&s.cell(), &file, kFind));
    EXPECT_TRUE(match_value(&s.cell(), &lt, kStrictEqual));
    EXPECT_TRUE(match_value(&s.cell(), &tag, kEqual));
    EXPECT_FALSE(match_value(&s.cell(), &tag, kStrictEqual));
    EXPECT_FALSE(match_value(&s.cell(), &number, kEqual));
    s.cell().w1 = 2;
    EXPECT_TRUE(match_value(&s.cell(), &a_char, kEqual));
    EXPECT_FALSE(match_value(&s.cell(), &a_char, kStrictEqual));
    EXPECT_FALSE(match_value(&s.cell(), &tag, kEqual)); // no "<" here
    s.cell().w1 = 9;
    EXPECT_FALSE(match_value(&s.cell(), &a_char, kEqual)); // at the tail
}

TEST_F(String, AngleBracketed) {
    GcRoot s(make_string(U"<abc>", 1));
    GcRoot three(make_string(U"xyz", 1));
    GcRoot four(make_string(U"wxyz", 1));
    const Cell tag3{kTypeTag, 0, three.cell().w2, 0};
    const Cell tag4{kTypeTag, 0, four.cell().w2, 0};
    EXPECT_TRUE(string::angle_bracketed(&s.cell(), &tag3));
    EXPECT_FALSE(string::angle_bracketed(&s.cell(), &tag4)); // would read past the tail
    Cell from1 = tag4;
    from1.w1 = 1; // the tag's length counts from its index
    EXPECT_TRUE(string::angle_bracketed(&s.cell(), &from1));
}

// --- Concatenation -----------------------------------------------------------------------

TEST_F(String, ConcatenateModes) {
    using namespace string;
    struct Case {
        int32_t mode, part, offset;
        std::u32string text;
    } cases[] = {{kAppendMode, -1, 0, U"abcdXYZ"}, {kAppendMode, 2, 0, U"abcdXY"},
                 {kAppendMode, 0, 0, U"abcd"},     {kInsertMode, -1, 1, U"abXYZcd"},
                 {kInsertMode, 1, 0, U"aXbcd"},    {kOverwriteMode, -1, 0, U"aXYZ"},
                 {kOverwriteMode, 1, 1, U"abXd"},  {kOverwriteMode, -1, 9, U"abcdXYZ"}};
    for (const Case& c : cases) {
        GcRoot t(make_string(U"abcd", 1));
        t.cell().w1 = 1;
        GcRoot s(make_string(U"-XYZ", 1));
        s.cell().w1 = 1;
        concatenate(&t.cell(), &s.cell(), c.part, c.offset, false, c.mode);
        EXPECT_EQ(text_of(t.cell(), true), c.text) << c.mode << " " << c.part;
    }
}

// The narrower side widens; a source that must be kept is converted character by character.
TEST_F(String, ConcatenateWidensTheNarrowerSide) {
    using namespace string;
    for (bool keep : {false, true}) {
        GcRoot t(make_string(U"\u20AC", 2));
        GcRoot s(make_string(U"caf\u00E9", 1));
        concatenate(&t.cell(), &s.cell(), -1, 0, keep, kAppendMode);
        EXPECT_EQ(text_of(t.cell()), U"\u20ACcaf\u00E9");
        EXPECT_EQ(unit_of(s.cell()), keep ? 1u : 2u);
        EXPECT_EQ(text_of(s.cell()), U"caf\u00E9");
    }
    GcRoot t(make_string(U"caf\u00E9", 1));
    GcRoot s(make_string(U"\U0001F600", 4));
    concatenate(&t.cell(), &s.cell(), -1, 0, true, kInsertMode);
    EXPECT_EQ(unit_of(t.cell()), 4u);
    EXPECT_EQ(text_of(t.cell()), U"\U0001F600caf\u00E9");
}

TEST_F(String, ConcatenateOntoItself) {
    using namespace string;
    struct Case {
        int32_t mode, offset;
        uint32_t source_index;
        std::u32string text;
    } cases[] = {{kAppendMode, 0, 0, U"abcabc"},
                 {kAppendMode, 0, 1, U"abcbc"},
                 {kInsertMode, 1, 0, U"aabcbc"},
                 {kInsertMode, 0, 1, U"bcabc"},
                 {kOverwriteMode, 1, 0, U"aabc"}};
    for (const Case& c : cases) {
        GcRoot t(make_string(U"abc", 1));
        Cell source = t.cell();
        source.w1 = c.source_index;
        concatenate(&t.cell(), &source, -1, c.offset, false, c.mode);
        EXPECT_EQ(text_of(t.cell()), c.text) << c.mode << " " << c.source_index;
    }
}

TEST_F(String, ConcatenateGrowsOverManyAppends) {
    GcRoot t(make_string(U"", 1));
    GcRoot s(make_string(U"0123456789\u0100", 2));
    std::u32string expected;
    for (int i = 0; i < 200; ++i) {
        string::concatenate(&t.cell(), &s.cell(), -1, 0, false, string::kAppendMode);
        expected += U"0123456789\u0100";
    }
    EXPECT_EQ(text_of(t.cell()), expected);
}

TEST_F(String, InsertUnitsConvertsIntoATargetOrANewBuffer) {
    GcRoot s(make_string(U"ab\u00E9cd", 1));
    // Into a new buffer that takes over the source's node: the whole text, widened.
    const uint32_t node = s.cell().w2;
    Buffer* b = string::insert_units(memory::buffer(node), nullptr, 64, 4, 0, 0, 0, false);
    EXPECT_EQ(b, memory::buffer(s.cell().w2));
    EXPECT_EQ(b->unit(), 4u);
    EXPECT_GE(b->size, 64u);
    EXPECT_EQ(text_of(s.cell()), U"ab\u00E9cd");
    // Into an existing target at an offset, a part of the source, the tail left alone.
    GcRoot source(make_string(U"xyz\u0100", 2));
    GcRoot target(make_string(U"........", 4));
    string::insert_units(memory::buffer(source.cell().w2), memory::buffer(target.cell().w2), 0, 4,
                         2, 8, 4, true);
    EXPECT_EQ(text_of(target.cell()), U"..yz....");
    string::insert_units(memory::buffer(source.cell().w2), memory::buffer(target.cell().w2), 0, 4,
                         2, 4, 0, false);
    EXPECT_EQ(text_of(target.cell()), U".yz\u0100");
}

TEST_F(String, MoveCharsInsertsThenRemoves) {
    GcRoot source(make_string(U"ab\u20ACcd", 2));
    source.cell().w1 = 1;
    GcRoot target(make_string(U"XY", 1));
    target.cell().w1 = 1;
    string::move_chars(&source.cell(), &target.cell(), 2 * 2);
    EXPECT_EQ(text_of(source.cell(), true), U"acd");
    EXPECT_EQ(text_of(target.cell()), U"b\u20ACY");
    EXPECT_EQ(text_of(target.cell(), true), U"Xb\u20ACY");
    EXPECT_EQ(unit_of(target.cell()), 2u);
}

// --- Loading -----------------------------------------------------------------------------

TEST_F(String, LoadMakesAStringFromEitherEncoding) {
    const std::string utf8 = "caf\xC3\xA9";
    GcRoot target(Cell{});
    Cell* c = string::load(reinterpret_cast<const uint8_t*>(utf8.data()), 5, &target.cell(),
                           string::kUtf8);
    EXPECT_EQ(c, &target.cell());
    EXPECT_EQ(c->header, kTypeString);
    EXPECT_EQ(text_of(*c), U"caf\u00E9");

    const std::u16string utf16 = u"\u20ACuro";
    Cell* pushed =
        string::load_push(reinterpret_cast<const uint8_t*>(utf16.data()), 8, string::kUtf16le);
    EXPECT_EQ(pushed, stack::top - 1);
    EXPECT_EQ(text_of(*pushed), U"\u20ACuro");
    EXPECT_EQ(pushed->w1, 0u);
    EXPECT_EQ(pushed->w3, 0u);

    GcRoot block(memory::alloc_cells(1));
    string::load_into_block(reinterpret_cast<const uint8_t*>("ab"), 2, block.node(), string::kUtf8);
    string::load_into_block(reinterpret_cast<const uint8_t*>("cd"), 2, block.node(), string::kUtf8);
    Buffer* b = memory::buffer(block.node());
    ASSERT_EQ(b->length(), 2u);
    EXPECT_EQ(text_of(b->cells()[0]), U"ab");
    EXPECT_EQ(text_of(memory::buffer(block.node())->cells()[1]), U"cd");

    // Into the root block: the cell stays where it is made, whatever the collector moves.
    Cell* permanent =
        string::load_in(reinterpret_cast<const uint8_t*>("caf\xC3\xA9"), 5, string::kUtf8);
    make_string(U"garbage", 1);
    collector::collect();
    EXPECT_EQ(text_of(*permanent), U"caf\u00E9");
}

TEST_F(String, LoadWithAnUnsupportedEncodingEndsTheProcess) {
    EXPECT_EXIT(string::load(reinterpret_cast<const uint8_t*>("x"), 1, nullptr, 1),
                testing::ExitedWithCode(0), "");
}

TEST_F(String, FromUtf8CheckedRaisesOnBytesLeftOver) {
    const std::string whole = "ok\xE2\x82\xAC";
    Cell* c = string::from_utf8_checked(reinterpret_cast<const uint8_t*>(whole.data()), 5);
    EXPECT_EQ(text_of(*c), U"ok\u20AC");
    const std::string cut = "ok\xE2\x82";
    EXPECT_TRUE(raises(error::kAccess, error::access::invalid_utf8, [&] {
        string::from_utf8_checked(reinterpret_cast<const uint8_t*>(cut.data()), 4);
    }));
    EXPECT_EQ(cell::type(&error::last_raised.args[0]), kTypeBinary);
    EXPECT_EQ(bytes_of(error::last_raised.args[0]), "\xE2\x82");
}

// --- Numbers -----------------------------------------------------------------------------

TEST_F(String, HexDigits) {
    EXPECT_STREQ(string::byte_to_hex(0x0F), "0F");
    EXPECT_STREQ(string::byte_to_hex(0xA5), "A5");
    struct Case {
        int32_t value;
        bool strip;
        const char* digits;
    } cases[] = {{0x1E, true, "1E"},      {0, true, "00"},        {0x1E, false, "0000001E"},
                 {0, false, "00000000"},  {0xF, true, "F"},       {0x12345678, true, "12345678"},
                 {-1, false, "FFFFFFFF"}, {-2, true, "FFFFFFFE"}, {INT32_MIN, true, "80000000"},
                 {0x100, true, "100"}};
    for (const Case& c : cases) EXPECT_STREQ(string::int_to_hex(c.value, c.strip), c.digits);
}

TEST_F(String, ToFloatReportsTheBytesLeft) {
    int32_t unconsumed = -1;
    EXPECT_EQ(string::to_float("1.5", 3, unconsumed), 1.5);
    EXPECT_EQ(unconsumed, 0);
    EXPECT_EQ(string::to_float("-2.5e3x", 7, unconsumed), -2500.0);
    EXPECT_EQ(unconsumed, 1);
    EXPECT_EQ(string::to_float("12", 1, unconsumed), 1.0); // only the range counts
}
