// The runtime with its words (words-fixture.h) and the datatypes of the time!, date!, money!,
// port!, tag!, email!, ref!, url! and file! modules registered, with helpers that run frame
// actions and build blocks of values.
#pragma once
#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/email.h"
#include "datatypes/file.h"
#include "datatypes/issue.h"
#include "datatypes/money.h"
#include "datatypes/port.h"
#include "datatypes/ref.h"
#include "datatypes/series.h"
#include "datatypes/tag.h"
#include "datatypes/time.h"
#include "datatypes/url.h"
#include "words-fixture.h"

class Types2Test : public WordsTest {
protected:
    void SetUp() override {
        WordsTest::SetUp();
        series::register_actions();
        block::register_actions();
        string::register_actions();
        issue::register_actions();
        url::register_actions();
        file::register_actions();
        time_::register_actions();
        tag::register_actions();
        email::register_actions();
        date::register_actions();
        port::register_actions();
        money::register_actions();
        ref::register_actions();
        stack::clear();
    }
    void TearDown() override {
        date::set_months_hook(nullptr);
        port::services = {};
        stack::clear();
        WordsTest::TearDown();
    }

    static Cell int_value(int32_t v) { return Cell{kTypeInteger, 0, static_cast<uint32_t>(v), 0}; }
    static Cell float_value(double d, uint8_t type = kTypeFloat) {
        Cell c{type, 0, 0, 0};
        std::memcpy(&c.w2, &d, sizeof d);
        return c;
    }
    static Cell time_value(double seconds) { return float_value(seconds, kTypeTime); }
    static double seconds_of(const Cell& c) {
        double d;
        std::memcpy(&d, &c.w2, sizeof d);
        return d;
    }
    // A date as the lexer reads it: not normalised.
    static Cell date_value(int32_t y, int32_t m, int32_t d) {
        Cell c{};
        return *date::make_at(&c, y, m, d, 0, 0, 0, false);
    }
    static Cell date_time(int32_t y, int32_t m, int32_t d, double t, int32_t zh = 0,
                          int32_t zm = 0) {
        Cell c{};
        return *date::make_at(&c, y, m, d, t, zh, zm, true);
    }

    // Runs a frame action on (a, b) and returns the frame's result cell.
    static Cell run(void (*action)(), const Cell& a, const Cell& b) {
        stack::clear();
        stack::push(a);
        stack::push(b);
        action();
        return *stack::arguments;
    }
    // A make or to slot on a spec cell; the result cell.
    static Cell convert(action::Fn<action::slot::make> slot, uint8_t type, const Cell& spec) {
        stack::clear();
        Cell* proto = stack::push(Cell{type, 0, 0, 0});
        Cell* s = stack::push(spec);
        return *slot(proto, s, type);
    }
    // A text value of `type` from UTF-8, on the data stack.
    static Cell text(uint8_t type, const char* utf8) {
        return *string::text_push(type, utf8, static_cast<uint32_t>(std::strlen(utf8)));
    }
    // The UTF-8 text of a string-like value from its index.
    static std::string utf8_of(const Cell& value) { return string::utf8_from_index(&value); }
    static std::string mold_of(const Cell& value) { return formed(value, true); }
    static std::string form_of(const Cell& value) { return formed(value, false); }
};
