#pragma once

#include <chrono>
#include <string>

// One WS-Management endpoint as the protocol layer sees it: a SOAP envelope
// goes out, a reply comes back. Everything below (the persistent HTTP/1.1
// connection, TLS, authentication, the message sealing of plain HTTP) lives in
// the transport, so the enumeration code neither knows nor cares.
namespace tavo::winrm {

struct SoapReply {
    int httpStatus = 0;  // 200, or 500 with a SOAP fault, ...
    std::string body;    // the envelope, unsealed
};

class SoapTransport {
  public:
    virtual ~SoapTransport() = default;
    // Posts `envelope` and returns the reply. Waits no longer than `deadline`
    // and returns early when the calling pass is stopped
    // (cycle::currentStopToken()), throwing tavo::Error: 0x800706BA when the
    // host cannot be reached, 0x80070005 when it refuses the credentials
    // (HTTP 401, naming user and host), 0x80043001 on a timeout.
    virtual SoapReply post(const std::string& envelope, std::chrono::milliseconds deadline) = 0;
    // "http://host:5985/wsman", for the To header and for messages.
    virtual std::string endpoint() const = 0;
};

// The server side, for the test server: answers one unsealed envelope.
class SoapResponder {
  public:
    virtual ~SoapResponder() = default;
    virtual SoapReply answer(const std::string& envelope) = 0;
};

}  // namespace tavo::winrm
