// point2D! and point3D!: immediate vectors of two and three single-precision floats, written
// (x, y) and (x, y, z) (type ids 51 and 52, no parent).
//
// Cell: type id 51 or 52; word 1 holds x, word 2 y and word 3 z (point3D! only) as IEEE
// singles. Components are read as doubles for arithmetic and stored back rounded to single
// precision. Both types share every slot function: the cell's type says how many
// components there are.
#pragma once
#include <cstdint>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace point2D {

// Constructors from the components (the lexer's, the as-point2D native's and the
// boot-image decoder's). make_at writes the whole header (no flags).
Cell* make_at(Cell* cell, float x, float y);
Cell* push(float x, float y);
// The running native's result slot becomes the point.
Cell* box(float x, float y);
// Appends at a block's tail. May collect: the result is valid until the next allocation.
Cell* add_to_block(const Cell* block, float x, float y);

} // namespace point2D

namespace point3D {

Cell* make_at(Cell* cell, float x, float y, float z);
Cell* push(float x, float y, float z);
Cell* box(float x, float y, float z);
Cell* add_to_block(const Cell* block, float x, float y, float z);

} // namespace point3D

namespace point {

// 2 or 3.
uint32_t dimensions(const Cell* point);
// Component i (0 x, 1 y, 2 z).
float get(const Cell* point, uint32_t i);
void set(Cell* point, uint32_t i, float value);

// The current frame's first cell (a point) with the second, by op code (0 add, 1 subtract,
// 2 multiply, 3 divide, 4 remainder): a point of the same type component by component, a
// pair! with a point2D! axis by axis, an integer! or float! with every component (a float
// factor or divisor in single precision); each component goes through float! arithmetic and
// is stored back as a single. Another operand raises script/invalid-type. The result
// replaces the first cell.
Cell* do_math(int32_t op);

// The component a selector names: 1, 2, 3 or the words x, y, z give 1 to 3 (3 and z only
// for point3D!); anything else 0.
int32_t path_index(const Cell* point, const Cell* selector);

// --- Slot functions (both types) ------------------------------------------------------------

Cell* make(Cell* prototype, Cell* spec, int32_t type); // also to
Cell* random(Cell* value, const action::RandomOptions& options);
int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, const action::PathOptions& options);
// Equality by single-precision near-equality of every component, strict-equal and find
// exactly, same by bits; orderings by the first component that differs. A pair! is compared
// with a point2D! as a point; other types are not comparable.
int32_t compare(Cell* value, Cell* other, int32_t op);
void absolute();
void add();
void divide();
void multiply();
void negate();
void remainder();
void subtract();
Cell* round(Cell* value, const action::RoundOptions& options);
// The component as float!, written over the point cell; another index raises
// script/out-of-range, an unknown word script/cannot-use.
Cell* pick(Cell* series, int32_t index, Cell* index_value);
// point2D!: x and y swap; point3D!: x and z swap.
Cell* reverse(Cell* series, Cell* part, Cell* skip);

// Registers point2D! (51) and point3D! (52).
void register_actions();

} // namespace point
