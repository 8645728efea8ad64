#ifdef ZAN_TEST_ZLIB
#include "zlib-peer.h"

#include <zlib.h>

namespace zlib_peer {

std::string inflate(const Bytes& in, int window_bits, size_t expected) {
    z_stream z{};
    if (inflateInit2(&z, window_bits) != Z_OK) return "<zlib error>";
    std::string out(expected + 1, '\0');
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int status = ::inflate(&z, Z_FINISH);
    out.resize(z.total_out);
    inflateEnd(&z);
    return status == Z_STREAM_END ? out : "<zlib error>";
}

Bytes deflate(const Bytes& in, int level, int window_bits, int strategy) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, window_bits, 8, strategy) != Z_OK) return {};
    Bytes out(deflateBound(&z, in.size()));
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int status = ::deflate(&z, Z_FINISH);
    out.resize(status == Z_STREAM_END ? z.total_out : 0);
    deflateEnd(&z);
    return out;
}

uint32_t crc32(const uint8_t* bytes, size_t length) {
    return static_cast<uint32_t>(::crc32_z(0, bytes, length));
}

uint32_t adler32(const uint8_t* bytes, size_t length) {
    return static_cast<uint32_t>(::adler32_z(1, bytes, length));
}

} // namespace zlib_peer
#endif
