#include <gtest/gtest.h>

#include "runtime-core/error-ids.h"
#include "types2-fixture.h"

namespace {

class Time : public Types2Test {
protected:
    // The field word of a name.
    Cell field(const char* name) { return unbound(kTypeWord, sym(name)); }
};

TEST_F(Time, FormWritesHoursMinutesAndSeconds) {
    struct Case {
        double seconds;
        const char* text;
    } cases[] = {
        {3723.5, "1:02:03.5"},  {0, "0:00:00"},
        {-90, "-0:01:30"},      {5, "0:00:05"},
        {5.5, "0:00:05.5"},     {90000, "25:00:00"},
        {0.0000001, "0:00:00"}, {59.123456789, "0:00:59.1235"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(form_of(time_value(c.seconds)), c.text) << c.seconds;
        EXPECT_EQ(mold_of(time_value(c.seconds)), c.text) << c.seconds;
    }
    int32_t used = 0;
    formed(time_value(3723.5), true, &used);
    EXPECT_EQ(used, 9);
}

// Hours beyond any fixed few digits are written in full.
TEST_F(Time, HugeDurationsFormInFull) {
    const std::string text = form_of(time_value(-1e300));
    EXPECT_EQ(text[0], '-');
    EXPECT_EQ(text.find(':'), 298u); // the sign and the 297 digits of 1e300 / 3600
    EXPECT_EQ(mold_of(time_value(1.7e308)).find(':'), 305u);
}

TEST_F(Time, MakeFromNumbersAndBlocks) {
    EXPECT_EQ(seconds_of(convert(time_::make, kTypeTime, int_value(90))), 90);
    EXPECT_EQ(seconds_of(convert(time_::make, kTypeTime, float_value(1.5))), 1.5);
    struct Case {
        std::initializer_list<Cell> values;
        double seconds;
    } cases[] = {
        {{int_value(1), int_value(2), int_value(3)}, 3723},
        {{int_value(-1), int_value(30)}, -5400},
        {{int_value(2)}, 7200},
        {{int_value(0), int_value(0), float_value(1.25)}, 1.25},
    };
    for (const Case& c : cases) {
        GcRoot spec(block(c.values));
        EXPECT_EQ(seconds_of(convert(time_::make, kTypeTime, spec.cell())), c.seconds);
    }
}

TEST_F(Time, MakeRefusesBadSpecs) {
    const std::initializer_list<Cell> bad[] = {
        {int_value(1), int_value(-2)},
        {int_value(1), int_value(2), int_value(3), int_value(4)},
        {},
        {float_value(1.5)},
        {int_value(1), float_value(2.5)},
    };
    for (const auto& values : bad) {
        GcRoot spec(block(values));
        EXPECT_TRUE(raises(error::kScript, error::script::bad_to_arg,
                           [&] { convert(time_::make, kTypeTime, spec.cell()); }));
    }
    EXPECT_TRUE(raises(error::kScript, error::script::bad_to_arg, [&] {
        convert(time_::make, kTypeTime, Cell{kTypeNone, 0, 0, 0});
    }));
}

TEST_F(Time, FieldsReadAndSetThroughPaths) {
    struct Get {
        double seconds;
        int32_t hour, minute;
        double second;
    } gets[] = {{5400, 1, 30, 0}, {-5430, -1, 30, -30}, {3723.5, 1, 2, 3.5}};
    for (const Get& g : gets) {
        Cell t = time_value(g.seconds);
        Cell r{};
        EXPECT_EQ(integer::get(time_::get_field(g.seconds, 1, &r)), g.hour);
        EXPECT_EQ(integer::get(time_::get_field(g.seconds, 2, &r)), g.minute);
        EXPECT_EQ(seconds_of(*time_::get_field(g.seconds, 3, &r)), g.second);
        GcRoot word(field("minute"));
        Cell* got = time_::eval_path(&t, &word.cell(), nullptr, {.get = true});
        EXPECT_EQ(integer::get(got), g.minute);
    }
    struct Set {
        double seconds;
        const char* field;
        Cell value;
        const char* text;
    } sets[] = {
        {5400, "hour", int_value(25), "25:30:00"},
        {10, "second", float_value(1.5), "0:00:01.5"},
        {3723, "minute", int_value(59), "1:59:03"},
        {3723, "second", int_value(0), "1:02:00"},
    };
    for (const Set& s : sets) {
        Cell t = time_value(s.seconds);
        GcRoot word(field(s.field));
        Cell v = s.value;
        time_::eval_path(&t, &word.cell(), &v, {});
        EXPECT_EQ(form_of(t), s.text) << s.field;
    }
    Cell t = time_value(10);
    Cell two = int_value(2);
    time_::eval_path(&t, &two, nullptr, {.get = true});
    EXPECT_EQ(integer::get(stack::top_value()), 0);
}

// What the object change hook received.
struct Seen {
    static inline int calls = 0;
    static inline double old_seconds = 0, new_seconds = 0;
    static void hook(const Cell*, const Cell*, const Cell* old_value, const Cell* new_value) {
        ++calls;
        old_seconds = float_::get(old_value);
        new_seconds = float_::get(new_value);
    }
};

TEST_F(Time, SettingAFieldTellsTheOwningObject) {
    time_::set_object_change_hook(Seen::hook);
    Cell t = time_value(5400);
    Cell object{kTypeObject, 0, 0, 0};
    GcRoot field_word(field("t"));
    GcRoot hour(field("hour"));
    Cell two = int_value(2);
    time_::eval_path(&t, &hour.cell(), &two,
                     {.grand_parent = &object, .previous = &field_word.cell()});
    time_::set_object_change_hook(nullptr);
    EXPECT_EQ(Seen::calls, 1);
    EXPECT_EQ(Seen::old_seconds, 5400);
    EXPECT_EQ(Seen::new_seconds, 9000);
    // A read tells nobody.
    time_::set_object_change_hook(Seen::hook);
    time_::eval_path(&t, &hour.cell(), nullptr,
                     {.grand_parent = &object, .previous = &field_word.cell(), .get = true});
    time_::set_object_change_hook(nullptr);
    EXPECT_EQ(Seen::calls, 1);
}

TEST_F(Time, PathErrors) {
    Cell t = time_value(10);
    GcRoot other(field("day"));
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_path,
                       [&] { time_::eval_path(&t, &other.cell(), nullptr, {.get = true}); }));
    GcRoot hour(field("hour"));
    Cell half = float_value(1.5);
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_arg,
                       [&] { time_::eval_path(&t, &hour.cell(), &half, {}); }));
    EXPECT_EQ(seconds_of(t), 10); // unchanged
    EXPECT_TRUE(
        raises(error::kScript, error::script::out_of_range, [&] { time_::pick(&t, 4, nullptr); }));
    Cell p = t;
    EXPECT_EQ(integer::get(time_::pick(&p, 2, nullptr)), 0);
}

TEST_F(Time, Arithmetic) {
    Cell r = run(time_::divide, time_value(3600), time_value(1800));
    EXPECT_EQ(cell::type(&r), kTypeFloat);
    EXPECT_EQ(seconds_of(r), 2.0);
    r = run(time_::divide, time_value(3600), int_value(2));
    EXPECT_EQ(cell::type(&r), kTypeTime);
    EXPECT_EQ(seconds_of(r), 1800);
    r = run(time_::multiply, time_value(90), int_value(2));
    EXPECT_EQ(cell::type(&r), kTypeTime);
    EXPECT_EQ(seconds_of(r), 180);
    r = run(time_::add, time_value(90), float_value(0.5));
    EXPECT_EQ(form_of(r), "0:01:30.5");
    r = run(time_::subtract, time_value(90), time_value(100));
    EXPECT_EQ(form_of(r), "-0:00:10");
    EXPECT_TRUE(raises(error::kScript, error::script::not_related,
                       [&] { run(time_::multiply, time_value(1), time_value(2)); }));
    EXPECT_TRUE(raises(error::kScript, error::script::not_related,
                       [&] { run(time_::subtract, time_value(1), date_value(2020, 1, 1)); }));
    // time + date is a date.
    r = run(time_::add, time_value(3600), date_value(2020, 1, 15));
    EXPECT_EQ(mold_of(r), "15-Jan-2020/1:00:00");
}

TEST_F(Time, ParityAndRound) {
    struct Case {
        double seconds;
        bool even;
    } cases[] = {{2.5, true}, {3, false}, {0, true}, {-3, false}, {61, false}, {1.9999999, true}};
    for (const Case& c : cases) {
        Cell t = time_value(c.seconds);
        EXPECT_EQ(time_::even_q(&t), c.even) << c.seconds;
        EXPECT_EQ(time_::odd_q(&t), !c.even) << c.seconds;
    }
    Cell t = time_value(10.6);
    time_::round(&t, {});
    EXPECT_EQ(cell::type(&t), kTypeTime);
    EXPECT_EQ(seconds_of(t), 11);
    t = time_value(100);
    Cell scale = int_value(60);
    time_::round(&t, {.scale = &scale});
    EXPECT_EQ(cell::type(&t), kTypeTime);
    EXPECT_EQ(seconds_of(t), 120);
}

} // namespace
