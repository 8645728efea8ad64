// Runs a script with the built executable in a child process, optionally under an address-space
// limit, and answers its exit status with its standard output and error together (line ends
// read as LF). Linux only.
//
// A limited child runs without collector torture even when the tests run under it: torture
// collects at every allocation, so filling the memory with small blocks would take many
// minutes, and close to the limit its cycles fall back to the product's kind anyway: the tests
// would measure torture's own needs, not how the product runs out.
#pragma once
#if !defined(_WIN32)
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace child_script {

struct Outcome {
    int status = -1;
    std::string output;
};

// `executable` is the path of the built zan; `limit` is in bytes (0: none). The script gets a
// "Zan []" header.
inline Outcome run(const char* executable, const std::string& script, rlim_t limit = 0) {
    char path[] = "/tmp/zan-child-XXXXXX";
    const int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    const std::string text = "Zan []\n" + script;
    EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);
    // The child's arguments and environment are made before the fork: only the exec runs
    // after it.
    std::vector<char*> environment;
    for (char** e = environ; *e; ++e)
        if (!limit || std::strncmp(*e, "ZAN_GC_TORTURE=", 15) != 0) environment.push_back(*e);
    environment.push_back(nullptr);
    std::string program = executable;
    char* arguments[] = {program.data(), path, nullptr};
    int pipe_fds[2];
    EXPECT_EQ(pipe(pipe_fds), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipe_fds[1], 1);
        dup2(pipe_fds[1], 2);
        close(pipe_fds[0]);
        if (limit) {
            rlimit r{limit, limit};
            setrlimit(RLIMIT_AS, &r);
        }
        execve(arguments[0], arguments, environment.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    Outcome out;
    char buffer[4096];
    for (ssize_t n; (n = read(pipe_fds[0], buffer, sizeof buffer)) > 0;)
        for (ssize_t i = 0; i < n; ++i)
            if (buffer[i] != '\r') out.output.push_back(buffer[i]);
    close(pipe_fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    out.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    unlink(path);
    return out;
}

} // namespace child_script
#endif
