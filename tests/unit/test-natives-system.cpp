// The system natives as a script sees them, in child processes: allocation failures under a
// memory limit, and file sizes around the integer range. Linux only (limits, sparse files).
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "runtime-core/memory.h" // ZAN_ASAN
#include "tests/unit/child-script.h"

namespace {

using child_script::Outcome;

Outcome run_script(const std::string& script, rlim_t limit = 0) {
    return child_script::run(ZAN_EXECUTABLE, script, limit);
}

} // namespace

// Memory running out, from filling it, from one huge request or in a native's own work
// buffer, is internal/no-memory: try catches it, and once the values are dropped the script
// allocates again.
TEST(NativesSystem, ExhaustedMemoryIsACatchableError) {
#ifdef ZAN_ASAN
    GTEST_SKIP() << "the sanitizer's shadow memory needs more address space than the limit";
#endif
    const Outcome out = run_script(R"(
blocks: copy []
r: try [loop 100000 [append blocks make binary! 1000000]]
print [mold type? r r/id (length? blocks) > 10]
print [r/id = select try [make binary! 2000000000] 'id]
blocks: none
recycle
print length? append make binary! 1000000 #{01}
b: head insert/dup make binary! 100000000 #{00} 100000000
print select try [enbase/base b 2] 'id
print "still running"
)",
                                   rlim_t(800) << 20);
    EXPECT_EQ(out.status, 0) << out.output;
    EXPECT_EQ(out.output, "error! no-memory true\ntrue\n1\nno-memory\nstill running\n");
}

// Filling memory with small blocks leaves no room to make the no-memory error itself: the
// raise takes the one kept from start-up (it used to raise again while making each error, until
// the machine stack ran out). An error that no try takes, with no memory left to form its
// text, ends the process with the fatal out-of-memory report instead of an abort.
TEST(NativesSystem, MemoryRunningOutWhileTheErrorIsMade) {
#ifdef ZAN_ASAN
    GTEST_SKIP() << "the sanitizer's shadow memory needs more address space than the limit";
#endif
    const struct {
        const char* script;
        int status;
        const char* output;
    } cases[] = {
        {"blocks: copy []\n"
         "r: try [forever [append/only blocks make block! 1]]\n"
         "blocks: none\n"
         "recycle\n"
         "print [type? r r/id]\n",
         0, "error no-memory\n"},
        {"blocks: copy []\n"
         "forever [append/only blocks make block! 1]\n",
         94, "Zan App Error\n*** Runtime Error 94: out of memory\n*** at: 00000000h\n"},
    };
    for (const auto& c : cases) {
        const Outcome out = run_script(c.script, rlim_t(400) << 20);
        EXPECT_EQ(out.status, c.status) << c.script;
        EXPECT_EQ(out.output, c.output) << c.script;
    }
}

// size? answers an integer! up to 2147483647 bytes and a float! beyond (sparse files).
TEST(NativesSystem, FileSizesBeyondTheIntegerRangeAreFloats) {
    struct Case {
        off_t size;
        const char* shown;
    } cases[] = {
        {0, "0"},
        {2147483647, "2147483647"},
        {off_t(2147483648), "2147483648.0"},
        {off_t(3) << 30, "3221225472.0"},
    };
    std::string script;
    std::string expected;
    std::string names[4];
    int i = 0;
    for (const Case& c : cases) {
        char name[] = "/tmp/zan-size-XXXXXX";
        const int fd = mkstemp(name);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, c.size), 0);
        close(fd);
        names[i++] = name;
        script += std::string("print mold size? %") + name + "\n";
        expected += std::string(c.shown) + "\n";
    }
    const Outcome out = run_script(script);
    for (const std::string& name : names) unlink(name.c_str());
    EXPECT_EQ(out.status, 0);
    EXPECT_EQ(out.output, expected);
}

#endif
