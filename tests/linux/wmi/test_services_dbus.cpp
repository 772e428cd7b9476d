#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-id128.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/linux/wmi/service_manager.h"

// The real sd-bus client against a manager this test serves itself on a
// private socket: the same calls systemd answers, without systemd.
namespace tavo::linuxwmi {
namespace {

using namespace std::chrono_literals;

int listUnits(sd_bus_message* m, void*, sd_bus_error*) {
    sd_bus_message* reply = nullptr;
    if (sd_bus_message_new_method_return(m, &reply) < 0) return -ENOMEM;
    sd_bus_message_open_container(reply, 'a', "(ssssssouso)");
    sd_bus_message_append(reply, "(ssssssouso)", "ssh.service", "OpenBSD Secure Shell server",
                          "loaded", "active", "running", "",
                          "/org/freedesktop/systemd1/unit/ssh_2eservice", 0u, "", "/");
    sd_bus_message_append(reply, "(ssssssouso)", "cron.service", "cron", "loaded", "failed",
                          "failed", "", "/org/freedesktop/systemd1/unit/cron_2eservice", 0u, "",
                          "/");
    sd_bus_message_append(reply, "(ssssssouso)", "basic.target", "Basic System", "loaded", "active",
                          "active", "", "/org/freedesktop/systemd1/unit/basic_2etarget", 0u, "",
                          "/");
    sd_bus_message_close_container(reply);
    const int r = sd_bus_send(nullptr, reply, nullptr);
    sd_bus_message_unref(reply);
    return r < 0 ? r : 1;
}

bool isSsh(const char* path) {
    return std::strstr(path, "ssh_2eservice") != nullptr;
}

int mainPid(sd_bus*, const char* path, const char*, const char*, sd_bus_message* reply, void*,
            sd_bus_error*) {
    return sd_bus_message_append(reply, "u", isSsh(path) ? 812u : 0u);
}
int exitStatus(sd_bus*, const char* path, const char*, const char*, sd_bus_message* reply, void*,
               sd_bus_error*) {
    return sd_bus_message_append(reply, "i", isSsh(path) ? 0 : 203);
}
int canStop(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*,
            sd_bus_error*) {
    return sd_bus_message_append(reply, "b", 1);
}

const sd_bus_vtable kManager[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("ListUnits", "", "a(ssssssouso)", listUnits, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END};
const sd_bus_vtable kService[] = {
    SD_BUS_VTABLE_START(0), SD_BUS_PROPERTY("MainPID", "u", mainPid, 0, 0),
    SD_BUS_PROPERTY("ExecMainStatus", "i", exitStatus, 0, 0), SD_BUS_VTABLE_END};
const sd_bus_vtable kUnit[] = {SD_BUS_VTABLE_START(0),
                               SD_BUS_PROPERTY("CanStop", "b", canStop, 0, 0), SD_BUS_VTABLE_END};

// Listens on a socket of its own; serves one client, or with `answer`
// false accepts it and then says nothing at all.
class FakeSystemd {
  public:
    explicit FakeSystemd(bool answer) {
        path_ = (std::filesystem::temp_directory_path() /
                 ("tavo-systemd-" + std::to_string(getpid()) + (answer ? "a" : "h")))
                    .string();
        ::unlink(path_.c_str());
        listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path_.c_str(), sizeof addr.sun_path - 1);
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0 ||
            ::listen(listener_, 4) < 0) {
            throw std::runtime_error("cannot listen on " + path_);
        }
        thread_ = std::thread([this, answer] { serve(answer); });
    }
    ~FakeSystemd() {
        stop_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
        ::unlink(path_.c_str());
    }
    std::string address() const { return "unix:path=" + path_; }

  private:
    void serve(bool answer) {
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        if (!answer) {
            while (!stop_) std::this_thread::sleep_for(10ms);
            ::close(fd);
            return;
        }
        sd_bus* bus = nullptr;
        sd_id128_t id;
        sd_id128_randomize(&id);
        sd_bus_new(&bus);
        sd_bus_set_fd(bus, fd, fd);
        sd_bus_set_server(bus, 1, id);
        sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/systemd1",
                                 "org.freedesktop.systemd1.Manager", kManager, nullptr);
        sd_bus_add_fallback_vtable(bus, nullptr, "/org/freedesktop/systemd1/unit",
                                   "org.freedesktop.systemd1.Service", kService, nullptr, nullptr);
        sd_bus_add_fallback_vtable(bus, nullptr, "/org/freedesktop/systemd1/unit",
                                   "org.freedesktop.systemd1.Unit", kUnit, nullptr, nullptr);
        if (sd_bus_start(bus) >= 0) {
            while (!stop_) {
                const int r = sd_bus_process(bus, nullptr);
                if (r < 0) break;
                if (r == 0) sd_bus_wait(bus, 50'000);
            }
        }
        sd_bus_flush_close_unref(bus);
    }

    std::string path_;
    int listener_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(SystemdManager, ReadsUnitsAndServiceDetailsOverDBus) {
    FakeSystemd systemd(true);
    auto manager = makeSystemdManagerAt(systemd.address());
    auto units = manager->listUnits(2000ms);
    ASSERT_TRUE(units);
    ASSERT_EQ(units->size(), 3u);
    const UnitStatus& ssh = (*units)[0];
    EXPECT_EQ(ssh.name, "ssh.service");
    EXPECT_EQ(ssh.description, "OpenBSD Secure Shell server");
    EXPECT_EQ(ssh.activeState, "active");
    EXPECT_EQ(ssh.subState, "running");
    EXPECT_EQ(ssh.mainPid, std::optional<std::uint32_t>(812));
    EXPECT_EQ(ssh.exitStatus, std::optional<std::int32_t>(0));
    EXPECT_EQ(ssh.canStop, std::optional<bool>(true));
    EXPECT_EQ((*units)[1].activeState, "failed");
    EXPECT_EQ((*units)[1].exitStatus, std::optional<std::int32_t>(203));
    // Only services are asked for a main process.
    EXPECT_FALSE((*units)[2].mainPid);
}

TEST(SystemdManager, SilentOrMissingManagerAnswersNothingInTime) {
    {
        FakeSystemd hung(false);
        auto manager = makeSystemdManagerAt(hung.address());
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(manager->listUnits(300ms));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    }
    auto nobody = makeSystemdManagerAt("unix:path=/nonexistent/tavo-no-such-bus");
    EXPECT_FALSE(nobody->listUnits(300ms));
}

}  // namespace
}  // namespace tavo::linuxwmi
