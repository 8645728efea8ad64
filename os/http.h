// HTTP requests: one synchronous request a call, answering the body, or with the info option a
// block of status, headers and body. The read and write actions of url! and the library's
// network functions use it. Bodies come back as text (UTF-8), lines or binary, decoded the way
// the file services decode file contents.
//
// The portable part (http.cpp) prepares the request and builds the answer; http-win32.cpp
// (the platform's WinHttp request object) and http-posix.cpp (libcurl, with the same defaults)
// carry it out.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "os/io.h"
#include "runtime-core/cell.h"

namespace io {

// --- Platform ---------------------------------------------------------------------------------

struct HttpRequest {
    std::string method;                                             // "GET", "POST", ...
    std::u16string url;                                             // as written
    std::vector<std::pair<std::u16string, std::u16string>> headers; // sent in this order
    enum Body : uint8_t { kNoBody, kTextBody, kBytesBody } body = kNoBody;
    std::u16string text;       // a text body (sent as UTF-8)
    std::string bytes;         // a binary body
    bool want_headers = false; // status and response headers are asked for
};

struct HttpAnswer {
    int32_t status = 0;
    // The response headers of the final answer as UTF-8, "Name: value" lines each ended by
    // CR LF (no status line).
    std::string headers;
    std::string body;
    // The most body bytes taken: a longer body, declared or received, ends the request.
    int64_t limit = kMaxContent;
    // Why the request ended without an answer, when the reason is the body: longer than
    // `limit`, or more than the process has memory for.
    enum Cut : uint8_t { kWhole, kTooLong, kNoMemory } cut = kWhole;
};

// Carries out the request: false when the request object cannot be made, the url is not
// accepted, the server cannot be reached, the answer cannot be read or its body cannot be
// taken (`cut` says why). Redirects are followed; an answer with an error status is an
// answer. Touches no value cells.
bool http_request(const HttpRequest& request, HttpAnswer& answer);

// --- Service ----------------------------------------------------------------------------------

// The method text of a method word's symbol: "GET", "HEAD" and "POST" for get, head and post,
// otherwise the word's text in upper case.
std::string http_method(uint32_t symbol);

// The "Name: value" lines of a header text as pairs (name before the colon, value after it
// and one blank, up to the line's end); lines without a colon are skipped.
std::vector<std::pair<std::string, std::string>> http_header_lines(std::string_view text);

// Performs a request and pushes its result on the data stack: the body (binary!, a block of
// lines, or string!), or with `info` a block of the status (integer!), a map! of the
// headers (name word to string; a repeated header to a block of its strings) and the body.
// `url` is a url! or string!; `headers` a block of name/value pairs or null (null sends
// "Content-Type", "Accept-Charset" and "User-Agent" defaults); `data` a string!, a binary!
// or null. No body goes with GET and HEAD, nor with data of any other type. A failed request
// pushes none. A header block ending in a name without a value, a header name or value
// holding a CR, LF or NUL, and a url holding one raise script/invalid-arg. A body longer than
// `limit` bytes (a series' most, unless a test asks for less) raises script/too-long.
// May collect.
Cell* read_http(const Cell* url, uint32_t method, const Cell* headers, const Cell* data,
                bool binary, bool lines, bool info, int64_t limit = kMaxContent);

} // namespace io
