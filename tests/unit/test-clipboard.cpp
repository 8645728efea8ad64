#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "loading/clipboard.h"
#include "runtime-core/unicode.h"

using namespace clipboard;

TEST(Clipboard, LocalPathsBecomeFileNames) {
    struct Case {
        std::u16string local;
        const char* file;
    } cases[] = {
        {u"D:\\dir\\file", "/D/dir/file"},
        {u"D:", "/D/"},
        {u"D:\\dir\\\\", "/D/dir/"},
        {u"dir\\\\sub", "dir/sub"},
        {u"a:b:c", "a/b"},
        {u"\\\\server\\share\\f.txt", "/server/share/f.txt"},
        {u"/home/user/a b.zan", "/home/user/a b.zan"},
        {u"rel/x.txt", "rel/x.txt"},
        {u"C:/mixed\\seps//f", "/C/mixed/seps/f"},
        {u"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(unicode::utf16_to_utf8(local_to_file(c.local)), c.file)
            << unicode::utf16_to_utf8(c.local);
}

TEST(Clipboard, DropFilesLayout) {
    const std::vector<uint8_t> bytes = drop_files({u"C:\\a", u"\u00e9"});
    // Header (20 bytes), "C:\a" and its zero, "é" and its zero, the final zero.
    ASSERT_EQ(bytes.size(), 20u + (5 + 2 + 1) * 2);
    const uint8_t header[20] = {20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0};
    EXPECT_EQ(std::memcmp(bytes.data(), header, sizeof header), 0);
    const uint8_t list[] = {'C', 0, ':', 0, '\\', 0, 'a', 0, 0, 0, 0xE9, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(bytes.data() + 20, list, sizeof list), 0);
    // No files: the header and the final zero.
    EXPECT_EQ(drop_files({}).size(), 22u);
}

// What the platform layer is given comes back: text, a file list, nothing.
TEST(Clipboard, PlatformRoundTrips) {
    Contents text;
    text.kind = Contents::Kind::text;
    text.text = u"line one\nline \u20ac two";
    Contents files;
    files.kind = Contents::Kind::files;
#ifdef _WIN32
    files.files = {u"C:\\dir\\a.txt", u"C:\\my dir\\\u00e9.zan"};
#else
    files.files = {u"/dir/a.txt", u"/my dir/\u00e9.zan"};
#endif
    Contents empty;
    for (const Contents* given : std::vector<const Contents*>{&text, &files, &empty}) {
        ASSERT_TRUE(write_platform(*given));
        Contents read;
        ASSERT_TRUE(read_platform(read));
        EXPECT_EQ(static_cast<int>(read.kind), static_cast<int>(given->kind));
        EXPECT_EQ(read.text, given->text);
        EXPECT_EQ(read.files, given->files);
    }
}
