// The runtime of words-fixture.h with pair!, percent!, tuple!, handle! and the point types
// registered, a recording random source, and helpers that run a frame action on two values.
#pragma once
#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/handle.h"
#include "datatypes/pair.h"
#include "datatypes/percent.h"
#include "datatypes/point.h"
#include "datatypes/series.h"
#include "datatypes/tuple.h"
#include "words-fixture.h"

class CompoundTest : public WordsTest {
protected:
    void SetUp() override {
        WordsTest::SetUp();
        series::register_actions();
        block::register_actions();
        string::register_actions();
        pair::register_actions();
        percent::register_actions();
        tuple::register_actions();
        handle::register_actions();
        point::register_actions();
        integer::set_random_source(&random_source);
        seeded = 0;
        stack::clear();
    }
    void TearDown() override {
        integer::set_random_source(nullptr);
        stack::clear();
        WordsTest::TearDown();
    }

    // The random source draws the bound itself (1 to n gives n) and records the seed.
    static inline uint32_t seeded = 0;
    static int32_t draw(bool, int32_t n) { return n; }
    static void seed(uint32_t s) { seeded = s; }
    static inline const integer::RandomSource random_source{draw, seed};

    static Cell int_value(int32_t v) { return Cell{kTypeInteger, 0, static_cast<uint32_t>(v), 0}; }
    static Cell float_value(double d, uint8_t type = kTypeFloat) {
        Cell c{type, 0, 0, 0};
        std::memcpy(&c.w2, &d, sizeof d);
        return c;
    }
    static Cell pair_value(int32_t x, int32_t y) {
        Cell c;
        return *pair::make_at(&c, x, y);
    }
    static Cell point_value(float x, float y) {
        Cell c;
        return *point2D::make_at(&c, x, y);
    }
    static Cell point_value(float x, float y, float z) {
        Cell c;
        return *point3D::make_at(&c, x, y, z);
    }
    static Cell tuple_value(std::initializer_list<uint8_t> bytes) {
        Cell c;
        return *tuple::make_at(&c, bytes.begin(), static_cast<uint32_t>(bytes.size()));
    }

    // Runs a frame action on (a, b) and returns the frame's result cell.
    static Cell run(void (*action)(), const Cell& a, const Cell& b) {
        stack::clear();
        stack::push(a);
        stack::push(b);
        action();
        return *stack::arguments;
    }
    // Runs a frame action on one value.
    static Cell run1(void (*action)(), const Cell& a) {
        stack::clear();
        stack::push(a);
        action();
        return *stack::arguments;
    }
    template <action::Slot S> static action::Fn<S> slot(uint8_t type) {
        return datatype::function<S>(type);
    }
    // make (which is to for these types) of a spec into a new cell.
    static Cell made(uint8_t type, const Cell& spec) {
        Cell* prototype = stack::push(Cell{kTypeDatatype, type, 0, 0});
        Cell* s = stack::push(spec);
        return *slot<action::slot::make>(type)(prototype, s, type);
    }
    static std::string text(const Cell& value) { return formed(value); }
};
