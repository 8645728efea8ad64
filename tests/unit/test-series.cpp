// series!: the actions every series inherits, tried on blocks and strings: the index rule,
// pick and poke, clear and remove, reverse, take, copy, move and random.
#include <gtest/gtest.h>

#include "block-fixture.h"

namespace {

namespace slot = action::slot;

class Series : public BlockTest {
protected:
    // A deterministic generator standing in for the evaluator's.
    static uint32_t next_random() {
        state() = state() * 1103515245u + 12345u;
        return state() >> 1;
    }
    static void seed_random(uint32_t seed) { state() = seed; }
    static uint32_t& state() {
        static uint32_t s = 1;
        return s;
    }
    void SetUp() override {
        BlockTest::SetUp();
        static const logic::RandomSource source{next_random, next_random, seed_random};
        logic::set_random_source(&source);
        state() = 1;
    }

    static Cell at_index(const Cell* series, uint32_t index) {
        Cell c = *series;
        c.w1 = index;
        return c;
    }
};

TEST_F(Series, AtAndSkipCountFromTheIndexAndStayInside) {
    Cell* b = load("1 2 3 4 5");
    struct Case {
        void (*action)();
        uint32_t index;
        int32_t offset;
        uint32_t expected;
    } cases[] = {
        {series::at, 2, 1, 2},   {series::at, 2, 0, 2},   {series::at, 2, -1, 1},
        {series::at, 2, 2, 3},   {series::at, 0, -9, 0},  {series::at, 2, 99, 5},
        {series::skip, 2, 0, 2}, {series::skip, 2, 1, 3}, {series::skip, 2, -5, 0},
        {series::skip, 2, 9, 5},
    };
    for (const Case& c : cases) {
        Cell offset = integer(c.offset);
        Cell r = frame(c.action, at_index(b, c.index), &offset);
        EXPECT_EQ(r.w1, c.expected) << c.index << " " << c.offset;
    }
    Cell none = none_value();
    EXPECT_TRUE(
        raises(error::kScript, error::script::invalid_arg, [&] { frame(series::at, *b, &none); }));
}

TEST_F(Series, HeadTailNextBackAndTheirQuestions) {
    Cell* b = load("1 2 3");
    EXPECT_EQ(frame(series::back, at_index(b, 0)).w1, 0u);
    EXPECT_EQ(frame(series::back, at_index(b, 2)).w1, 1u);
    EXPECT_EQ(frame(series::next, at_index(b, 3)).w1, 3u);
    EXPECT_EQ(frame(series::next, at_index(b, 1)).w1, 2u);
    EXPECT_EQ(frame(series::tail, *b).w1, 3u);
    EXPECT_EQ(frame(series::head, at_index(b, 2)).w1, 0u);
    EXPECT_EQ(frame(series::head_q, at_index(b, 0)).w1, 1u);
    EXPECT_EQ(frame(series::head_q, at_index(b, 1)).w1, 0u);
    EXPECT_EQ(frame(series::tail_q, at_index(b, 3)).w1, 1u);
    EXPECT_EQ(frame(series::tail_q, at_index(b, 2)).w1, 0u);
    Cell index = frame(series::index_q, at_index(b, 2));
    EXPECT_EQ(cell::type(&index), kTypeInteger);
    EXPECT_EQ(index.w2, 3u);
}

TEST_F(Series, AfterAClearThroughAnotherReferenceTheIndexReadsAsTheTail) {
    Cell* b = load("1 2 3 4");
    Cell* later = stack::push(at_index(b, 2));
    series::clear(b);                                 // b is at its head: everything goes
    EXPECT_EQ(frame(series::index_q, *later).w2, 3u); // not corrected
    EXPECT_EQ(frame(series::tail_q, *later).w1, 1u);
    EXPECT_EQ(series::length_q(later), 0);
    EXPECT_EQ(later->w1, 0u); // length? wrote the correction back
    EXPECT_EQ(frame(series::index_q, *later).w2, 1u);
    EXPECT_EQ(cell::type(series::pick(stack::push(at_index(b, 2)), 1, nullptr)), kTypeNone);
}

TEST_F(Series, PickCountsFromOneAndGivesNoneOutside) {
    Cell* b = load("10 20 30");
    struct Case {
        uint32_t index;
        int32_t n;
        int32_t expected; // 0: none
    } cases[] = {{0, 1, 10},  {0, 3, 30},  {0, 4, 0},  {0, 0, 0},  {0, -1, 0},
                 {2, -1, 20}, {2, -2, 10}, {2, -3, 0}, {1, 2, 30}, {3, -1, 30}};
    for (const Case& c : cases) {
        Cell* r = series::pick(stack::push(at_index(b, c.index)), c.n, nullptr);
        if (c.expected == 0) {
            EXPECT_EQ(cell::type(r), kTypeNone) << c.index << " " << c.n;
        } else {
            EXPECT_EQ(r->w2, static_cast<uint32_t>(c.expected)) << c.index << " " << c.n;
        }
    }
    Cell* s = push_string("abc");
    Cell* ch = series::pick(stack::push(*s), 2, nullptr);
    EXPECT_EQ(cell::type(ch), kTypeChar);
    EXPECT_EQ(ch->w2, static_cast<uint32_t>('b'));
}

TEST_F(Series, PokeStoresOrRaisesOutOfRange) {
    Cell* b = load("1 2 3");
    Cell* v = stack::push(integer(9));
    EXPECT_EQ(series::poke(b, 2, v, nullptr), v);
    EXPECT_EQ(all_of(b), "[1 9 3]");
    for (int32_t n : {0, 4, -1}) {
        EXPECT_TRUE(raises(error::kScript, error::script::out_of_range, [&] {
            series::poke(b, n, v, nullptr);
        })) << n;
        EXPECT_EQ(cell::type(&error::last_raised.args[0]), kTypeInteger);
        EXPECT_EQ(static_cast<int32_t>(error::last_raised.args[0].w2), n);
    }
    // Text takes characters only, and a wider one widens the buffer.
    Cell* s = push_string("abc");
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_arg,
                       [&] { series::poke(s, 1, v, nullptr); }));
    Cell* wide = stack::push(Cell{kTypeChar, 0, 0x263A, 0});
    series::poke(s, 3, wide, nullptr);
    EXPECT_EQ(memory::buffer(s->w2)->unit(), 2u);
    EXPECT_EQ(series::pick(stack::push(*s), 3, nullptr)->w2, 0x263Au);
    EXPECT_EQ(series::pick(stack::push(*s), 1, nullptr)->w2, static_cast<uint32_t>('a'));
}

TEST_F(Series, RemoveByCountPositionAndKey) {
    Cell* b = load("1 2 3 4 5");
    Cell* part = stack::push(integer(0));
    series::remove(b, part, nullptr);
    EXPECT_EQ(all_of(b), "[1 2 3 4 5]");
    series::remove(b, nullptr, nullptr);
    EXPECT_EQ(all_of(b), "[2 3 4 5]");
    Cell* position = stack::push(at_index(b, 2)); // a position in the same series
    series::remove(b, position, nullptr);
    EXPECT_EQ(all_of(b), "[4 5]");
    *part = integer(10); // past the tail: removes to the tail
    Cell* rest = stack::push(at_index(b, 1));
    series::remove(rest, part, nullptr);
    EXPECT_EQ(all_of(b), "[4]");
    Cell* other = load("1 2");
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_refine_arg,
                       [&] { series::remove(b, other, nullptr); }));

    Cell* map = load("a 1 b 2 c 3");
    Cell* key = value_of("b");
    Cell* r = series::remove(map, nullptr, key);
    EXPECT_EQ(r->w1, 2u); // at the removed key
    EXPECT_EQ(all_of(map), "[a 1 c 3]");
    Cell* missing = value_of("zz");
    EXPECT_EQ(cell::type(series::remove(stack::push(*map), nullptr, missing)), kTypeNone);
    EXPECT_EQ(all_of(map), "[a 1 c 3]");
}

// A refinement argument of the wrong kind is named in the error by the runtime's refinement.
TEST_F(Series, BadRefinementArgumentsNameTheRefinement) {
    struct Case {
        const char* name;
        void (*run)(Cell* block, Cell* bad);
        const char* refinement;
    } cases[] = {
        {"remove/part", [](Cell* b, Cell* bad) { series::remove(b, bad, nullptr); }, "part"},
        {"copy/part",
         [](Cell* b, Cell* bad) { series::copy(b, stack::push_cell(), {.part = bad}); }, "part"},
        {"reverse/skip", [](Cell* b, Cell* bad) { series::reverse(b, nullptr, bad); }, "skip"},
        {"find/skip", [](Cell* b, Cell* bad) { block::find(b, value_of("1"), {.skip = bad}); },
         "skip"},
        {"sort/compare", [](Cell* b, Cell* bad) { block::sort(b, {.comparator = bad}); },
         "compare"},
    };
    for (const Case& c : cases) {
        Cell* b = load("1 2 3 4");
        Cell* bad = push_string("x");
        EXPECT_TRUE(raises(error::kScript, error::script::invalid_refine_arg, [&] {
            c.run(b, bad);
        })) << c.name;
        const Cell named = error::last_raised.args[0];
        EXPECT_EQ(mold(&named), c.refinement) << c.name;
    }
}

TEST_F(Series, ReverseWithPartAndSkip) {
    Cell* b = load("1 2 3 4 5 6");
    series::reverse(b, nullptr, nullptr);
    EXPECT_EQ(all_of(b), "[6 5 4 3 2 1]");
    Cell* part = stack::push(integer(3));
    series::reverse(stack::push(at_index(b, 1)), part, nullptr);
    EXPECT_EQ(all_of(b), "[6 3 4 5 2 1]");
    *part = integer(0);
    series::reverse(b, part, nullptr);
    EXPECT_EQ(all_of(b), "[6 3 4 5 2 1]");

    Cell* c = load("1 2 3 4 5 6");
    Cell* skip = stack::push(integer(2));
    series::reverse(c, nullptr, skip);
    EXPECT_EQ(all_of(c), "[5 6 3 4 1 2]");
    *skip = integer(6);
    series::reverse(c, nullptr, skip);
    EXPECT_EQ(all_of(c), "[5 6 3 4 1 2]");
    *skip = integer(4);
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_refine_arg,
                       [&] { series::reverse(c, nullptr, skip); }));
    *skip = integer(0);
    EXPECT_TRUE(raises(error::kScript, error::script::out_of_range,
                       [&] { series::reverse(c, nullptr, skip); }));
    EXPECT_EQ(all_of(c), "[5 6 3 4 1 2]");

    Cell* s = push_string("abc");
    series::reverse(s, nullptr, nullptr);
    EXPECT_EQ(text_of(s), "cba");
}

TEST_F(Series, TakeWithPartAndLast) {
    struct Case {
        const char* values;
        uint32_t index;
        int32_t part; // INT32_MIN: no /part
        bool last;
        const char* taken; // molded; "none" for none
        const char* left;
    } cases[] = {
        {"", 0, INT32_MIN, false, "none", "[]"},      {"1 2 3", 3, 1, false, "none", "[1 2 3]"},
        {"1 2 3", 0, 0, false, "[]", "[1 2 3]"},      {"1 2 3", 2, 0, false, "[2]", "[1 3]"},
        {"1 2 3 4", 0, 2, true, "[3 4]", "[1 2]"},    {"1 2 3 4", 0, 2, false, "[1 2]", "[3 4]"},
        {"1 2 3 4", 3, -2, false, "[2 3]", "[1 4]"},  {"1 2 3 4", 1, -5, false, "[1]", "[2 3 4]"},
        {"1 2 3 4", 1, 9, false, "[2 3 4]", "[1]"},   {"1 2 3", 1, -1, true, "[]", "[1 2 3]"},
        {"1 2 3", 0, INT32_MIN, false, "1", "[2 3]"}, {"1 2 3", 0, INT32_MIN, true, "3", "[1 2]"},
    };
    for (const Case& c : cases) {
        Cell* b = load(c.values);
        Cell* at = stack::push(at_index(b, c.index));
        Cell* part = c.part == INT32_MIN ? nullptr : stack::push(integer(c.part));
        Cell* r = actions::call<slot::take>(at, {.part = part, .last = c.last});
        EXPECT_EQ(mold(r), c.taken) << c.values << " " << c.index << " " << c.part;
        EXPECT_EQ(all_of(b), c.left) << c.values << " " << c.index << " " << c.part;
    }
    // The generic take gives a series of the source's type.
    Cell* s = push_string("xyz");
    Cell* r = series::take(s, {.last = true});
    EXPECT_EQ(cell::type(r), kTypeString);
    EXPECT_EQ(text_of(r), "z");
    EXPECT_EQ(text_of(s), "xy");
}

TEST_F(Series, CopyWithPart) {
    Cell* b = load("1 2 3 4 5");
    struct Case {
        uint32_t index;
        Cell part;
        const char* copied;
    } cases[] = {
        {3, integer(-2), "[2 3]"},
        {1, integer(-2), "[1]"},
        {1, integer(2), "[2 3]"},
        {1, integer(9), "[2 3 4 5]"},
        {5, integer(2), "[]"},
        {0, Cell{kTypePair, 0, 2, 4}, "[2 3]"},
        {0, Cell{kTypePair, 0, 3, 1}, "[]"},
    };
    for (const Case& c : cases) {
        Cell* at = stack::push(at_index(b, c.index));
        Cell* part = stack::push(c.part);
        Cell* r = series::copy(at, stack::push_cell(), {.part = part});
        EXPECT_EQ(mold(r), c.copied) << c.index;
        EXPECT_EQ(r->w1, 0u);
    }
    Cell* position = stack::push(at_index(b, 4));
    EXPECT_EQ(
        mold(series::copy(stack::push(at_index(b, 1)), stack::push_cell(), {.part = position})),
        "[2 3 4]");
    Cell* foreign = load("1");
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_refine_arg,
                       [&] { series::copy(b, stack::push_cell(), {.part = foreign}); }));
    // The copy is a new buffer that keeps the new-line marker but not ownership.
    Cell* marked = stack::push(*b);
    marked->header |= cell::kNewLine;
    Cell* r = series::copy(marked, stack::push_cell(), {});
    EXPECT_NE(r->w2, b->w2);
    EXPECT_TRUE(r->header & cell::kNewLine);
}

TEST_F(Series, MoveWithinOneSeries) {
    struct Case {
        uint32_t from;
        int32_t count;
        uint32_t to;
        const char* result;
    } cases[] = {
        {0, 1, 2, "[2 3 1 4 5]"}, // forward: the unit at the target moves down too
        {0, 1, 5, "[2 3 4 5 1]"}, // to the tail
        {3, 1, 1, "[1 4 2 3 5]"}, // backward: lands at the target
        {3, 2, 0, "[4 5 1 2 3]"}, {1, 2, 3, "[1 4 2 3 5]"}, {2, 1, 2, "[1 2 3 4 5]"}, // onto itself
        {0, 3, 1, "[1 2 3 4 5]"}, // into its own run
        {0, 2, 4, "[1 2 3 4 5]"}, // fewer units after the target than moved: unchanged
    };
    for (const Case& c : cases) {
        Cell* b = load("1 2 3 4 5");
        Cell* origin = stack::push(at_index(b, c.from));
        Cell* target = stack::push(at_index(b, c.to));
        Cell* part = stack::push(integer(c.count));
        series::move(origin, target, part);
        EXPECT_EQ(all_of(b), c.result) << c.from << " " << c.count << " " << c.to;
    }
}

TEST_F(Series, MoveBetweenSeries) {
    Cell* a = load("1 2 3");
    Cell* b = load("7 8");
    Cell* part = stack::push(integer(2));
    Cell* target = stack::push(at_index(b, 1));
    EXPECT_EQ(series::move(stack::push(at_index(a, 1)), target, part), target);
    EXPECT_EQ(all_of(a), "[1]");
    EXPECT_EQ(all_of(b), "[7 2 3 8]");

    Cell* s = push_string("abc");
    EXPECT_TRUE(
        raises(error::kScript, error::script::move_bad, [&] { series::move(s, b, nullptr); }));
    EXPECT_EQ(error::last_raised.args[0].w1, static_cast<uint32_t>(kTypeString));
    EXPECT_EQ(error::last_raised.args[1].w1, static_cast<uint32_t>(kTypeBlock));
    EXPECT_TRUE(
        raises(error::kScript, error::script::move_bad, [&] { series::move(b, s, nullptr); }));
    Cell* number = stack::push(integer(1));
    EXPECT_TRUE(raises(error::kScript, error::script::expect_arg,
                       [&] { series::move(b, number, nullptr); }));
    EXPECT_EQ(all_of(b), "[7 2 3 8]");

    // Characters move into a narrower text by widening it.
    Cell* wide = push_string("xy");
    Cell* smile = stack::push(Cell{kTypeChar, 0, 0x263A, 0});
    series::poke(wide, 1, smile, nullptr);
    series::move(wide, stack::push(at_index(s, 1)), nullptr);
    EXPECT_EQ(memory::buffer(s->w2)->unit(), 2u);
    EXPECT_EQ(series::pick(stack::push(*s), 2, nullptr)->w2, 0x263Au);
    EXPECT_EQ(text_of(wide), "y");
    // A source at its tail moves nothing.
    EXPECT_EQ(series::move(stack::push(at_index(a, 1)), b, nullptr), b);
    EXPECT_EQ(all_of(b), "[7 2 3 8]");
}

TEST_F(Series, RandomShufflesPicksAndSeeds) {
    Cell* b = load("1 2 3 4 5 6 7 8");
    series::random(b, {});
    std::string shuffled = all_of(b);
    EXPECT_NE(shuffled, "[1 2 3 4 5 6 7 8]");
    block::sort(b, {});
    EXPECT_EQ(all_of(b), "[1 2 3 4 5 6 7 8]"); // the same values
    Cell* one = series::random(stack::push(*b), {.only = true});
    EXPECT_EQ(cell::type(one), kTypeInteger);
    EXPECT_TRUE(one->w2 >= 1 && one->w2 <= 8);
    EXPECT_EQ(cell::type(series::random(stack::push(at_index(b, 8)), {.only = true})), kTypeNone);

    // Seeding with equal contents from the index gives the same sequence afterwards.
    Cell* x = load("5 6 7");
    Cell* y = load("0 5 6 7");
    EXPECT_EQ(cell::type(series::random(stack::push(*x), {.seed = true})), kTypeUnset);
    uint32_t first = next_random();
    series::random(stack::push(at_index(y, 1)), {.seed = true});
    EXPECT_EQ(next_random(), first);
}

} // namespace
