// function!: language functions made from a spec block and a body block.
//
// Function cell (type 24):
//   header  bit 10 (0x400) when the spec's attribute block holds `trace`, bit 9 (0x200)
//           when it holds `no-trace`;
//   word 1  the node of the locals context (values on the data stack while a call runs); its
//           owner cell holds a copy of the function cell;
//   word 2  the node of the spec block, held from its head;
//   word 3  the node of the five-cell more block: 0 the body (a deep copy) or none, 1 the
//           signature compiled from the spec (signature.h), 2 the entry of compiled code
//           (unset: the body is interpreted), 3 the function cell of an op! made from it, 4 the
//           context of the object a method belongs to (unset when none).
#pragma once
#include <cstdint>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace function {

constexpr uint32_t kTraceFlag = 0x400;
constexpr uint32_t kNoTraceFlag = 0x200;

// Builds a function from a spec, the signature compiled from it (`compiled`, signature.h; its
// attribute flags go into the header) and a body block (cells that stay where they are: data stack,
// root block, GcRoot) and pushes it. The body is deep-copied. Without a context, one is made
// for the signature's words and the body copy is bound to it; a context given (a method
// rebuilt for another object) is taken as it is and the body is left bound as it is. Answers
// the context node. May collect.
uint32_t build(const Cell* spec, const Cell* compiled, const Cell* body, uint32_t context = 0);

// What the `function` native does to its spec: the set-words of the body (and the words of
// foreach, remove-each and repeat) that are not arguments become locals after /local;
// /extern names words to leave global. `spec` is a copy on the data stack that is edited
// in place. May collect.
void collect_locals(Cell* spec, const Cell* body);

Cell* make(Cell* prototype, Cell* spec, int32_t type);
Cell* reflect(Cell* value, int32_t field_symbol);
int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);
int32_t compare(Cell* value, Cell* other, int32_t op);

void mark_cell(Cell& cell);
void register_actions();

} // namespace function

// routine!: a machine function of the runtime's routine table (evaluator/evaluator.h) seen as a
// function.
// Same cell as function!; header bit 15 (0x8000) when the routine takes its arguments as cells,
// bits 25-29 the number of word! entries of its spec (its arity); more cell 2 holds the table
// index, cell 4 the result type id (4 logic!, 11 integer!, 12 float!, not above 0: no result).
namespace routine {

constexpr uint32_t kCellArgsFlag = 0x8000;
// The arity lives in five header bits: a spec with more argument words is refused.
constexpr uint32_t kMaxArity = 31;

// Builds a routine over the spec and body cells given (not copied; a body that is no block
// becomes none) and pushes it. A spec of more than kMaxArity words raises
// script/bad-func-def. May collect.
Cell* build(const Cell* spec, const Cell* body, uint32_t index, int32_t result_type,
            bool cell_args);
uint32_t get_arity(const Cell* routine);
// Counts the word! entries of the spec (as its signature has them) into the header; raises
// script/bad-func-def for more than kMaxArity.
void cache_arity(Cell* routine);

} // namespace routine
