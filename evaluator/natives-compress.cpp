// The compress and decompress natives: deflate with its zlib and gzip framings.
#include <algorithm>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "evaluator/frames.h"
#include "evaluator/natives.h"
#include "loading/compress.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/support.h"

namespace natives {

namespace {

using interp::Status;
using Codec = int32_t (*)(uint8_t*, uint64_t*, const uint8_t*, uint32_t);

// The largest binary a result may need.
constexpr uint64_t kMaxBytes = 0x7FFFFF00;

// The capacity of the first attempt at a gzip stream: the trailer's size field claims the
// output size but is whoever made the data's to choose, so it buys at most this much before
// the data has shown what it really produces.
uint64_t gzip_first_capacity(uint64_t claimed, uint32_t input) {
    return std::min(claimed, std::max<uint64_t>(uint64_t(input) * 32, 1u << 20));
}

// Runs a codec into a new binary of `capacity` bytes (the result slot), and once more with
// the size it asks for when that was too small. The input is re-read after each allocation
// through `input` (a binary! in the frame) or taken from `text`. Raises script/invalid-data
// with the method word on failure. May collect.
void run_codec(Codec codec, uint64_t capacity, const Cell* input, const std::string* text,
               const Cell* method) {
    Cell* result = stack::push_cell();
    *result = Cell{kTypeNone, 0, 0, 0};
    int32_t status = compress::kTooSmall;
    for (int attempt = 0; attempt < 2 && status == compress::kTooSmall; ++attempt) {
        if (capacity > kMaxBytes) error::fire(error::kInternal, error::internal::no_memory);
        binary::make_at(result, static_cast<uint32_t>(capacity));
        const uint8_t* in =
            text ? reinterpret_cast<const uint8_t*>(text->data()) : binary::zs_head(input);
        const uint32_t length =
            text ? static_cast<uint32_t>(text->size()) : binary::zs_length(input);
        uint64_t size = capacity;
        status = codec(binary::zs_head(result), &size, in, length);
        if (status == compress::kDone) {
            memory::Buffer* b = memory::buffer(result->w2);
            b->tail = b->head + static_cast<uint32_t>(size);
        }
        capacity = size;
    }
    if (status != compress::kDone)
        error::fire(error::kScript, error::script::invalid_data, {method});
    stack::set_last(*result);
    stack::pop(1);
}

// The codec of the method word; another word raises script/invalid-arg with it.
Codec by_method(const Cell* method, Codec deflate, Codec zlib, Codec gzip) {
    const uint32_t name = symbol::resolve(method->w2);
    const compress::MethodSymbols& m = compress::symbol;
    if (name == m.deflate) return deflate;
    if (name == m.zlib) return zlib;
    if (name == m.gzip) return gzip;
    error::fire(error::kScript, error::script::invalid_arg, {method});
}

Status compress_(const int32_t*) {
    Cell* data = stack::arguments;
    Cell* method = data + 1;
    const Codec codec =
        by_method(method, compress::deflate, compress::zlib_encode, compress::gzip_encode);
    if (cell::type(data) == kTypeBinary) {
        run_codec(codec, uint64_t(binary::zs_length(data)) + 32, data, nullptr, method);
    } else {
        const std::string text = string::utf8_from_index(data);
        if (text.size() > kMaxBytes) error::fire(error::kInternal, error::internal::no_memory);
        run_codec(codec, uint64_t(text.size()) + 32, nullptr, &text, method);
    }
    return Status::normal;
}

Status decompress(const int32_t* refs) {
    struct {
        Cell* size;
    } options{ref_arg(refs, 0)};
    Cell* data = stack::arguments;
    Cell* method = data + 1;
    const Codec codec =
        by_method(method, compress::inflate, compress::zlib_decode, compress::gzip_decode);
    const uint32_t length = binary::zs_length(data);
    const int32_t hint = options.size ? static_cast<int32_t>(options.size->w2) : 0;

    uint64_t capacity = hint > 0 ? uint64_t(hint) : 0;
    if (codec == compress::gzip_decode || capacity <= length) {
        // A measuring run: gzip reads its trailer, the others decode without writing.
        uint64_t measured = 0;
        const int32_t status = codec(nullptr, &measured, binary::zs_head(data), length);
        if (status > compress::kTooSmall)
            error::fire(error::kScript, error::script::invalid_data, {method});
        capacity =
            codec == compress::gzip_decode ? gzip_first_capacity(measured, length) : measured;
    }
    run_codec(codec, capacity, data, nullptr, method);
    return Status::normal;
}

const Registration kFamily[] = {
    {kCompress, "compress", compress_},
    {kDecompress, "decompress", decompress},
};

} // namespace

std::span<const Registration> compress_family() {
    return kFamily;
}

} // namespace natives
