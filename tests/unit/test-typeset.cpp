#include "object-fixture.h"

namespace {

class Typeset : public ObjectTest {
protected:
    // A typeset of a block read from text, pushed.
    static Cell* set_of(const std::string& text) {
        Cell* block = load(text);
        Cell* prototype = datatype::push(kTypeTypeset);
        return typeset::make(prototype, block, kTypeTypeset);
    }
    static Cell global(const char* name) {
        const Cell w = word(name);
        return *context::value_cell(w.w2, context::global);
    }
    static std::string bitwise(void (*action)(), const Cell& left, const Cell& right) {
        stack::FrameGuard guard;
        Cell* frame = stack::push(left);
        stack::push(right);
        stack::arguments = frame;
        action();
        return mold(frame);
    }
};

TEST_F(Typeset, AnyTypeHasEveryTypeButUnset) {
    Cell any;
    typeset::make_any_type(&any);
    EXPECT_FALSE(typeset::contains(&any, kTypeUnset));
    for (uint32_t t : {kTypeNone, kTypeDatatype, kTypeEvent, kTypeObject})
        EXPECT_TRUE(typeset::contains(&any, t)) << t;
    EXPECT_FALSE(typeset::contains(&any, typeset::kBits));
}

TEST_F(Typeset, MoldAndForm) {
    struct Case {
        const char* spec;
        bool only;
        const char* expected;
    } cases[] = {
        {"integer! float!", false, "make typeset! [integer! float!]"},
        {"float! integer! float!", false, "make typeset! [integer! float!]"},
        {"", false, "make typeset! []"},
        {"integer! float!", true, "integer! float!"},
        {"", true, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(mold(set_of(c.spec), c.only), c.expected) << c.spec;
    EXPECT_EQ(form(set_of("block!")), "make typeset! [block!]");
}

TEST_F(Typeset, FromAnArgumentTypeBlock) {
    Cell* number = stack::push(global("number!"));
    Cell* spec = load("integer! [x] string!");
    Cell* made = typeset::make_from_spec(stack::push_cell(), spec);
    EXPECT_EQ(mold(made), "make typeset! [string! integer!]");
    // A word stands for its value: a typeset is or-ed in.
    Cell* with_word = block::push_new(2);
    Cell w = word("number!");
    context::bind_word(context::global, &w);
    block::append_copy(with_word, &w);
    made = typeset::make_from_spec(stack::push_cell(), with_word);
    EXPECT_EQ(made->w1, number->w1);
    EXPECT_EQ(made->w2, number->w2);
    Cell* bad = load("integer! 5");
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_type_spec,
                       [&] { typeset::make_from_spec(stack::push_cell(), bad); }));
}

TEST_F(Typeset, MakeAndToErrors) {
    Cell* prototype = datatype::push(kTypeTypeset);
    Cell* five = stack::push(integer(5));
    EXPECT_TRUE(raises(error::kScript, error::script::bad_to_arg,
                       [&] { typeset::make(prototype, five, kTypeTypeset); }));
    Cell* bad = load("integer! 5");
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_arg,
                       [&] { typeset::make(prototype, bad, kTypeTypeset); }));
    Cell* same = set_of("string!");
    EXPECT_EQ(mold(typeset::make(prototype, same, kTypeTypeset)), "make typeset! [string!]");
}

TEST_F(Typeset, FindNeedsADatatype) {
    Cell* set = set_of("integer! block!");
    Cell* integer_type = datatype::push(kTypeInteger);
    Cell* string_type = datatype::push(kTypeString);
    auto find = [&](Cell* value) { return typeset::find(set, value, {}); };
    EXPECT_TRUE(logic::get(find(integer_type)));
    EXPECT_FALSE(logic::get(find(string_type)));
    Cell* five = stack::push(integer(5));
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_arg, [&] { find(five); }));
}

TEST_F(Typeset, SetOperations) {
    const Cell set = *set_of("integer! block!");
    const Cell other = *set_of("block! string!");
    const Cell string_type = datatype_value(kTypeString);
    const Cell block_type = datatype_value(kTypeBlock);
    EXPECT_EQ(bitwise(typeset::or_, set, string_type), "make typeset! [block! string! integer!]");
    EXPECT_EQ(bitwise(typeset::and_, set, other), "make typeset! [block!]");
    EXPECT_EQ(bitwise(typeset::xor_, set, other), "make typeset! [string! integer!]");
    EXPECT_EQ(bitwise([] { typeset::do_bitwise(11); }, set, block_type),
              "make typeset! [integer!]");
    EXPECT_EQ(bitwise([] { typeset::do_bitwise(8); }, set, other),
              "make typeset! [block! integer!]");
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_arg,
                       [&] { bitwise(typeset::or_, set, integer(1)); }));
    Cell* c = stack::push(set);
    typeset::complement(c);
    EXPECT_FALSE(typeset::contains(c, kTypeInteger));
    EXPECT_TRUE(typeset::contains(c, kTypeString));
}

TEST_F(Typeset, Compare) {
    Cell* a = set_of("integer! block!");
    Cell* b = set_of("block! integer!");
    Cell* c = set_of("block!");
    EXPECT_EQ(typeset::compare(a, b, action::op::equal), 0);
    EXPECT_EQ(typeset::compare(a, c, action::op::equal), 1);
    EXPECT_EQ(typeset::compare(c, a, action::op::sort), -1);
    EXPECT_EQ(typeset::compare(a, c, action::op::lesser), action::kNotComparable);
    Cell* one = stack::push(integer(1));
    EXPECT_EQ(typeset::compare(a, one, action::op::equal), action::kNotComparable);
}

TEST_F(Typeset, ToBlockConvertsInsteadOfWrapping) {
    Cell* set = set_of("integer! block!");
    Cell* type = datatype::push(kTypeBlock);
    Cell* b = block::to(type, set, kTypeBlock);
    EXPECT_EQ(mold(b), "[block! integer!]");
    EXPECT_EQ(cell::type(block::cell_at(b, 0)), kTypeWord);
}

TEST_F(Typeset, StandardWords) {
    struct Case {
        const char* name;
        uint8_t in;
        uint8_t out;
    } cases[] = {
        {"number!", kTypePercent, kTypeMoney},   {"planar!", kTypePoint2D, kTypePoint3D},
        {"any-block!", kTypeHash, kTypeString},  {"series!", kTypeImage, kTypeMap},
        {"scalar!", kTypeDate, kTypeWord},       {"immediate!", kTypeWord, kTypeBlock},
        {"any-object!", kTypePort, kTypeMap},    {"default!", kTypeBitset, kTypeUnset},
        {"any-type!", kTypeUnset, kTypeTypeset},
    };
    for (const Case& c : cases) {
        const Cell set = global(c.name);
        ASSERT_EQ(cell::type(&set), kTypeTypeset) << c.name;
        EXPECT_TRUE(typeset::contains(&set, c.in)) << c.name;
        if (std::string(c.name) != "any-type!") {
            EXPECT_FALSE(typeset::contains(&set, c.out)) << c.name;
        }
    }
}

} // namespace
