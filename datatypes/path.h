// path!, lit-path!, set-path! and get-path!: values written with slashes between them
// (a/b/c, 'a/b/c, a/b/c:, :a/b/c).
//
// Cell: the block cell of block.h (word 1 the index, word 2 the node of the cell buffer) with
// type id 25 path!, 26 lit-path!, 27 set-path! or 28 get-path!. To the runtime a path is a
// block: path! is a child of block! and takes its series actions, path access and comparison
// at registration; the three variants are children of path! and differ only in their mold.
// What is a path's own: making from a size, conversion of single values, and form and mold
// with "/" between the elements and the variant's prefix or suffix. random, sort and trim are
// not supported on paths.
//
// Evaluation: a path value in code is evaluated by the interpreter, not here. It looks up the
// first element (a word's value) and then takes each further element as one step through the
// eval-path slot of the value reached so far (block!'s for blocks and paths, object!'s for
// objects ...), the last step of a set-path! carrying the value to store. The slot the path
// types register is block!'s, so stepping into a path as data (a/b/2) picks and selects like
// a block.
#pragma once
#include <cstdint>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace path {

// Makes `cell` an empty path! at index 0 over a new buffer of `capacity` cells (below 1
// counts as 1). `cell` must stay where it is. May collect.
Cell* make_at(Cell* cell, int32_t capacity);
// Retypes the cell in place to path! and pushes a copy of it on the data stack.
Cell* push(Cell* cell);

// --- Slot functions (inherited by the three variants but mold) ------------------------------

// make of type t: an integer!, float! or percent! spec gives an empty path with room for that
// many cells (truncated toward zero; 0 counts as 1; a number beyond 32 bits raises
// script/out-of-range); an any-block! spec a shallow copy of its cells from its index; any
// other spec raises script/bad-make-arg. The result is pushed on the data stack. May collect.
Cell* make(Cell* prototype, Cell* spec, int32_t type);
// to of type t: a map!, object! or typeset! becomes the one element of a new path; anything
// else converts as to block! does, then takes type t. Pushed on the data stack. May collect.
Cell* to(Cell* prototype, Cell* spec, int32_t type);
// Each element from the index formed through its type, "/" between them; a path met again
// inside itself writes "...". A set-path forms like a path, without its colon. May collect.
int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit);
// The same walk with each element molded with the caller's arguments, and the variant's
// mark: "'" before a lit-path!, ":" before a get-path!, ":" after a set-path!. May collect.
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);

// Registers path!, lit-path!, set-path! and get-path!, in that order, after block!.
void register_actions();

} // namespace path
