#include <gtest/gtest.h>

#include <limits>

#include "runtime-core/error-ids.h"
#include "types2-fixture.h"

namespace {

class Money : public Types2Test {
protected:
    static Cell m(const char* text) {
        Cell c{};
        EXPECT_TRUE(money::from_text(text, &c)) << text;
        return c;
    }
    static std::string all(const Cell& value) {
        Cell* held = stack::push(value);
        Cell* s = string::make_at(stack::push_cell(), 16);
        money::mold(held, s, {.all = true}, 1000, 0);
        std::string out = utf8_of(*s);
        stack::pop(2);
        return out;
    }
    Cell word_of(const char* name) { return unbound(kTypeWord, sym(name)); }
};

TEST_F(Money, TextForms) {
    struct Case {
        const char* literal;
        const char* mold;
        const char* form;
        const char* mold_all;
    } cases[] = {
        {"$0.05", "$0.05", "$0.05", "$0.05000"},
        {"-USD$1234567.5", "-USD$1234567.50", "-USD$1'234'567.50", "-USD$1234567.50000"},
        {"$0", "$0.00", "$0.00", "$0.00000"},
        {"$123", "$123.00", "$123.00", "$123.00000"},
        {"EUR$1'000", "EUR$1000.00", "EUR$1'000.00", "EUR$1000.00000"},
        {"$12.345678", "$12.34", "$12.34", "$12.34567"},
        {"-$0.001", "-$0.00", "-$0.00", "-$0.00100"},
        {"$99999999999999999.99999", "$99999999999999999.99", "$99'999'999'999'999'999.99",
         "$99999999999999999.99999"},
    };
    for (const Case& c : cases) {
        const Cell v = m(c.literal);
        EXPECT_EQ(mold_of(v), c.mold);
        EXPECT_EQ(form_of(v), c.form);
        EXPECT_EQ(all(v), c.mold_all);
    }
    static Cell digits;
    digits = int_value(0);
    money::set_money_digits_hook([]() -> const Cell* { return &digits; });
    EXPECT_EQ(mold_of(m("$12.5")), "$12");
    digits = int_value(9);
    EXPECT_EQ(form_of(m("$12.5")), "$12.50000");
    digits = Cell{kTypeNone, 0, 0, 0};
    EXPECT_EQ(form_of(m("$12.5")), "$12.50");
    money::set_money_digits_hook(nullptr);
    Cell unused{};
    EXPECT_FALSE(money::from_text("XXX$1", &unused));
    EXPECT_FALSE(money::from_text("$", &unused));
    EXPECT_FALSE(money::from_text("$1.2.3", &unused));
}

// The codes are the system's list once there is one: a code added to it reads and prints, and
// an entry that is no three-letter word names no currency.
TEST_F(Money, CurrenciesComeFromTheSystemList) {
    static Cell* list;
    list = block::push_new(4);
    for (const char* name : {"USD", "xyz", "ABCD"}) {
        const Cell w = word_of(name);
        block::append_copy(list, &w);
    }
    const Cell one = int_value(1);
    block::append_copy(list, &one);
    money::set_currency_list_hook([]() -> const Cell* { return list; });
    EXPECT_EQ(money::currency_count(), 4);
    EXPECT_EQ(money::currency_index("xyz"), 2);
    EXPECT_EQ(money::currency_index("XYZ"), 2);
    EXPECT_EQ(money::currency_index("EUR"), -1);
    EXPECT_EQ(money::currency_code(2), "xyz");
    EXPECT_EQ(money::currency_code(3), "");
    EXPECT_EQ(money::currency_code(4), "");
    EXPECT_EQ(money::currency_code(5), "");
    EXPECT_EQ(mold_of(m("-XYZ$1234.5")), "-xyz$1234.50");
    Cell unused{};
    EXPECT_FALSE(money::from_text("EUR$1", &unused));
    money::set_currency_list_hook([]() -> const Cell* { return nullptr; });
    EXPECT_EQ(money::currency_count(), 170);
    EXPECT_EQ(money::currency_index("EUR"), 47);
    money::set_currency_list_hook(nullptr);
}

TEST_F(Money, Arithmetic) {
    struct Case {
        void (*action)();
        Cell a, b;
        const char* text;
    } cases[] = {
        {money::add, m("USD$1"), m("$1"), "USD$2.00"},
        {money::add, m("$1"), m("USD$1"), "USD$2.00"},
        {money::add, m("$1.5"), m("-$2.25"), "-$0.75"},
        {money::subtract, m("$1"), m("$3"), "-$2.00"},
        {money::subtract, m("-$1"), m("$3"), "-$4.00"},
        {money::divide, m("$10"), int_value(4), "$2.50"},
        {money::remainder, m("-$7"), m("$2"), "-$1.00"},
        {money::multiply, m("$0.00001"), float_value(0.00001), "$0.00"},
        {money::multiply, m("$1.5"), int_value(-3), "-$4.50"},
        {money::multiply, m("$2.5"), float_value(0.5, kTypePercent), "$1.25"},
        {integer::add, int_value(2), m("EUR$1"), "EUR$3.00"},
        {float_::subtract, float_value(2.5), m("$1"), "$1.50"},
        {integer::multiply, int_value(3), m("$1.1"), "$3.30"},
    };
    for (const Case& c : cases) {
        const Cell r = run(c.action, c.a, c.b);
        EXPECT_EQ(mold_of(r), c.text);
    }
    const Cell ratio = run(money::divide, m("$10"), m("$4"));
    EXPECT_EQ(cell::type(&ratio), kTypeFloat);
    EXPECT_EQ(seconds_of(ratio), 2.5);
    EXPECT_EQ(all(run(money::divide, m("$1"), int_value(3))), "$0.33333");
}

TEST_F(Money, ArithmeticErrors) {
    struct Case {
        void (*action)();
        Cell a, b;
        uint32_t category, id;
    } cases[] = {
        {money::add, m("$1"), m("$99999999999999999"), error::kScript, error::script::type_limit},
        {money::subtract, m("-$1"), m("$99999999999999999"), error::kScript,
         error::script::type_limit},
        {money::multiply, m("$99999999999"), int_value(99999999), error::kScript,
         error::script::type_limit},
        {money::multiply, m("$10000000000"), int_value(10000000), error::kScript,
         error::script::type_limit},
        {money::divide, m("$10000000000000000"), m("$0.00001"), error::kScript,
         error::script::type_limit},
        {money::multiply, m("$2"), m("$3"), error::kScript, error::script::invalid_type},
        {money::add, m("USD$1"), m("EUR$1"), error::kScript, error::script::wrong_denom},
        {money::add, m("$1"), Cell{kTypeNone, 0, 0, 0}, error::kScript,
         error::script::invalid_type},
        {money::divide, m("$1"), m("$0"), error::kMath, error::math::zero_divide},
        {money::remainder, m("$1"), int_value(0), error::kMath, error::math::zero_divide},
        {integer::remainder, int_value(1), m("$1"), error::kScript, error::script::invalid_type},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(raises(c.category, c.id, [&] { run(c.action, c.a, c.b); })) << mold_of(c.a);
    }
    // Nothing partial is left behind.
    stack::clear();
    stack::push(m("$1"));
    stack::push(m("$99999999999999999"));
    raises(error::kScript, error::script::type_limit, [] { money::add(); });
    EXPECT_EQ(mold_of(stack::bottom[0]), "$1.00");
}

TEST_F(Money, Conversions) {
    struct Case {
        double value;
        const char* text;
    } floats[] = {{0.0, "$0.00000"},
                  {2.5, "$2.50000"},
                  {-0.25, "-$0.25000"},
                  {1e16, "$10000000000000000.00000"},
                  {0.03125, "$0.03125"},
                  {0.1, "$0.10000"},
                  {-123456.78, "-$123456.78000"},
                  {0.00001, "$0.00001"}};
    for (const Case& c : floats)
        EXPECT_EQ(all(convert(money::to, kTypeMoney, float_value(c.value))), c.text);
    for (double bad : {1e17, -1e17, 1e-6, 0.123456, std::numeric_limits<double>::infinity()})
        EXPECT_TRUE(raises(error::kScript, error::script::bad_make_arg, [&] {
            convert(money::to, kTypeMoney, float_value(bad));
        })) << bad;
    Cell loose{};
    EXPECT_EQ(all(*money::from_float(&loose, 1.1, false)), "$1.10000");
    EXPECT_EQ(all(*money::from_float(&loose, 0.00001, false)), "$0.00001");
    EXPECT_EQ(all(*money::from_float(&loose, 0.29, false)), "$0.29000");
    EXPECT_EQ(all(*money::from_float(&loose, -0.123456789, false)), "-$0.12345");

    EXPECT_EQ(all(convert(money::to, kTypeMoney, int_value(-2147483647 - 1))),
              "-$2147483648.00000");
    EXPECT_EQ(integer::get(&(const Cell&)convert(integer::to, kTypeInteger, m("-$2147483648"))),
              -2147483647 - 1);
    EXPECT_EQ(integer::get(&(const Cell&)convert(integer::to, kTypeInteger, m("$12.99"))), 12);
    EXPECT_TRUE(raises(error::kScript, error::script::type_limit,
                       [&] { convert(integer::to, kTypeInteger, m("$2147483648")); }));
    EXPECT_EQ(money::to_float(&(const Cell&)m("-$2.5")), -2.5);
    EXPECT_EQ(money::to_float(&(const Cell&)m("$0.1")), 0.1);

    GcRoot usd(word_of("usd"));
    EXPECT_EQ(mold_of(convert(money::make, kTypeMoney, usd.cell())), "USD$0.00");
    GcRoot spec(block({word_of("USD"), int_value(12), int_value(50)}));
    EXPECT_EQ(all(convert(money::make, kTypeMoney, spec.cell())), "USD$12.00050");
    GcRoot negative(block({int_value(-12), int_value(50)}));
    EXPECT_EQ(all(convert(money::make, kTypeMoney, negative.cell())), "-$12.00050");
    GcRoot floating(block({word_of("EUR"), float_value(1.5)}));
    EXPECT_EQ(all(convert(money::make, kTypeMoney, floating.cell())), "EUR$1.50000");
    const std::initializer_list<Cell> bad[] = {
        {word_of("XYZ"), int_value(1)},
        {int_value(1), int_value(100000)},
        {float_value(1.5), int_value(1)},
        {},
        {int_value(1), int_value(2), int_value(3)},
    };
    for (const auto& values : bad) {
        GcRoot b(block(values));
        EXPECT_TRUE(raises(error::kScript, error::script::bad_make_arg,
                           [&] { convert(money::make, kTypeMoney, b.cell()); }));
    }
    GcRoot text_spec(text(kTypeString, "-EUR$1'234.5"));
    EXPECT_EQ(mold_of(convert(money::to, kTypeMoney, text_spec.cell())), "-EUR$1234.50");
    GcRoot junk(text(kTypeString, "12"));
    EXPECT_TRUE(raises(error::kScript, error::script::bad_to_arg,
                       [&] { convert(money::to, kTypeMoney, junk.cell()); }));
}

TEST_F(Money, Round) {
    struct Case {
        const char* value;
        const char* how;
        const char* text;
    } cases[] = {
        {"$2.5", "", "$3.00"},
        {"$2.5", "even", "$2.00"},
        {"$3.5", "even", "$4.00"},
        {"-$2.7", "down", "-$2.00"},
        {"-$2.2", "floor", "-$3.00"},
        {"-$2.2", "ceiling", "-$2.00"},
        {"$2.2", "ceiling", "$3.00"},
        {"$2.5", "half-down", "$2.00"},
        {"-$2.5", "half-ceiling", "-$2.00"},
        {"$2.5", "half-ceiling", "$3.00"},
        {"-$2.5", "", "-$3.00"},
        {"$2.4", "", "$2.00"},
        {"USD$7", "", "USD$7.00"},
    };
    for (const Case& c : cases) {
        Cell v = m(c.value);
        const std::string how = c.how;
        money::round(&v, {.even = how == "even",
                          .down = how == "down",
                          .half_down = how == "half-down",
                          .floor = how == "floor",
                          .ceiling = how == "ceiling",
                          .half_ceiling = how == "half-ceiling"});
        EXPECT_EQ(mold_of(v), c.text) << c.value << " " << c.how;
    }
    Cell v = m("$1234.5678");
    Cell scale = m("$0.05");
    money::round(&v, {.scale = &scale});
    EXPECT_EQ(all(v), "$1234.55000");
    v = m("$1234");
    scale = int_value(100);
    money::round(&v, {.scale = &scale});
    EXPECT_EQ(mold_of(v), "$1200.00");
    Cell text_scale = Cell{kTypeNone, 0, 0, 0};
    EXPECT_TRUE(raises(error::kScript, error::script::not_related,
                       [&] { money::round(&v, {.scale = &text_scale}); }));
}

TEST_F(Money, Compare) {
    struct Case {
        Cell a, b;
        int32_t op;
        int32_t result;
    } cases[] = {
        {m("$1"), m("$2"), action::op::lesser, -1},
        {m("-$1"), m("-$2"), action::op::lesser, 1},
        {m("-$1"), m("$0"), action::op::lesser, -1},
        {m("USD$1"), m("$1"), action::op::equal, 0},
        {m("USD$1"), m("EUR$1"), action::op::equal, 1},
        {m("USD$1"), m("$1"), action::op::strict_equal, 1},
        {m("USD$1"), m("USD$1"), action::op::strict_equal, 0},
        {m("$1"), int_value(1), action::op::equal, 0},
        {m("$1"), int_value(1), action::op::strict_equal, 1},
        {m("$0.5"), float_value(0.5), action::op::equal, 0},
        {m("$0"), float_value(0.000001), action::op::lesser, 1},
        {m("$0"), float_value(1e17), action::op::lesser, -1},
        {m("$1"), Cell{kTypeNone, 0, 0, 0}, action::op::equal, action::kNotComparable},
        {m("EUR$5"), m("$9"), action::op::sort, 1},
        {m("EUR$5"), m("USD$1"), action::op::sort, -1},
    };
    for (Case& c : cases) EXPECT_EQ(money::compare(&c.a, &c.b, c.op), c.result) << mold_of(c.a);
    Cell a = m("USD$1"), b = m("EUR$1");
    EXPECT_TRUE(raises(error::kScript, error::script::wrong_denom,
                       [&] { money::compare(&a, &b, action::op::lesser); }));
    Cell i = int_value(2);
    EXPECT_GT(integer::compare(&i, &a, action::op::greater), 0);
}

TEST_F(Money, FieldsParityAndSign) {
    Cell v = m("-USD$12.5");
    GcRoot code(word_of("code"));
    GcRoot amount(word_of("amount"));
    Cell* c = money::eval_path(&v, &code.cell(), nullptr, {.get = true});
    EXPECT_EQ(cell::type(c), kTypeWord);
    EXPECT_EQ(text_of_symbol(c->w2), "USD");
    c = money::eval_path(&v, &amount.cell(), nullptr, {.get = true});
    EXPECT_EQ(mold_of(*c), "-$12.50");
    Cell plain = m("$1");
    EXPECT_EQ(cell::type(money::pick(&plain, 1, nullptr)), kTypeNone);
    Cell one = int_value(1);
    EXPECT_TRUE(raises(error::kScript, error::script::bad_path_set,
                       [&] { money::eval_path(&v, &code.cell(), &one, {}); }));
    GcRoot other(word_of("cents"));
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_path,
                       [&] { money::eval_path(&v, &other.cell(), nullptr, {.get = true}); }));
    EXPECT_TRUE(
        raises(error::kScript, error::script::out_of_range, [&] { money::pick(&v, 3, nullptr); }));
    Cell even = m("$12.5"), odd = m("$13");
    EXPECT_TRUE(money::even_q(&even));
    EXPECT_TRUE(money::odd_q(&odd));
    EXPECT_EQ(mold_of(run([] { money::negate(); }, m("$1"), int_value(0))), "-$1.00");
    EXPECT_EQ(mold_of(run([] { money::absolute(); }, m("-$1"), int_value(0))), "$1.00");
    EXPECT_EQ(money::sign(&(const Cell&)m("-$0")), 0);
    EXPECT_EQ(money::currency_index("usd"), money::currency_index("USD"));
    EXPECT_EQ(money::currency_code(money::currency_index("ZAN")), "ZAN");
    EXPECT_EQ(money::currency_index("XXX"), -1);
}

} // namespace
