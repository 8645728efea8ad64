// string!: make, to, form, mold, path access, comparison and registration; append, insert,
// change, take and swap.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "app/init.h"
#include "datatypes/float.h"
#include "datatypes/series.h"
#include "string-actions-fixture.h"

namespace {

class StringActions : public StringActionsTest {
protected:
    static uint32_t capacity(const Cell* s) { return memory::buffer(s->w2)->size; }

    // A binary! of the bytes, pushed.
    static Cell* push_binary(const std::string& bytes) {
        Cell* b = stack::push(Cell{kTypeUnset, 0, 0, 0});
        const uint32_t node = make_text(bytes.c_str());
        *b = Cell{kTypeBinary, 0, node, 0};
        return b;
    }
    // Stand-ins for refinement!: form writes the word, mold the word after a slash.
    static void register_refinement() {
        action::Row row;
        row.set<action::slot::form>([](Cell*, Cell* s, Cell*, int32_t limit) {
               string::concatenate_cstring(s, "foo");
               return limit - 3;
           })
            .set<action::slot::mold>(
                [](Cell*, Cell* s, const action::MoldOptions&, int32_t limit, int32_t) {
                    string::concatenate_cstring(s, "/foo");
                    return limit - 4;
                });
        datatype::register_({kTypeRefinement, 0, "refinement!", row.entries()});
    }

    static Cell* append(Cell* s, Cell* value, int32_t part = -1, bool only = false,
                        int32_t dup = 1) {
        return string::append(s, value, {.part = part, .only = only, .dup = dup, .append = true});
    }
    static Cell* insert(Cell* s, Cell* value, int32_t part = -1, bool only = false,
                        int32_t dup = 1) {
        return string::insert(s, value, {.part = part, .only = only, .dup = dup});
    }
};

// --- make, to, form --------------------------------------------------------------------------

TEST_F(StringActions, MakeGivesAnEmptyTextOfTheCapacity) {
    for (int32_t n : {0, 1, 100}) {
        Cell* s = string::make(nullptr, push_integer(n), kTypeString);
        EXPECT_EQ(s->header, static_cast<uint32_t>(kTypeString));
        EXPECT_EQ(s->w1, 0u);
        EXPECT_EQ(string::length_from_head(s), 0u);
        EXPECT_GE(capacity(s), std::max(n, 16) + 0u);
    }
    Cell* file = string::make(nullptr, push_integer(5), kTypeFile);
    EXPECT_EQ(cell::type(file), kTypeFile);
    Cell f{kTypeFloat, 0, 0, 0};
    double d = 40.9;
    std::memcpy(&f.w2, &d, sizeof d);
    EXPECT_GE(capacity(string::make(nullptr, stack::push(f), kTypeString)), 40u);

    Cell* minus = push_integer(-1);
    EXPECT_TRUE(raises(error::kScript, error::script::out_of_range,
                       [&] { string::make(nullptr, minus, kTypeString); }));
    EXPECT_EQ(error::last_raised.args[0].w2, static_cast<uint32_t>(-1));
    // Another spec goes through to.
    Cell* copy = string::make(nullptr, push_text("abc"), kTypeString);
    EXPECT_EQ(whole(copy), "abc");
    // binary! takes this entry over but refuses money!.
    Cell money{kTypeMoney, 0, 0, 0};
    EXPECT_TRUE(raises(error::kScript, error::script::bad_make_arg,
                       [&] { string::make(nullptr, stack::push(money), kTypeBinary); }));
    EXPECT_EQ(error::last_raised.args[0].w1, static_cast<uint32_t>(kTypeBinary));
}

TEST_F(StringActions, ToConvertsByTheSpecsType) {
    Cell* text = push_at(push_text("abcd"), 1);
    Cell* copy = string::to(nullptr, text, kTypeString);
    EXPECT_EQ(whole(copy), "bcd");
    EXPECT_NE(copy->w2, text->w2);
    EXPECT_EQ(cell::type(string::to(nullptr, text, kTypeUrl)), kTypeUrl);

    EXPECT_EQ(whole(string::to(nullptr, load("1 2 3"), kTypeString)), "123");
    EXPECT_EQ(whole(string::to(nullptr, load("\"ab\" [x y] 7"), kTypeString)), "abx y7");
    EXPECT_EQ(whole(string::to(nullptr, push_integer(-42), kTypeString)), "-42");

    register_refinement();
    Cell* refinement = stack::push(Cell{kTypeRefinement, 0, 0, 0});
    EXPECT_EQ(whole(string::to(nullptr, refinement, kTypeString)), "foo");
    Cell* file = string::to(nullptr, refinement, kTypeFile);
    EXPECT_EQ(whole(file), "/foo");
    EXPECT_EQ(cell::type(file), kTypeFile);

    Cell* utf8 = string::to(nullptr, push_binary("caf\xC3\xA9"), kTypeString);
    EXPECT_EQ(wide_of(utf8), U"caf\u00E9");
    Cell* cut = push_binary("ab\xC3");
    EXPECT_TRUE(raises(error::kAccess, error::access::invalid_utf8,
                       [&] { string::to(nullptr, cut, kTypeString); }));

    // none! is refused naming string! whatever the type asked for.
    Cell* none = stack::push(none_value());
    EXPECT_TRUE(raises(error::kScript, error::script::bad_to_arg,
                       [&] { string::to(nullptr, none, kTypeFile); }));
    EXPECT_EQ(error::last_raised.args[0].w1, static_cast<uint32_t>(kTypeString));
}

TEST_F(StringActions, FormAppendsTheTextAndCountsItsWholeLength) {
    Cell* s = push_at(push_text("xabcdef"), 1);
    Cell* out = string::make_at(stack::push_cell(), 4);
    EXPECT_EQ(string::form(s, out, nullptr, 100), 94);
    EXPECT_EQ(whole(out), "abcdef");
    EXPECT_EQ(string::form(s, out, push_integer(2), 10), 4);
    EXPECT_EQ(whole(out), "abcdefab");
    // Forming a text into itself reads what it held before.
    EXPECT_EQ(string::form(out, out, nullptr, 100), 92);
    EXPECT_EQ(whole(out), "abcdefababcdefab");
}

// --- mold ----------------------------------------------------------------------------------------

TEST_F(StringActions, MoldChoosesItsDelimiters) {
    struct Case {
        std::u32string text;
        std::string mold;
    } cases[] = {
        {U"", "\"\""},
        {U"a\nb", "\"a^/b\""},
        {U"a\nb\nc", "\"a^/b^/c\""},
        {U"a\nb\nc\nd", "{a^/b^/c^/d}"}, // three line feeds
        {U"say \"hi\"", "{say \"hi\"}"},
        {U"a^b", "\"a^^b\""},
        {U"\"^", "{\"^^}"},
        {U"a{b}c", "\"a{b}c\""}, // braces are ordinary characters between quotes
        {U"a\"{b}", "{a\"{b}}"},
        {U"\"{", "{\"^{}"},
        {U"\"}", "{\"^}}"},
        {U"\"{{}", "{\"^{^{^}}"}, // an opening brace without a partner spoils the rest
        {U"\"{}{", "{\"{}^{}"},
        {U"\"}{}", "{\"^}{}}"},
        {U"\"{{}}", "{\"{{}}}"},
    };
    for (const Case& c : cases) EXPECT_EQ(molded(c.text), c.mold);
    EXPECT_EQ(molded(std::u32string(49, U'x')), "\"" + std::string(49, 'x') + "\"");
    EXPECT_EQ(molded(std::u32string(50, U'x')), "{" + std::string(50, 'x') + "}");
}

TEST_F(StringActions, MoldEscapesControlsAndTheC1Range) {
    struct Case {
        char32_t c;
        std::string plain, all;
    } cases[] = {
        {0x00, "^@", "^@"},        {0x01, "^A", "^A"},        {0x08, "^H", "^H"},
        {0x09, "^-", "^-"},        {0x0A, "^/", "^/"},        {0x0B, "^K", "^K"},
        {0x1A, "^Z", "^Z"},        {0x1B, "^[", "^["},        {0x1C, "^\\", "^\\"},
        {0x1D, "^]", "^]"},        {0x1E, "^(1E)", "^(1E)"},  {0x1F, "^_", "^_"},
        {'"', "^\"", "^\""},       {'^', "^^", "^^"},         {0x7F, "^~", "^~"},
        {0x80, "^(80)", "^(80)"},  {0x85, "^(85)", "^(85)"},  {0x9F, "^(9F)", "^(9F)"},
        {0xA0, "\u00A0", "^(A0)"}, {0xE9, "\u00E9", "^(E9)"}, {0x1F600, "\U0001F600", "^(1F600)"},
        {'a', "a", "a"},           {'{', "{", "{"},           {'~', "~", "~"},
    };
    for (const Case& c : cases) {
        for (bool all : {false, true}) {
            Cell* out = string::make_at(stack::push_cell(), 4);
            string::append_escaped_char(out, c.c, all);
            EXPECT_EQ(utf8_of(out), all ? c.all : c.plain)
                << std::hex << static_cast<uint32_t>(c.c);
        }
    }
    EXPECT_EQ(molded(U"\t\u0085", false, 1), "\"^-^(85)\"");
    EXPECT_EQ(molded(U"caf\u00E9", true, 2), "\"caf^(E9)\"");
}

TEST_F(StringActions, MoldWithPartMoldsTheFirstCharacters) {
    Cell* s = push_text("abcdef");
    Cell* out = string::make_at(stack::push_cell(), 4);
    EXPECT_EQ(string::mold(s, out, {.part = push_integer(3)}, 3, 0), -2);
    EXPECT_EQ(whole(out), "\"abc\"");
    Cell* none = string::make_at(stack::push_cell(), 4);
    string::mold(s, none, {.part = push_integer(1)}, -4, 0);
    EXPECT_EQ(whole(none), "\"\"");
}

// A long text molds in chunks; buffers may move between them.
TEST_F(StringActions, MoldOfALongTextMatchesItsEscapedForm) {
    std::u32string text;
    std::string expected = "{";
    for (int i = 0; i < 3000; ++i) {
        text += U"{\"\t}";
        expected += "{\"^-}";
    }
    text += U"{";
    expected += "^{}";
    EXPECT_EQ(molded(text, false, 1), expected);
}

// --- path access and comparison ----------------------------------------------------------------

TEST_F(StringActions, PathStepsPickSelectAndSet) {
    Cell* s = push_text("abc");
    Cell* path = stack::push(none_value());
    Cell* picked = string::eval_path(s, push_integer(2), nullptr, {.path = path, .get = true});
    EXPECT_EQ(cell::type(picked), kTypeChar);
    EXPECT_EQ(picked->w2, static_cast<uint32_t>('b'));
    Cell* x = push_char('x');
    EXPECT_EQ(string::eval_path(s, push_integer(1), x, {.path = path}), x);
    EXPECT_EQ(whole(s), "xbc");

    Cell* after = string::eval_path(s, push_text("b"), nullptr, {.path = path, .get = true});
    EXPECT_EQ(after->w2, static_cast<uint32_t>('c'));
    string::eval_path(s, push_text("x"), push_char('y'), {.path = path});
    EXPECT_EQ(whole(s), "xyc");

    Cell* word = value_of("foo");
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_path,
                       [&] { string::eval_path(s, word, nullptr, {.path = path, .get = true}); }));
    Cell* missing = push_text("q");
    EXPECT_TRUE(raises(error::kScript, error::script::bad_path_set,
                       [&] { string::eval_path(s, missing, x, {.path = path}); }));
}

TEST_F(StringActions, CompareAcrossTextTypesOnlyForEquality) {
    Cell* s = push_text("abc");
    Cell* upper = push_text("ABC");
    Cell* file = push_text("abc", kTypeFile);
    EXPECT_EQ(string::compare(s, upper, action::op::equal), 0);
    EXPECT_EQ(string::compare(s, upper, action::op::strict_equal), 1);
    EXPECT_EQ(string::compare(s, push_text("abd"), action::op::lesser), -1);
    EXPECT_EQ(string::compare(s, file, action::op::equal), 0);
    EXPECT_EQ(string::compare(s, file, action::op::not_equal), 0);
    EXPECT_EQ(string::compare(s, file, action::op::strict_equal), action::kNotComparable);
    EXPECT_EQ(string::compare(s, file, action::op::lesser), action::kNotComparable);
    EXPECT_EQ(string::compare(s, push_integer(1), action::op::equal), action::kNotComparable);
}

// --- registration --------------------------------------------------------------------------------

TEST_F(StringActions, TheRowHasOwnInheritedAndMissingSlots) {
    namespace slot = action::slot;
    EXPECT_EQ(datatype::function<slot::mold>(kTypeString), string::mold);
    EXPECT_EQ(datatype::function<slot::append>(kTypeString), string::append);
    EXPECT_EQ(datatype::function<slot::insert>(kTypeString), string::insert);
    EXPECT_EQ(datatype::function<slot::take>(kTypeString), string::take);
    EXPECT_EQ(datatype::function<slot::trim>(kTypeString), string::trim);
    EXPECT_EQ(datatype::function<slot::copy>(kTypeString), series::copy);
    EXPECT_EQ(datatype::function<slot::poke>(kTypeString), series::poke);
    EXPECT_EQ(datatype::function<slot::modify>(kTypeString), series::modify);
    for (action::Slot s :
         {slot::set_path, slot::add, slot::xor_, slot::put, slot::create, slot::open, slot::write})
        EXPECT_EQ(datatype::entry(kTypeString, s), nullptr) << s;
    EXPECT_STREQ(datatype::name_record(kTypeString).name, "string!");
}

// In a child process: the runtime initialisation registers string! in its place.
TEST(StringStartUpDeathTest, RuntimeInitRegistersString) {
    auto check = [] {
        runtime::init();
        const bool ok = datatype::function<action::slot::find>(kTypeString) == string::find &&
                        datatype::function<action::slot::next>(kTypeString) ==
                            datatype::function<action::slot::next>(kTypeSeries);
        std::exit(ok ? 0 : 1);
    };
    EXPECT_EXIT(check(), testing::ExitedWithCode(0), "");
}

// --- append and insert ---------------------------------------------------------------------------

TEST_F(StringActions, AppendWidensAndAnswersTheHead) {
    Cell* s = push_at(push_text("abc"), 2);
    EXPECT_EQ(append(s, push_char(0xE9)), s);
    EXPECT_EQ(s->w1, 0u);
    EXPECT_EQ(unit_of(s), 2u);
    EXPECT_EQ(wide_of(s), U"abc\u00E9");
    append(s, push_char(0x1F600));
    EXPECT_EQ(unit_of(s), 4u);
    EXPECT_EQ(wide_of(s), U"abc\u00E9\U0001F600");

    // Nothing appended: the series stays where it was.
    Cell* t = push_at(push_text("abc"), 2);
    append(t, push_text(""));
    EXPECT_EQ(t->w1, 2u);
    append(t, push_text("xyz"), 0);
    EXPECT_EQ(t->w1, 2u);
    append(t, push_char('x'), -1, false, 0);
    append(t, push_char(0x1F600), -1, false, -1);
    append(t, value_of("[1 2]"), -1, false, 0);
    EXPECT_EQ(t->w1, 2u);
    EXPECT_EQ(whole(t), "abc");

    Cell* u = push_text("ab");
    append(u, push_text(U"\u0101z", 2), 1);
    EXPECT_EQ(wide_of(u), U"ab\u0101");
    append(u, push_char('!'), -1, false, 3);
    EXPECT_EQ(wide_of(u), U"ab\u0101!!!");
}

TEST_F(StringActions, AppendCountsATagWithItsBrackets) {
    Cell* tag = push_text("b", kTypeTag);
    struct Case {
        int32_t part;
        const char* text;
    } cases[] = {{-1, "<b>"}, {3, "<b>"}, {2, "<b"}, {1, "<"}, {0, ""}};
    for (const Case& c : cases) {
        Cell* s = push_text("");
        append(s, tag, c.part);
        EXPECT_EQ(whole(s), c.text) << c.part;
    }
    Cell* s = push_text("x");
    append(s, tag, -1, false, 2);
    EXPECT_EQ(whole(s), "x<b><b>");
}

// Values that are not text are formed: a block element after element, /part counting elements
// (or, with /only, characters).
TEST_F(StringActions, AppendFormsOtherValues) {
    struct Case {
        const char* value;
        int32_t part;
        bool only;
        const char* text;
    } cases[] = {
        {"[abc def]", -1, false, "abcdef"}, {"[abc def]", 1, false, "abc"},
        {"[abc def]", 2, true, "ab"},       {"[abc def]", 4, true, "abcd"},
        {"[abc def]", 0, false, ""},        {"[\"ab\" 12 [c d]]", -1, false, "ab12c d"},
        {"12345", -1, false, "12345"},      {"12345", 3, true, "123"},
        {"(x y)", -1, false, "xy"},         {"[]", -1, false, ""},
    };
    for (const Case& c : cases) {
        Cell* s = push_text("");
        append(s, value_of(c.value), c.part, c.only);
        EXPECT_EQ(whole(s), c.text) << c.value << " " << c.part;
    }
    Cell* s = push_text("-");
    append(s, value_of("42"), -1, false, 3);
    EXPECT_EQ(whole(s), "-424242");
}

TEST_F(StringActions, InsertAtTheIndex) {
    struct Case {
        uint32_t index;
        const char* value;
        int32_t part, dup;
        const char* text;
        uint32_t after;
    } cases[] = {
        {0, "\"x\"", -1, 3, "xxxabc", 3}, {3, "\"x\"", -1, 3, "abcxxx", 6},
        {1, "\"XY\"", -1, 1, "aXYbc", 3}, {1, "\"XY\"", 1, 1, "aXbc", 2},
        {1, "\"XY\"", 0, 1, "abc", 1},    {1, "42", -1, 1, "a42bc", 3},
        {1, "42", -1, 2, "a4242bc", 5},   {2, "[x \"y\" 7]", -1, 1, "abxy7c", 5},
        {0, "\"\"", -1, 5, "abc", 0},     {9, "\"z\"", -1, 1, "abcz", 4},
        {1, "\"x\"", -1, 0, "abc", 1},    {1, "42", -1, -3, "abc", 1},
        {3, "\"x\"", -1, 0, "abc", 3},
    };
    for (const Case& c : cases) {
        Cell* s = push_text("abc");
        Cell* at = push_at(s, c.index);
        Cell* r = insert(at, value_of(c.value), c.part, false, c.dup);
        EXPECT_EQ(r, at);
        EXPECT_EQ(whole(s), c.text) << c.value << " at " << c.index;
        EXPECT_EQ(r->w1, c.after) << c.value << " at " << c.index;
    }
    Cell* s = push_text("abc");
    insert(push_at(s, 1), push_char(0x10348));
    EXPECT_EQ(wide_of(s), U"a\U00010348bc");
    EXPECT_EQ(unit_of(s), 4u);
    Cell* t = push_text("abc");
    insert(push_at(t, 2), push_text(U"\u00E9\u00E8", 2), -1, false, 2);
    EXPECT_EQ(wide_of(t), U"ab\u00E9\u00E8\u00E9\u00E8c");
}

// A text inserted into itself is read before its characters move.
TEST_F(StringActions, InsertingATextIntoItselfReadsItFirst) {
    Cell* s = push_text("abc");
    insert(push_at(s, 1), s);
    EXPECT_EQ(whole(s), "aabcbc");
    Cell* t = push_text("abc");
    insert(t, push_at(t, 1), -1, false, 2);
    EXPECT_EQ(whole(t), "bcbcabc");
    Cell* u = push_text("abc");
    append(u, u);
    EXPECT_EQ(whole(u), "abcabc");
    Cell* v = push_text("abcd");
    string::change(push_at(v, 1), v, {});
    EXPECT_EQ(whole(v), "aabcd");
    // ... and through a block that holds it.
    Cell* w = push_text("ab");
    Cell* holder = block::push_new(2);
    block::append_copy(holder, w);
    block::append_copy(holder, w);
    insert(push_at(w, 1), holder);
    EXPECT_EQ(whole(w), "aababb");
    append(w, holder);
    EXPECT_EQ(whole(w), "aababbaababbaababb");
}

TEST_F(StringActions, SizesBeyondABufferRaiseNoMemory) {
    Cell* s = push_text("abc");
    Cell* xy = push_text("xy");
    EXPECT_TRUE(raises(error::kInternal, error::internal::no_memory,
                       [&] { insert(s, xy, -1, false, 0x7FFFFFFF); }));
    EXPECT_TRUE(raises(error::kInternal, error::internal::no_memory,
                       [&] { append(s, value_of("12"), -1, false, 0x40000000); }));
    EXPECT_TRUE(raises(error::kInternal, error::internal::no_memory,
                       [&] { string::change(s, xy, {.part = 1, .dup = 0x7FFFFFFF}); }));
    EXPECT_EQ(whole(s), "abc");
}

// --- change --------------------------------------------------------------------------------------

TEST_F(StringActions, ChangeReplacesCharacters) {
    struct Case {
        uint32_t index;
        const char* value;
        int32_t part, dup;
        const char* text;
        uint32_t after;
    } cases[] = {
        {0, "\"XY\"", -1, 1, "XYcdef", 2},   {0, "\"X\"", 3, 1, "Xdef", 1},
        {4, "\"XYZ\"", -1, 1, "abcdXYZ", 7}, {6, "\"XY\"", 2, 1, "abcdefXY", 8},
        {1, "\"X\"", 9, 1, "aX", 2},         {0, "\"X\"", -1, 3, "XXXdef", 3},
        {0, "123", 1, 1, "123bcdef", 3},     {0, "12", -1, 1, "12cdef", 2},
        {2, "[]", 3, 1, "abf", 2},           {0, "\"\"", 2, 1, "cdef", 0},
        {1, "[x y]", -1, 2, "axyxyf", 5},    {1, "\"X\"", -1, 0, "abcdef", 1},
        {1, "\"X\"", 2, 0, "adef", 1},       {1, "\"X\"", 2, -1, "adef", 1},
    };
    for (const Case& c : cases) {
        Cell* s = push_text("abcdef");
        Cell* r =
            string::change(push_at(s, c.index), value_of(c.value), {.part = c.part, .dup = c.dup});
        EXPECT_EQ(whole(s), c.text) << c.value << " at " << c.index;
        EXPECT_EQ(r->w1, c.after) << c.value << " at " << c.index;
    }
    Cell* s = push_text("abc");
    string::change(push_at(s, 1), push_char(0x263A), {});
    EXPECT_EQ(wide_of(s), U"a\u263Ac");
}

// --- take, swap, exchange ------------------------------------------------------------------------

TEST_F(StringActions, TakeGivesACharacterOrAText) {
    Cell* s = push_text("abc");
    Cell* one = string::take(s, {});
    EXPECT_EQ(cell::type(one), kTypeChar);
    EXPECT_EQ(one->w2, static_cast<uint32_t>('a'));
    Cell* last = string::take(s, {.last = true});
    EXPECT_EQ(last->w2, static_cast<uint32_t>('c'));
    Cell* part = string::take(s, {.part = push_integer(1)});
    EXPECT_EQ(cell::type(part), kTypeString);
    EXPECT_EQ(whole(part), "b");
    EXPECT_EQ(cell::type(string::take(s, {})), kTypeNone);
    Cell* wide = push_text(U"\U0001F600", 4);
    EXPECT_EQ(string::take(wide, {})->w2, 0x1F600u);
    Cell* bytes = push_binary("\xFF");
    Cell* byte = string::take(bytes, {});
    EXPECT_EQ(cell::type(byte), kTypeInteger);
    EXPECT_EQ(byte->w2, 255u);
}

TEST_F(StringActions, SwapExchangesOneCharacterEach) {
    Cell* a = push_text("abc");
    Cell* b = push_text(U"x\u0101z", 2);
    Cell* first = push_at(a, 1);
    EXPECT_EQ(string::swap(first, push_at(b, 1)), first);
    EXPECT_EQ(wide_of(a), U"a\u0101c");
    EXPECT_EQ(wide_of(b), U"xbz");
    Cell* same = push_text("abc");
    string::swap(same, push_at(same, 2));
    EXPECT_EQ(whole(same), "cba");
    // At a tail nothing happens.
    string::swap(push_at(a, 3), b);
    EXPECT_EQ(wide_of(a), U"a\u0101c");

    Cell* number = push_integer(1);
    EXPECT_TRUE(
        raises(error::kScript, error::script::invalid_arg, [&] { string::swap(a, number); }));
    // A binary! holds bytes only.
    Cell* bytes = push_binary("q");
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_arg,
                       [&] { string::swap(push_at(a, 1), bytes); }));
    string::swap(a, bytes);
    EXPECT_EQ(wide_of(a), U"q\u0101c");
    EXPECT_EQ(whole(bytes), "a");
}

} // namespace
