// The value cell: every value is 16 bytes, a header word (type id in bits 0-7, flags above)
// and three payload words that the type defines. No machine address is ever stored in a
// cell: series and contexts are referred to by node id (memory.h), so cells are the same on
// both builds.
//
// Also here: the primitives every datatype module uses on cells and on the tail of a
// buffer, and the literal cells through which compiled code reaches boot-image values.
#pragma once
#include <cstdint>

struct Cell {
    uint32_t header;
    uint32_t w1;
    uint32_t w2;
    uint32_t w3;
};
static_assert(sizeof(Cell) == 16, "a value cell is four 32-bit words");

// Type ids, the low byte of a cell header. Series cells keep their index in word 1 and
// their node in word 2; words, contexts and objects keep their context node in word 1.
enum TypeId : uint8_t {
    kTypeDatatype = 1,
    kTypeUnset = 2,
    kTypeNone = 3,
    kTypeLogic = 4,
    kTypeBlock = 5,
    kTypeParen = 6,
    kTypeString = 7,
    kTypeFile = 8,
    kTypeUrl = 9,
    kTypeChar = 10,
    kTypeInteger = 11,
    kTypeFloat = 12,
    kTypeSymbol = 13,
    kTypeContext = 14,
    kTypeWord = 15,
    kTypeSetWord = 16,
    kTypeLitWord = 17,
    kTypeGetWord = 18,
    kTypeRefinement = 19,
    kTypeIssue = 20,
    kTypeNative = 21,
    kTypeAction = 22,
    kTypeOp = 23,
    kTypeFunction = 24,
    kTypePath = 25,
    kTypeLitPath = 26,
    kTypeSetPath = 27,
    kTypeGetPath = 28,
    kTypeRoutine = 29,
    kTypeBitset = 30,
    kTypeTriple = 31,
    kTypeObject = 32,
    kTypeTypeset = 33,
    kTypeError = 34,
    kTypeVector = 35,
    kTypeHash = 36,
    kTypePair = 37,
    kTypePercent = 38,
    kTypeTuple = 39,
    kTypeMap = 40,
    kTypeBinary = 41,
    kTypeSeries = 42,
    kTypeTime = 43,
    kTypeTag = 44,
    kTypeEmail = 45,
    kTypeHandle = 46,
    kTypeDate = 47,
    kTypePort = 48,
    kTypeMoney = 49,
    kTypeRef = 50,
    kTypePoint2D = 51,
    kTypePoint3D = 52,
    kTypeImage = 53,
    kTypeEvent = 54,
};

namespace memory {
struct Buffer;
}

namespace cell {

constexpr uint32_t kTypeMask = 0xFF;
constexpr uint32_t kNewLine = 0x40000000; // the value starts a new line when molded

inline uint8_t type(const Cell* c) {
    return static_cast<uint8_t>(c->header & kTypeMask);
}

// The header's low byte becomes `type`; the flags above it stay. Returns the cell.
inline Cell* set_type(Cell* c, uint8_t type) {
    c->header = (c->header & ~kTypeMask) | type;
    return c;
}

inline Cell* clear_new_line(Cell* c) {
    c->header &= ~kNewLine;
    return c;
}

// Copies all four words unless both are the same cell. Returns the target.
inline Cell* copy(const Cell* source, Cell* target) {
    if (source != target) *target = *source;
    return target;
}

} // namespace cell

namespace memory {

// A fresh unset! cell (header 2, payload left as it was) at the tail of a cell buffer,
// which grows by the default growth first when it is full. May collect: the buffer may
// move, so neither `buffer` nor any other address into a buffer is valid afterwards; the
// result is valid until the next allocation.
Cell* alloc_tail_cell(Buffer* buffer);

// Reserves `count` bytes at the tail of any buffer and returns their address (the old
// tail). A buffer without room grows: to twice `count` when `count` alone exceeds its
// whole capacity, by the default growth otherwise. May collect, as alloc_tail_cell.
uint8_t* alloc_tail_bytes(Buffer* buffer, uint32_t count);

} // namespace memory

namespace series {

// A new series holding `length` units of the node's series from unit `start` (counted from
// its head) on, with the source's flags except the owned bit. The range is clipped to the
// source's content. May collect. Returns the new node.
uint32_t copy_part(uint32_t node, uint32_t start, uint32_t length);

} // namespace series

namespace literal {

// Compiled code reaches boot-image value number n as literal cell n. The boot-image decoder
// calls set_base once with the root block's node and the index (from its head) of the first
// cell it decoded; the root block is a fixed buffer, so the cells never move.
void set_base(uint32_t block_node, uint32_t index);
Cell* cell(uint32_t number);
// Word 1 of literal cell n: the context node of an object!, context! or word cell.
uint32_t node(uint32_t number);

} // namespace literal
