// block!: construction, path access, comparison, form and mold; insertion, change, put, take,
// swap, trim and copy; find, select and the set operations; sort and its callbacks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "block-fixture.h"
#include "runtime-core/hashtable.h"

namespace {

namespace slot = action::slot;

class Block : public BlockTest {
protected:
    static Cell at_index(const Cell* series, uint32_t index) {
        Cell c = *series;
        c.w1 = index;
        return c;
    }
    static Cell* push_at(const Cell* series, uint32_t index) {
        return stack::push(at_index(series, index));
    }
    static uint32_t capacity(const Cell* block) { return memory::buffer(block->w2)->size / 16; }
    // A hash! of the values, with its table, pushed. May collect.
    static Cell* hashed(const std::string& values) {
        Cell* h = load(values);
        cell::set_type(h, kTypeHash);
        h->w3 = hashtable::init(length(h), h, hashtable::kHash);
        return h;
    }
    // The integers from `from` to `to` (inclusive, either way), space-separated.
    static std::string run_of(int from, int to) {
        std::string out;
        for (int i = from;; i += from <= to ? 1 : -1) {
            out += std::to_string(i);
            if (i == to) break;
            out += " ";
        }
        return out;
    }

    // insert (or append) with /part as a count (-1: none) and /dup as a count.
    static Cell* insert(Cell* series, const std::string& value,
                        const action::InsertOptions& options = {}) {
        Cell* v = value_of(value);
        return block::insert(series, v, options);
    }
};

// --- make and to ------------------------------------------------------------------------------

TEST_F(Block, MakeFromACapacityOrABlock) {
    for (Cell spec : {integer(0), integer(-5), integer(1)}) {
        Cell* b = block::make(nullptr, stack::push(spec), kTypeBlock);
        EXPECT_EQ(cell::type(b), kTypeBlock);
        EXPECT_EQ(length(b), 0u);
        EXPECT_EQ(capacity(b), 1u);
    }
    Cell* big = block::make(nullptr, stack::push(integer(40)), kTypeBlock);
    EXPECT_GE(capacity(big), 40u);
    Cell f{kTypeFloat, 0, 0, 0};
    double d = 3.7;
    std::memcpy(&f.w2, &d, sizeof d);
    EXPECT_GE(capacity(block::make(nullptr, stack::push(f), kTypeBlock)), 3u);
    d = 1e12;
    std::memcpy(&f.w2, &d, sizeof d);
    EXPECT_TRUE(raises(error::kScript, error::script::out_of_range,
                       [&] { block::make(nullptr, stack::push(f), kTypeBlock); }));

    Cell* source = load("a b");
    Cell* paren = block::make(nullptr, source, kTypeParen);
    EXPECT_EQ(cell::type(paren), kTypeParen);
    EXPECT_EQ(mold(paren), "(a b)");
    EXPECT_NE(paren->w2, source->w2);
    Cell* text = push_string("a b");
    EXPECT_TRUE(raises(error::kScript, error::script::bad_make_arg,
                       [&] { block::make(nullptr, text, kTypeBlock); }));
    EXPECT_EQ(error::last_raised.args[0].w1, static_cast<uint32_t>(kTypeBlock));
}

TEST_F(Block, ToWrapsValuesAndCopiesBlocks) {
    Cell* wrapped = block::to(nullptr, stack::push(integer(5)), kTypeBlock);
    EXPECT_EQ(mold(wrapped), "[5]");
    Cell* file = push_string("f.txt");
    cell::set_type(file, kTypeFile);
    Cell* holds_file = block::to(nullptr, file, kTypeBlock);
    EXPECT_EQ(length(holds_file), 1u);
    EXPECT_EQ(cell::type(cells(holds_file)), kTypeFile);
    Cell* copied = block::to(nullptr, push_at(load("1 2 3"), 1), kTypeParen);
    EXPECT_EQ(mold(copied), "(2 3)");

    // Text goes through the lexer, which registers its conversion.
    Cell* text = push_string("a b");
    EXPECT_TRUE(raises(error::kInternal, error::internal::not_done,
                       [&] { block::to(nullptr, text, kTypeBlock); }));
    block::set_conversion(kTypeString, [](const Cell*, Cell* result) {
        block::make_at(result, 2);
        Cell a = word("a"), b = word("b");
        block::append_copy(result, &a);
        block::append_copy(result, &b);
    });
    EXPECT_EQ(mold(block::to(nullptr, text, kTypeBlock)), "[a b]");
}

// --- Path access --------------------------------------------------------------------------------

TEST_F(Block, PathStepsByWordIntegerAndValue) {
    auto get = [](Cell* parent, const std::string& element) {
        return block::eval_path(parent, value_of(element), nullptr, {.get = true});
    };
    Cell* b = load("x: 1 y 2 x");
    EXPECT_EQ(mold(get(b, "x")), "1");
    EXPECT_EQ(mold(get(b, "y")), "2");
    EXPECT_EQ(mold(get(b, "2")), "1");
    EXPECT_EQ(mold(get(b, "9")), "none");
    EXPECT_EQ(mold(get(load("a x"), "x")), "none");      // the only x is the last cell
    EXPECT_EQ(mold(get(load("1 7 2 8"), "2")), "7");     // an integer picks
    EXPECT_EQ(mold(get(load("\"k\" 5"), "\"k\"")), "5"); // other values select

    Cell* path = load("b z");
    Cell* v = stack::push(integer(9));
    auto set = [&](Cell* parent, const std::string& element) {
        return block::eval_path(parent, value_of(element), v, {.path = path});
    };
    set(b, "y");
    EXPECT_EQ(all_of(b), "[x: 1 y 9 x]");
    set(b, "1");
    EXPECT_EQ(all_of(b), "[9 1 y 9 x]");
    EXPECT_TRUE(raises(error::kScript, error::script::bad_path_set, [&] { set(b, "z"); }));
    EXPECT_EQ(mold(&error::last_raised.args[0]), "[b z]");
}

// --- Comparison -------------------------------------------------------------------------------

TEST_F(Block, CompareDecidesEqualityByLengthFirst) {
    struct Case {
        const char* a;
        const char* b;
        int32_t op;
        int32_t expected;
    } cases[] = {
        {"1 2", "1 2 3", action::op::equal, 1},
        {"1 2", "1 2 3", action::op::lesser, -1},
        {"1 2 3", "1 2", action::op::sort, 1},
        {"1 3", "1 2 3", action::op::sort, 1},
        {"1 \"a\"", "1 2", action::op::sort, -1}, // string! sorts before integer!
        {"1 [2 3]", "1 [2 3]", action::op::equal, 0},
        {"1 [2 4]", "1 [2 3]", action::op::lesser, 1},
        {"", "", action::op::equal, 0},
        {"", "1", action::op::lesser, -1},
        {"1", "", action::op::lesser, 1},
        {"a", "a:", action::op::equal, 0}, // word types compare with each other
    };
    for (const Case& c : cases) {
        Cell* a = load(c.a);
        Cell* b = load(c.b);
        EXPECT_EQ(block::compare(a, b, c.op), c.expected) << c.a << " | " << c.b << " " << c.op;
    }
    compare_calls() = 0;
    block::compare(load("1 2"), load("1 2 3"), action::op::equal);
    EXPECT_EQ(compare_calls(), 0); // no element was compared

    Cell* b = load("1 2");
    EXPECT_EQ(block::compare(b, stack::push(*b), action::op::same), 0);
    EXPECT_EQ(block::compare(b, load("1 2"), action::op::same), -1);
    Cell* p = stack::push(*b);
    cell::set_type(p, kTypeParen);
    EXPECT_EQ(block::compare(b, p, action::op::equal), action::kNotComparable);
}

TEST_F(Block, SelfContainingBlocksCompareAndMoldWithoutRecursing) {
    Cell* b = load("1");
    block::insert(b, stack::push(*b), {.only = true, .append = true}); // append/only b b
    EXPECT_EQ(mold(b), "[1 [...]]");
    EXPECT_EQ(form(b), "1 ...");
    EXPECT_EQ(block::compare(b, stack::push(*b), action::op::equal), 0);
    Cell* c = load("1");
    block::insert(c, stack::push(*c), {.only = true, .append = true});
    EXPECT_EQ(block::compare(b, c, action::op::equal), 0); // met again on both sides
    EXPECT_EQ(block::compare(b, load("1 [1 2]"), action::op::equal), -1);
    EXPECT_EQ(cycles::depth(), 0u);
}

// --- form and mold ------------------------------------------------------------------------------

TEST_F(Block, FormSpacesValuesExceptAfterLineBreaks) {
    EXPECT_EQ(form(load("1 2 [3 [4]]")), "1 2 3 4");
    EXPECT_EQ(form(load("\"a\n\" \"b\" \"c\t\" 5")), "a\nb c\t5");
    EXPECT_EQ(form(load("")), "");
}

TEST_F(Block, MoldWritesNewLinesAndIndentation) {
    struct Case {
        const char* values;
        bool only;
        bool flat;
        const char* molded;
    } cases[] = {
        {"\na b", false, false, "[\n    a b\n]"},
        {"\na b", true, false, "a b"},
        {"\na b", false, true, "[a b]"},
        {"a\nb", false, false, "[a\nb]"}, // only a marked first value opens a level
        {"a [\nb c]", false, false, "[a [\n    b c\n]]"},
        {"\na [\nb]", false, false, "[\n    a [\n        b\n    ]\n]"},
        {"\na (b \nc)", false, false, "[\n    a (b\n    c)\n]"},
        {"", false, false, "[]"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(mold(load(c.values), c.only, c.flat), c.molded) << c.values;
}

TEST_F(Block, MoldStopsAtThePartLimit) {
    Cell* s = string::make_at(stack::push_cell(), 16);
    Cell* b = load("1 2 3 4 5 6");
    Cell* part = stack::push(integer(5));
    int32_t left = block::mold(b, s, {.part = part}, 5, 0);
    EXPECT_EQ(text_of(s), "[1 2 3]");
    EXPECT_LE(left, 0);
}

// --- insert and append --------------------------------------------------------------------------

TEST_F(Block, AppendAndInsert) {
    Cell* b = load("1 2 3");
    Cell* r = insert(b, "[]", {.append = true});
    EXPECT_EQ(r, b);
    EXPECT_EQ(all_of(b), "[1 2 3]");
    insert(b, "[4 5]", {.append = true});
    EXPECT_EQ(all_of(b), "[1 2 3 4 5]");
    insert(b, "[6]", {.only = true, .append = true});
    EXPECT_EQ(all_of(b), "[1 2 3 4 5 [6]]");

    Cell* at = push_at(b, 2);
    r = insert(at, "[7 8]", {.part = 0});
    EXPECT_EQ(r->w1, 2u); // /part 0 inserts nothing, the index moves by 0
    EXPECT_EQ(length(b), 6u);
    r = insert(at, "[7 8]", {.part = 1});
    EXPECT_EQ(r->w1, 3u);
    EXPECT_EQ(all_of(b), "[1 2 7 3 4 5 [6]]");

    Cell* c = load("1 2");
    r = insert(push_at(c, 1), "[a b]", {.dup = 3});
    EXPECT_EQ(all_of(c), "[1 a b a b a b 2]");
    EXPECT_EQ(r->w1, 7u);
    r = insert(push_at(c, 3), "x", {.append = true});
    EXPECT_EQ(r->w1, 0u); // append answers the head
    EXPECT_EQ(all_of(c), "[1 a b a b a b 2 x]");
    r = insert(push_at(c, 9), "y", {.dup = 2});
    EXPECT_EQ(all_of(c), "[1 a b a b a b 2 x y y]");
    EXPECT_EQ(r->w1, 11u);
}

TEST_F(Block, InsertingABlockIntoItselfReadsItBeforeMoving) {
    Cell* b = load("1 2 3");
    block::insert(push_at(b, 1), stack::push(*b), {});
    EXPECT_EQ(all_of(b), "[1 1 2 3 2 3]");
    Cell* c = load("1 2 3");
    block::insert(c, stack::push(*c), {.append = true});
    EXPECT_EQ(all_of(c), "[1 2 3 1 2 3]");
    Cell* d = load("1 2 3");
    block::insert(d, push_at(d, 1), {.dup = 2});
    EXPECT_EQ(all_of(d), "[2 3 2 3 1 2 3]");
}

TEST_F(Block, InsertRaisesNoMemoryForHugeCounts) {
    Cell* b = load("1");
    EXPECT_TRUE(raises(error::kInternal, error::internal::no_memory,
                       [&] { insert(b, "[1 2 3 4]", {.dup = 0x7FFFFFFF}); }));
    EXPECT_TRUE(raises(error::kInternal, error::internal::no_memory,
                       [&] { insert(b, "7", {.dup = 0x8000000}); }));
    EXPECT_EQ(all_of(b), "[1]");
}

// --- change
// ---------------------------------------------------------------------------------------

TEST_F(Block, ChangeOverwritesOrReplaces) {
    struct Case {
        const char* values;
        uint32_t index;
        const char* value;
        int32_t part;
        bool only;
        int32_t dup;
        const char* result;
        uint32_t index_after;
    } cases[] = {
        {"1 2 3 4", 1, "[7 8 9]", -1, false, 1, "[1 7 8 9]", 4},
        {"1 2 3 4", 1, "[7 8 9]", 1, false, 1, "[1 7 8 9 3 4]", 4},
        {"1 2 3 4", 1, "[7 8 9]", -1, true, 1, "[1 [7 8 9] 3 4]", 2},
        {"1 2 3 4", 0, "5", 3, false, 1, "[5 4]", 1},
        {"1 2", 1, "[7 8 9]", -1, false, 1, "[1 7 8 9]", 4},
        {"1 2 3 4", 1, "0", -1, false, 2, "[1 0 0 4]", 3},
        {"1 2 3 4", 4, "[7]", -1, false, 1, "[1 2 3 4 7]", 5},
    };
    for (const Case& c : cases) {
        Cell* b = load(c.values);
        Cell* r = block::change(push_at(b, c.index), value_of(c.value),
                                {.part = c.part, .only = c.only, .dup = c.dup});
        EXPECT_EQ(all_of(b), c.result) << c.values << " " << c.value;
        EXPECT_EQ(r->w1, c.index_after) << c.values << " " << c.value;
    }
}

TEST_F(Block, ChangeWithPartOfItself) {
    Cell* b = load("1 2 3 4");
    block::change(push_at(b, 2), push_at(b, 0), {.part = 1});
    EXPECT_EQ(all_of(b), "[1 2 1 2 3 4 4]");
    // A source that starts inside the replaced run and extends past it.
    Cell* c = load("1 2 3 4 5");
    block::change(c, push_at(c, 1), {.part = 2});
    EXPECT_EQ(all_of(c), "[2 3 4 5 3 4 5]");
}

// --- put, take, swap, trim
// ------------------------------------------------------------------------

TEST_F(Block, PutAddsOrReplacesTheValueAfterTheKey) {
    Cell* b = load("a 1 b 2");
    Cell* v = stack::push(integer(5));
    EXPECT_EQ(block::put(b, value_of("b"), v, {}), v);
    EXPECT_EQ(all_of(b), "[a 1 b 5]");
    block::put(b, value_of("c"), v, {});
    EXPECT_EQ(all_of(b), "[a 1 b 5 c 5]");
    Cell* last = load("x 1 y");
    block::put(last, value_of("y"), v, {});
    EXPECT_EQ(all_of(last), "[x 1 y 5]");
}

TEST_F(Block, TakeGivesTheValueOrABlock) {
    Cell* b = load("[1 2] 3 4");
    Cell* first = block::take(b, {});
    EXPECT_EQ(mold(first), "[1 2]");
    Cell* part = stack::push(integer(1));
    EXPECT_EQ(mold(block::take(b, {.part = part})), "[3]");
    EXPECT_EQ(all_of(b), "[4]");
    EXPECT_EQ(cell::type(block::take(push_at(b, 1), {})), kTypeNone);

    // /deep copies the series inside what is taken.
    Cell* nested = load("[5 6] 7");
    Cell inner = cells(nested)[0];
    Cell* deep = block::take(nested, {.part = stack::push(integer(1)), .deep = true});
    EXPECT_EQ(mold(deep), "[[5 6]]");
    EXPECT_NE(cells(deep)[0].w2, inner.w2);
    Cell* shared = block::take(push_at(load("[8] 9"), 0), {});
    EXPECT_EQ(mold(shared), "[8]");
}

TEST_F(Block, SwapExchangesOneCellEach) {
    Cell* a = load("1 2 3");
    Cell* b = load("7 8");
    Cell* first = push_at(a, 1);
    Cell* second = push_at(b, 1);
    EXPECT_EQ(block::swap(first, second), first);
    EXPECT_EQ(all_of(a), "[1 8 3]");
    EXPECT_EQ(all_of(b), "[7 2]");
    block::swap(push_at(a, 3), b);
    EXPECT_EQ(all_of(a), "[1 8 3]");
    Cell* s = push_string("x");
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_arg, [&] { block::swap(a, s); }));
}

TEST_F(Block, TrimDropsNoneFromTheIndex) {
    Cell* b = load("none 1 none none 2 none");
    block::trim(push_at(b, 1), {});
    EXPECT_EQ(all_of(b), "[none 1 2]");
}

// --- copy
// -----------------------------------------------------------------------------------------

TEST_F(Block, CopyShallowDeepAndByType) {
    Cell* b = load("1 [2 [3]] \"s\"");
    Cell* shallow = block::copy(b, stack::push_cell(), {});
    EXPECT_EQ(mold(shallow), "[1 [2 [3]] \"s\"]");
    EXPECT_EQ(cells(shallow)[1].w2, cells(b)[1].w2);
    Cell* deep = block::copy(b, stack::push_cell(), {.deep = true});
    EXPECT_EQ(mold(deep), "[1 [2 [3]] \"s\"]");
    Cell nested = cells(deep)[1];
    EXPECT_NE(nested.w2, cells(b)[1].w2);
    EXPECT_NE(cells(&nested)[1].w2, cells(&cells(b)[1])[1].w2);
    EXPECT_NE(cells(deep)[2].w2, cells(b)[2].w2);

    Cell* types = stack::push(datatype_value(kTypeString));
    Cell* typed = block::copy(b, stack::push_cell(), {.types = types});
    EXPECT_EQ(cells(typed)[1].w2, cells(b)[1].w2); // blocks are shared
    EXPECT_NE(cells(typed)[2].w2, cells(b)[2].w2); // strings are copied
    Cell typeset{kTypeTypeset, 0, 0, 0};
    uint8_t bits[12] = {};
    bits[kTypeBlock / 8] |= 0x80 >> (kTypeBlock % 8);
    std::memcpy(&typeset.w1, bits, sizeof bits);
    Cell* by_set = block::copy(b, stack::push_cell(), {.types = stack::push(typeset)});
    EXPECT_NE(cells(by_set)[1].w2, cells(b)[1].w2);
    EXPECT_EQ(cells(by_set)[2].w2, cells(b)[2].w2);

    Cell* self = load("1");
    block::insert(self, stack::push(*self), {.only = true, .append = true});
    EXPECT_TRUE(raises(error::kInternal, error::internal::no_cycle,
                       [&] { block::copy(self, stack::push_cell(), {.deep = true}); }));
    EXPECT_EQ(cycles::depth(), 0u);
    EXPECT_TRUE(raises(error::kInternal, error::internal::no_cycle,
                       [&] { block::copy_series(self, true, false); }));
}

// --- find and select --------------------------------------------------------------------------

constexpr int32_t kNoPart = INT32_MIN;

struct FindCase {
    const char* values;
    uint32_t index;
    const char* value;
    std::string refinements; // of only, last, reverse, tail, match
    int32_t skip;            // 0: no /skip
    int32_t part;            // kNoPart: no /part
    int32_t found;           // -1: none

    bool has(const char* name) const { return refinements.find(name) != std::string::npos; }
};

TEST_F(Block, Find) {
    const FindCase cases[] = {
        {"1 2 3 2 3", 0, "3", "", 0, kNoPart, 2},
        {"1 2 3 2 3", 0, "[2 3]", "", 0, kNoPart, 1},
        {"1 2 3 2 3", 2, "[2 3]", "", 0, kNoPart, 3},
        {"1 2 3 2 3", 0, "[3 9]", "", 0, kNoPart, -1},
        {"1 2 3", 0, "[3 4]", "", 0, kNoPart, -1}, // the sub-sequence would run past the tail
        {"1 2 3", 0, "[]", "", 0, kNoPart, -1},    // an empty sub-sequence finds nothing
        {"1 [2 3] 2 3", 0, "[2 3]", "only", 0, kNoPart, 1},
        {"none \"a\" 7 8", 0, "integer!", "", 0, kNoPart, 2},
        {"7 integer! 8", 0, "integer!", "only", 0, kNoPart, 1},
        {"1 2 3", 3, "3", "last", 0, kNoPart, -1}, // /last at the tail finds nothing
        {"1 2 3", 3, "3", "", 0, kNoPart, -1},
        {"3 1 2 3", 4, "3", "reverse", 0, kNoPart, 3}, // from the last cell back
        {"3 1 2 3", 3, "3", "reverse", 0, kNoPart, 0},
        {"3 1 2 3", 0, "3", "last", 0, kNoPart, 3},
        {"1 2 3 2", 0, "2", "last tail", 0, kNoPart, 4},
        {"1 2 3", 1, "2", "match", 0, kNoPart, 1},
        {"1 2 3", 1, "2", "tail match", 0, kNoPart, 2},
        {"1 2 3", 0, "2", "match", 0, kNoPart, -1}, // a mismatch at the index, though 2 follows
        {"1 2 3 4", 0, "2", "tail", 0, kNoPart, 2},
        {"1 2 3 4", 0, "[2 3]", "tail", 0, kNoPart, 3},
        {"1 2 2 3", 0, "2", "", 2, kNoPart, 2},
        {"1 2 3 4", 0, "2", "", 2, kNoPart, -1},
        {"1 2 3 2 5", 0, "3", "last", 2, kNoPart, 2},
        {"1 2 3", 0, "1", "", 0, 0, -1},
        {"1 2 3 4", 0, "3", "", 0, 2, -1},
        {"1 2 3 4", 0, "3", "", 0, 3, 2},
        {"1 2 3 4", 0, "3", "last", 0, 3, 2},
    };
    for (const FindCase& c : cases) {
        Cell* series = push_at(load(c.values), c.index);
        Cell* value = value_of(c.value);
        Cell* skip = c.skip ? stack::push(integer(c.skip)) : nullptr;
        Cell* part = c.part != kNoPart ? stack::push(integer(c.part)) : nullptr;
        Cell* r = block::find(series, value,
                              {.part = part,
                               .only = c.has("only"),
                               .skip = skip,
                               .last = c.has("last"),
                               .reverse = c.has("reverse"),
                               .tail = c.has("tail"),
                               .match = c.has("match")});
        if (c.found < 0) {
            EXPECT_EQ(cell::type(r), kTypeNone) << c.values << " / " << c.value;
        } else {
            ASSERT_EQ(cell::type(r), kTypeBlock) << c.values << " / " << c.value;
            EXPECT_EQ(r->w1, static_cast<uint32_t>(c.found)) << c.values << " / " << c.value;
            EXPECT_EQ(r->w2, series->w2);
        }
    }
}

TEST_F(Block, FindPartAsAPositionAndBadArguments) {
    Cell* b = load("1 2 3 4");
    Cell* end = push_at(b, 2); // a position includes its own cell
    EXPECT_EQ(block::find(b, value_of("3"), {.part = end})->w1, 2u);
    Cell* zero = stack::push(integer(0));
    EXPECT_TRUE(raises(error::kScript, error::script::out_of_range,
                       [&] { block::find(b, value_of("3"), {.skip = zero}); }));
    Cell* word_skip = value_of("x");
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_refine_arg,
                       [&] { block::find(b, value_of("3"), {.skip = word_skip}); }));
    Cell* foreign = load("1");
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_refine_arg,
                       [&] { block::find(b, value_of("3"), {.part = foreign}); }));
    // /case compares strictly, /same by identity.
    Cell* words = load("a b: c");
    EXPECT_EQ(block::find(words, value_of("b"), {})->w1, 1u);
    EXPECT_EQ(cell::type(block::find(words, value_of("b"), {.case_ = true})), kTypeNone);
    Cell* inner = load("[1] [1]");
    Cell* second = stack::push(cells(inner)[1]);
    EXPECT_EQ(block::find(inner, second, {.only = true, .same = true})->w1, 1u);
}

TEST_F(Block, ValuesWithoutACompareActionMatchNothingAndSortByType) {
    Cell* b = load("5 0 2");
    cells(b)[1] = Cell{kTypeContext, 0, 0, 0}; // context! has no compare action
    EXPECT_EQ(block::find(b, value_of("2"), {})->w1, 2u);
    Cell* context = stack::push(cells(b)[1]);
    EXPECT_EQ(cell::type(block::find(b, context, {.only = true})), kTypeNone);
    block::sort(b, {});
    EXPECT_EQ(cell::type(&cells(b)[2]), kTypeContext); // context! (14) after integer! (11)
    EXPECT_EQ(block::compare(b, load("2 5 0"), action::op::equal), 1);
}

TEST_F(Block, SelectGivesTheValueAfterTheMatch) {
    auto select = [](Cell* b, const std::string& v) { return block::select(b, value_of(v), {}); };
    EXPECT_EQ(mold(select(load("a 1 b 2"), "b")), "2");
    EXPECT_EQ(mold(select(load("a 1 b"), "b")), "none");
    EXPECT_EQ(mold(select(load("a b 1 a b 2"), "[a b]")), "1");
    EXPECT_EQ(mold(select(load("a b"), "[a b]")), "none");
    EXPECT_EQ(mold(select(load("1 integer! 2"), "integer!")), "integer!");
    EXPECT_EQ(mold(select(load("x"), "y")), "none");
}

// A hash! answers single values through its table, with the results of the linear search of
// a block: the same cells are visited in the same directions, by step, up to /part.
TEST_F(Block, FindOnAHashGoesThroughItsTable) {
    const FindCase cases[] = {
        {"1 2 3 2 3", 0, "3", "", 0, kNoPart, 2},
        {"1 2 3 2 3", 3, "3", "", 0, kNoPart, 4},
        {"1 2 3", 3, "3", "", 0, kNoPart, -1},
        {"1 2 3", 3, "3", "last", 0, kNoPart, -1},
        {"3 1 2 3", 4, "3", "reverse", 0, kNoPart, 3},
        {"3 1 2 3", 3, "3", "reverse", 0, kNoPart, 0},
        {"3 1 2 3", 2, "3", "last", 0, kNoPart, 3}, // /last searches back from the tail
        {"1 2 3 2", 0, "2", "last tail", 0, kNoPart, 4},
        {"1 2 3 4", 0, "2", "tail", 0, kNoPart, 2},
        {"1 2 2 3", 0, "2", "", 2, kNoPart, 2},
        {"1 2 3 4", 0, "2", "", 2, kNoPart, -1},
        {"1 2 3 2 5", 0, "3", "last", 2, kNoPart, 2},
        {"2 1 5 2 1", 0, "2", "last", 2, kNoPart, 0}, // back by 2 from the last cell
        {"1 2 9 2 9", 1, "2", "tail", 2, kNoPart, 3},
        {"1 2 3 4", 0, "3", "", 0, 2, -1},
        {"1 2 3 4", 0, "3", "", 0, 3, 2},
        {"3 1 3 4", 0, "3", "last", 0, 3, 2},
        {"3 1 3 4", 3, "3", "reverse", 0, 1, 2}, // /part counts from the index
        {"a b: c", 0, "b", "", 0, kNoPart, 1},
        {"none true none", 1, "none", "", 0, kNoPart, 2},
    };
    for (const FindCase& c : cases) {
        Cell* value = value_of(c.value);
        Cell* skip = c.skip ? stack::push(integer(c.skip)) : nullptr;
        Cell* part = c.part != kNoPart ? stack::push(integer(c.part)) : nullptr;
        for (bool hash : {false, true}) {
            Cell* series = push_at(hash ? hashed(c.values) : load(c.values), c.index);
            compare_calls() = 0;
            Cell* r = block::find(series, value,
                                  {.part = part,
                                   .skip = skip,
                                   .last = c.has("last"),
                                   .reverse = c.has("reverse"),
                                   .tail = c.has("tail")});
            const std::string what = std::string(c.values) + " / " + c.value + (hash ? " #" : "");
            if (hash) {
                EXPECT_EQ(compare_calls(), 0) << what; // found by the table
            }
            if (c.found < 0) {
                EXPECT_EQ(cell::type(r), kTypeNone) << what;
            } else {
                ASSERT_NE(cell::type(r), kTypeNone) << what;
                EXPECT_EQ(r->w1, static_cast<uint32_t>(c.found)) << what;
                EXPECT_EQ(r->w2, series->w2) << what;
            }
        }
    }
    // Values the table cannot answer by their hash are searched linearly: a sub-sequence, a
    // datatype, /match.
    auto find = [](Cell* series, const std::string& value, bool only, bool same, bool match) {
        return block::find(series, value_of(value), {.only = only, .same = same, .match = match});
    };
    Cell* h = hashed("1 [2 3] 2 3");
    EXPECT_EQ(find(h, "[2 3]", false, false, false)->w1, 2u);
    EXPECT_EQ(find(h, "[2 3]", true, false, false)->w1, 1u);
    EXPECT_EQ(find(h, "block!", false, false, false)->w1, 1u);
    EXPECT_EQ(cell::type(find(h, "2", false, false, true)), kTypeNone);
    // /same with /only finds a nested block by identity through the table.
    Cell* nested = stack::push(cells(h)[1]);
    EXPECT_EQ(block::find(h, nested, {.only = true, .same = true})->w1, 1u);
    // An integer and a float are different values to find, 0.0 and -0.0 the same, in a block
    // as in a hash!.
    Cell* mixed = load("0 1 0");
    float_::make_at(&cells(mixed)[0], 1.0);
    float_::make_at(&cells(mixed)[2], -0.0);
    Cell* zero = float_::push(0.0);
    for (bool hash : {false, true}) {
        Cell* series = stack::push(*mixed);
        if (hash) {
            cell::set_type(series, kTypeHash);
            series->w3 = hashtable::init(3, series, hashtable::kHash);
        }
        EXPECT_EQ(find(series, "1", false, false, false)->w1, 1u) << hash;
        EXPECT_EQ(block::find(stack::push(*series), zero, {})->w1, 2u) << hash;
    }
}

// Every change to a hash! brings its table up to date, so that finds through it stay right.
TEST_F(Block, AHashStaysFindableThroughChanges) {
    Cell* h = hashed("5 4 3");
    // The actions leave their results in their first argument: each gets a copy of the hash!.
    auto at = [&](uint32_t index) { return stack::push(Cell{h->header, index, h->w2, h->w3}); };
    auto where = [&](int32_t v) {
        compare_calls() = 0;
        Cell* r = block::find(at(0), stack::push(integer(v)), {});
        EXPECT_EQ(compare_calls(), 0);
        return cell::type(r) == kTypeNone ? -1 : static_cast<int32_t>(r->w1);
    };
    block::insert(at(1), value_of("[7 8]"), {}); // 5 7 8 4 3
    EXPECT_EQ(where(4), 3);
    EXPECT_EQ(where(8), 2);
    series::remove(at(0), stack::push(integer(2)), nullptr); // 8 4 3
    EXPECT_EQ(where(5), -1);
    EXPECT_EQ(where(3), 2);
    series::poke(at(0), 1, stack::push(integer(9)), nullptr); // 9 4 3
    EXPECT_EQ(where(8), -1);
    EXPECT_EQ(where(9), 0);
    block::sort(at(0), {}); // 3 4 9
    EXPECT_EQ(where(9), 2);
    series::reverse(at(0), nullptr, nullptr); // 9 4 3
    EXPECT_EQ(where(3), 2);
    block::change(at(2), value_of("1"), {}); // 9 4 1
    EXPECT_EQ(where(1), 2);
    EXPECT_EQ(where(3), -1);
    series::clear(at(1)); // 9
    EXPECT_EQ(where(1), -1);
    EXPECT_EQ(where(9), 0);
    const Cell cells_of_h{kTypeBlock, 0, h->w2, 0};
    EXPECT_EQ(all_of(&cells_of_h), "[9]");
}

// Word lookups in blocks and in hash tables resolve case variants of a symbol by the one
// resolver that the symbol table installs.
TEST_F(Block, WordsMatchTheirCaseVariantsInBlocksAndTables) {
    EXPECT_EQ(::symbol::resolve(symbol("FOO")), symbol("foo"));
    const Cell key = word("foo");
    const Cell after = *block::find_word(load("a FOO: 1"), &key, false); // copied: mold moves it
    EXPECT_EQ(mold(&after), "1");
    EXPECT_EQ(cell::type(block::find_word(load("a FOO: 1"), &key, true)), kTypeNone);
    for (bool hash : {false, true}) {
        Cell* series = hash ? hashed("a FOO 1") : load("a FOO 1");
        EXPECT_EQ(block::find(series, stack::push(key), {})->w1, 1u) << hash;
        EXPECT_EQ(cell::type(block::find(series, stack::push(key), {.case_ = true})),
                  kTypeNone)
            << hash; // /case: the exact symbol
    }
}

// --- Set operations ---------------------------------------------------------------------------

TEST_F(Block, SetOperations) {
    struct Case {
        const char* first;
        const char* second;
        int32_t operation;
        int32_t skip;
        const char* result;
    } cases[] = {
        {"3 1 3 2 1", "", block::kUnique, 0, "[3 1 2]"},
        {"a 1 b 2 a 3", "", block::kUnique, 2, "[a 1 b 2]"},
        {"3 1 2", "4 1 5 3", block::kUnion, 0, "[3 1 2 4 5]"},
        {"1 2 3 2", "2 3 4", block::kIntersect, 0, "[2 3]"},
        {"1 2 3 1", "2", block::kExclude, 0, "[1 3]"},
        {"1 2 3", "3 4", block::kDifference, 0, "[1 2 4]"},
        {"[1] [2] [1]", "[2] [3]", block::kUnion, 0, "[[1] [2] [3]]"},
        {"a 1 b 2", "b 5 c 6", block::kUnion, 2, "[a 1 b 2 c 6]"},
    };
    for (const Case& c : cases) {
        Cell* saved = stack::arguments;
        Cell* first = load(c.first);
        stack::arguments = first;
        Cell* second = load(c.second);
        EXPECT_EQ(second, first + 1);
        Cell* skip = c.skip ? stack::push(integer(c.skip)) : nullptr;
        Cell* r = block::set_operation(false, skip, c.operation);
        EXPECT_EQ(r, first);
        EXPECT_EQ(mold(r), c.result) << c.first << " | " << c.second;
        EXPECT_EQ(cell::type(r), kTypeBlock);
        stack::arguments = saved;
    }
    // The result is a hash! when either set of a two-set operation is one.
    Cell* saved = stack::arguments;
    Cell* first = load("1 2 3");
    stack::arguments = first;
    Cell* second = load("2 3");
    cell::set_type(second, kTypeHash);
    block::set_operation(false, nullptr, block::kIntersect);
    EXPECT_EQ(cell::type(first), kTypeHash);
    EXPECT_EQ(all_of(&(*first = Cell{kTypeBlock, 0, first->w2, 0})), "[2 3]");
    Cell* zero = stack::push(integer(0));
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_refine_arg,
                       [&] { block::set_operation(false, zero, block::kUnique); }));
    stack::arguments = saved;
}

// The set operations look records up in hash tables: one over the result, and one over the
// other set for each pass that tests membership (a hash!'s own table when it has one).
// Elements are never compared one by one, so large sets take time in proportion to their
// sizes; any-block! elements are the exception and are searched linearly.
TEST_F(Block, SetOperationsRunThroughHashTables) {
    constexpr int kN = 3000;
    const std::string n1 = std::to_string(kN + 1);
    const struct Case {
        int32_t operation;
        std::string first;
        std::string second;
        std::string result; // molded
    } cases[] = {
        {block::kUnion, run_of(kN, 1), run_of(kN / 2, kN * 3 / 2),
         "[" + run_of(kN, 1) + " " + run_of(kN + 1, kN * 3 / 2) + "]"},
        {block::kIntersect, run_of(1, kN), run_of(kN * 2, kN / 2), "[" + run_of(kN / 2, kN) + "]"},
        {block::kExclude, run_of(1, kN), run_of(kN * 2, 2), "[1]"},
        {block::kDifference, run_of(1, kN), run_of(2, kN + 1), "[1 " + n1 + "]"},
        {block::kUnique, run_of(1, kN) + " " + run_of(kN, 1), "", "[" + run_of(1, kN) + "]"},
    };
    for (const Case& c : cases) {
        Cell* saved = stack::arguments;
        Cell* first = load(c.first);
        stack::arguments = first;
        load(c.second);
        compare_calls() = 0;
        block::set_operation(false, nullptr, c.operation);
        EXPECT_EQ(compare_calls(), 0) << c.operation;
        EXPECT_EQ(mold(first, false, true), c.result) << c.operation;
        stack::arguments = saved;
    }

    // The other set a hash! with its table; the result a hash! holding a table of its own.
    Cell* saved = stack::arguments;
    Cell* first = load("1 2 3 4 5");
    stack::arguments = first;
    hashed("5 9 3 1");
    compare_calls() = 0;
    block::set_operation(false, nullptr, block::kIntersect);
    EXPECT_EQ(compare_calls(), 0);
    ASSERT_EQ(cell::type(first), kTypeHash);
    ASSERT_NE(first->w3, 0u);
    EXPECT_EQ(hashtable::record(first->w3)->size, 3u);
    EXPECT_EQ(block::find(first, value_of("5"), {})->w1, 2u);
    EXPECT_EQ(compare_calls(), 0);
    EXPECT_EQ(all_of(&(*first = Cell{kTypeBlock, 0, first->w2, 0})), "[1 3 5]");

    // Both sets count from their indexes.
    first = load("9 1 2 3 4 5");
    first->w1 = 1;
    stack::arguments = first;
    load("1 2 3 4")->w1 = 2;
    block::set_operation(false, nullptr, block::kIntersect);
    EXPECT_EQ(mold(first), "[3 4]");

    // Records: with /skip only first cells are keys; the others travel with them.
    first = load("1 10 2 20 1 30 3 1");
    stack::arguments = first;
    load("3 2 1 1");
    Cell* two = stack::push(integer(2));
    block::set_operation(false, two, block::kExclude);
    EXPECT_EQ(mold(first), "[2 20]");

    // An integer and a float are different keys, as find tells them apart.
    first = load("0 1 1");
    float_::make_at(&cells(first)[0], 1.0);
    stack::arguments = first;
    block::set_operation(false, nullptr, block::kUnique);
    EXPECT_EQ(mold(first), "[1.0 1]");
    stack::arguments = saved;
}

// --- Sort
// -------------------------------------------------------------------------------------------

class BlockSort : public Block {
protected:
    static Cell* sort(Cell* b, const action::SortOptions& options = {}) {
        return block::sort(b, options);
    }

    // The comparator hooks: what the stand-in function does with its frame.
    enum class Mode { lesser, difference, records, grow, error };
    static Mode& mode() {
        static Mode m = Mode::lesser;
        return m;
    }
    static Cell*& sorted() {
        static Cell* s = nullptr;
        return s;
    }
    static int& frame_errors() {
        static int n = 0;
        return n;
    }
    // Stands in for the evaluator calling the function: the frame is the result slot, the two
    // arguments, then the refinement slots of "a b /local c": false and none.
    static void call(const Cell*) {
        Cell* args = stack::arguments;
        if (stack::top - args != 5 || cell::type(args + 3) != kTypeLogic || args[3].w1 != 0 ||
            cell::type(args + 4) != kTypeNone)
            ++frame_errors();
        Cell* first = args + 1;
        Cell* second = args + 2;
        switch (mode()) {
        case Mode::lesser:
            logic::make_at(args,
                           static_cast<int32_t>(first->w2) < static_cast<int32_t>(second->w2));
            break;
        case Mode::difference:
            series::integer_at(args, static_cast<int32_t>(first->w2 - second->w2));
            break;
        case Mode::records: // blocks of one record: compare their second cells
            logic::make_at(args, static_cast<int32_t>(cells(first)[1].w2) <
                                     static_cast<int32_t>(cells(second)[1].w2));
            break;
        case Mode::grow: {
            // Allocation is allowed; changing the sorted series is not.
            for (int i = 0; i < 4; ++i) block::push_new(64);
            Cell v = integer(0);
            block::append_copy(sorted(), &v);
            logic::make_at(args, true);
            break;
        }
        case Mode::error:
            error::fire(error::kScript, error::script::invalid_arg, {first});
        }
    }
    Cell* function() {
        Cell* spec = load("a b /local c");
        return stack::push(Cell{kTypeFunction, 0, spec->w2, 0});
    }
    void SetUp() override {
        Block::SetUp();
        block::set_function_caller(call);
        // The stand-in function keeps its spec block in word 2: the collector follows it
        // there as it does for a block.
        collector::set_type_marker(kTypeFunction, collector::mark_block_cell);
        mode() = Mode::lesser;
        frame_errors() = 0;
    }
};

TEST_F(BlockSort, PlainReverseAndMixedTypes) {
    EXPECT_EQ(all_of(sort(load("3 1 2"))), "[1 2 3]");
    EXPECT_EQ(all_of(sort(load("3 1 2"), {.reverse = true})), "[3 2 1]");
    EXPECT_EQ(all_of(sort(load("2 \"b\" 1 none \"a\" true"))), "[none true \"a\" \"b\" 1 2]");
    EXPECT_EQ(all_of(sort(load(""))), "[]");
    Cell* b = load("5 3 4 1");
    sort(push_at(b, 1));
    EXPECT_EQ(all_of(b), "[5 1 3 4]");
}

TEST_F(BlockSort, IntegersOrderByValueAndEqualOnesKeepTheirOrder) {
    EXPECT_EQ(all_of(sort(load("7 -2147483648 2147483647 0 -1"))),
              "[-2147483648 -1 0 7 2147483647]");
    // The second 2 (and the second 1) starts a new line: equal values do not swap places.
    auto new_line = [](const Cell* b, uint32_t i) {
        return (block::cell_at(b, i)->header & cell::kNewLine) != 0;
    };
    Cell* b = load("2 1\n2");
    sort(b);
    EXPECT_EQ(all_of(b), "[1 2 2]");
    EXPECT_FALSE(new_line(b, 1));
    EXPECT_TRUE(new_line(b, 2));
    Cell* r = load("1 2\n1");
    sort(r, {.reverse = true});
    EXPECT_FALSE(new_line(r, 1));
    EXPECT_TRUE(new_line(r, 2));
    EXPECT_EQ(all_of(sort(load("7 -2147483648 2147483647 0 -1"), {.reverse = true})),
              "[2147483647 7 0 -1 -2147483648]");

    // Many values over the whole range, repeats among them, in both directions.
    std::vector<int32_t> values;
    uint32_t x = 12345;
    for (int i = 0; i < 5000; ++i) {
        x = x * 1103515245u + 12345u;
        values.push_back(static_cast<int32_t>(i % 7 == 0 ? x % 100 : x));
    }
    for (const bool reverse : {false, true}) {
        Cell* many = block::push_new(5000);
        for (int32_t v : values) {
            const Cell c = integer(v);
            block::append_copy(many, &c);
        }
        sort(many, {.reverse = reverse});
        std::vector<int32_t> expected = values;
        std::sort(expected.begin(), expected.end());
        if (reverse) std::reverse(expected.begin(), expected.end());
        for (uint32_t i = 0; i < expected.size(); ++i)
            ASSERT_EQ(static_cast<int32_t>(block::cell_at(many, i)->w2), expected[i]) << i;
    }
}

TEST_F(BlockSort, SkipCompareAndAll) {
    Cell* two = stack::push(integer(2));
    EXPECT_EQ(all_of(sort(load("3 a 1 b 2 c"), {.skip = two})), "[1 b 2 c 3 a]");
    Cell* offset = stack::push(integer(2));
    EXPECT_EQ(all_of(sort(load("1 9 2 7 3 8"), {.skip = two, .comparator = offset})),
              "[2 7 3 8 1 9]");
    EXPECT_EQ(all_of(sort(load("1 2 1 1"), {.skip = two, .all = true})), "[1 1 1 2]");

    Cell* four = stack::push(integer(4));
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_refine_arg,
                       [&] { sort(load("1 2 3 4 5 6"), {.skip = four}); }));
    Cell* three = stack::push(integer(3));
    EXPECT_TRUE(raises(error::kScript, error::script::out_of_range,
                       [&] { sort(load("1 2 3 4"), {.skip = two, .comparator = three}); }));
    EXPECT_TRUE(raises(error::kScript, error::script::bad_refines,
                       [&] { sort(load("1 2"), {.all = true}); }));
    EXPECT_TRUE(raises(error::kScript, error::script::bad_refines,
                       [&] { sort(load("1 2"), {.comparator = offset}); }));
    EXPECT_TRUE(raises(error::kScript, error::script::bad_refines, [&] {
        sort(load("1 2"), {.skip = two, .comparator = offset, .all = true});
    }));
    Cell* text = push_string("x");
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_refine_arg,
                       [&] { sort(load("1 2"), {.comparator = text}); }));
}

TEST_F(BlockSort, PartAndStable) {
    Cell* b = load("4 3 2 1");
    sort(b, {.part = stack::push(integer(2))});
    EXPECT_EQ(all_of(b), "[3 4 2 1]");
    Cell* at = push_at(b, 3);
    sort(at, {.part = stack::push(integer(-2))});
    EXPECT_EQ(all_of(b), "[3 2 4 1]");
    EXPECT_EQ(at->w1, 1u); // left at the first sorted cell
    Cell* before = push_at(b, 1);
    sort(before, {.part = stack::push(integer(-5))});
    EXPECT_EQ(before->w1, 0u); // nothing before the head: nothing sorted
    EXPECT_EQ(all_of(b), "[3 2 4 1]");

    // Equal keys keep their order with /stable.
    Cell* two = stack::push(integer(2));
    Cell* records = load("1 a 0 b 1 c 0 d 1 e 0 f");
    sort(records, {.skip = two, .stable = true});
    EXPECT_EQ(all_of(records), "[0 b 0 d 0 f 1 a 1 c 1 e]");
    Cell* reversed = load("1 a 0 b 1 c 0 d");
    sort(reversed, {.skip = two, .reverse = true, .stable = true});
    EXPECT_EQ(all_of(reversed), "[1 a 1 c 0 b 0 d]");
}

TEST_F(BlockSort, UserComparator) {
    Cell* f = function();
    EXPECT_EQ(all_of(sort(load("3 1 2 5 4"), {.comparator = f})), "[1 2 3 4 5]");
    EXPECT_EQ(all_of(sort(load("3 1 2 5 4"), {.comparator = f, .reverse = true})), "[5 4 3 2 1]");
    EXPECT_EQ(all_of(sort(load("3 1 2 5 4"), {.comparator = f, .stable = true})), "[1 2 3 4 5]");
    // A positive answer puts the comparator's first argument first.
    mode() = Mode::difference;
    EXPECT_EQ(all_of(sort(load("3 1 2"), {.comparator = f})), "[3 2 1]");
    // Whole records arrive as blocks of one record each.
    mode() = Mode::records;
    Cell* two = stack::push(integer(2));
    EXPECT_EQ(all_of(sort(load("a 3 b 1 c 2"), {.skip = two, .comparator = f, .all = true})),
              "[b 1 c 2 a 3]");
    EXPECT_EQ(frame_errors(), 0);

    Cell* three_args = stack::push(Cell{kTypeFunction, 0, load("a b c")->w2, 0});
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_refine_arg,
                       [&] { sort(load("1 2"), {.comparator = three_args}); }));
}

TEST_F(BlockSort, ComparatorAnswers) {
    Cell f{kTypeFloat, 0, 0, 0};
    auto with = [&](double d) {
        std::memcpy(&f.w2, &d, sizeof d);
        return block::comparator_answer(&f);
    };
    EXPECT_EQ(block::comparator_answer(&logic::true_value), 1);
    EXPECT_EQ(block::comparator_answer(&logic::false_value), -1);
    Cell i = integer(-7);
    EXPECT_EQ(block::comparator_answer(&i), -7);
    EXPECT_EQ(with(0.5), 1);
    EXPECT_EQ(with(-0.5), -1);
    EXPECT_EQ(with(0.0), 0);
    EXPECT_EQ(block::comparator_answer(&none::value), -1);
    Cell d = datatype_value(kTypeBlock);
    EXPECT_EQ(block::comparator_answer(&d), 1);
}

TEST_F(BlockSort, AComparatorThatChangesTheSeriesIsStopped) {
    Cell* f = function();
    for (bool stable : {false, true}) {
        Cell* b = load("3 1 2 5 4 9 8");
        sorted() = b;
        mode() = Mode::grow;
        Cell* top = stack::top;
        EXPECT_TRUE(raises(error::kScript, error::script::protected_,
                           [&] { sort(b, {.comparator = f, .stable = stable}); }));
        EXPECT_EQ(stack::top, top);
        EXPECT_EQ(all_of(b), "[3 1 2 5 4 9 8 0]"); // one append, then the sort stopped
        EXPECT_EQ(collector::state.pins, 0u);
    }
    Cell* top = stack::top;

    mode() = Mode::error;
    Cell* c = load("3 1 2");
    EXPECT_TRUE(
        raises(error::kScript, error::script::invalid_arg, [&] { sort(c, {.comparator = f}); }));
    EXPECT_EQ(stack::top, top + 1);
    EXPECT_EQ(collector::state.pins, 0u);
}

TEST_F(BlockSort, WithoutAnEvaluatorAFunctionCannotBeCalled) {
    block::set_function_caller(nullptr);
    Cell* f = function();
    EXPECT_TRUE(raises(error::kInternal, error::internal::not_done,
                       [&] { sort(load("2 1"), {.comparator = f}); }));
}

} // namespace
