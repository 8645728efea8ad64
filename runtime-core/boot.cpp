#include "runtime-core/boot.h"

#include "datatypes/core/context.h"
#include "datatypes/core/datatype.h"
#include "datatypes/core/native.h"
#include "datatypes/core/symbol.h"
#include "datatypes/core/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/routines.h"
#include "evaluator/stack.h"
#include "loading/lexer.h"
#include "runtime-core/collector.h"
#include "runtime-core/memory.h"
#include "runtime-core/root.h"
#include "runtime-core/runtime.h"

namespace boot {

int32_t header_end(const Cell* block) {
    const uint32_t zan = symbol::make("Zan");
    memory::Buffer* b = memory::buffer(block->w2);
    for (uint32_t k = block->w1; k + 1 < b->length(); ++k) {
        const Cell* c = b->cells() + k;
        if (cell::type(c) == kTypeWord && c->w2 == zan)
            return cell::type(c + 1) == kTypeBlock ? static_cast<int32_t>(k + 2) : -1;
    }
    return -1;
}

void run_source(const char*, const uint8_t* text, uint32_t size) {
    Cell* code = lexer::load_push(text, size);
    const int32_t start = header_end(code);
    if (start < 0) runtime::quit(runtime::kErrorAssertion, 0);
    code->w1 = static_cast<uint32_t>(start);
    interp::status_to_error(interp::eval_block(code));
    stack::top = code;
}

void run() {
    for (int32_t t = 1; t <= datatype::highest_type_id; ++t) {
        const Cell* word = datatype::name_record(static_cast<uint32_t>(t)).word;
        // series! names the group typeset rather than the datatype.
        if (!word || cell::type(context::get_word(word)) != kTypeUnset) continue;
        Cell value;
        datatype::make_at(&value, static_cast<uint32_t>(t));
        context::set_word(const_cast<Cell*>(word), &value);
    }
    routines::init();
    // The definitions of the natives and actions are made by `make`, itself an action: a
    // first `make` is made here, and the actions' source then redefines it with its doc.
    {
        const char spec[] = "[[type [any-type!] spec [any-type!]] 1]";
        Cell* loaded = lexer::load_push(reinterpret_cast<const uint8_t*>(spec), sizeof spec - 1);
        Cell* make_spec = stack::push(memory::buffer(loaded->w2)->cells()[loaded->w1]);
        Cell* prototype = datatype::push(kTypeAction);
        Cell* made = native::make(prototype, make_spec, kTypeAction);
        Cell* word = stack::push_cell();
        word::make_at(symbol::make("make"), word);
        context::set_word(word, made);
        stack::top = loaded;
    }
    // From here on a collection may run at any allocation.
    collector::state.enabled = 1;
    root::boot_flag = 0;
    for (unsigned k = 0; k < kSourceCount; ++k)
        run_source(kSources[k].name, kSources[k].text, kSources[k].size);
}

} // namespace boot
