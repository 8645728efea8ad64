#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/init.h"
#include "datatypes/bitset.h"
#include "datatypes/char.h"
#include "datatypes/ownership.h"
#include "datatypes/words.h"
#include "number-fixture.h"
#include "runtime-core/collector.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/hashtable.h"
#include "word-tables.h"

namespace {

class Bitset : public NumberTest {
protected:
    void SetUp() override {
        NumberTest::SetUp();
        char_::register_actions();
        bitset::register_actions();
        word_tables::start();
    }
    void TearDown() override {
        word_tables::stop();
        NumberTest::TearDown();
    }

    // A value made when a case runs: series made in advance would not survive the
    // collections that torture mode runs at every allocation.
    using Item = std::function<Cell()>;
    static Item ch(uint32_t cp) {
        return [=] { return Cell{kTypeChar, 0, cp, 0}; };
    }
    static Item num(int32_t n) {
        return [=] { return int_value(n); };
    }
    static Item flt(double d) {
        return [=] { return float_value(d); };
    }
    // A word of a name, interned when the item is made.
    static Item word(const char* name) {
        return [=] { return Cell{kTypeWord, 0, symbol::make(name), word::kUnresolved}; };
    }
    // The words that specs recognise, as the runtime's word tables hold them.
    static Item not_word() {
        return [] { return Cell{kTypeWord, 0, words::symbol.not_, word::kUnresolved}; };
    }
    static Item dash() {
        return [] { return Cell{kTypeWord, 0, words::symbol.dash, word::kUnresolved}; };
    }
    static Item text(std::u32string t, uint32_t unit = 1) {
        return [=] { return text_value(t, unit); };
    }
    static Item bin(std::initializer_list<uint8_t> bytes) {
        Spec spec = binary_spec(bytes);
        return [=] { return spec.make(); };
    }
    static Item blk(std::vector<Item> items) {
        return [=] { return block(items); };
    }
    static Item none_item() {
        return [] { return Cell{kTypeNone, 0, 0, 0}; };
    }
    static Item stacked(const Cell* c) {
        return [=] { return *c; };
    }

    // A block of the items, each made once the block exists and written straight in.
    static Cell block(const std::vector<Item>& items) {
        const auto n = static_cast<uint32_t>(items.size());
        GcRoot root(memory::alloc_cells(n ? n : 1));
        memory::Buffer* b = memory::buffer(root.node());
        for (uint32_t i = 0; i < n; ++i) b->cells()[i] = Cell{kTypeUnset, 0, 0, 0};
        b->tail = b->head + n * 16;
        for (uint32_t i = 0; i < n; ++i) {
            const Cell c = items[i]();
            memory::buffer(root.node())->cells()[i] = c;
        }
        return Cell{kTypeBlock, 0, root.node(), 0};
    }

    // make (or to) bitset! from the spec; the result stays on the data stack.
    static Cell* make(const Item& spec, bool to = false) {
        Cell* s = stack::push(spec());
        Cell proto{kTypeDatatype, kTypeBitset, 0, 0};
        return to ? bitset::to(&proto, s, kTypeBitset) : bitset::make(&proto, s, kTypeBitset);
    }
    static bool raises_making(uint32_t category, uint32_t id, const Item& spec, bool to = false) {
        return raises(category, id, [&] { make(spec, to); });
    }

    static std::vector<uint8_t> bytes(const Cell* bs) {
        memory::Buffer* b = memory::buffer(bs->w2);
        return std::vector<uint8_t>(b->at_head(), b->at_tail());
    }
    static bool complemented(const Cell* bs) {
        return (memory::buffer(bs->w2)->flags & bitset::kFlagComplement) != 0;
    }

    // The molded text, and the budget left of 1000.
    static std::pair<std::string, int32_t> mold_of(const Cell* bs, Cell* part = nullptr,
                                                   int32_t limit = 1000) {
        Cell* s = string::make_at(stack::push_cell(), 16);
        Cell* v = stack::push(*bs);
        const int32_t left = bitset::mold(v, s, {.part = part}, limit, 0);
        memory::Buffer* b = memory::buffer(s->w2);
        return {std::string(reinterpret_cast<char*>(b->at_head()), b->length()), left};
    }
    static std::string hex(const Cell* bs) { return mold_of(bs).first; }

    static bool pick(Cell* bs, const Item& element) {
        Cell* e = stack::push(element());
        Cell* r = bitset::pick(bs, 0, e);
        EXPECT_TRUE(r == &logic::true_value || r == &logic::false_value);
        return r == &logic::true_value;
    }
    static bool found(Cell* bs, const Item& element) {
        Cell* e = stack::push(element());
        Cell* r = bitset::find(bs, e, {});
        EXPECT_TRUE(r == &logic::true_value || r == &none::value);
        return r == &logic::true_value;
    }
    static Cell* append(Cell* bs, const Item& value) {
        Cell* v = stack::push(value());
        return bitset::insert(bs, v, {});
    }
    static Cell* poke(Cell* bs, const Item& element, const Item& value) {
        Cell* e = stack::push(element());
        Cell* v = stack::push(value());
        return bitset::poke(bs, 0, v, e);
    }
    static Cell* remove_key(Cell* bs, const Item& key) {
        Cell* k = stack::push(key());
        return bitset::remove(bs, nullptr, k);
    }

    // Runs a bitwise operation in a frame of its own above the cells already on the stack;
    // the result stays there.
    static Cell* bitwise(int32_t op, const Cell* a, const Item& b) {
        Cell* saved = stack::arguments;
        stack::arguments = stack::top;
        stack::push(*a);
        stack::push(b());
        bitset::do_bitwise(op);
        Cell* result = stack::arguments;
        stack::top = result + 1;
        stack::arguments = saved;
        return result;
    }
};

constexpr const char* kA = "make bitset! #{00000000000000000000000040}";

TEST_F(Bitset, MakeFromText) {
    Cell* bs = make(text(U"a"));
    // Bit 97 is in byte 12.
    EXPECT_EQ(bytes(bs).size(), 13u);
    EXPECT_EQ(bitset::length_q(bs), 104);
    EXPECT_FALSE(complemented(bs));
    EXPECT_EQ(mold_of(bs), std::make_pair(std::string(kA), 1000 - 42));
    EXPECT_TRUE(pick(bs, ch('a')));
    EXPECT_FALSE(pick(bs, ch('b')));
    EXPECT_FALSE(pick(bs, ch('A')));

    // Wider text: a 2-byte and a 4-byte string.
    Cell* wide = make(text(U"\u0100", 2));
    EXPECT_EQ(bytes(wide).size(), 33u);
    EXPECT_EQ(bytes(wide)[32], 0x80);
    Cell* widest = make(text(U"a\U0001F600", 4));
    EXPECT_EQ(bitset::length_q(widest), 128520);
    EXPECT_TRUE(pick(widest, ch(0x1F600)));
    EXPECT_TRUE(pick(widest, ch('a')));
}

TEST_F(Bitset, MakeFromBlocksAndRanges) {
    struct Case {
        const char* what;
        Item spec;
        std::string mold;
    } cases[] = {
        {"[#\"a\" - #\"c\"]", blk({ch('a'), dash(), ch('c')}),
         "make bitset! #{00000000000000000000000070}"},
        {"[#\"a\" - #\"a\"]", blk({ch('a'), dash(), ch('a')}), kA},
        {"[0 - 9]", blk({num(0), dash(), num(9)}), "make bitset! #{FFC0}"},
        {"[1 2 3]", blk({num(1), num(2), num(3)}), "make bitset! #{70}"},
        {"[7.9]", blk({flt(7.9)}), "make bitset! #{01}"},
        {"[\"a\" [#\"b\"]]", blk({text(U"a"), blk({ch('b')})}),
         "make bitset! #{00000000000000000000000060}"},
        {"[]", blk({}), "make bitset! #{00}"},
        {"\"\"", text(U""), "make bitset! #{00}"},
        {"#\"^@\"", ch(0), "make bitset! #{80}"},
        {"8", num(8), "make bitset! #{00}"},
        {"9", num(9), "make bitset! #{0000}"},
        {"0", num(0), "make bitset! #{}"},
        {"8.5", flt(8.5), "make bitset! #{00}"},
        {"#{0102}", bin({1, 2}), "make bitset! #{0102}"},
        {"[not #{0102}]", blk({not_word(), bin({1, 2})}), "make bitset! [not #{0102}]"},
        {"[not \"a\"]", blk({not_word(), text(U"a")}),
         "make bitset! [not #{00000000000000000000000040}]"},
        {"[not]", blk({not_word()}), "make bitset! [not #{00}]"},
    };
    for (const Case& c : cases) EXPECT_EQ(hex(make(c.spec)), c.mold) << c.what;

    // make bitset! 9: two bytes, all stored, none set.
    Cell* nine = make(num(9));
    EXPECT_EQ(bitset::length_q(nine), 16);
    EXPECT_EQ(bytes(nine), (std::vector<uint8_t>{0, 0}));
}

TEST_F(Bitset, MakeFailures) {
    struct Case {
        const char* what;
        Item spec;
        uint32_t category, id;
        bool to;
    } cases[] = {
        {"[#\"c\" - #\"a\"]", blk({ch('c'), dash(), ch('a')}), error::kScript,
         error::script::past_end, false},
        {"[#\"a\" -]", blk({ch('a'), dash()}), error::kScript, error::script::past_end, false},
        {"[#\"a\" - 99]", blk({ch('a'), dash(), num(99)}), error::kScript,
         error::script::invalid_arg, false},
        {"[-5 - 3]", blk({num(-5), dash(), num(3)}), error::kScript, error::script::out_of_range,
         false},
        {"[-1]", blk({num(-1)}), error::kScript, error::script::out_of_range, false},
        {"-1", num(-1), error::kScript, error::script::out_of_range, false},
        {"-1.0", flt(-1.0), error::kScript, error::script::out_of_range, false},
        {"[1e10]", blk({flt(1e10)}), error::kScript, error::script::out_of_range, false},
        {"none", none_item(), error::kScript, error::script::bad_make_arg, false},
        {"[foo]", blk({word("foo")}), error::kScript, error::script::bad_make_arg, false},
        {"[- #\"a\"]", blk({dash(), ch('a')}), error::kScript, error::script::bad_make_arg, false},
        {"[\"a\" none]", blk({text(U"a"), none_item()}), error::kScript,
         error::script::bad_make_arg, false},
        {"[#{01}]", blk({bin({1})}), error::kInternal, error::internal::not_done, false},
        {"to none", none_item(), error::kScript, error::script::bad_to_arg, true},
        {"to 9", num(9), error::kScript, error::script::bad_to_arg, true},
        {"to [foo]", blk({word("foo")}), error::kScript, error::script::bad_to_arg, true},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(raises_making(c.category, c.id, c.spec, c.to)) << c.what;
        // A failed make leaves no half-made bitset behind.
        EXPECT_NE(cell::type(stack::top_value()), kTypeBitset) << c.what;
    }
    // invalid-arg names the range's high end; bad-make-arg names bitset! and the spec.
    raises_making(error::kScript, error::script::invalid_arg, blk({ch('a'), dash(), num(99)}));
    ASSERT_EQ(error::last_raised.argc, 1u);
    EXPECT_EQ(error::last_raised.args[0].header, uint32_t{kTypeInteger});
    EXPECT_EQ(error::last_raised.args[0].w2, 99u);
    raises_making(error::kScript, error::script::bad_make_arg, none_item());
    ASSERT_EQ(error::last_raised.argc, 2u);
    EXPECT_EQ(error::last_raised.args[0].w1, uint32_t{kTypeBitset});
    EXPECT_EQ(cell::type(&error::last_raised.args[1]), kTypeNone);
}

TEST_F(Bitset, ASelfContainingSpecIsAnErrorNotACrash) {
    GcRoot root(memory::alloc_cells(1));
    memory::Buffer* b = memory::buffer(root.node());
    b->cells()[0] = block_of(root.node());
    b->tail = b->head + 16;
    Cell* spec = stack::push(block_of(root.node()));
    Cell proto{};
    EXPECT_TRUE(raises(error::kInternal, error::internal::too_deep,
                       [&] { bitset::make(&proto, spec, kTypeBitset); }));
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(Bitset, WithoutTheWordTablesNoWordMatches) {
    words::symbol.not_ = words::symbol.dash = 0;
    EXPECT_TRUE(raises_making(error::kScript, error::script::bad_make_arg,
                              blk({ch('a'), word("-"), ch('c')})));
    EXPECT_TRUE(
        raises_making(error::kScript, error::script::bad_make_arg, blk({word("not"), text(U"a")})));
}

TEST_F(Bitset, NotMakesTheComplement) {
    Cell* bs = make(blk({not_word(), text(U"ab")}));
    EXPECT_TRUE(complemented(bs));
    std::vector<uint8_t> expected(13, 0xFF);
    expected[12] = 0x9F; // all ones but the bits of a and b
    EXPECT_EQ(bytes(bs), expected);
    EXPECT_FALSE(pick(bs, ch('a')));
    EXPECT_FALSE(pick(bs, ch('b')));
    EXPECT_TRUE(pick(bs, ch('c')));
    EXPECT_TRUE(pick(bs, ch('z'))); // beyond the stored bytes
    EXPECT_TRUE(pick(bs, num(1000000)));
    EXPECT_FALSE(pick(bs, text(U"ab")));
    EXPECT_FALSE(pick(bs, text(U"za")));
    EXPECT_TRUE(pick(bs, text(U"cz")));
    EXPECT_EQ(hex(make(blk({not_word(), text(U"a")}))),
              "make bitset! [not #{00000000000000000000000040}]");
}

TEST_F(Bitset, PickAndFind) {
    Cell* bs = make(blk({ch('a'), ch('b'), num(200)}));
    // Beyond the stored bytes, and negative positions, are absent.
    EXPECT_FALSE(pick(bs, num(201)));
    EXPECT_FALSE(pick(bs, num(100000)));
    EXPECT_FALSE(pick(bs, num(-1)));
    EXPECT_FALSE(pick(bs, flt(-3.5)));
    EXPECT_TRUE(pick(bs, flt(200.9)));
    EXPECT_FALSE(pick(bs, flt(1e300)));
    EXPECT_TRUE(pick(bs, num(200)));
    // Without an element the index is the position.
    EXPECT_TRUE(bitset::pick(bs, 97, nullptr) == &logic::true_value);
    EXPECT_TRUE(bitset::pick(bs, 99, nullptr) == &logic::false_value);

    struct Case {
        const char* what;
        Item element;
        bool found;
    } cases[] = {
        {"[#\"a\" #\"b\"]", blk({ch('a'), ch('b')}), true},
        {"[#\"a\" #\"c\"]", blk({ch('a'), ch('c')}), false},
        {"[#\"a\" - #\"b\"]", blk({ch('a'), dash(), ch('b')}), true},
        {"[#\"a\" - #\"c\"]", blk({ch('a'), dash(), ch('c')}), false},
        {"[#\"a\" - 5000] beyond", blk({ch('a'), dash(), ch(5000)}), false},
        {"[-5 - 3]", blk({num(-5), dash(), num(3)}), false},
        {"\"ab\"", text(U"ab"), true},
        {"\"abc\"", text(U"abc"), false},
        {"\"\"", text(U""), true},
        {"[]", blk({}), true},
        {"[\"ab\" [200]]", blk({text(U"ab"), blk({num(200)})}), true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(found(bs, c.element), c.found) << c.what;
        EXPECT_EQ(pick(bs, c.element), c.found) << c.what;
    }
    // Elements of a type the walkers do not take.
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_arg, [&] { pick(bs, none_item()); }));
}

TEST_F(Bitset, LongRanges) {
    Cell* bs = make(blk({num(0), dash(), num(100000)}));
    const std::vector<uint8_t> b = bytes(bs);
    ASSERT_EQ(b.size(), 12501u);
    EXPECT_TRUE(std::all_of(b.begin(), b.end() - 1, [](uint8_t x) { return x == 0xFF; }));
    EXPECT_EQ(b.back(), 0x80);
    remove_key(bs, blk({num(10), dash(), num(20)}));
    EXPECT_EQ(bytes(bs)[1], 0xC0);
    EXPECT_EQ(bytes(bs)[2], 0x07);
    EXPECT_TRUE(pick(bs, num(9)));
    EXPECT_FALSE(pick(bs, num(10)));
    EXPECT_FALSE(pick(bs, num(20)));
    EXPECT_TRUE(pick(bs, num(21)));
    EXPECT_FALSE(found(bs, blk({num(5), dash(), num(99999)})));
    EXPECT_TRUE(found(bs, blk({num(21), dash(), num(100000)})));
}

TEST_F(Bitset, AppendInsertAndPoke) {
    Cell* bs = make(text(U"a"));
    EXPECT_EQ(append(bs, ch('z')), bs);
    EXPECT_EQ(bitset::length_q(bs), 128);
    EXPECT_TRUE(pick(bs, ch('z')));
    append(bs, blk({ch('0'), dash(), ch('9')}));
    EXPECT_TRUE(found(bs, text(U"0123456789az")));
    EXPECT_EQ(datatype::function<action::slot::append>(kTypeBitset), bitset::insert);
    EXPECT_EQ(datatype::function<action::slot::insert>(kTypeBitset), bitset::insert);
    EXPECT_TRUE(
        raises(error::kScript, error::script::invalid_arg, [&] { append(bs, none_item()); }));
    EXPECT_TRUE(raises(error::kScript, error::script::out_of_range, [&] { append(bs, num(-1)); }));

    // poke: none, false, 0 and 0.0 remove the element, anything else adds it.
    struct Case {
        Item value;
        bool present;
    } cases[] = {
        {[] { return logic::true_value; }, true},
        {none_item(), false},
        {num(7), true},
        {[] { return logic::false_value; }, false},
        {flt(0.5), true},
        {num(0), false},
        {text(U""), true},
        {flt(-0.0), false},
    };
    for (const Case& c : cases) {
        Cell* given = stack::push(c.value());
        Cell* e = stack::push(ch(300)());
        EXPECT_EQ(bitset::poke(bs, 0, given, e), given);
        EXPECT_EQ(pick(bs, ch(300)), c.present);
    }
    EXPECT_EQ(bitset::length_q(bs), 304);
    EXPECT_TRUE(pick(bs, ch('a')));
    EXPECT_TRUE(raises(error::kScript, error::script::out_of_range,
                       [&] { poke(bs, num(-1), [] { return logic::true_value; }); }));
    EXPECT_TRUE(raises(error::kScript, error::script::out_of_range,
                       [&] { poke(bs, num(-1), none_item()); }));

    // In a complemented bitset, a member beyond the stored bytes is there already.
    Cell* not_a = make(blk({not_word(), text(U"a")}));
    append(not_a, ch('z'));
    EXPECT_EQ(bitset::length_q(not_a), 104);
    append(not_a, ch('a'));
    EXPECT_TRUE(pick(not_a, ch('a')));
    // Absent beyond the stored bytes: the array grows and keeps every other member.
    poke(not_a, ch('z'), none_item());
    EXPECT_EQ(bitset::length_q(not_a), 128);
    EXPECT_FALSE(pick(not_a, ch('z')));
    EXPECT_TRUE(pick(not_a, ch('y')));
    EXPECT_TRUE(pick(not_a, ch('{')));
    EXPECT_TRUE(pick(not_a, ch('b')));
}

TEST_F(Bitset, RemoveAndClear) {
    Cell* bs = make(text(U"abc"));
    EXPECT_EQ(remove_key(bs, ch('a')), bs);
    EXPECT_FALSE(pick(bs, ch('a')));
    EXPECT_TRUE(pick(bs, ch('b')));
    remove_key(bs, ch('z')); // beyond: already absent, nothing grows
    EXPECT_EQ(bitset::length_q(bs), 104);
    EXPECT_TRUE(raises(error::kScript, error::script::missing_arg,
                       [&] { bitset::remove(bs, nullptr, nullptr); }));

    // In a complemented bitset remove takes the member out as well, never adds one: the
    // stored bits are the members there too.
    Cell* not_a = make(blk({not_word(), text(U"a")}));
    remove_key(not_a, ch('b'));
    EXPECT_FALSE(pick(not_a, ch('b')));
    EXPECT_TRUE(pick(not_a, ch('c')));
    remove_key(not_a, ch('a'));
    EXPECT_FALSE(pick(not_a, ch('a')));
    // One beyond the stored bytes: they grow, and the others stay members.
    remove_key(not_a, blk({ch('y'), dash(), ch('z')}));
    EXPECT_EQ(bitset::length_q(not_a), 128);
    EXPECT_FALSE(pick(not_a, ch('y')));
    EXPECT_FALSE(pick(not_a, ch('z')));
    EXPECT_TRUE(pick(not_a, ch('x')));
    EXPECT_TRUE(pick(not_a, ch('{')));

    // clear leaves no member: the bytes stay stored, the complement goes.
    EXPECT_EQ(bitset::clear(bs), bs);
    EXPECT_EQ(bytes(bs), std::vector<uint8_t>(13, 0x00));
    EXPECT_EQ(bitset::clear(not_a), not_a);
    EXPECT_FALSE(complemented(not_a));
    EXPECT_EQ(bytes(not_a), std::vector<uint8_t>(16, 0x00));
    EXPECT_FALSE(pick(not_a, ch('c')));
    EXPECT_FALSE(pick(not_a, ch(1000)));
    EXPECT_EQ(hex(not_a), "make bitset! #{00000000000000000000000000000000}");
}

TEST_F(Bitset, BitwiseLengths) {
    Cell* two = make(bin({0xF0, 0xF0}));
    Cell* four = make(bin({0xFF, 0x00, 0xFF, 0x00}));
    struct Case {
        const char* what;
        int32_t op;
        const Cell* a;
        const Cell* b;
        std::vector<uint8_t> expected;
    } cases[] = {
        {"and~", 6, two, four, {0xF0, 0x00}},
        {"and~ longer first", 6, four, two, {0xF0, 0x00}},
        {"or~", 5, two, four, {0xFF, 0xF0, 0xFF, 0x00}},
        {"xor~", 7, two, four, {0x0F, 0xF0, 0xFF, 0x00}},
        {"union", 9, two, four, {0xFF, 0xF0, 0xFF, 0x00}},
        {"intersect", 10, two, four, {0xF0, 0x00, 0x00, 0x00}},
        {"exclude shorter first", 11, two, four, {0x00, 0xF0, 0x00, 0x00}},
        {"exclude longer first", 11, four, two, {0x0F, 0x00, 0xFF, 0x00}},
        {"difference", 12, two, four, {0x0F, 0xF0, 0xFF, 0x00}},
    };
    for (const Case& c : cases) {
        Cell* r = bitwise(c.op, c.a, stacked(c.b));
        EXPECT_EQ(cell::type(r), kTypeBitset) << c.what;
        EXPECT_EQ(bytes(r), c.expected) << c.what;
        EXPECT_FALSE(complemented(r)) << c.what;
    }
    // The operands are left as they were.
    EXPECT_EQ(bytes(two), (std::vector<uint8_t>{0xF0, 0xF0}));
    EXPECT_EQ(bytes(four), (std::vector<uint8_t>{0xFF, 0x00, 0xFF, 0x00}));
    // unique answers the first value itself.
    Cell* u = bitwise(8, two, stacked(four));
    EXPECT_EQ(u->w2, two->w2);
    EXPECT_TRUE(
        raises(error::kScript, error::script::invalid_type, [&] { bitwise(6, two, num(1)); }));
    // The action slots run the same worker.
    stack::arguments = stack::top;
    stack::push(*two);
    stack::push(*four);
    bitset::or_();
    EXPECT_EQ(bytes(stack::arguments).size(), 4u);
}

TEST_F(Bitset, ComplementFlagThroughTheOperations) {
    Cell* normal = make(bin({0xF0, 0xF0}));
    Cell* negated = make(blk({not_word(), bin({0xFF, 0x00, 0xFF, 0x00})}));
    ASSERT_TRUE(complemented(negated));
    for (int32_t op : {5, 6, 7, 9, 10, 11, 12}) {
        EXPECT_TRUE(complemented(bitwise(op, normal, stacked(negated)))) << op;
        EXPECT_TRUE(complemented(bitwise(op, negated, stacked(normal)))) << op;
        EXPECT_FALSE(complemented(bitwise(op, negated, stacked(negated)))) << op;
        EXPECT_FALSE(complemented(bitwise(op, normal, stacked(normal)))) << op;
    }
    // and~ stores the shorter length; a later growth of the complemented result keeps the
    // positions beyond it members.
    Cell* r = bitwise(6, negated, stacked(normal));
    ASSERT_EQ(bytes(r).size(), 2u);
    EXPECT_TRUE(pick(r, num(21)));
    poke(r, num(20), none_item());
    EXPECT_EQ(bytes(r).size(), 3u);
    EXPECT_FALSE(pick(r, num(20)));
    EXPECT_TRUE(pick(r, num(21)));
    EXPECT_TRUE(pick(r, num(16)));
    EXPECT_TRUE(pick(r, num(23)));
}

TEST_F(Bitset, ComplementAndNegate) {
    Cell* a = make(text(U"a"));
    Cell* c = bitset::complement(a);
    EXPECT_NE(c->w2, a->w2);
    EXPECT_TRUE(complemented(c));
    EXPECT_FALSE(complemented(a));
    EXPECT_EQ(hex(c), "make bitset! [not #{00000000000000000000000040}]");
    EXPECT_EQ(hex(a), kA);
    EXPECT_FALSE(pick(c, ch('a')));
    EXPECT_TRUE(pick(c, ch('b')));
    EXPECT_TRUE(pick(c, ch('z')));
    // Twice is the original set again.
    Cell* back = bitset::complement(c);
    EXPECT_FALSE(complemented(back));
    EXPECT_EQ(hex(back), kA);
    EXPECT_FALSE(pick(back, ch('z')));

    // negate writes the complement over the frame's value.
    stack::arguments = stack::top;
    stack::push(*a);
    bitset::negate();
    EXPECT_EQ(cell::type(stack::arguments), kTypeBitset);
    EXPECT_NE(stack::arguments->w2, a->w2);
    EXPECT_EQ(hex(stack::arguments), "make bitset! [not #{00000000000000000000000040}]");
}

TEST_F(Bitset, Copy) {
    Cell* a = make(blk({not_word(), text(U"a")}));
    Cell* copy = stack::push(Cell{});
    EXPECT_EQ(bitset::copy(a, copy, {}), copy);
    EXPECT_EQ(cell::type(copy), kTypeBitset);
    EXPECT_NE(copy->w2, a->w2);
    EXPECT_TRUE(complemented(copy));
    EXPECT_EQ(bytes(copy), bytes(a));
    remove_key(copy, ch('b'));
    EXPECT_TRUE(pick(a, ch('b')));
    // The copy of an owned series belongs to nobody.
    memory::buffer(a->w2)->flags |= memory::kFlagOwned;
    bitset::copy(a, a, {}); // in place
    EXPECT_EQ(memory::buffer(a->w2)->flags & memory::kFlagOwned, 0u);
    // make and to from a bitset copy it too.
    Cell* made = make(stacked(copy));
    EXPECT_NE(made->w2, copy->w2);
    EXPECT_EQ(hex(made), hex(copy));
    EXPECT_EQ(hex(make(stacked(copy), true)), hex(copy));
}

TEST_F(Bitset, Compare) {
    Cell* a = make(bin({0x01, 0x00}));
    Cell* b = make(bin({0x00, 0x01}));
    Cell* c = make(bin({0x02, 0x01}));
    Cell* b2 = make(bin({0x00, 0x01}));
    Cell* short_ = make(bin({0xFF}));
    Cell* not_b = make(blk({not_word(), bin({0x00, 0x01})}));
    Cell* empty = make(num(0));
    Cell* not_empty = make(blk({not_word(), bin({})}));
    Cell i = int_value(1);
    struct Case {
        const char* what;
        Cell* x;
        Cell* y;
        int32_t op;
        int32_t expected;
    } cases[] = {
        {"equal", b, b2, action::op::equal, 0},
        {"same series", b, b, action::op::same, 0},
        {"equal but another series", b, b2, action::op::same, 1},
        {"fewer bytes", short_, a, action::op::lesser, -1},
        {"more bytes", a, short_, action::op::greater, 1},
        {"the last byte decides", a, b, action::op::lesser, -1},
        {"then the first", c, b, action::op::greater, 1},
        {"normal before complemented", b, not_b, action::op::lesser, -1},
        {"complemented after normal", not_b, b, action::op::greater, 1},
        {"both empty", empty, not_empty, action::op::equal, 0},
        {"not a bitset", a, &i, action::op::equal, action::kNotComparable},
    };
    for (const Case& k : cases) EXPECT_EQ(bitset::compare(k.x, k.y, k.op), k.expected) << k.what;
}

TEST_F(Bitset, FormStopsAtThePartLimit) {
    Cell* a = make(text(U"a"));
    EXPECT_EQ(mold_of(a).first, kA);
    Cell* part = integer::push(20);
    // 13 for "make bitset! ", 2 for "#{", 2 per byte: the limit is used up after three bytes.
    EXPECT_EQ(mold_of(a, part, 20), std::make_pair(std::string("make bitset! #{000000"), -1));
    EXPECT_EQ(mold_of(a, part, 15), std::make_pair(std::string("make bitset! #{"), 0));
    // A limit left after the last byte closes the text.
    Cell* small = make(bin({0xAB}));
    EXPECT_EQ(mold_of(small, part, 18), std::make_pair(std::string("make bitset! #{AB}"), 0));
    Cell* not_a = make(blk({not_word(), text(U"a")}));
    EXPECT_EQ(mold_of(not_a, part, 24), std::make_pair(std::string("make bitset! [not #{0000"), 0));
    // Form is the same text.
    Cell* s = string::make_at(stack::push_cell(), 16);
    EXPECT_EQ(bitset::form(small, s, nullptr, 100), 82);
    EXPECT_EQ(string::length_from_head(s), 18u);
}

TEST_F(Bitset, PathAccess) {
    Cell* bs = make(text(U"a"));
    Cell* a = stack::push(ch('a')());
    Cell* b = stack::push(num(98)());
    EXPECT_EQ(bitset::eval_path(bs, a, nullptr, {}), &logic::true_value);
    EXPECT_EQ(bitset::eval_path(bs, b, nullptr, {}), &logic::false_value);
    Cell* yes = stack::push(logic::true_value);
    EXPECT_EQ(bitset::eval_path(bs, b, yes, {}), yes);
    EXPECT_TRUE(pick(bs, ch('b')));
    Cell* text_element = stack::push(text(U"a")());
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_type,
                       [&] { bitset::eval_path(bs, text_element, nullptr, {}); }));
    EXPECT_EQ(error::last_raised.args[0].w1, uint32_t{kTypeString});
}

// --- Ownership ------------------------------------------------------------------------------

// A bitset held by an object with an on-deep-change* handler tells it of every in-place
// change, before and after.
class BitsetOwnership : public Bitset {
protected:
    struct Report {
        ownership::Action action;
        int32_t part;
        uint32_t owner_context;
        uint32_t word_symbol;
        uint32_t target_node;
    };

    void SetUp() override {
        Bitset::SetUp();
        hashtable::register_markers();
        ownership::init();
        ownership::set_fire_hook(fire);
        // object! comes later; this stand-in marks what the tests build: the context and the
        // change record.
        collector::set_type_marker(kTypeObject, [](Cell& c) {
            collector::mark_node_cells(c.w1);
            if (c.w3) collector::mark_node_cells(c.w3);
        });
        // The reports keep node ids: they follow the nodes that collections move.
        collector::add_marker([] {
            for (Report& r : reports()) {
                collector::mark_series(r.owner_context);
                collector::mark_series(r.target_node);
            }
        });
        reports().clear();
        handler() = nullptr;
    }
    void TearDown() override {
        ownership::set_fire_hook(nullptr);
        Bitset::TearDown();
    }

    static std::vector<Report>& reports() {
        static std::vector<Report> r;
        return r;
    }
    // Runs inside the fire hook once the report is recorded.
    static void (*&handler())(const Cell* target, ownership::Action action) {
        static void (*h)(const Cell*, ownership::Action) = nullptr;
        return h;
    }
    static void fire(const Cell* owner, const Cell* word, const Cell* target,
                     ownership::Action action, const Cell*, int32_t, int32_t part) {
        reports().push_back({action, part, owner->w1, word->w2, target->w2});
        if (handler()) handler()(target, action);
    }

    // An object! with an object context of its own and, with `record`, a change record.
    // Pushed on the data stack. May collect.
    static Cell* object(bool record) {
        Cell* o = stack::push(Cell{kTypeUnset, 0, 0, 0});
        Cell* change_record = stack::push(Cell{kTypeUnset, 0, 0, 0});
        if (record) *change_record = block_of(memory::alloc_cells(1));
        const uint32_t ctx = context::create(1, false, true, nullptr, context::kObject);
        *o = Cell{kTypeObject, ctx, 0, change_record->w2}; // read after creating may collect
        *context::owner_of(o->w1) = *o;
        return o;
    }
    // A bitset of "a" owned by `owner` through its field f.
    static Cell* owned_bitset(const Cell* owner) {
        Cell* bs = make(text(U"a"));
        Cell* field = stack::push(word("f")());
        ownership::set_value(bs, owner, field);
        return bs;
    }
    static Cell* owned_word() {
        return stack::push(Cell{kTypeWord, 0, words::symbol.owned, word::kUnresolved});
    }
};

TEST_F(BitsetOwnership, ReflectAndModifyOwned) {
    Cell* bs = make(text(U"a"));
    const auto owned = static_cast<int32_t>(words::symbol.owned);
    EXPECT_EQ(cell::type(bitset::reflect(stack::push(*bs), owned)), kTypeNone);
    EXPECT_TRUE(raises(error::kInternal, error::internal::not_done, [&] {
        bitset::reflect(stack::push(*bs), static_cast<int32_t>(symbol::make("other")));
    }));

    // [owner field-word] gives the bitset to the owner, which becomes an owner of series.
    Cell* o = object(true);
    Cell* spec = stack::push(block({stacked(o), word("f")}));
    EXPECT_EQ(bitset::modify(bs, owned_word(), spec, {}), spec);
    EXPECT_EQ(ownership::entry_count(), 1u);
    EXPECT_TRUE(context::cell_of(o->w1)->header & ownership::kOwnerFlag);
    Cell* r = bitset::reflect(stack::push(*bs), owned);
    EXPECT_EQ(cell::type(r), kTypeObject);
    EXPECT_EQ(r->w1, o->w1);
    // Copies belong to nobody.
    Cell* copied = bitset::copy(bs, stack::push_cell(), {});
    EXPECT_EQ(cell::type(bitset::reflect(stack::push(*copied), owned)), kTypeNone);

    // Another field is ignored; none takes the bitset back.
    Cell* none = stack::push(Cell{kTypeNone, 0, 0, 0});
    bitset::modify(bs, stack::push(word("other")()), none, {});
    EXPECT_EQ(ownership::entry_count(), 1u);
    EXPECT_EQ(bitset::modify(bs, owned_word(), none, {}), none);
    EXPECT_EQ(ownership::entry_count(), 0u);
    EXPECT_EQ(cell::type(bitset::reflect(stack::push(*bs), owned)), kTypeNone);
}

TEST_F(BitsetOwnership, ChangesReportBeforeAndAfter) {
    using ownership::Action;
    struct Case {
        const char* name;
        void (*run)(Cell* bs);
        Action before;
        Action after;
        int32_t part_after;
        const char* result;
    } cases[] = {
        {"append", [](Cell* bs) { append(bs, ch('b')); }, Action::insert, Action::inserted, 13,
         "make bitset! #{00000000000000000000000060}"},
        {"insert", [](Cell* bs) { bitset::insert(bs, stack::push(num(200)()), {}); },
         Action::insert, Action::inserted, 26,
         "make bitset! #{0000000000000000000000004000000000000000000000000080}"},
        {"poke", [](Cell* bs) { poke(bs, ch('a'), none_item()); }, Action::poke, Action::poked, 1,
         "make bitset! #{00000000000000000000000000}"},
        {"remove", [](Cell* bs) { remove_key(bs, ch('a')); }, Action::remove, Action::removed, 0,
         "make bitset! #{00000000000000000000000000}"},
        {"clear", [](Cell* bs) { bitset::clear(bs); }, Action::clear, Action::cleared, 0,
         "make bitset! #{00000000000000000000000000}"},
    };
    for (const Case& c : cases) {
        reports().clear();
        Cell* o = object(true);
        Cell* bs = owned_bitset(o);
        c.run(bs);
        ASSERT_EQ(reports().size(), 2u) << c.name;
        EXPECT_EQ(reports()[0].action, c.before) << c.name;
        EXPECT_EQ(reports()[1].action, c.after) << c.name;
        EXPECT_EQ(reports()[1].part, c.part_after) << c.name;
        for (const Report& r : reports()) {
            EXPECT_EQ(r.owner_context, o->w1) << c.name;
            EXPECT_EQ(r.word_symbol, symbol::make("f")) << c.name;
            EXPECT_EQ(r.target_node, bs->w2) << c.name;
        }
        EXPECT_EQ(hex(bs), c.result) << c.name;
    }

    // Nothing is reported for a bitset nobody owns, nor to an owner without a change record.
    reports().clear();
    append(make(text(U"a")), ch('b'));
    Cell* quiet = owned_bitset(object(false));
    append(quiet, ch('b'));
    bitset::clear(quiet);
    EXPECT_TRUE(reports().empty());
}

// The owner's handler runs user code before the change: here it moves the bitset's bytes to a
// larger buffer each time. Each action works on the bytes as they are afterwards.
TEST_F(BitsetOwnership, AHandlerThatGrowsTheBitsetLeavesTheActionsSound) {
    handler() = [](const Cell* target, ownership::Action action) {
        using ownership::Action;
        if (action == Action::insert || action == Action::poke || action == Action::remove ||
            action == Action::clear)
            bitset::grow_to_bit(target, memory::buffer(target->w2)->length() * 8 + 8000);
    };
    Cell* bs = owned_bitset(object(true));
    append(bs, ch('b'));
    EXPECT_EQ(bitset::length_q(bs), 8112);
    EXPECT_TRUE(pick(bs, ch('a')));
    EXPECT_TRUE(pick(bs, ch('b')));
    poke(bs, num(8111), [] { return logic::true_value; });
    EXPECT_EQ(bitset::length_q(bs), 16120);
    EXPECT_TRUE(pick(bs, num(8111)));
    remove_key(bs, ch('a'));
    EXPECT_EQ(bitset::length_q(bs), 24128);
    EXPECT_FALSE(pick(bs, ch('a')));
    EXPECT_TRUE(pick(bs, ch('b')));
    EXPECT_TRUE(pick(bs, num(8111)));
    bitset::clear(bs);
    EXPECT_EQ(bytes(bs), std::vector<uint8_t>(4017, 0x00));
    EXPECT_EQ(reports().size(), 8u);
}

TEST_F(Bitset, RegisteredSlots) {
    namespace slot = action::slot;
    const std::vector<action::Slot> own{
        slot::make,    slot::reflect, slot::to,     slot::form,       slot::mold,   slot::eval_path,
        slot::compare, slot::negate,  slot::and_,   slot::complement, slot::or_,    slot::xor_,
        slot::append,  slot::clear,   slot::copy,   slot::find,       slot::insert, slot::length_q,
        slot::pick,    slot::poke,    slot::remove, slot::modify};
    for (uint32_t s = 1; s <= action::kSlotCount; ++s) {
        const bool expected =
            std::find(own.begin(), own.end(), static_cast<action::Slot>(s)) != own.end();
        EXPECT_EQ(datatype::entry(kTypeBitset, static_cast<action::Slot>(s)) != nullptr, expected)
            << s;
    }
    EXPECT_STREQ(datatype::name_record(kTypeBitset).name, "bitset!");
}

TEST_F(Bitset, TheArrayHelpers) {
    Cell* bs = make(num(16));
    EXPECT_FALSE(bitset::out_of_range(bs, 15));
    EXPECT_TRUE(bitset::out_of_range(bs, 16));
    EXPECT_TRUE(bitset::out_of_range(bs, -1));
    // Growing by one byte moves the tail; a far bit enlarges the buffer.
    bitset::grow_to_bit(bs, 16);
    EXPECT_EQ(bytes(bs).size(), 3u);
    bitset::grow_to_bit(bs, 8000);
    EXPECT_EQ(bytes(bs), std::vector<uint8_t>(1001, 0x00));
    EXPECT_EQ(bitset::bits(bs), memory::buffer(bs->w2)->at_head());
    Cell* negated = make(blk({not_word(), num(3)}));
    bitset::grow_to_bit(negated, 8000);
    std::vector<uint8_t> expected(1001, 0xFF);
    expected[0] = 0xEF;
    EXPECT_EQ(bytes(negated), expected);
    // bitset::push shares the series.
    EXPECT_EQ(bitset::push(negated)->w2, negated->w2);
}

// In a child process: the runtime initialisation registers char!, bitset! and triple! in
// their places, char! after integer! whose actions it inherits.
TEST(BitsetStartUpDeathTest, RuntimeInitRegistersCharBitsetAndTriple) {
    auto check = [] {
        runtime::init();
        bool ok = datatype::function<action::slot::add>(kTypeChar) == char_::add &&
                  datatype::function<action::slot::random>(kTypeChar) == integer::random &&
                  datatype::function<action::slot::pick>(kTypeBitset) == bitset::pick &&
                  datatype::entry(kTypeTriple, action::slot::form) != nullptr &&
                  datatype::function<action::slot::add>(kTypeFloat) != nullptr;
        std::exit(ok ? 0 : 1);
    };
    EXPECT_EXIT(check(), testing::ExitedWithCode(0), "");
}

} // namespace
