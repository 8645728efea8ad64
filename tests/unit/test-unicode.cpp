#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime-core/error-ids.h"
#include "runtime-core/unicode.h"
#include "string-fixture.h"

using memory::Buffer;

namespace {

class Unicode : public StringTest {
protected:
    static const uint8_t* bytes(const std::string& s) {
        return reinterpret_cast<const uint8_t*>(s.data());
    }
    static uint32_t size(const std::string& s) { return static_cast<uint32_t>(s.size()); }

    // A string cell whose buffer came from a loader.
    static Cell loaded(uint32_t node) { return Cell{kTypeString, 0, node, 0}; }

    // load_utf8 into a new string: its text, unit size and unconsumed count.
    struct Load {
        std::u32string text;
        uint32_t unit;
        int32_t unconsumed;
    };
    static Load load8(const std::string& in, bool crlf = false) {
        int32_t unconsumed = -7;
        GcRoot s(loaded(unicode::load_utf8(bytes(in), size(in), nullptr, &unconsumed, crlf)));
        return {text_of(s.cell()), unit_of(s.cell()), unconsumed};
    }
    static Load load16(const std::u16string& in, bool crlf = false) {
        GcRoot s(loaded(
            unicode::load_utf16(in.data(), static_cast<uint32_t>(in.size()), nullptr, crlf)));
        return {text_of(s.cell()), unit_of(s.cell()), 0};
    }
};

// A plain reading of UTF-8: the code point and length of a well-formed sequence at the
// start, or 0 length when it is malformed or cut.
struct Sequence {
    uint32_t cp;
    uint32_t length;
};
Sequence reference_decode(const uint8_t* p, size_t n) {
    if (n == 0) return {0, 0};
    const uint8_t b0 = p[0];
    if (b0 < 0x80) return {b0, 1};
    uint32_t length = b0 >= 0xC2 && b0 <= 0xDF   ? 2
                      : b0 >= 0xE0 && b0 <= 0xEF ? 3
                      : b0 >= 0xF0 && b0 <= 0xF4 ? 4
                                                 : 0;
    if (length == 0 || n < length) return {0, 0};
    uint32_t cp = b0 & (0x7F >> length);
    for (uint32_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) return {0, 0};
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    static const uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < minimum[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {0, 0};
    return {cp, length};
}

} // namespace

// --- UTF-8 primitives ---------------------------------------------------------------------

// The automaton accepts exactly the well-formed sequences: every two-byte input, and three-
// and four-byte inputs over every second byte with a spread of later bytes.
TEST_F(Unicode, DecodeCharAcceptsExactlyWellFormedSequences) {
    auto check = [](std::vector<uint8_t> in) {
        int32_t cp;
        const uint8_t* end = in.data() + in.size();
        const uint8_t* next = utf8::decode_char(in.data(), end, cp);
        const Sequence ref = reference_decode(in.data(), in.size());
        if (ref.length) {
            ASSERT_EQ(cp, static_cast<int32_t>(ref.cp));
            ASSERT_EQ(next, in.data() + ref.length);
        } else {
            ASSERT_EQ(cp, -1);
            ASSERT_GT(next, in.data());
        }
    };
    for (uint32_t b0 = 0; b0 < 256; ++b0)
        for (uint32_t b1 = 0; b1 < 256; ++b1) {
            check({uint8_t(b0), uint8_t(b1)});
            if (b0 < 0xE0) continue;
            for (uint8_t b2 : {0x00, 0x7F, 0x80, 0xA5, 0xBF, 0xC0})
                for (uint8_t b3 : {0x41, 0x80, 0xBF}) check({uint8_t(b0), uint8_t(b1), b2, b3});
        }
}

TEST_F(Unicode, DecodeCharStopsAfterTheByteThatMadeItInvalid) {
    const uint8_t in[] = {0xE2, 0x28, 0xA1};
    int32_t cp = 0;
    EXPECT_EQ(utf8::decode_char(in, in + 3, cp), in + 2);
    EXPECT_EQ(cp, -1);
    // A sequence cut off by the end.
    EXPECT_EQ(utf8::decode_char(in, in + 1, cp), in + 1);
    EXPECT_EQ(cp, -1);
}

TEST_F(Unicode, CountAndSkipGoBySequencesValidOrNot) {
    const std::string text = "caf\xC3\xA9\x80\xF0\x9F\x98\x80!";
    const uint8_t* start = bytes(text);
    const uint8_t* end = start + text.size();
    EXPECT_EQ(utf8::count_chars(start, end), 7u); // c a f é <80> 😀 !
    EXPECT_EQ(utf8::skip_chars(start, end, 4), start + 5);
    EXPECT_EQ(utf8::skip_chars(start, end, 6), start + 10);
    EXPECT_EQ(utf8::skip_chars(start, end, 100), end);
    EXPECT_EQ(utf8::skip_chars(start, start + 4, 100), start + 4); // stops at the limit
}

TEST_F(Unicode, LeadAndEncodeLengths) {
    const std::pair<uint8_t, uint32_t> leads[] = {{0x41, 0}, {0x80, 0}, {0xBF, 0},
                                                  {0xC0, 2}, {0xDF, 2}, {0xE0, 3},
                                                  {0xEF, 3}, {0xF0, 4}, {0xFF, 4}};
    for (auto [byte, length] : leads) EXPECT_EQ(utf8::lead_length(byte), length) << int(byte);
    const std::pair<uint32_t, std::string> codes[] = {{0x41, "A"},
                                                      {0x7F, "\x7F"},
                                                      {0x80, "\xC2\x80"},
                                                      {0x7FF, "\xDF\xBF"},
                                                      {0x800, "\xE0\xA0\x80"},
                                                      {0xFFFF, "\xEF\xBF\xBF"},
                                                      {0x10000, "\xF0\x90\x80\x80"},
                                                      {0x10FFFF, "\xF4\x8F\xBF\xBF"}};
    for (const auto& [cp, utf8] : codes) {
        uint8_t out[4];
        EXPECT_EQ(utf8::encode_length(cp), utf8.size());
        ASSERT_EQ(utf8::encode_char(cp, out), utf8.size());
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), utf8.size()), utf8);
    }
}

TEST_F(Unicode, EncodeCharLimitedWritesOnlyWhatFits) {
    for (int32_t room : {-1, 0, 1, 2, 3, 4, 9}) {
        uint8_t out[4] = {0, 0, 0, 0};
        const uint32_t n = utf8::encode_char_limited(0x1F600, out, room);
        EXPECT_EQ(n, static_cast<uint32_t>(std::clamp(room, 0, 4)));
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), n), std::string("\xF0\x9F\x98\x80", n));
    }
}

TEST_F(Unicode, EncodersRejectCodePointsAbove10FFFF) {
    uint8_t out[8];
    using namespace error;
    EXPECT_TRUE(raises(kScript, script::invalid_char, [&] { utf8::encode_char(0x110000, out); }));
    EXPECT_EQ(error::last_raised.args[0].header, kTypeInteger);
    EXPECT_EQ(error::last_raised.args[0].w2, 0x110000u);
    EXPECT_TRUE(raises(kScript, script::invalid_char, [&] { utf8::encode_length(0xFFFFFFFF); }));
    EXPECT_TRUE(raises(kScript, script::invalid_char,
                       [&] { utf8::encode_char_limited(0x110000, out, 0); }));
    char16_t units[2];
    EXPECT_EQ(unicode::encode_utf16_char(0x110000, units), 0u);
}

TEST_F(Unicode, Utf8SizeCountsEveryWidth) {
    GcRoot s(make_string(U"a\u00E9\u20AC\U0001F600", 4));
    Buffer* b = memory::buffer(s.cell().w2);
    EXPECT_EQ(unicode::utf8_size(b->at_head(), b->at_tail(), 4), 10u);
}

// --- The strict decoder and load_utf8 -------------------------------------------------------

TEST_F(Unicode, StrictDecoderAcceptsOverlongsAndRejectsTheListedForms) {
    struct Case {
        std::string in;
        int32_t cp;
        uint32_t length;
    } good[] = {{"A", 'A', 1},
                {"\xC3\xA9", 0xE9, 2},
                {"\xC0\x80", 0, 2},          // overlong NUL
                {"\xE0\x80\x80", 0, 3},      // overlong
                {"\xED\xA0\x80", 0xD800, 3}, // only DC00-DCFF is refused
                {"\xED\xB4\x80", 0xDD00, 3},
                {"\xF4\x8F\xBF\xBF", 0x10FFFF, 4},
                {"\xE2\x82", -1, 0}, // cut: fewer bytes than the lead needs
                {"\xF0\x9F\x98", -1, 0}};
    for (const Case& c : good) {
        uint32_t length = size(c.in);
        EXPECT_EQ(unicode::decode_utf8_char(bytes(c.in), length), c.cp);
        if (c.cp >= 0) {
            EXPECT_EQ(length, c.length);
        }
    }
    const std::string bad[] = {"\x80",
                               "\xBF",
                               "\xF8\x80\x80\x80",
                               "\xFF",
                               "\xED\xB2\x80",     // DC80
                               "\xED\xB3\xBF",     // DCFF
                               "\xF4\x90\x80\x80", // 110000
                               "\xC3\x41",
                               "\xE2\x28\xA1"};
    for (const std::string& in : bad) {
        uint32_t length = size(in);
        EXPECT_TRUE(raises(error::kAccess, error::access::invalid_utf8,
                           [&] { unicode::decode_utf8_char(bytes(in), length); }));
        const Cell& arg = error::last_raised.args[0];
        EXPECT_EQ(cell::type(&arg), kTypeBinary);
        EXPECT_EQ(bytes_of(arg), in.substr(0, 4));
    }
}

TEST_F(Unicode, LoadUtf8KeepsLatin1InOneByteAndWidensAbove) {
    struct Case {
        std::string in;
        std::u32string text;
        uint32_t unit;
    } cases[] = {{"caf\xC3\xA9", U"caf\u00E9", 1},
                 {"", U"", 1},
                 {"\xEF\xBB\xBF", U"", 1}, // only the mark
                 {"\xEF\xBB\xBFok", U"ok", 1},
                 {"\xEF\xBB", U"\u00EF", 0}, // two bytes: no mark, and a cut sequence
                 {"x\xE2\x82\xAC", U"x\u20AC", 2},
                 {"x\xF0\x9F\x98\x80", U"x\U0001F600", 4},
                 {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80!", U"\u00E9\u20AC\U0001F600!", 4}};
    for (const Case& c : cases) {
        const Load l = load8(c.in);
        if (c.unit == 0) { // "EF BB": EF starts a 3-byte sequence that is cut
            EXPECT_EQ(l.text, U"");
            EXPECT_EQ(l.unconsumed, 2);
            continue;
        }
        EXPECT_EQ(l.text, c.text) << c.in;
        EXPECT_EQ(l.unit, c.unit) << c.in;
        EXPECT_EQ(l.unconsumed, 0) << c.in;
    }
}

TEST_F(Unicode, LoadUtf8StopsAtACutSequenceAndReportsTheBytesLeft) {
    const std::pair<std::string, int32_t> cases[] = {
        {"ab\xE2\x82", 2}, {"ab\xE2", 1}, {"ab\xF0\x9F\x98", 3}, {"ab\xC3", 1}};
    for (const auto& [in, left] : cases) {
        const Load l = load8(in);
        EXPECT_EQ(l.text, U"ab");
        EXPECT_EQ(l.unconsumed, left);
    }
}

TEST_F(Unicode, LoadUtf8FoldsLineEndsOnRequest) {
    EXPECT_EQ(load8("\r\n\r", true).text, U"\n\n");
    EXPECT_EQ(load8("a\r\nb\rc\r\r\nd", true).text, U"a\nb\nc\n\nd");
    EXPECT_EQ(load8("a\r\nb\r", false).text, U"a\r\nb\r");
}

TEST_F(Unicode, LoadUtf8RaisesOnAnInvalidSequence) {
    const std::string in = "ok\xED\xB2\x80tail";
    EXPECT_TRUE(raises(error::kAccess, error::access::invalid_utf8, [&] { load8(in); }));
    EXPECT_EQ(bytes_of(error::last_raised.args[0]), "\xED\xB2\x80t");
}

// Long texts widen in the middle of the input and keep growing at the wider width.
TEST_F(Unicode, LoadUtf8GrowsAfterWidening) {
    std::string in;
    std::u32string expected;
    for (int i = 0; i < 300; ++i) in += 'a', expected += U'a';
    for (int i = 0; i < 300; ++i) in += "\xE2\x82\xAC", expected += U'\u20AC';
    for (int i = 0; i < 300; ++i) in += "\xF0\x9F\x98\x80", expected += U'\U0001F600';
    const Load l = load8(in);
    EXPECT_EQ(l.unit, 4u);
    EXPECT_EQ(l.text, expected);
}

// The bytes may lie in a series buffer that moves while the text is built.
TEST_F(Unicode, LoadUtf8FollowsBytesInASeriesBuffer) {
    std::string in;
    for (int i = 0; i < 50; ++i) in += "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    GcRoot source(make_text(in.c_str()));
    GcRoot s(loaded(unicode::load_utf8(memory::buffer(source.node())->at_head(), size(in), nullptr,
                                       nullptr, false)));
    std::u32string expected;
    for (int i = 0; i < 50; ++i) expected += U"\u00E9\u20AC\U0001F600";
    EXPECT_EQ(text_of(s.cell()), expected);
}

// A target keeps its width and its node; its old text is replaced.
TEST_F(Unicode, LoadUtf8IntoATargetReplacesItsText) {
    GcRoot s(make_string(U"old text \u0100", 2));
    const uint32_t node = s.cell().w2;
    int32_t unconsumed = -1;
    EXPECT_EQ(unicode::load_utf8_binary(bytes("caf\xC3\xA9"), 5, &s.cell(), &unconsumed),
              memory::buffer(s.cell().w2)->node);
    EXPECT_EQ(s.cell().w2, node);
    EXPECT_EQ(text_of(s.cell()), U"caf\u00E9");
    EXPECT_EQ(unit_of(s.cell()), 2u);
    EXPECT_EQ(unconsumed, 0);
}

// --- load_utf16 and load_cp1251 ----------------------------------------------------------

TEST_F(Unicode, LoadUtf16ChoosesTheWidthByOneScan) {
    struct Case {
        std::u16string in;
        std::u32string text;
        uint32_t unit;
    } cases[] = {{u"caf\u00E9", U"caf\u00E9", 1},
                 {u"", U"", 1},
                 {u"x\u20AC", U"x\u20AC", 2},
                 {u"x\U0001F600y", U"x\U0001F600y", 4},
                 {u"\U00010000", U"\U00010000", 4}};
    for (const Case& c : cases) {
        GcRoot s(loaded(
            unicode::load_utf16(c.in.data(), static_cast<uint32_t>(c.in.size()), nullptr, false)));
        EXPECT_EQ(text_of(s.cell()), c.text);
        EXPECT_EQ(unit_of(s.cell()), c.unit);
        EXPECT_TRUE(memory::buffer(s.cell().w2)->flags & unicode::kFlagLoadedUtf16);
    }
}

// File names and window text may hold a surrogate without its partner: it becomes U+FFFD
// and the rest of the text is kept.
TEST_F(Unicode, LoadUtf16TurnsALoneSurrogateIntoTheReplacementCharacter) {
    const std::u16string high_at_end = u"ab" + std::u16string(1, char16_t(0xD83D));
    const std::u16string high_then_letter = u"a" + std::u16string(1, char16_t(0xD83D)) + u"b";
    const std::u16string low_alone = u"a" + std::u16string(1, char16_t(0xDE00)) + u"b";
    const std::u16string two_highs =
        std::u16string(1, char16_t(0xD83D)) + std::u16string(u"\U0001F600");
    EXPECT_EQ(load16(high_at_end).text, U"ab\uFFFD");
    EXPECT_EQ(load16(high_then_letter).text, U"a\uFFFDb");
    EXPECT_EQ(load16(low_alone).text, U"a\uFFFDb");
    EXPECT_EQ(load16(two_highs).text, U"\uFFFD\U0001F600");
}

TEST_F(Unicode, LoadUtf16DropsEveryCrOnRequest) {
    EXPECT_EQ(load16(u"\r\n\r", true).text, U"\n");
    EXPECT_EQ(load16(u"a\r\nb\u20AC\r", true).text, U"a\nb\u20AC");
    EXPECT_EQ(load16(u"\U0001F600\r\n", true).text, U"\U0001F600\n");
    EXPECT_EQ(load16(u"a\r\n", false).text, U"a\r\n");
}

// With no units given, the text is read from the target's conversion cache, where a system
// call has just written it.
TEST_F(Unicode, LoadUtf16ReadsTheConversionCache) {
    GcRoot s(make_string(U"", 1));
    const std::u16string text = u"from the cache \u20AC";
    uint8_t* cache = unicode::scratch_buffer(&s.cell(), static_cast<uint32_t>(text.size() * 2));
    std::memcpy(cache, text.data(), text.size() * 2);
    unicode::load_utf16(nullptr, static_cast<uint32_t>(text.size()), &s.cell(), false);
    EXPECT_EQ(text_of(s.cell()), U"from the cache \u20AC");
}

TEST_F(Unicode, LoadCp1251MapsTheUpperHalfAndWidens) {
    struct Case {
        std::string in;
        bool crlf;
        std::u32string text;
        uint32_t unit;
    } cases[] = {{"plain", false, U"plain", 1},
                 {"\xCF\xF0\xE8\xE2\xE5\xF2", false, U"\u041F\u0440\u0438\u0432\u0435\u0442", 2},
                 {"\x80\x98\x99\xA0\xB9\xFF", false, U"\u0402\u0098\u2122\u00A0\u2116\u044F", 2},
                 {"a\r\nb\rc", true, U"a\nb\nc", 1},
                 {"a\r\nb", false, U"a\r\nb", 1}};
    for (const Case& c : cases) {
        GcRoot s(loaded(unicode::load_cp1251(bytes(c.in), size(c.in), nullptr, c.crlf)));
        EXPECT_EQ(text_of(s.cell()), c.text) << c.in;
        EXPECT_EQ(unit_of(s.cell()), c.unit) << c.in;
    }
}

// --- Strings to bytes ---------------------------------------------------------------------

// "café" goes to UTF-8 and UTF-16 alike from every width, and comes back.
TEST_F(Unicode, CafeRoundTripsAtEveryWidth) {
    for (uint32_t unit : {1u, 2u, 4u}) {
        GcRoot s(make_string(U"caf\u00E9", unit));
        int32_t part = -1;
        const std::string utf8 = unicode::to_utf8(&s.cell(), part);
        EXPECT_EQ(utf8, "caf\xC3\xA9") << unit;
        EXPECT_EQ(part, 5);
        const std::u16string utf16 = unicode::to_utf16(&s.cell());
        EXPECT_EQ(utf16, u"caf\u00E9") << unit;

        GcRoot back8(loaded(unicode::load_utf8_simple(bytes(utf8), size(utf8))));
        EXPECT_EQ(text_of(back8.cell()), U"caf\u00E9");
        EXPECT_EQ(unit_of(back8.cell()), 1u);
        GcRoot back16(loaded(unicode::load_utf16(utf16.data(), 4, nullptr, false)));
        EXPECT_EQ(text_of(back16.cell()), U"caf\u00E9");
        EXPECT_EQ(unit_of(back16.cell()), 1u);
    }
}

TEST_F(Unicode, ToUtf8TakesAPartFromTheIndexAndFoldsLineEndsOnRequest) {
    GcRoot s(make_string(U"xa\nb\u20AC", 2));
    s.cell().w1 = 1;
    int32_t part = 2;
    EXPECT_STREQ(unicode::to_utf8_part(&s.cell(), part, true), "a\r\n");
    EXPECT_EQ(part, 3);
    part = 99;
    EXPECT_STREQ(unicode::to_utf8_part(&s.cell(), part, false), "a\nb\xE2\x82\xAC");
    EXPECT_EQ(part, 6);
    part = -1;
    EXPECT_STREQ(unicode::to_utf8_part(&s.cell(), part, true), "a\r\nb\xE2\x82\xAC");
    EXPECT_EQ(part, 7);
    // The cache is the string's word 3, made once and replaced only when too small.
    const uint32_t cache = s.cell().w3;
    EXPECT_NE(cache, 0u);
    part = 1;
    unicode::to_utf8(&s.cell(), part);
    EXPECT_EQ(s.cell().w3, cache);
}

TEST_F(Unicode, ToUtf16MakesSurrogatePairsAndHasRoomForThem) {
    GcRoot s(make_string(U"\U00010000a\n\U0010FFFF", 4));
    int32_t part = -1;
    const char16_t* out = unicode::to_utf16_part(&s.cell(), part, true);
    const std::u16string expected = u"\xD800\xDC00"
                                    u"a\r\n\xDBFF\xDFFF";
    EXPECT_EQ(std::u16string(out, part), expected);
    EXPECT_EQ(out[part], 0);
    EXPECT_GE(memory::buffer(s.cell().w3)->size, (expected.size() + 1) * 2);
    // A 2-byte string without line-end conversion is copied as it is.
    GcRoot two(make_string(U"a\nb\u20AC", 2));
    part = -1;
    EXPECT_EQ(std::u16string(unicode::to_utf16_part(&two.cell(), part, false)), u"a\nb\u20AC");
    EXPECT_EQ(part, 4);
}

TEST_F(Unicode, ToUtf16GivesNoTextForACodePointAbove10FFFF) {
    GcRoot s(make_string(U"ab", 4));
    const uint32_t bad = 0x110000;
    std::memcpy(memory::buffer(s.cell().w2)->at_head() + 4, &bad, 4);
    EXPECT_EQ(unicode::to_utf16(&s.cell()), nullptr);
    int32_t part = -1;
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_char,
                       [&] { unicode::to_utf8(&s.cell(), part); }));
}

TEST_F(Unicode, WriteUtf8AndItsByteBudget) {
    GcRoot s(make_string(U"a\u00E9\u20AC\U0001F600", 4));
    uint8_t out[16];
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(unicode::write_utf8(&s.cell(), out, -1, true), 10u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out)), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(unicode::write_utf8(&s.cell(), out, 2, false), 3u);

    struct Case {
        int32_t room, part;
        std::string written;
    } cases[] = {{4, -1, "a\xC3\xA9\xE2"}, // the last character is cut
                 {3, -1, "a\xC3\xA9"},
                 {0, -1, ""},
                 {20, 2, "a\xC3\xA9"}, // part between 1 and the length less one
                 {20, 4, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"}, // part at the length: all
                 {20, 0, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"}};
    for (const Case& c : cases) {
        std::memset(out, 'x', sizeof out);
        const uint32_t n = unicode::write_utf8_limited(&s.cell(), out, c.room, c.part, true);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), n), c.written)
            << c.room << " " << c.part;
        EXPECT_EQ(out[n], 0);
    }
}

TEST_F(Unicode, AsciiAndSingleCodePointsToUtf16) {
    char16_t out[8];
    unicode::ascii_to_utf16("Zan!", out);
    EXPECT_EQ(std::u16string(out), u"Zan!");
    EXPECT_EQ(out[4], 0);
    EXPECT_EQ(unicode::encode_utf16_char(0xFFFF, out), 1u);
    EXPECT_EQ(out[0], 0xFFFF);
    EXPECT_EQ(unicode::encode_utf16_char(0x1F600, out), 2u);
    EXPECT_EQ(out[0], 0xD83D);
    EXPECT_EQ(out[1], 0xDE00);
}

// --- Widening in place -------------------------------------------------------------------

// Widening keeps every character, also when the text does not start at the data start and
// when the buffer must grow.
TEST_F(Unicode, WideningConvertsFromTheEnd) {
    struct Case {
        uint32_t from, to;
    } cases[] = {{1, 2}, {1, 4}, {2, 4}};
    for (const Case& c : cases) {
        std::u32string text;
        for (uint32_t i = 0; i < 40; ++i) text += char32_t(0x20 + i * 5);
        GcRoot s(make_string(text, c.from));
        Buffer* b = memory::buffer(s.cell().w2);
        b = c.from == 2 ? unicode::ucs2_to_ucs4(b)
            : c.to == 2 ? unicode::latin1_to_ucs2(b)
                        : unicode::latin1_to_ucs4(b);
        EXPECT_EQ(b, memory::buffer(s.cell().w2));
        EXPECT_EQ(b->unit(), c.to);
        EXPECT_GE(b->size - b->head, (text.size() + 1) * c.to);
        EXPECT_EQ(text_of(s.cell()), text);
    }
}
