#include "remote/target_text.h"

#include <algorithm>
#include <charconv>

#include "grid/error.h"

namespace tavo::remote {

namespace {

// Longest DNS name, without the trailing dot.
constexpr std::size_t kMaxHostName = 253;

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool startsNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), s.begin(),
                      [](char x, char y) { return lower(x) == lower(y); });
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isHex(char c) {
    return isDigit(c) || (lower(c) >= 'a' && lower(c) <= 'f');
}
bool isAlnum(char c) {
    return isDigit(c) || (lower(c) >= 'a' && lower(c) <= 'z');
}

bool isIPv4(std::string_view s) {
    int parts = 0;
    std::size_t i = 0;
    while (true) {
        std::size_t start = i;
        int value = 0;
        while (i < s.size() && isDigit(s[i]) && i - start < 3) value = value * 10 + (s[i++] - '0');
        std::size_t len = i - start;
        // No empty part, no part above 255, no leading zero (which some
        // resolvers read as octal, so the user would reach another host).
        if (len == 0 || value > 255 || (len > 1 && s[start] == '0')) return false;
        ++parts;
        if (i == s.size()) return parts == 4;
        if (s[i] != '.' || parts == 4) return false;
        ++i;
    }
}

bool isIPv6(std::string_view s) {
    // An optional zone ("fe80::1%eth0") names the local interface to use.
    if (auto pct = s.find('%'); pct != std::string_view::npos) {
        std::string_view zone = s.substr(pct + 1);
        if (zone.empty() || !std::all_of(zone.begin(), zone.end(), [](char c) {
                return isAlnum(c) || c == '_' || c == '-' || c == '.';
            }))
            return false;
        s = s.substr(0, pct);
    }
    if (s.size() < 2) return false;
    int groups = 0;
    bool compressed = false;
    std::size_t i = 0;
    if (s.substr(0, 2) == "::") {
        compressed = true;
        i = 2;
        if (i == s.size()) return true;  // "::"
    } else if (s[0] == ':') {
        return false;
    }
    while (i < s.size()) {
        std::size_t start = i;
        while (i < s.size() && isHex(s[i]) && i - start < 5) ++i;
        std::size_t len = i - start;
        if (i < s.size() && s[i] == '.') {
            // A trailing IPv4 part counts as two groups.
            if (!isIPv4(s.substr(start))) return false;
            groups += 2;
            i = s.size();
            break;
        }
        if (len == 0 || len > 4) return false;
        ++groups;
        if (i == s.size()) break;
        if (s[i] != ':') return false;
        ++i;
        if (i < s.size() && s[i] == ':') {
            if (compressed) return false;
            compressed = true;
            ++i;
        } else if (i == s.size()) {
            return false;  // a single trailing colon
        }
    }
    return compressed ? groups < 8 : groups == 8;
}

// A DNS or NetBIOS style name: labels of letters, digits, '-' and '_' (which
// Windows computer names allow), none empty or longer than 63, none starting
// or ending with '-'; one trailing dot allowed for a fully qualified name.
bool isHostName(std::string_view s) {
    if (!s.empty() && s.back() == '.') s.remove_suffix(1);
    if (s.empty() || s.size() > kMaxHostName) return false;
    bool allNumeric = true;
    std::size_t start = 0;
    while (start <= s.size()) {
        std::size_t end = s.find('.', start);
        if (end == std::string_view::npos) end = s.size();
        std::string_view label = s.substr(start, end - start);
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
            return false;
        for (char c : label) {
            if (!isAlnum(c) && c != '-' && c != '_') return false;
            if (!isDigit(c)) allNumeric = false;
        }
        start = end + 1;
    }
    // "10.0.0.300" is a mistyped address, not a name.
    return !allNumeric;
}

// Why `computer` cannot name a computer, or "" when it can.
std::string whyNotComputerName(std::string_view computer) {
    if (computer.empty()) return "the computer name is missing";
    for (char c : computer) {
        auto u = static_cast<unsigned char>(c);
        if (u >= 0x80) return "the computer name holds a character outside ASCII";
        if (u <= 0x20) return "the computer name holds a space or a control character";
        if (c == '\\' || c == '/') return "the computer name holds a slash or backslash";
    }
    if (computer == ".") return {};
    if (computer.size() > kMaxHostName + 1)
        return "the computer name is longer than " + std::to_string(kMaxHostName) + " characters";
    if (computer.front() == '[' && computer.back() == ']' && computer.size() > 2) {
        if (isIPv6(computer.substr(1, computer.size() - 2))) return {};
        return "the computer name is not a valid IPv6 address";
    }
    if (computer.find(':') != std::string_view::npos) {
        if (isIPv6(computer)) return {};
        return "the computer name is not a valid IPv6 address";
    }
    bool dotted = std::all_of(computer.begin(), computer.end(),
                              [](char c) { return isDigit(c) || c == '.'; });
    if (dotted) {
        if (isIPv4(computer)) return {};
        return "the computer name is not a valid IPv4 address";
    }
    if (isHostName(computer)) return {};
    return "the computer name is neither a host name nor an IP address";
}

// The user part: what an account name can hold on either kind of system,
// but nothing that would end the part early or change what the rest means.
std::string whyNotUser(std::string_view user) {
    if (user.empty()) return "the user name before '@' is empty";
    for (char c : user) {
        auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u == 0x7f) return "the user name holds a space or a control character";
        if (c == ':' || c == '/' || c == '\\' || c == '[' || c == ']')
            return std::string("the user name holds '") + c + "'";
    }
    return {};
}

std::string whyNotPort(std::string_view text, int& port) {
    if (text.empty()) return "the port after ':' is missing";
    if (!std::all_of(text.begin(), text.end(), [](char c) { return isDigit(c); }))
        return "the port \"" + std::string(text) + "\" is not a number";
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 1 || value > 65535)
        return "the port " + std::string(text) + " is not between 1 and 65535";
    port = value;
    return {};
}

// Splits `text` into `out`; the reason it cannot, or "".
std::string split(std::string_view text, Target& out) {
    out = Target{};
    if (text.empty()) return "the computer name is missing";
    struct Known {
        std::string_view prefix;
        Scheme scheme;
    };
    constexpr Known kSchemes[] = {
        {"ssh://", Scheme::Ssh}, {"winrm://", Scheme::WinRm}, {"https://", Scheme::Https}};
    for (const Known& k : kSchemes) {
        if (startsNoCase(text, k.prefix)) {
            out.scheme = k.scheme;
            text.remove_prefix(k.prefix.size());
            break;
        }
    }
    if (out.scheme == Scheme::None) {
        if (auto sep = text.find("://"); sep != std::string_view::npos)
            return "the scheme \"" + std::string(text.substr(0, sep)) +
                   "\" is not one of ssh, winrm, https";
    } else {
        // The service's own address ends in /wsman; people paste it whole.
        if (out.scheme != Scheme::Ssh) {
            for (std::string_view path : {std::string_view("/wsman"), std::string_view("/")}) {
                if (text.size() > path.size() &&
                    startsNoCase(text.substr(text.size() - path.size()), path)) {
                    text.remove_suffix(path.size());
                    break;
                }
            }
        }
        if (text.find('/') != std::string_view::npos)
            return "a path after the computer name is not allowed";
    }
    // The last '@' ends the user, so "user@REALM@host" keeps its realm.
    if (auto at = text.rfind('@'); at != std::string_view::npos) {
        std::string_view user = text.substr(0, at);
        if (std::string why = whyNotUser(user); !why.empty()) return why;
        out.user = std::string(user);
        text.remove_prefix(at + 1);
    }
    std::string_view host = text;
    if (!text.empty() && text.front() == '[') {
        auto close = text.find(']');
        if (close == std::string_view::npos) return "the '[' of an IPv6 address is not closed";
        host = text.substr(1, close - 1);
        std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return "only a port may follow an IPv6 address in brackets";
            if (std::string why = whyNotPort(rest.substr(1), out.port); !why.empty()) return why;
        }
        if (!isIPv6(host)) return "the computer name is not a valid IPv6 address";
    } else if (std::count(text.begin(), text.end(), ':') == 1) {
        auto colon = text.find(':');
        host = text.substr(0, colon);
        if (std::string why = whyNotPort(text.substr(colon + 1), out.port); !why.empty())
            return why;
        if (host.empty()) return "the computer name is missing";
    }
    // "." names this computer only on its own; with a user or port it is a typo.
    if (host == "." && out.explicitRemote()) return "\".\" cannot take a user, port or scheme";
    if (std::string why = whyNotComputerName(host); !why.empty()) return why;
    out.host = std::string(host);
    return {};
}

}  // namespace

std::string Target::display() const {
    std::string out;
    if (!user.empty()) out += user + "@";
    const bool v6 = host.find(':') != std::string::npos;
    if (port != 0 && v6) {
        out += "[" + host + "]:" + std::to_string(port);
    } else {
        out += host;
        if (port != 0) out += ":" + std::to_string(port);
    }
    return out;
}

bool isLoopbackHost(std::string_view s) {
    if (s.size() > 2 && s.front() == '[' && s.back() == ']') s = s.substr(1, s.size() - 2);
    if (s.substr(0, 4) == "127." && isIPv4(s)) return true;
    if (s == "::1" || s == "0:0:0:0:0:0:0:1") return true;
    return startsNoCase(s, "::ffff:127.0.0.1") && s.size() == 16;
}

std::string whyNotTarget(std::string_view text) {
    Target t;
    return split(text, t);
}

Target parseTarget(std::string_view text) {
    Target t;
    if (std::string why = split(text, t); !why.empty())
        throw Error(errc::kInvalidSyntax,
                    "The computer \"" + std::string(text) + "\" cannot be used: " + why +
                        " (expected host, user@host, host:port, "
                        "ssh://user@host:port, winrm://host or https://host)");
    return t;
}

}  // namespace tavo::remote
