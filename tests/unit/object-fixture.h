// Objects, errors and typesets for tests: the block fixture's runtime with object!, typeset!
// and error! registered, the standard typeset words, the system object with the error
// catalogue, and a stub of the evaluator's hooks.
//
// The stub evaluates an object spec as pairs of a set-word and a literal value; the word
// `handler` stands for the function in handler_function(). A handler call is logged as its
// frame name, then each argument molded, then the value of the field named by its first
// argument as the object holds it during the call.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "block-fixture.h"
#include "datatypes/action.h"
#include "datatypes/catalog.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/object.h"
#include "datatypes/path.h"
#include "datatypes/typeset.h"
#include "library/system-object.h"
#include "runtime-core/type-traits.h"

class ObjectTest : public BlockTest {
protected:
    void SetUp() override {
        BlockTest::SetUp();
        path::register_actions();
        register_function_stub();
        object::register_actions();
        typeset::register_actions();
        error::register_actions();
        root::boot_flag = 1;
        typeset::make_standard_words();
        system_object::init();
        root::boot_flag = 0;
        object::set_evaluator(&stub);
        calls().clear();
        handler().set_cell(none::value);
        stack::clear();
    }
    void TearDown() override {
        object::set_evaluator(nullptr);
        error::set_calls(nullptr);
        context::set_change_hook(nullptr);
        handler().set_cell(none::value);
        system_object::symbol = {};
        BlockTest::TearDown();
    }

    // --- The evaluator stub ----------------------------------------------------------------

    static std::vector<std::string>& calls() {
        static std::vector<std::string> log;
        return log;
    }
    static GcRoot& handler() {
        static GcRoot cell(none::value);
        return cell;
    }
    // A function! over a spec block read from text, kept as the stub's `handler`.
    static void make_handler(const std::string& spec) {
        Cell* s = load(spec);
        handler().set_cell(Cell{kTypeFunction, 0, s->w2, 0});
        stack::pop(1);
    }

    static void do_block(const Cell* block) {
        GcRoot b(*block);
        for (int32_t i = 0; i + 1 < block::length_from_index(&b.cell()); i += 2) {
            Cell* w = block::cell_at(&b.cell(), b.cell().w1 + i);
            Cell v = *block::cell_at(&b.cell(), b.cell().w1 + i + 1);
            if (cell::type(&v) == kTypeWord && symbol::text(v.w2) == "handler")
                v = handler().cell();
            GcRoot word(*w), value(v);
            context::set_word(&word.cell(), &value.cell());
        }
    }
    static void call_handler(const Cell*, const Cell* name, uint32_t context, int32_t) {
        GcRoot ctx(context); // molding the arguments allocates and may move the context's node
        std::string line = symbol::text(name->w2).data();
        for (Cell* a = stack::arguments + 1; a < stack::top; ++a) line += " " + mold(a);
        const Cell* first = stack::arguments + 1;
        if (traits::is_all_word(cell::type(first))) {
            Cell owner = *context::owner_of(ctx.node());
            line += " | " + mold(object::select_word(&owner, first));
        }
        calls().push_back(line);
        *stack::arguments = none_value();
    }
    static inline const object::Evaluator stub{do_block, call_handler, nullptr};

    // function! as far as these tests need it: a value that molds as "func".
    static int32_t mold_function(Cell*, Cell* string, const action::MoldOptions&, int32_t limit,
                                 int32_t) {
        string::concatenate_cstring(string, "func");
        return limit - 4;
    }
    static void register_function_stub() {
        action::Row row;
        row.set<action::slot::mold>(mold_function);
        datatype::register_({kTypeFunction, 0, "function!", row.entries()});
    }

    // mold and form of a copy of the value taken before anything allocates, so that a value
    // read from a buffer (a field) may be given under collection.
    static std::string mold(const Cell* value, bool only = false, bool flat = false,
                            bool all = false) {
        GcRoot copy(*value);
        return BlockTest::mold(&copy.cell(), only, flat, all);
    }
    static std::string form(const Cell* value) {
        GcRoot copy(*value);
        return BlockTest::form(&copy.cell());
    }

    // --- Making values ---------------------------------------------------------------------

    // make object! from a spec read from text; pushed.
    static Cell* make_object(const std::string& spec) {
        Cell* s = load(spec);
        Cell* prototype = datatype::push(kTypeObject);
        return object::make(prototype, s, kTypeObject);
    }
    // make of a prototype object with a spec read from text; pushed.
    static Cell* derive(const Cell* prototype, const std::string& spec) {
        Cell* p = stack::push(*prototype);
        Cell* s = load(spec);
        return object::make(p, s, kTypeObject);
    }
    // The value of a field, molded.
    static std::string field(const Cell* object, const std::string& name) {
        GcRoot o(*object);
        const Cell w = word(name);
        return mold(object::select_word(&o.cell(), &w));
    }
};
