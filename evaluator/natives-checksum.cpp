// The checksum native: checksums, digests and keyed digests of bytes, text or a file.
#include <string>

#include "datatypes/binary.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "os/io.h"
#include "runtime-core/crypto.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/support.h"
#include "runtime-core/words.h"

namespace natives {

namespace {

using interp::Status;

// Bytes of a checksum argument: a binary! from its index (read in place when the caller
// allocates nothing more), text as its UTF-8, a file! as its contents.
struct Bytes {
    std::string owned;
    const Cell* binary = nullptr;

    explicit Bytes(const Cell* value) {
        switch (cell::type(value)) {
        case kTypeBinary:
            binary = value;
            break;
        case kTypeFile:
            // The file's bytes, read as a binary! on the data stack.
            binary = io::read_path(value, -1, -1, true, false);
            break;
        default:
            owned = string::utf8_from_index(value);
            break;
        }
    }
    // Valid until the next allocation.
    const uint8_t* data() const {
        return binary ? binary::zs_head(binary) : reinterpret_cast<const uint8_t*>(owned.data());
    }
    size_t size() const { return binary ? binary::zs_length(binary) : owned.size(); }
};

Status checksum(const int32_t* refs) {
    struct {
        Cell* with;
    } options{ref_arg(refs, 0)};
    Cell* data = stack::arguments;
    Cell* method = data + 1;
    const uint8_t type = cell::type(data);
    if (type != kTypeBinary && type != kTypeString && type != kTypeFile)
        error::fire(error::kScript, error::script::invalid_arg, {data});

    const uint32_t name = symbol::resolve(method->w2);
    const crypto::MethodSymbols& m = crypto::symbol;
    const bool plain = name == m.crc32 || name == m.tcp || name == m.adler32;
    const bool digest =
        name == m.md5 || name == m.sha1 || name == m.sha256 || name == m.sha384 || name == m.sha512;
    if (!plain && !digest && name != m.hash)
        error::fire(error::kScript, error::script::invalid_arg, {method});
    if ((plain && options.with) || (name == m.hash && !options.with))
        error::fire(error::kScript, error::script::invalid_refine_arg,
                    {refinements::refinement.with, method});

    if (plain) {
        const Bytes bytes(data);
        uint32_t sum;
        if (name == m.crc32)
            sum = crypto::crc32(bytes.data(), bytes.size());
        else if (name == m.adler32)
            sum = crypto::adler32(bytes.data(), bytes.size());
        else
            sum = crypto::tcp_checksum(bytes.data(), bytes.size());
        integer::make_at(data, static_cast<int32_t>(sum));
        return Status::normal;
    }

    const uint8_t spec = options.with ? cell::type(options.with) : uint8_t(kTypeNone);
    const bool key_ok = spec == kTypeBinary || spec == kTypeString;
    if (options.with && (name == m.hash ? spec != kTypeInteger : !key_ok))
        error::fire(error::kScript, error::script::invalid_arg, {options.with});
    if (name == m.hash) {
        const Bytes bytes(data);
        integer::make_at(data, crypto::hash_table_method(bytes.data(), bytes.size(),
                                                         static_cast<int32_t>(options.with->w2)));
        return Status::normal;
    }

    const int32_t id = crypto::method_id(name);
    uint8_t out[crypto::kMaxDigest];
    {
        const Bytes bytes(data);
        if (options.with) {
            const Bytes key(options.with);
            crypto::hmac(bytes.data(), bytes.size(), key.data(), key.size(), id, out);
        } else {
            crypto::crypt_hash(bytes.data(), bytes.size(), id, out);
        }
    }
    binary::box(out, crypto::digest_size(id));
    return Status::normal;
}

} // namespace

void register_checksum() {
    set(kChecksum, checksum);
}

} // namespace natives
