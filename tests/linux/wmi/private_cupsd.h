#pragma once

// A private cupsd on a loopback port with its own configuration and spool:
// for the tests that compare the provider with lpstat and the benchmark
// that watches a printers pass for leaks. No GoogleTest here, so the
// benchmark can use it too.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "tests/support/loopback.h"

namespace tavo::linuxwmi {

struct PrivateCupsd {
    std::filesystem::path dir;
    pid_t pid = -1;
    int port = -1;

    std::string server() const { return "127.0.0.1:" + std::to_string(port); }

    // Starts the scheduler in a new folder named from `folderTemplate`
    // (mkdtemp's XXXXXX at its end); "" once it answers on its port, else
    // what went wrong.
    std::string start(std::string folderTemplate) {
        using namespace std::chrono_literals;
        if (access("/usr/sbin/cupsd", X_OK) != 0)
            return "cupsd is not installed (packages/cups.txt)";
        if (!mkdtemp(folderTemplate.data())) return "no temporary folder";
        dir = folderTemplate;
        // The scheduler runs filters and backends as another user when
        // started as root; they must reach the spool.
        chmod(dir.c_str(), 0755);
        for (const char* d : {"spool", "cache", "state", "tmp", "log"}) {
            std::filesystem::create_directories(dir / d);
        }
        port = tavo::testing::freeLoopbackPort();
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
        const std::string why = "cupsd did not start; see " + (dir / "log").string();
        if (pid < 0) return why;
        const auto until = std::chrono::steady_clock::now() + 15s;
        while (std::chrono::steady_clock::now() < until) {
            if (tavo::testing::loopbackPortOpen(port)) return {};
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return why;
            }
            std::this_thread::sleep_for(100ms);
        }
        return why;
    }

    void stop() {
        using namespace std::chrono_literals;
        if (pid > 0) {
            kill(pid, SIGTERM);
            const auto until = std::chrono::steady_clock::now() + 10s;
            int status = 0;
            while (waitpid(pid, &status, WNOHANG) == 0 &&
                   std::chrono::steady_clock::now() < until) {
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
            dir.clear();
        }
    }
};

}  // namespace tavo::linuxwmi
