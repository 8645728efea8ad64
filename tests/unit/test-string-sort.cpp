// string! sort and its comparators.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "string-actions-fixture.h"

namespace {

class StringSort : public StringActionsTest {
protected:
    struct Options {
        Cell* skip = nullptr;
        Cell* comparator = nullptr;
        Cell* part = nullptr;
        bool all = false;
        bool reverse = false;
        bool stable = false;
        bool case_ = false;
    };
    static Cell* sort(Cell* s, const Options& o) {
        return string::sort(s, {.case_ = o.case_,
                                .skip = o.skip,
                                .comparator = o.comparator,
                                .part = o.part,
                                .all = o.all,
                                .reverse = o.reverse,
                                .stable = o.stable});
    }
    static std::u32string sorted(std::u32string_view text, uint32_t unit, const Options& o) {
        Cell* s = push_text(text, unit);
        sort(s, o);
        return wide_of(s, true);
    }
    static std::string sorted(const std::string& text, const Options& o) {
        Cell* s = push_text(text);
        sort(s, o);
        return whole(s);
    }

    // The comparator hooks: what the stand-in function does with its frame.
    enum class Mode { lesser, difference, records, change };
    static Mode& mode() {
        static Mode m = Mode::lesser;
        return m;
    }
    static int& frame_errors() {
        static int n = 0;
        return n;
    }
    static Cell*& sorting() {
        static Cell* s = nullptr;
        return s;
    }
    // Stands in for the evaluator calling the function: the frame is the result slot, the two
    // arguments, then the refinement slots of "a b /local c": false and none.
    static void call(const Cell*) {
        Cell* args = stack::arguments;
        if (stack::top - args != 5 || cell::type(args + 3) != kTypeLogic || args[3].w1 != 0 ||
            cell::type(args + 4) != kTypeNone)
            ++frame_errors();
        Cell* first = args + 1;
        Cell* second = args + 2;
        switch (mode()) {
        case Mode::lesser:
            if (cell::type(first) != kTypeChar || cell::type(second) != kTypeChar) ++frame_errors();
            logic::make_at(args, first->w2 < second->w2);
            break;
        case Mode::difference:
            series::integer_at(args, static_cast<int32_t>(first->w2 - second->w2));
            break;
        case Mode::records: {
            // Each record arrives as a string of its own, at its head; allocating here moves
            // buffers in torture mode.
            for (Cell* c : {first, second})
                if (cell::type(c) != kTypeString || c->w1 != 0 || string::length(c) != 2 ||
                    c->w2 == sorting()->w2)
                    ++frame_errors();
            string::make_at(stack::push_cell(), 200);
            logic::make_at(args, string::char_at(first, 1) < string::char_at(second, 1));
            break;
        }
        case Mode::change: {
            Cell* c = push_char('!');
            string::append(sorting(), c, {.append = true});
            logic::make_at(args, true);
            break;
        }
        }
    }
    Cell* function() {
        Cell* spec = load("a b /local c");
        return stack::push(Cell{kTypeFunction, 0, spec->w2, 0});
    }
    void SetUp() override {
        StringActionsTest::SetUp();
        // The stand-in function keeps its spec block in word 2: the collector follows it
        // there as it does for a block.
        collector::set_type_marker(kTypeFunction, collector::mark_block_cell);
        block::set_function_caller(call);
        mode() = Mode::lesser;
        frame_errors() = 0;
    }
};

// One-byte texts fold A-Z to lower case only; wider texts fold to upper case.
TEST_F(StringSort, FoldingDependsOnTheWidth) {
    EXPECT_EQ(sorted(U"Ba_", 1, {}), U"_aB");
    EXPECT_EQ(sorted(U"Ba_", 2, {}), U"aB_");
    EXPECT_EQ(sorted(U"Ba_", 4, {}), U"aB_");
    EXPECT_EQ(sorted(U"Ba_", 1, {.case_ = true}), U"B_a");
    EXPECT_EQ(sorted(U"bAaB", 2, {.case_ = true}), U"ABab");
    EXPECT_EQ(sorted(U"\u00E9z\u00C8a", 2, {}), U"az\u00C8\u00E9");
    EXPECT_EQ(sorted(U"\U0001F600b\U0001F601a", 4, {.reverse = true}), U"\U0001F601\U0001F600ba");
    EXPECT_EQ(sorted("dbca", {.reverse = true}), "dcba");
    EXPECT_EQ(sorted("", {}), "");
}

TEST_F(StringSort, PartSkipAndCompare) {
    EXPECT_EQ(sorted("dcba", {.part = push_integer(2)}), "cdba");
    Cell* s = push_text("dcba");
    Cell* at = push_at(s, 3);
    sort(at, {.part = push_integer(-2)});
    EXPECT_EQ(whole(s), "dbca");
    EXPECT_EQ(at->w1, 1u); // at the start of the sorted run
    Cell* before = push_at(s, 1);
    sort(before, {.part = push_integer(-5)});
    EXPECT_EQ(before->w1, 0u);
    EXPECT_EQ(whole(s), "dbca");
    Cell* t = push_text("dcba");
    sort(t, {.part = push_at(t, 3)});
    EXPECT_EQ(whole(t), "bcda");

    Cell* two = push_integer(2);
    EXPECT_EQ(sorted("c1a3b2", {.skip = two}), "a3b2c1");
    EXPECT_EQ(sorted("c1a3b2", {.skip = two, .comparator = push_integer(2)}), "c1b2a3");
    EXPECT_EQ(sorted("b2a2a1", {.skip = two, .all = true}), "a1a2b2");
    EXPECT_EQ(sorted("b2a2a1", {.skip = two, .all = true, .reverse = true}), "b2a2a1");
}

TEST_F(StringSort, BadRefinements) {
    Cell* two = push_integer(2);
    Cell* odd = push_text("abc");
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_refine_arg,
                       [&] { sort(odd, {.skip = two}); }));
    Cell* four = push_integer(4);
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_refine_arg,
                       [&] { sort(odd, {.skip = four}); }));
    EXPECT_TRUE(
        raises(error::kScript, error::script::bad_refines, [&] { sort(odd, {.all = true}); }));
    Cell* one = push_integer(1);
    Cell* even = push_text("abcd");
    EXPECT_TRUE(raises(error::kScript, error::script::bad_refines,
                       [&] { sort(even, {.comparator = one}); }));
    EXPECT_TRUE(raises(error::kScript, error::script::bad_refines,
                       [&] { sort(even, {.skip = two, .comparator = one, .all = true}); }));
    Cell* three = push_integer(3);
    EXPECT_TRUE(raises(error::kScript, error::script::out_of_range,
                       [&] { sort(even, {.skip = two, .comparator = three}); }));
    Cell* text = push_text("x");
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_refine_arg,
                       [&] { sort(even, {.comparator = text}); }));
    Cell* other = push_text("abcd");
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_refine_arg,
                       [&] { sort(even, {.part = push_at(other, 2)}); }));
    EXPECT_EQ(whole(even), "abcd");
}

// Equal records keep their order with /stable, whether or not /case is given.
TEST_F(StringSort, StableKeepsEqualRecordsInOrderAlsoWithCase) {
    for (bool case_ : {false, true}) {
        std::u32string text;
        const std::u32string keys = U"bBaA";
        for (uint32_t i = 0; i < 400; ++i) {
            text += keys[(i * 7) % 4];
            text += static_cast<char32_t>(0x100 + i); // the record's place
        }
        Cell* two = push_integer(2);
        Cell* s = push_text(text, 2);
        sort(s, {.skip = two, .comparator = push_integer(1), .stable = true, .case_ = case_});
        const std::u32string out = wide_of(s);
        for (size_t i = 2; i < out.size(); i += 2) {
            const char32_t a = case_ ? out[i - 2] : case_::to_upper(out[i - 2]);
            const char32_t b = case_ ? out[i] : case_::to_upper(out[i]);
            ASSERT_LE(a, b) << case_;
            if (a == b) {
                ASSERT_LT(out[i - 1], out[i + 1]) << case_ << " at " << i;
            }
        }
    }
}

TEST_F(StringSort, UserComparator) {
    Cell* f = function();
    EXPECT_EQ(sorted("3125", {.comparator = f}), "1235");
    EXPECT_EQ(sorted("3125", {.comparator = f, .reverse = true}), "5321");
    EXPECT_EQ(sorted("3125", {.comparator = f, .stable = true}), "1235");
    EXPECT_EQ(sorted(U"b\u0101a", 2, {.comparator = f}), U"ab\u0101");
    // A positive answer puts the comparator's first argument first, as for blocks.
    mode() = Mode::difference;
    EXPECT_EQ(sorted("3125", {.comparator = f}), "5321");
    // Whole records arrive as strings of their own.
    mode() = Mode::records;
    Cell* two = push_integer(2);
    for (bool stable : {false, true}) {
        Cell* s = push_text("a3b1c2d0");
        sorting() = s;
        sort(s, {.skip = two, .comparator = f, .all = true, .stable = stable});
        EXPECT_EQ(whole(s), "d0b1c2a3");
    }
    EXPECT_EQ(frame_errors(), 0);

    Cell* three_args = stack::push(Cell{kTypeFunction, 0, load("a b c")->w2, 0});
    Cell* s = push_text("ba");
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_refine_arg,
                       [&] { sort(s, {.comparator = three_args}); }));
}

TEST_F(StringSort, AComparatorThatChangesTheTextIsStopped) {
    Cell* f = function();
    mode() = Mode::change;
    Cell* s = push_text("3125");
    sorting() = s;
    EXPECT_TRUE(
        raises(error::kScript, error::script::protected_, [&] { sort(s, {.comparator = f}); }));
    EXPECT_EQ(whole(s), "3125!"); // one change, then the sort stopped
}

TEST_F(StringSort, FloatComparatorsTreatNaNAsEqual) {
    const double values[] = {1.0, 2.0, std::numeric_limits<double>::quiet_NaN()};
    EXPECT_EQ(string::sort_compare_float64(&values[0], &values[1], 0, 0), -1);
    EXPECT_EQ(string::sort_compare_float64(&values[1], &values[0], 0, 0), 1);
    EXPECT_EQ(string::sort_compare_float64(&values[0], &values[1], 0, 1), 1);
    EXPECT_EQ(string::sort_compare_float64(&values[0], &values[2], 0, 0), 0);
    const float pair[] = {5.0f, 1.0f, 1.0f, 5.0f};
    // Whole records of two: the first elements decide.
    EXPECT_EQ(string::sort_compare_float32(&pair[0], &pair[2], 0, 2 | (2 << 2)), 1);
    // The second element (offset 1) decides.
    EXPECT_EQ(string::sort_compare_float32(&pair[0], &pair[2], 0, 1 << 2), -1);
}

} // namespace
