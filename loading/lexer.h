// The lexer: UTF-8 source text to values.
//
// A byte-indexed class table feeds a deterministic state machine (lexer-table.h) that finds
// the end and the kind of each token in one pass over its bytes. Structural kinds (brackets,
// braces, paths, comments) have scanners; value kinds have loaders (lexer-literals.h) that
// check the token's text and build its value. Values are collected in one growable buffer of
// value slots shared by every active scan; a nested block, paren, map, path or point is a
// level inside that buffer, marked by a cell, that becomes a series when it closes.
//
// The engine serves four modes:
//   load     build every value (load of text, to block! of a string, transcode);
//   scan     classify tokens exactly without building values (transcode/scan, to word!);
//   prescan  only find token boundaries and structure (transcode/prescan, the console's
//            test whether an input is complete);
//   trace    every step is reported to a user function that may skip tokens, drop values,
//            stop the scan or move its position.
// Scans are re-entrant: a trace function may start another scan. Nested scans keep indexes
// into the slot buffer, never addresses, since the buffer doubles in place when it fills.
//
// Syntax errors raise category syntax (invalid, missing, malconstruct, bad-char) through
// error::fire with the arguments "(line N)", the datatype or missing character, and the text
// near the error (at most 30 bytes of the token's line). In scan and prescan modes nothing is
// raised: the result type is error!.
//
// Every entry here may collect and, with a trace function, run user code.
#pragma once
#include <cstdint>

#include "runtime-core/cell.h"
#include "runtime-core/strtod.h"

namespace lexer {

// Brings the lexer up: the slot buffer, the UTF-8 work buffer, the whitespace set, the
// collector's marker of the slot buffer, and the lexer's side of the value model (to word!
// of text, to block! of a string). Called once at start-up after the data stack; calling it
// again (tests) starts afresh.
void init();
// Releases the buffers and uninstalls the hooks (tests).
void release();

// --- Loading source text --------------------------------------------------------------------

// Loads a whole UTF-8 text into a new block! written to `dst`, a cell that stays where it is
// (data stack, GcRoot, root block). A leading byte-order mark is not skipped here (transcode
// of a binary! does that). Syntax errors are raised. Returns dst. May collect.
Cell* load_at(Cell* dst, const uint8_t* text, uint32_t size);
// load_at into a new cell pushed on the data stack.
Cell* load_push(const uint8_t* text, uint32_t size);

// The index after the header of a loaded script (the word Zan, matched case-sensitively,
// and the block after it), or -1 when the block has none.
int32_t header_end(const Cell* block);

// --- The scan entry -------------------------------------------------------------------------

// How a scan runs.
struct ScanMode {
    bool one = false;  // stop after the first complete value
    bool scan = true;  // classify every token exactly (off: prescan, structure only)
    bool load = true;  // build values
    bool wrap = false; // always give a block, even with one
};

// The scan of `size` UTF-8 bytes. Answers the type id of the last token (0 for none, 34
// error! when a scan or prescan met a syntax error).
// - dst: receives the result when values are built: a new block!, or with one and without
//   wrap the single value (left as it was when there is none); must stay where it is.
// - consumed: when not null, receives how much input was used: characters of `input` when it
//   is a string! (counted from the UTF-8 bytes), bytes otherwise.
// - trace: a function! value or null.
// - input: the series the text came from (string! or binary!), or null; trace events show it.
// - into: when not null, a block the values are appended to (dst then receives into itself).
// May collect; the text must not lie in a buffer that moves (copy it first).
uint8_t scan(Cell* dst, const uint8_t* text, uint32_t size, const ScanMode& mode,
             uint32_t* consumed, const Cell* trace, const Cell* input, const Cell* into);

// The scan of a string! value from its index: `length` characters, or all of them for -1,
// converted to UTF-8 in the work buffer (or a heap block when that has no room). consumed
// counts characters. May collect.
uint8_t load_string(Cell* dst, const Cell* string, int32_t length, const ScanMode& mode,
                    uint32_t* consumed, const Cell* trace, const Cell* into);

// --- transcode ------------------------------------------------------------------------------

// The refinements of transcode. part/into/trace point at the argument cells, null when the
// refinement is absent.
struct TranscodeOptions {
    bool next = false;           // the next value and the rest of the input, in a block
    bool one = false;            // the next value alone
    bool prescan = false;        // the datatype of the next token, guessed from its structure
    bool scan = false;           // the datatype of the next token, recognised exactly
    const Cell* part = nullptr;  // integer! length, or a position in the same series
    const Cell* into = nullptr;  // block! to append the values to
    const Cell* trace = nullptr; // function! called for each lexer event (none: no tracing)
};

// transcode of a string! or binary! (a binary is UTF-8; a leading byte-order mark is
// skipped). Results, written to `result` (a cell that stays where it is):
//   no refinement     a block of every value (the /into block at its tail when given);
//   /next             a block of the next value and the input after it (none for the value
//                     and the tail for empty input);
//   /one              the next value, or none;
//   /scan, /prescan   the datatype of the next token, none for empty input (with /next a
//                     block of that and the input after the token).
// A /part position of another series type raises script/not-same-type. May collect.
void transcode(const Cell* source, const TranscodeOptions& options, Cell* result);

// The transcode native (slot 106), by the native calling convention: the arguments are the
// current frame's cells from stack::arguments, the result goes to its first cell; each
// refinement is -1 when absent, else the frame position of its arguments. Arguments:
//   0 src [binary! string!]
//   refinements in spec order: /next /one /prescan /scan /part length [integer! binary!]
//   /into dst [block!] /trace callback (a function! or none, else script/expect-arg)
void native_transcode(int32_t next, int32_t one, int32_t prescan, int32_t scan, int32_t part,
                      int32_t into, int32_t trace);

// --- What the evaluator provides ------------------------------------------------------------

// A trace function is a function! of five arguments (event word, input series at the current
// position, datatype or word or none, line integer!, token) returning logic!. The evaluator
// installs the two services the lexer needs of it; without them a scan with a trace function
// raises internal/not-done.
struct TraceServices {
    // Calls the function with the five argument cells and answers the truth of its result.
    // The input cell is where a change of position made by the function comes back. Runs user
    // code: may collect; errors propagate.
    bool (*call)(const Cell* function, const Cell* event, Cell* input, const Cell* type,
                 const Cell* line, const Cell* token);
    // The function's body block (a block! cell), which the lexer reads for the event mask.
    Cell (*body_of)(const Cell* function);
};
void set_trace_services(const TraceServices* services);

// --- Text to numbers, for the to and make actions -------------------------------------------
// The text is `length` characters in units of `unit` bytes (1, 2 or 4); `error` becomes 0 on
// success, -1 on failure. Decimal integers are read by integer::text_to_integer.

// At most 312 characters, "," read as "."; the float syntax of the lexer. Failure gives NaN.
using number_text::text_to_float;
// 1 to 12 byte values 0-255 separated by single dots. Answers how many.
using number_text::text_to_tuple;

} // namespace lexer
