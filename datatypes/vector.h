// vector!: a packed series of numbers of one element type and width (type id 35, child of
// string!): char! or integer! elements of 8, 16 or 32 bits, float! elements of 32 or 64 bits,
// percent! elements of 64 bits.
//
// Cell: the series cell (index in elements, node of the buffer in word 2) with word 3 holding
// the element type id (10 char!, 11 integer!, 12 float!, 38 percent!). The buffer's unit size
// is the element width in bytes; elements lie in the machine's byte order, char! and
// integer! as signed integers (8 and 16-bit ones read back sign-extended), float! and
// percent! as IEEE singles or doubles. The series navigation and the other series actions
// are string!'s and series!'s.
#pragma once
#include <cstdint>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace vector {

// Makes `cell` an empty vector with room for `capacity` elements of `element_type` and
// `width` bytes (1, 2, 4 or 8); a byte size beyond 32 bits raises internal/no-memory. May
// collect.
Cell* make_at(Cell* cell, uint32_t capacity, uint8_t element_type, uint32_t width);

// The element at `at` (of `unit` bytes, of `element_type`) as a value into `result`.
void get_value(const uint8_t* at, uint32_t unit, uint32_t element_type, Cell* result);
// Stores an integer! or char! (truncated to the width) or a float! or percent! (a single
// for 4-byte elements) at `at`; another value raises script/invalid-type.
void set_value(uint8_t* at, const Cell* value, uint32_t unit);
// A new block of the element values from the index, pushed on the data stack. May collect.
Cell* to_block(const Cell* vector);

// Elements from the index to the tail.
uint32_t zs_length(const Cell* vector);
// The tail moves to the index.
void set_tail_at_index(const Cell* vector);
// Appends one raw 32-bit element. May collect.
void zs_append_int32(const Cell* vector, int32_t value);

// Element-wise arithmetic of the vector with a scalar (op codes 0-7), in place from the
// index; the vector becomes the running action's result. With `scalar_left` the scalar is the
// left operand of each operation (10 - v: 10 - each element). Float vectors take an integer!,
// float! or percent! scalar, and no and, or or xor (script/cannot-use naming the action and
// the element type); integer and char vectors an integer! (a float truncated), with 32-bit
// wrap-around; another scalar raises internal/not-done. Adding 0, subtracting 0 from the vector and
// multiplying by 1 or dividing the vector by 1 touch nothing.
Cell* do_math(int32_t op, Cell* vector, const Cell* scalar, bool scalar_left);

// --- Slot functions -------------------------------------------------------------------------

Cell* make(Cell* prototype, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);
int32_t compare(Cell* value, Cell* other, int32_t op);
void add();
void subtract();
void multiply();
void divide();
void remainder();
void and_();
void or_();
void xor_();
// append (append set) and insert: one element or a block, paren or hash of elements, each of
// the vector's element type (else script/invalid-arg); /part counts elements of the block;
// append keeps the index, insert moves it past the new elements. May collect.
Cell* insert(Cell* series, Cell* value, const action::InsertOptions& options);
Cell* change(Cell* series, Cell* value, const action::ChangeOptions& options);

// Registers vector! (type 35, parent string!), installs the element services of series! and
// the block conversion.
void register_actions();

} // namespace vector
