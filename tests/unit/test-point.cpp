#include <gtest/gtest.h>

#include <cmath>

#include "compound-fixture.h"
#include "runtime-core/error-ids.h"

namespace {

class Point : public CompoundTest {};

TEST_F(Point, Arithmetic) {
    namespace s = action::slot;
    struct Case {
        void (*action)();
        Cell a, b;
        const char* result;
    } cases[] = {
        {point::add, point_value(1, 2), int_value(1), "(2, 3)"},
        {point::multiply, point_value(1, 2), float_value(0.5), "(0.5, 1)"},
        {point::add, point_value(1, 2), pair_value(3, 4), "(4, 6)"},
        {point::subtract, point_value(1, 2, 3), point_value(1, 1, 1), "(0, 1, 2)"},
        {point::divide, point_value(1, 2), float_value(0.0), "(1.#INF, 1.#INF)"},
        {point::remainder, point_value(7, 8), int_value(3), "(1, 2)"},
        {point::divide, point_value(1, 0), int_value(3), "(0.3333333, 0)"},
        // A number on the left.
        {integer::add, int_value(1), point_value(1, 2), "(2, 3)"},
        {integer::subtract, int_value(1), point_value(1, 2), "(0, -1)"},
        {float_::multiply, float_value(2), point_value(1, 2, 3), "(2, 4, 6)"},
    };
    for (const Case& c : cases) EXPECT_EQ(text(run(c.action, c.a, c.b)), c.result);

    struct Error {
        void (*action)();
        Cell a, b;
        uint32_t category, id;
    } errors[] = {
        {point::add, point_value(1, 2, 3), pair_value(1, 1), error::kScript,
         error::script::invalid_type},
        {point::add, point_value(1, 2), point_value(1, 2, 3), error::kScript,
         error::script::invalid_type},
        {point::add, point_value(1, 2), tuple_value({1, 2, 3}), error::kScript,
         error::script::invalid_type},
        {integer::divide, int_value(1), point_value(1, 2), error::kScript,
         error::script::not_related},
        {float_::subtract, float_value(1), point_value(1, 2), error::kScript,
         error::script::not_related},
    };
    for (const Error& e : errors)
        EXPECT_TRUE(raises(e.category, e.id, [&] { run(e.action, e.a, e.b); })) << text(e.a);
}

TEST_F(Point, MakeAndTo) {
    struct Case {
        uint8_t type;
        Cell spec;
        const char* result;
    } cases[] = {
        {kTypePoint2D, int_value(3), "(3, 3)"},
        {kTypePoint3D, float_value(0.5), "(0.5, 0.5, 0.5)"},
        {kTypePoint3D, pair_value(1, 2), "(1, 2, 0)"},
        {kTypePoint3D, point_value(1, 2), "(1, 2, 0)"},
        {kTypePoint2D, point_value(1, 2), "(1, 2)"},
        {kTypePoint3D, point_value(1, 2, 3), "(1, 2, 3)"},
    };
    for (const Case& c : cases) EXPECT_EQ(text(made(c.type, c.spec)), c.result);
    EXPECT_EQ(text(made(kTypePoint2D, block({int_value(1), float_value(2.5)}))), "(1, 2.5)");
    EXPECT_TRUE(raises(error::kSyntax, error::syntax::malconstruct,
                       [&] { made(kTypePoint2D, block({int_value(1)})); }));
    EXPECT_TRUE(raises(error::kSyntax, error::syntax::malconstruct, [&] {
        made(kTypePoint3D, block({int_value(1), int_value(2)}));
    }));
    EXPECT_TRUE(raises(error::kScript, error::script::bad_to_arg,
                       [&] { made(kTypePoint2D, point_value(1, 2, 3)); }));
    EXPECT_TRUE(raises(error::kScript, error::script::bad_to_arg, [&] {
        made(kTypePoint2D, Cell{kTypeNone, 0, 0, 0});
    }));
}

TEST_F(Point, NearEqualityAndOrdering) {
    Cell a = point_value(1, 2), near = point_value(1.0000001f, 2), b = point_value(2, 0),
         c = point_value(1, 3);
    EXPECT_TRUE(actions::compare(&a, &near, action::op::equal));
    EXPECT_FALSE(actions::compare(&a, &near, action::op::strict_equal));
    EXPECT_FALSE(actions::compare(&a, &near, action::op::same));
    Cell c13 = point_value(1, 3), c12 = point_value(1, 2);
    EXPECT_TRUE(actions::compare(&c13, &b, action::op::lesser));
    EXPECT_FALSE(actions::compare(&c13, &c12, action::op::lesser));
    EXPECT_TRUE(actions::compare(&c, &a, action::op::greater));
    Cell zero = point_value(0.0f, 0), minus_zero = point_value(-0.0f, 0);
    EXPECT_TRUE(actions::compare(&zero, &minus_zero, action::op::equal));
    EXPECT_FALSE(actions::compare(&zero, &minus_zero, action::op::same));
    Cell nan = point_value(NAN, 0);
    EXPECT_FALSE(actions::compare(&nan, &nan, action::op::equal));
    Cell p = pair_value(1, 2);
    EXPECT_TRUE(actions::compare(&a, &p, action::op::equal));
    Cell three = point_value(1, 2, 0);
    EXPECT_EQ(point::compare(&a, &three, action::op::equal), action::kNotComparable);
    // Far apart in bits but both infinite: equal when of the same sign.
    EXPECT_TRUE(float_::compare32(INFINITY, INFINITY));
    EXPECT_FALSE(float_::compare32(INFINITY, -INFINITY));
    EXPECT_FALSE(float_::compare32(1.0f, 1.001f));
}

TEST_F(Point, PathsPickAndReverse) {
    Cell x = global_word("x"), z = global_word("z"), w = global_word("w");
    auto path = slot<action::slot::eval_path>(kTypePoint2D);
    Cell p = point_value(1, 2);
    Cell five = int_value(5);
    path(&p, &x, &five, {});
    EXPECT_EQ(text(p), "(5, 2)");
    EXPECT_EQ(point::get(&p, 0), 5.0f);
    Cell got = *path(&p, &x, nullptr, {.get = true});
    EXPECT_EQ(cell::type(&got), kTypeFloat);
    EXPECT_EQ(float_::get(&got), 5.0);
    Cell three = int_value(3), text_value = Cell{kTypeNone, 0, 0, 0};
    for (Cell* bad : {&w, &z, &three})
        EXPECT_TRUE(raises(error::kScript, error::script::invalid_path,
                           [&] { path(&p, bad, nullptr, {.get = true}); }));
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_type,
                       [&] { path(&p, &x, &text_value, {}); }));

    Cell q = point_value(1, 2, 3);
    EXPECT_EQ(float_::get(point::pick(&q, 0, &z)), 3.0);
    EXPECT_TRUE(raises(error::kScript, error::script::out_of_range, [&] {
        Cell r = point_value(1, 2);
        point::pick(&r, 3, nullptr);
    }));
    EXPECT_TRUE(raises(error::kScript, error::script::cannot_use, [&] {
        Cell r = point_value(1, 2);
        point::pick(&r, 0, &w);
    }));

    Cell r2 = point_value(1, 2), r3 = point_value(1, 2, 3);
    EXPECT_EQ(text(*point::reverse(&r2, nullptr, nullptr)), "(2, 1)");
    EXPECT_EQ(text(*point::reverse(&r3, nullptr, nullptr)), "(3, 2, 1)");
}

TEST_F(Point, RoundAbsoluteNegateRandom) {
    Cell v = point_value(1.26f, -3.74f, 7.5f), scale = point_value(0.1f, 1);
    point::round(&v, {.scale = &scale});
    EXPECT_EQ(text(v), "(1.3, -4, 7.5)"); // z is rounded with a scale of 0: unchanged
    Cell w = point_value(1.5f, -2.5f);
    EXPECT_EQ(text(*point::round(&w, {})), "(2, -3)");
    Cell money{kTypeMoney, 0, 0, 0};
    EXPECT_TRUE(raises(error::kScript, error::script::not_related,
                       [&] { point::round(&w, {.scale = &money}); }));
    EXPECT_EQ(text(run1(point::negate, point_value(0, -2))), "(0, 2)");
    EXPECT_EQ(text(run1(point::absolute, point_value(-1, -2, 3))), "(1, 2, 3)");

    Cell s = point_value(1, 2);
    point::random(&s, {.seed = true});
    const Cell p = point_value(1, 2);
    EXPECT_EQ(seeded, p.w1 ^ p.w2 ^ p.w3);
    EXPECT_EQ(cell::type(&s), kTypeUnset);

    // Without /seed each non-zero component is scaled by the generator's next word.
    static const logic::RandomSource half{[]() -> uint32_t { return 1073741824; },
                                          []() -> uint32_t { return 0; }, nullptr};
    logic::set_random_source(&half);
    Cell r = point_value(4, 0, -2);
    point::random(&r, {});
    EXPECT_EQ(text(r), "(2, 0, -1)");
    logic::set_random_source(nullptr);
}

} // namespace
