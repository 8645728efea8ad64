#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "loading/compress.h"
#include "runtime-core/crypto.h"
#include "tests/unit/fuzz-corpus.h"

#ifdef ZAN_TEST_ZLIB
#include "zlib-peer.h"
#endif

namespace {

using Bytes = std::vector<uint8_t>;
using Codec = int32_t (*)(uint8_t*, uint64_t*, const uint8_t*, uint32_t);

Bytes of(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// Runs a codec as the natives do: a first guess, then the size it asks for. A guard byte past
// the capacity shows any write beyond it.
int32_t run(Codec codec, const Bytes& in, Bytes& out, uint64_t guess = 0) {
    uint64_t capacity = guess;
    int32_t status = compress::kTooSmall;
    for (int attempt = 0; attempt < 2 && status == compress::kTooSmall; ++attempt) {
        out.assign(capacity + 1, 0xA5);
        uint64_t size = capacity;
        status = codec(out.data(), &size, in.data(), static_cast<uint32_t>(in.size()));
        EXPECT_EQ(out[capacity], 0xA5) << "written past the capacity";
        if (status == compress::kDone) out.resize(size);
        capacity = size;
    }
    return status;
}

Bytes encoded(Codec codec, const Bytes& in) {
    Bytes out;
    EXPECT_EQ(run(codec, in, out, in.size() + 32), compress::kDone);
    return out;
}

// Decoded bytes, or the status as text for a failure.
std::string decoded(Codec codec, const Bytes& in) {
    Bytes out;
    const int32_t status = run(codec, in, out);
    if (status != compress::kDone) return "<status " + std::to_string(status) + ">";
    return std::string(out.begin(), out.end());
}

// The inputs every codec is checked over.
struct Input {
    const char* name;
    Bytes bytes;
};

const std::vector<Input>& inputs() {
    static const std::vector<Input> table = [] {
        std::mt19937 random(20261210);
        Bytes text;
        static const char* const kWords[] = {"the ",    "quick ", "brown ", "fox ", "jumps ",
                                             "over ",   "a ",     "lazy ",  "dog",  ".\n",
                                             "series ", "value ", "block ", "word "};
        while (text.size() < 5 * 1024 * 1024) {
            const char* w = kWords[random() % std::size(kWords)];
            text.insert(text.end(), w, w + std::strlen(w));
        }
        Bytes noise(256 * 1024);
        for (uint8_t& b : noise) b = static_cast<uint8_t>(random());
        Bytes gzip_like = noise;
        gzip_like[0] = 0x1F, gzip_like[1] = 0x8B, gzip_like[2] = 8;
        return std::vector<Input>{{"empty", {}},
                                  {"one byte", {0x41}},
                                  {"three bytes", of("abc")},
                                  {"1 MB of zeros", Bytes(1 << 20, 0)},
                                  {"5 MB of text", text},
                                  {"random bytes", noise},
                                  {"gzip prefix on random bytes", gzip_like}};
    }();
    return table;
}

struct Method {
    const char* name;
    Codec encode, decode;
};
const Method kMethods[] = {{"deflate", compress::deflate, compress::inflate},
                           {"zlib", compress::zlib_encode, compress::zlib_decode},
                           {"gzip", compress::gzip_encode, compress::gzip_decode}};

TEST(Compress, EveryMethodRoundTripsEveryInput) {
    for (const Method& m : kMethods)
        for (const Input& input : inputs()) {
            const Bytes packed = encoded(m.encode, input.bytes);
            EXPECT_EQ(decoded(m.decode, packed),
                      std::string(input.bytes.begin(), input.bytes.end()))
                << m.name << ", " << input.name;
        }
}

TEST(Compress, FixedBytes) {
    const struct {
        Codec codec;
        std::string in;
        Bytes out;
    } cases[] = {
        {compress::deflate, "", {0x03, 0x00}},
        {compress::zlib_encode, "", {0x78, 0x01, 0x03, 0x00, 0, 0, 0, 1}},
        {compress::gzip_encode, "", {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 4, 4,
                                     0x03, 0x00, 0, 0, 0, 0, 0, 0, 0, 0}},
        // The first three bytes are literals, then one match of 6 at distance 3.
        {compress::deflate, "abcabcabc", {0x4B, 0x4C, 0x4A, 0x86, 0x20, 0x00}},
    };
    for (const auto& c : cases) EXPECT_EQ(encoded(c.codec, of(c.in)), c.out) << c.in;
}

TEST(Compress, TooSmallOutputAsksForTheSizeAndWritesNothingBeyond) {
    const Bytes text = of("a line of text, a line of text, and another line of text\n");
    const Bytes packed = encoded(compress::deflate, text);
    for (uint64_t capacity : {uint64_t(0), uint64_t(1), uint64_t(10), uint64_t(text.size() - 1)}) {
        Bytes out(capacity + 1, 0xA5);
        uint64_t size = capacity;
        EXPECT_EQ(compress::inflate(out.data(), &size, packed.data(),
                                    static_cast<uint32_t>(packed.size())),
                  compress::kTooSmall);
        EXPECT_EQ(size, text.size());
        EXPECT_EQ(out[capacity], 0xA5);
    }
    uint64_t measured = 0;
    EXPECT_EQ(
        compress::inflate(nullptr, &measured, packed.data(), static_cast<uint32_t>(packed.size())),
        compress::kTooSmall);
    EXPECT_EQ(measured, text.size());
}

// gzip data is compressed unless it is a whole stream whose trailer checks out.
TEST(Compress, GzipEncoderPassesOnlyWholeStreams) {
    const Bytes stream = encoded(compress::gzip_encode, of("some text some text"));
    EXPECT_EQ(encoded(compress::gzip_encode, stream), stream);

    Bytes bad_crc = stream;
    bad_crc[bad_crc.size() - 6] ^= 1;
    const Bytes cut(stream.begin(), stream.end() - 1);
    for (const Bytes& looks_like : {bad_crc, cut, Bytes{0x1F, 0x8B, 8}, Bytes{0x1F, 0x8B, 8, 0}}) {
        const Bytes packed = encoded(compress::gzip_encode, looks_like);
        EXPECT_NE(packed, looks_like);
        EXPECT_EQ(decoded(compress::gzip_decode, packed),
                  std::string(looks_like.begin(), looks_like.end()));
    }
}

// gzip data may hold several members one after another: their outputs are concatenated,
// and each member stands alone (its trailer checked, no distance into the member before).
TEST(Compress, GzipMembersConcatenate) {
    const std::string first = "first member, first member, first member\n";
    const std::string second = "and the second one";
    const Bytes a = encoded(compress::gzip_encode, of(first));
    const Bytes b = encoded(compress::gzip_encode, of(second));
    const Bytes empty = encoded(compress::gzip_encode, {});
    auto joined = [](std::initializer_list<Bytes> parts) {
        Bytes out;
        for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
        return out;
    };
    const Bytes ab = joined({a, b});
    EXPECT_EQ(decoded(compress::gzip_decode, ab), first + second);
    EXPECT_EQ(decoded(compress::gzip_decode, joined({a, empty, b, a})), first + second + first);
    // Whole gzip data of several members is passed through by the encoder like one member.
    EXPECT_EQ(encoded(compress::gzip_encode, ab), ab);
    // A measuring run answers the total; an output that ends inside a member asks for it and
    // writes nothing beyond its capacity.
    uint64_t measured = 0;
    EXPECT_EQ(compress::gzip_decode(nullptr, &measured, ab.data(), uint32_t(ab.size())),
              compress::kTooSmall);
    EXPECT_EQ(measured, first.size() + second.size());
    for (const uint64_t capacity : {first.size() - 1, first.size(), first.size() + 3}) {
        Bytes out(capacity + 1, 0xA5);
        uint64_t size = capacity;
        EXPECT_EQ(compress::gzip_decode(out.data(), &size, ab.data(), uint32_t(ab.size())),
                  compress::kTooSmall)
            << capacity;
        EXPECT_EQ(size, first.size() + second.size());
        EXPECT_EQ(out[capacity], 0xA5);
    }

    // A member whose stream is a literal and then a match at distance 4: the first member's
    // output lies that far back, but members do not share their output.
    const Bytes reaching = {0x1F, 0x8B, 8,    0, 0, 0, 0, 0, 0, 3, 0x4B,
                            0x04, 0x12, 0x00, 0, 0, 0, 0, 4, 0, 0, 0};
    Bytes bad_crc = b;
    bad_crc[bad_crc.size() - 8] ^= 1;
    Bytes bad_size = a;
    bad_size[bad_size.size() - 4] += 1;
    const struct {
        const char* name;
        Bytes in;
        int32_t status;
    } cases[] = {
        {"a distance into the member before", joined({a, reaching}), compress::kDistanceTooFar},
        {"second member's CRC altered", joined({a, bad_crc}), compress::kInvalid},
        {"first member's size field off by one", joined({bad_size, b}), compress::kInvalid},
        {"a stray byte after the last member", joined({a, b, {0}}), compress::kInvalid},
        {"a second member cut short", joined({a, Bytes(b.begin(), b.end() - 1)}),
         compress::kInvalid},
    };
    for (const auto& c : cases) {
        Bytes out;
        EXPECT_EQ(run(compress::gzip_decode, c.in, out), c.status) << c.name;
    }
}

TEST(Compress, InvalidStreams) {
    const Bytes zlib_text = encoded(compress::zlib_encode, of("text text text"));
    Bytes bad_adler = zlib_text;
    bad_adler.back() ^= 1;
    const Bytes gzip_text = encoded(compress::gzip_encode, of("text text text"));
    Bytes bad_size = gzip_text;
    bad_size[bad_size.size() - 4] += 1;
    Bytes huge_size = gzip_text;
    huge_size[huge_size.size() - 1] = 0xFF;
    Bytes reserved_flag = gzip_text;
    reserved_flag[3] = 0x20;
    Bytes name_past_end = gzip_text;
    name_past_end[3] = 8; // FNAME, and no zero byte before the trailer
    for (size_t i = 10; i < name_past_end.size() - 8; ++i) name_past_end[i] = 'x';
    Bytes header_crc = gzip_text;
    header_crc[3] = 2; // FHCRC over a header that holds no such field
    const struct {
        const char* name;
        Codec codec;
        Bytes in;
        int32_t status;
    } cases[] = {
        {"block type 3", compress::inflate, {0x07}, compress::kBadBlockType},
        {"stored block past the end",
         compress::inflate,
         {0x01, 0x05, 0x00, 0xFA, 0xFF, 'a'},
         compress::kStoredPastEnd},
        {"stored header past the end", compress::inflate, {0x01, 0x05}, compress::kStoredPastEnd},
        {"distance before the start",
         compress::inflate,
         {0x4B, 0x04, 0x12, 0x00},
         compress::kDistanceTooFar},
        {"fixed codes cut short", compress::inflate, {0x4B, 0x4C}, compress::kInvalid},
        {"literal/length code 286", compress::inflate, {0x1B, 0x03}, compress::kInvalid},
        {"distance code 30", compress::inflate, {0x03, 0x1E}, compress::kInvalid},
        {"zlib, altered Adler-32", compress::zlib_decode, bad_adler, compress::kInvalid},
        {"zlib, 0 bytes", compress::zlib_decode, {}, compress::kInvalid},
        {"zlib, 5 bytes",
         compress::zlib_decode,
         {0x78, 0x01, 0x03, 0x00, 0x00},
         compress::kInvalid},
        {"zlib, header not a multiple of 31",
         compress::zlib_decode,
         {0x78, 0x02, 0x03, 0x00, 0, 0, 0, 1},
         compress::kInvalid},
        {"zlib, preset dictionary",
         compress::zlib_decode,
         {0x78, 0x20, 0x03, 0x00, 0, 0, 0, 1},
         compress::kInvalid},
        {"zlib, window field 8",
         compress::zlib_decode,
         {0x88, 0x1C, 0x03, 0x00, 0, 0, 0, 1},
         compress::kInvalid},
        {"gzip, 17 bytes", compress::gzip_decode, Bytes(gzip_text.begin(), gzip_text.begin() + 17),
         compress::kInvalid},
        {"gzip, size field off by one", compress::gzip_decode, bad_size, compress::kInvalid},
        {"gzip, size field beyond what the data holds", compress::gzip_decode, huge_size,
         compress::kInvalid},
        {"gzip, reserved flag", compress::gzip_decode, reserved_flag, compress::kInvalid},
        {"gzip, name past the end", compress::gzip_decode, name_past_end, compress::kInvalid},
        {"gzip, wrong header CRC", compress::gzip_decode, header_crc, compress::kInvalid},
    };
    for (const auto& c : cases) {
        Bytes out;
        EXPECT_EQ(run(c.codec, c.in, out, 64), c.status) << c.name;
    }
}

// A dynamic block: the counts, a code-length code of eight 3-bit codes (symbols 0-3, 8 and
// 16-18; `extra_cl` adds a ninth, `drop_cl` takes symbol 8 out), then the code lengths as
// (code-length symbol, extra bits) pairs, then the given data bits.
struct DynamicBlock {
    uint32_t hlit = 257, hdist = 1;
    std::vector<std::pair<uint32_t, uint32_t>> lengths;
    bool extra_cl = false, drop_cl = false;
    std::vector<std::pair<uint32_t, int>> data; // (value, bit count), least significant first

    Bytes bytes() const {
        static const uint8_t kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                           11, 4,  12, 3, 13, 2, 14, 1, 15};
        uint8_t cl[19] = {};
        for (int s : {0, 1, 2, 3, 8, 16, 17, 18}) cl[s] = 3;
        if (extra_cl) cl[4] = 3;
        if (drop_cl) cl[8] = 0;
        Bytes out;
        uint64_t bits = 0;
        int held = 0;
        auto put = [&](uint32_t value, int n) {
            bits |= uint64_t(value) << held;
            held += n;
            for (; held >= 8; held -= 8, bits >>= 8) out.push_back(static_cast<uint8_t>(bits));
        };
        put(1, 1);
        put(2, 2);
        put(hlit - 257, 5);
        put(hdist - 1, 5);
        put(19 - 4, 4);
        for (int i = 0; i < 19; ++i) put(cl[kOrder[i]], 3);
        for (const auto& [symbol, extra] : lengths) {
            uint32_t rank = 0; // the canonical code: the symbol's rank among the 3-bit ones
            for (uint32_t s = 0; s < symbol; ++s) rank += cl[s] != 0;
            put(((rank & 1) << 2) | (rank & 2) | ((rank >> 2) & 1), 3); // sent MSB first
            if (symbol == 16) put(extra, 2);
            if (symbol == 17) put(extra, 3);
            if (symbol == 18) put(extra, 7);
        }
        for (const auto& [value, n] : data) put(value, n);
        if (held) out.push_back(static_cast<uint8_t>(bits));
        return out;
    }
};

TEST(Compress, DynamicHeadersAreValidatedFully) {
    // Literal 0 and end-of-block with one-bit codes; one distance code of one bit.
    const std::vector<std::pair<uint32_t, uint32_t>> two_codes = {
        {1, 0}, {18, 127}, {18, 106}, {1, 0}, {1, 0}};
    const DynamicBlock valid{257, 1, two_codes, false, false, {{0, 1}, {1, 1}}};
    EXPECT_EQ(decoded(compress::inflate, valid.bytes()), std::string(1, '\0'));

    const struct {
        const char* name;
        DynamicBlock block;
    } cases[] = {
        {"incomplete code-length code", {257, 1, two_codes, false, true, {{0, 1}, {1, 1}}}},
        {"over-subscribed code-length code", {257, 1, two_codes, true, false, {{0, 1}, {1, 1}}}},
        {"more than 286 literal/length codes", {287, 1, two_codes, false, false, {}}},
        {"more than 30 distance codes", {257, 31, two_codes, false, false, {}}},
        {"a repeat past the count", {257, 1, {{18, 127}, {18, 127}}, false, false, {}}},
        {"a repeat with nothing before it", {257, 1, {{16, 0}}, false, false, {}}},
        {"no end-of-block code",
         {257, 1, {{1, 0}, {1, 0}, {18, 127}, {18, 106}, {1, 0}}, false, false, {}}},
        {"over-subscribed literal code",
         {257,
          1,
          {{1, 0}, {1, 0}, {1, 0}, {18, 127}, {18, 104}, {1, 0}, {1, 0}},
          false,
          false,
          {}}},
        {"incomplete literal code",
         {257, 1, {{2, 0}, {18, 127}, {18, 106}, {2, 0}, {1, 0}}, false, false, {}}},
    };
    for (const auto& c : cases) {
        Bytes out;
        EXPECT_EQ(run(compress::inflate, c.block.bytes(), out, 64), compress::kInvalid) << c.name;
    }
}

// Every file of the fuzzing corpora (the seeds and each input that ever failed) decodes to a
// status within the capacity, and what decodes comes back through its encoder.
TEST(Compress, FuzzCorporaReplay) {
    const struct {
        const char* folder;
        Codec encode, decode;
    } corpora[] = {{"inflate", compress::deflate, compress::inflate},
                   {"zlib", compress::zlib_encode, compress::zlib_decode},
                   {"gzip", compress::gzip_encode, compress::gzip_decode}};
    for (const auto& corpus : corpora) {
        int files = 0;
        for (const auto& [path, data] : fuzz_corpus::files<Bytes>(corpus.folder)) {
            Bytes out;
            if (run(corpus.decode, data, out, 1 << 16) == compress::kDone) {
                EXPECT_EQ(decoded(corpus.decode, encoded(corpus.encode, out)),
                          std::string(out.begin(), out.end()))
                    << path;
            }
            ++files;
        }
        EXPECT_GT(files, 0) << corpus.folder;
    }
}

#ifdef ZAN_TEST_ZLIB

// Window bits of zlib for each framing: raw deflate, zlib, gzip.
const int kWindowBits[] = {zlib_peer::kRaw, zlib_peer::kZlib, zlib_peer::kGzip};

TEST(Compress, ZlibInflatesWhatWeMake) {
    for (int m = 0; m < 3; ++m)
        for (const Input& input : inputs()) {
            const Bytes packed = encoded(kMethods[m].encode, input.bytes);
            const Bytes& expected = input.bytes;
            // A gzip stream given to the gzip encoder comes back unchanged: not the case
            // for these inputs.
            EXPECT_EQ(zlib_peer::inflate(packed, kWindowBits[m], expected.size()),
                      std::string(expected.begin(), expected.end()))
                << kMethods[m].name << ", " << input.name;
        }
}

TEST(Compress, WeInflateWhatZlibMakes) {
    const struct {
        int level, strategy;
    } settings[] = {{0, zlib_peer::kDefault},     {1, zlib_peer::kDefault},
                    {6, zlib_peer::kDefault},     {9, zlib_peer::kDefault},
                    {6, zlib_peer::kHuffmanOnly}, {6, zlib_peer::kRle},
                    {6, zlib_peer::kFixed}};
    for (int m = 0; m < 3; ++m)
        for (const auto& s : settings)
            for (const Input& input : inputs()) {
                const Bytes packed =
                    zlib_peer::deflate(input.bytes, s.level, kWindowBits[m], s.strategy);
                EXPECT_EQ(decoded(kMethods[m].decode, packed),
                          std::string(input.bytes.begin(), input.bytes.end()))
                    << kMethods[m].name << ", level " << s.level << ", strategy " << s.strategy
                    << ", " << input.name;
            }
}

TEST(Compress, ChecksumsAgreeWithZlib) {
    for (const Input& input : inputs()) {
        const size_t n = input.bytes.size();
        EXPECT_EQ(crypto::crc32(input.bytes.data(), n), zlib_peer::crc32(input.bytes.data(), n))
            << input.name;
        EXPECT_EQ(crypto::adler32(input.bytes.data(), n), zlib_peer::adler32(input.bytes.data(), n))
            << input.name;
    }
    // The largest sums: runs of 0xFF between reductions.
    const Bytes ones(100000, 0xFF);
    EXPECT_EQ(crypto::adler32(ones.data(), ones.size()),
              zlib_peer::adler32(ones.data(), ones.size()));
}

#endif

} // namespace
