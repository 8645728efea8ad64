#include "lexer-fixture.h"

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
