#include "datatypes/datatype.h"

#include <cstring>

#include "datatypes/context.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/heap.h"
#include "runtime-core/memory.h"
#include "runtime-core/root.h"
#include "runtime-core/runtime.h"
#include "runtime-core/stdio.h"

namespace datatype {

int32_t highest_type_id = 0;

namespace {

NameRecord* names = nullptr;       // kCapacity records
action::Erased* actions = nullptr; // kCapacity rows of kSlotCount entries

constexpr size_t kNamesBytes = sizeof(NameRecord) * kCapacity;
constexpr size_t kActionsBytes = sizeof(action::Erased) * kCapacity * action::kSlotCount;

action::Erased& at(uint32_t type, uint32_t slot) {
    return actions[type * action::kSlotCount + slot - 1];
}

} // namespace

void init() {
    // The tables are runtime structures on the system heap; they are cleared so that a row
    // nobody registered reads as "not supported" rather than as garbage.
    if (!names) names = static_cast<NameRecord*>(memory::alloc(kNamesBytes));
    if (!actions) actions = static_cast<action::Erased*>(memory::alloc(kActionsBytes));
    std::memset(static_cast<void*>(names), 0, kNamesBytes);
    std::memset(static_cast<void*>(actions), 0, kActionsBytes);
    highest_type_id = 0;
}

void register_(const Registration& r) {
    // Ids come from the program's own registrations; one outside the table is a build fault.
    if (r.type == 0 || r.type >= kCapacity || r.parent >= kCapacity)
        runtime::quit(runtime::kErrorAssertion, ZAN_CALLER_ADDRESS());
    if (static_cast<int32_t>(r.type) > highest_type_id)
        highest_type_id = static_cast<int32_t>(r.type);
    NameRecord& record = names[r.type];
    record.name = r.name;
    record.length = static_cast<uint32_t>(std::strlen(r.name)) - 1;
    // A type registered once the words exist (event!, during the boot program) gets its name
    // word at once; the start-up registrations come before the symbol table and get theirs
    // from make_name_words.
    if (root::exists() && symbol::exists() && context::global != 0) {
        root::BootScope boot;
        record.word = word::make_global(r.name);
    }

    if (r.slots.size() != action::kSlotCount) {
        print::values_line(
            {"*** Datatype Error: invalid actions count for type: ", static_cast<int32_t>(r.type)});
        print::values_line({"*** Found: ", static_cast<int32_t>(r.slots.size())});
        print::values_line({"*** Expected: ", static_cast<int32_t>(action::kSlotCount)});
        runtime::quit(0, 0);
    }
    for (uint32_t s = 1; s <= action::kSlotCount; ++s) {
        const action::Entry& e = r.slots[s - 1];
        if (!e.inherit)
            at(r.type, s) = e.function;
        else
            at(r.type, s) = r.parent != 0 ? at(r.parent, s) : nullptr;
    }
}

void make_name_words() {
    // The name words are kept in the root block, so their addresses are stable; an id
    // without a registered type has no name to make a word of.
    root::BootScope boot;
    for (int32_t type = 1; type <= highest_type_id; ++type)
        if (names[type].name) names[type].word = word::make_global(names[type].name);
}

const NameRecord& name_record(uint32_t type) {
    // A datatype! value can come from outside data: an id without a registered type reads
    // as a type without a name.
    static const NameRecord unnamed{"!", 0, nullptr};
    if (type >= kCapacity || !names[type].name) return unnamed;
    return names[type];
}

action::Erased entry(uint32_t type, action::Slot slot) {
    if (type >= kCapacity || slot < 1 || slot > action::kSlotCount) return nullptr;
    return at(type, slot);
}

// --- datatype! values ---------------------------------------------------------------------

Cell* make_at(Cell* cell, uint32_t type) {
    cell->header = kTypeDatatype;
    cell->w1 = type;
    return cell;
}

Cell* push(uint32_t type) {
    return make_at(stack::push_cell(), type);
}

Cell* add_to_block(const Cell* block, uint32_t type) {
    return make_at(memory::alloc_tail_cell(memory::buffer(block->w2)), type);
}

// The name is static text, so appending (which may move the value's buffer) does not
// disturb it.
int32_t form(Cell* value, Cell* string, Cell*, int32_t limit) {
    const NameRecord& r = name_record(value->w1);
    string::append_bytes(string, r.name, r.length);
    return limit - static_cast<int32_t>(r.length);
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t) {
    const NameRecord& r = name_record(value->w1);
    if (options.all) string::concatenate_cstring(string, "#(");
    string::append_bytes(string, r.name, r.length + 1);
    if (options.all) string::concatenate_cstring(string, ")");
    return limit - static_cast<int32_t>(r.length + 1) - (options.all ? 3 : 0);
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    switch (op) {
    case action::op::equal:
    case action::op::not_equal:
    case action::op::strict_equal:
    case action::op::same:
    case action::op::find:
        return cell::type(other) == kTypeDatatype && other->w1 == value->w1 ? 0 : 1;
    default:
        return action::kNotComparable;
    }
}

void register_actions() {
    action::Row row;
    row.set<action::slot::form>(form).set<action::slot::mold>(mold).set<action::slot::compare>(
        compare);
    register_({kTypeDatatype, 0, "datatype!", row.entries()});
}

} // namespace datatype
