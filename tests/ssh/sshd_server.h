#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/ssh/ssh_shell.h"
#include "tests/support/loopback.h"

// A private sshd on 127.0.0.1, started by the script beside this file and
// stopped when the object goes (or, should the program crash, by the
// script's watcher). The client side gets a folder of its own: never the
// real user's ~/.ssh, never their agent. Free of the test framework, so the
// benchmarks start theirs the same way.
namespace tavo::sshtest {

namespace fs = std::filesystem;

inline std::string runCommand(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
    }
    return out;
}

inline std::string readFile(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A port nothing listens on at the moment.
inline int freePort() {
    return tavo::testing::freeLoopbackPort();
}

inline std::vector<int> allProcesses() {
    std::vector<int> pids;
    for (const auto& e : fs::directory_iterator("/proc")) {
        const std::string name = e.path().filename().string();
        if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos)
            pids.push_back(std::stoi(name));
    }
    return pids;
}

// Processes whose command line is exactly `argv` (NUL-separated).
inline std::vector<int> processesRunning(const std::string& argv) {
    std::vector<int> out;
    for (int pid : allProcesses())
        if (readFile("/proc/" + std::to_string(pid) + "/cmdline") == argv) out.push_back(pid);
    return out;
}

class Sshd {
  public:
    // `script` starts and stops the server (sshd_fixture.sh beside this file).
    explicit Sshd(std::string script) : script_(std::move(script)) {
        // Whatever agent the person running the tests has stays out of them.
        unsetenv("SSH_AUTH_SOCK");
        char templ[] = "/tmp/tavo-sshd-XXXXXX";
        if (!mkdtemp(templ)) return;
        dir_ = templ;
        // The throw-away user's login reads the authorised keys inside.
        fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
        for (int attempt = 0; attempt < 3 && !ready_; ++attempt) {
            port_ = freePort();
            log_ = runCommand(script_ + " start " + (dir_ / "server").string() + " " +
                              std::to_string(port_) + " " + std::to_string(getpid()) + " 2>&1");
            ready_ = log_.find("ready") != std::string::npos;
        }
        const std::string pw = readFile(dir_ / "server" / "password_user");
        if (auto nl = pw.find('\n'); nl != std::string::npos) {
            passwordUser_ = pw.substr(0, nl);
            password_ = pw.substr(nl + 1);
            if (!password_.empty() && password_.back() == '\n') password_.pop_back();
        }
    }
    ~Sshd() {
        if (dir_.empty()) return;
        runCommand(script_ + " stop " + (dir_ / "server").string());
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    bool ready() const { return ready_; }
    const std::string& log() const { return log_; }
    int port() const { return port_; }
    fs::path serverDir() const { return dir_ / "server"; }
    std::string serverLog() const { return readFile(serverDir() / "sshd.log"); }
    // The user running the tests, whom the authorised key logs in.
    std::string user() const {
        const char* u = std::getenv("USER");
        if (u && *u) return u;
        return runCommand("id -un").substr(0, runCommand("id -un").find('\n'));
    }
    const std::string& passwordUser() const { return passwordUser_; }
    const std::string& password() const { return password_; }
    std::string target(const std::string& user) const {
        return user + "@127.0.0.1:" + std::to_string(port_);
    }
    // The host key's fingerprint as ssh-keygen prints it.
    std::string hostFingerprint() const {
        std::string out =
            runCommand("ssh-keygen -lf " + (serverDir() / "host_ed25519.pub").string());
        auto start = out.find("SHA256:");
        return out.substr(start, out.find(' ', start) - start);
    }

    // A client folder of its own. `key` names the key it carries as its
    // default identity ("client_key", "stranger_key" or "" for none).
    ssh::SshSettings client(const std::string& name, const std::string& key = "client_key") const {
        const fs::path d = dir_ / name;
        fs::create_directories(d);
        if (!key.empty()) {
            fs::copy_file(serverDir() / key, d / "id_ed25519",
                          fs::copy_options::overwrite_existing);
            fs::permissions(d / "id_ed25519", fs::perms::owner_read | fs::perms::owner_write);
        }
        ssh::SshSettings s;
        s.sshDir = d.string();
        s.globalKnownHostsFile = "/dev/null";
        s.readSystemConfig = false;
        // Generous: a loaded machine must not fail tests that are not about
        // time; the tests of the timeout set their own.
        s.connectTimeout = std::chrono::milliseconds(60000);
        return s;
    }
    // The server's key written into a client's known_hosts, as a person
    // who accepted it before would have it.
    void trust(const ssh::SshSettings& s) const {
        std::ofstream out(s.knownHostsPath(), std::ios::app);
        std::string pub = readFile(serverDir() / "host_ed25519.pub");
        out << "[127.0.0.1]:" << port_ << " " << pub;
    }
    // The per-connection server processes (children of the listener).
    std::vector<int> sessionProcesses() const {
        const int listener = std::atoi(readFile(serverDir() / "sshd.pid").c_str());
        std::vector<int> pids;
        for (int pid : allProcesses()) {
            // The parent is the fourth field, after the name in parentheses.
            const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
            const auto close = stat.rfind(')');
            if (close == std::string::npos) continue;
            std::istringstream rest(stat.substr(close + 2));
            char state;
            int parent = 0;
            if (rest >> state >> parent && parent == listener && listener > 0) pids.push_back(pid);
        }
        return pids;
    }

  private:
    std::string script_;
    fs::path dir_;
    int port_ = 0;
    bool ready_ = false;
    std::string log_;
    std::string passwordUser_;
    std::string password_;
};

}  // namespace tavo::sshtest
