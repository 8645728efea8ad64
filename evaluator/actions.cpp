#include "evaluator/actions.h"

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
    *stack::arguments = *value;
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
Status find(const int32_t* r) {
    return result(call<s::find>(arg(0), arg(1),
                                {.part = ref_arg(r, 0),
                                 .only = ref_on(r, 1),
                                 .case_ = ref_on(r, 2),
                                 .same = ref_on(r, 3),
                                 .any = ref_on(r, 4),
                                 .with = ref_arg(r, 5),
                                 .skip = ref_arg(r, 6),
                                 .last = ref_on(r, 7),
                                 .reverse = ref_on(r, 8),
                                 .tail = ref_on(r, 9),
                                 .match = ref_on(r, 10)}));
}
Status select(const int32_t* r) {
    return result(call<s::select>(arg(0), arg(1),
                                  {.part = ref_arg(r, 0),
                                   .only = ref_on(r, 1),
                                   .case_ = ref_on(r, 2),
                                   .same = ref_on(r, 3),
                                   .any = ref_on(r, 4),
                                   .with = ref_arg(r, 5),
                                   .skip = ref_arg(r, 6),
                                   .last = ref_on(r, 7),
                                   .reverse = ref_on(r, 8)}));
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

constexpr natives::Entry kEntries[action::kSlotCount] = {
    conversion<s::make>,
    random,
    reflect,
    conversion<s::to>,
    form_,
    mold_,
    nullptr,
    nullptr,
    nullptr,
    frame_slot<s::absolute>,
    frame_slot<s::add>,
    frame_slot<s::divide>,
    frame_slot<s::multiply>,
    frame_slot<s::negate>,
    frame_slot<s::power>,
    frame_slot<s::remainder>,
    round,
    frame_slot<s::subtract>,
    even_q,
    odd_q,
    frame_slot<s::and_>,
    complement,
    frame_slot<s::or_>,
    frame_slot<s::xor_>,
    routed<s::append, append>,
    routed<s::at, frame_slot<s::at>>,
    routed<s::back, frame_slot<s::back>>,
    routed<s::change, change>,
    routed<s::clear, clear>,
    routed<s::copy, copy>,
    routed<s::find, find>,
    routed<s::head, frame_slot<s::head>>,
    routed<s::head_q, frame_slot<s::head_q>>,
    routed<s::index_q, frame_slot<s::index_q>>,
    routed<s::insert, insert>,
    routed<s::length_q, length_q>,
    routed<s::move, move>,
    routed<s::next, frame_slot<s::next>>,
    routed<s::pick, pick>,
    routed<s::poke, poke>,
    routed<s::put, put>,
    routed<s::remove, remove>,
    routed<s::reverse, reverse>,
    routed<s::select, select>,
    routed<s::sort, sort>,
    routed<s::skip, frame_slot<s::skip>>,
    routed<s::swap, swap>,
    routed<s::tail, frame_slot<s::tail>>,
    routed<s::tail_q, frame_slot<s::tail_q>>,
    routed<s::take, take>,
    routed<s::trim, trim>,
    routed<s::create, one_value<s::create>>,
    routed<s::close, one_value<s::close>>,
    routed<s::delete_, one_value<s::delete_>>,
    routed<s::modify, modify>,
    routed<s::open, open>,
    routed<s::open_q, one_value<s::open_q>>,
    routed<s::query, one_value<s::query>>,
    routed<s::read, read>,
    routed<s::rename, rename>,
    routed<s::update, one_value<s::update>>,
    routed<s::write, write>,
};

} // namespace

namespace {

// The entry of a slot that holds no action: an action! made with its number raises.
Status no_action(const int32_t*) {
    error::fire(error::kInternal, error::internal::not_done);
}

} // namespace

natives::Entry entry(uint32_t slot) {
    const natives::Entry e = slot >= 1 && slot <= action::kSlotCount ? kEntries[slot - 1] : nullptr;
    return e ? e : no_action;
}

} // namespace actions
