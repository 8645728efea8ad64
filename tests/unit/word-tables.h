// The symbol table, the global context, the word types and the runtime's word tables, brought
// up as start-up does on a runtime whose root block and datatype registry exist (RuntimeTest
// and the fixtures built on it), and taken down again before that runtime goes.
#pragma once
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "runtime-core/case.h"
#include "runtime-core/root.h"

namespace word_tables {

// May collect.
inline void start() {
    symbol::register_actions();
    context::register_actions();
    word::register_actions();
    root::boot_flag = 1;
    symbol::append_block();
    context::init_global();
    case_::init();
    symbol::init_table();
    datatype::make_name_words();
    words::init();
    refinements::init();
    root::boot_flag = 0;
}

inline void stop() {
    words::symbol = {};
    words::word = {};
    refinements::refinement = {};
    context::release();
    symbol::release();
}

} // namespace word_tables
