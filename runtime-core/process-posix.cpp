#include <pthread.h>
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <cerrno>
#include <cfenv>
#include <cstdlib>
#include <cstring>

#include "runtime-core/heap.h"
#include "runtime-core/process.h"
#include "runtime-core/runtime.h"

namespace process {

intptr_t std_input = -1;
intptr_t std_output = -1;
intptr_t std_error = -1;

namespace {

constexpr size_t kBigStack = 256u << 20;
constexpr size_t kSignalStack = 64u << 10;

runtime::FaultContext signal_context;
alignas(16) char signal_stack[kSignalStack];
// The big-stack thread's own: an alternate stack belongs to one thread.
alignas(16) char big_stack_signal_stack[kSignalStack];

void use_signal_stack(char* stack) {
    stack_t ss{};
    ss.ss_sp = stack;
    ss.ss_size = kSignalStack;
    sigaltstack(&ss, nullptr);
}

// The handler may interrupt anything, malloc and stdio included: it only formats into its
// own buffer, writes the error box text to standard error and ends the process, with
// async-signal-safe calls alone (the same text and status as runtime::quit).
void fault_handler(int signal, siginfo_t* info, void* context) {
    int32_t status = map_signal(signal);
    if (status == 0) _exit(0); // Ctrl-C
    uint32_t address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(info->si_addr));
#if defined(__x86_64__)
    if (auto* uc = static_cast<ucontext_t*>(context)) {
        address = static_cast<uint32_t>(uc->uc_mcontext.gregs[REG_RIP]);
        signal_context.stack_pointer = static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RSP]);
        signal_context.frame_pointer = static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RBP]);
        runtime::record.fault = &signal_context;
    }
#else
    (void)context;
#endif
    static constexpr char kTitle[] = "Zan App Error\n";
    char text[256];
    size_t n = sizeof kTitle - 1;
    std::memcpy(text, kTitle, n);
    n += runtime::format_report_to(text + n, sizeof text - n - 1, status, address);
    text[n++] = '\n';
    for (const char* p = text; n > 0;) {
        ssize_t written = ::write(STDERR_FILENO, p, n);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) break;
        p += written;
        n -= static_cast<size_t>(written);
    }
    _exit(status);
}

} // namespace

void reset_fpu() {
    std::feclearexcept(FE_ALL_EXCEPT);
}

void set_fpu_control() {
    std::fesetround(FE_TONEAREST);
}

int32_t map_signal(int signal) {
    switch (signal) {
    case SIGSEGV:
        return runtime::kErrorSegmentationFault;
    case SIGFPE:
        return runtime::kErrorFpu;
    case SIGBUS:
        return runtime::kErrorBus;
    case SIGILL:
        return 17; // illegal instruction
    case SIGTRAP:
        return 3; // breakpoint
    case SIGINT:
        return 0; // Ctrl-C: a plain exit
    default:
        return runtime::kErrorUnknown;
    }
}

void install_fault_handler() {
    // Faults are handled on a stack of their own, so that a stack overflow can be reported.
    use_signal_stack(signal_stack);
    struct sigaction sa {};
    sa.sa_sigaction = fault_handler;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    for (int s : {SIGSEGV, SIGFPE, SIGBUS, SIGILL, SIGTRAP, SIGINT}) sigaction(s, &sa, nullptr);
}

void set_error_mode() {}

void get_std_handles() {
    std_input = STDIN_FILENO;
    std_output = STDOUT_FILENO;
    std_error = STDERR_FILENO;
}

void get_argv(int argc, char** argv) {
    auto** copy = static_cast<char**>(memory::alloc(sizeof(char*) * (argc + 1)));
    for (int i = 0; i < argc; ++i) {
        size_t len = std::strlen(argv[i]) + 1;
        copy[i] = static_cast<char*>(memory::alloc(len));
        std::memcpy(copy[i], argv[i], len);
    }
    copy[argc] = nullptr;
    runtime::record.argc = argc;
    runtime::record.argv = copy;
    runtime::record.reserved = 0;
}

void run_on_big_stack(void (*fn)(void*), void* arg) {
    struct Job {
        void (*fn)(void*);
        void* arg;
    } job{fn, arg};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, kBigStack);
    pthread_t thread;
    auto trampoline = [](void* p) -> void* {
        auto* j = static_cast<Job*>(p);
        use_signal_stack(big_stack_signal_stack);
        j->fn(j->arg);
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        sigaltstack(&off, nullptr);
        return nullptr;
    };
    if (pthread_create(&thread, &attr, trampoline, &job) != 0) {
        fn(arg); // no big stack to be had: run on the main thread's own
    } else {
        pthread_join(thread, nullptr);
    }
    pthread_attr_destroy(&attr);
}

} // namespace process
