// The evaluator's side of signatures (datatypes/signature.h): the check of native! and action!
// make against the entry of their slot, and the signature read access of the layers above.
#include <algorithm>
#include <iterator>

#include "datatypes/action.h"
#include "datatypes/native.h"
#include "datatypes/signature.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "runtime-core/collector.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/support.h"

namespace interp {

namespace {

// A native's or action's entry reads its arguments and refinements from the frame by position
// and trusts their types. The signature of each slot's first definition (the start-up one) is
// kept: a later make must fit it (signature::fits).

// Natives by slot, then actions by slot: the node of the first definition's signature.
uint32_t slot_lists[natives::kSlots + action::kSlotCount];

// The spec check of native! and action! make (native.h): the new value's signature, its types
// resolved now, is compared with its slot's.
void check_native_spec(const Cell* made, const Cell* prototype, const Cell* spec) {
    const uint32_t list = signature::ready(made);
    const uint32_t at = (cell::type(made) == kTypeAction ? natives::kSlots : 0) + made->w1 - 1;
    if (at >= std::size(slot_lists))
        error::fire(error::kScript, error::script::bad_make_arg, {prototype, spec});
    if (!slot_lists[at])
        slot_lists[at] = list;
    else if (!signature::fits(list, slot_lists[at]))
        error::fire(error::kScript, error::script::bad_make_arg, {prototype, spec});
}

void mark_slot_lists() {
    for (uint32_t& list : slot_lists)
        if (list) collector::mark_node_cells(list);
}

} // namespace

signature::View signature_of(const Cell* function) {
    return signature::View(signature::ready(function));
}

void init_signatures() {
    std::fill(std::begin(slot_lists), std::end(slot_lists), 0u);
    native::set_spec_check(check_native_spec);
    collector::add_marker(mark_slot_lists);
}

} // namespace interp
