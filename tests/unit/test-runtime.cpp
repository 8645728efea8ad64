#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <string>

#include "runtime-core/process.h"
#include "runtime-core/runtime.h"

#ifdef _WIN32
#include <windows.h>
#endif

using namespace runtime;

TEST(Runtime, MessageTable) {
    struct Case {
        int32_t status;
        const char* message;
    } cases[] = {
        {1, "access violation"},
        {6, "float denormal operan"},
        {19, "stack error or overflow"},
        {34, "Bus error"},
        {94, "out of memory"},
        {95, "no CATCH for THROW"},
        {98, "assertion failed"},
        {99, "unknown error"},
        {100, "no value matched in CASE"},
        {101, "no value matched in SWITCH"},
        {0, "unknown error code!"},
        {35, "unknown error code!"},
        {50, "unknown error code!"},
        {-2, "unknown error code!"},
    };
    for (const Case& c : cases) EXPECT_STREQ(error_message(c.status), c.message) << c.status;
}

TEST(Runtime, ReportHasTwoLines) {
    EXPECT_EQ(format_report(94, 0x0040ABCD),
              "*** Runtime Error 94: out of memory\n*** at: 0040ABCDh");
    EXPECT_EQ(format_report(50, 0xFF),
              "*** Runtime Error 50: unknown error code!\n*** at: 000000FFh");
    EXPECT_EQ(format_report(-2147483647 - 1, 0xFFFFFFFF),
              "*** Runtime Error -2147483648: unknown error code!\n*** at: FFFFFFFFh");
}

TEST(Runtime, ReportIntoAShortBufferIsCutToFit) {
    char text[24];
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(format_report_to(text, 20, 33, 0), 20u);
    EXPECT_EQ(std::string(text, 20), "*** Runtime Error 33");
    EXPECT_EQ(text[20], '#');
}

TEST(Runtime, ExceptionCodesMapToRuntimeErrors) {
    struct Case {
        uint32_t code;
        int32_t error;
    } cases[] = {
        {0xC0000005, 1},  {0x80000002, 2},  {0xC0000094, 13}, {0xC00000FD, 19},
        {0x80000001, 21}, {0xC0000008, 22}, {0xC000013A, 0},  {0xE06D7363, 99},
    };
    for (const Case& c : cases) EXPECT_EQ(map_exception(c.code), c.error) << std::hex << c.code;
}

TEST(RuntimeDeathTest, QuitReportsAndExitsWithTheStatus) {
    EXPECT_EXIT(quit(0, 0), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(quit(50, 0x1234), testing::ExitedWithCode(50),
                "Zan App Error\n\\*\\*\\* Runtime Error 50: unknown error code!\n"
                "\\*\\*\\* at: 00001234h");
    EXPECT_EXIT(quit(94, 0x0040ABCD), testing::ExitedWithCode(94),
                "\\*\\*\\* Runtime Error 94: out of memory\n\\*\\*\\* at: 0040ABCDh");
}

TEST(RuntimeDeathTest, ProcessorFaultsEndThroughTheReport) {
#ifdef _WIN32
    EXPECT_EXIT(
        {
            process::install_fault_handler();
            RaiseException(0xC0000094, 0, 0, nullptr);
        },
        testing::ExitedWithCode(13), "Runtime Error 13: integer divide by zero");
#else
    EXPECT_EXIT(
        {
            process::install_fault_handler();
            std::raise(SIGSEGV);
        },
        testing::ExitedWithCode(32), "Runtime Error 32: segmentation fault");
    EXPECT_EXIT(
        {
            process::install_fault_handler();
            std::raise(SIGFPE);
        },
        testing::ExitedWithCode(33), "Runtime Error 33: FPU error");
    EXPECT_EXIT(
        {
            process::install_fault_handler();
            std::raise(SIGINT);
        },
        testing::ExitedWithCode(0), "");
#endif
}

#ifndef _WIN32
namespace {
// Recurses until the stack runs out (the limit is never reached); the array keeps each frame
// big and the call unfolded.
volatile int recursion_limit = 0x7FFFFFFF;
int overflow(int depth) {
    volatile char frame[4096];
    frame[depth % sizeof frame] = static_cast<char>(depth);
    if (depth >= recursion_limit) return 0;
    return overflow(depth + 1) + frame[0];
}
} // namespace

TEST(RuntimeDeathTest, StackOverflowOnTheBigStackIsReported) {
    // The report needs an alternate signal stack on the thread that overflows.
    EXPECT_EXIT(
        {
            process::install_fault_handler();
            process::run_on_big_stack([](void*) { overflow(0); }, nullptr);
        },
        testing::ExitedWithCode(32),
        "^Zan App Error\n\\*\\*\\* Runtime Error 32: segmentation fault\n\\*\\*\\* at: "
        "[0-9A-F]{8}h\n");
}
#endif

TEST(Runtime, ArgumentVectorIsUtf8AndNullEnded) {
    char a0[] = "zan";
    char a1[] = "caf\xC3\xA9";
    char* argv[] = {a0, a1, nullptr};
    process::get_argv(2, argv);
#ifdef _WIN32
    // Windows reads the real command line: the test binary's own path comes first.
    ASSERT_GE(record.argc, 1);
#else
    ASSERT_EQ(record.argc, 2);
    EXPECT_STREQ(record.argv[1], "caf\xC3\xA9");
#endif
    EXPECT_EQ(record.argv[record.argc], nullptr);
}
