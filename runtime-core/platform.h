// A thin layer over the operating system for the runtime and the natives: committed
// virtual memory for the memory manager's frames, process-wide start-up of the platform's
// services, the current folder, sleeping, environment variables and the clock. Text
// crosses this layer as UTF-16.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Committed, zeroed memory. Failure throws kThrowAllocVirtual (the memory manager turns it
// into a language error); releasing failure throws kThrowFreeVirtual.
void* alloc_virtual(size_t size, bool executable);
void free_virtual(void* address, size_t size);

void gdiplus_start();
void init();

std::u16string get_current_dir();
bool set_current_dir(std::u16string_view path);

// Milliseconds slept for a wait of `seconds`: below 1 (or not comparable) becomes 1,
// otherwise truncated toward zero.
uint32_t sleep_millis(double seconds);
void sleep(double seconds);

bool set_env(std::u16string_view name, std::u16string_view value);
// Copies the variable's value into `buffer` (room for `size` units with the terminator).
// Returns the units written without the terminator, the size needed (terminator included)
// when the buffer is too small, or 0 when the variable is absent.
uint32_t get_env(std::u16string_view name, char16_t* buffer, uint32_t size);
// Removes the variable; false when the name is not acceptable to the system.
bool unset_env(std::u16string_view name);
// The raw entries of the process environment ("NAME=value"), in the system's order.
std::vector<std::u16string> environment_entries();
// Splits an environment entry at the first "=" after at least one character (so an entry
// that starts with "=", as Windows' per-drive folders do, keeps it in its name). An entry
// without such an "=" gives an empty value.
void split_environment_entry(std::u16string_view entry, std::u16string& name,
                             std::u16string& value);

// The size in bytes of the file at `path` (the system's form), or -1 for a folder or a file
// that cannot be opened.
int64_t file_size(std::u16string_view path);

// Hands a URL or a file (the system's form) to the desktop's handler for it, without
// waiting. False when the handler could not be started.
bool open_with_shell(std::u16string_view target);

// The time of day in UTC as seconds; with `precise`, the fraction of the second too.
double now_utc(bool precise);
// The date packed as year << 17 | month << 12 | day << 7 | zone, zone 0 for UTC.
int32_t now_local(bool utc);

// Pure parts of the clock, shared by both builds.
// (file time mod 10,000) computed from 32-bit pieces of a 64-bit 100-ns count.
uint32_t filetime_mod_10000(uint64_t filetime);
// The zone field for an offset to UTC in minutes.
int32_t pack_zone(int32_t offset_minutes);
int32_t pack_date(int32_t year, int32_t month, int32_t day, int32_t zone);

} // namespace platform
