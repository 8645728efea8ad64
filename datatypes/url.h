// url!: a resource locator held as text (http://example.com/a b). A child of string! (type id
// 9) sharing its cell and buffers; it molds percent-encoded, is made from a block of parts,
// appends a segment through path access, and has the port actions open, read and write.
// file! is its child.
//
// The module also holds the percent-encoding and -decoding of texts that the enhex and dehex
// natives and the lexer use.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace url {

// --- Percent encoding -----------------------------------------------------------------------

// The two encoding modes: which bytes below 0x80 are escaped (bytes of 0x80 and above always
// are).
enum Mode : int32_t {
    // url text: the controls, blank, 127 and " % ; < > [ \ ] ^ ` { | }.
    kUrlMode = 255,
    // strict: everything but letters, digits and - . _ ~.
    kStrictMode = 254,
};

// Whether the mode escapes the byte.
bool needs_escape(int32_t mode, uint8_t byte);
// The byte itself, or "%" and two upper-case hexadecimal digits; returns the length (1 or 3).
uint32_t percent_encode(int32_t mode, uint8_t byte, char out[4]);
// Appends to `target` (a string!) the percent-encoding of the UTF-8 text of `string` from its
// index. May collect.
void encode_utf8(const Cell* string, const Cell* target, int32_t mode);
// Whether `text` (of `length` bytes) starts with "%" and two hexadecimal digits; the byte goes
// to `byte`.
bool decode_hex_escape(const uint8_t* text, size_t length, uint8_t& byte);
// The code points of percent-decoded UTF-8 text: a run of escapes that forms one UTF-8
// sequence becomes its character; an escape of a byte that starts no multi-byte sequence
// becomes that byte's code point; anything else (a cut run, text) stays as it stands.
std::u32string percent_decode_text(std::string_view utf8);
// Appends to `target` the percent-decoding of `string` from its index. May collect.
void percent_decode(const Cell* string, const Cell* target);

// --- Constructors ---------------------------------------------------------------------------

// From the UTF-8 text of the whole url (string.h text_at rules). May collect.
Cell* make_at(Cell* cell, const char* utf8, uint32_t length);
Cell* push(const char* utf8, uint32_t length);
Cell* set_result(const char* utf8, uint32_t length);
Cell* add_to_block(const Cell* block, const char* utf8, uint32_t length);

// --- The port route ---------------------------------------------------------------------------

// What open, read and write of a url that is not http, and of a port, need from the url parser
// and port! (installed with system/schemes): the url made into a port, opened when `open` is
// set with the open refinements. Without it those actions raise internal/not-done.
using MakePort = Cell* (*)(const Cell* url, const action::OpenOptions& options, bool open);
void set_make_port(MakePort hook);

// --- The OS services ---------------------------------------------------------------------------

// What url! and its child file! need of the OS services (os/io.h, os/http.h): HTTP requests,
// and reading, writing, querying, deleting and renaming files. The OS services install them
// at start-up (io::install_services); until then those actions raise internal/not-done.
struct IoServices {
    Cell* (*read_http)(const Cell* url, uint32_t method, const Cell* headers, const Cell* data,
                       bool binary, bool lines, bool info);
    Cell* (*read_path)(const Cell* path, int32_t part, int32_t seek, bool binary, bool lines);
    int64_t (*write_path)(const Cell* path, const Cell* data, const Cell* part, const Cell* seek,
                          bool append, bool lines);
    Cell* (*query)(const Cell* path);
    bool (*delete_path)(const Cell* path);
    bool (*rename_path)(const Cell* from, const Cell* to);
};
void set_io_services(const IoServices* services);
// The installed services; internal/not-done when there are none.
const IoServices& io_services();

// --- Slot functions -------------------------------------------------------------------------

// make and to: for url! a block!, paren! or hash! spec builds the text from its
// values formed: first, "://", second, ":" and a port when the third is an integer!, then each
// later value after "/" (after "#" for an issue!). An empty spec raises
// script/invalid-spec-field. Other specs go to string!. May collect.
Cell* make(Cell* prototype, Cell* spec, int32_t type);
Cell* to(Cell* prototype, Cell* spec, int32_t type);
// The UTF-8 bytes of the text, each percent-encoded in url mode; stops at the part limit.
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);
// Reading: a new url of the url's text, "/" (unless one side brings it; never two) and the
// formed element. Setting raises script/bad-field-set. May collect.
Cell* eval_path(Cell* parent, Cell* element, Cell* value, const action::PathOptions& options);
// The I/O actions: the HTTP service and ports are not there yet: internal/not-done (an http
// read with /part, /seek or /as, and an http write with /seek, /allow or /as, raise it in any
// case).
Cell* open(Cell* port, const action::OpenOptions& options);
Cell* read(Cell* source, const action::ReadOptions& options);
Cell* write(Cell* destination, Cell* data, const action::WriteOptions& options);

// Registers url! (type 9, parent string!), after issue!.
void register_actions();

} // namespace url
