#include <deque>
#include <gtest/gtest.h>

#include "compound-fixture.h"
#include "datatypes/binary.h"
#include "datatypes/hash.h"
#include "datatypes/map.h"
#include "runtime-core/collector.h"
#include "runtime-core/error-ids.h"

namespace {

class Map : public CompoundTest {
protected:
    void SetUp() override {
        CompoundTest::SetUp();
        binary::register_actions();
        map::register_actions();
        hash_::register_actions();
    }
    static Cell str(const char* text) {
        Cell* s = string::make_at(stack::push_cell(), 16);
        string::concatenate_cstring(s, text);
        const Cell made = *s;
        stack::pop(1);
        return made;
    }
    // A map made from a block of values, on the data stack.
    static Cell* map_of(std::initializer_list<Cell> cells) {
        GcRoot spec(block(cells));
        Cell* prototype = stack::push(Cell{kTypeDatatype, kTypeMap, 0, 0});
        return map::make(prototype, &spec.cell(), kTypeMap);
    }
    static std::string selected(Cell* m, const Cell& key, bool case_ = false) {
        Cell* k = stack::push(key);
        const Cell* v = map::select(m, k, {.case_ = case_});
        return formed(*v, true);
    }
    static void set(Cell* m, const Cell& key, const Cell& value, bool case_ = false) {
        Cell* k = stack::push(key);
        Cell* v = stack::push(value);
        map::put(m, k, v, case_);
    }
    static uint32_t stored_cells(const Cell* m) { return memory::buffer(m->w2)->length(); }
};

TEST_F(Map, WordKeysAreSetWordsAndFoundAsWords) {
    Cell* m = map_of(
        {unbound(kTypeWord, sym("a")), int_value(1), unbound(kTypeWord, sym("b")), int_value(2)});
    EXPECT_EQ(formed(*m, true), "#[\n    a: 1\n    b: 2\n]");
    Cell a = unbound(kTypeWord, sym("a"));
    const Cell found = *map::find(m, &a, {});
    EXPECT_EQ(cell::type(&found), kTypeWord);
    EXPECT_EQ(formed(found), "a");
    // Any word type finds the key; the stored one stays a set-word.
    EXPECT_EQ(selected(m, unbound(kTypeGetWord, sym("b"))), "2");
    EXPECT_EQ(selected(m, unbound(kTypeWord, sym("A"))), "1");
    EXPECT_EQ(formed(*m), "a: 1\nb: 2");
    Cell* prototype = stack::push_cell();
    map::mold(m, string::make_at(prototype, 16), {.flat = true}, 1000, 0);
    EXPECT_EQ(ascii(*prototype), "#[a: 1 b: 2]");
    EXPECT_EQ(formed(*map_of({}), true), "#[]");
}

TEST_F(Map, KeysIgnoreCaseUnlessAsked) {
    Cell* m = map_of({});
    set(m, str("Key"), int_value(1));
    set(m, str("key"), int_value(2));
    EXPECT_EQ(map::live_count(m), 1u);
    EXPECT_EQ(selected(m, str("KEY")), "2");
    set(m, str("key"), int_value(3), true);
    EXPECT_EQ(map::live_count(m), 2u);
    EXPECT_EQ(selected(m, str("Key"), true), "2");
    EXPECT_EQ(selected(m, str("key"), true), "3");
    EXPECT_EQ(selected(m, str("nope")), "none");
}

TEST_F(Map, SeriesKeysAreCopied) {
    Cell* m = map_of({});
    GcRoot key(str("abc"));
    set(m, key.cell(), int_value(1));
    Cell x{kTypeChar, 0, 'X', 0};
    string::append_char(memory::buffer(key.cell().w2), 'X');
    (void)x;
    EXPECT_EQ(selected(m, str("abc")), "1");
    EXPECT_EQ(selected(m, key.cell()), "none");
}

TEST_F(Map, RemovedPairsRevive) {
    Cell* m = map_of(
        {unbound(kTypeWord, sym("a")), int_value(1), unbound(kTypeWord, sym("b")), int_value(2)});
    Cell b = unbound(kTypeWord, sym("b"));
    map::remove(m, nullptr, &b);
    EXPECT_EQ(map::length_q(m), 1);
    EXPECT_EQ(selected(m, b), "none");
    EXPECT_EQ(formed(*m, true), "#[\n    a: 1\n]");
    const uint32_t cells = stored_cells(m);
    set(m, b, int_value(5));
    EXPECT_EQ(stored_cells(m), cells); // revived in place
    EXPECT_EQ(map::length_q(m), 2);
    EXPECT_EQ(formed(*m, true), "#[\n    a: 1\n    b: 5\n]");
    EXPECT_TRUE(raises(error::kScript, error::script::missing_arg,
                       [&] { map::remove(m, nullptr, nullptr); }));
    map::clear(m);
    EXPECT_EQ(map::length_q(m), 0);
    EXPECT_EQ(selected(m, b), "none");
}

TEST_F(Map, MakeAndTo) {
    auto make = [](const Cell& spec) {
        Cell* prototype = stack::push(Cell{kTypeDatatype, kTypeMap, 0, 0});
        Cell* s = stack::push(spec);
        return map::make(prototype, s, kTypeMap);
    };
    EXPECT_EQ(map::live_count(make(int_value(0))), 0u);
    EXPECT_EQ(map::live_count(make(float_value(3.0))), 0u);
    EXPECT_TRUE(raises(error::kScript, error::script::out_of_range, [&] { make(int_value(-1)); }));
    EXPECT_TRUE(
        raises(error::kInternal, error::internal::no_memory, [&] { make(int_value(2000000000)); }));
    EXPECT_TRUE(raises(error::kScript, error::script::bad_to_arg, [&] {
        Cell* prototype = stack::push(Cell{kTypeDatatype, kTypeMap, 0, 0});
        Cell* s = stack::push(int_value(10));
        map::to(prototype, s, kTypeMap);
    }));
    GcRoot odd(block({int_value(1)}));
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_arg, [&] { make(odd.cell()); }));
    // A repeated key keeps its first place and its last value.
    Cell* m = map_of(
        {int_value(1), int_value(10), int_value(2), int_value(20), int_value(1), int_value(30)});
    EXPECT_EQ(formed(*m, true), "#[\n    1 30\n    2 20\n]");
    GcRoot inner(block({}));
    Cell* n = map_of({});
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_path,
                       [&] { set(n, inner.cell(), int_value(1)); }));
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_path, [&] {
        map_of({Cell{kTypeNone, 0, 0, 0}, int_value(1)});
    }));
}

TEST_F(Map, KeysOfEveryKind) {
    Cell* m = map_of({});
    GcRoot bin(*binary::load(reinterpret_cast<const uint8_t*>("\x01\x02"), 2));
    Cell pct;
    percent::make_at(&pct, 0.5);
    // Each key sits in its own root: setting and selecting allocate, and an evacuating cycle
    // would otherwise leave the binary key with a stale node.
    std::deque<GcRoot> keys;
    for (const Cell& k : {int_value(7), float_value(1.5), Cell{kTypeChar, 0, 'c', 0},
                          unbound(kTypeRefinement, sym("ref")), Cell{kTypeIssue, 0, sym("iss"), 0},
                          pair_value(1, 2), tuple_value({1, 2, 3}), point_value(1, 2),
                          point_value(1, 2, 3), pct, bin.cell()})
        keys.emplace_back(k);
    int32_t n = 0;
    for (GcRoot& k : keys) set(m, k.cell(), int_value(n++));
    EXPECT_EQ(map::live_count(m), keys.size());
    n = 0;
    for (GcRoot& k : keys)
        EXPECT_EQ(selected(m, k.cell()), std::to_string(n++)) << formed(k.cell(), true);
    // An integer key and a float key of the same number are different keys.
    EXPECT_EQ(selected(m, float_value(7.0)), "none");
}

TEST_F(Map, EqualityIgnoresOrder) {
    Cell* a = map_of({int_value(1), int_value(10), int_value(2), int_value(20)});
    Cell* b = map_of({int_value(2), int_value(20), int_value(1), int_value(10)});
    Cell* c = map_of({int_value(2), int_value(20), int_value(1), int_value(11)});
    EXPECT_TRUE(actions::compare(a, b, action::op::equal));
    EXPECT_FALSE(actions::compare(a, c, action::op::equal));
    EXPECT_FALSE(actions::compare(a, b, action::op::same));
    GcRoot s(str("K"));
    GcRoot t(str("k"));
    Cell* d = map_of({s.cell(), int_value(1)});
    Cell* e = map_of({t.cell(), int_value(1)});
    EXPECT_TRUE(actions::compare(d, e, action::op::equal));
    EXPECT_FALSE(actions::compare(d, e, action::op::strict_equal));
    Cell one = int_value(1);
    EXPECT_EQ(map::compare(a, &one, action::op::equal), action::kNotComparable);
}

TEST_F(Map, SelfContainingMapMoldsAndCopies) {
    Cell* m = map_of({});
    set(m, int_value(1), *m);
    EXPECT_EQ(formed(*m, true), "#[\n    1 #[...]\n]");
    EXPECT_TRUE(actions::compare(m, m, action::op::equal));
    Cell* result = stack::push_cell();
    map::copy(m, result, {});
    EXPECT_NE(result->w2, m->w2);
    EXPECT_EQ(map::live_count(result), 1u);
    EXPECT_TRUE(raises(error::kInternal, error::internal::no_cycle,
                       [&] { map::copy(m, result, {.deep = true}); }));
    // A deep copy copies series values; a shallow one shares them.
    Cell* n = map_of({});
    GcRoot text(str("abc"));
    set(n, int_value(1), text.cell());
    Cell* deep = stack::push_cell();
    map::copy(n, deep, {.deep = true});
    Cell one = int_value(1);
    EXPECT_NE(map::get(deep, &one, false)->w2, text.cell().w2);
    Cell* shallow = stack::push_cell();
    map::copy(n, shallow, {});
    EXPECT_EQ(map::get(shallow, &one, false)->w2, text.cell().w2);
}

TEST_F(Map, ReflectAndBlockConversion) {
    Cell* m = map_of({unbound(kTypeWord, sym("a")), int_value(1), str("s"), int_value(2)});
    Cell b = unbound(kTypeWord, sym("a"));
    map::remove(m, nullptr, &b);
    set(m, unbound(kTypeWord, sym("c")), int_value(3));
    EXPECT_EQ(formed(*map::reflect(m, static_cast<int32_t>(words::symbol.words)), true),
              "[\"s\" c]");
    EXPECT_EQ(formed(*map::reflect(m, static_cast<int32_t>(words::symbol.values)), true), "[2 3]");
    EXPECT_EQ(formed(*map::reflect(m, static_cast<int32_t>(words::symbol.body)), true),
              "[\n    \"s\" 2\n    c: 3\n]");
    EXPECT_TRUE(raises(error::kInternal, error::internal::not_done,
                       [&] { map::reflect(m, static_cast<int32_t>(words::symbol.spec)); }));
    Cell* prototype = stack::push(Cell{kTypeDatatype, kTypeBlock, 0, 0});
    EXPECT_EQ(formed(*block::to(prototype, m, kTypeBlock), true), "[\n    \"s\" 2\n    c: 3\n]");
}

TEST_F(Map, ForeachStepsOverLivePairs) {
    Cell* m = map_of({unbound(kTypeWord, sym("a")), int_value(1), int_value(2), int_value(20),
                      int_value(3), int_value(30)});
    Cell two = int_value(2);
    map::remove(m, nullptr, &two);
    GcRoot k(global_word("k")), v(global_word("v")), w(global_word("w"));
    auto value_of = [](GcRoot& word) { return formed(*get_word::get_value(&word.cell()), true); };
    GcRoot pairs(block({k.cell(), v.cell()}));
    uint32_t position = 0;
    ASSERT_TRUE(map::foreach_next(&pairs.cell(), m, position));
    EXPECT_EQ(value_of(k), "a"); // a set-word key comes as a word
    EXPECT_EQ(value_of(v), "1");
    ASSERT_TRUE(map::foreach_next(&pairs.cell(), m, position)); // the removed pair is skipped
    EXPECT_EQ(value_of(k), "3");
    EXPECT_EQ(value_of(v), "30");
    EXPECT_FALSE(map::foreach_next(&pairs.cell(), m, position));
    // Three words: the third takes the next key, and its pair is used up.
    GcRoot three(block({k.cell(), v.cell(), w.cell()}));
    position = 0;
    ASSERT_TRUE(map::foreach_next(&three.cell(), m, position));
    EXPECT_EQ(value_of(w), "3");
    EXPECT_FALSE(map::foreach_next(&three.cell(), m, position));
    GcRoot bad(block({int_value(1)}));
    position = 0;
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_arg,
                       [&] { map::foreach_next(&bad.cell(), m, position); }));
}

TEST_F(Map, SurvivesCollectionsBetweenOperations) {
    Cell* m = map_of({});
    for (int32_t i = 0; i < 200; ++i) {
        set(m, str(std::to_string(i).c_str()), int_value(i));
        if (i % 50 == 0) collector::collect();
    }
    collector::collect();
    for (int32_t i = 0; i < 200; i += 7)
        EXPECT_EQ(selected(m, str(std::to_string(i).c_str())), std::to_string(i));
    EXPECT_EQ(map::live_count(m), 200u);
}

} // namespace
