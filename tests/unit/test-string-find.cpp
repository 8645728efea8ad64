// string! find and select.
#include <gtest/gtest.h>

#include <random>

#include "string-actions-fixture.h"

namespace {

struct Refinements {
    int32_t part = -1; // -1: none
    bool case_ = false;
    bool same = false;
    int32_t skip = 0; // 0: none
    bool last = false;
    bool reverse = false;
    bool tail = false;
    bool match = false;
};

class StringFind : public StringActionsTest {
protected:
    // A needle written as "#c" (the char! c) or as a value the reader takes.
    static Cell* needle(const std::string& text) {
        if (text.size() == 2 && text[0] == '#') return push_char(static_cast<uint8_t>(text[1]));
        return value_of(text);
    }
    // The index find answers, or -1 for none.
    static int32_t found(Cell* series, Cell* value, const Refinements& r = {}) {
        Cell* part = r.part >= 0 ? push_integer(r.part) : nullptr;
        Cell* skip = r.skip ? push_integer(r.skip) : nullptr;
        Cell* result = string::find(series, value,
                                    {.part = part,
                                     .case_ = r.case_,
                                     .same = r.same,
                                     .skip = skip,
                                     .last = r.last,
                                     .reverse = r.reverse,
                                     .tail = r.tail,
                                     .match = r.match});
        return cell::type(result) == kTypeNone ? -1 : static_cast<int32_t>(result->w1);
    }
    // A stand-in for tag!'s form: its text between angle brackets.
    static void register_tag() {
        action::Row row;
        row.set<action::slot::form>([](Cell* tag, Cell* s, Cell*, int32_t limit) {
            string::concatenate_cstring(s, "<");
            string::concatenate(s, tag, -1, 0, true, string::kAppendMode);
            string::concatenate_cstring(s, ">");
            return limit - static_cast<int32_t>(string::length(tag)) - 2;
        });
        datatype::register_({kTypeTag, 0, "tag!", row.entries()});
    }
    static Cell* select(Cell* series, Cell* value) { return string::select(series, value, {}); }
    // A bitset! of the code points (bit 80 of byte 0 is code point 0), pushed.
    static Cell* push_bitset(std::initializer_list<uint32_t> points, uint32_t bytes,
                             bool complement = false) {
        Cell* b = stack::push(Cell{kTypeUnset, 0, 0, 0});
        const uint32_t node = memory::alloc_bytes(bytes);
        memory::Buffer* buffer = memory::buffer(node);
        std::memset(buffer->data(), 0, bytes);
        for (uint32_t cp : points) buffer->data()[cp >> 3] |= 0x80 >> (cp & 7);
        buffer->tail = bytes;
        if (complement) buffer->flags |= 0x80000;
        *b = Cell{kTypeBitset, 0, node, 0};
        return b;
    }
};

TEST_F(StringFind, Refinements) {
    struct Case {
        const char* text;
        uint32_t index;
        const char* value;
        Refinements r;
        int32_t at;
    } cases[] = {
        {"abc", 0, "\"B\"", {}, 1},
        {"abc", 0, "\"B\"", {.case_ = true}, -1},
        {"abc", 0, "#B", {}, 1},
        {"abc", 0, "#B", {.case_ = true}, -1},
        {"abc", 0, "#B", {.same = true}, -1},
        {"", 0, "#a", {}, -1},
        {"abc", 3, "#a", {}, -1},
        {"abc", 0, "\"\"", {}, -1},
        {"abcabc", 0, "\"bc\"", {.last = true}, 4},
        {"abcabc", 0, "#a", {.part = 3, .last = true}, 0},
        {"abcabc", 3, "#c", {.last = true}, 5},
        {"abcabc", 5, "\"bc\"", {.reverse = true}, 1},
        {"abcabc", 4, "#a", {.reverse = true}, 3},
        {"abcabc", 3, "#a", {.reverse = true}, 0},
        {"abcabc", 6, "#c", {.reverse = true}, 5},
        {"abcabc", 6, "#a", {.part = 2, .reverse = true}, -1},
        {"abcabc", 0, "#a", {.reverse = true}, -1},
        {"abcabc", 4, "#a", {.reverse = true, .match = true}, -1},
        {"abcabc", 0, "\"bc\"", {.tail = true}, 3},
        {"abcabc", 0, "#c", {.tail = true}, 3},
        {"abcabc", 0, "\"bc\"", {.last = true, .tail = true}, 6},
        {"abcabc", 4, "\"ab\"", {.reverse = true, .tail = true}, 2},
        {"abc", 0, "\"ab\"", {.match = true}, 0},
        {"abc", 0, "\"bc\"", {.match = true}, -1},
        {"abc", 1, "\"bc\"", {.match = true}, 1},
        {"abc", 0, "\"ab\"", {.tail = true, .match = true}, 2},
        {"abcabc", 0, "#b", {.skip = 2}, 4},
        {"abcabc", 0, "#b", {.skip = 3}, -1},
        {"abcabc", 1, "#b", {.skip = 3}, 1},
        {"abcabc", 0, "#c", {.part = 0}, -1},
        {"abcabc", 0, "#c", {.part = 2}, -1},
        {"abcabc", 0, "#c", {.part = 3}, 2},
        {"abcabc", 0, "\"bca\"", {.part = 3}, -1},
        {"abcabc", 0, "\"abcabcx\"", {}, -1},
        {"a5b", 0, "5", {}, 1},
        {"a12b12", 2, "12", {}, 4},
        {"x[a b]", 0, "[a b]", {}, 2}, // formed without brackets
    };
    for (const Case& c : cases) {
        Cell* top = stack::top;
        Cell* s = push_at(push_text(c.text), c.index);
        EXPECT_EQ(found(s, needle(c.value), c.r), c.at)
            << c.text << " at " << c.index << " for " << c.value;
        stack::top = top;
    }
}

TEST_F(StringFind, PartAsAPositionAndBadArguments) {
    Cell* s = push_text("abcabc");
    Cell* c = push_char('c');
    auto with_part = [&](Cell* part) {
        Cell* r = string::find(s, c, {.part = part});
        return cell::type(r) == kTypeNone ? -1 : static_cast<int32_t>(r->w1);
    };
    EXPECT_EQ(with_part(push_at(s, 3)), 2);
    EXPECT_EQ(with_part(push_at(s, 2)), -1);
    Cell* other = push_text("abcabc");
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_refine_arg,
                       [&] { with_part(push_at(other, 3)); }));
    EXPECT_TRUE(
        raises(error::kScript, error::script::out_of_range, [&] { found(s, c, {.skip = 0 - 1}); }));
    Cell* zero = push_integer(0);
    EXPECT_TRUE(raises(error::kScript, error::script::out_of_range,
                       [&] { string::find(s, c, {.skip = zero}); }));
    EXPECT_TRUE(raises(error::kInternal, error::internal::not_done,
                       [&] { string::find(s, c, {.any = true}); }));
    EXPECT_TRUE(raises(error::kInternal, error::internal::not_done,
                       [&] { string::find(s, c, {.with = c}); }));
    Cell* bytes = push_text("ab", kTypeBinary);
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_arg, [&] { found(s, bytes); }));
    // In a binary! a binary! and numbers are found.
    Cell* binary = push_text("\x01\x02\x03", kTypeBinary);
    EXPECT_EQ(found(binary, push_text("\x02\x03", kTypeBinary)), 1);
    EXPECT_EQ(found(binary, push_integer(3)), 2);
    EXPECT_EQ(found(binary, push_integer(259)), -1);
}

TEST_F(StringFind, BitsetsMatchAnyOfTheirCharacters) {
    Cell* s = push_text("abcABC");
    EXPECT_EQ(found(s, push_bitset({'c', 'B'}, 16)), 2);
    EXPECT_EQ(found(s, push_bitset({'C'}, 16)), 5); // no folding
    EXPECT_EQ(found(s, push_bitset({'c'}, 16), {.last = true}), 2);
    // Code points beyond the bits answer with the complement flag.
    EXPECT_EQ(found(s, push_bitset({}, 2, true)), 0);
    EXPECT_EQ(found(s, push_bitset({}, 2, false)), -1);
}

// Every width folds to upper case; the one-byte search looks for each byte that folds to the
// needle's first character.
TEST_F(StringFind, CaseFoldingAtEveryWidth) {
    for (uint32_t unit : {1u, 2u, 4u}) {
        Cell* s = push_text(U"x\u00C9y", unit);
        EXPECT_EQ(found(s, push_text(U"\u00E9", 1)), 1) << unit;
        EXPECT_EQ(found(s, push_text(U"\u00E9Y", 2)), 1) << unit;
        EXPECT_EQ(found(s, push_text(U"\u00E9", 1), {.case_ = true}), -1) << unit;
        EXPECT_EQ(found(s, push_char(0xC9), {.case_ = true}), 1) << unit;
    }
    // Three bytes fold to S (s, S and the sharp s).
    Cell* sharp = push_text(U"xyz\u00DFs", 1);
    EXPECT_EQ(found(sharp, push_text("S")), 3);
    EXPECT_EQ(found(sharp, push_text("SS")), 3);
    EXPECT_EQ(found(sharp, push_text("S"), {.case_ = true}), -1);
    // A needle character above FF can match a byte that folds to it.
    Cell* latin = push_text(U"a\u00FF", 1);
    EXPECT_EQ(found(latin, push_text(U"\u0178", 2)), 1);
    EXPECT_EQ(found(latin, push_text(U"\u0178", 2), {.case_ = true}), -1);
    EXPECT_EQ(found(latin, push_text(U"\u0101", 2)), -1);
}

// The one-byte search against a plain walk over random texts.
TEST_F(StringFind, OneByteSearchAgreesWithAPlainWalk) {
    std::mt19937 rng(7);
    const std::u32string alphabet = U"aAbB s\u00DF\u00E0\u00C0";
    auto fold = [](char32_t c) { return static_cast<char32_t>(case_::to_upper(c)); };
    for (int round = 0; round < 300; ++round) {
        std::u32string text, pattern;
        const int length = static_cast<int>(rng() % 40);
        for (int i = 0; i < length; ++i) text += alphabet[rng() % alphabet.size()];
        const int width = 1 + static_cast<int>(rng() % 3);
        for (int i = 0; i < width; ++i) pattern += alphabet[rng() % alphabet.size()];
        for (bool exact : {false, true}) {
            int32_t expected = -1;
            for (int p = 0; p + width <= length && expected < 0; ++p) {
                bool same = true;
                for (int j = 0; j < width && same; ++j)
                    same =
                        exact ? text[p + j] == pattern[j] : fold(text[p + j]) == fold(pattern[j]);
                if (same) expected = p;
            }
            Cell* top = stack::top;
            Cell* s = push_text(text, 1);
            EXPECT_EQ(found(s, push_text(pattern, 1), {.case_ = exact}), expected);
            stack::top = top;
        }
    }
}

TEST_F(StringFind, SelectGivesTheCharacterAfterTheMatch) {
    Cell* s = push_text("abc");
    Cell* b = select(s, push_char('b'));
    EXPECT_EQ(cell::type(b), kTypeChar);
    EXPECT_EQ(b->w2, static_cast<uint32_t>('c'));
    EXPECT_EQ(cell::type(select(s, push_char('c'))), kTypeNone);
    EXPECT_EQ(cell::type(select(s, push_char('q'))), kTypeNone);
    EXPECT_EQ(select(push_text("abcd"), push_text("BC"))->w2, static_cast<uint32_t>('d'));
    // The whole matched text is skipped: a formed value and a tag with its brackets too.
    EXPECT_EQ(select(push_text("a12b"), push_integer(12))->w2, static_cast<uint32_t>('b'));
    register_tag();
    EXPECT_EQ(select(push_text("a<b>c"), push_text("b", kTypeTag))->w2, static_cast<uint32_t>('c'));
    Cell* byte = select(push_text("\x01\x02\x03", kTypeBinary), push_integer(2));
    EXPECT_EQ(cell::type(byte), kTypeInteger);
    EXPECT_EQ(byte->w2, 3u);
}

} // namespace
