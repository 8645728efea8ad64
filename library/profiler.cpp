// system/tools/profiling holds a record [name count total] per profiled function and
// system/tools/fun-stk a triple [name start end] per call in progress. A call counts when
// system/tools/options/profile/types holds the type of the function; a call that does not
// still gets a triple [none none none], so that every return takes off its own call's. The
// times are time! values read from a steady clock, so a run over midnight adds up too.
#include "library/profiler.h"

#include <chrono>
#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/time.h"
#include "datatypes/typeset.h"
#include "datatypes/words.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/memory.h"

namespace profiler {

namespace {

using interp::Status;

struct Symbols {
    uint32_t call, return_, prolog, epilog, init;
} sym;

// Calls of function values that no word holds, over every run.
uint32_t anonymous = 0;

double clock_now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

double seconds_of(const Cell* time) {
    double s;
    std::memcpy(&s, &time->w2, sizeof s);
    return s;
}

// The blocks are the routine's arguments, on the data stack (where a collection keeps them up
// to date).
Cell* profiling_arg() {
    return stack::arguments + 3;
}
Cell* fun_stk_arg() {
    return stack::arguments + 4;
}
const Cell* types_arg() {
    return stack::arguments + 5;
}

uint32_t length(const Cell* block) {
    const uint32_t tail = memory::buffer(block->w2)->length();
    return tail > block->w1 ? tail - block->w1 : 0;
}

Cell* at(const Cell* block, uint32_t n) {
    return block::cell_at(block, block->w1 + n);
}

// The record of `name` in the profiling block (its first cell), or null.
Cell* find_record(const Cell* profiling, const Cell* name) {
    if (cell::type(name) != kTypeWord) return nullptr; // anonymous names never repeat
    const uint32_t want = symbol::resolve(name->w2);
    for (uint32_t k = 0; k + 2 < length(profiling); k += 3) {
        Cell* c = at(profiling, k);
        if (cell::type(c) == kTypeWord && symbol::resolve(c->w2) == want) return c;
    }
    return nullptr;
}

// The name a call is counted under: its word, or <anonN> for a function that no word holds
// (the interpreter names such a call <anon>).
// Pushed. May collect.
Cell* push_name(const Cell* value, const Cell* ref) {
    (void)value;
    if (cell::type(ref) == kTypeWord &&
        symbol::resolve(ref->w2) != symbol::resolve(words::word.anon->w2))
        return stack::push(*ref);
    const std::string text = "anon" + std::to_string(++anonymous);
    return string::text_at(stack::push_cell(), kTypeTag, text.data(),
                           static_cast<uint32_t>(text.size()));
}

void on_call(const Cell* value, const Cell* ref) {
    Cell* fun_stk = fun_stk_arg();
    const Cell* types = types_arg();
    if (cell::type(types) != kTypeTypeset || !typeset::contains(types, cell::type(value))) {
        for (int k = 0; k < 3; ++k) block::append_copy(fun_stk, &none::value);
        return;
    }
    Cell* name = push_name(value, ref);
    Cell* profiling = profiling_arg();
    if (Cell* record = find_record(profiling, name)) {
        ++record[1].w2;
    } else {
        block::append_copy(profiling, name);
        block::append_copy(profiling, stack::push(Cell{kTypeInteger, 0, 1, 0}));
        time_::add_to_block(profiling, 0.0);
    }
    block::append_copy(fun_stk, name);
    time_::add_to_block(fun_stk, clock_now());
    block::append_copy(fun_stk, &none::value);
}

// Sets the start (prolog) or the end (epilog) of the last call's triple.
void on_body(uint32_t place) {
    Cell* fun_stk = fun_stk_arg();
    if (length(fun_stk) < 3) return;
    const uint32_t last = length(fun_stk) - 3;
    if (cell::type(at(fun_stk, last)) == kTypeNone) return;
    time_::make_at(at(fun_stk, last + place), clock_now());
}

void on_return() {
    Cell* fun_stk = fun_stk_arg();
    if (length(fun_stk) < 3) return;
    const uint32_t last = length(fun_stk) - 3;
    const Cell* name = at(fun_stk, last);
    if (cell::type(name) != kTypeNone) {
        const Cell* profiling = profiling_arg();
        const Cell* start = at(fun_stk, last + 1);
        const Cell* end = at(fun_stk, last + 2);
        if (Cell* record = find_record(profiling, name); record && cell::type(start) == kTypeTime) {
            const double until = cell::type(end) == kTypeTime ? seconds_of(end) : clock_now();
            time_::make_at(record + 2, seconds_of(record + 2) + until - seconds_of(start));
        }
    }
    block::set_tail(fun_stk, fun_stk->w1 + last);
}

void on_init() {
    block::cut_at_index(profiling_arg());
    block::cut_at_index(fun_stk_arg());
}

// profile-event event value ref profiling fun-stk types: one event of the profiler's trace
// handler, with system/tools/profiling, fun-stk and options/profile/types.
Status profile_event(const int32_t*) {
    const Cell event = *stack::arguments;
    const uint32_t e = cell::type(&event) == kTypeWord ? symbol::resolve(event.w2) : 0;
    if (cell::type(profiling_arg()) == kTypeBlock && cell::type(fun_stk_arg()) == kTypeBlock) {
        Cell* const base = stack::top;
        const Cell* value = stack::arguments + 1;
        const Cell* ref = stack::arguments + 2;
        if (e == symbol::resolve(sym.call))
            on_call(value, ref);
        else if (e == symbol::resolve(sym.prolog))
            on_body(1);
        else if (e == symbol::resolve(sym.epilog))
            on_body(2);
        else if (e == symbol::resolve(sym.return_))
            on_return();
        else if (e == symbol::resolve(sym.init))
            on_init();
        stack::top = base;
    }
    *stack::arguments = Cell{kTypeUnset, 0, 0, 0};
    return Status::normal;
}

const routines::Routine kTable[] = {
    {"profile-event",
     // Every argument is any-type!, which a routine call takes without a type lookup: the
     // entry checks what it reads.
     "[\"Internal Use Only\" event [any-type!] value [any-type!] ref [any-type!] profiling "
     "[any-type!] fun-stk [any-type!] types [any-type!]]",
     profile_event},
};

} // namespace

std::span<const routines::Routine> table() {
    return kTable;
}

void init() {
    sym = Symbols{symbol::make("call"), symbol::make("return"), symbol::make("prolog"),
                  symbol::make("epilog"), symbol::make("init")};
}

} // namespace profiler
