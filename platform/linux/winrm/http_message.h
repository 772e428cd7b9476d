#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// HTTP/1.1 messages as WS-Management uses them: one request or response at a
// time on a kept-alive connection, bodies framed by Content-Length or chunked.
// Tavo only writes requests and reads responses; the test server's side
// (reading requests, writing responses) builds on this in the tests.
namespace tavo::winrm::http {

struct Headers {
    std::vector<std::pair<std::string, std::string>> fields;

    // The first field of that name (case-insensitive), or nullptr.
    const std::string* find(std::string_view name) const;
    void add(std::string name, std::string value) {
        fields.emplace_back(std::move(name), std::move(value));
    }
};

struct Message {
    // A request's method and target, or a response's status and reason.
    std::string method;
    std::string target;
    int status = 0;
    std::string reason;
    Headers headers;
    std::string body;
    // HTTP/1.0, or "Connection: close": the peer closes after this message.
    bool closes = false;
};

// The header text of a request; the body goes after it as is.
std::string formatRequestHead(const std::string& method, const std::string& target,
                              const Headers& headers, std::size_t bodyLength);
// Header fields, each on its line, then Content-Length and the blank line.
std::string formatHeaders(const Headers& headers, std::size_t bodyLength);

// Base64 as the Authorization and WWW-Authenticate headers carry tokens.
std::string base64Encode(std::string_view bytes);
// Nothing when `text` is not base64.
std::optional<std::string> base64Decode(std::string_view text);

// The token of the first challenge of `scheme` ("Negotiate") among a reply's
// WWW-Authenticate fields: "" when the scheme is offered without one, nothing
// when it is not offered at all.
std::optional<std::string> challengeToken(const Headers& headers, std::string_view scheme);

// The peer closed the connection before a single byte of the next message:
// on a kept-alive connection that is the ordinary end of it, not a fault.
struct ClosedBeforeMessage {};

// The bytes do not make an HTTP message, or a limit was exceeded.
struct Malformed {
    std::string what;
};

// Reads messages off a byte source. `readSome` fills up to n bytes and
// returns how many, 0 at the end of the stream; it throws on its own
// deadline. Bytes after one message stay buffered for the next.
class MessageReader {
  public:
    using ReadSome = std::function<std::size_t(char* buffer, std::size_t n)>;

    MessageReader(ReadSome readSome, std::size_t maxBody);

    // Throws ClosedBeforeMessage, or Malformed.
    Message readResponse();

    // Drops what is buffered (a new connection begins).
    void reset();

  protected:
    // The next header block, up to and with its last CRLF.
    std::string_view takeHead();
    // The fields after a head's first line, and whether the peer closes
    // after this message (its Connection field and HTTP version).
    static void parseFields(std::string_view rest, Headers& headers);
    static bool closesAfter(const Message& m, std::string_view version);
    void readBody(Message& message, bool isResponse);

  private:
    std::size_t fill();
    std::string_view takeLine();
    std::string take(std::size_t n);

    ReadSome readSome_;
    std::size_t maxBody_;
    std::string buffer_;
    std::size_t begin_ = 0;  // first unread byte of buffer_
};

}  // namespace tavo::winrm::http
