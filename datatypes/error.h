// error!: the value that language errors travel as (type id 34, child of object!).
//
// An error is an object (object.h) whose header type byte is 34, class id 1, no change
// record, with the fields of `system/standard/error` in this order:
//   code type id arg1 arg2 arg3 near where stack files
// code is the category's position x 100 + the id's position - 2; type and id are the words
// of the category and the id in `system/catalog/errors` (catalog.h), which holds the message
// templates. Raisers name an error by positions (runtime-core/error-ids.h); error::create fetches
// the words at those positions.
//
// The raiser (support.h, error::fire) records what was raised; the interpreter installs the
// full raiser, which builds the error! value with create, sets where and near from its frames
// and unwinds.
#pragma once
#include <cstdint>
#include <initializer_list>

#include "datatypes/action.h"
#include "runtime-core/cell.h"
#include "runtime-core/support.h"

namespace error {

enum Field : uint32_t {
    kCode = 0,
    kType = 1,
    kId = 2,
    kArg1 = 3,
    kArg2 = 4,
    kArg3 = 5,
    kNear = 6,
    kWhere = 7,
    kStack = 8,
    kFiles = 9,
    kFieldCount = 10,
};

// --- What the interpreter provides ----------------------------------------------------------

struct Calls {
    // The node of the spec block of the call being made now when it is a native!, action!,
    // op!, function! or routine!; 0 otherwise.
    uint32_t (*current_spec)();
    // Appends to `block` the names (words) of the calls on the frame stack, innermost first,
    // from the current frame down to the frame at position `frame`, at most `levels` of them.
    // May collect.
    void (*trace)(const Cell* block, int32_t frame, int32_t levels);
    // The word of the innermost named call (frames named `<body>` and `<anon>` skipped), the
    // word `<not-found>` when there is none, written into `out`.
    void (*name)(Cell* out) = nullptr;
    // The number of frames on the frame stack.
    uint32_t (*depth)() = nullptr;
};
// Installs the hooks (null: none; get_call_name answers none and no Stack line is written).
void set_calls(const Calls* calls);

// The word of the call being made now, as errors name it (Calls::name). Without the hook,
// what an empty frame stack gives: `<not-found>` once the runtime's words exist, none before.
void call_name(Cell* out);
// The number of frames on the frame stack (0 without the hook).
uint32_t call_depth();

// --- Making errors (all may collect) -------------------------------------------------------------

// A new error! pushed on the data stack, by category and id position (runtime-core/error-ids.h),
// with up to three arguments (the others none).
Cell* create(uint32_t category, uint32_t id, std::initializer_list<const Cell*> args = {});
// The same from the category and id words.
Cell* create_from_words(const Cell* category, const Cell* id,
                        std::initializer_list<const Cell*> args = {});
// The error that `fire` recorded.
Cell* create(const Raised& raised);

// --- Fields -------------------------------------------------------------------------------------

Cell* field(const Cell* error, Field f);
const Cell* get_type(const Cell* error);
const Cell* get_id(const Cell* error);
// Stores the word into `where` when that field is still none.
void get_where(const Cell* error, const Cell* word);
constexpr uint32_t stack_field_index() {
    return kStack;
}
// Pushes the word of the n-th (0-based) parameter of the function being called (its word!,
// lit-word!, get-word! and refinement! spec entries counted), or none.
Cell* get_call_name(int32_t n);
// A caught error whose `stack` is still an integer: `stack` becomes a block of the call names
// up to the recorded frame (system/state/stack-trace levels, at least 1), `files` a copy of
// system/state/source-files when that is not empty. May collect.
void set_trace(const Cell* error);

// --- Slot functions -----------------------------------------------------------------------------

// make: from a code (integer!), a block [category id], an object spec block (set-words
// first), or a string (a user error).
Cell* make(Cell* prototype, Cell* spec, int32_t type);
// The console's text: "*** Title: message", then "\n*** Where: ", "\n*** Near : " and the
// optional Stack and Files lines.
int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit);
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, const action::PathOptions& options);
int32_t compare(Cell* value, Cell* other, int32_t op);

// Registers error! (after typeset!, object! registered before).
void register_actions();

} // namespace error
