#include <gtest/gtest.h>

#include "runtime-core/runtime.h"
#include "runtime-core/throw.h"

using namespace runtime;

namespace {

// Runs `code` thrown inside a construct of `level`; answers what the construct saw, or
// the code that passed through it.
struct Outcome {
    uint32_t caught;
    uint32_t passed;
};

Outcome through(uint32_t level, uint32_t code) {
    Outcome o{0, 0};
    try {
        o.caught = catch_level(level, [&] { throw_code(code); });
    } catch (const Thrown& t) {
        o.passed = t.code;
    }
    reset_thrown_code();
    return o;
}

} // namespace

TEST(Throw, LevelAdmitsCodesNotAboveIt) {
    struct Case {
        uint32_t level, code;
        bool caught;
    } cases[] = {
        {kThrowBreak, kThrowBreak, true},
        {kThrowBreak, kThrowContinue, true},
        {kThrowBreak, kThrowError, false},
        {kThrowError, kThrowReturn, true},
        {kLevelMemory, kThrowAllocVirtual, true},
        {kLevelMemory, kThrowFreeVirtual, true},
        {kLevelMemory, kThrowError, false},
        {kThrowLexer, kThrowLexer, true},
        {kThrowLexer, kThrowDraw, true},
        {kThrowLexer, kThrowError, false},
        {kThrowPowerOverflow, kThrowPowerOverflow, true},
        {kThrowThrow, kThrowExit, false},
        {kLevelAll, kThrowOrderlyEnd, true},
        {kLevelAll, kLevelAll, true},
    };
    for (const Case& c : cases) {
        Outcome o = through(c.level, c.code);
        EXPECT_EQ(o.caught, c.caught ? c.code : 0u) << std::hex << c.level << " " << c.code;
        EXPECT_EQ(o.passed, c.caught ? 0u : c.code) << std::hex << c.level << " " << c.code;
    }
}

TEST(Throw, CompletedBodyLeavesCodeZero) {
    int ran = 0;
    EXPECT_EQ(catch_level(kThrowError, [&] { ++ran; }), 0u);
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(thrown_code(), 0u);
}

TEST(Throw, CodeZeroDoesNothing) {
    bool after = false;
    EXPECT_EQ(catch_level(kLevelAll,
                          [&] {
                              throw_code(0);
                              after = true;
                          }),
              0u);
    EXPECT_TRUE(after);
}

TEST(Throw, ThrownCodeIsKeptUntilReset) {
    EXPECT_EQ(catch_level(kThrowError, [] { throw_code(kThrowBreak); }), kThrowBreak);
    EXPECT_EQ(thrown_code(), kThrowBreak);
    reset_thrown_code();
    EXPECT_EQ(thrown_code(), 0u);
}

// A function call takes return and exit and passes everything else on; a loop takes break
// and continue. The function is nearer than the loop, so it sees a return first.
namespace {

enum class Seen { Nothing, LoopBreak, LoopContinue, FunctionEnd };

Seen loop_around_function(uint32_t code) {
    Seen seen = Seen::Nothing;
    uint32_t at_loop = catch_level(kThrowBreak, [&] {
        uint32_t at_function = catch_level(kThrowError, [&] { throw_code(code); });
        if (at_function == kThrowReturn || at_function == kThrowExit) {
            reset_thrown_code();
            seen = Seen::FunctionEnd;
        } else if (at_function) {
            rethrow();
        }
    });
    if (at_loop == kThrowBreak) seen = Seen::LoopBreak;
    if (at_loop == kThrowContinue) seen = Seen::LoopContinue;
    reset_thrown_code();
    return seen;
}

} // namespace

TEST(Throw, ReturnStopsAtTheFunctionBreakReachesTheLoop) {
    EXPECT_EQ(loop_around_function(kThrowReturn), Seen::FunctionEnd);
    EXPECT_EQ(loop_around_function(kThrowExit), Seen::FunctionEnd);
    EXPECT_EQ(loop_around_function(kThrowBreak), Seen::LoopBreak);
    EXPECT_EQ(loop_around_function(kThrowContinue), Seen::LoopContinue);
}

TEST(Throw, NestedConstructsRestoreTheOuterLevel) {
    // After an inner construct of a high level ends, the outer (lower) level is in force
    // again: an error thrown then passes the outer construct.
    uint32_t passed = 0;
    try {
        catch_level(kThrowBreak, [] {
            EXPECT_EQ(catch_level(kThrowError, [] { throw_code(kThrowError); }), kThrowError);
            throw_code(kThrowError);
        });
    } catch (const Thrown& t) {
        passed = t.code;
    }
    EXPECT_EQ(passed, kThrowError);
    reset_thrown_code();
}

TEST(ThrowDeathTest, UncaughtCodesEndTheProcess) {
    EXPECT_EXIT(
        {
            record.thrown_code = kThrowThrow;
            top_catch();
        },
        testing::ExitedWithCode(95), "Runtime Error 95: no CATCH for THROW");
    EXPECT_EXIT(
        {
            record.thrown_code = kThrowOrderlyEnd;
            top_catch();
        },
        testing::ExitedWithCode(0), "");
}
