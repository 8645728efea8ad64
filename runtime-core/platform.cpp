#include "runtime-core/platform.h"

namespace platform {

uint32_t sleep_millis(double seconds) {
    double ms = seconds * 1000.0;
    if (!(ms >= 1.0)) return 1;
    if (ms >= 4294967295.0) return 0xFFFFFFFFu;
    return static_cast<uint32_t>(ms);
}

uint32_t filetime_mod_10000(uint64_t filetime) {
    uint32_t low30 = static_cast<uint32_t>(filetime & 0x3FFFFFFF);
    uint32_t mid = static_cast<uint32_t>((filetime >> 30) & 0x1FFFF);
    uint32_t high = static_cast<uint32_t>(filetime >> 47);
    // 1824 = 2^30 mod 10,000 and 5328 = 2^47 mod 10,000; the sum stays below 2^32.
    return (mid * 1824u + high * 5328u + low30) % 10000u;
}

int32_t pack_zone(int32_t offset) {
    int32_t hours = offset / 60;
    int32_t hour_field = hours < 0 ? ((-hours & 0xF) | 0x10) : hours;
    int32_t minutes = offset % 60;
    if (minutes < 0) minutes += 60;
    int32_t quarter = (minutes / 15) & 3;
    return hour_field << 2 | quarter;
}

int32_t pack_date(int32_t year, int32_t month, int32_t day, int32_t zone) {
    return year << 17 | month << 12 | day << 7 | zone;
}

} // namespace platform

namespace platform {

void split_environment_entry(std::u16string_view entry, std::u16string& name,
                             std::u16string& value) {
    const size_t at = entry.size() > 1 ? entry.find(u'=', 1) : std::u16string_view::npos;
    if (at == std::u16string_view::npos) {
        name.assign(entry);
        value.clear();
        return;
    }
    name.assign(entry.substr(0, at));
    value.assign(entry.substr(at + 1));
}

} // namespace platform
