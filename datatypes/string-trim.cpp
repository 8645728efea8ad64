// string! trim and the set operations on text.
//
// trim only ever moves characters of the text down within its own buffer, so it never
// allocates; the set operations gather the characters they keep first and write the new
// text once.
#include <algorithm>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "datatypes/block.h"
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

// Blanks inside a line: whitespace without the line breaks and the other controls.
bool is_line_blank(uint32_t c) {
    return c == ' ' || c == '\t' || (c >= 0x80 && is_whitespace(c));
}

// The text of a series from its index, read and written in place at its unit size.
class Units {
public:
    explicit Units(const Cell* series)
        : b_(memory::buffer(series->w2)), unit_(b_->unit()), head_(b_->at_head()),
          index_(series::clamped_index(series)), length_(b_->length()) {}
    uint32_t index() const { return index_; }
    uint32_t length() const { return length_; }
    uint32_t get(uint32_t i) const {
        return get_char(head_ + static_cast<size_t>(i) * unit_, unit_);
    }
    // Moves the character at `from` to `to` (never above it, so the width fits).
    void move(uint32_t from, uint32_t to) {
        std::memmove(head_ + static_cast<size_t>(to) * unit_,
                     head_ + static_cast<size_t>(from) * unit_, unit_);
    }
    void put(uint32_t i, uint32_t c) {
        uint8_t* at = head_ + static_cast<size_t>(i) * unit_;
        if (unit_ == 1) {
            *at = static_cast<uint8_t>(c);
        } else if (unit_ == 2) {
            const auto v = static_cast<uint16_t>(c);
            std::memcpy(at, &v, 2);
        } else {
            std::memcpy(at, &c, 4);
        }
    }
    void move_run(uint32_t from, uint32_t to, uint32_t count) {
        std::memmove(head_ + static_cast<size_t>(to) * unit_,
                     head_ + static_cast<size_t>(from) * unit_, static_cast<size_t>(count) * unit_);
    }
    void set_length(uint32_t n) { b_->tail = b_->head + n * unit_; }

private:
    Buffer* b_;
    uint32_t unit_;
    uint8_t* head_;
    uint32_t index_;
    uint32_t length_;
};

// The characters trim/with takes away: small code points in a bit table, the others listed.
class CharSet {
public:
    void add(uint32_t c) {
        if (c < 256)
            low_[c >> 6] |= uint64_t{1} << (c & 63);
        else
            high_.push_back(c);
    }
    bool contains(uint32_t c) const {
        if (c < 256) return (low_[c >> 6] >> (c & 63)) & 1;
        return std::find(high_.begin(), high_.end(), c) != high_.end();
    }

private:
    uint64_t low_[4] = {};
    std::vector<uint32_t> high_;
};

// The keys of the set operations: code points, with a bit table for the first plane.
class KeySet {
public:
    KeySet() : plane_(1024) {}
    bool contains(uint32_t c) const {
        if (c < 0x10000) return (plane_[c >> 6] >> (c & 63)) & 1;
        return others_.count(c) != 0;
    }
    void insert(uint32_t c) {
        if (c < 0x10000)
            plane_[c >> 6] |= uint64_t{1} << (c & 63);
        else
            others_.insert(c);
    }

private:
    std::vector<uint64_t> plane_;
    std::unordered_set<uint32_t> others_;
};

} // namespace

bool is_whitespace(uint32_t c) {
    if (c >= 1 && c <= 0x20) return true;
    if (c < 0x85) return false;
    return c == 0x85 || c == 0xA0 || c == 0x1680 || c == 0x180E || (c >= 0x2000 && c <= 0x200A) ||
           c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

void trim_chars(Cell* series, const Cell* with) {
    CharSet set;
    if (!with) {
        for (uint32_t c : {9u, 10u, 13u, 32u}) set.add(c);
    } else {
        switch (cell::type(with)) {
        case kTypeChar:
        case kTypeInteger:
            set.add(with->w2);
            break;
        case kTypeString:
        case kTypeFile:
        case kTypeUrl:
        case kTypeTag:
        case kTypeEmail:
        case kTypeRef:
        case kTypeBinary: {
            const Units chars(with);
            if (chars.index() >= chars.length()) return;
            for (uint32_t i = chars.index(); i < chars.length(); ++i) set.add(chars.get(i));
            break;
        }
        default:
            error::fire(error::kScript, error::script::invalid_arg, {with});
        }
    }
    Units text(series);
    uint32_t kept = text.index();
    for (uint32_t i = text.index(); i < text.length(); ++i)
        if (!set.contains(text.get(i))) text.move(i, kept++);
    text.set_length(kept);
}

void trim_lines(Cell* series) {
    Units text(series);
    enum { start, in_text, after_space } state = start;
    uint32_t kept = text.index();
    for (uint32_t i = text.index(); i < text.length(); ++i) {
        const uint32_t c = text.get(i);
        if (!is_whitespace(c)) {
            text.move(i, kept++);
            state = in_text;
        } else if (state == in_text) {
            text.put(kept++, ' ');
            state = after_space;
        }
    }
    if (state == after_space) --kept;
    text.set_length(kept);
}

void trim_whitespace(Cell* series, bool head, bool tail) {
    Units text(series);
    uint32_t start = text.index();
    uint32_t end = text.length();
    if (!tail || head)
        while (start < end && is_whitespace(text.get(start))) ++start;
    bool line_feed = false;
    if (!head || tail) {
        while (end > start && is_whitespace(text.get(end - 1))) {
            line_feed |= text.get(end - 1) == '\n';
            --end;
        }
    }
    uint32_t kept = text.index();
    if (head || tail) {
        text.move_run(start, kept, end - start);
        kept += end - start;
    } else {
        // Every line loses its indentation and the blanks before its line feed.
        bool line_start = false;
        for (uint32_t i = start; i < end; ++i) {
            const uint32_t c = text.get(i);
            if (c == '\n') {
                while (kept > text.index() && is_line_blank(text.get(kept - 1))) --kept;
                line_start = true;
            } else if (line_start && is_line_blank(c)) {
                continue;
            } else {
                line_start = false;
            }
            text.move(i, kept++);
        }
        if (line_feed) text.put(kept++, '\n');
    }
    text.set_length(kept);
}

Cell* trim(Cell* series, const action::TrimOptions& options) {
    Cell* const with = options.with;
    if (options.auto_ && !options.all && !with)
        error::fire(error::kInternal, error::internal::not_done);
    const auto index = static_cast<int32_t>(series::clamped_index(series));
    const bool owned = series::notify(series, ownership::Action::trim, nullptr, index, 0);
    if (options.all || with)
        trim_chars(series, with);
    else if (options.lines)
        trim_lines(series);
    else
        trim_whitespace(series, options.head, options.tail);
    if (owned) series::notify(series, ownership::Action::trimmed, nullptr, index, 0);
    return series;
}

Cell* set_operation(bool case_, const Cell* skip, int32_t operation) {
    uint32_t step = 1;
    if (skip) {
        if (cell::type(skip) != kTypeInteger || static_cast<int32_t>(skip->w2) < 1)
            series::invalid_refine(refinements::refinement.skip, skip);
        step = skip->w2;
    }
    Cell* first = stack::arguments;
    Cell* second = stack::arguments + 1;
    const bool two = operation != block::kUnique;
    first->w1 = series::clamped_index(first);
    if (two) second->w1 = series::clamped_index(second);
    const auto key = [case_](uint32_t c) { return case_ ? c : case_::to_upper(c); };

    // Records are told apart by their first character: the keys already kept, and for
    // intersect, exclude and difference those of the other text's records.
    std::vector<uint32_t> out;
    KeySet kept;
    const int passes = operation == block::kUnion || operation == block::kDifference ? 2 : 1;
    const bool filter = operation == block::kIntersect || operation == block::kExclude ||
                        operation == block::kDifference;
    for (int pass = 0; pass < passes; ++pass) {
        const Units set(pass == 0 ? first : second);
        KeySet others;
        if (filter) {
            const Units other(pass == 0 ? second : first);
            for (uint32_t i = other.index(); i < other.length(); i += step)
                others.insert(key(other.get(i)));
        }
        for (uint32_t i = set.index(); i < set.length(); i += step) {
            const uint32_t k = key(set.get(i));
            if (filter && others.contains(k) != (operation == block::kIntersect)) continue;
            if (kept.contains(k)) continue;
            kept.insert(k);
            for (uint32_t j = i; j < std::min<uint64_t>(uint64_t{i} + step, set.length()); ++j)
                out.push_back(set.get(j));
        }
    }
    Cell* result = make_at(stack::push_cell(), static_cast<uint32_t>(out.size()));
    append_chars(result, out.data(), static_cast<uint32_t>(out.size()));
    *first = Cell{cell::type(first), 0, result->w2, 0};
    stack::pop(1);
    return first;
}

} // namespace string
