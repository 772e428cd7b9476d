#pragma once

#include <openssl/ssl.h>

#include <string>

#include "platform/linux/winrm/http_connection.h"
#include "platform/linux/winrm/http_message.h"

// The server's side of HTTP and TLS, for the test server: reading requests,
// writing responses, accepting a TLS handshake. Tavo itself does none of it.
namespace tavo::winrm::testing {

class RequestReader : public http::MessageReader {
  public:
    using http::MessageReader::MessageReader;
    // Throws http::ClosedBeforeMessage, or http::Malformed.
    http::Message readRequest();
};

std::string formatResponseHead(int status, const std::string& reason, const http::Headers& headers,
                               std::size_t bodyLength);

// The reason phrase for the statuses the test server sends.
const char* reasonPhrase(int status);

// The server's side of the TLS handshake; ConnectionLost when it fails.
void startTlsServer(Connection& connection, SSL_CTX* context, Clock::time_point until);

}  // namespace tavo::winrm::testing
