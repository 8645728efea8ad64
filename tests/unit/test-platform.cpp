#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "runtime-core/platform.h"
#include "runtime-core/throw.h"

using namespace platform;

TEST(Platform, SleepRounding) {
    struct Case {
        double seconds;
        uint32_t ms;
    } cases[] = {
        {0.0, 1}, {-5.0, 1}, {0.0004, 1}, {0.0019, 1}, {0.002, 2}, {1.5, 1500}, {0.25, 250},
    };
    for (const Case& c : cases) EXPECT_EQ(sleep_millis(c.seconds), c.ms) << c.seconds;
    EXPECT_EQ(sleep_millis(std::numeric_limits<double>::quiet_NaN()), 1u);
}

TEST(Platform, ZonePacking) {
    // +5:30: hour field 5, quarter field 2. -3:00: hour field 0x13, quarter field 0.
    EXPECT_EQ(pack_zone(330), 5 << 2 | 2);
    EXPECT_EQ(pack_zone(-180), 0x13 << 2 | 0);
    EXPECT_EQ(pack_zone(0), 0);
    EXPECT_EQ(pack_zone(-45), 0 << 2 | 1); // -0:45: the hours truncate to 0
    EXPECT_EQ(pack_date(2026, 12, 10, pack_zone(330)),
              2026 << 17 | 12 << 12 | 10 << 7 | (5 << 2 | 2));
}

TEST(Platform, FiletimeModuloMatchesDirectModulo) {
    std::mt19937_64 rng(42);
    for (int i = 0; i < 10000; ++i) {
        uint64_t t = rng();
        EXPECT_EQ(filetime_mod_10000(t), t % 10000) << t;
    }
    EXPECT_EQ(filetime_mod_10000(~0ull), ~0ull % 10000);
}

TEST(Platform, ClockIsInRange) {
    double t = now_utc(true);
    EXPECT_GE(t, 0.0);
    EXPECT_LT(t, 86400.0);
    int32_t packed = now_local(true);
    EXPECT_GE(packed >> 17, 2024);
    EXPECT_EQ(packed & 0x7F, 0); // UTC has no zone
    int month = (packed >> 12) & 0x1F, day = (packed >> 7) & 0x1F;
    EXPECT_TRUE(month >= 1 && month <= 12);
    EXPECT_TRUE(day >= 1 && day <= 31);
}

TEST(Platform, CurrentDirRoundTrip) {
    std::u16string dir = get_current_dir();
    ASSERT_FALSE(dir.empty());
    EXPECT_NE(dir.back(), u'\0');
    EXPECT_TRUE(set_current_dir(dir));
    EXPECT_EQ(get_current_dir(), dir);
    EXPECT_FALSE(set_current_dir(u"no such folder \u00e9"));
}

TEST(Platform, EnvironmentReportsSizeNeeded) {
    ASSERT_TRUE(set_env(u"ZAN_TEST_VAR", u"caf\u00e9"));
    char16_t buf[16];
    EXPECT_EQ(get_env(u"ZAN_TEST_VAR", buf, 16), 4u);
    EXPECT_EQ(std::u16string(buf), u"caf\u00e9");
    EXPECT_EQ(get_env(u"ZAN_TEST_VAR", buf, 2), 5u); // too small: the size needed
    EXPECT_EQ(get_env(u"ZAN_TEST_NO_SUCH_VAR", buf, 16), 0u);
}

// Entries split at the first "=" after the first character; a Windows per-drive entry keeps
// its leading "=" in the name.
TEST(Platform, EnvironmentEntriesSplitAfterTheFirstCharacter) {
    struct Case {
        std::u16string entry, name, value;
    } cases[] = {
        {u"PATH=/bin:/usr/bin", u"PATH", u"/bin:/usr/bin"},
        {u"A==b", u"A", u"=b"},
        {u"=C:=C:\\dir", u"=C:", u"C:\\dir"},
        {u"EMPTY=", u"EMPTY", u""},
        {u"NOVALUE", u"NOVALUE", u""},
        {u"=", u"=", u""},
    };
    for (const Case& c : cases) {
        std::u16string name, value;
        split_environment_entry(c.entry, name, value);
        EXPECT_EQ(name, c.name);
        EXPECT_EQ(value, c.value);
    }
}

// Variables set, listed and removed; removing an absent one is no failure.
TEST(Platform, EnvironmentListsAndRemovesVariables) {
    ASSERT_TRUE(set_env(u"ZAN_TEST_LISTED", u"x=y"));
    auto listed = [] {
        for (const std::u16string& e : environment_entries())
            if (e == u"ZAN_TEST_LISTED=x=y") return true;
        return false;
    };
    EXPECT_TRUE(listed());
    EXPECT_TRUE(unset_env(u"ZAN_TEST_LISTED"));
    EXPECT_FALSE(listed());
    char16_t buf[8];
    EXPECT_EQ(get_env(u"ZAN_TEST_LISTED", buf, 8), 0u);
}

// A file's size, and -1 for a folder or a missing file.
TEST(Platform, FileSizes) {
    const std::string name = testing::TempDir() + "zan-platform-size";
    {
        std::FILE* f = std::fopen(name.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("12345", f);
        std::fclose(f);
    }
    const std::u16string wide(name.begin(), name.end());
    EXPECT_EQ(file_size(wide), 5);
    std::remove(name.c_str());
    EXPECT_EQ(file_size(wide), -1);
    const std::string dir = testing::TempDir();
    EXPECT_EQ(file_size(std::u16string(dir.begin(), dir.end())), -1);
}

TEST(Platform, VirtualMemoryIsZeroedAndReleased) {
    auto* p = static_cast<unsigned char*>(alloc_virtual(1 << 20, false));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(p[(1 << 20) - 1], 0);
    p[123] = 7;
    free_virtual(p, 1 << 20);
}

TEST(Platform, FailedReservationThrowsItsSignal) {
    uint32_t code = runtime::catch_level(runtime::kLevelMemory, [] {
        alloc_virtual(size_t{1} << (sizeof(size_t) == 8 ? 62 : 31), false);
    });
    EXPECT_EQ(code, runtime::kThrowAllocVirtual);
    runtime::reset_thrown_code();
}
