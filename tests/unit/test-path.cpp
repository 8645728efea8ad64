#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "app/init.h"
#include "path-fixture.h"

namespace {

class Path : public PathTest {};

TEST_F(Path, MoldAndFormOfTheFourTypes) {
    struct Case {
        uint8_t type;
        const char* mold;
    } cases[] = {
        {kTypePath, "a/b/c"},
        {kTypeLitPath, "'a/b/c"},
        {kTypeSetPath, "a/b/c:"},
        {kTypeGetPath, ":a/b/c"},
    };
    for (const Case& c : cases) {
        GcRoot p(words(c.type, "a b c"));
        int32_t used = 0;
        EXPECT_EQ(mold(p.cell(), false, &used), c.mold);
        EXPECT_EQ(used, static_cast<int32_t>(std::strlen(c.mold))) << c.mold;
        // The variants have no form of their own: no prefix, no colon.
        EXPECT_EQ(form(p.cell(), &used), "a/b/c") << c.mold;
        EXPECT_EQ(used, 5) << c.mold;
    }
}

TEST_F(Path, ElementsMoldAndFormThroughTheirTypes) {
    GcRoot s(text_value("x"));
    GcRoot quoted(list(kTypePath, {s.cell()}));
    EXPECT_EQ(mold(quoted.cell()), "\"x\"");
    EXPECT_EQ(form(quoted.cell()), "x");

    // Nested lists keep their own brackets; the path writes no blanks of its own.
    GcRoot inner(words(kTypeBlock, "b c"));
    GcRoot paren(words(kTypeParen, "d"));
    GcRoot a(word_of("a"));
    GcRoot mixed(
        list(kTypeSetPath, {a.cell(), inner.cell(), paren.cell(), Cell{kTypeInteger, 0, 2, 0}}));
    EXPECT_EQ(mold(mixed.cell()), "a/[b c]/(d)/2:");
    // From the index on; an index past the tail writes nothing but the variant's mark.
    mixed.cell().w1 = 1;
    EXPECT_EQ(mold(mixed.cell()), "[b c]/(d)/2:");
    mixed.cell().w1 = 9;
    EXPECT_EQ(mold(mixed.cell()), ":");
}

TEST_F(Path, APathThatContainsItself) {
    GcRoot p(words(kTypePath, "a b"));
    block::append_copy(&p.cell(), &p.cell());
    EXPECT_EQ(mold(p.cell()), "a/b/...");
    EXPECT_EQ(form(p.cell()), "a/b/...");
    EXPECT_EQ(cycles::depth(), 0u);
    // A get-path reached again inside a block: the variant's mark, then the marker.
    GcRoot g(words(kTypeGetPath, "x"));
    GcRoot holder(list(kTypeBlock, {g.cell()}));
    block::append_copy(&g.cell(), &holder.cell());
    EXPECT_EQ(mold(g.cell()), ":x/[:...]");
    EXPECT_EQ(form(g.cell()), "x/...");
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(Path, PartBudgetStopsTheWalk) {
    GcRoot p(words(kTypePath, "aa bb cc"));
    Cell* held = stack::push(p.cell());
    Cell* text = string::make_at(stack::push_cell(), 16);
    Cell part{kTypeInteger, 0, 4, 0};
    // "aa" leaves 2, "/" 1, "bb" -1: the walk stops there.
    const int32_t rest = actions::mold(held, text, {.part = &part}, 4, 0);
    EXPECT_EQ(rest, -1);
    EXPECT_EQ(ascii(*text), "aa/bb");
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(Path, MakeFromASizeOrAList) {
    struct Case {
        Cell spec;
        uint32_t room; // cells the buffer holds
    } sizes[] = {
        {Cell{kTypeInteger, 0, 0, 0}, 1},
        {Cell{kTypeInteger, 0, static_cast<uint32_t>(-5), 0}, 1},
        {Cell{kTypeInteger, 0, 7, 0}, 7},
    };
    for (const Case& c : sizes) {
        const Cell made = convert(kTypePath, c.spec, true);
        EXPECT_EQ(made.header, kTypePath);
        EXPECT_EQ(length(made), 0u);
        EXPECT_EQ(memory::buffer(made.w2)->size / 16, c.room) << c.spec.w2;
    }
    Cell f{};
    float_::make_at(&f, 3.7);
    const Cell from_float = convert(kTypeSetPath, f, true);
    EXPECT_EQ(from_float.header, kTypeSetPath);
    EXPECT_EQ(length(from_float), 0u);
    EXPECT_EQ(memory::buffer(from_float.w2)->size / 16, 3u);
    Cell percent = f;
    cell::set_type(&percent, kTypePercent);
    EXPECT_EQ(memory::buffer(convert(kTypePath, percent, true).w2)->size / 16, 3u);

    float_::make_at(&f, 1e10);
    EXPECT_TRUE(
        raises(error::kScript, error::script::out_of_range, [&] { convert(kTypePath, f, true); }));

    // A list is copied, not shared, and takes the requested type.
    GcRoot source(words(kTypeBlock, "a b"));
    GcRoot made(convert(kTypeLitPath, source.cell(), true));
    EXPECT_EQ(made.cell().header, kTypeLitPath);
    EXPECT_NE(made.cell().w2, source.cell().w2);
    EXPECT_EQ(mold(made.cell()), "'a/b");
    GcRoot from_paren(convert(kTypePath, list(kTypeParen, {Cell{kTypeInteger, 0, 1, 0}}), true));
    EXPECT_EQ(mold(from_paren.cell()), "1");
}

TEST_F(Path, MakeFromAnythingElseFails) {
    GcRoot s(text_value("a/b"));
    EXPECT_TRUE(raises(error::kScript, error::script::bad_make_arg,
                       [&] { convert(kTypeGetPath, s.cell(), true); }));
    ASSERT_EQ(error::last_raised.argc, 2u);
    EXPECT_EQ(error::last_raised.args[0].w1, uint32_t{kTypeGetPath});
    EXPECT_EQ(error::last_raised.args[1].w2, s.cell().w2);
    GcRoot w(word_of("a"));
    EXPECT_TRUE(raises(error::kScript, error::script::bad_make_arg,
                       [&] { convert(kTypePath, w.cell(), true); }));
}

// A conversion that block! would use for a typeset: path! must not take it.
void typeset_to_block(const Cell*, Cell* result) {
    block::make_at(result, 1);
}

TEST_F(Path, ToWrapsSingleValuesAndCopiesLists) {
    block::set_conversion(kTypeTypeset, typeset_to_block);
    const Cell typeset{kTypeTypeset, 0x12345678, 1, 2};
    const Cell wrapped = convert(kTypeSetPath, typeset, false);
    EXPECT_EQ(wrapped.header, kTypeSetPath);
    ASSERT_EQ(length(wrapped), 1u);
    EXPECT_EQ(cells(wrapped)[0].w1, typeset.w1);
    block::set_conversion(kTypeTypeset, nullptr);

    const Cell five = convert(kTypePath, Cell{kTypeInteger, 0, 5, 0}, false);
    ASSERT_EQ(length(five), 1u);
    EXPECT_EQ(cells(five)[0].w2, 5u);

    // Between paths and blocks, both ways, from the index.
    GcRoot p(words(kTypeGetPath, "a b c"));
    p.cell().w1 = 1;
    GcRoot b(convert(kTypeBlock, p.cell(), false));
    EXPECT_EQ(b.cell().header, kTypeBlock);
    EXPECT_EQ(mold(b.cell()), "[b c]");
    GcRoot back(convert(kTypePath, b.cell(), false));
    EXPECT_EQ(mold(back.cell()), "b/c");
    EXPECT_NE(back.cell().w2, b.cell().w2);
}

TEST_F(Path, RandomSortAndTrimAreNotSupported) {
    for (uint8_t t : {kTypePath, kTypeLitPath, kTypeSetPath, kTypeGetPath}) {
        EXPECT_EQ(datatype::entry(t, action::slot::random), nullptr) << int(t);
        EXPECT_EQ(datatype::entry(t, action::slot::sort), nullptr) << int(t);
        EXPECT_EQ(datatype::entry(t, action::slot::trim), nullptr) << int(t);
        GcRoot p(words(t, "b a"));
        EXPECT_TRUE(raises(error::kScript, error::script::expect_arg, [&] {
            actions::call<action::slot::sort>(&p.cell(), {});
        })) << int(t);
    }
}

TEST_F(Path, SeriesActionsAndCopyWorkOnEveryVariant) {
    for (uint8_t t : {kTypePath, kTypeLitPath, kTypeSetPath, kTypeGetPath}) {
        GcRoot p(words(t, "a b"));
        GcRoot c(word_of("c"));
        actions::call<action::slot::append>(&p.cell(), &c.cell(), {.append = true});
        EXPECT_EQ(form(p.cell()), "a/b/c") << int(t);
        EXPECT_EQ(actions::call<action::slot::length_q>(&p.cell()), 3) << int(t);
        GcRoot copied(p.cell());
        actions::call<action::slot::copy>(&copied.cell(), &copied.cell(), {});
        EXPECT_EQ(cell::type(&copied.cell()), t);
        EXPECT_NE(copied.cell().w2, p.cell().w2);
        EXPECT_EQ(mold(copied.cell()), mold(p.cell()));
    }
}

TEST_F(Path, PathAccessStepsLikeABlock) {
    GcRoot x(word_of("x"));
    GcRoot p(list(kTypeSetPath, {word_of("a"), x.cell(), Cell{kTypeInteger, 0, 1, 0}}));
    auto step = datatype::function<action::slot::eval_path>(kTypeSetPath);
    ASSERT_NE(step, nullptr);
    Cell two{kTypeInteger, 0, 2, 0};
    Cell* picked = step(&p.cell(), &two, nullptr, {.path = &p.cell(), .get = true});
    EXPECT_EQ(picked->w2, x.cell().w2);
    Cell* selected = step(&p.cell(), &x.cell(), nullptr, {.path = &p.cell(), .get = true});
    EXPECT_EQ(cell::type(selected), kTypeInteger);
    EXPECT_EQ(selected->w2, 1u);
}

TEST_F(Path, CompareOnlyWithinTheSameType) {
    using namespace action::op;
    GcRoot p(words(kTypePath, "a b"));
    GcRoot q(words(kTypePath, "a b"));
    GcRoot longer(words(kTypePath, "a b c"));
    GcRoot lit(words(kTypeLitPath, "a b"));
    GcRoot set(words(kTypeSetPath, "a b"));
    GcRoot blk(words(kTypeBlock, "a b"));
    struct Case {
        Cell* a;
        Cell* b;
        int32_t op;
        int32_t expected; // sign for orderings
    } cases[] = {
        {&p.cell(), &q.cell(), equal, 0},        {&p.cell(), &longer.cell(), equal, 1},
        {&p.cell(), &longer.cell(), lesser, -1}, {&p.cell(), &lit.cell(), equal, -2},
        {&p.cell(), &lit.cell(), parse, 0},      {&lit.cell(), &p.cell(), parse_case, 0},
        {&p.cell(), &set.cell(), parse, -2},     {&p.cell(), &blk.cell(), equal, -2},
        {&blk.cell(), &p.cell(), equal, -2},
    };
    for (const Case& c : cases) {
        const int32_t r = actions::compare_values(c.a, c.b, c.op);
        if (c.op == lesser)
            EXPECT_EQ((r > 0) - (r < 0), c.expected);
        else
            EXPECT_EQ(r, c.expected) << int(cell::type(c.a)) << " " << int(cell::type(c.b));
    }
    EXPECT_FALSE(actions::compare(&p.cell(), &blk.cell(), equal));
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_compare,
                       [&] { actions::compare(&p.cell(), &set.cell(), lesser); }));
}

TEST_F(Path, MakeAtAndPush) {
    Cell* made = path::make_at(stack::push_cell(), 4);
    EXPECT_EQ(made->header, kTypePath);
    EXPECT_EQ(made->w1, 0u);
    EXPECT_EQ(memory::buffer(made->w2)->size / 16, 4u);
    GcRoot b(words(kTypeBlock, "a"));
    b.cell().header |= cell::kNewLine;
    Cell* pushed = path::push(&b.cell());
    EXPECT_EQ(cell::type(&b.cell()), kTypePath);
    EXPECT_EQ(pushed->header, b.cell().header);
    EXPECT_EQ(pushed->w2, b.cell().w2);
}

// In a child process: the runtime initialisation registers the path types, paren! and
// issue! in their places, after char! and before bitset!.
TEST(PathStartUpDeathTest, RuntimeInitRegistersPathsParenAndIssue) {
    auto check = [] {
        runtime::init();
        namespace s = action::slot;
        bool ok = datatype::function<s::mold>(kTypeGetPath) == path::mold &&
                  datatype::function<s::copy>(kTypeSetPath) == block::copy &&
                  datatype::function<s::find>(kTypeLitPath) == block::find &&
                  datatype::entry(kTypePath, s::sort) == nullptr &&
                  datatype::function<s::mold>(kTypeParen) == paren::mold &&
                  datatype::function<s::sort>(kTypeParen) == block::sort &&
                  datatype::function<s::form>(kTypeIssue) == word::form &&
                  datatype::function<s::to>(kTypeIssue) == issue::make &&
                  datatype::name_record(kTypeGetPath).word != nullptr &&
                  symbol::text(datatype::name_record(kTypeIssue).word->w2) == "issue!";
        std::exit(ok ? 0 : 1);
    };
    EXPECT_EXIT(check(), testing::ExitedWithCode(0), "");
}

} // namespace
