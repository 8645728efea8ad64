#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime-core/crypto.h"
#include "runtime-core/platform.h"
#include "runtime-core/stdio.h"
#include "runtime-core/throw.h"
#include "runtime-core/unicode.h"

namespace platform {

void* alloc_virtual(size_t size, bool executable) {
    int prot = PROT_READ | PROT_WRITE | (executable ? PROT_EXEC : 0);
    void* p = mmap(nullptr, size, prot, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) runtime::throw_code(runtime::kThrowAllocVirtual);
    return p;
}

void free_virtual(void* address, size_t size) {
    if (munmap(address, size) != 0) runtime::throw_code(runtime::kThrowFreeVirtual);
}

void gdiplus_start() {}

void init() {
    gdiplus_start();
    crypto::acquire_context();
    stdio::probe_mode();
}

std::u16string get_current_dir() {
    std::string buf(256, '\0');
    while (!getcwd(buf.data(), buf.size())) {
        if (errno != ERANGE) return {};
        buf.resize(buf.size() * 2);
    }
    buf.resize(std::strlen(buf.c_str()));
    return unicode::utf8_to_utf16(buf);
}

bool set_current_dir(std::u16string_view path) {
    return chdir(unicode::utf16_to_utf8(path).c_str()) == 0;
}

void sleep(double seconds) {
    uint32_t ms = sleep_millis(seconds);
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

bool set_env(std::u16string_view name, std::u16string_view value) {
    std::string n = unicode::utf16_to_utf8(name);
    if (n.empty() || n.find('=') != std::string::npos) return false;
    return setenv(n.c_str(), unicode::utf16_to_utf8(value).c_str(), 1) == 0;
}

uint32_t get_env(std::u16string_view name, char16_t* buffer, uint32_t size) {
    const char* v = getenv(unicode::utf16_to_utf8(name).c_str());
    if (!v) return 0;
    std::u16string wide = unicode::utf8_to_utf16(v);
    if (wide.size() + 1 > size) return static_cast<uint32_t>(wide.size() + 1);
    std::memcpy(buffer, wide.c_str(), (wide.size() + 1) * sizeof(char16_t));
    return static_cast<uint32_t>(wide.size());
}

bool unset_env(std::u16string_view name) {
    std::string n = unicode::utf16_to_utf8(name);
    if (n.empty() || n.find('=') != std::string::npos) return false;
    return unsetenv(n.c_str()) == 0;
}

std::vector<std::u16string> environment_entries() {
    std::vector<std::u16string> entries;
    for (char** e = environ; e && *e; ++e) entries.push_back(unicode::utf8_to_utf16(*e));
    return entries;
}

int64_t file_size(std::u16string_view path) {
    const int fd = open(unicode::utf16_to_utf8(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    const bool ok = fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    close(fd);
    return ok ? static_cast<int64_t>(st.st_size) : -1;
}

// The desktop's opener, started in the background through the shell so that nothing waits
// for it or for the handler it starts; the shell itself ends at once and is reaped here.
bool open_with_shell(std::u16string_view target) {
    const std::string arg = unicode::utf16_to_utf8(target);
    char shell[] = "/bin/sh";
    char dash_c[] = "-c";
    char script[] = "xdg-open \"$1\" </dev/null >/dev/null 2>&1 &";
    char name[] = "browse";
    char* argv[] = {shell, dash_c, script, name, const_cast<char*>(arg.c_str()), nullptr};
    pid_t pid;
    if (posix_spawn(&pid, shell, nullptr, nullptr, argv, environ) != 0) return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double now_utc(bool precise) {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    tm t;
    gmtime_r(&ts.tv_sec, &t);
    double s = t.tm_hour * 3600.0 + t.tm_min * 60.0 + t.tm_sec;
    // The same resolution as the Windows clock: 100 ns.
    if (precise) s += static_cast<double>(ts.tv_nsec / 100 * 100) / 1e9;
    return s;
}

int32_t now_local(bool utc) {
    time_t now = time(nullptr);
    tm t;
    int32_t zone = 0;
    if (utc) {
        gmtime_r(&now, &t);
    } else {
        localtime_r(&now, &t);
        zone = pack_zone(static_cast<int32_t>(t.tm_gmtoff / 60));
    }
    return pack_date(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, zone);
}

} // namespace platform
