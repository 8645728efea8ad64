// Strings for tests: the memory manager of memory-fixture.h with the case tables and the data
// stack, strings built at a chosen unit size, and their text read back as code points.
#pragma once
#include <cstring>
#include <string>

#include "evaluator/frames.h"
#include "memory-fixture.h"
#include "runtime-core/case.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/root.h"
#include "runtime-core/support.h"
#include "runtime-core/throw.h"

class StringTest : public MemoryTest {
protected:
    void SetUp() override {
        MemoryTest::SetUp();
        case_::init();
        root::init();
        stack::init();
        stack::init_frames();
        error::init_support();
    }
    void TearDown() override {
        stack::clear();
        root::release();
        MemoryTest::TearDown();
    }

    // A string! cell holding `text` in units of `unit` bytes, index 0. May collect.
    static Cell make_string(std::u32string_view text, uint32_t unit) {
        const auto count = static_cast<uint32_t>(text.size());
        uint32_t node = memory::alloc_series(count ? count : 1, unit, 0);
        memory::Buffer* b = memory::buffer(node);
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t cp = text[i];
            std::memcpy(b->data() + i * unit, &cp, unit); // little-endian: the low bytes
        }
        b->tail = count * unit;
        return Cell{kTypeString, 0, node, 0};
    }

    // The code points of a string from its index (or from its head) to its tail.
    static std::u32string text_of(const Cell& string, bool from_head = false) {
        memory::Buffer* b = memory::buffer(string.w2);
        const uint32_t unit = b->unit();
        std::u32string out;
        for (uint32_t i = from_head ? 0 : string.w1; i < b->length(); ++i) {
            uint32_t cp = 0;
            std::memcpy(&cp, b->at_head() + i * unit, unit);
            out.push_back(static_cast<char32_t>(cp));
        }
        return out;
    }
    static uint32_t unit_of(const Cell& string) { return memory::buffer(string.w2)->unit(); }

    // Whether `body` raises the language error (category, id).
    template <class Body> static bool raises(uint32_t category, uint32_t id, Body&& body) {
        try {
            body();
        } catch (const runtime::Thrown& thrown) {
            runtime::reset_thrown_code();
            return thrown.code == runtime::kThrowError && error::last_raised.category == category &&
                   error::last_raised.id == id;
        }
        return false;
    }
    // The bytes of a binary! (or any byte series cell) from its index.
    static std::string bytes_of(const Cell& binary) {
        memory::Buffer* b = memory::buffer(binary.w2);
        return std::string(reinterpret_cast<const char*>(b->at_head()) + binary.w1,
                           b->tail - b->head - binary.w1);
    }
};
