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

// parse's entry lives with its engine.
const Registration kParseFamily[] = {
    {kParse, "parse", parse::native},
};

} // namespace

Entry entry(uint32_t slot) {
    return slot >= 1 && slot <= kDefined && table[slot - 1] ? table[slot - 1] : not_done;
}

std::span<const std::span<const Registration>> families() {
    static const std::span<const Registration> all[] = {
        control_family(), compare_family(), math_family(),     eval_family(),    series_family(),
        system_family(),  kParseFamily,     checksum_family(), compress_family()};
    return all;
}

void init() {
    for (Entry& e : table) e = nullptr;
    for (uint32_t s = 1; s <= kDefined; ++s) table[s - 1] = not_done;
    install_memory_fault_hook();
    for (const auto& family : families())
        for (const Registration& r : family)
            if (r.slot >= 1 && r.slot <= kDefined) table[r.slot - 1] = r.entry;
    root::BootScope boot;
    scratch = root::alloc_tail();
    block::make_at(scratch, 32);
}

} // namespace natives
