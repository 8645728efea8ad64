#include <gtest/gtest.h>

#include "types2-fixture.h"

namespace {

using Tag = Types2Test;

TEST_F(Tag, FormAndMoldWriteTheBrackets) {
    GcRoot t(text(kTypeTag, "a href=\"x\"")); // forming allocates: keep it current
    EXPECT_EQ(form_of(t.cell()), "<a href=\"x\">");
    EXPECT_EQ(mold_of(t.cell()), "<a href=\"x\">");
    int32_t used = 0;
    formed(t.cell(), true, &used);
    EXPECT_EQ(used, 12);
    EXPECT_EQ(mold_of(text(kTypeTag, "")), "<>");
}

TEST_F(Tag, SharesTheStringActions) {
    Cell t = text(kTypeTag, "abc");
    EXPECT_EQ(actions::call<action::slot::length_q>(&t), 3);
    EXPECT_EQ(datatype::function<action::slot::append>(kTypeTag),
              datatype::function<action::slot::append>(kTypeString));
    EXPECT_EQ(datatype::function<action::slot::sort>(kTypeTag), nullptr);
}

} // namespace
