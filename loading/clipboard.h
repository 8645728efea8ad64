// The system clipboard: text and file lists go to and from it as string! and block! of
// file! values. Windows uses the system's clipboard in its formats (Unicode text, dropped
// files); the Linux build keeps a clipboard of its own inside the process with the same
// behaviour, so that what a script writes it reads back.
//
// Images are not exchanged yet: image! does not exist in this build, so pictures on the
// clipboard read as nothing usable (none) and write-clipboard refuses image! values with
// internal/not-done.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime-core/cell.h"

namespace clipboard {

// --- Language side --------------------------------------------------------------------------

// Pushes what the clipboard holds: a string!, a block! of file! values, none when it holds
// nothing usable, or false when the clipboard stays busy. May collect.
Cell* read();
// Replaces the clipboard's contents by the value: none empties it, a string! is text, a
// block! of file! (or string!) values is a file list; anything else raises
// script/invalid-arg. Answers whether the clipboard took the data. May collect.
bool write(const Cell* data);

// --- Platform side --------------------------------------------------------------------------

// Contents in the system's terms: text, or the local paths of a file list.
struct Contents {
    enum class Kind { empty, text, files } kind = Kind::empty;
    std::u16string text;
    std::vector<std::u16string> files;
};

// Reads the clipboard into `contents` (empty when nothing usable is there). False when the
// clipboard could not be opened.
bool read_platform(Contents& contents);
// Empties the clipboard and hands it the contents. False when the clipboard could not be
// opened or would not take the data.
bool write_platform(const Contents& contents);

// --- Shared pieces, tested on every build ---------------------------------------------------

// A dropped-file list as the system's clipboard holds it: a 20-byte header (offset of the
// list 20, the wide-character flag 1, all else 0), each path in UTF-16 with its terminating
// zero, then one more zero.
std::vector<uint8_t> drop_files(const std::vector<std::u16string>& paths);

// A local path in the language's file notation ("/" as the only separator, a drive as a
// leading folder): D:\dir\file becomes /D/dir/file, D: becomes /D/, a run of separators
// becomes one, and a second colon ends the name.
std::u16string local_to_file(std::u16string_view local);

} // namespace clipboard
