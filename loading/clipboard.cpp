#include "loading/clipboard.h"

#include <cstring>

#include "datatypes/core/block.h"
#include "datatypes/core/file.h"
#include "datatypes/core/logic.h"
#include "datatypes/core/none.h"
#include "datatypes/core/string.h"
#include "datatypes/more/error-ids.h"
#include "evaluator/stack.h"
#include "runtime-core/support.h"
#include "runtime-core/unicode.h"

namespace clipboard {

namespace {

std::u16string text_of(const Cell* string) {
    return unicode::utf8_to_utf16(string::utf8_from_index(string));
}

} // namespace

Cell* read() {
    Contents contents;
    if (!read_platform(contents)) return logic::push(false);
    switch (contents.kind) {
    case Contents::Kind::text: {
        const std::string utf8 = unicode::utf16_to_utf8(contents.text);
        return string::text_push(kTypeString, utf8.data(), static_cast<uint32_t>(utf8.size()));
    }
    case Contents::Kind::files: {
        Cell* list = block::push_new(static_cast<int32_t>(contents.files.size()));
        for (const std::u16string& path : contents.files) {
            const std::string utf8 = unicode::utf16_to_utf8(local_to_file(path));
            file::add_to_block(list, utf8.data(), static_cast<uint32_t>(utf8.size()));
        }
        return list;
    }
    case Contents::Kind::empty:
        break;
    }
    return none::push();
}

bool write(const Cell* data) {
    Contents contents;
    switch (cell::type(data)) {
    case kTypeNone:
        break;
    case kTypeString:
        contents.kind = Contents::Kind::text;
        contents.text = text_of(data);
        break;
    case kTypeBlock: {
        contents.kind = Contents::Kind::files;
        const int32_t count = block::length_from_index(data);
        for (int32_t i = 0; i < count; ++i) {
            const Cell* item = block::cell_at(data, data->w1 + static_cast<uint32_t>(i));
            const uint8_t type = cell::type(item);
            // A path may not hold the zero that ends it in the list.
            std::u16string path = type == kTypeFile     ? file::to_local_utf16(item)
                                  : type == kTypeString ? text_of(item)
                                                        : std::u16string(1, u'\0');
            if (path.find(u'\0') != std::u16string::npos)
                error::fire(error::kScript, error::script::invalid_arg, {stack::push(*item)});
            contents.files.push_back(std::move(path));
        }
        break;
    }
    case kTypeImage:
        error::fire(error::kInternal, error::internal::not_done);
    default:
        error::fire(error::kScript, error::script::invalid_arg, {data});
    }
    return write_platform(contents);
}

std::vector<uint8_t> drop_files(const std::vector<std::u16string>& paths) {
    // The header's five words: list offset, drop point x and y, non-client flag, wide flag.
    const uint32_t header[5] = {20, 0, 0, 0, 1};
    std::vector<uint8_t> bytes(sizeof header);
    std::memcpy(bytes.data(), header, sizeof header);
    auto put = [&bytes](char16_t unit) {
        bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<uint8_t>(unit >> 8));
    };
    for (const std::u16string& path : paths) {
        for (char16_t unit : path) put(unit);
        put(0);
    }
    put(0);
    return bytes;
}

std::u16string local_to_file(std::u16string_view local) {
    std::u16string out;
    bool colon = false;
    bool after_separator = false;
    for (size_t i = 0; i < local.size(); ++i) {
        const char16_t c = local[i];
        if (c == u':') {
            // A second colon (or one right after a separator) ends the name.
            if (colon || after_separator) return out;
            colon = true;
            if (i + 1 < local.size() && (local[i + 1] == u'\\' || local[i + 1] == u'/')) ++i;
            out += u'/';
            after_separator = true;
        } else if (c == u'\\' || c == u'/') {
            if (!after_separator) out += u'/';
            after_separator = true;
        } else {
            out += c;
            after_separator = false;
        }
    }
    if (colon) out.insert(out.begin(), u'/');
    return out;
}

} // namespace clipboard
