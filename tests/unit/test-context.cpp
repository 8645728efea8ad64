#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime-core/error-ids.h"
#include "words-fixture.h"

namespace {

// What the change hook saw, one entry per call.
struct Change {
    uint32_t owner_context;
    uint32_t word_symbol;
    Cell old_value;
    Cell new_value;
    bool stored_before_call;
};
std::vector<Change> changes;
GcRoot* watched_context = nullptr; // followed when a collection moves the node

void record_change(Cell* owner, Cell* word, Cell* old_value, Cell* new_value) {
    const Cell* slot = context::slot(watched_context->node(), static_cast<int32_t>(word->w3));
    changes.push_back(
        {owner->w1, word->w2, *old_value, *new_value, slot && slot->w2 == new_value->w2});
}

class Context : public WordsTest {
protected:
    void TearDown() override {
        changes.clear();
        watched_context = nullptr;
        WordsTest::TearDown();
    }
    void SetUp() override {
        WordsTest::SetUp();
        // object! cells get their own rule with the object module; until then their context
        // (word 1) and change record (word 3) are followed here.
        collector::set_type_marker(kTypeObject, [](Cell& c) {
            if (c.w1 != 0) collector::mark_node_cells(c.w1);
            if (c.w3 != 0) collector::mark_series(c.w3);
        });
    }

    static Cell integer_value(int32_t n) {
        return Cell{kTypeInteger, 0, static_cast<uint32_t>(n), 0};
    }

    // An object-like context: kind object, bit 24, an object! owner whose word 3 stands for a
    // change record when `record` is set. May collect.
    static uint32_t object_context(uint32_t slots, bool record) {
        const uint32_t ctx = context::create(slots, false, true, nullptr, context::kObject);
        *context::owner_of(ctx) = Cell{kTypeObject, ctx, 1000001, record ? ctx : 0u};
        return ctx;
    }

    // A word of the context's entry for `text`, added with a slot when absent. May collect.
    static Cell word_in(uint32_t ctx, const char* text, uint8_t type = kTypeWord) {
        GcRoot keep(ctx);
        const uint32_t id = sym(text);
        const int32_t index = context::bind_index(keep.node(), id);
        return Cell{type, keep.node(), id, static_cast<uint32_t>(index)};
    }
};

TEST_F(Context, AContextForNoSlotsHasRoomForOne) {
    GcRoot ctx(context::create(0, false, false, nullptr, context::kPlain));
    const Cell* c = context::cell_of(ctx.node());
    EXPECT_EQ(cell::type(c), kTypeContext);
    EXPECT_EQ(context::kind_of(ctx.node()), context::kPlain);
    EXPECT_EQ(cell::type(context::owner_of(ctx.node())), kTypeUnset);
    memory::Buffer* values = memory::buffer(c->w2);
    EXPECT_EQ(values->length(), 0u);
    EXPECT_EQ(context::word_count(ctx.node()), 0u);
    // A word goes in without growing the values block.
    const uint32_t capacity = values->size;
    const int32_t index = context::bind_index(ctx.node(), sym("only"));
    EXPECT_EQ(index, 0);
    EXPECT_EQ(cell::type(context::slot(ctx.node(), 0)), kTypeUnset);
    EXPECT_EQ(memory::buffer(context::cell_of(ctx.node())->w2)->size, capacity);
}

TEST_F(Context, HeaderFlagsFollowTheOptions) {
    GcRoot fn(context::create(3, true, false, nullptr, context::kFunction));
    const Cell* f = context::cell_of(fn.node());
    EXPECT_EQ(f->header & 0xFF, kTypeContext);
    EXPECT_EQ((f->header & context::kKindMask) >> context::kKindShift, 1u);
    EXPECT_TRUE(f->header & context::kFlagOnStack);
    EXPECT_FALSE(f->header & context::kFlagObject);
    EXPECT_EQ(f->w2, 0u); // no values block
    GcRoot obj(context::create(3, false, true, nullptr, context::kObject));
    const Cell* o = context::cell_of(obj.node());
    EXPECT_EQ((o->header & context::kKindMask) >> context::kKindShift, 2u);
    EXPECT_TRUE(o->header & context::kFlagObject);
    EXPECT_FALSE(o->header & context::kFlagOnStack);
}

TEST_F(Context, CaseFlagDecidesWhetherLetterCasesMatch) {
    GcRoot ctx(context::create(4, false, false, nullptr, context::kPlain));
    const uint32_t foo = sym("foo"), FOO = sym("FOO");
    int32_t out = -2;
    EXPECT_EQ(context::find_word_ex(ctx.node(), foo, true, &out), -1);
    EXPECT_EQ(out, 0);
    EXPECT_EQ(context::find_word(ctx.node(), FOO, true), 0);
    EXPECT_EQ(context::find_word(ctx.node(), FOO, false), -1);
    EXPECT_EQ(context::find_word(ctx.node(), foo, false), 0);
    // The added entry is a word of this context at its own position.
    const Cell entry = context::words(ctx.node())[0];
    EXPECT_EQ(cell::type(&entry), kTypeWord);
    EXPECT_EQ(entry.w1, ctx.node());
    EXPECT_EQ(entry.w2, foo);
    EXPECT_EQ(entry.w3, 0u);
    // find_word_ex adds no value slot; bind_index does.
    EXPECT_EQ(memory::buffer(context::cell_of(ctx.node())->w2)->length(), 0u);
    EXPECT_EQ(context::bind_index(ctx.node(), sym("bar")), 1);
    EXPECT_EQ(memory::buffer(context::cell_of(ctx.node())->w2)->length(), 2u);
}

TEST_F(Context, GlobalAliasSharesTheCanonicalSlot) {
    const uint32_t foo = sym("shared"), FOO = sym("SHARED");
    const Cell foo_entry = *context::add_global(foo);
    const uint32_t before = memory::buffer(context::cell_of(context::global)->w2)->length();
    const Cell FOO_entry = *context::add_global(FOO);
    EXPECT_EQ(memory::buffer(context::cell_of(context::global)->w2)->length(), before + 1);
    EXPECT_EQ(FOO_entry.w2, FOO);
    EXPECT_EQ(FOO_entry.w3, foo_entry.w3);
    // Both spellings read and write one value.
    GcRoot upper(FOO_entry), lower(foo_entry);
    GcRoot seven(integer_value(7));
    context::set_word(&upper.cell(), &seven.cell());
    EXPECT_EQ(context::get_word(&lower.cell())->w2, 7u);
    // add_global looks up exactly: the existing entry again.
    EXPECT_EQ(context::add_global(FOO)->w3, foo_entry.w3);
}

TEST_F(Context, AddSymbolKeepsTheLettersAskedFor) {
    const Cell canonical = *context::add_symbol(sym("letters"), true, true);
    const uint32_t LETTERS = sym("LETTERS");
    const uint32_t count = context::word_count(context::global);
    const Cell copy = *context::add_symbol(LETTERS, true, true);
    EXPECT_EQ(context::word_count(context::global), count); // found, not added
    EXPECT_EQ(copy.w2, LETTERS);
    EXPECT_EQ(copy.w3, canonical.w3);
    EXPECT_EQ(copy.w1, context::global);
    // Without keep-letters the entry itself answers.
    EXPECT_EQ(context::add_symbol(LETTERS, true, false)->w2, canonical.w2);
    // While the boot flag is set the copy is permanent.
    root::boot_flag = 1;
    const Cell* permanent = context::add_symbol(LETTERS, true, true);
    memory::Buffer* rb = memory::buffer(root::block.w2);
    EXPECT_TRUE(permanent >= rb->cells() && permanent < rb->cells_tail());
}

TEST_F(Context, SetWordNotifiesTheOwnersChangeHandlerOnce) {
    context::set_change_hook(record_change);
    GcRoot ctx(object_context(4, true));
    watched_context = &ctx;
    GcRoot w(word_in(ctx.node(), "field"));
    GcRoot one(integer_value(1)), two(integer_value(2));
    Cell* top = stack::top;
    context::set_word(&w.cell(), &one.cell());
    context::set_word(&w.cell(), &two.cell());
    EXPECT_EQ(stack::top, top);
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(cell::type(&changes[0].old_value), kTypeUnset);
    EXPECT_EQ(changes[1].old_value.w2, 1u);
    EXPECT_EQ(changes[1].new_value.w2, 2u);
    EXPECT_EQ(changes[1].word_symbol, sym("field"));
    EXPECT_EQ(changes[1].owner_context, ctx.node());
    EXPECT_TRUE(changes[1].stored_before_call);
    EXPECT_TRUE(context::words(ctx.node())[w.cell().w3].header & context::kTouched);

    // Without notify, or without a change record, nothing is called; the field is touched.
    changes.clear();
    context::set_in(&w.cell(), &one.cell(), ctx.node(), false);
    GcRoot plain(object_context(2, false));
    GcRoot v(word_in(plain.node(), "field"));
    context::set_word(&v.cell(), &one.cell());
    EXPECT_TRUE(changes.empty());
    EXPECT_EQ(context::slot(ctx.node(), static_cast<int32_t>(w.cell().w3))->w2, 1u);
    EXPECT_TRUE(context::words(plain.node())[v.cell().w3].header & context::kTouched);
}

TEST_F(Context, SetInCachesTheIndexOfAnUnresolvedWordAndAddsIt) {
    GcRoot ctx(context::create(2, false, false, nullptr, context::kPlain));
    context::bind_index(ctx.node(), sym("first"));
    GcRoot w(Cell{kTypeSetWord, ctx.node(), sym("second"), word::kUnresolved});
    GcRoot nine(integer_value(9));
    context::set_in(&w.cell(), &nine.cell(), ctx.node(), true);
    EXPECT_EQ(w.cell().w3, 1u);
    EXPECT_EQ(context::word_count(ctx.node()), 2u);
    EXPECT_EQ(context::slot(ctx.node(), 1)->w2, 9u);
    // Another letter case finds the same word.
    GcRoot upper(Cell{kTypeWord, ctx.node(), sym("FIRST"), word::kUnresolved});
    context::set_in(&upper.cell(), &nine.cell(), ctx.node(), true);
    EXPECT_EQ(upper.cell().w3, 0u);
    EXPECT_EQ(context::word_count(ctx.node()), 2u);
}

TEST_F(Context, ReadingAndWritingErrors) {
    const Cell loose = unbound(kTypeWord, sym("loose"));
    GcRoot one(integer_value(1));
    EXPECT_TRUE(
        raises(error::kScript, error::script::not_in_context, [&] { context::get_word(&loose); }));
    EXPECT_EQ(error::last_raised.args[0].w2, loose.w2);
    EXPECT_TRUE(raises(error::kScript, error::script::not_defined, [&] {
        Cell w = loose;
        context::set_word(&w, &one.cell());
    }));
    // Bound but unresolved, and not self.
    // (The symbol is made first: making it may collect, and torture renumbers the global
    // context's node.)
    const uint32_t pending_symbol = sym("pending");
    const Cell pending{kTypeWord, context::global, pending_symbol, word::kUnresolved};
    EXPECT_TRUE(
        raises(error::kScript, error::script::no_value, [&] { context::get_word(&pending); }));
    // A function context read or written outside any call.
    GcRoot fn(context::create(2, true, false, nullptr, context::kFunction));
    GcRoot arg(word_in(fn.node(), "arg"));
    EXPECT_TRUE(raises(error::kScript, error::script::not_in_context,
                       [&] { context::get_word(&arg.cell()); }));
    EXPECT_TRUE(raises(error::kScript, error::script::not_defined,
                       [&] { context::set_word(&arg.cell(), &one.cell()); }));
}

// A function context reads its values from the running call's cells on the data stack.
TEST_F(Context, FunctionContextValuesLiveOnTheStack) {
    GcRoot spec(block({unbound(kTypeWord, sym("a")), Cell{kTypeNone, 0, 0, 0},
                       unbound(kTypeLitWord, sym("b")), unbound(kTypeRefinement, sym("local")),
                       unbound(kTypeGetWord, sym("c")), unbound(kTypeSetWord, sym("return")),
                       unbound(kTypeWord, sym("A"))}));
    GcRoot fn(context::make_from_spec(&spec.cell(), true, false, context::kFunction));
    ASSERT_EQ(context::word_count(fn.node()), 4u); // a b local c: A is a, return: is skipped
    EXPECT_EQ(context::find_word(fn.node(), sym("return"), true), -1);
    EXPECT_EQ(context::find_word(fn.node(), sym("c"), false), 3);

    Cell* first = stack::push(integer_value(10));
    stack::push(integer_value(20));
    const uint32_t saved = context::set_stack_values(fn.node(), first);
    EXPECT_EQ(saved, 0u);
    GcRoot b(word_in(fn.node(), "b"));
    EXPECT_EQ(context::get_word(&b.cell())->w2, 20u);
    GcRoot thirty(integer_value(30));
    context::set_word(&b.cell(), &thirty.cell());
    EXPECT_EQ(first[1].w2, 30u);
    // A word of a function context takes its value from the global context here.
    EXPECT_EQ(context::value_cell(sym("b"), fn.node()), nullptr);
    context::restore_stack_values(fn.node(), saved);
    EXPECT_TRUE(raises(error::kScript, error::script::not_in_context,
                       [&] { context::get_word(&b.cell()); }));
    stack::pop(2);
}

TEST_F(Context, ContextFromSpecWithValuesInABlock) {
    GcRoot spec(block({unbound(kTypeWord, sym("x")), unbound(kTypeWord, sym("y")),
                       unbound(kTypeWord, sym("x")), integer_value(5)}));
    spec.cell().w1 = 3; // words are taken from the head whatever the index
    GcRoot ctx(context::make_from_spec(&spec.cell(), false, true, context::kObject));
    EXPECT_EQ(context::word_count(ctx.node()), 2u);
    memory::Buffer* values = memory::buffer(context::cell_of(ctx.node())->w2);
    EXPECT_EQ(values->length(), 2u);
    EXPECT_EQ(cell::type(values->cells() + 1), kTypeUnset);
    EXPECT_TRUE(context::cell_of(ctx.node())->header & context::kFlagObject);
}

TEST_F(Context, CloneCopiesTheWordsWithFreshValues) {
    GcRoot source(object_context(3, false));
    GcRoot one(integer_value(1));
    for (const char* name : {"p", "q"}) {
        GcRoot w(word_in(source.node(), name));
        context::set_word(&w.cell(), &one.cell());
    }
    GcRoot holder(*context::owner_of(source.node()));
    // object! cells get their collector rule with the object module: the copy is rooted here.
    GcRoot kept(context::clone(&holder.cell(), context::kObject));
    const uint32_t copy = kept.node();
    EXPECT_EQ(holder.cell().w1, copy);
    EXPECT_NE(copy, source.node());
    ASSERT_EQ(context::word_count(copy), 2u);
    for (int32_t i = 0; i < 2; ++i) {
        EXPECT_EQ(context::words(copy)[i].w1, copy);
        EXPECT_EQ(context::words(copy)[i].w2, context::words(source.node())[i].w2);
        EXPECT_EQ(cell::type(context::slot(copy, i)), kTypeUnset);
        EXPECT_EQ(context::slot(source.node(), i)->w2, 1u); // the source keeps its values
    }
    EXPECT_TRUE(context::cell_of(copy)->header & context::kFlagObject);
    // The copy has its own table: a word added there is not in the source.
    const uint32_t r = sym("r");
    context::bind_index(kept.node(), r);
    EXPECT_EQ(context::find_word(source.node(), r, true), -1);
}

TEST_F(Context, GetInOfSelfIsTheOwner) {
    GcRoot ctx(object_context(2, false));
    const Cell self{kTypeWord, ctx.node(), words::symbol.self, word::kUnresolved};
    const Cell* owner = context::get_word(&self);
    EXPECT_EQ(cell::type(owner), kTypeObject);
    EXPECT_EQ(owner->w1, ctx.node());
}

TEST_F(Context, BindDeepBindsNestedWordsAndEndsOnASelfContainingBlock) {
    GcRoot ctx(object_context(4, false));
    context::bind_index(ctx.node(), sym("inner"));
    context::bind_index(ctx.node(), sym("outer"));
    const Cell elsewhere = global_word("elsewhere");
    GcRoot nested(block({unbound(kTypeGetWord, sym("INNER")), elsewhere}));
    Cell paren = nested.cell();
    paren.header = kTypeParen;
    GcRoot outer(block({unbound(kTypeSetWord, sym("outer")), unbound(kTypeWord, words::symbol.self),
                        paren, Cell{kTypeIssue, 0, sym("inner"), word::kUnresolved}}));
    // The block holds itself.
    append(outer.cell().w2, outer.cell());

    context::bind_deep(&outer.cell(), ctx.node(), true);
    const Cell* o = memory::buffer(outer.cell().w2)->cells();
    const Cell* n = memory::buffer(nested.cell().w2)->cells();
    EXPECT_EQ(o[0].w1, ctx.node());
    EXPECT_EQ(o[0].w3, 1u);
    EXPECT_EQ(n[0].w1, ctx.node()); // another letter case, found through its canonical
    EXPECT_EQ(n[0].w3, 0u);
    EXPECT_EQ(n[1].w1, elsewhere.w1); // not in the context: keeps its binding
    EXPECT_EQ(o[3].w1, 0u);           // issue! is left alone
    // self is bound unresolved though the context has no self: it reads as the object.
    EXPECT_EQ(o[1].w1, ctx.node());
    EXPECT_EQ(o[1].w3, word::kUnresolved);
    EXPECT_EQ(context::get_word(&o[1])->w1, ctx.node());
    EXPECT_EQ(cycles::depth(), 0u);

    // Without the self flag, self is bound like any word: not in the context, left alone.
    GcRoot again(block({unbound(kTypeWord, words::symbol.self)}));
    context::bind_deep(&again.cell(), ctx.node(), false);
    EXPECT_EQ(memory::buffer(again.cell().w2)->cells()[0].w1, 0u);
}

TEST_F(Context, AddSetWordsGrowsTheWordListOnce) {
    GcRoot ctx(context::create(2, false, true, nullptr, context::kObject));
    GcRoot body(
        block({unbound(kTypeSetWord, sym("m")), integer_value(1), unbound(kTypeSetWord, sym("n")),
               unbound(kTypeSetWord, sym("M")), unbound(kTypeWord, sym("o"))}));
    EXPECT_TRUE(context::add_set_words(ctx.node(), &body.cell()));
    EXPECT_EQ(context::word_count(ctx.node()), 2u);
    EXPECT_EQ(memory::buffer(context::cell_of(ctx.node())->w2)->length(), 2u);
    EXPECT_FALSE(context::add_set_words(ctx.node(), &body.cell()));
    // An index past the tail is clamped and written back.
    body.cell().w1 = 50;
    EXPECT_FALSE(context::add_set_words(ctx.node(), &body.cell()));
    EXPECT_EQ(body.cell().w1, 5u);
}

TEST_F(Context, SettersAndValueLookups) {
    GcRoot ctx(context::create(2, false, false, nullptr, context::kPlain));
    const Cell w = unbound(kTypeWord, sym("k"));
    GcRoot one(integer_value(1)), two(integer_value(2));
    EXPECT_EQ(context::set_word_value(ctx.node(), &w, &one.cell())->w2, 1u);
    EXPECT_EQ(context::add_word_value(ctx.node(), &w, &two.cell()), nullptr);
    // Symbols are made before ctx.node() is read: making one may move the node.
    const uint32_t K = sym("K"), l_symbol = sym("l"), absent = sym("absent-here");
    EXPECT_EQ(context::value_cell(K, ctx.node())->w2, 1u);
    const Cell l = unbound(kTypeWord, l_symbol);
    EXPECT_EQ(context::add_word_value(ctx.node(), &l, &two.cell())->w2, 2u);
    EXPECT_EQ(context::value_cell(l_symbol, ctx.node())->w2, 2u);
    EXPECT_EQ(context::value_cell(absent, ctx.node()), nullptr);
    Cell rebind = unbound(kTypeWord, sym("L"));
    EXPECT_EQ(context::bind_word(ctx.node(), &rebind), 1);
    EXPECT_EQ(rebind.w1, ctx.node());
    Cell stranger = unbound(kTypeWord, sym("stranger"));
    EXPECT_EQ(context::bind_word(ctx.node(), &stranger), -1);
    EXPECT_EQ(stranger.w1, 0u);
}

// A context reachable only through a word keeps its table, values and owner.
TEST_F(Context, AWordKeepsItsContextAlive) {
    GcRoot w(Cell{});
    {
        const uint32_t ctx = object_context(2, false);
        w.set_cell(word_in(ctx, "kept"));
        GcRoot five(integer_value(5));
        context::set_word(&w.cell(), &five.cell());
    }
    collector::collect();
    collector::collect();
    const uint32_t ctx = w.cell().w1;
    EXPECT_EQ(context::get_word(&w.cell())->w2, 5u);
    EXPECT_EQ(context::find_word(ctx, sym("kept"), false), 0);
    EXPECT_EQ(context::owner_of(ctx)->w2, 1000001u);
}

TEST_F(Context, RegistrationHasNoActions) {
    EXPECT_STREQ(datatype::name_record(kTypeContext).name, "context!");
    for (uint32_t s = 1; s <= action::kSlotCount; ++s)
        EXPECT_EQ(datatype::entry(kTypeContext, static_cast<action::Slot>(s)), nullptr) << s;
}

} // namespace
