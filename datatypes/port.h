// port!: an object whose series and I/O actions go to its scheme's actor.
//
// Cell: the object! cell layout (context node, class id, change record) with type id 48. Its
// fields, in order: spec, scheme, actor, awake, state, data, extra (a copy of
// system/standard/port). The actor is an object! whose words name functions, or a handle! of a
// table of native actor routines.
//
// Every own action but make, form, mold, read and write is forwarded to the actor function of
// the action's name with the port first and then the action's own arguments in the order of
// its spec: a refinement as a logic! value, followed by its argument (none when absent); /part
// counts as present when given, /dup when its count is above 1. read is open, copy and close;
// write is open/write, insert, copy and close.
//
// Objects, system/schemes and function calls come from the object! and interpreter modules,
// which install them here (Services); until they do, make raises internal/not-done and so no
// port exists.
#pragma once
#include <cstdint>
#include <initializer_list>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace port {

// Field positions of a port's object.
enum Field : uint32_t { kSpec = 0, kScheme, kActor, kAwake, kState, kData, kExtra };

// What port! needs of the object! and interpreter modules.
struct Services {
    // make from a url!, block! or object! spec through system/schemes (access/no-scheme,
    // unknown-scheme and invalid-actor as the scheme lookup finds): the new port in
    // `prototype`.
    Cell* (*make)(Cell* prototype, Cell* spec) = nullptr;
    // The value of a field of the port's object.
    const Cell* (*field)(const Cell* port, Field field) = nullptr;
    // Calls the function that the actor object holds under the word of `symbol` with the
    // `count` argument cells at `arguments` (refinements of the function that these do not
    // reach are passed as absent); the result goes to `result`. False, without a call, when
    // the actor has no function of that name. May run user code.
    bool (*call)(const Cell* actor, uint32_t symbol, const Cell* arguments, uint32_t count,
                 Cell* result) = nullptr;
    // Writes the port's fields as the object! serializer does, one level further indented;
    // returns the budget left.
    int32_t (*mold_fields)(Cell* port, Cell* string, bool all, bool flat, int32_t limit,
                           int32_t indent) = nullptr;
};
extern Services services;

// A table of native actor routines for a handle! actor: entry (slot - 25) for the action
// slots 25 to 62; an empty entry is not supported. The routine reads its arguments from the
// current frame like any action.
using NativeActor = void (*)();
constexpr uint32_t kFirstForwardedSlot = 25;
struct NativeActorTable {
    NativeActor entries[action::kSlotCount - kFirstForwardedSlot + 1] = {};
};
// Registers a table; the handle! value of an actor designates it by the index answered.
uint32_t register_native_actor(const NativeActorTable* table);
// The routine of a handle! actor's table for an action slot (25-62): access/no-port-action
// when the table has none. The action dispatcher calls it in place of the port's own entry.
NativeActor native_entry(const Cell* actor, action::Slot slot);

// The port's actor: access/invalid-port unless it is an object! or a handle!.
const Cell* get_actor(const Cell* port);
// Calls the actor function of `slot`'s action with the port and copies of the argument values
// (the port goes first); the result goes to `result`. A handle! actor's native routine runs
// on a frame of the same values. access/no-port-action when the actor has no such function.
// May run user code.
Cell* call_actor(const Cell* port, action::Slot slot, std::initializer_list<Cell> arguments,
                 Cell* result);

// --- Slot functions -------------------------------------------------------------------------

Cell* make(Cell* prototype, Cell* spec, int32_t type);
// "make port! [" the fields "]"; form passes no flags.
int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);
Cell* append(Cell* port, Cell* value, const action::InsertOptions& options);
void at();
void back();
Cell* change(Cell* port, Cell* value, const action::ChangeOptions& options);
Cell* clear(Cell* port);
Cell* copy(Cell* port, Cell* result, const action::CopyOptions& options);
Cell* find(Cell* port, Cell* value, const action::FindOptions& options);
void head();
void head_q();
void index_q();
Cell* insert(Cell* port, Cell* value, const action::InsertOptions& options);
// The integer inside the actor's result.
int32_t length_q(Cell* port);
Cell* move(Cell* port, Cell* target, Cell* part);
void next();
Cell* pick(Cell* port, int32_t index, Cell* index_value);
Cell* poke(Cell* port, int32_t index, Cell* value, Cell* index_value);
Cell* put(Cell* port, Cell* key, Cell* value, const action::PutOptions& options);
Cell* remove(Cell* port, Cell* part, Cell* key);
Cell* reverse(Cell* port, Cell* part, Cell* skip);
Cell* select(Cell* port, Cell* value, const action::FindOptions& options);
Cell* sort(Cell* port, const action::SortOptions& options);
void skip();
Cell* swap(Cell* port, Cell* other);
void tail();
void tail_q();
Cell* take(Cell* port, const action::TakeOptions& options);
Cell* trim(Cell* port, const action::TrimOptions& options);
Cell* create(Cell* port);
Cell* close(Cell* port);
Cell* delete_(Cell* port);
Cell* modify(Cell* port, Cell* field, Cell* value, const action::PutOptions& options);
Cell* open(Cell* port, const action::OpenOptions& options);
Cell* query(Cell* port);
Cell* read(Cell* port, const action::ReadOptions& options);
Cell* rename(Cell* port, Cell* to);
Cell* update(Cell* port);
Cell* write(Cell* port, Cell* data, const action::WriteOptions& options);

// Registers port! (type 48, parent object!).
void register_actions();

} // namespace port
