#include "platform/linux/ssh/ssh_shell.h"

#include <libssh/callbacks.h>
#include <libssh/libssh.h>
#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <random>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "cycle/cancellation.h"
#include "grid/error.h"
#include "platform/linux/net/tcp_connect.h"
#include "support/text.h"

namespace tavo::ssh {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Output beyond this is a runaway remote, not a report.
constexpr std::size_t kMaxOutput = std::size_t{64} << 20;
// What may come before a run's start line and is thrown away: a banner from
// the account's start-up files, or what an earlier run left still writing.
// More is a shell that will not reach the script.
constexpr std::size_t kMaxBeforeStart = std::size_t{1} << 20;
constexpr std::size_t kMaxErrorText = 64 * 1024;
constexpr int kPasswordTries = 3;

void wipe(std::string& s) {
    if (!s.empty()) explicit_bzero(s.data(), s.size());
    s.clear();
}

std::string homeDir() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return {};
}

std::string seconds(milliseconds ms) {
    const auto s = (ms.count() + 500) / 1000;
    return std::to_string(s) + (s == 1 ? " second" : " seconds");
}

struct SessionDeleter {
    void operator()(ssh_session s) const {
        if (ssh_is_connected(s)) ssh_disconnect(s);
        ssh_free(s);
    }
};
using SessionPtr = std::unique_ptr<ssh_session_struct, SessionDeleter>;

struct KeyDeleter {
    void operator()(ssh_key k) const { ssh_key_free(k); }
};
using KeyPtr = std::unique_ptr<ssh_key_struct, KeyDeleter>;

struct ChannelDeleter {
    void operator()(ssh_channel c) const {
        ssh_channel_close(c);
        ssh_channel_free(c);
    }
};
using ChannelPtr = std::unique_ptr<ssh_channel_struct, ChannelDeleter>;

void initLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { ssh_init(); });
}

// The known_hosts line that names `hostPort` ("host" or "[host]:port"), so
// a changed key's message can say exactly what to remove.
int knownHostsLine(const std::string& file, const std::string& hostPort) {
    std::ifstream in(file);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty() || line[0] == '#') continue;
        ssh_knownhosts_entry* entry = nullptr;
        const int rc = ssh_known_hosts_parse_line(hostPort.c_str(), line.c_str(), &entry);
        if (entry) ssh_knownhosts_entry_free(entry);
        if (rc == SSH_OK) return number;
    }
    return 0;
}

// A file of known hosts as libssh was told to read it, after the
// configuration had its say (UserKnownHostsFile, GlobalKnownHostsFile).
std::string knownHostsOption(ssh_session s, ssh_options_e option, std::string fallback) {
    char* value = nullptr;
    if (ssh_options_get(s, option, &value) == SSH_OK && value) {
        fallback = value;
        ssh_string_free_char(value);
    }
    return fallback;
}

// A line's "@revoked" or "@cert-authority" marker, and the plain line after
// it; an empty marker for a plain line.
std::pair<std::string_view, std::string_view> splitMarker(std::string_view line) {
    const auto start = line.find_first_not_of(" \t");
    if (start == std::string_view::npos || line[start] != '@') return {{}, line};
    const auto end = line.find_first_of(" \t", start);
    if (end == std::string_view::npos) return {line.substr(start), {}};
    const auto rest = line.find_first_not_of(" \t", end);
    return {line.substr(start, end - start),
            rest == std::string_view::npos ? std::string_view{} : line.substr(rest)};
}

// The "file:line" of a @revoked line for `hostPort` that holds `key`, or "".
// libssh 0.10 reads neither marker: its parser takes the marker for the
// host names, which match no host, so such lines are simply skipped there.
// This is the check OpenSSH makes before any other: the host part is
// matched by libssh itself (patterns, negation, hashed names), on the line
// without its marker.
std::string revokedAt(const std::string& file, const std::string& hostPort, ssh_key key) {
    std::ifstream in(file);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        const auto [marker, rest] = splitMarker(line);
        if (marker != "@revoked" || rest.empty()) continue;
        const std::string plain(rest);
        ssh_knownhosts_entry* entry = nullptr;
        const int rc = ssh_known_hosts_parse_line(hostPort.c_str(), plain.c_str(), &entry);
        const bool revoked = rc == SSH_OK && entry && entry->publickey &&
                             ssh_key_cmp(entry->publickey, key, SSH_KEY_CMP_PUBLIC) == 0;
        if (entry) ssh_knownhosts_entry_free(entry);
        if (revoked) return file + ":" + std::to_string(number);
    }
    return {};
}

}  // namespace

SshSettings SshSettings::forUser() {
    SshSettings s;
    const std::string home = homeDir();
    s.sshDir = home.empty() ? std::string(".ssh") : home + "/.ssh";
    return s;
}

std::string SshSettings::configPath() const {
    return configFile.empty() ? sshDir + "/config" : configFile;
}

std::string SshSettings::knownHostsPath() const {
    return knownHostsFile.empty() ? sshDir + "/known_hosts" : knownHostsFile;
}

Secret::~Secret() {
    wipe(text_);
}

struct SshShell::Impl {
    SessionPtr session;
    // The long-lived remote shell every run goes through: a channel and a
    // login per run cost more than most runs themselves. Goes before the
    // session does.
    ChannelPtr shell;
    std::string user;
    std::string host;      // as the user named it
    std::string realHost;  // after the configuration's HostName
    unsigned port = 22;
    std::shared_ptr<remote::Prompter> prompter;
    std::timed_mutex mutex;  // one channel at a time on the session
    std::atomic<bool> lost{false};
    // Passphrase callback state: one question per key and connection.
    std::string passphraseFailure;
    // libssh keeps a pointer to these for the session's whole life.
    ssh_callbacks_struct callbacks{};

    std::string name() const {
        std::string out = user.empty() ? host : user + "@" + host;
        if (port != 22) out += ":" + std::to_string(port);
        return out;
    }
    std::string hostPort() const {
        return port == 22 ? realHost : "[" + realHost + "]:" + std::to_string(port);
    }
    std::string lastError() const { return ssh_get_error(session.get()); }

    void openShellChannel();
    // The error for a run that cannot go on: the shell and the session go,
    // and the next pass connects again.
    Error lostConnection(const std::string& what);

    [[noreturn]] void unreachable(const std::string& why) const {
        throw Error(errc::kServerUnavailable,
                    "SSH: " + name() + " cannot be reached: " + why +
                        ". Check the computer's name and that it is on and runs an SSH server "
                        "on port " +
                        std::to_string(port) + ".");
    }
};

namespace {

// The passphrase of a key that libssh found encrypted, asked through the
// prompter. The buffer is libssh's own; our copy is wiped at once.
int askPassphrase(const char* prompt, char* buf, size_t len, int /*echo*/, int /*verify*/,
                  void* userdata) {
    auto* impl = static_cast<SshShell::Impl*>(userdata);
    if (!impl->prompter || len == 0) return -1;
    remote::SecretQuestion q;
    q.protocol = "SSH";
    q.host = impl->host;
    q.user = impl->user;
    q.prompt = prompt && *prompt ? prompt : "Passphrase for the SSH key";
    q.lastFailure = impl->passphraseFailure;
    auto answer = impl->prompter->askSecret(q);
    if (!answer) return -1;
    if (answer->secret.size() >= len) {
        wipe(answer->secret);
        return -1;
    }
    std::memcpy(buf, answer->secret.c_str(), answer->secret.size() + 1);
    wipe(answer->secret);
    return 0;
}

void setOption(ssh_session s, ssh_options_e option, const void* value, const char* what) {
    if (ssh_options_set(s, option, value) < 0)
        throw Error(errc::kInvalidParameter,
                    std::string("SSH: the option ") + what + " was refused: " + ssh_get_error(s));
}

void throwIfStopped(const SshShell::Impl& impl) {
    if (cycle::currentStopToken().stop_requested())
        throw Error(errc::kTimedOut, "SSH: the connection to " + impl.name() + " was stopped.");
}

// The TCP connection made here rather than by libssh, whose name lookup
// has no deadline and does not see STOP. A proxy command or jump host makes
// its own way there, so libssh keeps those.
void connectSocket(SshShell::Impl& impl, Clock::time_point until, milliseconds timeout) {
    ssh_session s = impl.session.get();
    char* proxy = nullptr;
    if (ssh_options_get(s, SSH_OPTIONS_PROXYCOMMAND, &proxy) == SSH_OK && proxy) {
        ssh_string_free_char(proxy);
        return;
    }
    const auto c = linuxnet::connectTcp(impl.realHost, static_cast<int>(impl.port), until);
    using R = linuxnet::TcpConnect::Result;
    switch (c.result) {
        case R::Connected: {
            socket_t fd = c.fd;
            // libssh owns the socket from here and closes it with the session.
            if (ssh_options_set(s, SSH_OPTIONS_FD, &fd) < 0) {
                ::close(fd);
                impl.unreachable(impl.lastError());
            }
            return;
        }
        case R::Stopped:
            throwIfStopped(impl);
            impl.unreachable("the connection was stopped");
        case R::NameTimedOut:
            impl.unreachable("the name " + impl.realHost + " could not be looked up within " +
                             seconds(timeout));
        case R::NameUnknown:
            impl.unreachable("the name " + impl.realHost + " is not known (" + c.why + ")");
        case R::NoAnswer:
            impl.unreachable("no answer within " + seconds(timeout));
        case R::Failed:
            impl.unreachable(c.why);
    }
}

// ssh_connect without blocking, so the deadline and STOP both end the wait
// (a server that accepts and never speaks).
void connectWithin(SshShell::Impl& impl, Clock::time_point until, milliseconds timeout) {
    connectSocket(impl, until, timeout);
    ssh_session s = impl.session.get();
    ssh_set_blocking(s, 0);
    while (true) {
        const int rc = ssh_connect(s);
        if (rc == SSH_OK) break;
        if (rc == SSH_ERROR) {
            ssh_set_blocking(s, 1);
            impl.unreachable(impl.lastError());
        }
        if (cycle::currentStopToken().stop_requested()) {
            ssh_set_blocking(s, 1);
            throwIfStopped(impl);
        }
        if (Clock::now() >= until) {
            ssh_set_blocking(s, 1);
            impl.unreachable("no answer within " + seconds(timeout));
        }
        std::this_thread::sleep_for(milliseconds(10));
    }
    ssh_set_blocking(s, 1);
}

void checkHostKey(SshShell::Impl& impl, const SshSettings& settings) {
    ssh_session s = impl.session.get();
    ssh_key raw = nullptr;
    if (ssh_get_server_publickey(s, &raw) != SSH_OK) impl.unreachable(impl.lastError());
    KeyPtr key(raw);
    unsigned char* hash = nullptr;
    size_t hashLen = 0;
    if (ssh_get_publickey_hash(key.get(), SSH_PUBLICKEY_HASH_SHA256, &hash, &hashLen) != 0)
        impl.unreachable("its host key cannot be read");
    char* fp = ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, hashLen);
    ssh_clean_pubkey_hash(&hash);
    std::string fingerprint = fp ? fp : "";
    ssh_string_free_char(fp);
    const char* type = ssh_key_type_to_char(ssh_key_type(key.get()));
    const std::string knownHosts = settings.knownHostsPath();

    // A revoked key is refused whatever else the files say about it, and
    // never offered for trust: it may be a stolen key in someone else's hands.
    const std::string global = settings.globalKnownHostsFile.empty()
                                   ? std::string("/etc/ssh/ssh_known_hosts")
                                   : settings.globalKnownHostsFile;
    for (const std::string& file : {knownHostsOption(s, SSH_OPTIONS_KNOWNHOSTS, knownHosts),
                                    knownHostsOption(s, SSH_OPTIONS_GLOBAL_KNOWNHOSTS, global)}) {
        const std::string at = revokedAt(file, impl.hostPort(), key.get());
        if (at.empty()) continue;
        throw Error(errc::kServerUnavailable,
                    "SSH: REVOKED HOST KEY DETECTED: the " + std::string(type ? type : "?") +
                        " host key " + fingerprint + " that " + impl.hostPort() +
                        " presented is marked @revoked at " + at +
                        ". A stolen key may be in use to impersonate this host. Tavo did not "
                        "connect. Ask the host's administrator for its current key; the "
                        "@revoked line stays.");
    }

    switch (ssh_session_is_known_server(s)) {
        case SSH_KNOWN_HOSTS_OK:
            return;
        case SSH_KNOWN_HOSTS_CHANGED:
        case SSH_KNOWN_HOSTS_OTHER: {
            // Never accepted from here: that is what an attacker in the
            // middle would present. The user removes the old line knowingly.
            const int line = knownHostsLine(knownHosts, impl.hostPort());
            std::string where = knownHosts + (line > 0 ? ":" + std::to_string(line) : "");
            throw Error(errc::kServerUnavailable,
                        "SSH: the host key of " + impl.hostPort() + " has changed (now " +
                            std::string(type ? type : "?") + " " + fingerprint +
                            "; the recorded key is at " + where +
                            "). Someone may be intercepting the connection, or the host was "
                            "reinstalled. Tavo did not connect. If the change is expected, "
                            "remove the old key with: ssh-keygen -f \"" +
                            knownHosts + "\" -R \"" + impl.hostPort() + "\"");
        }
        case SSH_KNOWN_HOSTS_UNKNOWN:
        case SSH_KNOWN_HOSTS_NOT_FOUND: {
            remote::TrustQuestion q;
            q.protocol = "SSH";
            q.host = impl.host;
            q.port = static_cast<int>(impl.port);
            q.keyType = type ? type : "";
            q.fingerprint = fingerprint;
            q.why = "The host's key is not known (it is not in " + knownHosts + ").";
            const remote::TrustAnswer answer =
                impl.prompter ? impl.prompter->askTrust(q) : remote::TrustAnswer::Cancel;
            if (answer == remote::TrustAnswer::Cancel)
                throw Error(errc::kServerUnavailable,
                            "SSH: the host key of " + impl.hostPort() + " (" + q.keyType + " " +
                                fingerprint +
                                ") is not known and was not accepted. Compare it with the "
                                "key on the host (ssh-keygen -lf /etc/ssh/ssh_host_*_key.pub) "
                                "and accept it, or add it to " +
                                knownHosts + ".");
            if (answer == remote::TrustAnswer::ConnectAndRemember &&
                ssh_session_update_known_hosts(s) != SSH_OK)
                throw Error(errc::kFailed, "SSH: the host key of " + impl.hostPort() +
                                               " could not be written to " + knownHosts + ": " +
                                               impl.lastError());
            return;
        }
        case SSH_KNOWN_HOSTS_ERROR:
        default:
            impl.unreachable("its host key could not be checked against " + knownHosts + ": " +
                             impl.lastError());
    }
}

// Keyboard-interactive with one hidden prompt is a password asked another way
// (PAM does it); anything richer needs a terminal Tavo does not have.
int kbdInteractive(ssh_session s, const std::string& password) {
    int rc = ssh_userauth_kbdint(s, nullptr, nullptr);
    for (int round = 0; rc == SSH_AUTH_INFO && round < 4; ++round) {
        const int prompts = ssh_userauth_kbdint_getnprompts(s);
        for (int i = 0; i < prompts; ++i) {
            char echo = 0;
            ssh_userauth_kbdint_getprompt(s, static_cast<unsigned>(i), &echo);
            if (echo) return SSH_AUTH_DENIED;
            if (ssh_userauth_kbdint_setanswer(s, static_cast<unsigned>(i), password.c_str()) < 0)
                return SSH_AUTH_ERROR;
        }
        rc = ssh_userauth_kbdint(s, nullptr, nullptr);
    }
    return rc;
}

void authenticate(SshShell::Impl& impl, std::shared_ptr<Secret>* saved, bool userNamed) {
    ssh_session s = impl.session.get();
    int rc = ssh_userauth_none(s, nullptr);
    if (rc == SSH_AUTH_SUCCESS) return;
    if (rc == SSH_AUTH_ERROR) impl.unreachable(impl.lastError());
    const int methods = ssh_userauth_list(s, nullptr);
    std::vector<std::string> tried;

    if (methods & SSH_AUTH_METHOD_PUBLICKEY) {
        // The agent, then the configured and default keys; an encrypted key
        // asks its passphrase through the callback.
        rc = ssh_userauth_publickey_auto(s, nullptr, nullptr);
        if (rc == SSH_AUTH_SUCCESS) return;
        if (rc == SSH_AUTH_ERROR) impl.unreachable(impl.lastError());
        tried.push_back("the agent and keys");
    }
    throwIfStopped(impl);

    const bool password = (methods & SSH_AUTH_METHOD_PASSWORD) != 0;
    const bool kbd = (methods & SSH_AUTH_METHOD_INTERACTIVE) != 0;
    if (password || kbd) {
        auto attempt = [&](const std::string& user, const std::string& secret) {
            if (user != impl.user) {
                impl.user = user;
                ssh_options_set(s, SSH_OPTIONS_USER, user.c_str());
            }
            int r = password ? ssh_userauth_password(s, nullptr, secret.c_str()) : SSH_AUTH_DENIED;
            if (r == SSH_AUTH_DENIED && kbd) r = kbdInteractive(s, secret);
            if (r == SSH_AUTH_ERROR) impl.unreachable(impl.lastError());
            return r == SSH_AUTH_SUCCESS;
        };
        if (saved && *saved && attempt((*saved)->user(), (*saved)->text())) return;
        std::string failure;
        for (int i = 0; i < kPasswordTries && impl.prompter; ++i) {
            remote::SecretQuestion q;
            q.protocol = "SSH";
            q.host = impl.host;
            q.user = impl.user;
            q.askUser = !userNamed;
            q.prompt = "Password for " + impl.name();
            q.lastFailure = failure;
            auto answer = impl.prompter->askSecret(q);
            if (!answer) break;
            throwIfStopped(impl);
            const std::string user = answer->user.empty() ? impl.user : answer->user;
            auto secret = std::make_shared<Secret>(user, std::move(answer->secret));
            wipe(answer->secret);
            if (attempt(secret->user(), secret->text())) {
                if (saved) *saved = std::move(secret);
                return;
            }
            failure = "The password for " + impl.name() + " was not accepted.";
        }
        tried.push_back("a password");
    }
    std::string how;
    for (std::size_t i = 0; i < tried.size(); ++i)
        how += (i == 0 ? "" : (i + 1 == tried.size() ? " and " : ", ")) + tried[i];
    throw Error(errc::kAccessDenied,
                "SSH: " + impl.host + " refused the login of user \"" + impl.user + "\"" +
                    (how.empty() ? " (it offers no method Tavo can use)" : " (tried " + how + ")") +
                    ". Check the user name, load your key into ssh-agent or add it to that "
                    "user's ~/.ssh/authorized_keys on the host, or give the right password.");
}

}  // namespace

std::shared_ptr<SshShell> SshShell::open(const remote::Target& target, const SshSettings& settings,
                                         std::shared_ptr<remote::Prompter> prompter,
                                         std::shared_ptr<Secret>* password) {
    initLibrary();
    auto impl = std::make_unique<Impl>();
    impl->session.reset(ssh_new());
    if (!impl->session) throw Error(errc::kFailed, "SSH: no session could be made (out of memory)");
    impl->host = target.host;
    impl->prompter = std::move(prompter);
    ssh_session s = impl->session.get();

    setOption(s, SSH_OPTIONS_HOST, target.host.c_str(), "host");
    setOption(s, SSH_OPTIONS_SSH_DIR, settings.sshDir.c_str(), "ssh directory");
    const std::string knownHosts = settings.knownHostsPath();
    setOption(s, SSH_OPTIONS_KNOWNHOSTS, knownHosts.c_str(), "known hosts file");
    if (!settings.globalKnownHostsFile.empty())
        setOption(s, SSH_OPTIONS_GLOBAL_KNOWNHOSTS, settings.globalKnownHostsFile.c_str(),
                  "global known hosts file");
    // The user's configuration first: its first value of each option wins,
    // and what the target text says explicitly wins over both.
    const std::string config = settings.configPath();
    if (access(config.c_str(), R_OK) == 0 && ssh_options_parse_config(s, config.c_str()) < 0)
        throw Error(errc::kInvalidParameter,
                    "SSH: " + config + " could not be read: " + std::string(ssh_get_error(s)));
    if (settings.readSystemConfig && access("/etc/ssh/ssh_config", R_OK) == 0)
        ssh_options_parse_config(s, "/etc/ssh/ssh_config");
    if (!target.user.empty()) setOption(s, SSH_OPTIONS_USER, target.user.c_str(), "user");
    if (target.port != 0) {
        const unsigned port = static_cast<unsigned>(target.port);
        setOption(s, SSH_OPTIONS_PORT, &port, "port");
    }
    const long timeout = static_cast<long>((settings.connectTimeout.count() + 999) / 1000);
    setOption(s, SSH_OPTIONS_TIMEOUT, &timeout, "timeout");

    char* value = nullptr;
    if (ssh_options_get(s, SSH_OPTIONS_USER, &value) == SSH_OK && value) {
        impl->user = value;
        ssh_string_free_char(value);
    }
    value = nullptr;
    impl->realHost = target.host;
    if (ssh_options_get(s, SSH_OPTIONS_HOST, &value) == SSH_OK && value) {
        impl->realHost = value;
        ssh_string_free_char(value);
    }
    ssh_options_get_port(s, &impl->port);

    impl->callbacks.userdata = impl.get();
    impl->callbacks.auth_function = askPassphrase;
    ssh_callbacks_init(&impl->callbacks);
    ssh_set_callbacks(s, &impl->callbacks);

    const auto until = Clock::now() + settings.connectTimeout;
    throwIfStopped(*impl);
    connectWithin(*impl, until, settings.connectTimeout);
    checkHostKey(*impl, settings);
    throwIfStopped(*impl);
    authenticate(*impl, password, !target.user.empty());
    // Later runs need no key: nothing may ask for a passphrase any more.
    impl->callbacks.auth_function = nullptr;
    return std::shared_ptr<SshShell>(new SshShell(std::move(impl)));
}

SshShell::SshShell(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

SshShell::~SshShell() = default;

std::string SshShell::describe() const {
    return impl_->name();
}

bool SshShell::connected() const {
    return !impl_->lost && impl_->session && ssh_is_connected(impl_->session.get());
}

namespace {

// A marker no remote file can be expected to hold: new for every run.
std::string runToken() {
    return "TAVO_END_" + text::randomHex(32);
}

// The lines the long-lived shell reads for one run: a start line on each
// stream, then the script as a here-document to a shell of its own (so an
// `exit` or a `cd` in it ends there), under the remote's own time limit,
// then the status on standard output and an end line on standard error.
// printf is built into every sh, so the token stands in no process's
// arguments or environment on the remote. The start lines are printed from
// two parts: a start-up file that echoes its input back does not send them.
std::string runCommand(std::string_view script, const std::string& token, long long remoteSeconds) {
    std::string c;
    c.reserve(script.size() + 500);
    c += "printf '%s:go\\n' " + token + "; printf '%s:go\\n' " + token + " >&2\n";
    c += "if command -v timeout >/dev/null 2>&1; then timeout -s KILL " +
         std::to_string(remoteSeconds) + " sh -s; else sh -s; fi <<'" + token + "'\n";
    c += script;
    if (!script.empty() && script.back() != '\n') c += '\n';
    c += token + "\n";
    c += "printf '\\n" + token + " %d\\n' \"$?\"; printf '" + token + "\\n' >&2\n";
    return c;
}

}  // namespace

void SshShell::Impl::openShellChannel() {
    ChannelPtr channel(ssh_channel_new(session.get()));
    if (!channel || ssh_channel_open_session(channel.get()) != SSH_OK)
        throw lostConnection("opening a channel");
    // Nothing of ours goes into the shell's environment: every process of
    // every run inherits it, and reports list it. A script that needs the C
    // locale sets it on the commands that need it. `exec sh` reads the same
    // in every login shell, csh and fish included. sshd passes a signal to
    // the session only where it separates privileges, which it does not
    // for root, so every run carries the remote's own time limit (timeout
    // kills the run's whole process group); without timeout (rare) only the
    // channel's signal remains.
    const char* command = "exec sh";
    if (ssh_channel_request_exec(channel.get(), command) != SSH_OK)
        throw lostConnection("starting the shell");
    shell = std::move(channel);
}

Error SshShell::Impl::lostConnection(const std::string& what) {
    shell.reset();
    lost = true;
    return Error(errc::kServerUnavailable, "SSH: the connection to " + name() + " was lost (" +
                                               what + ": " + lastError() +
                                               "). The next pass connects again.");
}

namespace {

// The remote shell ended before the run got anywhere.
struct ShellEnded {
    std::string what;
};

remote::ShellRun runOnce(SshShell::Impl& impl, std::string_view script, milliseconds deadline,
                         Clock::time_point until) {
    const bool fresh = !impl.shell;
    if (fresh) impl.openShellChannel();
    ssh_channel channel = impl.shell.get();

    std::string token = runToken();
    while (script.find(token) != std::string_view::npos) token = runToken();
    const long long remoteSeconds =
        std::chrono::duration_cast<std::chrono::seconds>(deadline).count() + 2;
    const std::string command = runCommand(script, token, remoteSeconds);
    std::size_t sent = 0;
    while (sent < command.size()) {
        const auto chunk =
            static_cast<uint32_t>(std::min<std::size_t>(command.size() - sent, 32768));
        const int n = ssh_channel_write(channel, command.data() + sent, chunk);
        if (n <= 0) {
            if (sent == 0 && !fresh) throw ShellEnded{"sending the script"};
            throw impl.lostConnection("sending the script");
        }
        sent += static_cast<std::size_t>(n);
    }

    remote::ShellRun result;
    const std::stop_token stop = cycle::currentStopToken();
    // The run's process group goes with the channel (or with the remote's
    // own time limit), so a command stuck on the remote does not outlive its
    // run there either. The shell goes too: what the run still sends would
    // otherwise reach the next one.
    auto end = [&](std::uint32_t code, const std::string& text) -> Error {
        ssh_channel_request_send_signal(channel, "KILL");
        impl.shell.reset();
        return Error(code, text);
    };
    // Only a run that began may be cut off (the caller keeps what it got
    // then); a shell that never reached the script is a failure, never an
    // empty report.
    auto abandon = [&](const std::string& why) -> Error {
        return end(errc::kTimedOut, "SSH: the run on " + impl.name() + " " + why + ".");
    };
    auto neverStarted = [&](const std::string& why) -> Error {
        if (!fresh)
            return end(errc::kFailed,
                       "SSH: the shell on " + impl.name() + " " + why +
                           ", so nothing could be read. Something an earlier run left running "
                           "there may hold it. The next pass starts a fresh shell.");
        return end(errc::kFailed,
                   "SSH: the login shell on " + impl.name() + " " + why +
                       ", so nothing could be read. Most likely the account's shell start-up "
                       "files (~/.bashrc, ~/.profile, or what they run) print, loop or wait for "
                       "input. Make them do that only in an interactive shell (for example, "
                       "end ~/.bashrc early when $- has no i), then try again.");
    };

    const std::string startLine = token + ":go\n";
    const std::string outEnd = "\n" + token + " ";
    const std::string errEnd = token + "\n";
    // Before a stream's start line: only its last few bytes, where the start
    // line may have begun, and the count of what was thrown away.
    bool started[2] = {false, false};
    std::string beforeStart[2];
    std::size_t discarded = 0;
    std::size_t outEndAt = std::string::npos;
    std::size_t searched = 0;  // standard output before this holds no end line
    std::string errTail;       // the last bytes of standard error, where its end line shows
    bool errDone = false;

    auto take = [&](int stream, std::string_view got) {
        if (stream == 0) {
            if (result.out.size() + got.size() > kMaxOutput + outEnd.size() + 16)
                throw end(errc::kFailed,
                          "SSH: the run on " + impl.name() + " sent more than " +
                              std::to_string(kMaxOutput >> 20) +
                              " MiB of output and was ended; Tavo reads no more than that from "
                              "one run. Something on the remote writes without end.");
            result.out.append(got);
            return;
        }
        if (result.err.size() < kMaxErrorText)
            result.err.append(
                got.substr(0, std::min(got.size(), kMaxErrorText - result.err.size())));
        errTail.append(got);
        if (errTail.size() > 4 * errEnd.size())
            errTail.erase(0, errTail.size() - 2 * errEnd.size());
        if (errTail.size() >= errEnd.size() &&
            errTail.compare(errTail.size() - errEnd.size(), errEnd.size(), errEnd) == 0)
            errDone = true;
    };
    auto arrive = [&](int stream, std::string_view got) {
        if (started[stream]) return take(stream, got);
        std::string& pending = beforeStart[stream];
        pending.append(got);
        const auto at = pending.find(startLine);
        if (at == std::string::npos) {
            discarded += got.size();
            if (discarded > kMaxBeforeStart)
                throw neverStarted("sent more than " + std::to_string(kMaxBeforeStart >> 10) +
                                   " KiB before it ran anything");
            if (pending.size() > startLine.size())
                pending.erase(0, pending.size() - startLine.size());
            return;
        }
        started[stream] = true;
        const std::string after = pending.substr(at + startLine.size());
        pending.clear();
        take(stream, after);
    };

    char buf[32768];
    while (true) {
        if (outEndAt == std::string::npos && started[0]) {
            // Only what came since the last look, and the few bytes before
            // it where the end line may have begun.
            outEndAt = result.out.find(outEnd, searched);
            searched = result.out.size() > outEnd.size() ? result.out.size() - outEnd.size() : 0;
        }
        const bool outDone = outEndAt != std::string::npos &&
                             result.out.find('\n', outEndAt + outEnd.size()) != std::string::npos;
        if (outDone && errDone) break;
        if (stop.stop_requested()) throw abandon("was stopped");
        if (Clock::now() >= until) {
            if (!started[0])
                throw neverStarted("did not start running within " + seconds(deadline));
            throw abandon("did not finish within " + seconds(deadline) + " and was ended");
        }
        const int wait = linuxnet::pollSliceMs(until, milliseconds(50));
        bool read = false;
        for (int stream : {0, 1}) {
            const int avail = stream == 0 && !outDone ? ssh_channel_poll_timeout(channel, wait, 0)
                                                      : ssh_channel_poll(channel, stream);
            if (avail == SSH_ERROR) throw impl.lostConnection("reading the output");
            if (avail == SSH_EOF) {
                if (started[0]) throw impl.lostConnection("the remote shell ended mid-run");
                if (!fresh) throw ShellEnded{"the remote shell ended"};
                throw neverStarted("ended before it ran anything");
            }
            for (int left = avail; left > 0;) {
                const int n = ssh_channel_read_nonblocking(channel, buf, sizeof buf, stream);
                if (n == SSH_ERROR) throw impl.lostConnection("reading the output");
                if (n <= 0) break;
                left -= n;
                read = true;
                arrive(stream, std::string_view(buf, static_cast<std::size_t>(n)));
            }
        }
        if (!read && outDone) std::this_thread::sleep_for(milliseconds(2));
    }
    const std::size_t statusAt = outEndAt + outEnd.size();
    result.exitStatus = std::atoi(result.out.c_str() + statusAt);
    result.out.resize(outEndAt);
    if (const auto at = result.err.rfind(errEnd); at != std::string::npos) result.err.resize(at);
    return result;
}

}  // namespace

remote::ShellRun SshShell::run(std::string_view script, std::chrono::milliseconds deadline) {
    Impl& impl = *impl_;
    const auto until = Clock::now() + deadline;
    std::unique_lock lock(impl.mutex, std::defer_lock);
    if (!lock.try_lock_until(until))
        throw Error(errc::kTimedOut, "SSH: " + impl.name() + " is still busy with an earlier run.");

    if (!connected()) throw impl.lostConnection("before the run");
    // A shell left from an earlier run may have ended meanwhile (killed on
    // the remote, or its channel closed by the server): one fresh try then.
    for (int attempt = 0;; ++attempt) {
        const bool reused = impl.shell != nullptr;
        if (reused &&
            (ssh_channel_is_eof(impl.shell.get()) || !ssh_channel_is_open(impl.shell.get())))
            impl.shell.reset();
        try {
            return runOnce(impl, script, deadline, until);
        } catch (const ShellEnded& ended) {
            impl.shell.reset();
            if (!reused || attempt > 0 || !connected()) throw impl.lostConnection(ended.what);
        }
    }
}

}  // namespace tavo::ssh
