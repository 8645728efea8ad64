#include "os/os-info.h"

#include <algorithm>

#include "datatypes/context.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"

namespace platform {

namespace {

bool needs_quotes(std::u16string_view argument) {
    return argument.empty() || argument.find_first_of(u" \t\n\v\"") != std::u16string_view::npos;
}

// Sets the field `name` of the object on the data stack to the value on top of the stack,
// which is dropped. May collect.
void set_field(const Cell* object, const char* name) {
    GcRoot o(*object);
    const Cell w{kTypeWord, 0, symbol::make(name), word::kUnresolved};
    context::set_word_value(o.cell().w1, &w, stack::top_value());
    stack::pop(1);
}

} // namespace

std::u16string quote_command_line(const std::vector<std::u16string>& arguments) {
    std::u16string line;
    for (const std::u16string& argument : arguments) {
        if (!line.empty()) line += u' ';
        if (!needs_quotes(argument)) {
            line += argument;
            continue;
        }
        line += u'"';
        size_t backslashes = 0;
        for (char16_t c : argument) {
            if (c == u'\\') {
                ++backslashes;
                continue;
            }
            // Backslashes count as escapes only before a double quote.
            line.append(c == u'"' ? 2 * backslashes + 1 : backslashes, u'\\');
            backslashes = 0;
            line += c;
        }
        line.append(2 * backslashes, u'\\');
        line += u'"';
    }
    return line;
}

std::string windows_release(uint32_t major, uint32_t minor, uint32_t build, bool server) {
    if (major >= 10) {
        if (!server) return build < 22000 ? "10" : "11";
        if (build < 17134) return "Server 2016";
        return build >= 20285 ? "Server 2022" : "Server 2019";
    }
    if (major == 5) {
        if (minor == 0) return "2000";
        if (minor == 1) return "XP";
        return server ? "Server 2003 R2" : "Server 2003";
    }
    if (major == 6) {
        switch (minor) {
        case 1:
            return server ? "Server 2008 R2" : "7";
        case 2:
            return server ? "Server 2012" : "8";
        case 3:
            return server ? "Server 2012 R2" : "8.1";
        default:
            return server ? "Server 2008" : "Vista";
        }
    }
    // Releases before 2000 do not run this program.
    return "Unknown";
}

const char* arch_name(uint16_t arch) {
    switch (arch) {
    case kArchX86:
        return "x86-32";
    case kArchArm:
        return "ARM";
    case kArchIa64:
        return "IA-64";
    case kArchX64:
        return "x86-64";
    case kArchArm64:
        return "ARM64";
    default:
        return "Unknown";
    }
}

Cell* os_info() {
    const OsVersion v = query_os_version();
    Cell* object = object::make_empty_at(stack::push_cell(), 4);
    *context::owner_of(object->w1) = *object;
    string::text_push(kTypeString, v.name.data(), static_cast<uint32_t>(v.name.size()));
    set_field(object, "name");
    word::push_new(symbol::make(arch_name(v.arch)));
    set_field(object, "arch");
    // A tuple's elements are bytes.
    const uint8_t version[3] = {static_cast<uint8_t>(std::min<uint32_t>(v.major, 255)),
                                static_cast<uint8_t>(std::min<uint32_t>(v.minor, 255)),
                                static_cast<uint8_t>(std::min<uint32_t>(v.service_pack, 255))};
    tuple::push(version, 3);
    set_field(object, "version");
    integer::push(static_cast<int32_t>(std::min<uint32_t>(v.build, INT32_MAX)));
    set_field(object, "build");
    return object;
}

} // namespace platform
