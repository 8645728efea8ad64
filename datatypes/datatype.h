// The datatype registry and the datatype! type.
//
// Every cell carries its type id in the low byte of its header. The registry maps a type id
// to its name, its parent and its row of action functions (action.h); everything that
// behaves differently by datatype reaches the type through that row. Each datatype module
// ends with a registration routine that hands the registry its row; the runtime
// initialisation calls them once, in a fixed order that registers every parent before its
// children, and the rows never change afterwards.
//
// A datatype! value names a type: its word 1 holds the type id.
#pragma once
#include <cstdint>
#include <span>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace datatype {

// Room for type ids 0 to 56; id 0 is never registered.
constexpr uint32_t kCapacity = 57;

struct NameRecord {
    const char* name; // "integer!": static text, never copied
    uint32_t length;  // bytes of the name without the "!"
    // The word of the full name in the global context (a cell in the root block, so its
    // address is stable); null until make_name_words or a late registration makes it.
    const Cell* word;
};

// What a datatype module hands the registry: 3 + slots.size() words, which must be 65.
struct Registration {
    uint32_t type;
    uint32_t parent; // 0 for none
    const char* name;
    std::span<const action::Entry> slots;
};

// The highest registered type id (only grows).
extern int32_t highest_type_id;

// Allocates (the first time) and clears both tables, the name records and the action rows
// (62 entries per type id): afterwards no type is registered.
void init();

// Registers one datatype. A registration whose word count is not 65 is a build fault: three
// lines on the console ("*** Datatype Error: invalid actions count for type: " and the id,
// "*** Found: " and the slot count, "*** Expected: " 62) and the process ends with status 0.
// An inherit entry copies the parent's entry as it is now (so a 0 there stays 0); inherit
// without a parent is taken as not supported. A type or parent id outside the table is a
// build fault too: runtime error 98. A type registered once the words exist also gets its
// name word (may collect).
void register_(const Registration& registration);

// Gives every registered type its name word: the word of its full name ("integer!") in the
// global context, kept in the root block. Called once the symbol table and the global
// context exist; a type registered after that gets its word at registration. May collect.
void make_name_words();

// The record of a type; an id without a registered type gives an empty name ("!").
const NameRecord& name_record(uint32_t type);

// The type-erased entry of a slot, null when not supported (also for ids beyond the table).
action::Erased entry(uint32_t type, action::Slot slot);
// The function of slot S for a type, null when not supported.
template <action::Slot S> action::Fn<S> function(uint32_t type) {
    return reinterpret_cast<action::Fn<S>>(entry(type, S));
}

// --- datatype! values ---------------------------------------------------------------------

// The constructors write the whole header (no flags) and word 1.
Cell* make_at(Cell* cell, uint32_t type);
// Pushes a datatype! value on the data stack.
Cell* push(uint32_t type);
// Appends a datatype! value at the tail of a block. May collect: the result is valid until
// the next allocation.
Cell* add_to_block(const Cell* block, uint32_t type);

// Slot functions.
int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);
int32_t compare(Cell* value, Cell* other, int32_t op);

void register_actions();

} // namespace datatype
