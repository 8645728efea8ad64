// Contexts: the variable stores of the language, and word binding.
//
// A context is an ordered list of words, each with one value slot. The global context holds
// every global word; each object has one; each native, action, function and routine has one
// made from its spec, whose values live on the data stack while a call runs. A word value is
// bound to a context and caches its position there (word.h), so that reading and writing a
// bound word is an indexed access.
//
// Context node: a buffer of two cells,
//   1. the context cell (type context!, 14): word 1 the word table, word 2 the values block,
//      or for a context whose values live on the data stack the data-stack index of its
//      first value plus 1 while a call runs (0 when none does); header flags below;
//   2. the owner cell: the object!, function!, routine!, native! or action! value that owns
//      the context, unset until its maker stores it.
// Word table: a hash table of the words kind (hashtable.h) whose key block is the word list:
// one word! cell (this context's node, the symbol as added, its index) per word, in the order
// the words were added. Lookup hashes the canonical symbol, so all letter cases of a word
// share one probe. An entry's index is its own position, except in the global context, where
// an entry added by add_symbol for an alias symbol carries the index of its canonical
// variant's entry: both letter cases share one value slot.
// Values block: one cell per word-list entry, in the same order; adding a word appends an
// unset slot. Function contexts have none.
//
// Contexts are never shrunk: words are only added and a word's position never changes.
//
// Collector safety: contexts are passed as nodes. Operations that may allocate say so; the
// Cell* they return is valid until the next allocation.
#pragma once
#include <cstdint>

#include "runtime-core/cell.h"

namespace context {

// Header flags of a context cell (besides the type byte).
constexpr uint32_t kKindShift = 11;
constexpr uint32_t kKindMask = 3u << kKindShift;
constexpr uint32_t kFlagOnStack = 1u << 22; // values live on the data stack
constexpr uint32_t kFlagObject = 1u << 24;  // set on object contexts; kept by cloning
// Set on a word-list entry of an object context once its field has been set.
constexpr uint32_t kTouched = 0x2000;

enum Kind : uint32_t { kPlain = 0, kFunction = 1, kObject = 2 };

constexpr uint32_t kGlobalSlots = 4000;

// Node of the global context (0 until init_global).
extern uint32_t global;

// Makes the global context (4,000 slots, plain, values in a block) and registers its
// collector marker. May collect.
void init_global();
// Forgets the global context (tests; the memory manager reclaims its buffers).
void release();

// --- Making contexts (all may collect) ----------------------------------------------------

// A new context for `slots` words (0 counts as 1): a word table of that size, or a copy of
// the table of `source` (a context cell) when it is given, its entries bound to the new
// context; values in a block with room for that many cells, none in use, unless they are to
// live on the stack. Returns its node.
uint32_t create(uint32_t slots, bool on_stack, bool object_flag, const Cell* source, Kind kind);
// A context holding each word!, get-word!, lit-word! and refinement! of a spec block (from
// its head; a repeated word once). Without values on the stack, the values block holds one
// unset slot per word.
uint32_t make_from_spec(const Cell* spec, bool on_stack, bool object_flag, Kind kind);
// A new context with the same words as the one in word 1 of `holder` (its copied word list
// bound to the new node) and one unset value per word; same stack and object flags. Word 1
// of `holder` becomes the new node, which is also returned. `holder` must stay where it is
// (data stack, GcRoot, root block).
uint32_t clone(Cell* holder, Kind kind);

// --- Reading a context (valid until the next allocation) ----------------------------------

Cell* cell_of(uint32_t context);
Cell* owner_of(uint32_t context);
Kind kind_of(uint32_t context);
bool on_stack(uint32_t context);
// Node of the word list; its first entry; the number of words.
uint32_t word_list(uint32_t context);
Cell* words(uint32_t context);
uint32_t word_count(uint32_t context);
// The value slot at an index: in the values block, or on the data stack while a call of a
// function context runs; null when the context has no values now or the index is beyond
// them.
Cell* slot(uint32_t context, int32_t index);

// Function contexts: word 2 is pointed at the first value of a call on the data stack when
// the call starts (null: no call). Returns word 2 as it was, which the caller restores with
// restore_stack_values when the call's frame is popped, so that recursion works.
uint32_t set_stack_values(uint32_t context, const Cell* first);
void restore_stack_values(uint32_t context, uint32_t saved);

// --- Lookup and adding words --------------------------------------------------------------

// The 0-based index of a symbol, -1 when absent. Without `case_insensitive` symbol ids are
// compared exactly, with it canonical ids. Never collects.
int32_t find_word(uint32_t context, uint32_t symbol, bool case_insensitive);
// The index when present; when absent the word is added to the word list (no value slot)
// and -1 is returned with `out` = its new index. May collect.
int32_t find_word_ex(uint32_t context, uint32_t symbol, bool case_insensitive, int32_t* out);
// The index of a symbol (canonical lookup), added with an unset value slot when absent.
// May collect.
int32_t bind_index(uint32_t context, uint32_t symbol);
// The value of a symbol (canonical lookup); a context with values on the stack answers from
// the global context. Null when absent.
Cell* value_cell(uint32_t symbol, uint32_t context);
// In the global context: the word-list entry of a symbol (exact lookup), added when
// absent; while the boot flag is set, a copy in the root block. May collect.
Cell* add_global(uint32_t symbol);
// In the global context: the word-list entry of a symbol under the case rule, added when
// absent. An alias symbol added anew shares its canonical variant's value slot. With both
// flags and another letter case found, the answer is a copy of that entry with the symbol
// replaced (in the root block while the boot flag is set, else on the data stack). May
// collect.
Cell* add_symbol(uint32_t symbol, bool case_insensitive, bool keep_letters);

// --- Values through words -----------------------------------------------------------------

// Stores a value for the word's symbol (canonical lookup), adding the word and a slot when
// absent. May collect.
Cell* set_word_value(uint32_t context, const Cell* word, const Cell* value);
// Adds the word with the value in a new slot and returns the slot; null when the word is
// already there. May collect.
Cell* add_word_value(uint32_t context, const Cell* word, const Cell* value);
// Stores a value through a word. An unresolved word (index -1) is looked up and its index
// cached first, adding it when absent. In an object context the field's entry is touched;
// with `notify`, when the owner object has a change record, the change hook runs with the
// owner, the word, the old and the new value. Errors: script/not-defined when the context
// has no values (or the word is unbound). Returns the slot. May collect and run user code.
Cell* set_in(Cell* word, const Cell* value, uint32_t context, bool notify);
// set_in in the word's own context, notifying.
Cell* set_word(Cell* word, const Cell* value);
// The slot of a word's value. An unbound word raises script/not-in-context; an unresolved
// one (index -1) is looked up in its own context; one still not found yields the owner of
// its own context when it is `self`, else raises script/no-value; a context without values
// raises script/not-in-context. Never collects.
Cell* get_in(const Cell* word, uint32_t context);
Cell* get_word(const Cell* word);

// --- Binding (never collect) --------------------------------------------------------------

// Rebinds the word to the context when its symbol is there (canonical lookup); returns the
// index or -1.
int32_t bind_word(uint32_t context, Cell* word);
// Binds every word of a block from its index, and of the blocks, parens, hash! values and
// paths inside it, that the context has; other words keep their binding. With `self`, a
// word! `self` is bound to the context unresolved, so that it reads as the owner. A block
// already being walked (a block that contains itself) is passed over. Returns the block.
Cell* bind_deep(Cell* block, uint32_t context, bool self);
// Adds every set-word! of a block from its index (first clamped to the tail and written
// back) with bind_index; answers whether the word list grew. May collect.
bool add_set_words(uint32_t context, Cell* block);

// --- Change notification ------------------------------------------------------------------

// The object module's on-change* call. The four cells are copies on the data stack, stable
// while it runs; it may collect and run user code.
using ChangeHook = void (*)(Cell* owner, Cell* word, Cell* old_value, Cell* new_value);
void set_change_hook(ChangeHook hook);

// --- Collector ----------------------------------------------------------------------------

// The rule of a context! cell: its word table and, unless the values are on the stack, its
// values block.
void mark_cell(Cell& cell);
// Marks a context node: its buffer, and through its two cells the table, the values and
// the owner. Rewrites the slot when the node moved.
void mark(uint32_t& node);

void register_actions();

} // namespace context
