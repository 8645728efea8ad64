// Unicode text conversions between strings and the byte encodings of the outside world:
// UTF-8 for files, the network, the lexer and the console; zero-terminated UTF-16LE for
// Windows calls; Windows-1251 for old Cyrillic text. Also the UTF-8 primitives that the
// lexer and the string code use directly, and the widening of a text buffer.
//
// A string stores one code point per unit of 1, 2 or 4 bytes (the unit size in the low bits
// of its buffer's flags): a 1-byte unit holds 0-FF, a 2-byte unit 0-FFFF, a 4-byte unit any
// code point. A buffer widens as a whole and never narrows again; the loaders here keep code
// points up to FF in 1-byte units and widen only above.
//
// Conversion cache: word 3 of a string cell holds the node of a byte series in which the
// string's UTF-8 or UTF-16 form is built (scratch_buffer). A converted text lies in that
// series: it stays valid until the next conversion of the same string value or the next
// allocation that may collect.
//
// Errors: a code point above 10FFFF in an encoder raises script/invalid-char with the code
// point; invalid UTF-8 while loading raises access/invalid-utf8 with the offending bytes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime-core/cell.h"

namespace memory {
struct Buffer;
}

namespace utf8 {

// The UTF-8 decoding automaton: 256 byte classes, then the transitions of states that are
// multiples of 12 (0 accepts, 12 rejects).
extern const uint8_t kDecoderTable[364];
constexpr uint32_t kAccept = 0;
constexpr uint32_t kReject = 12;

// Decodes one sequence that starts at `at` (before `end`) and returns the address after it.
// An invalid sequence gives code point -1 and returns the address after the byte that made
// it invalid; a sequence cut off by `end` gives -1 and returns `end`. Overlong forms,
// surrogates and values above 10FFFF are invalid.
const uint8_t* decode_char(const uint8_t* at, const uint8_t* end, int32_t& cp);
// The number of sequences in [start, end), each counting one, valid or not.
uint32_t count_chars(const uint8_t* start, const uint8_t* end);
// Advances over n sequences, stopping at `limit`; returns the new address.
const uint8_t* skip_chars(const uint8_t* start, const uint8_t* limit, uint32_t n);
// The length a lead byte announces: 4 for F0-FF, 3 for E0-EF, 2 for C0-DF, 0 for any other
// byte (ASCII included).
uint32_t lead_length(uint8_t byte);
// The length of the sequence of a code point: 1 up to 7F, 2 up to 7FF, 3 up to FFFF, 4 up to
// 10FFFF. Raises invalid-char above.
uint32_t encode_length(uint32_t cp);
// Writes the sequence of a code point (room for 4 bytes); returns its length. Raises
// invalid-char above 10FFFF.
uint32_t encode_char(uint32_t cp, uint8_t* out);
// Writes only the first `room` bytes of the sequence (none when room is 0 or less); returns
// how many were written. Raises invalid-char above 10FFFF.
uint32_t encode_char_limited(uint32_t cp, uint8_t* out, int32_t room);

} // namespace utf8

namespace unicode {

// Set on a buffer that load_utf16 filled.
constexpr uint32_t kFlagLoadedUtf16 = 0x40000;

// --- Widening in place ------------------------------------------------------------------

// Each converts the units of a text buffer to the wider size: the buffer grows first when
// the used part at the new width plus one unit does not fit (which may move it), the units
// are converted from the last to the first so that old and new data may overlap, and the
// tail and the unit size follow. Returns the buffer that now holds the text. May collect.
memory::Buffer* latin1_to_ucs2(memory::Buffer* buffer);
memory::Buffer* latin1_to_ucs4(memory::Buffer* buffer);
memory::Buffer* ucs2_to_ucs4(memory::Buffer* buffer);

// --- Strings to bytes ---------------------------------------------------------------------

// The number of UTF-8 bytes of the code points stored in units of `unit` bytes in
// [start, end). Raises invalid-char for a code point above 10FFFF.
uint32_t utf8_size(const uint8_t* start, const uint8_t* end, uint32_t unit);

// The conversion cache of a string value: the data of a byte series of at least `size`
// bytes, made on first use and replaced by a larger copy when a request does not fit; its
// node goes to word 3 of `string`, which must stay where it is. May collect.
uint8_t* scratch_buffer(Cell* string, uint32_t size);

// The UTF-8 form of a string from its index, over at most `part` characters (-1 or more than
// there are: to the tail), NUL-terminated, in the string's conversion cache. With `crlf`
// each line feed is written as CR LF. `part` receives the byte count without the NUL. May
// collect.
const char* to_utf8_part(Cell* string, int32_t& part, bool crlf);
// to_utf8_part without line-end conversion.
const char* to_utf8(Cell* string, int32_t& part);

// Writes the UTF-8 form of the characters from the index (part -1 or at least the length:
// to the tail) into `out`, which must hold them (utf8_size), NUL-terminated on request.
// Returns the byte count without the NUL. Never collects.
uint32_t write_utf8(const Cell* string, uint8_t* out, int32_t part, bool terminate);
// write_utf8 within a budget of `room` bytes: each character writes what still fits, so the
// last one may be cut. `part` counts only from 1 to the length less one (otherwise the whole
// string is written); the NUL, when asked, follows the bytes written (`out` holds room + 1).
uint32_t write_utf8_limited(const Cell* string, uint8_t* out, int32_t room, int32_t part,
                            bool terminate);

// The UTF-16LE form of a string from its index, over at most `part` characters, with a
// 16-bit NUL after it, in the conversion cache. Code points of 10000 and above become
// surrogate pairs; with `crlf` each line feed becomes CR LF. `part` receives the number of
// 16-bit units without the NUL. A code point above 10FFFF gives a null address. May collect.
const char16_t* to_utf16_part(Cell* string, int32_t& part, bool crlf);
// to_utf16_part over the whole string from its index, line feeds as CR LF.
const char16_t* to_utf16(Cell* string);
// Widens each byte of a NUL-terminated byte text to a 16-bit unit, NUL included.
void ascii_to_utf16(const char* text, char16_t* out);
// Writes one unit (below 10000) or a surrogate pair; returns the unit count, 0 for a code
// point above 10FFFF.
uint32_t encode_utf16_char(uint32_t cp, char16_t* out);

// --- Bytes to strings ---------------------------------------------------------------------
//
// The loaders return the node of the string they filled: the target's own, or a new one that
// the caller must store before its next allocation. The bytes may lie in a series buffer.

// Decodes UTF-8 into the target string's buffer (its text replaced, its capacity raised to
// `length` units first) or, with no target, into a new string. A leading byte-order mark is
// skipped. With `crlf`, CR LF becomes LF and a lone CR becomes LF. A sequence cut off by the
// end stops the load: `unconsumed` (when given) receives the bytes left, else 0. Raises
// invalid-utf8 at an invalid sequence (decode_utf8_char). May collect.
uint32_t load_utf8(const uint8_t* bytes, uint32_t length, const Cell* target, int32_t* unconsumed,
                   bool crlf);
// load_utf8 into the target string without line-end conversion.
uint32_t load_utf8_binary(const uint8_t* bytes, uint32_t length, const Cell* target,
                          int32_t* unconsumed);
// load_utf8 into a new string, without options.
uint32_t load_utf8_simple(const uint8_t* bytes, uint32_t length);

// Decodes `count` UTF-16LE units into the target's buffer or a new string; with no units
// given, they are read from the target's conversion cache (where a system call has just
// written them). The width is chosen by one scan: 4 when a surrogate occurs, else 2 when a
// unit is above FF, else 1. A surrogate pair gives its code point; a surrogate without its
// partner gives U+FFFD. With `crlf` every CR is dropped. May collect.
uint32_t load_utf16(const char16_t* units, uint32_t count, const Cell* target, bool crlf);

// Decodes Windows-1251 bytes (with no bytes given, from the target's conversion cache) into
// the target's buffer or a new string, widening when a character needs it. With `crlf`,
// CR LF becomes LF and a lone CR becomes LF. May collect.
uint32_t load_cp1251(const uint8_t* bytes, uint32_t length, const Cell* target, bool crlf);

// The strict decoder of the loaders: `length` gives the bytes available and receives the
// sequence length. Returns the code point, or -1 when fewer bytes are available than the
// lead byte needs. Overlong forms are accepted; a 3-byte form of DC00-DCFF and a value above
// 10FFFF are not. An invalid sequence raises access/invalid-utf8 with a binary! of (up to) 4
// bytes at `at`.
int32_t decode_utf8_char(const uint8_t* at, uint32_t& length);

// A new binary! value holding a copy of the bytes, pushed on the data stack (the argument of
// invalid-utf8; the binary! module takes it over). May collect.
Cell* push_binary(const uint8_t* bytes, uint32_t count);

// --- Helpers for the platform layer ---------------------------------------------------

// Writes the UTF-8 bytes of code point `cp` to `out` (room for 4 bytes); returns the count.
// Surrogate code points and values above 0x10FFFF are written as U+FFFD.
int encode_utf8_char(uint32_t cp, char* out);

// UTF-16 to UTF-8: surrogate pairs become one four-byte sequence; a lone surrogate becomes
// U+FFFD.
std::string utf16_to_utf8(std::u16string_view text);

// UTF-8 to UTF-16: malformed or cut sequences become U+FFFD, one per offending byte.
std::u16string utf8_to_utf16(std::string_view text);

} // namespace unicode
