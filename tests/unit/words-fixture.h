// The runtime as start-up leaves it once the words exist: the memory manager (as in
// MemoryTest), the datatypes registered before the root block, then the root block with the
// symbol block, the global context, the case tables, the symbol table, the datatype name
// words and the runtime's word tables, and the data stack, the cycle stack and the recorded
// error raiser. The boot flag is cleared at the end, as the boot program leaves it.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <initializer_list>
#include <string>

#include "datatypes/context.h"
#include "datatypes/cycles.h"
#include "datatypes/datatype.h"
#include "datatypes/dispatch.h"
#include "datatypes/float.h"
#include "datatypes/form-mold.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "evaluator/frames.h"
#include "memory-fixture.h"
#include "runtime-core/case.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/hashtable.h"
#include "runtime-core/root.h"
#include "runtime-core/support.h"
#include "runtime-core/throw.h"

class WordsTest : public MemoryTest {
protected:
    void SetUp() override {
        MemoryTest::SetUp();
        root::boot_flag = 1;
        datatype::init();
        datatype::register_actions();
        unset::register_actions();
        none::register_actions();
        logic::register_actions();
        integer::register_actions();
        symbol::register_actions();
        context::register_actions();
        word::register_actions();
        float_::register_actions();
        root::init();
        symbol::append_block();
        context::init_global();
        case_::init();
        symbol::init_table();
        datatype::make_name_words();
        words::init();
        refinements::init();
        stack::init();
        stack::init_frames();
        cycles::init();
        hashtable::register_markers();
        error::init_support();
        root::boot_flag = 0;
    }
    void TearDown() override {
        stack::set_overflow_hook(nullptr);
        cycles::reset();
        error::last_raised = error::Raised{};
        word::set_lexer(nullptr);
        words::symbol = {};
        words::word = {};
        refinements::refinement = {};
        context::release();
        symbol::release();
        root::release();
        root::boot_flag = 0;
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

    static uint32_t sym(const char* text) { return symbol::make(text); }
    static std::string text_of_symbol(uint32_t id) { return std::string(symbol::text(id)); }

    // An unbound word cell of a type.
    static Cell unbound(uint8_t type, uint32_t symbol) {
        return Cell{type, 0, symbol, word::kUnresolved};
    }
    // A word! bound to the global context (added there when absent). May collect.
    static Cell global_word(const char* text) {
        GcRoot made(Cell{kTypeUnset, 0, 0, 0});
        word::make_at(sym(text), &made.cell());
        return made.cell();
    }

    // A block built cell by cell with the memory manager. May collect.
    static Cell block(std::initializer_list<Cell> cells) {
        std::deque<GcRoot> kept; // the cells' nodes are followed until they are in the block
        for (const Cell& c : cells) kept.emplace_back(c);
        GcRoot node(
            memory::alloc_cells(std::max<uint32_t>(static_cast<uint32_t>(cells.size()), 1)));
        for (GcRoot& c : kept) append(node, c.cell());
        return Cell{kTypeBlock, 0, node.node(), 0};
    }

    // The ASCII text of a string! from its index.
    static std::string ascii(const Cell& string) {
        memory::Buffer* b = memory::buffer(string.w2);
        std::string out;
        for (uint32_t i = string.w1; i < b->length(); ++i)
            out.push_back(
                static_cast<char>(string::get_char(b->at_head() + i * b->unit(), b->unit())));
        return out;
    }

    // A value formed or molded through its datatype into a new string on the data stack; the
    // budget the slot used goes to `used`. May collect.
    static std::string formed(const Cell& value, bool mold = false, int32_t* used = nullptr) {
        Cell* held = stack::push(value);
        Cell* text = string::make_at(stack::push_cell(), 16);
        const int32_t rest = mold ? actions::mold(held, text, {}, form_mold::kNoLimit, 0)
                                  : actions::form(held, text, nullptr, form_mold::kNoLimit);
        if (used) *used = form_mold::kNoLimit - rest;
        std::string out = ascii(*text);
        stack::pop(2);
        return out;
    }
};
