// object!: a context with an identity (type id 32, no parent; error! and port! are its
// children and share its cell and most of its actions).
//
// Object cell:
//   word 1  the node of the object's context (context.h); the context's owner cell holds a
//           copy of the object cell, so that a context knows its object;
//   word 2  the class id, signed: objects made from one prototype without adding words share
//           it; a new one comes from a counter that starts at 1,000,000 and is incremented
//           before each use; objects built by start-up carry fixed ids below that (error!'s
//           prototype has 1);
//   word 3  the node of the change record, or 0.
// An object under construction is unset! until it is complete, so a failure leaves no
// half-made object visible.
//
// Change record: a buffer of two cells, 0 describing on-change* and 1 on-deep-change*, each
// of type pair! with word 2 = (field index << 16) | local count (field index -1 when the field
// is absent; the count is the number of frame cells the handler's refinements and locals take)
// and word 3 the node of the handler's spec block when the count was taken (0: not yet). A
// handler whose spec node changed is recounted before it is called.
//
// on-change* is called with (word old new) after a field is set through a path, `set`, put
// or a set-word bound to the object, the new value already stored; on-deep-change* with
// (owner word target action new index part) after a series that the object owns changes in
// place (ownership.h). An object without either field has no record and pays nothing.
//
// What object! needs of the evaluator (evaluating a spec block, calling a handler, rebuilding
// a function for a copied object) comes through hooks that the interpreter installs.
//
// Collector safety: functions that may collect say so; their Cell* arguments must lie where
// the collector follows them (data stack, GcRoot, root block). A Cell* they answer is valid
// until the next allocation.
#pragma once
#include <cstdint>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace object {

// The first class id handed out is kFirstClassId + 1.
constexpr int32_t kFirstClassId = 1000000;
// Class ids of the objects that start-up builds.
constexpr int32_t kErrorClassId = 1;

// --- What the evaluator provides ------------------------------------------------------------

struct Evaluator {
    // Evaluates a block from its index for its effects (an object spec); the data stack is as
    // it was afterwards. Errors propagate. May collect and run user code.
    void (*do_block)(const Cell* block);
    // Calls a function! whose frame is on the data stack: its result slot at
    // stack::arguments, then its arguments and the refinement and local slots. Opens a call
    // frame named `name` (a word) over the context `context` with the tracer's event class
    // (8 on-change*, 16 on-deep-change*), runs the function and leaves its result in the
    // result slot. Errors propagate. May collect.
    void (*call_handler)(const Cell* function, const Cell* name, uint32_t context,
                         int32_t event_class);
    // Replaces a function! field in place for the object whose context is `context`. May
    // collect. Null: object::rebind_function does it.
    void (*rebind_function)(Cell* function, uint32_t context);
};
// Installs the hooks (null: none). Without do_block, make from a spec block raises
// internal/not-done; without call_handler, handlers are not called.
void set_evaluator(const Evaluator* evaluator);
// Evaluates a spec block through the hook (internal/not-done without it). May collect and run
// user code.
void do_block(const Cell* block);

// --- Accessors --------------------------------------------------------------------------------

// The word-list entry at an index of a context (a 0-based field position).
Cell* word_at(uint32_t context, uint32_t index);
Cell* first_word(const Cell* object);
// The first value cell; the number of fields.
Cell* values(const Cell* object);
uint32_t field_count(const Cell* object);
// The index of the word's symbol among the fields (canonical comparison), or -1.
int32_t find_word_index(const Cell* object, const Cell* word);
int32_t find_symbol_index(const Cell* object, uint32_t symbol);
// The value cell of the field named by the word, or the shared none cell.
Cell* select_word(const Cell* object, const Cell* word);
// Whether the word's value (or the value at an index of a context) is an object! of that
// class.
bool word_holds_object(const Cell* word, int32_t class_id);
bool slot_holds_object(uint32_t context, int32_t index, int32_t class_id);
// Clears the new-line flag of every cell of a cell buffer; the touched flag of every field of
// a context.
void clear_new_lines(uint32_t cells);
void clear_value_marks(uint32_t context);
// A new class id from the counter.
int32_t new_class_id();

// --- Constructors (all may collect) ---------------------------------------------------------

// Pushes an object of the context (no change record) and copies it into the context's owner
// cell; a context whose values are empty gets one unset value per word first.
Cell* make_at(uint32_t context, int32_t class_id);
// Pushes an object with that change record and copies it into the owner cell.
Cell* push(uint32_t context, uint32_t record, int32_t class_id);
// Makes `cell` an object with a fresh context of n slots, class id 0, no record.
Cell* make_empty_at(Cell* cell, uint32_t slots);
// Makes `target` a copy of the object `source`: same words, values copied; with deep the
// series among them deep-copied (restricted to `types` when given); functions rebound to the
// new object; the source's type byte and class id; with `copy` a record of its own, else the
// source's record. Returns `target`.
Cell* build(const Cell* source, Cell* target, bool deep, const Cell* types, bool copy);
// construct: a new object (pushed) from a spec block of set-words and values, nothing
// evaluated; unless `only`, the words true yes on, false no off and none become their values.
// With a prototype, a deep copy of it extended by the spec.
Cell* make_from_block(const Cell* spec, const Cell* prototype, bool only);
// Adds every field of the source object to the target object and copies its value;
// deep-copies series and rebinds functions among the target's values. Answers whether the
// target gained words.
bool inherit_from(const Cell* target, const Cell* source);
// Copies the values of the source context into the target context by position: series
// deep-copied (block-like copies bound to the target, `self` included); other values only
// with `all`.
void copy_values(uint32_t source, uint32_t target, bool all);
// Replaces a function! (a cell that stays where it is) by a copy for the object whose context
// is given: a new locals context over the same words, the body deep-copied and bound to the
// object (`self` included) and then to the new locals; the copy runs interpreted. A function
// without a body raises script/bad-func-def. May collect.
void rebind_function(Cell* function, uint32_t context);
// The refinements of the `set` native.
struct SetOptions {
    bool any = false;
    bool only = false;
    bool some = false;
};
// The `set` native on an object: the value (a block or an object, unless `only`) sets the
// fields in order, anything else sets every field. Unset values raise script/need-value
// unless `any`; with `some` a none leaves its field alone. Fires on-change* per field set.
void set_values(const Cell* object, const Cell* value, const SetOptions& options);

// --- Change handlers --------------------------------------------------------------------------

uint32_t make_change_record(uint32_t spec1, uint32_t spec2, int32_t index1, int32_t count1,
                            int32_t index2, int32_t count2);
// A new record for the handler fields of the context, or 0 when it has neither. A handler
// field that holds neither a function! nor a routine! raises script/bad-field-set.
uint32_t find_change_handlers(uint32_t context);
// Stores the record in word 3; with an on-deep-change* field, makes the object the owner of
// its series; copies the object into the context's owner cell. `object` must stay where it
// is.
void setup_change_handlers(Cell* object);
// Start-up: gives the object on top of the data stack a record of the given indexes and
// counts; returns the record's node.
uint32_t init_change_handlers(uint32_t context, int32_t index1, int32_t count1, int32_t index2,
                              int32_t count2);
bool has_deep_change_handler(const Cell* object);
// Calls on-change* with (word old new). The object must have a record. A field that holds
// something other than a function! raises script/invalid-obj-evt. May collect, runs user code.
void fire_on_change(const Cell* object, const Cell* word, const Cell* old_value,
                    const Cell* new_value);
// The same with the new value second from the top of the data stack and the old one on top;
// the object given, the owner of a context, or the value of a word.
void fire_on_change_from_stack(const Cell* object, const Cell* word);
void fire_on_change_in(uint32_t context, const Cell* word);
void fire_on_change_of_word(const Cell* object_word, const Cell* word);
// Calls on-deep-change* with (owner word target action new index part); a null new value is
// none. An owner without a record raises script/invalid-obj-evt. May collect, runs user code.
void fire_on_deep_change(const Cell* owner, const Cell* word, const Cell* target,
                         const Cell* action, const Cell* new_value, int32_t index, int32_t part);

// --- Slot functions ---------------------------------------------------------------------------

Cell* make(Cell* prototype, Cell* spec, int32_t type);
// reflect: changed, class, words, values, body, owner, events?; the result replaces `value`.
Cell* reflect(Cell* value, int32_t field_symbol);
int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);
// How serialize writes the fields.
struct SerializeOptions {
    bool only = false;   // with mold: no new line before the first field, no indentation
    bool all = false;    // the handler fields too, and values in the construction syntax
    bool flat = false;   // one line, no indentation
    bool indent = false; // each field on a line of its own, `tabs` levels in
    bool mold = false;   // for mold: a new line opens the fields unless only or flat
};
// Writes the fields (`word: value`, the handler fields only with `all`); used by form, mold and
// the molds of error! and port!. Returns the limit left. May collect.
int32_t serialize(const Cell* object, const Cell* string, const SerializeOptions& options,
                  int32_t limit, int32_t tabs);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, const action::PathOptions& options);
int32_t compare(Cell* value, Cell* other, int32_t op);
Cell* copy(Cell* value, Cell* result, const action::CopyOptions& options);
Cell* put(Cell* series, Cell* key, Cell* value, const action::PutOptions& options);
Cell* select(Cell* series, Cell* value, const action::FindOptions& options);
Cell* modify(Cell* target, Cell* field, Cell* value, const action::PutOptions& options);

// Registers object! (after file!), its collector rule, its conversion to a block and the
// change hooks of context.h and ownership.h.
void register_actions();

} // namespace object
