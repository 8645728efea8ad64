#include <gtest/gtest.h>

#include "runtime-core/error-ids.h"
#include "runtime-fixture.h"

namespace {

class Cycles : public RuntimeTest {};

TEST_F(Cycles, PushPopFind) {
    cycles::push(11);
    cycles::push(22);
    cycles::push(33);
    EXPECT_EQ(cycles::depth(), 3u);
    EXPECT_TRUE(cycles::find(11));
    EXPECT_TRUE(cycles::find(33));
    EXPECT_FALSE(cycles::find(44));
    cycles::pop();
    EXPECT_FALSE(cycles::find(33));
    cycles::pop_n(5); // more than there are
    EXPECT_EQ(cycles::depth(), 0u);
    cycles::pop(); // on an empty stack: nothing
    EXPECT_EQ(cycles::depth(), 0u);
    cycles::push(1);
    cycles::push(2);
    cycles::pop_n(1);
    EXPECT_EQ(cycles::depth(), 1u);
    cycles::reset();
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(Cycles, TheThousandthEntryIsTooDeep) {
    for (uint32_t i = 1; i < cycles::kEntries; ++i) cycles::push(i);
    EXPECT_EQ(cycles::depth(), 999u);
    EXPECT_TRUE(raises(error::kInternal, error::internal::too_deep, [] { cycles::push(1000); }));
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(Cycles, PushPopsWhenAnErrorUnwinds) {
    cycles::push(5);
    EXPECT_TRUE(raises(error::kScript, error::script::no_value, [] {
        cycles::Push a(6);
        cycles::Push b(7);
        EXPECT_EQ(cycles::depth(), 3u);
        error::fire(error::kScript, error::script::no_value);
    }));
    EXPECT_EQ(cycles::depth(), 1u);
    EXPECT_TRUE(cycles::find(5));
}

TEST_F(Cycles, DataStackOverflowEmptiesTheStack) {
    cycles::push(5);
    EXPECT_TRUE(raises(error::kInternal, error::internal::stack_overflow, [] {
        for (;;) stack::push_cell();
    }));
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(Cycles, NodeOfContainers) {
    struct Case {
        uint8_t type;
        uint32_t node; // expected from w1 = 1, w2 = 2
    } cases[] = {
        {kTypeBlock, 2},  {kTypeParen, 2},   {kTypeGetPath, 2}, {kTypeHash, 2},   {kTypeMap, 2},
        {kTypeString, 2}, {kTypeBinary, 2},  {kTypeBitset, 2},  {kTypeObject, 1}, {kTypeError, 1},
        {kTypePort, 1},   {kTypeInteger, 0}, {kTypeLogic, 0},   {kTypeWord, 0},   {kTypeNone, 0},
    };
    for (const Case& c : cases) {
        Cell v{c.type, 1, 2, 3};
        EXPECT_EQ(cycles::node_of(&v), c.node) << int(c.type);
    }
}

TEST_F(Cycles, EntriesStayAliveAcrossACollection) {
    // Node ids stay put here, so that the plain id still names the entry afterwards.
    collector::state.node_compaction = 0;
    uint32_t node = make_text("inside");
    cycles::push(node);
    collector::collect();
    EXPECT_FALSE(reclaimed(node));
    cycles::pop();
    collector::collect();
    EXPECT_TRUE(reclaimed(node));
    collector::state.node_compaction = 1;
}

} // namespace
