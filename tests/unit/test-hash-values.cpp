// hash!: the datatype (the hash functions have test-hash.cpp).
#include <gtest/gtest.h>

#include "compound-fixture.h"
#include "datatypes/hash.h"
#include "datatypes/map.h"
#include "runtime-core/collector.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/hashtable.h"

namespace {

class HashValues : public CompoundTest {
protected:
    void SetUp() override {
        CompoundTest::SetUp();
        hash_::register_actions();
    }
    static Cell* made(const Cell& spec) {
        Cell* prototype = stack::push(Cell{kTypeDatatype, kTypeHash, 0, 0});
        Cell* s = stack::push(spec);
        return hash_::make(prototype, s, kTypeHash);
    }
    static std::string selected(Cell* h, const Cell& key) {
        Cell* k = stack::push(key);
        return formed(*block::select(h, k, {}), true);
    }
    // The table finds every cell from the head at its own place.
    static void expect_indexed(const Cell* h) {
        ASSERT_NE(h->w3, 0u);
        const uint32_t n = memory::buffer(h->w2)->length();
        for (uint32_t i = 0; i < n; ++i) {
            const Cell key = *block::cell_at(h, i);
            const int32_t at = hashtable::find_all(h->w3, key, 0, 1, 2);
            ASSERT_GE(at, 0) << i;
            EXPECT_TRUE(
                hashtable::keys_equal(*block::cell_at(h, static_cast<uint32_t>(at)), key, 2))
                << i;
        }
    }
};

TEST_F(HashValues, MakeMoldAndSelect) {
    Cell* empty = made(int_value(0));
    EXPECT_EQ(cell::type(empty), kTypeHash);
    EXPECT_NE(empty->w3, 0u);
    EXPECT_EQ(formed(*empty, true), "make hash! []");
    GcRoot spec(block(
        {unbound(kTypeWord, sym("a")), int_value(1), unbound(kTypeWord, sym("b")), int_value(2)}));
    Cell* h = made(spec.cell());
    EXPECT_EQ(formed(*h, true), "make hash! [a 1 b 2]");
    EXPECT_EQ(formed(*h), "a 1 b 2");
    EXPECT_EQ(selected(h, unbound(kTypeWord, sym("b"))), "2");
    expect_indexed(h);
    // to hash! of another value makes a block of it first.
    Cell* prototype = stack::push(Cell{kTypeDatatype, kTypeHash, 0, 0});
    Cell* one = stack::push(int_value(5));
    Cell* single = hash_::to(prototype, one, kTypeHash);
    EXPECT_EQ(formed(*single, true), "make hash! [5]");
    expect_indexed(single);
}

TEST_F(HashValues, SortAndTrimReindex) {
    GcRoot spec(block({int_value(3), int_value(30), int_value(1), int_value(10),
                       Cell{kTypeNone, 0, 0, 0}, int_value(2), int_value(20)}));
    Cell* h = made(spec.cell());
    hash_::trim(h, {});
    EXPECT_EQ(formed(*h, true), "make hash! [3 30 1 10 2 20]");
    expect_indexed(h);
    Cell two = int_value(2);
    hash_::sort(h, {.skip = &two});
    EXPECT_EQ(formed(*h, true), "make hash! [1 10 2 20 3 30]");
    expect_indexed(h);
    EXPECT_EQ(selected(h, int_value(2)), "20");
}

TEST_F(HashValues, CopiesGetTheirOwnTables) {
    GcRoot spec(block({int_value(1), int_value(10), int_value(2), int_value(20)}));
    Cell* h = made(spec.cell());
    Cell* whole = stack::push_cell();
    hash_::copy(h, whole, {});
    EXPECT_NE(whole->w3, h->w3);
    expect_indexed(whole);
    Cell from_second = *h;
    from_second.w1 = 1;
    Cell* tail = stack::push_cell();
    Cell* source = stack::push(from_second);
    hash_::copy(source, tail, {});
    EXPECT_EQ(formed(*tail, true), "make hash! [10 2 20]");
    expect_indexed(tail);
    EXPECT_EQ(selected(tail, int_value(2)), "20");
}

TEST_F(HashValues, SelfContainingHashMoldsAndCopies) {
    Cell* h = made(int_value(2));
    Cell* self = stack::push(*h);
    block::insert(h, self, {.only = true, .append = true});
    EXPECT_EQ(formed(*h, true), "make hash! [[...]]");
    Cell* result = stack::push_cell();
    EXPECT_TRUE(raises(error::kInternal, error::internal::no_cycle,
                       [&] { hash_::copy(h, result, {.deep = true}); }));
}

TEST_F(HashValues, TableFollowsCollections) {
    Cell* h = made(int_value(4));
    for (int32_t i = 0; i < 100; ++i) {
        GcRoot inner(block({int_value(i)})); // node-keyed values
        Cell* v = stack::push(inner.cell());
        block::insert(h, v, {.only = true, .append = true});
        stack::pop(1);
        Cell* n = stack::push(int_value(i));
        block::insert(h, n, {.append = true});
        stack::pop(1);
        if (i % 25 == 0) collector::collect();
    }
    collector::collect();
    expect_indexed(h);
    EXPECT_EQ(selected(h, int_value(42)), "[43]");
}

} // namespace
