// string! append, insert, change, take and swap.
//
// Every insertion is one splice: at a position, some characters (none for insert and
// append) give way to the new text written `dup` times. The new text is a character, a run
// of another text (a tag! between angle brackets), or the form of any other value.
#include <algorithm>
#include <cstring>

#include "datatypes/dispatch.h"
#include "datatypes/form-mold.h"
#include "datatypes/none.h"
#include "datatypes/ownership.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/support.h"

using memory::Buffer;
using ownership::Action;

namespace string {

namespace {

// The most bytes a text buffer may hold.
constexpr int64_t kMaxBytes = 0x7FFFFFF0;
// The position of the tail, whatever the length is by then.
constexpr uint32_t kAtTail = 0xFFFFFFFF;

[[noreturn]] void no_memory() {
    error::fire(error::kInternal, error::internal::no_memory);
}

// The units a char! needs when inserted: appending keeps 1-byte units for ASCII only.
uint32_t width_of(uint32_t cp) {
    return cp < 0x80 ? 1 : cp < 0x10000 ? 2 : 4;
}

void put(uint8_t* at, uint32_t unit, uint32_t cp) {
    switch (unit) {
    case 1:
        *at = static_cast<uint8_t>(cp);
        break;
    case 2: {
        const auto v = static_cast<uint16_t>(cp);
        std::memcpy(at, &v, 2);
        break;
    }
    default:
        std::memcpy(at, &cp, 4);
    }
}

// Makes room for `units` units at the buffer's width from its head: the buffer grows to
// that size, or to twice its size when that is more. May collect.
Buffer* ensure_room(const Cell* series, int64_t units) {
    Buffer* b = memory::buffer(series->w2);
    const int64_t bytes = units * b->unit();
    if (bytes > kMaxBytes) no_memory();
    if (b->head + bytes <= b->size) return b;
    const int64_t doubled = 2 * static_cast<int64_t>(b->size);
    const int64_t size =
        std::min<int64_t>(std::max(doubled, (bytes + 15) & ~int64_t{15}), kMaxBytes);
    return memory::expand_series_to(b, static_cast<uint32_t>(size));
}

// A new text that is not formed: one character, or characters of a text.
struct Piece {
    bool character = false;
    bool tag = false;
    uint32_t cp = 0;
    uint32_t unit = 1;   // the width the target needs
    uint32_t length = 0; // characters written once, a tag's brackets included
    uint32_t text = 0;   // characters taken from the text
    uint32_t index = 0;  // where they start in the source
    GcRoot source;       // the source's node
};

// The piece of a char! or text value; /part counts the characters written. A text on the
// series' own buffer is copied first, so that moving the series' characters cannot change
// what is read. May collect.
void piece_of(Piece& p, const Cell* series, const Cell* value, int32_t part) {
    if (cell::type(value) == kTypeChar) {
        p.character = true;
        p.cp = value->w2;
        p.unit = width_of(p.cp);
        p.length = 1;
        return;
    }
    p.tag = cell::type(value) == kTypeTag;
    Buffer* vb = memory::buffer(value->w2);
    const uint32_t index = series::clamped_index(value);
    const uint32_t available = vb->length() - index;
    int64_t length = available + (p.tag ? 2 : 0);
    if (part >= 0) length = std::min<int64_t>(length, part);
    p.length = static_cast<uint32_t>(length);
    p.text = static_cast<uint32_t>(std::clamp<int64_t>(p.tag ? length - 1 : length, 0, available));
    p.unit = vb->unit();
    if (value->w2 == series->w2 && p.text > 0) {
        p.source.set_node(series::copy_part(value->w2, index, p.text));
        p.index = 0;
    } else {
        p.source.set_node(value->w2);
        p.index = index;
    }
}

// Writes the piece once at `to` in units of `unit`.
void write_piece(uint8_t* to, uint32_t unit, const Piece& p) {
    if (p.character) {
        put(to, unit, p.cp);
        return;
    }
    uint32_t left = p.length;
    if (p.tag && left > 0) {
        put(to, unit, '<');
        to += unit;
        --left;
    }
    Buffer* sb = memory::buffer(p.source.node());
    const uint32_t su = sb->unit();
    const uint8_t* from = sb->at_head() + p.index * su;
    if (su == unit) {
        std::memcpy(to, from, static_cast<size_t>(p.text) * unit);
    } else {
        for (uint32_t i = 0; i < p.text; ++i) put(to + i * unit, unit, get_char(from + i * su, su));
    }
    to += static_cast<size_t>(p.text) * unit;
    left -= p.text;
    if (left > 0) put(to, unit, '>');
}

// Replaces `removed` characters at `at` (-1: as many as are written, within the text) by
// the piece written `dup` times. Answers the characters written. May collect.
int64_t splice_piece(Cell* series, uint32_t at, int64_t removed, const Piece& p, int32_t dup) {
    Buffer* b = memory::buffer(series->w2);
    const uint32_t length = b->length();
    at = std::min(at, length);
    const int64_t written = static_cast<int64_t>(p.length) * dup;
    if (removed < 0) removed = std::min<int64_t>(written, length - at);
    if (written == 0 && removed == 0) return 0;
    const int64_t new_length = length - removed + written;
    const uint32_t unit = written > 0 ? std::max(b->unit(), p.unit) : b->unit();
    if (new_length * unit > kMaxBytes) no_memory();
    if (unit > b->unit()) widen_to(b, b->unit(), unit);
    b = ensure_room(series, new_length);
    uint8_t* head = b->at_head();
    uint8_t* to = head + static_cast<size_t>(at) * unit;
    std::memmove(to + written * unit, to + removed * unit,
                 static_cast<size_t>(length - at - removed) * unit);
    if (written > 0) {
        write_piece(to, unit, p);
        memory::repeat_fill(to, p.length * unit, static_cast<uint32_t>(dup));
    }
    b->tail = b->head + static_cast<uint32_t>(new_length * unit);
    return written;
}

// Forms a value at the tail of `out`, at most `limit` characters (kNoLimit: all). Answers
// the limit less what was written. May collect.
int64_t form_limited(Cell* out, Cell* value, int64_t limit) {
    const uint32_t before = length_from_head(out);
    Cell* top = stack::top;
    if (limit >= form_mold::kNoLimit) {
        actions::form(value, out, nullptr, form_mold::kNoLimit);
    } else {
        // Forms that can stop early (a block's) stop at the budget.
        Cell* part = series::integer_at(stack::push_cell(), static_cast<int32_t>(limit));
        actions::form(value, out, part, static_cast<int32_t>(limit));
    }
    stack::top = top;
    Buffer* b = memory::buffer(out->w2);
    int64_t written = static_cast<int64_t>(b->length()) - before;
    if (written > limit) {
        truncate(b, static_cast<uint32_t>(before + limit));
        written = limit;
    }
    return limit - written;
}

// Forms a value at the tail of `out`: a block!, paren! or hash! element after element. /part
// counts elements, or with /only characters (what one element leaves over goes to the next).
// May collect.
void form_value(Cell* out, Cell* value, int32_t part, bool only) {
    int64_t count = part < 0 ? form_mold::kNoLimit : part;
    if (count == 0) return;
    if (!series::is_any_list(cell::type(value))) {
        form_limited(out, value, only ? count : form_mold::kNoLimit);
        return;
    }
    // Forming may collect: the elements are read again through the value's cell each time.
    for (uint32_t i = series::clamped_index(value); count > 0; ++i) {
        if (i >= series::total_units(value)) break;
        GcRoot item(memory::buffer(value->w2)->cells()[i]);
        if (only) {
            count = form_limited(out, &item.cell(), count);
        } else {
            form_limited(out, &item.cell(), form_mold::kNoLimit);
            --count;
        }
    }
}

// The splice of any value at `at` (kAtTail: the tail). A value that is not text is formed
// into a string of its own first: forming may read the series itself (a block that holds
// it), which must not change meanwhile. May collect.
int64_t splice(Cell* series, uint32_t at, int64_t removed, Cell* value, int32_t part, bool only,
               int32_t dup) {
    const uint8_t t = cell::type(value);
    Cell* top = stack::top;
    if (t != kTypeChar && !series::is_any_string(t)) {
        Cell* formed = make_at(stack::push_cell(), 16);
        form_value(formed, value, part, only);
        value = formed;
        part = -1;
    }
    Piece p;
    piece_of(p, series, value, part);
    if (at == kAtTail) at = length_from_head(series);
    const int64_t written = splice_piece(series, at, removed, p, dup);
    stack::top = top;
    return written;
}

// Units of a series from its index.
int64_t length_of(const Cell* series) {
    return static_cast<int64_t>(series::total_units(series)) - series::clamped_index(series);
}

// The count an owner hears of before the change: the characters of a char! or text, the
// elements of a block (within /part), 1 for a formed value; times dup.
int32_t announced(const Cell* value, int32_t part, int32_t dup) {
    const uint8_t t = cell::type(value);
    int64_t n = 1;
    if (series::is_any_string(t) || series::is_any_list(t)) {
        n = length_of(value) + (t == kTypeTag ? 2 : 0);
        if (part >= 0) n = std::min<int64_t>(n, part);
    }
    return static_cast<int32_t>(std::min<int64_t>(n * dup, 0x7FFFFFFF));
}

int32_t uint32_to_int(int64_t n) {
    return static_cast<int32_t>(std::min<int64_t>(n, 0x7FFFFFFF));
}

// The character at a text or binary position, in a cell.
uint32_t unit_at(const Cell* series, uint32_t index) {
    Buffer* b = memory::buffer(series->w2);
    return get_char(b->at_head() + static_cast<size_t>(index) * b->unit(), b->unit());
}

// A binary! holds bytes: a character above FF cannot go into one.
void check_byte(const Cell* target, uint32_t cp) {
    if (cell::type(target) == kTypeBinary && cp > 0xFF) {
        Cell* c = series::char_at(stack::push_cell(), cp);
        error::fire(error::kScript, error::script::invalid_arg, {c});
    }
}

} // namespace

namespace detail {

Cell* append_value(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool notify) {
    dup = std::max(dup, 0);
    const auto length = static_cast<int32_t>(length_from_head(series));
    const bool owned = notify && series::notify(series, Action::append, value, length,
                                                announced(value, part, dup));
    const int64_t written = splice(series, kAtTail, 0, value, part, only, dup);
    if (owned) series::notify(series, Action::appended, value, length, uint32_to_int(written));
    if (written > 0) series->w1 = 0;
    return series;
}

} // namespace detail

namespace {

[[gnu::noinline]] Cell* append_slowly(Cell* series, Cell* value, int32_t part, bool only,
                                      int32_t dup) {
    if (cell::type(value) == kTypeChar && dup == 1) {
        Buffer* b = memory::buffer(series->w2);
        if (!(b->flags & memory::kFlagOwned)) {
            append_char(b, value->w2);
            series->w1 = 0;
            return series;
        }
    }
    return detail::append_value(series, value, part, only, dup, true);
}

} // namespace

Cell* append(Cell* series, Cell* value, const action::InsertOptions& options) {
    // One ASCII character into a one-byte text with room that nobody owns: the common case,
    // kept to a few instructions.
    if (cell::type(value) == kTypeChar && value->w2 < 0x80 && options.dup == 1) {
        Buffer* b = memory::buffer(series->w2);
        if ((b->flags & (memory::kUnitMask | memory::kFlagOwned)) == 1 && b->tail < b->size) {
            b->data()[b->tail++] = static_cast<uint8_t>(value->w2);
            series->w1 = 0;
            return series;
        }
    }
    return append_slowly(series, value, options.part, options.only, options.dup);
}

Cell* insert(Cell* series, Cell* value, const action::InsertOptions& options) {
    const int32_t dup = std::max(options.dup, 0);
    uint32_t index = series::clamped_index(series);
    series->w1 = index;
    const bool owned = series::notify(series, Action::insert, value, static_cast<int32_t>(index),
                                      announced(value, options.part, dup));
    index = series::clamped_index(series); // the owner may have changed the series
    const int64_t written = splice(series, index, 0, value, options.part, options.only, dup);
    if (owned)
        series::notify(series, Action::inserted, value, static_cast<int32_t>(index),
                       uint32_to_int(written));
    series->w1 =
        static_cast<uint32_t>(std::min<int64_t>(index + written, series::total_units(series)));
    return series;
}

Cell* change(Cell* series, Cell* value, const action::ChangeOptions& options) {
    const int32_t part = options.part;
    const int32_t dup = std::max(options.dup, 0);
    uint32_t index = series::clamped_index(series);
    series->w1 = index;
    int64_t available = series::total_units(series) - index;
    int64_t count;
    if (part >= 0) {
        count = std::min<int64_t>(part, available);
    } else {
        const bool list = series::is_any_list(cell::type(value));
        count = (list ? length_of(value) : 1) * static_cast<int64_t>(dup);
    }
    const bool owned = series::notify(series, Action::change, value, static_cast<int32_t>(index),
                                      uint32_to_int(count));
    index = series::clamped_index(series);
    available = series::total_units(series) - index;
    // At the tail a change appends the whole value.
    const int64_t removed = available == 0 ? 0
                            : part >= 0    ? std::min<int64_t>(part, available)
                                           : -1;
    const int64_t written = splice(series, index, removed, value, -1, options.only, dup);
    if (owned)
        series::notify(series, Action::changed, value, static_cast<int32_t>(index),
                       uint32_to_int(written));
    series->w1 =
        static_cast<uint32_t>(std::min<int64_t>(index + written, series::total_units(series)));
    return series;
}

Cell* take(Cell* series, const action::TakeOptions& options) {
    Cell* taken = series::take(series, options);
    if (options.part || cell::type(taken) == kTypeNone) return taken;
    // Without /part the one unit taken waits in the shared take scratch: hand out its value.
    Buffer* b = memory::buffer(taken->w2);
    if (b->length() != 1) return none::make_at(taken);
    const uint8_t* at = b->at_head();
    switch (cell::type(taken)) {
    case kTypeBinary:
        return series::integer_at(taken, *at);
    case kTypeVector:
        if (!series::services.vector_get) error::fire(error::kInternal, error::internal::not_done);
        series::services.vector_get(at, b->unit(), taken->w3, taken);
        return taken;
    default:
        return series::char_at(taken, get_char(at, b->unit()));
    }
}

Cell* swap(Cell* series, Cell* other) {
    const uint8_t ot = cell::type(other);
    if (!series::is_any_string(ot) && ot != kTypeBinary)
        error::fire(error::kScript, error::script::invalid_arg, {other});
    uint32_t i = series::clamped_index(series);
    uint32_t j = series::clamped_index(other);
    if (i >= series::total_units(series) || j >= series::total_units(other)) return series;
    check_byte(series, unit_at(other, j));
    check_byte(other, unit_at(series, i));
    const bool first = series::notify(series, Action::swap, nullptr, static_cast<int32_t>(i), 1);
    const bool second = series::notify(other, Action::swap, nullptr, static_cast<int32_t>(j), 1);
    i = series::clamped_index(series);
    j = series::clamped_index(other);
    if (i < series::total_units(series) && j < series::total_units(other)) {
        const uint32_t a = unit_at(series, i);
        const uint32_t c = unit_at(other, j);
        check_byte(series, c);
        check_byte(other, a);
        Buffer* b = memory::buffer(series->w2);
        write_char(b, b->at_head() + static_cast<size_t>(i) * b->unit(), c);
        b = memory::buffer(other->w2); // the first write may have widened or moved it
        write_char(b, b->at_head() + static_cast<size_t>(j) * b->unit(), a);
    }
    if (first) series::notify(series, Action::swaped, nullptr, static_cast<int32_t>(i), 1);
    if (second) series::notify(other, Action::swaped, nullptr, static_cast<int32_t>(j), 1);
    return series;
}

} // namespace string
