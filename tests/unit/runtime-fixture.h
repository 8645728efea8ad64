// The runtime as far as start-up brings it before the evaluator: the memory manager (as in
// MemoryTest), the root block with the data stack, the cycle stack, the recorded error
// raiser and the registered datatypes.
#pragma once
#include <gtest/gtest.h>

#include <functional>

#include "datatypes/cycles.h"
#include "datatypes/datatype.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/unset.h"
#include "evaluator/frames.h"
#include "memory-fixture.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/root.h"
#include "runtime-core/support.h"
#include "runtime-core/throw.h"

class RuntimeTest : public MemoryTest {
protected:
    void SetUp() override {
        MemoryTest::SetUp();
        root::init();
        stack::init();
        stack::init_frames();
        cycles::init();
        error::init_support();
        datatype::init();
        datatype::register_actions();
        unset::register_actions();
        none::register_actions();
        logic::register_actions();
    }
    void TearDown() override {
        stack::set_overflow_hook(nullptr);
        cycles::reset();
        error::last_raised = error::Raised{};
        root::release();
        stack::bottom = stack::top = stack::end = stack::arguments = nullptr;
        MemoryTest::TearDown();
    }

    // Runs `body` and answers whether it raised the language error (category, id).
    static bool raises(uint32_t category, uint32_t id, const std::function<void()>& body) {
        error::last_raised = error::Raised{};
        uint32_t code = runtime::catch_level(runtime::kThrowError, body);
        runtime::reset_thrown_code();
        return code == runtime::kThrowError && error::last_raised.category == category &&
               error::last_raised.id == id;
    }

    static Cell value(uint8_t type, uint32_t w1 = 0, uint32_t w2 = 0, uint32_t w3 = 0) {
        return Cell{type, w1, w2, w3};
    }
};
