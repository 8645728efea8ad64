#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "app/init.h"
#include "words-fixture.h"

namespace {

class Words : public WordsTest {
protected:
    static bool in_root(const Cell* c) {
        memory::Buffer* rb = memory::buffer(root::block.w2);
        return c >= rb->cells() && c < rb->cells_tail();
    }
};

// The tables hold as many globals as the runtime makes: 113 symbols, 105 words.
static_assert(sizeof(words::Symbols) == 113 * sizeof(uint32_t));
static_assert(sizeof(words::Words) == 105 * sizeof(const Cell*));
static_assert(sizeof(refinements::Refinements) == 6 * sizeof(const Cell*));

TEST_F(Words, EveryGlobalIsMade) {
    const auto* ids = reinterpret_cast<const uint32_t*>(&words::symbol);
    for (size_t i = 0; i < sizeof(words::Symbols) / sizeof(uint32_t); ++i)
        EXPECT_GT(ids[i], 0u) << i;
    const auto* cells = reinterpret_cast<const Cell* const*>(&words::word);
    for (size_t i = 0; i < sizeof(words::Words) / sizeof(const Cell*); ++i) {
        ASSERT_NE(cells[i], nullptr) << i;
        EXPECT_TRUE(in_root(cells[i])) << i;
        EXPECT_EQ(cell::type(cells[i]), kTypeWord) << i;
        EXPECT_EQ(cells[i]->w1, context::global) << i;
        // Each is a copy of its entry in the global context.
        EXPECT_EQ(context::words(context::global)[cells[i]->w3].w2, cells[i]->w2) << i;
    }
}

// The spellings that look like slips are the runtime's own words.
TEST_F(Words, ExactSpellings) {
    struct Case {
        const Cell* word;
        const char* text;
    } cases[] = {
        {words::word.put_ed, "put-ed"},
        {words::word.swaped, "swaped"},
        {words::word.anon, "<anon>"},
        {words::word.body, "<body>"},
        {words::word.not_found, "<not-found>"},
        {words::word.on_change, "on-change*"},
        {words::word.on_deep_change, "on-deep-change*"},
        {words::word.compare_callback, "<compare-callback>"},
        {words::word.applied, "<applied>"},
        {words::word.set_path, "set-path"},
        {words::word.invalid_error, "invalid-error"},
        {words::word.throw_, "throw"},
        {words::word.throw_category, "throw"},
    };
    for (const Case& c : cases) EXPECT_EQ(text_of_symbol(c.word->w2), c.text);
    EXPECT_EQ(words::word.throw_->w2, words::word.throw_category->w2);

    EXPECT_EQ(text_of_symbol(words::symbol.bar), "|");
    EXPECT_EQ(text_of_symbol(words::symbol.dash), "-");
    EXPECT_EQ(text_of_symbol(words::symbol.any_type), "any-type!");
    EXPECT_EQ(text_of_symbol(words::symbol.windows), "Windows");
    EXPECT_EQ(text_of_symbol(words::symbol.macos), "macOS");
    EXPECT_EQ(text_of_symbol(words::symbol.events_q), "events?");
    EXPECT_EQ(text_of_symbol(words::symbol.no_trace), "no-trace");
    // "code" is made twice: one symbol.
    EXPECT_EQ(words::symbol.code, words::symbol.code_2);
    EXPECT_EQ(text_of_symbol(words::symbol.code), "code");
    // A symbol global and a word global of one text share the symbol.
    EXPECT_EQ(words::symbol.head, words::word.head->w2);
    // Name words and table words are one word: "logic!" was made with the datatype names.
    EXPECT_EQ(words::symbol.logic_type, datatype::name_record(kTypeLogic).word->w2);
}

TEST_F(Words, RefinementsAreUnboundAndPermanent) {
    struct Case {
        const Cell* refinement;
        const char* text;
    } cases[] = {
        {refinements::refinement.local, "local"},     {refinements::refinement.extern_, "extern"},
        {refinements::refinement.compare, "compare"}, {refinements::refinement.part, "part"},
        {refinements::refinement.skip, "skip"},       {refinements::refinement.with, "with"},
    };
    for (const Case& c : cases) {
        ASSERT_NE(c.refinement, nullptr);
        EXPECT_TRUE(in_root(c.refinement));
        EXPECT_EQ(c.refinement->header, kTypeRefinement);
        EXPECT_EQ(c.refinement->w1, 0u);
        EXPECT_EQ(text_of_symbol(c.refinement->w2), c.text);
        EXPECT_EQ(formed(*c.refinement, true), std::string("/") + c.text);
    }
}

TEST_F(Words, EveryDatatypeHasItsNameWord) {
    ASSERT_GE(datatype::highest_type_id, static_cast<int32_t>(kTypeRefinement));
    for (int32_t t = 1; t <= datatype::highest_type_id; ++t) {
        const datatype::NameRecord& r = datatype::name_record(static_cast<uint32_t>(t));
        if (r.length == 0) continue; // no type registered under this id yet
        ASSERT_NE(r.word, nullptr) << r.name;
        EXPECT_TRUE(in_root(r.word)) << r.name;
        EXPECT_EQ(text_of_symbol(r.word->w2), r.name);
        EXPECT_EQ(r.word->w1, context::global) << r.name;
    }
}

// A datatype registered once the words exist gets its name word at registration.
TEST_F(Words, ALateRegistrationGetsItsNameWordAtOnce) {
    action::Row row;
    datatype::register_({kTypeEvent, 0, "event!", row.entries()});
    const Cell* w = datatype::name_record(kTypeEvent).word;
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(in_root(w));
    EXPECT_EQ(text_of_symbol(w->w2), "event!");
    EXPECT_EQ(root::boot_flag, 0);
}

// The tables, their words and the global context survive collections.
TEST_F(Words, TablesSurviveCollections) {
    collector::collect();
    collector::collect();
    EXPECT_EQ(text_of_symbol(words::word.appended->w2), "appended");
    EXPECT_EQ(sym("appended"), words::word.appended->w2);
    EXPECT_EQ(context::find_word(context::global, words::word.appended->w2, false),
              static_cast<int32_t>(words::word.appended->w3));
}

// In a child process: the runtime initialisation makes the symbol table, the global context,
// the name words and the word tables in their places.
TEST(WordsStartUpDeathTest, RuntimeInitMakesTheWords) {
    auto check = [] {
        runtime::init();
        const Cell* integer_word = datatype::name_record(kTypeInteger).word;
        bool ok =
            symbol::exists() && context::global != 0 && integer_word &&
            symbol::text(integer_word->w2) == "integer!" &&
            symbol::text(words::word.put_ed->w2) == "put-ed" &&
            symbol::text(refinements::refinement.extern_->w2) == "extern" &&
            symbol::text(words::symbol.no_trace) == "no-trace" &&
            // The first words of the global context are the datatype names.
            context::words(context::global)[0].w2 == datatype::name_record(kTypeDatatype).word->w2;
        std::exit(ok ? 0 : 1);
    };
    EXPECT_EXIT(check(), testing::ExitedWithCode(0), "");
}

} // namespace
