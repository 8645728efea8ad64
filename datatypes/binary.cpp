#include "datatypes/binary.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/compound.h"
#include "datatypes/datatype.h"
#include "datatypes/dispatch.h"
#include "datatypes/float.h"
#include "datatypes/form-mold.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/root.h"
#include "runtime-core/support.h"
#include "runtime-core/unicode.h"

namespace binary {

using memory::Buffer;
using ownership::Action;

namespace {

// The largest byte count a binary may reach: beyond it sizes no longer fit a buffer.
constexpr uint64_t kMaxBytes = 0x7FFFFF00;

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kBase58[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
constexpr uint8_t kSkip = 0x40;
constexpr uint8_t kInvalid = 0x80;

// The 128-entry decode table of an alphabet: digit values, kSkip for the blanks and the
// apostrophe, kInvalid for the rest.
struct DecodeTable {
    uint8_t values[128];
    DecodeTable(const char* alphabet, bool equals_zero) {
        std::fill(values, values + 128, kInvalid);
        for (int c : {8, 9, 10, 12, 13, 32, int{'\''}}) values[c] = kSkip;
        for (uint8_t i = 0; alphabet[i]; ++i) values[static_cast<uint8_t>(alphabet[i])] = i;
        if (equals_zero) values['='] = 0;
    }
};
const DecodeTable base64_table(kBase64, true);
const DecodeTable base58_table(kBase58, false);

// Base 58 works on the bytes as one big number, a machine word (limb) at a time: k = 10
// digits per 64-bit limb where the compiler has a 128-bit product, else 5 per 32-bit limb.
// Both builds give the same text; the 64-bit limbs only make fewer, wider steps.
namespace base58 {

#ifdef __SIZEOF_INT128__
using Limb = uint64_t;
__extension__ typedef unsigned __int128 Wide;
constexpr int kDigitsPerLimb = 10;
#else
using Limb = uint32_t;
using Wide = uint64_t;
constexpr int kDigitsPerLimb = 5;
#endif
constexpr int kLimbBits = 8 * sizeof(Limb);

constexpr Limb power_of_58(int k) {
    Limb p = 1;
    for (int i = 0; i < k; ++i) p *= 58;
    return p;
}
// 58^k, the divisor of the encoder and the factor of the decoder.
constexpr Limb kPower = power_of_58(kDigitsPerLimb);
// The division by 58^k is a multiplication by a reciprocal, computed once: the divisor
// shifted until its top bit is set, and the reciprocal floor((2^2b - 1) / divisor) - 2^b.
constexpr int kShift = std::countl_zero(kPower);
constexpr Limb kNormal = kPower << kShift;
constexpr auto kReciprocal = static_cast<Limb>(~Wide{0} / kNormal);

// One step of long division by 58^k: `remainder` (below 58^k) and the next word of the
// number in, the quotient word out, the new remainder left in `remainder`.
inline Limb divide_step(Limb& remainder, Limb word) {
    // The two-word numerator shifted as the divisor was; its high word stays below kNormal.
    const Limb high = remainder << kShift | word >> (kLimbBits - kShift);
    const Limb low = word << kShift;
    // p = reciprocal * high + the numerator, in two words (p1 p0); q = p1 + 1 is the quotient
    // or one above it, which the remainder shows.
    const Wide m = Wide{kReciprocal} * high;
    const Limb p0 = static_cast<Limb>(m) + low;
    Limb q = static_cast<Limb>(m >> kLimbBits) + high + (p0 < low) + 1;
    Limb r = low - q * kNormal;
    // Taken about half the time: without a branch, which would be mispredicted as often.
    const Limb over = Limb{0} - static_cast<Limb>(r > p0);
    q += over;
    r += kNormal & over;
    if (r >= kNormal) [[unlikely]] {
        ++q;
        r -= kNormal;
    }
    remainder = r >> kShift;
    return q;
}

} // namespace base58

int32_t hex_value(uint32_t c) {
    c &= 0x7F;
    if (c >= '0' && c <= '9') return static_cast<int32_t>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<int32_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<int32_t>(c - 'a' + 10);
    return -1;
}

// Reads text units one by one, passing over ";" comments.
class TextReader {
public:
    TextReader(const uint8_t* text, uint32_t length, uint32_t unit)
        : text_(text), length_(length), unit_(unit) {}
    // The next character outside comments, or -1 at the end.
    int64_t next() {
        while (i_ < length_) {
            const uint32_t c = string::get_char(text_ + static_cast<uint64_t>(i_++) * unit_, unit_);
            if (c != ';') return c;
            while (i_ < length_ &&
                   string::get_char(text_ + static_cast<uint64_t>(i_) * unit_, unit_) != '\n')
                ++i_;
        }
        return -1;
    }

private:
    const uint8_t* text_;
    uint32_t length_, unit_, i_ = 0;
};

[[noreturn]] void no_memory() {
    error::fire(error::kInternal, error::internal::no_memory);
}

uint32_t index_of(const Cell* binary, const Buffer* b) {
    const auto index = static_cast<int32_t>(binary->w1);
    const uint32_t length = b->tail - b->head;
    return index < 0 ? 0 : std::min(static_cast<uint32_t>(index), length);
}

// The UTF-8 of a text value from its index. Never collects.
void append_utf8(const Cell* text, int32_t part, std::string& out) {
    uint32_t count = 0, unit = 0;
    const uint8_t* start = series::units_from_index(text, count, unit);
    if (part >= 0 && static_cast<uint32_t>(part) < count) count = static_cast<uint32_t>(part);
    const uint32_t size = unicode::utf8_size(start, start + count * unit, unit);
    const size_t at = out.size();
    out.resize(at + size);
    unicode::write_utf8(text, reinterpret_cast<uint8_t*>(out.data() + at),
                        static_cast<int32_t>(count), false);
}

void append_utf8_char(uint32_t cp, std::string& out) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// The bytes of a binary from its index.
std::string bytes_of(const Cell* binary) {
    return std::string(reinterpret_cast<const char*>(zs_head(binary)), zs_length(binary));
}

// The new bytes of append, insert and change: the value's bytes `dup` times (none for a count
// below 1, as a block takes it), the total checked against the largest size.
std::string repeated(const Cell* value, int32_t part, bool change, int32_t dup) {
    std::string one;
    const bool list = series::is_any_list(cell::type(value));
    value_bytes(value, list ? part : -1, change, one);
    if (!list && part >= 0 && static_cast<uint32_t>(part) < one.size())
        one.resize(static_cast<uint32_t>(part));
    const uint64_t count = dup < 1 ? 0 : static_cast<uint64_t>(dup);
    if (one.size() * count > kMaxBytes) no_memory();
    std::string all;
    all.reserve(one.size() * count);
    for (uint64_t i = 0; i < count; ++i) all += one;
    return all;
}

Cell* new_binary_from(const std::string& bytes) {
    return load(reinterpret_cast<const uint8_t*>(bytes.data()),
                static_cast<uint32_t>(bytes.size()));
}

// The bitwise operations: the result as long as the longer operand.
void bitwise(int32_t op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    if (cell::type(right) != kTypeBinary) compound::invalid_arg(right);
    std::string a = bytes_of(left), b = bytes_of(right);
    if (a.size() < b.size()) std::swap(a, b);
    for (size_t i = 0; i < a.size(); ++i) {
        const uint8_t y = i < b.size() ? static_cast<uint8_t>(b[i]) : 0;
        uint8_t& x = reinterpret_cast<uint8_t&>(a[i]);
        x = op == integer::kAnd ? x & y : op == integer::kOr ? x | y : x ^ y;
    }
    const Cell made = *new_binary_from(a);
    stack::set_last(made);
}

} // namespace

// --- Cells and constructors -----------------------------------------------------------------

Cell* make_at(Cell* cell, uint32_t capacity) {
    cell->header = kTypeUnset;
    const uint32_t node = memory::alloc_bytes(capacity ? capacity : 1);
    *cell = Cell{kTypeBinary, 0, node, 0};
    return cell;
}

Cell* push(const Cell* binary) {
    return stack::push(*binary);
}

Cell* load(const uint8_t* bytes, uint32_t length) {
    std::string copy(reinterpret_cast<const char*>(bytes), length); // before they can move
    Cell* result = make_at(stack::push_cell(), length);
    zs_splice(result, 0, 0, copy);
    return result;
}

Cell* box(const uint8_t* bytes, uint32_t length) {
    const Cell made = *load(bytes, length);
    stack::pop(1);
    stack::set_last(made);
    return stack::arguments;
}

Cell* load_in(const Cell* block, const uint8_t* bytes, uint32_t length) {
    Cell* made = load(bytes, length);
    Cell* result = block::append_copy(block, made);
    stack::pop(1);
    return result;
}

uint32_t zs_length(const Cell* binary) {
    Buffer* b = memory::buffer(binary->w2);
    return (b->tail - b->head) - index_of(binary, b);
}

uint8_t* zs_head(const Cell* binary) {
    Buffer* b = memory::buffer(binary->w2);
    return b->at_head() + index_of(binary, b);
}

uint8_t* zs_tail(const Cell* binary) {
    return memory::buffer(binary->w2)->at_tail();
}

bool zs_tail_q(const Cell* binary) {
    return zs_length(binary) == 0;
}

uint8_t zs_byte_at(const Cell* binary) {
    return zs_tail_q(binary) ? 0 : *zs_head(binary);
}

void zs_clear(const Cell* binary) {
    Buffer* b = memory::buffer(binary->w2);
    b->tail = b->head + index_of(binary, b);
}

bool zs_skip(Cell* binary, int32_t n) {
    Buffer* b = memory::buffer(binary->w2);
    const int64_t index = static_cast<int32_t>(binary->w1) + static_cast<int64_t>(n);
    if (index >= 0 && index <= static_cast<int64_t>(b->size - b->head))
        binary->w1 = static_cast<uint32_t>(index);
    return index >= static_cast<int64_t>(b->tail - b->head);
}

void zs_append(const Cell* binary, const uint8_t* bytes, uint32_t n) {
    Buffer* b = memory::buffer(binary->w2);
    zs_splice(binary, b->tail - b->head, 0, std::string(reinterpret_cast<const char*>(bytes), n));
}

void zs_insert(const Cell* binary, uint32_t offset, const uint8_t* bytes, uint32_t n) {
    const uint32_t at = index_of(binary, memory::buffer(binary->w2)) + offset;
    zs_splice(binary, at, 0, std::string(reinterpret_cast<const char*>(bytes), n));
}

void zs_write_at(const Cell* binary, uint32_t offset, const uint8_t* bytes, uint32_t n) {
    const uint32_t at = index_of(binary, memory::buffer(binary->w2)) + offset;
    std::string copy(reinterpret_cast<const char*>(bytes), n);
    Buffer* b = memory::buffer(binary->w2);
    const uint32_t length = b->tail - b->head;
    if (at > length) zs_splice(binary, length, 0, std::string(at - length, '\0'));
    zs_splice(binary, at, n, copy);
}

void zs_append_int32(const Cell* binary, int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    const uint8_t bytes[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                              static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    zs_append(binary, bytes, 4);
}

void zs_splice(const Cell* binary, uint32_t at, uint32_t remove, const std::string& bytes) {
    Buffer* b = memory::buffer(binary->w2);
    const uint32_t length = b->tail - b->head;
    at = std::min(at, length);
    remove = std::min(remove, length - at);
    const uint64_t new_length = static_cast<uint64_t>(length) - remove + bytes.size();
    if (new_length > kMaxBytes) no_memory();
    if (b->head + new_length > b->size) {
        const uint64_t size = std::min<uint64_t>(new_length * 2 + 16, kMaxBytes + 16);
        b = memory::expand_series_to(b, static_cast<uint32_t>(size));
    }
    uint8_t* head = b->at_head();
    std::memmove(head + at + bytes.size(), head + at + remove, length - at - remove);
    std::memcpy(head + at, bytes.data(), bytes.size());
    b->tail = b->head + static_cast<uint32_t>(new_length);
}

void poke_byte(uint8_t* at, const Cell* value) {
    if (cell::type(value) != kTypeInteger && cell::type(value) != kTypeChar)
        compound::invalid_arg(value);
    *at = static_cast<uint8_t>(value->w2);
}

void value_bytes(const Cell* value, int32_t part, bool change, std::string& out) {
    const uint8_t type = cell::type(value);
    switch (type) {
    case kTypeChar:
        append_utf8_char(value->w2, out);
        return;
    case kTypeInteger: {
        const int32_t n = integer::get(value);
        if (n < -128 || n > 255) compound::invalid_arg(value);
        out += static_cast<char>(n);
        return;
    }
    case kTypeBinary:
        out += bytes_of(value);
        return;
    case kTypeTuple:
        out.append(reinterpret_cast<const char*>(tuple::bytes(value)), tuple::length(value));
        return;
    default:
        break;
    }
    if (series::is_any_string(type)) return append_utf8(value, -1, out);
    if (series::is_any_list(type)) {
        int32_t count = block::length_from_index(value);
        if (part >= 0 && part < count) count = part;
        for (int32_t i = 0; i < count; ++i) {
            // Re-read through the node at each value: forming may move the buffer.
            const Cell element = *block::cell_at(value, series::clamped_index(value) + i);
            GcRoot held(element);
            value_bytes(&held.cell(), -1, change, out);
        }
        return;
    }
    if (!change) compound::bad_to_arg(kTypeBinary, value);
    Cell* text = string::make_at(stack::push_cell(), 16);
    Cell* copy = stack::push(*value);
    actions::form(copy, text, nullptr, form_mold::kNoLimit);
    append_utf8(text, -1, out);
    stack::pop(2);
}

int32_t compare_bytes(const Cell* binary, const Cell* other, int32_t op, bool prefix) {
    const uint8_t ot = cell::type(other);
    if (ot != kTypeBinary && !series::is_any_string(ot)) return action::kNotComparable;
    const bool equality = op == action::op::equal || op == action::op::not_equal ||
                          op == action::op::strict_equal || op == action::op::find;
    const bool same_place = binary->w2 == other->w2 && binary->w1 == other->w1;
    if (op == action::op::same) return same_place ? 0 : 1;
    if (same_place && equality) return 0;
    std::string theirs;
    if (ot == kTypeBinary)
        theirs = bytes_of(other);
    else
        append_utf8(other, -1, theirs);
    const uint8_t* a = zs_head(binary);
    const uint32_t na = zs_length(binary);
    const auto* b = reinterpret_cast<const uint8_t*>(theirs.data());
    const auto nb = static_cast<uint32_t>(theirs.size());
    if (prefix) {
        if (nb > na) return -1;
        const int r = std::memcmp(a, b, nb);
        return r == 0 ? 0 : r < 0 ? -1 : 1;
    }
    if (equality && na != nb) return 1;
    const int r = std::memcmp(a, b, std::min(na, nb));
    if (r != 0) return r < 0 ? -1 : 1;
    return (na > nb) - (na < nb);
}

bool byte_in_bitset(const Cell* binary, const Cell* bitset) {
    // The byte is a code point 0-FF of a 1-byte text.
    return string::char_in_bitset(binary, bitset);
}

bool string_like(const Cell* binary, const Cell* value) {
    if (cell::type(value) == kTypeChar)
        return !zs_tail_q(binary) && zs_byte_at(binary) == value->w2;
    return compare_bytes(binary, value, action::op::equal, true) == 0;
}

// --- Base-N codecs --------------------------------------------------------------------------

uint32_t encode_base2(const uint8_t* bytes, uint32_t length, char* out) {
    for (uint32_t i = 0; i < length; ++i)
        for (int bit = 7; bit >= 0; --bit) *out++ = (bytes[i] >> bit & 1) ? '1' : '0';
    return length * 8;
}

uint32_t encode_base16(const uint8_t* bytes, uint32_t length, char* out) {
    static const char digits[] = "0123456789ABCDEF";
    for (uint32_t i = 0; i < length; ++i) {
        *out++ = digits[bytes[i] >> 4];
        *out++ = digits[bytes[i] & 15];
    }
    return length * 2;
}

uint32_t encode_base64(const uint8_t* bytes, uint32_t length, char* out) {
    char* start = out;
    uint32_t i = 0;
    for (; i + 3 <= length; i += 3) {
        const uint32_t v = bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) *out++ = kBase64[v >> shift & 63];
    }
    if (i < length) {
        const uint32_t v = bytes[i] << 16 | (i + 1 < length ? bytes[i + 1] << 8 : 0);
        *out++ = kBase64[v >> 18 & 63];
        *out++ = kBase64[v >> 12 & 63];
        *out++ = i + 1 < length ? kBase64[v >> 6 & 63] : '=';
        *out++ = '=';
    }
    return static_cast<uint32_t>(out - start);
}

uint32_t encode_base58(const uint8_t* bytes, uint32_t length, char* out) {
    using namespace base58;
    uint32_t zeros = 0;
    while (zeros < length && bytes[zeros] == 0) ++zeros;
    // The other bytes as one big-endian number in limbs, the first limb taking what is left
    // over from whole limbs.
    const uint32_t rest = length - zeros;
    std::vector<Limb> number((rest + sizeof(Limb) - 1) / sizeof(Limb), 0);
    for (uint32_t i = 0; i < rest; ++i) {
        const uint32_t from_end = rest - 1 - i;
        number[number.size() - 1 - from_end / sizeof(Limb)] |= Limb{bytes[zeros + i]}
                                                               << (8 * (from_end % sizeof(Limb)));
    }
    // Each pass divides the number by 58^k four times over, one remainder per division,
    // interleaved word by word: the quotient words of one division feed the next as they
    // come, and the four chains of dependent steps overlap in the processor. The remainders
    // are the digit groups from the least significant end.
    std::vector<uint8_t> digits; // least significant first
    digits.reserve(static_cast<size_t>(rest) * 138 / 100 + 4 * kDigitsPerLimb);
    size_t first = 0;
    while (first < number.size()) {
        Limb r0 = 0, r1 = 0, r2 = 0, r3 = 0;
        for (size_t i = first; i < number.size(); ++i)
            number[i] =
                divide_step(r3, divide_step(r2, divide_step(r1, divide_step(r0, number[i]))));
        for (Limb r : {r0, r1, r2, r3})
            for (int d = 0; d < kDigitsPerLimb; ++d, r /= 58) digits.push_back(r % 58);
        while (first < number.size() && number[first] == 0) ++first;
    }
    while (!digits.empty() && digits.back() == 0) digits.pop_back();
    char* start = out;
    for (uint32_t i = 0; i < zeros; ++i) *out++ = '1';
    for (auto d = digits.rbegin(); d != digits.rend(); ++d) *out++ = kBase58[*d];
    return static_cast<uint32_t>(out - start);
}

Cell* decode_base2(const uint8_t* text, uint32_t length, uint32_t unit) {
    TextReader reader(text, length, unit);
    std::string out;
    uint32_t bits = 0, count = 0;
    for (int64_t c; (c = reader.next()) >= 0;) {
        if (c <= ' ') continue;
        if (c != '0' && c != '1') return nullptr;
        bits = bits << 1 | static_cast<uint32_t>(c - '0');
        if (++count == 8) {
            out += static_cast<char>(bits);
            bits = count = 0;
        }
    }
    if (count != 0) return nullptr;
    return new_binary_from(out);
}

Cell* decode_base16(const uint8_t* text, uint32_t length, uint32_t unit) {
    TextReader reader(text, length, unit);
    std::string out;
    int32_t high = -1;
    for (int64_t c; (c = reader.next()) >= 0;) {
        if (c <= ' ') continue;
        const int32_t d = hex_value(static_cast<uint32_t>(c));
        if (d < 0) return nullptr;
        if (high < 0) {
            high = d;
        } else {
            out += static_cast<char>(high << 4 | d);
            high = -1;
        }
    }
    return new_binary_from(out); // a single digit left at the end is dropped
}

Cell* decode_base64(const uint8_t* text, uint32_t length, uint32_t unit) {
    TextReader reader(text, length, unit);
    std::string out;
    uint32_t group = 0, count = 0;
    for (int64_t c; (c = reader.next()) >= 0;) {
        if (c > 127) break;
        if (c == '=') {
            if (count == 2) {
                out += static_cast<char>(group >> 4);
            } else if (count == 3) {
                out += static_cast<char>(group >> 10);
                out += static_cast<char>(group >> 2);
            } else {
                return nullptr;
            }
            count = 0;
            break;
        }
        const uint8_t v = base64_table.values[c];
        if (v == kSkip) continue;
        if (v == kInvalid) return nullptr;
        group = group << 6 | v;
        if (++count == 4) {
            out += static_cast<char>(group >> 16);
            out += static_cast<char>(group >> 8);
            out += static_cast<char>(group);
            group = count = 0;
        }
    }
    return new_binary_from(out); // an unfinished group without "=" is dropped
}

Cell* decode_base58(const uint8_t* text, uint32_t length, uint32_t unit) {
    using namespace base58;
    TextReader reader(text, length, unit);
    uint32_t zeros = 0;
    bool leading = true;
    // The value of the other digits in limbs, least significant first: every kDigitsPerLimb
    // digits multiply it by 58^k and add their group's value.
    std::vector<Limb> number;
    Limb group = 0, scale = 1;
    auto add_group = [&] {
        Limb carry = group;
        for (Limb& l : number) {
            const Wide t = Wide{l} * scale + carry;
            l = static_cast<Limb>(t);
            carry = static_cast<Limb>(t >> kLimbBits);
        }
        if (carry) number.push_back(carry);
        group = 0;
        scale = 1;
    };
    for (int64_t c; (c = reader.next()) >= 0;) {
        if (c > 127) break;
        const uint8_t v = base58_table.values[c];
        if (v == kSkip) continue;
        if (v == kInvalid) return nullptr;
        if (leading && v == 0) {
            ++zeros;
            continue;
        }
        leading = false;
        group = group * 58 + v;
        scale *= 58;
        if (scale == kPower) add_group();
    }
    if (scale != 1) add_group();
    std::string out(zeros, '\0');
    out.reserve(zeros + number.size() * sizeof(Limb));
    bool significant = false;
    for (auto l = number.rbegin(); l != number.rend(); ++l)
        for (int shift = kLimbBits - 8; shift >= 0; shift -= 8) {
            const auto byte = static_cast<char>(*l >> shift);
            significant = significant || byte != 0;
            if (significant) out += byte;
        }
    return new_binary_from(out);
}

// --- Slot functions -------------------------------------------------------------------------

Cell* to(Cell*, Cell* spec, int32_t) {
    const uint8_t st = cell::type(spec);
    std::string out;
    switch (st) {
    case kTypeChar:
        append_utf8_char(spec->w2, out);
        break;
    case kTypeInteger:
        for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(spec->w2 >> shift);
        break;
    case kTypeFloat:
    case kTypePercent: {
        uint64_t bits;
        const double d = float_::get(spec);
        std::memcpy(&bits, &d, sizeof bits);
        for (int shift = 56; shift >= 0; shift -= 8) out += static_cast<char>(bits >> shift);
        break;
    }
    case kTypeIssue: {
        const std::string_view text = symbol::text(spec->w2);
        const Cell* decoded = decode_base16(reinterpret_cast<const uint8_t*>(text.data()),
                                            static_cast<uint32_t>(text.size()), 1);
        if (!decoded) error::fire(error::kScript, error::script::invalid_data, {spec});
        return stack::top_value();
    }
    case kTypeBitset: {
        Buffer* b = memory::buffer(spec->w2);
        out.assign(reinterpret_cast<const char*>(b->at_head()), b->tail - b->head);
        break;
    }
    case kTypeTuple:
    case kTypeBinary:
        value_bytes(spec, -1, false, out);
        break;
    case kTypeImage: // the pixel words as stored, from the top-left
        return image::to_binary(spec, image::kArgb);
    default:
        if (series::is_any_string(st) || series::is_any_list(st)) {
            value_bytes(spec, -1, false, out);
            break;
        }
        compound::bad_to_arg(kTypeBinary, spec);
    }
    return new_binary_from(out);
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent) {
    if (!options.only) {
        string::concatenate_cstring(string, "#{");
        limit -= 2;
    }
    const std::string bytes = bytes_of(value);
    const auto n = static_cast<uint32_t>(bytes.size());
    const bool lines = !options.flat && n > 30;
    if (lines) {
        string::concatenate_cstring(string, "\n");
        limit = mold::indent(string, indent + 1, limit - 1);
    }
    for (uint32_t i = 0; i < n && limit > 0; ++i) {
        string::concatenate_cstring(string, string::byte_to_hex(static_cast<uint8_t>(bytes[i])));
        limit -= 2;
        if (lines && (i + 1) % 32 == 0) {
            string::concatenate_cstring(string, "\n");
            limit = mold::indent(string, i + 1 == n ? indent : indent + 1, limit - 1);
        }
    }
    if (lines && n % 32 != 0) {
        string::concatenate_cstring(string, "\n");
        limit = mold::indent(string, indent, limit - 1);
    }
    if (!options.only) {
        string::concatenate_cstring(string, "}");
        limit -= 1;
    }
    return limit;
}

int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit) {
    return mold(value, string, {.part = part}, limit, 0);
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    return compare_bytes(value, other, op, false);
}

void and_() {
    bitwise(integer::kAnd);
}

void or_() {
    bitwise(integer::kOr);
}

void xor_() {
    bitwise(integer::kXor);
}

Cell* complement(Cell* value) {
    uint8_t* b = zs_head(value);
    for (uint32_t i = 0, n = zs_length(value); i < n; ++i) b[i] = static_cast<uint8_t>(~b[i]);
    return value;
}

Cell* insert(Cell* series, Cell* value, const action::InsertOptions& options) {
    const std::string bytes = repeated(value, options.part, false, options.dup);
    series::notify(series, options.append ? Action::append : Action::insert, value,
                   static_cast<int32_t>(series::clamped_index(series)), 0);
    Buffer* b = memory::buffer(series->w2);
    const uint32_t at = options.append ? b->tail - b->head : index_of(series, b);
    zs_splice(series, at, 0, bytes);
    series::notify(series, options.append ? Action::appended : Action::inserted, value,
                   static_cast<int32_t>(at), static_cast<int32_t>(bytes.size()));
    if (!options.append)
        series->w1 = at + static_cast<uint32_t>(bytes.size());
    else
        series->w1 = 0;
    return series;
}

Cell* change(Cell* series, Cell* value, const action::ChangeOptions& options) {
    // /part counts the bytes replaced, not the bytes of the value.
    const std::string bytes = repeated(value, -1, true, options.dup);
    const uint32_t replaced = options.part >= 0 ? static_cast<uint32_t>(options.part)
                                                : static_cast<uint32_t>(bytes.size());
    series::notify(series, Action::change, value,
                   static_cast<int32_t>(series::clamped_index(series)), 0);
    const uint32_t at = index_of(series, memory::buffer(series->w2));
    zs_splice(series, at, replaced, bytes);
    series::notify(series, Action::changed, value, static_cast<int32_t>(at),
                   static_cast<int32_t>(bytes.size()));
    series->w1 = at + static_cast<uint32_t>(bytes.size());
    return series;
}

Cell* trim(Cell* series, const action::TrimOptions& options) {
    Cell* const with = options.with;
    if (options.auto_ || options.lines) compound::not_done();
    std::string set(1, '\0');
    if (with) {
        set.clear();
        value_bytes(with, -1, true, set);
    }
    series::notify(series, Action::trim, nullptr,
                   static_cast<int32_t>(series::clamped_index(series)), 0);
    const uint32_t at = index_of(series, memory::buffer(series->w2));
    std::string bytes = bytes_of(series);
    const auto in_set = [&](char c) { return set.find(c) != std::string::npos; };
    if (options.all || with) {
        bytes.erase(std::remove_if(bytes.begin(), bytes.end(), in_set), bytes.end());
    } else {
        const bool both = !options.head && !options.tail;
        if (options.tail || both)
            while (!bytes.empty() && bytes.back() == '\0') bytes.pop_back();
        if (options.head || both) {
            size_t first = 0;
            while (first < bytes.size() && bytes[first] == '\0') ++first;
            bytes.erase(0, first);
        }
    }
    zs_splice(series, at, zs_length(series), bytes);
    series::notify(series, Action::trimmed, nullptr, static_cast<int32_t>(at), 0);
    return series;
}

void register_actions() {
    namespace s = action::slot;
    action::Row row;
    row.set<s::to>(to)
        .set<s::form>(form)
        .set<s::mold>(mold)
        .set<s::compare>(compare)
        .set<s::and_>(and_)
        .set<s::or_>(or_)
        .set<s::xor_>(xor_)
        .set<s::complement>(complement)
        .set<s::append>(insert)
        .set<s::insert>(insert)
        .set<s::change>(change)
        .set<s::trim>(trim)
        .inherit({s::make, s::random, s::reflect, s::eval_path, s::at,      s::back,     s::clear,
                  s::copy, s::find,   s::head,    s::head_q,    s::index_q, s::length_q, s::move,
                  s::next, s::pick,   s::poke,    s::remove,    s::reverse, s::select,   s::sort,
                  s::skip, s::swap,   s::tail,    s::tail_q,    s::take,    s::modify});
    datatype::register_({kTypeBinary, kTypeString, "binary!", row.entries()});
}

} // namespace binary
