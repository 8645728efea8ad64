// file!: a file or folder path in the language's notation: "/" as the only separator, a drive
// written as a leading one-letter folder (/c/windows), a literal written after "%". A child of
// url! (type id 8) sharing string!'s cell; it molds with its own quoting, converts to the
// operating system's form, and maps delete, query, read, rename and write onto the file
// services.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "datatypes/action.h"
#include "runtime-core/cell.h"

namespace file {

// --- Local forms ----------------------------------------------------------------------------

// The path's characters from its index.
std::u32string text(const Cell* file);

// The Windows form of a path: /c/x becomes c:\x, /c becomes c:\, /server/share becomes
// \\server\share, //x becomes \x, a/b becomes a\b; a relative path gets `current_dir` (which
// ends in "\") in front when it is not empty. A pure function: tested on every build.
std::u32string to_windows_form(std::u32string_view path, std::u32string_view current_dir);
// The POSIX form used by the Linux I/O layer: the path as it is (its separators are already
// "/"), a relative one after `current_dir` (which ends in "/") when that is not empty.
std::u32string to_posix_form(std::u32string_view path, std::u32string_view current_dir);

// The current folder from the platform with a trailing separator ("\" on Windows, "/"
// elsewhere).
std::u32string current_dir();
// Appends the Windows form of the file from its index to `target` (a string!); with `full` a
// relative path gets the current folder in front. May collect.
void to_local(const Cell* file, const Cell* target, bool full);
// The path of the file from its index in the form of the running system's file services,
// as UTF-16 (Windows) for the OS calls. A path holding a NUL raises script/invalid-arg.
std::u16string to_local_utf16(const Cell* file);

// --- Constructors ---------------------------------------------------------------------------

// From the UTF-8 text of the path without its "%" (string.h text_at rules). May collect.
Cell* make_at(Cell* cell, const char* utf8, uint32_t length);
Cell* push(const char* utf8, uint32_t length);
Cell* set_result(const char* utf8, uint32_t length);
Cell* add_to_block(const Cell* block, const char* utf8, uint32_t length);

// --- Slot functions -------------------------------------------------------------------------

// "%" and the path, in double quotes when it holds a character that the url table escapes
// below 127 (controls, blank, " % ; < > [ \ ] ^ ` { | }); an empty path as %"". Returns the
// limit less the characters of the path and 1.
int32_t mold(Cell* value, Cell* string, const action::MoldOptions& options, int32_t limit,
             int32_t indent);
// The file services (os/io.h): delete and rename answer logic!, query a date! or none;
// read lists a folder or reads a file (access/cannot-open when it cannot); write answers the
// file. read/as, write/allow and write/as raise internal/not-done.
Cell* delete_(Cell* file);
Cell* query(Cell* file);
Cell* rename(Cell* from, Cell* to);
Cell* read(Cell* source, const action::ReadOptions& options);
Cell* write(Cell* destination, Cell* data, const action::WriteOptions& options);

// Registers file! (type 8, parent url!), right after url!.
void register_actions();

} // namespace file
