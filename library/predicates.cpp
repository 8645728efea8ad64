#include "library/predicates.h"

#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/support.h"

namespace predicates {

namespace {

using interp::Status;

void answer(bool yes) {
    stack::set_last(Cell{kTypeLogic, yes ? 1u : 0u, 0, 0});
}

template <uint8_t Type> Status is_type(const int32_t*) {
    answer(cell::type(stack::arguments) == Type);
    return Status::normal;
}

// The group typesets, by their words.
constexpr const char* kGroups[] = {
    "any-list!",   "any-block!", "any-function!", "any-object!", "any-path!",
    "any-string!", "any-word!",  "series!",       "number!",     "immediate!",
    "scalar!",     "all-word!",  "any-point!",    "planar!",
};

template <size_t Group> Status is_in_group(const int32_t*) {
    static uint32_t symbol = 0;
    if (symbol == 0) symbol = symbol::make(kGroups[Group]);
    const Cell* set = context::value_cell(symbol, context::global);
    if (!set || cell::type(set) != kTypeTypeset) {
        Cell* type = datatype::push(set ? cell::type(set) : uint8_t{kTypeUnset});
        error::fire(error::kScript, error::script::invalid_type, {type});
    }
    answer(typeset::contains(set, cell::type(stack::arguments)));
    return Status::normal;
}

#define ZAN_SINGLE(name, type)                                                                     \
    {                                                                                              \
        name "?",                                                                                  \
            "[\"Returns true if the value is this type\" value [any-type!] return: [logic!]]",     \
            is_type<type>                                                                          \
    }
#define ZAN_GROUP(name, index)                                                                     \
    {                                                                                              \
        name "?",                                                                                  \
            "[\"Returns true if the value is any type of " name                                    \
            "\" value [any-type!] return: [logic!]]",                                              \
            is_in_group<index>                                                                     \
    }

const routines::Routine kTable[] = {
    ZAN_SINGLE("bitset", kTypeBitset),
    ZAN_SINGLE("binary", kTypeBinary),
    ZAN_SINGLE("block", kTypeBlock),
    ZAN_SINGLE("char", kTypeChar),
    ZAN_SINGLE("email", kTypeEmail),
    ZAN_SINGLE("file", kTypeFile),
    ZAN_SINGLE("float", kTypeFloat),
    ZAN_SINGLE("get-path", kTypeGetPath),
    ZAN_SINGLE("get-word", kTypeGetWord),
    ZAN_SINGLE("hash", kTypeHash),
    ZAN_SINGLE("integer", kTypeInteger),
    ZAN_SINGLE("issue", kTypeIssue),
    ZAN_SINGLE("lit-path", kTypeLitPath),
    ZAN_SINGLE("lit-word", kTypeLitWord),
    ZAN_SINGLE("logic", kTypeLogic),
    ZAN_SINGLE("map", kTypeMap),
    ZAN_SINGLE("none", kTypeNone),
    ZAN_SINGLE("pair", kTypePair),
    ZAN_SINGLE("paren", kTypeParen),
    ZAN_SINGLE("path", kTypePath),
    ZAN_SINGLE("percent", kTypePercent),
    ZAN_SINGLE("refinement", kTypeRefinement),
    ZAN_SINGLE("set-path", kTypeSetPath),
    ZAN_SINGLE("set-word", kTypeSetWord),
    ZAN_SINGLE("string", kTypeString),
    ZAN_SINGLE("tag", kTypeTag),
    ZAN_SINGLE("time", kTypeTime),
    ZAN_SINGLE("typeset", kTypeTypeset),
    ZAN_SINGLE("tuple", kTypeTuple),
    ZAN_SINGLE("unset", kTypeUnset),
    ZAN_SINGLE("url", kTypeUrl),
    ZAN_SINGLE("word", kTypeWord),
    ZAN_SINGLE("image", kTypeImage),
    ZAN_SINGLE("date", kTypeDate),
    ZAN_SINGLE("money", kTypeMoney),
    ZAN_SINGLE("ref", kTypeRef),
    ZAN_SINGLE("point2D", kTypePoint2D),
    ZAN_SINGLE("point3D", kTypePoint3D),
    ZAN_SINGLE("handle", kTypeHandle),
    ZAN_SINGLE("error", kTypeError),
    ZAN_SINGLE("action", kTypeAction),
    ZAN_SINGLE("native", kTypeNative),
    ZAN_SINGLE("datatype", kTypeDatatype),
    ZAN_SINGLE("function", kTypeFunction),
    ZAN_SINGLE("object", kTypeObject),
    ZAN_SINGLE("op", kTypeOp),
    ZAN_SINGLE("routine", kTypeRoutine),
    ZAN_SINGLE("vector", kTypeVector),
    ZAN_GROUP("any-list", 0),
    ZAN_GROUP("any-block", 1),
    ZAN_GROUP("any-function", 2),
    ZAN_GROUP("any-object", 3),
    ZAN_GROUP("any-path", 4),
    ZAN_GROUP("any-string", 5),
    ZAN_GROUP("any-word", 6),
    ZAN_GROUP("series", 7),
    ZAN_GROUP("number", 8),
    ZAN_GROUP("immediate", 9),
    ZAN_GROUP("scalar", 10),
    ZAN_GROUP("all-word", 11),
    ZAN_GROUP("any-point", 12),
    ZAN_GROUP("planar", 13),
};

#undef ZAN_SINGLE
#undef ZAN_GROUP

static_assert(std::size(kTable) == 62, "48 single-type and 14 group predicates");

} // namespace

std::span<const routines::Routine> table() {
    return kTable;
}

} // namespace predicates
