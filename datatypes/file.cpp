#include "datatypes/file.h"

#include <algorithm>
#include <vector>

#include "datatypes/datatype.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/url.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/platform.h"
#include "runtime-core/support.h"
#include "runtime-core/unicode.h"

namespace file {

namespace {

[[noreturn]] void not_done() {
    error::fire(error::kInternal, error::internal::not_done);
}

} // namespace

// --- Local forms ----------------------------------------------------------------------------

std::u32string text(const Cell* file) {
    memory::Buffer* b = memory::buffer(file->w2);
    const uint32_t unit = b->unit();
    std::u32string out;
    for (uint32_t i = file->w1; i < b->length(); ++i)
        out.push_back(string::get_char(b->at_head() + i * unit, unit));
    return out;
}

std::u32string to_windows_form(std::u32string_view path, std::u32string_view current) {
    std::u32string out;
    size_t i = 0;
    if (!path.empty() && path[0] == U'/') {
        if (path.size() == 1) {
            out += U'\\';
            i = 1;
        } else if (path[1] == U'/') {
            out += U'\\';
            i = 2;
        } else if (path.size() == 2 || path[2] == U'/') {
            out += path[1];
            out += U":\\";
            i = path.size() == 2 ? 2 : 3;
        } else {
            out += U"\\\\";
            i = 1;
        }
    } else if (!current.empty()) {
        out += current;
    }
    for (; i < path.size(); ++i) out += path[i] == U'/' ? U'\\' : path[i];
    return out;
}

std::u32string to_posix_form(std::u32string_view path, std::u32string_view current) {
    std::u32string out;
    if ((path.empty() || path[0] != U'/') && !current.empty()) out += current;
    out += path;
    return out;
}

std::u32string current_dir() {
    const std::string utf8 = unicode::utf16_to_utf8(platform::get_current_dir());
    std::u32string out;
    const auto* bytes = reinterpret_cast<const uint8_t*>(utf8.data());
    const uint8_t* at = bytes;
    const uint8_t* end = bytes + utf8.size();
    while (at < end) {
        int32_t cp = -1;
        at = utf8::decode_char(at, end, cp);
        out.push_back(cp < 0 ? 0xFFFD : static_cast<char32_t>(cp));
    }
#ifdef _WIN32
    const char32_t separator = U'\\';
#else
    const char32_t separator = U'/';
#endif
    if (out.empty() || out.back() != separator) out.push_back(separator);
    return out;
}

void to_local(const Cell* file, const Cell* target, bool full) {
    const std::u32string form = to_windows_form(text(file), full ? current_dir() : U"");
    std::vector<uint32_t> chars(form.begin(), form.end());
    string::append_chars(target, chars.data(), static_cast<uint32_t>(chars.size()));
}

std::u16string to_local_utf16(const Cell* file) {
#ifdef _WIN32
    const std::u32string form = to_windows_form(text(file), U"");
#else
    const std::u32string form = to_posix_form(text(file), U"");
#endif
    // The platform takes a path up to its first NUL: a name holding one would reach another file.
    if (form.find(U'\0') != std::u32string::npos)
        error::fire(error::kScript, error::script::invalid_arg, {file});
    std::u16string out;
    for (char32_t cp : form) {
        char16_t units[2];
        out.append(units, unicode::encode_utf16_char(cp, units));
    }
    return out;
}

// --- Constructors ---------------------------------------------------------------------------

Cell* make_at(Cell* cell, const char* utf8_text, uint32_t length) {
    return string::text_at(cell, kTypeFile, utf8_text, length);
}

Cell* push(const char* utf8_text, uint32_t length) {
    return string::text_push(kTypeFile, utf8_text, length);
}

Cell* set_result(const char* utf8_text, uint32_t length) {
    return make_at(stack::arguments, utf8_text, length);
}

Cell* add_to_block(const Cell* block, const char* utf8_text, uint32_t length) {
    return string::text_add_to_block(block, kTypeFile, utf8_text, length);
}

// --- Slot functions -------------------------------------------------------------------------

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t) {
    std::u32string chars = text(value);
    string::append_bytes(string, "%", 1);
    if (chars.empty()) {
        string::append_bytes(string, "\"\"", 2);
        return limit - 1;
    }
    if (options.part)
        chars.resize(limit > 0 ? std::min<size_t>(chars.size(), static_cast<size_t>(limit)) : 0);
    bool quoted = false;
    for (char32_t cp : chars)
        if (cp < 127 && url::needs_escape(url::kUrlMode, static_cast<uint8_t>(cp))) quoted = true;
    std::vector<uint32_t> units(chars.begin(), chars.end());
    if (quoted) string::append_bytes(string, "\"", 1);
    string::append_chars(string, units.data(), static_cast<uint32_t>(units.size()));
    if (quoted) string::append_bytes(string, "\"", 1);
    return limit - static_cast<int32_t>(units.size()) - 1;
}

Cell* delete_(Cell* file) {
    return logic::make_at(stack::push_cell(), url::io_services().delete_path(file));
}

Cell* query(Cell* file) {
    return url::io_services().query(file);
}

Cell* rename(Cell* from, Cell* to) {
    if (!series::is_any_string(cell::type(to)))
        error::fire(error::kScript, error::script::invalid_arg, {to});
    return logic::make_at(stack::push_cell(), url::io_services().rename_path(from, to));
}

Cell* read(Cell* source, const action::ReadOptions& options) {
    if (options.as) not_done();
    const int32_t count = options.part ? check::int_arg(options.part) : -1;
    const int32_t at = options.seek ? check::int_arg(options.seek) : -1;
    return url::io_services().read_path(source, count, at, options.binary, options.lines);
}

Cell* write(Cell* destination, Cell* data, const action::WriteOptions& options) {
    if (options.allow || options.as) not_done();
    url::io_services().write_path(destination, data, options.part, options.seek, options.append,
                                  options.lines);
    return destination;
}

void register_actions() {
    namespace s = action::slot;
    action::Row row;
    row.set<s::mold>(mold)
        .set<s::delete_>(delete_)
        .set<s::query>(query)
        .set<s::read>(read)
        .set<s::rename>(rename)
        .set<s::write>(write)
        .inherit({s::make, s::to,     s::eval_path, s::form,   s::compare,  s::append,
                  s::at,   s::back,   s::change,    s::clear,  s::copy,     s::find,
                  s::head, s::head_q, s::index_q,   s::insert, s::length_q, s::move,
                  s::next, s::pick,   s::poke,      s::remove, s::reverse,  s::select,
                  s::skip, s::swap,   s::tail,      s::tail_q, s::take,     s::modify});
    datatype::register_({kTypeFile, kTypeUrl, "file!", row.entries()});
}

} // namespace file
