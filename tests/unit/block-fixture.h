// Blocks for tests: the runtime of runtime-fixture.h with series!, block!, string!, paren!,
// integer!, float!, the symbol table with the word types and the runtime's word tables, and
// the owner table.
//
// Values are written as text and read by a small reader: integers, none, true, false,
// "strings", [blocks], (parens), words (foo), set-words (foo:), refinements (/foo) and
// datatypes (integer!). A line break before a value gives it the new-line marker.
#pragma once
#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/dispatch.h"
#include "datatypes/float.h"
#include "datatypes/form-mold.h"
#include "datatypes/integer.h"
#include "datatypes/ownership.h"
#include "datatypes/paren.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/hashtable.h"
#include "runtime-fixture.h"
#include "word-tables.h"

class BlockTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        series::register_actions();
        block::register_actions();
        register_counted_integer();
        float_::register_actions();
        string::register_actions();
        paren::register_actions();
        word_tables::start();
        // hash! and map! cells mark their block and their table.
        hashtable::register_markers();
        ownership::init();
        compare_calls() = 0;
        stack::clear();
    }
    void TearDown() override {
        series::services = series::Services{};
        block::set_function_caller(nullptr);
        ownership::set_fire_hook(nullptr);
        logic::set_random_source(nullptr);
        stack::clear();
        word_tables::stop();
        RuntimeTest::TearDown();
    }

    // --- Values --------------------------------------------------------------------------

    static Cell integer(int32_t v) { return Cell{kTypeInteger, 0, static_cast<uint32_t>(v), 0}; }
    static Cell logic_value(bool b) { return Cell{kTypeLogic, b ? 1u : 0u, 0, 0}; }
    static Cell none_value() { return Cell{kTypeNone, 0, 0, 0}; }
    static Cell datatype_value(uint8_t t) { return Cell{kTypeDatatype, t, 0, 0}; }

    // The symbol of a name, interned. May collect.
    static uint32_t symbol(const std::string& name) { return ::symbol::make(name.c_str()); }
    // An unbound word. May collect.
    static Cell word(const std::string& name, uint8_t type = kTypeWord) {
        return Cell{type, 0, symbol(name), ::word::kUnresolved};
    }

    // A string! of ASCII text pushed on the data stack. May collect.
    static Cell* push_string(const std::string& text) {
        Cell* s = string::make_at(stack::push_cell(), 16);
        string::append_bytes(s, text.data(), static_cast<uint32_t>(text.size()));
        return s;
    }

    // Reads values from text into a new block pushed on the data stack. May collect.
    static Cell* load(const std::string& text) {
        size_t at = 0;
        Cell* b = block::push_new(4);
        read_into(b, text, at, '\0');
        return b;
    }
    // The first value of `text`, pushed.
    static Cell* value_of(const std::string& text) {
        Cell* b = load(text);
        return stack::push(memory::buffer(b->w2)->cells()[0]);
    }

    // --- Texts ---------------------------------------------------------------------------

    static std::string text_of(const Cell* string) {
        memory::Buffer* b = memory::buffer(string->w2);
        std::string out;
        for (uint32_t i = string->w1; i < b->length(); ++i)
            out += static_cast<char>(string::get_char(b->at_head() + i * b->unit(), b->unit()));
        return out;
    }
    static std::string mold(const Cell* value, bool only = false, bool flat = false,
                            bool all = false) {
        Cell* v = stack::push(*value); // on the stack before anything allocates
        Cell* s = string::make_at(stack::push_cell(), 16);
        actions::mold(v, s, {.only = only, .all = all, .flat = flat}, form_mold::kNoLimit, 0);
        std::string out = text_of(s);
        stack::pop(2);
        return out;
    }
    static std::string form(const Cell* value) {
        Cell* v = stack::push(*value); // on the stack before anything allocates
        Cell* s = string::make_at(stack::push_cell(), 16);
        actions::form(v, s, nullptr, form_mold::kNoLimit);
        std::string out = text_of(s);
        stack::pop(2);
        return out;
    }
    // The block's cells from its head molded as one line, for checking contents.
    static std::string all_of(const Cell* block) {
        Cell whole = *block;
        whole.w1 = 0;
        return mold(&whole, false, true);
    }

    static uint32_t length(const Cell* series) { return series::total_units(series); }
    static Cell* cells(const Cell* block) { return memory::buffer(block->w2)->cells(); }

    // Calls a frame action (at, skip, head ...) on a copy of `series` with an optional
    // argument; answers the frame's result.
    static Cell frame(void (*action)(), const Cell& series, const Cell* argument = nullptr) {
        Cell* saved = stack::arguments;
        stack::arguments = stack::push(series);
        if (argument) stack::push(*argument);
        action();
        Cell result = *stack::arguments;
        stack::top = stack::arguments;
        stack::arguments = saved;
        return result;
    }

    static int& compare_calls() {
        static int n = 0;
        return n;
    }

private:
    static void read_into(Cell* block, const std::string& text, size_t& at, char close) {
        bool new_line = false;
        while (at < text.size()) {
            char c = text[at];
            if (c == '\n') new_line = true;
            if (std::isspace(static_cast<unsigned char>(c))) {
                ++at;
                continue;
            }
            if (c == close) {
                ++at;
                return;
            }
            Cell value{};
            if (c == '[' || c == '(') {
                ++at;
                Cell* nested = block::push_new(4);
                read_into(nested, text, at, c == '[' ? ']' : ')');
                value = *nested;
                if (c == '(') cell::set_type(&value, kTypeParen);
                stack::pop(1);
            } else if (c == '"') {
                size_t end = text.find('"', at + 1);
                Cell* s = push_string(text.substr(at + 1, end - at - 1));
                value = *s;
                stack::pop(1);
                at = end + 1;
            } else {
                size_t end = at;
                while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end])) &&
                       text[end] != ']' && text[end] != ')' && text[end] != '[')
                    ++end;
                value = token(text.substr(at, end - at));
                at = end;
            }
            if (new_line) value.header |= cell::kNewLine;
            new_line = false;
            block::append_copy(block, &value);
        }
    }

    static Cell token(const std::string& t) {
        if (std::isdigit(static_cast<unsigned char>(t[0])) || (t[0] == '-' && t.size() > 1))
            return integer(std::stoi(t));
        if (t == "none") return none_value();
        if (t == "true" || t == "false") return logic_value(t == "true");
        if (t.back() == '!') {
            for (uint8_t i = 1; i < datatype::kCapacity; ++i)
                if (t == datatype::name_record(i).name) return datatype_value(i);
        }
        if (t.back() == ':') return word(t.substr(0, t.size() - 1), kTypeSetWord);
        if (t[0] == '/') return word(t.substr(1), kTypeRefinement);
        return word(t);
    }

    // integer! is the real module with its compare counted, so that tests can tell whether
    // elements were compared at all.
    static int32_t counted_integer_compare(Cell* a, Cell* b, int32_t op) {
        ++compare_calls();
        return integer::compare(a, b, op);
    }
    static void register_counted_integer() {
        integer::register_actions();
        std::array<action::Entry, action::kSlotCount> row{};
        for (uint32_t s = 1; s <= action::kSlotCount; ++s)
            row[s - 1].function = datatype::entry(kTypeInteger, static_cast<action::Slot>(s));
        row[action::slot::compare - 1].function =
            reinterpret_cast<action::Erased>(&counted_integer_compare);
        datatype::register_({kTypeInteger, 0, "integer!", row});
    }
};
