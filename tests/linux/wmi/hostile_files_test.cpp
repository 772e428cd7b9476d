#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "platform/linux/wmi/deadline.h"
#include "platform/linux/wmi/each_with_deadline.h"
#include "platform/linux/wmi/gvdb.h"
#include "platform/linux/wmi/inventory_classes.h"
#include "platform/linux/wmi/service_classes.h"
#include "support/hostile_inputs.h"

namespace tavo::linuxwmi {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class TempTree {
  public:
    TempTree() {
        root_ = fs::temp_directory_path() /
                ("tavo-hostile-" + std::to_string(::getpid()) + "-" + std::to_string(++counter_));
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    ~TempTree() { fs::remove_all(root_); }
    const fs::path& root() const { return root_; }
    void write(const std::string& rel, const std::string& text) const {
        fs::create_directories((root_ / rel).parent_path());
        std::ofstream(root_ / rel, std::ios::binary) << text;
    }
    SystemContext context() const {
        SystemContext ctx;
        ctx.root = root_;
        ctx.deadline = 1000ms;
        return ctx;
    }

  private:
    static inline int counter_ = 0;
    fs::path root_;
};

// Runs `f` with a generous deadline so a read that blocks fails the test
// instead of hanging it.
template <class F>
auto settlesInTime(F f) {
    return callWithDeadline(5000ms, std::move(f));
}

TEST(HostileFiles, FifoDeviceAndDirectoryAreRefusedWithoutWaiting) {
    TempTree t;
    ASSERT_EQ(::mkfifo((t.root() / "fifo").c_str(), 0600), 0);
    fs::create_directories(t.root() / "dir");
    const SystemContext ctx = t.context();
    for (const char* name : {"/fifo", "/dir"}) {
        const auto read = settlesInTime([ctx, name] { return ctx.readFile(name); });
        ASSERT_TRUE(read.has_value()) << name << " blocked the read";
        EXPECT_FALSE(read->has_value()) << name;
        const auto user = settlesInTime([ctx, name] { return ctx.readUserFile(name); });
        ASSERT_TRUE(user.has_value()) << name << " blocked the read";
        EXPECT_FALSE(user->has_value()) << name;
        const auto line = settlesInTime([ctx, name] { return ctx.readLine(name); });
        ASSERT_TRUE(line.has_value()) << name << " blocked the read";
        EXPECT_FALSE(line->has_value()) << name;
    }
    // A character device outside the tree, reached by a link.
    fs::create_symlink("/dev/zero", t.root() / "zero");
    EXPECT_FALSE(ctx.readFile("/zero").has_value());
}

TEST(HostileFiles, UserFilesRefuseLinksAndEveryReadIsCapped) {
    TempTree t;
    t.write("etc/secret", "only for the reader");
    t.write("home/eve/real", "wallpaper");
    fs::create_symlink(t.root() / "etc/secret", t.root() / "home/eve/.fehbg");
    const SystemContext ctx = t.context();
    // System files may be links (/etc/resolv.conf often is); a user's may not.
    EXPECT_EQ(ctx.readFile("/home/eve/.fehbg"), std::optional<std::string>("only for the reader"));
    EXPECT_FALSE(ctx.readUserFile("/home/eve/.fehbg").has_value());
    EXPECT_EQ(ctx.readUserFile("/home/eve/real"), std::optional<std::string>("wallpaper"));

    t.write("big", std::string(100000, 'x'));
    EXPECT_EQ(ctx.readFile("/big", 1000)->size(), 1000u);
    EXPECT_EQ(ctx.readFile("/big")->size(), 100000u);
    t.write("lines", "first\nsecond\n");
    EXPECT_EQ(ctx.readLine("/lines"), std::optional<std::string>("first"));
    t.write("empty", "");
    EXPECT_FALSE(ctx.readLine("/empty").has_value());
}

TEST(HostileFiles, DesktopOfAUserWithAFifoStillShowsTheOtherSettings) {
    TempTree t;
    t.write("etc/passwd",
            "eve:x:1000:1000::/home/eve:/bin/bash\n"
            "frank:x:1001:1001::/home/frank:/bin/bash\n");
    fs::create_directories(t.root() / "home/eve");
    ASSERT_EQ(::mkfifo((t.root() / "home/eve/.fehbg").c_str(), 0600), 0);
    t.write("home/eve/.xscreensaver", "timeout: 0:05:00\nmode: random\n");
    t.write("home/frank/.xscreensaver", "timeout: 0:01:30\n");
    const SystemContext ctx = t.context();
    const auto desktops = settlesInTime([ctx] { return produceDesktops(ctx); });
    ASSERT_TRUE(desktops.has_value()) << "a FIFO in a home folder blocked the pass";
    ASSERT_EQ(desktops->size(), 2u);
    EXPECT_EQ(*(*desktops)[0].find("ScreenSaverTimeout"), wmi::Value(300));
    EXPECT_TRUE((*desktops)[0].find("Wallpaper")->isNull());
    EXPECT_EQ(*(*desktops)[1].find("ScreenSaverTimeout"), wmi::Value(90));
}

TEST(HostileFiles, ScreenSaverTimeoutsThatDoNotFitAreRejected) {
    EXPECT_EQ(xscreensaverTimeout("0:10:00"), std::optional<std::int64_t>(600));
    EXPECT_EQ(xscreensaverTimeout("1:00:05"), std::optional<std::int64_t>(3605));
    // The most the 32-bit property holds, and one second more.
    EXPECT_EQ(xscreensaverTimeout("1193046:28:15"), std::optional<std::int64_t>(4294967295));
    EXPECT_FALSE(xscreensaverTimeout("1193046:28:16"));
    // Hours and minutes whose product with 3600 or 60 overflows an int.
    EXPECT_FALSE(xscreensaverTimeout("2147483647:00:00"));
    EXPECT_FALSE(xscreensaverTimeout("0:2147483647:00"));
    EXPECT_FALSE(xscreensaverTimeout("99999999999999999999:0:0"));
    for (const char* bad : {"", "1:2", "-1:00:00", "a:b:c", "1:2:3:4", "1::3"}) {
        EXPECT_FALSE(xscreensaverTimeout(bad)) << bad;
    }

    // The same limit for the other desktops' minutes and dconf's delays.
    TempTree t;
    t.write("etc/passwd", "kim:x:1000:1000::/home/kim:/bin/bash\n");
    t.write("home/kim/.config/kscreensaverrc", "[Daemon]\nTimeout=99999999\n");
    const auto kim = produceDesktops(t.context());
    ASSERT_EQ(kim.size(), 1u);
    EXPECT_TRUE(kim[0].find("ScreenSaverTimeout")->isNull());
}

TEST(HostileFiles, NestedXfconfIsReadInOnePass) {
    // A value sits outside a deep nest and inside a nest of its own.
    EXPECT_EQ(xfconfValue(hostile::xfconfNested(5000), "/saver/enabled"),
              std::optional<std::string>("true"));
    const std::string xml =
        "<channel><property name=\"saver\" type=\"empty\">"
        "<property name=\"idle-activation\" type=\"empty\">"
        "<property name=\"delay\" type=\"int\" value=\"7\"/></property>"
        "<property name=\"mode\" type=\"int\" value=\"2\"/>"
        "</property><property name=\"mode\" type=\"int\" value=\"9\"/></channel>";
    EXPECT_EQ(xfconfValue(xml, "/saver/idle-activation/delay"), std::optional<std::string>("7"));
    EXPECT_EQ(xfconfValue(xml, "/saver/mode"), std::optional<std::string>("2"));
    EXPECT_EQ(xfconfValue(xml, "/mode"), std::optional<std::string>("9"));
    EXPECT_FALSE(xfconfValue(xml, "/saver/delay"));
    // An attribute whose name only ends in "name" is not the name.
    EXPECT_FALSE(xfconfValue("<property xname=\"a\" value=\"1\"/>", "/a"));
}

TEST(HostileFiles, GvdbParentChainsAreWalkedOnceAndLongKeysDropped) {
    // Item i's key is i + 1 letters long; keys past the longest any desktop
    // uses are left out, the rest all read.
    const auto db = readGvdb(hostile::gvdbChain(3000));
    EXPECT_EQ(db.size(), 1024u);
    EXPECT_TRUE(db.contains("a"));
    EXPECT_TRUE(db.contains(std::string(1024, 'a')));
    EXPECT_FALSE(db.contains(std::string(1025, 'a')));
    // Long shared keys: the chain is cut where the key grows too long.
    const auto wide = readGvdb(hostile::gvdbChain(300, 600));
    ASSERT_EQ(wide.size(), 1u);

    // A loop two items long, reached from a third: none of the three is read.
    std::string f = hostile::gvdbChain(3);
    hostile::putWord(f, 24 + 8 + 4, 1);  // item 0's parent is item 1
    const auto looped = readGvdb(f);
    EXPECT_TRUE(looped.empty());
}

TEST(HostileFiles, SmbIncludesThatMultiplyStayBounded) {
    // Every file includes the next level twice: 2^8 reads and 2^8 times the
    // text without a budget.
    int reads = 0;
    const IncludeReader twice = [&](const std::string& path) -> std::optional<std::string> {
        ++reads;
        const std::string text(200000, '#');
        return "[s" + std::to_string(reads) + "]\npath = /p\n" + text + "\ninclude = " + path +
               "\ninclude = " + path + "\n";
    };
    const auto shares = parseSmbConf("include = /a.conf\n", twice);
    EXPECT_LE(reads, 256);
    EXPECT_GE(shares.size(), 2u);  // what was read before the budget ran out
    EXPECT_LT(shares.size(), 256u);
}

TEST(EachWithDeadline, ABlockedReadCostsOnlyItsOwnValue) {
    std::promise<void> release;
    auto gate = std::make_shared<std::shared_future<void>>(release.get_future().share());
    const auto start = std::chrono::steady_clock::now();
    const auto values = readEachWithDeadline<int>(
        5,
        [gate](std::size_t i) {
            if (i == 1) gate->wait();  // blocks until the test ends
            return static_cast<int>(i * 10);
        },
        100ms, std::chrono::steady_clock::now() + 3000ms);
    const auto took = std::chrono::steady_clock::now() - start;
    release.set_value();
    ASSERT_EQ(values.size(), 5u);
    EXPECT_EQ(values[0], std::optional<int>(0));
    EXPECT_FALSE(values[1].has_value());
    EXPECT_EQ(values[2], std::optional<int>(20));
    EXPECT_EQ(values[4], std::optional<int>(40));
    EXPECT_LT(took, 2000ms);
}

TEST(EachWithDeadline, TheFirstReadBlockingCostsOnlyItsOwnValue) {
    // The worker's very first read blocks: the caller must notice it began.
    std::promise<void> release;
    auto gate = std::make_shared<std::shared_future<void>>(release.get_future().share());
    const auto values = readEachWithDeadline<int>(
        3,
        [gate](std::size_t i) {
            if (i == 0) gate->wait();
            return static_cast<int>(i);
        },
        50ms, std::chrono::steady_clock::now() + 2000ms);
    release.set_value();
    EXPECT_FALSE(values[0].has_value());
    EXPECT_EQ(values[1], std::optional<int>(1));
    EXPECT_EQ(values[2], std::optional<int>(2));
}

TEST(EachWithDeadline, NothingStartsAfterTheLastMoment) {
    auto calls = std::make_shared<std::atomic<int>>(0);
    const auto values = readEachWithDeadline<int>(
        50,
        [calls](std::size_t) {
            ++*calls;
            std::this_thread::sleep_for(30ms);
            return 1;
        },
        1000ms, std::chrono::steady_clock::now() + 100ms);
    EXPECT_EQ(values.size(), 50u);
    EXPECT_LT(calls->load(), 10);
    EXPECT_FALSE(values[49].has_value());
    EXPECT_TRUE(readEachWithDeadline<int>(
                    0, [](std::size_t) { return 1; }, 10ms, std::chrono::steady_clock::now())
                    .empty());
}

}  // namespace
}  // namespace tavo::linuxwmi
