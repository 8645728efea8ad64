// The routine table (evaluator.h): the families of rows that start-up gives, indexed in
// their order.
#include <cstring>
#include <span>

#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/evaluator.h"
#include "loading/lexer.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/support.h"

namespace routines {

namespace {

std::span<const std::span<const Routine>> families;

interp::Status not_done(const int32_t*) {
    error::fire(error::kInternal, error::internal::not_done);
}

// The row at an index, or null.
const Routine* row(uint32_t index) {
    for (const auto& family : families) {
        if (index < family.size()) return &family[index];
        index -= static_cast<uint32_t>(family.size());
    }
    return nullptr;
}

} // namespace

void set_families(std::span<const std::span<const Routine>> table) {
    families = table;
}

natives::Entry entry(uint32_t index) {
    const Routine* r = row(index);
    return r ? r->entry : not_done;
}

uint32_t index_of(natives::Entry entry) {
    uint32_t k = 0;
    while (row(k) && row(k)->entry != entry) ++k;
    return k;
}

void init() {
    for (uint32_t k = 0; row(k); ++k) {
        const Routine& r = *row(k);
        if (!r.name) continue; // held by an object's field, not by a global word
        Cell* loaded = lexer::load_push(reinterpret_cast<const uint8_t*>(r.spec),
                                        static_cast<uint32_t>(std::strlen(r.spec)));
        Cell* spec = stack::push(memory::buffer(loaded->w2)->cells()[loaded->w1]);
        Cell* value = routine::build(spec, nullptr, k, -1, false);
        Cell* word = stack::push_cell();
        word::make_at(symbol::make(r.name), word);
        context::set_word(word, value);
        stack::top = loaded;
    }
}

} // namespace routines
