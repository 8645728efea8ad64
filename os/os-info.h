// Facts about the process and its host for the language: the raw command line and a
// description of the operating system (the `os-info` routine's object). The environment
// block is runtime-core/platform.h's.
//
// The Linux build has no command line of its own, only an argument vector: it re-quotes the
// vector the way Windows programs write one, so that the language splits it the same way on
// both builds.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime-core/cell.h"

namespace platform {

// The process command line, program path and quoting included, unchanged on Windows.
std::u16string command_line();

// One command line from an argument vector: each argument as it is when it holds no blank,
// tab, line feed or double quote and is not empty, else in double quotes with each double
// quote written \" and the backslashes before a double quote (or before the closing quote)
// doubled. Splitting the result by the Windows rules gives the vector back.
std::u16string quote_command_line(const std::vector<std::u16string>& arguments);

// Processor architectures by the system's numbering.
constexpr uint16_t kArchX86 = 0;
constexpr uint16_t kArchArm = 5;
constexpr uint16_t kArchIa64 = 6;
constexpr uint16_t kArchX64 = 9;
constexpr uint16_t kArchArm64 = 12;
constexpr uint16_t kArchUnknown = 0xFFFF;

// What the platform reports about itself.
struct OsVersion {
    std::string name; // "Windows 10", "Linux 6.1.0-18-amd64"
    uint16_t arch = kArchUnknown;
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t service_pack = 0; // service-pack major number (Linux: the patch level)
    uint32_t build = 0;
};
// Asks the operating system.
OsVersion query_os_version();

// The name of a Windows release by its version numbers; `server` for any product type other
// than a workstation.
std::string windows_release(uint32_t major, uint32_t minor, uint32_t build, bool server);
// The word of an architecture number: x86-32, ARM, IA-64, x86-64, ARM64 or Unknown.
const char* arch_name(uint16_t arch);

// A new object with the fields name (string!), arch (word!), version (tuple! of major, minor
// and service pack) and build (integer!), pushed on the data stack. May collect.
Cell* os_info();

} // namespace platform
