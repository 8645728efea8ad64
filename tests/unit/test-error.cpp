#include "object-fixture.h"

namespace {

class Error : public ObjectTest {
protected:
    static Cell* make_error(const Cell* spec) {
        Cell* prototype = datatype::push(kTypeError);
        Cell* s = stack::push(*spec);
        return error::make(prototype, s, kTypeError);
    }
    static Cell* make_error(const std::string& text) {
        return make_error(block::cell_at(load(text), 0));
    }
    static int32_t code_of(const Cell* e) {
        return static_cast<int32_t>(error::field(e, error::kCode)->w2);
    }
    static std::string id_of(const Cell* e) {
        const std::string type = mold(error::get_type(e));
        return type + "/" + mold(error::get_id(e));
    }
    // The stub of the interpreter's call hooks: the spec of the current call and its trace.
    // The spec's node is held through a root the test owns: the node moves when a cycle
    // evacuates its frame, and the hook must give its present id.
    static GcRoot*& current_spec() {
        static GcRoot* spec = nullptr;
        return spec;
    }
    static uint32_t spec_hook() { return current_spec() ? current_spec()->node() : 0; }
    static void trace_hook(const Cell* block, int32_t frame, int32_t levels) {
        for (int32_t i = 0; i < levels; ++i) {
            const Cell w = word(i == 0 ? "inner" : "outer");
            block::append_copy(block, &w);
        }
        Cell n = integer(frame);
        block::append_copy(block, &n);
    }
    static inline const error::Calls hooks{spec_hook, trace_hook};
};

TEST_F(Error, CatalogueCodesAndTitles) {
    struct Case {
        uint32_t category, id;
        int32_t code;
        const char* words;
    } cases[] = {
        {error::kThrow, error::throw_::break_, 0, "throw/break"},
        {error::kThrow, error::throw_::while_cond, 4, "throw/while-cond"},
        {error::kNote, error::note::no_load, 100, "note/no-load"},
        {error::kSyntax, error::syntax::bad_char, 206, "syntax/bad-char"},
        {error::kScript, error::script::no_value, 300, "script/no-value"},
        {error::kScript, error::script::invalid_type, 310, "script/invalid-type"},
        {error::kScript, error::script::zb_invalid_record, 393, "script/zb-invalid-record"},
        {error::kMath, error::math::zero_divide, 400, "math/zero-divide"},
        {error::kAccess, error::access::invalid_cmd, 514, "access/invalid-cmd"},
        {error::kUser, error::user::message, 800, "user/message"},
        {error::kInternal, error::internal::no_memory, 902, "internal/no-memory"},
        {error::kInternal, error::internal::deprecated, 913, "internal/deprecated"},
    };
    for (const Case& c : cases) {
        Cell* e = error::create(c.category, c.id);
        EXPECT_EQ(code_of(e), c.code) << c.words;
        EXPECT_EQ(id_of(e), c.words);
        stack::clear();
    }
    const char* titles[] = {"Throw Error", "note",          "Syntax Error",    "Script Error",
                            "Math Error",  "Access Error",  "Reserved1 Error", "Reserved2 Error",
                            "User Error",  "Internal Error"};
    for (uint32_t i = 0; i < error::kCategoryCount; ++i) {
        ASSERT_NE(catalog::category(i), nullptr);
        GcRoot category(*catalog::category(i));
        EXPECT_EQ(field(&category.cell(), "code"), std::to_string(i * 100));
        EXPECT_EQ(field(&category.cell(), "type"), std::string("\"") + titles[i] + "\"");
    }
    // Every id of the table is a field at its position, with a template.
    const uint32_t ends[] = {error::throw_::kEnd,    error::note::kEnd,      error::syntax::kEnd,
                             error::script::kEnd,    error::math::kEnd,      error::access::kEnd,
                             error::reserved1::kEnd, error::reserved2::kEnd, error::user::kEnd,
                             error::internal::kEnd};
    for (uint32_t i = 0; i < error::kCategoryCount; ++i) {
        const Cell* category = catalog::category(i);
        EXPECT_EQ(object::field_count(category), ends[i]) << i;
        for (uint32_t id = 2; id < ends[i]; ++id) {
            EXPECT_EQ(symbol::text(object::word_at(category->w1, id)->w2), catalog::id_name(i, id));
            const uint8_t t = cell::type(context::slot(category->w1, static_cast<int32_t>(id)));
            EXPECT_TRUE(t == kTypeString || t == kTypeBlock) << catalog::id_name(i, id);
        }
    }
    EXPECT_EQ(field(catalog::category(error::kScript), "no-value"), "[:arg1 \"has no value\"]");
    EXPECT_EQ(field(catalog::category(error::kInternal), "bad-path"), "[\"bad path:\" arg1]");
}

TEST_F(Error, FormLayout) {
    Cell* e = make_error("[math zero-divide]");
    EXPECT_EQ(code_of(e), 400);
    EXPECT_EQ(form(e),
              "*** Math Error: attempt to divide by zero\n*** Where: ???\n*** Near : none");
    error::get_where(e, stack::push(word("divide")));
    error::get_where(e, stack::push(word("other")));
    Cell* near = load("1 / 0 print \"a long text that goes past the cut\"");
    *error::field(e, error::kNear) = *near;
    EXPECT_EQ(form(e), "*** Math Error: attempt to divide by zero\n*** Where: divide\n*** Near : "
                       "1 / 0 print \"a long text that goes past ");

    // Arguments: molded into the template with one blank between the parts.
    Cell* x = stack::push(word("x"));
    Cell* no_value = error::create(error::kScript, error::script::no_value, {x});
    EXPECT_EQ(form(no_value).substr(0, 33), "*** Script Error: x has no value\n");
    Cell* text = push_string("abc");
    Cell* expect = error::create(error::kScript, error::script::expect_arg, {x, text, x});
    EXPECT_EQ(form(expect).substr(0, 59),
              "*** Script Error: x does not allow \"abc\" for its x argument");
    // A syntax error forms its arguments.
    Cell* bad = error::create(error::kSyntax, error::syntax::invalid, {x, text, x});
    EXPECT_EQ(form(bad).substr(0, 36), "*** Syntax Error: x invalid abc at x");
}

TEST_F(Error, FormStackAndFilesLines) {
    error::set_calls(&hooks);
    Cell* e = make_error("[math overflow]");
    *error::field(e, error::kStack) = integer(7);
    EXPECT_EQ(form(e), "*** Math Error: math or number overflow\n*** Where: ???\n*** Near : "
                       "none\n*** Stack: inner 7");
    *error::field(e, error::kFiles) = *load("%a.zan");
    const std::string text = form(e);
    EXPECT_EQ(text.substr(text.size() - 18), "\n*** Files: %a.zan");
}

TEST_F(Error, FormFallsBackForUnknownWords) {
    Cell* e = make_error("[math zero-divide]");
    *error::field(e, error::kId) = word("nonsense");
    EXPECT_EQ(form(e).substr(0, 63),
              "*** Internal Error: invalid error object field value: nonsense\n");
}

TEST_F(Error, MakeFromCodesBlocksAndStrings) {
    EXPECT_EQ(id_of(make_error("300")), "script/no-value");
    EXPECT_EQ(id_of(make_error("400")), "math/zero-divide");
    Cell* user = make_error(push_string("boom"));
    EXPECT_EQ(code_of(user), 800);
    EXPECT_EQ(id_of(user), "user/message");
    EXPECT_EQ(mold(error::field(user, error::kArg1)), "\"boom\"");
    EXPECT_EQ(form(user).substr(0, 23), "*** User Error: \"boom\"\n");

    struct Case {
        const char* spec;
        uint32_t category, id;
    } errors[] = {
        {"399", error::kScript, error::script::out_of_range},
        {"-1", error::kScript, error::script::out_of_range},
        {"1000", error::kScript, error::script::out_of_range},
        {"[nothing zero-divide]", error::kScript, error::script::invalid_spec_field},
        {"[math nothing]", error::kScript, error::script::invalid_spec_field},
        {"[math]", error::kScript, error::script::invalid_spec_field},
        {"[math 5]", error::kScript, error::script::invalid_arg},
        {"[1 2]", error::kInternal, error::internal::invalid_error},
        {"none", error::kScript, error::script::bad_make_arg},
    };
    for (const Case& c : errors) {
        EXPECT_TRUE(raises(c.category, c.id, [&] { make_error(c.spec); })) << c.spec;
        stack::clear();
    }
}

TEST_F(Error, MakeFromAnObjectSpec) {
    Cell* e = make_error("[type: math id: overflow]");
    EXPECT_EQ(code_of(e), 401);
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_spec_field,
                       [&] { make_error("[type: math id: zzz]"); }));
}

TEST_F(Error, IdAddedAtRunTimeGetsTheNextCode) {
    GcRoot math(*catalog::category(error::kMath));
    Cell* w = stack::push(word("new-one"));
    Cell* text = push_string("a new math error");
    context::set_word_value(math.cell().w1, w, text);
    Cell* e = make_error("[math new-one]");
    EXPECT_EQ(code_of(e), 403);
    EXPECT_EQ(form(e).substr(0, 32), "*** Math Error: a new math error");
    EXPECT_EQ(id_of(make_error("403")), "math/new-one");
}

TEST_F(Error, MoldWritesTheFields) {
    Cell* e = make_error("[math zero-divide]");
    EXPECT_EQ(mold(e, false, true),
              "make error! [code: 400 type: 'math id: 'zero-divide arg1: none arg2: none arg3: "
              "none near: none where: none stack: none files: none]");
    EXPECT_EQ(error::compare(e, make_error("[math zero-divide]"), action::op::equal), 0);
    GcRoot o(*make_object("a: 1"));
    EXPECT_EQ(error::compare(e, &o.cell(), action::op::equal), action::kNotComparable);
}

TEST_F(Error, CallNameAndTrace) {
    EXPECT_EQ(mold(error::get_call_name(0)), "none");
    error::set_calls(&hooks);
    GcRoot spec(load("\"doc\" value [integer!] /only count")->w2);
    current_spec() = &spec;
    EXPECT_EQ(mold(error::get_call_name(0)), "value");
    EXPECT_EQ(mold(error::get_call_name(1)), "only");
    EXPECT_EQ(mold(error::get_call_name(2)), "count");
    EXPECT_EQ(mold(error::get_call_name(3)), "none");

    Cell* e = make_error("[math zero-divide]");
    *error::field(e, error::kStack) = integer(4);
    GcRoot file(*block::cell_at(load("%s.zan"), 0));
    GcRoot files(
        *system_object::field({system_object::symbol.state, system_object::symbol.source_files}));
    block::append_copy(&files.cell(), &file.cell());
    error::set_trace(e);
    EXPECT_EQ(mold(error::field(e, error::kStack)), "[inner 4]");
    EXPECT_EQ(mold(error::field(e, error::kFiles)), "[%s.zan]");
    current_spec() = nullptr;
}

TEST_F(Error, CreateFromWhatFireRecorded) {
    Cell* x = stack::push(word("x"));
    EXPECT_TRUE(raises(error::kScript, error::script::no_value,
                       [&] { error::fire(error::kScript, error::script::no_value, {x}); }));
    Cell* e = error::create(error::last_raised);
    EXPECT_EQ(code_of(e), 300);
    EXPECT_EQ(mold(error::field(e, error::kArg1)), "x");
}

TEST_F(Error, PathsReadFields) {
    Cell* e = make_error("[math zero-divide]");
    Cell* code = stack::push(word("code"));
    Cell* path = none::push();
    EXPECT_EQ(mold(error::eval_path(e, code, nullptr, {.path = path, .position = 1, .tail = true})),
              "400");
}

} // namespace
