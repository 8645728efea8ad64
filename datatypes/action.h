// The 62 action slots: the operations whose behaviour depends on the datatype of their first
// value. Every datatype fills a row of slot functions (datatype.h keeps the rows); the
// action dispatchers look a value's function up by its type id and call it.
//
// Each slot has one C++ function type, listed below. Conventions of the arguments:
// - values are passed by the address of their cell; the first is the value whose type chose
//   the function (for make and to: the prototype cell, which also receives the result);
// - the refinements of a slot that has several come in one of the option structs below,
//   passed by const reference: a call names what it asks for, find (series, value,
//   {.case_ = true, .last = true}), and every member left out is an absent refinement;
// - a refinement without an argument is a bool; a refinement's argument is the address of its
//   cell, or null when the refinement is absent; append, insert and change take /part as a
//   count of units (-1 when absent) and /dup as a count (1 when absent), the defaults of
//   their option structs;
// - "frame" slots take no arguments: their functions read the current frame's cells on the
//   data stack (stack::arguments) and leave the result in its first cell;
// - form and mold append to a string! value (which lives on the data stack) and return the
//   part budget left (form-mold.h); compare returns 0 for equal, a negative number for
//   lesser, a positive one for greater, and -2 when the two cannot be compared under the
//   comparison code.
// Slots 7 (eval-path), 8 (set-path) and 9 (compare) are internal: they have no action word.
// No datatype fills slot 8 or slot 57.
//
// A module fills its row with a Row at the end of its source file:
//     action::Row row;
//     row.set<action::slot::form>(form).set<action::slot::mold>(mold);
//     row.inherit({action::slot::at, action::slot::back});
// set<> accepts only a function of the slot's type; a slot left alone is not supported.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <span>

#include "runtime-core/cell.h"

namespace action {

// --- Option structs ----------------------------------------------------------------------------
// The refinements of the slots that have several, in the order the action lists them (the
// order in which a designated initializer names them), slot by slot.

// random.
struct RandomOptions {
    bool seed = false;
    bool secure = false;
    bool only = false;
};

// mold (form-mold.h). The part budget and the indentation level that change from one nested
// value to the next stay separate arguments.
struct MoldOptions {
    bool only = false;    // a block's outer brackets are left out
    bool all = false;     // the construction syntax for values without a literal form
    bool flat = false;    // no new lines or indentation
    Cell* part = nullptr; // the caller's /part argument, never read by the slots

    // The options of a value written inside this one: its brackets are always written.
    MoldOptions nested() const { return {.all = all, .flat = flat, .part = part}; }
};

// eval-path: where a step of a path walk is and how it runs. The slot's own parameters are
// the parent value, the element that selects in it, and the value to set (null to get).
struct PathOptions {
    Cell* path = nullptr;         // the path walked, for error messages (may be null)
    Cell* grand_parent = nullptr; // the value the parent was read from, told when a field
                                  // set changes a parent held in its cell (may be null)
    Cell* previous = nullptr;     // the element that selected the parent in the grand parent
    int32_t position = 0;         // the element's index in the path
    bool case_ = false;           // words select case-sensitively
    bool get = false;             // a get-path: an unset field is a result, not an error
    bool tail = false;            // the element is the path's last
    bool owner = false;
};

// round: /to's argument, the scale (null without /to), and the rounding modes.
struct RoundOptions {
    Cell* scale = nullptr;
    bool even = false;
    bool down = false;
    bool half_down = false;
    bool floor = false;
    bool ceiling = false;
    bool half_ceiling = false;
};

// append and insert: /part as a count of units (-1 when absent), /dup as a count (1 when
// absent); `append` is set by the append action (insert at the tail, the result at the head).
struct InsertOptions {
    int32_t part = -1;
    bool only = false;
    int32_t dup = 1;
    bool append = false;
};

// change: /part and /dup as append's.
struct ChangeOptions {
    int32_t part = -1;
    bool only = false;
    int32_t dup = 1;
};

// copy.
struct CopyOptions {
    Cell* part = nullptr;
    bool deep = false;
    Cell* types = nullptr;
};

// find and select. select has neither /tail nor /match: its functions ignore both.
struct FindOptions {
    Cell* part = nullptr;
    bool only = false;
    bool case_ = false;
    bool same = false;
    bool any = false;
    Cell* with = nullptr;
    Cell* skip = nullptr;
    bool last = false;
    bool reverse = false;
    bool tail = false;
    bool match = false;
};

// put and modify.
struct PutOptions {
    bool case_ = false;
};

// sort: /compare's argument is the comparator.
struct SortOptions {
    bool case_ = false;
    Cell* skip = nullptr;
    Cell* comparator = nullptr;
    Cell* part = nullptr;
    bool all = false;
    bool reverse = false;
    bool stable = false;
};

// take.
struct TakeOptions {
    Cell* part = nullptr;
    bool deep = false;
    bool last = false;
};

// trim.
struct TrimOptions {
    bool head = false;
    bool tail = false;
    bool auto_ = false;
    bool lines = false;
    bool all = false;
    Cell* with = nullptr;
};

// open.
struct OpenOptions {
    bool new_ = false;
    bool read = false;
    bool write = false;
    bool seek = false;
    Cell* allow = nullptr;
};

// read.
struct ReadOptions {
    Cell* part = nullptr;
    Cell* seek = nullptr;
    bool binary = false;
    bool lines = false;
    bool info = false;
    Cell* as = nullptr;
};

// write.
struct WriteOptions {
    bool binary = false;
    bool lines = false;
    bool info = false;
    bool append = false;
    Cell* part = nullptr;
    Cell* seek = nullptr;
    Cell* allow = nullptr;
    Cell* as = nullptr;
};

// X(number, name, result, parameters): the slots in order.
// clang-format off
#define ZAN_ACTION_SLOTS(X)                                                                        \
    X(1, make, Cell*, (Cell* prototype, Cell* spec, int32_t type))                                 \
    X(2, random, Cell*, (Cell* value, const RandomOptions& options))                               \
    X(3, reflect, Cell*, (Cell* value, int32_t field_symbol))                                      \
    X(4, to, Cell*, (Cell* prototype, Cell* spec, int32_t type))                                   \
    X(5, form, int32_t, (Cell* value, Cell* string, Cell* part, int32_t limit))                    \
    X(6, mold, int32_t,                                                                            \
      (Cell* value, Cell* string, const MoldOptions& options, int32_t limit, int32_t indent))      \
    X(7, eval_path, Cell*,                                                                         \
      (Cell* parent, Cell* element, Cell* value, const PathOptions& options))                      \
    X(8, set_path, void, ())                                                                       \
    X(9, compare, int32_t, (Cell* value, Cell* other, int32_t op))                                 \
    X(10, absolute, void, ())                                                                      \
    X(11, add, void, ())                                                                           \
    X(12, divide, void, ())                                                                        \
    X(13, multiply, void, ())                                                                      \
    X(14, negate, void, ())                                                                        \
    X(15, power, void, ())                                                                         \
    X(16, remainder, void, ())                                                                     \
    X(17, round, Cell*, (Cell* value, const RoundOptions& options))                                \
    X(18, subtract, void, ())                                                                      \
    X(19, even_q, bool, (Cell* value))                                                             \
    X(20, odd_q, bool, (Cell* value))                                                              \
    X(21, and_, void, ())                                                                          \
    X(22, complement, Cell*, (Cell* value))                                                        \
    X(23, or_, void, ())                                                                           \
    X(24, xor_, void, ())                                                                          \
    X(25, append, Cell*, (Cell* series, Cell* value, const InsertOptions& options))                \
    X(26, at, void, ())                                                                            \
    X(27, back, void, ())                                                                          \
    X(28, change, Cell*, (Cell* series, Cell* value, const ChangeOptions& options))                \
    X(29, clear, Cell*, (Cell* series))                                                            \
    X(30, copy, Cell*, (Cell* value, Cell* result, const CopyOptions& options))                    \
    X(31, find, Cell*, (Cell* series, Cell* value, const FindOptions& options))                    \
    X(32, head, void, ())                                                                          \
    X(33, head_q, void, ())                                                                        \
    X(34, index_q, void, ())                                                                       \
    X(35, insert, Cell*, (Cell* series, Cell* value, const InsertOptions& options))                \
    X(36, length_q, int32_t, (Cell* series))                                                       \
    X(37, move, Cell*, (Cell* origin, Cell* target, Cell* part))                                   \
    X(38, next, void, ())                                                                          \
    X(39, pick, Cell*, (Cell* series, int32_t index, Cell* index_value))                           \
    X(40, poke, Cell*, (Cell* series, int32_t index, Cell* value, Cell* index_value))              \
    X(41, put, Cell*, (Cell* series, Cell* key, Cell* value, const PutOptions& options))           \
    X(42, remove, Cell*, (Cell* series, Cell* part, Cell* key))                                    \
    X(43, reverse, Cell*, (Cell* series, Cell* part, Cell* skip))                                  \
    X(44, select, Cell*, (Cell* series, Cell* value, const FindOptions& options))                  \
    X(45, sort, Cell*, (Cell* series, const SortOptions& options))                                 \
    X(46, skip, void, ())                                                                          \
    X(47, swap, Cell*, (Cell* series1, Cell* series2))                                             \
    X(48, tail, void, ())                                                                          \
    X(49, tail_q, void, ())                                                                        \
    X(50, take, Cell*, (Cell* series, const TakeOptions& options))                                 \
    X(51, trim, Cell*, (Cell* series, const TrimOptions& options))                                 \
    X(52, create, Cell*, (Cell* port))                                                             \
    X(53, close, Cell*, (Cell* port))                                                              \
    X(54, delete_, Cell*, (Cell* port))                                                            \
    X(55, modify, Cell*, (Cell* target, Cell* field, Cell* value, const PutOptions& options))      \
    X(56, open, Cell*, (Cell* port, const OpenOptions& options))                                   \
    X(57, open_q, Cell*, (Cell* port))                                                             \
    X(58, query, Cell*, (Cell* target))                                                            \
    X(59, read, Cell*, (Cell* source, const ReadOptions& options))                                 \
    X(60, rename, Cell*, (Cell* from, Cell* to))                                                   \
    X(61, update, Cell*, (Cell* port))                                                             \
    X(62, write, Cell*, (Cell* destination, Cell* data, const WriteOptions& options))
// clang-format on

namespace slot {
enum Slot : uint32_t {
#define ZAN_SLOT_ENUM(number, name, result, parameters) name = number,
    ZAN_ACTION_SLOTS(ZAN_SLOT_ENUM)
#undef ZAN_SLOT_ENUM
};
} // namespace slot
using slot::Slot;

constexpr uint32_t kSlotCount = 62;

// Fn<S>: the function type of slot S.
template <Slot S> struct Signature;
#define ZAN_SLOT_SIGNATURE(number, name, result, parameters)                                       \
    template <> struct Signature<slot::name> { using Fn = result(*) parameters; };
ZAN_ACTION_SLOTS(ZAN_SLOT_SIGNATURE)
#undef ZAN_SLOT_SIGNATURE
template <Slot S> using Fn = typename Signature<S>::Fn;

// The comparison codes that compare slots receive.
namespace op {
enum Comparison : int32_t {
    equal = 0,
    not_equal = 1,
    strict_equal = 2,
    lesser = 3,
    lesser_or_equal = 4,
    greater = 5,
    greater_or_equal = 6,
    sort = 7,        // sort comparison
    case_sort = 8,   // case-sensitive sort comparison
    same = 9,        // the same buffer and index
    parse_case = 10, // the parse engine's matching with /case
    parse = 11,      // ... and without
    find = 12,       // the default of find, select, put and block value search
};
} // namespace op

// What compare slots return when the two values cannot be compared under the code.
constexpr int32_t kNotComparable = -2;

// A slot function with its type erased, as the action table stores it. Only converted back
// to the function type of the slot it was stored for.
using Erased = void (*)();

// One slot word of a registration: a function, "not supported" (null) or "inherit": take the
// parent's entry for the same slot.
struct Entry {
    Erased function = nullptr;
    bool inherit = false;
};

// The 62 slot words of a datatype, built by name.
class Row {
public:
    template <Slot S> Row& set(Fn<S> function) {
        entries_[S - 1] = Entry{reinterpret_cast<Erased>(function), false};
        return *this;
    }
    Row& inherit(std::initializer_list<Slot> slots) {
        for (Slot s : slots) entries_[s - 1] = Entry{nullptr, true};
        return *this;
    }
    std::span<const Entry> entries() const { return entries_; }

private:
    Entry entries_[kSlotCount]{};
};

} // namespace action
