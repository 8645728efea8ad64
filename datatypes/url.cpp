#include "datatypes/url.h"

#include <vector>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/form-mold.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/support.h"
#include "runtime-core/unicode.h"

namespace url {

namespace {

MakePort make_port_hook = nullptr;
const IoServices* io_services_ = nullptr;

[[noreturn]] void not_done() {
    error::fire(error::kInternal, error::internal::not_done);
}

int hex_value(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

[[noreturn]] void no_connect(const Cell* url) {
    error::fire(error::kAccess, error::access::no_connect, {url});
}

[[noreturn]] void invalid_type(const Cell* value) {
    error::fire(error::kScript, error::script::invalid_type, {value});
}

// A url that is not http: made into a port (not opened) whose action `apply` runs; without
// ports there is no such route yet.
template <typename Apply> Cell* through_port(Cell* url, Cell* seek, Apply apply) {
    if (!make_port_hook) not_done();
    Cell* port = make_port_hook(url, {.seek = seek != nullptr}, false);
    return apply(port);
}

bool starts_with_http(const Cell* value) {
    return string::starts_with_cstring(value, "http");
}

// Appends the formed value (copied off its block first: forming may move the block).
void append_formed(const Cell* target, const Cell* value) {
    Cell* held = stack::push(*value);
    datatype::function<action::slot::form>(cell::type(held))(held, const_cast<Cell*>(target),
                                                             nullptr, form_mold::kNoLimit);
    stack::pop(1);
}

// The url of a block of parts, into `result` (a cell that stays where it is).
Cell* from_block(Cell* result, const Cell* spec, int32_t type) {
    const int32_t count = block::length_from_index(spec);
    if (count < 1) {
        Cell* t = datatype::push(static_cast<uint8_t>(type));
        error::fire(error::kScript, error::script::invalid_spec_field, {t, spec});
    }
    GcRoot parts(*spec);
    Cell* text = string::make_at(stack::push_cell(), 32);
    auto part = [&](int32_t i) {
        return memory::buffer(parts.cell().w2)->cells() + parts.cell().w1 + i;
    };
    append_formed(text, part(0));
    string::append_bytes(text, "://", 3);
    int32_t i = 1;
    if (count > 1) {
        append_formed(text, part(1));
        i = 2;
        if (count > 2 && cell::type(part(2)) == kTypeInteger) {
            string::append_bytes(text, ":", 1);
            append_formed(text, part(2));
            i = 3;
        }
    }
    for (; i < count; ++i) {
        string::append_bytes(text, cell::type(part(i)) == kTypeIssue ? "#" : "/", 1);
        append_formed(text, part(i));
    }
    *result = *text;
    stack::pop(1);
    return cell::set_type(result, static_cast<uint8_t>(type));
}

} // namespace

// --- Percent encoding -----------------------------------------------------------------------

bool needs_escape(int32_t mode, uint8_t byte) {
    if (byte >= 0x80 || byte <= 0x20 || byte == 0x7F) return true;
    if (mode == kStrictMode) {
        const bool kept = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                          (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' ||
                          byte == '_' || byte == '~';
        return !kept;
    }
    switch (byte) {
    case '"':
    case '%':
    case ';':
    case '<':
    case '>':
    case '[':
    case '\\':
    case ']':
    case '^':
    case '`':
    case '{':
    case '|':
    case '}':
        return true;
    default:
        return false;
    }
}

uint32_t percent_encode(int32_t mode, uint8_t byte, char out[4]) {
    if (!needs_escape(mode, byte)) {
        out[0] = static_cast<char>(byte);
        out[1] = '\0';
        return 1;
    }
    const char* hex = "0123456789ABCDEF";
    out[0] = '%';
    out[1] = hex[byte >> 4];
    out[2] = hex[byte & 0xF];
    out[3] = '\0';
    return 3;
}

void encode_utf8(const Cell* string, const Cell* target, int32_t mode) {
    const std::string text = string::utf8_from_index(string);
    std::string out;
    out.reserve(text.size());
    for (unsigned char byte : text) {
        char escape[4];
        out.append(escape, percent_encode(mode, byte, escape));
    }
    string::append_bytes(target, out.data(), static_cast<uint32_t>(out.size()));
}

bool decode_hex_escape(const uint8_t* text, size_t length, uint8_t& byte) {
    if (length < 3 || text[0] != '%') return false;
    const int high = hex_value(text[1]), low = hex_value(text[2]);
    if (high < 0 || low < 0) return false;
    byte = static_cast<uint8_t>(high * 16 + low);
    return true;
}

std::u32string percent_decode_text(std::string_view utf8_text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(utf8_text.data());
    const size_t size = utf8_text.size();
    std::u32string out;
    size_t i = 0;
    while (i < size) {
        uint8_t lead;
        if (decode_hex_escape(bytes + i, size - i, lead)) {
            const uint32_t n = utf8::lead_length(lead);
            if (n == 0) {
                out.push_back(lead);
                i += 3;
                continue;
            }
            uint8_t sequence[4] = {lead, 0, 0, 0};
            bool run = true;
            for (uint32_t k = 1; k < n && run; ++k)
                run = decode_hex_escape(bytes + i + 3 * k, size - i - 3 * k, sequence[k]);
            if (run) {
                int32_t cp = -1;
                utf8::decode_char(sequence, sequence + n, cp);
                if (cp >= 0) {
                    out.push_back(static_cast<char32_t>(cp));
                    i += 3 * n;
                    continue;
                }
            }
        }
        // The character as it stands.
        int32_t cp = -1;
        const uint8_t* next = utf8::decode_char(bytes + i, bytes + size, cp);
        out.push_back(cp < 0 ? 0xFFFD : static_cast<char32_t>(cp));
        i = static_cast<size_t>(next - bytes);
    }
    return out;
}

void percent_decode(const Cell* string, const Cell* target) {
    const std::u32string decoded = percent_decode_text(string::utf8_from_index(string));
    std::vector<uint32_t> chars(decoded.begin(), decoded.end());
    string::append_chars(target, chars.data(), static_cast<uint32_t>(chars.size()));
}

// --- Constructors ---------------------------------------------------------------------------

Cell* make_at(Cell* cell, const char* utf8_text, uint32_t length) {
    return string::text_at(cell, kTypeUrl, utf8_text, length);
}

Cell* push(const char* utf8_text, uint32_t length) {
    return string::text_push(kTypeUrl, utf8_text, length);
}

Cell* set_result(const char* utf8_text, uint32_t length) {
    return make_at(stack::arguments, utf8_text, length);
}

Cell* add_to_block(const Cell* block, const char* utf8_text, uint32_t length) {
    return string::text_add_to_block(block, kTypeUrl, utf8_text, length);
}

void set_make_port(MakePort hook) {
    make_port_hook = hook;
}

void set_io_services(const IoServices* services) {
    io_services_ = services;
}

const IoServices& io_services() {
    if (!io_services_) not_done();
    return *io_services_;
}

// --- Slot functions -------------------------------------------------------------------------

Cell* to(Cell* prototype, Cell* spec, int32_t type) {
    if (series::is_any_list(cell::type(spec)) && type == kTypeUrl)
        return from_block(prototype, spec, type);
    return string::to(prototype, spec, type);
}

Cell* make(Cell* prototype, Cell* spec, int32_t type) {
    if (series::is_any_list(cell::type(spec)) && type == kTypeUrl)
        return from_block(prototype, spec, type);
    return string::make(prototype, spec, type);
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t) {
    const std::string text = string::utf8_from_index(value);
    std::string out;
    for (unsigned char byte : text) {
        if (options.part && static_cast<int32_t>(out.size()) >= limit) break;
        char escape[4];
        out.append(escape, percent_encode(kUrlMode, byte, escape));
    }
    string::append_bytes(string, out.data(), static_cast<uint32_t>(out.size()));
    return limit - static_cast<int32_t>(out.size());
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, const action::PathOptions&) {
    if (value) error::fire(error::kScript, error::script::bad_field_set, {element, value});
    GcRoot base(*parent);
    Cell* segment =
        cell::type(element) == kTypeGetWord ? get_word::get_value(element) : stack::push(*element);
    const uint32_t length = string::length(&base.cell());
    Cell* formed = string::make_at(stack::push_cell(), length + 16);
    append_formed(formed, segment);
    const bool ends_slash =
        length > 0 && string::char_at(&base.cell(), base.cell().w1 + length - 1) == '/';
    const bool begins_slash = string::starts_with_cstring(formed, "/");
    Cell* result = string::make_at(stack::push_cell(), length + string::length(formed) + 1);
    string::concatenate(result, &base.cell(), -1, 0, true, string::kAppendMode);
    if (ends_slash && begins_slash)
        formed->w1 = 1;
    else if (!ends_slash && !begins_slash)
        string::append_bytes(result, "/", 1);
    string::concatenate(result, formed, -1, 0, true, string::kAppendMode);
    cell::set_type(result, cell::type(&base.cell()));
    const Cell made = *result;
    stack::pop(3);
    return stack::push(made);
}

Cell* open(Cell* port, const action::OpenOptions& options) {
    if (!make_port_hook) not_done();
    return make_port_hook(port, options, true);
}

Cell* read(Cell* source, const action::ReadOptions& options) {
    if (!starts_with_http(source))
        return through_port(source, options.seek, [&](Cell* port) {
            return datatype::function<action::slot::read>(kTypePort)(port, options);
        });
    if (options.part || options.seek || options.as) not_done();
    Cell* result = io_services().read_http(source, words::symbol.get, nullptr, nullptr,
                                           options.binary, options.lines, options.info);
    if (cell::type(result) == kTypeNone) no_connect(source);
    return result;
}

Cell* write(Cell* destination, Cell* value, const action::WriteOptions& options) {
    if (!starts_with_http(destination))
        return through_port(destination, options.seek, [&](Cell* port) {
            return datatype::function<action::slot::write>(kTypePort)(port, value, options);
        });
    if (options.seek || options.allow || options.as) not_done();
    // The request from the value: [] is a GET; [method], [method [headers]] and
    // [method [headers] data] name their parts; any other value is POSTed.
    uint32_t method = words::symbol.post;
    Cell* headers = nullptr;
    Cell* data = value;
    if (cell::type(value) == kTypeBlock) {
        const int32_t count = block::length_from_index(value);
        if (count == 0) {
            method = words::symbol.get;
        } else {
            Cell* first = stack::push(*block::index_cell(value));
            if (cell::type(first) != kTypeWord) invalid_type(first);
            method = symbol::resolve(first->w2);
            headers = count > 1 ? stack::push(*block::cell_at(value, value->w1 + 1)) : nullptr;
            if (headers && cell::type(headers) != kTypeBlock) invalid_type(headers);
            data = count > 2 ? stack::push(*block::cell_at(value, value->w1 + 2)) : nullptr;
        }
    }
    if (data) {
        const uint8_t t = cell::type(data);
        if (t == kTypeNone)
            data = nullptr;
        else if (t != kTypeBlock && t != kTypeString && t != kTypeBinary)
            invalid_type(data);
    }
    Cell* result = io_services().read_http(destination, method, headers, data, options.binary,
                                           options.lines, options.info);
    if (cell::type(result) == kTypeNone) no_connect(destination);
    return result;
}

void register_actions() {
    namespace s = action::slot;
    action::Row row;
    row.set<s::make>(make)
        .set<s::to>(to)
        .set<s::mold>(mold)
        .set<s::eval_path>(eval_path)
        .set<s::open>(open)
        .set<s::read>(read)
        .set<s::write>(write)
        .inherit({s::form, s::compare, s::append, s::at,     s::back,    s::change,  s::clear,
                  s::copy, s::find,    s::head,   s::head_q, s::index_q, s::insert,  s::length_q,
                  s::move, s::next,    s::pick,   s::poke,   s::remove,  s::reverse, s::select,
                  s::skip, s::swap,    s::tail,   s::tail_q, s::take,    s::modify});
    datatype::register_({kTypeUrl, kTypeString, "url!", row.entries()});
}

} // namespace url
