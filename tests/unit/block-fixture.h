// Blocks for tests: the runtime of runtime-fixture.h with series!, block!, integer!, float!,
// the symbol table with the word types and the runtime's word tables, and the owner table,
// plus stand-ins for the datatypes that other modules bring (the actions of string! and
// paren!): just enough compare, form and mold to build, compare and show blocks.
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

#include "datatypes/core/block.h"
#include "datatypes/core/integer.h"
#include "datatypes/core/series.h"
#include "datatypes/core/string.h"
#include "datatypes/more/error-ids.h"
#include "datatypes/more/float.h"
#include "evaluator/actions.h"
#include "runtime-core/form-mold.h"
#include "runtime-core/hashtable.h"
#include "runtime-core/ownership.h"
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
        register_stand_ins();
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
        Cell* s = string::make_at(stack::push_cell(), 16);
        Cell* v = stack::push(*value);
        actions::mold(v, s, only, all, flat, nullptr, form_mold::kNoLimit, 0);
        std::string out = text_of(s);
        stack::pop(2);
        return out;
    }
    static std::string form(const Cell* value) {
        Cell* s = string::make_at(stack::push_cell(), 16);
        Cell* v = stack::push(*value);
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

    // --- Stand-ins ------------------------------------------------------------------------

    static int32_t sign(int64_t d) { return d < 0 ? -1 : d > 0 ? 1 : 0; }

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

    static int32_t string_compare(Cell* a, Cell* b, int32_t op) {
        if (!series::is_any_string(cell::type(b))) return action::kNotComparable;
        if (op == action::op::same) return a->w2 == b->w2 && a->w1 == b->w1 ? 0 : 1;
        return sign(text_of(a).compare(text_of(b)));
    }
    static int32_t string_form(Cell* v, Cell* s, Cell*, int32_t limit) {
        std::string t = text_of(v);
        string::append_bytes(s, t.data(), static_cast<uint32_t>(t.size()));
        return limit - static_cast<int32_t>(t.size());
    }
    static int32_t string_mold(Cell* v, Cell* s, bool, bool, bool, Cell*, int32_t limit, int32_t) {
        std::string t = "\"" + text_of(v) + "\"";
        string::append_bytes(s, t.data(), static_cast<uint32_t>(t.size()));
        return limit - static_cast<int32_t>(t.size());
    }

    static void register_stand_ins() {
        action::Row string_row;
        string_row.set<action::slot::compare>(string_compare)
            .set<action::slot::form>(string_form)
            .set<action::slot::mold>(string_mold)
            .inherit({action::slot::random, action::slot::at, action::slot::back,
                      action::slot::clear, action::slot::copy, action::slot::head,
                      action::slot::head_q, action::slot::index_q, action::slot::length_q,
                      action::slot::move, action::slot::next, action::slot::pick,
                      action::slot::poke, action::slot::remove, action::slot::reverse,
                      action::slot::skip, action::slot::tail, action::slot::tail_q,
                      action::slot::take});
        datatype::register_({kTypeString, kTypeSeries, "string!", string_row.entries()});
        action::Row paren_row;
        paren_row.set<action::slot::mold>(paren_mold)
            .inherit({action::slot::form, action::slot::compare, action::slot::find,
                      action::slot::select, action::slot::copy, action::slot::insert,
                      action::slot::append, action::slot::pick, action::slot::poke});
        datatype::register_({kTypeParen, kTypeBlock, "paren!", paren_row.entries()});
    }
    static int32_t paren_mold(Cell* v, Cell* s, bool only, bool all, bool flat, Cell* p,
                              int32_t limit, int32_t indent) {
        string::concatenate_cstring(s, "(");
        limit = block::mold_cells(v, s, only, all, flat, p, limit - 1, indent);
        string::concatenate_cstring(s, ")");
        return limit - 1;
    }
};
