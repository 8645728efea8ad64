// The string! actions for tests: the block fixture (its reader, the word types, the case
// tables, string! and integer!), and texts written and read as code points at a chosen width. Every
// cell a test hands an action is on the data stack, as the dispatcher leaves them.
#pragma once
#include <cstring>
#include <string>

#include "block-fixture.h"
#include "datatypes/integer.h"
#include "runtime-core/case.h"

class StringActionsTest : public BlockTest {
protected:
    void SetUp() override { BlockTest::SetUp(); }

    // A text of type `type` holding `text` in units of `unit` bytes, pushed. May collect.
    static Cell* push_text(std::u32string_view text, uint32_t unit = 1,
                           uint8_t type = kTypeString) {
        const auto count = static_cast<uint32_t>(text.size());
        Cell* s = stack::push(Cell{kTypeUnset, 0, 0, 0});
        const uint32_t node = memory::alloc_series(count ? count : 1, unit, 0);
        memory::Buffer* b = memory::buffer(node);
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t cp = text[i];
            std::memcpy(b->data() + i * unit, &cp, unit); // little-endian: the low bytes
        }
        b->tail = count * unit;
        *s = Cell{type, 0, node, 0};
        return s;
    }
    static Cell* push_text(const std::string& text, uint8_t type = kTypeString) {
        return push_text(std::u32string(text.begin(), text.end()), 1, type);
    }
    // The same text at another index, pushed.
    static Cell* push_at(const Cell* series, uint32_t index) {
        Cell c = *series;
        c.w1 = index;
        return stack::push(c);
    }
    static Cell* push_char(uint32_t cp) { return stack::push(Cell{kTypeChar, 0, cp, 0}); }
    static Cell* push_integer(int32_t n) { return stack::push(integer(n)); }

    // The code points from the index (or the head) to the tail.
    static std::u32string wide_of(const Cell* string, bool from_head = false) {
        memory::Buffer* b = memory::buffer(string->w2);
        std::u32string out;
        for (uint32_t i = from_head ? 0 : string->w1; i < b->length(); ++i)
            out.push_back(string::get_char(b->at_head() + i * b->unit(), b->unit()));
        return out;
    }
    // The whole text from the head, as bytes (code points above FF cut: for ASCII texts).
    static std::string whole(const Cell* string) {
        Cell c = *string;
        c.w1 = 0;
        return text_of(&c);
    }
    static uint32_t unit_of(const Cell* string) { return memory::buffer(string->w2)->unit(); }

    // The mold of a text, with /all when asked.
    static std::string molded(std::u32string_view text, bool all = false, uint32_t unit = 4) {
        Cell* s = push_text(text, unit);
        Cell* out = string::make_at(stack::push_cell(), 16);
        string::mold(s, out, {.all = all}, form_mold::kNoLimit, 0);
        return utf8_of(out);
    }
    // The text as UTF-8 (for readable expectations).
    static std::string utf8_of(const Cell* string) {
        std::string out;
        for (char32_t c : wide_of(string)) {
            if (c < 0x80) {
                out += static_cast<char>(c);
            } else if (c < 0x800) {
                out += static_cast<char>(0xC0 | (c >> 6));
                out += static_cast<char>(0x80 | (c & 0x3F));
            } else if (c < 0x10000) {
                out += static_cast<char>(0xE0 | (c >> 12));
                out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                out += static_cast<char>(0x80 | (c & 0x3F));
            } else {
                out += static_cast<char>(0xF0 | (c >> 18));
                out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
                out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                out += static_cast<char>(0x80 | (c & 0x3F));
            }
        }
        return out;
    }
};
