// Series and text natives: the set operations, new-line markers, as, the %XX and base-N
// codecs, case change and the local form of file names.
#include <new>
#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/file.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/string-case.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "datatypes/url.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "evaluator/frames.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "runtime-core/case.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/memory.h"
#include "runtime-core/support.h"

namespace natives {

namespace {

using interp::Status;

inline Cell* arg(int i) {
    return stack::arguments + i;
}

// Where a buffer's units start at a series value's index (clamped to the tail), and how many
// follow.
struct Units {
    const uint8_t* at;
    uint32_t count;
    uint32_t unit;
};
Units units_of(const Cell* series) {
    Units u{};
    u.at = series::units_from_index(series, u.count, u.unit);
    return u;
}

// --- Sets ---------------------------------------------------------------------------------

bool block_set(uint8_t type) {
    return type == kTypeBlock || type == kTypeHash;
}

// union, intersect, unique, difference and exclude: the second set must be of the first's
// datatype (block! and hash! mix); the result replaces the first argument.
Status set_operation(int32_t operation, const int32_t* refs) {
    struct {
        bool case_;
        const Cell* skip;
    } options{ref_on(refs, 0), ref_arg(refs, 1)};
    const uint8_t type = cell::type(arg(0));
    if (operation != block::kUnique) {
        const uint8_t other = cell::type(arg(1));
        if (other != type && !(block_set(type) && block_set(other))) {
            Cell expected, given;
            datatype::make_at(&expected, type);
            datatype::make_at(&given, other);
            error::fire(error::kScript, error::script::expect_val, {&expected, &given});
        }
    }
    switch (type) {
    case kTypeBlock:
    case kTypeHash:
        block::set_operation(options.case_, options.skip, operation);
        break;
    case kTypeString:
        string::set_operation(options.case_, options.skip, operation);
        break;
    case kTypeBitset:
        bitset::do_bitwise(operation);
        break;
    case kTypeTypeset:
        typeset::do_bitwise(operation);
        break;
    case kTypeDate:
        if (operation == block::kDifference) {
            date::difference(arg(0), arg(1));
            break;
        }
        [[fallthrough]];
    default:
        interp::expect_arg(arg(0), word::make_global("set1"));
    }
    return Status::normal;
}

template <int32_t Op> Status set_native(const int32_t* refs) {
    return set_operation(Op, refs);
}

Status complement_q(const int32_t*) {
    const bool on = (memory::buffer(arg(0)->w2)->flags & bitset::kFlagComplement) != 0;
    logic::make_at(arg(0), on);
    return Status::normal;
}

// --- New-line markers ---------------------------------------------------------------------

Status new_line(const int32_t* refs) {
    struct {
        bool all;
        const Cell* skip;
    } options{ref_on(refs, 0), ref_arg(refs, 1)};
    const bool on = logic::value_true(arg(1));
    int32_t step = 0; // 0: the one value at the position
    if (options.skip) {
        step = integer::get(options.skip);
        if (step < 1) error::fire(error::kScript, error::script::out_of_range, {options.skip});
    } else if (options.all) {
        step = 1;
    }
    memory::Buffer* b = memory::buffer(arg(0)->w2);
    Cell* cells = b->cells();
    const uint32_t length = b->length();
    const uint32_t from = std::min(arg(0)->w1, length);
    for (uint32_t i = from; i < length; i += step ? step : length) {
        if (on)
            cells[i].header |= cell::kNewLine;
        else
            cell::clear_new_line(cells + i);
    }
    return Status::normal;
}

Status new_line_q(const int32_t*) {
    memory::Buffer* b = memory::buffer(arg(0)->w2);
    const uint32_t i = arg(0)->w1;
    logic::make_at(arg(0), i < b->length() && (b->cells()[i].header & cell::kNewLine));
    return Status::normal;
}

// --- as -----------------------------------------------------------------------------------

// 1 block-like (block! paren! and the paths; hash! keeps its table, so it stays out), 2
// string-like, 0 neither.
int series_class(uint8_t type) {
    if (series::is_any_block(type) && type != kTypeHash) return 1;
    return series::is_any_string(type) ? 2 : 0;
}

Status as(const int32_t*) {
    const uint8_t target =
        cell::type(arg(0)) == kTypeDatatype ? static_cast<uint8_t>(arg(0)->w1) : cell::type(arg(0));
    const uint8_t source = cell::type(arg(1));
    const int kind = series_class(target);
    if (kind == 0 || kind != series_class(source)) {
        Cell from, to;
        datatype::make_at(&from, source);
        datatype::make_at(&to, target);
        error::fire(error::kScript, error::script::not_same_class, {&from, &to});
    }
    stack::set_last(*arg(1));
    cell::set_type(arg(0), target);
    return Status::normal;
}

// --- %XX escapes --------------------------------------------------------------------------

// A new empty text of the argument's type in the result slot; the argument stays below the
// top. May collect.
Cell* new_text_result() {
    Cell* source = stack::push(*arg(0));
    Cell* result = stack::push_cell();
    string::make_at(result, 16);
    cell::set_type(result, cell::type(source));
    return source;
}

Status dehex(const int32_t*) {
    Cell* source = new_text_result();
    url::percent_decode(source, source + 1);
    stack::set_last(source[1]);
    return Status::normal;
}

Status enhex(const int32_t*) {
    Cell* source = new_text_result();
    const int32_t mode = cell::type(source) == kTypeString ? url::kStrictMode : url::kUrlMode;
    url::encode_utf8(source, source + 1, mode);
    stack::set_last(source[1]);
    return Status::normal;
}

// --- Base-N -------------------------------------------------------------------------------

int32_t base_of(const Cell* base) {
    if (!base) return 64;
    const int32_t n = integer::get(base);
    if (n != 64 && n != 58 && n != 16 && n != 2)
        error::fire(error::kScript, error::script::invalid_arg, {base});
    return n;
}

Status debase(const int32_t* refs) {
    const int32_t base = base_of(ref_arg(refs, 0));
    const Units text = units_of(arg(0));
    // The decoders read the text before they allocate the result.
    Cell* decoded = nullptr;
    switch (base) {
    case 2:
        decoded = binary::decode_base2(text.at, text.count, text.unit);
        break;
    case 16:
        decoded = binary::decode_base16(text.at, text.count, text.unit);
        break;
    case 58:
        decoded = binary::decode_base58(text.at, text.count, text.unit);
        break;
    default:
        decoded = binary::decode_base64(text.at, text.count, text.unit);
        break;
    }
    if (!decoded) error::fire(error::kScript, error::script::invalid_data, {arg(0)});
    stack::set_last(*decoded);
    return Status::normal;
}

// The number of characters an encoding of `length` bytes takes at most.
uint64_t encoded_size(int32_t base, uint64_t length) {
    switch (base) {
    case 2:
        return length * 8;
    case 16:
        return length * 2;
    case 58:
        return length * 138 / 100 + 1;
    default:
        return (length + 2) / 3 * 4;
    }
}

Status enbase(const int32_t* refs) {
    const int32_t base = base_of(ref_arg(refs, 0));
    std::string bytes;
    if (cell::type(arg(0)) == kTypeBinary) {
        const Units u = units_of(arg(0));
        bytes.assign(reinterpret_cast<const char*>(u.at), u.count);
    } else {
        bytes = string::utf8_from_index(arg(0));
    }
    const uint64_t size = encoded_size(base, bytes.size());
    if (size > 0x7FFFFFFF) error::fire(error::kScript, error::script::too_long);
    // The text can take up to 2 GB: running out of memory for it is the language's error.
    std::string text;
    try {
        text.assign(static_cast<size_t>(size), '\0');
    } catch (const std::bad_alloc&) {
        error::fire(error::kInternal, error::internal::no_memory);
    }
    const auto* in = reinterpret_cast<const uint8_t*>(bytes.data());
    const auto length = static_cast<uint32_t>(bytes.size());
    uint32_t written = 0;
    switch (base) {
    case 2:
        written = binary::encode_base2(in, length, text.data());
        break;
    case 16:
        written = binary::encode_base16(in, length, text.data());
        break;
    case 58:
        written = binary::encode_base58(in, length, text.data());
        break;
    default:
        written = binary::encode_base64(in, length, text.data());
        break;
    }
    string::text_at(arg(0), kTypeString, text.data(), written);
    return Status::normal;
}

// --- Case ---------------------------------------------------------------------------------

Status change_case(const int32_t* refs, bool upper) {
    const Cell* part = ref_arg(refs, 0);
    Cell* value = arg(0);
    if (cell::type(value) == kTypeChar) {
        if (part) series::invalid_refine(refinements::refinement.part, part);
        value->w2 = case_::fold_wide(value->w2, upper);
        return Status::normal;
    }
    uint32_t count = 0xFFFFFFFF;
    if (part) {
        int32_t n;
        if (cell::type(part) == kTypeInteger || cell::type(part) == kTypeFloat) {
            n = check::int_arg(part);
        } else {
            n = series::part_count(value, part);
        }
        count = n < 0 ? 0 : static_cast<uint32_t>(n);
    }
    case_::change_text(value, count, upper);
    return Status::normal;
}

Status uppercase(const int32_t* refs) {
    return change_case(refs, true);
}
Status lowercase(const int32_t* refs) {
    return change_case(refs, false);
}

// --- File names ---------------------------------------------------------------------------

// The name in the form of the running system's file services: Windows paths on Windows,
// POSIX paths elsewhere (a relative one after the current folder with /full).
Status to_local_file(const int32_t* refs) {
    const bool full = ref_on(refs, 0);
    Cell* source = stack::push(*arg(0));
    Cell* result = stack::push_cell();
    string::make_at(result, 16);
#ifdef _WIN32
    file::to_local(source, result, full);
#else
    const Units u = units_of(source);
    std::u32string path;
    for (uint32_t i = 0; i < u.count; ++i)
        path.push_back(string::get_char(u.at + i * u.unit, u.unit));
    const std::u32string local = file::to_posix_form(path, full ? file::current_dir() : U"");
    std::vector<uint32_t> chars(local.begin(), local.end());
    string::append_chars(result, chars.data(), static_cast<uint32_t>(chars.size()));
#endif
    stack::set_last(*result);
    return Status::normal;
}

const Registration kFamily[] = {
    {kUnion, "union", set_native<block::kUnion>},
    {kIntersect, "intersect", set_native<block::kIntersect>},
    {kUnique, "unique", set_native<block::kUnique>},
    {kDifference, "difference", set_native<block::kDifference>},
    {kExclude, "exclude", set_native<block::kExclude>},
    {kComplementQ, "complement?", complement_q},
    {kNewLine, "new-line", new_line},
    {kNewLineQ, "new-line?", new_line_q},
    {kAs, "as", as},
    {kDehex, "dehex", dehex},
    {kEnhex, "enhex", enhex},
    {kDebase, "debase", debase},
    {kEnbase, "enbase", enbase},
    {kUppercase, "uppercase", uppercase},
    {kLowercase, "lowercase", lowercase},
    {kToLocalFile, "to-local-file", to_local_file},
};

} // namespace

std::span<const Registration> series_family() {
    return kFamily;
}

} // namespace natives
