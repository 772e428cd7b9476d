#include "platform/linux/ssh/remote_backend.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <future>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "cycle/cancellation.h"
#include "cycle/deadline.h"
#include "grid/error.h"
#include "platform/linux/net/tcp_connect.h"
#include "support/text.h"

namespace tavo::ssh {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Asking a computer that answered SSH what it runs: a login and one round
// trip, which a loaded host takes a while for.
constexpr milliseconds kSystemQuestionDeadline{10000};

struct PortProbe {
    int port = 0;
    bool answered = false;
    std::string why;  // when it did not
};

// Connects to every port of `host` at once, so an address that never
// answers costs one timeout, not one per port. Honours the pass's STOP.
std::vector<PortProbe> probePorts(const std::string& host, const std::vector<int>& ports,
                                  milliseconds timeout) {
    std::vector<PortProbe> out;
    for (int p : ports) out.push_back({p, false, "no answer within the probe's time"});
    const auto until = Clock::now() + timeout;

    // A resolver can hang; the lookup gets the same deadline.
    const auto resolved = linuxnet::resolveUntil(host, 0, until);
    if (!resolved || !resolved->error.empty()) {
        const std::string why = !resolved
                                    ? "its name could not be resolved in time"
                                    : "its name could not be resolved (" + resolved->error + ")";
        for (auto& p : out) p.why = why;
        return out;
    }
    const std::stop_token stop = cycle::currentStopToken();
    std::vector<std::future<linuxnet::TcpConnect>> tries;
    for (const auto& p : out) {
        tries.push_back(std::async(std::launch::async, [&resolved, port = p.port, until, stop] {
            cycle::StopScope scope(stop);
            return linuxnet::connectAddresses(*resolved, port, until);
        }));
    }
    for (std::size_t i = 0; i < out.size(); ++i) {
        const linuxnet::TcpConnect c = tries[i].get();
        switch (c.result) {
            case linuxnet::TcpConnect::Result::Connected:
                out[i].answered = true;
                ::close(c.fd);
                break;
            case linuxnet::TcpConnect::Result::Stopped:
                out[i].why = "stopped";
                break;
            case linuxnet::TcpConnect::Result::Failed:
                out[i].why = c.why;
                break;
            default:  // no answer by the deadline: the text set above
                break;
        }
    }
    return out;
}

// What a connection over SSH holds: the session and the provider over it
// live at least as long as the connection a pass is using.
class HeldConnection : public wmi::Connection {
  public:
    HeldConnection(std::unique_ptr<wmi::Connection> inner, std::shared_ptr<SshShell> shell,
                   std::shared_ptr<wmi::Backend> provider)
        : shell_(std::move(shell)), provider_(std::move(provider)), inner_(std::move(inner)) {}
    std::unique_ptr<wmi::ResultSet> execQuery(const std::string& query) override {
        return inner_->execQuery(query);
    }

  private:
    std::shared_ptr<SshShell> shell_;
    std::shared_ptr<wmi::Backend> provider_;
    std::unique_ptr<wmi::Connection> inner_;  // released first
};

enum class Route { Ssh, WinRm };

// How a bare name was found to be reached.
struct Remembered {
    Route route = Route::Ssh;
    std::string winRmText;  // what a WinRM computer is handed on as
};

class RemoteBackend : public wmi::Backend {
  public:
    explicit RemoteBackend(RemoteBackendParts parts) : parts_(std::move(parts)) {
        if (!parts_.prompter) parts_.prompter = remote::makeNoPrompter();
    }
    // The futures of closeSessions() come from std::async: destroying them
    // waits for the goodbyes.
    ~RemoteBackend() override = default;

    std::unique_ptr<wmi::Connection> connect(const std::string& computer) override {
        const remote::Target target = remote::parseTarget(computer);
        switch (target.scheme) {
            case remote::Scheme::WinRm:
            case remote::Scheme::Https:
                return overWinRm(computer);
            case remote::Scheme::Ssh:
                return overSsh(computer, target, nullptr);
            case remote::Scheme::None:
                break;
        }
        if (target.explicitRemote()) return overSsh(computer, target, nullptr);
        if (auto way = remembered(target.host)) {
            if (way->route == Route::WinRm) return overWinRm(way->winRmText);
            remote::Target viaSsh = target;
            if (parts_.sshProbePort != 22) viaSsh.port = parts_.sshProbePort;
            return overSsh(computer, viaSsh, nullptr);
        }
        return probe(computer, target);
    }

    void closeSessions() override {
        std::map<std::string, Session> old;
        {
            std::lock_guard lock(mutex_);
            old.swap(sessions_);
        }
        // Saying goodbye to a remote can wait on the network: not on the
        // thread that pressed STOP. The passwords are wiped with them. The
        // goodbyes are waited for when the back end goes, never left running
        // while the program exits and libssh's and OpenSSL's globals are torn
        // down under them.
        if (!old.empty()) {
            std::lock_guard lock(mutex_);
            std::erase_if(closing_, [](const std::future<void>& f) {
                return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
            });
            closing_.push_back(
                std::async(std::launch::async, [old = std::move(old)]() mutable { old.clear(); }));
        }
        if (parts_.winrm) parts_.winrm->closeSessions();
    }

  private:
    struct Session {
        std::shared_ptr<SshShell> shell;
        std::shared_ptr<wmi::Backend> provider;
        std::shared_ptr<Secret> password;
    };

    std::optional<Remembered> remembered(const std::string& host) {
        std::lock_guard lock(mutex_);
        auto it = routes_.find(text::toLower(host));
        if (it == routes_.end()) return std::nullopt;
        return it->second;
    }
    void remember(const std::string& host, Remembered way) {
        std::lock_guard lock(mutex_);
        routes_[text::toLower(host)] = std::move(way);
    }

    std::unique_ptr<wmi::Connection> overWinRm(const std::string& computer) {
        if (!parts_.winrm)
            throw Error(errc::kServerUnavailable,
                        "WinRM: \"" + computer +
                            "\" is a Windows computer's management service, and this build of "
                            "Tavo cannot reach it yet. Use Tavo on Windows for that computer.");
        return parts_.winrm->connect(computer);
    }

    // The cached session for `key`, or a new one (which may ask the user).
    Session session(const std::string& key, const remote::Target& target) {
        std::shared_ptr<Secret> password;
        {
            std::lock_guard lock(mutex_);
            auto it = sessions_.find(key);
            if (it != sessions_.end()) {
                if (it->second.shell->connected()) return it->second;
                // Lost since the last pass: connect again with what worked.
                password = it->second.password;
                sessions_.erase(it);
            }
        }
        Session fresh;
        fresh.password = password;
        fresh.shell = SshShell::open(target, parts_.ssh, parts_.prompter, &fresh.password);
        std::lock_guard lock(mutex_);
        sessions_[key] = fresh;
        return fresh;
    }

    std::unique_ptr<wmi::Connection> overSsh(const std::string& key, const remote::Target& target,
                                             Session* opened) {
        Session s = opened ? *opened : session(key, target);
        if (!parts_.provider)
            throw Error(errc::kFailed, "SSH: connected to " + s.shell->describe() +
                                           ", but this build of Tavo has no provider for a "
                                           "remote Linux computer's classes.");
        if (!s.provider) {
            s.provider = parts_.provider(s.shell);
            std::lock_guard lock(mutex_);
            auto it = sessions_.find(key);
            if (it != sessions_.end() && it->second.shell == s.shell)
                it->second.provider = s.provider;
        }
        return std::make_unique<HeldConnection>(s.provider->connect("."), s.shell, s.provider);
    }

    std::unique_ptr<wmi::Connection> probe(const std::string& computer,
                                           const remote::Target& target) {
        std::vector<std::string> tries;
        bool denied = false;
        const int sshPort = parts_.sshProbePort;
        const std::string sshName = "SSH (port " + std::to_string(sshPort) + ")";
        const auto probes = probePorts(target.host, {sshPort, 5985, 5986}, parts_.probeTimeout);
        if (cycle::currentStopToken().stop_requested())
            throw Error(errc::kTimedOut, "The connection to \"" + computer + "\" was stopped.");
        if (probes[0].answered) {
            try {
                remote::Target viaSsh = target;
                if (sshPort != 22) viaSsh.port = sshPort;
                Session s = session(computer, viaSsh);
                const remote::ShellRun r = s.shell->run("uname -s\n", kSystemQuestionDeadline);
                std::string system = r.out.substr(0, r.out.find('\n'));
                if (system == "Linux") {
                    remember(target.host, {Route::Ssh, {}});
                    return overSsh(computer, viaSsh, &s);
                }
                // Not a computer the provider answers for: its login goes now.
                {
                    std::lock_guard lock(mutex_);
                    auto it = sessions_.find(computer);
                    if (it != sessions_.end() && it->second.shell == s.shell) sessions_.erase(it);
                }
                tries.push_back(sshName + " answered, but the computer is not Linux (uname -s: \"" +
                                system.substr(0, 40) + "\")");
            } catch (const Error& e) {
                if (e.number() == errc::kAccessDenied) denied = true;
                tries.push_back(sshName + ": " + e.description());
            }
        } else {
            tries.push_back(sshName + ": " + probes[0].why);
        }
        const bool winrmAnswers = probes[1].answered || probes[2].answered;
        if (winrmAnswers && parts_.winrm) {
            // Only the HTTPS listener answered: say so to the WinRM back end,
            // which otherwise starts with plain HTTP on 5985.
            const std::string via = probes[1].answered ? computer : "https://" + target.display();
            remember(target.host, {Route::WinRm, via});
            return parts_.winrm->connect(via);
        }
        if (winrmAnswers) {
            tries.push_back("WinRM (port " + std::to_string(probes[1].answered ? 5985 : 5986) +
                            ") answered, but this build of Tavo cannot use WinRM yet");
        } else {
            tries.push_back("WinRM (port 5985): " + probes[1].why +
                            "; (port 5986): " + probes[2].why);
        }
        std::string text = "\"" + computer + "\" could not be reported on. Tried ";
        for (std::size_t i = 0; i < tries.size(); ++i) text += (i ? ". Then " : "") + tries[i];
        text += ". Name the way in to skip the probe: ssh://user@" + target.host + " or winrm://" +
                target.host + ".";
        throw Error(denied ? errc::kAccessDenied : errc::kServerUnavailable, text);
    }

    RemoteBackendParts parts_;
    std::mutex mutex_;
    std::map<std::string, Session> sessions_;   // by the target text
    std::map<std::string, Remembered> routes_;  // by host, lower case
    std::vector<std::future<void>> closing_;    // sessions being closed
};

}  // namespace

bool portAnswers(const std::string& host, int port, std::chrono::milliseconds timeout,
                 std::string& why) {
    const auto probes = probePorts(host, {port}, timeout);
    why = probes[0].answered ? std::string() : probes[0].why;
    return probes[0].answered;
}

std::shared_ptr<wmi::Backend> makeRemoteBackend(RemoteBackendParts parts) {
    return std::make_shared<RemoteBackend>(std::move(parts));
}

}  // namespace tavo::ssh
