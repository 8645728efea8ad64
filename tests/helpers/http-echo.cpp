// A small HTTP server on 127.0.0.1 for the language tests of url! reads and writes.
//
// usage: http-echo PORT-FILE [IDLE-SECONDS]
//
// Listens on a free port of 127.0.0.1 and writes "PORT CLOSED-PORT" to PORT-FILE (whole,
// through a rename), where CLOSED-PORT is a port it holds bound but not listening, so a
// connection to it is refused. Answers one request per connection (Connection: close) and
// exits when no connection comes for IDLE-SECONDS (default 60).
//
//   /text     200, a UTF-8 text, the header X-Twice twice
//   /lines    200, "one" CR LF "two" LF "three"
//   /bytes    200, five bytes that are not UTF-8 text
//   /moved    302 to /text
//   /echo     200, echoes the method, the path, the headers Content-Type (without its
//             parameters), Accept-Charset, User-Agent and every X- header (names in lower case),
//             the body's length and the body
//   /count    200, the number of requests for /count so far, as text
//   /script   200, a script with a header that prints its path and answers 3
//   /pixel    200, a one-pixel red PNG image, of type image/png
//   /endless  200, a body without a declared length that goes on until the client leaves
//   /huge     200, a body that declares 4 GiB and 1000 bytes; sends 1 MB of it, then closes
//   other     404, "no such page"
// A HEAD request gets the headers of the same answer without its body.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

int bound_socket(bool listening, int& port) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return -1;
    const int yes = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t size = sizeof a;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        (listening && listen(s, 16) != 0) ||
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &size) != 0) {
        close(s);
        return -1;
    }
    port = ntohs(a.sin_port);
    return s;
}

std::string lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return text;
}

// Reads until `ready` holds or 10 seconds pass without data.
template <typename Ready> bool receive(int s, std::string& data, Ready ready) {
    char chunk[4096];
    while (!ready()) {
        pollfd p{s, POLLIN, 0};
        if (poll(&p, 1, 10000) <= 0) return false;
        const ssize_t n = recv(s, chunk, sizeof chunk, 0);
        if (n <= 0) return false;
        data.append(chunk, static_cast<size_t>(n));
    }
    return true;
}

bool send_all(int s, const std::string& data) {
    size_t at = 0;
    while (at < data.size()) {
        const ssize_t n = send(s, data.data() + at, data.size() - at, MSG_NOSIGNAL);
        if (n <= 0) return false;
        at += static_cast<size_t>(n);
    }
    return true;
}

// Sends a body for as long as the client reads it (it is never finished): with no declared
// length, or declaring one that is never reached.
void send_unending(int s, const char* length) {
    std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n";
    if (length) head += std::string("Content-Length: ") + length + "\r\n";
    if (!send_all(s, head + "Connection: close\r\n\r\n")) return;
    const std::string block(65536, 'z');
    if (length) {
        // A declared length is never reached: a client that reads the body before it checks
        // the declared length (the Windows request object does) gets 1 MB, then the end.
        for (int i = 0; i < 16 && send_all(s, block); ++i) {
        }
        return;
    }
    while (send_all(s, block)) {
    }
}

void serve(int s) {
    std::string data;
    if (!receive(s, data, [&] { return data.find("\r\n\r\n") != std::string::npos; })) return;
    const size_t head_end = data.find("\r\n\r\n");
    const std::string head = data.substr(0, head_end);
    std::string body = data.substr(head_end + 4);

    const size_t line_end = head.find("\r\n");
    const std::string request_line = head.substr(0, line_end);
    const size_t sp1 = request_line.find(' ');
    const size_t sp2 = request_line.find(' ', sp1 + 1);
    if (sp1 == std::string::npos || sp2 == std::string::npos) return;
    const std::string method = request_line.substr(0, sp1);
    const std::string path = request_line.substr(sp1 + 1, sp2 - sp1 - 1);

    std::vector<std::pair<std::string, std::string>> headers;
    size_t at = line_end == std::string::npos ? head.size() : line_end + 2;
    while (at < head.size()) {
        size_t end = head.find("\r\n", at);
        if (end == std::string::npos) end = head.size();
        const std::string line = head.substr(at, end - at);
        at = end + 2;
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        size_t v = colon + 1;
        while (v < line.size() && line[v] == ' ') ++v;
        headers.emplace_back(lower(line.substr(0, colon)), line.substr(v));
    }
    size_t length = 0;
    for (auto& [name, value] : headers)
        if (name == "content-length") length = std::strtoul(value.c_str(), nullptr, 10);
    if (length > (1u << 20)) return;
    if (!receive(s, body, [&] { return body.size() >= length; })) return;
    body.resize(length);

    if (path == "/endless" || path == "/huge") {
        send_unending(s, path == "/huge" ? "4294968296" : nullptr);
        return;
    }
    std::string status = "200 OK", extra, content, type = "text/plain; charset=utf-8";
    static int count = 0;
    if (path == "/count") {
        content = std::to_string(++count);
    } else if (path == "/script") {
        content = "Zan [Title: \"Remote\"]\n"
                  "print [\"the remote script ran, its path:\" mold system/script/path]\n1 + 2\n";
    } else if (path == "/pixel") {
        type = "image/png";
        content = std::string("\x89\x50\x4E\x47\x0D\x0A\x1A\x0A\x00\x00\x00\x0D\x49\x48\x44\x52"
                              "\x00\x00\x00\x01\x00\x00\x00\x01\x08\x02\x00\x00\x00\x90\x77\x53"
                              "\xDE\x00\x00\x00\x0C\x49\x44\x41\x54\x78\x9C\x63\xF8\xCF\xC0\x00"
                              "\x00\x03\x01\x01\x00\xC9\xFE\x92\xEF\x00\x00\x00\x00\x49\x45\x4E"
                              "\x44\xAE\x42\x60\x82",
                              69);
    } else if (path == "/text") {
        content = "Hello, w\xC3\xB6rld!";
        extra = "X-Twice: one\r\nX-Twice: two\r\n";
    } else if (path == "/lines") {
        content = "one\r\ntwo\nthree";
    } else if (path == "/bytes") {
        content = std::string("\x00\xFF\x10\x80\x41", 5);
    } else if (path == "/moved") {
        status = "302 Found";
        extra = "Location: /text\r\n";
        content = "moved";
    } else if (path == "/echo") {
        content = method + " " + path + "\n";
        for (const char* wanted : {"content-type", "accept-charset", "user-agent"})
            for (auto& [name, value] : headers)
                if (name == wanted)
                    content += name + ": " +
                               (name == "content-type" ? value.substr(0, value.find(';')) : value) +
                               "\n";
        std::vector<std::pair<std::string, std::string>> own;
        for (auto& h : headers)
            if (h.first.rfind("x-", 0) == 0) own.push_back(h);
        std::stable_sort(own.begin(), own.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (auto& [name, value] : own) content += name + ": " + value + "\n";
        content += "length: " + std::to_string(body.size()) + "\n\n" + body;
    } else {
        status = "404 Not Found";
        content = "no such page";
    }
    std::string answer = "HTTP/1.1 " + status + "\r\nContent-Type: " + type + "\r\n" + extra +
                         "Content-Length: " + std::to_string(content.size()) +
                         "\r\nConnection: close\r\n\r\n";
    if (method != "HEAD") answer += content;
    send_all(s, answer);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: http-echo PORT-FILE [IDLE-SECONDS]\n");
        return 2;
    }
    const int idle = argc > 2 ? std::atoi(argv[2]) : 60;
    int port = 0, closed_port = 0;
    const int server = bound_socket(true, port);
    const int closed = bound_socket(false, closed_port);
    if (server < 0 || closed < 0) {
        std::perror("http-echo: cannot listen on 127.0.0.1");
        return 1;
    }
    const std::string file = argv[1], partial = file + ".part";
    FILE* out = std::fopen(partial.c_str(), "w");
    if (!out) return 1;
    std::fprintf(out, "%d %d\n", port, closed_port);
    std::fclose(out);
    if (std::rename(partial.c_str(), file.c_str()) != 0) return 1;
    for (;;) {
        pollfd p{server, POLLIN, 0};
        if (poll(&p, 1, idle * 1000) <= 0) return 0;
        const int s = accept(server, nullptr, nullptr);
        if (s < 0) continue;
        serve(s);
        shutdown(s, SHUT_WR);
        // Let the client read the answer and close first.
        char rest[512];
        pollfd q{s, POLLIN, 0};
        while (poll(&q, 1, 2000) > 0 && recv(s, rest, sizeof rest, 0) > 0) {
        }
        close(s);
    }
}
