// Schemes whose actor is a table of native routines: register-scheme/native takes a handle!,
// which scripts cannot make, so these run in C++ over the started runtime.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "app/boot.h"
#include "app/init.h"
#include "datatypes/context.h"
#include "datatypes/handle.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/port.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "loading/lexer.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/support.h"
#include "runtime-core/throw.h"
#include "started-runtime.h"

namespace {

// port!'s services as the program starts: suites that build parts of the runtime replace
// them with stand-ins and clear them afterwards.
const port::Services start_up_port_services = port::services;

int cleared = 0;
void clear_routine() {
    ++cleared;
    integer::make_at(stack::arguments, 7);
}

class UrlSchemes : public testing::Test {
protected:
    static void SetUpTestSuite() {
        port::services = start_up_port_services;
        runtime::init();
        boot::load(boot::kImage, boot::kImageSize);
        boot::run_segments();
        after_full_start_up();
    }
    static void TearDownTestSuite() { release_full_runtime(); }

    static Cell* eval(const char* text) { return eval_text(text); }

    static bool raises(uint32_t category, uint32_t id, const char* text) {
        error::last_raised = error::Raised{};
        Cell* code = lexer::load_push(reinterpret_cast<const uint8_t*>(text),
                                      static_cast<uint32_t>(std::strlen(text)));
        const uint32_t thrown = runtime::catch_level(
            runtime::kThrowError, [&] { interp::status_to_error(interp::eval_block(code)); });
        runtime::reset_thrown_code();
        stack::top = code;
        return thrown == runtime::kThrowError && error::last_raised.category == category &&
               error::last_raised.id == id;
    }

    // Binds a global word to a value.
    static void set_global(const char* name, const Cell& value) {
        Cell* word = word::push_new(symbol::make(name));
        Cell* held = stack::push(value);
        context::set_word_value(context::global, word, held);
        stack::pop(2);
    }
};

TEST_F(UrlSchemes, NativeDispatchBecomesTheActorOfPortsOfTheScheme) {
    static port::NativeActorTable table;
    table.entries[action::slot::clear - port::kFirstForwardedSlot] = clear_routine;
    Cell dispatch{};
    handle::make_at(&dispatch, port::register_native_actor(&table), handle::kNone);
    set_global("dispatch", dispatch);

    eval("register-scheme/native make object! [name: 'nat title: {Native} info: none "
         "actor: none awake: none] dispatch");
    EXPECT_TRUE(logic::get(eval("same? dispatch get in select system/schemes 'nat 'actor")));
    // Ports of the scheme, made from a spec block or from a URL, take the handle as actor;
    // their actions run the table's routines, and one the table lacks is refused.
    EXPECT_TRUE(logic::get(eval("same? dispatch get in make port! [scheme: 'nat] 'actor")));
    EXPECT_EQ(integer::get(eval("clear make port! nat://host/path")), 7);
    EXPECT_EQ(cleared, 1);
    EXPECT_TRUE(
        raises(error::kAccess, error::access::no_port_action, "take make port! [scheme: 'nat]"));

    // Registering the name again, with another dispatch, keeps the first scheme.
    eval("register-scheme/native make object! [name: 'nat title: {Again} info: none "
         "actor: none awake: none] dispatch");
    EXPECT_EQ(integer::get(eval("length? system/schemes")), 2);
    EXPECT_TRUE(logic::get(eval("{Native} = get in select system/schemes 'nat 'title")));
}

} // namespace
