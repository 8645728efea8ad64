#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime-core/cell.h"
#include "runtime-core/dyn-print.h"

namespace {

std::vector<std::string> calls;

template <int N> void value_hook(const Cell*, int32_t newline) {
    calls.push_back("v" + std::to_string(N) + ":" + std::to_string(newline));
}
template <int N> void text_hook(const char* text, int32_t length, int32_t newline) {
    std::string s = length < 0 ? std::string(text) : std::string(text, length);
    calls.push_back("t" + std::to_string(N) + ":" + s + ":" + std::to_string(newline));
}

} // namespace

TEST(DynPrint, HooksRunInRegistrationOrderAndListsGrowByFive) {
    dyn_print::init();
    calls.clear();
    Cell cell{};
    dyn_print::call(&cell, 1); // no hooks: nothing happens
    dyn_print::call_print("x", 1, 0);
    EXPECT_TRUE(calls.empty());

    dyn_print::add(value_hook<1>, text_hook<1>);
    dyn_print::add(value_hook<2>, nullptr);
    dyn_print::add(nullptr, text_hook<2>);
    dyn_print::add(value_hook<3>, nullptr);
    dyn_print::add(value_hook<4>, nullptr);
    EXPECT_EQ(dyn_print::value_hook_count(), 4u);
    EXPECT_EQ(dyn_print::text_hook_count(), 2u);

    dyn_print::add(value_hook<5>, nullptr);
    EXPECT_EQ(dyn_print::value_hook_capacity(), 5u);
    dyn_print::add(value_hook<6>, nullptr); // the sixth enlarges that list only
    EXPECT_EQ(dyn_print::value_hook_capacity(), 10u);
    EXPECT_EQ(dyn_print::text_hook_capacity(), 5u);

    dyn_print::call(&cell, 1);
    dyn_print::call_print("ab", 2, 0);
    dyn_print::call_print("zs", -1, 0);
    EXPECT_EQ(calls, (std::vector<std::string>{"v1:1", "v2:1", "v3:1", "v4:1", "v5:1", "v6:1",
                                               "t1:ab:0", "t2:ab:0", "t1:zs:0", "t2:zs:0"}));
    dyn_print::init(); // leave no hooks behind for other tests
}
