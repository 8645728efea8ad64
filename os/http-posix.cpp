// HTTP requests on libcurl, with the defaults of the Windows request object: redirects
// followed (at most 10), a connect time-out of 60 seconds and a receive time-out of 30, no
// proxy unless the system is told of one, answers with error statuses returned as answers.
#include <curl/curl.h>
#include <strings.h>

#include <new>

#include "os/http.h"
#include "runtime-core/unicode.h"

namespace io {

namespace {

// Takes the body up to the answer's limit; beyond it, or without memory for it, the answer
// says why and the transfer stops (a count other than the one given ends it). Nothing may
// leave as an exception: libcurl is C.
size_t collect_body(char* data, size_t size, size_t count, void* target) {
    auto* answer = static_cast<HttpAnswer*>(target);
    const size_t n = size * count;
    if (n > static_cast<uint64_t>(answer->limit) - answer->body.size()) {
        answer->cut = HttpAnswer::kTooLong;
        return 0;
    }
    try {
        answer->body.append(data, n);
    } catch (const std::bad_alloc&) {
        answer->cut = HttpAnswer::kNoMemory;
        return 0;
    }
    return n;
}

// Keeps the header lines of the last answer (a redirect or an interim answer starts a new
// one): without the status line and the closing blank line, each ended by CR LF.
size_t collect_header(char* data, size_t size, size_t count, void* target) {
    auto* headers = static_cast<std::string*>(target);
    std::string_view line(data, size * count);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    try {
        if (line.substr(0, 5) == "HTTP/")
            headers->clear();
        else if (!line.empty())
            headers->append(line).append("\r\n");
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return size * count;
}

struct Easy {
    CURL* handle = curl_easy_init();
    curl_slist* headers = nullptr;
    ~Easy() {
        curl_slist_free_all(headers);
        if (handle) curl_easy_cleanup(handle);
    }
};

bool started() {
    static const bool ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ok;
}

} // namespace

bool http_request(const HttpRequest& request, HttpAnswer& answer) {
    if (!started()) return false;
    Easy easy;
    CURL* h = easy.handle;
    if (!h) return false;
    const std::string url = unicode::utf16_to_utf8(request.url);
    std::string text_body;
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    // The request object's own User-Agent, sent when the headers name none.
    curl_easy_setopt(h, CURLOPT_USERAGENT,
                     "Mozilla/4.0 (compatible; Win32; WinHttp.WinHttpRequest.5)");
    curl_easy_setopt(h, CURLOPT_PROXY, "");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 60L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, 30L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, collect_body);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &answer);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, collect_header);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &answer.headers);

    const char* body = nullptr;
    size_t body_size = 0;
    if (request.body == HttpRequest::kTextBody) {
        text_body = unicode::utf16_to_utf8(request.text);
        body = text_body.data();
        body_size = text_body.size();
    } else if (request.body == HttpRequest::kBytesBody) {
        body = request.bytes.data();
        body_size = request.bytes.size();
    }
    if (request.method == "HEAD") {
        curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    } else {
        // A declared length beyond the limit ends the request before its body comes (the
        // answer to HEAD declares the length of a body it does not send).
        curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(answer.limit));
    }
    if (request.method != "GET" && request.method != "HEAD") {
        // POST and the other methods send their body (an empty one when there is none, as
        // the request object does); a method other than POST keeps its own name.
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body_size));
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, body ? body : "");
        if (request.method != "POST")
            curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }

    // The request object sends the headers it is given: libcurl's own Expect, and its
    // Content-Type of a POST, are turned off. "Name;" is libcurl's way of sending a header
    // with an empty value.
    easy.headers = curl_slist_append(easy.headers, "Expect:");
    bool typed = false;
    for (const auto& header : request.headers) {
        const std::string name = unicode::utf16_to_utf8(header.first);
        typed = typed || strcasecmp(name.c_str(), "Content-Type") == 0;
    }
    if (!typed) easy.headers = curl_slist_append(easy.headers, "Content-Type:");
    for (const auto& [name, value] : request.headers) {
        std::string line = unicode::utf16_to_utf8(name);
        const std::string v = unicode::utf16_to_utf8(value);
        line += v.empty() ? ";" : ": " + v;
        if (curl_slist* grown = curl_slist_append(easy.headers, line.c_str()))
            easy.headers = grown;
        else
            return false;
    }
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, easy.headers);

    const CURLcode done = curl_easy_perform(h);
    if (done == CURLE_FILESIZE_EXCEEDED) answer.cut = HttpAnswer::kTooLong;
    if (done != CURLE_OK) return false;
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    answer.status = static_cast<int32_t>(status);
    return true;
}

} // namespace io
