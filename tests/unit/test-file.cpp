#include <gtest/gtest.h>

#include "runtime-core/error-ids.h"
#include "types2-fixture.h"

namespace {

using File = Types2Test;

TEST_F(File, WindowsForm) {
    struct Case {
        std::u32string path, local, full;
    } cases[] = {
        {U"/c/windows/x.txt", U"c:\\windows\\x.txt", U"c:\\windows\\x.txt"},
        {U"/c", U"c:\\", U"c:\\"},
        {U"/c/", U"c:\\", U"c:\\"},
        {U"/server/share/a", U"\\\\server\\share\\a", U"\\\\server\\share\\a"},
        {U"//x", U"\\x", U"\\x"},
        {U"/", U"\\", U"\\"},
        {U"a/b", U"a\\b", U"d:\\work\\a\\b"},
        {U"", U"", U"d:\\work\\"},
        {U"/c/\u00E9t\u00E9/", U"c:\\\u00E9t\u00E9\\", U"c:\\\u00E9t\u00E9\\"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(file::to_windows_form(c.path, U""), c.local);
        EXPECT_EQ(file::to_windows_form(c.path, U"d:\\work\\"), c.full);
    }
}

TEST_F(File, PosixForm) {
    struct Case {
        std::u32string path, local, full;
    } cases[] = {
        {U"/home/x.txt", U"/home/x.txt", U"/home/x.txt"},
        {U"a/b", U"a/b", U"/work/a/b"},
        {U"/", U"/", U"/"},
        {U"", U"", U"/work/"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(file::to_posix_form(c.path, U""), c.local);
        EXPECT_EQ(file::to_posix_form(c.path, U"/work/"), c.full);
    }
}

TEST_F(File, ToLocalOnCells) {
    GcRoot f(text(kTypeFile, "dir/x"));
    GcRoot out(*string::make_at(stack::push_cell(), 8));
    file::to_local(&f.cell(), &out.cell(), false);
    EXPECT_EQ(utf8_of(out.cell()), "dir\\x");
    GcRoot full(*string::make_at(stack::push_cell(), 8));
    file::to_local(&f.cell(), &full.cell(), true);
    const std::string text = utf8_of(full.cell());
    EXPECT_GT(text.size(), 6u);
#ifdef _WIN32
    EXPECT_EQ(text.substr(text.size() - 6), "\\dir\\x"); // the current folder in front
#else
    EXPECT_EQ(text.substr(text.size() - 6), "/dir\\x"); // the POSIX current folder in front
#endif
}

TEST_F(File, MoldQuotesWhereNeeded) {
    struct Case {
        const char* path;
        const char* text;
    } cases[] = {
        {"", "%\"\""},
        {"a b.txt", "%\"a b.txt\""},
        {"a;b", "%\"a;b\""},
        {"dir/file-1.txt", "%dir/file-1.txt"},
        {"/c/\xC3\xA9t\xC3\xA9", "%/c/\xC3\xA9t\xC3\xA9"},
    };
    for (const Case& c : cases) {
        const Cell f = text(kTypeFile, c.path);
        GcRoot held(f);
        Cell* s = string::make_at(stack::push_cell(), 16);
        Cell* v = stack::push(held.cell());
        const int32_t left = file::mold(v, s, {}, 1000, 0);
        EXPECT_EQ(utf8_of(*s), c.text);
        EXPECT_EQ(left, 1000 - static_cast<int32_t>(string::length(&held.cell())) - 1);
    }
}

TEST_F(File, InheritsFromUrl) {
    GcRoot spec(block({}));
    append(spec.cell().w2, unbound(kTypeWord, sym("a")));
    append(spec.cell().w2, unbound(kTypeWord, sym("b")));
    const Cell f =
        convert(datatype::function<action::slot::make>(kTypeFile), kTypeFile, spec.cell());
    EXPECT_EQ(cell::type(&f), kTypeFile);
    EXPECT_EQ(utf8_of(f), "ab"); // a block of parts builds urls only: a file joins the values
    GcRoot x(text(kTypeFile, "x"));
    EXPECT_TRUE(raises(error::kInternal, error::internal::not_done,
                       [&] { file::read(&x.cell(), {.as = &x.cell()}); }));
}

} // namespace
