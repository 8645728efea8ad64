// string! trim and the set operations on text.
#include <gtest/gtest.h>

#include "string-actions-fixture.h"

namespace {

class StringTrim : public StringActionsTest {
protected:
    struct Options {
        bool head = false;
        bool tail = false;
        bool lines = false;
        bool all = false;
        Cell* with = nullptr;
    };
    static std::u32string trimmed(std::u32string_view text, const Options& o, uint32_t unit = 1,
                                  uint32_t index = 0) {
        Cell* s = push_text(text, unit);
        Cell* at = push_at(s, index);
        EXPECT_EQ(
            string::trim(
                at,
                {.head = o.head, .tail = o.tail, .lines = o.lines, .all = o.all, .with = o.with}),
            at);
        return wide_of(s);
    }

    // A set operation on two texts, as the natives call it: the texts are the frame's first
    // two cells and the result replaces the first.
    static std::string set_operation(const std::string& first, const std::string& second,
                                     int32_t operation, bool case_ = false, int32_t skip = 0) {
        Cell* saved = stack::arguments;
        stack::arguments = push_text(first);
        push_text(second);
        Cell* step = skip ? push_integer(skip) : nullptr;
        Cell* result = string::set_operation(case_, step, operation);
        EXPECT_EQ(result, stack::arguments);
        EXPECT_EQ(result->w1, 0u);
        const std::string out = whole(result);
        stack::arguments = saved;
        return out;
    }
};

TEST_F(StringTrim, Whitespace) {
    struct Case {
        std::u32string text;
        Options options;
        std::u32string result;
    } cases[] = {
        {U"  a  \n", {}, U"a\n"},
        {U"  a  \n", {.head = true}, U"a  \n"},
        {U"  a  \n", {.tail = true}, U"  a"},
        {U"  a  \n", {.head = true, .tail = true}, U"a"},
        {U"  a  ", {}, U"a"},
        {U"  one  \n    two\t\n  three  ", {}, U"one\ntwo\nthree"},
        {U"a  \r\n  b", {}, U"a  \r\nb"}, // blanks before a carriage return stay
        {U"a\n\n\tb\n \n", {}, U"a\n\nb\n"},
        {U"\x01\x02 a\x7F", {}, U"a\x7F"},
        {U"\u3000\u2028a\u00A0b\u205F", {}, U"a\u00A0b"},
        {std::u32string(U"\0 a \0", 5), {}, std::u32string(U"\0 a \0", 5)}, // NUL is kept
        {U"", {}, U""},
        {U" \n ", {}, U""},
        {U"a\t\n\nb", {.lines = true}, U"a b"},
        {U"  a \r\n  b  \n", {.lines = true}, U"a b"},
        {U"a \tb\r\nc d ", {.all = true}, U"abcd"},
        {U"a\u00A0b", {.all = true}, U"a\u00A0b"},
    };
    for (const Case& c : cases) {
        Cell* top = stack::top;
        for (uint32_t unit : {1u, 2u}) {
            if (unit == 1 && c.text.find_first_of(U"\u3000\u2028") != std::u32string::npos)
                continue;
            EXPECT_EQ(trimmed(c.text, c.options, unit), c.result);
        }
        stack::top = top;
    }
    // From the index on only.
    EXPECT_EQ(trimmed(U"  a  b  ", {}, 1, 1), U" a  b");
    EXPECT_EQ(trimmed(U" a b ", {.all = true}, 1, 2), U" ab");
}

TEST_F(StringTrim, WithRemovesEveryCharacterOfTheSet) {
    EXPECT_EQ(trimmed(U"abcab", {.with = push_text("ab")}), U"c");
    EXPECT_EQ(trimmed(U"abcab", {.with = push_text("")}), U"abcab");
    EXPECT_EQ(trimmed(U"abcab", {.with = push_at(push_text("xa"), 2)}), U"abcab");
    EXPECT_EQ(trimmed(U"xaxbx", {.with = push_char('x')}), U"ab");
    EXPECT_EQ(trimmed(U"xaxbx", {.with = push_integer('a')}), U"xxbx");
    EXPECT_EQ(trimmed(U"a\u0101b\u0101", {.with = push_text(U"\u0101", 2)}, 2), U"ab");
    EXPECT_EQ(trimmed(U"a-b=c", {.with = push_text("=- ")}), U"abc");
    Cell* s = push_text("abc");
    EXPECT_EQ(trimmed(U"abcabd", {.with = s}), U"d");

    Cell* number = stack::push(Cell{kTypeFloat, 0, 0, 0});
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_arg,
                       [&] { string::trim(s, {.with = number}); }));
    EXPECT_TRUE(raises(error::kInternal, error::internal::not_done,
                       [&] { string::trim(s, {.auto_ = true}); }));
    EXPECT_EQ(whole(s), "abc");
}

TEST_F(StringTrim, WhitespaceSet) {
    for (uint32_t c : {0x01u, 0x09u, 0x0Au, 0x0Du, 0x20u, 0x85u, 0xA0u, 0x1680u, 0x180Eu, 0x2000u,
                       0x200Au, 0x2028u, 0x2029u, 0x202Fu, 0x205Fu, 0x3000u})
        EXPECT_TRUE(string::is_whitespace(c)) << std::hex << c;
    for (uint32_t c : {0x00u, 0x21u, 0x7Fu, 0x84u, 0x86u, 0x200Bu, 0xFEFFu})
        EXPECT_FALSE(string::is_whitespace(c)) << std::hex << c;
}

TEST_F(StringTrim, SetOperations) {
    EXPECT_EQ(set_operation("aAbB", "", block::kUnique), "ab");
    EXPECT_EQ(set_operation("aAbB", "", block::kUnique, true), "aAbB");
    EXPECT_EQ(set_operation("abc", "cde", block::kUnion), "abcde");
    EXPECT_EQ(set_operation("abc", "cde", block::kIntersect), "c");
    EXPECT_EQ(set_operation("abc", "cde", block::kExclude), "ab");
    EXPECT_EQ(set_operation("abc", "cde", block::kDifference), "abde");
    EXPECT_EQ(set_operation("abc", "CDE", block::kIntersect), "c");
    EXPECT_EQ(set_operation("abc", "CDE", block::kIntersect, true), "");
    // Records of two: the first character tells them apart.
    EXPECT_EQ(set_operation("a1b2a3", "", block::kUnique, false, 2), "a1b2");
    EXPECT_EQ(set_operation("a1b2", "b5c6", block::kUnion, false, 2), "a1b2c6");
    EXPECT_EQ(set_operation("a1b2", "1b", block::kIntersect, false, 2), "");
    EXPECT_EQ(set_operation("a1b2", "b1", block::kExclude, false, 2), "a1");

    Cell* saved = stack::arguments;
    stack::arguments = push_text("abc");
    push_text("");
    Cell* zero = push_integer(0);
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_refine_arg,
                       [&] { string::set_operation(false, zero, block::kUnique); }));
    stack::arguments = saved;

    // Wide characters keep their width in the result.
    stack::arguments = push_text(U"\u0101\u0100x", 2);
    push_text("");
    string::set_operation(false, nullptr, block::kUnique);
    EXPECT_EQ(wide_of(stack::arguments), U"\u0101x");
    stack::arguments = saved;
}

} // namespace
