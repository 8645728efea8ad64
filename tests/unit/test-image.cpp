// The image backend below the language: format signatures, the BMP reader and writer, the
// limits every decoder keeps to before it allocates, round trips through each format, and the
// replay of the decoders' fuzzing corpora.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loading/image-codec.h"
#include "tests/unit/fuzz-corpus.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace image_codec;

// Restores the decoders' pixel limit after a test lowers it.
struct Limit {
    explicit Limit(uint64_t pixels) { max_decode_pixels = pixels; }
    ~Limit() { max_decode_pixels = kMaxPixels; }
};

std::vector<uint32_t> sample(uint32_t w, uint32_t h) {
    std::vector<uint32_t> words(static_cast<size_t>(w) * h);
    for (size_t k = 0; k < words.size(); ++k)
        words[k] = 0xFF000000u | static_cast<uint32_t>(k * 0x0A1B2C % 0xFFFFFF);
    return words;
}

void put32(Bytes& b, size_t at, uint32_t v) {
    for (int k = 0; k < 4; ++k) b[at + k] = static_cast<uint8_t>(v >> (8 * k));
}

// A BMP with a 40-byte header, no palette, and `bpp` bits per pixel of zero bytes.
Bytes bmp_file(int32_t w, int32_t h, uint16_t bpp, uint32_t compression = 0) {
    const uint64_t stride = (static_cast<uint64_t>(w < 0 ? -w : w) * bpp + 31) / 32 * 4;
    const uint64_t rows = static_cast<uint64_t>(h < 0 ? -h : h);
    Bytes b(54 + static_cast<size_t>(std::min<uint64_t>(stride * rows, 1 << 20)), 0);
    b[0] = 'B', b[1] = 'M';
    put32(b, 10, 54);
    put32(b, 14, 40);
    put32(b, 18, static_cast<uint32_t>(w));
    put32(b, 22, static_cast<uint32_t>(h));
    b[26] = 1;
    b[28] = static_cast<uint8_t>(bpp);
    put32(b, 30, compression);
    return b;
}

TEST(ImageCodec, KnownFormats) {
    const struct {
        Bytes bytes;
        int32_t format;
    } cases[] = {
        {{137, 'P', 'N', 'G'}, kPng},
        {{255, 216, 255}, kJpeg},
        {{'B', 'M'}, kBmp},
        {{'G', 'I', 'F', '8', '9', 'a'}, kGif},
        {{'G', 'I', 'F', '8', '7', 'a'}, kGif},
        {{'I', 'I', '*', 0}, kTiff},
        {{'M', 'M', 0, '*'}, kTiff},
        {{'G', 'I', 'F', '8', '8', 'a'}, -1},
        {{137, 'P', 'N'}, -1},
        {{'B'}, -1},
        {{}, -1},
    };
    for (const auto& c : cases) EXPECT_EQ(known_format(c.bytes.data(), c.bytes.size()), c.format);
}

TEST(ImageCodec, BmpRoundTripKeepsAlpha) {
    std::vector<uint32_t> words = sample(5, 3);
    words[1] = 0x80112233;
    words[14] = 0x00FFFFFF;
    Bytes bytes;
    bmp_encode(words.data(), 5, 3, bytes);
    ASSERT_EQ(bytes.size(), 14u + 108 + 5 * 3 * 4);
    Pixels out;
    ASSERT_TRUE(bmp_decode(bytes.data(), bytes.size(), out));
    EXPECT_EQ(out.width, 5u);
    EXPECT_EQ(out.height, 3u);
    EXPECT_EQ(out.words, words);
}

TEST(ImageCodec, BmpDepths) {
    // 24 bits, bottom-up: the last row in the file is the top one.
    Bytes b24 = bmp_file(1, 2, 24);
    b24[54] = 1, b24[55] = 2, b24[56] = 3; // bottom row: B G R
    Pixels out;
    ASSERT_TRUE(bmp_decode(b24.data(), b24.size(), out));
    EXPECT_EQ(out.words, (std::vector<uint32_t>{0xFF000000u, 0xFF030201u}));
    // Top-down (negative height) 32 bits without masks: the fourth byte is no alpha.
    Bytes b32 = bmp_file(1, -1, 32);
    b32[54] = 9, b32[57] = 0;
    ASSERT_TRUE(bmp_decode(b32.data(), b32.size(), out));
    EXPECT_EQ(out.words, std::vector<uint32_t>{0xFF000009u});
    // 16 bits, 5-5-5: full red scales to 255.
    Bytes b16 = bmp_file(1, 1, 16);
    b16[54] = 0x00, b16[55] = 0x7C;
    ASSERT_TRUE(bmp_decode(b16.data(), b16.size(), out));
    EXPECT_EQ(out.words, std::vector<uint32_t>{0xFFFF0000u});
    // 1 bit with a two-colour palette after the header.
    Bytes b1 = bmp_file(2, 1, 1);
    put32(b1, 10, 62);
    b1.insert(b1.begin() + 54, {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0});
    b1[62] = 0x40; // pixels 0 then 1
    ASSERT_TRUE(bmp_decode(b1.data(), b1.size(), out));
    EXPECT_EQ(out.words, (std::vector<uint32_t>{0xFF000000u, 0xFFFFFFFFu}));
}

// Sizes are checked before anything is allocated for the pixels: a side beyond 65535 or more
// pixels than the limit is refused, as are data shorter than the size says and unknown
// compressions.
TEST(ImageCodec, BmpRefusesBadHeaders) {
    const struct {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"width beyond 65535", bmp_file(65536, 1, 32)},
        {"height beyond 65535", bmp_file(1, -70000, 32)},
        {"negative width", bmp_file(-4, 1, 32)},
        {"sides whose product overflows", bmp_file(65535, 65535, 32)},
        {"rows beyond the data",
         [] {
             Bytes b = bmp_file(4, 4, 32);
             b.resize(60);
             return b;
         }()},
        {"run-length data", bmp_file(2, 2, 8, 1)},
        {"bit depth 7", bmp_file(2, 2, 7)},
        {"header cut short", Bytes{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40}},
        {"pixel data offset beyond the end",
         [] {
             Bytes b = bmp_file(1, 1, 32);
             put32(b, 10, 0xFFFFFFF0u);
             return b;
         }()},
    };
    for (const auto& c : cases) {
        Pixels out;
        EXPECT_FALSE(bmp_decode(c.bytes.data(), c.bytes.size(), out)) << c.what;
        EXPECT_TRUE(out.words.empty()) << c.what;
    }
}

TEST(ImageCodec, RoundTripsThroughEveryLosslessFormat) {
    std::vector<uint32_t> words = sample(7, 5);
    words[3] = 0x40A0B0C0; // translucent
    for (int32_t format : {kPng, kTiff}) {
        Bytes bytes;
        ASSERT_TRUE(encode(format, words.data(), 7, 5, bytes)) << format;
        EXPECT_EQ(known_format(bytes.data(), bytes.size()), format);
        Pixels out;
        ASSERT_TRUE(decode(bytes.data(), bytes.size(), out)) << format;
        EXPECT_EQ(out.width, 7u);
        EXPECT_EQ(out.height, 5u);
        EXPECT_EQ(out.words, words) << format;
    }
}

TEST(ImageCodec, LossyFormatsKeepTheSize) {
    const std::vector<uint32_t> words(12 * 9, 0xFFC86432);
    for (int32_t format : {kJpeg, kGif, kBmp}) {
        Bytes bytes;
        ASSERT_TRUE(encode(format, words.data(), 12, 9, bytes)) << format;
        EXPECT_EQ(known_format(bytes.data(), bytes.size()), format);
        Pixels out;
        ASSERT_TRUE(decode(bytes.data(), bytes.size(), out)) << format;
        EXPECT_EQ(out.width, 12u);
        EXPECT_EQ(out.height, 9u);
    }
}

TEST(ImageCodec, EmptyImagesAndUnknownFormats) {
    Bytes bytes{1, 2, 3};
    EXPECT_TRUE(encode(kPng, nullptr, 0, 5, bytes));
    EXPECT_TRUE(bytes.empty());
    const uint32_t one = 0xFFFFFFFF;
    EXPECT_FALSE(encode(5, &one, 1, 1, bytes));
    EXPECT_FALSE(encode(-1, &one, 1, 1, bytes));
}

// A decoder refuses an image with more pixels than the limit, whatever the format.
TEST(ImageCodec, DecodersKeepToThePixelLimit) {
    const std::vector<uint32_t> words = sample(40, 30);
    for (int32_t format : {kPng, kJpeg, kBmp, kGif, kTiff}) {
        Bytes bytes;
        ASSERT_TRUE(encode(format, words.data(), 40, 30, bytes)) << format;
        Limit limit(40 * 30 - 1);
        Pixels out;
        EXPECT_FALSE(decode(bytes.data(), bytes.size(), out)) << format;
        EXPECT_TRUE(out.words.empty());
    }
}

// Every file of the decoders' fuzzing corpora (the seeds and each input that ever went
// wrong) decodes or is refused; what decodes holds its pixels.
TEST(ImageCodec, FuzzCorporaReplay) {
    const std::pair<const char*, int32_t> corpora[] = {
        {"image-png", kPng}, {"image-jpeg", kJpeg}, {"image-bmp", kBmp},
        {"image-gif", kGif}, {"image-tiff", kTiff},
    };
    Limit limit(1 << 22);
    for (const auto& [folder, format] : corpora) {
        int files = 0, decoded = 0;
        for (const auto& [path, data] : fuzz_corpus::files<Bytes>(folder)) {
            Pixels out;
            if (decode(data.data(), data.size(), out)) {
                EXPECT_EQ(out.words.size(), static_cast<size_t>(out.width) * out.height);
                ++decoded;
            }
            ++files;
        }
        EXPECT_GT(files, 0) << folder;
        EXPECT_GT(decoded, 0) << folder;
    }
}

} // namespace
