// Symbols: the interned texts that words name, and the symbol! datatype of their records.
//
// Every distinct text is kept once, in the symbol block, and is known everywhere by its
// symbol id: its 1-based position there. Entries are only ever appended, so an id stays
// valid for the life of the process.
//
// Letter case: lookup is exact first, then without regard to ASCII case. A text that differs
// only in ASCII case from an earlier symbol becomes a symbol of its own (a word keeps and
// forms its own letters) whose alias is the earliest such symbol, the canonical one. Word
// comparison, context lookup and binding go through the canonical id (resolve). Only A-Z and
// a-z fold: letters outside ASCII are never folded, so the result does not depend on any
// locale or case table.
//
// Symbol cell (type 13): word 1 the alias (-1 for a canonical symbol, else the canonical
// id; any value <= 0 reads as none), word 2 the node of its string! buffer (0 until the
// text is first asked for as a string), word 3 the node of a byte series holding the text in
// UTF-8, a NUL after its tail.
//
// The symbol table: a hash table of the words kind (hashtable.h) whose key block is the
// symbol block. The runtime initialisation makes the block (append_block, right after the
// root block) and, once the case tables exist, the table (init_table).
#pragma once
#include <cstdint>
#include <string_view>

#include "runtime-core/cell.h"

namespace symbol {

constexpr uint32_t kInitialSize = 4000;

// Node of the symbol hash table (0 until init_table).
extern uint32_t table;

// Appends the symbol block (room for kInitialSize cells, an ordinary block) to the root
// block, which must exist. May collect.
void append_block();
// Makes the hash table over the symbol block, installs the canonical-id resolver of the
// hash tables and the collector's marker and type marker. May collect.
void init_table();
// Whether the symbol table is in place.
bool exists();
// Forgets the block and the table (tests; the memory manager reclaims their buffers).
void release();

// Node of the symbol block (rewritten by the collector like any root block cell).
uint32_t block();
// Number of symbols.
uint32_t count();

// --- Interning (all may collect) ---------------------------------------------------------

// The id of a NUL-terminated UTF-8 text: found, or added (a case variant as an alias).
uint32_t make(const char* text);
// The same for `length` bytes at `text`, which may lie in a series buffer.
uint32_t find_or_make(const char* text, uint32_t length);
// The same for the text of a string-family value from its index, converted to UTF-8.
uint32_t make_from_string(const Cell* string);
// The id of any existing case variant of the text, else of a new canonical symbol: never
// makes an alias. For the runtime's own symbols whose canonical spelling in loaded data may
// be another letter case.
uint32_t intern_flagged(const char* text);

// --- Reading ----------------------------------------------------------------------------

// The canonical id: the alias when it is > 0, else the id itself. An id that names no
// symbol is its own canonical.
uint32_t resolve(uint32_t id);
// The alias word as stored (-1 for a canonical symbol).
int32_t get_alias(uint32_t id);
// The symbol cell of an id, as it is (its string node may be 0). An id that names no
// symbol is an internal fault (runtime error 98). Valid until the next allocation.
Cell* cell_at(uint32_t id);
// The UTF-8 text of a symbol, valid until the next allocation.
std::string_view text(uint32_t id);
// The node of the symbol's string! buffer, decoded from its UTF-8 text on first use and
// kept. May collect.
uint32_t get_string(uint32_t id);
// The symbol cell, after making sure its string exists. May collect; the address is valid
// until the next allocation.
Cell* record_at(uint32_t id);

// --- symbol! ------------------------------------------------------------------------------

// The only action: compares the two symbols' texts as strings under the comparison code.
// May collect (the strings are made when missing).
int32_t compare(Cell* value, Cell* other, int32_t op);

// Collector rule of a symbol cell: its UTF-8 series and, once made, its string.
void mark_cell(Cell& cell);

void register_actions();

} // namespace symbol
