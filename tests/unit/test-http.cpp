// HTTP requests to the local test server (tests/helpers/http-echo, built next to this
// program) whose bodies are longer than a request takes. Linux only: the server is a POSIX
// program.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <string>

#include "datatypes/binary.h"
#include "os/http.h"
#include "runtime-core/error-ids.h"
#include "types2-fixture.h"

namespace {

class Http : public Types2Test {
protected:
    // The server, started once for these tests from the folder of this program.
    static void SetUpTestSuite() {
        char self[PATH_MAX];
        const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        ASSERT_GT(n, 0);
        std::string helper(self, static_cast<size_t>(n));
        helper.resize(helper.rfind('/') + 1);
        helper += "http-echo";
        char folder[] = "/tmp/zan-http-XXXXXX";
        ASSERT_TRUE(mkdtemp(folder));
        scratch = folder;
        const std::string port_file = scratch + "/port";
        server = fork();
        if (server == 0) {
            execl(helper.c_str(), helper.c_str(), port_file.c_str(), "60",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 100 && port == 0; ++i) {
            std::ifstream in(port_file);
            if (!(in >> port)) usleep(100000);
        }
    }
    static void TearDownTestSuite() {
        if (server > 0) {
            kill(server, SIGTERM);
            waitpid(server, nullptr, 0);
        }
        std::remove((scratch + "/port").c_str());
        rmdir(scratch.c_str());
    }

    // GETs the page at `path` as binary, taking at most `limit` body bytes.
    Cell* get(const char* path, int64_t limit = io::kMaxContent) {
        const std::string url = "http://127.0.0.1:" + std::to_string(port) + path;
        GcRoot given(text(kTypeUrl, url.c_str()));
        return io::read_http(&given.cell(), words::symbol.get, nullptr, nullptr, true, false, false,
                             limit);
    }

    static inline pid_t server = -1;
    static inline int port = 0;
    static inline std::string scratch;
};

// A body is taken up to the limit; one byte past it, declared or received, is script/too-long,
// whether the server declares the length (/text, /huge: 4 GiB and 1000 bytes, which a 32-bit
// count would take for 1000) or sends without end (/endless).
TEST_F(Http, BodiesPastTheLimitAreTooLong) {
    ASSERT_GT(port, 0) << "the test server did not start";
    const struct {
        const char* path;
        int64_t limit;
        int32_t size; // -1: too long
    } cases[] = {
        {"/text", 14, 14},
        {"/text", 13, -1},
        {"/endless", 1 << 20, -1},
        {"/huge", io::kMaxContent, -1},
    };
    for (const auto& c : cases) {
        if (c.size < 0) {
            EXPECT_TRUE(
                raises(error::kScript, error::script::too_long, [&] { get(c.path, c.limit); }))
                << c.path << " " << c.limit;
            continue;
        }
        Cell* body = get(c.path, c.limit);
        ASSERT_EQ(cell::type(body), kTypeBinary) << c.path;
        EXPECT_EQ(binary::zs_length(body), static_cast<uint32_t>(c.size)) << c.path;
        stack::top = body;
    }
}

} // namespace

#endif
