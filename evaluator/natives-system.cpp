// Text output natives: print and prin.
#include <string>

#include "datatypes/core/block.h"
#include "datatypes/core/string.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "loading/lexer.h"
#include "runtime-core/form-mold.h"
#include "runtime-core/memory.h"
#include "runtime-core/stdio.h"

namespace natives {

namespace {

using interp::Status;

// The UTF-16 text of a string! from its index, at most `limit` characters (-1: all).
std::u16string utf16(const Cell* text, int32_t limit = -1) {
    memory::Buffer* b = memory::buffer(text->w2);
    const uint32_t unit = b->unit();
    std::u16string units;
    for (const uint8_t* p = b->at_head() + text->w1 * unit; p < b->at_tail() && limit != 0;
         p += unit, --limit) {
        const uint32_t cp = string::get_char(p, unit);
        if (cp < 0x10000) {
            units.push_back(static_cast<char16_t>(cp));
        } else {
            units.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        }
    }
    return units;
}

void write_string(const Cell* text, bool newline, int32_t limit = -1) {
    const std::u16string units = utf16(text, limit);
    stdio::write(units.data(), units.size(), newline);
}

// Forms the value (a block reduced first) and writes it.
Status output(bool newline) {
    Cell* a = stack::arguments;
    if (cell::type(a) == kTypeBlock) {
        Status s = reduce_block(a);
        if (s != Status::normal) return s;
        *a = stack::top[-1];
        stack::top = a + 1;
    }
    write_string(form::to_new_string(nullptr, 0), newline);
    a->header = kTypeUnset;
    return Status::normal;
}

Status print(const int32_t*) {
    return output(true);
}
Status prin(const int32_t*) {
    return output(false);
}

// The lexer reads the refinements in spec order: /next /one /prescan /scan /part /into /trace.
Status transcode(const int32_t* r) {
    lexer::native_transcode(r[0], r[1], r[2], r[3], r[4], r[5], r[6]);
    return Status::normal;
}

} // namespace

void write_text(const uint8_t* text, size_t size, bool newline) {
    Cell* base = stack::top;
    write_string(string::load_push(text, static_cast<uint32_t>(size), string::kUtf8), newline);
    stack::top = base;
}

std::u16string formed(const Cell* value) {
    stack::mark(nullptr, stack::kNative);
    stack::push(*value);
    std::u16string text = utf16(form::to_new_string(nullptr, 0));
    stack::unwind();
    return text;
}

void write_formed(const Cell* value, bool newline) {
    const std::u16string text = formed(value);
    stdio::write(text.data(), text.size(), newline);
}

void write_result(const Cell* value, int32_t width) {
    stack::mark(nullptr, stack::kNative);
    stack::push(*value);
    mold::entry(false, false, false, nullptr);
    write_text(reinterpret_cast<const uint8_t*>("== "), 3, false);
    write_string(stack::arguments, true, width > 4 ? width - 4 : -1);
    stack::unwind();
}

void register_system() {
    set(kPrint, print);
    set(kPrin, prin);
    set(kTranscode, transcode);
}

} // namespace natives
