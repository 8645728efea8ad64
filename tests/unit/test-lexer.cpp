#include <functional>

#include "lexer-fixture.h"
#include "loading/lexer-literals.h"
#include "tests/unit/fuzz-corpus.h"

TEST_F(LexerTest, LoadsCoreValuesAndMoldsThemBack) {
    EXPECT_EQ(reload("a b: 'c :d /e #f 12 -3 \"x y\" [1 (2)] a/b/c"),
              "a b: 'c :d /e #f 12 -3 \"x y\" [1 (2)] a/b/c");
}

// --- Literals that load as values today --------------------------------------------------

TEST_F(LexerTest, LiteralsLoadAndMold) {
    const struct {
        const char* source;
        const char* mold;
    } cases[] = {
        // integers and their boundaries
        {"2147483647", "2147483647"},
        {"-2147483648", "-2147483648"},
        {"2147483648", "2147483648.0"},
        {"-2147483649", "-2147483649.0"},
        {"00000000001", "1.0"}, // eleven digits, leading zeros counted
        {"0000000001", "1"},
        {"1'000'000", "1000000"},
        {"+7", "7"},
        {"FFh", "255"},
        {"0Fh", "15"},
        {"FFFFFFFFh", "-1"},
        // floats
        {"1.5", "1.5"},
        {"-.5", "-0.5"},
        {"1.", "1.0"},
        {"1e3", "1000.0"},
        {"1.5E-3", "0.0015"},
        {"1'000.5", "1000.5"},
        {"1.#INF", "1.#INF"},
        {"-1.#inf", "-1.#INF"},
        {"+1.#INF", "1.#INF"},
        {"1.#nan", "1.#NaN"},
        // words of every kind
        {"a b: :c 'd /e #f", "a b: :c 'd /e #f"},
        {"< <= <> > >= = == + - * / // % %%", "< <= <> > >= = == + - * / // % %%"},
        {"'/ '+ :+ +a -a .a a.b", "'/ '+ :+ +a -a .a a.b"},
        {"\xC3\xA9t\xC3\xA9 \xE2\x82\xAC:", "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC:"},
        // paths
        {"a/b/c :a/b 'a/b a/b: a/1/\"s\"", "a/b/c :a/b 'a/b a/b: a/1/\"s\""},
        {"a/(b c)/d a/:b", "a/(b c)/d a/:b"},
        // strings
        {"\"\" \"abc\" \"a^\"b\" \"^(41)^(tab)^/^-^^\"", "\"\" \"abc\" {a\"b} \"A^-^/^-^^\""},
        {"{a {b} c}", "\"a {b} c\""},
        {"{a^}b}", "\"a}b\""},
        {"\"\xC3\xA9\" \"\xF0\x9F\x98\x80\"", "\"\xC3\xA9\" \"\xF0\x9F\x98\x80\""},
        {"\"^(e9)^(20AC)^(1F600)\"", "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\""},
        {"\"^(null)^(BACK)^(line)^(page)^(esc)^(del)^@^~\"", "\"^@^H^/^L^[^~^@^~\""},
        {"%{a}b}% %{}%", "\"a}b\" \"\""},
        {"%%{a}b}%%", "\"a}b\""},
        // chars
        {"#\"a\" #\"^\"\" #\"^(line)\" #\"^(20AC)\" #\"^A\" #\"^a\"",
         "#\"a\" #\"^\"\" #\"^/\" #\"\xE2\x82\xAC\" #\"^A\" #\"^A\""},
        // construction syntax
        {"#(true) #(false) #(none) #(integer!) #(Block!)", "true false none integer! block!"},
        // blocks and parens
        {"[] () [[a] (b [c])]", "[] () [[a] (b [c])]"},
        {"(1 2)", "(1 2)"},
        {"a;comment\nb", "a\nb"},
    };
    for (const auto& c : cases) EXPECT_EQ(reload(c.source), c.mold) << c.source;
}

TEST_F(LexerTest, EmptyInputIsAnEmptyBlock) {
    EXPECT_EQ(reload(""), "");
    EXPECT_EQ(reload("  \n\t; only a comment"), "");
}

TEST_F(LexerTest, LineBreaksBeforeAValueMarkIt) {
    Cell* b = load("a\nb c\n\n[d\ne]");
    auto marked = [](const Cell* block, uint32_t i) {
        return (block::cell_at(block, i)->header & cell::kNewLine) != 0;
    };
    EXPECT_FALSE(marked(b, 0));
    EXPECT_TRUE(marked(b, 1));
    EXPECT_FALSE(marked(b, 2));
    EXPECT_TRUE(marked(b, 3));
    const Cell* inner = block::cell_at(b, 3);
    EXPECT_FALSE(marked(inner, 0));
    EXPECT_TRUE(marked(inner, 1));
    // The first value of the text never gets the marker.
    Cell* first = load("\nx");
    EXPECT_EQ(block::cell_at(first, 0)->header & cell::kNewLine, cell::kNewLine);
}

// --- Syntax errors ---------------------------------------------------------------------------

TEST_F(LexerTest, SyntaxErrorsAsFormed) {
    const struct {
        const char* source;
        const char* message;
    } cases[] = {
        {"12a", "*** Syntax Error: (line 1) invalid integer! at 12a"},
        {"x\ny\n 12a b", "*** Syntax Error: (line 3) invalid integer! at 12a b"},
        {"}", "*** Syntax Error: (line 1) invalid character at }"},
        {"a }b c", "*** Syntax Error: (line 1) invalid character at }b c"},
        {"#(foo)", "*** Syntax Error: (line 1) invalid construction spec at #(foo)"},
        {"#(true x)", "*** Syntax Error: (line 1) invalid construction spec at #(true x)"},
        {"[1 2", "*** Syntax Error: (line 1) missing ] at [1 2"},
        {"[1 (2]", "*** Syntax Error: (line 1) missing ) at (2]"},
        {"(1 2", "*** Syntax Error: (line 1) missing ) at (1 2"},
        {"1 ]", "*** Syntax Error: (line 1) missing [ at ]"},
        {"a)", "*** Syntax Error: (line 1) missing ( at )"},
        {"1''0", "*** Syntax Error: (line 1) invalid integer! at 1''0"},
        {"1'", "*** Syntax Error: (line 1) invalid integer! at 1'"},
        {"FFFFFFFFFh", "*** Syntax Error: (line 1) invalid integer! at FFFFFFFFFh"},
        {"1h", "*** Syntax Error: (line 1) invalid integer! at 1h"},
        {"1e", "*** Syntax Error: (line 1) invalid float! at 1e"},
        {"1.5e+-3", "*** Syntax Error: (line 1) invalid float! at 1.5e+-3"},
        {"1.#FOO", "*** Syntax Error: (line 1) invalid float! at 1.#FOO"},
        {"\"abc", "*** Syntax Error: (line 1) invalid string! at \"abc"},
        {"\"ab\nc\"", "*** Syntax Error: (line 1) invalid string! at \"ab"},
        {"{abc", "*** Syntax Error: (line 1) invalid string! at {abc"},
        {"\"^(zz)\"", "*** Syntax Error: (line 1) invalid string! at \"^(zz)\""},
        {"\"^(110000)\"", "*** Syntax Error: (line 1) invalid string! at \"^(110000)\""},
        {"%%{x}%", "*** Syntax Error: (line 1) invalid string! at %%{x}%"},
        {"%{x}%%", "*** Syntax Error: (line 1) invalid string! at %{x}%%"},
        {"#\"ab\"", "*** Syntax Error: (line 1) invalid char! at #\"ab\""},
        {"#\"\"", "*** Syntax Error: (line 1) invalid char! at #\"\""},
        {":a:b", "*** Syntax Error: (line 1) invalid get-word! at :a:b"},
        {"'a:b", "*** Syntax Error: (line 1) invalid lit-word! at 'a:b"},
        {"'a:", "*** Syntax Error: (line 1) invalid lit-word! at 'a:"},
        {":a:", "*** Syntax Error: (line 1) invalid word! at :a:"},
        {"#", "*** Syntax Error: (line 1) invalid issue! at #"},
        {"a/ b", "*** Syntax Error: (line 1) invalid path! at  b"},
        {"a/", "*** Syntax Error: (line 1) invalid path! at "},
        {"a/b:/c", "*** Syntax Error: (line 1) invalid path! at :/c"},
        {"1,2", "*** Syntax Error: (line 1) invalid point2D! at ,2"},
        {"a,", "*** Syntax Error: (line 1) invalid word! at a,"},
        {"(1, 2, 3, 4)", "*** Syntax Error: (line 1) invalid point3D! at 1, 2, 3, 4)"},
        {"(1,)", "*** Syntax Error: (line 1) invalid point2D! at 1,)"},
        // The near text: at most 30 bytes, to the line's end, in whole characters.
        {"1234567890abcdefghij1234567890abcdefghij",
         "*** Syntax Error: (line 1) invalid integer! at 1234567890abcdefghij1234567890"},
        {"12a\nnext line", "*** Syntax Error: (line 1) invalid integer! at 12a"},
        {"12a\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"
         "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9",
         "*** Syntax Error: (line 1) invalid integer! at 12a\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"
         "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"},
        // Bytes that are not text.
        {"a \xFF", "*** Syntax Error: (line 1) invalid character at \xC3\xBF"},
        {"\x80", "*** Syntax Error: (line 1) invalid character at \xC2\x80"},
        {"a\xC3", "*** Syntax Error: (line 1) invalid word! at a\xC3\x83"},
    };
    for (const auto& c : cases) EXPECT_EQ(syntax_error(c.source), c.message) << c.source;
}

TEST_F(LexerTest, AnErrorDropsWhatWasBuiltAndLeavesTheLexerUsable) {
    EXPECT_NE(syntax_error("[a [b (c"), "");
    EXPECT_EQ(reload("[x]"), "[x]");
}

// --- Literals of the compound and text types -----------------------------------------------
// Each literal is built by its type's constructor (their molds are checked by the language
// tests, where every type's actions are installed).

TEST_F(LexerTest, LiteralsOfCompoundAndTextTypesLoadAsTheirTypes) {
    const struct {
        const char* source;
        uint8_t type;
    } cases[] = {
        {"12%", kTypePercent},
        {"1.2.3", kTypeTuple},
        {"255.255.255.255.1.2.3.4.5.6.7.8", kTypeTuple},
        {"-3X-4", kTypePair},
        {"(1, 2)", kTypePoint2D},
        {"( 1.5 , -2 , 3e2 )", kTypePoint3D},
        {"-$1'000.25", kTypeMoney},
        {"eur$5", kTypeMoney},
        {"-1:30:15.5", kTypeTime},
        {"12-Dec-2012/10:20-5:30", kTypeDate},
        {"2012-W01-1", kTypeDate},
        {"%\"a b\"", kTypeFile},
        {"http://x.y/z", kTypeUrl},
        {"a@b.c", kTypeEmail},
        {"@ref", kTypeRef},
        {"<tag a=\"b>\">", kTypeTag},
        {"64#{SGVsbG8=}", kTypeBinary},
        {"#[a 1 b 2]", kTypeMap},
        {"#[]", kTypeMap},
    };
    for (const auto& c : cases) {
        const std::string loaded = attempt([&] {
            const Cell* block = load(c.source);
            const Cell* first = reinterpret_cast<const Cell*>(memory::buffer(block->w2)->data());
            return type_name(cell::type(first));
        });
        EXPECT_EQ(loaded, type_name(c.type)) << c.source;
    }
}

TEST_F(LexerTest, AMoneyLiteralWithAnUnknownCurrencyIsASyntaxError) {
    EXPECT_EQ(syntax_error("XQZ$5"), "*** Syntax Error: (line 1) invalid money! at XQZ$5");
}

TEST_F(LexerTest, InvalidLiteralsOfTypesToComeAreSyntaxErrors) {
    const struct {
        const char* source;
        uint8_t type;
    } cases[] = {
        {"1.2.256", kTypeTuple},
        {"1.2.3.4.5.6.7.8.9.10.11.12.13", kTypeTuple},
        {"1..2", kTypeFloat},
        {"1x2.5", kTypePair},
        {"1x99999999999", kTypePair},
        {"$", kTypeMoney},
        {"$1''0", kTypeMoney},
        {"$1'", kTypeMoney},
        {"$1.123456", kTypeMoney},
        {"US$1", kTypeMoney},
        {"$123456789012345678", kTypeMoney},
        {"1:", kTypeTime},
        {"1:2:3:4", kTypeTime},
        {"1:2.5:3", kTypeTime},
        {"29-Feb-2001", kTypeDate},
        {"31-Apr-2012", kTypeDate},
        {"1-Foo-2012", kTypeDate},
        {"1-Ja-2012", kTypeDate},
        {"1-13-2012", kTypeDate},
        {"1-1-2012/24:00", kTypeDate},
        {"1-1-2012/10:60", kTypeDate},
        {"1-1-2012/10:00:60", kTypeDate},
        {"1-1-2012/10:00+16:00", kTypeDate},
        {"2012-W54", kTypeDate},
        {"2012-W01-8", kTypeDate},
        {"2011-366", kTypeDate},
        {"1-1/2012", kTypeDate},
        {"3#{00}", kTypeBinary},
        {"#{0}", kTypeBinary},
        {"#{0g}", kTypeBinary},
        {"2#{0101}", kTypeBinary},
        {"64#{SGVsbG8==}", kTypeBinary},
        {"64#{S===}", kTypeBinary},
        {"#[a]", kTypeMap},
        {"#[a b #[c d] e]", kTypeMap}, // keys a map! does not take
        {"#[[a] 1]", kTypeMap},

        {"a@", kTypeEmail},
        {"@", kTypeRef},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(reload(c.source), "error " + std::to_string(error::kSyntax) + " " +
                                        std::to_string(error::syntax::invalid))
            << c.source;
        EXPECT_EQ(error::last_raised.args[1].w1, c.type) << c.source;
    }
}

namespace {
std::string text(const char* s) {
    return s;
}
const uint8_t* bytes(const std::string& s) {
    return reinterpret_cast<const uint8_t*>(s.data());
}
uint32_t size(const std::string& s) {
    return static_cast<uint32_t>(s.size());
}
} // namespace

TEST(LexerLiterals, DatesOfEveryForm) {
    using lexer::literals::DateParts;
    const struct {
        const char* text;
        int32_t year, month, day;
        double seconds; // -1 without a time
        int32_t zone;   // minutes; -9999 without a zone
    } cases[] = {
        {"12-Dec-2012", 2012, 12, 12, -1, -9999},
        {"12/december/2012", 2012, 12, 12, -1, -9999},
        {"2012-12-03", 2012, 12, 3, -1, -9999},
        {"3-12-2012", 2012, 12, 3, -1, -9999},
        {"1-Jan-49", 2049, 1, 1, -1, -9999},
        {"1-Jan-50", 1950, 1, 1, -1, -9999},
        {"29-Feb-2000", 2000, 2, 29, -1, -9999},
        {"12-Dec-2012/10:20:30+2:00", 2012, 12, 12, 37230, 120},
        {"12-Dec-2012/10:20-5:30", 2012, 12, 12, 37200, -330},
        {"12-Dec-2012/10:20:30.5Z", 2012, 12, 12, 37230.5, 0},
        {"2012-12-12T10:20", 2012, 12, 12, 37200, -9999},
        {"20121212T1020", 2012, 12, 12, 37200, -9999},
        {"20121212T102030+0530", 2012, 12, 12, 37230, 330},
        {"2009-W01-1", 2008, 12, 29, -1, -9999}, // week 1 holds the year's first Thursday
        {"2009-W53-7", 2010, 1, 3, -1, -9999},
        {"2012-W10", 2012, 3, 5, -1, -9999},
        {"2012-060", 2012, 2, 29, -1, -9999},
        {"2011-365", 2011, 12, 31, -1, -9999},
    };
    for (const auto& c : cases) {
        DateParts d;
        const std::string t = c.text;
        ASSERT_TRUE(lexer::literals::parse_date(bytes(t), size(t), d)) << c.text;
        EXPECT_EQ(d.year, c.year) << c.text;
        EXPECT_EQ(d.month, c.month) << c.text;
        EXPECT_EQ(d.day, c.day) << c.text;
        EXPECT_EQ(d.has_time, c.seconds >= 0) << c.text;
        if (c.seconds >= 0) {
            EXPECT_DOUBLE_EQ(d.seconds, c.seconds) << c.text;
        }
        EXPECT_EQ(d.has_zone, c.zone != -9999) << c.text;
        if (c.zone != -9999) {
            EXPECT_EQ(d.zone_minutes, c.zone) << c.text;
        }
    }
}

TEST(LexerLiterals, NumbersTimesAndMoney) {
    using namespace lexer::literals;
    double d = 0;
    // The float syntax: what the state machine passes, less signs and exponents without
    // digits.
    for (const char* ok :
         {"1", "1.", ".5", "-.5", "+1.5", "1e5", "1E+5", "1.5e-3", "1'000.5", "1.0'0", "00.5"})
        EXPECT_TRUE(float_syntax(bytes(ok), size(ok))) << ok;
    for (const char* bad : {"", "+", ".", "-.", "1e", "1e+", "1.5e+-3", "1e5-3", "1''0", "1'", "'1",
                            "1.'5", "1e'5", "1.5.5"})
        EXPECT_FALSE(float_syntax(bytes(bad), size(bad))) << bad;
    const std::string long_float = "1." + std::string(311, '0');
    EXPECT_FALSE(parse_float(bytes(long_float), size(long_float), 0, d)); // 313 bytes
    EXPECT_TRUE(parse_float(bytes(long_float), size(long_float) - 1, 0, d));
    ASSERT_TRUE(parse_float(bytes(text("12.5")), 4, -2, d));
    EXPECT_DOUBLE_EQ(d, 0.125); // percent: scaled by 10 to the power -2

    ASSERT_TRUE(parse_time(bytes(text("1:30")), 4, d));
    EXPECT_EQ(d, 5400);
    ASSERT_TRUE(parse_time(bytes(text("-1:30:15.5")), 10, d));
    EXPECT_EQ(d, -5415.5);
    ASSERT_TRUE(parse_time(bytes(text("2:30.5")), 6, d)); // m:s.f
    EXPECT_EQ(d, 150.5);

    uint8_t tuple[12];
    uint32_t count = 0;
    ASSERT_TRUE(parse_tuple(bytes(text("1.22.255")), 8, tuple, count));
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(tuple[2], 255);
    int32_t x = 0, y = 0;
    ASSERT_TRUE(parse_pair(bytes(text("-3X40")), 5, x, y));
    EXPECT_EQ(x, -3);
    EXPECT_EQ(y, 40);

    MoneyParts money;
    ASSERT_TRUE(parse_money(bytes(text("-usd$001'234.50")), 15, money));
    EXPECT_TRUE(money.negative);
    EXPECT_EQ(money.currency, "USD");
    EXPECT_EQ(money.whole, "1234");
    EXPECT_EQ(money.fraction, "50");
    const std::string seventeen = "$" + std::string(17, '9') + ".12345";
    EXPECT_TRUE(parse_money(bytes(seventeen), size(seventeen), money));
    const std::string zeros = "$000" + std::string(17, '9'); // leading zeros are not counted
    EXPECT_TRUE(parse_money(bytes(zeros), size(zeros), money));

    double xyz[3];
    ASSERT_TRUE(parse_point(bytes(text(" 1.5 , -2, 3e2 ")), 15, xyz, count));
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(xyz[0], 1.5);
    EXPECT_EQ(xyz[2], 300);
    EXPECT_FALSE(parse_point(bytes(text("1 2, 3")), 6, xyz, count));
}

TEST(LexerLiterals, TextToNumbersForToAndMake) {
    int32_t error = 0;
    const std::u16string wide = u"1,5e2";
    EXPECT_EQ(lexer::text_to_float(reinterpret_cast<const uint8_t*>(wide.data()), 5, 2, error),
              150.0);
    EXPECT_EQ(error, 0);
    for (const char* bad : {"", "1e", "abc", "1.5.5"}) {
        const double d = lexer::text_to_float(bytes(text(bad)), size(bad), 1, error);
        EXPECT_EQ(error, -1) << bad;
        EXPECT_NE(d, d) << bad; // NaN
    }
    const std::string long_text(313, '1');
    lexer::text_to_float(bytes(long_text), size(long_text), 1, error);
    EXPECT_EQ(error, -1);

    uint8_t tuple[12];
    EXPECT_EQ(lexer::text_to_tuple(bytes(text("7")), 1, 1, tuple, error), 1u);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(lexer::text_to_tuple(bytes(text("1.2.3.4")), 7, 1, tuple, error), 4u);
    EXPECT_EQ(tuple[3], 4);
    lexer::text_to_tuple(bytes(text("1.256")), 5, 1, tuple, error);
    EXPECT_EQ(error, -1);
}

TEST(LexerLiterals, BinaryInEachBase) {
    using lexer::literals::parse_binary;
    std::vector<uint8_t> out;
    const struct {
        const char* text;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"#{}", {}},
        {"#{0A0b FF}", {0x0A, 0x0B, 0xFF}},
        {"16#{0a\n0B ; comment {here}\n ff}", {0x0A, 0x0B, 0xFF}},
        {"2#{00000001 11111111}", {0x01, 0xFF}},
        {"64#{SGVsbG8=}", {'H', 'e', 'l', 'l', 'o'}},
        {"64#{SGVsbA==}", {'H', 'e', 'l', 'l'}},
        {"64#{SGVs}", {'H', 'e', 'l'}},
    };
    for (const auto& c : cases) {
        const std::string t = c.text;
        ASSERT_TRUE(parse_binary(bytes(t), size(t), out)) << c.text;
        EXPECT_EQ(out, c.bytes) << c.text;
    }
}

TEST(LexerLiterals, PercentEscapesOfFilesAndUrls) {
    const struct {
        const char32_t* text;
        const char32_t* decoded;
    } cases[] = {
        {U"a%20b%2f", U"a b/"}, {U"100%", U"100%"},           {U"%2", U"%2"},
        {U"%zz%41", U"%zzA"},   {U"a%2\u00E9", U"a%2\u00E9"},
    };
    for (const auto& c : cases) {
        std::u32string t = c.text;
        lexer::literals::decode_percent_escapes(t);
        EXPECT_TRUE(t == c.decoded);
    }
}

// --- Scan and prescan ------------------------------------------------------------------------

TEST_F(LexerTest, ScanGivesTheExactTypeOfTheFirstToken) {
    const struct {
        const char* source;
        uint8_t scan, prescan;
    } cases[] = {
        {"", 0, 0},
        {"  ; comment only", 0, 0},
        {"abc def", kTypeWord, kTypeWord},
        {"abc:", kTypeSetWord, kTypeWord},
        {":abc", kTypeGetWord, kTypeWord},
        {"'abc", kTypeLitWord, kTypeWord},
        {"/abc", kTypeRefinement, kTypeRefinement},
        {"12", kTypeInteger, kTypeInteger},
        {"12345678901", kTypeFloat, kTypeInteger},
        {"1.5", kTypeFloat, kTypeFloat},
        {"\"s\"", kTypeString, kTypeString},
        {"{a {b}}", kTypeString, kTypeString},
        {"[a [b]] c", kTypeBlock, kTypeBlock},
        {"(a)", kTypeParen, kTypeParen},
        {"a/b c", kTypePath, kTypePath},
        {"a/b: c", kTypeSetPath, kTypeSetPath},
        {"1.2.3", kTypeTuple, kTypeTuple},
        {"12-Dec-2012", kTypeDate, kTypeDate},
        {"29-Feb-2001", kTypeError, kTypeDate}, // prescan does not check the text
        {"12a", kTypeError, kTypeError},
        {"[1 2", kTypeError, kTypeError},
        {"#(true)", kTypeLogic, 0},
        {"a:b", kTypeUrl, kTypeUrl}, // a word, a colon and more: a url
        {"%\"100%\"", kTypeFile, kTypeFile},
        {"%\"100%zz\"", kTypeFile, kTypeFile},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(scan_type(c.source), c.scan) << c.source;
        EXPECT_EQ(scan_type(c.source, true), c.prescan) << c.source;
    }
    // Nothing is raised in these modes.
    EXPECT_EQ(error::last_raised.category, 0u);
}

// --- Unicode whitespace ---------------------------------------------------------------------

TEST_F(LexerTest, UnicodeWhitespaceSeparatesTokens) {
    const struct {
        const char* source;
        const char* mold;
    } cases[] = {
        {"\xC2\xA0word", "word"}, // U+00A0 before a token
        {"\xE3\x80\x80\xC2\xA0"
         "12",
         "12"}, // U+3000 and U+00A0, then an integer
        {"a\xC2\xA0"
         "b",
         "a b"}, // inside a word it ends the word
        {"a\xE2\x80\xA8"
         "b:",
         "a b:"}, // U+2028
        {"\xC2\xA0", ""},
        {"a\xC2\xA0", "a"},
        {"\xC2\xA1"
         "b",
         "\xC2\xA1"
         "b"},                            // U+00A1 is a letter
        {"\"\xC2\xA0\"", "\"\xC2\xA0\""}, // and inside a string just a character
    };
    for (const auto& c : cases) EXPECT_EQ(reload(c.source), c.mold) << c.source;
}

TEST_F(LexerTest, AWordOfManyUnicodeSeparatedPiecesLoadsInLinearTime) {
    // 200,000 pieces in one run of non-ASCII bytes: rescanning the rest of the run for each
    // piece would take hours.
    std::string text;
    for (int i = 0; i < 200000; ++i) text += "a\xC2\xA0";
    Cell* b = load(text);
    EXPECT_EQ(block::length_from_index(b), 200000);
}

// --- transcode ------------------------------------------------------------------------------

class TranscodeTest : public LexerTest {
protected:
    // transcode of a string! of the text with the options; the result molded.
    std::string run(const char* source, lexer::TranscodeOptions options = {}) {
        return attempt([&] {
            Cell* src = string::from_utf8_checked(reinterpret_cast<const uint8_t*>(source),
                                                  static_cast<uint32_t>(std::strlen(source)));
            Cell* result = stack::push(Cell{kTypeNone, 0, 0, 0});
            lexer::transcode(src, options, result);
            return molded(*result);
        });
    }
};

TEST_F(TranscodeTest, EachRefinement) {
    lexer::TranscodeOptions next, one, scan, prescan, scan_next;
    next.next = true;
    one.one = true;
    scan.scan = true;
    prescan.prescan = true;
    scan_next.scan = scan_next.next = true;
    EXPECT_EQ(run("a [b] 1"), "[a [b] 1]");
    EXPECT_EQ(run("a [b] 1", next), "[a \" [b] 1\"]");
    EXPECT_EQ(run("[b c] 1", next), "[[b c] \" 1\"]");
    EXPECT_EQ(run("", next), "[none \"\"]");
    EXPECT_EQ(run("\xC3\xA9t\xC3\xA9 x", next), "[\xC3\xA9t\xC3\xA9 \" x\"]"); // in characters
    EXPECT_EQ(run("a [b] 1", one), "a");
    EXPECT_EQ(run("", one), "none");
    EXPECT_EQ(run("a: 1", scan), "set-word!");
    EXPECT_EQ(run("", scan), "none");
    EXPECT_EQ(run("12345678901 x", prescan), "integer!");
    EXPECT_EQ(run("a: 1", scan_next), "[set-word! \" 1\"]");
}

TEST_F(TranscodeTest, PartAndInto) {
    lexer::TranscodeOptions part;
    Cell* length = stack::push(Cell{kTypeInteger, 0, 3, 0});
    part.part = length;
    EXPECT_EQ(run("abc def", part), "[abc]");
    length->w2 = 5;
    EXPECT_EQ(run("\xC3\xA9t\xC3\xA9 def", part), "[\xC3\xA9t\xC3\xA9 d]"); // characters
    // A position in a series of another type.
    Cell* block = load("x");
    part.part = block;
    EXPECT_EQ(run("abc", part), "error " + std::to_string(error::kScript) + " " +
                                    std::to_string(error::script::not_same_type));

    lexer::TranscodeOptions into;
    Cell* target = load("x");
    into.into = target;
    EXPECT_EQ(run("y [z]", into), "[x y [z]]");
    EXPECT_EQ(molded(*target), "[x y [z]]");
}

TEST_F(TranscodeTest, TheNativeReadsItsFrame) {
    // Frame: src, then the /part length (refinement at position 1).
    Cell* const saved = stack::arguments;
    stack::arguments = stack::top;
    string::from_utf8_checked(reinterpret_cast<const uint8_t*>("a b c"), 5); // pushed
    stack::push(Cell{kTypeInteger, 0, 3, 0});
    lexer::native_transcode(-1, -1, -1, -1, 1, -1, -1);
    EXPECT_EQ(molded(*stack::arguments), "[a b]");
    EXPECT_EQ(stack::top, stack::arguments + 1);
    stack::top = stack::arguments;
    stack::arguments = saved;
}

TEST_F(TranscodeTest, BinarySourceSkipsAByteOrderMark) {
    const uint8_t text[] = {0xEF, 0xBB, 0xBF, 'a', ' ', 'b'};
    Cell* src = stack::push(Cell{kTypeUnset, 0, 0, 0});
    const uint32_t node = memory::alloc_bytes(sizeof text);
    std::memcpy(memory::buffer(node)->data(), text, sizeof text);
    memory::buffer(node)->tail = sizeof text;
    *src = Cell{kTypeBinary, 0, node, 0};
    Cell* result = stack::push(Cell{kTypeNone, 0, 0, 0});
    lexer::transcode(src, {}, result);
    EXPECT_EQ(molded(*result), "[a b]");
}

// --- The value model's conversions through the lexer ----------------------------------------

TEST_F(LexerTest, ToWordAndToBlockOfText) {
    Cell* text = stack::push(text_value("foo:"));
    Cell* made = stack::push(Cell{kTypeUnset, 0, 0, 0});
    word::make(made, text, kTypeWord);
    EXPECT_EQ(molded(*made), "foo");
    // A text that is not one word.
    *text = text_value("a b");
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_chars,
                       [&] { word::make(made, text, kTypeWord); }));
    // A refinement converts when its text scans as a word.
    Cell* refinement =
        stack::push(Cell{kTypeRefinement, 0, symbol::make("bar"), word::kUnresolved});
    word::make(made, refinement, kTypeWord);
    EXPECT_EQ(molded(*made), "bar");

    *text = text_value("a [b] \"c\"");
    Cell* block = block::to(nullptr, text, kTypeBlock);
    EXPECT_EQ(molded(*block), "[a [b] \"c\"]");
}

// --- Many values, nested deep ----------------------------------------------------------------

// 1,200 open levels hold 3,600 slots: the slot buffer (1,000 at first) doubles twice.
TEST_F(LexerTest, TheSlotBufferGrowsForLongAndDeepTexts) {
    std::string text;
    for (int i = 0; i < 1200; ++i) text += "w" + std::to_string(i) + " \"s\" [";
    for (int i = 0; i < 1200; ++i) text += "]";
    Cell* b = load(text);
    EXPECT_EQ(block::length_from_index(b), 3);
    const Cell* deepest = b;
    for (int i = 0; i < 1199; ++i) deepest = block::cell_at(deepest, 2);
    EXPECT_EQ(molded(*deepest, true), "w1199 \"s\" []");
}

// --- Tracing --------------------------------------------------------------------------------

namespace {

// A stand-in for the evaluator's side: the "function" is any cell, its body is `body`; each
// call is logged, and `answer` decides the result and may move the input.
struct FakeTracer {
    // The body is read through a root, as it may move at any allocation.
    static inline GcRoot* body = nullptr;
    static inline std::vector<std::string> log;
    static inline std::function<bool(const std::string& token, Cell* input)> answer;

    static bool call(const Cell*, const Cell* event, Cell* input, const Cell*, const Cell* line,
                     const Cell* token) {
        const std::string text = LexerTest::molded(*token);
        log.push_back(std::string(symbol::text(event->w2)) + " " + text + " line " +
                      std::to_string(static_cast<int32_t>(line->w2)));
        return answer ? answer(text, input) : true;
    }
    static Cell body_of(const Cell*) { return body ? body->cell() : Cell{}; }
};
const lexer::TraceServices kFakeTracer{FakeTracer::call, FakeTracer::body_of};

} // namespace

class TraceTest : public TranscodeTest {
protected:
    void SetUp() override {
        TranscodeTest::SetUp();
        lexer::set_trace_services(&kFakeTracer);
        FakeTracer::log.clear();
        FakeTracer::answer = nullptr;
    }
    void TearDown() override {
        FakeTracer::answer = nullptr;
        FakeTracer::body = nullptr;
        TranscodeTest::TearDown();
    }
    // Traces a text with a function whose body is `body`.
    std::string trace(const char* source, const char* body) {
        GcRoot kept(*load(body));
        FakeTracer::body = &kept;
        lexer::TranscodeOptions options;
        Cell* function = stack::push(Cell{kTypeInteger, 0, 0, 0});
        options.trace = function;
        std::string out = run(source, options);
        FakeTracer::body = nullptr;
        return out;
    }
};

TEST_F(TraceTest, ABlockOfLoadAtTheHeadOfTheBodyGivesOnlyLoadEvents) {
    EXPECT_EQ(trace("a\n[b] 1", "[load] body"), "[a\n[b] 1]");
    EXPECT_EQ(FakeTracer::log,
              (std::vector<std::string>{"load a line 1", "load b line 2", "load 1 line 2"}));
}

TEST_F(TraceTest, AFalseAnswerToLoadDropsTheValue) {
    FakeTracer::answer = [](const std::string& token, Cell*) { return token != "b"; };
    EXPECT_EQ(trace("a b c", "[load]"), "[a c]");
}

TEST_F(TraceTest, MovingTheInputIndexResumesTheScanThere) {
    // After "a", the scan goes on at "d" (character 6 of the input).
    FakeTracer::answer = [](const std::string& token, Cell* input) {
        if (token == "a") input->w1 = 6;
        return true;
    };
    EXPECT_EQ(trace("a b c d", "[load]"), "[a d]");
}

TEST_F(TraceTest, WithoutTheEvaluatorsServicesTracingIsNotDone) {
    lexer::set_trace_services(nullptr);
    EXPECT_EQ(trace("a", "[load]"), "error " + std::to_string(error::kInternal) + " " +
                                        std::to_string(error::internal::not_done));
}

// --- Inputs that once went wrong ------------------------------------------------------------

// Every file of the fuzzing corpus (the seeds and each input that ever crashed or hung) ends
// in a value, a syntax error or a value of a type still to come, in each mode.
TEST_F(LexerTest, FuzzCorpusReplays) {
    int files = 0;
    for (const auto& [path, data] : fuzz_corpus::files("lexer")) {
        ++files;
        for (int mode = 0; mode < 4; ++mode) {
            lexer::ScanMode m;
            m.load = mode == 0 || mode == 3;
            m.scan = mode != 2;
            m.one = mode == 3;
            const std::string outcome = attempt([&] {
                Cell* dst = stack::push(Cell{kTypeNone, 0, 0, 0});
                lexer::scan(dst, reinterpret_cast<const uint8_t*>(data.data()),
                            static_cast<uint32_t>(data.size()), m, nullptr, nullptr, nullptr,
                            nullptr);
                return std::string("value");
            });
            if (outcome != "value") {
                const error::Raised& e = error::last_raised;
                EXPECT_TRUE(e.category == error::kSyntax ||
                            (e.category == error::kInternal && e.id == error::internal::not_done))
                    << path << " mode " << mode;
            }
        }
    }
    EXPECT_GT(files, 0);
}
