#include "platform/linux/winrm/http_message.h"
#include "support/text.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include <openssl/evp.h>

namespace tavo::winrm::http {

namespace {

// Enough for any header block a WS-Management peer sends (a Negotiate token
// of a few kilobytes at most); a longer one is a broken or hostile peer.
constexpr std::size_t kMaxHead = 64 * 1024;
constexpr std::size_t kReadChunk = 64 * 1024;

bool containsToken(std::string_view list, std::string_view token) {
    while (!list.empty()) {
        std::size_t comma = list.find(',');
        if (text::equalsIgnoreCase(text::trim(list.substr(0, comma)), token)) return true;
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
    return false;
}

}  // namespace

std::string formatHeaders(const Headers& headers, std::size_t bodyLength) {
    std::string out;
    for (const auto& [name, value] : headers.fields) {
        out += name;
        out += ": ";
        out += value;
        out += "\r\n";
    }
    out += "Content-Length: " + std::to_string(bodyLength) + "\r\n\r\n";
    return out;
}

const std::string* Headers::find(std::string_view name) const {
    for (const auto& [n, v] : fields)
        if (text::equalsIgnoreCase(n, name)) return &v;
    return nullptr;
}

std::string formatRequestHead(const std::string& method, const std::string& target,
                              const Headers& headers, std::size_t bodyLength) {
    return method + " " + target + " HTTP/1.1\r\n" + formatHeaders(headers, bodyLength);
}

std::string base64Encode(std::string_view bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                            reinterpret_cast<const unsigned char*>(bytes.data()),
                            static_cast<int>(bytes.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

std::optional<std::string> base64Decode(std::string_view text) {
    text = text::trim(text);
    if (text.size() % 4 != 0) return std::nullopt;
    std::string out(3 * (text.size() / 4) + 1, '\0');
    int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                            reinterpret_cast<const unsigned char*>(text.data()),
                            static_cast<int>(text.size()));
    if (n < 0) return std::nullopt;
    // EVP_DecodeBlock counts the padding as zero bytes.
    std::size_t pad = 0;
    if (!text.empty() && text.back() == '=') ++pad;
    if (text.size() > 1 && text[text.size() - 2] == '=') ++pad;
    out.resize(static_cast<std::size_t>(n) - pad);
    return out;
}

std::optional<std::string> challengeToken(const Headers& headers, std::string_view scheme) {
    for (const auto& [name, value] : headers.fields) {
        if (!text::equalsIgnoreCase(name, "WWW-Authenticate")) continue;
        // One field may list several challenges: "Negotiate abc=, Basic realm=x".
        std::string_view rest = value;
        while (!rest.empty()) {
            std::size_t comma = rest.find(',');
            std::string_view item = text::trim(rest.substr(0, comma));
            rest.remove_prefix(comma == std::string_view::npos ? rest.size() : comma + 1);
            std::size_t space = item.find(' ');
            if (text::equalsIgnoreCase(item.substr(0, space), scheme))
                return std::string(space == std::string_view::npos
                                       ? std::string_view()
                                       : text::trim(item.substr(space)));
        }
    }
    return std::nullopt;
}

MessageReader::MessageReader(ReadSome readSome, std::size_t maxBody)
    : readSome_(std::move(readSome)), maxBody_(maxBody) {}

void MessageReader::reset() {
    buffer_.clear();
    begin_ = 0;
}

std::size_t MessageReader::fill() {
    // Drop what was consumed once it is most of the buffer, so a long
    // exchange neither grows the buffer without end nor copies it per read.
    if (begin_ > 0 && begin_ >= buffer_.size() / 2) {
        buffer_.erase(0, begin_);
        begin_ = 0;
    }
    std::size_t old = buffer_.size();
    buffer_.resize(old + kReadChunk);
    std::size_t got = 0;
    try {
        got = readSome_(buffer_.data() + old, kReadChunk);
    } catch (...) {
        buffer_.resize(old);
        throw;
    }
    buffer_.resize(old + got);
    return got;
}

std::string_view MessageReader::takeHead() {
    // Where the search resumes, counted from the first unread byte: the
    // marker may straddle two reads, and fill() may move the unread bytes.
    std::size_t scanned = 0;
    for (;;) {
        std::size_t end = buffer_.find("\r\n\r\n", begin_ + scanned);
        if (end != std::string::npos) {
            std::string_view head(buffer_.data() + begin_, end + 2 - begin_);
            begin_ = end + 4;
            return head;
        }
        std::size_t unread = buffer_.size() - begin_;
        if (unread > kMaxHead)
            throw Malformed{"the header block is longer than " + std::to_string(kMaxHead) +
                            " bytes"};
        scanned = unread >= 3 ? unread - 3 : 0;
        if (fill() == 0) {
            if (unread == 0) throw ClosedBeforeMessage{};
            throw Malformed{"the connection closed in the middle of a header block"};
        }
    }
}

std::string_view MessageReader::takeLine() {
    for (;;) {
        std::size_t end = buffer_.find("\r\n", begin_);
        if (end != std::string::npos) {
            std::string_view line(buffer_.data() + begin_, end - begin_);
            begin_ = end + 2;
            return line;
        }
        if (buffer_.size() - begin_ > 4096) throw Malformed{"a chunk header line is too long"};
        if (fill() == 0) throw Malformed{"the connection closed in the middle of a chunked body"};
    }
}

std::string MessageReader::take(std::size_t n) {
    const std::size_t have = buffer_.size() - begin_;
    if (have >= n) {
        std::string out(buffer_.data() + begin_, n);
        begin_ += n;
        return out;
    }
    // The rest of a large body goes straight into its own string: one copy
    // of the bulk, and the buffer stays small.
    std::string out;
    out.resize(n);
    std::memcpy(out.data(), buffer_.data() + begin_, have);
    begin_ = buffer_.size();
    std::size_t got = have;
    while (got < n) {
        std::size_t k = readSome_(out.data() + got, n - got);
        if (k == 0)
            throw Malformed{"the connection closed before the end of the body (" +
                            std::to_string(n) + " bytes announced)"};
        got += k;
    }
    return out;
}

void MessageReader::readBody(Message& message, bool isResponse) {
    const std::string* te = message.headers.find("Transfer-Encoding");
    const std::string* cl = message.headers.find("Content-Length");
    if (te && containsToken(*te, "chunked")) {
        std::string body;
        for (;;) {
            std::string_view line = takeLine();
            line = line.substr(0, line.find(';'));  // chunk extensions mean nothing here
            line = text::trim(line);
            std::size_t size = 0;
            auto [ptr, ec] = std::from_chars(line.data(), line.data() + line.size(), size, 16);
            if (ec != std::errc() || ptr != line.data() + line.size() || line.empty())
                throw Malformed{"a chunk size is not a hexadecimal number"};
            if (size == 0) break;
            if (size > maxBody_ || body.size() + size > maxBody_)
                throw Malformed{"the body is larger than the limit of " + std::to_string(maxBody_) +
                                " bytes"};
            body += take(size);
            if (!takeLine().empty()) throw Malformed{"a chunk does not end where its size says"};
        }
        while (!takeLine().empty()) {
        }  // trailer fields are not used
        message.body = std::move(body);
        return;
    }
    if (cl) {
        std::string_view text = text::trim(*cl);
        std::size_t size = 0;
        auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), size);
        if (ec != std::errc() || ptr != text.data() + text.size() || text.empty())
            throw Malformed{"Content-Length is not a number"};
        if (size > maxBody_)
            throw Malformed{"the body is larger than the limit of " + std::to_string(maxBody_) +
                            " bytes"};
        message.body = take(size);
        return;
    }
    if (!isResponse || message.status / 100 == 1 || message.status == 204 || message.status == 304)
        return;
    // A response framed by the end of the connection.
    message.closes = true;
    while (fill() != 0) {
        if (buffer_.size() - begin_ > maxBody_)
            throw Malformed{"the body is larger than the limit of " + std::to_string(maxBody_) +
                            " bytes"};
    }
    message.body.assign(buffer_, begin_);
    begin_ = buffer_.size();
}

void MessageReader::parseFields(std::string_view rest, Headers& headers) {
    while (!rest.empty()) {
        std::size_t eol = rest.find("\r\n");
        std::string_view line = rest.substr(0, eol);
        rest.remove_prefix(eol == std::string_view::npos ? rest.size() : eol + 2);
        if (line.empty()) continue;
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0 || line.front() == ' ' ||
            line.front() == '\t')
            throw Malformed{"a header line has no name"};
        headers.add(std::string(line.substr(0, colon)),
                    std::string(text::trim(line.substr(colon + 1))));
    }
}

bool MessageReader::closesAfter(const Message& m, std::string_view version) {
    const std::string* connection = m.headers.find("Connection");
    if (connection && containsToken(*connection, "close")) return true;
    if (version == "HTTP/1.0") return !(connection && containsToken(*connection, "keep-alive"));
    return false;
}

Message MessageReader::readResponse() {
    std::string_view head = takeHead();
    std::size_t eol = head.find("\r\n");
    std::string_view line = head.substr(0, eol);
    Message m;
    // "HTTP/1.1 200 OK"
    if (line.size() < 12 || line.substr(0, 5) != "HTTP/" || line[8] != ' ')
        throw Malformed{"the reply does not begin with an HTTP status line"};
    std::string_view version = line.substr(0, 8);
    auto [ptr, ec] = std::from_chars(line.data() + 9, line.data() + 12, m.status);
    if (ec != std::errc() || ptr != line.data() + 12 || m.status < 100 || m.status > 599)
        throw Malformed{"the reply's status is not a number"};
    m.reason = std::string(text::trim(line.substr(12)));
    parseFields(head.substr(eol + 2), m.headers);
    m.closes = closesAfter(m, version);
    readBody(m, true);
    return m;
}

}  // namespace tavo::winrm::http
