#include "remote/target_text.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <sys/socket.h>
#endif

#include <algorithm>
#include <cstring>

#include "grid/error.h"
#include "support/text.h"

namespace tavo::remote {

namespace {

// Longest DNS name, without the trailing dot.
constexpr std::size_t kMaxHostName = 253;

using text::isDigit;

bool isAlnum(char c) {
    const char l = text::toLower(c);
    return isDigit(c) || (l >= 'a' && l <= 'z');
}

// Whether the system's own parser takes `s` as an address of `family`: the
// connection is made with the same rules, so a text Tavo accepts is one the
// resolver reads as the address the user typed, and no other.
bool systemParses(int family, std::string_view s) {
    char buf[64];  // the longest address, INET6_ADDRSTRLEN, is 46 bytes
    if (s.size() >= sizeof buf || s.find('\0') != std::string_view::npos) return false;
    std::memcpy(buf, s.data(), s.size());
    buf[s.size()] = '\0';
    unsigned char address[16];
    return inet_pton(family, buf, address) == 1;
}

bool isIPv4(std::string_view s) {
    // No part with a leading zero: some resolvers read it as octal, so the
    // user would reach another host. glibc's inet_pton refuses it too, but
    // Windows's reads it as decimal.
    for (std::string_view part : text::split(s, '.')) {
        if (part.size() > 1 && part.front() == '0') return false;
    }
    return systemParses(AF_INET, s);
}

bool isIPv6(std::string_view s) {
    // An optional zone ("fe80::1%eth0") names the local interface to use;
    // inet_pton knows no zones, so it is checked here and left out.
    if (auto pct = s.find('%'); pct != std::string_view::npos) {
        std::string_view zone = s.substr(pct + 1);
        if (zone.empty() || !std::all_of(zone.begin(), zone.end(), [](char c) {
                return isAlnum(c) || c == '_' || c == '-' || c == '.';
            }))
            return false;
        s = s.substr(0, pct);
    }
    return systemParses(AF_INET6, s);
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
    const auto value = text::wholeNumber<int>(text);
    if (!value || *value < 1 || *value > 65535)
        return "the port " + std::string(text) + " is not between 1 and 65535";
    port = *value;
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
        if (text::startsWithIgnoreCase(text, k.prefix)) {
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
                    text::startsWithIgnoreCase(text.substr(text.size() - path.size()), path)) {
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
    return text::startsWithIgnoreCase(s, "::ffff:127.0.0.1") && s.size() == 16;
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
