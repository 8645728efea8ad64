#include "datatypes/typeset.h"

#include <bit>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/root.h"
#include "runtime-core/runtime.h"
#include "runtime-core/support.h"
#include "runtime-core/type-traits.h"

namespace typeset {

namespace {

// The codes of do_bitwise: the logic codes of the math entries and the set operations.
constexpr int32_t kOr = integer::kOr, kAnd = integer::kAnd, kXor = integer::kXor;
using block::kDifference, block::kExclude, block::kIntersect, block::kUnion, block::kUnique;

[[noreturn]] void invalid_arg(const Cell* value) {
    error::fire(error::kScript, error::script::invalid_arg, {value});
}

// The three bit words of a one-bit set.
Cell single(uint32_t type) {
    Cell c{kTypeTypeset, 0, 0, 0};
    add_type(&c, type);
    return c;
}

// The value of a word, or the value itself. An unset word raises script/no-value.
const Cell* dereference(const Cell* value) {
    if (!traits::is_bindable_word(cell::type(value))) return value;
    const Cell* v = context::get_word(value);
    if (cell::type(v) == kTypeUnset) error::fire(error::kScript, error::script::no_value, {value});
    return v;
}

// Walks the set bits from id 1 to the highest type id.
template <class F> void each_member(const Cell* typeset, F f) {
    const auto highest = static_cast<uint32_t>(datatype::highest_type_id);
    for (uint32_t t = 1; t <= highest && t < kBits; ++t)
        if (contains(typeset, t)) f(t);
}

Cell* second_arg() {
    return stack::arguments + 1;
}

} // namespace

bool names_type(const Cell* types, uint32_t type) {
    if (cell::type(types) == kTypeDatatype) return types->w1 == type;
    return cell::type(types) == kTypeTypeset && contains(types, type);
}

// --- Constructors -----------------------------------------------------------------------------

Cell* make_at(Cell* cell) {
    *cell = Cell{kTypeTypeset, 0, 0, 0};
    return cell;
}

Cell* push_empty() {
    return make_at(stack::push_cell());
}

Cell* push(const Cell* typeset) {
    return stack::push(*typeset);
}

Cell* make_in(const Cell* block, uint32_t w1, uint32_t w2, uint32_t w3) {
    const Cell value{kTypeTypeset, w1, w2, w3};
    return block::append_copy(block, &value);
}

Cell* clear(Cell* typeset) {
    typeset->w1 = typeset->w2 = typeset->w3 = 0;
    return typeset;
}

Cell* make_any_type(Cell* cell) {
    *cell = Cell{kTypeTypeset, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    uint8_t bits[kBytes];
    std::memcpy(bits, &cell->w1, kBytes);
    bits[kTypeUnset >> 3] &= static_cast<uint8_t>(~(0x80u >> (kTypeUnset & 7)));
    std::memcpy(&cell->w1, bits, kBytes);
    return cell;
}

Cell* make_from_spec(Cell* cell, const Cell* block) {
    make_at(cell);
    // Nothing here allocates: the block's cells stay where they are.
    const int32_t n = block::length_from_index(block);
    const Cell* items = n > 0 ? block::cell_at(block, block->w1) : nullptr;
    for (int32_t i = 0; i < n; ++i) {
        const Cell* value = dereference(items + i);
        switch (cell::type(value)) {
        case kTypeDatatype:
            add_type(cell, value->w1);
            break;
        case kTypeTypeset:
            cell->w1 |= value->w1;
            cell->w2 |= value->w2;
            cell->w3 |= value->w3;
            break;
        case kTypeBlock:
            break;
        default:
            if (traits::is_bindable_word(cell::type(value))) {
                add_type(cell, kTypeObject);
                break;
            }
            error::fire(error::kScript, error::script::invalid_type_spec, {items + i});
        }
    }
    return cell;
}

// --- Members ----------------------------------------------------------------------------------

void add_type(Cell* typeset, uint32_t type) {
    if (type >= kBits) return;
    uint8_t bits[kBytes];
    std::memcpy(bits, &typeset->w1, kBytes);
    bits[type >> 3] |= static_cast<uint8_t>(0x80u >> (type & 7));
    std::memcpy(&typeset->w1, bits, kBytes);
}

void add(Cell* typeset, const Cell* value) {
    const Cell* v = dereference(value);
    if (cell::type(v) == kTypeDatatype) {
        add_type(typeset, v->w1);
    } else if (cell::type(v) == kTypeTypeset) {
        typeset->w1 |= v->w1;
        typeset->w2 |= v->w2;
        typeset->w3 |= v->w3;
    } else {
        invalid_arg(value);
    }
}

int32_t count(const Cell* typeset) {
    int32_t n = 0;
    each_member(typeset, [&](uint32_t) { ++n; });
    return n;
}

void to_block(const Cell* typeset, Cell* result) {
    const Cell set = *typeset;
    block::make_at(result, count(&set));
    each_member(&set, [&](uint32_t t) {
        // Name words live in the root block: their addresses survive the appends.
        if (const Cell* name = datatype::name_record(t).word)
            block::append_copy(result, name);
        else
            datatype::add_to_block(result, t);
    });
}

Cell* do_bitwise(int32_t op) {
    Cell* result = stack::arguments;
    if (op == kUnique) return result;
    const Cell* other = second_arg();
    Cell right;
    if (cell::type(other) == kTypeTypeset)
        right = *other;
    else if (cell::type(other) == kTypeDatatype)
        right = single(other->w1);
    else
        invalid_arg(other);
    Cell left = *result;
    uint32_t* l = &left.w1;
    const uint32_t* r = &right.w1;
    for (int i = 0; i < 3; ++i) {
        switch (op) {
        case kOr:
        case kUnion:
            l[i] |= r[i];
            break;
        case kAnd:
        case kIntersect:
            l[i] &= r[i];
            break;
        case kXor:
        case kDifference:
            l[i] ^= r[i];
            break;
        case kExclude:
            l[i] &= ~r[i];
            break;
        default:
            runtime::quit(runtime::kErrorNoSwitch, ZAN_CALLER_ADDRESS());
        }
    }
    *result = Cell{kTypeTypeset, left.w1, left.w2, left.w3};
    return result;
}

// --- Slot functions ---------------------------------------------------------------------------

Cell* make(Cell*, Cell* spec, int32_t) {
    Cell* result = stack::push_cell();
    if (cell::type(spec) == kTypeTypeset) {
        *result = *spec;
        return result;
    }
    if (cell::type(spec) != kTypeBlock) {
        Cell* t = datatype::push(kTypeTypeset);
        error::fire(error::kScript, error::script::bad_to_arg, {t, spec});
    }
    make_at(result);
    const int32_t n = block::length_from_index(spec);
    for (int32_t i = 0; i < n; ++i) add(result, block::cell_at(spec, spec->w1 + i));
    return result;
}

namespace {

// The names of the members, each followed by a blank, the last blank left out; stops once the
// budget is used up. Returns the limit left.
int32_t write_names(const Cell* typeset, const Cell* string, bool part_limited, int32_t limit) {
    const Cell set = *typeset;
    bool first = true;
    each_member(&set, [&](uint32_t t) {
        if (part_limited && limit <= 0) return;
        const datatype::NameRecord& r = datatype::name_record(t);
        if (!first) string::concatenate_cstring(string, " ");
        string::concatenate_cstring(string, r.name);
        limit -= static_cast<int32_t>(r.length) + 2;
        first = false;
    });
    return limit;
}

} // namespace

int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit) {
    return mold(value, string, {.part = part}, limit, 0);
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t) {
    if (!options.only) {
        string::concatenate_cstring(string, "make typeset! [");
        limit -= 15;
    }
    limit = write_names(value, string, options.part != nullptr, limit);
    if (!options.only) {
        string::concatenate_cstring(string, "]");
        limit -= 1;
    }
    return limit;
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    if (cell::type(other) != kTypeTypeset) return action::kNotComparable;
    switch (op) {
    case action::op::equal:
    case action::op::not_equal:
    case action::op::strict_equal:
    case action::op::same:
    case action::op::find:
        return value->w1 == other->w1 && value->w2 == other->w2 && value->w3 == other->w3 ? 0 : 1;
    case action::op::sort:
    case action::op::case_sort: {
        const int32_t a = count(value), b = count(other);
        return a < b ? -1 : a > b ? 1 : 0;
    }
    default:
        return action::kNotComparable;
    }
}

void and_() {
    do_bitwise(kAnd);
}

void or_() {
    do_bitwise(kOr);
}

void xor_() {
    do_bitwise(kXor);
}

Cell* complement(Cell* value) {
    *value = Cell{kTypeTypeset, ~value->w1, ~value->w2, ~value->w3};
    return value;
}

Cell* find(Cell* series, Cell* value, const action::FindOptions&) {
    if (cell::type(value) != kTypeDatatype) invalid_arg(value);
    return contains(series, value->w1) ? &logic::true_value : &logic::false_value;
}

// --- Standard typesets
// ----------------------------------------------------------------------------

namespace {

// The standard typesets are the families of the type table.
struct Standard {
    const char* name;
    uint32_t family;
};

const Standard kStandard[] = {
    {"internal!", traits::kInternal},    {"external!", traits::kExternal},
    {"number!", traits::kNumber},        {"planar!", traits::kPlanar},
    {"any-point!", traits::kAnyPoint},   {"scalar!", traits::kScalar},
    {"any-word!", traits::kAnyWord},     {"all-word!", traits::kAllWord},
    {"any-list!", traits::kAnyList},     {"any-path!", traits::kAnyPath},
    {"any-block!", traits::kAnyBlock},   {"any-function!", traits::kAnyFunction},
    {"any-object!", traits::kAnyObject}, {"any-string!", traits::kAnyString},
    {"series!", traits::kSeries},        {"immediate!", traits::kImmediate},
    {"default!", traits::kDefault},      {"any-type!", traits::kAnyType},
};
constexpr size_t kStandardCount = sizeof kStandard / sizeof kStandard[0];

} // namespace

void make_standard_words() {
    Cell sets[kStandardCount];
    for (size_t i = 0; i < kStandardCount; ++i) {
        make_at(&sets[i]);
        for (uint32_t t = 1; t < traits::kTable.size(); ++t)
            if (traits::in(static_cast<uint8_t>(t), kStandard[i].family)) add_type(&sets[i], t);
    }
    root::BootScope boot;
    for (size_t i = 0; i < kStandardCount; ++i) {
        Cell* w = word::make_global(kStandard[i].name);
        context::set_word_value(context::global, w, &sets[i]);
    }
}

void register_actions() {
    namespace slot = action::slot;
    action::Row row;
    row.set<slot::make>(make)
        .set<slot::to>(make)
        .set<slot::form>(form)
        .set<slot::mold>(mold)
        .set<slot::compare>(compare)
        .set<slot::and_>(and_)
        .set<slot::complement>(complement)
        .set<slot::or_>(or_)
        .set<slot::xor_>(xor_)
        .set<slot::find>(find);
    datatype::register_({kTypeTypeset, 0, "typeset!", row.entries()});
    block::set_conversion(kTypeTypeset, to_block);
}

} // namespace typeset
