// The runtime of runtime-fixture.h with integer! and float! registered, and helpers that
// build number cells, run a frame action on two values and read formed text back.
#pragma once
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "runtime-fixture.h"

class NumberTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        integer::register_actions();
        float_::register_actions();
        float_::pretty = false; // the printer's plain output, unless a test turns it on
        stack::clear();
    }
    void TearDown() override {
        float_::pretty = true; // as at start-up
        stack::clear();
        RuntimeTest::TearDown();
    }

    static Cell int_value(int32_t v) { return Cell{kTypeInteger, 0, static_cast<uint32_t>(v), 0}; }
    static Cell float_value(double d, uint8_t type = kTypeFloat) {
        Cell c{type, 0, 0, 0};
        std::memcpy(&c.w2, &d, sizeof d);
        return c;
    }
    static double float_of(const Cell& c) {
        double d;
        std::memcpy(&d, &c.w2, sizeof d);
        return d;
    }

    // Runs a frame action on (a, b) and returns the frame's result cell.
    static Cell run(void (*action)(), const Cell& a, const Cell& b) {
        stack::clear();
        stack::push(a);
        stack::push(b);
        action();
        return *stack::arguments;
    }

    // A string-like value of `type` holding `text` (one unit per character) at index `index`.
    static Cell text_value(std::u32string_view text, uint32_t unit = 1, uint8_t type = kTypeString,
                           uint32_t index = 0) {
        const auto count = static_cast<uint32_t>(text.size());
        uint32_t node = memory::alloc_series(count ? count : 1, unit, 0);
        memory::Buffer* b = memory::buffer(node);
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t cp = text[i];
            std::memcpy(b->data() + i * unit, &cp, unit);
        }
        b->tail = count * unit;
        return Cell{type, index, node, 0};
    }
    // A value in a table of cases. Series values are made only when the case runs
    // (`make`): a collection, which under torture comes with every allocation, moves or frees
    // every buffer that nothing roots, so table cells made in advance would go stale.
    struct Spec {
        Spec(const Cell& c) : cell(c) {}
        Spec(const Cell& c, std::u32string t, uint32_t u) : cell(c), text(std::move(t)), unit(u) {}
        Cell cell;
        std::u32string text;
        uint32_t unit = 0; // 0: `cell` as it is
        // May collect.
        Cell make() const {
            return unit ? text_value(text, unit, cell::type(&cell), cell.w1) : cell;
        }
    };
    static Spec text_spec(std::u32string text, uint32_t unit = 1, uint8_t type = kTypeString,
                          uint32_t index = 0) {
        return Spec(Cell{type, index, 0, 0}, std::move(text), unit);
    }
    static Spec binary_spec(std::initializer_list<uint8_t> bytes, uint32_t index = 0) {
        std::u32string text;
        for (uint8_t byte : bytes) text.push_back(byte);
        return text_spec(std::move(text), 1, kTypeBinary, index);
    }

    // The text that a form or mold slot appends, and the budget it returns from 1000.
    template <class Slot> static std::pair<std::string, int32_t> written(Cell v, Slot slot) {
        stack::clear();
        Cell* s = string::make_at(stack::push_cell(), 16);
        Cell* value = stack::push(v);
        int32_t left = slot(value, s);
        memory::Buffer* b = memory::buffer(s->w2);
        return {std::string(reinterpret_cast<char*>(b->at_head()), b->length()), left};
    }
    static std::pair<std::string, int32_t> formed(Cell v) {
        return written(v, [](Cell* value, Cell* s) {
            return datatype::function<action::slot::form>(cell::type(value))(value, s, nullptr,
                                                                             1000);
        });
    }
    static std::pair<std::string, int32_t> molded(Cell v) {
        return written(v, [](Cell* value, Cell* s) {
            return datatype::function<action::slot::mold>(cell::type(value))(value, s, {}, 1000, 0);
        });
    }
};
