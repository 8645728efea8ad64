#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "datatypes/triple.h"
#include "number-fixture.h"

namespace {

class Triple : public NumberTest {
protected:
    void SetUp() override {
        NumberTest::SetUp();
        triple::register_actions();
    }
    static Cell triple_value(int32_t a, int32_t b, int32_t c) {
        return Cell{kTypeTriple, static_cast<uint32_t>(a), static_cast<uint32_t>(b),
                    static_cast<uint32_t>(c)};
    }
};

TEST_F(Triple, FormAndMoldWriteTheConstruction) {
    constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
    struct Case {
        Cell value;
        const char* text;
    } cases[] = {
        {triple_value(1, 2, 3), "make triple! [1 2 3]"},
        {triple_value(0, 0, 0), "make triple! [0 0 0]"},
        {triple_value(-1, 1048576, -20), "make triple! [-1 1048576 -20]"},
        {triple_value(kMin, 2147483647, kMin), "make triple! [-2147483648 2147483647 -2147483648]"},
    };
    for (const Case& c : cases) {
        // The budget falls by the characters written.
        const auto expected =
            std::make_pair(std::string(c.text), 1000 - static_cast<int32_t>(std::strlen(c.text)));
        EXPECT_EQ(formed(c.value), expected);
        EXPECT_EQ(molded(c.value), expected);
    }
    EXPECT_EQ(formed(triple_value(1, 2, 3)).second, 980);
}

TEST_F(Triple, PartDoesNotCutTheText) {
    stack::clear();
    Cell* s = string::make_at(stack::push_cell(), 16);
    Cell* v = stack::push(triple_value(1, 2, 3));
    Cell* part = integer::push(3);
    EXPECT_EQ(triple::mold(v, s, {.part = part}, 3, 0), 3 - 20);
    EXPECT_EQ(string::length_from_head(s), 20u);
}

TEST_F(Triple, OnlyFormAndMold) {
    for (uint32_t s = 1; s <= action::kSlotCount; ++s) {
        const bool expected = s == action::slot::form || s == action::slot::mold;
        EXPECT_EQ(datatype::entry(kTypeTriple, static_cast<action::Slot>(s)) != nullptr, expected)
            << s;
    }
    EXPECT_STREQ(datatype::name_record(kTypeTriple).name, "triple!");
}

} // namespace
