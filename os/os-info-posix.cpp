#include <sys/utsname.h>

#include <cstdlib>
#include <cstring>

#include "os/os-info.h"
#include "runtime-core/runtime.h"
#include "runtime-core/unicode.h"

namespace platform {

namespace {

uint16_t arch_of_machine(const char* machine) {
    const std::string_view m(machine);
    if (m == "x86_64" || m == "amd64") return kArchX64;
    if (m == "aarch64" || m == "arm64") return kArchArm64;
    if (m.starts_with("arm")) return kArchArm;
    if (m == "ia64") return kArchIa64;
    if (m.size() == 4 && m[0] == 'i' && m.substr(2) == "86") return kArchX86;
    return kArchUnknown;
}

// Reads a decimal number at `at` and moves past it and one following separator.
uint32_t take_number(const char*& at) {
    char* end = nullptr;
    const unsigned long n = std::strtoul(at, &end, 10);
    if (end == at) return 0;
    at = *end == '.' ? end + 1 : end;
    return static_cast<uint32_t>(n);
}

} // namespace

// Linux has only the argument vector: it is quoted back into one line.
std::u16string command_line() {
    std::vector<std::u16string> arguments;
    for (int i = 0; i < runtime::record.argc && runtime::record.argv && runtime::record.argv[i];
         ++i)
        arguments.push_back(unicode::utf8_to_utf16(runtime::record.argv[i]));
    return quote_command_line(arguments);
}

OsVersion query_os_version() {
    OsVersion v;
    utsname u{};
    if (uname(&u) != 0) {
        v.name = "Linux";
        return v;
    }
    v.name = std::string(u.sysname) + " " + u.release;
    v.arch = arch_of_machine(u.machine);
    // "6.1.0-18-amd64": major, minor and patch level.
    const char* at = u.release;
    v.major = take_number(at);
    v.minor = take_number(at);
    v.service_pack = take_number(at);
    // "#1 SMP ...": the kernel's build number.
    if (u.version[0] == '#') {
        const char* build = u.version + 1;
        v.build = take_number(build);
    }
    return v;
}

} // namespace platform
