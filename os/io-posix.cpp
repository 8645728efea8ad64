// The file services on POSIX systems: open/read/write/lseek/fstat, opendir/readdir, and
// stat with nanosecond modification times.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "os/io.h"
#include "runtime-core/unicode.h"

namespace io {

namespace {

std::string native(std::u16string_view path) {
    return unicode::utf16_to_utf8(path);
}

} // namespace

Handle open_file(std::u16string_view path, uint32_t mode) {
    int flags = O_RDONLY;
    if (mode & kWrite) {
        flags = O_WRONLY | O_CREAT;
        if (!(mode & (kAppend | kSeek))) flags |= O_TRUNC;
    }
    int fd;
    do {
        fd = ::open(native(path).c_str(), flags | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return kNoHandle;
    struct stat st;
    if (!(mode & kWrite) && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        return kNoHandle;
    }
    return fd;
}

Handle standard_output() {
    return STDOUT_FILENO;
}

int64_t file_size(Handle file) {
    struct stat st;
    if (fstat(static_cast<int>(file), &st) != 0) return -1;
    return S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : 0;
}

bool seek(Handle file, int64_t offset) {
    const off_t r = offset < 0
                        ? lseek(static_cast<int>(file), 0, SEEK_END)
                        : lseek(static_cast<int>(file), static_cast<off_t>(offset), SEEK_SET);
    return r >= 0;
}

int64_t read(Handle file, void* buffer, uint32_t size) {
    auto* p = static_cast<char*>(buffer);
    uint32_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(static_cast<int>(file), p + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += static_cast<uint32_t>(n);
    }
    return done;
}

int64_t write(Handle file, const void* data, uint32_t size) {
    const auto* p = static_cast<const char*>(data);
    uint32_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(static_cast<int>(file), p + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        done += static_cast<uint32_t>(n);
    }
    return done;
}

void close(Handle file) {
    if (file != STDOUT_FILENO) ::close(static_cast<int>(file));
}

bool list_dir(std::u16string_view path, std::vector<Entry>& entries) {
    const std::string folder = native(path);
    DIR* d = opendir(folder.empty() ? "." : folder.c_str());
    if (!d) return false;
    while (const dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        bool directory = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            struct stat st;
            std::string full = folder;
            if (!full.empty() && full.back() != '/') full += '/';
            directory = stat((full + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        entries.push_back({unicode::utf8_to_utf16(name), directory});
    }
    closedir(d);
    return true;
}

bool list_root(std::vector<Entry>& entries) {
    return list_dir(u"/", entries);
}

bool modified(std::u16string_view path, Stamp& stamp) {
    struct stat st;
    if (stat(native(path).c_str(), &st) != 0) return false;
    const std::u16string_view p = path;
    if (!p.empty() && p.back() == u'/' && !S_ISDIR(st.st_mode)) return false;
    std::tm t{};
    const time_t seconds = st.st_mtim.tv_sec;
    if (!gmtime_r(&seconds, &t)) return false;
    stamp = {t.tm_year + 1900,
             t.tm_mon + 1,
             t.tm_mday,
             t.tm_hour,
             t.tm_min,
             t.tm_sec,
             static_cast<int32_t>(st.st_mtim.tv_nsec)};
    return true;
}

bool delete_file(std::u16string_view path) {
    return unlink(native(path).c_str()) == 0;
}

bool delete_dir(std::u16string_view path) {
    return rmdir(native(path).c_str()) == 0;
}

bool rename(std::u16string_view from, std::u16string_view to) {
    return std::rename(native(from).c_str(), native(to).c_str()) == 0;
}

bool create_dir(std::u16string_view path) {
    return mkdir(native(path).c_str(), 0777) == 0;
}

} // namespace io
