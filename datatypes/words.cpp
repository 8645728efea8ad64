#include "datatypes/words.h"

#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime-core/root.h"

namespace words {

Symbols symbol{};
Words word{};

namespace {

// The texts, in the order they are made.
struct SymbolText {
    uint32_t Symbols::*global;
    const char* text;
};
const SymbolText kSymbols[] = {
    {&Symbols::spec, "spec"},
    {&Symbols::body, "body"},
    {&Symbols::words, "words"},
    {&Symbols::class_, "class"},
    {&Symbols::logic_type, "logic!"},
    {&Symbols::integer_type, "integer!"},
    {&Symbols::char_type, "char!"},
    {&Symbols::float_type, "float!"},
    {&Symbols::percent_type, "percent!"},
    {&Symbols::any_type, "any-type!"},
    {&Symbols::exit, "exit"},
    {&Symbols::return_, "return"},
    {&Symbols::windows, "Windows"},
    {&Symbols::syllable, "Syllable"},
    {&Symbols::macos, "macOS"},
    {&Symbols::linux_, "Linux"},
    {&Symbols::netbsd, "NetBSD"},
    {&Symbols::repeat, "repeat"},
    {&Symbols::foreach, "foreach"},
    {&Symbols::map_each, "map-each"},
    {&Symbols::remove_each, "remove-each"},
    {&Symbols::any, "any"},
    {&Symbols::break_, "break"},
    {&Symbols::copy, "copy"},
    {&Symbols::end, "end"},
    {&Symbols::fail, "fail"},
    {&Symbols::into, "into"},
    {&Symbols::opt, "opt"},
    {&Symbols::not_, "not"},
    {&Symbols::quote, "quote"},
    {&Symbols::case_, "case"},
    {&Symbols::reject, "reject"},
    {&Symbols::set, "set"},
    {&Symbols::skip, "skip"},
    {&Symbols::some, "some"},
    {&Symbols::thru, "thru"},
    {&Symbols::to, "to"},
    {&Symbols::none, "none"},
    {&Symbols::bar, "|"},
    {&Symbols::dash, "-"},
    {&Symbols::if_, "if"},
    {&Symbols::remove, "remove"},
    {&Symbols::while_, "while"},
    {&Symbols::insert, "insert"},
    {&Symbols::only, "only"},
    {&Symbols::collect, "collect"},
    {&Symbols::keep, "keep"},
    {&Symbols::pick, "pick"},
    {&Symbols::ahead, "ahead"},
    {&Symbols::after, "after"},
    {&Symbols::x, "x"},
    {&Symbols::y, "y"},
    {&Symbols::z, "z"},
    {&Symbols::self, "self"},
    {&Symbols::values, "values"},
    {&Symbols::owner, "owner"},
    {&Symbols::owned, "owned"},
    {&Symbols::events_q, "events?"},
    {&Symbols::true_, "true"},
    {&Symbols::false_, "false"},
    {&Symbols::yes, "yes"},
    {&Symbols::no, "no"},
    {&Symbols::on, "on"},
    {&Symbols::off, "off"},
    {&Symbols::type, "type"},
    {&Symbols::face, "face"},
    {&Symbols::window, "window"},
    {&Symbols::offset, "offset"},
    {&Symbols::key, "key"},
    {&Symbols::flag, "flag"},
    {&Symbols::code, "code"},
    {&Symbols::picked, "picked"},
    {&Symbols::flags, "flags"},
    {&Symbols::away_q, "away?"},
    {&Symbols::ctrl_q, "ctrl?"},
    {&Symbols::shift_q, "shift?"},
    {&Symbols::down_q, "down?"},
    {&Symbols::mid_down_q, "mid-down?"},
    {&Symbols::alt_down_q, "alt-down?"},
    {&Symbols::aux_down_q, "aux-down?"},
    {&Symbols::orientation, "orientation"},
    {&Symbols::get, "get"},
    {&Symbols::put, "put"},
    {&Symbols::post, "post"},
    {&Symbols::head, "head"},
    {&Symbols::size, "size"},
    {&Symbols::rgb, "rgb"},
    {&Symbols::alpha, "alpha"},
    {&Symbols::argb, "argb"},
    {&Symbols::date, "date"},
    {&Symbols::year, "year"},
    {&Symbols::month, "month"},
    {&Symbols::day, "day"},
    {&Symbols::zone, "zone"},
    {&Symbols::isoweek, "isoweek"},
    {&Symbols::week, "week"},
    {&Symbols::weekday, "weekday"},
    {&Symbols::yearday, "yearday"},
    {&Symbols::julian, "julian"},
    {&Symbols::time, "time"},
    {&Symbols::hour, "hour"},
    {&Symbols::minute, "minute"},
    {&Symbols::second, "second"},
    {&Symbols::timezone, "timezone"},
    {&Symbols::code_2, "code"},
    {&Symbols::amount, "amount"},
    {&Symbols::user, "user"},
    {&Symbols::host, "host"},
    {&Symbols::system, "system"},
    {&Symbols::system_global, "system-global"},
    {&Symbols::stack, "stack"},
    {&Symbols::trace, "trace"},
    {&Symbols::no_trace, "no-trace"},
};

struct WordText {
    const Cell* Words::*global;
    const char* text;
};
const WordText kWords[] = {
    {&Words::at, "at"},
    {&Words::back, "back"},
    {&Words::find, "find"},
    {&Words::head, "head"},
    {&Words::head_q, "head?"},
    {&Words::index_q, "index?"},
    {&Words::length_q, "length?"},
    {&Words::next, "next"},
    {&Words::pick, "pick"},
    {&Words::skip, "skip"},
    {&Words::select, "select"},
    {&Words::tail, "tail"},
    {&Words::tail_q, "tail?"},
    {&Words::change, "change"},
    {&Words::changed, "changed"},
    {&Words::clear, "clear"},
    {&Words::cleared, "cleared"},
    {&Words::set_path, "set-path"},
    {&Words::append, "append"},
    {&Words::appended, "appended"},
    {&Words::move, "move"},
    {&Words::moved, "moved"},
    {&Words::poke, "poke"},
    {&Words::poked, "poked"},
    {&Words::put, "put"},
    {&Words::put_ed, "put-ed"},
    {&Words::removed, "removed"},
    {&Words::random, "random"},
    {&Words::randomized, "randomized"},
    {&Words::reverse, "reverse"},
    {&Words::reversed, "reversed"},
    {&Words::sort, "sort"},
    {&Words::sorted, "sorted"},
    {&Words::swap, "swap"},
    {&Words::swaped, "swaped"},
    {&Words::take, "take"},
    {&Words::taken, "taken"},
    {&Words::trim, "trim"},
    {&Words::trimmed, "trimmed"},
    {&Words::inserted, "inserted"},
    {&Words::uppercase, "uppercase"},
    {&Words::lowercase, "lowercase"},
    {&Words::checksum, "checksum"},
    {&Words::push, "push"},
    {&Words::pop, "pop"},
    {&Words::fetch, "fetch"},
    {&Words::match, "match"},
    {&Words::iterate, "iterate"},
    {&Words::paren, "paren"},
    {&Words::anon, "<anon>"},
    {&Words::body, "<body>"},
    {&Words::not_found, "<not-found>"},
    {&Words::add, "add"},
    {&Words::subtract, "subtract"},
    {&Words::divide, "divide"},
    {&Words::on_parse_event, "on-parse-event"},
    {&Words::on_change, "on-change*"},
    {&Words::on_deep_change, "on-deep-change*"},
    {&Words::type, "type"},
    {&Words::id, "id"},
    {&Words::try_, "try"},
    {&Words::catch_, "catch"},
    {&Words::name, "name"},
    {&Words::multiply, "multiply"},
    {&Words::browse, "browse"},
    {&Words::open, "open"},
    {&Words::create, "create"},
    {&Words::close, "close"},
    {&Words::delete_, "delete"},
    {&Words::modify, "modify"},
    {&Words::query, "query"},
    {&Words::read, "read"},
    {&Words::rename, "rename"},
    {&Words::update, "update"},
    {&Words::write, "write"},
    {&Words::prescan, "prescan"},
    {&Words::scan, "scan"},
    {&Words::load, "load"},
    {&Words::error, "error"},
    {&Words::comment, "comment"},
    {&Words::init, "init"},
    {&Words::exec, "exec"},
    {&Words::call, "call"},
    {&Words::return_, "return"},
    {&Words::enter, "enter"},
    {&Words::exit, "exit"},
    {&Words::prolog, "prolog"},
    {&Words::epilog, "epilog"},
    {&Words::throw_, "throw"},
    {&Words::expr, "expr"},
    {&Words::interp_callback, "<interp-callback>"},
    {&Words::lexer_callback, "<lexer-callback>"},
    {&Words::parse_callback, "<parse-callback>"},
    {&Words::compare_callback, "<compare-callback>"},
    {&Words::throw_category, "throw"},
    {&Words::note, "note"},
    {&Words::syntax, "syntax"},
    {&Words::script, "script"},
    {&Words::math, "math"},
    {&Words::access, "access"},
    {&Words::user, "user"},
    {&Words::internal, "internal"},
    {&Words::invalid_error, "invalid-error"},
    {&Words::local, "local"},
    {&Words::applied, "<applied>"},
};

} // namespace

void init() {
    root::BootScope boot;
    for (const SymbolText& s : kSymbols) symbol.*s.global = ::symbol::make(s.text);
    for (const WordText& w : kWords) word.*w.global = ::word::make_global(w.text);
}

} // namespace words

namespace refinements {

Refinements refinement{};

namespace {

struct RefinementText {
    const Cell* Refinements::*global;
    const char* text;
};
const RefinementText kRefinements[] = {
    {&Refinements::local, "local"},     {&Refinements::extern_, "extern"},
    {&Refinements::compare, "compare"}, {&Refinements::part, "part"},
    {&Refinements::skip, "skip"},       {&Refinements::with, "with"},
};

} // namespace

void init() {
    root::BootScope boot;
    for (const RefinementText& r : kRefinements)
        refinement.*r.global = ::refinement::add_to_root(r.text);
}

} // namespace refinements
