#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

// The three requests of a WQL enumeration (DSP0226 section 8, Enumeration):
// Enumerate with the query, Pull for each further page, Release when the
// walk is abandoned before its end.
namespace tavo::winrm {

struct EnvelopeHeader {
    std::string to;         // the endpoint, "http://host:5985/wsman"
    std::string messageId;  // "uuid:..."; a fresh one when empty
    // What the server may send back at most (w:MaxEnvelopeSize), in octets.
    std::uint32_t maxEnvelopeSize = 512000;
    // How long the server may work on the request before it answers with a
    // TimedOut fault (w:OperationTimeout).
    std::chrono::milliseconds operationTimeout{60000};
    std::string locale = "en-US";
};

// "<a:Action>...</a:Action>" and the rest of the addressing header around a body.
std::string enumerateEnvelope(const EnvelopeHeader& header, std::string_view wql,
                              std::uint32_t maxElements);
std::string pullEnvelope(const EnvelopeHeader& header, std::string_view context,
                         std::uint32_t maxElements);
std::string releaseEnvelope(const EnvelopeHeader& header, std::string_view context);

// Text made safe for an element's content or a double-quoted attribute.
std::string xmlEscape(std::string_view text);

// "uuid:" and a random (version 4) UUID in its lower-case text form.
std::string newMessageId();

// "PT60.000S": an xs:duration in seconds with milliseconds.
std::string xsDuration(std::chrono::milliseconds d);

}  // namespace tavo::winrm
