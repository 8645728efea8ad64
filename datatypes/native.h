// native!, action! and op!: the built-in functions and the infix operators.
//
// Native and action cell (types 21 and 22):
//   word 1  the slot number: of the natives table (evaluator/natives.h) or of the 62 action slots;
//   word 2  the node of the spec block (held from its head);
//   word 3  the node of the two-cell more block: cell 0 a copy of the context cell made from
//           the spec (values on the stack), cell 1 the signature compiled from the spec
//           (signature.h).
// Op cell (type 23): a copy of the native!, action!, function! or routine! cell it was made
// from, with that type in header bits 16-23. An op shares its function's more block; for a
// function or routine the function cell is also kept in cell 3 of that block.
#pragma once
#include <cstdint>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace native {

// The natives table's slot numbers (evaluator/natives.h): addressable slots, and those that hold a
// native. Slot numbers are part of the saved form of native! values.
constexpr uint32_t kSlots = 120;
constexpr uint32_t kDefined = 107;

// The underlying function type of an op! (header bits 16-23).
inline uint8_t op_type(const Cell* op) {
    return static_cast<uint8_t>(op->header >> 16);
}

// Whether a function value's signature suits an operator: exactly two arguments, the first a
// plain word, and no refinement. Allocates nothing.
bool spec_has_two_args(const Cell* function);

// The check of a native's or action's spec against what its slot's entry reads from a frame,
// run by make once the value is made (on the data stack): the evaluator installs it, and it
// raises script/bad-make-arg naming the prototype and the spec when the spec does not fit.
// May collect.
using SpecCheck = void (*)(const Cell* made, const Cell* prototype, const Cell* spec);
void set_spec_check(SpecCheck check);

// make of native! and action!: a block of the spec block and the slot number. The value's
// signature is compiled here, so that a later change of the spec block (reflect gives the
// block itself) changes nothing a call reads.
Cell* make(Cell* prototype, Cell* spec, int32_t type);
Cell* op_make(Cell* prototype, Cell* spec, int32_t type);
Cell* reflect(Cell* value, int32_t field_symbol);
int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);
int32_t compare(Cell* value, Cell* other, int32_t op);
// The comparison of two function values by an identity word (slot, context, more block):
// -1, 0 or 1 under the equality and sort codes, not comparable under the orderings.
int32_t compare_identity(uint32_t a, uint32_t b, int32_t op);

// Collector rule of the three types: spec, more block and, for ops of functions, the
// context.
void mark_cell(Cell& cell);

// Registers native!, action! and op!, in that order.
void register_actions();

} // namespace native
