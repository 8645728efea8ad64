#include <gtest/gtest.h>

#include "compound-fixture.h"

namespace {

class Handle : public CompoundTest {
protected:
    static std::string molded_all(const Cell& value) {
        Cell* held = stack::push(value);
        Cell* s = string::make_at(stack::push_cell(), 16);
        const int32_t left = handle::mold(held, s, {.all = true}, 1000, 0);
        std::string out = ascii(*s);
        EXPECT_EQ(1000 - left, static_cast<int32_t>(out.size()));
        return out;
    }
};

TEST_F(Handle, FormsAndMolds) {
    Cell h;
    handle::make_at(&h, 0x1A2B, handle::kWindow);
    int32_t used = 0;
    EXPECT_EQ(formed(h, false, &used), "00001A2Bh");
    EXPECT_EQ(used, 9);
    EXPECT_EQ(formed(h, true), "handle!");
    EXPECT_EQ(molded_all(h), "#[handle! 00001A2Bh window]");
    handle::make_at(&h, 0xFFFFFFFF, handle::kNone);
    EXPECT_EQ(molded_all(h), "#[handle! FFFFFFFFh]");
    handle::make_at(&h, 1, 99);
    EXPECT_EQ(molded_all(h), "#[handle! 00000001h]");
}

TEST_F(Handle, ComparesValuesWhateverTheClass) {
    Cell a, b, c;
    handle::make_at(&a, 5, handle::kFont);
    handle::make_at(&b, 5, handle::kFd);
    handle::make_at(&c, 0xFFFFFFFF, handle::kFd); // -1 as a signed value
    EXPECT_TRUE(actions::compare(&a, &b, action::op::equal));
    EXPECT_TRUE(actions::compare(&c, &a, action::op::lesser));
    Cell five = int_value(5);
    EXPECT_EQ(handle::compare(&a, &five, action::op::equal), 1);
    EXPECT_EQ(a.w3, 0xFFFFFFFFu);
    // Handles take no arithmetic even though integer! is their parent.
    EXPECT_EQ(datatype::function<action::slot::add>(kTypeHandle), nullptr);
}

} // namespace
