#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include <unistd.h>

#include "platform/linux/wmi/service_classes.h"
#include "platform/linux/wmi/service_manager.h"

namespace tavo::linuxwmi {
namespace {

namespace fs = std::filesystem;

const fs::path kUnits = fs::path(TAVO_TEST_DATA) / "services" / "units";

SystemContext fixture(std::shared_ptr<ServiceManager> manager = nullptr) {
    SystemContext ctx;
    ctx.root = kUnits;
    ctx.services = std::move(manager);
    return ctx;
}

std::map<std::string, Instance> byName(std::vector<Instance> list) {
    std::map<std::string, Instance> m;
    for (auto& i : list) m.emplace(i.find("Name")->text(), std::move(i));
    return m;
}

std::string text(const Instance& i, std::string_view prop) {
    const wmi::Value* v = i.find(prop);
    return v && v->isText() ? v->text() : std::string("<not text>");
}

class FakeManager : public ServiceManager {
  public:
    std::optional<std::vector<UnitStatus>> units;
    std::chrono::milliseconds askedDeadline{0};
    std::optional<std::vector<UnitStatus>> listUnits(std::chrono::milliseconds d) override {
        askedDeadline = d;
        return units;
    }
};

TEST(ServiceUnits, ListsEveryServiceOnceUnderItsOwnName) {
    auto units = byName(produceServices(fixture()));
    std::vector<std::string> names;
    for (const auto& [n, i] : units) names.push_back(n);
    // Aliases (sshd, dbus-org.example.Daemon) are the same units under a
    // second name; templates are not services until an instance exists.
    EXPECT_EQ(names,
              (std::vector<std::string>{"bluetooth.service", "cron.service", "emptied.service",
                                        "example.service", "getty@tty1.service", "nameless.service",
                                        "ssh.service", "systemd-journald.service"}));
}

TEST(ServiceUnits, StartModeFollowsEnablementAndMasks) {
    auto units = byName(produceServices(fixture()));
    EXPECT_EQ(text(units.at("ssh.service"), "StartMode"), "Auto");            // wants link
    EXPECT_EQ(text(units.at("getty@tty1.service"), "StartMode"), "Auto");     // enabled instance
    EXPECT_EQ(text(units.at("cron.service"), "StartMode"), "Disabled");       // installable, off
    EXPECT_EQ(text(units.at("bluetooth.service"), "StartMode"), "Disabled");  // -> /dev/null
    EXPECT_EQ(text(units.at("emptied.service"), "StartMode"), "Disabled");    // empty file
    // Static units, even one a vendor target pulls in, start only on demand.
    EXPECT_EQ(text(units.at("systemd-journald.service"), "StartMode"), "Manual");
    EXPECT_EQ(text(units.at("example.service"), "StartMode"), "Manual");
}

TEST(ServiceUnits, ReadsDescriptionsCommandLinesAndAccounts) {
    auto units = byName(produceServices(fixture()));
    const Instance& ssh = units.at("ssh.service");
    EXPECT_EQ(text(ssh, "DisplayName"), "OpenBSD Secure Shell server");
    EXPECT_EQ(text(ssh, "Caption"), "OpenBSD Secure Shell server");
    EXPECT_EQ(text(ssh, "Description"), "OpenBSD Secure Shell server");
    EXPECT_EQ(text(ssh, "PathName"), "/usr/sbin/sshd -D $SSHD_OPTS");
    EXPECT_EQ(text(ssh, "StartName"), "root");
    EXPECT_EQ(text(ssh, "ServiceType"), "Own Process");

    // A drop-in's empty ExecStart= replaces the vendor command line.
    EXPECT_EQ(text(units.at("cron.service"), "PathName"), "/usr/sbin/cron -f -L 15");

    const Instance& ex = units.at("example.service");
    EXPECT_EQ(text(ex, "Description"), "Example daemon with a long description");
    EXPECT_EQ(text(ex, "PathName"), "/usr/sbin/example-daemon example-daemon --system --no-fork");
    EXPECT_EQ(text(ex, "StartName"), "example");

    const Instance& getty = units.at("getty@tty1.service");
    EXPECT_EQ(text(getty, "DisplayName"), "Getty on tty1");
    EXPECT_EQ(text(getty, "PathName"), "/sbin/agetty -o '-p -- \\\\u' --noclear - $TERM");

    // No description: systemd shows the unit's name; a dynamic user has no name yet.
    const Instance& nameless = units.at("nameless.service");
    EXPECT_EQ(text(nameless, "DisplayName"), "nameless.service");
    EXPECT_TRUE(nameless.find("Description")->isNull());
    EXPECT_TRUE(nameless.find("StartName")->isNull());
}

TEST(ServiceUnits, WithoutAManagerRunningStateIsUnknown) {
    for (auto& [name, inst] : byName(produceServices(fixture()))) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(inst.find("State")->isNull());
        EXPECT_TRUE(inst.find("Started")->isNull());
        EXPECT_TRUE(inst.find("ProcessId")->isNull());
        EXPECT_TRUE(inst.find("Status")->isNull());
    }
    // A manager that does not answer in time is the same as none.
    auto silent = std::make_shared<FakeManager>();
    auto ctx = fixture(silent);
    ctx.deadline = std::chrono::milliseconds(1234);
    auto units = byName(produceServices(ctx));
    EXPECT_EQ(silent->askedDeadline, std::chrono::milliseconds(1234));
    EXPECT_TRUE(units.at("ssh.service").find("State")->isNull());
}

TEST(ServiceUnits, LiveStateFromTheManager) {
    auto mgr = std::make_shared<FakeManager>();
    mgr->units = std::vector<UnitStatus>{
        {"ssh.service", "OpenBSD Secure Shell server", "loaded", "active", "running", 812, 0, true},
        {"cron.service", "cron", "loaded", "failed", "failed", 0, 2, true},
        {"getty@tty1.service", "Getty on tty1", "loaded", "activating", "start", 0, 0, true},
        {"user@1000.service", "User Manager for UID 1000", "loaded", "active", "running", 1500, 0,
         true},
        {"ghost.service", "ghost.service", "not-found", "inactive", "dead", {}, {}, {}},
        {"multi-user.target", "Multi-User System", "loaded", "active", "active", {}, {}, {}},
    };
    auto units = byName(produceServices(fixture(mgr)));

    const Instance& ssh = units.at("ssh.service");
    EXPECT_EQ(text(ssh, "State"), "Running");
    EXPECT_EQ(*ssh.find("Started"), wmi::Value(true));
    EXPECT_EQ(text(ssh, "Status"), "OK");
    EXPECT_EQ(*ssh.find("ProcessId"), wmi::Value(812));
    EXPECT_EQ(*ssh.find("AcceptStop"), wmi::Value(true));

    const Instance& cron = units.at("cron.service");
    EXPECT_EQ(text(cron, "State"), "Stopped");
    EXPECT_EQ(*cron.find("Started"), wmi::Value(false));
    EXPECT_EQ(text(cron, "Status"), "Degraded");
    EXPECT_EQ(*cron.find("ExitCode"), wmi::Value(2));

    EXPECT_EQ(text(units.at("getty@tty1.service"), "State"), "Start Pending");

    // Not loaded at all: the manager is not running it.
    const Instance& journald = units.at("systemd-journald.service");
    EXPECT_EQ(text(journald, "State"), "Stopped");
    EXPECT_EQ(*journald.find("Started"), wmi::Value(false));
    EXPECT_EQ(*journald.find("ProcessId"), wmi::Value(0));

    // A unit with no file of its own is still a service; one the manager
    // could not find a file for is not; targets are not services.
    ASSERT_TRUE(units.count("user@1000.service"));
    EXPECT_EQ(text(units.at("user@1000.service"), "DisplayName"), "User Manager for UID 1000");
    EXPECT_EQ(text(units.at("user@1000.service"), "StartMode"), "Manual");
    EXPECT_FALSE(units.count("ghost.service"));
    EXPECT_FALSE(units.count("multi-user.target"));
}

TEST(ServiceUnits, AbsentUnitDirectoriesGiveNoServices) {
    SystemContext ctx;
    ctx.root = fs::path(TAVO_TEST_DATA) / "services" / "nothing-here";
    EXPECT_TRUE(produceServices(ctx).empty());
}

TEST(ServiceUnits, HugeOrBinaryUnitFilesDoNotBreakTheList) {
    const fs::path root = fs::temp_directory_path() / ("tavo-units-" + std::to_string(getpid()));
    fs::create_directories(root / "lib/systemd/system");
    {
        std::ofstream(root / "lib/systemd/system/binary.service", std::ios::binary)
            << std::string("\0\xff[Service\n=\n\\", 14) << std::string(3000, '\\');
        std::ofstream(root / "lib/systemd/system/ok.service") << "[Service]\nExecStart=/bin/ok\n";
    }
    SystemContext ctx;
    ctx.root = root;
    auto units = byName(produceServices(ctx));
    fs::remove_all(root);
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(text(units.at("ok.service"), "PathName"), "/bin/ok");
}

}  // namespace
}  // namespace tavo::linuxwmi
