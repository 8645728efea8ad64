// The file services on Windows: CreateFileW, the 64-bit size and pointer calls, ReadFile and
// WriteFile in loops, FindFirstFileW, GetLogicalDriveStringsW and GetFileAttributesExW.
#include <windows.h>

#include <cwchar>
#include <stdio.h>

#include "os/io.h"

namespace io {

namespace {

std::wstring wide(std::u16string_view path) {
    return std::wstring(path.begin(), path.end());
}

HANDLE os(Handle file) {
    return reinterpret_cast<HANDLE>(file);
}

} // namespace

Handle open_file(std::u16string_view path, uint32_t mode) {
    DWORD access = GENERIC_READ, disposition = OPEN_EXISTING;
    if (mode & kWrite) {
        access = GENERIC_WRITE;
        disposition = (mode & (kAppend | kSeek)) ? OPEN_ALWAYS : CREATE_ALWAYS;
    }
    HANDLE h = CreateFileW(wide(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? kNoHandle : reinterpret_cast<Handle>(h);
}

Handle standard_output() {
    HANDLE h = GetStdHandle(STD_OUTPUT_HANDLE);
    return h == INVALID_HANDLE_VALUE || !h ? kNoHandle : reinterpret_cast<Handle>(h);
}

int64_t file_size(Handle file) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(os(file), &size)) return 0;
    return size.QuadPart;
}

bool seek(Handle file, int64_t offset) {
    LARGE_INTEGER to;
    to.QuadPart = offset < 0 ? 0 : offset;
    return SetFilePointerEx(os(file), to, nullptr, offset < 0 ? FILE_END : FILE_BEGIN) != 0;
}

int64_t read(Handle file, void* buffer, uint32_t size) {
    auto* p = static_cast<char*>(buffer);
    uint32_t done = 0;
    while (done < size) {
        DWORD n = 0;
        if (!ReadFile(os(file), p + done, size - done, &n, nullptr)) {
            if (GetLastError() == ERROR_BROKEN_PIPE) break;
            return -1;
        }
        if (n == 0) break;
        done += n;
    }
    return done;
}

int64_t write(Handle file, const void* data, uint32_t size) {
    const auto* p = static_cast<const char*>(data);
    uint32_t done = 0;
    while (done < size) {
        DWORD n = 0;
        if (!WriteFile(os(file), p + done, size - done, &n, nullptr) || n == 0) return -1;
        done += n;
    }
    return done;
}

void close(Handle file) {
    if (os(file) != GetStdHandle(STD_OUTPUT_HANDLE)) CloseHandle(os(file));
}

bool list_dir(std::u16string_view path, std::vector<Entry>& entries) {
    std::wstring pattern = wide(path);
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW(pattern.c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return false;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        entries.push_back({std::u16string(name.begin(), name.end()),
                           (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileW(h, &found));
    FindClose(h);
    return true;
}

bool list_root(std::vector<Entry>& entries) {
    wchar_t roots[512];
    const DWORD n = GetLogicalDriveStringsW(511, roots);
    if (n == 0 || n > 511) return false;
    for (const wchar_t* r = roots; *r; r += std::wcslen(r) + 1)
        entries.push_back({std::u16string(1, static_cast<char16_t>(r[0])), true});
    return true;
}

bool modified(std::u16string_view path, Stamp& stamp) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(wide(path).c_str(), GetFileExInfoStandard, &data)) return false;
    if (!path.empty() && (path.back() == u'\\' || path.back() == u'/') &&
        !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    SYSTEMTIME t;
    if (!FileTimeToSystemTime(&data.ftLastWriteTime, &t)) return false;
    stamp = {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds * 1000000};
    return true;
}

bool delete_file(std::u16string_view path) {
    return DeleteFileW(wide(path).c_str()) != 0;
}

bool delete_dir(std::u16string_view path) {
    return RemoveDirectoryW(wide(path).c_str()) != 0;
}

bool rename(std::u16string_view from, std::u16string_view to) {
    return _wrename(wide(from).c_str(), wide(to).c_str()) == 0;
}

bool create_dir(std::u16string_view path) {
    return CreateDirectoryW(wide(path).c_str(), nullptr) != 0;
}

} // namespace io
