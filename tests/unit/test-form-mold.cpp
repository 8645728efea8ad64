// Form and mold: the entries, the slots of datatype!, unset!, none! and logic!, indentation,
// cycle markers and the depth limit; check::int_arg and memory::repeat_fill.
#include <gtest/gtest.h>

#include "datatypes/block.h"
#include "datatypes/series.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "datatypes/form-mold.h"
#include "datatypes/string.h"
#include "runtime-core/error-ids.h"
#include "runtime-fixture.h"

namespace {

using action::slot::form;
using action::slot::mold;

class FormMold : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        action::Row empty;
        datatype::register_({kTypeInteger, 0, "integer!", empty.entries()});
        stack::clear();
    }

    // A new empty string! on the data stack.
    static Cell* new_string() { return string::make_at(stack::push_cell(), 16); }
    static std::string text(const Cell* string) {
        memory::Buffer* b = memory::buffer(string->w2);
        EXPECT_EQ(b->unit(), 1u);
        return std::string(reinterpret_cast<char*>(b->at_head()) + string->w1,
                           b->length() - string->w1);
    }

    // The form or mold slot's text of `v` and the limit it returns from 1000.
    static std::pair<std::string, int32_t> formed(Cell v) {
        Cell* s = new_string();
        Cell* value = stack::push(v);
        int32_t left = datatype::function<form>(cell::type(value))(value, s, nullptr, 1000);
        return {text(s), left};
    }
    static std::pair<std::string, int32_t> molded(Cell v, bool all) {
        Cell* s = new_string();
        Cell* value = stack::push(v);
        int32_t left = datatype::function<mold>(cell::type(value))(value, s, {.all = all}, 1000, 0);
        return {text(s), left};
    }

    static Cell float_value(double d) {
        Cell c{kTypeFloat, 0, 0, 0};
        std::memcpy(&c.w2, &d, sizeof d);
        return c;
    }
};

TEST_F(FormMold, SlotsOfTheFirstDatatypes) {
    struct Case {
        Cell value;
        const char* form;
        const char* mold;
        const char* mold_all;
    } cases[] = {
        {value(kTypeDatatype, kTypeInteger), "integer", "integer!", "#(integer!)"},
        {value(kTypeDatatype, kTypeLogic), "logic", "logic!", "#(logic!)"},
        {value(kTypeUnset), "", "unset", "#(unset)"},
        {value(kTypeNone), "none", "none", "#(none)"},
        {value(kTypeLogic, 1), "true", "true", "#(true)"},
        {value(kTypeLogic, 0), "false", "false", "#(false)"},
        {value(kTypeLogic, 2), "false", "false", "#(false)"}, // only 1 is true
    };
    for (const Case& c : cases) {
        auto [f, f_left] = formed(c.value);
        EXPECT_EQ(f, c.form);
        EXPECT_EQ(f_left, 1000 - int32_t(std::strlen(c.form))) << c.form;
        auto [m, m_left] = molded(c.value, false);
        EXPECT_EQ(m, c.mold);
        EXPECT_EQ(m_left, 1000 - int32_t(std::strlen(c.mold))) << c.mold;
        auto [a, a_left] = molded(c.value, true);
        EXPECT_EQ(a, c.mold_all);
        EXPECT_EQ(a_left, 1000 - int32_t(std::strlen(c.mold_all))) << c.mold_all;
    }
}

TEST_F(FormMold, SlotsAppendAtTheTailAndMayGoBelowZero) {
    Cell* s = new_string();
    string::concatenate_cstring(s, "x=");
    Cell* v = stack::push(value(kTypeLogic, 0));
    EXPECT_EQ(logic::mold(v, s, {.all = true}, 3, 0), -5);
    EXPECT_EQ(text(s), "x=#(false)");
}

TEST_F(FormMold, EntriesMakeTheResultString) {
    struct Case {
        Cell value;
        bool mold, all;
        Cell part; // header 0: no /part
        const char* result;
    } cases[] = {
        {value(kTypeLogic, 0), false, false, {}, "false"},
        {value(kTypeLogic, 0), false, false, value(kTypeInteger, 0, 3), "fal"},
        {value(kTypeLogic, 0), false, false, value(kTypeInteger, 0, 9), "false"},
        {value(kTypeLogic, 0), true, true, value(kTypeInteger, 0, 4), "#(fa"},
        {value(kTypeLogic, 1), true, false, float_value(2.9), "tr"},
        {value(kTypeDatatype, kTypeInteger), true, true, {}, "#(integer!)"},
        {value(kTypeUnset), false, false, {}, ""},
    };
    for (const Case& c : cases) {
        stack::clear();
        stack::push(c.value);
        Cell* part = c.part.header ? stack::push(c.part) : nullptr;
        if (c.mold)
            mold::entry({.all = c.all, .part = part});
        else
            form::entry(part);
        EXPECT_EQ(stack::arguments->header, uint32_t{kTypeString});
        EXPECT_EQ(stack::top, stack::arguments + 1);
        EXPECT_EQ(text(stack::arguments), c.result);
    }
}

// A form slot that counts its calls.
int form_calls = 0;
int32_t counting_form(Cell*, Cell* string, Cell*, int32_t limit) {
    ++form_calls;
    string::concatenate_cstring(string, "abc");
    return limit - 3;
}

TEST_F(FormMold, APartOfZeroOrLessDoesNotCallTheSlot) {
    action::Row row;
    row.set<form>(counting_form);
    datatype::register_({kTypeTriple, 0, "triple!", row.entries()});
    form_calls = 0;
    for (int32_t limit : {0, -1, -2147483647 - 1}) {
        stack::clear();
        stack::push(value(kTypeTriple));
        form::entry(stack::push(value(kTypeInteger, 0, static_cast<uint32_t>(limit))));
        EXPECT_EQ(text(stack::arguments), "");
    }
    EXPECT_EQ(form_calls, 0);
    stack::clear();
    stack::push(value(kTypeTriple));
    form::entry(nullptr);
    EXPECT_EQ(form_calls, 1);
    EXPECT_EQ(text(stack::arguments), "abc");

    // form/to-new-string pushes the string and leaves the result slot alone.
    *stack::arguments = value(kTypeTriple);
    Cell* s = form::to_new_string(nullptr, 2);
    EXPECT_EQ(text(s), "ab");
    EXPECT_EQ(stack::top, s + 1);
    EXPECT_EQ(stack::arguments->header, uint32_t{kTypeTriple});
}

TEST_F(FormMold, ATypeWithoutTheSlotRaisesExpectArg) {
    stack::clear();
    stack::push(value(kTypeInteger, 0, 1));
    EXPECT_TRUE(raises(error::kScript, error::script::expect_arg, [] { form::entry(nullptr); }));
    EXPECT_EQ(error::last_raised.args[1].w1, uint32_t{kTypeInteger});
}

TEST_F(FormMold, Indent) {
    Cell* s = new_string();
    EXPECT_EQ(mold::indent(s, 0, 50), 50);
    EXPECT_EQ(text(s), "");
    EXPECT_EQ(mold::indent(s, 2, 50), 42);
    EXPECT_EQ(text(s), "        ");
}

TEST_F(FormMold, CycleMarkers) {
    struct Case {
        uint8_t type;
        const char* mold; // form writes "..." for every type
    } cases[] = {
        {kTypeBlock, "[...]"},
        {kTypeHash, "[...]"},
        {kTypeParen, "(...)"},
        {kTypeMap, "#[...]"},
        {kTypePath, "..."},
        {kTypeSetPath, "..."},
        {kTypeObject, "make object! [...]"},
    };
    for (const Case& c : cases) {
        // An object is known by its context node (word 1), the others by their series node.
        Cell v = c.type == kTypeObject ? Cell{c.type, 77, 0, 0} : Cell{c.type, 0, 77, 0};
        for (bool is_mold : {false, true}) {
            stack::clear();
            Cell* s = new_string();
            int32_t limit = 100;
            EXPECT_FALSE(cycles::detect(&v, s, &limit, is_mold)); // not on the stack
            EXPECT_EQ(limit, 100);
            cycles::Push on(77);
            EXPECT_TRUE(cycles::detect(&v, s, &limit, is_mold));
            std::string marker = is_mold ? c.mold : "...";
            EXPECT_EQ(text(s), marker);
            EXPECT_EQ(limit, 100 - int32_t(marker.size()));
        }
    }
    // Values without a node are never on the stack.
    cycles::Push zero(0);
    Cell i = value(kTypeInteger, 0, 0);
    int32_t limit = 10;
    EXPECT_FALSE(cycles::detect(&i, new_string(), &limit, true));
}

class Nesting : public FormMold {
protected:
    void SetUp() override {
        FormMold::SetUp();
        series::register_actions();
        block::register_actions();
    }
    // `levels` blocks, each holding the next; the innermost holds `none`.
    static uint32_t nested(uint32_t levels) {
        GcRoot inner(memory::alloc_cells(1));
        none::make_at(memory::alloc_tail_cell(memory::buffer(inner.node())));
        for (uint32_t k = 1; k < levels; ++k) {
            GcRoot outer(memory::alloc_cells(1));
            *memory::alloc_tail_cell(memory::buffer(outer.node())) = block_of(inner.node());
            inner.set_node(outer.node());
        }
        return inner.node();
    }
};

TEST_F(Nesting, ABlockHoldingItselfMoldsTheMarker) {
    stack::clear();
    Cell* b = stack::push(block_of(memory::alloc_cells(2)));
    *memory::alloc_tail_cell(memory::buffer(b->w2)) = *b;
    logic::make_at(memory::alloc_tail_cell(memory::buffer(b->w2)), true);
    mold::entry({});
    EXPECT_EQ(text(stack::arguments), "[[...] true]");
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(Nesting, NineHundredNinetyNineLevelsMold) {
    stack::clear();
    stack::push(block_of(nested(999)));
    mold::entry({});
    EXPECT_EQ(text(stack::arguments), std::string(999, '[') + "none" + std::string(999, ']'));
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(Nesting, OneThousandLevelsAreTooDeep) {
    stack::clear();
    stack::push(block_of(nested(1000)));
    EXPECT_TRUE(raises(error::kInternal, error::internal::too_deep, [] { mold::entry({}); }));
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(FormMold, IntArg) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        Cell value;
        int32_t result; // when no error
        uint32_t error; // script error id, 0 for none
    } cases[] = {
        {value(kTypeInteger, 0, 0xFFFFFFFF), -1, 0},
        {float_value(2147483647.0), 2147483647, 0},
        {float_value(-2147483648.0), -2147483647 - 1, 0},
        {float_value(-1.9), -1, 0},
        {float_value(1.9), 1, 0},
        {float_value(2147483648.0), 0, error::script::out_of_range},
        {float_value(-2147483649.0), 0, error::script::out_of_range},
        {float_value(nan), 0, error::script::out_of_range},
        {float_value(std::numeric_limits<double>::infinity()), 0, error::script::out_of_range},
        {value(kTypeLogic, 1), 0, error::script::invalid_arg},
    };
    for (const Case& c : cases) {
        if (c.error == 0) {
            EXPECT_EQ(check::int_arg(&c.value), c.result);
        } else {
            EXPECT_TRUE(raises(error::kScript, c.error, [&] { check::int_arg(&c.value); }));
            EXPECT_EQ(error::last_raised.args[0].header, c.value.header);
        }
    }
}

TEST(RepeatFill, DoublesTheRunAndFillsTheRest) {
    for (uint32_t unit : {1u, 4u, 16u}) {
        for (uint32_t count : {0u, 1u, 2u, 7u, 8u, 13u}) {
            std::vector<uint8_t> buffer(unit * 16 + 1, 0xEE);
            for (uint32_t i = 0; i < unit; ++i) buffer[i] = static_cast<uint8_t>(i + 1);
            uint8_t* end = memory::repeat_fill(buffer.data(), unit, count);
            EXPECT_EQ(end, buffer.data() + unit * count);
            for (uint32_t i = unit; i < unit * count; ++i)
                ASSERT_EQ(buffer[i], buffer[i % unit]) << unit << " " << count << " " << i;
            EXPECT_EQ(buffer[std::max(unit * count, unit)], 0xEE); // nothing past the end
        }
    }
}

} // namespace
