// word!, set-word!, lit-word!, get-word! and refinement!: the names of the language.
//
// Word cell, shared by the five types (and by issue!, which has its own module):
//   header  type 15 word!, 16 set-word!, 17 lit-word!, 18 get-word!, 19 refinement!
//           (20 issue!), bit 30 the new-line marker as for every value;
//   word 1  the context node the word is bound to, 0 for an unbound word;
//   word 2  the symbol id exactly as written (an alias keeps its letters; comparisons and
//           lookups resolve it);
//   word 3  the word's index in that context, 0-based, or -1 while unresolved.
// The types differ only in how the evaluator treats them and how they mold: set-word! with
// a trailing colon, lit-word! a leading apostrophe, get-word! a leading colon, refinement! a
// leading slash.
//
// Contexts are given as nodes. Functions that may allocate say so; a Cell* they answer is
// valid until the next allocation unless it lies in the root block or on the data stack.
#pragma once
#include <cstdint>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace word {

constexpr uint32_t kUnresolved = 0xFFFFFFFF;

// --- Constructors and accessors -----------------------------------------------------------

// The global word-list entry of a NUL-terminated UTF-8 name (interned, found under the case
// rule, added when absent); while the boot flag is set, a copy at the root block's tail. May
// collect.
Cell* make_global(const char* name);
// Makes `cell` a word! of the symbol bound to the global context, added there when absent.
// `cell` must stay where it is (data stack, GcRoot, root block). May collect.
Cell* make_at(uint32_t symbol, Cell* cell);
// make_at on a new cell at the tail of the block of node `block`. May collect.
Cell* add_to_block(uint32_t symbol, uint32_t block);
// make_at on a new cell pushed on the data stack. May collect.
Cell* push_new(uint32_t symbol);
// Pushes a copy of a word cell.
Cell* push(const Cell* word);
// The word-list entry at an index of a context.
Cell* slot_word(uint32_t context, int32_t index);
Cell* push_slot_word(uint32_t context, int32_t index);
// The context's entry for a symbol (exact lookup); when absent, the symbol's entry in the
// global context (added there, not to the given context). May collect.
Cell* find_or_add(uint32_t context, uint32_t symbol);
// The value slot at an index (context::slot): null when the context has no values there.
Cell* value_at(uint32_t context, int32_t index);
// Pushes a copy of the value at an index; script/not-defined naming the word-list entry when
// the context has no values.
Cell* fetch_value(uint32_t context, int32_t index);
// The symbol cell of the word's symbol, its string made. May collect.
Cell* symbol_record(const Cell* word);
// Pushes a copy of the word's value; an unset value raises script/no-value. Returns the
// pushed cell.
Cell* get_set_value(const Cell* word);
// The current frame holds a word and a value: sets the word (context::set_word) and makes
// the value the frame's result; an unset value raises script/need-value. May collect and run
// user code.
void set_to_next_checked();
// Pushes a copy of the slot's value, then stores the value pushed before it into the slot.
Cell* set_slot_push_old(uint32_t context, int32_t index);
// Stores the last pushed value into the slot; the stack is unchanged.
Cell* set_slot_from_top(uint32_t context, int32_t index);
// Pushes a string! at index 0 whose buffer is the symbol's own string (shared: callers only
// read it). May collect.
Cell* push_symbol_string(const Cell* word);
// The type id of the token that the symbol's text scans as (the lexer's type detection).
uint8_t scan_symbol_text(const Cell* word);

// --- The lexer's side ---------------------------------------------------------------------

// What make and to need of the lexer, which installs it. Without it, conversions that scan
// text raise internal/not-done.
struct Lexer {
    // The type id of the token at the start of a UTF-8 text (type-detection mode).
    uint8_t (*scan_type)(const char* text, uint32_t length);
    // Loads the text of a string from its index; the first value goes to `first`, a cell
    // that stays where it is. Answers how many values the text holds. May collect.
    uint32_t (*load)(const Cell* string, Cell* first);
};
void set_lexer(const Lexer* lexer);
// The lexer's load of a text from its index (as Lexer::load); internal/not-done while no
// lexer is installed. May collect.
uint32_t load_text(const Cell* string, Cell* first);

// --- Slot functions -----------------------------------------------------------------------

// make and to: the result goes to `prototype` with the header `type`.
Cell* make(Cell* prototype, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit);
// The mold of all five types; the value's type chooses the prefix or suffix.
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);
int32_t compare(Cell* value, Cell* other, int32_t op);
// index? on the current frame: the cached index + 1, or none when unresolved.
void index_q();

// Collector rule of the word types: the context the word is bound to.
void mark_cell(Cell& cell);

// Registers word!, lit-word!, set-word!, get-word! and refinement!, in that order.
void register_actions();

} // namespace word

// Retyping helpers of compiled code and the interpreter.
namespace get_word {
// Pushes a copy of a word retyped to get-word!.
Cell* push(const Cell* word);
// Pushes the word-list entry at an index of a context, retyped.
Cell* push_slot(uint32_t context, int32_t index);
// Pushes a copy of the word's value (no unset check).
Cell* get_value(const Cell* word);
} // namespace get_word

namespace refinement {
Cell* push(const Cell* word);
Cell* push_slot(uint32_t context, int32_t index);
// An unbound refinement! of a NUL-terminated name at the root block's tail. May collect (the
// interning).
Cell* add_to_root(const char* name);
} // namespace refinement
