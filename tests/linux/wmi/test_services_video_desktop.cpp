#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "inventory_test_support.h"
#include "platform/linux/wmi/service_classes.h"

namespace tavo::linuxwmi {
namespace {

namespace fs = std::filesystem;

wmi::Value v(const Instance& i, std::string_view p) {
    return *i.find(p);
}

SystemContext tree(const char* name) {
    SystemContext ctx;
    ctx.root = fs::path(TAVO_TEST_DATA) / "services" / name;
    return ctx;
}

TEST(VideoControllers, PciDisplayDevicesWithTheirOutputs) {
    auto list = produceVideoControllers(tree("video"));
    // The audio device on the same bus is not a display controller.
    ASSERT_EQ(list.size(), 2u);

    const Instance& igpu = list[0];
    EXPECT_EQ(v(igpu, "DeviceID"), wmi::Value("VideoController1"));
    EXPECT_EQ(v(igpu, "Name"), wmi::Value("CoffeeLake-S GT2 [UHD Graphics 630]"));
    EXPECT_EQ(v(igpu, "AdapterCompatibility"), wmi::Value("Intel Corporation"));
    EXPECT_EQ(v(igpu, "PNPDeviceID"), wmi::Value("PCI\\VEN_8086&DEV_3E92&SUBSYS_08691028&REV_02"));
    EXPECT_EQ(v(igpu, "InstalledDisplayDrivers"), wmi::Value("i915"));
    EXPECT_EQ(v(igpu, "DriverVersion"), wmi::Value("6.1.0-test-amd64"));
    // The connected output's mode; the disconnected one is passed over.
    EXPECT_EQ(v(igpu, "CurrentHorizontalResolution"), wmi::Value(2560));
    EXPECT_EQ(v(igpu, "CurrentVerticalResolution"), wmi::Value(1440));
    EXPECT_EQ(v(igpu, "VideoModeDescription"), wmi::Value("2560 x 1440"));
    EXPECT_EQ(v(igpu, "Status"), wmi::Value("OK"));
    EXPECT_TRUE(igpu.find("AdapterRAM")->isNull());

    // No driver bound and no DRM card: listed, but it cannot work.
    const Instance& dgpu = list[1];
    EXPECT_EQ(v(dgpu, "Name"), wmi::Value("GP107 [GeForce GTX 1050 Ti]"));
    EXPECT_EQ(v(dgpu, "AdapterCompatibility"), wmi::Value("NVIDIA Corporation"));
    EXPECT_EQ(v(dgpu, "PNPDeviceID"), wmi::Value("PCI\\VEN_10DE&DEV_1C82&REV_00"));
    EXPECT_EQ(v(dgpu, "Status"), wmi::Value("Error"));
    EXPECT_EQ(v(dgpu, "ConfigManagerErrorCode"), wmi::Value(28));
    EXPECT_TRUE(dgpu.find("CurrentHorizontalResolution")->isNull());
    // 8 GiB does not fit the class's 32-bit field: the most it can hold.
    EXPECT_EQ(v(dgpu, "AdapterRAM"), wmi::Value(std::int64_t{4294967295}));
}

TEST(VideoControllers, WithoutTheIdDatabaseOrAnyDevice) {
    // A folder of its own: the same binary runs in several time zones at once.
    inventory_test::TempTree tmp;
    const fs::path& root = tmp.root();
    fs::copy(fs::path(TAVO_TEST_DATA) / "services" / "video", root,
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    fs::remove(root / "usr/share/misc/pci.ids");
    auto list = produceVideoControllers(tmp.context());
    ASSERT_EQ(list.size(), 2u);
    // The driver's name is all that names the first; nothing names the second.
    EXPECT_EQ(v(list[0], "Name"), wmi::Value("i915"));
    EXPECT_TRUE(list[0].find("AdapterCompatibility")->isNull());
    EXPECT_TRUE(list[1].find("Name")->isNull());

    EXPECT_TRUE(produceVideoControllers(tree("nothing-here")).empty());
}

TEST(Desktops, OnePerLoginAccountWithWhatItsFilesState) {
    auto list = produceDesktops(tree("desktop"));
    std::map<std::string, const Instance*> by;
    const std::string computer = tree("desktop").computerName();
    for (const auto& d : list) by[d.find("Name")->text()] = &d;
    std::vector<std::string> names;
    for (const auto& [n, d] : by) names.push_back(n);
    EXPECT_EQ(names, (std::vector<std::string>{computer + "\\alice", computer + "\\bob",
                                               computer + "\\carol", computer + "\\dave",
                                               computer + "\\root"}));

    const Instance& alice = *by.at(computer + "\\alice");  // KDE
    EXPECT_EQ(v(alice, "Wallpaper"),
              wmi::Value("/usr/share/wallpapers/Next/contents/images/1920x1080.png"));
    EXPECT_EQ(v(alice, "ScreenSaverActive"), wmi::Value(true));
    EXPECT_EQ(v(alice, "ScreenSaverTimeout"), wmi::Value(600));

    const Instance& bob = *by.at(computer + "\\bob");  // Xfce
    EXPECT_EQ(v(bob, "Wallpaper"), wmi::Value("/usr/share/backgrounds/xfce/xfce-shapes.svg"));
    EXPECT_EQ(v(bob, "WallpaperTiled"), wmi::Value(true));
    EXPECT_EQ(v(bob, "WallpaperStretched"), wmi::Value(false));
    EXPECT_EQ(v(bob, "ScreenSaverActive"), wmi::Value(true));
    EXPECT_EQ(v(bob, "ScreenSaverTimeout"), wmi::Value(420));
    EXPECT_EQ(v(bob, "ScreenSaverSecure"), wmi::Value(false));

    const Instance& carol = *by.at(computer + "\\carol");  // feh and xscreensaver
    EXPECT_EQ(v(carol, "Wallpaper"), wmi::Value("/home/carol/Pictures/tile.png"));
    EXPECT_EQ(v(carol, "WallpaperTiled"), wmi::Value(true));
    EXPECT_EQ(v(carol, "ScreenSaverTimeout"), wmi::Value(750));
    EXPECT_EQ(v(carol, "ScreenSaverSecure"), wmi::Value(true));

    // GNOME: dconf's database, made from tests/data/services/dconf-keyfiles
    // with `dconf compile`.
    const Instance& dave = *by.at(computer + "\\dave");
    EXPECT_EQ(v(dave, "Wallpaper"), wmi::Value("/home/dave/Pictures/Lake at dawn.jpg"));
    EXPECT_EQ(v(dave, "WallpaperStretched"), wmi::Value(true));
    EXPECT_EQ(v(dave, "WallpaperTiled"), wmi::Value(false));
    EXPECT_EQ(v(dave, "ScreenSaverActive"), wmi::Value(true));
    EXPECT_EQ(v(dave, "ScreenSaverSecure"), wmi::Value(false));
    EXPECT_EQ(v(dave, "ScreenSaverTimeout"), wmi::Value(300));

    // Nothing stated: nothing shown.
    const Instance& root = *by.at(computer + "\\root");
    for (const char* p : {"Wallpaper", "ScreenSaverActive", "ScreenSaverTimeout"}) {
        EXPECT_TRUE(root.find(p)->isNull()) << p;
    }
}

TEST(Desktops, NoAccountsFile) {
    EXPECT_TRUE(produceDesktops(tree("nothing-here")).empty());
}

}  // namespace
}  // namespace tavo::linuxwmi
