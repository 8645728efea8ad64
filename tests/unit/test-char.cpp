#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "datatypes/char.h"
#include "number-fixture.h"
#include "runtime-core/error-ids.h"

namespace {

class Char : public NumberTest {
protected:
    void SetUp() override {
        NumberTest::SetUp();
        char_::register_actions();
    }

    static Cell char_value(uint32_t cp) { return Cell{kTypeChar, 0, cp, 0}; }

    // The text of a string value from its head, at any unit width.
    static std::u32string text_of(const Cell* s) {
        memory::Buffer* b = memory::buffer(s->w2);
        std::u32string text;
        for (uint32_t i = 0; i < b->length(); ++i)
            text.push_back(string::get_char(b->at_head() + i * b->unit(), b->unit()));
        return text;
    }

    // What form or mold (with or without /all) appends to an empty string, and the budget
    // they leave of 1000.
    static std::pair<std::u32string, int32_t> output(uint32_t cp, bool mold, bool all = false) {
        stack::clear();
        Cell* s = string::make_at(stack::push_cell(), 16);
        Cell* v = stack::push(char_value(cp));
        const int32_t left =
            mold ? char_::mold(v, s, {.all = all}, 1000, 0) : char_::form(v, s, nullptr, 1000);
        return {text_of(s), left};
    }
};

TEST_F(Char, Arithmetic) {
    struct Case {
        const char* what;
        void (*action)();
        Cell a, b;
        uint32_t expected;
    } cases[] = {
        {"a + 1", char_::add, char_value('a'), int_value(1), 'b'},
        {"a + #\"^A\"", char_::add, char_value('a'), char_value(1), 'b'},
        {"b - 1", char_::subtract, char_value('b'), int_value(1), 'a'},
        {"^@ + 10FFFF", char_::add, char_value(0), int_value(0x10FFFF), 0x10FFFF},
        {"10FFFF - 10FFFF", char_::subtract, char_value(0x10FFFF), int_value(0x10FFFF), 0},
        // A division truncates: never a float.
        {"z / 2", char_::divide, char_value('z'), int_value(2), 61},
        {"a / 2", char_::divide, char_value('a'), int_value(2), 48},
        {"a * 2", char_::multiply, char_value('a'), int_value(2), 194},
        {"a // 10", char_::remainder, char_value('a'), int_value(10), 7},
        {"a and 0xDF", char_::and_, char_value('a'), int_value(0xDF), 'A'},
        {"A or 0x20", char_::or_, char_value('A'), int_value(0x20), 'a'},
        {"a xor 0x20", char_::xor_, char_value('a'), int_value(0x20), 'A'},
        // A float operand is truncated toward zero first.
        {"a + 1.9", char_::add, char_value('a'), float_value(1.9), 'b'},
        {"a - -1.9", char_::subtract, char_value('a'), float_value(-1.9), 'b'},
        {"a * 0.5", char_::multiply, char_value('a'), float_value(0.5), 0},
    };
    for (const Case& c : cases) {
        Cell r = run(c.action, c.a, c.b);
        EXPECT_EQ(cell::type(&r), kTypeChar) << c.what;
        EXPECT_EQ(r.w2, c.expected) << c.what;
    }
}

TEST_F(Char, ArithmeticErrors) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* what;
        void (*action)();
        Cell a, b;
        uint32_t category, id;
    } cases[] = {
        {"^@ - 1", char_::subtract, char_value(0), int_value(1), error::kMath,
         error::math::overflow},
        {"10FFFF + 1", char_::add, char_value(0x10FFFF), int_value(1), error::kMath,
         error::math::overflow},
        {"a - b", char_::subtract, char_value('a'), char_value('b'), error::kMath,
         error::math::overflow},
        {"a xor -1", char_::xor_, char_value('a'), int_value(-1), error::kMath,
         error::math::overflow},
        // Beyond 32 bits: integer!'s overflow to float! is an overflow here.
        {"10000 * 10000", char_::multiply, char_value(0x10000), int_value(0x10000), error::kMath,
         error::math::overflow},
        {"a + 2147483647", char_::add, char_value('a'), int_value(2147483647), error::kMath,
         error::math::overflow},
        {"a + 1e10", char_::add, char_value('a'), float_value(1e10), error::kMath,
         error::math::overflow},
        {"a + NaN", char_::add, char_value('a'), float_value(nan), error::kMath,
         error::math::overflow},
        {"a / 0", char_::divide, char_value('a'), int_value(0), error::kMath,
         error::math::zero_divide},
        {"a // 0", char_::remainder, char_value('a'), int_value(0), error::kMath,
         error::math::zero_divide},
        {"a + 10%", char_::add, char_value('a'), float_value(0.1, kTypePercent), error::kScript,
         error::script::invalid_type},
        {"a + none", char_::add, char_value('a'), Cell{kTypeNone, 0, 0, 0}, error::kScript,
         error::script::invalid_type},
        {"a + vector", char_::add, char_value('a'), Cell{kTypeVector, 0, 0, 0}, error::kInternal,
         error::internal::not_done},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(raises(c.category, c.id, [&] { run(c.action, c.a, c.b); })) << c.what;
    }
    // invalid-type names the operand's datatype.
    raises(error::kScript, error::script::invalid_type, [&] {
        run(char_::add, char_value('a'), Cell{kTypeNone, 0, 0, 0});
    });
    ASSERT_EQ(error::last_raised.argc, 1u);
    EXPECT_EQ(error::last_raised.args[0].w1, uint32_t{kTypeNone});
}

TEST_F(Char, ResultKeepsTheHeaderFlags) {
    Cell r = run(char_::add, Cell{kTypeChar | cell::kNewLine, 0, 'a', 0}, int_value(1));
    EXPECT_EQ(r.header, kTypeChar | cell::kNewLine);
    EXPECT_EQ(r.w2, uint32_t{'b'});
}

TEST_F(Char, MakeAndTo) {
    struct Case {
        const char* what;
        Spec spec;
        uint32_t expected;
    } cases[] = {
        {"#\"x\"", char_value('x'), 'x'},
        {"65", int_value(65), 'A'},
        {"0", int_value(0), 0},
        {"10FFFF", int_value(0x10FFFF), 0x10FFFF},
        {"65.9", float_value(65.9), 'A'},
        {"-0.5", float_value(-0.5), 0},
        {"1114111.9", float_value(1114111.9), 0x10FFFF},
        {"6500%", float_value(65.0, kTypePercent), 'A'},
        {"#{41}", binary_spec({0x41}), 'A'},
        {"#{C3A9}", binary_spec({0xC3, 0xA9}), 0xE9},
        {"#{F09F9880}", binary_spec({0xF0, 0x9F, 0x98, 0x80}), 0x1F600},
        {"#{41C3A9} at 2", binary_spec({0x41, 0xC3, 0xA9}, 1), 0xE9},
        {"\"abc\"", text_spec(U"abc"), 'a'},
        {"\"abc\" at 3", text_spec(U"abc", 1, kTypeString, 2), 'c'},
        {"wide", text_spec(U"\u0100x", 2), 0x100},
        {"4-byte", text_spec(U"\U0001F600", 4), 0x1F600},
        {"%file", text_spec(U"f", 1, kTypeFile), 'f'},
        {"tag", text_spec(U"t", 1, kTypeTag), 't'},
        {"email", text_spec(U"e", 1, kTypeEmail), 'e'},
    };
    for (const Case& c : cases) {
        Cell spec = c.spec.make();
        Cell proto{kTypeDatatype, kTypeChar, 0, 0};
        Cell* r = char_::make(&proto, &spec, kTypeChar);
        EXPECT_EQ(r, &proto) << c.what;
        EXPECT_EQ(r->header, uint32_t{kTypeChar}) << c.what;
        EXPECT_EQ(r->w2, c.expected) << c.what;
    }
    // to is the same function.
    EXPECT_EQ(datatype::function<action::slot::to>(kTypeChar), char_::make);
}

TEST_F(Char, MakeFailures) {
    struct Case {
        const char* what;
        Spec spec;
        uint32_t category, id;
    } cases[] = {
        {"110000", int_value(0x110000), error::kScript, error::script::out_of_range},
        {"-1", int_value(-1), error::kScript, error::script::out_of_range},
        {"1114112.0", float_value(1114112.0), error::kScript, error::script::out_of_range},
        {"-1.0", float_value(-1.0), error::kScript, error::script::out_of_range},
        {"NaN", float_value(std::nan("")), error::kScript, error::script::out_of_range},
        {"\"\"", text_spec(U""), error::kScript, error::script::bad_to_arg},
        {"\"ab\" past its tail", text_spec(U"ab", 1, kTypeString, 5), error::kScript,
         error::script::bad_to_arg},
        {"#{}", binary_spec({}), error::kScript, error::script::bad_to_arg},
        {"#{41} at its tail", binary_spec({0x41}, 1), error::kScript, error::script::bad_to_arg},
        // A cut sequence: fewer bytes than the lead byte announces.
        {"#{C3}", binary_spec({0xC3}), error::kScript, error::script::bad_to_arg},
        {"#{E282}", binary_spec({0xE2, 0x82}), error::kScript, error::script::bad_to_arg},
        {"#{80}", binary_spec({0x80}), error::kAccess, error::access::invalid_utf8},
        {"none", Cell{kTypeNone, 0, 0, 0}, error::kScript, error::script::bad_to_arg},
        {"true", Cell{kTypeLogic, 1, 0, 0}, error::kScript, error::script::bad_to_arg},
        {"time", float_value(1.0, kTypeTime), error::kScript, error::script::bad_to_arg},
    };
    for (const Case& c : cases) {
        Cell spec = c.spec.make();
        Cell proto{kTypeDatatype, kTypeChar, 0, 0};
        EXPECT_TRUE(raises(c.category, c.id, [&] { char_::make(&proto, &spec, kTypeChar); }))
            << c.what;
    }
    // out-of-range names the spec; bad-to-arg names char! and the spec.
    Cell big = int_value(0x110000), proto{};
    raises(error::kScript, error::script::out_of_range,
           [&] { char_::make(&proto, &big, kTypeChar); });
    ASSERT_EQ(error::last_raised.argc, 1u);
    EXPECT_EQ(error::last_raised.args[0].w2, 0x110000u);
    Cell none{kTypeNone, 0, 0, 0};
    raises(error::kScript, error::script::bad_to_arg,
           [&] { char_::make(&proto, &none, kTypeChar); });
    ASSERT_EQ(error::last_raised.argc, 2u);
    EXPECT_EQ(error::last_raised.args[0].w1, uint32_t{kTypeChar});
    EXPECT_EQ(cell::type(&error::last_raised.args[1]), kTypeNone);
}

TEST_F(Char, Form) {
    EXPECT_EQ(output('a', false), std::make_pair(std::u32string(U"a"), 999));
    EXPECT_EQ(output(0, false), std::make_pair(std::u32string(1, U'\0'), 999));
    // The target widens for the character.
    EXPECT_EQ(output(0x20AC, false), std::make_pair(std::u32string(U"\u20AC"), 999));
    EXPECT_EQ(output(0x1F600, false), std::make_pair(std::u32string(U"\U0001F600"), 999));
}

TEST_F(Char, MoldEscapes) {
    struct Case {
        uint32_t cp;
        bool all;
        std::u32string text;
    } cases[] = {
        {'a', false, U"#\"a\""},         {0x00, false, U"#\"^@\""},
        {0x01, false, U"#\"^A\""},       {0x08, false, U"#\"^H\""},
        {0x09, false, U"#\"^-\""},       {0x0A, false, U"#\"^/\""},
        {0x0B, false, U"#\"^K\""},       {0x1A, false, U"#\"^Z\""},
        {0x1B, false, U"#\"^[\""},       {0x1C, false, U"#\"^\\\""},
        {0x1D, false, U"#\"^]\""},       {0x1E, false, U"#\"^(1E)\""},
        {0x1F, false, U"#\"^_\""},       {' ', false, U"#\" \""},
        {'"', false, U"#\"^\"\""},       {'^', false, U"#\"^^\""},
        {'{', false, U"#\"{\""},         {'\\', false, U"#\"\\\""},
        {0x7F, false, U"#\"^~\""},       {0x80, false, U"#\"^(80)\""},
        {0x85, false, U"#\"^(85)\""},    {0x9F, false, U"#\"^(9F)\""},
        {0xA0, false, U"#\"\u00A0\""},   {0xE9, false, U"#\"\u00E9\""},
        {0xE9, true, U"#\"^(E9)\""},     {0x20AC, false, U"#\"\u20AC\""},
        {0x20AC, true, U"#\"^(20AC)\""}, {0x10FFFF, true, U"#\"^(10FFFF)\""},
        {'a', true, U"#\"a\""},          {0x09, true, U"#\"^-\""},
    };
    for (const Case& c : cases) {
        // The budget falls by 4 whatever the escape's length.
        EXPECT_EQ(output(c.cp, true, c.all), std::make_pair(c.text, 996)) << c.cp;
    }
}

TEST_F(Char, Compare) {
    struct Case {
        Cell a, b;
        int32_t op;
        int32_t expected;
    } cases[] = {
        {char_value('a'), char_value('a'), action::op::equal, 0},
        {char_value('a'), char_value('b'), action::op::lesser, -1},
        {char_value('b'), char_value('a'), action::op::greater, 1},
        {char_value('a'), char_value('A'), action::op::equal, 1}, // case matters
        {char_value('a'), char_value('a'), action::op::strict_equal, 0},
        // An integer of the code point: equal, but not the same value.
        {char_value('a'), int_value(97), action::op::equal, 0},
        {char_value('a'), int_value(98), action::op::lesser, -1},
        {char_value('a'), int_value(97), action::op::strict_equal, 1},
        {char_value('a'), int_value(97), action::op::find, 1},
        {char_value('a'), int_value(-1), action::op::greater, 1},
        {char_value('a'), float_value(97.0), action::op::equal, action::kNotComparable},
        {char_value('a'), float_value(97.0), action::op::strict_equal, 1},
        {char_value('a'), Cell{kTypeNone, 0, 0, 0}, action::op::equal, action::kNotComparable},
    };
    for (const Case& c : cases) {
        Cell a = c.a, b = c.b;
        const int32_t r = char_::compare(&a, &b, c.op);
        if (c.expected == action::kNotComparable || c.expected == 0)
            EXPECT_EQ(r, c.expected) << c.a.w2 << " " << c.op;
        else
            EXPECT_EQ(r > 0, c.expected > 0) << c.a.w2 << " " << c.op;
    }
    Cell s = text_value(U"a"), a = char_value('a');
    EXPECT_EQ(char_::compare(&a, &s, action::op::equal), action::kNotComparable);
}

TEST_F(Char, InheritedIntegerActions) {
    EXPECT_EQ(datatype::function<action::slot::random>(kTypeChar), integer::random);
    EXPECT_EQ(datatype::function<action::slot::absolute>(kTypeChar), integer::absolute);
    EXPECT_EQ(datatype::function<action::slot::even_q>(kTypeChar), integer::even_q);
    EXPECT_EQ(datatype::function<action::slot::odd_q>(kTypeChar), integer::odd_q);
    Cell b = char_value('b');
    EXPECT_TRUE(integer::even_q(&b));
    // absolute leaves the character as it is.
    stack::clear();
    stack::push(char_value('a'));
    integer::absolute();
    EXPECT_EQ(stack::arguments->header, uint32_t{kTypeChar});
    EXPECT_EQ(stack::arguments->w2, uint32_t{'a'});
}

TEST_F(Char, RegisteredSlots) {
    namespace slot = action::slot;
    const std::vector<action::Slot> own{
        slot::make,     slot::random, slot::to,     slot::form,     slot::mold,      slot::compare,
        slot::absolute, slot::add,    slot::divide, slot::multiply, slot::remainder, slot::subtract,
        slot::even_q,   slot::odd_q,  slot::and_,   slot::or_,      slot::xor_};
    for (uint32_t s = 1; s <= action::kSlotCount; ++s) {
        const bool expected =
            std::find(own.begin(), own.end(), static_cast<action::Slot>(s)) != own.end();
        EXPECT_EQ(datatype::entry(kTypeChar, static_cast<action::Slot>(s)) != nullptr, expected)
            << s;
    }
    EXPECT_STREQ(datatype::name_record(kTypeChar).name, "char!");
}

TEST_F(Char, Constructors) {
    stack::clear();
    Cell* p = char_::push(0x263A);
    EXPECT_EQ(p, stack::arguments);
    EXPECT_EQ(p->header, uint32_t{kTypeChar});
    EXPECT_EQ(p->w2, 0x263Au);

    GcRoot block(memory::alloc_cells(1));
    Cell b = block_of(block.node());
    char_::add_to_block(&b, 'x');
    b.w2 = block.node();
    char_::add_to_block(&b, 'y'); // grows the block
    memory::Buffer* buf = memory::buffer(block.node());
    ASSERT_EQ(buf->length(), 2u);
    EXPECT_EQ(buf->cells()[0].header, uint32_t{kTypeChar});
    EXPECT_EQ(buf->cells()[0].w2, uint32_t{'x'});
    EXPECT_EQ(buf->cells()[1].w2, uint32_t{'y'});
}

} // namespace
