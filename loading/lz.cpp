#include "loading/lz.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace lz {

namespace {

uint32_t read_u32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void write_u32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

// The most bytes one payload byte can expand to: the longest match (566 bytes) costs at least
// 22 bits (flag, 5 prefix bits, 9 extra bits, 7 distance bits).
constexpr uint64_t kMaxExpansion = (8 * kMaxLength + 21) / 22;

// Reads bits least-significant first from [at, end). Bytes are fetched only when needed, so
// that a block's stream ends at the byte holding its last bit.
struct BitReader {
    const uint8_t* at;
    const uint8_t* end;
    uint64_t bits = 0;
    uint32_t count = 0;

    // False when the stream runs out.
    bool read(uint32_t n, uint32_t& value) {
        while (count < n) {
            if (at == end) return false;
            bits |= static_cast<uint64_t>(*at++) << count;
            count += 8;
        }
        value = static_cast<uint32_t>(bits & ((uint64_t{1} << n) - 1));
        bits >>= n;
        count -= n;
        return true;
    }
};

bool read_length(BitReader& in, uint32_t& length) {
    // Prefix "1", "01", "001", "0001", "00001" select the first five ranges; "00000" the last.
    static constexpr uint32_t kExtra[6] = {2, 2, 2, 3, 5, 9};
    static constexpr uint32_t kBase[6] = {0, 4, 8, 12, 20, 52};
    uint32_t range = 0;
    for (; range < 5; ++range) {
        uint32_t bit;
        if (!in.read(1, bit)) return false;
        if (bit) break;
    }
    uint32_t extra;
    if (!in.read(kExtra[range], extra)) return false;
    length = kBase[range] + extra + kMinLength;
    return true;
}

bool read_distance(BitReader& in, uint32_t& distance) {
    uint32_t code, extra;
    if (!in.read(4, code)) return false;
    const uint32_t nb = code + 2;
    if (nb == 2) {
        if (!in.read(3, extra)) return false;
        distance = extra + 1;
    } else {
        if (!in.read(nb, extra)) return false;
        distance = (1u << nb) + extra + 1;
    }
    return true;
}

// One block's tokens into out[0, size).
bool decode_block(BitReader& in, uint8_t* out, uint32_t size) {
    uint32_t index = 0;
    while (index < size) {
        uint32_t kind;
        if (!in.read(1, kind)) return false;
        if (kind == 0) {
            uint32_t byte;
            if (!in.read(8, byte)) return false;
            out[index++] = static_cast<uint8_t>(byte);
            continue;
        }
        uint32_t length, distance;
        if (!read_length(in, length) || !read_distance(in, distance)) return false;
        if (distance > index || length > size - index) return false;
        // Byte by byte: an overlapping copy repeats the most recent bytes.
        const uint8_t* from = out + index - distance;
        for (uint32_t i = 0; i < length; ++i) out[index + i] = from[i];
        index += length;
    }
    return true;
}

// Writes bits least-significant first into a buffer of fixed capacity; `full` is set (and
// nothing more is written) once a write would pass the capacity.
struct BitWriter {
    uint8_t* out;
    uint32_t capacity;
    uint32_t position = 0;
    uint64_t bits = 0;
    uint32_t count = 0;
    bool full = false;

    uint8_t* reserve(uint32_t n) {
        if (full || n > capacity - position) {
            full = true;
            return nullptr;
        }
        uint8_t* at = out + position;
        position += n;
        return at;
    }
    void write(uint32_t n, uint32_t value) {
        bits |= static_cast<uint64_t>(value) << count;
        count += n;
        while (count >= 8) {
            if (uint8_t* at = reserve(1)) *at = static_cast<uint8_t>(bits);
            bits >>= 8;
            count -= 8;
        }
    }
};

void write_match(BitWriter& out, uint32_t length, uint32_t distance) {
    out.write(1, 1);
    const uint32_t l = length - kMinLength;
    if (l < 4) {
        out.write(1, 1), out.write(2, l);
    } else if (l < 8) {
        out.write(2, 2), out.write(2, l - 4);
    } else if (l < 12) {
        out.write(3, 4), out.write(2, l - 8);
    } else if (l < 20) {
        out.write(4, 8), out.write(3, l - 12);
    } else if (l < 52) {
        out.write(5, 16), out.write(5, l - 20);
    } else {
        out.write(5, 0), out.write(9, l - 52);
    }
    const uint32_t d = distance - 1;
    if (d < 8) {
        out.write(4, 0), out.write(3, d);
    } else {
        uint32_t nb = 3;
        while ((d >> (nb + 1)) != 0) ++nb;
        out.write(4, nb - 2), out.write(nb, d - (1u << nb));
    }
}

constexpr uint32_t kHead3Bits = 19;
constexpr uint32_t kHead4Bits = 20;
constexpr uint32_t kChainSize = 1u << 18;
constexpr uint32_t kMaxCandidates = 256;

// The encoder's tables, allocated once per call.
struct Tables {
    std::unique_ptr<int32_t[]> head3{new int32_t[1u << kHead3Bits]};
    std::unique_ptr<int32_t[]> head4{new int32_t[1u << kHead4Bits]};
    std::unique_ptr<int32_t[]> chain{new int32_t[kChainSize]};
    std::unique_ptr<uint8_t[]> block{new uint8_t[kMaxBlock + kMaxLength]};
};

uint32_t match_length(const uint8_t* a, const uint8_t* b, uint32_t max) {
    uint32_t n = 0;
    while (n < max && a[n] == b[n]) ++n;
    return n;
}

// A farther candidate must be longer by one byte for each factor of 8 by which its distance
// (over 16) exceeds the best one's.
uint32_t distance_penalty(uint32_t distance, uint32_t best_distance) {
    if (best_distance == 0) return 0;
    uint32_t k = 0;
    for (uint32_t d = distance / 16; d > best_distance; d /= 8) ++k;
    return k;
}

void encode_block(BitWriter& out, Tables& t, const uint8_t* source, uint32_t size) {
    uint8_t* const b = t.block.get();
    std::memcpy(b, source, size);
    std::memset(b + size, 0, kMaxLength);
    std::fill_n(t.head3.get(), 1u << kHead3Bits, -1);
    std::fill_n(t.head4.get(), 1u << kHead4Bits, -1);
    constexpr uint32_t mask3 = (1u << kHead3Bits) - 1, mask4 = (1u << kHead4Bits) - 1;
    uint32_t h3 = ((b[0] << 14) + (b[1] << 7) + b[2]) & mask3;
    uint32_t h4 = ((b[0] << 15) + (b[1] << 10) + (b[2] << 5) + b[3]) & mask4;
    uint32_t pos = 0;
    auto consume = [&](uint32_t n) {
        for (; n > 0; --n, ++pos) {
            t.chain[pos % kChainSize] = t.head4[h4];
            t.head4[h4] = static_cast<int32_t>(pos);
            t.head3[h3] = static_cast<int32_t>(pos);
            h3 = ((h3 << 7) + b[pos + 3]) & mask3;
            h4 = ((h4 << 5) + b[pos + 4]) & mask4;
        }
    };
    while (pos < size && !out.full) {
        const uint32_t max = std::min(kMaxLength, size - pos);
        const int64_t window = static_cast<int64_t>(pos) - kMaxDistance;
        uint32_t best_length = 0, best_distance = 0;
        auto probe = [&](int32_t candidate) {
            if (candidate < 0 || candidate < window || static_cast<uint32_t>(candidate) >= pos)
                return;
            const uint8_t* c = b + candidate;
            if (c[best_length] != b[pos + best_length]) return;
            const uint32_t length = match_length(c, b + pos, max);
            const uint32_t distance = pos - static_cast<uint32_t>(candidate);
            if (length >= kMinLength &&
                length > best_length + distance_penalty(distance, best_distance)) {
                best_length = length;
                best_distance = distance;
            }
        };
        if (max >= kMinLength) {
            probe(t.head3[h3]);
            int32_t candidate = t.head4[h4];
            for (uint32_t n = 0;
                 n < kMaxCandidates && best_length < max && candidate >= 0 && candidate >= window;
                 ++n) {
                probe(candidate);
                const int32_t next = t.chain[static_cast<uint32_t>(candidate) % kChainSize];
                if (next >= candidate) break; // the chain slot was reused by a later position
                candidate = next;
            }
        }
        if (best_length == kMinLength && best_distance > 65536) best_length = 0;
        if (best_length >= kMinLength) {
            write_match(out, best_length, best_distance);
            consume(best_length);
        } else {
            out.write(1, 0), out.write(8, b[pos]);
            consume(1);
        }
    }
    out.write(7, 0);
}

} // namespace

Status decompress(const uint8_t* data, uint32_t length, std::vector<uint8_t>& out) {
    out.clear();
    if (length < kHeaderSize) return Status::corrupt;
    const uint32_t payload = read_u32(data);
    const uint32_t total = read_u32(data + 4);
    if (payload > length - kHeaderSize) return Status::corrupt;
    if (total > payload * kMaxExpansion) return Status::corrupt;
    try {
        out.resize(total);
    } catch (const std::bad_alloc&) {
        return Status::no_memory;
    }
    const uint8_t* at = data + kHeaderSize;
    const uint8_t* const end = at + payload;
    uint32_t produced = 0;
    while (at < end) {
        if (end - at < 4) return out.clear(), Status::corrupt;
        const uint32_t size = read_u32(at);
        at += 4;
        if (size < 1 || size > kMaxBlock || size > total - produced)
            return out.clear(), Status::corrupt;
        BitReader in{at, end};
        if (!decode_block(in, out.data() + produced, size)) return out.clear(), Status::corrupt;
        at = in.at;
        produced += size;
    }
    out.resize(produced);
    return Status::ok;
}

int32_t compress(const uint8_t* source, uint32_t length, uint8_t* destination) {
    if (length < kMinSource) return -1;
    std::unique_ptr<Tables> tables;
    try {
        tables = std::make_unique<Tables>();
    } catch (const std::bad_alloc&) {
        return -1;
    }
    // The result must come out smaller than the source minus the header.
    BitWriter out{destination, length - kHeaderSize - 1};
    out.reserve(kHeaderSize);
    for (uint32_t start = 0; start < length && !out.full; start += kMaxBlock) {
        const uint32_t size = std::min(kMaxBlock, length - start);
        uint8_t* size_field = out.reserve(4);
        if (!size_field) break;
        out.bits = 0, out.count = 0;
        encode_block(out, *tables, source + start, size);
        write_u32(size_field, size);
    }
    if (out.full) return -1;
    write_u32(destination, out.position - kHeaderSize);
    write_u32(destination + 4, length);
    return static_cast<int32_t>(out.position);
}

} // namespace lz
