// ZANBIN: the binary serialisation of values.
//
// Layout: the magic "ZANBIN", a version byte (2 when written here), a flag byte (bit 0 compact
// encoding, bit 1 LZ-compressed body, bit 2 symbol table present), then the body: the root
// count, the record area's size, the symbol table (offsets into a string area of
// zero-terminated UTF-8 texts) and the records. In the compact encoding a record is optional
// prefix bytes (0xC0 new line, 0xC1 reference, 0xC4 word-with-value), a lead byte (a type byte
// whose bits 0-5 are the type id and bit 6 a per-type flag, a small integer 0x80-0xBF, 0xC2
// true, 0xC3 false, or 0xFF a reference value) and the type's payload, with LEB128 varints
// and zigzag integers.
//
// Sharing and cycles survive a round trip: a series, object or function met a second time is
// written as a reference path, the list of positions from the root down to the record that
// first wrote it, and the decoder makes the new value share the earlier one's buffer.
//
// Decoding trusts nothing: every read is bounded by the data, every count by the bytes left
// (before anything is allocated), nesting by kMaxDepth; a malformed record raises
// script/zb-invalid-record with the 1-based byte position of the fault, and leaves the target
// block holding the values decoded so far.
//
// Everything here may collect.
#pragma once
#include <cstdint>
#include <string>

#include "runtime-core/cell.h"

namespace zanbin {

// Deepest nesting of containers that the decoder and the encoder follow.
constexpr uint32_t kMaxDepth = 1000;

// The codec flag: set by the codec entries before they decode or encode (and left set).
extern bool codec_mode;

// Appends the root values of ZANBIN data (`length` bytes, copied first: they may lie in a
// series buffer) to the block `target`, which must stay where it is (data stack, GcRoot).
// `payload` is the value the data came from, named by script/invalid-data when the magic is
// missing or the compressed body is corrupt. Answers the number of values appended.
uint32_t decode(const uint8_t* data, uint32_t length, const Cell* target, const Cell* payload);

// The compact encoding of one value (the single root record), pushed as a new binary!. A
// value that cannot be saved (routine!, triple!, handle!, port!, event!, a context! met on its
// own, an op! over a routine!) raises access/no-codec with the value; nesting deeper than
// kMaxDepth raises internal/too-deep.
Cell* encode_compact(const Cell* value);
// The same in the fixed-width encoding: 32-bit words, each float-like value at a multiple of
// 8 bytes, symbol texts at multiples of 8.
Cell* encode_fixed(const Cell* value);

// Boot mode: decodes the boot image (`length` bytes, compact encoding) into `target`, the
// root block, which never moves, with the collector held off. Word-with-value records set
// their words and take no cell; every other root record becomes a literal cell, numbered from
// the answer: the target's length before the decoding, the index of literal cell 0. Words
// without a binding are bound to the global context, added there when missing. A missing
// magic or a corrupt compressed body prints "Error: Not a Zanbin file!" or "Error: Zanbin
// compressed data corrupted!" and ends the process with status 1; a malformed record raises
// script/zb-invalid-record.
uint32_t boot_load(const uint8_t* image, uint32_t length, const Cell* target);

// The boot image for the build: a word-with-value record for each word and value of
// `presets` (a block of alternating words and values), then each cell of `roots` as a root
// record; version 1, compact, with a symbol table, the body LZ-compressed. A word bound to a
// context other than the global one must belong to an object!, function! or error! among the
// earlier roots (it is written with that root's literal number), else access/no-codec. Never
// collects.
std::string encode_boot(const Cell* presets, const Cell* roots);

} // namespace zanbin
