#include <gtest/gtest.h>

#include "compound-fixture.h"
#include "datatypes/binary.h"
#include "datatypes/char.h"
#include "datatypes/vector.h"
#include "runtime-core/error-ids.h"

namespace {

// A spec made when its case runs, not when the table is: a collection frees what nothing
// holds.
#define SPEC(...) [] { return __VA_ARGS__; }

class Vector : public CompoundTest {
protected:
    void SetUp() override {
        CompoundTest::SetUp();
        char_::register_actions();
        binary::register_actions();
        vector::register_actions();
    }
    static Cell word(const char* text) { return unbound(kTypeWord, sym(text)); }
    static Cell* made(const Cell& spec) {
        GcRoot held(spec);
        Cell* prototype = stack::push(Cell{kTypeDatatype, kTypeVector, 0, 0});
        return vector::make(prototype, &held.cell(), kTypeVector);
    }
    static Cell pct(double fraction) {
        Cell c;
        return *percent::make_at(&c, fraction);
    }
};

TEST_F(Vector, MakeAndMold) {
    struct Case {
        Cell (*spec)();
        const char* mold;
    } cases[] = {
        {SPEC(int_value(3)), "make vector! [0 0 0]"},
        {SPEC(int_value(0)), "make vector! [integer! 32 []]"},
        {SPEC(block({word("integer!"), int_value(8),
                     block({int_value(1), int_value(2), int_value(300)})})),
         "make vector! [integer! 8 [1 2 44]]"},
        {SPEC(block({word("integer!"), int_value(16), block({int_value(1), int_value(-2)})})),
         "make vector! [integer! 16 [1 -2]]"},
        {SPEC(block({word("percent!"), int_value(32), block({pct(0.1)})})), "make vector! [10%]"},
        {SPEC(block({word("percent!"), block({pct(0.5)})})), "make vector! [50%]"},
        {SPEC(block({word("float!"), int_value(32), block({float_value(1.5), float_value(2)})})),
         "make vector! [float! 32 [1.5 2.0]]"},
        {SPEC(block({word("float!"), int_value(64), int_value(2)})), "make vector! [0.0 0.0]"},
        {SPEC(block({word("integer!"), int_value(32), int_value(3), block({int_value(7)})})),
         "make vector! [7 0 0]"},
        {SPEC(block({word("char!"), int_value(8), block({Cell{kTypeChar, 0, 'a', 0}})})),
         "make vector! [char! 8 [#\"a\"]]"},
        {SPEC(block({float_value(0.25), float_value(1)})), "make vector! [0.25 1.0]"},
        {SPEC(block({})), "make vector! [integer! 32 []]"},
    };
    for (const Case& c : cases) EXPECT_EQ(formed(*made(c.spec()), true), c.mold);
    EXPECT_EQ(formed(*made(block({Cell{kTypeChar, 0, 'h', 0}, Cell{kTypeChar, 0, 'i', 0}}))),
              "h i");
}

TEST_F(Vector, MakeErrors) {
    struct Case {
        Cell (*spec)();
        uint32_t category, id;
    } cases[] = {
        {SPEC(block({word("integer!")})), error::kScript, error::script::bad_make_arg},
        {SPEC(block({word("string!"), int_value(8)})), error::kScript, error::script::bad_make_arg},
        {SPEC(block({word("integer!"), int_value(64)})), error::kScript,
         error::script::bad_make_arg},
        {SPEC(block({word("float!"), int_value(16)})), error::kScript, error::script::bad_make_arg},
        {SPEC(block({word("integer!"), block({})})), error::kScript,
         error::script::invalid_spec_field},
        {SPEC(block({word("integer!"), int_value(8), word("x")})), error::kScript,
         error::script::invalid_spec_field},
        {SPEC(block({word("integer!"), int_value(8), block({float_value(1.5)})})), error::kScript,
         error::script::invalid_arg},
        {SPEC(block({Cell{kTypeNone, 0, 0, 0}})), error::kScript, error::script::invalid_type},
        {SPEC(pair_value(1, 1)), error::kInternal, error::internal::not_done},
    };
    for (const Case& c : cases) {
        GcRoot spec(c.spec());
        EXPECT_TRUE(raises(c.category, c.id, [&] { made(spec.cell()); })) << formed(spec.cell());
    }
    EXPECT_TRUE(raises(error::kInternal, error::internal::no_memory,
                       [] { vector::make_at(stack::push_cell(), 0x40000000, kTypeFloat, 8); }));
}

TEST_F(Vector, ElementsReadBackByWidth) {
    Cell* v = made(block({word("integer!"), int_value(8), block({int_value(200), int_value(-1)})}));
    Cell e;
    vector::get_value(memory::buffer(v->w2)->at_head(), 1, kTypeInteger, &e);
    EXPECT_EQ(integer::get(&e), -56);
    // Series actions reach 64-bit elements through the element services.
    Cell* f = made(block({float_value(1.5), float_value(2.5)}));
    Cell* picked = stack::push(*f);
    series::pick(picked, 2, nullptr);
    EXPECT_EQ(formed(*picked, true), "2.5");
    Cell three = float_value(3);
    series::poke(f, 1, &three, nullptr);
    EXPECT_EQ(formed(*f, true), "make vector! [3.0 2.5]");
    Cell* prototype = stack::push(Cell{kTypeDatatype, kTypeBlock, 0, 0});
    EXPECT_EQ(formed(*block::to(prototype, f, kTypeBlock), true), "[3.0 2.5]");
}

TEST_F(Vector, ScalarArithmeticWrapsInPlace) {
    namespace s = action::slot;
    struct Case {
        void (*action)();
        Cell (*spec)();
        Cell scalar;
        const char* result;
    } cases[] = {
        {vector::add, SPEC(block({int_value(2147483647), int_value(1)})), int_value(1),
         "make vector! [-2147483648 2]"},
        {vector::multiply, SPEC(block({word("integer!"), int_value(8), block({int_value(100)})})),
         int_value(3), "make vector! [integer! 8 [44]]"},
        {vector::multiply, SPEC(block({int_value(5)})), int_value(1), "make vector! [5]"},
        {vector::subtract, SPEC(block({int_value(5)})), float_value(2.9), "make vector! [3]"},
        {vector::xor_, SPEC(block({int_value(6)})), int_value(3), "make vector! [5]"},
        {vector::add, SPEC(block({float_value(1)})), float_value(0.5), "make vector! [1.5]"},
        {vector::divide, SPEC(block({float_value(1)})), int_value(0), "make vector! [1.#INF]"},
        {vector::multiply, SPEC(block({pct(0.1)})), int_value(2), "make vector! [20%]"},
    };
    for (const Case& c : cases) {
        Cell v = *made(c.spec());
        EXPECT_EQ(formed(run(c.action, v, c.scalar), true), c.result);
    }
    // A number on the left reaches the same routine.
    Cell v = *made(block({int_value(1), int_value(2)}));
    EXPECT_EQ(formed(run(integer::add, int_value(10), v), true), "make vector! [11 12]");
    Cell w = *made(block({float_value(1)}));
    EXPECT_EQ(formed(run(float_::multiply, float_value(4), w), true), "make vector! [4.0]");
    EXPECT_TRUE(raises(error::kMath, error::math::zero_divide,
                       [&] { run(vector::divide, *made(block({int_value(1)})), int_value(0)); }));
    EXPECT_TRUE(raises(error::kInternal, error::internal::not_done,
                       [&] { run(vector::add, *made(block({int_value(1)})), pair_value(1, 1)); }));
}

TEST_F(Vector, VectorWithVector) {
    // Each operand is rooted: making the next one may move the nodes of those made before.
    GcRoot a(*made(block({int_value(1), int_value(2), int_value(3)})));
    GcRoot b(
        *made(block({int_value(10), int_value(20), int_value(30), int_value(40), int_value(50)})));
    EXPECT_EQ(formed(run(vector::add, a.cell(), b.cell()), true), "make vector! [11 22 33]");
    GcRoot narrow(*made(block({word("integer!"), int_value(8), block({int_value(100)})})));
    GcRoot wide(*made(block({word("integer!"), int_value(16), block({int_value(100)})})));
    EXPECT_EQ(formed(run(vector::add, narrow.cell(), wide.cell()), true),
              "make vector! [integer! 16 [200]]");
    GcRoot f(*made(block({float_value(1)})));
    EXPECT_TRUE(raises(error::kScript, error::script::not_same_type,
                       [&] { run(vector::add, a.cell(), f.cell()); }));
}

TEST_F(Vector, Compare) {
    Cell* a = made(block({int_value(1), int_value(2)}));
    Cell* b = made(block({int_value(1), int_value(3)}));
    Cell* c = made(block({int_value(1), int_value(2), int_value(0)}));
    EXPECT_TRUE(actions::compare(a, b, action::op::lesser));
    EXPECT_FALSE(actions::compare(a, c, action::op::equal));
    EXPECT_TRUE(actions::compare(a, c, action::op::lesser));
    Cell* d = made(block({int_value(1), int_value(2)}));
    EXPECT_TRUE(actions::compare(a, d, action::op::equal));
    EXPECT_FALSE(actions::compare(a, d, action::op::same));
    Cell* f = made(block({float_value(1)}));
    EXPECT_TRUE(raises(error::kScript, error::script::not_same_type,
                       [&] { vector::compare(a, f, action::op::equal); }));
    Cell one = int_value(1);
    EXPECT_EQ(vector::compare(a, &one, action::op::equal), action::kNotComparable);
}

TEST_F(Vector, AppendInsertChange) {
    Cell* v = made(block({int_value(1), int_value(2)}));
    v->w1 = 1;
    Cell nine = int_value(9);
    vector::insert(v, &nine, {.append = true});
    EXPECT_EQ(v->w1, 1u); // append keeps the index
    GcRoot more(block({int_value(7), int_value(8), int_value(6)}));
    vector::insert(v, &more.cell(), {.part = 2, .dup = 2});
    EXPECT_EQ(v->w1, 5u); // insert moves past the new elements
    v->w1 = 0;
    EXPECT_EQ(formed(*v, true), "make vector! [1 7 8 7 8 2 9]");
    v->w1 = 5;
    Cell zero = int_value(0);
    vector::change(v, &zero, {.part = 2});
    v->w1 = 0;
    EXPECT_EQ(formed(*v, true), "make vector! [1 7 8 7 8 0]");
    Cell f = float_value(1);
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_arg,
                       [&] { vector::insert(v, &f, {.append = true}); }));
    EXPECT_TRUE(raises(error::kInternal, error::internal::no_memory,
                       [&] { vector::insert(v, &nine, {.dup = 0x7FFFFFFF, .append = true}); }));
    v->w1 = static_cast<uint32_t>(-3); // a negative index reads as the head
    EXPECT_EQ(vector::zs_length(v), 6u);
    GcRoot two(block({int_value(4), int_value(5)}));
    vector::insert(v, &two.cell(), {.part = 0x7FFFFFFF, .append = true}); // a part beyond the block
    EXPECT_EQ(formed(*v, true), "make vector! [1 7 8 7 8 0 4 5]");
    v->w1 = 0;
    vector::set_tail_at_index(v);
    vector::zs_append_int32(v, 42);
    EXPECT_EQ(formed(*v, true), "make vector! [42]");
    Cell* empty = made(int_value(-5)); // a count below 1 makes an empty vector
    EXPECT_EQ(vector::zs_length(empty), 0u);
}

} // namespace
