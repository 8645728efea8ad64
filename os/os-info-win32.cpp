#include <windows.h>

#include "os/os-info.h"

namespace platform {

std::u16string command_line() {
    return reinterpret_cast<const char16_t*>(GetCommandLineW());
}

OsVersion query_os_version() {
    OsVersion v;
    OSVERSIONINFOEXA info{};
    info.dwOSVersionInfoSize = sizeof info;
    // The executable's manifest declares the releases it supports, so that newer ones report
    // their own version here rather than 6.2.
    if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) {
        v.major = info.dwMajorVersion;
        v.minor = info.dwMinorVersion;
        v.build = info.dwBuildNumber;
        v.service_pack = info.wServicePackMajor;
    }
    const bool server = info.wProductType != 0 && info.wProductType != VER_NT_WORKSTATION;
    v.name = "Windows " + windows_release(v.major, v.minor, v.build, server);
    info.szCSDVersion[sizeof info.szCSDVersion - 1] = 0;
    if (info.szCSDVersion[0]) v.name += std::string(" ") + info.szCSDVersion;
    // The machine's processor, not the one this (possibly 32-bit) process is emulating.
    SYSTEM_INFO system{};
    GetNativeSystemInfo(&system);
    v.arch = system.wProcessorArchitecture;
    return v;
}

} // namespace platform
