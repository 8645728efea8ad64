#include <gtest/gtest.h>

#include "datatypes/dispatch.h"
#include "runtime-core/error-ids.h"
#include "runtime-fixture.h"

namespace {

using Actions = RuntimeTest;

Cell type_value(uint32_t type) {
    Cell c;
    datatype::make_at(&c, type);
    return c;
}

} // namespace

TEST_F(Actions, CompareByCode) {
    Cell none1 = none::value, none2 = none::value, unset1 = unset::value;
    Cell integer_type = type_value(kTypeInteger), string_type = type_value(kTypeString);
    Cell integer_type2 = type_value(kTypeInteger);
    struct Case {
        Cell *a, *b;
        int32_t op;
        bool result;
    } cases[] = {
        {&none1, &none2, action::op::equal, true},
        {&none1, &none2, action::op::not_equal, false},
        {&none1, &unset1, action::op::equal, false},
        {&unset1, &none1, action::op::not_equal, true},
        {&integer_type, &integer_type2, action::op::equal, true},
        {&integer_type, &string_type, action::op::strict_equal, false},
        {&integer_type, &none1, action::op::equal, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(actions::compare(c.a, c.b, c.op), c.result)
            << cell::type(c.a) << " " << cell::type(c.b) << " op " << c.op;
}

TEST_F(Actions, OrderingWhatCannotBeOrderedRaises) {
    Cell a = none::value, b = none::value;
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_compare,
                       [&] { actions::compare(&a, &b, action::op::lesser); }));
    Cell t1 = type_value(kTypeInteger), t2 = type_value(kTypeInteger);
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_compare,
                       [&] { actions::compare(&t1, &t2, action::op::greater_or_equal); }));
}

TEST_F(Actions, LogicValuesCompareByTruth) {
    Cell t = logic::true_value, f = logic::false_value;
    EXPECT_EQ(actions::compare_values(&t, &f, action::op::equal), 1);
    EXPECT_EQ(actions::compare_values(&f, &t, action::op::equal), -1);
    EXPECT_EQ(actions::compare_values(&t, &t, action::op::equal), 0);
}

TEST_F(Actions, UnsupportedActionRaisesExpectArg) {
    Cell t = type_value(kTypeInteger);
    EXPECT_TRUE(raises(error::kScript, error::script::expect_arg,
                       [&] { actions::call<action::slot::clear>(&t); }));
    EXPECT_EQ(cell::type(&error::last_raised.args[1]), kTypeDatatype);
    EXPECT_EQ(error::last_raised.args[1].w1, static_cast<uint32_t>(kTypeDatatype));
}
