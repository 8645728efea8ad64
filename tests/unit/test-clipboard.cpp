#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "os/clipboard.h"
#include "runtime-core/unicode.h"
#include "tests/unit/fuzz-corpus.h"

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

namespace {

uint32_t get32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
void put32(std::vector<uint8_t>& bytes, size_t at, uint32_t v) {
    for (int k = 0; k < 4; ++k) bytes[at + k] = static_cast<uint8_t>(v >> (8 * k));
}

} // namespace

TEST(Clipboard, DibV5Layout) {
    const uint32_t words[6] = {0xFF102030, 0x00000000, 0x80FFFFFF, 1, 2, 0xFFFF0000};
    const std::vector<uint8_t> dib = dib_v5(words, 3, 2);
    ASSERT_EQ(dib.size(), 124u + 6 * 4);
    struct Field {
        size_t offset;
        uint32_t value;
    } fields[] = {
        {0, 124},         {4, 3},           {8, 0xFFFFFFFE},  {20, 24},         {24, 0},
        {28, 0},          {32, 0},          {36, 0},          {40, 0x00FF0000}, {44, 0x0000FF00},
        {48, 0x000000FF}, {52, 0xFF000000}, {56, 0x57696E20}, {108, 4},         {112, 0},
        {116, 0},         {120, 0},         {16, 3},
    };
    for (const Field& f : fields) EXPECT_EQ(get32(dib.data() + f.offset), f.value) << f.offset;
    EXPECT_EQ(dib[12] | dib[13] << 8, 1);                        // planes
    EXPECT_EQ(dib[14] | dib[15] << 8, 32);                       // bits per pixel
    for (size_t k = 60; k < 108; ++k) EXPECT_EQ(dib[k], 0) << k; // end points and gamma
    // The pixels top-down, each word little endian: B, G, R, opacity.
    const uint8_t first[4] = {0x30, 0x20, 0x10, 0xFF};
    EXPECT_EQ(std::memcmp(dib.data() + 124, first, 4), 0);
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(get32(dib.data() + 124 + 4 * i), words[i]);
}

TEST(Clipboard, DibDecodeOwnLayout) {
    const uint32_t words[6] = {0xFF102030, 0x00000000, 0x80FFFFFF, 1, 2, 0xFFFF0000};
    std::vector<uint8_t> dib = dib_v5(words, 3, 2);
    image_codec::Pixels got;
    ASSERT_TRUE(dib_decode(dib.data(), dib.size(), got));
    EXPECT_EQ(got.width, 3u);
    EXPECT_EQ(got.height, 2u);
    EXPECT_EQ(got.words, std::vector<uint32_t>(words, words + 6));
    // A positive height: the rows are stored bottom-up.
    put32(dib, 8, 2);
    ASSERT_TRUE(dib_decode(dib.data(), dib.size(), got));
    EXPECT_EQ(got.words, (std::vector<uint32_t>{1, 2, 0xFFFF0000, 0xFF102030, 0, 0x80FFFFFF}));
}

// Bitmaps the decoder refuses, with nothing left in the result.
TEST(Clipboard, DibDecodeDamaged) {
    const uint32_t words[4] = {1, 2, 3, 4};
    const std::vector<uint8_t> good = dib_v5(words, 2, 2);
    struct Case {
        const char* what;
        size_t size;       // bytes kept
        size_t offset = 0; // a field changed, when value is set
        int64_t value = -1;
    } cases[] = {
        {"pixels cut short", good.size() - 1},
        {"header cut short", 100},
        {"empty", 0},
        {"header size too small", good.size(), 0, 20},
        {"header size beyond the data", good.size(), 0, 4000},
        {"width too large", good.size(), 4, 100000},
        {"height too large", good.size(), 8, 0x7FFFFFFF},
        {"huge colour table", good.size(), 32, 0xFFFFFFFF},
        {"negative width", good.size(), 4, 0xFFFFFFFE},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes(good.begin(), good.begin() + static_cast<ptrdiff_t>(c.size));
        if (c.value >= 0) put32(bytes, c.offset, static_cast<uint32_t>(c.value));
        image_codec::Pixels got;
        got.width = 7;
        EXPECT_FALSE(dib_decode(bytes.data(), bytes.size(), got)) << c.what;
        EXPECT_EQ(got.width, 0u) << c.what;
        EXPECT_TRUE(got.words.empty()) << c.what;
    }
}

// Other layouts go through the BMP decoder: a 24-bit bottom-up bitmap with a 40-byte header,
// rows padded to four bytes.
TEST(Clipboard, DibDecodeOtherLayouts) {
    std::vector<uint8_t> dib(40 + 2 * 4, 0);
    put32(dib, 0, 40);
    put32(dib, 4, 1);
    put32(dib, 8, 2);
    dib[12] = 1;
    dib[14] = 24;
    const uint8_t rows[] = {0x03, 0x02, 0x01, 0, 0x30, 0x20, 0x10, 0}; // bottom row first
    std::memcpy(dib.data() + 40, rows, sizeof rows);
    image_codec::Pixels got;
    ASSERT_TRUE(dib_decode(dib.data(), dib.size(), got));
    EXPECT_EQ(got.width, 1u);
    EXPECT_EQ(got.height, 2u);
    EXPECT_EQ(got.words, (std::vector<uint32_t>{0xFF102030, 0xFF010203}));
}

// A picture given to the platform layer comes back with its size and pixels.
TEST(Clipboard, PlatformPictureRoundTrip) {
    Contents picture;
    picture.kind = Contents::Kind::image;
    picture.image.width = 2;
    picture.image.height = 3;
    picture.image.words = {0xFF000000, 0xFFFFFFFF, 0x80402010, 0xFF0000FF, 0x00000000, 0xFF00FF00};
    ASSERT_TRUE(write_platform(picture));
    Contents read;
    ASSERT_TRUE(read_platform(read));
    ASSERT_EQ(static_cast<int>(read.kind), static_cast<int>(Contents::Kind::image));
    EXPECT_EQ(read.image.width, 2u);
    EXPECT_EQ(read.image.height, 3u);
    EXPECT_EQ(read.image.words, picture.image.words);
}

// Every file of the bitmap reader's fuzzing corpus is read or refused without a fault; the
// seeds are read, each with as many pixels as its size says.
TEST(Clipboard, DibFuzzCorpusReplays) {
    int read = 0;
    for (const auto& [path, data] : fuzz_corpus::files<std::vector<uint8_t>>("clipboard-dib")) {
        image_codec::Pixels got;
        if (!dib_decode(data.data(), data.size(), got)) continue;
        ++read;
        EXPECT_EQ(got.words.size(), static_cast<size_t>(got.width) * got.height);
    }
    EXPECT_GE(read, 4) << "the seeds are read";
}
