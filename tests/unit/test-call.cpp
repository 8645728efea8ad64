#include <gtest/gtest.h>

#include <string>

#include "os/call.h"

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

#ifndef _WIN32

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
