#include <gtest/gtest.h>

#include "path-fixture.h"

namespace {

class Paren : public PathTest {};

TEST_F(Paren, MoldWritesParenthesesUnlessOnly) {
    GcRoot p(words(kTypeParen, "a b"));
    int32_t used = 0;
    EXPECT_EQ(mold(p.cell(), false, &used), "(a b)");
    EXPECT_EQ(used, 5);
    EXPECT_EQ(mold(p.cell(), true, &used), "a b");
    EXPECT_EQ(used, 3);
    // Nested lists inside keep their brackets, with or without only.
    GcRoot inner(words(kTypeParen, "c"));
    GcRoot blk(words(kTypeBlock, "d"));
    GcRoot outer(list(kTypeParen, {inner.cell(), blk.cell()}));
    EXPECT_EQ(mold(outer.cell()), "((c) [d])");
    EXPECT_EQ(mold(outer.cell(), true), "(c) [d]");
    // form is block!'s: no parentheses.
    EXPECT_EQ(form(outer.cell()), "c d");
}

TEST_F(Paren, NewLineMarkersMoldAsInABlock) {
    GcRoot p(words(kTypeParen, "a b"));
    cells(p.cell())[0].header |= cell::kNewLine;
    EXPECT_EQ(mold(p.cell()), "(\n    a b\n)");
}

TEST_F(Paren, AParenThatContainsItself) {
    GcRoot p(words(kTypeParen, "a"));
    block::append_copy(&p.cell(), &p.cell());
    EXPECT_EQ(mold(p.cell()), "(a (...))");
    EXPECT_EQ(form(p.cell()), "a ...");
    EXPECT_EQ(cycles::depth(), 0u);
    // Reached again through a block.
    GcRoot q(words(kTypeParen, "b"));
    GcRoot holder(list(kTypeBlock, {q.cell()}));
    block::append_copy(&q.cell(), &holder.cell());
    EXPECT_EQ(mold(q.cell()), "(b [(...)])");
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(Paren, SeriesActionsAsOnBlocks) {
    GcRoot p(words(kTypeParen, "b c"));
    GcRoot a(word_of("a")), d(word_of("d"));
    actions::call<action::slot::insert>(&p.cell(), &a.cell(), {});
    EXPECT_EQ(p.cell().w1, 1u); // insert answers the position after the new cell
    p.cell().w1 = 0;
    actions::call<action::slot::append>(&p.cell(), &d.cell(), {.append = true});
    EXPECT_EQ(mold(p.cell()), "(a b c d)");
    EXPECT_EQ(actions::call<action::slot::length_q>(&p.cell()), 4);

    GcRoot picked(p.cell());
    actions::call<action::slot::pick>(&picked.cell(), 2, nullptr);
    EXPECT_EQ(picked.cell().w2, cells(p.cell())[1].w2);

    GcRoot found(p.cell());
    Cell* at = actions::call<action::slot::find>(&found.cell(), &d.cell(), {});
    EXPECT_EQ(cell::type(at), kTypeParen);
    EXPECT_EQ(at->w1, 3u);

    // sort is block!'s too (paths have none).
    actions::call<action::slot::sort>(&p.cell(), {.reverse = true});
    EXPECT_EQ(mold(p.cell()), "(d c b a)");

    GcRoot copied(p.cell());
    actions::call<action::slot::copy>(&copied.cell(), &copied.cell(), {});
    EXPECT_EQ(cell::type(&copied.cell()), kTypeParen);
    EXPECT_NE(copied.cell().w2, p.cell().w2);
}

TEST_F(Paren, MakeAndToBetweenBlockAndParen) {
    GcRoot blk(words(kTypeBlock, "a b"));
    GcRoot made(convert(kTypeParen, blk.cell(), true));
    EXPECT_EQ(made.cell().header, kTypeParen);
    EXPECT_NE(made.cell().w2, blk.cell().w2);
    EXPECT_EQ(mold(made.cell()), "(a b)");

    GcRoot back(convert(kTypeBlock, made.cell(), false));
    EXPECT_EQ(back.cell().header, kTypeBlock);
    EXPECT_EQ(mold(back.cell()), "[a b]");

    GcRoot path(words(kTypeSetPath, "x y"));
    GcRoot from_path(convert(kTypeParen, path.cell(), false));
    EXPECT_EQ(mold(from_path.cell()), "(x y)");

    GcRoot wrapped(convert(kTypeParen, Cell{kTypeInteger, 0, 5, 0}, false));
    ASSERT_EQ(length(wrapped.cell()), 1u);
    EXPECT_EQ(cells(wrapped.cell())[0].w2, 5u);

    const Cell sized = convert(kTypeParen, Cell{kTypeInteger, 0, 3, 0}, true);
    EXPECT_EQ(sized.header, kTypeParen);
    EXPECT_EQ(length(sized), 0u);
}

TEST_F(Paren, CompareOnlyWithParens) {
    using namespace action::op;
    GcRoot p(words(kTypeParen, "a b"));
    GcRoot q(words(kTypeParen, "a b"));
    GcRoot r(words(kTypeParen, "a c"));
    GcRoot blk(words(kTypeBlock, "a b"));
    EXPECT_EQ(actions::compare_values(&p.cell(), &q.cell(), equal), 0);
    EXPECT_LT(actions::compare_values(&p.cell(), &r.cell(), lesser), 0);
    EXPECT_EQ(actions::compare_values(&p.cell(), &blk.cell(), equal), -2);
    EXPECT_EQ(actions::compare_values(&blk.cell(), &p.cell(), equal), -2);
    EXPECT_FALSE(actions::compare(&p.cell(), &blk.cell(), equal));
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_compare,
                       [&] { actions::compare(&blk.cell(), &p.cell(), lesser); }));
}

TEST_F(Paren, PushDropsTheFlags) {
    GcRoot b(words(kTypeBlock, "a"));
    b.cell().header |= cell::kNewLine;
    Cell* pushed = paren::push(&b.cell());
    EXPECT_EQ(b.cell().header, kTypeParen);
    EXPECT_EQ(pushed->header, kTypeParen);
    EXPECT_EQ(pushed->w2, b.cell().w2);
}

} // namespace
