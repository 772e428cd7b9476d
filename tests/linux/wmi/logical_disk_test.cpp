#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <stop_token>
#include <thread>

#include "cycle/cancellation.h"
#include "linux/wmi/cim_type_check.h"
#include "platform/linux/wmi/core_classes.h"
#include "platform/linux/wmi/fs_probe.h"

namespace tavo::linuxwmi {
namespace {

using namespace std::chrono_literals;

// Known sizes per mount point; a point listed in `hang` blocks until released.
class FakeFs : public FsProbe {
  public:
    std::map<std::string, FsStats> stats;
    std::set<std::string> hang;
    int calls = 0;

    std::optional<FsStats> stat(const std::string& mp) override {
        std::unique_lock lock(m_);
        ++calls;
        if (hang.count(mp)) cv_.wait(lock, [&] { return released_; });
        auto it = stats.find(mp);
        if (it == stats.end()) return std::nullopt;
        return it->second;
    }
    void release() {
        std::lock_guard lock(m_);
        released_ = true;
        cv_.notify_all();
    }

  private:
    std::mutex m_;
    std::condition_variable cv_;
    bool released_ = false;
};

SystemContext fixture(std::shared_ptr<FakeFs> fs) {
    SystemContext ctx;
    ctx.root = std::string(TAVO_TEST_DATA) + "/provider-core/disks";
    ctx.fs = std::move(fs);
    return ctx;
}

std::map<std::string, Instance> byMountPoint(const std::vector<Instance>& disks) {
    std::map<std::string, Instance> out;
    for (const auto& d : disks) out.emplace(d.find("DeviceID")->text(), d);
    return out;
}

TEST(LogicalDisk, ListsTheDisksAUserMeans) {
    auto fs = std::make_shared<FakeFs>();
    fs->stats["/"] = {4096, 1000, 250, 255};
    const auto disks = byMountPoint(produceLogicalDisks(fixture(fs)));
    std::vector<std::string> points;
    for (const auto& [p, d] : disks) points.push_back(p);
    // Pseudo filesystems, tmpfs in system places, a loop-mounted squashfs,
    // a container overlay, a second bind of / and the hidden /boot are left out,
    // and so are single files bound over others (/etc/resolv.conf, /etc/hostname).
    EXPECT_EQ(points,
              (std::vector<std::string>{"/", "/boot", "/media/cdrom", "/media/usb stick",
                                        "/mnt/nfs", "/mnt/win", "/scratch", "/srv/shared"}));

    const Instance& root = disks.at("/");
    EXPECT_EQ(*root.find("Name"), wmi::Value("/"));
    EXPECT_EQ(*root.find("Caption"), wmi::Value("/"));
    EXPECT_EQ(*root.find("DriveType"), wmi::Value(3));
    EXPECT_EQ(*root.find("Description"), wmi::Value("Local Fixed Disk"));
    EXPECT_EQ(*root.find("FileSystem"), wmi::Value("ext4"));
    EXPECT_EQ(*root.find("Size"), wmi::Value("4096000"));
    EXPECT_EQ(*root.find("FreeSpace"), wmi::Value("1024000"));  // available to users, as df shows
    EXPECT_EQ(*root.find("BlockSize"), wmi::Value("4096"));
    EXPECT_EQ(*root.find("MaximumComponentLength"), wmi::Value(255));
    EXPECT_EQ(*root.find("VolumeName"), wmi::Value("root"));
    EXPECT_EQ(*root.find("VolumeSerialNumber"), wmi::Value("0f3c6e2a-1b2d-4c5e-9f80-123456789abc"));
    EXPECT_EQ(*root.find("Access"), wmi::Value(3));
    EXPECT_EQ(*root.find("SystemName"), wmi::Value("FIXTUREBOX"));
    EXPECT_TRUE(root.find("Status")->isNull());
    EXPECT_TRUE(root.find("ProviderName")->isNull());

    const Instance& usb = disks.at("/media/usb stick");
    EXPECT_EQ(*usb.find("DriveType"), wmi::Value(2));
    EXPECT_EQ(*usb.find("Description"), wmi::Value("Removable Disk"));
    EXPECT_EQ(*usb.find("VolumeName"), wmi::Value("MY USB"));
    EXPECT_EQ(*usb.find("VolumeSerialNumber"), wmi::Value("1A2B-3C4D"));
    EXPECT_EQ(*usb.find("Access"), wmi::Value(1));
    // No statistics for it: sizes stay null rather than zero.
    EXPECT_TRUE(usb.find("Size")->isNull());
    EXPECT_TRUE(usb.find("FreeSpace")->isNull());

    EXPECT_EQ(*disks.at("/media/cdrom").find("DriveType"), wmi::Value(5));
    EXPECT_EQ(*disks.at("/media/cdrom").find("Description"), wmi::Value("CD-ROM Disc"));
    EXPECT_EQ(*disks.at("/mnt/nfs").find("DriveType"), wmi::Value(4));
    EXPECT_EQ(*disks.at("/mnt/nfs").find("Description"), wmi::Value("Network Connection"));
    EXPECT_EQ(*disks.at("/mnt/nfs").find("ProviderName"), wmi::Value("fileserver:/export/home"));
    EXPECT_EQ(*disks.at("/mnt/win").find("ProviderName"), wmi::Value("//winbox/share"));
    EXPECT_EQ(*disks.at("/scratch").find("DriveType"), wmi::Value(6));
    EXPECT_EQ(*disks.at("/scratch").find("Description"), wmi::Value("RAM Disk"));
    EXPECT_EQ(*disks.at("/boot").find("FileSystem"), wmi::Value("ext4"));
}

TEST(LogicalDisk, AHungFilesystemCostsOneDeadlineAndIsNotProbedAgain) {
    auto fs = std::make_shared<FakeFs>();
    fs->stats["/"] = {4096, 1000, 250, 255};
    fs->stats["/mnt/nfs"] = {1024, 10, 5, 255};
    fs->hang = {"/mnt/nfs", "/mnt/win"};
    SystemContext ctx = fixture(fs);
    ctx.deadline = 300ms;

    auto start = std::chrono::steady_clock::now();
    auto disks = byMountPoint(produceLogicalDisks(ctx));
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 300ms);
    EXPECT_LT(took, 1500ms);  // both hung mounts waited for together, once
    EXPECT_EQ(disks.size(), 8u);
    EXPECT_TRUE(disks.at("/mnt/nfs").find("Size")->isNull());
    EXPECT_EQ(*disks.at("/").find("Size"), wmi::Value("4096000"));

    // The next pass does not start another probe of the stuck mounts.
    const int callsBefore = fs->calls;
    start = std::chrono::steady_clock::now();
    disks = byMountPoint(produceLogicalDisks(ctx));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 300ms);
    EXPECT_EQ(fs->calls, callsBefore + 6);  // 8 disks less the 2 still pending
    EXPECT_TRUE(disks.at("/mnt/nfs").find("Size")->isNull());

    fs->release();
    // Once the probe returns, the mount is answered again.
    for (int i = 0; i < 50 && disks.at("/mnt/nfs").find("Size")->isNull(); ++i) {
        std::this_thread::sleep_for(20ms);
        disks = byMountPoint(produceLogicalDisks(ctx));
    }
    EXPECT_EQ(*disks.at("/mnt/nfs").find("Size"), wmi::Value("10240"));
}

TEST(LogicalDisk, StopEndsTheWaitOnAHungFilesystemAtOnce) {
    auto fs = std::make_shared<FakeFs>();
    fs->stats["/"] = {4096, 1000, 250, 255};
    fs->hang = {"/mnt/nfs"};
    SystemContext ctx = fixture(fs);
    ctx.deadline = 30s;

    std::stop_source stop;
    std::thread user([&] {
        std::this_thread::sleep_for(100ms);
        stop.request_stop();  // the user presses STOP while the pass waits
    });
    const auto start = std::chrono::steady_clock::now();
    std::vector<Instance> disks;
    {
        cycle::StopScope scope(stop.get_token());
        disks = produceLogicalDisks(ctx);
    }
    const auto took = std::chrono::steady_clock::now() - start;
    user.join();
    EXPECT_LT(took, 5s) << "STOP must not wait out the 30 s deadline";
    EXPECT_FALSE(disks.empty());
    fs->release();
}

TEST(LogicalDisk, ThisMachineAgreesWithStatvfs) {
    EXPECT_GE(testing::expectMachineCimTypes("Win32_LogicalDisk"), 1);
    auto rs = makeProvider()->connect(".")->execQuery(
        "SELECT * FROM Win32_LogicalDisk WHERE DeviceID = '/'");
    auto root = rs->next();
    ASSERT_TRUE(root) << "the root filesystem is a disk";
    struct statvfs s {};
    ASSERT_EQ(statvfs("/", &s), 0);
    EXPECT_EQ(root->get("Size"),
              wmi::Value(std::to_string(std::uint64_t{s.f_blocks} * s.f_frsize)));
    // Free space moves while tests run; agree within 64 MB.
    const double free = std::stod(root->get("FreeSpace").text());
    EXPECT_NEAR(free, double(s.f_bavail) * double(s.f_frsize), 64.0 * 1024 * 1024);
}

}  // namespace
}  // namespace tavo::linuxwmi
