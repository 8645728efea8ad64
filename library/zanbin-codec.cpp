#include "library/zanbin-codec.h"

#include "datatypes/action.h"
#include "datatypes/block.h"
#include "datatypes/dispatch.h"
#include "datatypes/logic.h"
#include "loading/zanbin.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/support.h"
#include "runtime-core/type-traits.h"

namespace zanbin_codec {

namespace {

using interp::Status;

// encode* data compact?: the compact encoding when compact? is true, else the fixed-width
// one.
Status encode(const int32_t*) {
    const Cell* data = stack::arguments;
    const Cell* made = logic::value_true(stack::arguments + 1) ? zanbin::encode_compact(data)
                                                               : zanbin::encode_fixed(data);
    stack::set_last(*made);
    return Status::normal;
}

// decode payload: a file! or url! is read as binary first; one decoded value is the result
// itself, any other count a block of them.
Status decode(const int32_t*) {
    Cell* payload = stack::arguments;
    const uint8_t type = cell::type(payload);
    const Cell* data = payload;
    if (type == kTypeFile || type == kTypeUrl)
        data = actions::call<action::slot::read>(payload, {.binary = true});
    if (cell::type(data) != kTypeBinary)
        error::fire(error::kScript, error::script::invalid_data, {payload});
    const Cell* target = block::push_new(4);
    // The bytes are fetched after the block's allocation, which may have moved them.
    memory::Buffer* b = memory::buffer(data->w2);
    const uint32_t at = std::min(data->w1, b->length());
    zanbin::decode(b->at_head() + at, b->length() - at, target, payload);
    memory::Buffer* values = memory::buffer(series::node(target));
    stack::set_last(values->length() == 1 ? values->cells()[0] : *target);
    return Status::normal;
}

const routines::Routine kTable[] = {
    {"zanbin-encode*", "[data [any-type!] compact? [logic!]]", encode},
    {"zanbin-decode", "[payload [any-type!]]", decode},
};

} // namespace

std::span<const routines::Routine> table() {
    return kTable;
}

} // namespace zanbin_codec
