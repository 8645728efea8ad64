#include <gtest/gtest.h>

#include "compound-fixture.h"
#include "datatypes/issue.h"
#include "runtime-core/error-ids.h"

namespace {

class Tuple : public CompoundTest {
protected:
    static Cell issue_value(const char* digits) {
        return Cell{kTypeIssue, 0, symbol::make(digits), 0};
    }
};

TEST_F(Tuple, ArithmeticClamps) {
    namespace s = action::slot;
    struct Case {
        void (*action)();
        Cell a, b;
        const char* result;
    } cases[] = {
        {slot<s::add>(kTypeTuple), tuple_value({200, 100, 50}), int_value(100), "255.200.150"},
        {slot<s::subtract>(kTypeTuple), tuple_value({1, 2, 3}), int_value(5), "0.0.0"},
        {slot<s::multiply>(kTypeTuple), tuple_value({10, 20, 30}), float_value(1.5), "15.30.45"},
        {slot<s::add>(kTypeTuple), tuple_value({1, 2, 3}), tuple_value({1, 1, 1, 1}), "2.3.4.1"},
        {slot<s::multiply>(kTypeTuple), tuple_value({1, 2, 3}), int_value(2147483647),
         "255.255.255"},
        {slot<s::multiply>(kTypeTuple), tuple_value({0, 2, 3}), int_value(-2147483647), "0.0.0"},
        {slot<s::divide>(kTypeTuple), tuple_value({10, 20, 30}), int_value(3), "3.6.10"},
        {slot<s::xor_>(kTypeTuple), tuple_value({255, 0, 15}), int_value(15), "240.15.0"},
        {integer::add, int_value(10), tuple_value({1, 2, 3}), "11.12.13"},
        {float_::multiply, float_value(2), tuple_value({1, 2, 3}), "2.4.6"},
    };
    for (const Case& c : cases) EXPECT_EQ(text(run(c.action, c.a, c.b)), c.result);

    struct Error {
        void (*action)();
        Cell a, b;
        uint32_t category, id;
    } errors[] = {
        {integer::subtract, int_value(10), tuple_value({1, 2, 3}), error::kScript,
         error::script::not_related},
        {float_::divide, float_value(1), tuple_value({1, 2, 3}), error::kScript,
         error::script::not_related},
        {slot<s::divide>(kTypeTuple), tuple_value({1, 2, 3}), int_value(0), error::kMath,
         error::math::zero_divide},
        {slot<s::divide>(kTypeTuple), tuple_value({1, 2, 3}), tuple_value({1, 1}), error::kMath,
         error::math::zero_divide},
        {slot<s::add>(kTypeTuple), tuple_value({1, 2, 3}), pair_value(1, 1), error::kScript,
         error::script::invalid_type},
    };
    for (const Error& e : errors)
        EXPECT_TRUE(raises(e.category, e.id, [&] { run(e.action, e.a, e.b); })) << text(e.b);
}

TEST_F(Tuple, MakeAndTo) {
    EXPECT_EQ(text(made(kTypeTuple, block({int_value(1), int_value(2)}))), "1.2.0");
    EXPECT_EQ(text(made(kTypeTuple, block({Cell{kTypeChar, 0, 'A', 0}, float_value(2.9),
                                           int_value(255), int_value(0)}))),
              "65.2.255.0");
    EXPECT_EQ(text(made(kTypeTuple, issue_value("FF8000"))), "255.128.0");
    EXPECT_EQ(text(made(kTypeTuple, issue_value("FF800080"))), "255.128.0.128");
    EXPECT_EQ(text(made(kTypeTuple, issue_value("F80"))), "255.136.0");
    EXPECT_EQ(text(made(kTypeTuple, issue_value("ff8000"))), "255.128.0");
    for (const char* bad : {"FF80", "FF800", "GG8000", "FF80008000"})
        EXPECT_TRUE(raises(error::kScript, error::script::invalid_data, [&] {
            made(kTypeTuple, issue_value(bad));
        })) << bad;
    // Each spec block is made inside the loop, where it is rooted before the next allocation.
    const Cell bad_elements[] = {int_value(256), int_value(-1), Cell{kTypeNone, 0, 0, 0}};
    for (const Cell& element : bad_elements) {
        GcRoot spec(block({element}));
        EXPECT_TRUE(raises(error::kScript, error::script::bad_to_arg,
                           [&] { made(kTypeTuple, spec.cell()); }));
    }
    Cell thirteen = block({});
    GcRoot held(thirteen);
    for (int i = 0; i < 13; ++i) integer::add_to_block(&held.cell(), 1);
    EXPECT_TRUE(
        raises(error::kScript, error::script::bad_to_arg, [&] { made(kTypeTuple, held.cell()); }));
    EXPECT_TRUE(
        raises(error::kScript, error::script::bad_to_arg, [&] { made(kTypeTuple, int_value(1)); }));
}

TEST_F(Tuple, CompareReadsMissingBytesAsZero) {
    Cell a = tuple_value({1, 2, 3}), b = tuple_value({1, 2, 3, 0}), c = tuple_value({1, 2, 4});
    EXPECT_TRUE(actions::compare(&a, &b, action::op::equal));
    EXPECT_TRUE(actions::compare(&a, &c, action::op::lesser));
    Cell one = int_value(1);
    EXPECT_EQ(tuple::compare(&a, &one, action::op::equal), action::kNotComparable);
}

TEST_F(Tuple, PokePickAndReverse) {
    Cell t = tuple_value({1, 2, 3, 4, 5});
    Cell none{kTypeNone, 0, 0, 0}, four = int_value(4), big = int_value(300);
    tuple::poke(&t, 0, &none, &four);
    EXPECT_EQ(text(t), "1.2.3");
    EXPECT_EQ(tuple::length(&t), 3u);
    Cell short_one = tuple_value({1, 2, 3, 4});
    Cell two = int_value(2);
    tuple::poke(&short_one, 0, &none, &two); // never below three bytes
    EXPECT_EQ(text(short_one), "1.0.0");
    tuple::poke(&t, 1, &big, nullptr);
    EXPECT_EQ(text(t), "255.2.3");
    EXPECT_TRUE(raises(error::kScript, error::script::out_of_range,
                       [&] { tuple::poke(&t, 4, &big, nullptr); }));
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_type,
                       [&] { tuple::poke(&t, 1, &t, nullptr); }));
    Cell p = tuple_value({9, 8, 7});
    EXPECT_EQ(integer::get(tuple::pick(&p, 3, nullptr)), 7);
    EXPECT_TRUE(raises(error::kScript, error::script::out_of_range, [&] {
        Cell q = tuple_value({9, 8, 7});
        tuple::pick(&q, 0, nullptr);
    }));

    Cell r = tuple_value({1, 2, 3, 4, 5, 6});
    EXPECT_EQ(text(*tuple::reverse(&r, nullptr, nullptr)), "6.5.4.3.2.1");
    Cell part = int_value(3);
    r = tuple_value({1, 2, 3, 4, 5, 6});
    EXPECT_EQ(text(*tuple::reverse(&r, &part, nullptr)), "3.2.1.4.5.6");
    Cell skip = int_value(2);
    r = tuple_value({1, 2, 3, 4, 5, 6});
    EXPECT_EQ(text(*tuple::reverse(&r, nullptr, &skip)), "5.6.3.4.1.2");
    Cell huge = int_value(1000000);
    r = tuple_value({1, 2, 3});
    EXPECT_EQ(text(*tuple::reverse(&r, &huge, &huge)), "1.2.3");
}

TEST_F(Tuple, OtherActions) {
    Cell t = tuple_value({0, 255, 15});
    EXPECT_EQ(text(*tuple::complement(&t)), "255.0.240");
    EXPECT_EQ(tuple::length_q(&t), 3);
    Cell zero = tuple_value({0, 0, 0, 0});
    EXPECT_TRUE(tuple::zero_q(&zero));
    Cell twelve = tuple_value({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13});
    EXPECT_EQ(text(twelve), "1.2.3.4.5.6.7.8.9.10.11.12");
    Cell s = tuple_value({1, 2, 3, 4, 5});
    const uint32_t expected = s.w1 ^ s.w2 ^ s.w3;
    tuple::random(&s, {.seed = true});
    EXPECT_EQ(seeded, expected);
    Cell d = tuple_value({0, 7, 255});
    EXPECT_EQ(text(*tuple::random(&d, {})), "0.7.255");
}

} // namespace
