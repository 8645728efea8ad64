#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "datatypes/dispatch.h"
#include "number-fixture.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/strtod.h"

namespace {

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

class Float : public NumberTest {
protected:
    static uint64_t bits(double d) {
        uint64_t b;
        std::memcpy(&b, &d, sizeof b);
        return b;
    }
};

TEST_F(Float, FormPrintsSixteenDigits) {
    struct Case {
        double value;
        const char* text;
    } cases[] = {
        {0.1, "0.1"},
        {3.0, "3.0"},
        {-1.5, "-1.5"},
        {0.0, "0.0"},
        {1e20, "1.0e20"},
        {1e-7, "1.0e-7"},
        {1e-5, "1.0e-5"},
        {1e16, "1.0e16"},
        {1e15, "1000000000000000.0"},
        {2147483648.0, "2147483648.0"},
        {0.1 + 0.7, "0.7999999999999999"},
        {8.14, "8.140000000000001"},
        {0.1 + 0.2, "0.3"},
        {1.0 / 3, "0.3333333333333333"},
        {123456789012345680.0, "1.234567890123457e17"},
        {5.0000000000000006e23, "5.000000000000001e23"},
        {-1.25e-300, "-1.25e-300"},
        {5e-324, "4.940656458412465e-324"},
        {1.7976931348623157e308, "1.797693134862316e308"},
        {kInf, "1.#INF"},
        {-kInf, "-1.#INF"},
        {kNaN, "1.#NaN"},
    };
    for (const Case& c : cases) {
        const auto length = static_cast<int32_t>(std::strlen(c.text));
        EXPECT_EQ(formed(float_value(c.value)), std::make_pair(std::string(c.text), 1000 - length))
            << c.text;
    }
}

TEST_F(Float, MoldReadsBack) {
    struct Case {
        double value;
        const char* text;
    } cases[] = {
        {0.1, "0.1"},
        {3.0, "3.0"},
        {0.1 + 0.2, "0.30000000000000004"},
        {0.1 + 0.7, "0.7999999999999999"},
        {1e20, "1.0e20"},
        {1e-7, "0.0000001"}, // plain down to 10^-7, where form switches at 10^-5
        {2147483648.0, "2147483648.0"},
        {5e-324, "5.0e-324"},
        {kInf, "1.#INF"},
        {kNaN, "1.#NaN"},
    };
    for (const Case& c : cases) {
        const auto length = static_cast<int32_t>(std::strlen(c.text));
        EXPECT_EQ(molded(float_value(c.value)), std::make_pair(std::string(c.text), 1000 - length))
            << c.text;
    }
    for (double d : {0.1 + 0.2, 1.0 / 3, -1.25e-300, 5e-324, 1.7976931348623157e308, 1e-7}) {
        const std::string text = molded(float_value(d)).first;
        int32_t unconsumed = 0;
        const double back =
            number_text::parse_float(text.data(), text.data() + text.size(), 0, unconsumed);
        EXPECT_EQ(unconsumed, 0) << text;
        EXPECT_EQ(bits(back), bits(d)) << text;
    }
}

TEST_F(Float, PrinterKinds) {
    struct Case {
        double value;
        float_::Kind kind;
        const char* text;
    } cases[] = {
        {1.0 / 3, float_::kVector32, "0.3333333"},
        {2.0, float_::kVector32, "2.0"},
        {1e20, float_::kVector32, "1.0e20"},
        {12.5, float_::kPercentVector32, "12.5%"},
        {50.0, float_::kPercent, "50%"},
        {1.0 / 3, float_::kPercent, "0.3333333333333%"},
        {1e-7, float_::kPercent, "1e-7%"},
        {1.5, float_::kSeconds, "1.5"},
        {1.0 / 3, float_::kSeconds, "0.333333"},
        {59.0, float_::kSeconds, "59"},
        {2.0, float_::kPoint, "2"},
        {-1e20, float_::kPoint, "-1e20"},
        {kNaN, float_::kPercent, "1.#NaN"},
    };
    for (const Case& c : cases) EXPECT_STREQ(float_::form_float(c.value, c.kind), c.text) << c.text;
}

TEST_F(Float, PrettyPrinting) {
    float_::pretty = true;
    struct Case {
        double value;
        float_::Kind kind;
        const char* text;
    } cases[] = {
        {0.1 + 0.7, float_::kFloat, "0.8"}, // "...99" reprinted with 14 digits
        {8.14, float_::kFloat, "8.14"},     // "...01"
        {-8.14, float_::kFloat, "-8.14"},
        {0.07, float_::kFloat, "0.07"},
        {5.0000000000000006e23, float_::kFloat, "5.0e23"},
        {1.0000000000000002, float_::kFloat, "1.0"}, // 16 digits show no noise
        {0.1 + 0.2, float_::kFloat, "0.3"},
        {1e-17, float_::kFloat, "0.0"},
        {-1e-17, float_::kPercent, "0%"},
        {1e-17, float_::kPoint, "0"},
        {1.0 / 3, float_::kFloat, "0.3333333333333333"}, // no noise
    };
    for (const Case& c : cases) EXPECT_STREQ(float_::form_float(c.value, c.kind), c.text) << c.text;
}

TEST_F(Float, Compare) {
    Cell a = float_value(0.1 + 0.2), b = float_value(0.3);
    EXPECT_EQ(float_::compare(&a, &b, action::op::equal), 0); // near-equality
    EXPECT_TRUE(actions::compare(&a, &b, action::op::equal));
    EXPECT_FALSE(actions::compare(&a, &b, action::op::not_equal));
    EXPECT_FALSE(actions::compare(&a, &b, action::op::strict_equal));
    EXPECT_FALSE(actions::compare(&a, &b, action::op::find));
    EXPECT_TRUE(actions::compare(&a, &b, action::op::greater)); // ordering is exact

    Cell nan = float_value(kNaN), one = float_value(1.0);
    for (Cell* x : {&nan, &one}) {
        Cell* y = x == &nan ? &one : &nan;
        for (int32_t op = action::op::lesser; op <= action::op::greater_or_equal; ++op)
            EXPECT_FALSE(actions::compare(x, y, op)) << op;
        EXPECT_FALSE(actions::compare(x, y, action::op::equal));
        EXPECT_TRUE(actions::compare(x, y, action::op::not_equal));
    }
    EXPECT_FALSE(actions::compare(&nan, &nan, action::op::equal));
    EXPECT_TRUE(actions::compare(&nan, &nan, action::op::same)); // the same bits

    // Other numbers: integer! by value, but never strict-equal; same type needed for same.
    Cell i = int_value(1), pct = float_value(1.0, kTypePercent);
    EXPECT_TRUE(actions::compare(&one, &i, action::op::equal));
    EXPECT_FALSE(actions::compare(&one, &i, action::op::strict_equal));
    EXPECT_FALSE(actions::compare(&one, &i, action::op::same));
    EXPECT_TRUE(actions::compare(&one, &pct, action::op::equal));
    EXPECT_FALSE(actions::compare(&one, &pct, action::op::strict_equal));
    Cell zero = float_value(0.0), minus_zero = float_value(-0.0);
    EXPECT_TRUE(actions::compare(&zero, &minus_zero, action::op::strict_equal));
    EXPECT_FALSE(actions::compare(&zero, &minus_zero, action::op::same));

    Cell ch{kTypeChar, 0, 1, 0}, none{kTypeNone, 0, 0, 0};
    EXPECT_EQ(float_::compare(&one, &ch, action::op::equal), action::kNotComparable);
    EXPECT_EQ(float_::compare(&one, &none, action::op::lesser), action::kNotComparable);
    Cell money{kTypeMoney, 0, 0, 0};
    EXPECT_EQ(float_::compare(&one, &money, action::op::greater), 1); // 1.0 > $0
    EXPECT_NE(float_::compare(&one, &money, action::op::equal), 0);
}

TEST_F(Float, NearEquality) {
    double ten_up = 1.0, eleven_up;
    for (int k = 0; k < 10; ++k) ten_up = std::nextafter(ten_up, 2.0);
    eleven_up = std::nextafter(ten_up, 2.0);
    double big = 1e10, big_ten = big, big_eleven;
    for (int k = 0; k < 10; ++k) big_ten = std::nextafter(big_ten, 2e10);
    big_eleven = std::nextafter(big_ten, 2e10);
    double tiny = 1e-300, tiny_ten = -tiny;
    struct Case {
        double a, b;
        bool equal;
    } cases[] = {
        {1.0, ten_up, true},
        {1.0, eleven_up, false},
        {big, big_ten, true},
        {big, big_eleven, false},
        {tiny, tiny_ten, true}, // nearer than the epsilon
        {0.0, -0.0, true},
        {5e-324, -5e-324, true},
        {1.7976931348623157e308, kInf, true}, // neighbouring bit patterns
        {kNaN, kNaN, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(float_::compare_values(c.a, c.b), c.equal) << c.a << " " << c.b;
}

TEST_F(Float, Arithmetic) {
    struct Case {
        void (*action)();
        Cell a, b;
        uint8_t type;
        double expected;
    } cases[] = {
        {float_::add, float_value(0.5), float_value(0.25), kTypeFloat, 0.75},
        {float_::add, float_value(0.5), int_value(2), kTypeFloat, 2.5},
        {float_::add, float_value(0.5), Cell{kTypeChar, 0, 1, 0}, kTypeFloat, 1.5},
        {float_::subtract, float_value(0.5), int_value(2), kTypeFloat, -1.5},
        {float_::multiply, float_value(1.5), int_value(-2), kTypeFloat, -3.0},
        {float_::divide, float_value(1.0), int_value(0), kTypeFloat, kInf},
        {float_::divide, float_value(-1.0), float_value(0.0), kTypeFloat, -kInf},
        {float_::remainder, float_value(5.5), int_value(2), kTypeFloat, 1.5},
        {float_::remainder, float_value(-5.5), int_value(2), kTypeFloat, -1.5},
        {float_::remainder, float_value(5.5), float_value(kInf), kTypeFloat, 5.5},
        // The left operand decides percent!, a time! on either side gives time!.
        {float_::add, float_value(0.1, kTypePercent), int_value(1), kTypePercent, 1.1},
        {float_::add, float_value(0.5), float_value(0.1, kTypePercent), kTypeFloat, 0.6},
        {float_::multiply, float_value(60.0, kTypeTime), int_value(2), kTypeTime, 120.0},
        {float_::add, float_value(1.0), float_value(60.0, kTypeTime), kTypeTime, 61.0},
        {float_::add, float_value(0.1, kTypePercent), float_value(60.0, kTypeTime), kTypeTime,
         60.1},
    };
    for (const Case& c : cases) {
        const Cell r = run(c.action, c.a, c.b);
        EXPECT_EQ(cell::type(&r), c.type) << c.expected;
        EXPECT_EQ(float_of(r), c.expected);
    }
    for (double d : {1.0, kInf}) {
        Cell r = run(float_::remainder, float_value(kInf), float_value(d));
        EXPECT_TRUE(std::isnan(float_of(r))) << d;
    }
    EXPECT_TRUE(std::isnan(float_of(run(float_::remainder, float_value(1.0), float_value(kNaN)))));
    EXPECT_TRUE(std::isnan(float_of(run(float_::remainder, float_value(1.0), float_value(0.0)))));
}

TEST_F(Float, ArithmeticErrors) {
    struct Case {
        void (*action)();
        Cell a, b;
        uint32_t category, id;
    } cases[] = {
        {float_::add, float_value(1.0), Cell{kTypeNone, 0, 0, 0}, error::kScript,
         error::script::invalid_type},
        {float_::add, float_value(0.1, kTypePercent), Cell{kTypeChar, 0, 1, 0}, error::kScript,
         error::script::invalid_type},
        {float_::add, float_value(1.0, kTypeTime), Cell{kTypeChar, 0, 1, 0}, error::kScript,
         error::script::invalid_type},
        {float_::add, float_value(1.0, kTypeTime), Cell{kTypePair, 0, 1, 1}, error::kScript,
         error::script::invalid_type},
        {float_::subtract, float_value(1.0), Cell{kTypePair, 0, 1, 1}, error::kScript,
         error::script::not_related},
        {float_::divide, float_value(1.0), Cell{kTypePoint3D, 0, 0, 0}, error::kScript,
         error::script::not_related},
        // A number divided by money has no meaning.
        {float_::divide, float_value(1.0), Cell{kTypeMoney, 0, 0, 0}, error::kScript,
         error::script::invalid_type},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(raises(c.category, c.id, [&] { run(c.action, c.a, c.b); }))
            << int(cell::type(&c.a)) << " with " << int(cell::type(&c.b));
    }
    raises(error::kScript, error::script::not_related, [] {
        run(float_::divide, float_value(1.0), Cell{kTypePoint3D, 0, 0, 0});
    });
    EXPECT_EQ(error::last_raised.args[1].w1, uint32_t{kTypePoint3D});
    // and~, or~, xor~ reach float!'s arithmetic from an integer and are refused there.
    EXPECT_TRUE(raises(error::kScript, error::script::cannot_use,
                       [] { float_::do_math_op(1.0, 2.0, integer::kXor); }));
    EXPECT_EQ(error::last_raised.args[1].w1, uint32_t{kTypeFloat});
}

TEST_F(Float, Power) {
    EXPECT_EQ(float_of(run(float_::power, float_value(2.0), int_value(3))), 8.0);
    EXPECT_EQ(float_of(run(float_::power, float_value(4.0), float_value(0.5))), 2.0);
    EXPECT_EQ(float_of(run(float_::power, float_value(2.0), int_value(-2))), 0.25);
    Cell r = run(float_::power, float_value(0.0), int_value(-1));
    EXPECT_EQ(float_of(r), kInf);
    EXPECT_EQ(r.header, uint32_t{kTypeFloat});
    EXPECT_TRUE(raises(error::kScript, error::script::expect_arg, [] {
        run(float_::power, float_value(2.0), Cell{kTypeChar, 0, 2, 0});
    }));
}

TEST_F(Float, Round) {
    enum Mode { kNone, kEven, kDown, kHalfDown, kFloor, kCeiling, kHalfCeiling };
    struct Case {
        double value;
        Cell scale; // unset: no /to
        Mode mode;
        const char* expected; // mold of the result, "i:" before an integer!
    } cases[] = {
        {2.5, {}, kNone, "3.0"},
        {2.5, {}, kEven, "2.0"},
        {3.5, {}, kEven, "4.0"},
        {2.5, {}, kHalfDown, "2.0"},
        {-2.5, {}, kNone, "-3.0"},
        {-2.5, {}, kHalfCeiling, "-2.0"},
        {2.5, {}, kHalfCeiling, "3.0"},
        {2.4, {}, kNone, "2.0"},
        {-2.6, {}, kNone, "-3.0"},
        {-2.1, {}, kFloor, "-3.0"},
        {2.1, {}, kCeiling, "3.0"},
        {-2.7, {}, kDown, "-2.0"},
        {3.14159, float_value(0.01), kNone, "3.14"},
        {3.14159, float_value(-0.01), kNone, "3.14"},
        {7.3, int_value(2), kNone, "i:8"},
        {-7.3, int_value(2), kDown, "i:-6"},
        {7.3, float_value(2.5), kNone, "7.5"},
        {1234.5, float_value(100.0), kNone, "1200.0"},
        {1e300, int_value(1), kNone, "1.0e300"}, // below the value's precision: unchanged
        {0.0, float_value(0.0), kNone, "0.0"},   // a zero scale leaves the value alone
        {7.25, float_value(0.0), kNone, "7.25"},
        {std::ldexp(3.5, -1060), float_value(std::ldexp(1.0, -1060)), kNone,
         nullptr}, // 4 x 2^-1060: the scale's inverse is beyond the doubles
    };
    for (const Case& c : cases) {
        Cell v = float_value(c.value);
        Cell scale = c.scale;
        Cell* r = float_::round(&v, {.scale = cell::type(&scale) == 0 ? nullptr : &scale,
                                     .even = c.mode == kEven,
                                     .down = c.mode == kDown,
                                     .half_down = c.mode == kHalfDown,
                                     .floor = c.mode == kFloor,
                                     .ceiling = c.mode == kCeiling,
                                     .half_ceiling = c.mode == kHalfCeiling});
        EXPECT_EQ(r, &v);
        if (!c.expected) {
            EXPECT_EQ(float_of(v), std::ldexp(4.0, -1060));
            continue;
        }
        const std::string text = cell::type(&v) == kTypeInteger
                                     ? "i:" + std::to_string(integer::get(&v))
                                     : molded(v).first;
        EXPECT_EQ(text, c.expected) << c.value;
    }
}

TEST_F(Float, RoundTypesAndErrors) {
    // A percent! rounds to 0.01 (1%) by default and keeps its type.
    Cell p = float_value(0.12345, kTypePercent);
    float_::round(&p, {});
    EXPECT_EQ(cell::type(&p), kTypePercent);
    EXPECT_DOUBLE_EQ(float_of(p), 0.12);
    // With /to the result takes the scale's type.
    Cell f = float_value(90.2);
    Cell minute = float_value(60.0, kTypeTime);
    float_::round(&f, {.scale = &minute});
    EXPECT_EQ(cell::type(&f), kTypeTime);
    EXPECT_EQ(float_of(f), 120.0);

    Cell v = float_value(3e9), one = int_value(1);
    EXPECT_TRUE(
        raises(error::kMath, error::math::overflow, [&] { float_::round(&v, {.scale = &one}); }));
    Cell big = float_value(1.7976931348623157e308), scale = float_value(1e300);
    EXPECT_TRUE(raises(error::kMath, error::math::overflow,
                       [&] { float_::round(&big, {.scale = &scale, .ceiling = true}); }));
    Cell money{kTypeMoney, 0, 0, 0};
    EXPECT_TRUE(raises(error::kScript, error::script::not_related,
                       [&] { float_::round(&v, {.scale = &money}); }));
    EXPECT_EQ(error::last_raised.args[1].w1, uint32_t{kTypeMoney});
    Cell text = text_value(U"1");
    EXPECT_TRUE(raises(error::kScript, error::script::expect_arg,
                       [&] { float_::round(&v, {.scale = &text}); }));
}

TEST_F(Float, Cells) {
    Cell c{kTypeNone | cell::kNewLine, 5, 6, 7};
    EXPECT_EQ(float_::make_at(&c, 1.5), &c);
    EXPECT_EQ(c.header, uint32_t{kTypeFloat});
    EXPECT_EQ(float_::get(&c), 1.5);
    EXPECT_EQ(bits(float_of(c)), bits(1.5)); // words 2-3, low word first
    EXPECT_EQ(c.w2, 0u);
    EXPECT_EQ(c.w3, 0x3FF80000u);
    stack::clear();
    Cell* p = float_::push(-2.0);
    EXPECT_EQ(p, stack::arguments);
    float_::box(0.25);
    EXPECT_EQ(float_::get(stack::arguments), 0.25);
}

TEST_F(Float, DoubleHelpers) {
    struct Case {
        double value;
        int32_t saturated, rounded;
        bool special, edge;
    } cases[] = {
        {0.49999999999999994, 0, 0, false, false}, // adding one half would give 1
        {0.5, 0, 1, false, false},
        {2.6, 2, 3, false, false},
        {-2.7, -2, -2, false, false}, // truncation toward zero after the shift
        {3e9, 2147483647, 2147483647, false, false},
        {-3e9, -2147483647 - 1, -2147483647 - 1, false, false},
        {kInf, 2147483647, 2147483647, false, true},
        {-kInf, -2147483647 - 1, -2147483647 - 1, false, true},
        {kNaN, 0, 0, true, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(float_::saturate(c.value), c.saturated) << c.value;
        EXPECT_EQ(float_::to_int_rounded(c.value), c.rounded) << c.value;
        EXPECT_EQ(float_::is_special(c.value), c.special) << c.value;
        EXPECT_EQ(float_::is_edge_value(c.value), c.edge) << c.value;
    }
    EXPECT_TRUE(float_::is_nan32(std::numeric_limits<float>::quiet_NaN()));
    EXPECT_FALSE(float_::is_nan32(std::numeric_limits<float>::infinity()));
    const Cell minus = float_value(-1.5);
    EXPECT_EQ(float_::abs_from_words(minus.w2, minus.w3), 1.5);
    stack::clear();
    EXPECT_EQ(float_::get(float_::push64(minus.w2, minus.w3)), -1.5);
}

// A generator that answers one word for every draw.
struct FixedRandom {
    static inline uint32_t word = 0;
    static inline uint32_t seeded = 0;
    static uint32_t next() { return word; }
    static void seed(uint32_t s) { seeded = s; }
    static constexpr logic::RandomSource source{next, next, seed};
};

TEST_F(Float, Random) {
    logic::set_random_source(&FixedRandom::source);
    struct Case {
        uint32_t word;
        double bound;
        bool secure;
        double expected;
    } cases[] = {
        {0x7FFFFFFF, 10.0, false, 10.0},
        {0x40000000, 10.0, false, 1073741824 / 2147483647.0 * 10.0},
        // A word with its top bit set counts without it: never a negative result.
        {0xC0000000, 10.0, false, 1073741824 / 2147483647.0 * 10.0},
        {0xFFFFFFFF, -4.0, false, -4.0},
        {0, 10.0, false, 0.0},
        // Secure: two 31-bit words r1 and r2, (r2 + r1 / 2147483647) x bound / 2^31.
        {0x80000002, 8.0, true, (2 + 2 / 2147483647.0) * 8.0 / 2147483648.0},
    };
    for (const Case& c : cases) {
        FixedRandom::word = c.word;
        EXPECT_EQ(float_::random_float(c.bound, c.secure), c.expected) << c.word;
    }
    // The action keeps the value's type; /seed takes the exclusive-or of the payload words.
    FixedRandom::word = 0x7FFFFFFF;
    Cell p = float_value(0.5, kTypePercent);
    EXPECT_EQ(float_::random(&p, {}), &p);
    EXPECT_EQ(cell::type(&p), kTypePercent);
    EXPECT_EQ(float_of(p), 0.5);
    Cell s = float_value(1.5);
    float_::random(&s, {.seed = true});
    EXPECT_EQ(FixedRandom::seeded, 0x3FF80000u);
    EXPECT_EQ(cell::type(&s), kTypeUnset);
    logic::set_random_source(nullptr);
    Cell v = float_value(1.0);
    EXPECT_TRUE(
        raises(error::kInternal, error::internal::not_done, [&] { float_::random(&v, {}); }));
}

TEST_F(Float, MakeFromBinaryAndBlock) {
    // Fewer than 8 bytes fill the low end of the bit pattern; bytes past 8 are not read.
    struct Case {
        Spec spec;
        uint64_t bits;
    } cases[] = {
        {binary_spec({0x3F, 0xF0, 0, 0, 0, 0, 0, 0}), 0x3FF0000000000000},
        {binary_spec({0x01, 0x02}), 0x0102},
        {binary_spec({0xFF, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0, 0xAA}, 1), 0x3FF0000000000000},
        {binary_spec({}), 0},
    };
    for (const Case& c : cases) {
        stack::clear();
        Cell* spec = stack::push(c.spec.make());
        Cell* r = float_::make(stack::push_cell(), spec, kTypeFloat);
        EXPECT_EQ(bits(float_::get(r)), c.bits);
    }
}

TEST_F(Float, RegisteredSlots) {
    namespace slot = action::slot;
    const std::vector<action::Slot> own{
        slot::make,      slot::random, slot::to,       slot::form,     slot::mold,   slot::compare,
        slot::absolute,  slot::add,    slot::divide,   slot::multiply, slot::negate, slot::power,
        slot::remainder, slot::round,  slot::subtract, slot::even_q,   slot::odd_q};
    for (uint32_t s = 1; s <= action::kSlotCount; ++s) {
        const bool expected =
            std::find(own.begin(), own.end(), static_cast<action::Slot>(s)) != own.end();
        EXPECT_EQ(datatype::entry(kTypeFloat, static_cast<action::Slot>(s)) != nullptr, expected)
            << s;
    }
}

} // namespace
