// The portable part of `call`: the native's arguments become redirections, and collected
// bytes are appended to their target values.
#include "os/call.h"

#include <vector>

#include "datatypes/binary.h"
#include "datatypes/file.h"
#include "datatypes/string.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/support.h"
#include "runtime-core/type-traits.h"
#include "runtime-core/unicode.h"

namespace call {

namespace {

bool is_target(const Cell* value) {
    const uint8_t type = cell::type(value);
    return type == kTypeString || type == kTypeFile || type == kTypeBinary;
}

void prepare_input(const Cell* value, Redirect& redirect) {
    if (!value) return;
    switch (cell::type(value)) {
    case kTypeFile:
        redirect.kind = Redirect::kFile;
        redirect.path = file::to_local_utf16(value);
        break;
    case kTypeBinary:
        redirect.kind = Redirect::kBuffer;
        redirect.bytes.assign(reinterpret_cast<const char*>(binary::zs_head(value)),
                              binary::zs_length(value));
        break;
    default: // string!: sent as UTF-8, which is what children read
        redirect.kind = Redirect::kBuffer;
        redirect.bytes = string::utf8_from_index(value);
        break;
    }
}

void prepare_output(const Cell* value, Redirect& redirect) {
    if (!value) return;
    if (cell::type(value) == kTypeFile) {
        redirect.kind = Redirect::kFile;
        redirect.path = file::to_local_utf16(value);
    } else {
        redirect.kind = Redirect::kBuffer;
    }
}

[[noreturn]] void too_long() {
    error::fire(error::kScript, error::script::too_long);
}

// A stream whose collection was cut short raises the reason.
void check_whole(const Redirect& redirect) {
    if (redirect.cut == Redirect::kTooLong) too_long();
    if (redirect.cut == Redirect::kNoMemory)
        error::fire(error::kInternal, error::internal::no_memory);
}

// The target from its head may hold `count` more bytes or characters.
void check_room(const Cell* target, size_t count) {
    if (memory::buffer(series::node(target))->length() + uint64_t{count} > uint64_t{kMaxCollected})
        too_long();
}

// Appends what was collected to a string! or binary! target.
void deliver(const Cell* target, const Redirect& redirect, bool shell) {
    if (!target || redirect.kind != Redirect::kBuffer || redirect.bytes.empty()) return;
    if (cell::type(target) == kTypeBinary) {
        check_room(target, redirect.bytes.size());
        binary::zs_append(target, reinterpret_cast<const uint8_t*>(redirect.bytes.data()),
                          static_cast<uint32_t>(redirect.bytes.size()));
        return;
    }
    const std::u16string text = decode(redirect.bytes, shell);
    std::vector<uint32_t> chars;
    chars.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
        chars.push_back(cp);
    }
    check_room(target, chars.size());
    string::append_chars(target, chars.data(), static_cast<uint32_t>(chars.size()));
}

} // namespace

int64_t run(const Cell* command, const RunOptions& options, int64_t limit) {
    const Cell* const input = options.input;
    const Cell* const output = options.output;
    const Cell* const error = options.error;
    const bool shell = options.shell;
    if (options.console) error::fire(error::kInternal, error::internal::not_done);
    for (const Cell* value : {input, output, error})
        if (value && !is_target(value))
            error::fire(error::kScript, error::script::invalid_arg, {value});
    std::u16string line;
    if (cell::type(command) == kTypeFile) {
        line = file::to_local_utf16(command);
    } else {
        const std::string utf8 = string::utf8_from_index(command);
        line = unicode::utf8_to_utf16(utf8);
        // The platform takes the command up to its first NUL.
        if (line.find(u'\0') != std::u16string::npos)
            error::fire(error::kScript, error::script::invalid_arg, {command});
    }
    if (line.empty()) return 0;
    Redirect in, out, err;
    prepare_input(input, in);
    prepare_output(output, out);
    prepare_output(error, err);
    out.limit = err.limit = limit;
    bool used_shell = false;
    const int64_t result = spawn(line, options.show, shell, options.wait, in, out, err, used_shell);
    check_whole(out);
    check_whole(err);
    deliver(output, out, shell || used_shell);
    deliver(error, err, shell || used_shell);
    return result;
}

} // namespace call
