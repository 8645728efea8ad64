// Parens, paths and issues for tests: the runtime of words-fixture.h with series!, block!,
// string!, the four path types, paren! and issue! registered in their start-up order, and
// the owner table.
//
// Values are built cell by cell: words bound to the global context, lists of a given type
// from cells. Cells that must live across allocations are kept in GcRoots.
#pragma once
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "datatypes/block.h"
#include "datatypes/issue.h"
#include "datatypes/ownership.h"
#include "datatypes/paren.h"
#include "datatypes/path.h"
#include "datatypes/series.h"
#include "runtime-core/error-ids.h"
#include "words-fixture.h"

class PathTest : public WordsTest {
protected:
    void SetUp() override {
        WordsTest::SetUp();
        series::register_actions();
        block::register_actions();
        string::register_actions();
        path::register_actions();
        paren::register_actions();
        issue::register_actions();
        ownership::init();
        stack::clear();
    }
    void TearDown() override {
        stack::clear();
        WordsTest::TearDown();
    }

    // A word! bound to the global context.
    static Cell word_of(const char* text) { return global_word(text); }
    // A list of `type` (block!, paren!, a path type) holding the cells. May collect.
    static Cell list(uint8_t type, std::initializer_list<Cell> cells) {
        Cell b = block(cells);
        b.header = type;
        return b;
    }
    // The words of a blank-separated text as a list of `type`. May collect.
    static Cell words(uint8_t type, const std::string& text) {
        GcRoot result(list(type, {}));
        size_t at = 0;
        while (at < text.size()) {
            size_t end = text.find(' ', at);
            if (end == std::string::npos) end = text.size();
            const Cell w = word_of(text.substr(at, end - at).c_str());
            block::append_copy(&result.cell(), &w);
            at = end + 1;
        }
        return result.cell();
    }
    // A string! of ASCII text. May collect.
    static Cell text_value(const char* text, uint32_t index = 0) {
        Cell* s = string::make_at(stack::push_cell(), 16);
        string::concatenate_cstring(s, text);
        s->w1 = index;
        const Cell made = *s;
        stack::pop(1);
        return made;
    }

    // The value molded (with only) or formed into a new string; the budget used goes to
    // `used`. May collect.
    static std::string mold(const Cell& value, bool only = false, int32_t* used = nullptr) {
        Cell* held = stack::push(value);
        Cell* text = string::make_at(stack::push_cell(), 16);
        const int32_t rest = actions::mold(held, text, {.only = only}, form_mold::kNoLimit, 0);
        if (used) *used = form_mold::kNoLimit - rest;
        std::string out = ascii(*text);
        stack::pop(2);
        return out;
    }
    static std::string form(const Cell& value, int32_t* used = nullptr) {
        return formed(value, false, used);
    }

    // make or to through the row of the target type; the result is copied off the stack.
    static Cell convert(int32_t type, const Cell& spec, bool make) {
        Cell* s = stack::push(spec);
        Cell* prototype = stack::push(Cell{kTypeDatatype, static_cast<uint32_t>(type), 0, 0});
        const uint32_t t = static_cast<uint32_t>(type);
        Cell* result = make ? datatype::function<action::slot::make>(t)(prototype, s, type)
                            : datatype::function<action::slot::to>(t)(prototype, s, type);
        const Cell made = *result;
        stack::clear();
        return made;
    }

    static uint32_t length(const Cell& series) { return series::total_units(&series); }
    static Cell* cells(const Cell& list) { return memory::buffer(list.w2)->cells(); }
};
