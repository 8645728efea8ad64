#include "evaluator/routines.h"

#include <cstring>
#include <span>

#include "datatypes/block.h"
#include "datatypes/compound.h"
#include "datatypes/context.h"
#include "datatypes/float.h"
#include "datatypes/function.h"
#include "datatypes/image.h"
#include "datatypes/logic.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/frames.h"
#include "library/environment.h"
#include "library/predicates.h"
#include "library/zanbin-codec.h"
#include "loading/lexer.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/runtime.h"
#include "runtime-core/support.h"
#include "runtime-core/throw.h"

namespace routines {

namespace {

using interp::Status;

// Keeps the printer's switches in step with the fields of system/options/float: its change
// handler passes each changed field's word and new value. A true value turns pretty? or full?
// on, any other off; other words are ignored.
Status float_switch(const int32_t*) {
    const Cell* word = stack::arguments;
    const bool on = logic::value_true(word + 1);
    if (compound::names(word, symbol::make("pretty?")))
        float_::pretty = on;
    else if (compound::names(word, symbol::make("full?")))
        float_::full = on;
    unset::make_at(stack::arguments);
    return Status::normal;
}

const Routine kRoutines[] = {
    {"float-switch", "[\"Internal Use Only\" word [word!] value [any-type!]]", float_switch},
};

Status not_done(const int32_t*) {
    error::fire(error::kInternal, error::internal::not_done);
}

// The table: each family's rows, in the order their words are bound.
const std::span<const Routine> kFamilies[] = {environment::table(), kRoutines, predicates::table(),
                                              image::codec_routines(), zanbin_codec::table()};

// The row at an index, or null.
const Routine* row(uint32_t index) {
    for (const auto& family : kFamilies) {
        if (index < family.size()) return &family[index];
        index -= static_cast<uint32_t>(family.size());
    }
    return nullptr;
}

} // namespace

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
    environment::init();
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
