#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "compound-fixture.h"
#include "datatypes/compound.h"
#include "runtime-core/error-ids.h"

namespace {

class Pair : public CompoundTest {};

TEST_F(Pair, ArithmeticStaysInIntegersOrMovesToPoints) {
    struct Case {
        void (*action)();
        Cell a, b;
        const char* result;
        uint8_t type;
    } cases[] = {
        {integer::add, pair_value(10, 20), int_value(5), "15x25", kTypePair},
        {integer::multiply, pair_value(10, 20), int_value(2), "20x40", kTypePair},
        {integer::subtract, pair_value(10, 20), pair_value(1, 2), "9x18", kTypePair},
        {integer::divide, pair_value(7, -7), int_value(2), "3x-3", kTypePair},
        {integer::remainder, pair_value(7, 8), int_value(3), "1x2", kTypePair},
        {integer::and_, pair_value(6, 5), int_value(3), "2x1", kTypePair},
        {integer::add, pair_value(1, 2), float_value(2.9), "3x4", kTypePair},
        {integer::multiply, pair_value(10, 20), float_value(1.5), "(15, 30)", kTypePoint2D},
        {integer::divide, pair_value(10, 20), float_value(4.0), "(2.5, 5)", kTypePoint2D},
        {integer::add, pair_value(2147483647, 0), pair_value(1, 0), "(2.147484e9, 0)",
         kTypePoint2D},
        {integer::add, pair_value(1, 2), point_value(0.5f, 0.5f), "(1.5, 2.5)", kTypePoint2D},
        // A number on the left: add and multiply swap, subtract negates the pair first.
        {integer::add, int_value(1), pair_value(1, 2), "2x3", kTypePair},
        {integer::subtract, int_value(10), pair_value(1, 2), "9x8", kTypePair},
        {float_::multiply, float_value(2.0), pair_value(1, 2), "(2, 4)", kTypePoint2D},
    };
    for (const Case& c : cases) {
        void (*action)() = c.action;
        // The pair's own row does what integer!'s does with the pair on the left.
        if (cell::type(&c.a) == kTypePair) {
            namespace s = action::slot;
            if (action == integer::add) action = slot<s::add>(kTypePair);
            if (action == integer::subtract) action = slot<s::subtract>(kTypePair);
            if (action == integer::multiply) action = slot<s::multiply>(kTypePair);
            if (action == integer::divide) action = slot<s::divide>(kTypePair);
            if (action == integer::remainder) action = slot<s::remainder>(kTypePair);
            if (action == integer::and_) action = slot<s::and_>(kTypePair);
        }
        const Cell r = run(action, c.a, c.b);
        EXPECT_EQ(cell::type(&r), c.type) << c.result;
        EXPECT_EQ(text(r), c.result);
    }
}

TEST_F(Pair, ArithmeticErrors) {
    namespace s = action::slot;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        void (*action)();
        Cell a, b;
        uint32_t category, id;
    } cases[] = {
        {slot<s::divide>(kTypePair), pair_value(1, 2), int_value(0), error::kMath,
         error::math::zero_divide},
        {slot<s::multiply>(kTypePair), pair_value(1, 2), float_value(nan), error::kScript,
         error::script::invalid_arg},
        {slot<s::multiply>(kTypePair), pair_value(1, 2), float_value(INFINITY), error::kScript,
         error::script::invalid_arg},
        {slot<s::divide>(kTypePair), pair_value(1, 2), float_value(nan), error::kScript,
         error::script::invalid_arg},
        {slot<s::add>(kTypePair), pair_value(1, 2), float_value(1e300), error::kScript,
         error::script::invalid_arg},
        {slot<s::add>(kTypePair), pair_value(1, 2), tuple_value({1, 2, 3}), error::kScript,
         error::script::invalid_type},
        {slot<s::add>(kTypePair), pair_value(1, 2), point_value(1, 2, 3), error::kScript,
         error::script::invalid_type},
        {integer::divide, int_value(1), pair_value(1, 2), error::kScript,
         error::script::not_related},
        {float_::subtract, float_value(1), pair_value(1, 2), error::kScript,
         error::script::not_related},
        {slot<s::absolute>(kTypePair), pair_value(INT32_MIN, 0), Cell{}, error::kMath,
         error::math::overflow},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(raises(c.category, c.id, [&] { run(c.action, c.a, c.b); }))
            << text(c.a) << " " << int(cell::type(&c.b));
}

TEST_F(Pair, MakeAndTo) {
    EXPECT_EQ(text(made(kTypePair, pair_value(3, 4))), "3x4");
    EXPECT_EQ(text(made(kTypePair, int_value(5))), "5x5");
    EXPECT_EQ(text(made(kTypePair, float_value(-2.7))), "-2x-2");
    EXPECT_EQ(text(made(kTypePair, point_value(1.9f, -1.9f))), "1x-1");
    EXPECT_EQ(text(made(kTypePair, block({float_value(1.9), float_value(2.9)}))), "1x2");
    EXPECT_EQ(text(made(kTypePair, block({int_value(7), int_value(8), int_value(9)}))), "7x8");
    EXPECT_TRUE(raises(error::kSyntax, error::syntax::malconstruct,
                       [&] { made(kTypePair, block({int_value(1)})); }));
    EXPECT_TRUE(raises(error::kSyntax, error::syntax::malconstruct, [&] {
        made(kTypePair, block({int_value(1), Cell{kTypeNone, 0, 0, 0}}));
    }));
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_arg,
                       [&] { made(kTypePair, point_value(INFINITY, 0)); }));
    EXPECT_TRUE(raises(error::kScript, error::script::bad_to_arg, [&] {
        made(kTypePair, Cell{kTypeNone, 0, 0, 0});
    }));
    EXPECT_EQ(error::last_raised.args[0].w1, uint32_t{kTypePair});
}

TEST_F(Pair, TextSpecsGoThroughTheLexer) {
    auto text_spec = [](const char* source = "3x4") {
        Cell* s = string::make_at(stack::push_cell(), 16);
        string::concatenate_cstring(s, source);
        return s;
    };
    EXPECT_TRUE(raises(error::kInternal, error::internal::not_done,
                       [&] { made(kTypePair, *text_spec()); }));
    // A stand-in loader: "3x4" is the pair 3x4, anything else loads as a tuple.
    compound::set_text_loader([](const Cell* text, Cell* result) {
        if (string::starts_with_cstring(const_cast<Cell*>(text), "3x4"))
            pair::make_at(result, 3, 4);
        else
            tuple::make_at(result, reinterpret_cast<const uint8_t*>("\1\2\3"), 3);
        return true;
    });
    EXPECT_EQ(text(made(kTypePair, *text_spec())), "3x4");
    EXPECT_EQ(text(made(kTypeTuple, *text_spec("1.2.3"))), "1.2.3");
    EXPECT_TRUE(raises(error::kScript, error::script::bad_to_arg,
                       [&] { made(kTypePair, *text_spec("1.2.3")); }));
    EXPECT_TRUE(raises(error::kScript, error::script::bad_to_arg,
                       [&] { made(kTypePoint2D, *text_spec()); }));
    compound::set_text_loader(nullptr);
}

TEST_F(Pair, CompareOrdersByXThenY) {
    Cell a = pair_value(1, 2), b = pair_value(2, 0), c = pair_value(1, 2), p = point_value(1, 2);
    EXPECT_TRUE(actions::compare(&a, &b, action::op::lesser));
    EXPECT_FALSE(actions::compare(&b, &a, action::op::lesser));
    EXPECT_TRUE(actions::compare(&a, &c, action::op::strict_equal));
    EXPECT_TRUE(actions::compare(&a, &p, action::op::equal));
    Cell one = int_value(1);
    EXPECT_EQ(pair::compare(&a, &one, action::op::equal), action::kNotComparable);
}

TEST_F(Pair, PathsAndPick) {
    Cell x = global_word("x"), y = global_word("y"), w = global_word("w");
    Cell p = pair_value(10, 20);
    auto path = slot<action::slot::eval_path>(kTypePair);
    Cell one = int_value(1);
    EXPECT_EQ(integer::get(path(&p, &y, nullptr, {.get = true})), 20);
    EXPECT_EQ(integer::get(path(&p, &one, nullptr, {.get = true})), 10);
    Cell five = int_value(5);
    path(&p, &x, &five, {});
    EXPECT_EQ(text(p), "5x20");

    Cell three = int_value(3), other = pair_value(1, 1), f = float_value(1.0);
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_path,
                       [&] { path(&p, &w, nullptr, {.get = true}); }));
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_path,
                       [&] { path(&p, &three, nullptr, {.get = true}); }));
    EXPECT_TRUE(raises(error::kScript, error::script::cannot_use,
                       [&] { path(&p, &other, nullptr, {.get = true}); }));
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_type, [&] { path(&p, &x, &f, {}); }));

    Cell q = pair_value(3, 4);
    EXPECT_EQ(integer::get(pair::pick(&q, 0, &y)), 4);
    q = pair_value(3, 4);
    EXPECT_EQ(integer::get(pair::pick(&q, 1, nullptr)), 3);
    EXPECT_TRUE(raises(error::kScript, error::script::out_of_range, [&] {
        Cell r = pair_value(3, 4);
        pair::pick(&r, -1, nullptr);
    }));
}

TEST_F(Pair, OtherActions) {
    namespace s = action::slot;
    Cell p = pair_value(1, 2);
    EXPECT_EQ(text(*pair::reverse(&p, nullptr, nullptr)), "2x1");
    EXPECT_EQ(text(run1(slot<s::negate>(kTypePair), pair_value(3, -4))), "-3x4");
    EXPECT_EQ(text(run1(slot<s::absolute>(kTypePair), pair_value(-3, -4))), "3x4");

    Cell r = pair_value(14, 26), scale = pair_value(10, 4);
    EXPECT_EQ(text(*pair::round(&r, {.scale = &scale})), "10x28");
    r = pair_value(14, 26);
    Cell f = float_value(2.5);
    EXPECT_EQ(text(*pair::round(&r, {.scale = &f})), "15x25");
    Cell money{kTypeMoney, 0, 0, 0};
    EXPECT_TRUE(raises(error::kScript, error::script::not_related,
                       [&] { pair::round(&r, {.scale = &money}); }));

    Cell seeded_pair = pair_value(6, 3);
    pair::random(&seeded_pair, {.seed = true});
    EXPECT_EQ(seeded, 6u ^ 3u);
    EXPECT_EQ(cell::type(&seeded_pair), kTypeUnset);
    Cell drawn = pair_value(0, 9);
    EXPECT_EQ(text(*pair::random(&drawn, {})), "0x9"); // zero stays zero
}

TEST_F(Pair, PercentPrintsAPercentage) {
    struct Case {
        double fraction;
        const char* text;
    } cases[] = {{0.5, "50%"}, {0.001, "0.1%"}, {1.0, "100%"}, {-0.25, "-25%"}, {1e20, "1e22%"}};
    for (const Case& c : cases) {
        Cell v;
        percent::make_at(&v, c.fraction);
        int32_t used = 0;
        EXPECT_EQ(formed(v, false, &used), c.text);
        EXPECT_EQ(used, static_cast<int32_t>(std::strlen(c.text)));
        EXPECT_EQ(formed(v, true), c.text);
    }
    // Arithmetic is float!'s: a percent on the left stays a percent.
    Cell ten;
    percent::make_at(&ten, 0.1);
    EXPECT_EQ(cell::type(&ten), kTypePercent);
    const Cell r = run(slot<action::slot::add>(kTypePercent), ten, int_value(1));
    EXPECT_EQ(cell::type(&r), kTypePercent);
}

} // namespace
