// The lexer's engine as its loaders see it: the record of one active scan, the value slot
// buffer, levels and syntax errors. Internal to loading/lexer*.cpp.
#pragma once
#include <cstdint>

#include "loading/lexer-table.h"
#include "runtime-core/cell.h"

namespace lexer::engine {

// Codes of raise_error other than a datatype id.
constexpr int32_t kBadChar = -1;
constexpr int32_t kMalconstruct = -2;
constexpr int32_t kMissingBlock = -3;
constexpr int32_t kMissingParen = -4;

constexpr uint32_t kNoLevel = 0xFFFFFFFF;

// One active scan. Records are chained (a trace function may start a nested scan); they hold
// indexes into the slot buffer, never addresses, since the buffer moves when it doubles.
struct Record {
    Record* parent = nullptr;
    uint32_t slots_head = 0;        // first slot of this scan
    uint32_t level_head = kNoLevel; // marker slot of the innermost open level
    uint32_t slot_tail = 0;
    const uint8_t* input_start = nullptr;
    const uint8_t* input_end = nullptr;
    const uint8_t* pos = nullptr; // where the next token starts
    const uint8_t* token_start = nullptr;
    const uint8_t* token_end = nullptr; // the byte that ended the token (not part of it)
    int32_t line = 1;
    int32_t forced_type = -1; // set by the loaders of string-like values for the text builder
    uint8_t token_type = 0;   // datatype of the current token
    uint8_t entry_state = table::kStart;
    uint8_t prev_state = 0; // the token's last working state
    uint8_t last_type = 0;  // datatype of the last complete token (the scan's answer)
    bool load = true;       // values are built
    bool scan = true;       // tokens are fully classified (off: prescan)
    bool new_line = false;  // the next slot starts a new line
    // Braced string: where its text starts, its nesting depth and the flags of its tokens.
    const uint8_t* braced_start = nullptr;
    int32_t braced_depth = 0;
    uint32_t braced_flags = 0;
    // Tracing: the function (null without one), its event mask, and the input series.
    Cell* trace = nullptr;
    uint32_t mask = 0;
    Cell* input = nullptr;
    // Cached pair for converting byte positions to character positions.
    const uint8_t* cached_at = nullptr;
    uint32_t cached_chars = 0;
};

// --- Slot buffer ----------------------------------------------------------------------------

// The slot at an index: valid until the buffer next doubles (emit_slot, a nested scan).
Cell* slot(uint32_t index);
// The next free slot (unset!, with the new-line marker when line breaks came before the
// token); its index. The buffer doubles when full (internal/no-memory when it cannot).
uint32_t emit_slot(Record& r);

// --- Levels ---------------------------------------------------------------------------------

// Opens a level of a datatype (block!, paren!, map!, path!, lit-path!, get-path!, point2D!)
// whose opener lies at `opener` in the input.
void open_level(Record& r, uint8_t type, const uint8_t* opener);
// The datatype of the innermost open level, 0 for none.
uint8_t level_type(const Record& r);

// --- Errors ---------------------------------------------------------------------------------

// The syntax error of the token [start, end): a datatype id (invalid) or one of the codes
// above. In scan and prescan modes, or when a tracer declines it, the scan stops instead
// (the answer is error!). Never returns.
[[noreturn]] void raise_error(Record& r, const uint8_t* start, const uint8_t* end, int32_t code);

// --- Text -----------------------------------------------------------------------------------

// Decodes the text [start, end) (UTF-8, with ^ escapes when `escapes`) into code points in a
// scratch buffer; false on a bad sequence or escape. `max` receives the largest code point.
bool decode_text(const uint8_t* start, const uint8_t* end, bool escapes, uint32_t& max);
// The scratch buffer of the last decode_text.
const uint32_t* decoded();
uint32_t decoded_length();

} // namespace lexer::engine
