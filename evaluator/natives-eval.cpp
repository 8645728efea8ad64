// Evaluation, function-making and binding natives.
#include "datatypes/core/block.h"
#include "datatypes/core/context.h"
#include "datatypes/core/function.h"
#include "datatypes/core/logic.h"
#include "datatypes/core/word.h"
#include "datatypes/more/error-ids.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime-core/memory.h"
#include "runtime-core/support.h"
#include "runtime-core/words.h"

namespace natives {

using interp::Status;

Status reduce_block(const Cell* block) {
    Cell* code = stack::push(*block);
    uint32_t i = code->w1;
    while (i < memory::buffer(code->w2)->length()) {
        Status s = interp::eval_next(code, &i);
        if (s != Status::normal) return s;
    }
    const auto count = static_cast<int32_t>(stack::top - (code + 1));
    Cell* out = block::push_new(count);
    for (Cell* v = code + 1; v < out; ++v) block::append_copy(out, v);
    *code = *out;
    stack::top = code + 1;
    return Status::normal;
}

namespace {

inline Cell* arg(int i) {
    return stack::arguments + i;
}

Status do_(const int32_t* refs) {
    Cell* a = arg(0);
    switch (cell::type(a)) {
    case kTypeBlock:
    case kTypeParen: {
        Cell* position = ref_arg(refs, 2);
        if (!position) return interp::do_block(a);
        // do/next: one expression; the word gets the position after it.
        uint32_t i = a->w1;
        if (i >= memory::buffer(a->w2)->length()) {
            Cell end = *a;
            context::set_word(position, &end);
            a->header = kTypeUnset;
            return Status::normal;
        }
        Status s = interp::eval_next(a, &i);
        if (s != Status::normal) return s;
        Cell next = *a;
        next.w1 = i;
        Cell value = stack::top[-1];
        context::set_word(position, &next);
        *arg(0) = value;
        return Status::normal;
    }
    case kTypePath:
    case kTypeGetPath: {
        Status s = interp::get_path(a);
        if (s == Status::normal) *a = stack::top[-1];
        return s;
    }
    default:
        return Status::normal;
    }
}

Status reduce(const int32_t*) {
    if (cell::type(arg(0)) != kTypeBlock && cell::type(arg(0)) != kTypeParen) return Status::normal;
    Status s = reduce_block(arg(0));
    if (s == Status::normal) *arg(0) = stack::top[-1];
    return s;
}

// Makes a function from the spec and body cells given and makes it the result.
Status make_function(Cell* spec, Cell* body) {
    const uint32_t flags = function::validate_spec(spec);
    function::build(spec, body, flags);
    *stack::arguments = stack::top[-1];
    return Status::normal;
}

Status func(const int32_t*) {
    return make_function(arg(0), arg(1));
}

Status function_(const int32_t*) {
    Cell* spec = block::copy_series(arg(0), false, false);
    function::collect_locals(spec, arg(1));
    return make_function(spec, arg(1));
}

Status does(const int32_t*) {
    Cell* spec = block::push_new(1);
    return make_function(spec, arg(0));
}

Status has(const int32_t*) {
    Cell* spec = block::push_new(4);
    Cell local = *refinements::refinement.local;
    block::append_copy(spec, &local);
    block::append_cells(spec, arg(0));
    return make_function(spec, arg(1));
}

Status get(const int32_t* refs) {
    Cell* a = arg(0);
    if (cell::type(a) == kTypePath || cell::type(a) == kTypeGetPath ||
        cell::type(a) == kTypeLitPath || cell::type(a) == kTypeSetPath) {
        Status s = interp::get_path(a);
        if (s == Status::normal) *a = stack::top[-1];
        return s;
    }
    const Cell* value = interp::value_of(a);
    if (cell::type(value) == kTypeUnset && !ref_on(refs, 0))
        error::fire(error::kScript, error::script::no_value, {a});
    *a = *value;
    return Status::normal;
}

Status set(const int32_t* refs) {
    Cell* a = arg(0);
    if (cell::type(arg(1)) == kTypeUnset && !ref_on(refs, 0))
        error::fire(error::kScript, error::script::need_value, {a});
    if (cell::type(a) == kTypeBlock) {
        const uint32_t n = memory::buffer(a->w2)->length();
        for (uint32_t k = a->w1, v = 0; k < n; ++k) {
            Cell w = memory::buffer(a->w2)->cells()[k];
            Cell* source = arg(1);
            Cell value = *source;
            if (cell::type(source) == kTypeBlock && !ref_on(refs, 2)) {
                const uint32_t at = source->w1 + v++;
                value = at < memory::buffer(source->w2)->length()
                            ? memory::buffer(source->w2)->cells()[at]
                            : Cell{kTypeNone, 0, 0, 0};
            }
            if (word::any_word(cell::type(&w))) {
                Cell* held = stack::push(w);
                context::set_word(held, &value);
                stack::pop(1);
            }
        }
    } else {
        context::set_word(a, arg(1));
    }
    *a = *arg(1);
    return Status::normal;
}

Status value_q(const int32_t*) {
    Cell* a = arg(0);
    bool has = false;
    if (a->w1 != 0) {
        const int32_t index = a->w3 != word::kUnresolved ? static_cast<int32_t>(a->w3)
                                                         : context::find_word(a->w1, a->w2, true);
        const Cell* v = index >= 0 ? context::slot(a->w1, index) : nullptr;
        has = v && cell::type(v) != kTypeUnset;
    }
    logic::make_at(a, has);
    return Status::normal;
}

Status apply_(const int32_t*) {
    Cell* f = arg(0);
    if (cell::type(f) == kTypeWord) *f = *interp::value_of(f);
    Status s = interp::apply(f, arg(1));
    if (s == Status::normal) *arg(0) = stack::top[-1];
    return s;
}

} // namespace

void register_eval() {
    set(kDo, do_);
    set(kReduce, reduce);
    set(kFunc, func);
    set(kFunction, function_);
    set(kDoes, does);
    set(kHas, has);
    set(kGet, get);
    set(kSet, set);
    set(kValueQ, value_q);
    set(kApply, apply_);
}

} // namespace natives
