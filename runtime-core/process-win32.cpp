#include <windows.h>
// after windows.h
#include <float.h>
#include <shellapi.h>

#include <cstring>

#include "runtime-core/heap.h"
#include "runtime-core/process.h"
#include "runtime-core/runtime.h"
#include "runtime-core/stdio.h"

namespace process {

intptr_t std_input = -1;
intptr_t std_output = -1;
intptr_t std_error = -1;

namespace {

runtime::FaultContext filter_context;

LONG WINAPI exception_filter(EXCEPTION_POINTERS* info) {
    // Entered from the system: nothing may propagate out of here, and quit never returns.
    const CONTEXT* ctx = info->ContextRecord;
#if defined(__x86_64__)
    if (ctx && (ctx->ContextFlags & CONTEXT_CONTROL) == CONTEXT_CONTROL) {
        filter_context.stack_pointer = ctx->Rsp;
        filter_context.frame_pointer = ctx->Rbp;
        runtime::record.fault = &filter_context;
    }
#else
    if (ctx && (ctx->ContextFlags & 0x1007F) == 0x1007F) {
        filter_context.stack_pointer = ctx->Esp;
        filter_context.frame_pointer = ctx->Ebp;
        runtime::record.fault = &filter_context;
    }
#endif
    const EXCEPTION_RECORD* rec = info->ExceptionRecord;
    runtime::quit(runtime::map_exception(rec->ExceptionCode),
                  static_cast<uint32_t>(reinterpret_cast<uintptr_t>(rec->ExceptionAddress)));
}

} // namespace

void reset_fpu() {
    _fpreset();
}

void set_fpu_control() {
    // 0x027F: every exception masked, 53-bit precision, round to nearest.
    _controlfp(_MCW_EM, _MCW_EM);
#if !defined(__x86_64__)
    // x86-64 does its doubles in SSE registers, which have no precision control.
    _controlfp(_PC_53, _MCW_PC);
#endif
    _controlfp(_RC_NEAR, _MCW_RC);
}

void install_fault_handler() {
    SetUnhandledExceptionFilter(exception_filter);
}

void set_error_mode() {
    SetErrorMode(SEM_FAILCRITICALERRORS);
}

void get_std_handles() {
    std_input = reinterpret_cast<intptr_t>(GetStdHandle(STD_INPUT_HANDLE));
    std_output = reinterpret_cast<intptr_t>(GetStdHandle(STD_OUTPUT_HANDLE));
    std_error = reinterpret_cast<intptr_t>(GetStdHandle(STD_ERROR_HANDLE));
}

void get_argv(int, char**) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) {
        stdio::write_bytes("CommandLineToArgvW failed!\n");
        auto** argv = static_cast<char**>(memory::alloc(sizeof(char*)));
        argv[0] = nullptr;
        runtime::record.argc = 0;
        runtime::record.argv = argv;
        runtime::record.reserved = 0;
        return;
    }
    auto** argv = static_cast<char**>(memory::alloc(sizeof(char*) * (count + 1)));
    for (int i = 0; i < count; ++i) {
        int len = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        argv[i] = static_cast<char*>(memory::alloc(len > 0 ? len : 1));
        argv[i][0] = 0;
        if (len > 0) WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, argv[i], len, nullptr, nullptr);
    }
    argv[count] = nullptr;
    LocalFree(wide);
    runtime::record.argc = count;
    runtime::record.argv = argv;
    runtime::record.reserved = 0;
}

void run_on_big_stack(void (*fn)(void*), void* arg) {
    fn(arg);
}

int32_t map_signal(int) {
    return runtime::kErrorUnknown;
}

} // namespace process
