// The lexer for tests: the runtime of path-fixture.h with char!, bitset! and float!, and the
// lexer brought up. Texts are loaded, scanned and molded back; syntax errors are read from the
// recorded arguments and formed by their catalogue templates.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "datatypes/core/char.h"
#include "loading/lexer.h"
#include "path-fixture.h"
#include "runtime-core/unicode.h"

class LexerTest : public PathTest {
protected:
    void SetUp() override {
        PathTest::SetUp();
        char_::register_actions();
        lexer::init();
        stack::clear();
    }
    void TearDown() override {
        stack::clear();
        lexer::release();
        PathTest::TearDown();
    }

    // The text of a string-family value from its index, as UTF-8.
    static std::string utf8(const Cell& string) {
        memory::Buffer* b = memory::buffer(string.w2);
        std::string out;
        for (uint32_t i = string.w1; i < b->length(); ++i) {
            char buffer[4];
            const int n = unicode::encode_utf8_char(
                string::get_char(b->at_head() + i * b->unit(), b->unit()), buffer);
            out.append(buffer, static_cast<size_t>(n));
        }
        return out;
    }

    // The value molded (/only for blocks). May collect.
    static std::string molded(const Cell& value, bool only = false) {
        Cell* held = stack::push(value);
        Cell* text = string::make_at(stack::push_cell(), 16);
        actions::mold(held, text, only, false, false, nullptr, form_mold::kNoLimit, 0);
        std::string out = utf8(*text);
        stack::pop(2);
        return out;
    }

    // Loads a text into a block (left on the data stack).
    static Cell* load(const std::string& text) {
        return lexer::load_push(reinterpret_cast<const uint8_t*>(text.data()),
                                static_cast<uint32_t>(text.size()));
    }
    // The mold of what a text loads as, without the outer brackets.
    static std::string reload(const std::string& text) {
        Cell* b = load(text);
        std::string out = molded(*b, true);
        stack::pop(1);
        return out;
    }
    // The type of the first token (scan mode, or prescan).
    static uint8_t scan_type(const std::string& text, bool prescan = false) {
        lexer::ScanMode mode;
        mode.one = true;
        mode.load = false;
        mode.scan = !prescan;
        return lexer::scan(nullptr, reinterpret_cast<const uint8_t*>(text.data()),
                           static_cast<uint32_t>(text.size()), mode, nullptr, nullptr, nullptr,
                           nullptr);
    }

    // The syntax error a load raises, formed as the error! datatype will: "*** Syntax Error: "
    // and the catalogue template filled with the formed arguments. Empty when nothing is
    // raised; the id of another error shows as "other error".
    std::string syntax_error(const std::string& text) {
        error::last_raised = error::Raised{};
        Cell* const base = stack::top;
        const uint32_t code = runtime::catch_level(runtime::kThrowError, [&] { load(text); });
        runtime::reset_thrown_code();
        stack::top = base;
        if (code != runtime::kThrowError) return "";
        const error::Raised& e = error::last_raised;
        if (e.category != error::kSyntax) return "other error";
        auto arg = [&](uint32_t i) {
            const Cell c = e.args[i];
            if (cell::type(&c) == kTypeString) return utf8(c);
            if (cell::type(&c) == kTypeChar) return std::string(1, static_cast<char>(c.w2));
            return std::string(datatype::name_record(c.w1).name);
        };
        std::string message = "*** Syntax Error: " + arg(0) + " ";
        switch (e.id) {
        case error::syntax::invalid:
            return message + "invalid " + arg(1) + " at " + arg(2);
        case error::syntax::missing:
            return message + "missing " + arg(1) + " at " + arg(2);
        case error::syntax::malconstruct:
            return message + "invalid construction spec at " + arg(1);
        case error::syntax::bad_char:
            return message + "invalid character at " + arg(1);
        default:
            return "other syntax error";
        }
    }
};
