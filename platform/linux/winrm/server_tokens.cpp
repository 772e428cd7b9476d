#include "platform/linux/winrm/server_tokens.h"

#include <cstdint>

namespace tavo::winrm {

namespace {

std::uint32_t le16(std::string_view s, std::size_t at) {
    return static_cast<unsigned char>(s[at]) | static_cast<unsigned char>(s[at + 1]) << 8;
}
std::uint32_t le32(std::string_view s, std::size_t at) {
    return le16(s, at) | le16(s, at + 2) << 16;
}

struct Field {
    const char* name;
    std::size_t offset = 0;
    std::size_t length = 0;
};

// The fixed part of a CHALLENGE message up to the payload, with and without
// the 8-byte version that follows the target information's field.
constexpr std::size_t kHeaderWithoutVersion = 48;
constexpr std::size_t kHeaderWithVersion = 56;
constexpr std::uint32_t kNegotiateVersion = 0x02000000;
constexpr std::uint32_t kNegotiateTargetInfo = 0x00800000;

std::optional<std::string> field(std::string_view t, std::size_t at, const char* name,
                                 std::size_t payloadStart, Field& out) {
    const std::size_t length = le16(t, at);
    const std::size_t maxLength = le16(t, at + 2);
    const std::size_t offset = le32(t, at + 4);
    out = Field{name, offset, length};
    if (length == 0) return std::nullopt;  // an absent field may point anywhere
    const std::size_t extent = length > maxLength ? length : maxLength;
    if (offset < payloadStart)
        return std::string(name) + " starts at byte " + std::to_string(offset) +
               ", inside the message's fixed part";
    if (offset > t.size() || extent > t.size() - offset)
        return std::string(name) + " claims " + std::to_string(extent) + " bytes at offset " +
               std::to_string(offset) + " of a " + std::to_string(t.size()) + "-byte message";
    return std::nullopt;
}

std::optional<std::string> avPairsProblem(std::string_view info) {
    std::size_t at = 0;
    while (true) {
        if (info.size() - at < 4)
            return std::string("its target information ends without MsvAvEOL");
        const std::uint32_t id = le16(info, at);
        const std::size_t length = le16(info, at + 2);
        at += 4;
        if (length > info.size() - at)
            return "an AV pair of its target information (id " + std::to_string(id) + ") claims " +
                   std::to_string(length) + " bytes where " + std::to_string(info.size() - at) +
                   " are left";
        if (id == 0) {
            if (length != 0) return std::string("its MsvAvEOL carries a value");
            return std::nullopt;
        }
        // Pairs the client reads as fixed-size values must have that size.
        if (id == 6 && length != 4) return std::string("its MsvAvFlags is not 4 bytes long");
        if (id == 7 && length != 8) return std::string("its MsvAvTimestamp is not 8 bytes long");
        if (id >= 1 && id <= 5 && length % 2 != 0)
            return "a name in its target information (id " + std::to_string(id) +
                   ") is not UTF-16 (odd length)";
        at += length;
    }
}

}  // namespace

std::optional<std::string> ntlmChallengeProblem(std::string_view t) {
    if (t.size() < 12 || t.substr(0, 8) != std::string_view("NTLMSSP\0", 8))
        return std::string("it is not an NTLM message");
    if (le32(t, 8) != 2)
        return "it is NTLM message type " + std::to_string(le32(t, 8)) + ", not a CHALLENGE";
    if (t.size() < kHeaderWithoutVersion)
        return "it is " + std::to_string(t.size()) + " bytes long, shorter than a CHALLENGE";
    const std::uint32_t flags = le32(t, 20);
    const std::size_t payload =
        (flags & kNegotiateVersion) != 0 ? kHeaderWithVersion : kHeaderWithoutVersion;
    if (t.size() < payload)
        return std::string("it announces a version that the message has no room for");
    Field name, info;
    if (auto p = field(t, 12, "its target name", payload, name)) return p;
    if (auto p = field(t, 40, "its target information", payload, info)) return p;
    if (name.length != 0 && info.length != 0 && name.offset < info.offset + info.length &&
        info.offset < name.offset + name.length)
        return std::string("its target name and target information overlap");
    if (info.length == 0) {
        // Without it there is no NTLMv2 response to make.
        return std::string((flags & kNegotiateTargetInfo) != 0
                               ? "its target information is announced but empty"
                               : "it carries no target information");
    }
    return avPairsProblem(t.substr(info.offset, info.length));
}

namespace {

// One DER element at `at`: its header length and content length; false when
// the lengths do not fit in `s`.
bool tlv(std::string_view s, std::size_t at, std::size_t& header, std::size_t& content) {
    if (s.size() - at < 2) return false;
    const auto tag = static_cast<unsigned char>(s[at]);
    if ((tag & 0x1f) == 0x1f) return false;  // long tag numbers have no place in these tokens
    const auto first = static_cast<unsigned char>(s[at + 1]);
    header = 2;
    if (first < 0x80) {
        content = first;
    } else {
        const std::size_t n = first & 0x7f;
        if (n == 0 || n > 4 || s.size() - at - 2 < n) return false;  // no indefinite form
        content = 0;
        for (std::size_t i = 0; i < n; ++i)
            content = content << 8 | static_cast<unsigned char>(s[at + 2 + i]);
        header += n;
    }
    return content <= s.size() - at - header;
}

// The elements of `s` fill it exactly, and so do the children of every
// constructed one.
bool derSequence(std::string_view s, int depth) {
    if (depth > 24) return false;
    std::size_t at = 0;
    while (at < s.size()) {
        std::size_t header = 0, content = 0;
        if (!tlv(s, at, header, content)) return false;
        const bool constructed = (static_cast<unsigned char>(s[at]) & 0x20) != 0;
        if (constructed && !derSequence(s.substr(at + header, content), depth + 1)) return false;
        at += header + content;
    }
    return true;
}

}  // namespace

std::optional<std::string> kerberosTokenProblem(std::string_view t) {
    if (t.empty()) return std::string("it is empty");
    std::size_t header = 0, content = 0;
    if (!tlv(t, 0, header, content) || header + content != t.size())
        return std::string("its outer length does not match its size");
    const auto tag = static_cast<unsigned char>(t[0]);
    if (tag == 0xa1) {  // SPNEGO's NegTokenResp
        if (!derSequence(t, 0)) return std::string("its SPNEGO framing is broken");
        return std::nullopt;
    }
    if (tag != 0x60) return std::string("it is neither a GSSAPI nor a SPNEGO token");
    // The mechanism's OID, then (for Kerberos) a two-byte token id and one
    // DER element: an AP-REP or a KRB-ERROR.
    std::string_view inner = t.substr(header);
    std::size_t oidHeader = 0, oidLength = 0;
    if (inner.empty() || inner[0] != 0x06 || !tlv(inner, 0, oidHeader, oidLength))
        return std::string("it names no mechanism");
    const std::string_view oid = inner.substr(oidHeader, oidLength);
    inner = inner.substr(oidHeader + oidLength);
    if (oid == std::string_view("\x2b\x06\x01\x05\x05\x02", 6)) {  // SPNEGO
        std::size_t h = 0, c = 0;
        if (!tlv(inner, 0, h, c) || h + c != inner.size() || !derSequence(inner, 0))
            return std::string("its SPNEGO framing is broken");
        return std::nullopt;
    }
    if (inner.size() < 2) return std::string("it ends after its mechanism");
    inner = inner.substr(2);
    std::size_t h = 0, c = 0;
    if (!tlv(inner, 0, h, c) || h + c != inner.size() || !derSequence(inner, 0))
        return std::string("its Kerberos message's framing is broken");
    return std::nullopt;
}

}  // namespace tavo::winrm
