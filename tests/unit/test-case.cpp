#include <gtest/gtest.h>

#include <iterator>
#include <unordered_map>

#include "datatypes/string-case.h"
#include "runtime-core/case.h"
#include "string-fixture.h"

namespace {

class CaseFolding : public testing::Test {
protected:
    void SetUp() override { case_::init(); }
};

template <size_t N>
void add_pairs(std::unordered_map<uint32_t, uint32_t>& map, const case_::Pair (&pairs)[N]) {
    for (const auto& p : pairs) map.emplace(p.from, p.to);
}

template <size_t N> bool strictly_sorted(const case_::Pair (&pairs)[N]) {
    for (size_t i = 1; i < N; ++i)
        if (pairs[i - 1].from >= pairs[i].from) return false;
    return true;
}

} // namespace

// Every code point maps as the pair lists say, through the direct tables up to FFFF and the
// list lookup above it; code points without a pair map to themselves.
TEST_F(CaseFolding, EveryCodePointFollowsThePairLists) {
    std::unordered_map<uint32_t, uint32_t> upper, lower;
    add_pairs(upper, case_::bmp_lower_to_upper);
    add_pairs(upper, case_::wide_lower_to_upper);
    add_pairs(lower, case_::bmp_upper_to_lower);
    add_pairs(lower, case_::wide_upper_to_lower);
    for (uint32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        const auto u = upper.find(cp);
        const auto l = lower.find(cp);
        ASSERT_EQ(case_::fold_wide(cp, true), u == upper.end() ? cp : u->second) << std::hex << cp;
        ASSERT_EQ(case_::fold_wide(cp, false), l == lower.end() ? cp : l->second) << std::hex << cp;
    }
}

TEST_F(CaseFolding, PairCountsAndOrder) {
    int up_bmp = 0, low_bmp = 0, up_wide = 0, low_wide = 0;
    for (uint32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        const bool bmp = cp <= 0xFFFF;
        if (case_::fold_wide(cp, true) != cp) ++(bmp ? up_bmp : up_wide);
        if (case_::fold_wide(cp, false) != cp) ++(bmp ? low_bmp : low_wide);
    }
    EXPECT_EQ(up_bmp, 1250);
    EXPECT_EQ(low_bmp, 1158);
    EXPECT_EQ(up_wide, 225);
    EXPECT_EQ(low_wide, 225);

    EXPECT_TRUE(strictly_sorted(case_::bmp_lower_to_upper));
    EXPECT_TRUE(strictly_sorted(case_::bmp_upper_to_lower));
    EXPECT_TRUE(strictly_sorted(case_::wide_lower_to_upper));
    EXPECT_TRUE(strictly_sorted(case_::wide_upper_to_lower));
    // First and last pairs: ("a", "A") to (FF5A, FF3A), and ("A", "a") to (FF3A, FF5A).
    EXPECT_EQ(case_::bmp_lower_to_upper[0].from, 0x61u);
    EXPECT_EQ(case_::bmp_lower_to_upper[0].to, 0x41u);
    EXPECT_EQ(std::end(case_::bmp_lower_to_upper)[-1].from, 0xFF5Au);
    EXPECT_EQ(std::end(case_::bmp_lower_to_upper)[-1].to, 0xFF3Au);
    EXPECT_EQ(case_::bmp_upper_to_lower[0].from, 0x41u);
    EXPECT_EQ(case_::bmp_upper_to_lower[0].to, 0x61u);
    EXPECT_EQ(std::end(case_::bmp_upper_to_lower)[-1].from, 0xFF3Au);
    EXPECT_EQ(std::end(case_::bmp_upper_to_lower)[-1].to, 0xFF5Au);
}

// The supplementary pairs cover exactly these ranges, both directions alike.
TEST_F(CaseFolding, SupplementaryRanges) {
    const std::pair<uint32_t, uint32_t> ranges[] = {{0x10400, 0x1044F}, {0x104B0, 0x104FB},
                                                    {0x10C80, 0x10CF2}, {0x118A0, 0x118DF},
                                                    {0x16E40, 0x16E7F}, {0x1E900, 0x1E943}};
    for (const auto* list : {case_::wide_lower_to_upper, case_::wide_upper_to_lower})
        for (size_t i = 0; i < 225; ++i) {
            bool inside = false;
            for (const auto& [first, last] : ranges)
                inside |= list[i].from >= first && list[i].from <= last;
            EXPECT_TRUE(inside) << std::hex << list[i].from;
        }
}

TEST_F(CaseFolding, NamedMappings) {
    struct Case {
        uint32_t cp, upper, lower;
    };
    const Case cases[] = {
        {'a', 'A', 'a'},
        {'A', 'A', 'a'},
        {'7', '7', '7'},
        {0xDF, 0x53, 0xDF},  // sharp s upper-cases to "S"
        {0xB5, 0x39C, 0xB5}, // micro sign
        {0xFF, 0x178, 0xFF},
        {0x131, 0x49, 0x131},   // dotless i
        {0x130, 0x130, 0x69},   // capital I with dot
        {0x212A, 0x212A, 0x6B}, // Kelvin sign
        {0xFF5A, 0xFF3A, 0xFF5A},
        {0xFF3A, 0xFF3A, 0xFF5A},
        {0x1E922, 0x1E900, 0x1E922},
        {0x1E943, 0x1E921, 0x1E943},
        {0x1E900, 0x1E900, 0x1E922},
        {0x1E944, 0x1E944, 0x1E944},
        {0x10000, 0x10000, 0x10000},
        {0x10400, 0x10400, 0x10428},
        {0x110000, 0x110000, 0x110000},
        {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(case_::fold_wide(c.cp, true), c.upper) << std::hex << c.cp;
        EXPECT_EQ(case_::to_upper(c.cp), c.upper) << std::hex << c.cp;
        EXPECT_EQ(case_::fold_wide(c.cp, false), c.lower) << std::hex << c.cp;
    }
}

TEST_F(CaseFolding, ToggleTakesTheUpperCaseFormWhenThereIsOne) {
    EXPECT_EQ(case_::toggle('a'), uint32_t('A'));
    EXPECT_EQ(case_::toggle('A'), uint32_t('a'));
    EXPECT_EQ(case_::toggle('-'), uint32_t('-'));
    EXPECT_EQ(case_::toggle(0xDF), 0x53u);
    EXPECT_EQ(case_::toggle(0x1E922), 0x1E900u);
    EXPECT_EQ(case_::toggle(0x1E900), 0x1E922u);
}

// --- Changing the case of a string --------------------------------------------------------

namespace {
class CaseChange : public StringTest {};
} // namespace

TEST_F(CaseChange, MapsFromTheIndexAndWidensWhereAMappingNeedsIt) {
    struct Case {
        std::u32string text;
        uint32_t unit, index, count;
        bool upper;
        std::u32string result;
        uint32_t changed, widened;
    } cases[] = {
        {U"a\u00FF", 1, 0, UINT32_MAX, true, U"A\u0178", 2, 2}, // FF upper-cases to 178
        // The walk goes on at the new width after widening.
        {U"a\u00FFb\u00B5\u00FF", 1, 0, UINT32_MAX, true, U"A\u0178B\u039C\u0178", 5, 2},
        {U"stra\u00DFe", 1, 0, UINT32_MAX, true, U"STRASE", 6, 1},
        {U"abcd", 1, 1, 2, true, U"aBCd", 2, 1},
        {U"ABCD", 1, 2, 99, false, U"ABcd", 2, 1},     // a count past the tail stops there
        {U"AB", 1, 5, UINT32_MAX, false, U"AB", 0, 1}, // an index past the tail
        {U"x\U0001E922", 4, 0, UINT32_MAX, true, U"X\U0001E900", 2, 4},
        {U"\u0130I\u212A", 2, 0, UINT32_MAX, false, U"iik", 3, 2},
    };
    for (const Case& c : cases) {
        GcRoot s(make_string(c.text, c.unit));
        s.cell().w1 = c.index;
        EXPECT_EQ(case_::change_text(&s.cell(), c.count, c.upper), c.changed);
        EXPECT_EQ(text_of(s.cell(), true), c.result);
        EXPECT_EQ(unit_of(s.cell()), c.widened);
    }
}
