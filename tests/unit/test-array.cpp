#include <gtest/gtest.h>

#include <vector>

#include "memory-fixture.h"
#include "runtime-core/array.h"

namespace {

class Array : public MemoryTest {
protected:
    static std::vector<int32_t> ints(uint32_t node) {
        std::vector<int32_t> out;
        for (uint32_t i = 1; i <= array::length(node); ++i) out.push_back(array::pick_int(node, i));
        return out;
    }
};

} // namespace

TEST_F(Array, IntegersAppendFindPickPoke) {
    GcRoot a(array::make(4, 2));
    EXPECT_EQ(memory::buffer(a.node())->unit(), 4u);
    EXPECT_EQ(array::find_int(a.node(), 7), -1); // empty
    for (int32_t v : {7, -3, 7, 100}) array::append_int(a.node(), v);
    EXPECT_EQ(array::length(a.node()), 4u);
    EXPECT_EQ(array::find_int(a.node(), 7), 0); // the first of two
    EXPECT_EQ(array::find_int(a.node(), 100), 12);
    EXPECT_EQ(array::find_int(a.node(), 5), -1);
    array::poke(a.node(), 2, 42);
    EXPECT_EQ(ints(a.node()), (std::vector<int32_t>{7, 42, 7, 100}));
    array::cut_at(a.node(), 3);
    EXPECT_EQ(ints(a.node()), (std::vector<int32_t>{7, 42}));
    array::clear(a.node());
    EXPECT_EQ(array::length(a.node()), 0u);
}

TEST_F(Array, InsertIntShiftsTheRestUp) {
    GcRoot a(array::make(4, 3));
    for (int32_t v : {1, 2, 3}) array::append_int(a.node(), v);
    array::insert_int(a.node(), 0, 0);
    EXPECT_EQ(ints(a.node()), (std::vector<int32_t>{0, 1, 2, 3}));
    array::insert_int(a.node(), 9, 4);
    array::insert_int(a.node(), 5, 2);
    EXPECT_EQ(ints(a.node()), (std::vector<int32_t>{0, 1, 5, 2, 3, 9}));
}

// Appends and inserts keep growing the buffer, which moves; the content follows.
TEST_F(Array, GrowsAcrossManyAppends) {
    GcRoot a(array::make(4, 1));
    std::vector<int32_t> expected;
    for (int32_t i = 0; i < 500; ++i) {
        if (i % 3 == 0) {
            array::insert_int(a.node(), i, 0);
            expected.insert(expected.begin(), i);
        } else {
            array::append_int(a.node(), i);
            expected.push_back(i);
        }
    }
    EXPECT_EQ(ints(a.node()), expected);
    GcRoot copy(array::copy(a.node()));
    EXPECT_NE(copy.node(), a.node());
    EXPECT_EQ(ints(copy.node()), expected);
    EXPECT_EQ(memory::buffer(copy.node())->unit(), 4u);
}

TEST_F(Array, Bytes) {
    GcRoot a(array::make(1, 0));
    array::append_byte(a.node(), 'z');
    GcRoot source(make_text("hello, bytes"));
    array::append_bytes(a.node(), memory::buffer(source.node())->at_head() + 7, 5);
    EXPECT_EQ(array::length(a.node()), 6u);
    EXPECT_EQ(array::byte_at(a.node(), 1), 'z');
    EXPECT_EQ(array::byte_at(a.node(), 6), 's');
    EXPECT_EQ(text_of(a.node()), "zbytes");
    array::remove_at(a.node(), 1, 2);
    EXPECT_EQ(text_of(a.node()), "ztes");
}

// Address units are as wide as an address on the build.
TEST_F(Array, Addresses) {
    int slots[4];
    GcRoot a(array::make(array::kPointerUnit, 2));
    EXPECT_EQ(memory::buffer(a.node())->unit(), sizeof(void*));
    for (int* p : {&slots[0], &slots[1], &slots[2]}) array::append_ptr(a.node(), p);
    EXPECT_EQ(array::length(a.node()), 3u);
    EXPECT_EQ(array::find_ptr(a.node(), &slots[2]), static_cast<int32_t>(2 * sizeof(void*)));
    EXPECT_EQ(array::pick(a.node(), 2), &slots[1]);
    array::poke_ptr(a.node(), 2, &slots[3]);
    EXPECT_EQ(array::pick(a.node(), 2), &slots[3]);
    EXPECT_EQ(array::remove_ptr(a.node(), &slots[1]), -1); // absent: nothing changes
    EXPECT_EQ(array::length(a.node()), 3u);
    EXPECT_EQ(array::remove_ptr(a.node(), &slots[0]), 0);
    EXPECT_EQ(array::length(a.node()), 2u);
    EXPECT_EQ(array::pick(a.node(), 1), &slots[3]);
    EXPECT_EQ(array::pick(a.node(), 2), &slots[2]);
}
