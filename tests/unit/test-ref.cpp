#include <gtest/gtest.h>

#include "runtime-core/error-ids.h"
#include "types2-fixture.h"

namespace {

using Ref = Types2Test;

TEST_F(Ref, MoldWritesTheAtSign) {
    GcRoot r(text(kTypeRef, "name")); // forming allocates: keep it current
    EXPECT_EQ(mold_of(r.cell()), "@name");
    EXPECT_EQ(form_of(r.cell()), "name");
    int32_t used = 0;
    formed(r.cell(), true, &used);
    EXPECT_EQ(used, 5);
}

TEST_F(Ref, AppendAndPutAreNotSupported) {
    GcRoot r(text(kTypeRef, "name")); // the next text allocates: keep it current
    GcRoot more(text(kTypeString, "x"));
    EXPECT_TRUE(raises(error::kScript, error::script::expect_arg, [&] {
        actions::call<action::slot::append>(&r.cell(), &more.cell(), {.append = true});
    }));
    EXPECT_EQ(datatype::function<action::slot::put>(kTypeRef), nullptr);
    EXPECT_EQ(actions::call<action::slot::length_q>(&r.cell()), 4);
}

} // namespace
