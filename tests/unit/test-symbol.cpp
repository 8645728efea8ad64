#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "words-fixture.h"

namespace {

class Symbol : public WordsTest {
protected:
    // A string! of code points at a unit width, index 0. May collect.
    static Cell wide_string(std::u32string_view text, uint32_t unit) {
        const auto count = static_cast<uint32_t>(text.size());
        uint32_t node = memory::alloc_series(count ? count : 1, unit, 0);
        memory::Buffer* b = memory::buffer(node);
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t cp = text[i];
            std::memcpy(b->data() + i * unit, &cp, unit);
        }
        b->tail = count * unit;
        return Cell{kTypeString, 0, node, 0};
    }
};

TEST_F(Symbol, CaseVariantsBecomeAliasesOfTheEarliestSpelling) {
    const uint32_t before = symbol::count();
    const uint32_t foo = sym("qfoo");
    EXPECT_EQ(sym("qfoo"), foo);
    const uint32_t FOO = sym("QFOO");
    const uint32_t Foo = sym("Qfoo");
    EXPECT_EQ(symbol::count(), before + 3);
    EXPECT_NE(FOO, foo);
    EXPECT_NE(Foo, FOO);
    for (uint32_t id : {foo, FOO, Foo}) EXPECT_EQ(symbol::resolve(id), foo);
    EXPECT_EQ(symbol::get_alias(foo), -1);
    EXPECT_EQ(symbol::get_alias(FOO), static_cast<int32_t>(foo));
    EXPECT_EQ(symbol::get_alias(Foo), static_cast<int32_t>(foo));
    // Each keeps its own letters; looking a variant up again finds it exactly.
    EXPECT_EQ(text_of_symbol(FOO), "QFOO");
    EXPECT_EQ(sym("QFOO"), FOO);
    EXPECT_EQ(symbol::count(), before + 3);
}

TEST_F(Symbol, InternFlaggedNeverMakesAnAlias) {
    const uint32_t foo = sym("qbar");
    const uint32_t before = symbol::count();
    EXPECT_EQ(symbol::intern_flagged("QBAR"), foo);
    EXPECT_EQ(symbol::count(), before);
    const uint32_t fresh = symbol::intern_flagged("QBaz");
    EXPECT_EQ(symbol::get_alias(fresh), -1);
    EXPECT_EQ(symbol::count(), before + 1);
}

// Only A-Z and a-z fold; the rest of the bytes must be equal.
TEST_F(Symbol, OnlyAsciiLettersFoldForAliases) {
    struct Case {
        const char* first;
        const char* second;
        bool alias;
    } cases[] = {
        {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", false}, // été / ÉTÉ
        {"\xC3\xA9", "\xC3\x89", false},                   // é / É
        {"caf\xC3\xA9", "CAF\xC3\xA9", true},              // café / CAFé
        {"stra\xC3\x9F"
         "e",
         "STRASSE", false}, // straße / STRASSE
        {"a-b?", "A-B?", true},
        {"[x", "{x", false}, // [ and { differ by 0x20 too, but are not letters
    };
    for (const Case& c : cases) {
        const uint32_t a = sym(c.first);
        const uint32_t b = sym(c.second);
        EXPECT_NE(a, b) << c.first;
        EXPECT_EQ(symbol::resolve(b) == a, c.alias) << c.first;
        EXPECT_EQ(symbol::get_alias(b) > 0, c.alias) << c.first;
    }
}

TEST_F(Symbol, TheEmptyTextIsASymbol) {
    const uint32_t empty = symbol::find_or_make("", 0);
    EXPECT_GT(empty, 0u);
    EXPECT_EQ(symbol::make(""), empty);
    EXPECT_EQ(symbol::resolve(empty), empty);
    EXPECT_EQ(text_of_symbol(empty), "");
    EXPECT_EQ(memory::buffer(symbol::get_string(empty))->length(), 0u);
}

// The UTF-8 text ends with a NUL that the length does not count; the string is made once.
TEST_F(Symbol, TextAndStringOfASymbol) {
    const uint32_t id = symbol::find_or_make("caf\xC3\xA9!!", 5); // the length cuts the text
    memory::Buffer* utf8 = memory::buffer(symbol::cell_at(id)->w3);
    EXPECT_EQ(utf8->tail - utf8->head, 5u);
    EXPECT_EQ(utf8->at_head()[5], 0);
    EXPECT_EQ(symbol::cell_at(id)->w2, 0u); // made only when asked for
    const uint32_t string = symbol::get_string(id);
    EXPECT_EQ(symbol::get_string(id), string);
    EXPECT_EQ(symbol::record_at(id)->w2, string);
    memory::Buffer* b = memory::buffer(string);
    ASSERT_EQ(b->length(), 4u);
    EXPECT_EQ(string::get_char(b->at_head() + 3 * b->unit(), b->unit()), 0xE9u);
}

TEST_F(Symbol, MakeFromStringTakesTheTextFromTheIndexAsUtf8) {
    GcRoot wide(wide_string(U"x\u65E5\u672C", 2));
    wide.cell().w1 = 1;
    const uint32_t id = symbol::make_from_string(&wide.cell());
    EXPECT_EQ(text_of_symbol(id), "\xE6\x97\xA5\xE6\x9C\xAC");
    EXPECT_EQ(symbol::make("\xE6\x97\xA5\xE6\x9C\xAC"), id);
    GcRoot latin(wide_string(U"Caf\u00E9", 1));
    EXPECT_EQ(text_of_symbol(symbol::make_from_string(&latin.cell())), "Caf\xC3\xA9");
}

// The table and every symbol's text survive collections that move the buffers.
TEST_F(Symbol, SymbolsSurviveCollections) {
    const uint32_t a = sym("survivor");
    const uint32_t b = sym("SURVIVOR");
    symbol::get_string(a);
    collector::collect();
    collector::collect();
    EXPECT_EQ(text_of_symbol(a), "survivor");
    EXPECT_EQ(text_of_symbol(b), "SURVIVOR");
    EXPECT_EQ(sym("survivor"), a);
    EXPECT_EQ(sym("SURVIVOR"), b);
    EXPECT_EQ(memory::buffer(symbol::get_string(a))->length(), 8u);
}

TEST_F(Symbol, CompareOrdersTheTexts) {
    const uint32_t abc = sym("abc"), ABC = sym("ABC"), abd = sym("abd");
    auto cmp = [](uint32_t x, uint32_t y, int32_t op) {
        GcRoot a(*symbol::cell_at(x)), b(*symbol::cell_at(y));
        return actions::compare_values(&a.cell(), &b.cell(), op);
    };
    EXPECT_EQ(cmp(abc, ABC, action::op::equal), 0);
    EXPECT_NE(cmp(abc, ABC, action::op::strict_equal), 0);
    EXPECT_LT(cmp(abc, abd, action::op::lesser), 0);
    EXPECT_GT(cmp(abd, ABC, action::op::sort), 0);
    // Cells of the symbol block itself are compared in place.
    EXPECT_EQ(symbol::compare(symbol::cell_at(abc), symbol::cell_at(ABC), action::op::equal), 0);
    Cell other{kTypeInteger, 0, 1, 0};
    EXPECT_EQ(symbol::compare(symbol::cell_at(abc), &other, action::op::equal),
              action::kNotComparable);
}

TEST_F(Symbol, RegistrationHasOnlyCompare) {
    EXPECT_STREQ(datatype::name_record(kTypeSymbol).name, "symbol!");
    for (uint32_t s = 1; s <= action::kSlotCount; ++s)
        EXPECT_EQ(datatype::entry(kTypeSymbol, static_cast<action::Slot>(s)) != nullptr,
                  s == action::slot::compare)
            << s;
}

} // namespace
