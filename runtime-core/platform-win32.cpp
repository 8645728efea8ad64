#include <windows.h>

#include <shellapi.h>
// after windows.h
#include <fcntl.h>
#include <io.h>
#include <objbase.h>

#include <cstdio>

#include "runtime-core/crypto.h"
#include "runtime-core/platform.h"
#include "runtime-core/stdio.h"
#include "runtime-core/throw.h"

// GDI+ flat start-up entry (gdiplus.dll); declared here to keep the C++ GDI+ headers out.
namespace {
struct GdiplusStartupInput {
    UINT32 GdiplusVersion;
    void* DebugEventCallback;
    BOOL SuppressBackgroundThread;
    BOOL SuppressExternalCodecs;
};
} // namespace
extern "C" int WINAPI GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input,
                                     void* output);

namespace platform {

namespace {
ULONG_PTR gdiplus_token = 0;
}

void* alloc_virtual(size_t size, bool executable) {
    void* p = VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE,
                           executable ? PAGE_EXECUTE_READWRITE : PAGE_READWRITE);
    if (!p) runtime::throw_code(runtime::kThrowAllocVirtual);
    return p;
}

void free_virtual(void* address, size_t) {
    if (!VirtualFree(address, 0, MEM_RELEASE)) runtime::throw_code(runtime::kThrowFreeVirtual);
}

void gdiplus_start() {
    GdiplusStartupInput input{1, nullptr, FALSE, FALSE};
    GdiplusStartup(&gdiplus_token, &input, nullptr);
}

void init() {
    gdiplus_start();
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    crypto::acquire_context();
    stdio::probe_mode();
    // The runtime writes standard output and error through its own layer only; the text
    // mode keeps the C runtime's streams from mangling wide text.
    _setmode(_fileno(stdout), _O_U16TEXT);
    _setmode(_fileno(stderr), _O_U16TEXT);
}

std::u16string get_current_dir() {
    DWORD need = GetCurrentDirectoryW(0, nullptr);
    std::u16string dir(need, u'\0');
    DWORD got = need ? GetCurrentDirectoryW(need, reinterpret_cast<wchar_t*>(dir.data())) : 0;
    dir.resize(got < need ? got : 0);
    return dir;
}

bool set_current_dir(std::u16string_view path) {
    std::u16string z(path);
    return SetCurrentDirectoryW(reinterpret_cast<const wchar_t*>(z.c_str())) != 0;
}

void sleep(double seconds) {
    Sleep(sleep_millis(seconds));
}

bool set_env(std::u16string_view name, std::u16string_view value) {
    std::u16string n(name), v(value);
    return SetEnvironmentVariableW(reinterpret_cast<const wchar_t*>(n.c_str()),
                                   reinterpret_cast<const wchar_t*>(v.c_str())) != 0;
}

uint32_t get_env(std::u16string_view name, char16_t* buffer, uint32_t size) {
    std::u16string n(name);
    return GetEnvironmentVariableW(reinterpret_cast<const wchar_t*>(n.c_str()),
                                   reinterpret_cast<wchar_t*>(buffer), size);
}

bool unset_env(std::u16string_view name) {
    std::u16string n(name);
    return SetEnvironmentVariableW(reinterpret_cast<const wchar_t*>(n.c_str()), nullptr) != 0;
}

std::vector<std::u16string> environment_entries() {
    std::vector<std::u16string> entries;
    wchar_t* block = GetEnvironmentStringsW();
    if (!block) return entries;
    for (const wchar_t* p = block; *p; p += wcslen(p) + 1)
        entries.emplace_back(reinterpret_cast<const char16_t*>(p));
    FreeEnvironmentStringsW(block);
    return entries;
}

int64_t file_size(std::u16string_view path) {
    std::u16string z(path);
    HANDLE h = CreateFileW(reinterpret_cast<const wchar_t*>(z.c_str()), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return -1;
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok =
        GetFileInformationByHandle(h, &info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    CloseHandle(h);
    if (!ok) return -1;
    return static_cast<int64_t>(static_cast<uint64_t>(info.nFileSizeHigh) << 32 |
                                info.nFileSizeLow);
}

bool open_with_shell(std::u16string_view target) {
    std::u16string z(target);
    HINSTANCE h = ShellExecuteW(nullptr, L"open", reinterpret_cast<const wchar_t*>(z.c_str()),
                                nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(h) > 32;
}

double now_utc(bool precise) {
    FILETIME ft;
    SYSTEMTIME st;
    GetSystemTimeAsFileTime(&ft);
    FileTimeToSystemTime(&ft, &st);
    double t = st.wHour * 3600.0 + st.wMinute * 60.0 + st.wSecond;
    if (precise) {
        uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
        t += (st.wMilliseconds * 1000000.0 + filetime_mod_10000(ticks) * 100.0) / 1e9;
    }
    return t;
}

int32_t now_local(bool utc) {
    SYSTEMTIME st;
    int32_t zone = 0;
    if (utc) {
        GetSystemTime(&st);
    } else {
        GetLocalTime(&st);
        TIME_ZONE_INFORMATION tz;
        DWORD kind = GetTimeZoneInformation(&tz);
        LONG bias = tz.Bias + (kind == TIME_ZONE_ID_DAYLIGHT ? tz.DaylightBias : 0);
        zone = pack_zone(-bias);
    }
    return pack_date(st.wYear, st.wMonth, st.wDay, zone);
}

} // namespace platform
