#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "loading/lz.h"
#include "tests/unit/fuzz-corpus.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes text_bytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// Compresses and expands again; answers the compressed length (-1: not compressed).
int32_t round_trip(const Bytes& source) {
    Bytes packed(source.size() + 1);
    const int32_t n =
        lz::compress(source.data(), static_cast<uint32_t>(source.size()), packed.data());
    if (n < 0) return n;
    EXPECT_LT(static_cast<uint32_t>(n), source.size() - 8);
    Bytes out;
    EXPECT_EQ(lz::decompress(packed.data(), static_cast<uint32_t>(n), out), lz::Status::ok);
    EXPECT_EQ(out, source);
    return n;
}

// Builds compressed data by hand: fields and token bits, least-significant first.
class Stream {
public:
    Stream& u32(uint32_t v) {
        flush();
        for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
        return *this;
    }
    Stream& bits(uint32_t n, uint32_t v) {
        for (uint32_t i = 0; i < n; ++i) {
            if (count_ == 0) bytes_.push_back(0);
            bytes_.back() |= static_cast<uint8_t>(((v >> i) & 1) << count_);
            count_ = (count_ + 1) % 8;
        }
        return *this;
    }
    Stream& literal(uint8_t b) { return bits(1, 0).bits(8, b); }
    // A match of length 3-6 at distance 1-8: the shortest codes.
    Stream& short_match(uint32_t length, uint32_t distance) {
        return bits(1, 1).bits(1, 1).bits(2, length - 3).bits(4, 0).bits(3, distance - 1);
    }
    // The container: header with the payload size and `total`, then the blocks.
    Bytes container(uint32_t total) {
        flush();
        Bytes out;
        Stream head;
        head.u32(static_cast<uint32_t>(bytes_.size())).u32(total);
        out = head.bytes_;
        out.insert(out.end(), bytes_.begin(), bytes_.end());
        return out;
    }

private:
    void flush() { count_ = 0; }
    Bytes bytes_;
    uint32_t count_ = 0;
};

lz::Status expand(const Bytes& data, Bytes& out) {
    return lz::decompress(data.data(), static_cast<uint32_t>(data.size()), out);
}

TEST(Lz, RoundTripsAndShrinks) {
    std::mt19937 random(7);
    Bytes text;
    const std::string words[] = {"block ", "string ", "word ", "context ", "[", "]\n", "42 "};
    while (text.size() < 3 * lz::kMaxBlock + 123) {
        const std::string& w = words[random() % 7];
        text.insert(text.end(), w.begin(), w.end());
    }
    const int32_t n = round_trip(text); // four blocks
    EXPECT_GT(n, 0);
    EXPECT_LT(n, static_cast<int32_t>(text.size() / 3));

    Bytes runs(100000, 'x'); // long overlapping matches at distance 1
    EXPECT_GT(round_trip(runs), 0);
    Bytes far(300000);
    for (uint32_t i = 0; i < far.size(); ++i) far[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
    std::memcpy(far.data() + 250000, far.data() + 100, 50000); // a match 249,900 bytes back
    EXPECT_GT(round_trip(far), 0);
}

TEST(Lz, GivesUpWhenNotWorthIt) {
    EXPECT_EQ(round_trip(Bytes(127, 'a')), -1); // too short to try
    EXPECT_GT(round_trip(Bytes(128, 'a')), 0);
    std::mt19937 random(1);
    Bytes noise(5000);
    for (auto& b : noise) b = static_cast<uint8_t>(random());
    EXPECT_EQ(round_trip(noise), -1);
}

TEST(Lz, DecodesHandMadeTokens) {
    Bytes out;
    // One literal, then a match of length 3 at distance 1: the byte four times.
    Stream s;
    s.u32(4).literal('a').short_match(3, 1);
    ASSERT_EQ(expand(s.container(4), out), lz::Status::ok);
    EXPECT_EQ(out, text_bytes("aaaa"));
    // Two blocks, each with its own bit stream; the bits after the last token are ignored.
    Stream t;
    t.u32(2).literal('x').literal('y').bits(3, 7).u32(5).literal('a').literal('b').short_match(3,
                                                                                               2);
    ASSERT_EQ(expand(t.container(7), out), lz::Status::ok);
    EXPECT_EQ(out, text_bytes("xyababa"));
    // An empty container expands to nothing.
    ASSERT_EQ(expand(Stream().container(0), out), lz::Status::ok);
    EXPECT_TRUE(out.empty());
}

TEST(Lz, RejectsCorruptData) {
    struct Case {
        const char* what;
        Bytes data;
    };
    auto build = [](auto&& fill, uint32_t total) {
        Stream s;
        fill(s);
        return s.container(total);
    };
    Bytes truncated = build([](Stream& s) { s.u32(3).literal('a').literal('b').literal('c'); }, 3);
    truncated.pop_back();
    Bytes payload_past_end = build([](Stream& s) { s.u32(1).literal('a'); }, 1);
    payload_past_end[0] += 1; // the payload claims one byte more than the data has
    const Case cases[] = {
        {"shorter than a header", Bytes{1, 0, 0}},
        {"block size 0", build([](Stream& s) { s.u32(0).literal('a'); }, 1)},
        {"block size 1,048,577",
         build([](Stream& s) { s.u32(lz::kMaxBlock + 1).literal('a'); }, lz::kMaxBlock + 1)},
        {"distance before the block",
         build([](Stream& s) { s.u32(1).literal('a').u32(3).short_match(3, 1); }, 4)},
        {"match past the block end",
         build([](Stream& s) { s.u32(3).literal('a').short_match(3, 1); }, 3)},
        {"blocks beyond the uncompressed size",
         build([](Stream& s) { s.u32(2).literal('a').literal('b'); }, 1)},
        {"uncompressed size beyond what the payload expands to",
         build([](Stream& s) { s.u32(1).literal('a'); }, 0xFFFFFFF0u)},
        {"stream ends inside a token", truncated},
        {"payload past the data", payload_past_end},
        {"block size field cut short", Bytes{2, 0, 0, 0, 5, 0, 0, 0, 1, 0}},
    };
    for (const Case& c : cases) {
        Bytes out{1, 2, 3};
        EXPECT_EQ(expand(c.data, out), lz::Status::corrupt) << c.what;
        EXPECT_TRUE(out.empty()) << c.what;
    }
}

// Every file of the fuzzing corpus (the seeds and each input that ever went wrong) expands, or
// is refused as corrupt, without a fault; what expands compresses and expands back.
TEST(Lz, FuzzCorpusReplays) {
    int expanded = 0;
    for (const auto& [path, data] : fuzz_corpus::files<Bytes>("lz")) {
        Bytes out;
        if (expand(data, out) != lz::Status::ok) continue;
        ++expanded;
        if (out.size() >= lz::kMinSource) round_trip(out);
    }
    EXPECT_GE(expanded, 3) << "the seeds expand";
}

} // namespace
