#include <gtest/gtest.h>

#include "path-fixture.h"

namespace {

class Issue : public PathTest {
protected:
    static Cell issue_of(const char* text) { return Cell{kTypeIssue, 0, sym(text), 0}; }
};

TEST_F(Issue, FormIsTheBareTextMoldAddsTheHash) {
    struct Case {
        const char* text;
        const char* form;
        const char* mold;
    } cases[] = {
        {"abc", "abc", "#abc"},
        {"AbC", "AbC", "#AbC"},
        {"12-34", "12-34", "#12-34"},
        {"caf\xC3\xA9", "caf\xE9", "#caf\xE9"}, // read back as code points
    };
    for (const Case& c : cases) {
        GcRoot i(issue_of(c.text));
        int32_t used = 0;
        EXPECT_EQ(form(i.cell(), &used), c.form);
        EXPECT_EQ(used, static_cast<int32_t>(std::string(c.form).size()));
        EXPECT_EQ(mold(i.cell(), false, &used), c.mold);
        EXPECT_EQ(used, static_cast<int32_t>(std::string(c.mold).size()));
    }
    GcRoot in_block(list(kTypeBlock, {issue_of("a"), issue_of("b")}));
    EXPECT_EQ(mold(in_block.cell()), "[#a #b]");
}

TEST_F(Issue, ToIssueFromTextWordsAndChars) {
    GcRoot abc(text_value("abc"));
    GcRoot from_index(text_value("abcde", 2));
    GcRoot blank(text_value("a b"));
    GcRoot empty(text_value(""));
    GcRoot x(Cell{kTypeChar, 0, 'x', 0});
    GcRoot e_acute(Cell{kTypeChar, 0, 0xE9, 0});
    GcRoot type(Cell{kTypeDatatype, kTypeInteger, 0, 0});
    GcRoot yes(Cell{kTypeLogic, 1, 0, 0});
    struct Case {
        const char* what;
        GcRoot* spec;
        const char* text;
    } cases[] = {
        {"string", &abc, "abc"},
        {"string from its index", &from_index, "cde"},
        {"text taken as it is", &blank, "a b"},
        {"empty text", &empty, ""},
        {"char", &x, "x"},
        {"wide char", &e_acute, "\xC3\xA9"},
        {"datatype", &type, "integer!"},
        {"logic", &yes, "true"},
    };
    for (const Case& c : cases) {
        for (bool make : {false, true}) {
            const Cell made = convert(kTypeIssue, c.spec->cell(), make);
            EXPECT_EQ(made.header, kTypeIssue) << c.what;
            EXPECT_EQ(text_of_symbol(made.w2), c.text) << c.what;
            EXPECT_EQ(made.w1, context::global) << c.what;
        }
    }
    // The source string is left as it was.
    EXPECT_EQ(ascii(from_index.cell()), "cde");
    // A word type keeps its symbol and binding; the header is rewritten, flags dropped.
    GcRoot bound(word_of("abc"));
    for (uint8_t t :
         {kTypeWord, kTypeSetWord, kTypeLitWord, kTypeGetWord, kTypeRefinement, kTypeIssue}) {
        Cell w = bound.cell();
        w.header = t | cell::kNewLine;
        const Cell made = convert(kTypeIssue, w, false);
        EXPECT_EQ(made.header, kTypeIssue) << int(t);
        EXPECT_EQ(made.w1, bound.cell().w1) << int(t);
        EXPECT_EQ(made.w2, bound.cell().w2) << int(t);
        EXPECT_EQ(made.w3, bound.cell().w3) << int(t);
    }
}

TEST_F(Issue, ToIssueFromOtherValuesFails) {
    GcRoot five(Cell{kTypeInteger, 0, 5, 0});
    GcRoot none(Cell{kTypeNone, 0, 0, 0});
    GcRoot blk(words(kTypeBlock, "a"));
    for (GcRoot* spec : {&five, &none, &blk}) {
        EXPECT_TRUE(raises(error::kScript, error::script::bad_to_arg, [&] {
            convert(kTypeIssue, spec->cell(), false);
        })) << int(cell::type(&spec->cell()));
        EXPECT_EQ(error::last_raised.args[0].w1, uint32_t{kTypeIssue});
    }
}

TEST_F(Issue, CompareOnlyWithIssues) {
    using namespace action::op;
    GcRoot abc(issue_of("abc")), ABC(issue_of("ABC")), abd(issue_of("abd"));
    GcRoot w(word_of("abc"));
    EXPECT_EQ(actions::compare_values(&abc.cell(), &ABC.cell(), equal), 0);
    EXPECT_EQ(actions::compare_values(&abc.cell(), &ABC.cell(), strict_equal), 1);
    EXPECT_LT(actions::compare_values(&abc.cell(), &abd.cell(), lesser), 0);
    EXPECT_EQ(actions::compare_values(&abc.cell(), &w.cell(), equal), -2);
    EXPECT_EQ(actions::compare_values(&w.cell(), &abc.cell(), equal), -2);
    EXPECT_FALSE(actions::compare(&abc.cell(), &w.cell(), equal));
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_compare,
                       [&] { actions::compare(&abc.cell(), &w.cell(), lesser); }));
}

TEST_F(Issue, Constructors) {
    Cell* made = issue::make_at(stack::push_cell(), "tag");
    EXPECT_EQ(made->header, kTypeIssue);
    EXPECT_EQ(made->w1, context::global);
    EXPECT_EQ(made->w3, word::kUnresolved);
    EXPECT_EQ(text_of_symbol(made->w2), "tag");

    GcRoot blk(words(kTypeBlock, "a"));
    issue::add_to_block("x", blk.cell().w2);
    EXPECT_EQ(mold(blk.cell()), "[a #x]");

    // Without the boot flag the issue is pushed; with it, it goes to the root block.
    Cell* const top = stack::top;
    Cell* pushed = issue::from_cstring("y");
    EXPECT_EQ(pushed, top);
    EXPECT_EQ(stack::top, top + 1);
    const uint32_t root_cells = length(root::block);
    {
        root::BootScope boot;
        Cell* permanent = issue::from_cstring("z");
        EXPECT_EQ(permanent, cells(root::block) + root_cells);
        EXPECT_EQ(text_of_symbol(permanent->w2), "z");
    }
    EXPECT_EQ(length(root::block), root_cells + 1);
    EXPECT_EQ(stack::top, top + 1);

    GcRoot w(word_of("w"));
    w.cell().header |= cell::kNewLine;
    Cell* retyped = issue::push(&w.cell());
    EXPECT_EQ(retyped->header, kTypeIssue);
    EXPECT_EQ(retyped->w3, w.cell().w3);
}

TEST_F(Issue, ToIntegerReadsTheTextAsHexadecimal) {
    EXPECT_EQ(convert(kTypeInteger, issue_of("FF"), false).w2, 255u);
    EXPECT_EQ(convert(kTypeInteger, issue_of("7fffffff"), true).w2, 0x7FFFFFFFu);
    GcRoot long_issue(issue_of("123456789"));
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_data,
                       [&] { convert(kTypeInteger, long_issue.cell(), false); }));
    EXPECT_EQ(error::last_raised.args[0].w2, long_issue.cell().w2);
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_data,
                       [&] { convert(kTypeInteger, issue_of("x1"), false); }));
}

} // namespace
