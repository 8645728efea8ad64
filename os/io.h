// The file services: whole-file reads and writes (part, seek, binary, text and line modes,
// appending), directory listings, modification dates, and creating, deleting and renaming
// files and folders. The file! actions and the library call them. Paths reach the platform
// as local paths (file.h's conversion) in UTF-16; text goes to and from files as UTF-8.
//
// The portable part (io.cpp) holds the algorithms; io-win32.cpp and io-posix.cpp hold the
// thin platform wrappers declared under "Platform".
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime-core/cell.h"

namespace io {

// --- Platform ---------------------------------------------------------------------------------

// Open modes: read opens an existing file; write creates or truncates it, except that append
// or seek open it without truncating (creating it when missing).
enum Mode : uint32_t { kRead = 1, kWrite = 2, kAppend = 4, kSeek = 8 };

using Handle = std::intptr_t;
constexpr Handle kNoHandle = -1;

Handle open_file(std::u16string_view path, uint32_t mode);
// The process's standard output (for writes without a path).
Handle standard_output();
// The size in bytes (64-bit), or -1.
int64_t file_size(Handle file);
// Moves to `offset` from the start, or to the end with -1. False on failure.
bool seek(Handle file, int64_t offset);
// Reads up to `size` bytes, looping over short reads until `size` or the end of the file:
// the count read, or -1 on an error.
int64_t read(Handle file, void* buffer, uint32_t size);
// Writes every byte, looping over short writes: the count written, or -1.
int64_t write(Handle file, const void* data, uint32_t size);
void close(Handle file);

struct Entry {
    std::u16string name;
    bool directory;
};
// The entries of a folder other than "." and "..", in the platform's order; false when the
// folder cannot be listed. `path` is the folder's local path.
bool list_dir(std::u16string_view path, std::vector<Entry>& entries);
// What reading "/" lists: on Windows the drive roots as one-letter folders (C/), elsewhere
// the entries of the file system's root.
bool list_root(std::vector<Entry>& entries);

// A modification time in UTC.
struct Stamp {
    int32_t year, month, day, hour, minute, second, nanoseconds;
};
// The last-write time; false for a missing file, or for a path ending in a separator that is
// not a folder.
bool modified(std::u16string_view path, Stamp& stamp);
bool delete_file(std::u16string_view path);
bool delete_dir(std::u16string_view path);
bool rename(std::u16string_view from, std::u16string_view to);
// Creates one folder (no parents).
bool create_dir(std::u16string_view path);

// --- Services ---------------------------------------------------------------------------------

// The longest content a series holds, in bytes or characters: its index and length are
// 32-bit signed numbers. Longer content read from a file, a child process or a server is
// script/too-long.
constexpr int64_t kMaxContent = 0x7FFFFFFF;

// A path names a folder when its text ends with "/" or "\", is "." or "..", or ends with a
// separator followed by "." or "..". Nothing on disk is consulted.
bool dir_q(std::u32string_view path);

// Reads a file! (a folder is listed): the result is pushed on the data stack. A file that
// cannot be opened or read raises access/cannot-open; a file too large for a series
// raises script/too-long. `part` and `seek` are -1 when absent (any negative part reads
// everything). A file that reports no size (a device, a pipe) is read up to the part only.
// May collect.
Cell* read_path(const Cell* path, int32_t part, int32_t seek, bool binary, bool lines);
// Reads a file; pushes binary!, a block of string! lines or a string!, or pushes nothing and
// answers null when the file cannot be opened or read. May collect.
Cell* read_file(const Cell* path, int32_t part, int32_t seek, bool binary, bool lines);
// Writes `data` (string!, binary!, a block in lines mode, anything else molded) to the
// file! `path` (standard output when null); answers the byte count of the last write or
// -1. `part` is -1 when absent (any negative part writes everything); a negative seek
// writes nothing. May collect.
int64_t write_file(const Cell* path, const Cell* data, int32_t part, int32_t seek, bool append,
                   bool lines);
// write_file for the file! action: a seek that is not an integer raises script/invalid-arg
// and a failure access/cannot-open with the path. Answers the byte count.
int64_t write_path(const Cell* path, const Cell* data, const Cell* part, const Cell* seek,
                   bool append, bool lines);
// Pushes what a read of `bytes` gives: binary! with `binary`, else with `lines` a block of
// string! lines (split at LF, a CR before it dropped), else a string! of the UTF-8 text.
// More than kMaxContent bytes raise script/too-long. May collect.
Cell* push_content(const std::string& bytes, bool binary, bool lines);
// Pushes a block of file! names of the folder; access/cannot-open when it cannot be listed.
Cell* read_dir(const Cell* path);
// Pushes the modification date! of the file, or none.
Cell* query(const Cell* path);
bool delete_path(const Cell* path);
bool rename_path(const Cell* from, const Cell* to);
bool make_dir(const Cell* path);

// Makes these services and the HTTP requests (http.h) those of url! and file!
// (url::set_io_services): start-up calls it once the datatypes are registered.
void install_services();

} // namespace io
