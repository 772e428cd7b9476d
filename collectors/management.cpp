#include "collectors/management.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <stop_token>
#include <utility>

#include "grid/error.h"
#include "remote/target_text.h"
#include "support/deadline.h"
#include "support/text.h"

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

[[noreturn]] void badMoniker(const std::string& moniker, const std::string& why) {
    throw Error(errc::kInvalidSyntax, "Invalid moniker \"" + moniker + "\": " + why +
                                          " (expected winmgmts:\\\\computer\\root\\CIMV2)");
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
        if (!n.empty()) out.names.push_back(text::toLower(n));
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

    void closeSessions() override {
        if (local_) local_->closeSessions();
        if (remote_ && remote_ != local_) remote_->closeSessions();
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
        !text::equalsIgnoreCase(std::string_view(moniker).substr(0, kPrefix.size()), kPrefix))
        badMoniker(moniker, "it does not start with winmgmts:\\\\");
    std::string_view rest = std::string_view(moniker).substr(kPrefix.size());
    std::size_t slash = rest.find('\\');
    if (slash == std::string_view::npos) badMoniker(moniker, "the namespace is missing");
    std::string_view computer = rest.substr(0, slash);
    std::string_view ns = rest.substr(slash);
    // The service matches namespace names without regard to case.
    if (!text::equalsIgnoreCase(ns, kNamespace))
        badMoniker(moniker,
                   "the namespace \"" + std::string(ns.substr(1)) + "\" is not root\\CIMV2");
    if (std::string why = remote::whyNotTarget(computer); !why.empty()) badMoniker(moniker, why);
    return std::string(computer);
}

bool isLocalComputer(const std::string& computer) {
    // A user, a port or a scheme asks for a service on the computer, which
    // the built-in provider is not, even when the host is this one.
    remote::Target target;
    try {
        target = remote::parseTarget(computer);
    } catch (const Error&) {
        return false;
    }
    if (target.explicitRemote()) return false;
    const std::string& host = target.host;
    if (host == "." || text::equalsIgnoreCase(host, "localhost") ||
        text::equalsIgnoreCase(host, "localhost.") || remote::isLoopbackHost(host))
        return true;
    std::string name = text::toLower(host);
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
