#include "library/environment.h"

#include <algorithm>
#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/file.h"
#include "datatypes/logic.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/evaluator.h"
#include "os/clipboard.h"
#include "os/io.h"
#include "os/os-info.h"
#include "runtime-core/dyn-print.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/platform.h"
#include "runtime-core/runtime.h"
#include "runtime-core/support.h"
#include "runtime-core/throw.h"
#include "runtime-core/type-traits.h"
#include "runtime-core/unicode.h"

namespace environment {

namespace {

using interp::Status;

// The line-feed flag of the most recent print (true) or prin (false), kept by a print hook.
bool last_line_feed = false;

void note_line_feed(const Cell*, int32_t newline) {
    last_line_feed = newline != 0;
}

Cell* arg(uint32_t n) {
    return stack::arguments + n;
}
int32_t int_arg(uint32_t n) {
    return static_cast<int32_t>(arg(n)->w2);
}
void answer_integer(int32_t n) {
    stack::set_last(Cell{kTypeInteger, 0, static_cast<uint32_t>(n), 0});
}
void answer_logic(bool yes) {
    logic::make_at(stack::arguments, yes);
}
// The result of a routine that returns nothing.
Status answer_nothing() {
    unset::make_at(stack::arguments);
    return Status::normal;
}

// script/expect-arg naming the routine, a type and the argument's word.
[[noreturn]] void expect(uint8_t type, const char* argument) {
    Cell* name = stack::push_cell();
    stack::get_call(name);
    Cell* t = datatype::push(type);
    Cell* w = word::push_new(symbol::make(argument));
    error::fire(error::kScript, error::script::expect_arg, {name, t, w});
}

// Ends the evaluation with an exit status: the process ends once every frame has unwound.
Status quit_return(const int32_t*) {
    runtime::quit_status = int_arg(0);
    runtime::throw_code(runtime::kThrowOrderlyEnd);
    return Status::normal;
}

Status set_quiet(const int32_t*) {
    Cell* w = arg(0);
    const uint8_t t = cell::type(w);
    if (!traits::is_any_word(t)) expect(t, "word");
    context::set_in(w, arg(1), w->w1, false);
    stack::set_last(*arg(1));
    return Status::normal;
}

// Overwrites the cell at the series' position, unless the series is at its tail.
Status set_slot_quiet(const int32_t*) {
    Cell* series = arg(0);
    const uint8_t t = cell::type(series);
    if (!traits::is_any_block(t) || t == kTypeHash) expect(kTypeBlock, "series");
    if (!block::index_at_tail(series)) *block::index_cell(series) = *arg(1);
    return answer_nothing();
}

// Shifts by a count of bits as the shift native does: a negative count counts as 0, 32 or
// more shifts everything out.
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

Status last_lf(const int32_t*) {
    answer_logic(last_line_feed);
    return Status::normal;
}

// The current folder in the language's notation: "/" separators, a drive as the first
// folder (C:\dir\ becomes /C/dir/), a trailing "/".
Status get_current_dir(const int32_t*) {
    std::string text = unicode::utf16_to_utf8(platform::get_current_dir());
#ifdef _WIN32
    std::string form;
    bool drive = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ':' && !drive) {
            drive = true;
            form += '/';
            if (i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '/')) ++i;
        } else if (c == '\\' || c == '/') {
            if (form.empty() || form.back() != '/') form += '/';
        } else {
            form += c;
        }
    }
    if (drive) form.insert(form.begin(), '/');
    text = form;
#endif
    if (text.empty() || text.back() != '/') text += '/';
    file::make_at(stack::arguments, text.data(), static_cast<uint32_t>(text.size()));
    return Status::normal;
}

Status set_current_dir(const int32_t*) {
    if (!platform::set_current_dir(file::to_local_utf16(arg(0))))
        error::fire(error::kAccess, error::access::cannot_open, {arg(0)});
    return answer_nothing();
}

Status create_dir(const int32_t*) {
    if (!io::make_dir(arg(0))) error::fire(error::kAccess, error::access::no_create, {arg(0)});
    return answer_nothing();
}

Status exists(const int32_t*) {
    io::Stamp stamp;
    answer_logic(io::modified(file::to_local_utf16(arg(0)), stamp));
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
    stack::set_last(result);
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
    stack::set_last(result);
    return Status::normal;
}

// UTF-8 sequences from start's position up to pos's, in start's buffer: each step advances
// by the length its lead byte gives.
Status count_chars(const int32_t*) {
    memory::Buffer* b = memory::buffer(arg(0)->w2);
    const uint8_t* bytes = b->at_head();
    uint32_t at = std::min(arg(0)->w1, b->length());
    const uint32_t end = std::min(arg(1)->w1, b->length());
    int32_t n = 0;
    while (at < end) {
        const uint8_t lead = bytes[at];
        at += lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        ++n;
    }
    answer_integer(n);
    return Status::normal;
}

Status stack_size(const int32_t*) {
    answer_integer(static_cast<int32_t>(stack::index_of(stack::top)));
    return Status::normal;
}

Status pick_stack(const int32_t*) {
    const int32_t index = int_arg(0);
    const auto size = static_cast<int32_t>(stack::index_of(stack::top));
    stack::set_last(index > 0 && index < size ? stack::bottom[index - 1]
                                              : Cell{kTypeNone, 0, 0, 0});
    return Status::normal;
}

Status frame_index(const int32_t*) {
    answer_integer(static_cast<int32_t>(stack::index_of(stack::arguments)));
    return Status::normal;
}

Status collect_calls(const int32_t*) {
    stack::collect_calls(arg(0));
    return answer_nothing();
}

Status tracing(const int32_t*) {
    answer_logic(interp::tracing);
    return Status::normal;
}

// `trace` given a logic!: tracing on or off for the rest of the traced evaluation.
Status set_tracing(const int32_t*) {
    interp::set_tracing(logic::get(arg(0)));
    return answer_nothing();
}

Status write_stdout(const int32_t*) {
    io::write_file(nullptr, arg(0), -1, -1, false, false);
    return answer_nothing();
}

// The OS information object: name, arch, version and build.
Status os_info(const int32_t*) {
    Cell* base = stack::top;
    stack::set_last(*platform::os_info());
    stack::top = base;
    return Status::normal;
}

// false when the clipboard stays busy, none when it holds nothing usable.
Status read_clipboard(const int32_t*) {
    Cell* base = stack::top;
    stack::set_last(*clipboard::read());
    stack::top = base;
    return Status::normal;
}

Status write_clipboard(const int32_t*) {
    const bool set = clipboard::write(arg(0));
    logic::make_at(stack::arguments, set);
    return Status::normal;
}

const routines::Routine kTable[] = {
    {"quit-return",
     "[\"Stops evaluation and exits the program with a given status\" status [integer!] "
     "\"Process termination value to return\"]",
     quit_return},
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
    {"last-lf?", "[\"Internal Use Only\" return: [logic!]]", last_lf},
    {"get-current-dir",
     "[\"Returns the platform's current directory for the process\" return: [file!]]",
     get_current_dir},
    {"set-current-dir", "[\"Sets the platform's current process directory\" path [file!]]",
     set_current_dir},
    {"create-dir", "[\"Create the given directory\" path [file!]]", create_dir},
    {"exists?", "[\"Returns TRUE if the file exists\" path [file!] return: [logic!]]", exists},
    {"os-info", "[\"Returns detailed operating system version information\"]", os_info},
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
    {"collect-calls", "[blk [block!]]", collect_calls},
    {"tracing?", "[]", tracing},
    {"set-tracing", "[\"Internal Use Only\" on [logic!]]", set_tracing},
    {"read-clipboard",
     "[\"Return the contents of the system clipboard\" return: [any-type!] \"false on failure, "
     "none if empty, otherwise: string!, block! of files!, or an image!\"]",
     read_clipboard},
    {"write-clipboard",
     "[\"Write content to the system clipboard\" data [any-type!] \"string!, block! of files!, "
     "an image! or none!\" return: [logic!] \"indicates success\"]",
     write_clipboard},
    {"write-stdout", "[\"Write data to STDOUT\" data [any-type!]]", write_stdout},
};

} // namespace

std::span<const routines::Routine> table() {
    return kTable;
}

void init() {
    last_line_feed = false;
    dyn_print::add(note_line_feed, nullptr);
}

} // namespace environment
