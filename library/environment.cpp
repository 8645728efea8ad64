#include "library/environment.h"

#include <algorithm>

#include "datatypes/core/block.h"
#include "datatypes/core/context.h"
#include "datatypes/core/datatype.h"
#include "datatypes/core/logic.h"
#include "datatypes/core/symbol.h"
#include "datatypes/core/word.h"
#include "datatypes/more/error-ids.h"
#include "datatypes/more/tuple.h"
#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "loading/clipboard.h"
#include "loading/os-info.h"
#include "runtime-core/memory.h"
#include "runtime-core/support.h"

namespace environment {

namespace {

using interp::Status;

Cell* arg(uint32_t n) {
    return stack::arguments + n;
}
int32_t int_arg(uint32_t n) {
    return static_cast<int32_t>(arg(n)->w2);
}
void answer(const Cell& value) {
    *stack::arguments = value;
}
void answer_integer(int32_t n) {
    answer(Cell{kTypeInteger, 0, static_cast<uint32_t>(n), 0});
}

// script/expect-arg naming the routine, a type and the argument's word.
[[noreturn]] void expect(uint8_t type, const char* argument) {
    Cell* name = stack::push_cell();
    stack::get_call(name);
    Cell* t = datatype::push(type);
    Cell* w = word::push_new(symbol::make(argument));
    error::fire(error::kScript, error::script::expect_arg, {name, t, w});
}

Status set_quiet(const int32_t*) {
    Cell* w = arg(0);
    const uint8_t t = cell::type(w);
    if (t != kTypeWord && t != kTypeSetWord && t != kTypeGetWord && t != kTypeLitWord)
        expect(t, "word");
    context::set_in(w, arg(1), w->w1, false);
    answer(*arg(1));
    return Status::normal;
}

Status set_slot_quiet(const int32_t*) {
    Cell* series = arg(0);
    const uint8_t t = cell::type(series);
    if (t != kTypeBlock && t != kTypeParen && (t < kTypePath || t > kTypeGetPath))
        expect(kTypeBlock, "series");
    if (!block::index_at_tail(series)) *block::index_cell(series) = *arg(1);
    answer(*arg(1));
    return Status::normal;
}

// Shifts by a count of bits; counts of 32 or more shift everything out.
Status shift_right(const int32_t*) {
    const int32_t bits = std::clamp(int_arg(1), 0, 31);
    answer_integer(int_arg(0) >> bits);
    return Status::normal;
}
Status shift_left(const int32_t*) {
    const int32_t bits = int_arg(1);
    const uint32_t data = static_cast<uint32_t>(int_arg(0));
    answer_integer(bits >= 32 ? 0 : static_cast<int32_t>(data << std::max(bits, 0)));
    return Status::normal;
}
Status shift_logical(const int32_t*) {
    const int32_t bits = int_arg(1);
    const uint32_t data = static_cast<uint32_t>(int_arg(0));
    answer_integer(bits >= 32 ? 0 : static_cast<int32_t>(data >> std::max(bits, 0)));
    return Status::normal;
}

// The components in order; the first negative one is refused.
void check_components(uint32_t count) {
    for (uint32_t k = 0; k < count; ++k)
        if (int_arg(k) < 0) error::fire(error::kScript, error::script::invalid_arg, {arg(k)});
}

Status as_color(const int32_t*) {
    check_components(3);
    uint8_t bytes[3];
    for (uint32_t k = 0; k < 3; ++k) bytes[k] = static_cast<uint8_t>(int_arg(k) % 256);
    Cell result;
    tuple::make_at(&result, bytes, 3);
    answer(result);
    return Status::normal;
}

// Four components combined into one word, each shifted a byte further: a value above 255
// spills into the next byte.
Status as_ipv4(const int32_t*) {
    check_components(4);
    uint32_t word = 0;
    for (uint32_t k = 0; k < 4; ++k) word |= static_cast<uint32_t>(int_arg(k)) << (8 * k);
    const uint8_t bytes[4] = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8),
                              static_cast<uint8_t>(word >> 16), static_cast<uint8_t>(word >> 24)};
    Cell result;
    tuple::make_at(&result, bytes, 4);
    answer(result);
    return Status::normal;
}

// UTF-8 sequences from start's position up to pos's, in start's buffer.
Status count_chars(const int32_t*) {
    memory::Buffer* b = memory::buffer(arg(0)->w2);
    const uint8_t* at = b->at_head() + std::min(arg(0)->w1, b->length());
    const uint8_t* end = b->at_head() + std::min(arg(1)->w1, b->length());
    int32_t n = 0;
    while (at < end) {
        const uint8_t lead = *at;
        at += lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        ++n;
    }
    answer_integer(n);
    return Status::normal;
}

Status stack_size(const int32_t*) {
    answer_integer(static_cast<int32_t>(stack::top - stack::bottom));
    return Status::normal;
}

Status pick_stack(const int32_t*) {
    const int32_t index = int_arg(0);
    const auto size = static_cast<int32_t>(stack::top - stack::bottom);
    answer(index > 0 && index < size ? stack::bottom[index - 1] : Cell{kTypeNone, 0, 0, 0});
    return Status::normal;
}

Status frame_index(const int32_t*) {
    answer_integer(static_cast<int32_t>(stack::arguments - stack::bottom));
    return Status::normal;
}

// The OS information object: name, arch, version and build.
Status os_info(const int32_t*) {
    Cell* base = stack::top;
    answer(*platform::os_info());
    stack::top = base;
    return Status::normal;
}

// false when the clipboard stays busy, none when it holds nothing usable.
Status read_clipboard(const int32_t*) {
    Cell* base = stack::top;
    answer(*clipboard::read());
    stack::top = base;
    return Status::normal;
}

Status write_clipboard(const int32_t*) {
    const bool set = clipboard::write(arg(0));
    logic::make_at(stack::arguments, set);
    return Status::normal;
}

const routines::Routine kTable[] = {
    {"set-quiet",
     "[\"Set an object's field to a value without triggering eventual object's events\" word "
     "[any-type!] value [any-type!] return: [any-type!]]",
     set_quiet},
    {"set-slot-quiet",
     "[\"Set a value in series without triggering eventual owner's events\" series [any-type!] "
     "value [any-type!]]",
     set_slot_quiet},
    {"shift-right", "[\"Shift bits to the right\" data [integer!] bits [integer!]]", shift_right},
    {"shift-left", "[\"Shift bits to the left\" data [integer!] bits [integer!]]", shift_left},
    {"shift-logical", "[\"Shift bits to the right (unsigned)\" data [integer!] bits [integer!]]",
     shift_logical},
    {"as-color",
     "[\"Combine R, G and B values into a tuple\" r [integer!] g [integer!] b [integer!]]",
     as_color},
    {"as-ipv4",
     "[\"Combine a, b, c and d values into a tuple\" a [integer!] b [integer!] c [integer!] d "
     "[integer!]]",
     as_ipv4},
    {"as-rgba",
     "[\"Combine R, G, B and A color components into a tuple\" r [integer!] g [integer!] b "
     "[integer!] a [integer!]]",
     as_ipv4},
    {"count-chars",
     "[\"Count UTF-8 encoded characters between two positions in a binary series\" start "
     "[binary!] pos [binary!] return: [integer!]]",
     count_chars},
    {"stack-size?", "[return: [integer!]]", stack_size},
    {"pick-stack", "[idx [integer!]]", pick_stack},
    {"frame-index?", "[return: [integer!]]", frame_index},
    {"os-info", "[\"Returns detailed operating system version information\"]", os_info},
    {"read-clipboard",
     "[\"Return the contents of the system clipboard\" return: [any-type!] \"false on failure, "
     "none if empty, otherwise: string!, block! of files!, or an image!\"]",
     read_clipboard},
    {"write-clipboard",
     "[\"Write content to the system clipboard\" data [any-type!] \"string!, block! of files!, "
     "an image! or none!\" return: [logic!] \"indicates success\"]",
     write_clipboard},
};

} // namespace

std::span<const routines::Routine> table() {
    return kTable;
}

} // namespace environment
