#include "datatypes/port.h"

#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/system-fields.h"
#include "datatypes/word.h"
#include "runtime-core/collector.h"
#include "runtime-core/data-stack.h"
#include "runtime-core/error-ids.h"
#include "runtime-core/support.h"

namespace port {

namespace {

[[noreturn]] void not_done() {
    error::fire(error::kInternal, error::internal::not_done);
}

// --- The services over objects and system/schemes -------------------------

Cell* field_of(const Cell* object, uint32_t index) {
    return object::values(object) + index;
}

// The object at system/standard/NAME (a template that start-up makes).
Cell standard(const char* name) {
    const Cell* at = system_object::field({system_object::symbol.standard, symbol::make(name)});
    if (!at || cell::type(at) != kTypeObject) not_done();
    return *at;
}

// A url!'s spec object: the url-parts template with the scheme (the text before the first
// colon, as a word) and the whole url as its ref. May collect.
void url_spec(const Cell* url, Cell* out) {
    GcRoot given(*url);
    Cell parts = standard("url-parts");
    object::copy(&parts, out, {});
    GcRoot made(*out);
    const std::string text = string::utf8_from_index(&given.cell());
    const size_t colon = text.find(':');
    if (colon != std::string::npos && colon > 0) {
        Cell* w = stack::push_cell();
        word::make_at(symbol::make(text.substr(0, colon).c_str()), w);
        *field_of(&made.cell(), 0) = *w;
        stack::pop(1);
    }
    *field_of(&made.cell(), 8) = given.cell();
    *out = made.cell();
}

Cell* make_from_schemes(Cell* prototype, Cell* spec) {
    GcRoot given(*spec);
    GcRoot spec_object(none::value);
    // The spec object: a copy of a given object, else url-parts made from the spec.
    Cell* made = stack::push_cell();
    *made = none::value;
    switch (cell::type(spec)) {
    case kTypeObject:
        object::copy(&given.cell(), made, {});
        break;
    case kTypeUrl:
        url_spec(&given.cell(), made);
        break;
    default: {
        Cell parts = standard("url-parts");
        GcRoot held(parts);
        made = object::make(&held.cell(), &given.cell(), kTypeObject);
    }
    }
    spec_object.cell() = *made;
    const Cell scheme = *field_of(&spec_object.cell(), 0);
    if (cell::type(&scheme) != kTypeWord)
        error::fire(error::kAccess, error::access::no_scheme, {&given.cell()});
    GcRoot scheme_word(scheme);
    // The port: a copy of system/standard/port typed port!.
    Cell templ = standard("port");
    GcRoot held(templ);
    Cell* p = stack::push_cell();
    *p = none::value;
    object::copy(&held.cell(), p, {});
    GcRoot made_port(*p);
    cell::set_type(&made_port.cell(), kTypePort);
    *field_of(&made_port.cell(), kSpec) = spec_object.cell();
    *field_of(&made_port.cell(), kScheme) = scheme_word.cell();
    // The scheme, and its actor: system/schemes is a block of name, scheme object pairs.
    const Cell* schemes = system_object::field({symbol::make("schemes")});
    const Cell* found = schemes && cell::type(schemes) == kTypeBlock
                            ? block::find_word(schemes, &scheme_word.cell(), false)
                            : nullptr;
    if (!found || cell::type(found) != kTypeObject)
        error::fire(error::kAccess, error::access::unknown_scheme, {&given.cell()});
    const int32_t actor_at = object::find_symbol_index(found, symbol::make("actor"));
    const Cell* actor = actor_at >= 0 ? field_of(found, static_cast<uint32_t>(actor_at)) : nullptr;
    if (!actor || (cell::type(actor) != kTypeObject && cell::type(actor) != kTypeHandle))
        error::fire(error::kAccess, error::access::invalid_actor);
    *field_of(&made_port.cell(), kActor) = *actor;
    *prototype = made_port.cell();
    return prototype;
}

const Cell* object_field(const Cell* port, Field field) {
    return field_of(port, field);
}

int32_t mold_object_fields(Cell* port, Cell* string, bool all, bool flat, int32_t limit,
                           int32_t indent) {
    return object::serialize(
        port, string, {.all = all, .flat = flat, .indent = !flat, .mold = true}, limit, indent);
}

} // namespace

// The calls of actor functions are the interpreter's, which installs `call` at start-up.
Services services{make_from_schemes, object_field, nullptr, mold_object_fields};

namespace {

std::vector<const NativeActorTable*> native_tables;

[[noreturn]] void no_port_action() {
    error::fire(error::kAccess, error::access::no_port_action);
}

// The action words of the forwarded slots, by slot number.
const char* action_name(action::Slot slot) {
    namespace s = action::slot;
    switch (slot) {
    case s::append:
        return "append";
    case s::at:
        return "at";
    case s::back:
        return "back";
    case s::change:
        return "change";
    case s::clear:
        return "clear";
    case s::copy:
        return "copy";
    case s::find:
        return "find";
    case s::head:
        return "head";
    case s::head_q:
        return "head?";
    case s::index_q:
        return "index?";
    case s::insert:
        return "insert";
    case s::length_q:
        return "length?";
    case s::move:
        return "move";
    case s::next:
        return "next";
    case s::pick:
        return "pick";
    case s::poke:
        return "poke";
    case s::put:
        return "put";
    case s::remove:
        return "remove";
    case s::reverse:
        return "reverse";
    case s::select:
        return "select";
    case s::sort:
        return "sort";
    case s::skip:
        return "skip";
    case s::swap:
        return "swap";
    case s::tail:
        return "tail";
    case s::tail_q:
        return "tail?";
    case s::take:
        return "take";
    case s::trim:
        return "trim";
    case s::create:
        return "create";
    case s::close:
        return "close";
    case s::delete_:
        return "delete";
    case s::modify:
        return "modify";
    case s::open:
        return "open";
    case s::query:
        return "query";
    case s::read:
        return "read";
    case s::rename:
        return "rename";
    case s::update:
        return "update";
    case s::write:
        return "write";
    default:
        return "";
    }
}

Cell flag(bool b) {
    Cell c{};
    return *logic::make_at(&c, b);
}

// A refinement's argument, or none when it is absent.
Cell optional(const Cell* value) {
    return value ? *value : none::value;
}

Cell integer_value(int32_t n) {
    Cell c{};
    return *integer::make_at(&c, n);
}

// The forwarders of the frame slots: the port in the frame's first cell, the result there too.
void forward_frame(action::Slot slot, bool with_argument) {
    Cell* port = stack::arguments;
    if (with_argument)
        call_actor(port, slot, {port[1]}, port);
    else
        call_actor(port, slot, {}, port);
}

Cell* forward(Cell* port, action::Slot slot, std::initializer_list<Cell> arguments) {
    return call_actor(port, slot, arguments, port);
}

} // namespace

uint32_t register_native_actor(const NativeActorTable* table) {
    native_tables.push_back(table);
    return static_cast<uint32_t>(native_tables.size() - 1);
}

NativeActor native_entry(const Cell* actor, action::Slot slot) {
    if (cell::type(actor) != kTypeHandle || slot < kFirstForwardedSlot) no_port_action();
    const uint32_t index = actor->w2; // the handle's value
    if (index >= native_tables.size() || !native_tables[index]) no_port_action();
    NativeActor entry = native_tables[index]->entries[slot - kFirstForwardedSlot];
    if (!entry) no_port_action();
    return entry;
}

const Cell* get_actor(const Cell* port) {
    const Cell* actor = services.field ? services.field(port, kActor) : nullptr;
    if (!actor || (cell::type(actor) != kTypeObject && cell::type(actor) != kTypeHandle))
        error::fire(error::kAccess, error::access::invalid_port);
    return actor;
}

Cell* call_actor(const Cell* port, action::Slot slot, std::initializer_list<Cell> arguments,
                 Cell* result) {
    GcRoot actor(*get_actor(port));
    // The port and the arguments go on the data stack, where the collector keeps them.
    Cell* saved_arguments = stack::arguments;
    Cell* base = stack::push(*port);
    for (const Cell& a : arguments) stack::push(a);
    const auto count = static_cast<uint32_t>(arguments.size() + 1);
    if (cell::type(&actor.cell()) == kTypeHandle) {
        NativeActor entry = native_entry(&actor.cell(), slot);
        struct Restore {
            Cell* arguments;
            ~Restore() { stack::arguments = arguments; }
        } restore{saved_arguments};
        stack::arguments = base;
        entry();
        *result = *base;
    } else {
        const uint32_t symbol = symbol::make(action_name(slot));
        if (!services.call) no_port_action();
        Cell answer{kTypeNone, 0, 0, 0};
        GcRoot kept(answer);
        if (!services.call(&actor.cell(), symbol, base, count, &kept.cell())) no_port_action();
        *result = kept.cell();
    }
    stack::top = base;
    return result;
}

// --- Slot functions -------------------------------------------------------------------------

Cell* make(Cell* prototype, Cell* spec, int32_t) {
    if (!services.make) not_done();
    return services.make(prototype, spec);
}

int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent) {
    if (!services.mold_fields) not_done();
    string::append_bytes(string, "make port! [", 12);
    limit = services.mold_fields(value, string, options.all, options.flat, limit - 12, indent + 1);
    if (indent > 0 && !options.flat) {
        string::append_bytes(string, "\n", 1);
        for (int32_t i = 0; i < indent; ++i) string::append_bytes(string, "    ", 4);
        limit -= 1 + 4 * indent;
    }
    string::append_bytes(string, "]", 1);
    return limit - 1;
}

int32_t form(Cell* value, Cell* string, Cell* part, int32_t limit) {
    return mold(value, string, {.part = part}, limit, 0);
}

Cell* append(Cell* port, Cell* value, const action::InsertOptions& options) {
    const int32_t part = options.part;
    const int32_t dup = options.dup;
    return forward(port, action::slot::append,
                   {*value, flag(part >= 0), part >= 0 ? integer_value(part) : none::value,
                    flag(options.only), flag(dup > 1), dup > 1 ? integer_value(dup) : none::value});
}

Cell* insert(Cell* port, Cell* value, const action::InsertOptions& options) {
    const int32_t part = options.part;
    const int32_t dup = options.dup;
    return forward(port, action::slot::insert,
                   {*value, flag(part >= 0), part >= 0 ? integer_value(part) : none::value,
                    flag(options.only), flag(dup > 1), dup > 1 ? integer_value(dup) : none::value});
}

Cell* change(Cell* port, Cell* value, const action::ChangeOptions& options) {
    const int32_t part = options.part;
    const int32_t dup = options.dup;
    return forward(port, action::slot::change,
                   {*value, flag(part >= 0), part >= 0 ? integer_value(part) : none::value,
                    flag(options.only), flag(dup > 1), dup > 1 ? integer_value(dup) : none::value});
}

void at() {
    forward_frame(action::slot::at, true);
}
void skip() {
    forward_frame(action::slot::skip, true);
}
void back() {
    forward_frame(action::slot::back, false);
}
void head() {
    forward_frame(action::slot::head, false);
}
void head_q() {
    forward_frame(action::slot::head_q, false);
}
void index_q() {
    forward_frame(action::slot::index_q, false);
}
void next() {
    forward_frame(action::slot::next, false);
}
void tail() {
    forward_frame(action::slot::tail, false);
}
void tail_q() {
    forward_frame(action::slot::tail_q, false);
}

Cell* clear(Cell* port) {
    return forward(port, action::slot::clear, {});
}

Cell* copy(Cell* port, Cell* result, const action::CopyOptions& options) {
    Cell* r = call_actor(port, action::slot::copy,
                         {flag(options.part), optional(options.part), flag(options.deep),
                          flag(options.types), optional(options.types)},
                         result ? result : port);
    return r;
}

Cell* find(Cell* port, Cell* value, const action::FindOptions& options) {
    const action::FindOptions& o = options;
    return forward(port, action::slot::find,
                   {*value, flag(o.part), optional(o.part), flag(o.only), flag(o.case_),
                    flag(o.same), flag(o.any), flag(o.with), optional(o.with), flag(o.skip),
                    optional(o.skip), flag(o.last), flag(o.reverse), flag(o.tail), flag(o.match)});
}

Cell* select(Cell* port, Cell* value, const action::FindOptions& options) {
    const action::FindOptions& o = options;
    return forward(port, action::slot::select,
                   {*value, flag(o.part), optional(o.part), flag(o.only), flag(o.case_),
                    flag(o.same), flag(o.any), flag(o.with), optional(o.with), flag(o.skip),
                    optional(o.skip), flag(o.last), flag(o.reverse)});
}

int32_t length_q(Cell* port) {
    Cell result{};
    GcRoot answer(result);
    call_actor(port, action::slot::length_q, {}, &answer.cell());
    return cell::type(&answer.cell()) == kTypeInteger ? integer::get(&answer.cell()) : 0;
}

Cell* move(Cell* port, Cell* target, Cell* part) {
    return forward(port, action::slot::move, {*target, flag(part), optional(part)});
}

Cell* pick(Cell* port, int32_t index, Cell* index_value) {
    return forward(port, action::slot::pick, {index_value ? *index_value : integer_value(index)});
}

Cell* poke(Cell* port, int32_t index, Cell* value, Cell* index_value) {
    return forward(port, action::slot::poke,
                   {index_value ? *index_value : integer_value(index), *value});
}

Cell* put(Cell* port, Cell* key, Cell* value, const action::PutOptions& options) {
    return forward(port, action::slot::put, {*key, *value, flag(options.case_)});
}

Cell* remove(Cell* port, Cell* part, Cell* key) {
    return forward(port, action::slot::remove,
                   {flag(part), optional(part), flag(key), optional(key)});
}

Cell* reverse(Cell* port, Cell* part, Cell* skip_) {
    return forward(port, action::slot::reverse,
                   {flag(part), optional(part), flag(skip_), optional(skip_)});
}

Cell* sort(Cell* port, const action::SortOptions& options) {
    return forward(port, action::slot::sort,
                   {flag(options.case_), flag(options.skip), optional(options.skip),
                    flag(options.comparator), optional(options.comparator), flag(options.part),
                    optional(options.part), flag(options.all), flag(options.reverse),
                    flag(options.stable)});
}

Cell* swap(Cell* port, Cell* other) {
    return forward(port, action::slot::swap, {*other});
}

Cell* take(Cell* port, const action::TakeOptions& options) {
    return forward(
        port, action::slot::take,
        {flag(options.part), optional(options.part), flag(options.deep), flag(options.last)});
}

Cell* trim(Cell* port, const action::TrimOptions& options) {
    return forward(port, action::slot::trim,
                   {flag(options.head), flag(options.tail), flag(options.auto_),
                    flag(options.lines), flag(options.all), flag(options.with),
                    optional(options.with)});
}

Cell* create(Cell* port) {
    return forward(port, action::slot::create, {});
}
Cell* close(Cell* port) {
    return forward(port, action::slot::close, {});
}
Cell* delete_(Cell* port) {
    return forward(port, action::slot::delete_, {});
}
Cell* query(Cell* port) {
    return forward(port, action::slot::query, {});
}
Cell* update(Cell* port) {
    return forward(port, action::slot::update, {});
}

Cell* modify(Cell* port, Cell* field, Cell* value, const action::PutOptions& options) {
    return forward(port, action::slot::modify, {*field, *value, flag(options.case_)});
}

Cell* open(Cell* port, const action::OpenOptions& options) {
    return forward(port, action::slot::open,
                   {flag(options.new_), flag(options.read), flag(options.write), flag(options.seek),
                    optional(options.allow)});
}

Cell* rename(Cell* port, Cell* to) {
    return forward(port, action::slot::rename, {*to});
}

Cell* read(Cell* port, const action::ReadOptions& options) {
    GcRoot held(*port);
    GcRoot given_part(optional(options.part));
    Cell scratch{};
    GcRoot answer(scratch);
    call_actor(&held.cell(), action::slot::open,
               {flag(false), flag(false), flag(false), flag(false), none::value}, &answer.cell());
    Cell* p = options.part ? &given_part.cell() : nullptr;
    call_actor(&held.cell(), action::slot::copy,
               {flag(p), optional(p), flag(false), flag(false), none::value}, &answer.cell());
    GcRoot copied(answer.cell());
    call_actor(&held.cell(), action::slot::close, {}, &answer.cell());
    *port = copied.cell();
    return port;
}

Cell* write(Cell* port, Cell* data, const action::WriteOptions& options) {
    Cell* const part = options.part;
    GcRoot held(*port);
    GcRoot value(*data);
    const bool with_part = part && cell::type(part) == kTypeInteger;
    const Cell length = with_part ? *part : none::value;
    Cell scratch{};
    GcRoot answer(scratch);
    call_actor(&held.cell(), action::slot::open,
               {flag(false), flag(false), flag(true), flag(false), none::value}, &answer.cell());
    call_actor(&held.cell(), action::slot::insert,
               {value.cell(), flag(with_part), length, flag(false), flag(false), none::value},
               &answer.cell());
    call_actor(&held.cell(), action::slot::copy,
               {flag(false), none::value, flag(false), flag(false), none::value}, &answer.cell());
    GcRoot copied(answer.cell());
    call_actor(&held.cell(), action::slot::close, {}, &answer.cell());
    *port = copied.cell();
    return port;
}

void register_actions() {
    namespace s = action::slot;
    action::Row row;
    row.set<s::make>(make)
        .set<s::form>(form)
        .set<s::mold>(mold)
        .set<s::append>(append)
        .set<s::at>(at)
        .set<s::back>(back)
        .set<s::change>(change)
        .set<s::clear>(clear)
        .set<s::copy>(copy)
        .set<s::find>(find)
        .set<s::head>(head)
        .set<s::head_q>(head_q)
        .set<s::index_q>(index_q)
        .set<s::insert>(insert)
        .set<s::length_q>(length_q)
        .set<s::move>(move)
        .set<s::next>(next)
        .set<s::pick>(pick)
        .set<s::poke>(poke)
        .set<s::put>(put)
        .set<s::remove>(remove)
        .set<s::reverse>(reverse)
        .set<s::select>(select)
        .set<s::sort>(sort)
        .set<s::skip>(skip)
        .set<s::swap>(swap)
        .set<s::tail>(tail)
        .set<s::tail_q>(tail_q)
        .set<s::take>(take)
        .set<s::trim>(trim)
        .set<s::create>(create)
        .set<s::close>(close)
        .set<s::delete_>(delete_)
        .set<s::modify>(modify)
        .set<s::open>(open)
        .set<s::query>(query)
        .set<s::read>(read)
        .set<s::rename>(rename)
        .set<s::update>(update)
        .set<s::write>(write)
        .inherit({s::reflect, s::eval_path, s::compare});
    datatype::register_({kTypePort, kTypeObject, "port!", row.entries()});
}

} // namespace port
