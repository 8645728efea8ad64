#include "datatypes/image.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/action.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/compound.h"
#include "datatypes/datatype.h"
#include "datatypes/form-mold.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/pair.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/words.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/externals.h"
#include "runtime-core/memory.h"
#include "runtime-core/stdio.h"
#include "runtime-core/support.h"
#include "runtime-core/type-traits.h"

namespace image {

using memory::Buffer;
using ownership::Action;

namespace {

constexpr uint32_t kOpaque = 0xFF000000u;

Buffer* buffer_of(const Cell* image) {
    return memory::buffer(image->w2);
}
uint32_t count_of(const Cell* image) {
    return width(image) * height(image);
}
// The index, clamped to 0 and the pixel count.
uint32_t index_of(const Cell* image) {
    const auto i = static_cast<int32_t>(image->w1);
    return i <= 0 ? 0 : std::min(static_cast<uint32_t>(i), count_of(image));
}

// A pixel word from a tuple: colour from the first three bytes, opacity 255 − the fourth
// (opaque for a 3-byte tuple).
uint32_t word_of_tuple(const Cell* t) {
    const uint8_t* b = tuple::bytes(t);
    const uint32_t opacity = tuple::length(t) > 3 ? 255u - b[3] : 255u;
    return opacity << 24 | static_cast<uint32_t>(b[0]) << 16 | b[1] << 8 | b[2];
}
Cell* tuple_of_word(Cell* result, uint32_t p) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(p >> 16), static_cast<uint8_t>(p >> 8),
                              static_cast<uint8_t>(p), static_cast<uint8_t>(255 - (p >> 24))};
    return tuple::make_at(result, bytes, 4);
}

bool names(const Cell* word, const char* name) {
    const uint8_t t = cell::type(word);
    return traits::is_bindable_word(t) && compound::names(word, symbol::make(name));
}

// --- Positions ------------------------------------------------------------------------------

// The offset that an index argument names (an integer! n, or a pair! x×y pixel, 1-based for
// base 1 and 0-based for base 0), counted from `from`, clamped to 0 and the pixel count;
// `outside` tells whether it names no pixel. Another type raises script/invalid-arg.
uint32_t offset_of(const Cell* image, uint32_t from, const Cell* at, int32_t base, bool& outside) {
    const int64_t w = width(image), h = height(image), total = w * h;
    int64_t n;
    outside = false;
    if (cell::type(at) == kTypeInteger) {
        n = static_cast<int32_t>(at->w2);
    } else if (cell::type(at) == kTypePair) {
        const int64_t x = static_cast<int32_t>(at->w2), y = static_cast<int32_t>(at->w3);
        outside = base == 1 ? x < 1 || x > w || y < 1 || y > h : x < 0 || x >= w || y < 0 || y >= h;
        n = base == 1 && y > 0 ? x + w * (y - 1) : x + w * y;
    } else {
        compound::invalid_arg(at);
    }
    int64_t target = static_cast<int64_t>(from) + n - base;
    if (base == 1 && n <= 0) ++target;
    if (n == 0 || target < 0 || target >= total) outside = true;
    return static_cast<uint32_t>(std::clamp<int64_t>(target, 0, total));
}

// --- Rectangles -----------------------------------------------------------------------------

struct Rect {
    int64_t x = 0, y = 0, w = 0, h = 0;
};

// The part of a rectangle inside a size.
Rect clip(Rect r, int64_t w, int64_t h) {
    const int64_t x0 = std::clamp<int64_t>(r.x, 0, w), y0 = std::clamp<int64_t>(r.y, 0, h);
    const int64_t x1 = std::clamp<int64_t>(r.x + r.w, 0, w),
                  y1 = std::clamp<int64_t>(r.y + r.h, 0, h);
    return {x0, y0, std::max<int64_t>(0, x1 - x0), std::max<int64_t>(0, y1 - y0)};
}

// A new image with a copy of a rectangle (inside the source), pushed. May collect.
Cell* push_rect(const Cell* source, Rect r) {
    if (r.w <= 0 || r.h <= 0) r = Rect{};
    GcRoot held(*source);
    Cell* result = push_new(r.w, r.h);
    const uint32_t sw = width(&held.cell());
    const uint32_t* from = pixels(&held.cell());
    uint32_t* to = pixels(result);
    for (int64_t y = 0; y < r.h; ++y)
        std::memcpy(to + y * r.w, from + (r.y + y) * sw + r.x, static_cast<size_t>(r.w) * 4);
    return result;
}

// The pixel (x, y) of the image's index.
void position_of(const Cell* image, int64_t& x, int64_t& y) {
    const uint32_t w = width(image), i = index_of(image);
    x = w ? i % w : 0;
    y = w ? i / w : 0;
}

// --- Mold -----------------------------------------------------------------------------------

void append_hex(const Cell* string, uint8_t byte) {
    string::concatenate_cstring(string, string::byte_to_hex(byte));
}

void newline(const Cell* string, int32_t level, int32_t& limit) {
    string::concatenate_cstring(string, "\n");
    limit = mold::indent(string, level, limit - 1);
}

} // namespace

// --- Cells ----------------------------------------------------------------------------------

uint32_t width(const Cell* image) {
    return image->w3 & 0xFFFF;
}
uint32_t height(const Cell* image) {
    return image->w3 >> 16;
}
uint32_t* pixels(const Cell* image) {
    return reinterpret_cast<uint32_t*>(buffer_of(image)->at_head());
}

Cell* make_at(Cell* cell, int64_t w, int64_t h, uint32_t fill) {
    w = std::max<int64_t>(w, 0);
    h = std::max<int64_t>(h, 0);
    if (w > kMaxSide || h > kMaxSide) {
        Cell size;
        pair::make_at(&size, static_cast<int32_t>(std::min<int64_t>(w, INT32_MAX)),
                      static_cast<int32_t>(std::min<int64_t>(h, INT32_MAX)));
        compound::out_of_range(stack::push(size));
    }
    const uint64_t count = static_cast<uint64_t>(w) * static_cast<uint64_t>(h);
    if (count > kMaxPixels) error::fire(error::kInternal, error::internal::no_memory);
    cell->header = kTypeUnset;
    const uint32_t node = memory::alloc_units(static_cast<uint32_t>(count), 4);
    Buffer* b = memory::buffer(node);
    b->tail = b->head + static_cast<uint32_t>(count) * 4;
    auto* p = reinterpret_cast<uint32_t*>(b->at_head());
    std::fill(p, p + count, fill);
    *cell = Cell{kTypeImage, 0, node, static_cast<uint32_t>(h) << 16 | static_cast<uint32_t>(w)};
    return cell;
}

Cell* push_new(int64_t w, int64_t h, uint32_t fill) {
    return make_at(stack::push_cell(), w, h, fill);
}

Cell* push_from_pixels(const uint32_t* words, uint32_t w, uint32_t h) {
    Cell* result = push_new(w, h);
    std::memcpy(pixels(result), words, static_cast<size_t>(w) * h * 4);
    return result;
}

Cell* to_binary(const Cell* image, int32_t mode) {
    const uint32_t n = count_of(image);
    const uint32_t per = mode == kAlpha ? 1 : mode == kRgb ? 3 : 4;
    GcRoot held(*image);
    Cell* result = binary::make_at(stack::push_cell(), std::max<uint32_t>(n * per, 1));
    const uint32_t* p = pixels(&held.cell());
    uint8_t* to = binary::zs_head(result);
    for (uint32_t k = 0; k < n; ++k) {
        const uint32_t w = p[k];
        if (mode == kAlpha) {
            *to++ = static_cast<uint8_t>(255 - (w >> 24));
        } else if (mode == kRgb) {
            *to++ = static_cast<uint8_t>(w >> 16);
            *to++ = static_cast<uint8_t>(w >> 8);
            *to++ = static_cast<uint8_t>(w);
        } else {
            std::memcpy(to, &w, 4);
            to += 4;
        }
    }
    Buffer* b = memory::buffer(result->w2);
    b->tail = b->head + n * per;
    return result;
}

void set_pixels(const Cell* image, const Cell* value, int32_t mode) {
    const uint8_t t = cell::type(value);
    if (t != kTypeBinary && t != kTypeTuple && t != kTypeInteger) compound::invalid_arg(value);
    const bool owned =
        series::notify(image, Action::change, value, 0, static_cast<int32_t>(count_of(image)));
    uint32_t* p = pixels(image);
    const uint32_t n = count_of(image);
    if (t == kTypeBinary) {
        const uint8_t* from = binary::zs_head(value);
        const uint32_t length = binary::zs_length(value);
        if (mode == kArgb) {
            std::memcpy(p, from, std::min<uint64_t>(uint64_t{4} * n, length));
        } else if (mode == kRgb) {
            const uint32_t m = std::min(n, length / 3);
            for (uint32_t k = 0; k < m; ++k)
                p[k] =
                    (p[k] & kOpaque) | from[3 * k] << 16 | from[3 * k + 1] << 8 | from[3 * k + 2];
        } else {
            const uint32_t m = std::min(n, length);
            for (uint32_t k = 0; k < m; ++k)
                p[k] = (p[k] & 0xFFFFFF) | static_cast<uint32_t>(255 - from[k]) << 24;
        }
    } else {
        uint32_t word;
        if (t == kTypeTuple) {
            word = word_of_tuple(value);
        } else {
            // An integer as a colour is its low 24 bits; as alpha its low byte.
            const auto i = static_cast<uint32_t>(value->w2);
            word = mode == kAlpha ? (255u - (i & 0xFF)) << 24 : kOpaque | (i & 0xFFFFFF);
        }
        for (uint32_t k = 0; k < n; ++k) {
            if (mode == kArgb)
                p[k] = word;
            else if (mode == kRgb)
                p[k] = (p[k] & kOpaque) | (word & 0xFFFFFF);
            else
                p[k] = (p[k] & 0xFFFFFF) | (word & kOpaque);
        }
    }
    if (owned) series::notify(image, Action::changed, value, 0, static_cast<int32_t>(n));
}

// --- Actions --------------------------------------------------------------------------------

namespace {

Cell* pick(Cell* image, int32_t index, Cell* index_value);
Cell* poke(Cell* image, int32_t index, Cell* value, Cell* index_value);

Cell* to(Cell*, Cell* spec, int32_t) {
    if (cell::type(spec) == kTypeImage)
        return push_rect(spec, Rect{0, 0, width(spec), height(spec)});
    // Faces are captured by the GUI, which this build does not have: every object is refused.
    compound::bad_to_arg(kTypeImage, spec);
}

// make image! [size rgb-or-colour alpha]: rgb bytes are taken in whole triples (white once
// they run out), alpha bytes as 255 − opacity (opaque once they run out).
Cell* make_from_block(Cell* spec) {
    Buffer* b = memory::buffer(spec->w2);
    const uint32_t at = std::min(spec->w1, b->length());
    const uint32_t n = b->length() - at;
    const Cell size = b->cells()[at];
    if (cell::type(&size) != kTypePair) {
        Cell* expected = datatype::push(kTypePair);
        Cell* got = datatype::push(cell::type(&size));
        error::fire(error::kScript, error::script::expect_val, {expected, got});
    }
    Cell colour = n > 1 ? b->cells()[at + 1] : Cell{kTypeNone, 0, 0, 0};
    Cell alpha = n > 2 ? b->cells()[at + 2] : Cell{kTypeNone, 0, 0, 0};
    const uint8_t ct = cell::type(&colour);
    if (ct != kTypeNone && ct != kTypeBinary && ct != kTypeTuple)
        compound::invalid_arg(stack::push(colour));
    if (cell::type(&alpha) != kTypeNone && cell::type(&alpha) != kTypeBinary)
        compound::invalid_arg(stack::push(alpha));
    GcRoot hold_colour(colour), hold_alpha(alpha);
    Cell* result = push_new(static_cast<int32_t>(size.w2), static_cast<int32_t>(size.w3));
    const uint32_t count = count_of(result);
    uint32_t* p = pixels(result);
    const Cell& c = hold_colour.cell();
    if (ct == kTypeTuple) {
        std::fill(p, p + count, word_of_tuple(&c));
    } else if (ct == kTypeBinary) {
        const uint8_t* rgb = binary::zs_head(&c);
        const uint32_t m = std::min(count, binary::zs_length(&c) / 3);
        for (uint32_t k = 0; k < m; ++k)
            p[k] = kOpaque | rgb[3 * k] << 16 | rgb[3 * k + 1] << 8 | rgb[3 * k + 2];
    }
    const Cell& a = hold_alpha.cell();
    if (cell::type(&a) == kTypeBinary) {
        const uint8_t* bytes = binary::zs_head(&a);
        const uint32_t m = std::min(count, binary::zs_length(&a));
        for (uint32_t k = 0; k < m; ++k)
            p[k] = (p[k] & 0xFFFFFF) | static_cast<uint32_t>(255 - bytes[k]) << 24;
    }
    return result;
}

Cell* make(Cell* prototype, Cell* spec, int32_t type) {
    const uint8_t st = cell::type(spec);
    if (st == kTypeBlock && memory::buffer(spec->w2)->length() <= spec->w1) {
        if (cell::type(prototype) != kTypeImage) compound::invalid_arg(spec);
        return push_rect(prototype, Rect{0, 0, width(prototype), height(prototype)});
    }
    if (st == kTypePair)
        return push_new(static_cast<int32_t>(spec->w2), static_cast<int32_t>(spec->w3));
    if (st == kTypeBlock) return make_from_block(spec);
    return to(prototype, spec, type);
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent) {
    const uint32_t w = width(value), h = height(value);
    if (!options.only) {
        string::concatenate_cstring(string, "make image! [");
        limit -= 13;
    }
    const std::string size = std::to_string(w) + "x" + std::to_string(h);
    string::concatenate_cstring(string, size.c_str());
    limit -= static_cast<int32_t>(size.size());
    if (w * h == 0) {
        string::concatenate_cstring(string, " #{}");
        limit -= 4;
    } else {
        // The pixels from the index, read again after every append (which may collect).
        GcRoot held(*value);
        const uint32_t from = index_of(value), n = w * h - from;
        const bool lines = !options.flat && n >= 8;
        string::concatenate_cstring(string, " #{");
        limit -= 3;
        if (lines) newline(string, indent + 1, limit);
        bool translucent = false;
        uint32_t k = 0;
        for (; k < n && limit > 0; ++k) {
            const uint32_t p = pixels(&held.cell())[from + k];
            translucent |= (p >> 24) != 255;
            append_hex(string, static_cast<uint8_t>(p >> 16));
            append_hex(string, static_cast<uint8_t>(p >> 8));
            append_hex(string, static_cast<uint8_t>(p));
            limit -= 6;
            if (lines && (k + 1) % 10 == 0)
                newline(string, k + 1 == n ? indent : indent + 1, limit);
        }
        if (lines && n % 10 != 0) newline(string, indent, limit);
        string::concatenate_cstring(string, "}");
        limit -= 1;
        if (translucent && limit > 0) {
            string::concatenate_cstring(string, " #{\n");
            limit -= 4;
            for (uint32_t j = 0; j < k && limit > 0; ++j) {
                const uint32_t p = pixels(&held.cell())[from + j];
                append_hex(string, static_cast<uint8_t>(255 - (p >> 24)));
                limit -= 2;
                if (!options.flat && (j + 1) % 10 == 0 && j + 1 < k)
                    newline(string, indent + 1, limit);
            }
            string::concatenate_cstring(string, "\n}");
            limit -= 2;
        }
    }
    if (!options.only) {
        string::concatenate_cstring(string, "]");
        limit -= 1;
    }
    return limit;
}

int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit) {
    return mold(value, string, {.part = part}, limit, 0);
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    if (cell::type(other) != kTypeImage) return action::kNotComparable;
    const bool same = value->w2 == other->w2 && value->w1 == other->w1;
    switch (op) {
    case action::op::same:
        return same ? 0 : -1;
    case action::op::equal:
    case action::op::not_equal:
    case action::op::strict_equal:
    case action::op::sort:
    case action::op::case_sort:
    case action::op::find: {
        if (same) return 0;
        const uint32_t a = count_of(value), b = count_of(other);
        if (a != b) return a < b ? -1 : 1;
        const int c = std::memcmp(pixels(value), pixels(other), size_t{4} * a);
        return (c > 0) - (c < 0);
    }
    default:
        return action::kNotComparable;
    }
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, const action::PathOptions& options) {
    const uint8_t et = cell::type(element);
    if (et == kTypeInteger || et == kTypePair) {
        if (value) return poke(parent, 0, value, element);
        return pick(stack::push(*parent), 0, element);
    }
    int32_t mode = -1;
    if (names(element, "rgb"))
        mode = kRgb;
    else if (names(element, "alpha"))
        mode = kAlpha;
    else if (names(element, "argb"))
        mode = kArgb;
    if (mode >= 0) {
        if (!value) return to_binary(parent, mode);
        set_pixels(parent, value, mode);
        return value;
    }
    if (names(element, "size") && !value)
        return pair::push(static_cast<int32_t>(width(parent)),
                          static_cast<int32_t>(height(parent)));
    compound::invalid_path(options.path, element);
}

void at() {
    Cell* image = stack::arguments;
    bool outside;
    image->w1 = offset_of(image, index_of(image), image + 1, 1, outside);
}

void skip() {
    Cell* image = stack::arguments;
    bool outside;
    image->w1 = offset_of(image, index_of(image), image + 1, 0, outside);
}

void next() {
    Cell* image = stack::arguments;
    if (static_cast<int32_t>(image->w1) < 0) image->w1 = 0;
    if (image->w1 < count_of(image)) ++image->w1;
}

void tail() {
    stack::arguments->w1 = count_of(stack::arguments);
}

void tail_q() {
    const auto i = static_cast<int32_t>(stack::arguments->w1);
    logic::make_at(stack::arguments,
                   i >= 0 && static_cast<uint32_t>(i) >= count_of(stack::arguments));
}

int32_t length_q(Cell* image) {
    return static_cast<int32_t>(count_of(image));
}

// The pixel a pick or poke names: an integer counts from the index, a pair is absolute.
uint32_t pixel_at(const Cell* image, int32_t index, const Cell* index_value, bool& outside) {
    Cell scratch;
    const Cell* at = compound::selector(index, index_value, scratch);
    const uint32_t from = cell::type(at) == kTypePair ? 0 : index_of(image);
    return offset_of(image, from, at, 1, outside);
}

Cell* pick(Cell* image, int32_t index, Cell* index_value) {
    bool outside;
    const uint32_t k = pixel_at(image, index, index_value, outside);
    if (outside) return none::make_at(image);
    return tuple_of_word(image, pixels(image)[k]);
}

// Writes one pixel, telling the owner before and after.
void poke_pixel(const Cell* image, uint32_t k, const Cell* value) {
    const bool owned = series::notify(image, Action::poke, value, static_cast<int32_t>(k), 1);
    if (k < count_of(image)) pixels(image)[k] = word_of_tuple(value);
    if (owned) series::notify(image, Action::poked, value, static_cast<int32_t>(k), 1);
}

Cell* poke(Cell* image, int32_t index, Cell* value, Cell* index_value) {
    bool outside;
    Cell scratch;
    const Cell* at = compound::selector(index, index_value, scratch);
    const uint32_t k = pixel_at(image, index, index_value, outside);
    if (outside) compound::out_of_range(at);
    if (cell::type(value) != kTypeTuple) compound::invalid_arg(value);
    poke_pixel(image, k, value);
    return value;
}

Cell* change(Cell* image, Cell* value, const action::ChangeOptions& options) {
    if (options.part != -1 || options.dup != 1) compound::not_done();
    const uint8_t vt = cell::type(value);
    if (vt != kTypeTuple && vt != kTypeImage) compound::invalid_type(value);
    const uint32_t start = index_of(image);
    if (start >= count_of(image)) return image;
    if (vt == kTypeTuple) {
        poke_pixel(image, start, value);
        image->w1 = start + 1;
        return image;
    }
    const bool owned = series::notify(image, Action::change, value, static_cast<int32_t>(start), 1);
    int64_t x, y;
    position_of(image, x, y);
    const int64_t w = width(image), h = height(image);
    const Rect r = clip(Rect{x, y, width(value), height(value)}, w, h);
    uint32_t* to = pixels(image);
    const uint32_t* from = pixels(value);
    const uint32_t vw = width(value);
    // An image pasted into itself is read from a copy: its rows may overlap their targets.
    std::vector<uint32_t> own;
    if (value->w2 == image->w2) {
        own.assign(from, from + count_of(value));
        from = own.data();
    }
    for (int64_t row = 0; row < r.h; ++row)
        std::memcpy(to + (r.y + row) * w + r.x, from + row * vw, static_cast<size_t>(r.w) * 4);
    if (r.h > 0) image->w1 = static_cast<uint32_t>((r.y + r.h - 1) * w + std::min(r.x + r.w, w));
    if (owned) series::notify(image, Action::changed, value, static_cast<int32_t>(start), 1);
    return image;
}

Cell* copy(Cell* image, Cell* result, const action::CopyOptions& options) {
    Cell* const part = options.part;
    const int64_t w = width(image), h = height(image);
    int64_t x, y;
    position_of(image, x, y);
    Rect r{x, y, w - x, h - y};
    if (index_of(image) >= w * h) r = Rect{};
    if (part) {
        const uint8_t pt = cell::type(part);
        if (pt == kTypePair) {
            const int64_t px = static_cast<int32_t>(part->w2), py = static_cast<int32_t>(part->w3);
            r = Rect{px >= 0 ? x : x + px, py >= 0 ? y : y + py, px >= 0 ? px : -px,
                     py >= 0 ? py : -py};
        } else if (pt == kTypeImage && part->w2 == image->w2) {
            int64_t ox, oy;
            position_of(part, ox, oy);
            r = Rect{std::min(x, ox), std::min(y, oy), std::abs(ox - x), std::abs(oy - y)};
        } else if (pt == kTypeInteger) {
            compound::not_done();
        } else {
            series::invalid_refine(refinements::refinement.part, part);
        }
        r = clip(r, w, h);
    }
    const Cell made = *push_rect(image, r);
    stack::pop(1);
    *result = made;
    return result;
}

} // namespace

// --- Registration ---------------------------------------------------------------------------

void register_actions() {
    // The pixels are a series buffer of the memory manager, marked through word 2; the kind
    // is there for the platform bitmaps that the GUI makes of images.
    collector::set_type_marker(kTypeImage, collector::mark_series_cell);
    externals::register_kind("image", nullptr);
    namespace s = action::slot;
    action::Row row;
    row.set<s::make>(make)
        .set<s::to>(to)
        .set<s::form>(form)
        .set<s::mold>(mold)
        .set<s::eval_path>(eval_path)
        .set<s::compare>(compare)
        .set<s::at>(at)
        .set<s::change>(change)
        .set<s::copy>(copy)
        .set<s::length_q>(length_q)
        .set<s::next>(next)
        .set<s::pick>(pick)
        .set<s::poke>(poke)
        .set<s::skip>(skip)
        .set<s::tail>(tail)
        .set<s::tail_q>(tail_q)
        .inherit({s::back, s::head, s::head_q, s::index_q, s::modify});
    datatype::register_({kTypeImage, kTypeSeries, "image!", row.entries()});
}

} // namespace image
