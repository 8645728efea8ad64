// unset! and none!: constructors, compare and the series slots of none!. Their form and mold
// are in test-form-mold.cpp.
#include <gtest/gtest.h>

#include "runtime-fixture.h"

namespace {

class NoneUnset : public RuntimeTest {};

TEST_F(NoneUnset, Constructors) {
    struct Case {
        uint8_t type;
        Cell* (*make_at)(Cell*);
        Cell* (*set_result)();
        Cell* (*push)();
        Cell* (*add_to_block)(const Cell*);
        Cell* shared;
    } cases[] = {
        {kTypeUnset, unset::make_at, unset::set_result, unset::push, unset::add_to_block,
         &unset::value},
        {kTypeNone, none::make_at, none::set_result, none::push, none::add_to_block, &none::value},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.shared->header, uint32_t{c.type});
        // The whole header is written, the payload left alone.
        Cell flagged{kTypeLogic | cell::kNewLine, 5, 6, 7};
        c.make_at(&flagged);
        EXPECT_EQ(flagged.header, uint32_t{c.type});
        EXPECT_EQ(flagged.w1, 5u);

        stack::clear();
        Cell* pushed = c.push();
        EXPECT_EQ(pushed, stack::bottom);
        EXPECT_EQ(stack::top, stack::bottom + 1);
        EXPECT_EQ(pushed->header, uint32_t{c.type});
        *stack::arguments = Cell{kTypeInteger, 0, 3, 0};
        EXPECT_EQ(c.set_result(), stack::arguments);
        EXPECT_EQ(stack::arguments->header, uint32_t{c.type});

        GcRoot block(memory::alloc_cells(1));
        Cell b = block_of(block.node());
        c.add_to_block(&b);
        EXPECT_EQ(memory::buffer(block.node())->cells()[0].header, uint32_t{c.type});
    }
}

TEST_F(NoneUnset, MakeAndToGiveAFreshValue) {
    Cell proto{}, spec{kTypeInteger, 0, 9, 0};
    stack::clear();
    Cell* u = unset::make(&proto, &spec, kTypeUnset);
    EXPECT_EQ(u, stack::bottom);
    EXPECT_EQ(u->header, uint32_t{kTypeUnset});
    Cell* n = none::make(&proto, &spec, kTypeNone);
    EXPECT_EQ(n, stack::bottom + 1);
    EXPECT_EQ(n->header, uint32_t{kTypeNone});
    EXPECT_EQ(datatype::function<action::slot::to>(kTypeNone), none::make);
    EXPECT_EQ(datatype::function<action::slot::to>(kTypeUnset), unset::make);
}

TEST_F(NoneUnset, CompareOnlyWithItsOwnType) {
    Cell u = value(kTypeUnset), u2 = value(kTypeUnset), n = value(kTypeNone), n2 = value(kTypeNone);
    for (int32_t op : {0, 1, 2, 7, 8, 9, 12}) {
        EXPECT_EQ(unset::compare(&u, &u2, op), 0) << op;
        EXPECT_EQ(none::compare(&n, &n2, op), 0) << op;
        // none = unset is false both ways.
        EXPECT_EQ(unset::compare(&u, &n, op), -2) << op;
        EXPECT_EQ(none::compare(&n, &u, op), -2) << op;
    }
    // Orderings cannot compare (the dispatcher raises invalid-compare).
    for (int32_t op : {3, 4, 5, 6, 10, 11}) {
        EXPECT_EQ(unset::compare(&u, &u2, op), -2) << op;
        EXPECT_EQ(none::compare(&n, &n2, op), -2) << op;
    }
}

TEST_F(NoneUnset, SeriesActionsOnNoneAnswerNone) {
    Cell n = value(kTypeNone), v = value(kTypeInteger, 0, 1);
    namespace s = action::slot;
    EXPECT_EQ(datatype::function<s::clear>(kTypeNone)(&n), &none::value);
    EXPECT_EQ(datatype::function<s::find>(kTypeNone)(&n, &v, {}), &none::value);
    EXPECT_EQ(datatype::function<s::select>(kTypeNone)(&n, &v, {}), &none::value);
    EXPECT_EQ(datatype::function<s::remove>(kTypeNone)(&n, nullptr, nullptr), &none::value);
    EXPECT_EQ(datatype::function<s::take>(kTypeNone)(&n, {}), &none::value);
    EXPECT_EQ(datatype::function<s::length_q>(kTypeNone)(&n), -1);
    EXPECT_EQ(none::value.header, uint32_t{kTypeNone}); // the shared cell is left alone
}

} // namespace
