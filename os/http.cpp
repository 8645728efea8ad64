#include "os/http.h"

#include <algorithm>
#include <string_view>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/form-mold.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "os/io.h"
#include "runtime-core/case.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/support.h"
#include "runtime-core/type-traits.h"
#include "runtime-core/unicode.h"

namespace io {

namespace {

// The formed text of a value (copied to the data stack first: forming may move its block).
std::u16string formed(const Cell* value) {
    Cell* held = stack::push(*value);
    Cell* text = string::make_at(stack::push_cell(), 32);
    datatype::function<action::slot::form>(cell::type(held))(held, text, nullptr,
                                                             form_mold::kNoLimit);
    std::u16string out = unicode::utf8_to_utf16(string::utf8_from_index(text));
    stack::top = held;
    return out;
}

// A header name: the text of a word of any kind, else the formed value.
std::u16string header_name(const Cell* value) {
    const uint8_t t = cell::type(value);
    if (traits::is_all_word(t)) return unicode::utf8_to_utf16(symbol::text(value->w2));
    return formed(value);
}

// A header value: a string's text, else the formed value.
std::u16string header_value(const Cell* value) {
    if (cell::type(value) == kTypeString)
        return unicode::utf8_to_utf16(string::utf8_from_index(value));
    return formed(value);
}

// A CR or LF in a header would end it and start another that the script never named, and a
// NUL would cut it short: such text is refused before anything is sent.
void refuse_breaks(std::u16string_view text, const Cell* value) {
    if (text.find_first_of(std::u16string_view(u"\r\n\0", 3)) != std::u16string_view::npos)
        error::fire(error::kScript, error::script::invalid_arg, {value});
}

// The pairs of a header block, read one cell at a time by position (forming may collect).
void header_pairs(const Cell* headers, HttpRequest& request) {
    GcRoot block(*headers);
    const int32_t count = block::length_from_index(&block.cell());
    auto at = [&](int32_t i) {
        const Cell* cells = memory::buffer(block.cell().w2)->cells();
        return stack::push(cells[block.cell().w1 + i]);
    };
    for (int32_t i = 0; i < count; i += 2) {
        if (i + 1 >= count) {
            Cell* name = at(i);
            error::fire(error::kScript, error::script::invalid_arg, {name});
        }
        Cell* name = at(i);
        std::u16string n = header_name(name);
        refuse_breaks(n, name);
        Cell* value = at(i + 1);
        std::u16string v = header_value(value);
        refuse_breaks(v, value);
        stack::top = name;
        request.headers.emplace_back(std::move(n), std::move(v));
    }
}

bool same_name(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
               return lower(x) == lower(y);
           });
}

// Pushes the header map: each name (as the set-word the map keeps) to its value, or to a
// block of its values when it occurs more than once (names compared without regard to case,
// as the map looks them up). May collect.
Cell* push_header_map(const std::string& text) {
    struct Header {
        std::string name;
        std::vector<std::string> values;
    };
    std::vector<Header> headers;
    for (auto& line : http_header_lines(text)) {
        auto found = std::find_if(headers.begin(), headers.end(),
                                  [&](const Header& h) { return same_name(h.name, line.first); });
        if (found == headers.end())
            headers.push_back({line.first, {line.second}});
        else
            found->values.push_back(line.second);
    }
    Cell* pairs = block::push_new(static_cast<int32_t>(headers.size() * 2));
    for (const Header& h : headers) {
        const uint32_t id =
            symbol::find_or_make(h.name.data(), static_cast<uint32_t>(h.name.size()));
        cell::set_type(word::add_to_block(id, pairs->w2), kTypeSetWord);
        if (h.values.size() == 1) {
            string::text_add_to_block(pairs, kTypeString, h.values[0].data(),
                                      static_cast<uint32_t>(h.values[0].size()));
            continue;
        }
        Cell* held =
            stack::push(*block::append_nested(pairs, static_cast<int32_t>(h.values.size())));
        for (const std::string& v : h.values)
            string::text_add_to_block(held, kTypeString, v.data(), static_cast<uint32_t>(v.size()));
        stack::top = held;
    }
    map::make_at(pairs, pairs->w2, 0);
    return pairs;
}

} // namespace

std::string http_method(uint32_t symbol) {
    const std::string_view text = symbol::text(symbol);
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    const uint8_t* end = p + text.size();
    std::string out;
    while (p < end) {
        int32_t cp = -1;
        const uint8_t* next = utf8::decode_char(p, end, cp);
        if (cp < 0) {
            out.append(reinterpret_cast<const char*>(p), static_cast<size_t>(next - p));
        } else {
            uint8_t bytes[4];
            const uint32_t n = utf8::encode_char(case_::to_upper(static_cast<uint32_t>(cp)), bytes);
            out.append(reinterpret_cast<const char*>(bytes), n);
        }
        p = next;
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> http_header_lines(std::string_view text) {
    std::vector<std::pair<std::string, std::string>> out;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) continue;
        std::string_view value = line.substr(colon + 1);
        if (!value.empty() && value.front() == ' ') value.remove_prefix(1);
        out.emplace_back(std::string(line.substr(0, colon)), std::string(value));
    }
    return out;
}

Cell* read_http(const Cell* url, uint32_t method, const Cell* headers, const Cell* data,
                bool binary, bool lines, bool info, int64_t limit) {
    HttpRequest request;
    request.method = http_method(method);
    request.url = unicode::utf8_to_utf16(string::utf8_from_index(url));
    refuse_breaks(request.url, url);
    request.want_headers = info;
    const bool bodiless = request.method == "GET" || request.method == "HEAD";
    if (data && !bodiless) {
        if (cell::type(data) == kTypeString) {
            request.body = HttpRequest::kTextBody;
            request.text = unicode::utf8_to_utf16(string::utf8_from_index(data));
        } else if (cell::type(data) == kTypeBinary) {
            request.body = HttpRequest::kBytesBody;
            memory::Buffer* b = memory::buffer(data->w2);
            const uint32_t from = std::min(data->w1, b->length());
            request.bytes.assign(reinterpret_cast<const char*>(b->at_head() + from),
                                 b->length() - from);
        }
    }
    if (headers) {
        header_pairs(headers, request);
    } else {
        request.headers = {{u"Content-Type", u"application/x-www-form-urlencoded"},
                           {u"Accept-Charset", u"UTF-8"},
                           {u"User-Agent", u"Mozilla/5.0 (Windows NT 6.1; Win64; x64)"}};
    }
    HttpAnswer answer;
    answer.limit = limit;
    if (!http_request(request, answer)) {
        if (answer.cut == HttpAnswer::kTooLong)
            error::fire(error::kScript, error::script::too_long);
        if (answer.cut == HttpAnswer::kNoMemory)
            error::fire(error::kInternal, error::internal::no_memory);
        return stack::push(none::value);
    }
    if (!info) return push_content(answer.body, binary, lines);
    Cell* result = block::push_new(3);
    integer::add_to_block(result, answer.status);
    Cell* map = push_header_map(answer.headers);
    block::append_copy(result, map);
    stack::top = map;
    Cell* body = push_content(answer.body, binary, lines);
    block::append_copy(result, body);
    stack::top = body;
    return result;
}

} // namespace io
