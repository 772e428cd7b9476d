#include "platform/linux/winrm/envelope.h"

#include <cstdio>
#include <random>

#include "grid/error.h"
#include "platform/linux/winrm/wsman_names.h"

namespace tavo::winrm {

std::string xmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default: {
                const auto u = static_cast<unsigned char>(c);
                // XML 1.0 cannot carry these control characters at all,
                // escaped or not; a query has no business holding them.
                if (u < 0x20 && c != '\t' && c != '\n' && c != '\r') {
                    out += ' ';
                } else {
                    out += c;
                }
            }
        }
    }
    return out;
}

std::string newMessageId() {
    // Only unique, not secret: the server matches RelatesTo with it.
    thread_local std::mt19937_64 rng{std::random_device{}()};
    const std::uint64_t hi = rng();
    const std::uint64_t lo = rng();
    unsigned char b[16];
    for (int i = 0; i < 8; ++i) {
        b[i] = static_cast<unsigned char>(hi >> (56 - 8 * i));
        b[8 + i] = static_cast<unsigned char>(lo >> (56 - 8 * i));
    }
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
    char text[48];
    std::snprintf(text, sizeof text,
                  "uuid:%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0],
                  b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    return text;
}

std::string xsDuration(std::chrono::milliseconds d) {
    const long long ms = d.count() < 0 ? 0 : static_cast<long long>(d.count());
    char text[40];
    std::snprintf(text, sizeof text, "PT%lld.%03lldS", ms / 1000, ms % 1000);
    return text;
}

namespace {

// The SOAP 1.2 envelope with the addressing and WS-Management headers every
// request of a WMI enumeration carries (DSP0226 and MS-WSMV, their headers): the
// resource is mustUnderstand, so a server that does not serve it faults
// rather than guessing.
std::string envelope(const EnvelopeHeader& h, const char* action, std::string_view body) {
    std::string out;
    out.reserve(1400 + body.size());
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<s:Envelope xmlns:s=\"";
    out += ns::kSoap;
    out += "\" xmlns:a=\"";
    out += ns::kAddressing;
    out += "\" xmlns:n=\"";
    out += ns::kEnumeration;
    out += "\" xmlns:w=\"";
    out += ns::kWsman;
    out += "\" xmlns:p=\"";
    out += ns::kMsWsman;
    out += "\"><s:Header><a:To>";
    out += xmlEscape(h.to);
    out += "</a:To><w:ResourceURI s:mustUnderstand=\"true\">";
    out += ns::kCimv2AllClasses;
    out += "</w:ResourceURI><a:ReplyTo><a:Address s:mustUnderstand=\"true\">";
    out += ns::kAnonymous;
    out += "</a:Address></a:ReplyTo><a:Action s:mustUnderstand=\"true\">";
    out += action;
    out += "</a:Action><w:MaxEnvelopeSize s:mustUnderstand=\"true\">";
    out += std::to_string(h.maxEnvelopeSize);
    out += "</w:MaxEnvelopeSize><a:MessageID>";
    out += xmlEscape(h.messageId.empty() ? newMessageId() : h.messageId);
    out += "</a:MessageID>";
    // Locale is advisory (mustUnderstand false): a
    // server without the language still answers, in its own.
    const std::string locale = xmlEscape(h.locale);
    out += "<w:Locale xml:lang=\"" + locale + "\" s:mustUnderstand=\"false\"/>";
    out += "<p:DataLocale xml:lang=\"" + locale + "\" s:mustUnderstand=\"false\"/>";
    out += "<w:OperationTimeout>";
    out += xsDuration(h.operationTimeout);
    out += "</w:OperationTimeout></s:Header><s:Body>";
    out += body;
    out += "</s:Body></s:Envelope>";
    return out;
}

}  // namespace

std::string enumerateEnvelope(const EnvelopeHeader& header, std::string_view wql,
                              std::uint32_t maxElements) {
    for (char c : wql) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 && c != '\t' && c != '\n' && c != '\r')
            throw Error(errc::kInvalidQuery,
                        "The query holds a control character, which XML cannot carry");
    }
    // OptimizeEnumeration asks for the first page in the response itself
    // (DSP0226 8.2.3, MS-WSMV 3.1.4.1.16); inside Enumerate MaxElements is
    // the wsman element, unlike Pull's.
    std::string body = "<n:Enumerate><w:OptimizeEnumeration/><w:MaxElements>";
    body += std::to_string(maxElements);
    body += "</w:MaxElements><w:Filter Dialect=\"";
    body += ns::kWqlDialect;
    body += "\">";
    body += xmlEscape(wql);
    body += "</w:Filter></n:Enumerate>";
    return envelope(header, ns::kActionEnumerate, body);
}

std::string pullEnvelope(const EnvelopeHeader& header, std::string_view context,
                         std::uint32_t maxElements) {
    std::string body = "<n:Pull><n:EnumerationContext>";
    body += xmlEscape(context);
    body += "</n:EnumerationContext><n:MaxElements>";
    body += std::to_string(maxElements);
    body += "</n:MaxElements></n:Pull>";
    return envelope(header, ns::kActionPull, body);
}

std::string releaseEnvelope(const EnvelopeHeader& header, std::string_view context) {
    std::string body = "<n:Release><n:EnumerationContext>";
    body += xmlEscape(context);
    body += "</n:EnumerationContext></n:Release>";
    return envelope(header, ns::kActionRelease, body);
}

}  // namespace tavo::winrm
