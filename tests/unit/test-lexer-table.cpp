#include <cstring>
#include <sstream>

#include "lexer-fixture.h"
#include "loading/lexer-literals.h"
#include "loading/lexer-table.h"

// --- The state machine ---------------------------------------------------------------------

namespace {

// The machine as the lexer's documentation gives it, one row per working state: the state,
// the datatype named when a token fails there, and its transitions.
const char* const kRows = R"ROWS(
0 | - | `[`: kind block-open; `]`: kind block-close; `(`: kind paren-open; `)`: kind paren-close; `{`: kind string-open; `"`: 2; `#`: 16; `/`: 13; `<`: 43; `=`: 58; `%`: 6; `,`: kind comma; `;`: 1; `@`: 57; `.`: 49; `$`: 36; end: kind eof; digit zero: 23; `'` `:`: 51; `E` hex-upper: 40; `+` `-`: 47; blank newline control: 0; `}` `\` continuation invalid: kind error; all others: 52
1 | - | invalid: kind error; newline end: kind comment; all others: 1
2 | string! | `"`: kind string; `^`: 3; newline invalid end: kind error; all others: 2
3 | string! | invalid end: kind error; all others: 2
4 | string! | `{`: kind string-open; `}`: kind string-close; `^`: 5; invalid end: kind error; all others: 4
5 | string! | invalid end: kind error; all others: 4
6 | file! | `{`: 10; `"`: 8; `:`: 54; `%`: 9; invalid: kind error; blank newline `[` `]` `(` `)` `}` `;` `@` control end: kind word; all others: 7
7 | file! | `"` invalid: kind error; blank newline `[` `]` `(` `)` `{` `}` `:` `;` `@` end: kind file; all others: 7
8 | file! | `"`: kind file; newline invalid end: kind error; all others: 8
9 | file! | `{`: 10; `%`: 9; invalid: kind error; blank newline `[` `]` `(` `)` `}` `"` `\` `;` control end: kind word; all others: 7
10 | string! | `}`: 11; invalid end: kind error; all others: 10
11 | string! | `}`: 11; `%`: 12; invalid end: kind error; all others: 10
12 | string! | `%`: 12; blank newline `[` `]` `(` `)` `{` `"` `<` `;` control end: kind raw-string; all others: kind error
13 | word! | `:`: 53; `/`: 15; `,` invalid: kind error; blank newline `[` `]` `(` `)` `{` `}` `"` `#` `;` `@` control end: kind word; all others: 14
14 | refinement! | `:` `,` invalid: kind error; blank newline `[` `]` `(` `)` `{` `}` `"` `/` `;` `@` control end: kind prefixed-word; all others: 14
15 | word! | `/`: 15; `%` `,` `$` invalid: kind error; blank newline `[` `]` `(` `)` `{` `}` `"` `#` `;` `@` control end: kind word; all others: 52
16 | issue! | `[`: kind map-open; `(`: 21; `{`: 17; `"`: 19; `;` `@` control end: kind issue; blank newline `]` `)` `}` `:` `<` `>` `,` invalid: kind error; all others: 22
17 | binary! | `}`: kind binary; `;`: 18; blank newline digit zero `x` `T` `h` `e` `E` hex-lower hex-upper `/` `=` `+` letter: 17; all others: kind error
18 | - | newline: 17; invalid end: kind error; all others: 18
19 | char! | `"`: kind char; `^`: 20; invalid end: kind error; all others: 19
20 | char! | invalid end: kind error; all others: 19
21 | - | `)`: kind construct; invalid end: kind error; all others: 21
22 | issue! | `:` `/` invalid: kind error; blank newline `[` `]` `(` `)` `{` `}` `"` `;` `@` control end: kind issue; all others: 22
23 | integer! | `#`: 16; `:`: 31; `x`: 33; `h`: 42; `e`: 26; `E`: 27; hex-upper: 39; `%`: kind percent; `@`: 56; `.`: 24; digit zero `'`: 23; `T` `/` `-`: 30; hex-lower `\` `>` `=` `$` `+` `^` continuation letter invalid: kind error; all others: kind integer
24 | float! | `#`: 28; `x`: 33; `%`: kind percent; `e` `E`: 26; digit zero `'`: 25; blank newline `[` `]` `(` `)` `{` `}` `"` `/` `<` `,` `;` control end: kind float; all others: kind error
25 | float! | `x`: 33; `%`: kind percent; `@`: 56; `.`: 29; `e` `E`: 26; digit zero `'`: 25; `#` `T` `h` hex-lower hex-upper `\` `>` `=` `$` `+` `-` `^` continuation letter invalid: kind error; all others: kind float
26 | float! | `%`: kind percent; `@`: 56; digit zero `+` `-`: 26; blank newline `[` `]` `(` `)` `{` `}` `"` `:` `/` `<` `,` `;` control end: kind float; all others: kind error
27 | float! | `h`: 42; `%`: kind percent; `@`: 56; `.`: 29; digit zero: 27; `E` hex-upper: 40; `+` `-`: 26; blank newline `[` `]` `(` `)` `{` `}` `"` `:` `/` `<` `,` control end: kind float; all others: kind error
28 | float! | digit: kind float; `#` `'` `:` `%` `@` `$` `^` invalid: kind error; `x` `T` `h` `e` `E` hex-lower hex-upper `>` `=` `.` `+` `-` continuation letter: 28; all others: kind float-special
29 | tuple! | digit zero `.`: 29; blank newline `[` `]` `(` `)` `{` `}` `"` `:` `/` `<` `;` control end: kind tuple; all others: kind error
30 | date! | `%` `,` `@` `^` continuation invalid: kind error; blank newline `[` `]` `(` `)` `{` `}` `"` `<` `;` `$` control end: kind date; all others: 30
31 | time! | digit zero: 32; all others: kind error
32 | time! | digit zero `:` `.`: 32; blank newline `[` `]` `(` `)` `{` `}` `"` `/` `<` `;` control end: kind time; all others: kind error
33 | pair! | `@`: 56; digit zero `+` `-`: 34; all others: kind error
34 | pair! | `@`: 56; digit zero `e` `E` `.`: 34; blank newline `[` `]` `(` `)` `{` `}` `"` `:` `/` `<` `;` control end: kind pair; all others: kind error
35 | point2D! | `)`: kind point; blank digit zero `]` `#` `e` `E` hex-lower hex-upper `,` `.` `+` `-` letter: 35; all others: kind error
36 | money! | digit zero: 37; all others: kind error
37 | money! | `.`: 38; digit zero `'`: 37; blank newline `[` `]` `(` `)` `{` `}` `"` `#` `:` `/` `<` `;` control end: kind money; all others: kind error
38 | money! | digit zero `'`: 38; blank newline `[` `]` `(` `)` `{` `}` `"` `#` `:` `/` `<` `;` control end: kind money; all others: kind error
39 | - | `h`: 41; `@`: 56; digit zero `E` hex-upper: 39; all others: kind error
40 | integer! | `:`: 53; `h`: 41; `/`: kind path; `@`: 56; `$`: 37; `%` `,` invalid: kind error; digit zero `E` hex-upper: 40; blank newline `[` `]` `(` `)` `{` `}` `"` `#` `\` `;` control end: kind word; all others: 52
41 | word! | `:`: 53; `/`: kind path; `@`: 56; `$`: 37; `#` `%` `,` invalid: kind error; blank newline `[` `]` `(` `)` `{` `}` `"` `\` `;` control end: kind hex; all others: 52
42 | integer! | `/`: kind path; `@`: 56; `$`: 37; blank newline `[` `]` `(` `)` `{` `}` `"` `\` `<` `;` control end: kind hex; all others: kind error
43 | tag! | `'`: 46; `:`: 53; `<`: 43; invalid: kind error; `>` `=` `-`: 52; blank newline `[` `]` `(` `)` `{` `}` `"` `;` control end: kind word; all others: 44
44 | tag! | `"`: 45; `'`: 46; `>`: kind tag; invalid end: kind error; all others: 44
45 | tag! | `"`: 44; invalid end: kind error; all others: 45
46 | tag! | `'`: 44; invalid end: kind error; all others: 46
47 | word! | `/`: kind path; `.`: 49; `$`: 37; digit zero: 23; `'` `%` `^` invalid: kind error; blank newline `[` `]` `(` `)` `{` `}` `"` `#` `\` `;` control end: kind word; all others: 52
48 | word! | `/`: kind path; `'` `%` `$` `^` invalid: kind error; blank newline `[` `]` `(` `)` `{` `}` `"` `#` `\` `;` control end: kind word; all others: 52
49 | word! | `:`: 53; `/`: kind path; `@`: 56; digit zero `+` `-`: 50; `%` `,` `$` invalid: kind error; blank newline `[` `]` `(` `)` `{` `}` `"` `#` `\` `;` control end: kind word; all others: 52
50 | float! | `x`: 33; `%`: kind percent; `@`: 56; digit zero `e` `E` `+` `-`: 50; blank newline `[` `]` `(` `)` `{` `}` `"` `:` `/` `<` control end: kind float; all others: kind error
51 | word! | `/`: 13; `<`: 43; `=`: 58; `%`: 54; `+` `-`: 48; `x` `T` `h` `e` `E` hex-lower hex-upper `>` `.` `^` continuation letter: 52; all others: kind error
52 | word! | `:`: 53; `/`: kind path; `@`: 56; `$`: 36; `%` `,` invalid: kind error; blank newline `[` `]` `(` `)` `{` `}` `"` `#` `\` `<` `;` control end: kind word; all others: 52
53 | set-word! | `<` invalid: kind error; blank newline `[` `]` `(` `)` `{` `}` `"` `\` `;` control end: kind word; all others: 55
54 | word! | `%`: 54; blank newline `[` `]` `(` `)` `{` `}` `\` `;` control end: kind word; all others: kind error
55 | url! | `>` `^` invalid: kind error; blank newline `[` `]` `(` `)` `{` `}` `"` `\` `<` `;` control end: kind url; all others: 55
56 | email! | `#` `'` `:` `>` `=` `,` `@` `$` `^` invalid: kind error; blank newline `[` `]` `(` `)` `{` `}` `"` `/` `\` `<` `;` control end: kind email; all others: 56
57 | ref! | `#` `'` `\` `>` `=` `,` `@` `$` `^` invalid: kind error; blank newline `[` `]` `(` `)` `{` `}` `"` `<` `;` control end: kind ref; all others: 57
58 | word! | `/`: kind path; `#` `%` `,` `@` `$` invalid: kind error; blank newline `[` `]` `(` `)` `{` `}` `"` `:` `\` `;` control end: kind word; all others: 52
59 | path! | `(`: kind paren-open; `)`: kind paren-close; `"`: 2; `#`: 63; `<`: 43; `@`: 57; `$`: 36; digit zero: 60; `'` `:`: 61; `+` `-`: 64; `x` `T` `h` `e` `E` hex-lower hex-upper `>` `=` `.` continuation letter: 62; all others: kind error
60 | integer! | `x`: 33; `%`: kind percent; `@`: 56; `.`: 24; `e` `E`: 26; digit zero `'`: 60; blank newline `[` `]` `(` `)` `{` `}` `"` `:` `/` `<` `;` control end: kind integer; all others: kind error
61 | word! | `x` `T` `h` `e` `E` hex-lower hex-upper `<` `>` `=` `.` `+` `-` continuation letter: 62; all others: kind error
62 | word! | `@`: 56; `$`: 36; `#` `%` `,` invalid: kind error; blank newline `[` `]` `(` `)` `{` `}` `"` `:` `/` `\` `;` control end: kind word; all others: 62
63 | issue! | `[`: 21; `"`: 19; blank newline `]` `(` `)` `{` `}` `:` `/` `<` `>` `=` `,` `;` `@` control invalid end: kind error; all others: 22
64 | word! | `@`: 56; `$`: 36; digit zero: 60; `+` `-`: 64; `#` `'` `<` `%` `,` `^` invalid: kind error; `x` `T` `h` `e` `E` hex-lower hex-upper `>` `=` `.` continuation letter: 62; all others: kind word
)ROWS";

const char* const kClassNames[40] = {"blank",
                                     "newline",
                                     "digit",
                                     "zero",
                                     "[",
                                     "]",
                                     "(",
                                     ")",
                                     "{",
                                     "}",
                                     "\"",
                                     "#",
                                     "'",
                                     ":",
                                     "x",
                                     "T",
                                     "h",
                                     "e",
                                     "E",
                                     "hex-lower",
                                     "hex-upper",
                                     "/",
                                     "\\",
                                     "<",
                                     ">",
                                     "=",
                                     "%",
                                     ",",
                                     ";",
                                     "@",
                                     ".",
                                     "$",
                                     "+",
                                     "-",
                                     "^",
                                     "control",
                                     "continuation",
                                     "letter",
                                     "invalid",
                                     "end"};
const char* const kKindNames[36] = {
    "eof",         "error",        "block-open", "block-close", "paren-open", "paren-close",
    "string-open", "string-close", "map-open",   "path",        "construct",  "comment",
    "comma",       "string",       "word",       "issue",       "integer",    "prefixed-word",
    "char",        "file",         "binary",     "percent",     "float",      "float-special",
    "tuple",       "date",         "pair",       "point",       "time",       "money",
    "tag",         "url",          "email",      "hex",         "raw-string", "ref"};

int index_of(const char* const* names, int count, const std::string& name) {
    for (int i = 0; i < count; ++i)
        if (name == names[i]) return i;
    return -1;
}

struct ParsedRow {
    std::string type;
    int next[40];
};

// Reads the rows: clauses separated by "; ", each a list of class names (backquoted
// characters or words) or "all others", a colon and a target ("kind NAME" or a state).
std::vector<ParsedRow> parse_rows() {
    std::vector<ParsedRow> rows(65);
    std::istringstream in(kRows);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        const size_t bar1 = line.find(" | "), bar2 = line.find(" | ", bar1 + 3);
        const int state = std::stoi(line.substr(0, bar1));
        ParsedRow& row = rows.at(static_cast<size_t>(state));
        row.type = line.substr(bar1 + 3, bar2 - bar1 - 3);
        std::fill(std::begin(row.next), std::end(row.next), -1);
        std::string rest = line.substr(bar2 + 3);
        int others = -1;
        size_t at = 0;
        while (at < rest.size()) {
            size_t stop = rest.find("; ", at);
            if (stop == std::string::npos) stop = rest.size();
            const std::string clause = rest.substr(at, stop - at);
            at = stop + 2;
            const size_t colon = clause.rfind(':');
            std::string target = clause.substr(colon + 2);
            const int next = target.rfind("kind ", 0) == 0
                                 ? 66 + index_of(kKindNames, 36, target.substr(5))
                                 : std::stoi(target);
            const std::string names = clause.substr(0, colon);
            if (names == "all others") {
                others = next;
                continue;
            }
            size_t i = 0;
            while (i < names.size()) {
                if (names[i] == ' ') {
                    ++i;
                } else if (names[i] == '`') {
                    const size_t close = names.find('`', i + 1);
                    row.next[index_of(kClassNames, 40, names.substr(i + 1, close - i - 1))] = next;
                    i = close + 1;
                } else {
                    size_t end = names.find(' ', i);
                    if (end == std::string::npos) end = names.size();
                    const int cls = index_of(kClassNames, 40, names.substr(i, end - i));
                    EXPECT_GE(cls, 0) << names.substr(i, end - i);
                    if (cls >= 0) row.next[cls] = next;
                    i = end;
                }
            }
        }
        for (int& n : row.next)
            if (n < 0) n = others;
    }
    return rows;
}

} // namespace

TEST(LexerTable, EveryTransitionIsTheDocumentedOne) {
    const std::vector<ParsedRow> rows = parse_rows();
    for (int s = 0; s < 65; ++s)
        for (int c = 0; c < 40; ++c)
            ASSERT_EQ(lexer::table::kNext[s][c], rows[s].next[c])
                << "state " << s << ", class " << kClassNames[c];
}

TEST(LexerTable, WorkingStatesNameTheirDatatypes) {
    const std::vector<ParsedRow> rows = parse_rows();
    for (int s = 0; s < 65; ++s) {
        const uint8_t t = lexer::table::kStateType[s];
        // The registry's names are not needed: compare with the type ids of the cell header.
        static const std::pair<const char*, uint8_t> names[] = {{"-", 0},
                                                                {"string!", kTypeString},
                                                                {"file!", kTypeFile},
                                                                {"word!", kTypeWord},
                                                                {"refinement!", kTypeRefinement},
                                                                {"issue!", kTypeIssue},
                                                                {"binary!", kTypeBinary},
                                                                {"char!", kTypeChar},
                                                                {"integer!", kTypeInteger},
                                                                {"float!", kTypeFloat},
                                                                {"tuple!", kTypeTuple},
                                                                {"date!", kTypeDate},
                                                                {"time!", kTypeTime},
                                                                {"pair!", kTypePair},
                                                                {"point2D!", kTypePoint2D},
                                                                {"money!", kTypeMoney},
                                                                {"tag!", kTypeTag},
                                                                {"set-word!", kTypeSetWord},
                                                                {"url!", kTypeUrl},
                                                                {"email!", kTypeEmail},
                                                                {"ref!", kTypeRef},
                                                                {"path!", kTypePath}};
        int expected = -1;
        for (const auto& [name, id] : names)
            if (rows[s].type == name) expected = id;
        EXPECT_EQ(t, expected) << "state " << s;
    }
    // Terminal states: the token kinds' datatypes.
    EXPECT_EQ(lexer::table::kStateType[66 + lexer::table::kInteger], kTypeInteger);
    EXPECT_EQ(lexer::table::kStateType[66 + lexer::table::kHex], kTypeInteger);
    EXPECT_EQ(lexer::table::kStateType[66 + lexer::table::kRawString], kTypeString);
    EXPECT_EQ(lexer::table::kStateType[66 + lexer::table::kError], kTypeError);
    EXPECT_EQ(lexer::table::kStateType[66 + lexer::table::kComment], 0);
    EXPECT_EQ(lexer::table::kStateType[66 + lexer::table::kPoint], kTypePoint2D);
}

TEST(LexerTable, ClassesAndFlagsOfEveryByte) {
    using namespace lexer::table;
    const std::string punctuation = "/\\<>=%,;@.$+-^";
    const std::string singles = "[](){}\"#':";
    for (int b = 0; b < 256; ++b) {
        int expected;
        if (b == 0)
            expected = kEnd;
        else if (b == ' ' || b == '\t' || b == '\r')
            expected = kBlank;
        else if (b == '\n')
            expected = kNewline;
        else if (b >= '1' && b <= '9')
            expected = kDigit;
        else if (b == '0')
            expected = kZero;
        else if (b < 128 && singles.find(static_cast<char>(b)) != std::string::npos)
            expected = kBlockOpen + static_cast<int>(singles.find(static_cast<char>(b)));
        else if (b == 'x' || b == 'X')
            expected = kX;
        else if (b == 'T')
            expected = kT;
        else if (b == 'h')
            expected = kH;
        else if (b == 'e')
            expected = kLowerE;
        else if (b == 'E')
            expected = kUpperE;
        else if (std::strchr("abcdf", b) && b)
            expected = kHexLower;
        else if (std::strchr("ABCDF", b) && b)
            expected = kHexUpper;
        else if (b < 128 && punctuation.find(static_cast<char>(b)) != std::string::npos)
            expected = kSlash + static_cast<int>(punctuation.find(static_cast<char>(b)));
        else if (b < 32)
            expected = kControl;
        else if (b >= 127 && b <= 191)
            expected = kContinuation;
        else if (b == 192 || b == 193 || b >= 248)
            expected = kInvalid;
        else
            expected = kLetter;
        EXPECT_EQ(class_of(static_cast<uint8_t>(b)), expected) << "byte " << b;
    }
    EXPECT_EQ(kClass[static_cast<uint8_t>('<')] >> 8, kFlagLess >> 8);
    EXPECT_EQ(kClass[static_cast<uint8_t>('-')] & ~0xFFu, kFlagSign);
    EXPECT_EQ(kClass[0] & ~0xFFu, kFlagNul);
    EXPECT_EQ(kClass[0xC3] & ~0xFFu, kFlagWide2);
    EXPECT_EQ(kClass[0xEF] & ~0xFFu, kFlagWide2);
    EXPECT_EQ(kClass[0xF0] & ~0xFFu, kFlagWide4);
    EXPECT_EQ(kClass[static_cast<uint8_t>('E')] & ~0xFFu, kFlagExponent);
    EXPECT_EQ(width_of(0), 1u);
    EXPECT_EQ(width_of(kFlagWide2), 2u);
    EXPECT_EQ(width_of(kFlagWide2 | kFlagWide4), 4u);
}
