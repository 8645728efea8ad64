#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "datatypes/integer.h"
#include "runtime-core/error-ids.h"
#include "runtime-fixture.h"

namespace {

class Logic : public RuntimeTest {
protected:
    static Cell float_value(uint8_t type, double d) {
        Cell c{type, 0, 0, 0};
        std::memcpy(&c.w2, &d, sizeof d);
        return c;
    }
    static Cell logic_value(uint32_t word1) { return Cell{kTypeLogic, word1, 0, 0}; }
};

TEST_F(Logic, TruthRule) {
    struct Case {
        Cell value;
        bool truth;
    } cases[] = {
        {logic_value(1), true},
        {logic_value(0), false},
        {logic_value(2), false}, // only word 1 = 1 is true
        {value(kTypeNone), false},
        {value(kTypeUnset), true},
        {value(kTypeInteger, 0, 0), true},
        {value(kTypeBlock), true},
    };
    for (Case& c : cases) {
        EXPECT_EQ(logic::value_true(&c.value), c.truth) << int(cell::type(&c.value));
        // The same rule through the stack: the last pushed value, else the result slot.
        stack::clear();
        *stack::push_cell() = c.value;
        EXPECT_EQ(logic::top_true(), c.truth);
        EXPECT_EQ(logic::top_false(), !c.truth);
        EXPECT_EQ(logic::result_true(), c.truth);
        if (cell::type(&c.value) != kTypeUnset) {
            EXPECT_EQ(logic::last_true(), c.truth);
        }
    }
}

TEST_F(Logic, TopTrueReadsTheLastPushedValueOrTheResultSlot) {
    stack::clear();
    logic::push(false); // the frame's result slot
    none::push();
    logic::push(true);
    EXPECT_TRUE(logic::top_true());
    EXPECT_FALSE(logic::result_true());
    stack::reset(); // nothing pushed in the frame: the result slot counts
    EXPECT_FALSE(logic::top_true());
}

TEST_F(Logic, UnsetChecks) {
    Cell unset = value(kTypeUnset);
    Cell word = value(kTypeWord, 0, 7, 0);
    EXPECT_TRUE(logic::value_true(&unset, false, &word));
    EXPECT_TRUE(raises(error::kScript, error::script::no_value,
                       [&] { logic::value_true(&unset, true, &word); }));
    EXPECT_EQ(error::last_raised.argc, 1u);
    EXPECT_EQ(error::last_raised.args[0].w2, 7u);

    stack::clear();
    unset::push();
    EXPECT_TRUE(raises(error::kScript, error::script::no_return, [] { logic::last_true(); }));
    EXPECT_TRUE(logic::result_true());
}

TEST_F(Logic, MakeAndTo) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* what;
        Cell spec;
        bool make, to;
    } cases[] = {
        {"0", value(kTypeInteger, 0, 0), false, true},
        {"-5", value(kTypeInteger, 0, 0xFFFFFFFB), true, true},
        {"0.0", float_value(kTypeFloat, 0.0), false, true},
        {"-0.0", float_value(kTypeFloat, -0.0), false, true},
        {"1.5", float_value(kTypeFloat, 1.5), true, true},
        {"NaN", float_value(kTypeFloat, nan), true, true},
        {"0%", float_value(kTypePercent, 0.0), false, true},
        {"none", value(kTypeNone), false, false},
        {"unset", value(kTypeUnset), true, true},
        {"\"false\"", value(kTypeString), true, true},
        {"[]", value(kTypeBlock), true, true},
        {"false", logic_value(0), false, false},
        {"true", logic_value(1), true, true},
    };
    for (Case& c : cases) {
        Cell proto = value(kTypeDatatype, kTypeLogic);
        Cell* made = logic::make(&proto, &c.spec, kTypeLogic);
        EXPECT_EQ(cell::type(made), kTypeLogic) << c.what;
        EXPECT_EQ(logic::get(made), c.make) << c.what;
        Cell* converted = logic::to(&proto, &c.spec, kTypeLogic);
        EXPECT_EQ(logic::get(converted), c.to) << c.what;
    }
    // Conversions answer by address: the spec itself or a shared value.
    Cell spec = logic_value(0);
    Cell proto{};
    EXPECT_EQ(logic::to(&proto, &spec, kTypeLogic), &spec);
    Cell n = value(kTypeNone);
    EXPECT_EQ(logic::to(&proto, &n, kTypeLogic), &logic::false_value);
    EXPECT_EQ(logic::make(&proto, &n, kTypeLogic), &logic::false_value);
    Cell zero = value(kTypeInteger);
    EXPECT_EQ(logic::to(&proto, &zero, kTypeLogic), &logic::true_value);
    // make from a number writes into the prototype cell.
    EXPECT_EQ(logic::make(&proto, &zero, kTypeLogic), &proto);
}

TEST_F(Logic, Compare) {
    Cell t = logic_value(1), t2 = logic_value(1), f = logic_value(0);
    Cell one = value(kTypeInteger, 0, 1);
    for (int32_t op : {0, 1, 2, 7, 8, 9, 12}) {
        EXPECT_EQ(logic::compare(&t, &t2, op), 0) << op;
        EXPECT_EQ(logic::compare(&t, &f, op), 1) << op;
        EXPECT_EQ(logic::compare(&f, &t, op), -1) << op;
        EXPECT_EQ(logic::compare(&t, &one, op), -2) << op; // true = 1 is false
    }
    for (int32_t op : {3, 4, 5, 6, 10, 11}) EXPECT_EQ(logic::compare(&t, &f, op), -2) << op;
}

TEST_F(Logic, ComplementFlipsInPlace) {
    Cell t = logic_value(1);
    EXPECT_EQ(logic::complement(&t), &t);
    EXPECT_FALSE(logic::get(&t));
    logic::complement(&t);
    EXPECT_TRUE(logic::get(&t));
}

TEST_F(Logic, BitwiseActions) {
    struct Case {
        void (*action)();
        bool a, b, result;
    } cases[] = {
        {logic::and_, true, true, true},   {logic::and_, true, false, false},
        {logic::or_, false, false, false}, {logic::or_, false, true, true},
        {logic::xor_, true, true, false},  {logic::xor_, true, false, true},
    };
    for (const Case& c : cases) {
        stack::clear();
        logic::push(c.a);
        logic::push(c.b);
        c.action();
        EXPECT_EQ(stack::arguments->header, uint32_t{kTypeLogic});
        EXPECT_EQ(stack::arguments->w1, c.result ? 1u : 0u) << c.a << c.b;
    }
}

TEST_F(Logic, BitwiseWithANonLogicSecondArgument) {
    for (void (*action)() : {logic::and_, logic::or_, logic::xor_}) {
        stack::clear();
        logic::push(true);
        *stack::push_cell() = value(kTypeInteger, 0, 1);
        EXPECT_TRUE(raises(error::kScript, error::script::expect_arg, action));
        ASSERT_EQ(error::last_raised.argc, 3u);
        EXPECT_EQ(error::last_raised.args[1].header, uint32_t{kTypeDatatype});
        EXPECT_EQ(error::last_raised.args[1].w1, uint32_t{kTypeInteger});
        EXPECT_TRUE(logic::get(stack::arguments)); // the first argument is untouched
    }
}

// A generator that answers a fixed sequence.
struct FakeRandom {
    static inline std::vector<uint32_t> numbers;
    static inline size_t at = 0;
    static inline uint32_t seeded = 0;
    static inline int secure_calls = 0;
    static uint32_t next() { return numbers[at++ % numbers.size()]; }
    static uint32_t secure_next() {
        ++secure_calls;
        return next();
    }
    static void seed(uint32_t s) { seeded = s; }
    static constexpr logic::RandomSource source{next, secure_next, seed};
};

class LogicRandom : public Logic {
protected:
    void SetUp() override {
        Logic::SetUp();
        FakeRandom::at = 0;
        FakeRandom::secure_calls = 0;
        logic::set_random_source(&FakeRandom::source);
    }
    void TearDown() override {
        logic::set_random_source(nullptr);
        Logic::TearDown();
    }
};

TEST_F(LogicRandom, ThresholdOnThe31BitNumber) {
    // Above 0x3FFFFFFF gives true; bit 31 is not part of the number.
    FakeRandom::numbers = {0x3FFFFFFF, 0x40000000, 0x80000000, 0xC0000000, 0, 0x7FFFFFFF};
    const bool expected[] = {false, true, false, true, false, true};
    for (bool e : expected) {
        Cell v = logic_value(1);
        EXPECT_EQ(logic::random(&v, {}), &v);
        EXPECT_EQ(logic::get(&v), e);
    }
    Cell v = logic_value(0);
    logic::random(&v, {.secure = true});
    EXPECT_EQ(FakeRandom::secure_calls, 1);
}

TEST_F(LogicRandom, SeedMakesTheValueUnset) {
    Cell v = logic_value(1);
    logic::random(&v, {.seed = true});
    EXPECT_EQ(FakeRandom::seeded, 1u);
    EXPECT_EQ(v.header, uint32_t{kTypeUnset});
}

TEST_F(Logic, RandomWithoutAGenerator) {
    // Another test of the same process may have installed the runtime's generator.
    const logic::RandomSource* installed = logic::random_source();
    logic::set_random_source(nullptr);
    Cell v = logic_value(1);
    EXPECT_TRUE(
        raises(error::kInternal, error::internal::not_done, [&] { logic::random(&v, {}); }));
    logic::set_random_source(installed);
}

TEST_F(Logic, Constructors) {
    Cell flagged{kTypeNone | cell::kNewLine, 5, 6, 7};
    logic::make_at(&flagged, true);
    EXPECT_EQ(flagged.header, uint32_t{kTypeLogic});
    EXPECT_EQ(flagged.w1, 1u);
    stack::clear();
    unset::push();
    EXPECT_EQ(logic::set_result(false), stack::arguments);
    EXPECT_EQ(stack::arguments->header, uint32_t{kTypeLogic});
    EXPECT_EQ(stack::arguments->w1, 0u);

    GcRoot block(memory::alloc_cells(1));
    Cell b = block_of(block.node());
    logic::add_to_block(&b, true);
    b.w2 = block.node();
    logic::add_to_block(&b, false); // grows the block
    memory::Buffer* buf = memory::buffer(block.node());
    ASSERT_EQ(buf->length(), 2u);
    EXPECT_EQ(buf->cells()[0].w1, 1u);
    EXPECT_EQ(buf->cells()[1].w1, 0u);
    EXPECT_EQ(logic::true_value.w1, 1u);
    EXPECT_EQ(logic::false_value.w1, 0u);
}

} // namespace

// A constructor writes every payload word: same? and hashing read whole cells, so leftovers
// of an earlier value in the cell would make equal values differ.
TEST_F(Logic, ConstructorsClearLeftoverPayloadWords) {
    Cell a{kTypeString, 7, 8, 9};
    Cell b{kTypeBlock, 1, 2, 3};
    logic::make_at(&a, true);
    logic::make_at(&b, true);
    EXPECT_EQ(a.w2, 0u);
    EXPECT_EQ(a.w3, 0u);
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
    integer::make_at(&a, 5);
    integer::make_at(&b, 5);
    EXPECT_EQ(a.w1, 0u);
    EXPECT_EQ(a.w3, 0u);
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
}
