// The lexer for tests: the runtime of path-fixture.h with char!, bitset! and float!, and the
// lexer brought up. Texts are loaded, scanned and molded back; syntax errors are read from the
// recorded arguments and formed by their catalogue templates.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "datatypes/char.h"
#include "loading/lexer.h"
#include "path-fixture.h"
#include "runtime-core/unicode.h"

class LexerTest : public PathTest {
public:
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

    // The value molded (/only for blocks, /all). May collect.
    static std::string molded(const Cell& value, bool only = false, bool all = false) {
        Cell* held = stack::push(value);
        Cell* text = string::make_at(stack::push_cell(), 16);
        actions::mold(held, text, {.only = only, .all = all}, form_mold::kNoLimit, 0);
        std::string out = utf8(*text);
        stack::pop(2);
        return out;
    }

    // Loads a text into a block (left on the data stack).
    static Cell* load(const std::string& text) {
        return lexer::load_push(reinterpret_cast<const uint8_t*>(text.data()),
                                static_cast<uint32_t>(text.size()));
    }
    // What `body` answers, or "error CATEGORY ID" when it raises an error; the data stack is
    // put back either way.
    static std::string attempt(const std::function<std::string()>& body) {
        Cell* const base = stack::top;
        std::string out;
        error::last_raised = error::Raised{};
        const uint32_t code = runtime::catch_level(runtime::kThrowError, [&] { out = body(); });
        runtime::reset_thrown_code();
        stack::top = base;
        if (code == runtime::kThrowError)
            return "error " + std::to_string(error::last_raised.category) + " " +
                   std::to_string(error::last_raised.id);
        return out;
    }
    // The mold of what a text loads as, without the outer brackets.
    static std::string reload(const std::string& text) {
        return attempt([&] { return molded(*load(text), true); });
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

    // The name of a datatype, also of one not registered here.
    static std::string type_name(uint8_t type) {
        const datatype::NameRecord& record = datatype::name_record(type);
        if (record.length) return record.name;
        static const std::pair<uint8_t, const char*> later[] = {
            {kTypeError, "error!"},    {kTypeBinary, "binary!"},   {kTypeFile, "file!"},
            {kTypeUrl, "url!"},        {kTypePercent, "percent!"}, {kTypeTuple, "tuple!"},
            {kTypePair, "pair!"},      {kTypeTime, "time!"},       {kTypeDate, "date!"},
            {kTypeMoney, "money!"},    {kTypeTag, "tag!"},         {kTypeEmail, "email!"},
            {kTypeRef, "ref!"},        {kTypeMap, "map!"},         {kTypePoint2D, "point2D!"},
            {kTypePoint3D, "point3D!"}};
        for (const auto& [id, name] : later)
            if (id == type) return name;
        return "type " + std::to_string(type);
    }

    // The syntax error a load raises, formed as the error! datatype will: "*** Syntax Error: "
    // and the catalogue template filled with the formed arguments. Empty when nothing is
    // raised; the id of another error shows as "other error".
    std::string syntax_error(const std::string& text) {
        if (attempt([&] { return molded(*load(text)); }).rfind("error ", 0) != 0) return "";
        const error::Raised& e = error::last_raised;
        if (e.category != error::kSyntax) return "other error";
        auto arg = [&](uint32_t i) {
            const Cell c = e.args[i];
            if (cell::type(&c) == kTypeString) return utf8(c);
            if (cell::type(&c) == kTypeChar) return std::string(1, static_cast<char>(c.w2));
            return type_name(static_cast<uint8_t>(c.w1));
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
