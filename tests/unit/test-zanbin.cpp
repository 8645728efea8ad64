#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/boot.h"
#include "app/init.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/compound.h"
#include "datatypes/context.h"
#include "datatypes/cycles.h"
#include "datatypes/dispatch.h"
#include "datatypes/error.h"
#include "datatypes/form-mold.h"
#include "datatypes/handle.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "lexer-fixture.h"
#include "loading/lexer.h"
#include "loading/lz.h"
#include "loading/zanbin.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/root.h"
#include "runtime-core/slots.h"
#include "runtime-core/support.h"
#include "runtime-core/throw.h"
#include "runtime-core/unicode.h"
#include "started-runtime.h"
#include "tests/unit/fuzz-corpus.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The whole runtime with the language-level sources, as a script sees it.
class Zanbin : public testing::Test {
protected:
    static void SetUpTestSuite() {
        runtime::init();
        boot::run();
        after_full_start_up();
    }
    // The suites after this one start from an empty runtime: nothing may name the old one.
    static void TearDownTestSuite() { release_full_runtime(); }
    void SetUp() override { base_ = stack::top; }
    void TearDown() override { stack::top = base_; }

    // The value of the last expression of a text, pushed.
    static Cell* eval(const std::string& text) {
        Cell* const above = stack::top;
        error::last_raised = error::Raised{};
        const uint32_t code = runtime::catch_level(runtime::kThrowError, [&] {
            Cell* block = lexer::load_push(reinterpret_cast<const uint8_t*>(text.data()),
                                           static_cast<uint32_t>(text.size()));
            EXPECT_EQ(interp::eval_block(block), interp::Status::normal) << text;
        });
        runtime::reset_thrown_code();
        if (code == runtime::kThrowError) {
            ADD_FAILURE() << text << ": error " << error::last_raised.category << " "
                          << error::last_raised.id;
            stack::top = above;
            return stack::push(Cell{kTypeNone, 0, 0, 0});
        }
        return stack::top - 1;
    }
    static Bytes bytes_of(const Cell& binary) {
        const uint8_t* at = binary::zs_head(&binary);
        return Bytes(at, at + binary::zs_length(&binary));
    }
    static std::string hex(const Bytes& bytes) {
        static const char digits[] = "0123456789ABCDEF";
        std::string out;
        for (const uint8_t b : bytes) {
            if (!out.empty()) out += ' ';
            out += digits[b >> 4];
            out += digits[b & 15];
        }
        return out;
    }
    static Bytes unhex(const std::string& text) {
        Bytes out;
        for (size_t k = 0; k + 1 < text.size();) {
            if (text[k] == ' ') {
                ++k;
                continue;
            }
            out.push_back(static_cast<uint8_t>(std::stoi(text.substr(k, 2), nullptr, 16)));
            k += 2;
        }
        return out;
    }
    // The compact (or fixed-width) encoding of a text's value.
    static Bytes encode(const std::string& text, bool fixed = false) {
        Cell* v = eval(text);
        return bytes_of(fixed ? *zanbin::encode_fixed(v) : *zanbin::encode_compact(v));
    }
    // The records of data without a symbol table: what follows the header.
    static std::string records(const Bytes& data) {
        EXPECT_EQ(data[7], 1) << "compact, no symbol table";
        size_t at = 9;
        while (data[at - 1] & 0x80) ++at; // the records size varint
        return hex(Bytes(data.begin() + static_cast<long>(at) + 1, data.end()));
    }
    // Compact data of records without symbols.
    static Bytes data_of(const std::string& records_hex) {
        Bytes r = unhex(records_hex);
        Bytes out{'Z', 'A', 'N', 'B', 'I', 'N', 2, 1, 1};
        uint32_t n = static_cast<uint32_t>(r.size());
        while (n >= 0x80) {
            out.push_back(static_cast<uint8_t>(n | 0x80));
            n >>= 7;
        }
        out.push_back(static_cast<uint8_t>(n));
        out.insert(out.end(), r.begin(), r.end());
        return out;
    }
    // Decodes data into a new block (pushed), which holds what was decoded even after an
    // error; answers "" or "error CATEGORY ID ARG1".
    static std::string decode(const Bytes& data, Cell*& target) {
        target = block::push_new(4);
        Cell* const above = stack::top;
        error::last_raised = error::Raised{};
        const uint32_t code = runtime::catch_level(runtime::kThrowError, [&] {
            zanbin::decode(data.data(), static_cast<uint32_t>(data.size()), target, nullptr);
        });
        runtime::reset_thrown_code();
        stack::top = above;
        if (code != runtime::kThrowError) return "";
        const error::Raised& e = error::last_raised;
        std::string out = "error " + std::to_string(e.category) + " " + std::to_string(e.id);
        if (e.argc > 0 && cell::type(&e.args[0]) == kTypeInteger)
            out += " " + std::to_string(static_cast<int32_t>(e.args[0].w2));
        return out;
    }
    // The value decoded from the encoding of a text's value (the one root value).
    static Cell round_trip(const std::string& text, bool fixed = false) {
        const Bytes data = encode(text, fixed);
        Cell* target;
        EXPECT_EQ(decode(data, target), "") << text;
        EXPECT_EQ(block::length_from_index(target), 1) << text;
        return *block::cell_at(target, 0);
    }
    static std::string raised(const std::function<void()>& body) {
        error::last_raised = error::Raised{};
        Cell* const above = stack::top;
        const uint32_t code = runtime::catch_level(runtime::kThrowError, body);
        runtime::reset_thrown_code();
        stack::top = above;
        if (code != runtime::kThrowError) return "";
        return "error " + std::to_string(error::last_raised.category) + " " +
               std::to_string(error::last_raised.id);
    }
    static void define(const char* name, const Cell& value) {
        Cell* v = stack::push(value);
        Cell* w = word::push_new(symbol::make(name));
        context::set_word_value(context::global, w, v);
    }
    static std::string error_name(uint32_t category, uint32_t id) {
        return "error " + std::to_string(category) + " " + std::to_string(id);
    }

    Cell* base_ = nullptr;
};

const std::string kInvalid = "error " + std::to_string(error::kScript) + " " +
                             std::to_string(error::script::zb_invalid_record);

TEST_F(Zanbin, ExactBytes) {
    EXPECT_EQ(hex(encode("1")), "5A 41 4E 42 49 4E 02 01 01 01 81");
    struct Case {
        const char* source;
        const char* records;
    };
    const Case cases[] = {
        {"0", "80"},
        {"63", "BF"},
        {"64", "0B 80 01"},
        {"-1", "0B 01"},
        {"3.0", "4C 06"},
        {"-0.0", "0C 00 00 00 00 00 00 00 80"},
        {"50%", "66 64"},
        {"12.5%", "26 00 00 00 00 00 00 C0 3F"},
        {"\"abc\"", "07 0C 61 62 63"},
        {"next next \"abcd\"", "47 02 10 61 62 63 64"},
        {"true", "C2"},
        {"false", "C3"},
        {"none", "03"},
        {"#\"a\"", "0A 61"},
        {"3x-4", "25 06 07"},
        {"1.2.3", "27 01 02 03"},
        {"1.2.3.4", "67 04 01 02 03 04"},
        {"integer!", "01 0B"},
        {"#{0102}", "29 02 01 02"},
        {"[1 [2]]", "05 02 81 05 01 82"},
        {"b: copy [1] append/only b b", "05 02 81 C1 05 01 00"},
        {"to path! [a]", "19 01 0F 00"},
    };
    for (const Case& c : cases) {
        const Bytes data = encode(c.source);
        if (std::string(c.source) == "to path! [a]") {
            EXPECT_EQ(data[7], 5) << "a symbol table";
            continue;
        }
        EXPECT_EQ(records(data), c.records) << c.source;
    }
}

// Every serialisable type comes back the same (compared by mold/all).
TEST_F(Zanbin, RoundTripsEveryType) {
    const char* sources[] = {
        "integer!",
        "none",
        "true",
        "[a 1 \"x\" [b]]",
        "to paren! [1 2]",
        "\"h\u00e9llo \u4e16\u754c \U0001F600\"",
        "%dir/file.txt",
        "http://example.com/a?b",
        "#\"\u00e9\"",
        "-2147483648",
        "2147483647",
        "1.5e300",
        "-0.0",
        "[w: 'w :w /w]",
        "#issue",
        "to path! [a b 1]",
        "to lit-path! [a b]",
        "to set-path! [a b]",
        "to get-path! [a b]",
        "make bitset! \"abc\"",
        "complement make bitset! \"abc\"",
        "make typeset! reduce [integer! block!]",
        "make vector! [integer! 16 [1 -2 300]]",
        "make vector! [float! 64 [1.5 -2.25]]",
        "make hash! [a 1 b 2]",
        "10x-20",
        "12.5%",
        "1.2.3.4.5",
        "make map! [a 1 \"k\" [v]]",
        "#{DEADBEEF}",
        "12:30:45.5",
        "<tag attr>",
        "user@example.com",
        "10-Dec-2026",
        "10-Dec-2026/12:00:00+01:00",
        "-$12.34",
        "EUR$1.5",
        "@ref",
        "(1.5, 2)",
        "(1, 2, 3)",
        "make object! [a: 1 b: [x y] c: \"s\"]",
        "make error! [type: 'math id: 'zero-divide]",
        "func [a b] [a + b]",
        ":add",
        ":print",
        ":+",
    };
    for (const bool fixed : {false, true}) {
        for (const char* source : sources) {
            // Both are held where the collector finds them while the other is made.
            GcRoot original(*eval(source));
            GcRoot back(round_trip(source, fixed));
            EXPECT_EQ(LexerTest::molded(back.cell(), false, true),
                      LexerTest::molded(original.cell(), false, true))
                << source << (fixed ? " (fixed)" : "");
            EXPECT_EQ(cell::type(&back.cell()), cell::type(&original.cell())) << source;
        }
    }
}

// The fixed-width encoding: 32-bit little-endian words.
TEST_F(Zanbin, FixedWidthBytes) {
    EXPECT_EQ(hex(encode("1", true)),
              "5A 41 4E 42 49 4E 02 00 01 00 00 00 08 00 00 00 0B 00 00 00 01 00 00 00");
    struct Case {
        const char* source;
        const char* records; // after the 16-byte header (and the symbol table, if any)
    };
    const Case cases[] = {
        // A double starts at a multiple of 8 bytes: a zero word pads before it.
        {"[3.0]", "05 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 "
                  "0C 00 00 00 00 00 08 40 00 00 00 00"},
        {"\"ab\"", "07 01 00 00 00 00 00 00 02 00 00 00 61 62 00 00"},
        {"make vector! [integer! 32 [7]]",
         "23 04 00 00 00 00 00 00 01 00 00 00 0B 00 00 00 07 00 00 00"},
        {"-$1", "31 00 40 00 00 00 00 00 00 00 00 00 00 10 00 00"},
        {"b: copy [] append/only b b",
         "05 00 00 00 00 00 00 00 01 00 00 00 05 00 08 00 00 00 00 00 FF 00 00 00 01 00 00 00 "
         "00 00 00 00"},
    };
    for (const Case& c : cases) {
        const Bytes data = encode(c.source, true);
        ASSERT_EQ(data[7], 0) << c.source;
        EXPECT_EQ(hex(Bytes(data.begin() + 16, data.end())), c.records) << c.source;
    }
    // A 3-byte symbol takes 8 bytes of the string area; the next one starts at 8.
    const Bytes words = encode("[abc d]", true);
    EXPECT_EQ(words[7], 4);
    EXPECT_EQ(hex(Bytes(words.begin() + 16, words.begin() + 40)),
              "02 00 00 00 10 00 00 00 00 00 00 00 08 00 00 00 61 62 63 00 00 00 00 00");
    // An op! over a function! carries the function's type in bits 16-23 (so bit 19 is set)
    // and is still read as an op!.
    const Bytes op = encode("make op! func [a b] [a]", true);
    size_t at = 16;
    while (op[at] != 0x17) ++at;
    EXPECT_EQ(op[at + 2], 24);
    const Cell back = round_trip("make op! func [a b] [a]", true);
    EXPECT_EQ(cell::type(&back), kTypeOp);
}

// An image: index, size and the pixel words as stored (B, G, R, opacity in memory).
TEST_F(Zanbin, Images) {
    const char* one = "make image! [1x1 #{010203}]";
    EXPECT_EQ(records(encode(one)), "35 01 01 03 02 01 FF");
    const Bytes fixed_one = encode(one, true);
    EXPECT_EQ(hex(Bytes(fixed_one.begin() + 16, fixed_one.end())),
              "35 00 00 00 00 00 00 00 01 00 01 00 03 02 01 FF");
    EXPECT_EQ(records(encode("next make image! [2x1 #{010203040506}]")),
              "75 01 02 01 03 02 01 FF 06 05 04 FF");
    for (const bool fixed : {false, true}) {
        SCOPED_TRACE(fixed ? "fixed" : "compact");
        // Two values over one buffer, the second at another index, and an image without
        // pixels.
        GcRoot back(round_trip("i: make image! [3x2 #{000102030405060708090A0B0C0D0E0F1011}] "
                               "poke i 2 10.20.30.40 reduce [i skip i 4 make image! 0x5]",
                               fixed));
        const Cell* first = block::cell_at(&back.cell(), 0);
        const Cell* second = block::cell_at(&back.cell(), 1);
        const Cell* empty = block::cell_at(&back.cell(), 2);
        ASSERT_EQ(cell::type(first), kTypeImage);
        ASSERT_EQ(cell::type(second), kTypeImage);
        EXPECT_EQ(first->w2, second->w2);
        EXPECT_EQ(second->w1, 4u);
        EXPECT_EQ(image::width(second), 3u);
        EXPECT_EQ(image::height(second), 2u);
        EXPECT_EQ(image::pixels(first)[0], 0xFF000102u);
        EXPECT_EQ(image::pixels(first)[1], 0xD70A141Eu);
        EXPECT_EQ(image::pixels(first)[5], 0xFF0F1011u);
        EXPECT_EQ(image::width(empty), 0u);
        EXPECT_EQ(image::height(empty), 5u);
    }
    // A side beyond 65535, pixels beyond the bytes left, an index past the pixels.
    const struct {
        const char* what;
        const char* records;
        uint32_t position;
    } cases[] = {
        {"width 65536", "35 80 80 04 01", 12},
        {"pixels beyond the bytes left", "35 02 01 00 00 00 FF", 12},
        {"index past the pixels", "75 02 01 01 00 00 00 FF", 12},
    };
    for (const auto& c : cases) {
        Cell* target;
        EXPECT_EQ(decode(data_of(c.records), target), kInvalid + " " + std::to_string(c.position))
            << c.what;
    }
}

// A fixed-width count is bounded by the words left before anything is allocated.
TEST_F(Zanbin, FixedWidthRejections) {
    auto fixed = [](const std::string& records) {
        Bytes r = unhex(records);
        Bytes out{'Z', 'A', 'N', 'B', 'I', 'N', 2, 0, 1, 0, 0, 0};
        const auto n = static_cast<uint32_t>(r.size());
        for (int k = 0; k < 4; ++k) out.push_back(static_cast<uint8_t>(n >> (8 * k)));
        out.insert(out.end(), r.begin(), r.end());
        return out;
    };
    Cell* target;
    // A block of a million cells in 12 bytes.
    EXPECT_EQ(decode(fixed("0B 00 00 00 05 00 00 00 05 00 00 00 00 00 00 00 40 42 0F 00"), target),
              kInvalid + " 33");
    EXPECT_EQ(block::length_from_index(target), 1);
    // Type ids without a record: symbol! (13), series! (42), beyond the table.
    for (const char* t : {"0D", "2A", "37", "FE"}) {
        EXPECT_EQ(decode(fixed(std::string(t) + " 00 00 00"), target), kInvalid + " 17") << t;
    }
    // A string unit size other than 1, 2 or 4.
    EXPECT_EQ(decode(fixed("07 03 00 00 00 00 00 00 01 00 00 00 61 62 63 00"), target),
              kInvalid + " 17");
    // Fewer than 8 bytes of body.
    EXPECT_EQ(decode(unhex("5A 41 4E 42 49 4E 02 00 01 00 00 00"), target),
              error_name(error::kScript, error::script::invalid_data));
}

TEST_F(Zanbin, SharingAndCyclesSurvive) {
    for (const bool fixed : {false, true}) {
        // A block that contains itself.
        Cell b = round_trip("b: copy [1] append/only b b", fixed);
        EXPECT_EQ(block::cell_at(&b, 1)->w2, b.w2);
        // Two values over one buffer, one at another index.
        Cell pair = round_trip("s: \"abcd\" reduce [s next next s]", fixed);
        const Cell* first = block::cell_at(&pair, 0);
        const Cell* second = block::cell_at(&pair, 1);
        EXPECT_EQ(first->w2, second->w2);
        EXPECT_EQ(second->w1, 2u);
        // Words of one object share the decoded object's context.
        Cell words = round_trip("o: make object! [a: 1 w: [a]] w: o/w reduce [pick w 1 o]", fixed);
        EXPECT_EQ(block::cell_at(&words, 0)->w1, block::cell_at(&words, 1)->w1);
    }
}

// The values of an object or error are decoded straight into its context, so that a value
// being decoded reaches itself through the context: a function whose body uses its own
// arguments is written by a path through the object's field that holds it.
TEST_F(Zanbin, ContextValuesAreReachableWhileDecoded) {
    // The padding makes the body long enough for the LZ codec to take it.
    const std::string object_source = "shared: [1 2] make object! ["
                                      "  n: 10 m: func [q] [q + n]"
                                      "  inner: make object! [k: func [] [n * 2] blk: shared]"
                                      "  again: shared pad: \"" +
                                      std::string(200, 'z') + "\"]";
    const std::string error_source = "b: [a] append/only b b "
                                     "e: make error! [type: 'user id: 'message arg1: \"" +
                                     std::string(200, 'x') + "\"] e/arg2: b e/arg3: b e";
    auto truth = [](const char* text) {
        const Cell* v = eval(text);
        return cell::type(v) == kTypeLogic && v->w1 != 0;
    };
    // The one value decoded, from the encoding as written or with its body LZ-compressed.
    auto back = [](const std::string& source, bool fixed, bool lz_body) {
        Bytes data = encode(source, fixed);
        if (lz_body) {
            Bytes packed(data.size());
            const int32_t n = lz::compress(data.data() + 8, static_cast<uint32_t>(data.size() - 8),
                                           packed.data());
            EXPECT_GT(n, 0);
            data.resize(8);
            data[7] |= 2;
            data.insert(data.end(), packed.begin(), packed.begin() + std::max(n, 0));
        }
        Cell* target;
        EXPECT_EQ(decode(data, target), "");
        return *block::cell_at(target, 0);
    };
    for (const bool fixed : {false, true}) {
        for (const bool lz_body : {false, true}) {
            SCOPED_TRACE(std::string(fixed ? "fixed" : "compact") + (lz_body ? ", LZ" : ""));
            define("decoded-o", back(object_source, fixed, lz_body));
            EXPECT_EQ(eval("decoded-o/m 5")->w2, 15u);
            EXPECT_EQ(eval("decoded-o/inner/k")->w2, 20u);
            EXPECT_TRUE(truth("same? decoded-o/inner/blk decoded-o/again"));
            define("decoded-e", back(error_source, fixed, lz_body));
            EXPECT_TRUE(truth("same? decoded-e/arg2 decoded-e/arg3"));
            EXPECT_TRUE(truth("same? decoded-e/arg2 pick decoded-e/arg2 2"));
            EXPECT_TRUE(truth("none? decoded-e/files"));
        }
    }
}

TEST_F(Zanbin, WordsOfOneObjectEncodeItOnce) {
    const Bytes data =
        encode("o: make object! [a: 1 b: 2 w: [a b]] w: o/w reduce [pick w 1 pick w 2 o]");
    // The word a carries the object inline (type byte 0x20); b, the words in its field w and
    // the object itself refer back to it (0xC1 prefix).
    int full = 0, referred = 0;
    for (size_t k = 1; k < data.size(); ++k) {
        if (data[k] != 0x20) continue;
        data[k - 1] == 0xC1 ? ++referred : ++full;
    }
    EXPECT_EQ(full, 1);
    EXPECT_EQ(referred, 1);
    Cell* target;
    ASSERT_EQ(decode(data, target), "");
    const Cell* words = block::cell_at(target, 0);
    const Cell* a = block::cell_at(words, 0);
    const Cell* b = block::cell_at(words, 1);
    const Cell* o = block::cell_at(words, 2);
    EXPECT_EQ(a->w1, b->w1);
    EXPECT_EQ(a->w1, o->w1);
    EXPECT_EQ(context::slot(a->w1, static_cast<int32_t>(a->w3))->w2, 1u);
    EXPECT_EQ(context::slot(b->w1, static_cast<int32_t>(b->w3))->w2, 2u);
}

TEST_F(Zanbin, DecodedFunctionsRun) {
    Cell fn = round_trip("func [a b /twice] [either twice [2 * (a + b)] [a + b]]");
    define("decoded-f", fn);
    EXPECT_EQ(eval("decoded-f/twice 2 3")->w2, 10u);
    EXPECT_EQ(eval("decoded-f 2 3")->w2, 5u);
    define("decoded-op", round_trip("make op! func [a b] [a - b]"));
    EXPECT_EQ(eval("10 decoded-op 4")->w2, 6u);
}

// Malformed data: the error names the 1-based byte of the fault, and what was decoded before
// it stays in the target.
TEST_F(Zanbin, RejectsMalformedRecords) {
    struct Case {
        const char* what;
        const char* records;
        uint32_t position; // of the fault, counted from the data's first byte
        int32_t kept;
    };
    const Case cases[] = {
        {"varint fifth byte 0x10", "81 0B FF FF FF FF 10", 17, 1},
        {"path length 0", "81 FF 00", 13, 1},
        {"path length 65,537", "FF 81 80 04", 12, 0},
        {"path past the container's tail", "81 FF 02 00 00", 15, 1},
        {"block count beyond the bytes left", "05 10 81", 12, 0},
        {"string longer than the bytes left", "81 07 40 61", 13, 1},
        {"width code 3", "07 07 61", 12, 0},
        {"word-with-value prefix", "81 C4 0F 00", 12, 1},
        {"type id 0", "81 40", 12, 1},
        {"invalid lead byte", "C5", 11, 0},
        {"prefix at the end", "C0", 12, 0},
        {"reference before a small integer", "C1 81", 12, 0},
        {"symbol index without a table", "81 0F 00", 13, 1},
        {"tuple of 13 bytes", "67 0D", 12, 0},
        {"typeset of 13 bytes", "21 0D", 12, 0},
        {"char beyond Unicode", "0A 80 80 C4 00", 11, 0},
        {"time! not a number", "2B 00 00 00 00 00 00 F8 7F", 11, 0},
        {"date! time beyond two days", "6F 80 10 01 00 00 00 00 00 00 00 F0 7F", 11, 0},
        {"date! within two days", "6F 80 10 01 00 00 00 00 00 00 00 F0 3F C5", 24, 1},
    };
    for (const Case& c : cases) {
        Cell* target;
        EXPECT_EQ(decode(data_of(c.records), target), kInvalid + " " + std::to_string(c.position))
            << c.what;
        EXPECT_EQ(block::length_from_index(target), c.kept) << c.what;
    }
    // Nesting beyond the limit is refused, not followed down the machine stack.
    std::string deep;
    for (int k = 0; k < 5000; ++k) deep += "05 01 ";
    Cell* target;
    EXPECT_EQ(decode(data_of(deep + "81"), target).rfind(kInvalid, 0), 0u);
}

// A symbol's text must be valid UTF-8: the word naming it is an invalid record.
TEST_F(Zanbin, SymbolsAreValidUtf8) {
    // Compact data of one word! record over one symbol; the word's symbol index is at byte
    // 19 + the length of the text (1-based).
    auto word_data = [](const std::string& text) {
        Bytes out{'Z', 'A', 'N', 'B', 'I', 'N', 2, 5, 1, 2, 1};
        out.push_back(static_cast<uint8_t>(text.size() + 1));
        out.insert(out.end(), {0, 0, 0, 0});
        out.insert(out.end(), text.begin(), text.end());
        out.insert(out.end(), {0, 0x0F, 0});
        return out;
    };
    const struct {
        const char* what;
        std::string text;
    } bad[] = {
        {"a byte that starts nothing", "a\xFF"}, {"a sequence cut short", "\xC3"},
        {"an overlong form", "\xC0\xAF"},        {"a surrogate", "\xED\xA0\x80"},
        {"beyond 10FFFF", "\xF4\x90\x80\x80"},
    };
    for (const auto& c : bad) {
        Cell* target;
        EXPECT_EQ(decode(word_data(c.text), target),
                  kInvalid + " " + std::to_string(19 + c.text.size()))
            << c.what;
        EXPECT_EQ(block::length_from_index(target), 0) << c.what;
    }
    Cell* target;
    ASSERT_EQ(decode(word_data("\xC3\xA9t\xC3\xA9"), target), "");
    EXPECT_EQ(symbol::text(block::cell_at(target, 0)->w2), "\xC3\xA9t\xC3\xA9");
}

TEST_F(Zanbin, RefusesWhatCannotBeSaved) {
    const std::string no_codec = error_name(error::kAccess, error::access::no_codec);
    Cell* h = stack::push_cell();
    handle::make_at(h, 7, 0);
    EXPECT_EQ(raised([&] { zanbin::encode_compact(h); }), no_codec);
    Cell* target;
    EXPECT_EQ(decode(data_of("1D"), target).rfind(no_codec, 0), 0u) << "routine!";
    // Nesting too deep to encode.
    eval("deep: copy [] loop 1100 [deep: reduce [deep]]");
    EXPECT_EQ(raised([&] { zanbin::encode_compact(eval("deep")); }),
              error_name(error::kInternal, error::internal::too_deep));
}

TEST_F(Zanbin, ContainerAndCompression) {
    const std::string invalid_data = error_name(error::kScript, error::script::invalid_data);
    Cell* target;
    EXPECT_EQ(decode(unhex("5A 41 4E 42 49 4D 02 01 01 01 81"), target), invalid_data);
    EXPECT_EQ(decode(unhex("5A 41 4E 42 49 4E 02 01 01 01"), target), invalid_data);
    // A compressed body expands to the same values.
    const std::string source =
        "[\"" + std::string(300, 'z') + "\" \"" + std::string(300, 'y') + "\"]";
    const Bytes plain = encode(source);
    Bytes packed(plain.size());
    const int32_t n =
        lz::compress(plain.data() + 8, static_cast<uint32_t>(plain.size() - 8), packed.data());
    ASSERT_GT(n, 0);
    Bytes compressed(plain.begin(), plain.begin() + 8);
    compressed[7] |= 2;
    compressed.insert(compressed.end(), packed.begin(), packed.begin() + n);
    ASSERT_EQ(decode(compressed, target), "");
    EXPECT_EQ(LexerTest::molded(*block::cell_at(target, 0), false, true),
              LexerTest::molded(*eval(source), false, true));
    compressed[20] ^= 0x55;
    compressed.resize(compressed.size() - 3);
    EXPECT_EQ(decode(compressed, target), invalid_data);
}

// Every file of the fuzzing corpus (the seeds and each input that ever went wrong) decodes or
// raises a language error; what decodes molds and encodes again.
TEST_F(Zanbin, FuzzCorpusReplays) {
    int files = 0;
    for (const auto& [path, data] : fuzz_corpus::files<Bytes>("zanbin")) {
        Cell* target;
        if (decode(data, target).empty()) {
            LexerTest::molded(*target, false, true);
            zanbin::encode_compact(target);
            zanbin::encode_fixed(target);
        }
        ++files;
    }
    EXPECT_GT(files, 0);
}

} // namespace
