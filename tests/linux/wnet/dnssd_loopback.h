#pragma once

// A private DNS-SD neighbourhood on loopback: a system bus of its own, an
// avahi-daemon that only uses lo, and avahi-publish announcing hosts. The
// process's DBUS_SYSTEM_BUS_ADDRESS points at the private bus while it runs.

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "peer_processes.h"
#include "platform/linux/wnet/dnssd_provider.h"

namespace tavo::test {

const char* const kBusConfig =
    R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=@DIR@/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
)";

const char* const kAvahiConfig = R"([server]
host-name=tavo-test-daemon
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
ratelimit-interval-usec=1000000
ratelimit-burst=1000
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
[reflector]
[rlimits]
)";

inline std::string withDir(std::string text, const std::string& dir) {
    const std::string mark = "@DIR@";
    for (auto p = text.find(mark); p != std::string::npos; p = text.find(mark))
        text.replace(p, mark.size(), dir);
    return text;
}

// The daemon's pid file has one fixed place, so two test programs running at
// once (ctest -j) cannot each start a private daemon: each holds this lock
// from start until its daemons have stopped.
inline constexpr const char* kLockPath = "/tmp/tavo-dnssd-test.lock";

class MachineWideLock {
  public:
    explicit MachineWideLock(const char* path) : path_(path) {}
    ~MachineWideLock() {
        if (fd_ >= 0) close(fd_);  // closing releases the lock
    }
    MachineWideLock(const MachineWideLock&) = delete;
    MachineWideLock& operator=(const MachineWideLock&) = delete;

    bool acquire(std::chrono::seconds patience) {
        if (fd_ < 0) fd_ = open(path_, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) return false;
        return waitFor(patience, [&] { return flock(fd_, LOCK_EX | LOCK_NB) == 0; });
    }

    static bool heldElsewhere(const char* path) {
        const int fd = open(path, O_RDWR | O_CLOEXEC);
        if (fd < 0) return false;
        const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0;
        close(fd);
        return held;
    }

  private:
    const char* path_;
    int fd_ = -1;
};

class DnsSdLoopback {
  public:
    DnsSdLoopback() = default;
    ~DnsSdLoopback() {
        if (busSet_) unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
    DnsSdLoopback(const DnsSdLoopback&) = delete;
    DnsSdLoopback& operator=(const DnsSdLoopback&) = delete;

    // Why the daemons cannot run here, or nothing when they can.
    static std::optional<std::string> skipReason() {
        if (geteuid() != 0) return "avahi-daemon needs root to start";
        for (const char* p : {"dbus-daemon", "avahi-daemon", "avahi-publish"})
            if (!onPath(p)) return std::string(p) + " is not installed (packages/netenum.txt)";
        // The daemon's pid file has a fixed place: a running system daemon
        // cannot be joined by a private one.
        // A daemon another test program started is no reason to skip: start() waits for it.
        if (const std::string pid = slurp("/run/avahi-daemon/pid");
            !pid.empty() && !MachineWideLock::heldElsewhere(kLockPath)) {
            const int running = std::atoi(pid.c_str());
            if (running > 0 && kill(running, 0) == 0)
                return "an avahi-daemon already runs on this machine (pid " +
                       std::to_string(running) + ")";
        }
        return std::nullopt;
    }

    // Starts the bus and the daemon and publishes each (host, service type);
    // returns what went wrong, or an empty text once all are announced.
    std::string start(const std::vector<std::pair<std::string, std::string>>& hosts) {
        if (!lock_.acquire(120s)) return "another test kept the private avahi-daemon for 2 minutes";
        if (!fs::exists("/run/avahi-daemon")) peers_.removeAfterwards("/run/avahi-daemon");
        const fs::path dir = peers_.dir();
        if (dir.empty()) return "no temporary directory";
        std::ofstream(dir / "bus.conf") << withDir(kBusConfig, dir.string());
        std::ofstream(dir / "avahi.conf") << kAvahiConfig;

        if (!peers_.start(
                {"dbus-daemon", "--nofork", "--config-file=" + (dir / "bus.conf").string()},
                dir / "bus.log") ||
            !waitFor(5s, [&] { return fs::exists(dir / "bus"); }))
            return "private bus did not start: " + slurp(dir / "bus.log");
        const std::string busAddress = "unix:path=" + (dir / "bus").string();
        setenv("DBUS_SYSTEM_BUS_ADDRESS", busAddress.c_str(), 1);
        busSet_ = true;

        linuxwnet::DnsSdProvider probe;
        if (!peers_.start({"avahi-daemon", "--no-drop-root", "--no-chroot", "--no-rlimits",
                           "--no-proc-title", "-f", (dir / "avahi.conf").string()},
                          dir / "avahi.log") ||
            !waitFor(10s, [&] { return probe.available(); }))
            return "avahi-daemon did not come up: " + slurp(dir / "avahi.log");

        for (const auto& [host, type] : hosts) {
            if (!peers_.start(
                    {"avahi-publish", "-s", "-H", host + ".local", host + " service", type, "9"},
                    dir / (host + ".log")))
                return "avahi-publish did not start";
        }
        for (const auto& [host, type] : hosts) {
            const fs::path log = dir / (host + ".log");
            if (!waitFor(10s, [&] { return slurp(log).find("Established") != std::string::npos; }))
                return host + " not published: " + slurp(log);
        }
        return {};
    }

  private:
    MachineWideLock lock_{kLockPath};  // declared first: released last
    Peers peers_{"tavo-dnssd"};
    bool busSet_ = false;
};

}  // namespace tavo::test
