#include "evaluator/natives.h"

#include "datatypes/block.h"
#include "evaluator/parse.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/root.h"
#include "runtime-core/support.h"

namespace natives {

Cell* scratch = nullptr;

namespace {

Entry table[kSlots];

interp::Status not_done(const int32_t*) {
    error::fire(error::kInternal, error::internal::not_done);
}

} // namespace

void set(uint32_t slot, Entry e) {
    if (slot >= 1 && slot <= kDefined) table[slot - 1] = e;
}

Entry entry(uint32_t slot) {
    return slot >= 1 && slot <= kDefined && table[slot - 1] ? table[slot - 1] : not_done;
}

void init() {
    for (Entry& e : table) e = nullptr;
    for (uint32_t s = 1; s <= kDefined; ++s) table[s - 1] = not_done;
    register_control();
    register_compare();
    register_math();
    register_eval();
    register_series();
    register_system();
    set(kParse, parse::native);
    register_checksum();
    register_compress();
    root::BootScope boot;
    scratch = root::alloc_tail();
    block::make_at(scratch, 32);
}

} // namespace natives
