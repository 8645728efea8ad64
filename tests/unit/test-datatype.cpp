#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "runtime-core/stdio.h"
#include "runtime-fixture.h"

namespace {

int32_t form_a(Cell*, Cell*, Cell*, int32_t limit) {
    return limit - 1;
}
int32_t form_b(Cell*, Cell*, Cell*, int32_t limit) {
    return limit - 2;
}
int32_t compare_a(Cell*, Cell*, int32_t) {
    return 7;
}

using action::slot::compare;
using action::slot::form;
using action::slot::mold;

class Datatype : public RuntimeTest {};

TEST_F(Datatype, InheritedEntriesAreCopiedAtRegistration) {
    action::Row parent;
    parent.set<form>(form_a).set<compare>(compare_a); // mold stays 0
    datatype::register_({kTypeSeries, 0, "series!", parent.entries()});

    action::Row child;
    child.inherit({form, mold}).set<compare>(nullptr);
    datatype::register_({kTypeBlock, kTypeSeries, "block!", child.entries()});
    EXPECT_EQ(datatype::function<form>(kTypeBlock), form_a);
    EXPECT_EQ(datatype::function<mold>(kTypeBlock), nullptr); // 0 in the parent stays 0
    EXPECT_EQ(datatype::function<compare>(kTypeBlock), nullptr);

    // A copy, not a link: registering the parent again does not reach the child.
    parent.set<form>(form_b);
    datatype::register_({kTypeSeries, 0, "series!", parent.entries()});
    EXPECT_EQ(datatype::function<form>(kTypeSeries), form_b);
    EXPECT_EQ(datatype::function<form>(kTypeBlock), form_a);

    // Inherit without a parent is not supported.
    action::Row orphan;
    orphan.inherit({form});
    datatype::register_({kTypeTriple, 0, "triple!", orphan.entries()});
    EXPECT_EQ(datatype::function<form>(kTypeTriple), nullptr);
}

TEST_F(Datatype, NameRecordsAndHighestId) {
    EXPECT_EQ(datatype::highest_type_id, 4);
    const datatype::NameRecord& r = datatype::name_record(kTypeDatatype);
    EXPECT_STREQ(r.name, "datatype!");
    EXPECT_EQ(r.length, 8u);
    EXPECT_EQ(r.word, nullptr); // the words come with the global context

    action::Row row;
    datatype::register_({kTypeInteger, 0, "integer!", row.entries()});
    datatype::register_({kTypeChar, kTypeInteger, "char!", row.entries()});
    EXPECT_EQ(datatype::highest_type_id, kTypeInteger); // only grows
    EXPECT_EQ(datatype::name_record(kTypeChar).length, 4u);

    // Ids without a registered type, and ids beyond the table, have an empty name and no
    // functions.
    for (uint32_t id : {0u, 12u, 56u, 57u, 255u, 0xFFFFFFFFu}) {
        EXPECT_STREQ(datatype::name_record(id).name, "!") << id;
        EXPECT_EQ(datatype::name_record(id).length, 0u) << id;
        EXPECT_EQ(datatype::entry(id, form), nullptr) << id;
    }
}

TEST_F(Datatype, RowsOfTheFirstDatatypes) {
    struct Case {
        uint8_t type;
        std::vector<uint32_t> slots; // the slots filled, all others 0
    } cases[] = {
        {kTypeDatatype, {5, 6, 9}},
        {kTypeUnset, {1, 4, 5, 6, 9}},
        {kTypeNone, {1, 4, 5, 6, 9, 29, 31, 36, 42, 44, 50}},
        {kTypeLogic, {1, 2, 4, 5, 6, 9, 21, 22, 23, 24}},
    };
    for (const Case& c : cases) {
        for (uint32_t s = 1; s <= action::kSlotCount; ++s) {
            bool filled = std::find(c.slots.begin(), c.slots.end(), s) != c.slots.end();
            EXPECT_EQ(datatype::entry(c.type, static_cast<action::Slot>(s)) != nullptr, filled)
                << "type " << int(c.type) << " slot " << s;
        }
    }
}

TEST_F(Datatype, Constructors) {
    Cell block = block_of(memory::alloc_cells(4));
    GcRoot keep(block.w2);
    block.w2 = keep.node();
    Cell* c = datatype::add_to_block(&block, kTypeString);
    EXPECT_EQ(c->header, uint32_t{kTypeDatatype});
    EXPECT_EQ(c->w1, uint32_t{kTypeString});
    EXPECT_EQ(memory::buffer(keep.node())->length(), 1u);

    Cell* top = stack::top;
    Cell* p = datatype::push(kTypeInteger);
    EXPECT_EQ(p, top);
    EXPECT_EQ(stack::top, top + 1);
    EXPECT_EQ(p->header, uint32_t{kTypeDatatype});
    EXPECT_EQ(p->w1, uint32_t{kTypeInteger});

    Cell flagged{kTypeNone | cell::kNewLine, 0, 0, 0};
    datatype::make_at(&flagged, kTypeLogic);
    EXPECT_EQ(flagged.header, uint32_t{kTypeDatatype}); // flags cleared
}

TEST_F(Datatype, CompareByCode) {
    Cell integer = value(kTypeDatatype, kTypeInteger);
    Cell integer2 = value(kTypeDatatype, kTypeInteger);
    Cell string = value(kTypeDatatype, kTypeString);
    Cell eleven = value(kTypeInteger, 0, kTypeInteger); // not a datatype! at all
    for (int32_t op : {0, 1, 2, 9, 12}) {
        EXPECT_EQ(datatype::compare(&integer, &integer2, op), 0) << op;
        EXPECT_EQ(datatype::compare(&integer, &string, op), 1) << op;
        EXPECT_EQ(datatype::compare(&integer, &eleven, op), 1) << op;
    }
    for (int32_t op : {3, 4, 5, 6, 7, 8, 10, 11})
        EXPECT_EQ(datatype::compare(&integer, &integer2, op), -2) << op;
}

// The count check prints on the runtime's console output; the death tests read it from
// standard error.
void to_stderr(const char* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (bytes[i] != '\r') std::fputc(bytes[i], stderr);
}

void register_with_slots(uint32_t type, size_t count) {
    std::vector<action::Entry> slots(count);
    stdio::set_byte_sink(to_stderr);
    datatype::register_({type, 0, "string!", slots});
}

using DatatypeDeathTest = Datatype;

TEST_F(DatatypeDeathTest, CountCheckReportsAndExitsWithStatus0) {
    EXPECT_EXIT(register_with_slots(7, 63), testing::ExitedWithCode(0),
                "\\*\\*\\* Datatype Error: invalid actions count for type: 7\n"
                "\\*\\*\\* Found: 63\n"
                "\\*\\*\\* Expected: 62\n");
    EXPECT_EXIT(register_with_slots(7, 61), testing::ExitedWithCode(0),
                "\\*\\*\\* Found: 61\n\\*\\*\\* Expected: 62\n");
}

} // namespace
