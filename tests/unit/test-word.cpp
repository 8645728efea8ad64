#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "runtime-core/error-ids.h"
#include "words-fixture.h"

namespace {

// A stand-in for the lexer, enough for the conversions: tokens are separated by blanks; a
// token of digits is an integer!, one ending with ":" a set-word!, anything else a word!.
uint8_t token_type(const std::string& token) {
    if (!token.empty() && std::isdigit(static_cast<unsigned char>(token[0]))) return kTypeInteger;
    if (!token.empty() && token.back() == ':') return kTypeSetWord;
    return kTypeWord;
}
uint8_t scan_type(const char* text, uint32_t length) {
    const std::string t(text, length);
    return token_type(t.substr(0, t.find(' ')));
}
uint32_t load(const Cell* string, Cell* first) {
    memory::Buffer* b = memory::buffer(string->w2);
    std::string text;
    for (uint32_t i = string->w1; i < b->length(); ++i)
        text.push_back(
            static_cast<char>(string::get_char(b->at_head() + i * b->unit(), b->unit())));
    uint32_t count = 0;
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = std::min(text.find(' ', at), text.size());
        const std::string token = text.substr(at, end - at);
        if (!token.empty() && count++ == 0) {
            if (token_type(token) == kTypeInteger)
                *first = Cell{kTypeInteger, 0, static_cast<uint32_t>(std::stoi(token)), 0};
            else
                word::make_at(symbol::make(token.c_str()), first);
        }
        at = end + 1;
    }
    return count;
}
const word::Lexer fake_lexer{scan_type, load};

class Word : public WordsTest {
protected:
    // make or to through the action row of the target type, into a cell on the data stack.
    static Cell convert(int32_t type, const Cell& spec, bool make = false) {
        Cell* s = stack::push(spec);
        Cell* prototype = stack::push(Cell{kTypeUnset, 0, 0, 0});
        const uint32_t t = static_cast<uint32_t>(type);
        if (make)
            datatype::function<action::slot::make>(t)(prototype, s, type);
        else
            datatype::function<action::slot::to>(t)(prototype, s, type);
        const Cell result = *prototype;
        stack::pop(2);
        return result;
    }
    static GcRoot* string_of_text(GcRoot& root, const char* text) {
        Cell* s = string::make_at(stack::push_cell(), 16);
        string::concatenate_cstring(s, text);
        root.set_cell(*s);
        stack::pop(1);
        return &root;
    }
};

TEST_F(Word, FormAndMoldOfEachKind) {
    struct Case {
        uint8_t type;
        const char* text;
        const char* form;
        const char* mold;
    } cases[] = {
        {kTypeWord, "foo", "foo", "foo"},
        {kTypeWord, "FOO", "FOO", "FOO"},
        {kTypeLitWord, "foo", "foo", "'foo"},
        {kTypeSetWord, "Foo", "Foo", "Foo:"},
        {kTypeGetWord, "foo", "foo", ":foo"},
        {kTypeRefinement, "local", "local", "/local"},
        {kTypeWord, "caf\xC3\xA9", "caf\xE9", "caf\xE9"}, // read back as code points
    };
    for (const Case& c : cases) {
        const Cell w = unbound(c.type, sym(c.text));
        int32_t used = 0;
        EXPECT_EQ(formed(w, false, &used), c.form) << c.mold;
        EXPECT_EQ(used, static_cast<int32_t>(std::string(c.form).size())) << c.mold;
        EXPECT_EQ(formed(w, true, &used), c.mold) << c.mold;
        EXPECT_EQ(used, static_cast<int32_t>(std::string(c.mold).size())) << c.mold;
    }
}

TEST_F(Word, CompareUnderEachCode) {
    const uint32_t foo = sym("foo"), FOO = sym("FOO"), bar = sym("bar");
    GcRoot other(context::create(1, false, false, nullptr, context::kPlain));
    const Cell word_foo{kTypeWord, context::global, foo, 0};
    using namespace action::op;
    struct Case {
        Cell a, b;
        int32_t op;
        int32_t expected; // 0 equal, 1 unequal, -1/1 for orderings by sign, -2 not comparable
    } cases[] = {
        {word_foo, unbound(kTypeWord, FOO), equal, 0},
        {word_foo, unbound(kTypeWord, FOO), strict_equal, 1},
        {word_foo, unbound(kTypeSetWord, foo), equal, 0},
        {word_foo, unbound(kTypeSetWord, foo), strict_equal, 1},
        {word_foo, unbound(kTypeWord, foo), strict_equal, 0},
        {word_foo, unbound(kTypeWord, bar), find, 1},
        {word_foo, word_foo, same, 0},
        {word_foo, Cell{kTypeWord, other.node(), foo, 0}, same, 1},
        {word_foo, unbound(kTypeWord, FOO), same, 1},
        {word_foo, unbound(kTypeLitWord, foo), parse_case, 0},
        {unbound(kTypeLitWord, foo), word_foo, parse_case, 0},
        {word_foo, unbound(kTypeLitWord, FOO), parse_case, 1},
        {word_foo, unbound(kTypeLitWord, FOO), parse, 0},
        {unbound(kTypeSetWord, foo), unbound(kTypeLitWord, foo), parse, 1},
        {unbound(kTypeGetWord, foo), unbound(kTypeGetWord, FOO), parse, 0},
        {unbound(kTypeWord, bar), word_foo, lesser, -1},
        {word_foo, unbound(kTypeWord, FOO), case_sort, 1},
        {word_foo, Cell{kTypeIssue, 0, foo, word::kUnresolved}, equal, -2},
        {word_foo, Cell{kTypeInteger, 0, 1, 0}, equal, -2},
    };
    for (Case& c : cases) {
        GcRoot a(c.a), b(c.b);
        const int32_t r = word::compare(&a.cell(), &b.cell(), c.op);
        if (c.op == lesser || c.op == case_sort)
            EXPECT_EQ((r > 0) - (r < 0), c.expected) << c.op;
        else
            EXPECT_EQ(r, c.expected) << c.op << " " << int(cell::type(&c.b));
    }
}

TEST_F(Word, IndexOfAWord) {
    stack::clear();
    stack::push(unbound(kTypeWord, sym("nowhere")));
    datatype::function<action::slot::index_q>(cell::type(stack::arguments))();
    EXPECT_EQ(cell::type(stack::arguments), kTypeNone);
    // The first word of the global context is the first datatype's name.
    stack::clear();
    stack::push(*word::slot_word(context::global, 0));
    datatype::function<action::slot::index_q>(cell::type(stack::arguments))();
    EXPECT_EQ(cell::type(stack::arguments), kTypeInteger);
    EXPECT_EQ(stack::arguments->w2, 1u);
    EXPECT_EQ(text_of_symbol(word::slot_word(context::global, 0)->w2), "datatype!");
    // refinement! has no index?.
    EXPECT_EQ(datatype::entry(kTypeRefinement, action::slot::index_q), nullptr);
    EXPECT_NE(datatype::entry(kTypeGetWord, action::slot::index_q), nullptr);
}

TEST_F(Word, ConversionsBetweenTheWordTypes) {
    word::set_lexer(&fake_lexer);
    GcRoot ctx(context::create(1, false, false, nullptr, context::kPlain));
    const uint32_t foo = sym("foo");
    const int32_t index = context::bind_index(ctx.node(), foo);
    // A lit-word made a set-word keeps its binding.
    const Cell lit{kTypeLitWord | cell::kNewLine, ctx.node(), foo, static_cast<uint32_t>(index)};
    const Cell set = convert(kTypeSetWord, lit);
    EXPECT_EQ(set.header, kTypeSetWord); // flags cleared
    EXPECT_EQ(set.w1, ctx.node());
    EXPECT_EQ(set.w2, foo);
    // A refinement scans as a word: bound to the global context when the word is there.
    const Cell global_foo = global_word("foo");
    const Cell from_refinement = convert(kTypeWord, unbound(kTypeRefinement, foo));
    EXPECT_EQ(from_refinement.header, kTypeWord);
    EXPECT_EQ(from_refinement.w1, context::global);
    EXPECT_EQ(from_refinement.w3, global_foo.w3);
    // An issue whose text scans as a number cannot become a word.
    const Cell number{kTypeIssue, 0, sym("123"), word::kUnresolved};
    EXPECT_TRUE(
        raises(error::kScript, error::script::bad_to_arg, [&] { convert(kTypeWord, number); }));
    EXPECT_EQ(cell::type(&error::last_raised.args[0]), kTypeDatatype);
    EXPECT_EQ(error::last_raised.args[0].w1, kTypeWord);
}

TEST_F(Word, ConversionsFromOtherTypes) {
    word::set_lexer(&fake_lexer);
    GcRoot text(Cell{});
    string_of_text(text, "foo");
    const Cell from_string = convert(kTypeWord, text.cell());
    EXPECT_EQ(from_string.header, kTypeWord);
    EXPECT_EQ(text_of_symbol(from_string.w2), "foo");
    EXPECT_EQ(from_string.w1, context::global);

    for (const char* bad : {"foo bar", "12", ""}) {
        string_of_text(text, bad);
        EXPECT_TRUE(raises(error::kScript, error::script::invalid_chars, [&] {
            convert(kTypeWord, text.cell());
        })) << bad;
    }

    const Cell from_char = convert(kTypeGetWord, Cell{kTypeChar, 0, 'x', 0}, true);
    EXPECT_EQ(from_char.header, kTypeGetWord);
    EXPECT_EQ(text_of_symbol(from_char.w2), "x");

    const Cell from_type = convert(kTypeLitWord, Cell{kTypeDatatype, kTypeInteger, 0, 0});
    EXPECT_EQ(from_type.header, kTypeLitWord);
    EXPECT_EQ(text_of_symbol(from_type.w2), "integer!");

    const Cell from_logic = convert(kTypeWord, Cell{kTypeLogic, 1, 0, 0});
    EXPECT_EQ(text_of_symbol(from_logic.w2), "true");
    EXPECT_EQ(from_logic.w1, context::global);
    EXPECT_EQ(text_of_symbol(convert(kTypeWord, Cell{kTypeLogic, 0, 0, 0}).w2), "false");

    EXPECT_TRUE(raises(error::kScript, error::script::bad_to_arg, [&] {
        convert(kTypeWord, Cell{kTypeInteger, 0, 5, 0});
    }));
    EXPECT_TRUE(raises(error::kScript, error::script::bad_to_arg, [&] {
        convert(kTypeWord, Cell{kTypeNone, 0, 0, 0});
    }));
}

// Without a lexer, the conversions that scan text report that they cannot be done.
TEST_F(Word, ConversionsThatScanNeedTheLexer) {
    GcRoot text(Cell{});
    string_of_text(text, "foo");
    EXPECT_TRUE(raises(error::kInternal, error::internal::not_done,
                       [&] { convert(kTypeWord, text.cell()); }));
    EXPECT_TRUE(raises(error::kInternal, error::internal::not_done,
                       [&] { convert(kTypeWord, unbound(kTypeRefinement, sym("foo"))); }));
}

TEST_F(Word, MakeGlobalFollowsTheBootFlag) {
    memory::Buffer* rb = memory::buffer(root::block.w2);
    auto in_root = [&](const Cell* c) { return c >= rb->cells() && c < rb->cells_tail(); };
    const Cell* entry = word::make_global("runtime-word");
    EXPECT_FALSE(in_root(entry));
    EXPECT_EQ(entry->w1, context::global);
    EXPECT_EQ(entry, context::words(context::global) + entry->w3);
    root::boot_flag = 1;
    const uint32_t tail = rb->length();
    const Cell* kept = word::make_global("runtime-word");
    EXPECT_TRUE(in_root(kept));
    EXPECT_EQ(rb->length(), tail + 1);
    EXPECT_EQ(kept->w3, context::words(context::global)[kept->w3].w3);
    // Another letter case: a copy keeping its letters, made once.
    const Cell* upper = word::make_global("RUNTIME-WORD");
    EXPECT_TRUE(in_root(upper));
    EXPECT_EQ(rb->length(), tail + 2);
    EXPECT_EQ(text_of_symbol(upper->w2), "RUNTIME-WORD");
    EXPECT_EQ(upper->w3, kept->w3);
}

TEST_F(Word, ValuesThroughWordsAndSlots) {
    GcRoot ctx(context::create(2, false, true, nullptr, context::kObject));
    const int32_t a = context::bind_index(ctx.node(), sym("a"));
    const Cell wa{kTypeWord, ctx.node(), sym("a"), static_cast<uint32_t>(a)};
    stack::clear();
    // An unset value cannot be read through get_set_value.
    EXPECT_TRUE(raises(error::kScript, error::script::no_value, [&] { word::get_set_value(&wa); }));

    // set_to_next_checked: the frame holds the word and the value.
    stack::clear();
    stack::push(wa);
    stack::push(Cell{kTypeInteger, 0, 4, 0});
    word::set_to_next_checked();
    EXPECT_EQ(stack::arguments->w2, 4u);
    EXPECT_EQ(word::get_set_value(&wa)->w2, 4u);
    EXPECT_TRUE(context::words(ctx.node())[a].header & context::kTouched);
    stack::clear();
    stack::push(wa);
    stack::push(Cell{kTypeUnset, 0, 0, 0});
    EXPECT_TRUE(
        raises(error::kScript, error::script::need_value, [] { word::set_to_next_checked(); }));

    // The setters by index.
    stack::clear();
    stack::push(Cell{kTypeInteger, 0, 8, 0});
    const Cell* old = word::set_slot_push_old(ctx.node(), a);
    EXPECT_EQ(old->w2, 4u);
    EXPECT_EQ(word::value_at(ctx.node(), a)->w2, 8u);
    stack::push(Cell{kTypeInteger, 0, 9, 0});
    word::set_slot_from_top(ctx.node(), a);
    EXPECT_EQ(word::fetch_value(ctx.node(), a)->w2, 9u);
    EXPECT_EQ(get_word::get_value(&wa)->w2, 9u);
    stack::clear();

    // A function context outside a call has no values to fetch.
    GcRoot fn(context::create(1, true, false, nullptr, context::kFunction));
    const int32_t x = context::bind_index(fn.node(), sym("x"));
    EXPECT_TRUE(raises(error::kScript, error::script::not_defined,
                       [&] { word::fetch_value(fn.node(), x); }));
    EXPECT_EQ(error::last_raised.args[0].w2, sym("x"));
}

TEST_F(Word, ConstructorsAndRetyping) {
    const uint32_t s = sym("made-here");
    const Cell* pushed = word::push_new(s);
    EXPECT_EQ(pushed->header, kTypeWord);
    EXPECT_EQ(pushed->w1, context::global);
    EXPECT_EQ(context::find_word(context::global, s, false), static_cast<int32_t>(pushed->w3));
    GcRoot list(block({}));
    word::add_to_block(s, list.cell().w2);
    EXPECT_EQ(memory::buffer(list.cell().w2)->cells()[0].w3, pushed->w3);

    EXPECT_EQ(get_word::push(pushed)->header, kTypeGetWord);
    EXPECT_EQ(refinement::push(pushed)->header, kTypeRefinement);
    EXPECT_EQ(get_word::push_slot(context::global, 0)->header & 0xFF, kTypeGetWord);

    // The symbol's own string, not a copy.
    const Cell* text = word::push_symbol_string(pushed);
    EXPECT_EQ(text->w2, symbol::cell_at(s)->w2);
    EXPECT_EQ(ascii(*text), "made-here");
    EXPECT_EQ(word::symbol_record(pushed)->w2, text->w2);

    // find_or_add answers from the context, else adds to the global context.
    GcRoot ctx(context::create(1, false, false, nullptr, context::kPlain));
    context::bind_index(ctx.node(), sym("local-one"));
    EXPECT_EQ(word::find_or_add(ctx.node(), sym("local-one"))->w1, ctx.node());
    const uint32_t fresh = sym("fresh-one");
    EXPECT_EQ(word::find_or_add(ctx.node(), fresh)->w1, context::global);
    EXPECT_EQ(context::find_word(ctx.node(), fresh, true), -1);
    stack::clear();
}

TEST_F(Word, RegistrationRows) {
    namespace slot = action::slot;
    const action::Slot own[] = {slot::make, slot::to,      slot::form,
                                slot::mold, slot::compare, slot::index_q};
    for (uint32_t type : {kTypeWord, kTypeLitWord, kTypeSetWord, kTypeGetWord, kTypeRefinement}) {
        for (uint32_t s = 1; s <= action::kSlotCount; ++s) {
            bool expected = std::find(std::begin(own), std::end(own), s) != std::end(own);
            if (type == kTypeRefinement && s == slot::index_q) expected = false;
            EXPECT_EQ(datatype::entry(type, static_cast<action::Slot>(s)) != nullptr, expected)
                << type << " " << s;
        }
        EXPECT_EQ(datatype::entry(type, slot::form), datatype::entry(kTypeWord, slot::form));
    }
    EXPECT_STREQ(datatype::name_record(kTypeLitWord).name, "lit-word!");
    EXPECT_STREQ(datatype::name_record(kTypeRefinement).name, "refinement!");
}

} // namespace
