#include "library/library.h"

#include "datatypes/compound.h"
#include "datatypes/float.h"
#include "datatypes/logic.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "library/environment.h"
#include "library/image-codecs.h"
#include "library/json.h"
#include "library/predicates.h"
#include "library/profiler.h"
#include "library/system-object.h"
#include "library/zanbin-codec.h"
#include "runtime-core/data-stack.h"

namespace library {

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

const routines::Routine kPrinterRoutines[] = {
    {"float-switch", "[\"Internal Use Only\" word [word!] value [any-type!]]", float_switch},
};

} // namespace

std::span<const std::span<const routines::Routine>> routine_families() {
    static const std::span<const routines::Routine> families[] = {
        environment::table(),  kPrinterRoutines,       predicates::table(), image_codecs::table(),
        zanbin_codec::table(), system_object::table(), profiler::table(),   json::table()};
    return families;
}

} // namespace library
