#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "compound-fixture.h"
#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "runtime-core/error-ids.h"

namespace {

class Binary : public CompoundTest {
protected:
    void SetUp() override {
        CompoundTest::SetUp();
        binary::register_actions();
    }
    // A new binary pushed on the data stack.
    static Cell* bin(const std::string& bytes) {
        return binary::load(reinterpret_cast<const uint8_t*>(bytes.data()),
                            static_cast<uint32_t>(bytes.size()));
    }
    static std::string bytes(const Cell& b) {
        return std::string(reinterpret_cast<const char*>(binary::zs_head(&b)),
                           binary::zs_length(&b));
    }
    static std::string encoded(uint32_t base, const std::string& in) {
        std::string out(in.size() * 8 + 8, '\0');
        const auto* b = reinterpret_cast<const uint8_t*>(in.data());
        const auto n = static_cast<uint32_t>(in.size());
        uint32_t written = base == 2    ? binary::encode_base2(b, n, out.data())
                           : base == 16 ? binary::encode_base16(b, n, out.data())
                           : base == 58 ? binary::encode_base58(b, n, out.data())
                                        : binary::encode_base64(b, n, out.data());
        out.resize(written);
        return out;
    }
    // The decoded bytes, or "<invalid>".
    static std::string decoded(uint32_t base, const std::string& text) {
        const auto* t = reinterpret_cast<const uint8_t*>(text.data());
        const auto n = static_cast<uint32_t>(text.size());
        Cell* r = base == 2    ? binary::decode_base2(t, n, 1)
                  : base == 16 ? binary::decode_base16(t, n, 1)
                  : base == 58 ? binary::decode_base58(t, n, 1)
                               : binary::decode_base64(t, n, 1);
        return r ? bytes(*r) : "<invalid>";
    }
    static Cell converted(const Cell& spec) {
        Cell* prototype = stack::push(Cell{kTypeDatatype, kTypeBinary, 0, 0});
        Cell* s = stack::push(spec);
        return *binary::to(prototype, s, kTypeBinary);
    }
    static std::string molded_text(const Cell& v, bool flat = false, int32_t indent = 0) {
        Cell* held = stack::push(v);
        Cell* s = string::make_at(stack::push_cell(), 16);
        binary::mold(held, s, {.flat = flat}, form_mold::kNoLimit, indent);
        return ascii(*s);
    }
};

TEST_F(Binary, CodecExamples) {
    EXPECT_EQ(encoded(64, "abc"), "YWJj");
    EXPECT_EQ(encoded(64, "ab"), "YWI=");
    EXPECT_EQ(encoded(64, "a"), "YQ==");
    EXPECT_EQ(encoded(58, std::string("\0\0\1", 3)), "112");
    EXPECT_EQ(encoded(16, "\x4A\xFF"), "4AFF");
    EXPECT_EQ(encoded(2, "\x81"), "10000001");
    struct Case {
        uint32_t base;
        const char* text;
        std::string result;
    } cases[] = {
        {64, "YWJj", "abc"},
        {64, "YW\nJj ; a comment\n", "abc"},
        {64, "YWI=", "ab"},
        {64, "YQ==", "a"},
        {64, "YWJjZ", "abc"},      // an unfinished group without "=" is dropped
        {64, "Y===", "<invalid>"}, // "=" after one character of a group
        {64, "YW*j", "<invalid>"},
        {64, "YWJj\xC3\xA9garbage", "abc"}, // a character above 127 ends the input
        {16, "4A4", "\x4A"},
        {16, "", ""},
        {16, "4a 4B ; hex\n0F", "\x4A\x4B\x0F"},
        {16, "4G", "<invalid>"},
        {2, "0100 0001", "A"},
        {2, "0100000", "<invalid>"},
        {2, "01000002", "<invalid>"},
        {58, "112", std::string("\0\0\1", 3)},
        {58, "1", std::string("\0", 1)},
        {58, "10", "<invalid>"}, // 0 is not a base-58 digit
    };
    for (const Case& c : cases) EXPECT_EQ(decoded(c.base, c.text), c.result) << c.text;
}

TEST_F(Binary, RandomBytesRoundTripInEveryBase) {
    std::mt19937 generator(7);
    for (uint32_t base : {2u, 16u, 58u, 64u}) {
        for (uint32_t length : {0u, 1u, 2u, 3u, 5u, 31u, 64u}) {
            std::string in;
            for (uint32_t i = 0; i < length; ++i) in += static_cast<char>(generator());
            if (length == 5) in[0] = in[1] = '\0'; // leading zeros matter in base 58
            EXPECT_EQ(decoded(base, encoded(base, in)), in) << base << " " << length;
        }
    }
}

// The plain way to write base 58: one division of the whole number by 58 per digit. The
// codec must give the same text.
std::string base58_by_digit(const std::string& in) {
    static const char kAlphabet[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
    size_t zeros = 0;
    while (zeros < in.size() && in[zeros] == '\0') ++zeros;
    std::vector<uint8_t> number(in.begin() + static_cast<long>(zeros), in.end());
    std::string digits;
    for (size_t first = 0; first < number.size();) {
        uint32_t remainder = 0;
        for (size_t i = first; i < number.size(); ++i) {
            const uint32_t v = remainder << 8 | number[i];
            number[i] = static_cast<uint8_t>(v / 58);
            remainder = v % 58;
        }
        digits += kAlphabet[remainder];
        while (first < number.size() && number[first] == 0) ++first;
    }
    return std::string(zeros, '1') + std::string(digits.rbegin(), digits.rend());
}

std::string from_hex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

TEST_F(Binary, Base58Vectors) {
    const struct {
        const char* hex;
        const char* text;
    } cases[] = {
        {"", ""},
        {"00", "1"},
        {"61", "2g"},
        {"626262", "a3gV"},
        {"572e4794", "3EFU7m"},
        {"10c8511e", "Rt5zm"},
        {"516b6fcd0f", "ABnLTmg"},
        {"bf4f89001e670274dd", "3SEo3LWLoPntC"},
        {"ecac89cad93923c02321", "EJDM8drfXA6uyA"},
        {"73696d706c792061206c6f6e6720737472696e67", "2cFupjhnEsSn59qHXstmK2ffpLv2"},
        {"00eb15231dfceb60925886b67d065299925915aeb172c06647",
         "1NS17iag9jJgTHD1VXjvLCEnZuQ3rJDE9L"},
        {"00000000000000000000", "1111111111"},
        {"0000ffffffffffffffffffffffffffffffff", "11YcVfxkQb6JRzqk5kF2tNLv"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(encoded(58, from_hex(c.hex)), c.text) << c.hex;
        EXPECT_EQ(decoded(58, c.text), from_hex(c.hex)) << c.text;
    }
    // Blanks and comments may split the digits anywhere.
    EXPECT_EQ(decoded(58, "2cFupjhn EsSn59q ; a comment\nHXstmK2ffpLv2"),
              from_hex("73696d706c792061206c6f6e6720737472696e67"));
}

// Numbers of many sizes, across the limbs' and digit groups' boundaries, with and without
// leading zero bytes, and all bits set: the same text as one division per digit, and back.
TEST_F(Binary, Base58AgreesWithDivisionByDigit) {
    std::mt19937 generator(58);
    for (uint32_t length : {1u, 2u, 3u, 4u, 5u, 7u, 8u, 9u, 15u, 16u, 17u, 31u, 33u, 64u, 65u, 100u,
                            257u, 1000u, 4099u}) {
        for (int kind = 0; kind < 3; ++kind) {
            std::string in(length, '\xFF');
            if (kind > 0)
                for (char& b : in) b = static_cast<char>(generator());
            if (kind == 2) in[0] = in[length / 2] = '\0';
            const std::string text = encoded(58, in);
            EXPECT_EQ(text, base58_by_digit(in)) << length << " " << kind;
            EXPECT_EQ(decoded(58, text), in) << length << " " << kind;
        }
    }
}

TEST_F(Binary, DecodesWideText) {
    const char16_t text[] = u"YWJj";
    Cell* r = binary::decode_base64(reinterpret_cast<const uint8_t*>(text), 4, 2);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(bytes(*r), "abc");
}

TEST_F(Binary, MoldLayout) {
    EXPECT_EQ(molded_text(*bin("\x01\xAB")), "#{01AB}");
    const std::string thirty(30, '\x11');
    EXPECT_EQ(molded_text(*bin(thirty)), "#{" + std::string(60, '1') + "}");
    const std::string h32(64, '2');
    EXPECT_EQ(molded_text(*bin(std::string(32, '\x22'))), "#{\n    " + h32 + "\n}");
    EXPECT_EQ(molded_text(*bin(std::string(40, '\x22'))),
              "#{\n    " + h32 + "\n    " + std::string(16, '2') + "\n}");
    EXPECT_EQ(molded_text(*bin(std::string(40, '\x22')), false, 1),
              "#{\n        " + h32 + "\n        " + std::string(16, '2') + "\n    }");
    EXPECT_EQ(molded_text(*bin(std::string(40, '\x22')), true), "#{" + std::string(80, '2') + "}");
    EXPECT_EQ(text(*bin("\xFF")), "#{FF}");
}

TEST_F(Binary, ToBinary) {
    struct Case {
        Cell spec;
        std::string result;
    } cases[] = {
        {int_value(1), std::string("\0\0\0\1", 4)},
        {float_value(1.0), std::string("\x3F\xF0\0\0\0\0\0\0", 8)},
        {Cell{kTypeChar, 0, 0xE9, 0}, "\xC3\xA9"},
        {tuple_value({1, 2, 3, 4}), "\x01\x02\x03\x04"},
        {Cell{kTypeIssue, 0, symbol::make("4a4b"), 0}, "\x4A\x4B"},
    };
    // make binary! takes a number as a capacity; to converts it.
    for (const Case& c : cases) EXPECT_EQ(bytes(converted(c.spec)), c.result);
    EXPECT_EQ(bytes(made(kTypeBinary, int_value(100))), "");
    GcRoot list(block({int_value(1), Cell{kTypeChar, 0, 'A', 0}, tuple_value({2, 3, 4})}));
    EXPECT_EQ(bytes(made(kTypeBinary, list.cell())), "\x01"
                                                     "A\x02\x03\x04");
    Cell* source = bin("abcdef");
    source->w1 = 2;
    EXPECT_EQ(bytes(made(kTypeBinary, *source)), "cdef");
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_data, [&] {
        made(kTypeBinary, Cell{kTypeIssue, 0, symbol::make("xyz"), 0});
    }));
    EXPECT_TRUE(raises(error::kScript, error::script::bad_to_arg, [&] {
        made(kTypeBinary, Cell{kTypeNone, 0, 0, 0});
    }));
    GcRoot bad_list(block({Cell{kTypeNone, 0, 0, 0}}));
    EXPECT_TRUE(raises(error::kScript, error::script::bad_to_arg,
                       [&] { made(kTypeBinary, bad_list.cell()); }));
}

TEST_F(Binary, AppendInsertChange) {
    Cell* b = bin("ab");
    Cell minus_one = int_value(-1), big = int_value(256), c = Cell{kTypeChar, 0, 'Z', 0};
    binary::insert(b, &minus_one, {.append = true});
    EXPECT_EQ(bytes(*b), "ab\xFF");
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_arg,
                       [&] { binary::insert(b, &big, {.append = true}); }));
    b->w1 = 1;
    binary::insert(b, &c, {.dup = 3});
    EXPECT_EQ(b->w1, 4u); // just past the inserted bytes
    b->w1 = 0;
    EXPECT_EQ(bytes(*b), "aZZZb\xFF");
    Cell* other = bin("xyz");
    b->w1 = 1;
    binary::change(b, other, {.part = 2});
    b->w1 = 0;
    EXPECT_EQ(bytes(*b), "axyzZb\xFF");
    // /part counts the bytes of the value for append.
    binary::insert(b, other, {.part = 1, .append = true});
    EXPECT_EQ(bytes(*b), "axyzZb\xFFx");
    // Changing with a part of itself.
    Cell self = *b;
    self.w1 = 1;
    Cell* same = stack::push(self);
    binary::change(b, same, {.part = 1});
    EXPECT_EQ(b->w1, 7u); // just past the change
    b->w1 = 0;
    EXPECT_EQ(bytes(*b), "xyzZb\xFFxxyzZb\xFFx");
    Cell none{kTypeNone, 0, 0, 0};
    EXPECT_TRUE(raises(error::kScript, error::script::bad_to_arg,
                       [&] { binary::insert(b, &none, {.append = true}); }));
    b->w1 = 0;
    binary::change(b, &none, {.part = 2}); // change forms other values
    b->w1 = 0;
    EXPECT_EQ(bytes(*b), "nonezZb\xFFxxyzZb\xFFx");
    EXPECT_TRUE(raises(error::kInternal, error::internal::no_memory,
                       [&] { binary::insert(b, other, {.dup = 0x7FFFFFFF, .append = true}); }));
}

TEST_F(Binary, CompareAndPrefix) {
    Cell* a = bin("abc");
    Cell* b = bin("abd");
    Cell* ab = bin("ab");
    EXPECT_TRUE(actions::compare(a, b, action::op::lesser));
    EXPECT_TRUE(actions::compare(ab, a, action::op::lesser));
    EXPECT_FALSE(actions::compare(ab, a, action::op::equal));
    EXPECT_EQ(binary::compare_bytes(a, ab, action::op::equal, true), 0);
    EXPECT_NE(binary::compare_bytes(ab, a, action::op::equal, true), 0);
    Cell* empty = bin("");
    EXPECT_EQ(binary::compare_bytes(a, empty, action::op::equal, true), 0);
    Cell copy = *a;
    EXPECT_EQ(binary::compare(a, &copy, action::op::same), 0);
    EXPECT_NE(binary::compare(a, bin("abc"), action::op::same), 0);
    Cell one = int_value(1);
    EXPECT_EQ(binary::compare(a, &one, action::op::equal), action::kNotComparable);
}

TEST_F(Binary, BitwiseComplementTrim) {
    struct Case {
        void (*action)();
        const char* a;
        const char* b;
        std::string result;
    } cases[] = {
        {binary::and_, "\xFF\x0F\xAA", "\x0F", std::string("\x0F\0\0", 3)},
        {binary::or_, "\xF0", "\x0F\x11", "\xFF\x11"},
        {binary::xor_, "\xFF\xFF", "\x0F\xF0", "\xF0\x0F"},
    };
    for (const Case& c : cases) {
        // Both operands stay on the data stack: making the second may move the first's node.
        stack::clear();
        bin(c.a);
        bin(c.b);
        c.action();
        EXPECT_EQ(bytes(*stack::arguments), c.result);
    }
    const Cell a = *bin("a");
    stack::clear();
    stack::push(a);
    stack::push(int_value(1));
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_arg, [] { binary::and_(); }));

    Cell* c = bin("\x0F\xF0");
    EXPECT_EQ(bytes(*binary::complement(c)), "\xF0\x0F");

    const std::string padded("\0\0a\0b\0\0", 7);
    struct Trim {
        bool head, tail, all;
        std::string result;
    } trims[] = {
        {false, false, false, std::string("a\0b", 3)},
        {true, false, false, std::string("a\0b\0\0", 5)},
        {false, true, false, std::string("\0\0a\0b", 5)},
        {false, false, true, "ab"},
    };
    for (const Trim& t : trims)
        EXPECT_EQ(bytes(*binary::trim(bin(padded), {.head = t.head, .tail = t.tail, .all = t.all})),
                  t.result);
    Cell* with = bin("ab");
    EXPECT_EQ(bytes(*binary::trim(bin("abcab"), {.with = with})), "c");
    EXPECT_TRUE(raises(error::kInternal, error::internal::not_done,
                       [&] { binary::trim(bin("a"), {.auto_ = true}); }));
}

TEST_F(Binary, HostileIndexesAndParts) {
    Cell* b = bin("abc");
    b->w1 = static_cast<uint32_t>(-5); // a negative index reads as the head
    EXPECT_EQ(bytes(*b), "abc");
    EXPECT_EQ(molded_text(*b), "#{616263}");
    Cell* c = bin("xy");
    binary::insert(b, c, {.part = 0x7FFFFFFF}); // a part beyond the value: all of it
    b->w1 = 0;
    EXPECT_EQ(bytes(*b), "xyabc");
    b->w1 = 1000; // past the tail: reads and writes at the tail
    EXPECT_EQ(binary::zs_length(b), 0u);
    binary::change(b, c, {.part = 0x7FFFFFFF});
    b->w1 = 0;
    EXPECT_EQ(bytes(*b), "xyabcxy");
    EXPECT_EQ(decoded(16, std::string(100000, ' ')), "");
}

TEST_F(Binary, LoadCopiesBytesThatLieInASeriesBuffer) {
    GcRoot source(*bin(std::string(100, 'q')));
    // The source's own bytes: the new buffer's allocation may move them.
    const Cell copy = *binary::load(binary::zs_head(&source.cell()), 100);
    EXPECT_EQ(bytes(copy), std::string(100, 'q'));
}

TEST_F(Binary, ParseMatches) {
    Cell* b = bin("abc");
    Cell a = Cell{kTypeChar, 0, 'a', 0}, z = Cell{kTypeChar, 0, 'z', 0};
    EXPECT_TRUE(binary::string_like(b, &a));
    EXPECT_FALSE(binary::string_like(b, &z));
    EXPECT_TRUE(binary::string_like(b, bin("ab")));
    EXPECT_TRUE(binary::string_like(b, bin("")));
    EXPECT_FALSE(binary::string_like(b, bin("abcd")));
    Cell one = int_value(1);
    EXPECT_FALSE(binary::string_like(b, &one));
    b->w1 = 3;
    EXPECT_FALSE(binary::string_like(b, &a)); // at the tail

    // A bitset of the byte 1 alone (bit 1 is the mask 0x40 of its first byte).
    Cell* set = bitset::make_from_spec(bin("\x40"), bitset::kMake);
    Cell* bytes = bin(std::string("\x01\x02\xC8", 3));
    EXPECT_TRUE(binary::byte_in_bitset(bytes, set));
    bytes->w1 = 1;
    EXPECT_FALSE(binary::byte_in_bitset(bytes, set));
    bytes->w1 = 2;
    EXPECT_FALSE(binary::byte_in_bitset(bytes, set)); // beyond the bitset's bits
    bytes->w1 = 3;
    EXPECT_FALSE(binary::byte_in_bitset(bytes, set));
}

TEST_F(Binary, ByteHelpers) {
    Cell* b = bin("");
    binary::zs_append_int32(b, 0x01020304);
    EXPECT_EQ(bytes(*b), "\x01\x02\x03\x04");
    binary::zs_insert(b, 1, reinterpret_cast<const uint8_t*>("xy"), 2);
    EXPECT_EQ(bytes(*b), "\x01xy\x02\x03\x04");
    binary::zs_write_at(b, 5, reinterpret_cast<const uint8_t*>("ZZ"), 2);
    EXPECT_EQ(bytes(*b), "\x01xy\x02\x03ZZ");
    EXPECT_FALSE(binary::zs_skip(b, 6));
    EXPECT_EQ(binary::zs_byte_at(b), 'Z');
    EXPECT_TRUE(binary::zs_skip(b, 1));
    EXPECT_TRUE(binary::zs_tail_q(b));
    b->w1 = 3;
    binary::zs_clear(b);
    b->w1 = 0;
    EXPECT_EQ(bytes(*b), "\x01xy");
    uint8_t byte = 0;
    Cell ch{kTypeChar, 0, 0x141, 0};
    binary::poke_byte(&byte, &ch);
    EXPECT_EQ(byte, 0x41);
    Cell none{kTypeNone, 0, 0, 0};
    EXPECT_TRUE(raises(error::kScript, error::script::invalid_arg,
                       [&] { binary::poke_byte(&byte, &none); }));
}

} // namespace
