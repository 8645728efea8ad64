#include "datatypes/bitset.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "datatypes/cycles.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/ownership.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/words.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/runtime.h"
#include "runtime-core/support.h"

using memory::Buffer;
using ownership::Action;

namespace bitset {

namespace {

// The set-operation codes of do_bitwise.
enum SetOp : int32_t {
    kOr = 5,
    kAnd = 6,
    kXor = 7,
    kUnique = 8,
    kUnion = 9,
    kIntersect = 10,
    kExclude = 11,
    kDifference = 12,
};

// --- Errors -------------------------------------------------------------------------------

[[noreturn]] void out_of_range_error(const Cell* spec) {
    error::fire(error::kScript, error::script::out_of_range, {spec});
}

[[noreturn]] void invalid_arg(const Cell* value) {
    error::fire(error::kScript, error::script::invalid_arg, {value});
}

[[noreturn]] void invalid_type(const Cell* value) {
    Cell* t = datatype::push(cell::type(value));
    error::fire(error::kScript, error::script::invalid_type, {t});
}

[[noreturn]] void not_done() {
    error::fire(error::kInternal, error::internal::not_done);
}

// A spec of a type the walkers do not take, reported as the walk's caller would.
[[noreturn]] void bad_spec(const Cell* spec, Kind kind) {
    if (kind == kOther) invalid_arg(spec);
    Cell* t = datatype::push(kTypeBitset);
    error::fire(error::kScript,
                kind == kMake ? error::script::bad_make_arg : error::script::bad_to_arg, {t, spec});
}

// --- The bit array ------------------------------------------------------------------------

Buffer* buffer_of(const Cell* bitset) {
    return memory::buffer(bitset->w2);
}

uint32_t stored(const Buffer* b) {
    return b->tail - b->head;
}

bool complemented(const Buffer* b) {
    return (b->flags & kFlagComplement) != 0;
}

uint8_t fill_byte(const Buffer* b) {
    return complemented(b) ? 0xFF : 0x00;
}

bool beyond(const Buffer* b, uint32_t n) {
    return (n >> 3) >= stored(b);
}

uint8_t mask_of(uint32_t n) {
    return static_cast<uint8_t>(0x80u >> (n & 7));
}

// Calls fn(byte, mask) for each stored byte that bits low to high touch, the mask selecting
// those bits, until fn answers false; answers whether it never did.
template <class F> bool each_byte(uint8_t* bytes, uint32_t low, uint32_t high, F fn) {
    const uint32_t first = low >> 3, last = high >> 3;
    for (uint32_t i = first; i <= last; ++i) {
        uint8_t mask = 0xFF;
        if (i == first) mask &= static_cast<uint8_t>(0xFFu >> (low & 7));
        if (i == last) mask &= static_cast<uint8_t>(0xFFu << (7 - (high & 7)));
        if (!fn(bytes[i], mask)) return false;
    }
    return true;
}

// Makes sure `count` bytes are stored. May collect.
void cover_bytes(const Cell* bitset, uint32_t count) {
    if (count == 0 || stored(buffer_of(bitset)) >= count) return;
    const uint64_t last_bit = uint64_t{count} * 8 - 1;
    grow_to_bit(bitset, static_cast<uint32_t>(std::min<uint64_t>(last_bit, 0xFFFFFFFF)));
}

// A new series holding the bitset's stored bytes and flags (not the owned flag: the copy
// belongs to nobody); the rest of its capacity takes the fill byte. May collect.
uint32_t copy_node(const Cell* bitset) {
    const uint32_t node = memory::copy_series(buffer_of(bitset));
    Buffer* b = memory::buffer(node);
    b->flags &= ~memory::kFlagOwned;
    memory::fill(b->at_tail(), b->end(), fill_byte(b));
    return node;
}

Cell* make_at(Cell* cell, uint32_t node) {
    *cell = Cell{kTypeBitset, 0, node, 0};
    return cell;
}

bool is_word(const Cell& c, uint32_t symbol) {
    return symbol != 0 && cell::type(&c) == kTypeWord && c.w2 == symbol;
}

// The index of a series cell as readers take it: negative as 0, past the tail as the tail.
uint32_t clamped_index(const Cell* series, const Buffer* b) {
    const auto index = static_cast<int32_t>(series->w1);
    if (index <= 0) return 0;
    return std::min(static_cast<uint32_t>(index), b->length());
}

// --- Spec walkers -------------------------------------------------------------------------

// One position n (already known not to be negative).
uint32_t process_position(const Cell* bitset, uint32_t n, Op op) {
    if (op == kSize) return n;
    Buffer* b = buffer_of(bitset);
    const bool outside = beyond(b, n);
    switch (op) {
    case kSet:
        if (complemented(b) && outside) return 1;
        grow_to_bit(bitset, n)[n >> 3] |= mask_of(n);
        return n;
    case kTest:
        if (outside) return complemented(b) ? 1 : 0;
        return (b->at_head()[n >> 3] & mask_of(n)) != 0 ? 1 : 0;
    case kClear:
        if (!complemented(b) && outside) return 0;
        grow_to_bit(bitset, n)[n >> 3] &= static_cast<uint8_t>(~mask_of(n));
        return n;
    default:
        return 0;
    }
}

// A number spec: a char!, integer! or float!.
uint32_t process_number(const Cell* spec, const Cell* bitset, Op op) {
    int64_t n;
    if (cell::type(spec) == kTypeFloat) {
        const double d = float_::get(spec);
        // Truncated toward zero; NaN counts as negative and a float beyond the integers as a
        // position no bitset can store.
        if (!(d > -1.0))
            n = -1;
        else if (d >= 2147483648.0)
            n = int64_t{1} << 32;
        else
            n = static_cast<int64_t>(d);
    } else {
        n = static_cast<int32_t>(spec->w2);
    }
    if (n < 0) {
        if (op == kTest) return 0;
        out_of_range_error(spec);
    }
    if (n > 0x7FFFFFFF) {
        if (op == kTest) return complemented(buffer_of(bitset)) ? 1 : 0;
        out_of_range_error(spec);
    }
    return process_position(bitset, static_cast<uint32_t>(n), op);
}

uint32_t process_text(const Cell* spec, const Cell* bitset, Op op) {
    GcRoot text(*spec);
    const uint32_t highest = process_string(&text.cell(), nullptr, kSize);
    if (op == kSize) return highest;
    Buffer* b = buffer_of(bitset);
    const bool outside = beyond(b, highest);
    if (op == kSet) {
        if (complemented(b) && outside) return 1;
        grow_to_bit(bitset, highest);
    } else if (op == kClear) {
        if (!complemented(b) && outside) return 0;
        grow_to_bit(bitset, highest);
    }
    return process_string(&text.cell(), bitset, op);
}

uint32_t walk(const Cell* spec, const Cell* bitset, Op op, Kind kind);

uint32_t process_block(const Cell* spec, const Cell* bitset, Op op, Kind kind) {
    GcRoot block(*spec);
    // A block that contains itself ends with internal/too-deep instead of recursing forever.
    cycles::Push guard(block.cell().w2);
    uint32_t highest = 0;
    uint32_t i = clamped_index(&block.cell(), memory::buffer(block.cell().w2));
    for (;;) {
        // The walk of an element may move the block: its cells are read again each time.
        Buffer* b = memory::buffer(block.cell().w2);
        const uint32_t length = b->length();
        if (i >= length) break;
        const Cell* cells = b->cells();
        Cell element = cells[i];
        const uint8_t type = cell::type(&element);
        uint32_t result;
        if ((type == kTypeChar || type == kTypeInteger) && i + 1 < length &&
            is_word(cells[i + 1], words::symbol.dash)) {
            if (i + 2 >= length) error::fire(error::kScript, error::script::past_end);
            const Cell high = cells[i + 2];
            if (cell::type(&high) != type) invalid_arg(&high);
            const auto lo = static_cast<int32_t>(element.w2);
            const auto hi = static_cast<int32_t>(high.w2);
            if (lo > hi) error::fire(error::kScript, error::script::past_end);
            if (lo < 0) {
                if (op == kTest) return 0;
                out_of_range_error(&element);
            }
            result = op == kSize ? static_cast<uint32_t>(hi)
                                 : process_range(bitset, static_cast<uint32_t>(lo),
                                                 static_cast<uint32_t>(hi), op);
            i += 3;
        } else {
            result = walk(&element, bitset, op, kind);
            i += 1;
        }
        if (op == kTest) {
            if (result == 0) return 0;
        } else {
            highest = std::max(highest, result);
        }
    }
    return op == kTest ? 1 : highest;
}

// The nested walk: the raw answer of one spec.
uint32_t walk(const Cell* spec, const Cell* bitset, Op op, Kind kind) {
    switch (cell::type(spec)) {
    case kTypeChar:
    case kTypeInteger:
    case kTypeFloat:
        return process_number(spec, bitset, op);
    case kTypeString:
        return process_text(spec, bitset, op);
    case kTypeBlock:
        return process_block(spec, bitset, op, kind);
    case kTypeBinary:
        // Bytes are taken as they are by make only.
        not_done();
    default:
        bad_spec(spec, kind);
    }
}

// --- Output -------------------------------------------------------------------------------

// write_hex, also answering whether the part limit stopped it before the last byte.
int32_t hex_bytes(const Cell* bitset, const Cell* string, bool part_limited, int32_t limit,
                  bool invert, bool& stopped) {
    stopped = false;
    std::string text = "#{";
    limit -= 2;
    // The digits are gathered first and appended at once: the append may move the bytes.
    Buffer* b = buffer_of(bitset);
    const uint8_t* bytes = b->at_head();
    const uint32_t count = stored(b);
    text.reserve(2 + 2 * static_cast<size_t>(count));
    for (uint32_t i = 0; i < count; ++i) {
        if (part_limited && limit <= 0) {
            stopped = true;
            break;
        }
        const uint8_t byte = invert ? static_cast<uint8_t>(255 - bytes[i]) : bytes[i];
        text += string::byte_to_hex(byte);
        limit -= 2;
    }
    string::concatenate_cstring(string, text.c_str());
    return limit;
}

} // namespace

// --- The bit array ------------------------------------------------------------------------

uint8_t* bits(const Cell* bitset) {
    return buffer_of(bitset)->at_head();
}

uint8_t* grow_to_bit(const Cell* bitset, uint32_t n) {
    Buffer* b = buffer_of(bitset);
    const uint32_t byte = n >> 3;
    const uint8_t fill = fill_byte(b);
    if (static_cast<uint64_t>(b->head) + byte >= b->size) {
        b = memory::expand_series_filled(b, byte + 1, fill);
    }
    if (stored(b) <= byte) {
        // Bytes beyond the tail hold nothing defined (an expansion copies only the stored
        // ones): the newly stored ones read as the flag says.
        memory::fill(b->at_tail(), b->at_head() + byte + 1, fill);
        b->tail = b->head + byte + 1;
    }
    return b->at_head();
}

bool out_of_range(const Cell* bitset, int64_t n) {
    return n < 0 || (n >> 3) >= static_cast<int64_t>(stored(buffer_of(bitset)));
}

void invert_bytes(Buffer* buffer) {
    for (uint8_t* p = buffer->data(); p < buffer->end(); ++p) *p = static_cast<uint8_t>(~*p);
}

// --- Specs --------------------------------------------------------------------------------

uint32_t process_spec(const Cell* spec, const Cell* bitset, Op op, bool nested, Kind kind) {
    const uint32_t result = walk(spec, bitset, op, kind);
    if (nested || (op != kSize && op != kSet)) return result;
    const auto count = static_cast<uint32_t>(((uint64_t{result} + 8) & ~uint64_t{7}) >> 3);
    if (op == kSet) cover_bytes(bitset, count);
    return count;
}

uint32_t process_range(const Cell* bitset, uint32_t low, uint32_t high, Op op) {
    if (op == kSize) return high;
    Buffer* b = buffer_of(bitset);
    const bool outside = beyond(b, high);
    switch (op) {
    case kSet:
        if (complemented(b) && outside) return 1;
        each_byte(grow_to_bit(bitset, high), low, high, [](uint8_t& byte, uint8_t mask) {
            byte |= mask;
            return true;
        });
        return high;
    case kTest:
        if (outside) return complemented(b) ? 1 : 0;
        return each_byte(b->at_head(), low, high,
                         [](uint8_t& byte, uint8_t mask) { return (byte & mask) == mask; })
                   ? 1
                   : 0;
    case kClear:
        if (!complemented(b) && outside) return 0;
        each_byte(grow_to_bit(bitset, high), low, high, [](uint8_t& byte, uint8_t mask) {
            byte &= static_cast<uint8_t>(~mask);
            return true;
        });
        return high;
    default:
        return 0;
    }
}

uint32_t process_string(const Cell* string, const Cell* bitset, Op op) {
    Buffer* s = memory::buffer(string->w2);
    const uint32_t unit = s->unit();
    const uint32_t length = s->length();
    const uint8_t* text = s->at_head();
    if (!bitset) op = kSize;
    Buffer* b = bitset ? buffer_of(bitset) : nullptr;
    uint32_t highest = 0;
    for (uint32_t i = clamped_index(string, s); i < length; ++i) {
        const uint32_t cp = string::get_char(text + static_cast<uint64_t>(i) * unit, unit);
        highest = std::max(highest, cp);
        if (op == kSize) continue;
        if (beyond(b, cp)) {
            // Only a test gets here (set and clear come after the array grew to the highest
            // code point, or it needs no change): the flag answers.
            if (op == kTest && !complemented(b)) return 0;
            continue;
        }
        uint8_t& byte = b->at_head()[cp >> 3];
        switch (op) {
        case kSet:
            byte |= mask_of(cp);
            break;
        case kTest:
            if ((byte & mask_of(cp)) == 0) return 0;
            break;
        case kClear:
            byte &= static_cast<uint8_t>(~mask_of(cp));
            break;
        default:
            break;
        }
    }
    return op == kTest ? 1 : highest;
}

Cell* make_from_spec(const Cell* spec, Kind kind) {
    Cell* result = stack::push_cell();
    *result = Cell{kTypeUnset, 0, 0, 0};
    // The spec as walked: a block that begins with `not` is walked from the value after it,
    // and a binary! there is the spec itself.
    GcRoot source(*spec);
    bool negated = false;
    if (cell::type(spec) == kTypeBlock) {
        Buffer* b = memory::buffer(spec->w2);
        const uint32_t index = clamped_index(spec, b);
        const uint32_t length = b->length();
        if (index < length && is_word(b->cells()[index], words::symbol.not_)) {
            negated = true;
            source.cell().w1 = index + 1;
            if (index + 1 < length && cell::type(&b->cells()[index + 1]) == kTypeBinary)
                source.set_cell(b->cells()[index + 1]);
        }
    }
    const Cell* walked = &source.cell();
    uint32_t node = 0;
    switch (cell::type(walked)) {
    case kTypeBitset:
        node = copy_node(walked);
        break;
    case kTypeInteger:
    case kTypeFloat: {
        // A size in bits, all of them stored and absent.
        if (kind == kTo) bad_spec(walked, kind);
        int64_t n;
        if (cell::type(walked) == kTypeFloat) {
            const double d = float_::get(walked);
            if (!(d > -1.0 && d < 2147483648.0)) out_of_range_error(walked);
            n = static_cast<int64_t>(d);
        } else {
            n = static_cast<int32_t>(walked->w2);
            if (n < 0) out_of_range_error(walked);
        }
        const auto count = static_cast<uint32_t>((n + 7) >> 3);
        node = memory::alloc_bytes_filled(count, 0x00);
        Buffer* b = memory::buffer(node);
        b->tail = b->head + count;
        break;
    }
    case kTypeBinary: {
        // The bytes from the index are the array (inverted and complemented after `not`).
        Buffer* from = memory::buffer(walked->w2);
        const uint32_t count = from->length() - clamped_index(walked, from);
        node = memory::alloc_bytes_filled(count, 0x00);
        from = memory::buffer(source.cell().w2);
        Buffer* b = memory::buffer(node);
        std::memcpy(b->at_head(), from->at_tail() - count, count);
        b->tail = b->head + count;
        if (negated) {
            invert_bytes(b);
            b->flags |= kFlagComplement;
        }
        break;
    }
    default: {
        const uint32_t count = process_spec(walked, nullptr, kSize, false, kind);
        node = memory::alloc_bytes_filled(count, negated ? 0xFF : 0x00);
        Buffer* b = memory::buffer(node);
        b->tail = b->head + count;
        if (negated) b->flags |= kFlagComplement;
        // Built in a rooted cell: the result stays unset! until the bits are in.
        GcRoot building(Cell{kTypeBitset, 0, node, 0});
        process_spec(&source.cell(), &building.cell(), negated ? kClear : kSet, false, kind);
        node = building.cell().w2;
        break;
    }
    }
    result->w2 = node;
    result->header = kTypeBitset;
    return result;
}

Cell* do_bitwise(int32_t op) {
    Cell* first = stack::arguments;
    Cell* second = first + 1;
    if (op == kUnique) return first;
    if (op < kOr || op > kDifference) runtime::quit(runtime::kErrorNoSwitch, ZAN_CALLER_ADDRESS());
    if (cell::type(second) != kTypeBitset) invalid_type(second);
    const uint32_t length1 = stored(buffer_of(first));
    const uint32_t length2 = stored(buffer_of(second));
    const uint32_t longer = std::max(length1, length2);
    const uint32_t shorter = std::min(length1, length2);
    const uint32_t node = memory::alloc_bytes_filled(longer, 0x00);
    Buffer* a = buffer_of(first);
    Buffer* b = buffer_of(second);
    Buffer* r = memory::buffer(node);
    const uint8_t* x = a->at_head();
    const uint8_t* y = b->at_head();
    uint8_t* z = r->at_head();
    for (uint32_t i = 0; i < shorter; ++i) {
        switch (op) {
        case kOr:
        case kUnion:
            z[i] = x[i] | y[i];
            break;
        case kAnd:
        case kIntersect:
            z[i] = x[i] & y[i];
            break;
        case kXor:
        case kDifference:
            z[i] = x[i] ^ y[i];
            break;
        default: // kExclude
            z[i] = x[i] & static_cast<uint8_t>(~y[i]);
            break;
        }
    }
    // The bytes only the longer operand has.
    const uint8_t* rest = length1 > length2 ? x : y;
    const bool copy_rest = op == kOr || op == kUnion || op == kXor || op == kDifference ||
                           (op == kExclude && length1 > length2);
    if (copy_rest) std::memcpy(z + shorter, rest + shorter, longer - shorter);
    r->tail = r->head + (op == kAnd ? shorter : longer);
    if (complemented(a) != complemented(b)) r->flags |= kFlagComplement;
    Cell* pushed = make_at(stack::push_cell(), node);
    *first = *pushed;
    return first;
}

Cell* push(const Cell* bitset) {
    return stack::push(*bitset);
}

int32_t write_hex(const Cell* bitset, const Cell* string, bool part_limited, int32_t limit,
                  bool invert) {
    bool stopped = false;
    return hex_bytes(bitset, string, part_limited, limit, invert, stopped);
}

// --- Slot functions -----------------------------------------------------------------------

Cell* make(Cell*, Cell* spec, int32_t) {
    return make_from_spec(spec, kMake);
}

Cell* to(Cell*, Cell* spec, int32_t) {
    return make_from_spec(spec, kTo);
}

Cell* reflect(Cell* value, int32_t field_symbol) {
    // The owner table keys a bitset by its series node, as it keys any series.
    return series::reflect(value, field_symbol);
}

int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit) {
    const bool negated = complemented(buffer_of(value));
    string::concatenate_cstring(string, negated ? "make bitset! [not " : "make bitset! ");
    limit -= negated ? 18 : 13;
    bool stopped = false;
    limit = hex_bytes(value, string, part != nullptr, limit, negated, stopped);
    if (stopped) return limit;
    string::concatenate_cstring(string, negated ? "}]" : "}");
    return limit - (negated ? 2 : 1);
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t) {
    return form(value, string, options.part, limit);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, const action::PathOptions&) {
    const uint8_t type = cell::type(element);
    if (type != kTypeInteger && type != kTypeChar) invalid_type(element);
    if (!value) return pick(parent, 0, element);
    return poke(parent, 0, value, element);
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    if (cell::type(other) != kTypeBitset) return action::kNotComparable;
    if (op == action::op::same) return value->w2 == other->w2 ? 0 : 1;
    Buffer* a = buffer_of(value);
    Buffer* b = buffer_of(other);
    const uint32_t length1 = stored(a), length2 = stored(b);
    if (length1 != length2) return length1 < length2 ? -1 : 1;
    if (length1 == 0) return 0;
    if (complemented(a) != complemented(b)) return complemented(a) ? 1 : -1;
    // From the last byte toward the first: the first difference decides.
    const uint8_t* x = a->at_head();
    const uint8_t* y = b->at_head();
    uint32_t i = length1 - 1;
    while (i > 0 && x[i] == y[i]) --i;
    return (x[i] > y[i]) - (x[i] < y[i]);
}

void negate() {
    Cell* value = stack::arguments;
    const uint32_t node = copy_node(value);
    Buffer* b = memory::buffer(node);
    b->flags ^= kFlagComplement;
    invert_bytes(b);
    make_at(value, node);
}

Cell* complement(Cell* value) {
    const uint32_t node = copy_node(value);
    Buffer* b = memory::buffer(node);
    b->flags ^= kFlagComplement;
    invert_bytes(b);
    return make_at(stack::push_cell(), node);
}

void and_() {
    do_bitwise(kAnd);
}

void or_() {
    do_bitwise(kOr);
}

void xor_() {
    do_bitwise(kXor);
}

Cell* insert(Cell* series, Cell* value, const action::InsertOptions&) {
    // Appending and inserting are one operation on a set: both report as insert.
    ownership::check(series, Action::insert, value, 0, 0);
    const uint32_t bytes = process_spec(value, series, kSet, false, kOther);
    ownership::check(series, Action::inserted, value, 0, static_cast<int32_t>(bytes));
    return series;
}

Cell* clear(Cell* series) {
    ownership::check(series, Action::clear, nullptr, 0,
                     static_cast<int32_t>(stored(buffer_of(series))));
    // The stored bits are the members and a complemented bitset has every position beyond
    // them too: the empty set drops the flag as well.
    Buffer* b = buffer_of(series);
    memory::fill(b->at_head(), b->at_tail(), 0x00);
    b->flags &= ~kFlagComplement;
    ownership::check(series, Action::cleared, nullptr, 0, 0);
    return series;
}

Cell* copy(Cell* value, Cell* result, const action::CopyOptions&) {
    const uint32_t node = copy_node(value);
    return make_at(result, node);
}

Cell* find(Cell* series, Cell* value, const action::FindOptions&) {
    return process_spec(value, series, kTest, true, kOther) ? &logic::true_value : &none::value;
}

int32_t length_q(Cell* series) {
    // The largest array (bit 2147483647 stored) has 2^31 bits, one more than the answer holds.
    const uint64_t bits = uint64_t{stored(buffer_of(series))} * 8;
    return static_cast<int32_t>(std::min<uint64_t>(bits, 0x7FFFFFFF));
}

Cell* pick(Cell* series, int32_t index, Cell* index_value) {
    const Cell position{kTypeInteger, 0, static_cast<uint32_t>(index), 0};
    const Cell* element = index_value ? index_value : &position;
    return process_spec(element, series, kTest, true, kOther) ? &logic::true_value
                                                              : &logic::false_value;
}

Cell* poke(Cell* series, int32_t index, Cell* value, Cell* index_value) {
    const Cell position{kTypeInteger, 0, static_cast<uint32_t>(index), 0};
    const Cell* element = index_value ? index_value : &position;
    bool absent;
    switch (cell::type(value)) {
    case kTypeNone:
        absent = true;
        break;
    case kTypeLogic:
        absent = !logic::get(value);
        break;
    case kTypeInteger:
        absent = value->w2 == 0;
        break;
    case kTypeFloat:
        absent = float_::get(value) == 0.0;
        break;
    default:
        absent = false;
    }
    ownership::check(series, Action::poke, value, 0, 1);
    process_spec(element, series, absent ? kClear : kSet, false, kOther);
    ownership::check(series, Action::poked, value, 0, 1);
    return value;
}

Cell* remove(Cell* series, Cell*, Cell* key) {
    if (!key) error::fire(error::kScript, error::script::missing_arg);
    ownership::check(series, Action::remove, nullptr, 0, 0);
    // The stored bits are the members in a complemented bitset too, so the key's bits are
    // cleared whatever the flag (one beyond the stored bytes of a complemented bitset grows
    // them).
    process_spec(key, series, kClear, false, kOther);
    ownership::check(series, Action::removed, nullptr, 0, 0);
    return series;
}

Cell* modify(Cell* target, Cell* field, Cell* value, const action::PutOptions& options) {
    return series::modify(target, field, value, options);
}

void register_actions() {
    namespace slot = action::slot;
    action::Row row;
    row.set<slot::make>(make)
        .set<slot::reflect>(reflect)
        .set<slot::to>(to)
        .set<slot::form>(form)
        .set<slot::mold>(mold)
        .set<slot::eval_path>(eval_path)
        .set<slot::compare>(compare)
        .set<slot::negate>(negate)
        .set<slot::and_>(and_)
        .set<slot::complement>(complement)
        .set<slot::or_>(or_)
        .set<slot::xor_>(xor_)
        .set<slot::append>(insert)
        .set<slot::clear>(clear)
        .set<slot::copy>(copy)
        .set<slot::find>(find)
        .set<slot::insert>(insert)
        .set<slot::length_q>(length_q)
        .set<slot::pick>(pick)
        .set<slot::poke>(poke)
        .set<slot::remove>(remove)
        .set<slot::modify>(modify);
    datatype::register_({kTypeBitset, 0, "bitset!", row.entries()});
}

} // namespace bitset
