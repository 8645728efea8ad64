#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "os/os-info.h"
#include "runtime-core/runtime.h"
#include "runtime-core/unicode.h"

#ifdef _WIN32
#include <windows.h>
// after windows.h
#include <shellapi.h>
#endif

using namespace platform;

TEST(OsInfo, WindowsReleaseNames) {
    struct Case {
        uint32_t major, minor, build;
        bool server;
        const char* name;
    } cases[] = {
        {5, 0, 2195, false, "2000"},
        {5, 0, 2195, true, "2000"},
        {5, 1, 2600, false, "XP"},
        {5, 1, 2600, true, "XP"},
        {5, 2, 3790, false, "Server 2003"},
        {5, 2, 3790, true, "Server 2003 R2"},
        {6, 0, 6002, false, "Vista"},
        {6, 0, 6002, true, "Server 2008"},
        {6, 1, 7601, false, "7"},
        {6, 1, 7601, true, "Server 2008 R2"},
        {6, 2, 9200, false, "8"},
        {6, 2, 9200, true, "Server 2012"},
        {6, 3, 9600, false, "8.1"},
        {6, 3, 9600, true, "Server 2012 R2"},
        {6, 4, 9800, false, "Vista"},
        {6, 4, 9800, true, "Server 2008"},
        {10, 0, 19045, false, "10"},
        {10, 0, 21999, false, "10"},
        {10, 0, 22000, false, "11"},
        {10, 0, 26100, false, "11"},
        {10, 0, 14393, true, "Server 2016"},
        {10, 0, 17133, true, "Server 2016"},
        {10, 0, 17134, true, "Server 2019"},
        {10, 0, 20284, true, "Server 2019"},
        {10, 0, 20285, true, "Server 2022"},
        {11, 0, 30000, false, "11"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(windows_release(c.major, c.minor, c.build, c.server), c.name)
            << c.major << "." << c.minor << " build " << c.build << (c.server ? " server" : "");
}

TEST(OsInfo, ArchitectureWords) {
    struct Case {
        uint16_t arch;
        const char* word;
    } cases[] = {
        {kArchX86, "x86-32"},  {kArchArm, "ARM"}, {kArchIa64, "IA-64"}, {kArchX64, "x86-64"},
        {kArchArm64, "ARM64"}, {1, "Unknown"},    {10, "Unknown"},      {kArchUnknown, "Unknown"},
    };
    for (const Case& c : cases) EXPECT_STREQ(arch_name(c.arch), c.word) << c.arch;
}

namespace {

struct QuoteCase {
    std::vector<std::u16string> arguments;
    std::u16string line;
};

const std::vector<QuoteCase>& quote_cases() {
    static const std::vector<QuoteCase> cases = {
        {{u"zan"}, u"zan"},
        {{u"zan", u"script.zan", u"a", u"b"}, u"zan script.zan a b"},
        {{u"C:\\Program Files\\zan.exe", u"script.zan", u"a b", u"c"},
         u"\"C:\\Program Files\\zan.exe\" script.zan \"a b\" c"},
        {{u"zan", u""}, u"zan \"\""},
        {{u"zan", u"tab\there"}, u"zan \"tab\there\""},
        {{u"zan", u"say \"hi\""}, u"zan \"say \\\"hi\\\"\""},
        {{u"zan", u"\""}, u"zan \"\\\"\""},
        // Backslashes are plain unless a double quote follows them.
        {{u"zan", u"C:\\dir\\file"}, u"zan C:\\dir\\file"},
        {{u"zan", u"C:\\my dir\\"}, u"zan \"C:\\my dir\\\\\""},
        {{u"zan", u"a\\\"b"}, u"zan \"a\\\\\\\"b\""},
        {{u"zan", u"a\\\\ b"}, u"zan \"a\\\\ b\""},
        {{u"zan", u"\u00e9t\u00e9 \u20ac"}, u"zan \"\u00e9t\u00e9 \u20ac\""},
    };
    return cases;
}

} // namespace

TEST(OsInfo, CommandLineQuoting) {
    for (const QuoteCase& c : quote_cases())
        EXPECT_EQ(unicode::utf16_to_utf8(quote_command_line(c.arguments)),
                  unicode::utf16_to_utf8(c.line));
}

#ifdef _WIN32
// The system's own splitter gives the arguments back (after the program path, which it reads
// by simpler rules).
TEST(OsInfo, CommandLineQuotingSplitsBackOnWindows) {
    for (const QuoteCase& c : quote_cases()) {
        int count = 0;
        LPWSTR* split =
            CommandLineToArgvW(reinterpret_cast<const wchar_t*>(c.line.c_str()), &count);
        ASSERT_NE(split, nullptr);
        ASSERT_EQ(count, static_cast<int>(c.arguments.size()));
        for (int i = 1; i < count; ++i)
            EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(split[i])), c.arguments[i]);
        LocalFree(split);
    }
}
#else
TEST(OsInfo, CommandLineIsTheArgumentVectorQuoted) {
    char program[] = "/opt/my zan/zan";
    char script[] = "script.zan";
    char spaced[] = "a b";
    char* argv[] = {program, script, spaced, nullptr};
    const int saved_argc = runtime::record.argc;
    char** const saved_argv = runtime::record.argv;
    runtime::record.argc = 3;
    runtime::record.argv = argv;
    const std::u16string line = command_line();
    runtime::record.argc = saved_argc;
    runtime::record.argv = saved_argv;
    EXPECT_EQ(unicode::utf16_to_utf8(line), "\"/opt/my zan/zan\" script.zan \"a b\"");
}
#endif

TEST(OsInfo, TheSystemDescribesItself) {
    const OsVersion v = query_os_version();
#ifdef _WIN32
    EXPECT_EQ(v.name.rfind("Windows ", 0), 0u) << v.name;
#else
    EXPECT_EQ(v.name.rfind("Linux ", 0), 0u) << v.name;
#endif
    EXPECT_GT(v.major, 0u);
    EXPECT_STRNE(arch_name(v.arch), "Unknown");
}
