#include <gtest/gtest.h>

#include "datatypes/more/error-ids.h"
#include "types2-fixture.h"

namespace {

using Ref = Types2Test;

TEST_F(Ref, MoldWritesTheAtSign) {
    const Cell r = text(kTypeRef, "name");
    EXPECT_EQ(mold_of(r), "@name");
    EXPECT_EQ(form_of(r), "name");
    int32_t used = 0;
    formed(r, true, &used);
    EXPECT_EQ(used, 5);
}

TEST_F(Ref, AppendAndPutAreNotSupported) {
    Cell r = text(kTypeRef, "name");
    Cell more = text(kTypeString, "x");
    EXPECT_TRUE(raises(error::kScript, error::script::expect_arg, [&] {
        actions::call<action::slot::append>(&r, &more, -1, false, 1, true);
    }));
    EXPECT_EQ(datatype::function<action::slot::put>(kTypeRef), nullptr);
    EXPECT_EQ(actions::call<action::slot::length_q>(&r), 4);
}

} // namespace
