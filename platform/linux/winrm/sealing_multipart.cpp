#include "platform/linux/winrm/sealing_multipart.h"
#include "support/text.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace tavo::winrm::sealing {

namespace {

// The header lines of a part: up to and including the first CRLF that is
// followed by something other than a tab or space (a folded part header).
std::size_t skipLine(std::string_view body, std::size_t at) {
    std::size_t eol = body.find("\r\n", at);
    if (eol == std::string_view::npos) throw Malformed{"a part header has no line end"};
    return eol + 2;
}

}  // namespace

std::string contentType() {
    return "multipart/encrypted;protocol=\"" + std::string(kProtocol) + "\";boundary=\"" +
           std::string(kBoundary) + "\"";
}

bool isSealed(std::string_view header) {
    std::string h = text::toLower(header);
    return h.find("multipart/encrypted") != std::string::npos &&
           h.find(text::toLower(kProtocol)) != std::string::npos;
}

std::string boundaryOf(std::string_view header) {
    std::string h = text::toLower(header);
    std::size_t at = h.find("boundary=");
    if (at == std::string::npos) return std::string(kBoundary);
    std::string_view rest = header.substr(at + 9);
    if (!rest.empty() && rest.front() == '"') {
        rest.remove_prefix(1);
        return std::string(rest.substr(0, rest.find('"')));
    }
    return std::string(rest.substr(0, rest.find(';')));
}

std::string frame(std::size_t plainLength, std::string_view signature, std::string_view sealed) {
    std::string out = frameHead(plainLength, signature.size());
    out.reserve(out.size() + signature.size() + sealed.size() + frameTail().size());
    out += signature;
    out += sealed;
    out += frameTail();
    return out;
}

std::string_view frameTail() {
    return "--Encrypted Boundary--\r\n";
}

std::string frameHead(std::size_t plainLength, std::size_t signatureLength) {
    const std::string marker = "--" + std::string(kBoundary);
    std::string out;
    out += marker + "\r\n";
    out += "\tContent-Type: " + std::string(kProtocol) + "\r\n";
    out += "\tOriginalContent: type=application/soap+xml;charset=UTF-8;Length=" +
           std::to_string(plainLength) + "\r\n";
    out += marker + "\r\n";
    out += "\tContent-Type: application/octet-stream\r\n";
    const auto n = static_cast<std::uint32_t>(signatureLength);
    const char length[4] = {static_cast<char>(n & 0xff), static_cast<char>((n >> 8) & 0xff),
                            static_cast<char>((n >> 16) & 0xff),
                            static_cast<char>((n >> 24) & 0xff)};
    out.append(length, 4);
    return out;
}

std::vector<Part> parse(std::string_view body, std::string_view boundary) {
    const std::string marker = "--" + std::string(boundary);
    std::vector<Part> parts;
    std::size_t at = 0;
    for (;;) {
        if (body.substr(at, marker.size()) != marker)
            throw Malformed{"a part does not begin with the boundary"};
        at += marker.size();
        if (body.substr(at, 2) == "--") break;  // the closing boundary
        if (body.substr(at, 2) != "\r\n") throw Malformed{"the boundary line does not end"};
        at += 2;

        // The first part: the original content type and its length.
        std::size_t next = body.find(marker, at);
        if (next == std::string_view::npos) throw Malformed{"the data part is missing"};
        std::string_view head = body.substr(at, next - at);
        std::size_t len = text::toLower(head).find("length=");
        if (len == std::string_view::npos)
            throw Malformed{"the first part does not declare the original length"};
        Part part;
        const char* digits = head.data() + len + 7;
        auto [ptr, ec] = std::from_chars(digits, head.data() + head.size(), part.declaredLength);
        if (ec != std::errc() || ptr == digits)
            throw Malformed{"the declared original length is not a number"};
        at = next + marker.size();
        if (body.substr(at, 2) != "\r\n") throw Malformed{"the boundary line does not end"};
        at = skipLine(body, at + 2);  // "\tContent-Type: application/octet-stream"

        // The second part: signature length, signature, sealed bytes.
        if (body.size() - at < 4) throw Malformed{"the data part is cut short"};
        const auto* b = reinterpret_cast<const unsigned char*>(body.data() + at);
        std::uint32_t sigLen = b[0] | (b[1] << 8) | (b[2] << 16) | (std::uint32_t(b[3]) << 24);
        at += 4;
        if (sigLen > body.size() - at) throw Malformed{"the signature is longer than the part"};
        part.signature = body.substr(at, sigLen);
        at += sigLen;
        // The sealed bytes run up to the next boundary. Sealing keeps the
        // length (plus a block's padding at most), so look there first: the
        // bytes themselves might by chance contain the boundary's text.
        std::size_t end = std::string_view::npos;
        if (part.declaredLength <= body.size() - at) {
            auto hint = at + static_cast<std::size_t>(part.declaredLength);
            end = body.find(marker, hint);
        }
        if (end == std::string_view::npos) end = body.find(marker, at);
        if (end == std::string_view::npos)
            throw Malformed{"the sealed data has no closing boundary"};
        part.sealed = body.substr(at, end - at);
        at = end;
        parts.push_back(std::move(part));
    }
    if (parts.empty()) throw Malformed{"the body holds no sealed part"};
    return parts;
}

}  // namespace tavo::winrm::sealing
