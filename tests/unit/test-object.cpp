#include "object-fixture.h"

namespace {

class Object : public ObjectTest {};

TEST_F(Object, MakeGivesClassIdsByPrototypeAndAddedWords) {
    GcRoot proto(*make_object("a: 1"));
    const int32_t id = static_cast<int32_t>(proto.cell().w2);
    EXPECT_GT(id, object::kFirstClassId);
    EXPECT_EQ(static_cast<int32_t>(derive(&proto.cell(), "a: 2")->w2), id);
    Cell* wider = derive(&proto.cell(), "b: 2");
    EXPECT_GT(static_cast<int32_t>(wider->w2), id);
    EXPECT_EQ(field(wider, "a"), "1");
    EXPECT_EQ(field(wider, "b"), "2");
    // Evaluated spec: values in the object, the touched flags cleared.
    Cell* reflected = stack::push(*wider);
    object::reflect(reflected, static_cast<int32_t>(words::word.changed->w2));
    EXPECT_EQ(mold(reflected), "[]");
}

TEST_F(Object, DerivedObjectHoldsDeepCopiesBoundToItself) {
    GcRoot proto(*make_object("b: [x [y]]"));
    Cell* child = derive(&proto.cell(), "");
    const Cell* mine = object::select_word(child, stack::push(word("b")));
    const Cell* theirs = object::select_word(&proto.cell(), stack::push(word("b")));
    EXPECT_NE(mine->w2, theirs->w2);
    EXPECT_NE(block::cell_at(mine, 1)->w2, block::cell_at(theirs, 1)->w2);
    EXPECT_EQ(mold(mine), "[x [y]]");
}

TEST_F(Object, BadSpecIsMalconstruct) {
    Cell* prototype = datatype::push(kTypeObject);
    Cell* spec = stack::push(integer(5));
    EXPECT_TRUE(raises(error::kSyntax, error::syntax::malconstruct,
                       [&] { object::make(prototype, spec, kTypeObject); }));
}

TEST_F(Object, MoldAndForm) {
    GcRoot o(*make_object("a: 1 b: [x]"));
    EXPECT_EQ(mold(&o.cell()), "make object! [\n    a: 1\n    b: [x]\n]");
    EXPECT_EQ(mold(&o.cell(), false, true), "make object! [a: 1 b: [x]]");
    EXPECT_EQ(mold(&o.cell(), true), "a: 1\nb: [x]");
    EXPECT_EQ(form(&o.cell()), "a: 1\nb: [x]");

    GcRoot empty(*make_object(""));
    EXPECT_EQ(mold(&empty.cell()), "make object! []");
    EXPECT_EQ(form(&empty.cell()), "");

    // A word value reads back as the word.
    GcRoot q(*make_object("a: 1"));
    const Cell lit = word("b");
    object::select_word(&q.cell(), stack::push(word("a")))[0] = lit;
    EXPECT_EQ(mold(&q.cell(), false, true), "make object! [a: 'b]");

    // Nested objects indent by level; an object inside itself is cut short.
    GcRoot outer(*make_object("inner: none"));
    *object::select_word(&outer.cell(), stack::push(word("inner"))) = outer.cell();
    EXPECT_EQ(mold(&outer.cell()), "make object! [\n    inner: make object! [...]\n]");
    GcRoot nested(*make_object("x: none"));
    *object::select_word(&nested.cell(), stack::push(word("x"))) = o.cell();
    EXPECT_EQ(mold(&nested.cell()),
              "make object! [\n    x: make object! [\n        a: 1\n        b: [x]\n    ]\n]");
}

TEST_F(Object, MoldAllShowsTheHandlers) {
    make_handler("w o n");
    GcRoot o(*make_object("a: 1 on-change*: handler"));
    EXPECT_EQ(mold(&o.cell(), false, true), "make object! [a: 1]");
    EXPECT_EQ(mold(&o.cell(), false, true, true), "make object! [a: 1 on-change*: func]");
}

TEST_F(Object, ConstructConvertsWordsUnlessOnly) {
    Cell* spec = load("a: b: 1 c: yes d: none e: f g:");
    GcRoot s(*spec);
    Cell* o = object::make_from_block(&s.cell(), nullptr, false);
    EXPECT_EQ(mold(o, false, true), "make object! [a: 1 b: 1 c: true d: none e: 'f g: none]");
    Cell* only = object::make_from_block(&s.cell(), nullptr, true);
    EXPECT_EQ(field(only, "c"), "yes");
    EXPECT_EQ(cell::type(object::select_word(only, stack::push(word("c")))), kTypeWord);
}

TEST_F(Object, SetValues) {
    struct Case {
        const char* values;
        bool any, only, some;
        const char* expected;
    } cases[] = {
        {"1 2", false, false, false, "make object! [a: 1 b: 2 c: none]"},
        {"none 5 6", false, false, true, "make object! [a: 0 b: 5 c: 6]"},
        {"[7]", false, true, false, "make object! [a: [7] b: [7] c: [7]]"},
    };
    for (const Case& c : cases) {
        GcRoot o(*make_object("a: 0 b: 0 c: 0"));
        Cell* v = load(c.values);
        if (c.only) v = block::cell_at(v, 0);
        object::set_values(&o.cell(), v, {.any = c.any, .only = c.only, .some = c.some});
        EXPECT_EQ(mold(&o.cell(), false, true), c.expected) << c.values;
    }
    GcRoot o(*make_object("a: 0"));
    Cell* unset_block = block::push_new(1);
    const Cell nothing{kTypeUnset, 0, 0, 0};
    block::append_copy(unset_block, &nothing);
    EXPECT_TRUE(raises(error::kScript, error::script::need_value,
                       [&] { object::set_values(&o.cell(), unset_block, {}); }));
    object::set_values(&o.cell(), unset_block, {.any = true});
    EXPECT_EQ(cell::type(object::select_word(&o.cell(), stack::push(word("a")))), kTypeUnset);
}

TEST_F(Object, PathAccess) {
    GcRoot o(*make_object("a: 1"));
    Cell* path = load("o x y");
    Cell* a = stack::push(word("a"));
    Cell* x = stack::push(word("x"));
    auto step = [&](Cell* element, Cell* value, bool get, bool tail) {
        return object::eval_path(&o.cell(), element, value,
                                 {.path = path, .position = 1, .get = get, .tail = tail});
    };
    EXPECT_EQ(mold(step(a, nullptr, false, true)), "1");
    // The element keeps the field's index and binding for the next evaluation.
    EXPECT_EQ(a->w1, o.cell().w1);
    EXPECT_EQ(a->w3, 0u);
    Cell* two = stack::push(integer(2));
    step(a, two, false, true);
    EXPECT_EQ(field(&o.cell(), "a"), "2");

    EXPECT_TRUE(raises(error::kScript, error::script::invalid_path,
                       [&] { step(x, nullptr, false, true); }));
    EXPECT_EQ(cell::type(step(x, nullptr, true, true)), kTypeUnset);
    EXPECT_TRUE(
        raises(error::kScript, error::script::unset_path, [&] { step(x, nullptr, false, false); }));
    Cell* number = stack::push(integer(1));
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_path,
                       [&] { step(number, nullptr, false, true); }));
}

TEST_F(Object, SelectPutCopy) {
    GcRoot o(*make_object("a: [1] b: 2"));
    Cell* a = stack::push(word("a"));
    EXPECT_EQ(mold(object::select(&o.cell(), a, {})), "[1]");
    Cell* missing = stack::push(word("zz"));
    EXPECT_EQ(mold(object::select(&o.cell(), missing, {})), "none");
    Cell* one = stack::push(integer(1));
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_type,
                       [&] { object::select(&o.cell(), one, {}); }));
    Cell* nine = stack::push(integer(9));
    object::put(&o.cell(), stack::push(word("b")), nine, {});
    EXPECT_EQ(field(&o.cell(), "b"), "9");
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_key_type,
                       [&] { object::put(&o.cell(), one, nine, {}); }));
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_path,
                       [&] { object::put(&o.cell(), missing, nine, {}); }));

    Cell* shallow = object::copy(&o.cell(), stack::push_cell(), {});
    Cell* deep = object::copy(&o.cell(), stack::push_cell(), {.deep = true});
    const uint32_t node = object::select_word(&o.cell(), a)->w2;
    EXPECT_EQ(object::select_word(shallow, a)->w2, node);
    EXPECT_NE(object::select_word(deep, a)->w2, node);
    EXPECT_EQ(shallow->w2, o.cell().w2);
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_refine_arg,
                       [&] { object::copy(&o.cell(), stack::push_cell(), {.part = one}); }));
}

TEST_F(Object, OnChangeSeesTheStoredValue) {
    make_handler("w o n");
    GcRoot o(*make_object("a: 1 on-change*: handler"));
    EXPECT_NE(o.cell().w3, 0u);
    Cell* a = stack::push(word("a"));
    Cell* two = stack::push(integer(2));
    object::eval_path(&o.cell(), a, two, {.path = none::push(), .position = 1, .tail = true});
    ASSERT_EQ(calls().size(), 1u);
    EXPECT_EQ(calls()[0], "on-change* a 1 2 | 2");

    // A set-word bound to the object goes through the same handler.
    calls().clear();
    Cell* bound = stack::push(word("a", kTypeSetWord));
    context::bind_word(o.cell().w1, bound);
    Cell* three = stack::push(integer(3));
    context::set_word(bound, three);
    ASSERT_EQ(calls().size(), 1u);
    EXPECT_EQ(calls()[0], "on-change* a 2 3 | 3");

    // set passes over the handler field and fires for the others.
    calls().clear();
    object::set_values(&o.cell(), stack::push(integer(7)), {});
    ASSERT_EQ(calls().size(), 1u);
    EXPECT_EQ(calls()[0], "on-change* a 3 7 | 7");
    EXPECT_EQ(cell::type(object::select_word(&o.cell(), stack::push(word("on-change*")))),
              kTypeFunction);
}

TEST_F(Object, ReplacedHandlerIsRecountedAndPassedItsLocals) {
    make_handler("w o n");
    GcRoot o(*make_object("a: 1 on-change*: handler"));
    make_handler("w o n /local x y");
    *object::select_word(&o.cell(), stack::push(word("on-change*"))) = handler().cell();
    object::fire_on_change(&o.cell(), stack::push(word("a")), stack::push(integer(1)),
                           stack::push(integer(1)));
    ASSERT_EQ(calls().size(), 1u);
    EXPECT_EQ(calls()[0], "on-change* a 1 1 false none none | 1");
    EXPECT_EQ(memory::buffer(o.cell().w3)->cells()[0].w2 & 0xFFFF, 3u);
}

TEST_F(Object, HandlerFieldsMustHoldFunctions) {
    EXPECT_TRUE(raises(error::kScript, error::script::bad_field_set,
                       [&] { make_object("on-change*: none"); }));
    make_handler("w o n");
    GcRoot o(*make_object("a: 1 on-change*: handler"));
    *object::select_word(&o.cell(), stack::push(word("on-change*"))) = integer(5);
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_obj_evt, [&] {
        object::fire_on_change(&o.cell(), stack::push(word("a")), stack::push(integer(1)),
                               stack::push(integer(2)));
    }));
    GcRoot plain(*make_object("a: 1"));
    EXPECT_EQ(plain.cell().w3, 0u);
    EXPECT_FALSE(object::has_deep_change_handler(&plain.cell()));
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_obj_evt, [&] {
        object::fire_on_deep_change(&plain.cell(), stack::push(word("a")), &plain.cell(),
                                    words::word.append, nullptr, 0, 1);
    }));
}

TEST_F(Object, OnDeepChangeGetsSevenArguments) {
    make_handler("owner word target action new index part");
    GcRoot o(*make_object("list: [1 2] on-deep-change*: handler"));
    EXPECT_TRUE(object::has_deep_change_handler(&o.cell()));
    GcRoot list(*object::select_word(&o.cell(), stack::push(word("list"))));
    Cell* three = stack::push(integer(3));
    block::insert(&list.cell(), three, {.append = true});
    ASSERT_GE(calls().size(), 1u);
    const std::string& last = calls().back();
    EXPECT_EQ(last.substr(0, 16), "on-deep-change* ");
    EXPECT_NE(last.find(" list [1 2 3] appended 3 2 1"), std::string::npos) << last;
    // Every change is reported before (present tense) and after (past tense).
    calls().clear();
    Cell* zero = stack::push(integer(0));
    block::insert(&list.cell(), zero, {});
    ASSERT_EQ(calls().size(), 2u);
    EXPECT_NE(calls()[0].find(" list [1 2 3] insert 0 "), std::string::npos) << calls()[0];
    EXPECT_NE(calls()[1].find(" list [0 1 2 3] inserted 0 "), std::string::npos) << calls()[1];
}

TEST_F(Object, CompareOrdersByFieldsThenValues) {
    GcRoot a(*make_object("x: 1 y: 2"));
    GcRoot b(*make_object("x: 1 y: 2"));
    GcRoot c(*make_object("x: 1 y: 3"));
    GcRoot d(*make_object("x: 1"));
    EXPECT_EQ(object::compare(&a.cell(), &b.cell(), action::op::equal), 0);
    EXPECT_EQ(object::compare(&a.cell(), &b.cell(), action::op::same), -1);
    EXPECT_EQ(object::compare(&a.cell(), &a.cell(), action::op::same), 0);
    EXPECT_LT(object::compare(&a.cell(), &c.cell(), action::op::lesser), 0);
    EXPECT_LT(object::compare(&d.cell(), &a.cell(), action::op::lesser), 0);
    EXPECT_GT(object::compare(&a.cell(), &d.cell(), action::op::lesser), 0);
    Cell* one = stack::push(integer(1));
    EXPECT_EQ(object::compare(&a.cell(), one, action::op::equal), action::kNotComparable);
}

TEST_F(Object, ReflectAndModify) {
    GcRoot o(*make_object("a: 1 b: 2"));
    Cell* body = stack::push(o.cell());
    // A word value comes back as a lit-word, a path as a lit-path.
    *object::select_word(&o.cell(), stack::push(word("a"))) = word("x");
    Cell* p = load("p q");
    cell::set_type(p, kTypePath);
    *object::select_word(&o.cell(), stack::push(word("b"))) = *p;
    object::reflect(body, static_cast<int32_t>(words::symbol.body));
    EXPECT_EQ(mold(body), "[\n    a: 'x\n    b: 'p/q\n]");

    struct Case {
        uint32_t field;
        const char* expected;
    } cases[] = {
        {words::symbol.words, "[a b]"},
        {words::symbol.values, "[x p/q]"},
        {words::symbol.owner, "false"},
        {words::symbol.events_q, "false"},
    };
    for (const Case& c : cases) {
        Cell* r = stack::push(o.cell());
        object::reflect(r, static_cast<int32_t>(c.field));
        EXPECT_EQ(mold(r), c.expected);
    }
    Cell* cls = stack::push(o.cell());
    object::reflect(cls, static_cast<int32_t>(words::symbol.class_));
    EXPECT_EQ(static_cast<int32_t>(cls->w2), static_cast<int32_t>(o.cell().w2));

    Cell* two = stack::push(integer(2));
    object::set_values(&o.cell(), two, {});
    Cell* changed = stack::push(o.cell());
    object::reflect(changed, static_cast<int32_t>(words::word.changed->w2));
    EXPECT_EQ(mold(changed), "[a b]");
    object::modify(&o.cell(), stack::push(*words::word.changed), none::push(), {});
    changed = stack::push(o.cell());
    object::reflect(changed, static_cast<int32_t>(words::word.changed->w2));
    EXPECT_EQ(mold(changed), "[]");
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_arg, [&] {
        object::modify(&o.cell(), stack::push(*words::word.changed), two, {});
    }));
    EXPECT_TRUE(raises(error::kInternal, error::internal::not_done, [&] {
        object::reflect(stack::push(o.cell()), static_cast<int32_t>(words::symbol.spec));
    }));
}

TEST_F(Object, ToBlockGivesTheBody) {
    GcRoot o(*make_object("a: 1"));
    Cell* type = datatype::push(kTypeBlock);
    EXPECT_EQ(mold(block::to(type, &o.cell(), kTypeBlock), false, true), "[a: 1]");
}

TEST_F(Object, ObjectsSurviveCollectionsWhileMadeAndCopied) {
    GcRoot keep(*make_object("n: 0 b: [x]"));
    for (int i = 0; i < 200; ++i) {
        Cell* copy = derive(&keep.cell(), "n: 1");
        Cell* second = object::copy(copy, stack::push_cell(), {.deep = true});
        keep.set_cell(*second);
        stack::clear();
        collector::collect();
    }
    EXPECT_EQ(mold(&keep.cell(), false, true), "make object! [n: 1 b: [x]]");
}

} // namespace
