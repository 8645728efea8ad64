#include <gtest/gtest.h>

#include "runtime-core/error-ids.h"
#include "types2-fixture.h"

namespace {

class Url : public Types2Test {
protected:
    Cell word_of(const char* name) { return unbound(kTypeWord, sym(name)); }
    Cell issue_of(const char* name) { return Cell{kTypeIssue, 0, sym(name), 0}; }
};

TEST_F(Url, MadeFromABlockOfParts) {
    struct Case {
        std::vector<Cell> parts;
        const char* text;
    } cases[] = {
        {{word_of("s"), word_of("h"), int_value(80), word_of("a"), word_of("b")}, "s://h:80/a/b"},
        {{word_of("s"), word_of("h"), word_of("a"), issue_of("f")}, "s://h/a#f"},
        {{word_of("s")}, "s://"},
        {{word_of("http"), word_of("host"), int_value(8080)}, "http://host:8080"},
    };
    for (const Case& c : cases) {
        for (auto slot : {url::make, url::to}) {
            GcRoot spec(block({}));
            for (const Cell& p : c.parts) append(spec.cell().w2, p);
            const Cell u = convert(slot, kTypeUrl, spec.cell());
            EXPECT_EQ(cell::type(&u), kTypeUrl);
            EXPECT_EQ(utf8_of(u), c.text);
        }
    }
    GcRoot empty(block({}));
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_spec_field,
                       [&] { convert(url::make, kTypeUrl, empty.cell()); }));
}

TEST_F(Url, MoldPercentEncodesAndFormDoesNot) {
    GcRoot u(text(kTypeUrl, "http://h/a b%\xC3\xA9;x")); // molding allocates: keep it current
    EXPECT_EQ(mold_of(u.cell()), "http://h/a%20b%25%C3%A9%3Bx");
    EXPECT_EQ(form_of(u.cell()), "http://h/a b%\xE9;x"); // form_of shows code points as bytes
}

TEST_F(Url, PercentTables) {
    struct Case {
        uint8_t byte;
        bool url, strict;
    } cases[] = {
        {'a', false, false}, {'/', false, true},  {' ', true, true},  {'%', true, true},
        {'~', false, false}, {'-', false, false}, {':', false, true}, {0x7F, true, true},
        {0x80, true, true},  {'|', true, true},   {'"', true, true},  {'\n', true, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(url::needs_escape(url::kUrlMode, c.byte), c.url) << int(c.byte);
        EXPECT_EQ(url::needs_escape(url::kStrictMode, c.byte), c.strict) << int(c.byte);
    }
    Cell out = *string::make_at(stack::push_cell(), 8);
    GcRoot target(out);
    GcRoot source(text(kTypeString, "a b/\xC3\xA9"));
    url::encode_utf8(&source.cell(), &target.cell(), url::kStrictMode);
    EXPECT_EQ(utf8_of(target.cell()), "a%20b%2F%C3%A9");
}

TEST_F(Url, PercentDecoding) {
    struct Case {
        const char* text;
        std::u32string decoded;
    } cases[] = {
        {"%C3%A9", U"\u00E9"},
        {"%C3x", U"%C3x"},
        {"%C3", U"%C3"},
        {"%41", U"A"},
        {"%e2%82%ac!", U"\u20AC!"},
        {"%F0%9F%98%80", U"\U0001F600"},
        {"%80", U"\u0080"},
        {"%4", U"%4"},
        {"%zz", U"%zz"},
        {"a%20b", U"a b"},
    };
    for (const Case& c : cases) EXPECT_EQ(url::percent_decode_text(c.text), c.decoded) << c.text;
    Cell out = *string::make_at(stack::push_cell(), 8);
    GcRoot target(out);
    GcRoot source(text(kTypeUrl, "x%C3%A9"));
    url::percent_decode(&source.cell(), &target.cell());
    EXPECT_EQ(utf8_of(target.cell()), "x\xC3\xA9");
}

TEST_F(Url, PathAccessMakesANewUrl) {
    struct Case {
        const char* base;
        Cell element;
        const char* text;
    } cases[] = {
        {"http://h/", word_of("x"), "http://h/x"},
        {"http://h", word_of("x"), "http://h/x"},
        {"http://h/", Cell{kTypeFile, 0, 0, 0}, "http://h/y"},
        {"http://h", int_value(3), "http://h/3"},
    };
    for (const Case& c : cases) {
        GcRoot base(text(kTypeUrl, c.base));
        GcRoot element(cell::type(&c.element) == kTypeFile ? text(kTypeFile, "/y") : c.element);
        const Cell r = *url::eval_path(&base.cell(), &element.cell(), nullptr, {.get = true});
        EXPECT_EQ(cell::type(&r), kTypeUrl);
        EXPECT_EQ(utf8_of(r), c.text);
        EXPECT_EQ(utf8_of(base.cell()), c.base); // unchanged
    }
    GcRoot base(text(kTypeUrl, "http://h"));
    GcRoot x(word_of("x"));
    Cell v = int_value(1);
    EXPECT_TRUE(raises(error::kScript, error::script::bad_field_set,
                       [&] { url::eval_path(&base.cell(), &x.cell(), &v, {}); }));
}

TEST_F(Url, IoWaitsForTheServices) {
    GcRoot u(text(kTypeUrl, "http://h/"));
    Cell part = int_value(1);
    EXPECT_TRUE(raises(error::kInternal, error::internal::not_done,
                       [&] { url::read(&u.cell(), {.part = &part}); }));
    EXPECT_TRUE(
        raises(error::kInternal, error::internal::not_done, [&] { url::open(&u.cell(), {}); }));
}

} // namespace
