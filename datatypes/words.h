// The runtime's word tables: the language words that native code recognises by identity
// (parse keywords, spec keywords, event and date fields reached through paths, the action
// words handed to on-deep-change* handlers, the tracer's and the lexer's events, the error
// categories), made once at start-up and kept each in a global of its own:
//   - symbols: ids (symbol.h), compared with a word's symbol or its canonical symbol;
//   - words: word values in the global context, kept in the root block;
//   - refinements: unbound refinement! values in the root block.
// A symbol made here is the one the lexer makes for the same text, so comparing loaded code
// with these globals compares symbol ids.
//
// words::init comes after the symbol table, the global context and the datatype name words,
// with the boot flag set; refinements::init right after it.
#pragma once
#include <cstdint>

#include "runtime-core/cell.h"

namespace words {

// Names that are C++ keywords or macros take a trailing underscore; "!" becomes _type, "?"
// becomes _q, "-" becomes _.
struct Symbols {
    uint32_t spec, body, words, class_;
    uint32_t logic_type, integer_type, char_type, float_type, percent_type, any_type;
    uint32_t exit, return_;
    uint32_t windows, syllable, macos, linux_, netbsd;
    uint32_t repeat, foreach, map_each, remove_each;
    // The keywords of the parse dialect, "|" and "-" included.
    uint32_t any, break_, copy, end, fail, into, opt, not_, quote, case_, reject, set, skip, some,
        thru, to, none, bar, dash, if_, remove, while_, insert, only, collect, keep, pick, ahead,
        after;
    uint32_t x, y, z;
    uint32_t self, values, owner, owned, events_q;
    uint32_t true_, false_, yes, no, on, off;
    uint32_t type, face, window, offset, key, flag, code, picked, flags, away_q, ctrl_q, shift_q,
        down_q, mid_down_q, alt_down_q, aux_down_q, orientation;
    uint32_t get, put, post, head, size, rgb, alpha, argb;
    uint32_t date, year, month, day, zone, isoweek, week, weekday, yearday, julian, time, hour,
        minute, second, timezone;
    // "code" is made a second time here: both globals hold the same symbol.
    uint32_t code_2, amount, user, host;
    uint32_t system, system_global, stack, trace, no_trace;
};
extern Symbols symbol;

struct Words {
    // The action words that in-place series changes pass to on-deep-change* handlers.
    const Cell *at, *back, *find, *head, *head_q, *index_q, *length_q, *next, *pick, *skip, *select,
        *tail, *tail_q, *change, *changed, *clear, *cleared, *set_path, *append, *appended, *move,
        *moved, *poke, *poked, *put, *put_ed, *removed, *random, *randomized, *reverse, *reversed,
        *sort, *sorted, *swap, *swaped, *take, *taken, *trim, *trimmed, *inserted, *uppercase,
        *lowercase, *checksum;
    // The events of the parse callback.
    const Cell *push, *pop, *fetch, *match, *iterate, *paren;
    // Names of call frames without a function word.
    const Cell *anon, *body, *not_found;
    const Cell *add, *subtract, *divide, *on_parse_event, *on_change, *on_deep_change, *type, *id,
        *try_, *catch_, *name, *multiply, *browse, *open, *create, *close, *delete_, *modify,
        *query, *read, *rename, *update, *write;
    // The events of the lexer callback.
    const Cell *prescan, *scan, *load, *error, *comment;
    // The tracer's events.
    const Cell *init, *exec, *call, *return_, *enter, *exit, *prolog, *epilog, *throw_, *expr;
    // Names of the frames of callbacks into language code.
    const Cell *interp_callback, *lexer_callback, *parse_callback, *compare_callback;
    // The error categories.
    const Cell *throw_category, *note, *syntax, *script, *math, *access, *user, *internal;
    const Cell *invalid_error, *local, *applied;
};
extern Words word;

// Makes the symbols, then the words, in the order of the tables. May collect.
void init();

} // namespace words

namespace refinements {

struct Refinements {
    const Cell *local, *extern_, *compare, *part, *skip, *with;
};
extern Refinements refinement;

// Makes the refinements, in the order of the table. Never collects.
void init();

} // namespace refinements
