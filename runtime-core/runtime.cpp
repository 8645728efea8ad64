#include "runtime-core/runtime.h"

#include <cstdlib>

#include "runtime-core/error-box.h"
#include "runtime-core/heap.h"
#include "runtime-core/memory.h"
#include "runtime-core/throw.h"

namespace runtime {

RuntimeRecord record;
int32_t quit_status = 0;

void finish(int32_t status) {
    on_quit();
    std::exit(status);
}

const char* error_message(int32_t status) {
    static const char* const kMessages[] = {
        "access violation",
        "invalid alignment",
        "breakpoint",
        "single step",
        "bounds exceeded",
        "float denormal operan",
        "float divide by zero",
        "float inexact result",
        "float invalid operation",
        "float overflow",
        "float stack check",
        "float underflow",
        "integer divide by zero",
        "integer overflow",
        "privileged instruction",
        "invalid virtual address",
        "illegal instruction",
        "non-continuable exception",
        "stack error or overflow",
        "invalid disposition",
        "guard page",
        "invalid handle",
        "illegal operand",
        "illegal addressing mode",
        "illegal trap",
        "coprocessor error",
        "non-existent physical address",
        "object specific hardware error",
        "hardware memory error consumed AR",
        "hardware memory error consumed AO",
        "privileged register",
        "segmentation fault",
        "FPU error",
        "Bus error",
    };
    if (status >= 1 && status <= 34) return kMessages[status - 1];
    switch (status) {
    case kErrorOutOfMemory:
        return "out of memory";
    case kErrorNoCatch:
        return "no CATCH for THROW";
    case kErrorAssertion:
        return "assertion failed";
    case kErrorUnknown:
        return "unknown error";
    case kErrorNoCase:
        return "no value matched in CASE";
    case kErrorNoSwitch:
        return "no value matched in SWITCH";
    default:
        return "unknown error code!";
    }
}

size_t format_report_to(char* out, size_t size, int32_t status, uint32_t address) {
    size_t n = 0;
    auto put = [&](char c) {
        if (n < size) out[n++] = c;
    };
    auto puts = [&](const char* text) {
        while (*text) put(*text++);
    };
    puts("*** Runtime Error ");
    // Decimal status, sign first; the magnitude as unsigned so that INT32_MIN is exact.
    uint32_t magnitude = static_cast<uint32_t>(status);
    if (status < 0) {
        put('-');
        magnitude = 0u - magnitude;
    }
    char digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    while (count > 0) put(digits[--count]);
    puts(": ");
    puts(error_message(status));
    puts("\n*** at: ");
    for (int shift = 28; shift >= 0; shift -= 4) put("0123456789ABCDEF"[(address >> shift) & 15]);
    put('h');
    return n;
}

std::string format_report(int32_t status, uint32_t address) {
    char text[128];
    return std::string(text, format_report_to(text, sizeof text, status, address));
}

int32_t map_exception(uint32_t code) {
    static constexpr struct {
        uint32_t code;
        int32_t error;
    } kMap[] = {
        {0xC0000005, 1},  {0x80000002, 2},  {0x80000003, 3},  {0x80000004, 4},  {0xC000008C, 5},
        {0xC000008D, 6},  {0xC000008E, 7},  {0xC000008F, 8},  {0xC0000090, 9},  {0xC0000091, 10},
        {0xC0000092, 11}, {0xC0000093, 12}, {0xC0000094, 13}, {0xC0000095, 14}, {0xC0000096, 15},
        {0xC0000006, 16}, {0xC000001D, 17}, {0xC0000025, 18}, {0xC00000FD, 19}, {0xC0000026, 20},
        {0x80000001, 21}, {0xC0000008, 22}, {0xC000013A, 0},
    };
    for (const auto& m : kMap)
        if (m.code == code) return m.error;
    return kErrorUnknown;
}

void on_quit() {
    memory::free_all();
}

void exit_cleanup() {
    memory::release_all();
    memory::free_all();
}

void quit(int32_t status, uint32_t address) {
    if (status != 0) {
        std::string report = format_report(status, address);
        // The message is widened byte by byte, as the report is plain ASCII.
        std::u16string wide(report.begin(), report.end());
        gui::error_box(u"Zan App Error", wide);
    }
    on_quit();
    std::exit(status);
}

void top_catch() {
    if (record.thrown_code == kThrowOrderlyEnd) finish(quit_status);
    quit(kErrorNoCatch,
         static_cast<uint32_t>(reinterpret_cast<uintptr_t>(reinterpret_cast<void*>(&top_catch))));
}

} // namespace runtime
