#include <gtest/gtest.h>

#include <vector>

#include "runtime-core/externals.h"

namespace {

std::vector<uintptr_t> released;
void release(uintptr_t value) {
    released.push_back(value);
}

class Externals : public testing::Test {
protected:
    void SetUp() override {
        externals::init();
        released.clear();
        kind = externals::register_kind("image", release);
        silent = externals::register_kind("plain", nullptr);
    }
    uint32_t kind = 0;
    uint32_t silent = 0;
};

std::vector<int32_t> live_rows() {
    std::vector<int32_t> rows;
    for (int32_t r = externals::table.live_head; r != -1; r = externals::table.rows[r].next)
        rows.push_back(r);
    return rows;
}

} // namespace

TEST_F(Externals, KindsAreNumberedFromOne) {
    EXPECT_EQ(kind, 1u);
    EXPECT_EQ(silent, 2u);
    EXPECT_STREQ(externals::table.kinds[0].name, "image");
}

TEST_F(Externals, RowsComeInOrderAndGoOntoTheLiveList) {
    EXPECT_EQ(externals::table.live_head, -1);
    EXPECT_EQ(externals::alloc(10, kind), 0);
    EXPECT_EQ(externals::alloc(11, kind), 1);
    EXPECT_EQ(live_rows(), (std::vector<int32_t>{1, 0}));
    EXPECT_EQ(externals::table.rows[1].kind, kind);
    EXPECT_EQ(externals::table.rows[1].value, 11u);
}

TEST_F(Externals, TheLastFreeRowIsNeverTaken) {
    for (uint32_t i = 0; i < externals::kInitialRows - 1; ++i) externals::alloc(i + 1, kind);
    EXPECT_EQ(externals::table.capacity, externals::kInitialRows);
    EXPECT_EQ(externals::table.rows[externals::table.free_head].next, -1);
    // Only one free row is left: the table doubles before it is taken.
    EXPECT_EQ(externals::alloc(5000, kind), 999);
    EXPECT_EQ(externals::table.capacity, 2 * externals::kInitialRows);
    EXPECT_EQ(externals::table.free_head, 1000);
    EXPECT_EQ(externals::alloc(5001, kind), 1000);
    EXPECT_EQ(externals::table.rows[1999].next, -1);
    EXPECT_EQ(externals::table.rows[1500].kind, externals::kFreeRow);
}

TEST_F(Externals, SetReleasesOnlyAChangedValue) {
    int32_t row = externals::alloc(7, kind);
    externals::set(row, 7);
    EXPECT_TRUE(released.empty());
    externals::set(row, 8);
    EXPECT_EQ(released, (std::vector<uintptr_t>{7}));
    EXPECT_EQ(externals::table.rows[row].value, 8u);
}

TEST_F(Externals, FreeUnlinksAndReleasesWhenAsked) {
    int32_t a = externals::alloc(1, kind);
    int32_t b = externals::alloc(2, kind);
    int32_t c = externals::alloc(3, kind);
    EXPECT_EQ(externals::free(b, false), -1);
    EXPECT_TRUE(released.empty());
    EXPECT_EQ(externals::free(a, true), -1);
    EXPECT_EQ(released, (std::vector<uintptr_t>{1}));
    EXPECT_EQ(live_rows(), (std::vector<int32_t>{c}));
    EXPECT_EQ(externals::table.rows[a].kind, externals::kFreeRow);
    EXPECT_EQ(externals::table.rows[a].value, 0u);
    EXPECT_EQ(externals::table.free_head, a); // freed rows are reused first
    EXPECT_EQ(externals::free(a, true), -1);  // not live: nothing happens
    EXPECT_EQ(externals::free(-1, true), -1);
    EXPECT_EQ(released.size(), 1u);
}

TEST_F(Externals, SweepReleasesUnmarkedRowsAndClearsMarks) {
    int32_t kept = externals::alloc(1, kind);
    int32_t lost = externals::alloc(2, kind);
    int32_t quiet = externals::alloc(3, silent);
    EXPECT_EQ(externals::mark(kept, 0), 1);
    EXPECT_EQ(externals::mark(kept, 0), 0);
    EXPECT_EQ(externals::mark(5000, 0), 0);
    EXPECT_EQ(externals::mark(lost + 10, 0), 0); // a free row
    externals::sweep();
    EXPECT_EQ(released, (std::vector<uintptr_t>{2})); // the kind without a callback is quiet
    EXPECT_EQ(live_rows(), (std::vector<int32_t>{kept}));
    EXPECT_EQ(externals::table.rows[kept].kind, kind);
    EXPECT_EQ(externals::table.rows[quiet].kind, externals::kFreeRow);
    // Marking can refresh the value a row holds.
    externals::mark(kept, 99);
    EXPECT_EQ(externals::table.rows[kept].value, 99u);
}

namespace {
std::vector<uintptr_t> seen;
void see(uintptr_t value) {
    seen.push_back(value);
}
} // namespace

TEST_F(Externals, ForEachVisitsTheLiveRowsOfOneKind) {
    externals::alloc(1, kind);
    externals::alloc(2, silent);
    int32_t gone = externals::alloc(3, kind);
    externals::alloc(4, kind);
    externals::free(gone, false);
    seen.clear();
    externals::for_each(kind, see);
    EXPECT_EQ(seen, (std::vector<uintptr_t>{4, 1}));
}
