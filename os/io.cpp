#include "os/io.h"

#include <algorithm>
#include <new>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/dispatch.h"
#include "datatypes/file.h"
#include "datatypes/form-mold.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/url.h"
#include "os/http.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/support.h"
#include "runtime-core/unicode.h"

namespace io {

namespace {

constexpr uint32_t kChunk = 65536;

bool separator(char32_t c) {
    return c == U'/' || c == U'\\';
}

[[noreturn]] void cannot_open(const Cell* path) {
    error::fire(error::kAccess, error::access::cannot_open, {path});
}

[[noreturn]] void too_long() {
    error::fire(error::kScript, error::script::too_long);
}

// Closes the handle when the scope ends, errors included.
struct Open {
    Handle handle;
    explicit Open(Handle h) : handle(h) {}
    ~Open() {
        if (handle != kNoHandle) close(handle);
    }
    Open(const Open&) = delete;
    Open& operator=(const Open&) = delete;
};

// Sizes a byte buffer; a size the process cannot hold is internal/no-memory.
void reserve(std::string& bytes, size_t size) {
    try {
        bytes.resize(size);
    } catch (const std::bad_alloc&) {
        error::fire(error::kInternal, error::internal::no_memory);
    }
}

// Reads a file whose size the platform does not report (a device, a pipe, a file of the
// kernel) in 64 KB steps: to its end, or only up to `wanted` bytes when that is not negative
// (a device such as an endless source ends only there). Content longer than a series holds is
// script/too-long.
bool read_stream(Handle h, int64_t wanted, std::string& bytes) {
    for (;;) {
        const auto at = static_cast<int64_t>(bytes.size());
        if (wanted >= 0 && at >= wanted) return true;
        if (at > kMaxContent) too_long();
        const auto step =
            static_cast<uint32_t>(wanted < 0 ? kChunk : std::min<int64_t>(kChunk, wanted - at));
        reserve(bytes, static_cast<size_t>(at) + step);
        const int64_t n = read(h, bytes.data() + at, step);
        if (n < 0) return false;
        bytes.resize(static_cast<size_t>(at + n));
        if (n < step) return true; // the platform read loops until the step or the end
    }
}

// Passes over the first `count` bytes of a stream that cannot seek.
bool skip_stream(Handle h, int64_t count) {
    std::string chunk;
    reserve(chunk, kChunk);
    while (count > 0) {
        const auto step = static_cast<uint32_t>(std::min<int64_t>(kChunk, count));
        const int64_t n = read(h, chunk.data(), step);
        if (n < 0) return false;
        if (n < step) return true;
        count -= n;
    }
    return true;
}

// The bytes of a file: `seek` bytes skipped, at most `part` kept (negative: no limit).
bool file_bytes(Handle h, int32_t part, int32_t seek, std::string& bytes) {
    int64_t size = file_size(h);
    if (size <= 0) {
        // Devices and some special files report no size: read until the end or the part.
        if (seek > 0 && !skip_stream(h, seek)) return false;
        return read_stream(h, part, bytes);
    }
    if (seek >= 0) {
        if (!io::seek(h, seek)) return false;
        size -= seek;
    }
    if (size < 0) size = 0;
    if (part >= 0 && part < size) size = part;
    if (size > kMaxContent) too_long();
    reserve(bytes, static_cast<size_t>(size));
    const int64_t n = size ? read(h, bytes.data(), static_cast<uint32_t>(size)) : 0;
    if (n < 0) return false;
    bytes.resize(static_cast<size_t>(n));
    return true;
}

// The bytes a value writes: a string's UTF-8 text and a binary's bytes from the index (at
// most `part` characters or bytes), anything else molded.
std::string value_bytes(const Cell* value, int32_t part) {
    const uint8_t t = cell::type(value);
    if (t == kTypeBinary) {
        memory::Buffer* b = memory::buffer(value->w2);
        const uint32_t from = std::min(value->w1, b->length());
        uint32_t n = b->length() - from;
        if (part >= 0 && static_cast<uint32_t>(part) < n) n = static_cast<uint32_t>(part);
        return std::string(reinterpret_cast<const char*>(b->at_head() + from), n);
    }
    if (t == kTypeString) {
        std::string text = string::utf8_from_index(value);
        if (part >= 0) {
            const auto* p = reinterpret_cast<const uint8_t*>(text.data());
            const uint8_t* end = utf8::skip_chars(p, p + text.size(), static_cast<uint32_t>(part));
            text.resize(static_cast<size_t>(end - p));
        }
        return text;
    }
    Cell* scratch = string::make_at(stack::push_cell(), 64);
    actions::mold(const_cast<Cell*>(value), scratch, {}, form_mold::kNoLimit, 0);
    std::string text = string::utf8_from_index(scratch);
    stack::top = scratch;
    return text;
}

} // namespace

Cell* push_content(const std::string& bytes, bool binary, bool lines) {
    if (static_cast<int64_t>(bytes.size()) > kMaxContent) too_long();
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    const auto size = static_cast<uint32_t>(bytes.size());
    if (binary) return binary::load(p, size);
    if (!lines) return string::text_push(kTypeString, bytes.data(), size);
    Cell* block = block::push_new(16);
    uint32_t start = 0;
    for (uint32_t i = 0; i < size; ++i) {
        if (p[i] != '\n') continue;
        const uint32_t end = i > start && p[i - 1] == '\r' ? i - 1 : i;
        string::text_add_to_block(block, kTypeString, bytes.data() + start, end - start);
        start = i + 1;
    }
    if (start < size)
        string::text_add_to_block(block, kTypeString, bytes.data() + start, size - start);
    return block;
}

bool dir_q(std::u32string_view path) {
    const size_t n = path.size();
    if (n == 0) return false;
    if (separator(path[n - 1])) return true;
    auto dots = [&](size_t count) {
        if (n < count) return false;
        for (size_t i = n - count; i < n; ++i)
            if (path[i] != U'.') return false;
        return n == count || separator(path[n - count - 1]);
    };
    return dots(1) || dots(2);
}

Cell* read_file(const Cell* path, int32_t part, int32_t seek, bool binary, bool lines) {
    std::string bytes;
    {
        Open file(open_file(file::to_local_utf16(path), kRead));
        if (file.handle == kNoHandle) return nullptr;
        if (part == 0) return push_content(bytes, binary, lines);
        if (!file_bytes(file.handle, part, seek, bytes)) return nullptr;
    }
    return push_content(bytes, binary, lines);
}

Cell* read_path(const Cell* path, int32_t part, int32_t seek, bool binary, bool lines) {
    if (dir_q(file::text(path))) return read_dir(path);
    Cell* result = read_file(path, part, seek, binary, lines);
    if (!result) cannot_open(path);
    return result;
}

int64_t write_file(const Cell* path, const Cell* data, int32_t part, int32_t seek, bool append,
                   bool lines) {
    if (seek < -1) return -1;
    const bool each_line = lines && cell::type(data) == kTypeBlock;
    std::string bytes;
    if (!each_line) bytes = value_bytes(data, part);
    const uint32_t mode =
        kWrite | (append ? uint32_t{kAppend} : 0u) | (seek >= 0 ? uint32_t{kSeek} : 0u);
    Open file(path ? open_file(file::to_local_utf16(path), mode) : kNoHandle);
    Handle h = path ? file.handle : standard_output();
    if (h == kNoHandle) return -1;
    if (seek > 0 && !io::seek(h, seek)) return -1;
    if (append && !io::seek(h, -1)) return -1;
    int64_t written = 0;
    if (!each_line) {
        if (lines) bytes += "\r\n";
        return write(h, bytes.data(), static_cast<uint32_t>(bytes.size()));
    }
    // The block's cells are read one at a time by position: molding may collect.
    GcRoot held(*data);
    for (uint32_t i = held.cell().w1;; ++i) {
        memory::Buffer* b = memory::buffer(held.cell().w2);
        if (i >= b->length()) break;
        const Cell value = reinterpret_cast<const Cell*>(b->at_head())[i];
        Cell* pushed = stack::push(value);
        std::string line = value_bytes(pushed, -1);
        stack::top = pushed;
        line += "\r\n";
        written = write(h, line.data(), static_cast<uint32_t>(line.size()));
        if (written < 0) return -1;
    }
    return written;
}

int64_t write_path(const Cell* path, const Cell* data, const Cell* part, const Cell* seek,
                   bool append, bool lines) {
    int32_t at = -1;
    if (seek) {
        if (cell::type(seek) != kTypeInteger)
            error::fire(error::kScript, error::script::invalid_arg, {seek});
        at = integer::get(seek);
        if (at < 0) return -1;
    }
    const int64_t n = write_file(path, data, part ? check::int_arg(part) : -1, at, append, lines);
    if (n < 0) cannot_open(path);
    return n;
}

Cell* read_dir(const Cell* path) {
    std::u32string text = file::text(path);
    std::vector<Entry> entries;
    bool listed;
    if (text == U"/") {
        listed = list_root(entries);
    } else {
        std::u16string local = file::to_local_utf16(path);
        if (!text.empty() && text.back() == U'.') local += u'/';
        listed = list_dir(local, entries);
    }
    if (!listed) cannot_open(path);
    Cell* block = block::push_new(static_cast<int32_t>(entries.size()));
    for (const Entry& e : entries) {
        std::string name = unicode::utf16_to_utf8(e.name);
        if (e.directory) name += '/';
        file::add_to_block(block, name.data(), static_cast<uint32_t>(name.size()));
    }
    return block;
}

Cell* query(const Cell* path) {
    Stamp s{};
    if (!modified(file::to_local_utf16(path), s)) return stack::push(none::value);
    return date::from_system_time(stack::push_cell(), s.year, s.month, s.day, s.hour, s.minute,
                                  s.second, s.nanoseconds);
}

bool delete_path(const Cell* path) {
    const std::u16string local = file::to_local_utf16(path);
    return dir_q(file::text(path)) ? delete_dir(local) : delete_file(local);
}

bool rename_path(const Cell* from, const Cell* to) {
    return rename(file::to_local_utf16(from), file::to_local_utf16(to));
}

bool make_dir(const Cell* path) {
    return create_dir(file::to_local_utf16(path));
}

void install_services() {
    // url! asks for any body a series can hold.
    static const auto read_url = [](const Cell* url, uint32_t method, const Cell* headers,
                                    const Cell* data, bool binary, bool lines, bool info) {
        return read_http(url, method, headers, data, binary, lines, info);
    };
    static const url::IoServices kServices{read_url, read_path,   write_path,
                                           query,    delete_path, rename_path};
    url::set_io_services(&kServices);
}

} // namespace io
