#include <stdexcept>

#include "collector_fixture.h"

namespace tavo::testing {
namespace {

using wmi::Value;

constexpr const char* kQuery = "Select * from Win32_LogicalDisk";
const std::string kGiB = "1073741824";

struct DriveMonTest : CollectorTest {
    DriveMonTest() { layout(9); }
    FakeScript& disks() { return backend->script(kQuery); }

    static FakeObject disk(const std::string& id, Value size, Value free) {
        return FakeObject()
            .with("DeviceID", id)
            .with("Description", "Local Fixed Disk")
            .with("Size", size)
            .with("FreeSpace", free)
            .with("DriveType", 3)
            .with("FileSystem", "NTFS")
            .with("VolumeName", "System")
            .with("VolumeDirty", false);
    }
};

TEST_F(DriveMonTest, FillsEveryCellInColumnOrder) {
    disks()
        .add(disk("C:", "4294967296", kGiB).with("VolumeDirty", true))
        .add(disk("D:", "1000000000", "90000000"));
    DriveMon(ctx);
    EXPECT_EQ(backend->log->queries, std::vector<std::string>{kQuery});
    ASSERT_EQ(grid().itemsCount(), 2);
    EXPECT_EQ(row(1).Text(), "C:");
    EXPECT_EQ(row(1).Key(), "C:");
    EXPECT_EQ(cells(1, 8), (std::vector<std::string>{"Local Fixed Disk", "75 %", "1 GB", "4 GB",
                                                     "Local Disk", "NTFS", "System", "True"}));
    EXPECT_EQ(cells(2, 4),
              (std::vector<std::string>{"Local Fixed Disk", "91 %", "0.08 GB", "0.93 GB"}));
    EXPECT_EQ(lamps(), (std::vector<int>{1, 3}));
    EXPECT_EQ(ctx.endOfPassCalls, 1);
    EXPECT_EQ(backend->log->events, (std::vector<std::string>{"connect", "query", "release results",
                                                              "release connection"}));
}

TEST_F(DriveMonTest, FullnessThresholdsLookAtTheWholeRoundedPercentage) {
    struct Case {
        const char* size;
        const char* free;
        const char* cell;
        int lamp;
    } cases[] = {
        {"10000", "1901", "80.99 %", 1},    {"10000", "1900", "81 %", 2},
        {"10000", "901", "90.99 %", 2},     {"10000", "900", "91 %", 3},
        {"100000", "9004", "91 %", 3},  // 90.996 rounds up into red
        {"10000", "5487", "45.13 %", 1},    {"10000", "10000", "0 %", 1},
        {"10000", "0", "100 %", 3},         {"200", "199", "0.5 %", 1},
        {"1000000", "999875", "0.01 %", 1},  // 0.0125: the tie goes to the even digit
        {"800", "3", "99.62 %", 3},          // 99.625 likewise
    };
    int n = 0;
    for (const auto& c : cases) disks().add(disk("X" + std::to_string(n++) + ":", c.size, c.free));
    DriveMon(ctx);
    ASSERT_EQ(grid().itemsCount(), n);
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(row(i + 1).SubItems(2), cases[i].cell) << cases[i].size << "/" << cases[i].free;
        EXPECT_EQ(row(i + 1).SmallIcon(), cases[i].lamp) << cases[i].cell;
    }
}

TEST_F(DriveMonTest, DrivesWithoutMediumOrSizeAreGreenWithUnitsAlone) {
    disks()
        .add(FakeObject()
                 .with("DeviceID", "E:")
                 .with("Description", "CD-ROM Disc")
                 .withNull("Size")
                 .withNull("FreeSpace")
                 .with("DriveType", 5)
                 .withNull("FileSystem")
                 .withNull("VolumeName")
                 .withNull("VolumeDirty"))
        .add(disk("F:", "0", "0"))
        .add(disk("G:", "abc", "12").with("DriveType", 2));
    DriveMon(ctx);
    EXPECT_EQ(lamps(), (std::vector<int>{1, 1, 1}));
    EXPECT_EQ(cells(1, 8), (std::vector<std::string>{"CD-ROM Disc", " %", " GB", " GB",
                                                     "Optical Disk", "", "", ""}));
    EXPECT_EQ(cells(2, 4), (std::vector<std::string>{"Local Fixed Disk", " %", "0 GB", "0 GB"}));
    // A size that is no number leaves its own cell empty, nothing else.
    EXPECT_EQ(cells(3, 5),
              (std::vector<std::string>{"Local Fixed Disk", " %", "0 GB", "", "Removable Disk"}));
}

TEST_F(DriveMonTest, DriveTypeTable) {
    const std::vector<std::pair<Value, std::string>> table = {
        {Value(2), "Removable Disk"},  {Value(3), "Local Disk"}, {Value(4), "Network Drive"},
        {Value(5), "Optical Disk"},    {Value(6), "RAM Disk"},   {Value(0), "Unknown"},
        {Value(1), "Unknown"},         {Value(7), "Unknown"},    {Value::null(), "Unknown"},
        {Value("4"), "Network Drive"}, {Value("x"), "Unknown"},
    };
    int n = 0;
    for (const auto& [code, text] : table)
        disks().add(disk("D" + std::to_string(n++), kGiB, kGiB).with("DriveType", code));
    disks().add(disk("Z:", kGiB, kGiB).failing("DriveType"));
    DriveMon(ctx);
    ASSERT_EQ(grid().itemsCount(), n + 1);
    for (int i = 0; i < n; ++i) EXPECT_EQ(row(i + 1).SubItems(5), table[i].second) << i;
    EXPECT_EQ(row(n + 1).SubItems(5), "Unknown");
}

TEST_F(DriveMonTest, FailingReadsSpoilOnlyTheirOwnCells) {
    disks()
        .add(disk("C:", "4294967296", kGiB).failing("Description").failing("FreeSpace"))
        .add(disk("D:", "4294967296", kGiB));
    DriveMon(ctx);
    // Without FreeSpace there is no percentage: green, " %", empty free cell.
    EXPECT_EQ(cells(1, 5), (std::vector<std::string>{"", " %", "", "4 GB", "Local Disk"}));
    EXPECT_EQ(lamps(), (std::vector<int>{1, 1}));
    EXPECT_EQ(row(2).SubItems(2), "75 %");  // nothing carried over from C:
}

TEST_F(DriveMonTest, EmptyAnswerStillEndsThePass) {
    disks();
    grid().itemsAdd("C:", "C:");
    DriveMon(ctx);
    EXPECT_EQ(grid().itemsCount(), 0);
    EXPECT_EQ(ctx.endOfPassCalls, 1);
}

TEST_F(DriveMonTest, UnreachableComputerKeepsThePreviousRowsAndRaises) {
    disks().add(disk("C:", kGiB, kGiB));
    DriveMon(ctx);
    ctx.endOfPassCalls = 0;

    backend->failConnect();
    EXPECT_EQ(raised([&] { DriveMon(ctx); }), errc::kServerUnavailable);
    backend->connectError.reset();
    disks().failQuery(errc::kAccessDenied, "Access denied");
    EXPECT_EQ(raised([&] { DriveMon(ctx); }), errc::kAccessDenied);

    // The rows of the last good pass stay; the cycle's error report decides
    // what happens next, so no end-of-pass call is made here.
    ASSERT_EQ(grid().itemsCount(), 1);
    EXPECT_EQ(row(1).SubItems(4), "1 GB");
    EXPECT_EQ(ctx.endOfPassCalls, 0);

    // The rows are cleared before the first disk is fetched, so a walk that
    // cannot start leaves an empty grid, and still raises.
    disks().queryError.reset();
    disks().failWalk(0);
    EXPECT_EQ(raised([&] { DriveMon(ctx); }), errc::kFailed);
    EXPECT_EQ(grid().itemsCount(), 0);
    EXPECT_EQ(ctx.endOfPassCalls, 0);
    EXPECT_EQ(backend->log->openConnections, 0);
    EXPECT_EQ(backend->log->openResultSets, 0);
}

TEST_F(DriveMonTest, WalkFailingMidwayKeepsEarlierDisks) {
    disks().add(disk("C:", kGiB, kGiB)).add(disk("D:", kGiB, kGiB)).failWalk(1);
    DriveMon(ctx);
    EXPECT_EQ(grid().itemsCount(), 1);
    EXPECT_EQ(ctx.endOfPassCalls, 1);
}

TEST_F(DriveMonTest, RepeatedOrMissingDriveIdsKeepEveryDisk) {
    disks()
        .add(disk("C:", "4294967296", kGiB))
        .add(disk("C:", "10000", "900"))
        .add(disk("", kGiB, kGiB))
        .add(disk("", kGiB, kGiB))
        .add(disk("?", kGiB, kGiB).withNull("DeviceID"));
    DriveMon(ctx);
    ASSERT_EQ(grid().itemsCount(), 5);
    EXPECT_EQ(row(1).SubItems(2), "75 %");
    EXPECT_EQ(row(2).Text(), "C:");
    EXPECT_EQ(row(2).SubItems(2), "91 %");
    EXPECT_EQ(row(2).SmallIcon(), 3);
    EXPECT_EQ(row(5).SubItems(4), "1 GB");
}

TEST_F(DriveMonTest, RepeatedPassesNeverPileUpRows) {
    disks().add(disk("C:", kGiB, kGiB)).add(disk("D:", kGiB, kGiB));
    DriveMon(ctx);
    DriveMon(ctx);
    EXPECT_EQ(grid().itemsCount(), 2);
    EXPECT_EQ(grid().columnsCount(), 9);  // the window's layout is not touched
}

// A back end that fails with something other than tavo::Error.
struct ThrowingBackend : wmi::Backend {
    std::unique_ptr<wmi::Connection> connect(const std::string&) override {
        throw std::runtime_error("socket closed");
    }
};

TEST_F(DriveMonTest, ForeignFailuresReachTheCycleAsTavoErrors) {
    auto throwing = std::make_shared<ThrowingBackend>();
    ctx.factory = wmi::makeConnectionFactory(throwing);
    ctx.computerName = ".";
    try {
        DriveMon(ctx);
        FAIL();
    } catch (const Error& e) {
        EXPECT_NE(e.description().find("socket closed"), std::string::npos);
    }
}

}  // namespace
}  // namespace tavo::testing
