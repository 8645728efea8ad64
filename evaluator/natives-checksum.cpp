// The checksum native: checksums, digests and keyed digests of bytes, text or a file.
#include <iterator>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/words.h"
#include "evaluator/frames.h"
#include "evaluator/natives.h"
#include "os/io.h"
#include "runtime-core/crypto.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/runtime.h"
#include "runtime-core/support.h"

namespace natives {

namespace {

using interp::Status;

// The canonical symbols of the nine method words.
struct MethodSymbols {
    uint32_t tcp, md5, sha1, crc32, adler32, sha256, sha384, sha512, hash;
};
MethodSymbols method_symbol{};

// The method number (crypto::Method) of a canonical symbol among tcp, crc32 and the five
// digests; any other symbol is an internal error.
int32_t method_id(uint32_t canonical) {
    const MethodSymbols& m = method_symbol;
    if (canonical == m.tcp) return crypto::kTcp;
    if (canonical == m.crc32) return crypto::kCrc32;
    if (canonical == m.md5) return crypto::kMd5;
    if (canonical == m.sha1) return crypto::kSha1;
    if (canonical == m.sha256) return crypto::kSha256;
    if (canonical == m.sha384) return crypto::kSha384;
    if (canonical == m.sha512) return crypto::kSha512;
    runtime::quit(100, 0); // the native checks the word before asking
}

// The `hash` method: not built yet. Prints so and answers 0.
int32_t hash_table_method(const uint8_t*, size_t, int32_t size) {
    static const char kLine[] = "** /hash support not yet implemented; algorithm TBD.";
    write_text(reinterpret_cast<const uint8_t*>(kLine), sizeof kLine - 1, true);
    if (size < 1) size = 1; // the table size the algorithm will take
    return 0;
}

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
    const MethodSymbols& m = method_symbol;
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
        integer::make_at(data, hash_table_method(bytes.data(), bytes.size(),
                                                 static_cast<int32_t>(options.with->w2)));
        return Status::normal;
    }

    const int32_t id = method_id(name);
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

void init_checksum_words() {
    uint32_t MethodSymbols::*const order[] = {
        &MethodSymbols::tcp,    &MethodSymbols::md5,     &MethodSymbols::sha1,
        &MethodSymbols::crc32,  &MethodSymbols::adler32, &MethodSymbols::sha256,
        &MethodSymbols::sha384, &MethodSymbols::sha512,  &MethodSymbols::hash};
    const char* const text[] = {"tcp",    "md5",    "sha1",   "crc32", "adler32",
                                "sha256", "sha384", "sha512", "hash"};
    for (size_t i = 0; i < std::size(order); ++i)
        method_symbol.*order[i] = symbol::resolve(symbol::make(text[i]));
}

namespace {

const Registration kFamily[] = {
    {kChecksum, "checksum", checksum},
};

} // namespace

std::span<const Registration> checksum_family() {
    return kFamily;
}

} // namespace natives
