// The image backend below the language: format signatures, the BMP reader and writer, the
// limits every decoder keeps to before it allocates, round trips through each format, the
// replay of the decoders' fuzzing corpora, and decoding under a memory limit.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "loading/image-codec.h"
#include "runtime-core/memory.h" // ZAN_ASAN
#include "tests/unit/child-script.h"
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

// A file of a decoder's fuzzing corpus.
Bytes corpus_file(const char* target, const char* name) {
    std::ifstream in(std::filesystem::path(ZAN_TEST_SOURCE_DIR) / "fuzz" / "corpus" / target / name,
                     std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void put16be(Bytes& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v >> 8);
    b[at + 1] = static_cast<uint8_t>(v);
}
void put32be(Bytes& b, size_t at, uint32_t v) {
    put16be(b, at, v >> 16);
    put16be(b, at + 2, v & 0xFFFF);
}
void put16(Bytes& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

uint32_t crc32(const uint8_t* p, size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t k = 0; k < n; ++k) {
        c ^= p[k];
        for (int bit = 0; bit < 8; ++bit) c = c >> 1 ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
}

// A PNG chunk with its check value.
void png_chunk(Bytes& b, const char* type, const Bytes& data) {
    const size_t start = b.size();
    b.resize(start + 8);
    put32be(b, start, static_cast<uint32_t>(data.size()));
    std::memcpy(b.data() + start + 4, type, 4);
    b.insert(b.end(), data.begin(), data.end());
    b.resize(b.size() + 4);
    put32be(b, b.size() - 4, crc32(b.data() + start + 4, data.size() + 4));
}

// A PNG declaring a size, with one data chunk of `data` zero bytes and the end chunk.
Bytes png_file(uint32_t w, uint32_t h, uint8_t depth, uint8_t type, size_t data) {
    Bytes b{137, 'P', 'N', 'G', 13, 10, 26, 10};
    Bytes header(13, 0);
    put32be(header, 0, w);
    put32be(header, 4, h);
    header[8] = depth;
    header[9] = type;
    png_chunk(b, "IHDR", header);
    png_chunk(b, "IDAT", Bytes(data, 0));
    png_chunk(b, "IEND", {});
    return b;
}

// A little-endian TIFF declaring a size, its one strip of `data` bytes after the directory.
Bytes tiff_file(uint32_t w, uint32_t h, uint16_t compression, uint16_t bits, size_t data) {
    const uint16_t tags[][2] = {{256, 4}, {257, 4}, {258, 3}, {259, 3}, {262, 3},
                                {273, 4}, {277, 3}, {278, 4}, {279, 4}};
    const uint32_t directory = 8, entries = std::size(tags),
                   strip = directory + 2 + entries * 12 + 4;
    const uint32_t values[] = {
        w, h, bits, compression, 1, strip, 1, h, static_cast<uint32_t>(data)};
    Bytes b(strip + data, 0);
    b[0] = 'I', b[1] = 'I', b[2] = 42;
    put32(b, 4, directory);
    put16(b, directory, entries);
    for (uint32_t k = 0; k < entries; ++k) {
        const size_t e = directory + 2 + 12 * k;
        put16(b, e, tags[k][0]);
        put16(b, e + 2, tags[k][1]);
        put32(b, e + 4, 1);
        put32(b, e + 8, values[k]);
    }
    return b;
}

// The 35-byte GIF of the corpus (a 1 × 1 screen, its 1 × 1 image at 65000, 8000) with another
// screen and image size.
Bytes gif_file(uint16_t screen_w, uint16_t screen_h, uint16_t image_w, uint16_t image_h) {
    Bytes b = corpus_file("image-gif", "image-beyond-screen");
    put16(b, 6, screen_w);
    put16(b, 8, screen_h);
    put16(b, 24, image_w);
    put16(b, 26, image_h);
    return b;
}

// The 5 × 4 JPEG of the corpus with another frame marker and size.
Bytes jpeg_file(uint8_t marker, uint16_t w, uint16_t h) {
    Bytes b = corpus_file("image-jpeg", "seed-plain");
    size_t frame = 2; // the frame marker's second byte
    while (frame + 7 < b.size() && !(b[frame - 1] == 0xFF && b[frame] == 0xC0)) ++frame;
    b[frame] = marker;
    put16be(b, frame + 4, h);
    put16be(b, frame + 6, w);
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
    ASSERT_EQ(bmp_decode(bytes.data(), bytes.size(), out), Decoded::ok);
    EXPECT_EQ(out.width, 5u);
    EXPECT_EQ(out.height, 3u);
    EXPECT_EQ(out.words, words);
}

TEST(ImageCodec, BmpDepths) {
    // 24 bits, bottom-up: the last row in the file is the top one.
    Bytes b24 = bmp_file(1, 2, 24);
    b24[54] = 1, b24[55] = 2, b24[56] = 3; // bottom row: B G R
    Pixels out;
    ASSERT_EQ(bmp_decode(b24.data(), b24.size(), out), Decoded::ok);
    EXPECT_EQ(out.words, (std::vector<uint32_t>{0xFF000000u, 0xFF030201u}));
    // Top-down (negative height) 32 bits without masks: the fourth byte is no alpha.
    Bytes b32 = bmp_file(1, -1, 32);
    b32[54] = 9, b32[57] = 0;
    ASSERT_EQ(bmp_decode(b32.data(), b32.size(), out), Decoded::ok);
    EXPECT_EQ(out.words, std::vector<uint32_t>{0xFF000009u});
    // 16 bits, 5-5-5: full red scales to 255.
    Bytes b16 = bmp_file(1, 1, 16);
    b16[54] = 0x00, b16[55] = 0x7C;
    ASSERT_EQ(bmp_decode(b16.data(), b16.size(), out), Decoded::ok);
    EXPECT_EQ(out.words, std::vector<uint32_t>{0xFFFF0000u});
    // 1 bit with a two-colour palette after the header.
    Bytes b1 = bmp_file(2, 1, 1);
    put32(b1, 10, 62);
    b1.insert(b1.begin() + 54, {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0});
    b1[62] = 0x40; // pixels 0 then 1
    ASSERT_EQ(bmp_decode(b1.data(), b1.size(), out), Decoded::ok);
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
        EXPECT_EQ(bmp_decode(c.bytes.data(), c.bytes.size(), out), Decoded::refused) << c.what;
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

// A header declaring more pixels than its file could hold at the best ratio of the format's
// compression, a side beyond 65535, or a compression with no such bound, is refused before
// any decoder allocates for the picture (the decoders used to allocate for each of these
// first, up to gigabytes).
TEST(ImageCodec, HeadersDeclaringMoreThanTheirDataAreRefused) {
    const struct {
        const char* what;
        int32_t format;
        Bytes bytes;
    } cases[] = {
        {"png: a size and no pixel data", kPng, corpus_file("image-png", "size-without-data")},
        {"png: 30000 x 30000 bits in 100 bytes", kPng, png_file(30000, 30000, 1, 0, 100)},
        {"png: a side beyond 65535", kPng, png_file(70000, 1, 8, 6, 100)},
        {"jpeg: a frame header patched to 20000 x 20000", kJpeg,
         corpus_file("image-jpeg", "frame-size-patched")},
        {"jpeg: 5 x 4 pixels' scan under a 400 x 400 frame", kJpeg, jpeg_file(0xC0, 400, 400)},
        {"jpeg: arithmetic coding", kJpeg, jpeg_file(0xC9, 5, 4)},
        {"jpeg: lossless", kJpeg, jpeg_file(0xC3, 5, 4)},
        {"gif: a 20000 x 20000 screen", kGif, gif_file(20000, 20000, 1, 1)},
        {"gif: a 20000 x 20000 image", kGif, gif_file(1, 1, 20000, 20000)},
        {"tiff: a size and no pixel data", kTiff, corpus_file("image-tiff", "size-without-data")},
        {"tiff: deflate, 4000 x 4000 bytes in 100", kTiff, tiff_file(4000, 4000, 8, 8, 100)},
        {"tiff: fax rows beyond one bit each", kTiff, tiff_file(8, 5000, 4, 1, 100)},
        {"tiff: a coding with no bound", kTiff, tiff_file(4, 4, 34925, 8, 100)},
        {"bmp: rows beyond the data", kBmp, bmp_file(1000, 1000, 32)},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(known_format(c.bytes.data(), c.bytes.size()), c.format) << c.what;
        EXPECT_FALSE(declared_size_fits(c.format, c.bytes.data(), c.bytes.size())) << c.what;
        Pixels out;
        EXPECT_EQ(decode_image(c.bytes.data(), c.bytes.size(), out), Decoded::refused) << c.what;
        EXPECT_TRUE(out.words.empty()) << c.what;
    }
}

// The bounds are what the codings reach at best: the most uniform pictures, coded as tightly
// as the format allows, still decode.
TEST(ImageCodec, UniformPicturesStillDecode) {
    // 2000 x 2000 one-bit pixels in 566 bytes, at the deflate ratio's edge.
    const Bytes uniform = corpus_file("image-png", "seed-uniform");
    Pixels out;
    ASSERT_EQ(decode_image(uniform.data(), uniform.size(), out), Decoded::ok);
    EXPECT_EQ(out.width, 2000u);
    EXPECT_EQ(out.height, 2000u);
    const std::vector<uint32_t> words(1024 * 1024, 0xFF336699);
    for (int32_t format : {kPng, kJpeg, kGif, kTiff}) {
        Bytes bytes;
        ASSERT_TRUE(encode(format, words.data(), 1024, 1024, bytes)) << format;
        EXPECT_TRUE(declared_size_fits(format, bytes.data(), bytes.size())) << format;
        ASSERT_EQ(decode_image(bytes.data(), bytes.size(), out), Decoded::ok) << format;
        EXPECT_EQ(out.width, 1024u) << format;
    }
}

#if !defined(_WIN32)
// The Linux build's JPEG reader: a scan that ends early, or whose data the frame header
// outgrows, is refused (it used to come out filled with grey); a file whose blocks are all
// there but whose end marker is missing still decodes.
TEST(ImageCodec, JpegDataEndingEarlyIsRefused) {
    const struct {
        const char* what;
        Bytes bytes;
        Decoded result;
    } cases[] = {
        {"scan cut in half", corpus_file("image-jpeg", "truncated-scan"), Decoded::refused},
        {"frame enlarged past its scan", jpeg_file(0xC0, 32, 32), Decoded::refused},
        {"no end marker", corpus_file("image-jpeg", "seed-no-end-marker"), Decoded::ok},
    };
    for (const auto& c : cases) {
        Pixels out;
        EXPECT_EQ(decode_image(c.bytes.data(), c.bytes.size(), out), c.result) << c.what;
    }
}

// A GIF's picture is its logical screen: an image reaching beyond it is clipped, never a
// reason to grow the screen (a 35-byte file with its image at 65000, 8000 used to become a
// 65001 x 8001 picture).
TEST(ImageCodec, GifImagesAreClippedToTheScreen) {
    Pixels out;
    const Bytes far = corpus_file("image-gif", "image-beyond-screen");
    ASSERT_EQ(decode_image(far.data(), far.size(), out), Decoded::ok);
    EXPECT_EQ(out.width, 1u);
    EXPECT_EQ(out.height, 1u);
    EXPECT_EQ(out.words, std::vector<uint32_t>{0}); // transparent background
    // A 3 x 1 image at 2, 1 of a 4 x 2 screen: its first two pixels show.
    const std::vector<uint32_t> three{0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu};
    Bytes bytes;
    ASSERT_TRUE(encode(kGif, three.data(), 3, 1, bytes));
    put16(bytes, 6, 4);
    put16(bytes, 8, 2);
    size_t image = 13 + 768; // after the screen and its 256 colours
    while (image < bytes.size() && bytes[image] != 0x2C) ++image;
    put16(bytes, image + 1, 2);
    put16(bytes, image + 3, 1);
    ASSERT_EQ(decode_image(bytes.data(), bytes.size(), out), Decoded::ok);
    EXPECT_EQ(out.words, (std::vector<uint32_t>{0, 0, 0, 0, 0, 0, 0xFFFF0000u, 0xFF00FF00u}));
}
#endif

#if !defined(_WIN32)
// Under a memory limit, the hostile files are refused as bad media, and pictures whose data
// could be honest but that need more memory than there is give internal/no-memory: both are
// errors that try catches (each used to end the process with runtime error 94).
TEST(ImageCodec, DecodingUnderAMemoryLimitGivesCatchableErrors) {
#ifdef ZAN_ASAN
    GTEST_SKIP() << "the sanitizer's shadow memory needs more address space than the limit";
#endif
    const auto folder =
        std::filesystem::temp_directory_path() / ("zan-image-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    // Each declares a picture of 1 GB of pixel words or more, and is padded at its end to a
    // size that could hold it.
    const auto padded = [](Bytes b, size_t size) {
        b.resize(std::max(b.size(), size), 0);
        return b;
    };
    const std::pair<const char*, Bytes> big[] = {
        {"big.png", padded(png_file(16000, 16000, 1, 0, 10), 32 << 10)},
        {"big.jpg", padded(corpus_file("image-jpeg", "frame-size-patched"), 200 << 10)},
        {"big.gif", padded(gif_file(16000, 16000, 1, 1), 16 << 10)},
        {"big.tif", padded(tiff_file(16000, 16000, 8, 1, 10), 32 << 10)},
    };
    std::string script = "dir: %" + folder.string() + "/\n";
    script += "foreach file [";
    for (const auto& [name, bytes] : big) {
        std::ofstream(folder / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        script += std::string(" %") + name;
    }
    script += R"( ] [print select try [system/codecs/png/decode dir/:file] 'id]
corpus: %)" + (std::filesystem::path(ZAN_TEST_SOURCE_DIR) / "fuzz" / "corpus").string() +
              R"(/
foreach file [
    %image-png/size-without-data %image-jpeg/frame-size-patched %image-tiff/size-without-data
] [print select try [system/codecs/png/decode corpus/:file] 'id]
far: system/codecs/gif/decode corpus/image-gif/image-beyond-screen
print far/size
print "still running"
)";
    const auto [status, output] = child_script::run(ZAN_EXECUTABLE, script, rlim_t(800) << 20);
    std::filesystem::remove_all(folder);
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output, "no-memory\nno-memory\nno-memory\nno-memory\nbad-media\nbad-media\n"
                      "bad-media\n1x1\nstill running\n");
}
#endif

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
