// Series ownership: the owner table, the walks that give and take ownership, the check that
// reports in-place changes, the notifications of the series actions, and the weak sweep.
#include <gtest/gtest.h>

#include <vector>

#include "block-fixture.h"

namespace {

using ownership::Action;

// What the on-deep-change* stand-in was told.
struct Report {
    Action action;
    int32_t index;
    int32_t part;
    uint32_t owner_context;
    uint32_t word_symbol;
    uint32_t target_node;
};

class Ownership : public BlockTest {
protected:
    void SetUp() override {
        BlockTest::SetUp();
        reports().clear();
        handler() = nullptr;
        ownership::set_fire_hook(fire);
        // object! comes later; this stand-in marks what tests build: the context and the
        // change record.
        collector::set_type_marker(kTypeObject, [](Cell& c) {
            collector::mark_node_cells(c.w1);
            if (c.w3) collector::mark_node_cells(c.w3);
        });
    }

    static std::vector<Report>& reports() {
        static std::vector<Report> r;
        return r;
    }
    // Runs inside the fire hook, after the report is recorded (tests that change things).
    static void (*&handler())(const Cell* target, Action action) {
        static void (*h)(const Cell*, Action) = nullptr;
        return h;
    }
    static void fire(const Cell* owner, const Cell* word, const Cell* target, Action action,
                     const Cell*, int32_t index, int32_t part) {
        reports().push_back({action, index, part, owner->w1, word->w2, target->w2});
        if (handler()) handler()(target, action);
    }

    // An object! whose fields are the words of `words` with the values of `values` (a block of
    // as many values) in an object context of its own, optionally with a change record.
    // Pushed on the data stack. May collect.
    static Cell* object(const std::string& words, const std::string& values, bool record) {
        Cell* names = load(words);
        Cell* vals = load(values);
        Cell* rec = record ? load("") : nullptr;
        Cell* o = stack::push(Cell{kTypeUnset, 0, 0, 0});
        const uint32_t n = length(names);
        *o = Cell{kTypeObject, context::create(n, false, true, nullptr, context::kObject), 0,
                  record ? rec->w2 : 0};
        // The object cell on the stack keeps the context (and its node id) up to date.
        for (uint32_t i = 0; i < n; ++i)
            context::add_word_value(o->w1, &cells(names)[i], &cells(vals)[i]);
        *context::owner_of(o->w1) = *o;
        return o;
    }
    static Cell* field(const Cell* object, uint32_t i) {
        Cell* context = memory::buffer(object->w1)->cells();
        return memory::buffer(context[0].w2)->cells() + i;
    }
    static bool owned(const Cell* series) {
        return memory::buffer(series->w2)->flags & memory::kFlagOwned;
    }
    static uint32_t owner_context(const Cell* series) {
        const Cell* o = ownership::owner_of(series->w2);
        return o ? o->w1 : 0;
    }
    static uint32_t owner_word(const Cell* series) {
        const Cell* o = ownership::owner_of(series->w2);
        return o ? o[1].w2 : 0;
    }
    static std::vector<Action> actions_reported() {
        std::vector<Action> a;
        for (const Report& r : reports()) a.push_back(r.action);
        return a;
    }
};

TEST_F(Ownership, ABlockThatContainsItselfIsWalkedOnce) {
    Cell* b = load("1 \"s\" [2]");
    block::insert(b, stack::push(*b), {.only = true, .append = true});
    Cell* o = object("f", "0", true);
    Cell* w = value_of("f");
    ownership::set_value(b, o, w);
    EXPECT_EQ(ownership::entry_count(), 3u); // the block, the string and the nested block
    EXPECT_EQ(owner_context(b), o->w1);
    EXPECT_EQ(owner_word(b), w->w2);
    EXPECT_TRUE(owned(b));
    EXPECT_TRUE(owned(&cells(b)[1]));
    EXPECT_TRUE(owned(&cells(b)[2]));
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(Ownership, TheFirstOwnerIsKept) {
    Cell* x = load("1");
    Cell* first = object("f", "0", true);
    Cell* second = object("g", "0", true);
    ownership::set_value(x, first, value_of("f"));
    ownership::set_value(x, second, value_of("g"));
    EXPECT_EQ(ownership::entry_count(), 1u);
    EXPECT_EQ(owner_context(x), first->w1);
    EXPECT_EQ(owner_word(x), symbol("f"));
}

TEST_F(Ownership, ObjectsAreWalkedWithTheirFieldWordsExceptOwnersAndTheOwnerItself) {
    Cell* inner = object("c", "\"s\"", false);
    Cell* other_owner = object("y", "[9]", true);
    ownership::set_all(other_owner, other_owner, &none::value); // it owns its own series
    const uint32_t before = ownership::entry_count();
    Cell* o = object("a b d e", "[1] none none none", true);
    *field(o, 1) = *inner;
    *field(o, 2) = *o;
    *field(o, 3) = *other_owner;
    ownership::set_all(o, o, &none::value);
    EXPECT_TRUE(memory::buffer(o->w1)->cells()[0].header & ownership::kOwnerFlag);
    EXPECT_EQ(owner_context(field(o, 0)), o->w1);
    EXPECT_EQ(owner_word(field(o, 0)), symbol("a"));
    EXPECT_EQ(owner_context(field(inner, 0)), o->w1);
    EXPECT_EQ(owner_word(field(inner, 0)), symbol("c"));
    // The other owner's block still answers to it alone.
    EXPECT_EQ(owner_context(field(other_owner, 0)), other_owner->w1);
    EXPECT_EQ(ownership::entry_count(), before + 2);
    EXPECT_EQ(cycles::depth(), 0u);
}

// The word-list accessors read the context's own word list.
TEST_F(Ownership, ContextWordAccessors) {
    Cell* o = object("a b", "1 2", false);
    EXPECT_EQ(ownership::context_words_node(o), context::word_list(o->w1));
    EXPECT_EQ(ownership::context_words(o)->length(), 2u);
    ASSERT_NE(ownership::context_word_at(o, 1), nullptr);
    EXPECT_EQ(ownership::context_word_at(o, 1)->w2, symbol("b"));
    EXPECT_EQ(ownership::context_word_at(o, 2), nullptr);
    // A word bound to the context reaches the same list.
    const Cell bound{kTypeWord, o->w1, symbol("a"), 0};
    EXPECT_EQ(ownership::context_word_at(&bound, 0)->w2, symbol("a"));
}

TEST_F(Ownership, CheckReportsOnlyToAnOwnerWithAChangeRecord) {
    Cell* x = load("1 2");
    Cell* plain = object("f", "0", false);
    ownership::set_value(x, plain, value_of("f"));
    EXPECT_FALSE(ownership::check(x, Action::poke, nullptr, 0, 1));
    EXPECT_TRUE(reports().empty());

    Cell* y = load("1 2");
    Cell* watcher = object("g", "0", true);
    ownership::set_value(y, watcher, value_of("g"));
    EXPECT_TRUE(ownership::check(y, Action::clear, nullptr, 1, 2));
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_EQ(reports()[0].action, Action::clear);
    EXPECT_EQ(reports()[0].index, 1);
    EXPECT_EQ(reports()[0].part, 2);
    EXPECT_EQ(reports()[0].owner_context, watcher->w1);
    EXPECT_EQ(reports()[0].word_symbol, symbol("g"));
    EXPECT_EQ(reports()[0].target_node, y->w2);
    Cell* stranger = load("1");
    EXPECT_FALSE(ownership::check(stranger, Action::clear, nullptr, 0, 0));
    Cell number = integer(1);
    EXPECT_FALSE(ownership::check(&number, Action::clear, nullptr, 0, 0));
}

TEST_F(Ownership, SeriesActionsReportBeforeAndAfter) {
    namespace slot = action::slot;
    struct Case {
        const char* name;
        void (*run)(Cell* series);
        Action before;
        Action after;
        int32_t index;
        int32_t part;
    } cases[] = {
        {"poke", [](Cell* s) { series::poke(s, 2, stack::push(integer(9)), nullptr); },
         Action::poke, Action::poked, 1, 1},
        {"append", [](Cell* s) { block::insert(s, value_of("[7 8]"), {.append = true}); },
         Action::append, Action::appended, 3, 2},
        {"insert", [](Cell* s) { block::insert(s, value_of("7"), {.dup = 2}); }, Action::insert,
         Action::inserted, 0, 2},
        {"change", [](Cell* s) { block::change(s, value_of("7"), {}); }, Action::change,
         Action::changed, 0, 1},
        {"clear", [](Cell* s) { series::clear(s); }, Action::clear, Action::cleared, 0, 3},
        {"remove", [](Cell* s) { series::remove(s, nullptr, nullptr); }, Action::remove,
         Action::removed, 0, 1},
        {"reverse", [](Cell* s) { series::reverse(s, nullptr, nullptr); }, Action::reverse,
         Action::reversed, 0, 3},
        {"take", [](Cell* s) { block::take(s, {}); }, Action::take, Action::taken, 0, 1},
        {"sort", [](Cell* s) { block::sort(s, {}); }, Action::sort, Action::sorted, 0, 0},
        {"trim", [](Cell* s) { block::trim(s, {}); }, Action::trim, Action::trimmed, 0, 0},
        {"swap", [](Cell* s) { block::swap(s, load("5")); }, Action::swap, Action::swaped, 0, 1},
        {"put", [](Cell* s) { block::put(s, value_of("2"), stack::push(integer(1)), {}); },
         Action::put, Action::put_ed, 2, 1}, // an equal value: nothing changes, both reports
        {"move", [](Cell* s) { series::move(stack::push(*s), load("5"), nullptr); }, Action::move,
         Action::moved, 0, 1},
    };
    for (const Case& c : cases) {
        reports().clear();
        Cell* s = load("3 2 1");
        Cell* o = object("f", "0", true);
        ownership::set_value(s, o, value_of("f"));
        c.run(s);
        if (c.before == Action::move) {
            // move reports to the target; the source is not the owned one here.
            EXPECT_TRUE(reports().empty()) << c.name;
            continue;
        }
        ASSERT_EQ(reports().size(), 2u) << c.name;
        EXPECT_EQ(reports()[0].action, c.before) << c.name;
        EXPECT_EQ(reports()[1].action, c.after) << c.name;
        EXPECT_EQ(reports()[0].index, c.index) << c.name;
        EXPECT_EQ(reports()[0].part, c.part) << c.name;
    }
    // move reports on its target.
    reports().clear();
    Cell* target = load("5 6");
    ownership::set_value(target, object("f", "0", true), value_of("f"));
    series::move(load("1 2"), target, nullptr);
    EXPECT_EQ(actions_reported(), (std::vector<Action>{Action::move, Action::moved}));
    EXPECT_EQ(all_of(target), "[1 5 6]");
}

// The string! actions report each change twice too; a handler that empties the text leaves
// them sound.
TEST_F(Ownership, StringActionsReportBeforeAndAfter) {
    string::register_actions();
    auto text = [](const char* t) {
        Cell* s = string::make_at(stack::push_cell(), 8);
        string::concatenate_cstring(s, t);
        return s;
    };
    struct Case {
        const char* name;
        void (*run)(Cell* series);
        Action before;
        Action after;
        int32_t index;
        int32_t part;
        const char* result;
    };
    const Case cases[] = {
        {"append",
         [](Cell* s) { string::append(s, value_of("\"xy\""), {.dup = 2, .append = true}); },
         Action::append, Action::appended, 3, 4, "cbaxyxy"},
        {"append a char",
         [](Cell* s) {
             string::append(s, stack::push(Cell{kTypeChar, 0, 'x', 0}), {.append = true});
         },
         Action::append, Action::appended, 3, 1, "cbax"},
        {"insert", [](Cell* s) { string::insert(s, value_of("[7 8]"), {}); }, Action::insert,
         Action::inserted, 0, 2, "78cba"},
        {"change", [](Cell* s) { string::change(s, value_of("\"xy\""), {.part = 1}); },
         Action::change, Action::changed, 0, 1, "xyba"},
        {"swap", [](Cell* s) { string::swap(s, stack::push(*s)); }, Action::swap, Action::swaped, 0,
         1, "cba"},
        {"sort", [](Cell* s) { string::sort(s, {}); }, Action::sort, Action::sorted, 0, 0, "abc"},
        {"trim", [](Cell* s) { string::trim(s, {.all = true}); }, Action::trim, Action::trimmed, 0,
         0, "cba"},
        {"take", [](Cell* s) { string::take(s, {}); }, Action::take, Action::taken, 0, 1, "ba"},
    };
    for (const Case& c : cases) {
        reports().clear();
        Cell* s = text("cba");
        ownership::set_value(s, object("f", "0", true), value_of("f"));
        c.run(s);
        ASSERT_EQ(reports().size(), c.before == Action::swap ? 4u : 2u) << c.name;
        EXPECT_EQ(reports()[0].action, c.before) << c.name;
        EXPECT_EQ(reports().back().action, c.after) << c.name;
        EXPECT_EQ(reports()[0].index, c.index) << c.name;
        EXPECT_EQ(reports()[0].part, c.part) << c.name;
        Cell whole = *s;
        whole.w1 = 0;
        EXPECT_EQ(text_of(&whole), c.result) << c.name;
    }

    // A handler that empties the text before the change.
    handler() = [](const Cell* target, Action action) {
        if (action != Action::insert && action != Action::change && action != Action::sort &&
            action != Action::swap)
            return;
        string::make_at(stack::push_cell(), 64); // allocate: buffers move in torture mode
        Cell copy = *target;
        copy.w1 = 0;
        series::clear(&copy);
    };
    auto owned = [&](const char* t, uint32_t index) {
        Cell* s = text(t);
        ownership::set_value(s, object("f", "0", true), value_of("f"));
        s->w1 = index;
        return s;
    };
    Cell* s = owned("abcdef", 3);
    string::insert(s, value_of("\"xy\""), {});
    EXPECT_EQ(text_of(&(*s = Cell{kTypeString, 0, s->w2, 0})), "xy");
    s = owned("abcdef", 3);
    string::change(s, value_of("\"xy\""), {.part = 2});
    EXPECT_EQ(text_of(&(*s = Cell{kTypeString, 0, s->w2, 0})), "xy");
    s = owned("cba", 1);
    string::sort(s, {});
    EXPECT_EQ(text_of(&(*s = Cell{kTypeString, 0, s->w2, 0})), "");
    s = owned("cba", 1);
    Cell* other = text("zz");
    string::swap(s, other);
    EXPECT_EQ(text_of(&(*s = Cell{kTypeString, 0, s->w2, 0})), "");
    EXPECT_EQ(text_of(other), "zz");
}

TEST_F(Ownership, AHandlerThatEmptiesTheSeriesLeavesTheActionsSound) {
    handler() = [](const Cell* target, Action action) {
        // The "before" reports empty the series (the handler's own clear aside); allocate
        // too, so that buffers move.
        switch (action) {
        case Action::poke:
        case Action::insert:
        case Action::change:
        case Action::remove:
        case Action::reverse:
        case Action::take:
        case Action::sort:
        case Action::random:
            break;
        default:
            return;
        }
        block::push_new(32);
        Cell copy = *target;
        copy.w1 = 0;
        series::clear(&copy);
    };
    auto owned_block = [this](const char* values) {
        Cell* s = load(values);
        ownership::set_value(s, object("f", "0", true), value_of("f"));
        return s;
    };
    Cell* s = owned_block("1 2 3");
    EXPECT_TRUE(raises(error::kScript, error::script::out_of_range,
                       [&] { series::poke(s, 2, stack::push(integer(9)), nullptr); }));
    s = owned_block("1 2 3");
    series::remove(s, stack::push(integer(2)), nullptr);
    EXPECT_EQ(all_of(s), "[]");
    s = owned_block("1 2 3");
    block::insert(stack::push(Cell{s->header, 2, s->w2, 0}), value_of("[7 8]"), {});
    EXPECT_EQ(all_of(s), "[7 8]");
    s = owned_block("1 2 3");
    block::change(stack::push(Cell{s->header, 1, s->w2, 0}), value_of("[7 8]"), {.part = 1});
    EXPECT_EQ(all_of(s), "[7 8]");
    s = owned_block("1 2 3");
    EXPECT_EQ(mold(block::take(s, {.part = stack::push(integer(2))})), "[]");
    s = owned_block("3 1 2");
    block::sort(s, {});
    series::reverse(owned_block("1 2 3"), nullptr, nullptr);
    series::random(owned_block("1 2 3"), {});
    EXPECT_EQ(all_of(s), "[]");
}

TEST_F(Ownership, UnsetTakesOwnershipBackEverywhere) {
    Cell* b = load("\"s\" [1]");
    block::insert(b, stack::push(*b), {.only = true, .append = true}); // it contains itself
    ownership::set_value(b, object("f", "0", true), value_of("f"));
    EXPECT_EQ(ownership::entry_count(), 3u);
    ownership::unset(b);
    EXPECT_EQ(ownership::entry_count(), 0u);
    EXPECT_FALSE(owned(b));
    EXPECT_FALSE(owned(&cells(b)[0]));
    EXPECT_EQ(cycles::depth(), 0u);
    EXPECT_FALSE(ownership::check(b, Action::clear, nullptr, 0, 0));

    Cell* c = load("[1] [2] [3]");
    ownership::set_value(c, object("f", "0", true), value_of("f"));
    ownership::unset_range(c, 1, 5);
    EXPECT_EQ(ownership::entry_count(), 2u);
    EXPECT_TRUE(owned(&cells(c)[0]));
    EXPECT_FALSE(owned(&cells(c)[1]));
}

TEST_F(Ownership, EntriesGoWhenTheOwnerOrTheSeriesDies) {
    Cell* kept = load("1 2");
    Cell* dropped = load("1");
    {
        GcRoot owner(*object("f", "0", true));
        ownership::set_value(kept, &owner.cell(), value_of("f"));
        ownership::set_value(dropped, &owner.cell(), value_of("f"));
        stack::clear();
        kept = stack::push(*kept);
        collector::collect();
        EXPECT_EQ(ownership::entry_count(), 1u); // the series nothing refers to went
        EXPECT_TRUE(ownership::check(kept, Action::clear, nullptr, 0, 0));
    }
    collector::collect(); // now the owner is unreachable
    EXPECT_EQ(ownership::entry_count(), 0u);
    EXPECT_FALSE(ownership::check(kept, Action::clear, nullptr, 0, 0));
    EXPECT_TRUE(owned(kept)); // the flag stays; it only means an entry may exist

    // A series whose entry was swept can be given to a new owner.
    Cell* second = object("g", "0", true);
    ownership::set_value(kept, second, value_of("g"));
    EXPECT_EQ(owner_context(kept), second->w1);
    EXPECT_TRUE(ownership::check(kept, Action::clear, nullptr, 0, 0));
}

TEST_F(Ownership, SurvivorsFollowTheirNodesAcrossCollections) {
    Cell* o = object("f", "0", true);
    std::vector<Cell*> blocks;
    for (int i = 0; i < 50; ++i) blocks.push_back(load("1"));
    for (Cell* b : blocks) ownership::set_value(b, o, value_of("f"));
    for (int i = 0; i < 3; ++i) collector::collect();
    EXPECT_EQ(ownership::entry_count(), 50u);
    for (Cell* b : blocks) EXPECT_EQ(owner_context(b), o->w1);
}

TEST_F(Ownership, TheTableGrows) {
    Cell* o = object("f", "0", true);
    Cell* holder = block::push_new(1);
    for (uint32_t i = 0; i < ownership::kInitialEntries + 200; ++i) {
        Cell* s = push_string("x");
        block::append_copy(holder, s);
        stack::pop(1);
    }
    ownership::set_value(holder, o, value_of("f"));
    EXPECT_EQ(ownership::entry_count(), ownership::kInitialEntries + 201);
    for (uint32_t i = 0; i < length(holder); i += 97)
        EXPECT_EQ(owner_context(&cells(holder)[i]), o->w1);
    ownership::unset(holder);
    EXPECT_EQ(ownership::entry_count(), 0u);
}

TEST_F(Ownership, ReflectAndModifyOwned) {
    Cell* x = load("1 2");
    Cell* o = object("f", "0", true);
    Cell* r = series::reflect(stack::push(*x), static_cast<int32_t>(symbol("owned")));
    EXPECT_EQ(cell::type(r), kTypeNone);
    EXPECT_TRUE(raises(error::kInternal, error::internal::not_done, [&] {
        series::reflect(stack::push(*x), static_cast<int32_t>(symbol("other")));
    }));

    Cell* spec = load("o f");
    cells(spec)[0] = *o;
    series::modify(x, value_of("owned"), spec, {});
    EXPECT_EQ(owner_context(x), o->w1);
    EXPECT_TRUE(memory::buffer(o->w1)->cells()[0].header & ownership::kOwnerFlag);
    r = series::reflect(stack::push(*x), static_cast<int32_t>(symbol("owned")));
    EXPECT_EQ(cell::type(r), kTypeObject);
    EXPECT_EQ(r->w1, o->w1);
    series::modify(x, value_of("other"), stack::push(none_value()), {}); // ignored
    EXPECT_EQ(ownership::entry_count(), 1u);
    series::modify(x, value_of("owned"), stack::push(none_value()), {});
    EXPECT_EQ(ownership::entry_count(), 0u);
}

} // namespace
