#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "app/init.h"
#include "datatypes/dispatch.h"
#include "datatypes/words.h"
#include "number-fixture.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/throw.h"
#include "word-tables.h"

namespace {

constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

class Integer : public NumberTest {
protected:
    // The result of a frame action as text: "i:N" for an integer, "f:X" for a float (X with
    // 17 significant digits), "t:N" for another type.
    static std::string describe(const Cell& c) {
        char text[64];
        switch (cell::type(&c)) {
        case kTypeInteger:
            std::snprintf(text, sizeof text, "i:%d", static_cast<int32_t>(c.w2));
            break;
        case kTypeFloat:
        case kTypePercent:
        case kTypeTime:
            std::snprintf(text, sizeof text, "%c:%.17g",
                          cell::type(&c) == kTypeFloat     ? 'f'
                          : cell::type(&c) == kTypePercent ? 'p'
                                                           : 't',
                          float_of(c));
            break;
        default:
            std::snprintf(text, sizeof text, "type %d", cell::type(&c));
        }
        return text;
    }
};

TEST_F(Integer, ArithmeticAndOverflowToFloat) {
    struct Case {
        void (*action)();
        Cell a, b;
        const char* expected;
    } cases[] = {
        {integer::add, int_value(3), int_value(4), "i:7"},
        {integer::add, int_value(kMax), int_value(1), "f:2147483648"},
        {integer::add, int_value(kMin), int_value(-1), "f:-2147483649"},
        {integer::subtract, int_value(kMin), int_value(1), "f:-2147483649"},
        {integer::subtract, int_value(0), int_value(kMin), "f:2147483648"},
        {integer::subtract, int_value(-1), int_value(kMin), "i:2147483647"},
        {integer::multiply, int_value(65536), int_value(65536), "f:4294967296"},
        {integer::multiply, int_value(-65536), int_value(32768), "i:-2147483648"},
        {integer::multiply, int_value(kMin), int_value(-1), "f:2147483648"},
        {integer::divide, int_value(7), int_value(2), "f:3.5"},
        {integer::divide, int_value(6), int_value(2), "i:3"},
        {integer::divide, int_value(-7), int_value(2), "f:-3.5"},
        {integer::divide, int_value(kMin), int_value(1), "i:-2147483648"},
        {integer::divide, int_value(1), int_value(3), "f:0.33333333333333331"},
        {integer::remainder, int_value(-7), int_value(2), "i:-1"},
        {integer::remainder, int_value(7), int_value(-2), "i:1"},
        {integer::remainder, int_value(-7), int_value(-2), "i:-1"},
        {integer::remainder, int_value(kMin), int_value(2), "i:0"},
        {integer::and_, int_value(12), int_value(10), "i:8"},
        {integer::or_, int_value(12), int_value(10), "i:14"},
        {integer::xor_, int_value(12), int_value(10), "i:6"},
        {integer::xor_, int_value(-1), int_value(kMax), "i:-2147483648"},
        // A char! on the right counts as its code point; the result stays integer!.
        {integer::add, int_value(1), Cell{kTypeChar, 0, 'a', 0}, "i:98"},
        // Float-like operands go through float!'s arithmetic.
        {integer::add, int_value(1), float_value(0.5), "f:1.5"},
        {integer::add, int_value(1), float_value(0.1, kTypePercent), "f:1.1000000000000001"},
        {integer::add, int_value(60), float_value(1.5, kTypeTime), "t:61.5"},
        {integer::divide, int_value(1), float_value(0.0), "f:inf"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(describe(run(c.action, c.a, c.b)), c.expected)
            << describe(c.a) << " with " << describe(c.b);
    }
}

TEST_F(Integer, ResultKeepsTheHeaderFlagsOfTheLeftCell) {
    Cell left = int_value(kMax);
    left.header |= cell::kNewLine;
    Cell r = run(integer::add, left, int_value(-1));
    EXPECT_EQ(r.header, kTypeInteger | cell::kNewLine);
    r = run(integer::add, left, int_value(1));
    EXPECT_EQ(r.header, kTypeFloat | cell::kNewLine);
}

TEST_F(Integer, ArithmeticErrors) {
    struct Case {
        void (*action)();
        Cell b;
        int32_t a;
        uint32_t category, id;
    } cases[] = {
        {integer::divide, int_value(0), 1, error::kMath, error::math::zero_divide},
        {integer::remainder, int_value(0), 1, error::kMath, error::math::zero_divide},
        {integer::divide, int_value(-1), kMin, error::kMath, error::math::overflow},
        {integer::remainder, int_value(-1), kMin, error::kMath, error::math::overflow},
        {integer::add, Cell{kTypeNone, 0, 0, 0}, 1, error::kScript, error::script::invalid_type},
        {integer::and_, float_value(1.5), 1, error::kScript, error::script::cannot_use},
        {integer::divide, Cell{kTypePair, 0, 1, 2}, 1, error::kScript, error::script::not_related},
        {integer::divide, Cell{kTypePoint2D, 0, 0, 0}, 1, error::kScript,
         error::script::not_related},
        {integer::subtract, Cell{kTypeTuple, 0, 0, 0}, 1, error::kScript,
         error::script::not_related},
        {integer::multiply, Cell{kTypeDate, 0, 0, 0}, 1, error::kScript,
         error::script::not_related},
        {integer::divide, Cell{kTypeMoney, 0, 0, 0}, 1, error::kScript,
         error::script::invalid_type},
        {integer::or_, Cell{kTypeMoney, 0, 0, 0}, 1, error::kScript, error::script::invalid_type},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(raises(c.category, c.id, [&] { run(c.action, int_value(c.a), c.b); }))
            << c.a << " with type " << int(cell::type(&c.b));
    }
    // invalid-type names the datatype of the right operand; not-related names integer!.
    raises(error::kScript, error::script::invalid_type, [&] {
        run(integer::add, int_value(1), Cell{kTypeNone, 0, 0, 0});
    });
    EXPECT_EQ(error::last_raised.args[0].w1, uint32_t{kTypeNone});
    raises(error::kScript, error::script::not_related, [&] {
        run(integer::divide, int_value(1), Cell{kTypePair, 0, 1, 2});
    });
    EXPECT_EQ(error::last_raised.args[1].w1, uint32_t{kTypeInteger});
}

TEST_F(Integer, DoMathWithoutAResultCellTruncates) {
    EXPECT_EQ(integer::do_math(7, 2, integer::kDivide, nullptr), 3);
    EXPECT_EQ(integer::do_math(-7, 2, integer::kDivide, nullptr), -3);
    Cell c = int_value(0);
    EXPECT_EQ(integer::do_math(6, -3, integer::kDivide, &c), -2);
    EXPECT_EQ(static_cast<int32_t>(c.w2), -2);
    EXPECT_EQ(c.header, uint32_t{kTypeInteger});
}

TEST_F(Integer, Power) {
    struct Case {
        Cell base, exponent;
        const char* expected;
    } cases[] = {
        {int_value(2), int_value(10), "i:1024"},
        {int_value(2), int_value(30), "i:1073741824"},
        {int_value(2), int_value(31), "f:2147483648"},
        {int_value(-2), int_value(31), "i:-2147483648"}, // the squared base is not needed
        {int_value(-2), int_value(32), "f:4294967296"},
        {int_value(10), int_value(10), "f:10000000000"},
        {int_value(-1), int_value(kMax), "i:-1"},
        {int_value(3), int_value(0), "i:1"},
        {int_value(0), int_value(0), "i:1"},
        {int_value(2), int_value(-1), "f:0.5"},
        {int_value(0), int_value(-1), "f:inf"},
        {int_value(9), float_value(0.5), "f:3"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(describe(run(integer::power, c.base, c.exponent)), c.expected)
            << describe(c.base) << " ** " << describe(c.exponent);
        EXPECT_EQ(runtime::thrown_code(), 0u);
    }
    EXPECT_TRUE(raises(error::kScript, error::script::expect_arg,
                       [&] { run(integer::power, int_value(2), float_value(1, kTypePercent)); }));
    EXPECT_EQ(error::last_raised.args[1].w1, uint32_t{kTypePercent});
}

TEST_F(Integer, PowerLoopAbandonsWithItsThrow) {
    uint32_t code = runtime::catch_level(runtime::kLevelAll, [] { integer::power_loop(3, 21); });
    EXPECT_EQ(code, runtime::kThrowPowerOverflow);
    runtime::reset_thrown_code();
    EXPECT_EQ(integer::power_loop(3, 19), 1162261467);
    EXPECT_EQ(integer::power_loop(-3, 19), -1162261467);
}

TEST_F(Integer, Round) {
    enum Mode { kNone, kEven, kDown, kHalfDown, kFloor, kCeiling, kHalfCeiling };
    struct Case {
        int32_t n;
        int32_t scale; // 1 when absent
        Mode mode;
        int32_t expected;
    } cases[] = {
        {15, 10, kNone, 20},        {15, 10, kHalfDown, 10},
        {15, 10, kEven, 20},        {25, 10, kEven, 20},
        {35, 10, kEven, 40},        {-15, 10, kNone, -20},
        {-15, 10, kFloor, -20},     {-15, 10, kCeiling, -10},
        {-15, 10, kDown, -10},      {-15, 10, kHalfCeiling, -10},
        {15, 10, kHalfCeiling, 20}, {14, 10, kNone, 10},
        {16, 10, kNone, 20},        {-16, 10, kNone, -20},
        {-14, 10, kNone, -10},      {11, 10, kCeiling, 20},
        {19, 10, kFloor, 10},       {-11, 10, kFloor, -20},
        {-19, 10, kCeiling, -10},   {19, 10, kDown, 10},
        {-14, 10, kHalfDown, -10},  {kMax, 10, kFloor, 2147483640},
        {7, -5, kNone, 5},          {7, 0, kNone, 7},
        {kMin, 10, kNone, kMin},    {20, 10, kCeiling, 20},
        {7, 1, kNone, 7},
    };
    for (const Case& c : cases) {
        Cell v = int_value(c.n);
        Cell s = int_value(c.scale);
        Cell* r = integer::round(&v, {.scale = &s,
                                      .even = c.mode == kEven,
                                      .down = c.mode == kDown,
                                      .half_down = c.mode == kHalfDown,
                                      .floor = c.mode == kFloor,
                                      .ceiling = c.mode == kCeiling,
                                      .half_ceiling = c.mode == kHalfCeiling});
        EXPECT_EQ(r, &v);
        EXPECT_EQ(describe(v), "i:" + std::to_string(c.expected))
            << c.n << " to " << c.scale << " mode " << c.mode;
    }
    Cell v = int_value(9);
    integer::round(&v, {});
    EXPECT_EQ(describe(v), "i:9");
}

TEST_F(Integer, RoundOverflowAndOtherScales) {
    auto round_to = [](int32_t n, Cell scale, bool floor = false) {
        static Cell v;
        v = int_value(n);
        integer::round(&v, {.scale = &scale, .floor = floor});
        return v;
    };
    EXPECT_TRUE(
        raises(error::kMath, error::math::overflow, [&] { round_to(kMax, int_value(10)); }));
    EXPECT_TRUE(
        raises(error::kMath, error::math::overflow, [&] { round_to(-2147483647, int_value(10)); }));
    EXPECT_TRUE(raises(error::kMath, error::math::overflow, [&] { round_to(5, int_value(kMin)); }));
    EXPECT_TRUE(raises(error::kScript, error::script::not_related, [&] {
        round_to(5, Cell{kTypeMoney, 0, 0, 0});
    }));
    EXPECT_EQ(error::last_raised.args[1].w1, uint32_t{kTypeMoney});
    // A float scale rounds as float!, and the result takes the scale's type.
    EXPECT_EQ(describe(round_to(7, float_value(2.5))), "f:7.5");
    EXPECT_EQ(describe(round_to(7, float_value(0.5))), "f:7");
    EXPECT_EQ(describe(round_to(7, float_value(2.0), true)), "f:6");
}

TEST_F(Integer, Compare) {
    const Cell one = int_value(1), two = int_value(2);
    for (int32_t op = 0; op <= 12; ++op) {
        Cell a = one, b = two;
        EXPECT_EQ(integer::compare(&a, &b, op), -1) << op;
        EXPECT_EQ(integer::compare(&b, &a, op), 1) << op;
        EXPECT_EQ(integer::compare(&a, &a, op), 0) << op;
    }
    Cell min = int_value(kMin), max = int_value(kMax);
    EXPECT_EQ(integer::compare(&min, &max, action::op::lesser), -1); // signed

    // char!: equal by value, never strict-equal, found or the same.
    Cell a = int_value(97), ch{kTypeChar, 0, 97, 0};
    EXPECT_EQ(integer::compare(&a, &ch, action::op::equal), 0);
    EXPECT_EQ(integer::compare(&a, &ch, action::op::strict_equal), 1);
    EXPECT_EQ(integer::compare(&a, &ch, action::op::find), 1);
    EXPECT_EQ(integer::compare(&a, &ch, action::op::same), 1);

    // float-like values compare as floats.
    Cell f1 = float_value(1.0), f15 = float_value(1.5), nan = float_value(kNaN);
    Cell i = one;
    EXPECT_EQ(integer::compare(&i, &f1, action::op::equal), 0);
    EXPECT_EQ(integer::compare(&i, &f1, action::op::strict_equal), 1);
    EXPECT_EQ(integer::compare(&i, &f1, action::op::same), 1);
    EXPECT_EQ(integer::compare(&i, &f15, action::op::lesser), -1);
    Cell big = int_value(kMax), bigf = float_value(2147483647.5);
    EXPECT_EQ(integer::compare(&big, &bigf, action::op::lesser), -1);
    EXPECT_EQ(i.header, uint32_t{kTypeInteger}); // the integer is left as it was
    EXPECT_FALSE(actions::compare(&i, &nan, action::op::lesser));
    EXPECT_FALSE(actions::compare(&i, &nan, action::op::greater_or_equal));
    EXPECT_FALSE(actions::compare(&i, &nan, action::op::equal));
    Cell pct = float_value(1.0, kTypePercent);
    EXPECT_EQ(integer::compare(&i, &pct, action::op::equal), 0);

    Cell none{kTypeNone, 0, 0, 0};
    EXPECT_EQ(integer::compare(&i, &none, action::op::equal), action::kNotComparable);
    EXPECT_FALSE(actions::compare(&i, &none, action::op::equal));
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_compare,
                       [&] { actions::compare(&i, &none, action::op::lesser); }));
}

TEST_F(Integer, UnaryActions) {
    struct Case {
        void (*action)();
        int32_t n;
        int32_t expected;
    } cases[] = {
        {integer::absolute, -5, 5}, {integer::absolute, 5, 5},      {integer::absolute, kMax, kMax},
        {integer::negate, 5, -5},   {integer::negate, -kMax, kMax}, {integer::negate, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(describe(run(c.action, int_value(c.n), int_value(0))),
                  "i:" + std::to_string(c.expected));
    }
    for (void (*action)() : {integer::absolute, integer::negate}) {
        EXPECT_TRUE(raises(error::kMath, error::math::overflow,
                           [&] { run(action, int_value(kMin), int_value(0)); }));
    }
    for (int32_t n : {0, 5, -6, kMin, kMax}) {
        Cell v = int_value(n);
        EXPECT_EQ(integer::complement(&v), &v);
        EXPECT_EQ(static_cast<int32_t>(v.w2), ~n);
        Cell w = int_value(n);
        EXPECT_EQ(integer::even_q(&w), n % 2 == 0) << n;
        EXPECT_EQ(integer::odd_q(&w), n % 2 != 0) << n;
    }
}

TEST_F(Integer, FormAndMold) {
    struct Case {
        int32_t n;
        const char* text;
    } cases[] = {
        {0, "0"},
        {7, "7"},
        {-1, "-1"},
        {1234567890, "1234567890"},
        {kMax, "2147483647"},
        {kMin, "-2147483648"},
        {-1000000, "-1000000"},
    };
    for (const Case& c : cases) {
        const auto length = static_cast<int32_t>(std::strlen(c.text));
        EXPECT_EQ(formed(int_value(c.n)), std::make_pair(std::string(c.text), 1000 - length));
        EXPECT_EQ(molded(int_value(c.n)), std::make_pair(std::string(c.text), 1000 - length));
        EXPECT_STREQ(integer::to_decimal(c.n), c.text);
    }
}

TEST_F(Integer, ToAndMake) {
    struct Case {
        const char* what;
        Spec spec;
        int32_t expected;
    } cases[] = {
        {"char", Cell{kTypeChar, 0, 0x10FFFF, 0}, 0x10FFFF},
        {"3.9", float_value(3.9), 3},
        {"-3.9", float_value(-3.9), -3},
        {"2147483647.0", float_value(2147483647.0), kMax},
        {"-2147483648.0", float_value(-2147483648.0), kMin},
        {"150%", float_value(1.5, kTypePercent), 1},
        {"0:00:01.5", float_value(1.5, kTypeTime), 2},
        {"0:00:01.4", float_value(1.4, kTypeTime), 1},
        {"-0:00:01.7", float_value(-1.7, kTypeTime), -1},
        {"\"123\"", text_spec(U"123"), 123},
        {"\"-2147483648\"", text_spec(U"-2147483648"), kMin},
        {"\"+42\"", text_spec(U"+42"), 42},
        {"\"1'000'000\"", text_spec(U"1'000'000"), 1000000},
        {"\"xx42\" at 3", text_spec(U"xx42", 1, kTypeString, 2), 42},
        {"wide \"42\"", text_spec(U"42", 2), 42},
        {"4-byte \"-7\"", text_spec(U"-7", 4), -7},
        {"%12", text_spec(U"12", 1, kTypeFile), 12},
        {"url", text_spec(U"34", 1, kTypeUrl), 34},
        {"#{0102}", binary_spec({1, 2}), 258},
        {"#{}", binary_spec({}), 0},
        {"#{80000000}", binary_spec({0x80, 0, 0, 0}), kMin},
        {"#{0102030405}", binary_spec({1, 2, 3, 4, 5}), 0x01020304},
        {"#{0102030405} at 2", binary_spec({1, 2, 3, 4, 5}, 1), 0x02030405},
        {"#{01} past its tail", binary_spec({1}, 5), 0},
    };
    for (const Case& c : cases) {
        for (auto f : {integer::to, integer::make}) {
            Cell spec = c.spec.make();
            Cell proto{kTypeDatatype, kTypeInteger, 0, 0};
            Cell* r = f(&proto, &spec, kTypeInteger);
            EXPECT_EQ(cell::type(r), kTypeInteger) << c.what;
            EXPECT_EQ(integer::get(r), c.expected) << c.what;
        }
    }
    // An integer converts to itself: the spec is the result.
    Cell spec = int_value(5), proto{};
    EXPECT_EQ(integer::to(&proto, &spec, kTypeInteger), &spec);
    // make takes logic! values, to does not.
    Cell t = Cell{kTypeLogic, 1, 0, 0}, f = Cell{kTypeLogic, 0, 0, 0};
    EXPECT_EQ(integer::get(integer::make(&proto, &t, kTypeInteger)), 1);
    EXPECT_EQ(integer::get(integer::make(&proto, &f, kTypeInteger)), 0);
    EXPECT_TRUE(raises(error::kScript, error::script::bad_to_arg,
                       [&] { integer::to(&proto, &t, kTypeInteger); }));
}

TEST_F(Integer, ToAndMakeFailures) {
    struct Case {
        const char* what;
        Spec spec;
        uint32_t category, id;
    } cases[] = {
        {"2147483648.0", float_value(2147483648.0), error::kScript, error::script::type_limit},
        {"2147483647.5", float_value(2147483647.5), error::kScript, error::script::type_limit},
        {"-2147483649.0", float_value(-2147483649.0), error::kScript, error::script::type_limit},
        {"NaN", float_value(kNaN), error::kScript, error::script::type_limit},
        {"-inf", float_value(-kInf), error::kScript, error::script::type_limit},
        {"1e300 seconds", float_value(1e300, kTypeTime), error::kScript, error::script::type_limit},
        {"\"2147483648\"", text_spec(U"2147483648"), error::kScript, error::script::bad_to_arg},
        {"\"-2147483649\"", text_spec(U"-2147483649"), error::kScript, error::script::bad_to_arg},
        {"\"\"", text_spec(U""), error::kScript, error::script::bad_to_arg},
        {"\"-\"", text_spec(U"-"), error::kScript, error::script::bad_to_arg},
        {"\"12a\"", text_spec(U"12a"), error::kScript, error::script::bad_to_arg},
        {"\" 1\"", text_spec(U" 1"), error::kScript, error::script::bad_to_arg},
        {"\"1.5\"", text_spec(U"1.5"), error::kScript, error::script::bad_to_arg},
        {"\"'1\"", text_spec(U"'1"), error::kScript, error::script::bad_to_arg},
        {"wide \"1\u0660\"", text_spec(U"1\u0660", 2), error::kScript, error::script::bad_to_arg},
        {"\"12\" past its tail", text_spec(U"12", 1, kTypeString, 3), error::kScript,
         error::script::bad_to_arg},
        {"none", Cell{kTypeNone, 0, 0, 0}, error::kScript, error::script::bad_to_arg},
        {"block", Cell{kTypeBlock, 0, 0, 0}, error::kScript, error::script::bad_to_arg},
    };
    for (const Case& c : cases) {
        Cell spec = c.spec.make();
        Cell proto{kTypeDatatype, kTypeInteger, 0, 0};
        EXPECT_TRUE(raises(c.category, c.id, [&] { integer::to(&proto, &spec, kTypeInteger); }))
            << c.what;
    }
    // bad-to-arg names integer! and the spec; type-limit names integer!.
    Cell spec = text_value(U"x"), proto{};
    raises(error::kScript, error::script::bad_to_arg,
           [&] { integer::to(&proto, &spec, kTypeInteger); });
    ASSERT_EQ(error::last_raised.argc, 2u);
    EXPECT_EQ(error::last_raised.args[0].w1, uint32_t{kTypeInteger});
    EXPECT_EQ(error::last_raised.args[1].w2, spec.w2);
}

TEST_F(Integer, TextToIntegerCodes) {
    struct Case {
        const char* text;
        int32_t value, error;
    } cases[] = {
        {"0", 0, 0},
        {"-0", 0, 0},
        {"007", 7, 0},
        {"2147483647", kMax, 0},
        {"-2147483648", kMin, 0},
        {"2147483648", 0, -2},
        {"99999999999999999999999999", 0, -2},
        {"1'2", 12, 0},
        {"", 0, -1},
        {"+", 0, -1},
        {"--1", 0, -1},
        {"1e3", 0, -1},
    };
    for (const Case& c : cases) {
        int32_t error = 99;
        const int32_t v =
            integer::text_to_integer(reinterpret_cast<const uint8_t*>(c.text),
                                     static_cast<uint32_t>(std::strlen(c.text)), 1, error);
        EXPECT_EQ(error, c.error) << c.text;
        if (error == 0) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
}

TEST_F(Integer, FromIssueText) {
    Cell issue{kTypeIssue, 0, 42, 0};
    auto hex = [&](const char* text) {
        return integer::from_issue_text(reinterpret_cast<const uint8_t*>(text),
                                        static_cast<uint32_t>(std::strlen(text)), &issue);
    };
    EXPECT_EQ(hex("FF"), 255);
    EXPECT_EQ(hex("ff"), 255);
    EXPECT_EQ(hex("7FFFFFFF"), kMax);
    EXPECT_EQ(hex("ffffffff"), -1);
    EXPECT_EQ(hex("0"), 0);
    for (const char* bad : {"123456789", "G1", "", "-1", "1 "}) {
        EXPECT_TRUE(raises(error::kScript, error::script::invalid_data, [&] { hex(bad); })) << bad;
        EXPECT_EQ(error::last_raised.args[0].w2, 42u);
    }
}

// With the symbol table and the runtime's word tables.
class IntegerWithWords : public Integer {
protected:
    void SetUp() override {
        Integer::SetUp();
        word_tables::start();
    }
    void TearDown() override {
        word_tables::stop();
        Integer::TearDown();
    }
};

// not-related names the operation by the runtime's word for it, and integer!.
TEST_F(IntegerWithWords, NotRelatedNamesTheOperation) {
    struct Case {
        void (*action)();
        Cell b;
        const char* operation;
    } cases[] = {
        {integer::divide, Cell{kTypePair, 0, 1, 2}, "divide"},
        {integer::divide, Cell{kTypePoint3D, 0, 0, 0}, "divide"},
        {integer::subtract, Cell{kTypeTuple, 0, 0, 0}, "subtract"},
        {integer::divide, Cell{kTypeTuple, 0, 0, 0}, "divide"},
        {integer::subtract, Cell{kTypeDate, 0, 0, 0}, "subtract"},
        {integer::multiply, Cell{kTypeDate, 0, 0, 0}, "subtract"}, // as named for every date
        {float_::subtract, Cell{kTypePair, 0, 1, 1}, "subtract"},
        {float_::divide, Cell{kTypePoint2D, 0, 0, 0}, "divide"},
    };
    for (const Case& c : cases) {
        const Cell a = c.action == float_::subtract || c.action == float_::divide ? float_value(1.0)
                                                                                  : int_value(1);
        EXPECT_TRUE(raises(error::kScript, error::script::not_related, [&] {
            run(c.action, a, c.b);
        })) << c.operation;
        const Cell named = error::last_raised.args[0];
        EXPECT_EQ(cell::type(&named), kTypeWord) << c.operation;
        EXPECT_EQ(named.w2, symbol::make(c.operation)) << c.operation;
    }
}

// A generator that answers a fixed number and records what it was asked.
struct FakeRandom {
    static inline int32_t answer = 0;
    static inline std::vector<std::pair<bool, int32_t>> asked;
    static inline uint32_t seeded = 0;
    static int32_t rand(bool secure, int32_t n) {
        asked.emplace_back(secure, n);
        return answer;
    }
    static void seed(uint32_t s) { seeded = s; }
    static constexpr integer::RandomSource source{rand, seed};
};

TEST_F(Integer, RandomDrawsFromTheGenerator) {
    FakeRandom::asked.clear();
    integer::set_random_source(&FakeRandom::source);
    FakeRandom::answer = 4;
    Cell v = int_value(6);
    EXPECT_EQ(integer::random(&v, {}), &v);
    EXPECT_EQ(describe(v), "i:4");
    Cell ch{kTypeChar, 0, 'z', 0}; // char! inherits random: the type stays
    FakeRandom::answer = 'c';
    integer::random(&ch, {.secure = true});
    EXPECT_EQ(ch.header, uint32_t{kTypeChar});
    EXPECT_EQ(ch.w2, uint32_t{'c'});
    Cell zero = int_value(0);
    integer::random(&zero, {});
    EXPECT_EQ(describe(zero), "i:0");
    const std::vector<std::pair<bool, int32_t>> expected{{false, 6}, {true, 'z'}};
    EXPECT_EQ(FakeRandom::asked, expected); // 0 asks nothing

    Cell s = int_value(-77);
    integer::random(&s, {.seed = true});
    EXPECT_EQ(FakeRandom::seeded, static_cast<uint32_t>(-77));
    EXPECT_EQ(s.header, uint32_t{kTypeUnset});
    integer::set_random_source(nullptr);
    EXPECT_TRUE(
        raises(error::kInternal, error::internal::not_done, [&] { integer::random(&v, {}); }));
}

TEST_F(Integer, Constructors) {
    Cell flagged{kTypeNone | cell::kNewLine, 5, 6, 7};
    integer::make_at(&flagged, -3);
    EXPECT_EQ(flagged.header, kTypeInteger | cell::kNewLine); // flags kept
    EXPECT_EQ(integer::get(&flagged), -3);

    stack::clear();
    Cell* p = integer::push(11);
    EXPECT_EQ(p, stack::arguments);
    EXPECT_EQ(describe(*p), "i:11");
    EXPECT_EQ(integer::get_result(), 11);
    EXPECT_EQ(integer::result_or_zero(), 11);
    *stack::arguments = float_value(2.0);
    EXPECT_EQ(integer::result_or_zero(), 0);
    integer::set_result(-9);
    EXPECT_EQ(describe(*stack::arguments), "i:-9");

    GcRoot block(memory::alloc_cells(1));
    Cell b = block_of(block.node());
    integer::add_to_block(&b, 1);
    b.w2 = block.node();
    integer::add_to_block(&b, 2); // grows the block
    memory::Buffer* buf = memory::buffer(block.node());
    ASSERT_EQ(buf->length(), 2u);
    EXPECT_EQ(describe(buf->cells()[0]), "i:1");
    EXPECT_EQ(describe(buf->cells()[1]), "i:2");
}

TEST_F(Integer, Helpers) {
    EXPECT_EQ(integer::sign(-5), -1);
    EXPECT_EQ(integer::sign(0), 0);
    EXPECT_EQ(integer::sign(kMin), -1);
    EXPECT_EQ(integer::sign(kMax), 1);
    EXPECT_EQ(integer::abs_checked(-kMax), kMax);
    EXPECT_TRUE(raises(error::kMath, error::math::overflow, [] { integer::abs_checked(kMin); }));
    struct Case {
        double d;
        bool clamp;
    } cases[] = {
        {2147483647.0, false}, {2147483647.5, true}, {-2147483648.0, false}, {-2147483648.5, true},
        {kNaN, true},          {kInf, true},         {-kInf, true},          {0.0, false},
    };
    for (const Case& c : cases) {
        Cell f = float_value(c.d);
        EXPECT_EQ(integer::clamp_from_float(&f), c.clamp) << c.d;
    }
}

TEST_F(Integer, RegisteredSlots) {
    namespace slot = action::slot;
    const std::vector<action::Slot> own{
        slot::make,       slot::random, slot::to,       slot::form,     slot::mold,   slot::compare,
        slot::absolute,   slot::add,    slot::divide,   slot::multiply, slot::negate, slot::power,
        slot::remainder,  slot::round,  slot::subtract, slot::even_q,   slot::odd_q,  slot::and_,
        slot::complement, slot::or_,    slot::xor_};
    for (uint32_t s = 1; s <= action::kSlotCount; ++s) {
        const bool expected =
            std::find(own.begin(), own.end(), static_cast<action::Slot>(s)) != own.end();
        EXPECT_EQ(datatype::entry(kTypeInteger, static_cast<action::Slot>(s)) != nullptr, expected)
            << s;
    }
    EXPECT_STREQ(datatype::name_record(kTypeInteger).name, "integer!");
}

// In a child process: the runtime initialisation registers integer! and float! in their
// places.
TEST(IntegerStartUpDeathTest, RuntimeInitRegistersIntegerAndFloat) {
    auto check = [] {
        runtime::init();
        bool ok = datatype::highest_type_id >= kTypeFloat &&
                  datatype::function<action::slot::add>(kTypeInteger) == integer::add &&
                  datatype::function<action::slot::add>(kTypeFloat) == float_::add;
        std::exit(ok ? 0 : 1);
    };
    EXPECT_EXIT(check(), testing::ExitedWithCode(0), "");
}

} // namespace
