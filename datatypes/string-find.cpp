// string! find and select: one search over the units of a text, binary! or vector! buffer.
//
// What is looked for becomes a needle first (a list of code points, a bitset or a number),
// the one step that may allocate; the walk over the buffer then allocates nothing, so it
// reads the buffer in place.
#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/bitset.h"
#include "datatypes/dispatch.h"
#include "datatypes/form-mold.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/words.h"
#include "runtime-core/case.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/support.h"

using memory::Buffer;

namespace string {

namespace {

struct Needle {
    enum Kind { text, bitset, number } kind = text;
    std::vector<uint32_t> chars; // text: upper-cased when folding
    const Cell* bits = nullptr;  // bitset: the value's cell
    double value = 0;            // number
};

// The upper-case forms of the one-byte code points.
const uint32_t* latin1_upper() {
    static uint32_t table[256];
    static bool made = false;
    if (!made) {
        for (uint32_t c = 0; c < 256; ++c) table[c] = case_::to_upper(c);
        made = true;
    }
    return table;
}

// The characters of a text from its index, upper-cased when folding.
void read_text(Needle& n, const Cell* text, bool fold) {
    Buffer* b = memory::buffer(text->w2);
    const uint32_t unit = b->unit();
    for (uint32_t i = series::clamped_index(text); i < b->length(); ++i) {
        const uint32_t c = get_char(b->at_head() + static_cast<size_t>(i) * unit, unit);
        n.chars.push_back(fold ? case_::to_upper(c) : c);
    }
}

// The needle for `value` in a series of type `st`. May collect (forming).
void needle_of(Needle& n, uint8_t st, Cell* value, bool fold) {
    const uint8_t vt = cell::type(value);
    const bool numbers = st == kTypeBinary || st == kTypeVector;
    switch (vt) {
    case kTypeChar:
        n.chars.push_back(fold ? case_::to_upper(value->w2) : value->w2);
        return;
    case kTypeBitset:
        n.kind = Needle::bitset;
        n.bits = value;
        return;
    case kTypeString:
    case kTypeFile:
    case kTypeUrl:
    case kTypeEmail:
    case kTypeRef:
        read_text(n, value, fold);
        return;
    case kTypeBinary:
        if (series::is_any_string(st))
            error::fire(error::kScript, error::script::invalid_arg, {value});
        read_text(n, value, false);
        return;
    case kTypeInteger:
    case kTypeFloat:
        if (numbers) {
            n.kind = Needle::number;
            if (vt == kTypeInteger) {
                n.value = static_cast<int32_t>(value->w2);
            } else {
                std::memcpy(&n.value, &value->w2, sizeof n.value);
            }
            return;
        }
        break;
    default:
        break;
    }
    // Anything else (a word, a tag with its brackets, a number in a text) by its form.
    Cell* top = stack::top;
    Cell* formed = make_at(stack::push_cell(), 16);
    actions::form(value, formed, nullptr, form_mold::kNoLimit);
    read_text(n, formed, fold);
    stack::top = top;
}

bool in_bitset(const Cell* bitset, uint32_t cp) {
    return bitset::has(memory::buffer(bitset->w2), cp);
}

// An element of a binary! or vector! as a number.
double element_value(const uint8_t* at, uint32_t unit, bool floats) {
    if (unit == 8) {
        double d;
        std::memcpy(&d, at, 8);
        return d;
    }
    if (unit == 4 && floats) {
        float f;
        std::memcpy(&f, at, 4);
        return f;
    }
    if (unit == 4 && !floats) {
        int32_t i;
        std::memcpy(&i, at, 4);
        return i;
    }
    return get_char(at, unit);
}

// The positions tried: forward from `first` while below `bound`; backward from `first`
// (where a match must end) down to `bound`.
struct Walk {
    int64_t first;
    int64_t bound;
    int64_t step;
    bool backward;
    bool match_only;
};

// The start of the first match of `width` units, or -1; `at(p)` tests a match starting at p.
template <class At> int64_t walk(const Walk& w, int64_t width, At&& at) {
    if (!w.backward) {
        for (int64_t p = w.first; p < w.bound; p += w.step) {
            if (p + width > w.bound) return -1;
            if (at(p)) return p;
            if (w.match_only) return -1;
        }
    } else {
        for (int64_t p = w.first; p >= w.bound; p -= w.step) {
            if (p - w.bound + 1 < width) return -1;
            if (at(p - width + 1)) return p - width + 1;
            if (w.match_only) return -1;
        }
    }
    return -1;
}

template <class U> int64_t walk_text(const U* h, const Walk& w, const Needle& n, bool fold) {
    const uint32_t* k = n.chars.data();
    const auto width = static_cast<int64_t>(n.chars.size());
    return walk(w, width, [=](int64_t p) {
        for (int64_t j = 0; j < width; ++j) {
            uint32_t c = h[p + j];
            if (fold) c = case_::to_upper(c);
            if (c != k[j]) return false;
        }
        return true;
    });
}

// The forward search of a text in one-byte units from `from` to `bound`, with memchr to find
// the places where the first character can stand.
int64_t find_latin1(const uint8_t* h, int64_t from, int64_t bound, const Needle& n, bool fold) {
    const auto width = static_cast<int64_t>(n.chars.size());
    if (bound - from < width) return -1;
    const uint8_t* last = h + bound - width; // the last place a match can start
    const uint32_t* k = n.chars.data();
    if (!fold) {
        std::vector<uint8_t> bytes(n.chars.size());
        for (size_t j = 0; j < bytes.size(); ++j) {
            if (k[j] > 0xFF) return -1;
            bytes[j] = static_cast<uint8_t>(k[j]);
        }
        for (const uint8_t* p = h + from; p <= last; ++p) {
            p = static_cast<const uint8_t*>(std::memchr(p, bytes[0], last - p + 1));
            if (!p) return -1;
            if (std::memcmp(p + 1, bytes.data() + 1, bytes.size() - 1) == 0) return p - h;
        }
        return -1;
    }
    const uint32_t* up = latin1_upper();
    auto rest = [=](const uint8_t* p) {
        for (int64_t j = 1; j < width; ++j)
            if (up[p[j]] != k[j]) return false;
        return true;
    };
    // The bytes that fold to the first character: usually a letter's two cases.
    uint8_t firsts[256];
    int count = 0;
    for (uint32_t c = 0; c < 256; ++c)
        if (up[c] == k[0]) firsts[count++] = static_cast<uint8_t>(c);
    if (count == 0) return -1;
    if (count > 3) {
        for (const uint8_t* p = h + from; p <= last; ++p)
            if (up[*p] == k[0] && rest(p)) return p - h;
        return -1;
    }
    // One memchr stream per byte, the nearest candidate tested first. The streams run window
    // by window: a byte that does not occur (the upper case of a lower-case text) would
    // otherwise be looked for up to the end at every call, and a loop of finds over a long
    // text would take time in the square of its length. The windows start small, for the
    // match close by, and grow.
    int64_t window = 64;
    for (const uint8_t* start = h + from; start <= last; start += window, window *= 2) {
        window = std::min<int64_t>(window, 1 << 16);
        const uint8_t* end = last - start >= window ? start + window - 1 : last; // inclusive
        const uint8_t* next[3];
        for (int i = 0; i < count; ++i)
            next[i] = static_cast<const uint8_t*>(std::memchr(start, firsts[i], end - start + 1));
        for (;;) {
            int m = -1;
            for (int i = 0; i < count; ++i)
                if (next[i] && (m < 0 || next[i] < next[m])) m = i;
            if (m < 0) break;
            const uint8_t* p = next[m];
            if (rest(p)) return p - h;
            next[m] = p < end ? static_cast<const uint8_t*>(std::memchr(p + 1, firsts[m], end - p))
                              : nullptr;
        }
    }
    return -1;
}

struct Found {
    int64_t position = -1;
    int64_t width = 0;
};

// The search of find and select (/only and /tail aside). The result cell is the series' copy
// on the data stack.
Found locate(Cell* series, Cell* value, const action::FindOptions& options) {
    Cell* const part = options.part;
    Cell* const skip = options.skip;
    const bool last = options.last, reverse = options.reverse, match = options.match;
    Found none;
    const int64_t total = series::total_units(series);
    const int64_t index = series::clamped_index(series);
    if (total == 0 || (index >= total && !reverse)) return none;
    if (options.any || options.with) error::fire(error::kInternal, error::internal::not_done);
    int64_t step = 1;
    if (skip) {
        if (cell::type(skip) != kTypeInteger)
            series::invalid_refine(refinements::refinement.skip, skip);
        step = static_cast<int32_t>(skip->w2);
        if (step < 1) error::fire(error::kScript, error::script::out_of_range, {skip});
    }
    int64_t count = total;
    if (part) {
        count = series::part_count(series, part);
        if (count < 1) return none;
    }

    const uint8_t st = cell::type(series);
    const bool fold = series::is_any_string(st) && !options.case_ && !options.same;
    Needle n;
    needle_of(n, st, value, fold);
    const int64_t width = n.kind == Needle::text ? static_cast<int64_t>(n.chars.size()) : 1;
    if (width == 0) return none;

    Walk w{0, 0, step, last || reverse, match};
    if (!w.backward) {
        w.first = index;
        w.bound = std::min(total, index + count);
    } else if (last) {
        w.first = std::min(total, index + count) - 1;
        w.bound = index;
    } else {
        w.first = index - 1;
        w.bound = std::max<int64_t>(0, index - count);
        if (w.first < w.bound || match) return none;
    }

    // Nothing allocates from here on: the buffer is read in place.
    Buffer* b = memory::buffer(series->w2);
    const uint8_t* head = b->at_head();
    const uint32_t unit = b->unit();
    int64_t at = -1;
    switch (n.kind) {
    case Needle::text:
        if (unit == 1 && !w.backward && step == 1 && !match) {
            at = find_latin1(head, w.first, w.bound, n, fold);
        } else if (unit == 1) {
            at = walk_text(head, w, n, fold);
        } else if (unit == 2) {
            at = walk_text(reinterpret_cast<const uint16_t*>(head), w, n, fold);
        } else if (unit == 4) {
            at = walk_text(reinterpret_cast<const uint32_t*>(head), w, n, fold);
        } else {
            // Wider elements (a vector! of 64-bit numbers) hold no text.
            at = -1;
        }
        break;
    case Needle::bitset:
        at = walk(w, 1, [&](int64_t p) {
            return unit <= 4 && in_bitset(n.bits, get_char(head + p * unit, unit));
        });
        break;
    case Needle::number: {
        const bool floats = st == kTypeVector && series->w3 == kTypeFloat;
        at = walk(w, 1, [&](int64_t p) {
            return element_value(head + p * unit, unit, floats) == n.value;
        });
        break;
    }
    }
    return at < 0 ? none : Found{at, width};
}

} // namespace

Cell* find(Cell* series, Cell* value, const action::FindOptions& options) {
    Cell* result = stack::push(*series);
    const Found found = locate(result, value, options);
    if (found.position < 0) return none::make_at(result);
    result->w1 = static_cast<uint32_t>(found.position + (options.tail ? found.width : 0));
    return result;
}

int64_t find_text(const Cell* text, uint32_t from, uint32_t bound, const Cell* needle,
                  bool case_sensitive) {
    Needle n;
    read_text(n, needle, !case_sensitive);
    if (n.chars.empty()) return -1;
    Buffer* b = memory::buffer(text->w2);
    bound = std::min(bound, b->length());
    if (from >= bound) return -1;
    const uint8_t* head = b->at_head();
    const Walk w{from, bound, 1, false, false};
    switch (b->unit()) {
    case 1:
        return find_latin1(head, from, bound, n, !case_sensitive);
    case 2:
        return walk_text(reinterpret_cast<const uint16_t*>(head), w, n, !case_sensitive);
    case 4:
        return walk_text(reinterpret_cast<const uint32_t*>(head), w, n, !case_sensitive);
    default:
        return -1;
    }
}

Cell* select(Cell* series, Cell* value, const action::FindOptions& options) {
    Cell* result = stack::push(*series);
    action::FindOptions search = options;
    search.match = false;
    const Found found = locate(result, value, search);
    if (found.position < 0) return none::make_at(result);
    // The element after the whole matched text.
    const int64_t after = found.position + found.width;
    Buffer* b = memory::buffer(result->w2);
    if (after >= b->length()) return none::make_at(result);
    const uint8_t* at = b->at_head() + after * b->unit();
    switch (cell::type(result)) {
    case kTypeBinary:
        return series::integer_at(result, *at);
    case kTypeVector:
        if (!series::services.vector_get) error::fire(error::kInternal, error::internal::not_done);
        series::services.vector_get(at, b->unit(), result->w3, result);
        return result;
    default:
        return series::char_at(result, get_char(at, b->unit()));
    }
}

} // namespace string
