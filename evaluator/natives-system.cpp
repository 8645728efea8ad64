// System natives: print and prin, the memory statistics and the collector, words' values,
// the clock and waiting, the environment, file sizes and the browser; also the hooks that turn
// the memory manager's and the sort's failures into language errors.
#include <cmath>
#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/date.h"
#include "datatypes/file.h"
#include "datatypes/float.h"
#include "datatypes/form-mold.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/time.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/frames.h"
#include "evaluator/interpreter.h"
#include "evaluator/memory-stats.h"
#include "evaluator/natives.h"
#include "loading/lexer.h"
#include "os/call.h"
#include "runtime-core/collector.h"
#include "runtime-core/dyn-print.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/platform.h"
#include "runtime-core/sort.h"
#include "runtime-core/stdio.h"
#include "runtime-core/support.h"
#include "runtime-core/type-traits.h"
#include "runtime-core/unicode.h"

namespace natives {

namespace {

using interp::Status;

// The UTF-16 text of a string! from its index, at most `limit` characters (-1: all).
std::u16string utf16(const Cell* text, int32_t limit = -1) {
    memory::Buffer* b = memory::buffer(series::node(text));
    const uint32_t unit = b->unit();
    std::u16string units;
    for (const uint8_t* p = b->at_head() + series::index(text) * unit;
         p < b->at_tail() && limit != 0; p += unit, --limit) {
        const uint32_t cp = string::get_char(p, unit);
        if (cp < 0x10000) {
            units.push_back(static_cast<char16_t>(cp));
        } else {
            units.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        }
    }
    return units;
}

void write_string(const Cell* text, bool newline, int32_t limit = -1) {
    const std::u16string units = utf16(text, limit);
    stdio::write(units.data(), units.size(), newline);
}

inline Cell* arg(int i) {
    return stack::arguments + i;
}

// --- Output -------------------------------------------------------------------------------

// Forms the value (a block reduced first) and hands the text to the value-level print hooks.
Status output(bool newline) {
    Cell* a = stack::arguments;
    if (cell::type(a) == kTypeBlock) {
        Status s = reduce_block(a);
        if (s != Status::normal) return s;
        *a = stack::top[-1];
        stack::top = a + 1;
    }
    dyn_print::call(form::to_new_string(nullptr, form_mold::kNoLimit), newline ? 1 : 0);
    a->header = kTypeUnset;
    return Status::normal;
}

Status print(const int32_t*) {
    return output(true);
}
Status prin(const int32_t*) {
    return output(false);
}

// --- Memory -------------------------------------------------------------------------------

// A byte count as an integer!, or a float! above the integer range.
void size_result(Cell* result, double bytes) {
    if (bytes <= 2147483647.0)
        integer::make_at(result, static_cast<int32_t>(bytes))->header = kTypeInteger;
    else
        float_::make_at(result, bytes);
}

Status stats(const int32_t* refs) {
    struct {
        bool show, info;
    } options{ref_on(refs, 0), ref_on(refs, 1)};
    Cell* a = arg(0);
    if (options.show) {
        // The library's report prints the figures: show-memory-stats with the block that
        // /info gives.
        Cell* report = stack::push_cell();
        block::make_at(report, 8);
        memory::frame_stats(report, 2);
        const char call[] = "show-memory-stats";
        Cell* code = lexer::load_push(reinterpret_cast<const uint8_t*>(call), sizeof call - 1);
        block::append_copy(code, report);
        Status s = interp::eval_block(code);
        if (s != Status::normal) return s;
        a->header = kTypeUnset;
        return Status::normal;
    }
    if (options.info) {
        Cell* report = stack::push_cell();
        block::make_at(report, 8);
        memory::frame_stats(report, 2);
        *a = *report;
        return Status::normal;
    }
    size_result(a, memory::frame_stats(nullptr, 1));
    return Status::normal;
}

Status recycle(const int32_t* refs) {
    struct {
        bool on, off;
    } options{ref_on(refs, 0), ref_on(refs, 1)};
    if (options.on || options.off) {
        collector::state.enabled = options.on ? 1 : 0;
        arg(0)->header = kTypeUnset;
        return Status::normal;
    }
    collector::collect();
    size_result(arg(0), memory::frame_stats(nullptr, 1));
    return Status::normal;
}

// --- Words --------------------------------------------------------------------------------

Status unset(const int32_t*) {
    Cell* a = arg(0);
    if (cell::type(a) == kTypeWord) {
        interp::value_of(a)->header = kTypeUnset;
    } else {
        const uint32_t node = a->w2;
        for (uint32_t i = a->w1; i < memory::buffer(node)->length(); ++i) {
            Cell* w = memory::buffer(node)->cells() + i;
            if (traits::is_bindable_word(cell::type(w))) interp::value_of(w)->header = kTypeUnset;
        }
    }
    a->header = kTypeUnset;
    return Status::normal;
}

Status context_q(const int32_t*) {
    Cell* a = arg(0);
    const Cell* owner = a->w1 ? context::owner_of(a->w1) : nullptr;
    if (owner && cell::type(owner) != kTypeUnset)
        *a = *owner;
    else
        none::make_at(a);
    return Status::normal;
}

// --- Time ---------------------------------------------------------------------------------

Status now(const int32_t* refs) {
    struct {
        bool year, month, day, time, zone, date, weekday, yearday, precise, utc;
    } o{ref_on(refs, 0), ref_on(refs, 1), ref_on(refs, 2), ref_on(refs, 3), ref_on(refs, 4),
        ref_on(refs, 5), ref_on(refs, 6), ref_on(refs, 7), ref_on(refs, 8), ref_on(refs, 9)};
    const int picks =
        o.year + o.month + o.day + o.time + o.zone + o.date + o.weekday + o.yearday + o.precise;
    if (picks > 1 && !(picks == 2 && o.time && o.precise))
        error::fire(error::kScript, error::script::bad_refines);
    // The date and the time come from two readings of the clock: read again when midnight
    // passed between them.
    uint32_t local;
    double utc_time;
    do {
        local = static_cast<uint32_t>(platform::now_local(o.utc));
        utc_time = platform::now_utc(o.precise);
    } while (static_cast<uint32_t>(platform::now_local(o.utc)) != local);
    const uint32_t zone = date::zone_of(local);
    // The clock gives the local date and the universal time of day; the stored time is the
    // local time of day less the zone's offset.
    const double offset = date::zone_seconds(zone);
    double local_time = std::fmod(utc_time + offset, 86400.0);
    if (local_time < 0) local_time += 86400.0;
    Cell* a = arg(0);
    if (o.date) {
        const uint32_t day =
            date::pack(date::year_of(local), date::month_of(local), date::day_of(local), 0, false);
        date::make_raw_at(a, day, 0.0); // no time, no zone
        return Status::normal;
    }
    date::make_raw_at(
        a, date::pack(date::year_of(local), date::month_of(local), date::day_of(local), zone, true),
        local_time - offset);
    int32_t field = 0;
    if (o.year) field = 2;
    if (o.month) field = 3;
    if (o.day) field = 4;
    if (o.zone) field = 5;
    if (o.time) field = 6;
    if (o.weekday) field = 10;
    if (o.yearday) field = 11;
    if (field) {
        Cell date = *a;
        date::get_field(&date, field, a);
    }
    return Status::normal;
}

// Set by the GUI backend: handles the pending window messages once without waiting.
void (*event_pump)() = nullptr;

Status wait(const int32_t*) {
    Cell* a = arg(0);
    double seconds;
    switch (cell::type(a)) {
    case kTypeInteger:
        seconds = integer::get(a);
        break;
    case kTypeFloat:
    case kTypeTime:
        seconds = float_::get(a);
        break;
    default:
        error::fire(error::kScript, error::script::invalid_arg, {a});
    }
    platform::sleep(seconds);
    if (event_pump) event_pump();
    none::make_at(a);
    return Status::normal;
}

// --- Environment --------------------------------------------------------------------------

// The UTF-16 name of a variable given as a string or a word.
std::u16string variable_name(const Cell* var) {
    if (!traits::is_all_word(cell::type(var))) return utf16(var);
    Cell* base = stack::top;
    const std::u16string name = utf16(word::push_symbol_string(var));
    stack::top = base;
    return name;
}

Status set_env(const int32_t*) {
    const std::u16string name = variable_name(arg(0));
    const bool done = cell::type(arg(1)) == kTypeNone ? platform::unset_env(name)
                                                      : platform::set_env(name, utf16(arg(1)));
    if (!done) error::fire(error::kScript, error::script::invalid_arg, {arg(0)});
    stack::set_last(*arg(1));
    return Status::normal;
}

// A new string! from UTF-16 text, put in `result`. May collect.
void string_at(Cell* result, std::u16string_view text) {
    const std::string utf8 = unicode::utf16_to_utf8(text);
    string::text_at(result, kTypeString, utf8.data(), static_cast<uint32_t>(utf8.size()));
}

Status get_env(const int32_t*) {
    const std::u16string name = variable_name(arg(0));
    std::u16string value(64, u'\0');
    for (;;) {
        const uint32_t got =
            platform::get_env(name, value.data(), static_cast<uint32_t>(value.size()));
        if (got == 0) {
            // Absent, or present and empty: the two differ only in whether the name is listed.
            bool listed = false;
            for (const std::u16string& e : platform::environment_entries()) {
                std::u16string n, v;
                platform::split_environment_entry(e, n, v);
                if (n == name) listed = true;
            }
            if (listed)
                string_at(arg(0), u"");
            else
                none::make_at(arg(0));
            return Status::normal;
        }
        if (got < value.size()) {
            value.resize(got);
            break;
        }
        value.assign(got, u'\0');
    }
    string_at(arg(0), value);
    return Status::normal;
}

Status list_env(const int32_t*) {
    const std::vector<std::u16string> entries = platform::environment_entries();
    Cell* pairs = stack::push_cell();
    block::make_at(pairs, static_cast<int32_t>(entries.size() * 2));
    for (const std::u16string& entry : entries) {
        std::u16string name, value;
        platform::split_environment_entry(entry, name, value);
        for (const std::u16string* text : {&name, &value}) {
            const std::string utf8 = unicode::utf16_to_utf8(*text);
            string::text_add_to_block(pairs, kTypeString, utf8.data(),
                                      static_cast<uint32_t>(utf8.size()));
        }
    }
    map::make_at(arg(0), pairs->w2, 0);
    return Status::normal;
}

// --- Files and the browser ----------------------------------------------------------------

Status size_q(const int32_t*) {
    const int64_t size = platform::file_size(file::to_local_utf16(arg(0)));
    if (size < 0)
        none::make_at(arg(0));
    else
        size_result(arg(0), static_cast<double>(size));
    return Status::normal;
}

Status browse(const int32_t*) {
    Cell* a = arg(0);
    const std::u16string target = cell::type(a) == kTypeFile ? file::to_local_utf16(a) : utf16(a);
    platform::open_with_shell(target);
    a->header = kTypeUnset;
    return Status::normal;
}

// Refinements in spec order: /wait /show /console /shell /input /output /error.
Status call_native(const int32_t* r) {
    const int64_t result = call::run(arg(0), {.wait = ref_on(r, 0),
                                              .show = ref_on(r, 1),
                                              .console = ref_on(r, 2),
                                              .shell = ref_on(r, 3),
                                              .input = ref_arg(r, 4),
                                              .output = ref_arg(r, 5),
                                              .error = ref_arg(r, 6)});
    integer::make_at(arg(0), static_cast<int32_t>(result));
    return Status::normal;
}

// The lexer reads the refinements in spec order: /next /one /prescan /scan /part /into /trace.
Status transcode(const int32_t* r) {
    lexer::native_transcode(r[0], r[1], r[2], r[3], r[4], r[5], r[6]);
    return Status::normal;
}

} // namespace

void write_text(const uint8_t* text, size_t size, bool newline) {
    Cell* base = stack::top;
    write_string(string::load_push(text, static_cast<uint32_t>(size), string::kUtf8), newline);
    stack::top = base;
}

std::u16string formed(const Cell* value) {
    stack::mark(nullptr, stack::kNative);
    stack::push(*value);
    std::u16string text = utf16(form::to_new_string(nullptr, form_mold::kNoLimit));
    stack::unwind();
    return text;
}

void write_formed(const Cell* value, bool newline) {
    const std::u16string text = formed(value);
    stdio::write(text.data(), text.size(), newline);
}

void write_result(const Cell* value, int32_t width) {
    stack::mark(nullptr, stack::kNative);
    stack::push(*value);
    mold::entry({});
    write_text(reinterpret_cast<const uint8_t*>("== "), 3, false);
    write_string(stack::arguments, true, width > 4 ? width - 4 : -1);
    stack::unwind();
}

namespace {

// The memory manager's failures become language errors that try can catch.
[[noreturn]] void raise_memory_fault(memory::Fault fault) {
    error::fire(error::kInternal, fault == memory::Fault::no_memory ? error::internal::no_memory
                                                                    : error::internal::wrong_mem);
}

} // namespace

void print_to_output(const Cell* string, int32_t newline) {
    write_string(string, newline != 0);
}

void set_event_pump(void (*pump)()) {
    event_pump = pump;
}

namespace {

const Registration kFamily[] = {
    {kPrint, "print", print},
    {kPrin, "prin", prin},
    {kStats, "stats", stats},
    {kRecycle, "recycle", recycle},
    {kUnset, "unset", unset},
    {kContextQ, "context?", context_q},
    {kNow, "now", now},
    {kWait, "wait", wait},
    {kSetEnv, "set-env", set_env},
    {kGetEnv, "get-env", get_env},
    {kListEnv, "list-env", list_env},
    {kSizeQ, "size?", size_q},
    {kBrowse, "browse", browse},
    {kCall, "call", call_native},
    {kTranscode, "transcode", transcode},
};

} // namespace

void install_memory_fault_hook() {
    memory::set_fault_hook(raise_memory_fault);
}

std::span<const Registration> system_family() {
    return kFamily;
}

} // namespace natives
