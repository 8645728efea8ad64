#include "loading/lexer.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/compound.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "loading/lexer-engine.h"
#include "loading/lexer-literals.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/support.h"
#include "runtime-core/type-traits.h"
#include "runtime-core/unicode.h"

namespace lexer {

using engine::Record;
using namespace table;

namespace {

constexpr uint32_t kInitialSlots = 1000;
constexpr uint32_t kWorkBufferSize = 100000;
constexpr uint32_t kNearBytes = 30;

// Event bits of a trace function's mask.
constexpr uint32_t kEventPrescan = 1, kEventScan = 2, kEventLoad = 4, kEventOpen = 8,
                   kEventClose = 16, kEventError = 32, kEventAll = 63;

// The value slot buffer, shared by all active scans (each starts at its parent's tail).
Cell* slots = nullptr;
uint32_t slot_capacity = 0;

// The UTF-8 work buffer: used as a stack by nested scans.
uint8_t* work = nullptr;
uint32_t work_fill = 0;

// The innermost active scan.
Record* active = nullptr;

// Unicode whitespace beyond ASCII: bit 0x80 >> (c & 7) of byte c >> 3.
uint8_t whitespace[(0x3000 >> 3) + 1];

// Code points of decode_text.
std::vector<uint32_t> scratch;

const TraceServices* trace_services = nullptr;

// Thrown to end a scan without an error message (scan modes, a tracer's refusal).
struct Stop {};

bool marker_registered = false;

void mark_slots() {
    if (active && slots) collector::mark_block(slots, slots + active->slot_tail);
}

bool is_whitespace(int32_t cp) {
    return cp >= 0 && cp <= 0x3000 && (whitespace[cp >> 3] & (0x80 >> (cp & 7)));
}

// --- Level markers --------------------------------------------------------------------------
// A marker cell has type 0 (the collector passes over it): bits 8-15 of its header give the
// level's datatype, the new-line bit is kept for the series that replaces it, word 1 is the
// enclosing level's marker, word 2 the opener's offset in the input.

uint8_t marker_type(const Cell* m) {
    return static_cast<uint8_t>((m->header >> 8) & 0xFF);
}

// The state a token starts in: inside a braced string, a path or a point literal, or 0.
uint8_t entry_for(const Record& r) {
    if (r.braced_depth > 0) return kInBracedString;
    const uint8_t t = engine::level_type(r);
    if (traits::is_any_path(t)) return kInPath;
    if (t == kTypePoint2D) return kInPoint;
    return kStart;
}

// The position of a byte of the input as the input series counts: characters of a string
// (walking from the last position asked for when that lies before it), bytes of a binary.
uint32_t input_position(Record& r, const uint8_t* at) {
    if (r.input && cell::type(r.input) == kTypeBinary)
        return static_cast<uint32_t>(at - r.input_start);
    if (!r.cached_at || at < r.cached_at) {
        r.cached_at = r.input_start;
        r.cached_chars = 0;
    }
    r.cached_chars += utf8::count_chars(r.cached_at, at);
    r.cached_at = at;
    return r.cached_chars;
}

// --- Trace events -----------------------------------------------------------------------------

// Sends an event to the trace function; answers its result (true without a tracer or when
// the mask leaves the event out). The scan continues from the input position the function
// leaves.
bool send(Record& r, uint32_t bit, const Cell* event, const Cell* type, const Cell* token) {
    if (!r.trace || !(r.mask & bit)) return true;
    if (!trace_services) error::fire(error::kInternal, error::internal::not_done);
    Cell* const base = stack::top;
    Cell* input = stack::push(*r.input);
    const bool chars = cell::type(r.input) != kTypeBinary;
    const uint32_t index0 = r.input->w1;
    input->w1 = index0 + input_position(r, r.pos);
    const uint32_t before = input->w1;
    Cell* line = integer::push(r.line);
    Cell* type_arg = stack::push(type ? *type : Cell{kTypeNone, 0, 0, 0});
    Cell* token_arg = stack::push(token ? *token : Cell{kTypeNone, 0, 0, 0});
    Cell* fn = stack::push(*r.trace);
    const bool result = trace_services->call(fn, event, input, type_arg, line, token_arg);
    if (input->w1 != before) {
        const uint32_t to = input->w1 < index0 ? 0 : input->w1 - index0;
        r.pos = chars ? utf8::skip_chars(r.input_start, r.input_end, to)
                      : r.input_start + std::min<uint32_t>(
                                            to, static_cast<uint32_t>(r.input_end - r.input_start));
    }
    stack::top = base;
    return result;
}

// The datatype value of an event, none when the token has none.
Cell type_value(uint8_t type) {
    return type ? Cell{kTypeDatatype, type, 0, 0} : Cell{kTypeNone, 0, 0, 0};
}

// The token of a non-load event: the pair of one-based character positions.
Cell* push_token_pair(Record& r) {
    Cell* c = stack::push(Cell{kTypeUnset, 0, 0, 0});
    const auto start = static_cast<int32_t>(input_position(r, r.token_start)) + 1;
    const auto end = static_cast<int32_t>(input_position(r, r.token_end)) + 1;
    literals::make_pair(c, start, end);
    return c;
}

bool send_token_event(Record& r, uint32_t bit, const Cell* event) {
    if (!r.trace || !(r.mask & bit)) return true;
    Cell* const base = stack::top;
    Cell* token = push_token_pair(r);
    const Cell type = type_value(r.token_type);
    const bool result = send(r, bit, event, &type, token);
    stack::top = base;
    return result;
}

// The load event of the value a loader has just built in the slots from `before` on; a false
// answer drops the value.
void send_load_event(Record& r, uint32_t before) {
    if (!r.trace || !(r.mask & kEventLoad) || r.slot_tail <= before) return;
    const Cell t = type_value(r.token_type);
    Cell* const base = stack::top;
    Cell* value = stack::push(*engine::slot(r.slot_tail - 1));
    if (!send(r, kEventLoad, words::word.load, &t, value)) r.slot_tail = before;
    stack::top = base;
}

// The event mask of a trace function: the events named in a block at the head of its body,
// or all of them.
uint32_t event_mask(const Cell* function) {
    if (!trace_services) error::fire(error::kInternal, error::internal::not_done);
    const Cell body = trace_services->body_of(function);
    if (!series::is_any_block(cell::type(&body)) || block::index_at_tail(&body)) return kEventAll;
    const Cell* first = block::cell_at(&body, body.w1);
    if (cell::type(first) != kTypeBlock) return kEventAll;
    static const struct {
        const char* name;
        uint32_t bit;
    } events[] = {{"prescan", kEventPrescan}, {"scan", kEventScan},   {"load", kEventLoad},
                  {"open", kEventOpen},       {"close", kEventClose}, {"error", kEventError}};
    uint32_t mask = 0;
    const int32_t n = block::length_from_index(first);
    for (int32_t i = 0; i < n; ++i) {
        const Cell* w = block::cell_at(first, first->w1 + static_cast<uint32_t>(i));
        if (!traits::is_all_word(cell::type(w))) continue;
        const std::string_view name = symbol::text(w->w2);
        for (const auto& e : events)
            if (name.size() == std::strlen(e.name) &&
                std::equal(name.begin(), name.end(), e.name,
                           [](char a, char b) { return (a | 0x20) == b; }))
                mask |= e.bit;
    }
    return mask;
}

// --- Levels ---------------------------------------------------------------------------------

[[noreturn]] void missing(Record& r) {
    engine::raise_error(r, r.token_start, r.token_end, engine::kMissingBlock);
}

// Closes the innermost level, expected to be of `expected` (a `]` also closes a map, a
// set-path close any path). Its cells become a series of its datatype in the marker's slot.
void close_level(Record& r, uint8_t expected) {
    if (r.level_head == engine::kNoLevel) missing(r);
    Cell* m = engine::slot(r.level_head);
    uint8_t type = marker_type(m);
    const bool path_close = expected == kTypeSetPath || expected == kTypePath;
    const bool ok = type == expected || (expected == kTypeBlock && type == kTypeMap) ||
                    (path_close && traits::is_any_path(type));
    if (!ok) missing(r);
    if (expected == kTypeSetPath) type = kTypeSetPath;
    if (r.trace && (r.mask & kEventClose)) {
        const Cell t = type_value(type);
        Cell* const base = stack::top;
        const bool go_on = send(r, kEventClose, words::word.close, &t, push_token_pair(r));
        stack::top = base;
        if (!go_on) return;
    }
    const uint32_t at = r.level_head;
    m = engine::slot(at);
    const uint32_t enclosing = m->w1;
    const uint32_t new_line = m->header & cell::kNewLine;
    const uint32_t count = r.slot_tail - at - 1;
    r.last_type = type;
    if (r.load) {
        // A map literal is pairs whose keys are of the types a map! takes.
        if (type == kTypeMap) {
            bool pairs = count % 2 == 0;
            for (uint32_t i = 0; pairs && i < count; i += 2)
                pairs = map::valid_key_type(cell::type(engine::slot(at + 1 + i)));
            if (!pairs) engine::raise_error(r, r.token_start, r.token_end + 1, kTypeMap);
        }
        *m = Cell{kTypeUnset, 0, 0, 0};
        block::make_at(engine::slot(at), static_cast<int32_t>(count));
        m = engine::slot(at);
        memory::Buffer* b = memory::buffer(m->w2);
        std::memcpy(b->data(), engine::slot(at + 1), count * sizeof(Cell));
        b->tail = count * sizeof(Cell);
        m->header = static_cast<uint32_t>(type == kTypeMap ? uint8_t{kTypeBlock} : type) | new_line;
        r.slot_tail = at + 1;
        r.level_head = enclosing;
        if (type == kTypeMap) literals::make_map(m);
    } else {
        r.slot_tail = at;
        r.level_head = enclosing;
    }
    r.entry_state = entry_for(r);
}

// Opens a level unless a tracer declines it.
void open(Record& r, uint8_t type, const uint8_t* opener) {
    if (engine::level_type(r) == kTypePoint2D)
        engine::raise_error(r, r.token_start, r.token_end, kTypePoint2D);
    if (r.trace && (r.mask & kEventOpen)) {
        const Cell t = type_value(type);
        Cell* const base = stack::top;
        const bool go_on = send(r, kEventOpen, words::word.open, &t, push_token_pair(r));
        stack::top = base;
        if (!go_on) return;
    }
    engine::open_level(r, type, opener);
    r.entry_state = entry_for(r);
}

// After an element of a path: a delimiter ends the path (":" makes it a set-path); any other
// byte separates the next element.
void path_step(Record& r) {
    const uint8_t* p = r.pos;
    const uint8_t cls = p < r.input_end ? class_of(*p) : uint8_t{kEnd};
    switch (cls) {
    case kBlank:
    case kNewline:
    case kBlockOpen:
    case kBlockClose:
    case kParenOpen:
    case kParenClose:
    case kBraceOpen:
    case kQuote:
    case kLess:
    case kSemicolon:
    case kLetter:
    case kInvalid:
    case kEnd:
        close_level(r, kTypePath);
        return;
    case kColon:
        if (p + 1 < r.input_end && p[1] == '/') engine::raise_error(r, p, p + 2, kTypePath);
        r.pos = p + 1;
        close_level(r, kTypeSetPath);
        return;
    default:
        if (p + 1 >= r.input_end) engine::raise_error(r, r.token_start, p + 1, kTypePath);
        r.pos = p + 1;
    }
}

// Whether a "(" at `p` (just after it) starts a point literal: at least three bytes follow
// and they run through point characters up to a comma.
bool point_ahead(const uint8_t* p, const uint8_t* end) {
    if (end - p < 3) return false;
    for (const uint8_t* q = p; q < end; ++q) {
        const uint8_t c = *q;
        if (c == ',') return q > p;
        const bool point_char = c == '\t' || c == ' ' || c == '#' || c == '+' || c == '-' ||
                                c == '.' || (c >= '0' && c <= '9') || c == 'A' || c == 'E' ||
                                c == 'F' || c == 'I' || c == 'N' || c == 'a' || c == 'e' ||
                                c == 'f' || c == 'i' || c == 'n';
        if (!point_char) return false;
    }
    return false;
}

// Where the scan goes on after a token of a kind that ends at `end`: past the terminal byte
// when it belongs to the token.
const uint8_t* after_token(uint8_t kind, const uint8_t* start, const uint8_t* end) {
    switch (kind) {
    case kString:
    case kChar:
    case kBinary:
    case kPercentKind:
    case kTag:
    case kConstruct:
    case kPoint:
        return end + 1;
    case kFile:
        return end - start > 1 && start[1] == '"' ? end + 1 : end;
    default:
        return end;
    }
}

// The first element of a path: the word before the "/" without its prefix.
void path_open(Record& r, const uint8_t* start, const uint8_t* end) {
    uint8_t type = kTypePath;
    const uint8_t* s = start;
    if (*s == ':') {
        type = kTypeGetPath;
        ++s;
    } else if (*s == '\'') {
        type = kTypeLitPath;
        ++s;
    }
    open(r, type, start);
    if (r.entry_state != kInPath) return; // a tracer declined the opener
    if (s == end) engine::raise_error(r, start, end + 1, kTypePath);
    if (!literals::valid_utf8(s, end)) engine::raise_error(r, start, end, kTypeWord);
    if (r.load) literals::build_word(r, kTypeWord, s, end);
    r.pos = end + 1;
}

// Braced strings: "{" nests, "}" unnests; at depth 0 the text between the outer braces is a
// string!. A tracer sees the outer opener (open), and at the outer closer the string's close,
// scan and load, as for a level and the value it becomes.
void brace(Record& r, uint8_t kind, const uint8_t* p, uint32_t flags) {
    r.braced_flags |= flags;
    r.pos = p + 1;
    r.token_start = r.token_end = p;
    r.token_type = kTypeString;
    if (kind == kStringOpen) {
        if (r.braced_depth == 0) {
            // Declined, the brace opens nothing: the text after it is read as tokens.
            if (!send_token_event(r, kEventOpen, words::word.open)) return;
            r.braced_start = p + 1;
            r.braced_flags = 0;
        }
        ++r.braced_depth;
        r.entry_state = kInBracedString;
        return;
    }
    if (r.braced_depth > 1) {
        --r.braced_depth;
        return;
    }
    // Declined, the closer is text of the string, which stays open.
    if (!send_token_event(r, kEventClose, words::word.close)) return;
    r.braced_depth = 0;
    r.entry_state = entry_for(r);
    r.token_start = r.braced_start - 1;
    r.last_type = kTypeString;
    const bool escapes = (r.braced_flags & kFlagCaret) != 0;
    const uint8_t* const after = r.pos;
    if (r.trace && (r.mask & kEventScan)) {
        literals::load_text(r, r.braced_start, p, kTypeString, escapes, false, false);
        r.pos = after;
        if (!send_token_event(r, kEventScan, words::word.scan)) return;
    } else if (!r.load && r.scan) {
        literals::load_text(r, r.braced_start, p, kTypeString, escapes, false, false);
    }
    if (!r.load) return;
    const uint32_t before = r.slot_tail;
    const uint8_t* const resume = r.pos;
    literals::load_text(r, r.braced_start, p, kTypeString, escapes, false, true);
    r.pos = resume;
    send_load_event(r, before);
}

// Whether [start, end) holds Unicode whitespace.
bool holds_whitespace(const uint8_t* start, const uint8_t* end) {
    while (start < end) {
        int32_t cp = 0;
        const uint8_t* after = utf8::decode_char(start, end, cp);
        if (is_whitespace(cp)) return true;
        start = after;
    }
    return false;
}

// Within a word split by Unicode whitespace: skips the whitespace at the position and answers
// where the next piece ends (at the next whitespace or the word's end).
const uint8_t* next_piece(Record& r, const uint8_t* word_end) {
    int32_t cp = 0;
    while (r.pos < word_end) {
        const uint8_t* after = utf8::decode_char(r.pos, word_end, cp);
        if (!is_whitespace(cp)) break;
        r.pos = after;
    }
    const uint8_t* q = r.pos;
    while (q < word_end) {
        const uint8_t* after = utf8::decode_char(q, word_end, cp);
        if (is_whitespace(cp)) break;
        q = after;
    }
    return q;
}

bool value_kind(uint8_t kind) {
    return kind >= kString || kind == kConstruct;
}

// The driver: one token per round until the input ends (or, with `one`, a value stands
// complete at the top level).
void scan_tokens(Record& r, bool one) {
    // The end of a word that Unicode whitespace splits into pieces: each piece is scanned as a
    // token of its own, ending where the next whitespace starts.
    const uint8_t* word_end = nullptr;
    for (;;) {
        const uint8_t* end = r.input_end;
        if (word_end) {
            const uint8_t* piece = r.pos < word_end ? next_piece(r, word_end) : word_end;
            if (piece < word_end)
                end = piece;
            else
                word_end = nullptr;
        }
        const uint8_t* p = r.pos;
        uint8_t state = r.entry_state;
        uint32_t flags = 0, skipped = 0;
        int32_t line = r.line;
        bool blank_line = false;
        uint8_t next = 0;
        for (; p < end; ++p) {
            const uint32_t e = kClass[*p];
            const uint8_t cls = static_cast<uint8_t>(e);
            next = kNext[state][cls];
            if (next >= kFirstTerminal) break;
            if (next == 0) {
                ++skipped;
                blank_line |= cls == kNewline;
            } else {
                flags |= e;
            }
            line += cls == kNewline;
            state = next;
        }
        if (p == end) next = kNext[state][kEnd];
        r.line = line;
        const uint8_t* start = r.pos + skipped;
        if (blank_line) r.new_line = true;
        const auto kind = static_cast<uint8_t>(next - kFirstTerminal);
        r.token_start = start;
        r.token_end = p;
        r.token_type = kStateType[next];
        if (kind == kEof) {
            r.pos = r.input_end;
            break;
        }
        // Unicode whitespace: leading characters are blanks; one inside a word ends it.
        if (!word_end && (flags & (kFlagWide2 | kFlagWide4)) &&
            (kind == kWord || kind == kPath || kind == kIssue || kind == kPrefixedWord) &&
            holds_whitespace(start, p)) {
            word_end = p;
            r.pos = start;
            continue;
        }
        if (r.trace && r.entry_state != kInBracedString && (r.mask & kEventPrescan)) {
            if (!send_token_event(r, kEventPrescan, words::word.prescan)) {
                r.pos = after_token(kind, start, p);
                continue;
            }
        }
        switch (kind) {
        case kError:
            if (r.braced_depth > 0) start = r.braced_start - 1; // the whole braced string
            engine::raise_error(r, start, p,
                                kStateType[state] ? kStateType[state] : engine::kBadChar);
        case kBlockOpenKind:
            r.pos = p + 1;
            open(r, kTypeBlock, p);
            break;
        case kBlockCloseKind:
            r.pos = p + 1;
            close_level(r, kTypeBlock);
            break;
        case kParenOpenKind:
            r.pos = p + 1;
            if (point_ahead(p + 1, r.input_end)) {
                open(r, kTypePoint2D, p);
            } else {
                open(r, kTypeParen, p);
            }
            break;
        case kParenCloseKind:
            r.pos = p + 1;
            close_level(r, kTypeParen);
            break;
        case kStringOpen:
        case kStringClose:
            brace(r, kind, p, flags);
            break;
        case kMapOpen:
            r.pos = p + 1;
            open(r, kTypeMap, start);
            break;
        case kPath:
            path_open(r, start, p);
            continue; // the first element is loaded; no path step for it
        case kComment:
            r.pos = p;
            if (r.trace && (r.mask & kEventScan)) {
                const Cell t = *words::word.comment;
                Cell* const base = stack::top;
                Cell* token = push_token_pair(r);
                send(r, kEventScan, words::word.scan, &t, token);
                stack::top = base;
            }
            continue;
        case kCommaKind:
            engine::raise_error(r, start, p + 1, kTypePoint2D);
        case kPoint: {
            double xyz[3] = {0, 0, 0};
            uint32_t count = 0;
            if (!literals::parse_point(start, static_cast<uint32_t>(p - start), xyz, count))
                engine::raise_error(r, start, p + 1, count >= 3 ? kTypePoint3D : kTypePoint2D);
            // The point replaces its level's marker. A tracer sees the level close (a false
            // answer leaves it open), then the scan and the load of the value.
            r.pos = p + 1;
            r.token_type = count == 3 ? kTypePoint3D : kTypePoint2D;
            r.token_start = r.token_end = p;
            if (!send_token_event(r, kEventClose, words::word.close)) break;
            const uint32_t at = r.level_head;
            Cell* m = engine::slot(at);
            r.token_start = r.input_start + m->w2;
            r.level_head = m->w1;
            r.slot_tail = at;
            r.new_line = (m->header & cell::kNewLine) != 0;
            r.entry_state = entry_for(r);
            if (!send_token_event(r, kEventScan, words::word.scan)) continue;
            if (r.load) {
                const uint32_t index = engine::emit_slot(r);
                const uint32_t marker = engine::slot(index)->header & cell::kNewLine;
                Cell* c = engine::slot(index);
                if (count == 3)
                    literals::make_point3(c, static_cast<float>(xyz[0]), static_cast<float>(xyz[1]),
                                          static_cast<float>(xyz[2]));
                else
                    literals::make_point2(c, static_cast<float>(xyz[0]),
                                          static_cast<float>(xyz[1]));
                engine::slot(index)->header |= marker;
                send_load_event(r, index);
            }
            break;
        }
        default: {
            // Value kinds (and construction syntax).
            if (!r.scan && !r.trace) {
                r.pos = after_token(kind, start, p);
                break;
            }
            const bool scan_event = r.trace && (r.mask & kEventScan);
            if (!r.load || scan_event) {
                literals::load(r, kind, start, p, flags, false);
                if (scan_event && !send_token_event(r, kEventScan, words::word.scan)) {
                    r.pos = after_token(kind, start, p);
                    continue;
                }
            }
            if (r.load) {
                const uint32_t before = r.slot_tail;
                literals::load(r, kind, start, p, flags, true);
                send_load_event(r, before);
            }
            break;
        }
        }
        if (r.token_type) r.last_type = r.token_type;
        if (r.entry_state == kInPath && value_kind(kind))
            path_step(r);
        else if (r.entry_state == kInPath && kind == kParenCloseKind)
            path_step(r);
        if ((one || !r.scan) && r.level_head == engine::kNoLevel && r.braced_depth == 0 &&
            (value_kind(kind) || kind == kBlockCloseKind || kind == kParenCloseKind ||
             kind == kStringClose || kind == kPoint) &&
            r.entry_state == kStart)
            break;
    }
    if (r.level_head != engine::kNoLevel) {
        r.token_start = r.token_end = r.input_end;
        missing(r);
    }
}

// The work buffer's room for a text of `size` bytes (plus a NUL): the buffer's free part, or
// a heap block owned by `heap`.
uint8_t* work_room(uint32_t size, std::unique_ptr<uint8_t[]>& heap) {
    if (kWorkBufferSize - work_fill > size) {
        uint8_t* at = work + work_fill;
        work_fill += size + 1;
        return at;
    }
    heap.reset(new uint8_t[static_cast<size_t>(size) + 1]);
    return heap.get();
}

// Gives the work buffer back (in stack order) when the scan ends, however it ends.
struct WorkScope {
    uint32_t fill = work_fill;
    ~WorkScope() { work_fill = fill; }
};

} // namespace

// --- Engine services ------------------------------------------------------------------------

namespace engine {

Cell* slot(uint32_t index) {
    return slots + index;
}

uint32_t emit_slot(Record& r) {
    if (r.slot_tail >= slot_capacity) {
        const uint64_t bigger = static_cast<uint64_t>(slot_capacity) * 2;
        if (bigger > 0x7FFFFFF) error::fire(error::kInternal, error::internal::no_memory);
        void* grown = std::realloc(slots, static_cast<size_t>(bigger) * sizeof(Cell));
        if (!grown) error::fire(error::kInternal, error::internal::no_memory);
        slots = static_cast<Cell*>(grown);
        slot_capacity = static_cast<uint32_t>(bigger);
    }
    const uint32_t index = r.slot_tail++;
    slots[index] = Cell{kTypeUnset | (r.new_line ? cell::kNewLine : 0u), 0, 0, 0};
    r.new_line = false;
    return index;
}

void open_level(Record& r, uint8_t type, const uint8_t* opener) {
    const uint32_t index = emit_slot(r);
    Cell* m = slot(index);
    m->header = (m->header & cell::kNewLine) | (static_cast<uint32_t>(type) << 8);
    m->w1 = r.level_head;
    m->w2 = static_cast<uint32_t>(opener - r.input_start);
    r.level_head = index;
}

uint8_t level_type(const Record& r) {
    return r.level_head == kNoLevel ? 0 : marker_type(slot(r.level_head));
}

bool decode_text(const uint8_t* start, const uint8_t* end, bool escapes, uint32_t& max) {
    scratch.clear();
    max = 0;
    const uint8_t* p = start;
    while (p < end) {
        int32_t cp;
        if (*p < 0x80) {
            cp = *p++;
        } else {
            p = utf8::decode_char(p, end, cp);
            if (cp < 0) return false;
        }
        if (escapes && cp == '^') {
            if (p >= end) return false;
            const uint8_t c = *p;
            if (c == '(') {
                const uint8_t* close = p + 1;
                while (close < end && *close != ')') ++close;
                if (close >= end) return false;
                const uint8_t* name = p + 1;
                const auto n = static_cast<uint32_t>(close - name);
                static const struct {
                    const char* name;
                    int32_t cp;
                } names[] = {{"null", 0},  {"back", 8}, {"tab", 9},  {"line", 10},
                             {"page", 12}, {"esc", 27}, {"del", 127}};
                cp = -1;
                for (const auto& e : names)
                    if (std::strlen(e.name) == n) {
                        bool same = true;
                        for (uint32_t i = 0; i < n; ++i)
                            same = same && (name[i] | 0x20) == e.name[i];
                        if (same) cp = e.cp;
                    }
                if (cp < 0) {
                    if (n == 0 || n > 6) return false;
                    uint32_t v = 0;
                    for (uint32_t i = 0; i < n; ++i) {
                        const uint8_t h = name[i];
                        int d = h >= '0' && h <= '9'   ? h - '0'
                                : h >= 'A' && h <= 'F' ? h - 'A' + 10
                                : h >= 'a' && h <= 'f' ? h - 'a' + 10
                                                       : -1;
                        if (d < 0) return false;
                        v = v * 16 + static_cast<uint32_t>(d);
                    }
                    if (v > 0x10FFFF) return false;
                    cp = static_cast<int32_t>(v);
                }
                p = close + 1;
            } else if (c >= 0x80) {
                p = utf8::decode_char(p, end, cp); // any other character stands for itself
                if (cp < 0) return false;
            } else {
                ++p;
                switch (c) {
                case '"':
                    cp = '"';
                    break;
                case '-':
                    cp = 9;
                    break;
                case '/':
                    cp = 10;
                    break;
                case '@':
                    cp = 0;
                    break;
                case '^':
                    cp = '^';
                    break;
                case '{':
                    cp = '{';
                    break;
                case '}':
                    cp = '}';
                    break;
                case '~':
                    cp = 127;
                    break;
                default:
                    if (c >= 'a' && c <= 'z')
                        cp = c - 'a' + 1;
                    else if (c >= 'A' && c <= '_')
                        cp = c - 64;
                    else
                        cp = c;
                }
            }
        }
        if (static_cast<uint32_t>(cp) > max) max = static_cast<uint32_t>(cp);
        scratch.push_back(static_cast<uint32_t>(cp));
    }
    return true;
}

const uint32_t* decoded() {
    return scratch.data();
}
uint32_t decoded_length() {
    return static_cast<uint32_t>(scratch.size());
}

void raise_error(Record& r, const uint8_t* start, const uint8_t* end, int32_t code) {
    if (start > r.input_end) start = r.input_end;
    if (end < start) end = start;
    r.token_start = start;
    r.token_end = end;
    // The missing character, by the innermost open level.
    uint32_t missing_char = 0;
    if (code == kMissingBlock || code == kMissingParen) {
        const uint8_t level = level_type(r);
        const uint8_t offending = end < r.input_end ? *end : 0;
        if (traits::is_any_path(level)) {
            code = kBadChar;
        } else if (level == kTypeBlock || level == kTypeMap) {
            missing_char = ']';
            code = kMissingBlock;
        } else if (level == kTypeParen || level == kTypePoint2D) {
            missing_char = ')';
            code = kMissingParen;
        } else {
            missing_char = offending == ']' ? '[' : offending == ')' ? '(' : 0;
        }
        // The text near a missing closer starts at the level's opener.
        if (level && !traits::is_any_path(level)) start = r.input_start + slot(r.level_head)->w2;
    }
    if (!r.load) {
        r.token_type = kTypeError;
        r.last_type = kTypeError;
        throw Stop{};
    }
    if (r.trace && (r.mask & kEventError)) {
        uint8_t type = code > 0 ? static_cast<uint8_t>(code) : 0;
        if (!type) type = level_type(r);
        if (!type) type = r.token_type;
        if (!type) type = kTypeError;
        if (traits::is_any_path(level_type(r))) close_level(r, kTypePath);
        const Cell t = type_value(type);
        Cell* const base = stack::top;
        Cell* token = push_token_pair(r);
        const bool go_on = send(r, kEventError, words::word.error, &t, token);
        stack::top = base;
        if (!go_on) {
            r.last_type = kTypeError;
            throw Stop{};
        }
    }
    // The text near the error: to the first line feed, the input end or 30 bytes, in whole
    // characters.
    const uint8_t* near_end = start;
    while (near_end < r.input_end && *near_end != '\n' &&
           static_cast<uint32_t>(near_end - start) < kNearBytes)
        ++near_end;
    while (near_end > start && near_end < r.input_end && (*near_end & 0xC0) == 0x80) --near_end;
    // Every open level is dropped.
    r.slot_tail = r.slots_head;
    r.level_head = kNoLevel;
    char line_text[32];
    std::snprintf(line_text, sizeof line_text, "(line %d)", r.line);
    // Copies first: the near text may lie in a buffer a nested scan gives back.
    const std::string near(reinterpret_cast<const char*>(start),
                           static_cast<size_t>(near_end - start));
    Cell* line_cell = string::from_utf8_checked(reinterpret_cast<const uint8_t*>(line_text),
                                                static_cast<uint32_t>(std::strlen(line_text)));
    Cell* near_cell = nullptr;
    {
        uint32_t max = 0;
        if (decode_text(reinterpret_cast<const uint8_t*>(near.data()),
                        reinterpret_cast<const uint8_t*>(near.data() + near.size()), false, max)) {
            near_cell = string::from_utf8_checked(reinterpret_cast<const uint8_t*>(near.data()),
                                                  static_cast<uint32_t>(near.size()));
        } else {
            // Bytes that are not UTF-8 are shown one character per byte.
            near_cell = string::make_at(stack::push_cell(), static_cast<uint32_t>(near.size()));
            for (unsigned char c : near) string::append_char(memory::buffer(near_cell->w2), c);
        }
    }
    switch (code) {
    case kBadChar:
        error::fire(error::kSyntax, error::syntax::bad_char, {line_cell, near_cell});
    case kMalconstruct:
        error::fire(error::kSyntax, error::syntax::malconstruct, {line_cell, near_cell});
    case kMissingBlock:
    case kMissingParen: {
        Cell* what = missing_char ? stack::push(Cell{kTypeChar, 0, missing_char, 0})
                                  : stack::push(Cell{kTypeNone, 0, 0, 0});
        error::fire(error::kSyntax, error::syntax::missing, {line_cell, what, near_cell});
    }
    default: {
        Cell* type = datatype::push(static_cast<uint32_t>(code));
        error::fire(error::kSyntax, error::syntax::invalid, {line_cell, type, near_cell});
    }
    }
}

} // namespace engine

// --- Set-up ---------------------------------------------------------------------------------

namespace {

uint8_t hook_scan_type(const char* text, uint32_t length) {
    ScanMode mode;
    mode.one = true;
    mode.load = false;
    return scan(nullptr, reinterpret_cast<const uint8_t*>(text), length, mode, nullptr, nullptr,
                nullptr, nullptr);
}

uint32_t hook_load(const Cell* string, Cell* first) {
    Cell* block = stack::push(Cell{kTypeUnset, 0, 0, 0});
    load_string(block, string, -1, ScanMode{}, nullptr, nullptr, nullptr);
    const int32_t count = block::length_from_index(block);
    if (count > 0) *first = *block::cell_at(block, series::index(block));
    stack::pop(1);
    return static_cast<uint32_t>(count);
}

void string_to_block(const Cell* value, Cell* result) {
    load_string(result, value, -1, ScanMode{}, nullptr, nullptr, nullptr);
}

const word::Lexer word_hooks{hook_scan_type, hook_load};

} // namespace

namespace {

// make and to of the compound types from text: the text loads as exactly one value.
bool load_one_value(const Cell* text, Cell* result) {
    const std::string utf8 = string::utf8_from_index(text);
    const Cell* block = load_push(reinterpret_cast<const uint8_t*>(utf8.data()),
                                  static_cast<uint32_t>(utf8.size()));
    memory::Buffer* b = memory::buffer(series::node(block));
    const bool one = b->tail - b->head == sizeof(Cell);
    if (one) *result = *reinterpret_cast<const Cell*>(b->at_head());
    stack::pop(1);
    return one;
}

} // namespace

void init() {
    if (!slots) {
        slots = static_cast<Cell*>(std::malloc(kInitialSlots * sizeof(Cell)));
        slot_capacity = kInitialSlots;
        work = static_cast<uint8_t*>(std::malloc(kWorkBufferSize));
        if (!slots || !work) memory::raise(memory::Fault::no_memory);
    }
    work_fill = 0;
    active = nullptr;
    std::memset(whitespace, 0, sizeof whitespace);
    static const uint32_t spaces[] = {
        0x85,   0xA0,   0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007,
        0x2008, 0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000, 0x180E, 0x200B, 0x200C};
    for (uint32_t cp : spaces) whitespace[cp >> 3] |= static_cast<uint8_t>(0x80 >> (cp & 7));
    literals::forget_symbols();
    collector::add_marker(mark_slots);
    marker_registered = true;
    word::set_lexer(&word_hooks);
    block::set_conversion(kTypeString, string_to_block);
    compound::set_text_loader(load_one_value);
}

void release() {
    word::set_lexer(nullptr);
    block::set_conversion(kTypeString, nullptr);
    compound::set_text_loader(nullptr);
    std::free(slots);
    std::free(work);
    slots = nullptr;
    work = nullptr;
    slot_capacity = 0;
    work_fill = 0;
    active = nullptr;
    trace_services = nullptr;
}

void set_trace_services(const TraceServices* services) {
    trace_services = services;
}

// --- Scanning -------------------------------------------------------------------------------

uint8_t scan(Cell* dst, const uint8_t* text, uint32_t size, const ScanMode& mode,
             uint32_t* consumed, const Cell* trace, const Cell* input, const Cell* into) {
    if (!slots) error::fire(error::kInternal, error::internal::not_done);
    Record r;
    r.parent = active;
    r.slots_head = r.slot_tail = active ? active->slot_tail : 0;
    r.input_start = r.pos = text;
    r.input_end = text + size;
    r.load = mode.load;
    r.scan = mode.scan || mode.load;
    // The trace function and the input series are kept on the data stack for the scan.
    Cell* const base = stack::top;
    if (trace && cell::type(trace) != kTypeNone) {
        r.trace = stack::push(*trace);
        r.mask = event_mask(trace);
        r.input = stack::push(input ? *input : Cell{kTypeNone, 0, 0, 0});
        if (!input) {
            // Events show the text as a string of its own.
            *r.input = *string::from_utf8_checked(text, size);
            stack::pop(1);
        }
    }
    struct Link {
        Record& r;
        Cell* base;
        explicit Link(Record& rec, Cell* b) : r(rec), base(b) { active = &r; }
        ~Link() {
            active = r.parent;
            stack::top = base;
        }
    } link(r, base);
    // Everything a scan makes stays alive until it ends, so nothing moves meanwhile (the
    // collections it causes reclaim other garbage in place), unless user code runs (a tracer)
    // or collections are being forced to show what they move.
    std::optional<NoGcScope> pin;
    if (!r.trace && !memory::record.torture) pin.emplace();
    bool stopped = false;
    try {
        scan_tokens(r, mode.one);
    } catch (const Stop&) {
        stopped = true;
    }
    if (consumed) {
        const bool chars = input && cell::type(input) != kTypeBinary;
        *consumed = chars ? input_position(r, r.pos) : static_cast<uint32_t>(r.pos - r.input_start);
    }
    if (r.load && !stopped && dst) {
        const uint32_t count = r.slot_tail - r.slots_head;
        if (mode.one && !mode.wrap && !into) {
            if (count) *dst = *engine::slot(r.slots_head);
        } else if (into) {
            GcRoot target(*into);
            for (uint32_t i = 0; i < count; ++i) {
                Cell* at = memory::alloc_tail_cell(memory::buffer(target.cell().w2));
                *at = *engine::slot(r.slots_head + i);
            }
            *dst = target.cell();
        } else {
            *dst = Cell{kTypeUnset, 0, 0, 0};
            block::make_at(dst, static_cast<int32_t>(count));
            memory::Buffer* b = memory::buffer(dst->w2);
            std::memcpy(b->data(), engine::slot(r.slots_head), count * sizeof(Cell));
            b->tail = count * sizeof(Cell);
        }
    }
    r.slot_tail = r.slots_head;
    return stopped ? uint8_t{kTypeError} : r.last_type;
}

uint8_t load_string(Cell* dst, const Cell* string, int32_t length, const ScanMode& mode,
                    uint32_t* consumed, const Cell* trace, const Cell* into) {
    WorkScope scope;
    GcRoot source(*string);
    uint32_t count = 0, unit = 1;
    series::units_from_index(&source.cell(), count, unit);
    if (length >= 0 && static_cast<uint32_t>(length) < count) count = static_cast<uint32_t>(length);
    const uint32_t per_char = unit == 1 ? 2 : unit == 2 ? 3 : 4;
    std::unique_ptr<uint8_t[]> heap;
    uint8_t* text = work_room(count * per_char, heap);
    const uint32_t size =
        unicode::write_utf8(&source.cell(), text, static_cast<int32_t>(count), false);
    return scan(dst, text, size, mode, consumed, trace, &source.cell(), into);
}

Cell* load_at(Cell* dst, const uint8_t* text, uint32_t size) {
    scan(dst, text, size, ScanMode{}, nullptr, nullptr, nullptr, nullptr);
    return dst;
}

Cell* load_push(const uint8_t* text, uint32_t size) {
    Cell* dst = stack::push(Cell{kTypeUnset, 0, 0, 0});
    return load_at(dst, text, size);
}

int32_t header_end(const Cell* block) {
    const uint32_t zan = symbol::make("Zan");
    memory::Buffer* b = memory::buffer(series::node(block));
    for (uint32_t k = series::index(block); k + 1 < b->length(); ++k) {
        const Cell* c = b->cells() + k;
        if (cell::type(c) == kTypeWord && c->w2 == zan)
            return cell::type(c + 1) == kTypeBlock ? static_cast<int32_t>(k + 2) : -1;
    }
    return -1;
}

// --- transcode ------------------------------------------------------------------------------

void transcode(const Cell* source_cell, const TranscodeOptions& options, Cell* result) {
    GcRoot source(*source_cell);
    const uint8_t type = cell::type(source_cell);
    if (type != kTypeString && type != kTypeBinary) {
        Cell* t = datatype::push(type);
        error::fire(error::kScript, error::script::invalid_arg, {t});
    }
    uint32_t count = 0, unit = 1;
    series::units_from_index(&source.cell(), count, unit);
    int32_t length = -1;
    if (options.part) {
        const uint8_t pt = cell::type(options.part);
        if (pt == kTypeInteger) {
            length = integer::get(options.part);
        } else if (pt == type && options.part->w2 == source.cell().w2) {
            length =
                static_cast<int32_t>(options.part->w1) - static_cast<int32_t>(source.cell().w1);
        } else {
            error::fire(error::kScript, error::script::not_same_type);
        }
        if (length < 0) length = 0;
    }
    ScanMode mode;
    const bool typing = options.scan || options.prescan;
    mode.one = options.next || options.one || typing;
    mode.load = !typing;
    mode.scan = !options.prescan;
    mode.wrap = false;
    const Cell* trace = options.trace;
    Cell* value = stack::push(Cell{kTypeNone, 0, 0, 0});
    uint32_t used = 0;
    uint8_t last;
    if (type == kTypeString) {
        last = load_string(value, &source.cell(), length, mode, &used, trace,
                           mode.one ? nullptr : options.into);
    } else {
        WorkScope scope;
        // The bytes from the index, cut to the part; the room taken for them (no series
        // allocation) leaves the source where it is.
        const uint8_t* bytes = series::units_from_index(&source.cell(), count, unit);
        if (length >= 0 && static_cast<uint32_t>(length) < count)
            count = static_cast<uint32_t>(length);
        std::unique_ptr<uint8_t[]> heap;
        uint8_t* text = work_room(count, heap);
        std::memcpy(text, bytes, count);
        uint32_t skip = 0;
        if (count >= 3 && text[0] == 0xEF && text[1] == 0xBB && text[2] == 0xBF) skip = 3;
        last = scan(value, text + skip, count - skip, mode, &used, trace, &source.cell(),
                    mode.one ? nullptr : options.into);
        used += skip;
    }
    if (typing) *value = last ? Cell{kTypeDatatype, last, 0, 0} : Cell{kTypeNone, 0, 0, 0};
    if (!mode.one) {
        *result = *value;
        return;
    }
    if (!options.next) {
        *result = *value;
        return;
    }
    // /next: the value and the rest of the input.
    // The rest stays on the data stack while the block is made, so its node id follows
    // the collector.
    Cell* rest = stack::push(source.cell());
    rest->w1 += used;
    Cell* block = stack::push(Cell{kTypeUnset, 0, 0, 0});
    block::make_at(block, 2);
    block::append_copy(block, value);
    block::append_copy(block, rest);
    *result = *block;
}

void native_transcode(int32_t next, int32_t one, int32_t prescan, int32_t scan, int32_t part,
                      int32_t into, int32_t trace) {
    Cell* frame = stack::arguments;
    TranscodeOptions options;
    options.next = next >= 0;
    options.one = one >= 0;
    options.prescan = prescan >= 0;
    options.scan = scan >= 0;
    options.part = part >= 0 ? frame + part : nullptr;
    options.into = into >= 0 ? frame + into : nullptr;
    options.trace = trace >= 0 ? frame + trace : nullptr;
    // The trace function is a function! (none traces nothing): the evaluator's services call
    // it with a frame of its own and read its body.
    if (options.trace && cell::type(options.trace) != kTypeNone &&
        cell::type(options.trace) != kTypeFunction) {
        Cell* name = stack::push_cell();
        error::call_name(name);
        Cell* given = datatype::push(cell::type(options.trace));
        Cell* argument = word::make_at(symbol::make("callback"), stack::push_cell());
        error::fire(error::kScript, error::script::expect_arg, {name, given, argument});
    }
    const Cell source = frame[0];
    Cell* result = stack::push(Cell{kTypeUnset, 0, 0, 0});
    transcode(&source, options, result);
    stack::set_last_keep(*result);
}

} // namespace lexer
