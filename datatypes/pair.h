// pair!: a two-dimensional integer coordinate written 10x20 (type id 37, no parent).
//
// Cell: type id 37; word 2 holds x and word 3 y, signed 32-bit integers; word 1 is unused.
// Arithmetic that leaves the integers (a float factor or divisor, an overflowing coordinate)
// continues in point2D! and answers a point2D!.
#pragma once
#include <cstdint>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace pair {

// --- Constructors (the lexer's and the boot-image decoder's, from x and y) -----------------

// Writes the whole header (no flags) and the coordinates. Returns the cell.
Cell* make_at(Cell* cell, int32_t x, int32_t y);
// Pushes a new pair on the data stack.
Cell* push(int32_t x, int32_t y);
// The running native's result slot becomes the pair.
Cell* box(int32_t x, int32_t y);
// Appends a pair at a block's tail. May collect: the result is valid until the next
// allocation.
Cell* add_to_block(const Cell* block, int32_t x, int32_t y);

int32_t x(const Cell* pair);
int32_t y(const Cell* pair);

// --- Arithmetic -----------------------------------------------------------------------------

// The current frame's first cell (a pair) with the second, by op code (0 add, 1 subtract,
// 2 multiply, 3 divide, 4 remainder, 5 or, 6 and, 7 xor); the result replaces the first
// cell. A pair or an integer combines coordinate by coordinate through integer! arithmetic; a
// float! or percent! factor or divisor gives a point2D!, for the other operations it is
// truncated (a non-finite one raises script/invalid-arg); a point2D! operand turns the pair
// into a point2D! first. When a coordinate overflows, the whole operation is done again in
// point2D!. Another operand raises script/invalid-type.
Cell* do_math(int32_t op);

// The coordinate a path or pick selector names: 1 or the word x gives 1, 2 or y gives 2;
// anything else 0.
int32_t path_index(const Cell* selector);

// --- Slot functions -------------------------------------------------------------------------

Cell* make(Cell* prototype, Cell* spec, int32_t type); // also to
Cell* random(Cell* value, const action::RandomOptions& options);
int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, const action::PathOptions& options);
// A point2D! other value is compared as points; another type is not comparable; pairs order
// by x, then y, under every code.
int32_t compare(Cell* value, Cell* other, int32_t op);
void absolute();
void negate();
Cell* round(Cell* value, const action::RoundOptions& options);
// The coordinate as integer!, written over the pair cell; another index raises
// script/out-of-range.
Cell* pick(Cell* series, int32_t index, Cell* index_value);
Cell* reverse(Cell* series, Cell* part, Cell* skip);

// Registers pair! (type 37, no parent).
void register_actions();

} // namespace pair
