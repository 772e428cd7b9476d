#include "collectors/management.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <stop_token>
#include <utility>

#include "cycle/deadline.h"
#include "grid/error.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace tavo::wmi {

namespace {

constexpr std::string_view kPrefix = "winmgmts:\\\\";
constexpr std::string_view kNamespace = "\\root\\CIMV2";
// Longest DNS name, without the trailing dot.
constexpr std::size_t kMaxHostName = 253;

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowered(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = lower(c);
    return out;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
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
std::string whyNotComputer(std::string_view computer) {
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

[[noreturn]] void badMoniker(const std::string& moniker, const std::string& why) {
    throw Error(errc::kInvalidSyntax, "Invalid moniker \"" + moniker + "\": " + why +
                                          " (expected winmgmts:\\\\computer\\root\\CIMV2)");
}

bool isLoopbackAddress(std::string_view s) {
    if (s.size() > 2 && s.front() == '[' && s.back() == ']') s = s.substr(1, s.size() - 2);
    if (s.substr(0, 4) == "127." && isIPv4(s)) return true;
    if (s == "::1" || s == "0:0:0:0:0:0:0:1") return true;
    std::string l = lowered(s);
    return l == "::ffff:127.0.0.1";
}

// The names this computer answers to, looked up once: resolving the fully
// qualified name may ask a name server, so it gets a deadline and a computer
// whose resolver hangs simply has no fully qualified name here.
struct LocalNames {
    std::vector<std::string> names;  // lower case
};

#ifndef _WIN32
std::string resolveCanonicalName(const std::string& host) {
    // Looked up once for the whole program: a STOP of the pass that happens
    // to ask first must not leave the program without its own name, so the
    // lookup waits out its deadline whatever that pass does.
    cycle::StopScope whateverThePass{std::stop_token()};
    auto canon = callWithDeadline(std::chrono::seconds(2), "resolve " + host, [host] {
        addrinfo hints{};
        hints.ai_flags = AI_CANONNAME;
        hints.ai_family = AF_UNSPEC;
        addrinfo* res = nullptr;
        std::string name;
        if (getaddrinfo(host.c_str(), nullptr, &hints, &res) == 0 && res) {
            if (res->ai_canonname) name = res->ai_canonname;
            freeaddrinfo(res);
        }
        return name;
    });
    return canon.value_or(std::string());
}
#endif

LocalNames computeLocalNames() {
    LocalNames out;
    auto add = [&](std::string n) {
        while (!n.empty() && n.back() == '.') n.pop_back();
        if (!n.empty()) out.names.push_back(lowered(n));
    };
#ifdef _WIN32
    for (auto kind :
         {ComputerNameNetBIOS, ComputerNameDnsHostname, ComputerNameDnsFullyQualified}) {
        char buf[256];
        DWORD size = sizeof buf;
        if (GetComputerNameExA(kind, buf, &size)) add(std::string(buf, size));
    }
#else
    char buf[256] = {};
    if (gethostname(buf, sizeof buf - 1) == 0) {
        std::string host(buf);
        add(host);
        if (!host.empty()) add(resolveCanonicalName(host));
    }
#endif
    // The start-up target comes from COMPUTERNAME; where it is set it names
    // this computer, so running a report on it must not count as remote.
    if (const char* env = std::getenv("COMPUTERNAME")) add(env);
    return out;
}

const LocalNames& localNames() {
    static const LocalNames names = computeLocalNames();
    return names;
}

class RoutingFactory : public ConnectionFactory {
  public:
    RoutingFactory(std::shared_ptr<Backend> local, std::shared_ptr<Backend> remote)
        : local_(std::move(local)), remote_(std::move(remote)) {}

    std::unique_ptr<Connection> connect(const std::string& moniker) override {
        std::string computer = parseMoniker(moniker);
        if (isLocalComputer(computer)) {
            if (!local_)
                throw Error(errc::kFailed, "No management provider is available for this computer");
            return local_->connect(computer);
        }
        if (!remote_) {
            throw Error(errc::kServerUnavailable,
                        "The computer \"" + computer +
                            "\" cannot be reached: here Tavo reports only on this computer "
                            "(its name, \".\" or \"localhost\"); other computers are reached "
                            "through Tavo on Windows");
        }
        return remote_->connect(computer);
    }

  private:
    std::shared_ptr<Backend> local_;
    std::shared_ptr<Backend> remote_;
};

}  // namespace

std::string monikerFor(const std::string& computer) {
    return std::string(kPrefix) + computer + std::string(kNamespace);
}

std::string parseMoniker(const std::string& moniker) {
    if (moniker.empty()) badMoniker(moniker, "the moniker is empty");
    if (moniker.size() < kPrefix.size() ||
        !equalsNoCase(std::string_view(moniker).substr(0, kPrefix.size()), kPrefix))
        badMoniker(moniker, "it does not start with winmgmts:\\\\");
    std::string_view rest = std::string_view(moniker).substr(kPrefix.size());
    std::size_t slash = rest.find('\\');
    if (slash == std::string_view::npos) badMoniker(moniker, "the namespace is missing");
    std::string_view computer = rest.substr(0, slash);
    std::string_view ns = rest.substr(slash);
    // The service matches namespace names without regard to case.
    if (!equalsNoCase(ns, kNamespace))
        badMoniker(moniker,
                   "the namespace \"" + std::string(ns.substr(1)) + "\" is not root\\CIMV2");
    if (std::string why = whyNotComputer(computer); !why.empty()) badMoniker(moniker, why);
    return std::string(computer);
}

bool isLocalComputer(const std::string& computer) {
    if (computer == "." || equalsNoCase(computer, "localhost") ||
        equalsNoCase(computer, "localhost.") || isLoopbackAddress(computer))
        return true;
    std::string name = lowered(computer);
    while (!name.empty() && name.back() == '.') name.pop_back();
    if (name.empty()) return false;
    const auto& names = localNames().names;
    return std::find(names.begin(), names.end(), name) != names.end();
}

std::unique_ptr<ConnectionFactory> makeConnectionFactory(std::shared_ptr<Backend> local,
                                                         std::shared_ptr<Backend> remote) {
    return std::make_unique<RoutingFactory>(std::move(local), std::move(remote));
}

}  // namespace tavo::wmi
