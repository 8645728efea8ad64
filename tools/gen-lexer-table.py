#!/usr/bin/env python3
"""Writes loading/lexer-table.cpp: the character classes and the state machine of the lexer.

The lexical syntax is one deterministic state machine over 40 character classes. Working
states 0-64 each have a row of 40 next states (one per class, the last used when the input
ends); states 66-101 are terminal, the token kind being state - 66. The rows below give the
machine in the notation the lexer's documentation uses: `c` is the class of the character c
(`x` stands for x and X, `e` for e only, `E` for E only), class names stand for themselves,
"kind NAME" is the terminal state of that kind, a number a working state, and "all others"
every class not named earlier in the row.

The script checks that every row names each class at most once and fails without writing
when one does not. With --check it compares the existing file with what it would write.
"""
import argparse
import os
import sys

CLASSES = ["blank", "newline", "digit", "zero", "[", "]", "(", ")", "{", "}", '"', "#", "'",
           ":", "x", "T", "h", "e", "E", "hex-lower", "hex-upper", "/", "\\", "<", ">", "=",
           "%", ",", ";", "@", ".", "$", "+", "-", "^", "control", "continuation", "letter",
           "invalid", "end"]
assert len(CLASSES) == 40

KINDS = ["eof", "error", "block-open", "block-close", "paren-open", "paren-close",
         "string-open", "string-close", "map-open", "path", "construct", "comment", "comma",
         "string", "word", "issue", "integer", "prefixed-word", "char", "file", "binary",
         "percent", "float", "float-special", "tuple", "date", "pair", "point", "time", "money",
         "tag", "url", "email", "hex", "raw-string", "ref"]
assert len(KINDS) == 36

# The datatype of each terminal state that has one.
TERMINAL_TYPES = {67: "error!", 73: "string!", 79: "string!", 80: "word!", 81: "issue!",
                  82: "integer!", 83: "refinement!", 84: "char!", 85: "file!", 86: "binary!",
                  87: "percent!", 88: "float!", 89: "float!", 90: "tuple!", 91: "date!",
                  92: "pair!", 93: "point2D!", 94: "time!", 95: "money!", 96: "tag!", 97: "url!",
                  98: "email!", 99: "integer!", 100: "string!", 101: "ref!"}

ROWS = r"""
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
"""


def byte_class(b):
    """The class of an input byte (0-39)."""
    if b == 0:
        return 39
    if b in (32, 9, 13):
        return 0
    if b == 10:
        return 1
    c = chr(b) if b < 128 else None
    if c is not None and "1" <= c <= "9":
        return 2
    if c == "0":
        return 3
    singles = {"[": 4, "]": 5, "(": 6, ")": 7, "{": 8, "}": 9, '"': 10, "#": 11, "'": 12,
               ":": 13, "x": 14, "X": 14, "T": 15, "h": 16, "e": 17, "E": 18}
    if c in singles:
        return singles[c]
    if c is not None and c in "abcdf":
        return 19
    if c is not None and c in "ABCDF":
        return 20
    punct = "/\\<>=%,;@.$+-^"
    if c is not None and c in punct:
        return 21 + punct.index(c)
    if 1 <= b <= 31:
        return 35
    if b == 127 or 128 <= b <= 191:
        return 36
    if b in (192, 193) or b >= 248:
        return 38
    return 37  # printable ASCII left over and the lead bytes 194-247


def byte_flags(b):
    """The flag bits that the driver ORs over a token's bytes."""
    c = chr(b)
    flags = {"<": 0x00100000, ">": 0x00080000, "%": 0x00040000, "+": 0x00200000,
             "-": 0x00200000, "#": 0x00800000, "e": 0x01000000, "E": 0x01000000,
             "'": 0x02000000, ":": 0x04000000, ",": 0x08000000, ".": 0x10000000,
             "^": 0x20000000}.get(c, 0) if b < 128 else 0
    if b == 0:
        flags |= 0x00400000
    if 194 <= b <= 239:
        flags |= 0x40000000
    if 240 <= b <= 247:
        flags |= 0x80000000
    return flags


def parse_row(text):
    """The 40 next states of a row's transition text."""
    nexts = [None] * 40
    others = None
    for clause in text.split("; "):
        clause = clause.strip()
        names, target = clause.rsplit(":", 1)
        target = target.strip()
        if target.startswith("kind "):
            state = 66 + KINDS.index(target[5:])
        else:
            state = int(target)
        names = names.strip()
        if names == "all others":
            others = state
            continue
        classes = []
        rest = names
        while rest:
            rest = rest.lstrip()
            if rest.startswith("`"):
                end = rest.index("`", 2) if rest[1] == "`" else rest.index("`", 1)
                classes.append(rest[1:end])
                rest = rest[end + 1:]
            else:
                word, _, rest = rest.partition(" ")
                classes.append(word)
        for name in classes:
            cls = CLASSES.index(name)
            if nexts[cls] is not None:
                sys.exit(f"class {name} named twice in row: {text}")
            nexts[cls] = state
    for cls in range(40):
        if nexts[cls] is None:
            if others is None:
                sys.exit(f"class {CLASSES[cls]} has no transition in row: {text}")
            nexts[cls] = others
    return nexts


def type_enum(name):
    if name == "-":
        return "0"
    return "kType" + "".join(p[0].upper() + p[1:] for p in name[:-1].split("-"))


def generate():
    rows = {}
    types = {}
    for line in ROWS.strip().splitlines():
        state, dtype, text = (p.strip() for p in line.split("|", 2))
        rows[int(state)] = parse_row(text)
        types[int(state)] = dtype
    if sorted(rows) != list(range(65)):
        sys.exit("the rows must be states 0 to 64")
    out = ["// The character classes and the state machine of the lexer.",
           "// Generated by tools/gen-lexer-table.py; do not edit.",
           "// clang-format off",
           '#include "loading/lexer-table.h"', "",
           "namespace lexer::table {", "",
           "const uint32_t kClass[256] = {"]
    for base in range(0, 256, 8):
        out.append("    " + " ".join(f"0x{byte_class(b) | byte_flags(b):08X}," for b in range(base, base + 8)))
    out += ["};", "", "const uint8_t kNext[kWorkingStates][kClassCount] = {"]
    for s in range(65):
        out.append(f"    /* {s:2} */ {{" + ",".join(f"{n:3}" for n in rows[s]) + "},")
    out += ["};", "", "const uint8_t kStateType[kStates] = {"]
    entries = []
    for s in range(102):
        if s < 65:
            entries.append(type_enum(types[s]))
        else:
            entries.append(type_enum(TERMINAL_TYPES.get(s, "-")))
    for base in range(0, 102, 6):
        out.append("    " + " ".join(f"{e}," for e in entries[base:base + 6]))
    out += ["};", "", "} // namespace lexer::table", ""]
    return "\n".join(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true")
    args = parser.parse_args()
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    path = os.path.join(root, "loading", "lexer-table.cpp")
    text = generate()
    if args.check:
        with open(path, encoding="utf-8") as f:
            if f.read() != text:
                sys.exit(f"{path} differs from what the generator writes")
        return
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


if __name__ == "__main__":
    main()
