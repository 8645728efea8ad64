// Child processes on POSIX systems: posix_spawn with pipes, serviced together by poll.
// Shell mode runs `/bin/sh -c COMMAND`; otherwise the command line is split into words
// (blanks separate them, double quotes group them, a backslash keeps the quote after it).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <new>
#include <vector>

#include "os/call.h"
#include "runtime-core/unicode.h"

extern char** environ;

namespace call {

namespace {

// Children started without waiting, reaped when they have ended so none stays a zombie.
std::vector<pid_t> unwaited;

void reap_unwaited() {
    for (size_t i = 0; i < unwaited.size();) {
        if (waitpid(unwaited[i], nullptr, WNOHANG) != 0) {
            unwaited[i] = unwaited.back();
            unwaited.pop_back();
        } else {
            ++i;
        }
    }
}

std::vector<std::string> split_words(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false, quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\\' && i + 1 < line.size() && line[i + 1] == '"') {
            word.push_back('"');
            ++i;
            in_word = true;
        } else if (c == '"') {
            quoted = !quoted;
            in_word = true;
        } else if (!quoted && (c == ' ' || c == '\t' || c == '\n' || c == '\r')) {
            if (in_word) words.push_back(word);
            word.clear();
            in_word = false;
        } else {
            word.push_back(c);
            in_word = true;
        }
    }
    if (in_word) words.push_back(word);
    return words;
}

void close_fd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

int open_path(const std::u16string& path, int flags) {
    int fd;
    do {
        fd = ::open(unicode::utf16_to_utf8(path).c_str(), flags | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// The descriptors of one start: the child's ends (given to it as 0, 1 and 2) and the
// parent's ends of the pipes.
struct Ends {
    int child[3] = {-1, -1, -1};
    int parent[3] = {-1, -1, -1};
    ~Ends() {
        for (int i = 0; i < 3; ++i) {
            close_fd(child[i]);
            close_fd(parent[i]);
        }
    }
};

// Sets up stream `n` (0 input, 1 output, 2 error). False when a file or pipe cannot be made.
bool prepare(Ends& ends, int n, const Redirect& r, bool to_null) {
    if (r.kind == Redirect::kFile) {
        ends.child[n] =
            n == 0 ? open_path(r.path, O_RDONLY) : open_path(r.path, O_WRONLY | O_CREAT | O_APPEND);
        return ends.child[n] >= 0;
    }
    if (r.kind == Redirect::kBuffer) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return false;
        ends.child[n] = n == 0 ? fds[0] : fds[1];
        ends.parent[n] = n == 0 ? fds[1] : fds[0];
        return fcntl(ends.parent[n], F_SETFL, O_NONBLOCK) == 0;
    }
    if (to_null && n > 0) {
        ends.child[n] = open_path(u"/dev/null", O_WRONLY);
        return ends.child[n] >= 0;
    }
    return true;
}

// Starts argv with the child's standard streams; the pid, or -1 with errno set.
pid_t start(const std::vector<std::string>& words, const Ends& ends) {
    std::vector<char*> argv;
    for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    for (int n = 0; n < 3; ++n)
        if (ends.child[n] >= 0) posix_spawn_file_actions_adddup2(&actions, ends.child[n], n);
    sigset_t none, pipe_default;
    sigemptyset(&none);
    sigemptyset(&pipe_default);
    sigaddset(&pipe_default, SIGPIPE);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &pipe_default);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int failure = posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (failure != 0) {
        errno = failure;
        return -1;
    }
    return pid;
}

// Adds bytes read from the child to their stream: false, with the reason kept, when the
// stream would pass its limit or memory runs out.
bool collect(Redirect& stream, const char* data, size_t count) {
    if (count > static_cast<uint64_t>(stream.limit) - stream.bytes.size()) {
        stream.cut = Redirect::kTooLong;
        return false;
    }
    try {
        stream.bytes.append(data, count);
    } catch (const std::bad_alloc&) {
        stream.cut = Redirect::kNoMemory;
        return false;
    }
    return true;
}

// Writes the input and reads output and error as each becomes ready, until every pipe is
// closed. A child that stops reading its input ends the writing; the rest is dropped. A
// child whose output cannot all be taken is ended: what it writes could go nowhere, and it
// might write without end.
void service(Ends& ends, Redirect* streams[3], pid_t pid) {
    // A write to a pipe whose reader has gone raises SIGPIPE in this thread: keep it
    // pending while servicing, then take it away.
    sigset_t pipe_set, previous;
    sigemptyset(&pipe_set);
    sigaddset(&pipe_set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_set, &previous);
    size_t sent = 0;
    std::vector<char> chunk(65536);
    for (;;) {
        pollfd fds[3];
        int count = 0, which[3];
        if (ends.parent[0] >= 0 && sent >= streams[0]->bytes.size()) close_fd(ends.parent[0]);
        for (int n = 0; n < 3; ++n) {
            if (ends.parent[n] < 0) continue;
            fds[count] = {ends.parent[n], static_cast<short>(n == 0 ? POLLOUT : POLLIN), 0};
            which[count++] = n;
        }
        if (count == 0) break;
        if (poll(fds, static_cast<nfds_t>(count), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int k = 0; k < count; ++k) {
            const int n = which[k];
            if (fds[k].revents == 0) continue;
            if (n == 0) {
                const std::string& data = streams[0]->bytes;
                const ssize_t w = ::write(ends.parent[0], data.data() + sent, data.size() - sent);
                if (w > 0)
                    sent += static_cast<size_t>(w);
                else if (w < 0 && errno != EAGAIN && errno != EINTR)
                    close_fd(ends.parent[0]);
            } else {
                const ssize_t r = ::read(ends.parent[n], chunk.data(), chunk.size());
                if (r > 0) {
                    if (!collect(*streams[n], chunk.data(), static_cast<size_t>(r))) {
                        close_fd(ends.parent[n]);
                        kill(pid, SIGKILL);
                    }
                } else if (r == 0 || (errno != EAGAIN && errno != EINTR)) {
                    close_fd(ends.parent[n]);
                }
            }
        }
    }
    const timespec zero = {0, 0};
    while (sigtimedwait(&pipe_set, nullptr, &zero) > 0) {
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

} // namespace

int64_t spawn(std::u16string_view command, bool /*show*/, bool shell, bool wait, Redirect& input,
              Redirect& output, Redirect& error, bool& used_shell) {
    reap_unwaited();
    const bool redirected = input.kind != Redirect::kInherit || output.kind != Redirect::kInherit ||
                            error.kind != Redirect::kInherit;
    wait = wait || redirected;
    Ends ends;
    Redirect* streams[3] = {&input, &output, &error};
    for (int n = 0; n < 3; ++n)
        if (!prepare(ends, n, *streams[n], !wait)) return -1;
    const std::string line = unicode::utf16_to_utf8(command);
    const std::vector<std::string> shell_words = {"/bin/sh", "-c", line};
    pid_t pid = -1;
    if (!shell) {
        const std::vector<std::string> words = split_words(line);
        if (words.empty()) return -1;
        pid = start(words, ends);
        if (pid < 0 && errno == ENOENT) shell = used_shell = true;
    }
    if (shell) pid = start(shell_words, ends);
    if (pid < 0) return -1;
    for (int n = 0; n < 3; ++n) close_fd(ends.child[n]);
    if (!wait) {
        unwaited.push_back(pid);
        return pid;
    }
    service(ends, streams, pid);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

std::u16string decode(std::string_view bytes, bool /*shell*/) {
    return unicode::utf8_to_utf16(bytes);
}

} // namespace call
