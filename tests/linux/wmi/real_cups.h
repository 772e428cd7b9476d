#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

// The tests' own print server, for every test program that needs a real one.
namespace tavo::linuxwmi {

namespace realcups {
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
}  // namespace realcups

inline int freeLoopbackPort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        close(s);
        return -1;
    }
    close(s);
    return ntohs(a.sin_port);
}

// A private cupsd on a loopback port with its own configuration and spool,
// started once for the tests below and stopped after them.
class RealCups : public ::testing::Test {
  protected:
    static inline std::filesystem::path dir;
    static inline pid_t pid = -1;
    static inline int port = -1;
    static inline std::string failure;

    static std::string server() { return "127.0.0.1:" + std::to_string(port); }

    // Runs a CUPS command line with a time limit; its output, or nothing
    // when it failed.
    static std::optional<std::string> run(const std::string& args) {
        const std::string cmd = "timeout 20 " + args + " 2>&1";
        FILE* f = popen(cmd.c_str(), "r");
        if (!f) return std::nullopt;
        std::string out;
        char buf[4096];
        while (std::size_t n = fread(buf, 1, sizeof buf, f)) out.append(buf, n);
        const int rc = pclose(f);
        if (rc != 0) {
            failure = cmd + " -> " + out;
            return std::nullopt;
        }
        return out;
    }

    static bool waitForPort() {
        using namespace realcups;
        const auto until = Clock::now() + 15s;
        while (Clock::now() < until) {
            const int s = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(static_cast<std::uint16_t>(port));
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            const bool up = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
            close(s);
            if (up) return true;
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return false;
            }
            std::this_thread::sleep_for(100ms);
        }
        return false;
    }

    static void SetUpTestSuite() {
        if (access("/usr/sbin/cupsd", X_OK) != 0) {
            failure = "cupsd is not installed (packages/cups.txt)";
            return;
        }
        char tmpl[] = "/tmp/tavo-cupsd-XXXXXX";
        if (!mkdtemp(tmpl)) {
            failure = "no temporary folder";
            return;
        }
        dir = tmpl;
        // The scheduler runs filters and backends as another user when
        // started as root; they must reach the spool.
        chmod(dir.c_str(), 0755);
        for (const char* d : {"spool", "cache", "state", "tmp", "log"}) {
            std::filesystem::create_directories(dir / d);
        }
        port = freeLoopbackPort();
        std::ofstream(dir / "cupsd.conf") << "Listen 127.0.0.1:" << port << "\n"
                                          << "Browsing No\nWebInterface No\nLogLevel warn\n"
                                             "DefaultAuthType None\n"
                                             "<Location />\n  Order allow,deny\n  Allow all\n"
                                             "</Location>\n"
                                             "<Policy default>\n  JobPrivateAccess all\n"
                                             "  JobPrivateValues none\n"
                                             "  <Limit All>\n    Order deny,allow\n  </Limit>\n"
                                             "</Policy>\n";
        std::ofstream(dir / "cups-files.conf")
            << "ServerRoot " << dir.string() << "\nRequestRoot " << (dir / "spool").string()
            << "\nCacheDir " << (dir / "cache").string() << "\nStateDir "
            << (dir / "state").string() << "\nTempDir " << (dir / "tmp").string() << "\nErrorLog "
            << (dir / "log/error_log").string() << "\nAccessLog "
            << (dir / "log/access_log").string() << "\nPageLog " << (dir / "log/page_log").string()
            << "\nFileDevice Yes\nSandboxing Relaxed\n";
        std::ofstream(dir / "doc.txt") << "A page for the test queue.\n";

        pid = fork();
        if (pid == 0) {
            const int log = open((dir / "log/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (log >= 0) {
                dup2(log, 1);
                dup2(log, 2);
            }
            const std::string conf = (dir / "cupsd.conf").string();
            const std::string files = (dir / "cups-files.conf").string();
            execl("/usr/sbin/cupsd", "cupsd", "-f", "-c", conf.c_str(), "-s", files.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        if (pid < 0 || !waitForPort()) {
            failure = "cupsd did not start; see " + (dir / "log").string();
            return;
        }
        const std::string h = " -h " + server();
        if (!run("lpadmin" + h +
                 " -p TavoTest -E -v file:///dev/null -D 'Tavo test queue'"
                 " -L 'Lab 3' -o printer-is-shared=true") ||
            !run("lpadmin" + h + " -p TavoStopped -E -v file:///dev/null") ||
            !run("lpadmin" + h + " -d TavoTest") ||
            !run("cupsdisable" + h + " -r 'Out for repair' TavoStopped") ||
            !run("lp" + h + " -d TavoTest -H hold -t 'Quarterly report' " +
                 (dir / "doc.txt").string()) ||
            !run("lp" + h + " -d TavoStopped " + (dir / "doc.txt").string())) {
            return;
        }
        failure.clear();
    }

    static void TearDownTestSuite() {
        using namespace realcups;
        if (pid > 0) {
            kill(pid, SIGTERM);
            const auto until = Clock::now() + 10s;
            int status = 0;
            while (waitpid(pid, &status, WNOHANG) == 0 && Clock::now() < until) {
                std::this_thread::sleep_for(50ms);
            }
            if (waitpid(pid, &status, WNOHANG) == 0) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
            }
            pid = -1;
        }
        if (!dir.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
        }
    }

    void SetUp() override {
        ASSERT_TRUE(failure.empty()) << failure;
        // The provider finds the server the way every CUPS client does.
        setenv("CUPS_SERVER", server().c_str(), 1);
    }
    void TearDown() override { unsetenv("CUPS_SERVER"); }
};

}  // namespace tavo::linuxwmi
