#include "app/init.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "console/line-input.h"
#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/context.h"
#include "datatypes/cycles.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/email.h"
#include "datatypes/error.h"
#include "datatypes/file.h"
#include "datatypes/float.h"
#include "datatypes/function.h"
#include "datatypes/handle.h"
#include "datatypes/hash.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/issue.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/ownership.h"
#include "datatypes/pair.h"
#include "datatypes/paren.h"
#include "datatypes/path.h"
#include "datatypes/percent.h"
#include "datatypes/point.h"
#include "datatypes/port.h"
#include "datatypes/random-sources.h"
#include "datatypes/ref.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tag.h"
#include "datatypes/time.h"
#include "datatypes/triple.h"
#include "datatypes/tuple.h"
#include "datatypes/typeset.h"
#include "datatypes/unset.h"
#include "datatypes/url.h"
#include "datatypes/vector.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "evaluator/frames.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/parse.h"
#include "library/library.h"
#include "library/system-object.h"
#include "library/url-port.h"
#include "loading/compress.h"
#include "loading/image-codec.h"
#include "loading/lexer.h"
#include "os/io.h"
#include "runtime-core/case.h"
#include "runtime-core/collector.h"
#include "runtime-core/crypto.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/dyn-print.h"
#include "runtime-core/externals.h"
#include "runtime-core/hash.h"
#include "runtime-core/hashtable.h"
#include "runtime-core/memory.h"
#include "runtime-core/platform.h"
#include "runtime-core/root.h"
#include "runtime-core/slots.h"
#include "runtime-core/support.h"

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
    binary::register_actions();
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
    url::register_actions();
    file::register_actions();
    object::register_actions();
    bitset::register_actions();
    triple::register_actions();
    float_::register_actions();
    typeset::register_actions();
    error::register_actions();
    vector::register_actions();
    map::register_actions();
    hash_::register_actions();
    pair::register_actions();
    percent::register_actions();
    tuple::register_actions();
    handle::register_actions();
    point::register_actions();
    time_::register_actions();
    tag::register_actions();
    email::register_actions();
    date::register_actions();
    port::register_actions();
    money::register_actions();
    ref::register_actions();
    image_codec::init_codecs();
    image::register_actions();
}

// The hash seed, before any table exists: from the secure random source unless the
// environment fixes it. Should the source fail, the clock and this frame's address stand in.
void seed_hashes() {
    uint32_t random = 0;
    if (!crypto::random_bytes(&random, sizeof random)) {
        const auto now = static_cast<uint64_t>(platform::now_utc(true) * 1e6);
        const auto here = reinterpret_cast<uintptr_t>(&random);
        random = hash::mix_int(static_cast<uint32_t>(now ^ (now >> 32) ^ here));
    }
    hash::set_seed(hash::start_seed(std::getenv("ZAN_HASH_SEED"), random));
}

} // namespace

std::span<const std::span<const routines::Routine>> routine_families() {
    static const std::vector<std::span<const routines::Routine>> families = [] {
        const auto library = library::routine_families();
        std::vector<std::span<const routines::Routine>> all(library.begin(), library.end());
        all.push_back(line_input::table());
        return all;
    }();
    return families;
}

// The modules come up in a fixed order; the steps of modules still to come keep their
// places between these.
void init() {
    root::boot_flag = 1;
    dyn_print::init();
    platform::init();
    random_::init();
    seed_hashes();
    memory::init();
    externals::init();
    register_datatypes();
    io::install_services();
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
    stack::init_frames();
    cycles::init();
    lexer::init();
    slots::init();
    collector::init();
    hashtable::register_markers();
    error::init_support();
    typeset::make_standard_words();
    routines::set_families(routine_families());
    system_object::init();
    system_object::make_codecs();
    system_object::make_gc_routines();
    url_port::install();
    natives::init_checksum_words();
    compress::init();
    natives::init();
    parse::init();
    interp::init();
}

} // namespace runtime
