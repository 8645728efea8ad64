// The ZANBIN decoder (the format and what decoding promises: zanbin.h). It reads the records
// of a body into the target block one by one; a record that does not hold together raises
// script/zb-invalid-record with its byte position.
#include "loading/zanbin.h"

#include <cmath>
#include <cstring>
#include <iterator>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/hash.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/signature.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/vector.h"
#include "datatypes/word.h"
#include "loading/lz.h"
#include "loading/zanbin-format.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/runtime.h"
#include "runtime-core/stdio.h"
#include "runtime-core/support.h"
#include "runtime-core/type-traits.h"
#include "runtime-core/unicode.h"

namespace zanbin {

bool codec_mode = false;

namespace {

using namespace format;

// The types that have no record: the encoder refuses them, and a record that names one is
// refused the same way.
bool unsaveable(uint8_t t) {
    return t == kTypeRoutine || t == kTypeTriple || t == kTypeHandle || t == kTypePort ||
           t == kTypeEvent;
}

class Decoder {
public:
    // Decodes the body that starts `offset` bytes into the data (error positions count from
    // the data's start).
    // In boot mode the target already holds `base` cells: reference paths and literal-cell
    // indexes count from there.
    Decoder(const std::vector<uint8_t>& data, uint32_t offset, const Cell* target,
            bool boot = false, uint32_t base = 0)
        : start_(data.data()), at_(data.data() + offset), end_(data.data() + data.size()),
          target_(target), boot_(boot), base_(base) {}

    // The body: the root count, the record area's size, the symbol table, then records until
    // the record area is used up. The counts are varints in the compact encoding, 32-bit words
    // in the fixed-width one.
    void body(bool symbols, bool fixed) {
        fixed_ = fixed;
        num(); // root count: not needed, the record area says where the records end
        const uint32_t records = num();
        if (symbols) {
            symbol_count_ = num();
            strings_size_ = num();
            if (symbol_count_ > left() / 4) fail();
            offsets_ = at_;
            at_ += 4 * symbol_count_;
            if (strings_size_ > left()) fail();
            if (!fixed_ && strings_size_ > 0 && at_[strings_size_ - 1] != 0) fail();
            strings_ = at_;
            at_ += strings_size_;
        }
        if (records > left()) fail();
        end_ = at_ + records;
        records_start_ = at_;
        while (at_ < end_) record(target_);
    }

private:
    [[noreturn]] void fail() const { fail_at(at_); }
    [[noreturn]] void fail_at(const uint8_t* at) const {
        Cell position;
        integer::make_at(&position, static_cast<int32_t>(at - start_ + 1));
        error::fire(error::kScript, error::script::zb_invalid_record, {&position});
    }
    uint32_t left() const { return static_cast<uint32_t>(end_ - at_); }

    // --- Primitive fields ---------------------------------------------------------------

    uint8_t byte() {
        if (at_ >= end_) fail();
        return *at_++;
    }
    uint32_t u32() {
        if (left() < 4) fail();
        uint32_t v;
        std::memcpy(&v, at_, 4);
        at_ += 4;
        return v;
    }
    uint32_t varint() {
        uint32_t v = 0;
        for (uint32_t shift = 0; shift < 35; shift += 7) {
            const uint8_t* here = at_;
            const uint8_t b = byte();
            if (shift == 28 && (b & 0xF0) != 0) fail_at(here);
            v |= static_cast<uint32_t>(b & 0x7F) << shift;
            if ((b & 0x80) == 0) return v;
        }
        return v; // not reached: the fifth byte has no continuation bit
    }
    int32_t zigzag() {
        const uint32_t v = varint();
        return static_cast<int32_t>((v >> 1) ^ (0u - (v & 1)));
    }
    void bytes(uint8_t* out, uint32_t n) {
        if (n > left()) fail();
        std::memcpy(out, at_, n);
        at_ += n;
    }
    // Counts and numbers: varints and zigzag integers, or 32-bit words.
    uint32_t num() { return fixed_ ? u32() : varint(); }
    int32_t snum() { return fixed_ ? static_cast<int32_t>(u32()) : zigzag(); }
    // A count of items that each take at least one byte (a word when fixed-width), checked
    // against the bytes left before anything is allocated for them.
    uint32_t count() {
        const uint8_t* here = at_;
        const uint32_t n = num();
        if (n > (fixed_ ? left() / 4 : left())) fail_at(here);
        return n;
    }
    // Raw bytes of a fixed-width record end padded to a 4-byte boundary.
    void pad() {
        if (!fixed_) return;
        while ((at_ - records_start_) % 4 != 0) byte();
    }

    // A symbol by its index in the table, interned.
    uint32_t symbol_at() {
        const uint8_t* here = at_;
        const uint32_t index = num();
        if (index >= symbol_count_) fail_at(here);
        uint32_t offset;
        std::memcpy(&offset, offsets_ + 4 * index, 4);
        if (offset >= strings_size_ || (offset & 0x80000000u)) fail_at(here);
        const char* text = reinterpret_cast<const char*>(strings_ + offset);
        const void* zero = std::memchr(text, 0, strings_size_ - offset);
        if (!zero) fail_at(here);
        const auto length = static_cast<uint32_t>(static_cast<const char*>(zero) - text);
        if (length == 0 || !valid_utf8(strings_ + offset, length)) fail_at(here);
        return symbol::find_or_make(text, length);
    }

    static bool valid_utf8(const uint8_t* at, uint32_t length) {
        const uint8_t* end = at + length;
        while (at < end) {
            if (*at < 0x80) {
                ++at;
                continue;
            }
            int32_t cp;
            at = utf8::decode_char(at, end, cp);
            if (cp < 0) return false;
        }
        return true;
    }

    // --- Appending ----------------------------------------------------------------------

    // Appends a copy of a value to the container; returns its position from the head.
    static uint32_t append(const Cell* container, const Cell& value, bool new_line) {
        Cell* v = stack::push(value);
        if (new_line) v->header |= cell::kNewLine;
        block::append_copy(container, v);
        stack::pop(1);
        return length_of(container->w2) - 1;
    }
    static Cell* at(const Cell* container, uint32_t position) {
        return cells_of(container->w2) + position;
    }

    // --- Reference paths ----------------------------------------------------------------

    // The cells a path element steps into, from a value reached so far: their node-less view
    // (first cell and count), or false when the value holds none.
    static bool inside(const Cell& v, uint32_t element, Cell& out) {
        const uint8_t t = cell::type(&v);
        auto from_block = [&](uint32_t node, uint32_t skip) {
            if (node == 0 || memory::buffer(node)->unit() != sizeof(Cell)) return false;
            if (element >= length_of(node) || element + skip >= length_of(node)) return false;
            out = cells_of(node)[element + skip];
            return true;
        };
        auto function_part = [&](const Cell& fn) {
            if (element > 1) return false;
            out = element == 0 ? any_function::spec(&fn) : any_function::body(&fn);
            return true;
        };
        if (traits::is_any_block(t) || t == kTypeMap) return from_block(v.w2, 0);
        if (t == kTypeFunction) return function_part(v);
        if (t == kTypeOp && native::op_type(&v) == kTypeFunction) return function_part(v);
        if (t == kTypeNative || t == kTypeAction) return from_block(v.w2, 0);
        if (t == kTypeObject || t == kTypeError || (traits::is_bindable_word(t) && v.w1 != 0)) {
            const uint32_t ctx = v.w1;
            if (ctx == 0) return false;
            const Cell* owner = context::owner_of(ctx);
            if (traits::is_bindable_word(t) && cell::type(owner) == kTypeFunction)
                return function_part(*owner);
            if (context::on_stack(ctx)) return false;
            const uint32_t skip = t == kTypeError ? 3 : 0;
            if (element + skip >= context::word_count(ctx)) return false;
            Cell* slot = context::slot(ctx, static_cast<int32_t>(element + skip));
            if (!slot) return false;
            out = *slot;
            return true;
        }
        return false;
    }

    // A reference path: in the fixed-width encoding a reference-value record (255, the
    // length, the elements).
    Cell path() {
        if (fixed_) {
            const uint8_t* here = at_;
            if (u32() != kReferenceValue) fail_at(here);
        }
        return path_body();
    }
    Cell path_body() {
        const uint8_t* here = at_;
        const uint32_t n = num();
        if (n < 1 || n > kMaxPath) fail_at(here);
        Cell v;
        for (uint32_t k = 0; k < n; ++k) {
            const uint8_t* element_at = at_;
            const uint32_t e = num();
            if (k == 0) {
                if (e >= length_of(target_->w2) - base_) fail_at(element_at);
                v = cells_of(target_->w2)[base_ + e];
            } else if (!inside(v, e, v)) {
                fail_at(element_at);
            }
        }
        return v;
    }

    // --- Records ------------------------------------------------------------------------

    struct Depth {
        explicit Depth(Decoder& d) : d_(d) {
            if (++d_.depth_ > kMaxDepth) d_.fail();
        }
        ~Depth() { --d_.depth_; }
        Decoder& d_;
    };

    void record(const Cell* container) {
        Depth depth(*this);
        if (fixed_) return fixed_record(container);
        bool new_line = false, reference = false;
        const uint8_t* word_value_at = nullptr;
        for (;;) {
            const uint8_t b = byte();
            if (b == kPrefixNewLine) {
                new_line = true;
            } else if (b == kPrefixReference) {
                reference = true;
            } else if (b == kPrefixWordValue) {
                // Only the boot image gives words their values this way.
                if (!boot_) fail_at(at_ - 1);
                word_value_at = at_ - 1;
            } else {
                --at_;
                break;
            }
            if (at_ >= end_) fail(); // a prefix needs a record after it
        }
        const uint8_t* lead_at = at_;
        const uint8_t lead = byte();
        if (lead >= 0x80) {
            if (reference || word_value_at) fail_at(lead_at);
            Cell v{};
            if (lead < kTrue) {
                integer::make_at(&v, lead - kSmallInteger);
            } else if (lead == kTrue || lead == kFalse) {
                v = Cell{kTypeLogic, lead == kTrue ? 1u : 0u, 0, 0};
            } else if (lead == kReferenceValue) {
                v = path();
                v.header &= ~cell::kNewLine;
            } else {
                fail_at(lead_at);
            }
            append(container, v, new_line);
            return;
        }
        const bool flag = (lead & kTypeFlag) != 0;
        uint32_t type = lead & kLongType;
        if (type == kLongType) type = varint();
        if (type == 0 || type > 0xFF) fail_at(lead_at);
        const auto t = static_cast<uint8_t>(type);
        if (unsaveable(t)) {
            Cell datatype_value;
            datatype::make_at(&datatype_value, t);
            error::fire(error::kAccess, error::access::no_codec, {&datatype_value});
        }
        if (reference && !referable(t)) fail_at(lead_at);
        if (word_value_at) return preset_word(container, t, flag, reference, new_line, lead_at);
        value(container, t, flag, reference, new_line, lead_at, 0);
    }

    // A word-with-value record: the word, then the record of its value, decoded into the
    // container; the word is set to the value and both cells are dropped again, so that such
    // records take no literal cell.
    void preset_word(const Cell* container, uint8_t t, bool flag, bool reference, bool new_line,
                     const uint8_t* lead_at) {
        if (!traits::is_bindable_word(t)) fail_at(lead_at);
        const uint32_t position = length_of(container->w2);
        value(container, t, flag, reference, new_line, lead_at, 0);
        const uint8_t* value_at = at_;
        record(container);
        // The value is one cell: a word-with-value record there would leave none.
        if (length_of(container->w2) != position + 2) fail_at(value_at);
        Cell* word = stack::push(*at(container, position));
        const Cell* value_cell = stack::push(*at(container, position + 1));
        context::set_word(word, value_cell);
        stack::pop(2);
        block::set_tail(container, position);
    }

    // The types a reference may stand for: those whose records share a buffer or a context.
    static bool referable(uint8_t t) {
        return traits::is_series(t) || traits::is_bindable_word(t) || t == kTypeBitset ||
               t == kTypeMap || t == kTypeObject || t == kTypeFunction;
    }

    // A fixed-width record: a header word (type id in bits 0-7, the new-line marker in bit 31,
    // the reference bit 19 except in an op!, whose bits 16-23 hold its function's type), then
    // the payload. A zero word is padding.
    void fixed_record(const Cell* container) {
        const uint8_t* lead_at = at_;
        uint32_t head = u32();
        while (head == 0) {
            lead_at = at_;
            head = u32();
        }
        const auto t = static_cast<uint8_t>(head & 0xFF);
        const bool new_line = (head >> 31) != 0;
        if (t == kReferenceValue) {
            Cell v = path_body();
            v.header &= ~cell::kNewLine;
            append(container, v, new_line);
            return;
        }
        if (t == 0) fail_at(lead_at);
        if (unsaveable(t)) {
            Cell datatype_value;
            datatype::make_at(&datatype_value, t);
            error::fire(error::kAccess, error::access::no_codec, {&datatype_value});
        }
        const bool reference = t != kTypeOp && (head & kFixedReference) != 0;
        if (reference && !referable(t)) fail_at(lead_at);
        value(container, t, false, reference, new_line, lead_at, head);
    }

    // A shared series: the value found by a reference path must hold a buffer of the same
    // kind, which the new value then shares.
    void shared(const Cell* container, uint8_t t, uint32_t index, bool new_line,
                bool (*kind)(uint8_t)) {
        const uint8_t* here = at_;
        Cell v = path();
        const uint8_t found = cell::type(&v);
        if (!kind(found) || (t == kTypeHash) != (found == kTypeHash)) fail_at(here);
        if (index > memory::buffer(v.w2)->length()) fail_at(here);
        v.header = t;
        v.w1 = index;
        // Word 3 of a hash!, vector! or image! belongs to the shared buffer.
        if (t != kTypeHash && t != kTypeVector && t != kTypeImage) v.w3 = 0;
        append(container, v, new_line);
    }

    // The value of one record whose head is read: `flag` is the compact type byte's bit 6,
    // `head` the fixed-width header word.
    void value(const Cell* container, uint8_t t, bool flag, bool reference, bool new_line,
               const uint8_t* lead_at, uint32_t head) {
        if (traits::is_any_block(t)) return block_value(container, t, flag, reference, new_line);
        if (traits::is_any_string(t) || t == kTypeBinary || t == kTypeVector)
            return raw_series(container, t, flag, reference, new_line, lead_at, head);
        if (traits::is_bindable_word(t))
            return word_value(container, t, fixed_ ? (head & kFixedGlobal) == 0 : flag, reference,
                              new_line);
        Cell v{};
        switch (t) {
        case kTypeDatatype: {
            const uint32_t id = num();
            if (id == 0 || id >= datatype::kCapacity || datatype::name_record(id).length == 0)
                fail_at(lead_at);
            datatype::make_at(&v, id);
            break;
        }
        case kTypeUnset:
        case kTypeNone:
            v = Cell{t, 0, 0, 0};
            break;
        case kTypeLogic: // the compact encoding writes 0xC2 and 0xC3 instead
            if (!fixed_) fail_at(lead_at);
            v = Cell{kTypeLogic, u32() != 0 ? 1u : 0u, 0, 0};
            break;
        case kTypeChar: {
            const uint32_t code = num();
            if (code > 0x10FFFF) fail_at(lead_at);
            v = Cell{kTypeChar, 0, code, 0};
            break;
        }
        case kTypeInteger:
            integer::make_at(&v, snum());
            break;
        case kTypeFloat:
        case kTypeTime:
        case kTypePercent: {
            double d;
            if (fixed_) {
                const uint32_t high = u32(), low = u32();
                d = to_double(low, high);
            } else if (flag) {
                d = zigzag();
                if (t == kTypePercent) d /= 100.0;
            } else {
                const uint32_t low = u32(), high = u32();
                d = to_double(low, high);
            }
            // A duration is a finite number of seconds.
            if (t == kTypeTime && !std::isfinite(d)) fail_at(lead_at);
            v = Cell{t, 0, 0, 0};
            std::memcpy(&v.w2, &d, 8);
            break;
        }
        case kTypeIssue: {
            const uint32_t s = symbol_at();
            v = Cell{kTypeIssue, context::global, s, word::kUnresolved};
            break;
        }
        case kTypeTypeset: {
            const uint32_t n = fixed_ ? 12 : byte();
            if (n > 12) fail_at(at_ - 1);
            v = Cell{kTypeTypeset, 0, 0, 0};
            uint8_t bits[12] = {};
            bytes(bits, n);
            // Only registered datatypes may be members.
            for (uint32_t id = 0; id < 96; ++id)
                if ((bits[id / 8] & (0x80 >> (id % 8))) &&
                    (id == 0 || id >= datatype::kCapacity || datatype::name_record(id).length == 0))
                    fail_at(lead_at);
            std::memcpy(&v.w1, bits, 12);
            break;
        }
        case kTypePair: {
            const int32_t x = snum(), y = snum();
            v = Cell{kTypePair, 0, static_cast<uint32_t>(x), static_cast<uint32_t>(y)};
            break;
        }
        case kTypeTuple: {
            const uint32_t n = fixed_ ? (head >> 8) & 0xFF : flag ? byte() : 3;
            if (n < 3 || n > 12) fail_at(fixed_ ? lead_at : at_ - 1);
            uint8_t raw[12] = {};
            bytes(raw, fixed_ ? 12 : n);
            std::memset(raw + n, 0, 12 - n);
            v = Cell{kTypeTuple | n << 19, 0, 0, 0};
            std::memcpy(&v.w1, raw, 12);
            break;
        }
        case kTypeDate: {
            const uint32_t packed = u32();
            const bool has_time = (packed >> 16) & 1;
            if (!fixed_ && flag != has_time) fail_at(lead_at);
            v = Cell{kTypeDate, packed, 0, 0};
            if (fixed_) {
                const uint32_t high = u32(), low = u32();
                if (has_time) v.w2 = low, v.w3 = high;
            } else if (has_time) {
                v.w2 = u32();
                v.w3 = u32();
            }
            const uint32_t day = (packed >> 7) & 31, month = (packed >> 12) & 15;
            if (day < 1 || month < 1 || month > 12) fail_at(lead_at);
            // The time of day, stored less the zone offset, stays within two days.
            double time;
            std::memcpy(&time, &v.w2, 8);
            if (!(time >= -172800.0 && time <= 172800.0)) fail_at(lead_at);
            break;
        }
        case kTypeMoney: {
            uint8_t raw[12];
            bytes(raw, 12);
            if (raw[0] > money::currency_count()) fail_at(lead_at);
            for (int k = 1; k < 12; ++k)
                if ((raw[k] >> 4) > 9 || (raw[k] & 15) > 9) fail_at(lead_at);
            const bool negative = fixed_ ? (head & kFixedNegative) != 0 : flag;
            v = Cell{kTypeMoney | (negative ? 1u << 14 : 0u), 0, 0, 0};
            std::memcpy(&v.w1, raw, 12);
            break;
        }
        case kTypePoint2D:
        case kTypePoint3D:
            v = Cell{t, u32(), u32(), 0};
            if (t == kTypePoint3D) v.w3 = u32();
            break;
        case kTypeBitset:
            return bitset_value(container, fixed_ ? (head & kFixedComplement) != 0 : flag,
                                reference, new_line);
        case kTypeMap:
            return map_value(container, reference, new_line);
        case kTypeObject:
            if (reference) return shared_context(container, t, new_line);
            return object_value(container, fixed_ ? (head & kFixedHandlers) != 0 : flag, new_line);
        case kTypeContext:
            return object_body(container, new_line, false,
                               fixed_ ? fixed_context_flags(head) : byte());
        case kTypeError:
            return error_value(container, new_line);
        case kTypeFunction:
            if (reference) return shared_context(container, t, new_line);
            return function_value(container, new_line);
        case kTypeNative:
        case kTypeAction:
            return native_value(container, t, new_line, lead_at);
        case kTypeOp:
            return op_value(container, new_line, lead_at, head);
        case kTypeImage:
            return image_value(container, flag, reference, new_line);
        default:
            fail_at(lead_at); // 13 symbol!, 42 series! and ids beyond the table
        }
        append(container, v, new_line);
    }

    static double to_double(uint32_t low, uint32_t high) {
        const uint64_t bits = static_cast<uint64_t>(high) << 32 | low;
        double d;
        std::memcpy(&d, &bits, 8);
        return d;
    }

    // The series position: always a word in the fixed-width encoding, else present with the
    // flag only.
    uint32_t index_of(bool flag) { return fixed_ ? u32() : flag ? varint() : 0; }

    // Fills a block-like container with n records.
    void records(const Cell* container, uint32_t n) {
        for (uint32_t k = 0; k < n; ++k) record(container);
    }

    void block_value(const Cell* container, uint8_t t, bool flag, bool reference, bool new_line) {
        const uint8_t* index_at = at_;
        const uint32_t index = index_of(flag);
        if (reference) return shared(container, t, index, new_line, traits::is_any_block);
        const uint32_t n = count();
        if (index > n) fail_at(index_at);
        Cell* b = stack::push_cell();
        block::make_at(b, static_cast<int32_t>(n));
        b->w1 = index;
        const uint32_t position = append(container, *b, new_line);
        at(container, position)->header = t | (new_line ? cell::kNewLine : 0);
        records(b, n);
        if (t == kTypeHash) {
            b->header = kTypeHash;
            hash_::index_block(b);
            b->w1 = index;
            Cell* placed = at(container, position);
            *placed = *b;
            if (new_line) placed->header |= cell::kNewLine;
        }
        stack::pop(1);
    }

    // Strings, binary! and vector!: their storage copied as it is.
    void raw_series(const Cell* container, uint8_t t, bool flag, bool reference, bool new_line,
                    const uint8_t* lead_at, uint32_t head) {
        const uint32_t fixed_unit = (head >> 8) & 0xFF;
        const uint32_t index = index_of(flag);
        if (reference) {
            if (t == kTypeBinary)
                return shared(container, t, index, new_line,
                              [](uint8_t f) { return f == kTypeBinary; });
            if (t == kTypeVector)
                return shared(container, t, index, new_line,
                              [](uint8_t f) { return f == kTypeVector; });
            return shared(container, t, index, new_line, traits::is_any_string);
        }
        uint32_t units, unit, element_type = 0;
        const uint8_t* size_at = at_;
        if (t == kTypeBinary) {
            if (fixed_ && fixed_unit != 1) fail_at(lead_at);
            units = num();
            unit = 1;
        } else if (t == kTypeVector) {
            if (fixed_) {
                unit = fixed_unit;
                units = u32();
                element_type = u32();
            } else {
                const uint8_t e = byte();
                element_type = e >> 2;
                unit = 1u << (e & 3);
                units = varint();
            }
            const bool fits = ((element_type == kTypeChar || element_type == kTypeInteger) &&
                               (unit == 1 || unit == 2 || unit == 4)) ||
                              (element_type == kTypeFloat && (unit == 4 || unit == 8)) ||
                              (element_type == kTypePercent && unit == 8);
            if (!fits) fail_at(fixed_ ? lead_at : size_at);
        } else if (fixed_) {
            unit = fixed_unit;
            if (unit != 1 && unit != 2 && unit != 4) fail_at(lead_at);
            units = u32();
        } else {
            const uint32_t v = varint();
            if ((v & 3) == 3) fail_at(size_at);
            unit = 1u << (v & 3);
            units = v >> 2;
        }
        if (units > left() / unit || index > units) fail_at(size_at);
        const uint32_t size = units * unit;
        if (t != kTypeVector && t != kTypeBinary && unit == 4) {
            for (uint32_t k = 0; k < units; ++k) {
                uint32_t c;
                std::memcpy(&c, at_ + 4 * k, 4);
                if (c > 0x10FFFF) fail_at(at_ + 4 * k);
            }
        }
        Cell* s = stack::push_cell();
        s->header = kTypeUnset;
        if (t == kTypeBinary)
            binary::make_at(s, units);
        else if (t == kTypeVector)
            vector::make_at(s, units, static_cast<uint8_t>(element_type), unit);
        else
            string::make_units_at(s, units, unit);
        memory::Buffer* buffer = memory::buffer(s->w2);
        bytes(buffer->at_head(), size);
        buffer->tail = buffer->head + size;
        pad();
        s->header = t;
        s->w1 = index;
        append(container, *s, new_line);
        stack::pop(1);
    }

    // An image: its size (compact: the width and the height; fixed-width: one word, the width
    // in the low half), then 4 bytes per pixel, the pixel words as stored.
    void image_value(const Cell* container, bool flag, bool reference, bool new_line) {
        const uint8_t* index_at = at_;
        const uint32_t index = index_of(flag);
        if (reference)
            return shared(container, kTypeImage, index, new_line,
                          [](uint8_t f) { return f == kTypeImage; });
        const uint8_t* size_at = at_;
        uint32_t width, height;
        if (fixed_) {
            const uint32_t size = u32();
            width = size & 0xFFFF;
            height = size >> 16;
        } else {
            width = varint();
            height = varint();
        }
        if (width > 0xFFFF || height > 0xFFFF) fail_at(size_at);
        const uint64_t count = static_cast<uint64_t>(width) * height;
        if (count > left() / 4) fail_at(size_at);
        if (index > count) fail_at(index_at);
        Cell* image = image::push_new(width, height);
        bytes(reinterpret_cast<uint8_t*>(image::pixels(image)), static_cast<uint32_t>(count) * 4);
        image->w1 = index;
        append(container, *image, new_line);
        stack::pop(1);
    }

    void bitset_value(const Cell* container, bool complemented, bool reference, bool new_line) {
        if (reference)
            return shared(container, kTypeBitset, 0, new_line,
                          [](uint8_t f) { return f == kTypeBitset; });
        const uint32_t n = num();
        if (n > left()) fail();
        Cell* s = stack::push_cell();
        s->header = kTypeUnset;
        binary::make_at(s, n);
        memory::Buffer* buffer = memory::buffer(s->w2);
        bytes(buffer->at_head(), n);
        buffer->tail = buffer->head + n;
        pad();
        if (complemented) buffer->flags |= bitset::kFlagComplement;
        *s = Cell{kTypeBitset, 0, s->w2, 0};
        append(container, *s, new_line);
        stack::pop(1);
    }

    void map_value(const Cell* container, bool reference, bool new_line) {
        if (reference)
            return shared(container, kTypeMap, 0, new_line,
                          [](uint8_t f) { return f == kTypeMap; });
        const uint8_t* count_at = at_;
        const uint32_t n = count();
        if (n % 2 != 0) fail_at(count_at);
        Cell* pairs = stack::push_cell();
        block::make_at(pairs, static_cast<int32_t>(n));
        Cell* m = stack::push_cell();
        m->header = kTypeUnset;
        map::make_at(m, pairs->w2, 0);
        const uint32_t position = append(container, *m, new_line);
        for (uint32_t k = 0; k < n; ++k) {
            const uint8_t* key_at = at_;
            record(pairs);
            if (k % 2 == 0 && !map::valid_key_type(cell::type(at(pairs, k)))) fail_at(key_at);
        }
        // The table is built again over the decoded pairs.
        map::make_at(m, pairs->w2, 0);
        Cell* placed = at(container, position);
        *placed = *m;
        if (new_line) placed->header |= cell::kNewLine;
        stack::pop(2);
    }

    // An object! or function! by reference: the earlier value that carries the context.
    void shared_context(const Cell* container, uint8_t t, bool new_line) {
        const uint8_t* here = at_;
        Cell v = path();
        uint8_t found = cell::type(&v);
        if (traits::is_bindable_word(found) && v.w1 != 0) {
            v = *context::owner_of(v.w1);
            found = cell::type(&v);
        }
        if (found == kTypeOp && native::op_type(&v) == kTypeFunction) {
            v.header = kTypeFunction;
            found = kTypeFunction;
        }
        if (found != t) fail_at(here);
        v.header &= ~cell::kNewLine;
        append(container, v, new_line);
    }

    // The context that a bound word's record names.
    void word_value(const Cell* container, uint8_t t, bool bound, bool reference, bool new_line) {
        const uint32_t s = symbol_at();
        if (boot_ && bound) return boot_word(container, t, s, new_line);
        // The fixed-width record always carries the index; a global word takes its own.
        const uint8_t* index_at = at_;
        const int32_t index = fixed_ || bound ? snum() : 0;
        if (!bound) {
            Cell* w = stack::push_cell();
            word::make_at(s, w);
            w->header = t;
            append(container, *w, new_line);
            stack::pop(1);
            return;
        }
        // A context's node id holds only until the next allocation (a collection may move
        // the node): the index is checked against the context before anything is appended.
        auto check_index = [&](uint32_t ctx) {
            if (index < 0 || static_cast<uint32_t>(index) >= context::word_count(ctx))
                fail_at(index_at);
        };
        if (reference) {
            const uint8_t* here = at_;
            const Cell v = path();
            const uint8_t found = cell::type(&v);
            uint32_t ctx = 0;
            if (traits::is_bindable_word(found) || found == kTypeObject || found == kTypeError ||
                found == kTypeFunction ||
                (found == kTypeOp && native::op_type(&v) == kTypeFunction))
                ctx = v.w1;
            if (ctx == 0) fail_at(here);
            check_index(ctx);
            append(container, Cell{t, ctx, s, static_cast<uint32_t>(index)}, new_line);
            return;
        }
        // The owner comes inline, after the word: the word takes its place first so that
        // paths through it reach the owner's values while they are decoded.
        const uint32_t position =
            append(container, Cell{t, 0, s, static_cast<uint32_t>(index)}, new_line);
        const uint8_t* owner_at = at_;
        const uint32_t lead = fixed_ ? u32() : byte();
        const uint8_t owner = fixed_ ? lead & 0xFF : lead & ~kTypeFlag;
        if (owner != kTypeObject && owner != kTypeFunction) fail_at(owner_at);
        if (fixed_ && (lead & (kFixedReference | 0x80000000u))) fail_at(owner_at);
        Cell* scratch = stack::push_cell();
        block::make_at(scratch, 1);
        pending_container_ = container;
        pending_position_ = position;
        value(scratch, owner, !fixed_ && (lead & kTypeFlag) != 0, false, false, owner_at,
              fixed_ ? lead : 0);
        const uint32_t ctx = at(scratch, 0)->w1;
        stack::pop(1);
        check_index(ctx);
        at(container, position)->w1 = ctx;
    }

    // A bound word of the boot image: the number of the literal cell whose context binds it,
    // then its index in that context, -1 to look the symbol up there.
    void boot_word(const Cell* container, uint8_t t, uint32_t s, bool new_line) {
        const uint8_t* literal_at = at_;
        const uint32_t literal = varint();
        const uint8_t* index_at = at_;
        int32_t index = zigzag();
        if (literal >= length_of(target_->w2) - base_) fail_at(literal_at);
        const Cell& owner = cells_of(target_->w2)[base_ + literal];
        const uint8_t found = cell::type(&owner);
        if (!traits::is_bindable_word(found) && found != kTypeObject && found != kTypeError &&
            found != kTypeFunction)
            fail_at(literal_at);
        const uint32_t ctx = owner.w1;
        if (ctx == 0) fail_at(literal_at);
        if (index == -1) index = context::find_word(ctx, s, true);
        if (index < 0 || static_cast<uint32_t>(index) >= context::word_count(ctx))
            fail_at(index_at);
        append(container, Cell{t, ctx, s, static_cast<uint32_t>(index)}, new_line);
    }

    // The word waiting for the context of its inline owner gets it as soon as it exists.
    void context_made(uint32_t ctx) {
        if (!pending_container_) return;
        at(pending_container_, pending_position_)->w1 = ctx;
        pending_container_ = nullptr;
    }

    // A context! record's words, after its flags (compact: the flag byte; fixed-width: the
    // header bits, in the same form). Answers the new context.
    uint32_t context_head(bool function_locals, uint32_t flags, const uint8_t* flags_at) {
        const auto kind = static_cast<context::Kind>(flags & 3);
        const bool on_stack = (flags & kContextOnStack) != 0;
        if (flags > 31 || kind == 3 || on_stack != function_locals ||
            (function_locals && kind != context::kFunction))
            fail_at(flags_at);
        const uint32_t n = count();
        GcRoot ctx(context::create(n, on_stack, (flags & kContextOption) != 0, nullptr, kind));
        for (uint32_t k = 0; k < n; ++k) {
            const uint8_t* word_at = at_;
            const uint32_t s = symbol_at();
            // A word twice would leave the values out of step with the words.
            if (context::find_word(ctx.node(), s, true) >= 0) fail_at(word_at);
            if (on_stack) {
                int32_t added = -1;
                context::find_word_ex(ctx.node(), s, true, &added);
            } else {
                context::bind_index(ctx.node(), s);
            }
        }
        return ctx.node();
    }

    // The context! record that must follow an object! or function! head: answers its flags
    // in the compact flag byte's form.
    uint32_t context_type(const uint8_t*& flags_at) {
        flags_at = at_;
        if (fixed_) {
            const uint32_t head = u32();
            if ((head & 0x800000FFu) != kTypeContext) fail_at(flags_at);
            return fixed_context_flags(head);
        }
        if (byte() != kTypeContext) fail_at(flags_at);
        flags_at = at_;
        return byte();
    }
    // Header bits 26-27 the kind, 28 the option, 29 values on the stack, 30 values follow.
    static uint32_t fixed_context_flags(uint32_t head) {
        return ((head >> 26) & 3) | ((head >> 28) & 1 ? kContextOption : 0) |
               ((head >> 29) & 1 ? kContextOnStack : 0) | ((head >> 30) & 1 ? kContextValues : 0);
    }

    // Decodes `count` records straight into a context's value slots from `first` on. Each
    // value is in its slot while its own content is decoded, so that reference paths through
    // the context reach it: a function held by an object whose body names its own locals
    // refers to itself through the object's field. While this runs the values block ends at
    // the slot being filled; the slots after the decoded ones wait on the data stack, and
    // every way out puts the block back to its whole length.
    void context_values(uint32_t context_node, uint32_t first, uint32_t count) {
        GcRoot ctx(context_node);
        Cell* values = stack::push(Cell{kTypeBlock, 0, context::cell_of(ctx.node())->w2, 0});
        const uint32_t total = length_of(values->w2);
        if (first + count > total) fail();
        Cell* kept = stack::top;
        for (uint32_t k = first + count; k < total; ++k) stack::push(cells_of(values->w2)[k]);
        {
            struct Restore {
                ~Restore() {
                    // No allocation: the block never had fewer than `total` cells of room.
                    memory::Buffer* b = memory::buffer(values->w2);
                    Cell* cells = b->cells();
                    for (uint32_t k = b->length(); k < first + count; ++k)
                        cells[k] = Cell{kTypeUnset, 0, 0, 0};
                    for (uint32_t k = first + count; k < total; ++k)
                        cells[k] = kept[k - first - count];
                    b->tail = b->head + total * static_cast<uint32_t>(sizeof(Cell));
                }
                const Cell* values;
                const Cell* kept;
                uint32_t first, count, total;
            } restore{values, kept, first, count, total};
            block::set_tail(values, first);
            for (uint32_t k = 0; k < count; ++k) {
                const uint8_t* value_at = at_;
                record(values);
                // One record, one value: a word-with-value record would leave none.
                if (length_of(values->w2) != first + k + 1) fail_at(value_at);
            }
        }
        stack::top = values;
    }

    void object_value(const Cell* container, bool handlers, bool new_line) {
        snum();                       // the class id: a decoded object gets a class of its own
        if (handlers) snum(), snum(); // found again from the fields
        const uint8_t* flags_at;
        const uint32_t flags = context_type(flags_at);
        object_body(container, new_line, handlers, flags, flags_at);
    }

    void object_body(const Cell* container, bool new_line, bool handlers, uint32_t flags,
                     const uint8_t* flags_at = nullptr) {
        GcRoot ctx(context_head(false, flags, flags_at ? flags_at : at_));
        Cell* o = object::make_at(ctx.node(), -1);
        const uint32_t position = append(container, *o, new_line);
        context_made(ctx.node());
        if (flags & kContextValues) context_values(ctx.node(), 0, context::word_count(ctx.node()));
        if (handlers) {
            object::setup_change_handlers(o);
            Cell* placed = at(container, position);
            *placed = *o;
            if (new_line) placed->header |= cell::kNewLine;
        }
        stack::pop(1);
    }

    void error_value(const Cell* container, bool new_line) {
        const uint8_t* code_at = at_;
        Cell code;
        integer::make_at(&code, static_cast<int32_t>(num()));
        Cell* spec = stack::push(code);
        const Cell* e = error::make(nullptr, spec, kTypeError);
        if (cell::type(e) != kTypeError) fail_at(code_at);
        Cell* made = stack::push(*e);
        append(container, *made, new_line);
        context_values(made->w1, error::kArg1, error::kStack - error::kArg1 + 1);
        stack::top = spec;
    }

    void function_value(const Cell* container, bool new_line) {
        const uint32_t spec_capacity = count(), body_capacity = count();
        const uint8_t* flags_at;
        const uint32_t flags = context_type(flags_at);
        GcRoot ctx(context_head(true, flags, flags_at));
        Cell* fn = stack::push(Cell{kTypeUnset, 0, 0, 0});
        Cell* spec = stack::push_cell();
        block::make_at(spec, static_cast<int32_t>(spec_capacity));
        Cell* body = stack::push_cell();
        block::make_at(body, static_cast<int32_t>(body_capacity));
        Cell* more = stack::push_cell();
        block::make_at(more, 5);
        block::append_copy(more, body);
        for (int k = 1; k < 5; ++k) block::append_copy(more, fn);
        *fn = Cell{kTypeFunction, ctx.node(), spec->w2, more->w2};
        *context::owner_of(ctx.node()) = *fn;
        const uint32_t position = append(container, *fn, new_line);
        context_made(ctx.node());
        part_block(spec, false);
        part_block(body, true);
        // The spec and body records may have shared earlier blocks.
        fn->w2 = spec->w2;
        any_function::body(fn) = *body;
        const uint8_t* check_at = at_;
        const Cell* compiled = signature::compile(spec, signature::Validation::on);
        fn->header = kTypeFunction | signature::attributes(compiled);
        any_function::signature(fn) = *compiled;
        // The locals must be the words the spec makes, in its order.
        const signature::View made(compiled->w2);
        const uint32_t n = context::word_count(ctx.node());
        if (made.words() != n) fail_at(check_at);
        for (uint32_t k = 0; k < n; ++k)
            if (symbol::resolve(made.word(k).w2) !=
                symbol::resolve(context::words(ctx.node())[k].w2))
                fail_at(check_at);
        *context::owner_of(ctx.node()) = *fn;
        Cell* placed = at(container, position);
        *placed = *fn;
        if (new_line) placed->header |= cell::kNewLine;
        stack::top = fn;
    }

    // The spec or body record of a function!: a block! record read into `part`, or, by
    // reference, an earlier block whose buffer `part` takes.
    void part_block(Cell* part, bool body) {
        bool reference = false;
        const uint8_t* lead_at = at_;
        uint32_t lead;
        if (fixed_) {
            lead = u32();
            reference = (lead & kFixedReference) != 0;
            lead &= ~(kFixedReference | 0x80000000u);
        } else {
            for (;;) {
                const uint8_t b = byte();
                if (b == kPrefixReference) {
                    reference = true;
                } else if (b != kPrefixNewLine) {
                    --at_;
                    break;
                }
            }
            lead_at = at_;
            lead = byte();
        }
        if ((lead & ~static_cast<uint32_t>(kTypeFlag)) != kTypeBlock) fail_at(lead_at);
        const uint32_t index = index_of((lead & kTypeFlag) != 0);
        if (reference) {
            const uint8_t* here = at_;
            const Cell v = path();
            if (!traits::is_any_block(cell::type(&v)) || cell::type(&v) == kTypeHash) fail_at(here);
            *part = Cell{kTypeBlock, body ? index : 0, v.w2, 0};
            return;
        }
        const uint32_t n = count();
        if (index > n) fail_at(lead_at);
        part->w1 = 0;
        // The function's path reaches its spec and body through its cells: fill them there.
        Depth depth(*this);
        records(part, n);
        if (body) part->w1 = index;
    }

    void native_value(const Cell* container, uint8_t t, bool new_line, const uint8_t* lead_at) {
        const uint32_t slot = num();
        const uint32_t limit = t == kTypeNative ? native::kDefined : action::kSlotCount;
        if (slot < 1 || slot > limit) fail_at(lead_at);
        // The spec is read and dropped: the value is the running system's own, by slot.
        Cell* scratch = stack::push_cell();
        block::make_at(scratch, 1);
        const uint8_t* spec_at = at_;
        record(scratch);
        if (cell::type(at(scratch, 0)) != kTypeBlock) fail_at(spec_at);
        if (boot_) {
            // The boot image makes the value from its spec and the table entry of its slot.
            if (t == kTypeNative && slot > native::kDefined) fail_at(lead_at);
            Cell* make_spec = stack::push_cell();
            block::make_at(make_spec, 2);
            block::append_copy(make_spec, at(scratch, 0));
            Cell number{};
            integer::make_at(&number, static_cast<int32_t>(slot));
            block::append_copy(make_spec, &number);
            Cell* made = native::make(datatype::push(t), make_spec, t);
            const Cell v = *made;
            stack::top = scratch;
            append(container, v, new_line);
            return;
        }
        const uint32_t n = context::word_count(context::global);
        const Cell* found = nullptr;
        for (uint32_t k = 0; k < n && !found; ++k) {
            const Cell* c = context::slot(context::global, static_cast<int32_t>(k));
            if (c && cell::type(c) == t && c->w1 == slot) found = c;
        }
        if (!found) fail_at(lead_at);
        const Cell v = *found;
        stack::pop(1);
        append(container, Cell{t, v.w1, v.w2, v.w3}, new_line);
    }

    void op_value(const Cell* container, bool new_line, const uint8_t* lead_at, uint32_t head) {
        record(container);
        Cell* placed = at(container, length_of(container->w2) - 1);
        const uint8_t t = cell::type(placed);
        if (t != kTypeNative && t != kTypeAction && t != kTypeFunction) fail_at(lead_at);
        if (fixed_ && ((head >> 16) & 0xFF) != t) fail_at(lead_at);
        if (!native::spec_has_two_args(placed)) fail_at(lead_at);
        if (t == kTypeFunction) {
            Cell fn = *placed;
            fn.header = kTypeFunction;
            cells_of(placed->w3)[3] = fn;
        }
        placed->header = kTypeOp | static_cast<uint32_t>(t) << 16 | (new_line ? cell::kNewLine : 0);
    }

    bool fixed_ = false;
    const uint8_t* records_start_ = nullptr;
    const uint8_t* start_;
    const uint8_t* at_;
    const uint8_t* end_;
    const Cell* target_;
    const uint8_t* offsets_ = nullptr;
    const uint8_t* strings_ = nullptr;
    uint32_t symbol_count_ = 0;
    uint32_t strings_size_ = 0;
    uint32_t depth_ = 0;
    const Cell* pending_container_ = nullptr;
    uint32_t pending_position_ = 0;
    bool boot_ = false;
    uint32_t base_ = 0;
};

[[noreturn]] void invalid_data(const Cell* payload) {
    Cell none_value{kTypeNone, 0, 0, 0};
    error::fire(error::kScript, error::script::invalid_data, {payload ? payload : &none_value});
}

} // namespace

uint32_t decode(const uint8_t* data, uint32_t length, const Cell* target, const Cell* payload) {
    if (length <= 10 || std::memcmp(data, kMagic, 6) != 0) invalid_data(payload);
    const uint8_t flags = data[7];
    std::vector<uint8_t> body;
    uint32_t offset = 0;
    if (flags & kFlagCompressed) {
        const lz::Status status = lz::decompress(data + 8, length - 8, body);
        if (status == lz::Status::no_memory)
            error::fire(error::kInternal, error::internal::no_memory);
        if (status != lz::Status::ok) invalid_data(payload);
    } else {
        body.assign(data, data + length);
        offset = 8;
    }
    const bool fixed = (flags & kFlagCompact) == 0;
    if (fixed && body.size() - offset < 8) invalid_data(payload);
    const uint32_t before = length_of(series::node(target));
    codec_mode = true;
    Decoder decoder(body, offset, target);
    decoder.body((flags & kFlagSymbols) != 0, fixed);
    return length_of(series::node(target)) - before;
}

uint32_t boot_load(const uint8_t* image, uint32_t length, const Cell* target) {
    auto fatal = [](const char16_t* message, size_t units) {
        stdio::write(message, units, true);
        runtime::finish(1);
    };
    static constexpr char16_t kNotZanbin[] = u"Error: Not a Zanbin file!";
    static constexpr char16_t kCorrupt[] = u"Error: Zanbin compressed data corrupted!";
    if (length <= 10 || std::memcmp(image, kMagic, 6) != 0)
        fatal(kNotZanbin, std::size(kNotZanbin) - 1);
    const uint8_t flags = image[7];
    codec_mode = false;
    NoCollectScope hold;
    std::vector<uint8_t> body;
    uint32_t offset = 0;
    if (flags & kFlagCompressed) {
        if (lz::decompress(image + 8, length - 8, body) != lz::Status::ok)
            fatal(kCorrupt, std::size(kCorrupt) - 1);
    } else {
        body.assign(image, image + length);
        offset = 8;
    }
    // The image is written in the compact encoding only: its flag byte says so.
    if ((flags & kFlagCompact) == 0) {
        Cell position{};
        integer::make_at(&position, 8);
        error::fire(error::kScript, error::script::zb_invalid_record, {&position});
    }
    const uint32_t base = length_of(series::node(target));
    Decoder decoder(body, offset, target, true, base);
    decoder.body((flags & kFlagSymbols) != 0, false);
    return base;
}

} // namespace zanbin
