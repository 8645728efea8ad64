#include "runtime-core/init.h"

#include "datatypes/core/bitset.h"
#include "datatypes/core/block.h"
#include "datatypes/core/char.h"
#include "datatypes/core/context.h"
#include "datatypes/core/datatype.h"
#include "datatypes/core/function.h"
#include "datatypes/core/integer.h"
#include "datatypes/core/issue.h"
#include "datatypes/core/logic.h"
#include "datatypes/core/native.h"
#include "datatypes/core/none.h"
#include "datatypes/core/object.h"
#include "datatypes/core/paren.h"
#include "datatypes/core/path.h"
#include "datatypes/core/series.h"
#include "datatypes/core/string.h"
#include "datatypes/core/symbol.h"
#include "datatypes/core/triple.h"
#include "datatypes/core/unset.h"
#include "datatypes/core/word.h"
#include "datatypes/more/error.h"
#include "datatypes/more/float.h"
#include "datatypes/more/typeset.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "library/system-object.h"
#include "loading/lexer.h"
#include "runtime-core/case.h"
#include "runtime-core/collector.h"
#include "runtime-core/cycles.h"
#include "runtime-core/dyn-print.h"
#include "runtime-core/externals.h"
#include "runtime-core/hashtable.h"
#include "runtime-core/memory.h"
#include "runtime-core/ownership.h"
#include "runtime-core/platform.h"
#include "runtime-core/root.h"
#include "runtime-core/slots.h"
#include "runtime-core/support.h"
#include "runtime-core/words.h"

namespace runtime {

namespace {

// The datatypes, parents before the children that inherit from them. The modules still to
// come take their places in this order: datatype! unset! none! logic! series! block!
// string! binary! integer! symbol! context! word! lit-word! set-word! get-word! refinement!
// char! native! action! op! path! lit-path! set-path! get-path! function! routine! paren!
// issue! url! file! object! bitset! triple! float! typeset! error! vector! map! hash! pair!
// percent! tuple! time! tag! email! handle! date! port! money! ref! point2D! point3D!, then
// image! after the imaging factory; event! registers during the boot program.
void register_datatypes() {
    datatype::init();
    datatype::register_actions();
    unset::register_actions();
    none::register_actions();
    logic::register_actions();
    series::register_actions();
    block::register_actions();
    string::register_actions();
    integer::register_actions();
    symbol::register_actions();
    context::register_actions();
    word::register_actions();
    char_::register_actions();
    native::register_actions();
    path::register_actions();
    function::register_actions();
    paren::register_actions();
    issue::register_actions();
    object::register_actions();
    bitset::register_actions();
    triple::register_actions();
    float_::register_actions();
    typeset::register_actions();
    error::register_actions();
}

} // namespace

// The modules come up in a fixed order; the steps of modules still to come keep their
// places between these.
void init() {
    root::boot_flag = 1;
    dyn_print::init();
    platform::init();
    memory::init();
    externals::init();
    register_datatypes();
    memory::new_node_frame(memory::kNodesPerFrame);
    memory::new_series_frame();
    root::init();
    symbol::append_block();
    context::init_global();
    case_::init();
    symbol::init_table();
    datatype::make_name_words();
    words::init();
    refinements::init();
    ownership::init();
    stack::init();
    cycles::init();
    lexer::init();
    slots::init();
    collector::init();
    hashtable::register_markers();
    error::init_support();
    typeset::make_standard_words();
    system_object::init();
    natives::init();
    interp::init();
}

} // namespace runtime
