// Signatures: a function's spec compiled once into what its calls, its context, the callbacks
// that fill its frame and reflection read. First on specs alone, then through the evaluator's
// read access on a started runtime.
#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>

#include "app/boot.h"
#include "app/init.h"
#include "block-fixture.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/signature.h"
#include "datatypes/typeset.h"
#include "evaluator/evaluator.h"
#include "lexer-fixture.h"
#include "loading/lexer.h"
#include "started-runtime.h"

namespace {

// What a signature holds, as text: each entry (a refinement as /word #number (its argument
// count), an argument as word, its kind when not normal, its type block), each with its place
// (@ index, doc strings from, how many); then the required count, the local cells, the locals,
// return: with its place, the head's place and the attribute flags. Molding allocates: the
// view is taken again after each mold.
using Viewer = std::function<signature::View()>;
std::string describe(const Viewer& view, std::string (*mold)(const Cell&)) {
    auto place = [](const signature::Place& p) {
        auto at = [](uint32_t i) {
            return i == signature::kNowhere ? std::string("-") : std::to_string(i);
        };
        return "@" + at(p.at) + (p.docs ? " doc " + at(p.doc) + "x" + std::to_string(p.docs) : "");
    };
    std::string out;
    for (uint32_t i = 0; i < view().entries(); ++i) {
        std::string item = mold(view().entry(i).word);
        const signature::Entry e = view().entry(i);
        if (e.refinement) {
            item = "/" + item + " #" + std::to_string(e.word.w3) + " (" +
                   std::to_string(e.arguments) + ")";
        } else {
            if (e.kind == signature::Kind::lit) item += " lit";
            if (e.kind == signature::Kind::get) item += " get";
            if (cell::type(&e.type_block) == kTypeBlock) item += " " + mold(e.type_block);
        }
        out += item + " " + place(view().entry(i).place) + " | ";
    }
    out += "required " + std::to_string(view().required()) + " | local cells " +
           std::to_string(view().local_cells());
    if (view().locals()) out += " |";
    for (uint32_t i = 0; i < view().locals(); ++i) {
        const Cell c = view().local(i);
        out += " " + std::string(cell::type(&c) == kTypeRefinement ? "/" : "") + mold(c);
    }
    const Cell r = view().return_types();
    out += " | return " + (cell::type(&r) == kTypeBlock ? mold(r) + " " : "");
    out += place(view().return_place()) + " | head " + place(view().head()) + " | flags " +
           std::to_string(view().attributes());
    return out;
}

class Signature : public BlockTest {
protected:
    // A spec read from text, with the cells at the `lit` and `get` indexes made lit-words and
    // get-words. Pushed.
    static Cell* spec(const std::string& text, std::initializer_list<uint32_t> lit = {},
                      std::initializer_list<uint32_t> get = {}) {
        Cell* s = load(text);
        for (uint32_t i : lit) cell::set_type(cells(s) + i, kTypeLitWord);
        for (uint32_t i : get) cell::set_type(cells(s) + i, kTypeGetWord);
        return s;
    }
    static std::string text(const Cell& c) {
        Cell w = c;
        if (cell::type(&w) == kTypeRefinement) cell::set_type(&w, kTypeWord);
        return mold(&w);
    }
    // The signature block `compiled` (on the data stack) as text.
    static std::string describe(const Cell* compiled) {
        return ::describe([compiled] { return signature::View(compiled->w2); }, text);
    }
};

} // namespace

// Every part of a checked spec: the arguments with their kinds and type blocks, the
// refinements numbered with their arguments, the locals, return:, the attribute flags, and
// where each item and its doc strings stand.
TEST_F(Signature, EveryPartOfASpecHasItsPlace) {
    Cell* s = spec("[no-trace] \"Adds\" \"two\" a b [block!] \"b's\" c d /r \"r's\" e [integer!] "
                   "/s return: [integer!] \"the sum\" /local x y",
                   {7}, {8});
    Cell* compiled = signature::compile(s, signature::Validation::on);
    EXPECT_EQ(describe(compiled), "a @3 | b [block!] @4 doc 6x1 | c lit @7 | d get @8 | "
                                  "/r #1 (1) @9 doc 10x1 | e [integer!] @11 | /s #2 (0) @13 | "
                                  "required 4 | local cells 3 | /local x y | "
                                  "return [integer!] @14 doc 16x1 | head @0 doc 1x2 | flags 512");
    EXPECT_EQ(signature::attributes(compiled), function::kNoTraceFlag);
    const signature::View v(compiled->w2);
    // Plain words: a, b, e, x and y; after the required arguments a frame has a cell for
    // each refinement and its arguments, and the local cells.
    EXPECT_EQ(v.plain_words(), 5u);
    EXPECT_EQ(v.optional_cells(), 6u);
    // An argument without a type block takes every type but unset!; one with a type block
    // takes none until the first call reads the block.
    const Cell untyped = v.entry(0).types, typed = v.entry(1).types;
    EXPECT_TRUE(typeset::contains(&untyped, kTypeBlock));
    EXPECT_FALSE(typeset::contains(&untyped, kTypeUnset));
    EXPECT_EQ(typed.w1 | typed.w2 | typed.w3, 0u);

    // The context holds the entries' words, then the locals', in that order.
    GcRoot ctx(signature::make_context(compiled, s));
    std::string words;
    for (uint32_t i = 0; i < context::word_count(ctx.node()); ++i)
        words += (i ? " " : "") + text(context::words(ctx.node())[i]);
    EXPECT_EQ(words, "a b c d r e s local x y");
}

// A spec that is not checked (the runtime's own natives and routines) is read as a call reads
// it: a refinement or set-word after /local ends the cells a call has, and the words after it
// only join the context; another /local counts the local cells again; a set-word other than
// return: is passed over with its block.
TEST_F(Signature, UncheckedSpecsAreReadAsCallsReadThem) {
    struct Case {
        const char* spec;
        const char* description;
        uint32_t words;
    };
    const Case cases[] = {
        {"a /local b /c d",
         "a @0 | required 1 | local cells 2 | /local b /c d | return @- | "
         "head @- | flags 0",
         5},
        {"/local a /local b",
         "required 0 | local cells 2 | /local a /local b | return @- | "
         "head @- | flags 0",
         4},
        {"a other: [x] b",
         "a @0 | b @3 | required 2 | local cells 0 | return @- | head @- | "
         "flags 0",
         2},
        {"\"doc\" a [integer!] /ref \"more doc\"",
         "a [integer!] @1 | /ref #1 (0) @3 doc 4x1 | required 1 | local cells 0 | return @- | "
         "head @- doc 0x1 | flags 0",
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.spec);
        Cell* compiled = signature::compile(spec(c.spec), signature::Validation::off);
        EXPECT_EQ(describe(compiled), c.description);
        EXPECT_EQ(signature::View(compiled->w2).words(), c.words);
    }
}

// Sort's comparator, change handlers and the lexer's trace function give a function its
// arguments; the rest of its frame is absent: false for each refinement (/local too), none for
// the other cells. A function made by hand in C++, without its more block, is read from its
// spec on the spot.
TEST_F(Signature, CallbacksGetFalseForRefinementsAndNoneForTheOtherCells) {
    struct Case {
        const char* spec;
        uint32_t required;
        const char* pushed;
    };
    const Case cases[] = {
        {"a b", 2, ""},
        {"a /r b /local c", 1, "false none false none"},
        {"/r /s b c", 0, "false false none none"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.spec);
        // Read before anything allocates: the stand-in is no root.
        const Cell function{kTypeFunction, 0, spec(c.spec)->w2, 0};
        EXPECT_EQ(signature::view(&function).required(), c.required);
        const uint32_t count = signature::view(&function).optional_cells();
        Cell* const base = stack::top;
        signature::push_optional(&function);
        EXPECT_EQ(static_cast<uint32_t>(stack::top - base), count);
        std::string pushed;
        for (Cell* p = base; p < stack::top; ++p) pushed += (p > base ? " " : "") + mold(p);
        EXPECT_EQ(pushed, c.pushed);
        stack::top = base;
    }
}

namespace {

// The whole runtime: the signatures the layers above read through the evaluator.
class SignatureOf : public testing::Test {
protected:
    static void SetUpTestSuite() {
        runtime::init();
        boot::run();
        after_full_start_up();
    }
    // The suites after this one start from an empty runtime: nothing may name the old one.
    static void TearDownTestSuite() { release_full_runtime(); }
    void SetUp() override { base_ = stack::top; }
    void TearDown() override { stack::top = base_; }

    // Evaluates a text; false when an error ends it.
    static bool run(const std::string& text) {
        const uint32_t code = runtime::catch_level(runtime::kThrowError, [&] {
            Cell* block = lexer::load_push(reinterpret_cast<const uint8_t*>(text.data()),
                                           static_cast<uint32_t>(text.size()));
            interp::status_to_error(interp::eval_block(block));
        });
        runtime::reset_thrown_code();
        return code != runtime::kThrowError;
    }
    // A global word's value, on the data stack.
    static Cell* global(const char* name) {
        return stack::push(*context::value_cell(symbol::make(name), context::global));
    }
    static std::string text(const Cell& c) {
        Cell w = c;
        if (cell::type(&w) == kTypeRefinement) cell::set_type(&w, kTypeWord);
        return LexerTest::molded(w);
    }
    // The signature of a function value on the data stack as text.
    static std::string describe(const Cell* function) {
        return ::describe([function] { return interp::signature_of(function); }, text);
    }
    // Whether the argument entry `i` of a function's signature takes integer!, string!.
    static std::string takes(const char* function, uint32_t i) {
        const signature::View v = interp::signature_of(global(function));
        const Cell types = v.entry(i).types;
        return std::to_string(typeset::contains(&types, kTypeInteger)) + " " +
               std::to_string(typeset::contains(&types, kTypeString));
    }

private:
    Cell* base_ = nullptr;
};

} // namespace

// func's spec, as the help system and a debugger will read it; its types resolved.
TEST_F(SignatureOf, AFunctionShowsEachPartOfItsSpec) {
    ASSERT_TRUE(run("sum: func [[trace] \"Adds\" a [integer! string!] \"first\" 'b /twice "
                    "c [block!] return: [integer!] /local x] [a]"));
    EXPECT_EQ(describe(global("sum")),
              "a [integer! string!] @2 doc 4x1 | b lit @5 | /twice #1 (1) @6 | c [block!] @7 | "
              "required 2 | local cells 2 | /local x | return [integer!] @9 | "
              "head @0 doc 1x1 | flags 1024");
    EXPECT_EQ(takes("sum", 0), "1 1");
    EXPECT_EQ(takes("sum", 3), "0 0");
}

// The types of a type block are read once, when the first call (or signature_of) needs them,
// from the values its words have then.
TEST_F(SignatureOf, TypeWordsAreReadOnceWhenFirstNeeded) {
    ASSERT_TRUE(run("t: integer! f: func [x [t]] [x] t: string!"));
    EXPECT_EQ(takes("f", 0), "0 1");
    ASSERT_TRUE(run("t: integer!"));
    EXPECT_EQ(takes("f", 0), "0 1");
    EXPECT_TRUE(run("f \"s\""));
    EXPECT_FALSE(run("f 1"));
}

// The runtime's own functions: a routine with its doc strings, an operator as the function it
// was made from.
TEST_F(SignatureOf, RoutinesAndOperators) {
    EXPECT_EQ(describe(global("quit-return")),
              "status [integer!] @1 doc 3x1 | required 1 | local cells 0 | return @- | "
              "head @- doc 0x1 | flags 0");
    const signature::View plus = interp::signature_of(global("+"));
    EXPECT_EQ(plus.entries(), 2u);
    EXPECT_EQ(plus.required(), 2u);
}
