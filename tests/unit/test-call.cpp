#include <gtest/gtest.h>

#include <string>

#include "os/call.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/unicode.h"
#include "types2-fixture.h"

namespace {

using call::Redirect;

int64_t run(const char16_t* command, bool shell, Redirect& in, Redirect& out, Redirect& err,
            bool* used_shell = nullptr) {
    bool used = false;
    const int64_t status = call::spawn(command, false, shell, true, in, out, err, used);
    if (used_shell) *used_shell = used;
    return status;
}

Redirect buffer(std::string bytes = {}) {
    Redirect r;
    r.kind = Redirect::kBuffer;
    r.bytes = std::move(bytes);
    return r;
}

// A command whose output is five digits, and how many bytes the child writes for them.
#ifdef _WIN32
constexpr const char16_t* kFiveDigits = u"echo 12345"; // through the command interpreter
constexpr const char* kFiveDigitsOutput = "12345\r\n";
#else
constexpr const char16_t* kFiveDigits = u"printf 12345";
constexpr const char* kFiveDigitsOutput = "12345";
#endif

// Collected output stops at the stream's limit: up to the limit it is whole; past it the
// stream says it is too long and holds no more than the limit.
TEST(Call, OutputUpToItsLimit) {
    const int64_t size = static_cast<int64_t>(std::string(kFiveDigitsOutput).size());
    for (const int64_t limit : {size + 1, size, size - 1, int64_t{0}}) {
        Redirect in, out = buffer(), err;
        out.limit = limit;
        run(kFiveDigits, false, in, out, err);
        const bool whole = limit >= size;
        EXPECT_EQ(out.cut, whole ? Redirect::kWhole : Redirect::kTooLong) << limit;
        // Cut short, what was taken is a beginning of the output, no longer than the limit.
        const std::string expected = std::string(kFiveDigitsOutput).substr(0, out.bytes.size());
        EXPECT_EQ(out.bytes, whole ? kFiveDigitsOutput : expected) << limit;
        EXPECT_LE(static_cast<int64_t>(out.bytes.size()), whole ? size : limit) << limit;
    }
}

using CallNative = Types2Test;

// The native raises script/too-long for output past the limit, and leaves its target as it
// was; at the limit the output is appended.
TEST_F(CallNative, OutputPastTheLimitIsTooLong) {
    const std::string command_text = unicode::utf16_to_utf8(kFiveDigits);
    GcRoot command(text(kTypeString, command_text.c_str()));
    GcRoot target(text(kTypeString, "kept "));
    const int64_t size = static_cast<int64_t>(std::string(kFiveDigitsOutput).size());
    auto call = [&](int64_t limit) {
        call::run(&command.cell(), {.wait = true, .output = &target.cell()}, limit);
    };
    EXPECT_TRUE(raises(error::kScript, error::script::too_long, [&] { call(size - 1); }));
    EXPECT_EQ(utf8_of(target.cell()), "kept ");
    call(size);
    EXPECT_EQ(utf8_of(target.cell()), std::string("kept ") + kFiveDigitsOutput);
}

#ifndef _WIN32

// A child that writes without end, to its output or its error, is ended once the stream
// passes its limit (it used to be collected until the process ran out of memory).
TEST(Call, EndlessOutputEndsAtTheLimit) {
    for (const char16_t* command : {u"yes", u"yes >&2"}) {
        Redirect in, out = buffer(), err = buffer();
        out.limit = err.limit = 1 << 20;
        EXPECT_GT(run(command, true, in, out, err), 128);
        Redirect& cut = out.bytes.empty() ? err : out;
        EXPECT_EQ(cut.cut, Redirect::kTooLong);
        EXPECT_LE(cut.bytes.size(), 1u << 20);
        EXPECT_GT(cut.bytes.size(), 1u << 19);
    }
}

// A child that copies 1 MB of input to both standard output and standard error finishes,
// with every byte collected on each side: neither pipe may stall the other.
TEST(Call, MegabyteBothWays) {
    std::string data(1 << 20, 'x');
    for (size_t i = 0; i < data.size(); i += 61) data[i] = '\n';
    Redirect in = buffer(data), out = buffer(), err = buffer();
    EXPECT_EQ(run(u"tee /dev/stderr", true, in, out, err), 0);
    EXPECT_EQ(out.bytes, data);
    EXPECT_EQ(err.bytes, data);
}

// A child that writes 1 MB to standard error without reading its 1 MB of input.
TEST(Call, ChildIgnoringItsInput) {
    Redirect in = buffer(std::string(1 << 20, 'a')), out = buffer(), err = buffer();
    EXPECT_EQ(run(u"head -c 1048576 /dev/zero >&2; exit 4", true, in, out, err), 4);
    EXPECT_EQ(err.bytes.size(), 1u << 20);
    EXPECT_TRUE(out.bytes.empty());
}

TEST(Call, WordsQuotesAndFallback) {
    const struct {
        const char16_t* command;
        const char* output;
        bool shell;
    } cases[] = {
        {u"printf %s|%s \"a b\" c", "a b|c", false},
        {u"printf %s \"say \\\"hi\\\"\"", "say \"hi\"", false},
        {u"cd / && pwd", "/\n", true}, // cd is no program: it runs through the shell
    };
    for (const auto& c : cases) {
        Redirect in, out = buffer(), err;
        bool used_shell = false;
        EXPECT_EQ(run(c.command, false, in, out, err, &used_shell), 0);
        EXPECT_EQ(out.bytes, c.output);
        EXPECT_EQ(used_shell, c.shell);
    }
}

TEST(Call, Failures) {
    Redirect in, out, err;
    in.kind = Redirect::kFile;
    in.path = u"no-such-folder.tmp/input";
    EXPECT_EQ(run(u"true", false, in, out, err), -1);
    Redirect none_in, none_out, none_err;
    EXPECT_EQ(run(u"   ", false, none_in, none_out, none_err), -1);
    EXPECT_EQ(run(u"kill -9 $$", true, none_in, none_out, none_err), 128 + 9);
}

#else

TEST(Call, ShellBuiltinsThroughTheFallback) {
    Redirect in, out = buffer(), err;
    bool used_shell = false;
    EXPECT_EQ(run(u"echo hello", false, in, out, err, &used_shell), 0);
    EXPECT_TRUE(used_shell);
    EXPECT_EQ(out.bytes, "hello\r\n");
    Redirect in2, out2, err2;
    EXPECT_EQ(run(u"exit 3", true, in2, out2, err2), 3);
}

#endif

} // namespace
