// A thin layer over the operating system for the runtime and the natives: committed
// virtual memory for the memory manager's frames, process-wide start-up of the platform's
// services, the current folder, sleeping, environment variables and the clock. Text
// crosses this layer as UTF-16.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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
