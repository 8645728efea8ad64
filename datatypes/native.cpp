#include "datatypes/native.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/signature.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/words.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/support.h"
#include "runtime-core/type-traits.h"

namespace native {

namespace {

using memory::cells_of;
using memory::length_of;

SpecCheck spec_check = nullptr;

[[noreturn]] void bad_make(Cell* prototype, Cell* spec) {
    error::fire(error::kScript, error::script::bad_make_arg, {prototype, spec});
}

} // namespace

void set_spec_check(SpecCheck check) {
    spec_check = check;
}

bool spec_has_two_args(const Cell* function) {
    const signature::View spec = signature::view(function);
    if (spec.required() != 2 || spec.entry(0).kind != signature::Kind::normal) return false;
    if (spec.entries() == 2) return true;
    // /extern, which func leaves in a spec as a refinement, ends the arguments as /local does.
    return symbol::resolve(spec.entry(2).word.w2) ==
           symbol::resolve(refinements::refinement.extern_->w2);
}

Cell* make(Cell* prototype, Cell* spec, int32_t type) {
    if (cell::type(spec) != kTypeBlock || block::length_from_index(spec) != 2)
        bad_make(prototype, spec);
    const Cell* inner = cells_of(spec->w2) + spec->w1;
    if (cell::type(inner) != kTypeBlock || cell::type(inner + 1) != kTypeInteger)
        bad_make(prototype, spec);
    const auto n = static_cast<int32_t>(inner[1].w2);
    const int32_t limit = type == kTypeNative ? static_cast<int32_t>(kSlots)
                                              : static_cast<int32_t>(action::kSlotCount);
    if (n < 1 || n > limit) bad_make(prototype, spec);
    // Slots beyond the defined natives hold no entry: calling one would run nothing.
    if (type == kTypeNative && n > static_cast<int32_t>(kDefined))
        error::fire(error::kScript, error::script::out_of_range, {inner + 1});
    Cell* result =
        stack::push(Cell{static_cast<uint32_t>(type), static_cast<uint32_t>(n), inner->w2, 0});
    Cell* spec_block = stack::push(Cell{kTypeBlock, 0, inner->w2, 0});
    // The more block is made first: nothing allocates between making the context and
    // storing it where the collector finds it.
    Cell* more = stack::push_cell();
    block::make_at(more, 2);
    Cell none{kTypeNone, 0, 0, 0};
    block::append_copy(more, &none);
    block::append_copy(more, &none);
    result->w3 = more->w2;
    const Cell* compiled = signature::compile(spec_block, signature::Validation::off);
    any_function::signature(result) = *compiled;
    const uint32_t ctx = signature::make_context(compiled, spec_block);
    cells_of(result->w3)[0] = *context::cell_of(ctx);
    *context::owner_of(ctx) = *result;
    stack::top = result + 1;
    if (spec_check) spec_check(result, prototype, spec);
    return result;
}

Cell* op_make(Cell* prototype, Cell* spec, int32_t) {
    const uint8_t t = cell::type(spec);
    if (!traits::is_any_function(t) || t == kTypeOp) {
        Cell* type = datatype::push(t);
        error::fire(error::kScript, error::script::invalid_type, {type});
    }
    if (!spec_has_two_args(spec)) error::fire(error::kScript, error::script::bad_op_spec);
    if (t == kTypeFunction || t == kTypeRoutine) cells_of(spec->w3)[3] = *spec;
    *prototype = *spec;
    prototype->header = kTypeOp | static_cast<uint32_t>(t) << 16;
    return prototype;
}

Cell* reflect(Cell* value, int32_t field_symbol) {
    const auto field = static_cast<uint32_t>(field_symbol);
    const uint8_t under = cell::type(value) == kTypeOp ? op_type(value) : cell::type(value);
    if (field == symbol::resolve(words::symbol.spec)) {
        const uint32_t spec = value->w2;
        *value = Cell{kTypeBlock, 0, spec, 0};
        return value;
    }
    if (field == symbol::resolve(words::symbol.body)) {
        if (under == kTypeFunction || under == kTypeRoutine) {
            *value = any_function::body(value);
            return value;
        }
        return integer::make_at(value, static_cast<int32_t>(value->w1));
    }
    error::fire(error::kInternal, error::internal::not_done);
}

int32_t form(Cell* value, Cell* string, Cell*, int32_t limit) {
    switch (cell::type(value)) {
    case kTypeNative:
        string::concatenate_cstring(string, "?native?");
        return limit - 8;
    case kTypeAction:
        string::concatenate_cstring(string, "?action?");
        return limit - 8;
    default:
        string::concatenate_cstring(string, "?op?");
        return limit - 4;
    }
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent) {
    // The spec and body are rooted: appending to the string may move their nodes.
    GcRoot spec(any_function::spec(value));
    GcRoot body(Cell{});
    if (cell::type(value) == kTypeOp && op_type(value) == kTypeFunction)
        body.cell() = any_function::body(value);
    if (cell::type(value) != kTypeOp) {
        string::concatenate_cstring(string, cell::type(value) == kTypeNative ? "make native! ["
                                                                             : "make action! [");
        limit = block::mold(&spec.cell(), string, options, limit - 14, indent);
        string::concatenate_cstring(string, "]");
        return limit;
    }
    const bool function = op_type(value) == kTypeFunction;
    string::concatenate_cstring(string, function ? "make op! func " : "make op! [");
    limit = block::mold(&spec.cell(), string, options, limit, indent);
    if (!function) {
        string::concatenate_cstring(string, "]");
        return limit;
    }
    if (cell::type(&body.cell()) == kTypeBlock)
        limit = block::mold(&body.cell(), string, options.nested(), limit, indent);
    return limit;
}

int32_t compare_identity(uint32_t a, uint32_t b, int32_t op) {
    switch (op) {
    case action::op::equal:
    case action::op::not_equal:
    case action::op::strict_equal:
    case action::op::sort:
    case action::op::case_sort:
    case action::op::same:
    case action::op::find: {
        const auto x = static_cast<int32_t>(a);
        const auto y = static_cast<int32_t>(b);
        return x == y ? 0 : x < y ? -1 : 1;
    }
    default:
        return action::kNotComparable;
    }
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    if (cell::type(other) != cell::type(value)) return action::kNotComparable;
    // Natives and actions by their slot; ops by their slot or function context and by the
    // type they were made from.
    if (op_type(value) != op_type(other))
        return compare_identity(op_type(value), op_type(other), op);
    return compare_identity(value->w1, other->w1, op);
}

void mark_cell(Cell& c) {
    if (c.w2) collector::mark_node_cells(c.w2);
    if (c.w3) collector::mark_node_cells(c.w3);
    const uint8_t under = cell::type(&c) == kTypeOp ? op_type(&c) : cell::type(&c);
    if ((under == kTypeFunction || under == kTypeRoutine) && c.w1) context::mark(c.w1);
}

void register_actions() {
    namespace s = action::slot;
    for (uint8_t t : {kTypeNative, kTypeAction, kTypeOp}) {
        action::Row row;
        row.set<s::make>(t == kTypeOp ? op_make : make)
            .set<s::form>(form)
            .set<s::mold>(mold)
            .set<s::compare>(compare);
        if (t == kTypeNative)
            row.set<s::reflect>(reflect);
        else
            row.inherit({s::reflect});
        static const char* const kNames[] = {"native!", "action!", "op!"};
        datatype::register_({t, t == kTypeNative ? 0u : static_cast<uint32_t>(kTypeNative),
                             kNames[t - kTypeNative], row.entries()});
        collector::set_type_marker(t, mark_cell);
    }
}

} // namespace native
