#include "loading/compress.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

#include "datatypes/symbol.h"
#include "runtime-core/crypto.h"

static_assert(std::endian::native == std::endian::little,
              "the bit reader loads words little-endian");

namespace compress {

MethodSymbols symbol{};

void init() {
    symbol.zlib = symbol::resolve(symbol::make("zlib"));
    symbol.deflate = symbol::resolve(symbol::make("deflate"));
    symbol.gzip = symbol::resolve(symbol::make("gzip"));
}

namespace {

// --- The code tables of the format ----------------------------------------------------------

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                      15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                      67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistanceBase[30] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                          11, 4,  12, 3, 13, 2, 14, 1, 15};

uint32_t read_le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24);
}
uint32_t read_be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

// --- Encoder ----------------------------------------------------------------------------------

struct Reversal {
    uint8_t byte[256];
    constexpr Reversal() : byte{} {
        for (int i = 0; i < 256; ++i) {
            int r = 0;
            for (int k = 0; k < 8; ++k)
                if (i & (1 << k)) r |= 0x80 >> k;
            byte[i] = static_cast<uint8_t>(r);
        }
    }
};
constexpr Reversal kReversal;

// Huffman codes go out most significant bit first: reversed for the LSB-first writer.
uint32_t reversed(uint32_t code, int bits) {
    const uint32_t r = (uint32_t(kReversal.byte[code & 0xFF]) << 8) | kReversal.byte[code >> 8];
    return r >> (16 - bits);
}

// Bits leave least significant first; bytes are written only below the capacity, counted
// always.
struct BitWriter {
    uint8_t* out;
    uint64_t capacity;
    uint64_t count = 0;
    uint32_t bits = 0;
    int held = 0;

    void byte(uint8_t b) {
        if (count < capacity) out[count] = b;
        ++count;
    }
    void put(uint32_t value, int n) {
        bits |= value << held;
        held += n;
        while (held >= 8) {
            byte(static_cast<uint8_t>(bits));
            bits >>= 8;
            held -= 8;
        }
    }
    void flush() {
        if (held > 0) byte(static_cast<uint8_t>(bits));
        bits = 0;
        held = 0;
    }
    // A literal/length symbol in the fixed code.
    void symbol(uint32_t s) {
        if (s < 144)
            put(reversed(0x30 + s, 8), 8);
        else if (s < 256)
            put(reversed(0x190 + s - 144, 9), 9);
        else if (s < 280)
            put(reversed(s - 256, 7), 7);
        else
            put(reversed(0xC0 + s - 280, 8), 8);
    }
    void match(uint32_t length, uint32_t distance) {
        int code = 28;
        while (kLengthBase[code] > length) --code;
        symbol(257 + code);
        put(length - kLengthBase[code], kLengthExtra[code]);
        code = 29;
        while (kDistanceBase[code] > distance) --code;
        put(reversed(code, 5), 5);
        put(distance - kDistanceBase[code], kDistanceExtra[code]);
    }
};

uint32_t three(const uint8_t* p) {
    return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
}

uint32_t bucket_of(const uint8_t* p) {
    uint32_t x = three(p);
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x % 1024;
}

// --- Decoder ----------------------------------------------------------------------------------

// Reads bits least significant first, 64 at a time while 8 input bytes remain. Past the end
// it supplies zero bits and counts them, so a code that runs past the input shows as
// `overrun`.
struct BitReader {
    const uint8_t* in;
    uint32_t length;
    uint32_t pos = 0;
    uint64_t bits = 0;
    uint32_t held = 0; // bits in `bits`, the zero bits past the end included
    uint32_t past = 0; // zero bits supplied past the end

    // At least 56 bits held afterwards.
    void refill() {
        if (length - pos >= 8) {
            uint64_t word;
            std::memcpy(&word, in + pos, 8);
            bits |= word << held;
            pos += (63 - held) >> 3;
            held |= 56;
            return;
        }
        while (held <= 56) {
            if (pos < length)
                bits |= uint64_t(in[pos++]) << held;
            else
                past += 8;
            held += 8;
        }
    }
    uint32_t take(uint32_t n) {
        const auto value = static_cast<uint32_t>(bits & ((uint64_t(1) << n) - 1));
        bits >>= n;
        held -= n;
        return value;
    }
    bool overrun() const { return past > held; }
    bool input_left() const { return pos < length || held > past; }
    // The input bytes used so far, the partly used last byte included: where whatever
    // follows a stream's final block begins.
    uint32_t used() const { return pos - (held > past ? (held - past) / 8 : 0); }
    // Drops the bits up to the next byte boundary and gives the whole bytes held back to the
    // input, for a stored block's raw bytes.
    void align() {
        const uint32_t real = held - past;
        take(real % 8);
        pos -= (real - real % 8) / 8;
        bits = 0;
        held = 0;
        past = 0;
    }
};

// A canonical Huffman code: a table of 2^10 entries indexed by the next 10 bits, and for
// codes longer than 10 bits, 32-entry subtables indexed by the 5 bits after those. An entry
// holds the symbol (bits 0-15) and the code length (bits 16-23; 0: no code has these bits),
// or with bit 31 set the offset of its subtable.
constexpr uint32_t kPrimaryBits = 10;
constexpr uint32_t kSubtable = 1u << 31;

template <uint32_t Symbols> struct Code {
    uint32_t entry[(1u << kPrimaryBits) + Symbols * 32];

    // Builds the code from the code lengths; answers false for a code that is over-subscribed
    // or incomplete. An incomplete code is accepted when it is a single one-bit code or empty,
    // as encoders write for a block that uses one distance or none (`single_ok`).
    bool build(const uint8_t* lengths, uint32_t count, bool single_ok) {
        uint32_t per_length[16] = {};
        for (uint32_t s = 0; s < count; ++s) ++per_length[lengths[s]];
        per_length[0] = 0;
        int32_t left = 1;
        uint32_t longest = 0;
        for (uint32_t l = 1; l < 16; ++l) {
            left = left * 2 - static_cast<int32_t>(per_length[l]);
            if (left < 0) return false;
            if (per_length[l]) longest = l;
        }
        if (left > 0 && !(single_ok && longest <= 1)) return false;
        uint32_t next[16];
        uint32_t code = 0;
        for (uint32_t l = 1; l < 16; ++l) {
            code = (code + per_length[l - 1]) << 1;
            next[l] = code;
        }
        std::memset(entry, 0, sizeof(uint32_t) << kPrimaryBits);
        uint32_t used = 0;
        for (uint32_t s = 0; s < count; ++s) {
            const uint32_t l = lengths[s];
            if (!l) continue;
            const uint32_t r = reversed(next[l]++, static_cast<int>(l));
            const uint32_t value = s | (l << 16);
            if (l <= kPrimaryBits) {
                for (uint32_t k = r; k < (1u << kPrimaryBits); k += 1u << l) entry[k] = value;
                continue;
            }
            uint32_t& head = entry[r & ((1u << kPrimaryBits) - 1)];
            if (!(head & kSubtable)) {
                head = kSubtable | used;
                std::memset(entry + (1u << kPrimaryBits) + used, 0, 32 * sizeof(uint32_t));
                used += 32;
            }
            uint32_t* sub = entry + (1u << kPrimaryBits) + (head & 0xFFFF);
            for (uint32_t k = r >> kPrimaryBits; k < 32; k += 1u << (l - kPrimaryBits))
                sub[k] = value;
        }
        return true;
    }

    // The entry of the code at the low end of the bits (length 0 when none).
    uint32_t lookup(uint64_t bits) const {
        uint32_t e = entry[bits & ((1u << kPrimaryBits) - 1)];
        if (e & kSubtable)
            e = entry[(1u << kPrimaryBits) + (e & 0xFFFF) + ((bits >> kPrimaryBits) & 31)];
        return e;
    }
};

struct Tables {
    Code<288> literal;
    Code<32> distance;
};

const Tables& fixed_tables() {
    static const Tables* tables = [] {
        static Tables t;
        uint8_t lengths[288];
        for (int s = 0; s < 288; ++s) lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
        t.literal.build(lengths, 288, false);
        for (int s = 0; s < 32; ++s) lengths[s] = 5;
        t.distance.build(lengths, 32, false);
        return &t;
    }();
    return *tables;
}

// Output into a flat buffer: bytes below the capacity are written, the rest only counted.
struct FlatOutput {
    uint8_t* out;
    uint64_t capacity;
    uint64_t count = 0;

    void literal(uint8_t b) {
        if (count < capacity) out[count] = b;
        ++count;
    }
    bool copy(uint32_t distance, uint32_t length) {
        if (distance > count) return false;
        if (count + length + 8 <= capacity) {
            uint8_t* to = out + count;
            const uint8_t* from = to - distance;
            if (distance >= 8) {
                for (uint32_t i = 0; i < length; i += 8) std::memcpy(to + i, from + i, 8);
            } else if (distance == 1) {
                std::memset(to, *from, length);
            } else {
                for (uint32_t i = 0; i < length; ++i) to[i] = from[i];
            }
        } else {
            for (uint64_t end = count + length, i = count; i < end && i < capacity; ++i)
                out[i] = out[i - distance];
        }
        count += length;
        return true;
    }
    void stored(const uint8_t* bytes, uint32_t length) {
        if (count < capacity) {
            const uint64_t room = capacity - count;
            std::memcpy(out + count, bytes, room < length ? room : length);
        }
        count += length;
    }
};

// Output kept only as its CRC-32 and size, through the last 32 KB the distances can reach:
// checks a stream without holding all of it.
struct CheckOutput {
    static constexpr uint32_t kWindow = 32768;
    uint8_t window[kWindow];
    uint64_t count = 0;
    uint32_t crc = 0;

    void literal(uint8_t b) {
        window[count % kWindow] = b;
        if (++count % kWindow == 0) crc = crypto::crc32(window, kWindow, crc);
    }
    bool copy(uint32_t distance, uint32_t length) {
        if (distance > count) return false;
        for (uint32_t i = 0; i < length; ++i) literal(window[(count - distance) % kWindow]);
        return true;
    }
    void stored(const uint8_t* bytes, uint32_t length) {
        for (uint32_t i = 0; i < length; ++i) literal(bytes[i]);
    }
    uint32_t final_crc() const { return crypto::crc32(window, count % kWindow, crc); }
};

// Decodes one block of Huffman codes up to its end-of-block code.
template <class Output>
int32_t decode_codes(Output& out, BitReader& in, const Code<288>& literal,
                     const Code<32>& distance) {
    for (;;) {
        in.refill(); // 56 bits: a length code with its extra bits and a distance with its own
        uint32_t e = literal.lookup(in.bits);
        uint32_t bits = (e >> 16) & 0xFF;
        if (!bits) return kInvalid;
        in.take(bits);
        const uint32_t s = e & 0xFFFF;
        if (s < 256) {
            if (in.overrun()) return kInvalid;
            out.literal(static_cast<uint8_t>(s));
            continue;
        }
        if (s == 256) break;
        if (s > 285) return kInvalid;
        const uint32_t length = kLengthBase[s - 257] + in.take(kLengthExtra[s - 257]);
        e = distance.lookup(in.bits);
        bits = (e >> 16) & 0xFF;
        if (!bits) return kInvalid;
        in.take(bits);
        const uint32_t d = e & 0xFFFF;
        if (d > 29) return kInvalid;
        const uint32_t dist = kDistanceBase[d] + in.take(kDistanceExtra[d]);
        if (in.overrun()) return kInvalid;
        if (!out.copy(dist, length)) return kDistanceTooFar;
    }
    return in.overrun() ? kInvalid : kDone;
}

// Reads the code lengths of a dynamic block and builds its two codes.
int32_t read_dynamic(BitReader& in, Tables& t) {
    in.refill();
    const uint32_t literals = in.take(5) + 257;
    const uint32_t distances = in.take(5) + 1;
    const uint32_t lengths_codes = in.take(4) + 4;
    if (literals > 286 || distances > 30) return kInvalid;
    uint8_t lengths[320] = {};
    in.refill();
    for (uint32_t i = 0; i < lengths_codes; ++i) {
        if (i == 10) in.refill();
        lengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(in.take(3));
    }
    Code<19> code_lengths;
    if (in.overrun() || !code_lengths.build(lengths, 19, false)) return kInvalid;
    const uint32_t total = literals + distances;
    for (uint32_t n = 0; n < total;) {
        in.refill();
        const uint32_t e = code_lengths.lookup(in.bits);
        const uint32_t bits = (e >> 16) & 0xFF;
        if (!bits) return kInvalid;
        in.take(bits);
        const uint32_t s = e & 0xFFFF;
        if (s < 16) {
            lengths[n++] = static_cast<uint8_t>(s);
            continue;
        }
        uint32_t repeat;
        uint8_t value = 0;
        if (s == 16) {
            if (n == 0) return kInvalid;
            value = lengths[n - 1];
            repeat = 3 + in.take(2);
        } else if (s == 17) {
            repeat = 3 + in.take(3);
        } else {
            repeat = 11 + in.take(7);
        }
        if (n + repeat > total) return kInvalid;
        std::memset(lengths + n, value, repeat);
        n += repeat;
    }
    if (in.overrun() || lengths[256] == 0) return kInvalid;
    if (!t.literal.build(lengths, literals, true) ||
        !t.distance.build(lengths + literals, distances, true))
        return kInvalid;
    return kDone;
}

template <class Output> int32_t run_inflate(Output& out, BitReader& in) {
    Tables dynamic;
    while (in.input_left()) {
        in.refill();
        const uint32_t final = in.take(1);
        const uint32_t type = in.take(2);
        if (in.overrun()) return kInvalid;
        int32_t status;
        if (type == 0) {
            in.align();
            if (in.length - in.pos < 4) return kStoredPastEnd;
            const uint32_t length = in.in[in.pos] | (in.in[in.pos + 1] << 8);
            in.pos += 4; // the one's complement of the length is not checked
            if (in.length - in.pos < length) return kStoredPastEnd;
            out.stored(in.in + in.pos, length);
            in.pos += length;
            status = kDone;
        } else if (type == 1) {
            const Tables& fixed = fixed_tables();
            status = decode_codes(out, in, fixed.literal, fixed.distance);
        } else if (type == 2) {
            status = read_dynamic(in, dynamic);
            if (status == kDone) status = decode_codes(out, in, dynamic.literal, dynamic.distance);
        } else {
            return kBadBlockType;
        }
        if (status != kDone) return status;
        if (final) break;
    }
    return kDone;
}

// The offset of the deflate data after a valid gzip header, 0 when the header is invalid.
uint32_t gzip_header(const uint8_t* in, uint32_t length) {
    if (length < 18 || in[0] != 0x1F || in[1] != 0x8B || in[2] != 8 || (in[3] & 0xE0)) return 0;
    const uint8_t flags = in[3];
    const uint64_t end = length - 8; // the trailer
    uint64_t p = 10;
    if (flags & 4) { // FEXTRA
        if (p + 2 > end) return 0;
        p += 2 + (in[p] | (in[p + 1] << 8));
        if (p > end) return 0;
    }
    for (const uint8_t flag : {8, 16}) { // FNAME, FCOMMENT
        if (!(flags & flag)) continue;
        while (p < end && in[p]) ++p;
        if (p >= end) return 0;
        ++p;
    }
    if (flags & 2) { // FHCRC
        if (p + 2 > end) return 0;
        const uint32_t stored = in[p] | (in[p + 1] << 8);
        if (stored != (crypto::crc32(in, p) & 0xFFFF)) return 0;
        p += 2;
    }
    return static_cast<uint32_t>(p);
}

// Decodes the members of gzip data one after another (RFC 1952 lets a file hold several,
// whose outputs are concatenated). Each member is a deflate stream of its own, which cannot
// reach back into the output of the one before; its trailer follows its final block, and
// the next member or the end of the data follows the trailer. `Members` gives each member an
// output (`inflate`) and checks it against the trailer's CRC-32 and size (`matches`).
template <class Members> int32_t each_member(Members& members, const uint8_t* in, uint32_t length) {
    uint32_t at = 0;
    do {
        const uint8_t* member = in + at;
        const uint32_t left = length - at;
        const uint32_t start = gzip_header(member, left);
        if (!start) return kInvalid;
        BitReader bits{member + start, left - start - 8};
        const int32_t status = members.inflate(bits);
        if (status != kDone) return status;
        const uint8_t* trailer = member + start + bits.used();
        if (!members.matches(read_le32(trailer), read_le32(trailer + 4))) return kInvalid;
        at = static_cast<uint32_t>(trailer + 8 - in);
    } while (at < length);
    return kDone;
}

// Members decoded into one flat buffer, end to end; a member's CRC-32 is checked when all of
// its output fitted (else the whole is too small anyway).
struct FlatMembers {
    uint8_t* out;
    uint64_t capacity;
    uint64_t total = 0;
    FlatOutput current{nullptr, 0};

    int32_t inflate(BitReader& bits) {
        current = FlatOutput{out ? out + std::min(total, capacity) : nullptr,
                             total < capacity ? capacity - total : 0};
        return run_inflate(current, bits);
    }
    // The size field must be the size produced: a false claim buys nothing.
    bool matches(uint32_t crc, uint32_t size) {
        if (current.count != size) return false;
        if (current.count <= current.capacity && crypto::crc32(current.out, current.count) != crc)
            return false;
        total += current.count;
        return true;
    }
};

// Members only checked, each through a window of its own.
struct CheckedMembers {
    std::unique_ptr<CheckOutput> current = std::make_unique_for_overwrite<CheckOutput>();

    int32_t inflate(BitReader& bits) {
        current->count = 0;
        current->crc = 0;
        return run_inflate(*current, bits);
    }
    bool matches(uint32_t crc, uint32_t size) {
        return current->count == size && current->final_crc() == crc;
    }
};

// Whether the input is whole gzip data: every member decodes and matches its trailer.
bool whole_gzip(const uint8_t* in, uint32_t length) {
    CheckedMembers members;
    return each_member(members, in, length) == kDone;
}

} // namespace

int32_t deflate(uint8_t* out, uint64_t* size, const uint8_t* in, uint32_t length) {
    BitWriter w{out, out ? *size : 0};
    w.put(1, 1); // BFINAL
    w.put(1, 2); // BTYPE 1: fixed codes
    uint32_t cache[1024 * 4] = {};
    for (uint32_t p = 0; p < length;) {
        const bool hashed = length - p >= 3;
        const uint32_t bucket = hashed ? bucket_of(in + p) : 0;
        uint32_t match = 0, distance = 0;
        if (p >= 3 && hashed) {
            for (uint32_t s = 0; s < 4; ++s) {
                const uint32_t c = cache[bucket * 4 + s];
                if (c < p && p - c < 32768 && three(in + c) == three(in + p)) {
                    distance = p - c;
                    match = 3;
                    while (p + match < length && match < 258 && in[c + match] == in[p + match])
                        ++match;
                    break;
                }
            }
        }
        if (match)
            w.match(match, distance);
        else
            w.symbol(in[p]);
        const uint32_t next = p + (match ? match : 1);
        // The slot comes from the bytes after the token; with fewer than three left there,
        // nothing is stored (no later position could use it).
        if (hashed && length - next >= 3) {
            const uint32_t y = three(in + next);
            cache[bucket * 4 + (((y >> 14) - y) & 3)] = p;
        }
        p = next;
    }
    w.symbol(256);
    w.flush();
    const uint64_t capacity = w.capacity;
    *size = w.count;
    return w.count > capacity ? kTooSmall : kDone;
}

int32_t zlib_encode(uint8_t* out, uint64_t* size, const uint8_t* in, uint32_t length) {
    const uint64_t capacity = out ? *size : 0;
    if (capacity < 6) {
        *size = uint64_t(length) + 6;
        return kInvalid;
    }
    uint64_t body = capacity - 6;
    deflate(out + 2, &body, in, length);
    *size = body + 6;
    if (*size > capacity) return kTooSmall;
    out[0] = 0x78; // deflate, 32 KB window
    out[1] = 0x01; // fastest level, no dictionary; the pair is a multiple of 31
    const uint32_t adler = crypto::adler32(in, length);
    for (int i = 0; i < 4; ++i) out[2 + body + i] = static_cast<uint8_t>(adler >> (24 - 8 * i));
    return kDone;
}

int32_t gzip_encode(uint8_t* out, uint64_t* size, const uint8_t* in, uint32_t length) {
    const uint64_t capacity = out ? *size : 0;
    if (length > 2 && in[0] == 0x1F && in[1] == 0x8B && in[2] == 8 && whole_gzip(in, length)) {
        *size = length;
        if (length > capacity) return kTooSmall;
        std::memcpy(out, in, length);
        return kDone;
    }
    if (capacity < 18) {
        *size = uint64_t(length) + 18;
        return kInvalid;
    }
    uint64_t body = capacity - 18;
    deflate(out + 10, &body, in, length);
    *size = body + 18;
    if (*size > capacity) return kTooSmall;
    static const uint8_t kHeader[10] = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 4, 4};
    std::memcpy(out, kHeader, 10);
    const uint32_t trailer[2] = {crypto::crc32(in, length), length};
    for (int k = 0; k < 2; ++k)
        for (int i = 0; i < 4; ++i)
            out[10 + body + 4 * k + i] = static_cast<uint8_t>(trailer[k] >> (8 * i));
    return kDone;
}

int32_t inflate(uint8_t* out, uint64_t* size, const uint8_t* in, uint32_t length) {
    FlatOutput output{out, out ? *size : 0};
    BitReader bits{in, length};
    const int32_t status = run_inflate(output, bits);
    *size = output.count;
    if (status != kDone) return status;
    return output.count > output.capacity ? kTooSmall : kDone;
}

int32_t zlib_decode(uint8_t* out, uint64_t* size, const uint8_t* in, uint32_t length) {
    if (length < 6) return kInvalid;
    const uint32_t cmf = in[0], flg = in[1];
    if ((cmf * 256 + flg) % 31 != 0 || (cmf & 15) != 8 || (cmf >> 4) > 7 || (flg & 0x20))
        return kInvalid;
    const int32_t status = inflate(out, size, in + 2, length - 6);
    if (status != kDone) return status;
    return crypto::adler32(out, *size) == read_be32(in + length - 4) ? kDone : kInvalid;
}

int32_t gzip_decode(uint8_t* out, uint64_t* size, const uint8_t* in, uint32_t length) {
    FlatMembers members{out, out ? *size : 0};
    const int32_t status = each_member(members, in, length);
    if (status != kDone) return status;
    *size = members.total;
    return members.total > members.capacity ? kTooSmall : kDone;
}

} // namespace compress
