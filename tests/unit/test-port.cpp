#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/handle.h"
#include "evaluator/actions.h"
#include "runtime-core/error-ids.h"
#include "types2-fixture.h"

namespace {

// A stand-in for the object! and interpreter side: the port's actor is one of two cells, and
// the actor's functions are the names in `functions`; every call is recorded with the formed
// arguments after the port.
struct FakeActor {
    static inline Cell actor{};
    static inline std::vector<std::string> functions;
    static inline std::vector<std::string> calls;
    static inline int32_t length = 0;

    static const Cell* field(const Cell*, port::Field f) {
        return f == port::kActor ? &actor : &none::value;
    }
    static bool call(const Cell*, uint32_t symbol, const Cell* arguments, uint32_t count,
                     Cell* result) {
        const std::string name(symbol::text(symbol));
        if (std::find(functions.begin(), functions.end(), name) == functions.end()) return false;
        EXPECT_EQ(cell::type(&arguments[0]), kTypePort);
        std::string call = name;
        for (uint32_t i = 1; i < count; ++i) {
            const uint8_t t = cell::type(&arguments[i]);
            call += " ";
            call += t == kTypeLogic     ? (logic::get(&arguments[i]) ? "true" : "false")
                    : t == kTypeNone    ? "none"
                    : t == kTypeInteger ? std::to_string(integer::get(&arguments[i]))
                    : t == kTypeString  ? "\"" + string::utf8_from_index(&arguments[i]) + "\""
                                        : "?";
        }
        calls.push_back(call);
        if (name == "length?")
            integer::make_at(result, length);
        else if (name == "copy")
            string::text_at(result, kTypeString, "data", 4);
        else
            logic::make_at(result, true);
        return true;
    }
};

class Port : public Types2Test {
protected:
    void SetUp() override {
        Types2Test::SetUp();
        FakeActor::actor = Cell{kTypeObject, 0, 0, 0};
        FakeActor::functions = {"clear", "length?", "swap",   "open", "copy",
                                "close", "insert",  "append", "find", "at"};
        FakeActor::calls.clear();
        port::services.field = FakeActor::field;
        port::services.call = FakeActor::call;
    }
    static Cell a_port() { return Cell{kTypePort, 0, 0, 0}; }
};

TEST_F(Port, ForwardsToTheActor) {
    Cell p = a_port();
    FakeActor::length = 42;
    EXPECT_EQ(port::length_q(&p), 42);
    GcRoot other(text(kTypeString, "xy"));
    Cell* r = port::swap(&p, &other.cell());
    EXPECT_EQ(cell::type(r), kTypeLogic);
    p = a_port();
    port::clear(&p);
    GcRoot value(text(kTypeString, "v"));
    p = a_port();
    port::append(&p, &value.cell(), {.part = 2, .only = true, .dup = 3, .append = true});
    p = a_port();
    port::append(&p, &value.cell(), {.append = true});
    Cell part = int_value(5);
    p = a_port();
    port::find(&p, &value.cell(), {.part = &part, .case_ = true, .last = true});
    stack::clear();
    stack::push(a_port());
    stack::push(int_value(3));
    port::at();
    const std::vector<std::string> expected = {
        "length?",
        "swap \"xy\"",
        "clear",
        "append \"v\" true 2 true true 3",
        "append \"v\" false none false false none",
        "find \"v\" true 5 false true false false false none false none true false false false",
        "at 3",
    };
    EXPECT_EQ(FakeActor::calls, expected);
}

TEST_F(Port, ReadAndWriteOpenCopyAndClose) {
    Cell p = a_port();
    Cell* r = port::read(&p, {});
    EXPECT_EQ(utf8_of(*r), "data");
    GcRoot data(text(kTypeString, "hello"));
    Cell part = int_value(2);
    p = a_port();
    port::write(&p, &data.cell(), {.part = &part});
    const std::vector<std::string> expected = {
        "open false false false false none",
        "copy false none false false none",
        "close",
        "open false false true false none",
        "insert \"hello\" true 2 false false none",
        "copy false none false false none",
        "close",
    };
    EXPECT_EQ(FakeActor::calls, expected);
}

TEST_F(Port, Errors) {
    Cell p = a_port();
    FakeActor::functions = {};
    EXPECT_TRUE(raises(error::kAccess, error::access::no_port_action, [&] { port::clear(&p); }));
    EXPECT_EQ(cell::type(&p), kTypePort); // unchanged
    FakeActor::actor = Cell{kTypeNone, 0, 0, 0};
    EXPECT_TRUE(raises(error::kAccess, error::access::invalid_port, [&] { port::clear(&p); }));
    // Making ports needs objects and system/schemes.
    port::services = {};
    Cell spec = int_value(1);
    EXPECT_TRUE(raises(error::kInternal, error::internal::not_done,
                       [&] { port::make(&p, &spec, kTypePort); }));
}

namespace native {
int called = 0;
void clear_routine() {
    ++called;
    integer::make_at(stack::arguments, 7);
}
} // namespace native

TEST_F(Port, HandleActorsRunTheirNativeRoutines) {
    static port::NativeActorTable table;
    table.entries[action::slot::clear - port::kFirstForwardedSlot] = native::clear_routine;
    const uint32_t handle = port::register_native_actor(&table);
    // The table's index is the handle's value; its class says nothing here.
    handle::make_at(&FakeActor::actor, handle, handle::kWindow);
    Cell p = a_port();
    Cell* r = port::clear(&p);
    EXPECT_EQ(native::called, 1);
    EXPECT_EQ(integer::get(r), 7);
    // The action dispatcher takes the same route: clear on a port with a handle! actor.
    stack::clear();
    stack::push(a_port());
    const int32_t no_refinements[1] = {-1};
    actions::entry(action::slot::clear)(no_refinements);
    EXPECT_EQ(native::called, 2);
    EXPECT_EQ(integer::get(stack::arguments), 7);
    stack::clear();
    stack::push(a_port());
    EXPECT_TRUE(raises(error::kAccess, error::access::no_port_action,
                       [&] { actions::entry(action::slot::tail_q)(no_refinements); }));
    EXPECT_EQ(port::native_entry(&FakeActor::actor, action::slot::clear), native::clear_routine);
    EXPECT_TRUE(raises(error::kAccess, error::access::no_port_action,
                       [&] { port::native_entry(&FakeActor::actor, action::slot::take); }));
}

} // namespace
