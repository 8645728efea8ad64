// What the runtime knows about each type id, in one table indexed by the id: the families the
// type belongs to, where a cell of it keeps its data, and how a hash table hashes and compares
// it. Code that asks "is this a series", "is this a word", "which word holds the node" asks
// the table, so that each answer is written down once, here.
//
// The families are the language's standard typesets (typeset.cpp makes them from this table)
// and a few that only the runtime uses. A row names the families of its type; the wider ones
// follow from them (any-word! is all-word!, any-list! is any-block! is series! ...).
//
// A query is a load from a small constant table and a mask: as cheap as the switch it
// replaces, so hot paths use it freely.
//
// At the end: the payload words whose meaning is the same for a whole family (a series' node
// and index, a function's spec and more block), read through named inline accessors.
#pragma once
#include <array>
#include <cstdint>

#include "runtime-core/cell.h"
#include "runtime-core/memory.h"

namespace traits {

// --- Families -------------------------------------------------------------------------------

enum Family : uint32_t {
    // The standard typesets.
    kInternal = 1u << 0,     // internal!: unset!
    kExternal = 1u << 1,     // external!: event!
    kNumber = 1u << 2,       // number!: integer! float! percent!
    kPlanar = 1u << 3,       // planar!: pair! point2D!
    kAnyPoint = 1u << 4,     // any-point!: point2D! point3D!
    kScalar = 1u << 5,       // scalar!: number!, any-point!, money! char! pair! tuple! time! date!
    kAnyWord = 1u << 6,      // any-word!: word! set-word! lit-word! get-word!
    kAllWord = 1u << 7,      // all-word!: any-word!, refinement! issue!
    kAnyList = 1u << 8,      // any-list!: block! paren! hash!
    kAnyPath = 1u << 9,      // any-path!: path! lit-path! set-path! get-path!
    kAnyBlock = 1u << 10,    // any-block!: any-list!, any-path!: buffers of 16-byte cells
    kAnyFunction = 1u << 11, // any-function!: native! action! op! function! routine!
    kAnyObject = 1u << 12,   // any-object!: object! error! port!
    kAnyString = 1u << 13,   // any-string!: string! file! url! tag! email! ref!
    kSeries = 1u << 14,      // series!: any-block!, any-string!, binary! image! vector!
    kImmediate = 1u << 15,   // immediate!: scalar!, all-word!, none! logic! datatype! typeset!
                             // handle!
    kDefault = 1u << 16,     // default!: series!, immediate!, any-object!, external!,
                             // any-function!, map! bitset!
    kAnyType = 1u << 17,     // any-type!: default!, internal!

    // The runtime's own.
    kBindable = 1u << 18,   // any-word! and refinement!: the words that are bound to a context
    kArgWord = 1u << 19,    // word! lit-word! get-word!: the words that declare an argument in
                            // a function spec
    kHashesNode = 1u << 20, // its hash depends on a node id, which node compaction changes
};

// --- Where a value's data lives -------------------------------------------------------------

// The buffer or context that holds a container value's content: the node the cycle stack knows
// the value by (data_node), and what the collector's default markers follow. Words, functions
// and the other types that keep nodes for other purposes have none here; their own modules
// mark them.
enum class Data : uint8_t {
    none,
    context, // word 1 holds a context node: any-object!
    cells,   // word 2 holds a buffer of cells: any-block!, map!
    text,    // word 2 holds a text buffer, word 3 an optional second node: any-string!
    bytes,   // word 2 holds a buffer of bytes: binary! vector! bitset! image!
};

// --- How a hash table hashes and compares a key ---------------------------------------------

// Keys of one type are equal when their three payload words are, unless said otherwise.
enum class Key : uint8_t {
    unhashed,   // hash 0 (context!, routine!, bitset!, vector!, ...)
    none,       // one hash for all; all equal
    unset,      // another hash for all; all equal
    word1_only, // word 1 is the value, hashed and compared alone: datatype! logic!
    word2_only, // word 2 is the value, hashed and compared alone: integer! char!
    word1,      // hashed by word 1 (the context node): any-object!
    word2,      // hashed by word 2: map! handle! event!
    word3,      // hashed by word 3: native! action!
    words12,    // hashed by words 1-2: any-block! image! point2D!
    words23,    // hashed by words 2-3: pair!
    words123,   // hashed by words 1-3: point3D! op! function! triple! typeset! date!
    decimal,    // the double in words 2-3, compared as numbers: float! percent! time!
    tuple,      // hashed by as many bytes of words 1-3 as the tuple has
    money,      // hashed by the sign in the header and words 1-3
    word,       // all-word!: by the resolved symbol; words of different kinds may be equal
    symbol,     // symbol!: by its text
    text,       // any-string!: by its code points from the index; the types compare together
    bytes,      // binary!: by its bytes from the index
};

// --- The table ------------------------------------------------------------------------------

struct Traits {
    uint32_t families;
    Data data;
    Key key;
};

namespace detail {

struct Row {
    uint8_t id;
    uint32_t families;
    Data data;
    Key key;
};

// Type ids in order, 1 to 54.
inline constexpr Row kRows[] = {
    {kTypeDatatype, kImmediate, Data::none, Key::word1_only},
    {kTypeUnset, kInternal, Data::none, Key::unset},
    {kTypeNone, kImmediate, Data::none, Key::none},
    {kTypeLogic, kImmediate, Data::none, Key::word1_only},
    {kTypeBlock, kAnyList | kHashesNode, Data::cells, Key::words12},
    {kTypeParen, kAnyList | kHashesNode, Data::cells, Key::words12},
    {kTypeString, kAnyString, Data::text, Key::text},
    {kTypeFile, kAnyString, Data::text, Key::text},
    {kTypeUrl, kAnyString, Data::text, Key::text},
    {kTypeChar, kScalar, Data::none, Key::word2_only},
    {kTypeInteger, kNumber, Data::none, Key::word2_only},
    {kTypeFloat, kNumber, Data::none, Key::decimal},
    {kTypeSymbol, 0, Data::none, Key::symbol},
    {kTypeContext, 0, Data::none, Key::unhashed},
    {kTypeWord, kAnyWord | kArgWord, Data::none, Key::word},
    {kTypeSetWord, kAnyWord, Data::none, Key::word},
    {kTypeLitWord, kAnyWord | kArgWord, Data::none, Key::word},
    {kTypeGetWord, kAnyWord | kArgWord, Data::none, Key::word},
    {kTypeRefinement, kAllWord | kBindable, Data::none, Key::word},
    {kTypeIssue, kAllWord, Data::none, Key::word},
    {kTypeNative, kAnyFunction | kHashesNode, Data::none, Key::word3},
    {kTypeAction, kAnyFunction | kHashesNode, Data::none, Key::word3},
    {kTypeOp, kAnyFunction | kHashesNode, Data::none, Key::words123},
    {kTypeFunction, kAnyFunction | kHashesNode, Data::none, Key::words123},
    {kTypePath, kAnyPath | kHashesNode, Data::cells, Key::words12},
    {kTypeLitPath, kAnyPath | kHashesNode, Data::cells, Key::words12},
    {kTypeSetPath, kAnyPath | kHashesNode, Data::cells, Key::words12},
    {kTypeGetPath, kAnyPath | kHashesNode, Data::cells, Key::words12},
    {kTypeRoutine, kAnyFunction, Data::none, Key::unhashed},
    {kTypeBitset, kDefault, Data::bytes, Key::unhashed},
    {kTypeTriple, 0, Data::none, Key::words123},
    {kTypeObject, kAnyObject | kHashesNode, Data::context, Key::word1},
    {kTypeTypeset, kImmediate, Data::none, Key::words123},
    {kTypeError, kAnyObject | kHashesNode, Data::context, Key::word1},
    {kTypeVector, kSeries, Data::bytes, Key::unhashed},
    {kTypeHash, kAnyList | kHashesNode, Data::cells, Key::words12},
    {kTypePair, kScalar | kPlanar, Data::none, Key::words23},
    {kTypePercent, kNumber, Data::none, Key::decimal},
    {kTypeTuple, kScalar, Data::none, Key::tuple},
    {kTypeMap, kDefault | kHashesNode, Data::cells, Key::word2},
    {kTypeBinary, kSeries, Data::bytes, Key::bytes},
    {kTypeSeries, 0, Data::none, Key::unhashed},
    {kTypeTime, kScalar, Data::none, Key::decimal},
    {kTypeTag, kAnyString, Data::text, Key::text},
    {kTypeEmail, kAnyString, Data::text, Key::text},
    {kTypeHandle, kImmediate, Data::none, Key::word2},
    {kTypeDate, kScalar, Data::none, Key::words123},
    {kTypePort, kAnyObject | kHashesNode, Data::context, Key::word1},
    {kTypeMoney, kScalar, Data::none, Key::money},
    {kTypeRef, kAnyString, Data::text, Key::text},
    {kTypePoint2D, kAnyPoint | kPlanar, Data::none, Key::words12},
    {kTypePoint3D, kAnyPoint, Data::none, Key::words123},
    {kTypeImage, kSeries | kHashesNode, Data::bytes, Key::words12},
    {kTypeEvent, kExternal | kHashesNode, Data::none, Key::word2},
};

// The families a row implies, each rule after the ones it builds on.
constexpr uint32_t close(uint32_t f) {
    if (f & kAnyWord) f |= kAllWord | kBindable;
    if (f & (kAnyList | kAnyPath)) f |= kAnyBlock;
    if (f & (kAnyBlock | kAnyString)) f |= kSeries;
    if (f & (kNumber | kAnyPoint)) f |= kScalar;
    if (f & (kScalar | kAllWord)) f |= kImmediate;
    if (f & (kSeries | kImmediate | kAnyObject | kExternal | kAnyFunction)) f |= kDefault;
    if (f & (kDefault | kInternal)) f |= kAnyType;
    return f;
}

constexpr std::array<Traits, 256> make_table() {
    std::array<Traits, 256> table{};
    for (const Row& row : kRows) table[row.id] = Traits{close(row.families), row.data, row.key};
    return table;
}

constexpr bool rows_in_order() {
    uint8_t id = 0;
    for (const Row& row : kRows)
        if (row.id != ++id) return false;
    return id == kTypeEvent;
}
static_assert(rows_in_order(), "one row for every type id, in order");

} // namespace detail

// Indexed by type id; ids without a type have no families, no data and are unhashed.
inline constexpr std::array<Traits, 256> kTable = detail::make_table();

inline const Traits& of(uint8_t type) {
    return kTable[type];
}

inline bool in(uint8_t type, uint32_t families) {
    return (kTable[type].families & families) != 0;
}

// --- The families that code asks about most --------------------------------------------------

inline bool is_any_word(uint8_t type) {
    return in(type, kAnyWord);
}
inline bool is_all_word(uint8_t type) {
    return in(type, kAllWord);
}
inline bool is_bindable_word(uint8_t type) {
    return in(type, kBindable);
}
inline bool is_arg_word(uint8_t type) {
    return in(type, kArgWord);
}
inline bool is_any_list(uint8_t type) {
    return in(type, kAnyList);
}
inline bool is_any_path(uint8_t type) {
    return in(type, kAnyPath);
}
inline bool is_any_block(uint8_t type) {
    return in(type, kAnyBlock);
}
inline bool is_any_string(uint8_t type) {
    return in(type, kAnyString);
}
inline bool is_series(uint8_t type) {
    return in(type, kSeries);
}
inline bool is_any_function(uint8_t type) {
    return in(type, kAnyFunction);
}
inline bool is_any_object(uint8_t type) {
    return in(type, kAnyObject);
}
inline bool is_number(uint8_t type) {
    return in(type, kNumber);
}

} // namespace traits

// --- Payload words with a fixed meaning -----------------------------------------------------

namespace series {

// A series cell (series!, and the other types whose Data is cells, text or bytes) keeps its
// index from the head in word 1 (it may lie past the tail) and its buffer's node in word 2.
inline uint32_t index(const Cell* series) {
    return series->w1;
}
inline uint32_t node(const Cell* series) {
    return series->w2;
}

} // namespace series

// native!, action!, function! and routine! cells (and an op!, a copy of one of them) keep their
// spec block's node in word 2 and their more block's node in word 3. Cell 0 of the more block
// is a function's or routine's body (a native's or action's context cell), cell 1 the signature
// compiled from the spec (datatypes/signature.h). Never collect.
namespace any_function {

inline uint32_t spec_node(const Cell* function) {
    return function->w2;
}
// The spec block as a block cell at its head.
inline Cell spec(const Cell* function) {
    return Cell{kTypeBlock, 0, function->w2, 0};
}
inline Cell* more(const Cell* function) {
    return memory::cells_of(function->w3);
}
inline Cell& body(const Cell* function) {
    return more(function)[0];
}
inline Cell& signature(const Cell* function) {
    return more(function)[1];
}

} // namespace any_function

namespace traits {

// The node of the value's data (Data): word 1 of an object, word 2 of a series, map! or
// bitset!; 0 for a value without one.
inline uint32_t data_node(const Cell* value) {
    switch (kTable[cell::type(value)].data) {
    case Data::none:
        return 0;
    case Data::context:
        return value->w1;
    default:
        return series::node(value);
    }
}

} // namespace traits
