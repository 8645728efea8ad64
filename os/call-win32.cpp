// Child processes on Windows: CreateProcessW with inheritable pipe ends, "nul:" for streams
// that go nowhere, and `cmd /s /c "COMMAND"` for shell mode. The input is written and the
// error read by threads of their own while this thread reads the output, so a child that
// fills one pipe never stalls the others.
#include <windows.h>

#include <algorithm>
#include <new>
#include <string>

#include "os/call.h"
#include "runtime-core/unicode.h"

namespace call {

namespace {

std::wstring wide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

void close_handle(HANDLE& h) {
    if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
    h = nullptr;
}

// One pipe serviced to its end; the handle is closed when done (which ends the child's input).
struct Pump {
    HANDLE handle = nullptr;
    Redirect* stream = nullptr;
    bool writing = false;
    HANDLE process = nullptr; // the child
};

void pump_run(Pump& pump) {
    if (pump.writing) {
        const std::string& data = pump.stream->bytes;
        size_t sent = 0;
        while (sent < data.size()) {
            const DWORD size = static_cast<DWORD>(std::min<size_t>(data.size() - sent, 65536));
            DWORD done = 0;
            if (!WriteFile(pump.handle, data.data() + sent, size, &done, nullptr)) break;
            sent += done;
        }
    } else {
        // Up to the stream's limit; beyond it, or without memory, the reason is kept and the
        // child is ended: what it writes could go nowhere, and it might write without end.
        char chunk[4096];
        DWORD got = 0;
        while (ReadFile(pump.handle, chunk, sizeof chunk, &got, nullptr) && got > 0) {
            if (got > static_cast<uint64_t>(pump.stream->limit) - pump.stream->bytes.size()) {
                pump.stream->cut = Redirect::kTooLong;
                break;
            }
            try {
                pump.stream->bytes.append(chunk, got);
            } catch (const std::bad_alloc&) {
                pump.stream->cut = Redirect::kNoMemory;
                break;
            }
        }
        if (pump.stream->cut != Redirect::kWhole) TerminateProcess(pump.process, 1);
    }
    close_handle(pump.handle);
}

// A thread entry: nothing may leave it as an exception.
DWORD WINAPI pump_entry(LPVOID parameter) noexcept {
    Pump& pump = *static_cast<Pump*>(parameter);
    try {
        pump_run(pump);
    } catch (...) {
        close_handle(pump.handle);
    }
    return 0;
}

struct Handles {
    HANDLE child[3] = {nullptr, nullptr, nullptr};
    HANDLE parent[3] = {nullptr, nullptr, nullptr};
    ~Handles() {
        for (int i = 0; i < 3; ++i) {
            close_handle(child[i]);
            close_handle(parent[i]);
        }
    }
};

bool prepare(Handles& h, int n, const Redirect& r, bool to_null, SECURITY_ATTRIBUTES* sa) {
    if (r.kind == Redirect::kFile) {
        const std::wstring path = wide(r.path);
        if (n == 0) {
            h.child[n] = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, sa, OPEN_EXISTING,
                                     FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        } else {
            h.child[n] = CreateFileW(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, sa, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        }
        if (h.child[n] == INVALID_HANDLE_VALUE) {
            h.child[n] = nullptr;
            return false;
        }
        return true;
    }
    if (r.kind == Redirect::kBuffer) {
        HANDLE read = nullptr, write = nullptr;
        if (!CreatePipe(&read, &write, sa, 0)) return false;
        h.child[n] = n == 0 ? read : write;
        h.parent[n] = n == 0 ? write : read;
        return SetHandleInformation(h.parent[n], HANDLE_FLAG_INHERIT, 0) != 0;
    }
    if (to_null && n > 0) {
        h.child[n] = CreateFileW(L"nul:", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, sa,
                                 OPEN_EXISTING, 0, nullptr);
        if (h.child[n] == INVALID_HANDLE_VALUE) {
            h.child[n] = nullptr;
            return false;
        }
    }
    return true;
}

bool create(std::wstring line, STARTUPINFOW& si, bool inherit, PROCESS_INFORMATION& pi) {
    return CreateProcessW(nullptr, line.data(), nullptr, nullptr, inherit ? TRUE : FALSE, 0,
                          nullptr, nullptr, &si, &pi) != 0;
}

} // namespace

int64_t spawn(std::u16string_view command, bool show, bool shell, bool wait, Redirect& input,
              Redirect& output, Redirect& error, bool& used_shell) {
    const bool redirected = input.kind != Redirect::kInherit || output.kind != Redirect::kInherit ||
                            error.kind != Redirect::kInherit;
    wait = wait || redirected;
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    Handles h;
    Redirect* streams[3] = {&input, &output, &error};
    for (int n = 0; n < 3; ++n)
        if (!prepare(h, n, *streams[n], !wait, &sa)) return -1;

    STARTUPINFOW si = {};
    si.cb = sizeof si;
    const DWORD standard[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    HANDLE* targets[3] = {&si.hStdInput, &si.hStdOutput, &si.hStdError};
    bool pass = false;
    for (int n = 0; n < 3; ++n) {
        *targets[n] = h.child[n] ? h.child[n] : GetStdHandle(standard[n]);
        pass = pass || h.child[n];
    }
    if (pass) si.dwFlags |= STARTF_USESTDHANDLES;
    if (!show) {
        si.dwFlags |= STARTF_USESHOWWINDOW;
        si.wShowWindow = SW_HIDE;
    }
    const std::wstring line = wide(command);
    const std::wstring shell_line = L"cmd /s /c \"" + line + L"\"";
    PROCESS_INFORMATION pi = {};
    bool started = false;
    if (!shell) {
        started = create(line, si, pass, pi);
        if (!started && GetLastError() == ERROR_FILE_NOT_FOUND) shell = used_shell = true;
    }
    if (shell) started = create(shell_line, si, pass, pi);
    if (!started) return -1;
    for (int n = 0; n < 3; ++n) close_handle(h.child[n]);
    CloseHandle(pi.hThread);
    if (!wait) {
        CloseHandle(pi.hProcess);
        return static_cast<int64_t>(pi.dwProcessId);
    }

    // Input and error on threads of their own, the output here; a pump whose thread cannot
    // be made runs here, in turn.
    Pump pumps[3];
    HANDLE threads[3] = {nullptr, nullptr, nullptr};
    for (int n = 0; n < 3; ++n) {
        if (!h.parent[n]) continue;
        pumps[n].handle = h.parent[n];
        h.parent[n] = nullptr;
        pumps[n].stream = streams[n];
        pumps[n].process = pi.hProcess;
        pumps[n].writing = n == 0;
        if (n != 1) threads[n] = CreateThread(nullptr, 0, pump_entry, &pumps[n], 0, nullptr);
    }
    for (int n : {1, 0, 2})
        if (pumps[n].handle && !threads[n]) pump_run(pumps[n]);
    for (HANDLE& thread : threads) {
        if (!thread) continue;
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    const bool known = GetExitCodeProcess(pi.hProcess, &code) != 0;
    CloseHandle(pi.hProcess);
    return known ? static_cast<int64_t>(static_cast<int32_t>(code)) : -1;
}

std::u16string decode(std::string_view bytes, bool shell) {
    if (!shell || bytes.empty()) return unicode::utf8_to_utf16(bytes);
    const int size = static_cast<int>(bytes.size());
    const int count = MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
    std::u16string text(static_cast<size_t>(count), u'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, reinterpret_cast<wchar_t*>(text.data()),
                        count);
    return text;
}

} // namespace call
