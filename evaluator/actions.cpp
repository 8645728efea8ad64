#include "evaluator/actions.h"

#include <utility>

#include "datatypes/form-mold.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/port.h"
#include "datatypes/symbol.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/support.h"

namespace actions {

// --- Frame entries ----------------------------------------------------------------------------

namespace {

using natives::ref_arg;
using natives::ref_on;
using Status = interp::Status;
namespace s = action::slot;

inline Cell* arg(int i) {
    return stack::arguments + i;
}
inline Status result(const Cell* value) {
    stack::set_last(*value);
    return Status::normal;
}
// A count refinement (/part of append and insert, /dup): its integer, or `absent`.
inline int32_t count_ref(const int32_t* refs, int i, int32_t absent) {
    const Cell* c = ref_arg(refs, i);
    return c ? check::int_arg(c) : absent;
}

// The slots whose function reads the frame itself.
template <action::Slot S> Status frame_slot(const int32_t*) {
    get_action_ptr_of<S>(arg(0))();
    return Status::normal;
}

// make and to dispatch on the datatype named by their first argument.
template <action::Slot S> Status conversion(const int32_t*) {
    const uint8_t t =
        cell::type(arg(0)) == kTypeDatatype ? static_cast<uint8_t>(arg(0)->w1) : cell::type(arg(0));
    action::Fn<S> f = datatype::function<S>(t);
    if (!f) not_supported(arg(0));
    return result(f(arg(0), arg(1), t));
}

Status random(const int32_t* r) {
    return result(call<s::random>(
        arg(0), {.seed = ref_on(r, 0), .secure = ref_on(r, 1), .only = ref_on(r, 2)}));
}
Status reflect(const int32_t*) {
    return result(call<s::reflect>(arg(0), static_cast<int32_t>(symbol::resolve(arg(1)->w2))));
}
Status form_(const int32_t* r) {
    form::entry(ref_arg(r, 0));
    return Status::normal;
}
Status mold_(const int32_t* r) {
    mold::entry(
        {.only = ref_on(r, 0), .all = ref_on(r, 1), .flat = ref_on(r, 2), .part = ref_arg(r, 3)});
    return Status::normal;
}
Status round(const int32_t* r) {
    return result(call<s::round>(arg(0), {.scale = ref_arg(r, 0),
                                          .even = ref_on(r, 1),
                                          .down = ref_on(r, 2),
                                          .half_down = ref_on(r, 3),
                                          .floor = ref_on(r, 4),
                                          .ceiling = ref_on(r, 5),
                                          .half_ceiling = ref_on(r, 6)}));
}
Status even_q(const int32_t*) {
    logic::set_result(call<s::even_q>(arg(0)));
    return Status::normal;
}
Status odd_q(const int32_t*) {
    logic::set_result(call<s::odd_q>(arg(0)));
    return Status::normal;
}
Status complement(const int32_t*) {
    return result(call<s::complement>(arg(0)));
}
Status append(const int32_t* r) {
    return result(call<s::append>(arg(0), arg(1),
                                  {.part = count_ref(r, 0, -1),
                                   .only = ref_on(r, 1),
                                   .dup = count_ref(r, 2, 1),
                                   .append = true}));
}
Status insert(const int32_t* r) {
    return result(call<s::insert>(
        arg(0), arg(1),
        {.part = count_ref(r, 0, -1), .only = ref_on(r, 1), .dup = count_ref(r, 2, 1)}));
}
Status change(const int32_t* r) {
    return result(call<s::change>(
        arg(0), arg(1),
        {.part = count_ref(r, 0, -1), .only = ref_on(r, 1), .dup = count_ref(r, 2, 1)}));
}
Status clear(const int32_t*) {
    return result(call<s::clear>(arg(0)));
}
Status copy(const int32_t* r) {
    Cell* out = stack::push(Cell{kTypeNone, 0, 0, 0});
    return result(call<s::copy>(
        arg(0), out, {.part = ref_arg(r, 0), .deep = ref_on(r, 1), .types = ref_arg(r, 2)}));
}
// find's and select's refinements, in their shared order; select has no /tail and /match,
// and its functions ignore both.
action::FindOptions find_options(const int32_t* r, bool tail_and_match) {
    return {.part = ref_arg(r, 0),
            .only = ref_on(r, 1),
            .case_ = ref_on(r, 2),
            .same = ref_on(r, 3),
            .any = ref_on(r, 4),
            .with = ref_arg(r, 5),
            .skip = ref_arg(r, 6),
            .last = ref_on(r, 7),
            .reverse = ref_on(r, 8),
            .tail = tail_and_match && ref_on(r, 9),
            .match = tail_and_match && ref_on(r, 10)};
}
Status find(const int32_t* r) {
    return result(call<s::find>(arg(0), arg(1), find_options(r, true)));
}
Status select(const int32_t* r) {
    return result(call<s::select>(arg(0), arg(1), find_options(r, false)));
}
Status length_q(const int32_t*) {
    const int32_t n = call<s::length_q>(arg(0));
    if (n < 0)
        none::make_at(arg(0));
    else
        integer::make_at(arg(0), n);
    return Status::normal;
}
Status move(const int32_t* r) {
    return result(call<s::move>(arg(0), arg(1), ref_arg(r, 0)));
}
Status pick(const int32_t*) {
    return result(call<s::pick>(arg(0), get_index_arg(arg(1)), arg(1)));
}
Status poke(const int32_t*) {
    return result(call<s::poke>(arg(0), get_index_arg(arg(1)), arg(2), arg(1)));
}
Status put(const int32_t* r) {
    return result(call<s::put>(arg(0), arg(1), arg(2), {.case_ = ref_on(r, 0)}));
}
Status remove(const int32_t* r) {
    return result(call<s::remove>(arg(0), ref_arg(r, 0), ref_arg(r, 1)));
}
Status reverse(const int32_t* r) {
    return result(call<s::reverse>(arg(0), ref_arg(r, 0), ref_arg(r, 1)));
}
Status sort(const int32_t* r) {
    return result(call<s::sort>(arg(0), {.case_ = ref_on(r, 0),
                                         .skip = ref_arg(r, 1),
                                         .comparator = ref_arg(r, 2),
                                         .part = ref_arg(r, 3),
                                         .all = ref_on(r, 4),
                                         .reverse = ref_on(r, 5),
                                         .stable = ref_on(r, 6)}));
}
Status swap(const int32_t*) {
    return result(call<s::swap>(arg(0), arg(1)));
}
Status take(const int32_t* r) {
    return result(
        call<s::take>(arg(0), {.part = ref_arg(r, 0), .deep = ref_on(r, 1), .last = ref_on(r, 2)}));
}
Status trim(const int32_t* r) {
    return result(call<s::trim>(arg(0), {.head = ref_on(r, 0),
                                         .tail = ref_on(r, 1),
                                         .auto_ = ref_on(r, 2),
                                         .lines = ref_on(r, 3),
                                         .all = ref_on(r, 4),
                                         .with = ref_arg(r, 5)}));
}
Status modify(const int32_t* r) {
    return result(call<s::modify>(arg(0), arg(1), arg(2), {.case_ = ref_on(r, 0)}));
}
template <action::Slot S> Status one_value(const int32_t*) {
    return result(call<S>(arg(0)));
}
Status open(const int32_t* r) {
    return result(call<s::open>(arg(0), {.new_ = ref_on(r, 0),
                                         .read = ref_on(r, 1),
                                         .write = ref_on(r, 2),
                                         .seek = ref_on(r, 3),
                                         .allow = ref_arg(r, 4)}));
}
Status read(const int32_t* r) {
    return result(call<s::read>(arg(0), {.part = ref_arg(r, 0),
                                         .seek = ref_arg(r, 1),
                                         .binary = ref_on(r, 2),
                                         .lines = ref_on(r, 3),
                                         .info = ref_on(r, 4),
                                         .as = ref_arg(r, 5)}));
}
Status write(const int32_t* r) {
    return result(call<s::write>(arg(0), arg(1),
                                 {.binary = ref_on(r, 0),
                                  .lines = ref_on(r, 1),
                                  .info = ref_on(r, 2),
                                  .append = ref_on(r, 3),
                                  .part = ref_arg(r, 4),
                                  .seek = ref_arg(r, 5),
                                  .allow = ref_arg(r, 6),
                                  .as = ref_arg(r, 7)}));
}
Status rename(const int32_t*) {
    return result(call<s::rename>(arg(0), arg(1)));
}

// The port route of the series and port actions: a port whose actor is a handle! runs the
// routine of the handle's table for the slot (access/no-port-action when it has none) in
// place of port!'s own forwarder; every other value goes to its type's entry.
template <action::Slot S, natives::Entry E> Status routed(const int32_t* r) {
    if (cell::type(arg(0)) == kTypePort) [[unlikely]] {
        const Cell* actor = port::get_actor(arg(0));
        if (cell::type(actor) == kTypeHandle) {
            port::native_entry(actor, S)();
            return Status::normal;
        }
    }
    return E(r);
}

constexpr Registration kActions[] = {
    {s::make, "make", conversion<s::make>},
    {s::random, "random", random},
    {s::reflect, "reflect", reflect},
    {s::to, "to", conversion<s::to>},
    {s::form, "form", form_},
    {s::mold, "mold", mold_},
    {s::eval_path, nullptr, nullptr},
    {s::set_path, nullptr, nullptr},
    {s::compare, nullptr, nullptr},
    {s::absolute, "absolute", frame_slot<s::absolute>},
    {s::add, "add", frame_slot<s::add>},
    {s::divide, "divide", frame_slot<s::divide>},
    {s::multiply, "multiply", frame_slot<s::multiply>},
    {s::negate, "negate", frame_slot<s::negate>},
    {s::power, "power", frame_slot<s::power>},
    {s::remainder, "remainder", frame_slot<s::remainder>},
    {s::round, "round", round},
    {s::subtract, "subtract", frame_slot<s::subtract>},
    {s::even_q, "even?", even_q},
    {s::odd_q, "odd?", odd_q},
    {s::and_, "and~", frame_slot<s::and_>},
    {s::complement, "complement", complement},
    {s::or_, "or~", frame_slot<s::or_>},
    {s::xor_, "xor~", frame_slot<s::xor_>},
    {s::append, "append", routed<s::append, append>},
    {s::at, "at", routed<s::at, frame_slot<s::at>>},
    {s::back, "back", routed<s::back, frame_slot<s::back>>},
    {s::change, "change", routed<s::change, change>},
    {s::clear, "clear", routed<s::clear, clear>},
    {s::copy, "copy", routed<s::copy, copy>},
    {s::find, "find", routed<s::find, find>},
    {s::head, "head", routed<s::head, frame_slot<s::head>>},
    {s::head_q, "head?", routed<s::head_q, frame_slot<s::head_q>>},
    {s::index_q, "index?", routed<s::index_q, frame_slot<s::index_q>>},
    {s::insert, "insert", routed<s::insert, insert>},
    {s::length_q, "length?", routed<s::length_q, length_q>},
    {s::move, "move", routed<s::move, move>},
    {s::next, "next", routed<s::next, frame_slot<s::next>>},
    {s::pick, "pick", routed<s::pick, pick>},
    {s::poke, "poke", routed<s::poke, poke>},
    {s::put, "put", routed<s::put, put>},
    {s::remove, "remove", routed<s::remove, remove>},
    {s::reverse, "reverse", routed<s::reverse, reverse>},
    {s::select, "select", routed<s::select, select>},
    {s::sort, "sort", routed<s::sort, sort>},
    {s::skip, "skip", routed<s::skip, frame_slot<s::skip>>},
    {s::swap, "swap", routed<s::swap, swap>},
    {s::tail, "tail", routed<s::tail, frame_slot<s::tail>>},
    {s::tail_q, "tail?", routed<s::tail_q, frame_slot<s::tail_q>>},
    {s::take, "take", routed<s::take, take>},
    {s::trim, "trim", routed<s::trim, trim>},
    {s::create, "create", routed<s::create, one_value<s::create>>},
    {s::close, "close", routed<s::close, one_value<s::close>>},
    {s::delete_, "delete", routed<s::delete_, one_value<s::delete_>>},
    {s::modify, "modify", routed<s::modify, modify>},
    {s::open, "open", routed<s::open, open>},
    {s::open_q, "open?", routed<s::open_q, one_value<s::open_q>>},
    {s::query, "query", routed<s::query, one_value<s::query>>},
    {s::read, "read", routed<s::read, read>},
    {s::rename, "rename", routed<s::rename, rename>},
    {s::update, "update", routed<s::update, one_value<s::update>>},
    {s::write, "write", routed<s::write, write>},
};

// Row K is slot K + 1, so that a call finds its entry by index. A row out of place fails to
// compile with K in the message.
template <uint32_t K> constexpr bool row_in_place() {
    static_assert(kActions[K].slot == K + 1, "an action row out of its slot's place");
    return true;
}
template <uint32_t... K> constexpr bool rows_in_place(std::integer_sequence<uint32_t, K...>) {
    return (row_in_place<K>() && ...);
}
static_assert(std::size(kActions) == action::kSlotCount);
static_assert(rows_in_place(std::make_integer_sequence<uint32_t, action::kSlotCount>{}));

// The entry of a slot that holds no action: an action! made with its number raises.
Status no_action(const int32_t*) {
    error::fire(error::kInternal, error::internal::not_done);
}

} // namespace

natives::Entry entry(uint32_t slot) {
    const natives::Entry e =
        slot >= 1 && slot <= action::kSlotCount ? kActions[slot - 1].entry : nullptr;
    return e ? e : no_action;
}

std::span<const Registration> registrations() {
    return kActions;
}

} // namespace actions
