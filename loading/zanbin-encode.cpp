// The ZANBIN encoder (the format: zanbin.h). It writes a value and all it holds as records into
// a byte string, with the collector held off: the node ids by which it knows shared series and
// contexts stay as they are while it runs.
#include "loading/zanbin.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/image.h"
#include "datatypes/native.h"
#include "datatypes/symbol.h"
#include "loading/lz.h"
#include "loading/zanbin-format.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/support.h"
#include "runtime-core/type-traits.h"

namespace zanbin {

namespace {

using namespace format;

// A unit size of 1, 2, 4 or 8 bytes as the compact encoding writes it: its base-2 logarithm.
uint32_t log2_unit(uint32_t unit) {
    return unit == 1 ? 0 : unit == 2 ? 1 : unit == 4 ? 2 : 3;
}

class Encoder {
public:
    explicit Encoder(bool fixed, bool boot = false) : fixed_(fixed), boot_(boot) {}

    // Writes one value as the root record.
    void root(const Cell* value) {
        // A later word of the boot image bound to this value's context names it by number.
        const uint8_t t = cell::type(value);
        if (boot_ && (t == kTypeObject || t == kTypeFunction || t == kTypeError) && value->w1)
            literals_.try_emplace(value->w1, roots_);
        write(*value);
        ++roots_;
    }

    // A word-with-value record of the boot image: the word and its value take no place among
    // the roots (the decoder drops both once the word is set), so nothing later may refer to
    // what they hold.
    void preset(const Cell* word, const Cell* value) {
        const uint32_t saved = position_;
        byte(kPrefixWordValue);
        write(*word);
        write(*value);
        position_ = saved;
        map_.clear();
    }

    // The whole data: header, symbol table, records.
    std::string data() const {
        std::string out(reinterpret_cast<const char*>(kMagic), 6);
        out += boot_ ? '\1' : '\2';
        const uint32_t symbols = symbols_.empty() ? 0 : kFlagSymbols;
        out += static_cast<char>((fixed_ ? 0 : kFlagCompact) | symbols);
        auto number = [&](uint32_t v) { fixed_ ? put_u32(out, v) : put_varint(out, v); };
        number(boot_ ? roots_ : 1);
        number(static_cast<uint32_t>(records_.size()));
        if (symbols) {
            number(static_cast<uint32_t>(symbols_.size()));
            number(static_cast<uint32_t>(strings_.size()));
            for (const uint32_t offset : offsets_) put_u32(out, offset);
            out += strings_;
        }
        out += records_;
        return out;
    }

private:
    static void put_varint(std::string& out, uint32_t v) {
        while (v >= 0x80) {
            out += static_cast<char>(v | 0x80);
            v >>= 7;
        }
        out += static_cast<char>(v);
    }
    static void put_u32(std::string& out, uint32_t v) {
        for (int k = 0; k < 4; ++k) out += static_cast<char>(v >> (8 * k));
    }
    void byte(uint32_t b) { records_ += static_cast<char>(b); }
    void varint(uint32_t v) { put_varint(records_, v); }
    void zigzag(int32_t n) {
        varint((static_cast<uint32_t>(n) << 1) ^ static_cast<uint32_t>(n >> 31));
    }
    void u32(uint32_t v) { put_u32(records_, v); }
    // Counts and numbers: varints and zigzag integers, or words.
    void num(uint32_t v) { fixed_ ? u32(v) : varint(v); }
    void snum(int32_t n) { fixed_ ? u32(static_cast<uint32_t>(n)) : zigzag(n); }
    // Raw bytes; a fixed-width record pads them to 4 bytes.
    void raw(const void* p, uint32_t n) {
        records_.append(static_cast<const char*>(p), n);
        if (fixed_)
            while (records_.size() % 4 != 0) byte(0);
    }

    // The head of a record: the compact type byte (`flag` its bit 6), or the fixed-width
    // header word (`bits` above the type id). A reference takes the 0xC1 prefix or header
    // bit 19.
    void start(uint8_t t, bool flag, uint32_t bits = 0, bool reference = false) {
        if (fixed_) {
            u32(t | bits | (reference ? kFixedReference : 0) | (new_line_ ? kFixedNewLine : 0));
        } else {
            if (reference) byte(kPrefixReference);
            const uint32_t f = flag ? kTypeFlag : 0;
            if (t >= kLongType) {
                byte(kLongType | f);
                varint(t);
            } else {
                byte(t | f);
            }
        }
        new_line_ = false;
    }

    // A symbol's position in the table, added on first use. The fixed-width string area
    // keeps every text at a multiple of 8 bytes.
    void symbol(uint32_t id) {
        auto [it, added] = symbol_index_.try_emplace(id, static_cast<uint32_t>(symbols_.size()));
        if (added) {
            symbols_.push_back(id);
            offsets_.push_back(static_cast<uint32_t>(strings_.size()));
            strings_ += symbol::text(id);
            strings_ += '\0';
            if (fixed_)
                while (strings_.size() % 8 != 0) strings_ += '\0';
        }
        num(it->second);
    }

    [[noreturn]] static void no_codec(const Cell& v) {
        Cell* pushed = stack::push(v);
        error::fire(error::kAccess, error::access::no_codec, {pushed});
    }

    // --- The reference map ----------------------------------------------------------------

    // The path of the record being written now.
    std::vector<uint32_t> here() const {
        std::vector<uint32_t> p = path_;
        p.push_back(position_);
        return p;
    }
    // When the node was written before: its path.
    const std::vector<uint32_t>* seen(uint32_t node) const {
        const auto it = map_.find(node);
        return it == map_.end() ? nullptr : &it->second;
    }
    void remember(uint32_t node) { map_.emplace(node, here()); }
    // The reference path; in the fixed-width encoding a reference-value record.
    void write_path(const std::vector<uint32_t>& p) {
        if (fixed_) u32(kReferenceValue);
        num(static_cast<uint32_t>(p.size()));
        for (const uint32_t e : p) num(e);
    }
    // The content of a container is written one level down.
    void enter() {
        path_.push_back(position_);
        position_ = 0;
    }
    void leave() {
        position_ = path_.back();
        path_.pop_back();
    }

    // --- Records --------------------------------------------------------------------------

    void write(const Cell& v) {
        if (++depth_ > kMaxDepth) error::fire(error::kInternal, error::internal::too_deep);
        new_line_ = (v.header & cell::kNewLine) != 0;
        if (!fixed_ && new_line_) byte(kPrefixNewLine);
        record(v);
        --depth_;
        ++position_;
    }

    // A record at the current position that takes none of its own (an op!'s function, a
    // word's inline owner).
    void write_in_place(const Cell& v) {
        const uint32_t saved = position_;
        write(v);
        position_ = saved;
    }

    void record(const Cell& v) {
        const uint8_t t = cell::type(&v);
        if (traits::is_any_block(t)) return block_record(v);
        if (traits::is_any_string(t) || t == kTypeBinary || t == kTypeVector) return raw_series(v);
        if (traits::is_bindable_word(t)) return word_record(v);
        switch (t) {
        case kTypeUnset:
        case kTypeNone:
            return start(t, false);
        case kTypeDatatype:
            start(t, false);
            return num(v.w1);
        case kTypeLogic:
            if (!fixed_) return byte(v.w1 ? kTrue : kFalse);
            start(t, false);
            return u32(v.w1 ? 1 : 0);
        case kTypeInteger: {
            const auto n = static_cast<int32_t>(v.w2);
            if (!fixed_ && n >= 0 && n <= 63) return byte(kSmallInteger + static_cast<uint32_t>(n));
            start(t, false);
            return snum(n);
        }
        case kTypeChar:
            start(t, false);
            return num(v.w2);
        case kTypePair:
            start(t, false);
            snum(static_cast<int32_t>(v.w2));
            return snum(static_cast<int32_t>(v.w3));
        case kTypePoint2D:
        case kTypePoint3D:
            start(t, false);
            u32(v.w1), u32(v.w2);
            if (t == kTypePoint3D) u32(v.w3);
            return;
        case kTypeFloat:
        case kTypeTime:
        case kTypePercent:
            return number(v);
        case kTypeDate: {
            const bool has_time = (v.w1 >> 16) & 1;
            start(t, has_time);
            u32(v.w1);
            if (fixed_) return u32(v.w3), u32(v.w2);
            if (has_time) u32(v.w2), u32(v.w3);
            return;
        }
        case kTypeTypeset: {
            uint8_t bits[12];
            std::memcpy(bits, &v.w1, 12);
            uint32_t n = 12;
            if (!fixed_)
                while (n > 0 && bits[n - 1] == 0) --n;
            start(t, false);
            if (!fixed_) byte(n);
            return raw(bits, n);
        }
        case kTypeTuple: {
            const uint32_t n = (v.header >> 19) & 15;
            start(t, n != 3, n << 8);
            if (fixed_) return raw(&v.w1, 12);
            if (n != 3) byte(n);
            return raw(&v.w1, n);
        }
        case kTypeMoney: {
            const bool negative = (v.header >> 14) & 1;
            start(t, negative, negative ? kFixedNegative : 0);
            return raw(&v.w1, 12);
        }
        case kTypeIssue:
            start(t, false);
            return symbol(v.w2);
        case kTypeBitset:
            return bitset_record(v);
        case kTypeMap:
            return map_record(v);
        case kTypeObject:
            return object_record(v);
        case kTypeError:
            return error_record(v);
        case kTypeFunction:
            return function_record(v);
        case kTypeNative:
        case kTypeAction:
            start(t, false);
            num(v.w1);
            return write_spec(Cell{kTypeBlock, 0, v.w2, 0});
        case kTypeImage:
            return image_record(v);
        case kTypeOp: {
            const uint8_t inner = native::op_type(&v);
            if (inner == kTypeRoutine) no_codec(v);
            start(t, false, static_cast<uint32_t>(inner) << 16);
            Cell fn = v;
            fn.header = inner;
            return write_in_place(fn);
        }
        default:
            no_codec(v); // routine!, triple!, handle!, port!, event!, context!
        }
    }

    void number(const Cell& v) {
        const uint8_t t = cell::type(&v);
        double d;
        std::memcpy(&d, &v.w2, 8);
        if (fixed_) {
            // The double lies at a multiple of 8 bytes: a zero word (skipped) pads before it.
            if (records_.size() % 8 != 0) u32(0);
            start(t, false);
            return u32(v.w3), u32(v.w2);
        }
        bool short_form = false;
        int32_t n = 0;
        if (t == kTypePercent) {
            if (d >= -21474836.0 && d <= 21474836.0) {
                const double scaled = d * 100.0;
                n = static_cast<int32_t>(scaled < 0 ? scaled - 0.5 : scaled + 0.5);
                short_form = n / 100.0 == d;
            }
        } else if (d >= -2147483000.0 && d <= 2147483000.0) {
            n = static_cast<int32_t>(d);
            short_form = static_cast<double>(n) == d;
        }
        if (n == 0 && std::signbit(d)) short_form = false; // -0.0 keeps its sign
        start(t, short_form);
        if (short_form) return zigzag(n);
        u32(v.w2), u32(v.w3);
    }

    // The head of a series record: the type, the index (compact: only when not 0, with the
    // flag), and for a node written before the reference path; answers whether the content
    // is still to write.
    bool series_head(const Cell& v, uint8_t t, uint32_t bits = 0) {
        const auto* p = seen(v.w2);
        const uint32_t index = std::min(v.w1, memory::buffer(v.w2)->length());
        start(t, index != 0, bits, p != nullptr);
        if (fixed_)
            u32(index);
        else if (index != 0)
            varint(index);
        if (p) {
            write_path(*p);
            return false;
        }
        remember(v.w2);
        return true;
    }

    void block_record(const Cell& v) {
        if (!series_head(v, cell::type(&v))) return;
        const uint32_t n = length_of(v.w2);
        num(n);
        enter();
        for (uint32_t k = 0; k < n; ++k) write(cells_of(v.w2)[k]);
        leave();
    }

    void raw_series(const Cell& v) {
        const uint8_t t = cell::type(&v);
        memory::Buffer* b = memory::buffer(v.w2);
        const uint32_t unit = b->unit(), units = b->length();
        if (!series_head(v, t, unit << 8)) return;
        if (t == kTypeBinary) {
            num(units);
        } else if (t == kTypeVector) {
            if (fixed_) {
                u32(units);
                u32(v.w3);
            } else {
                byte(v.w3 << 2 | log2_unit(unit));
                varint(units);
            }
        } else {
            fixed_ ? u32(units) : varint(units << 2 | log2_unit(unit));
        }
        raw(b->at_head(), units * unit);
    }

    // The index, the size (compact: varint width and height; fixed-width: one word, the width
    // in the low half), then the pixel words as stored, 4 bytes each.
    void image_record(const Cell& v) {
        if (!series_head(v, kTypeImage)) return;
        const uint32_t width = image::width(&v), height = image::height(&v);
        if (fixed_) {
            u32(height << 16 | width);
        } else {
            varint(width);
            varint(height);
        }
        raw(image::pixels(&v), width * height * 4);
    }

    void bitset_record(const Cell& v) {
        memory::Buffer* b = memory::buffer(v.w2);
        const auto* p = seen(v.w2);
        const bool complemented = (b->flags & bitset::kFlagComplement) != 0;
        start(kTypeBitset, complemented, complemented ? kFixedComplement : 0, p != nullptr);
        if (p) return write_path(*p);
        remember(v.w2);
        num(b->length());
        raw(b->at_head(), b->length());
    }

    void map_record(const Cell& v) {
        const auto* p = seen(v.w2);
        start(kTypeMap, false, 0, p != nullptr);
        if (p) return write_path(*p);
        remember(v.w2);
        const uint32_t n = length_of(v.w2);
        uint32_t live = 0;
        for (uint32_t k = 0; k + 1 < n; k += 2)
            if (cells_of(v.w2)[k + 1].header != 0) ++live;
        num(2 * live);
        enter();
        for (uint32_t k = 0; k + 1 < n; k += 2) {
            const Cell key = cells_of(v.w2)[k], value = cells_of(v.w2)[k + 1];
            if (value.header == 0) continue; // a removed entry
            write(key);
            write(value);
        }
        leave();
    }

    // A word keeps its binding when its context belongs to an object! or function!, or to
    // an error! written before; any other word is written as global.
    void word_record(const Cell& w) {
        const uint8_t t = cell::type(&w);
        const uint32_t ctx = w.w1;
        const bool own = ctx != 0 && ctx != context::global;
        const Cell owner = own ? *context::owner_of(ctx) : Cell{};
        const uint8_t owner_type = cell::type(&owner);
        const auto* p = own && (owner_type == kTypeObject || owner_type == kTypeFunction ||
                                owner_type == kTypeError)
                            ? seen(ctx)
                            : nullptr;
        if (!p && owner_type != kTypeObject && owner_type != kTypeFunction) {
            start(t, false, kFixedGlobal);
            symbol(w.w2);
            if (fixed_) u32(w.w3);
            return;
        }
        if (boot_) {
            // The boot image binds a word through the literal cell that carries its context.
            const auto literal = literals_.find(ctx);
            if (literal == literals_.end()) no_codec(w);
            start(t, true);
            symbol(w.w2);
            varint(literal->second);
            zigzag(static_cast<int32_t>(w.w3));
            return;
        }
        start(t, true, 0, p != nullptr);
        symbol(w.w2);
        snum(static_cast<int32_t>(w.w3));
        if (p) return write_path(*p);
        // The owner comes inline, at the word's own position.
        Cell inline_owner = owner;
        inline_owner.header &= ~cell::kNewLine;
        write_in_place(inline_owner);
    }

    void context_record(uint32_t ctx) {
        const uint32_t n = context::word_count(ctx);
        const bool on_stack = context::on_stack(ctx);
        bool any_set = false;
        for (uint32_t k = 0; k < n && !on_stack; ++k) {
            const Cell* s = context::slot(ctx, static_cast<int32_t>(k));
            if (s && cell::type(s) != kTypeUnset) any_set = true;
        }
        const bool option = (context::cell_of(ctx)->header & context::kFlagObject) != 0;
        const auto kind = static_cast<uint32_t>(context::kind_of(ctx));
        start(kTypeContext, false,
              kind << 26 | (option ? 1u << 28 : 0) | (on_stack ? 1u << 29 : 0) |
                  (any_set ? 1u << 30 : 0));
        if (!fixed_)
            byte(kind | (on_stack ? kContextOnStack : 0) | (option ? kContextOption : 0) |
                 (any_set ? kContextValues : 0));
        num(n);
        for (uint32_t k = 0; k < n; ++k) symbol(context::words(ctx)[k].w2);
        if (!any_set) return;
        enter();
        for (uint32_t k = 0; k < n; ++k) {
            const Cell* s = context::slot(ctx, static_cast<int32_t>(k));
            write(s ? *s : Cell{kTypeUnset, 0, 0, 0});
        }
        leave();
    }

    void object_record(const Cell& o) {
        const uint32_t ctx = o.w1;
        const auto* p = ctx == context::global ? nullptr : seen(ctx);
        const bool handlers = o.w3 != 0;
        start(kTypeObject, handlers && !p, handlers && !p ? kFixedHandlers : 0, p != nullptr);
        if (p) return write_path(*p);
        if (ctx != context::global) remember(ctx);
        snum(static_cast<int32_t>(o.w2));
        if (handlers) {
            snum(static_cast<int32_t>(cells_of(o.w3)[0].w2) >> 16);
            snum(static_cast<int32_t>(cells_of(o.w3)[1].w2) >> 16);
        }
        context_record(ctx);
    }

    // Always in full; words bound to its context that come later refer to it.
    void error_record(const Cell& e) {
        start(kTypeError, false);
        const uint32_t ctx = e.w1;
        num(context::slot(ctx, error::kCode)->w2);
        remember(ctx);
        enter();
        for (uint32_t f = error::kArg1; f <= error::kStack; ++f)
            write(*context::slot(ctx, static_cast<int32_t>(f)));
        leave();
    }

    void function_record(const Cell& fn) {
        const uint32_t ctx = fn.w1;
        const auto* p = seen(ctx);
        const Cell body = any_function::body(&fn);
        if (!p && cell::type(&body) != kTypeBlock) no_codec(fn);
        start(kTypeFunction, false, 0, p != nullptr);
        if (p) return write_path(*p);
        remember(ctx);
        num(length_of(any_function::spec_node(&fn)));
        num(length_of(body.w2) - std::min(body.w1, length_of(body.w2)));
        context_record(ctx);
        // The spec at position 0 (from its head, no new-line marker), the body at 1.
        enter();
        write(any_function::spec(&fn));
        write(body);
        leave();
    }

    // A native's spec: written in full and not remembered (no path leads into it here).
    void write_spec(const Cell& spec) {
        start(kTypeBlock, false);
        if (fixed_) u32(0);
        const uint32_t n = length_of(spec.w2);
        num(n);
        enter();
        for (uint32_t k = 0; k < n; ++k) write(cells_of(spec.w2)[k]);
        leave();
    }

    bool fixed_;
    bool new_line_ = false;
    std::string records_;
    std::vector<uint32_t> symbols_;
    std::vector<uint32_t> offsets_;
    std::unordered_map<uint32_t, uint32_t> symbol_index_;
    std::string strings_;
    std::unordered_map<uint32_t, std::vector<uint32_t>> map_;
    std::vector<uint32_t> path_;
    uint32_t position_ = 0;
    uint32_t depth_ = 0;
    bool boot_ = false;
    uint32_t roots_ = 0;
    std::unordered_map<uint32_t, uint32_t> literals_;
};

Cell* encode(const Cell* value, bool fixed) {
    codec_mode = true;
    std::string out;
    {
        // Nothing allocates while the records are written: node ids stay as they are.
        NoCollectScope hold;
        Encoder encoder(fixed);
        encoder.root(value);
        out = encoder.data();
    }
    return binary::load(reinterpret_cast<const uint8_t*>(out.data()),
                        static_cast<uint32_t>(out.size()));
}

} // namespace

Cell* encode_compact(const Cell* value) {
    return encode(value, false);
}

Cell* encode_fixed(const Cell* value) {
    return encode(value, true);
}

std::string encode_boot(const Cell* presets, const Cell* roots) {
    codec_mode = false;
    std::string body;
    {
        NoCollectScope hold;
        Encoder encoder(false, true);
        const Cell* p = cells_of(presets->w2);
        for (uint32_t k = 0; k + 1 < length_of(presets->w2); k += 2)
            encoder.preset(p + k, p + k + 1);
        const Cell* r = cells_of(roots->w2);
        for (uint32_t k = 0; k < length_of(roots->w2); ++k) encoder.root(r + k);
        body = encoder.data();
    }
    // The body after the flag byte is compressed as a whole.
    std::string out = body.substr(0, 8);
    out[7] = static_cast<char>(out[7] | kFlagCompressed);
    std::vector<uint8_t> packed(body.size() - 8);
    const int32_t n = lz::compress(reinterpret_cast<const uint8_t*>(body.data()) + 8,
                                   static_cast<uint32_t>(body.size() - 8), packed.data());
    if (n < 0) return body; // too small to gain anything
    out.append(reinterpret_cast<const char*>(packed.data()), static_cast<size_t>(n));
    return out;
}

} // namespace zanbin
