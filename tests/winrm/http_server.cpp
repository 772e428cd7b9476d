#include "winrm/http_server.h"

#include <openssl/err.h>

namespace tavo::winrm::testing {

http::Message RequestReader::readRequest() {
    std::string_view head = takeHead();
    const std::size_t eol = head.find("\r\n");
    std::string_view line = head.substr(0, eol);
    http::Message m;
    const std::size_t sp1 = line.find(' ');
    const std::size_t sp2 = line.rfind(' ');
    if (sp1 == std::string_view::npos || sp2 == sp1 || line.substr(sp2 + 1, 5) != "HTTP/")
        throw http::Malformed{"the request does not begin with a request line"};
    m.method = std::string(line.substr(0, sp1));
    m.target = std::string(line.substr(sp1 + 1, sp2 - sp1 - 1));
    parseFields(head.substr(eol + 2), m.headers);
    m.closes = closesAfter(m, line.substr(sp2 + 1));
    readBody(m, false);
    return m;
}

std::string formatResponseHead(int status, const std::string& reason, const http::Headers& headers,
                               std::size_t bodyLength) {
    return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n" +
           http::formatHeaders(headers, bodyLength);
}

const char* reasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 404:
            return "Not Found";
        case 413:
            return "Payload Too Large";
        case 415:
            return "Unsupported Media Type";
        case 500:
            return "Internal Server Error";
        default:
            return "Status";
    }
}

void startTlsServer(Connection& connection, SSL_CTX* context, Clock::time_point until) {
    SSL* ssl = SSL_new(context);
    if (!ssl) throw ConnectionLost{"SSL_new failed"};
    SSL_set_fd(ssl, connection.fd());
    if (!connection.runTlsHandshake(ssl, SSL_accept, until)) {
        char text[256] = "the TLS handshake failed";
        if (const unsigned long e = ERR_get_error()) ERR_error_string_n(e, text, sizeof text);
        throw ConnectionLost{text};
    }
}

}  // namespace tavo::winrm::testing
