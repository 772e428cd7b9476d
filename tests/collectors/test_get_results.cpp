#include "collector_fixture.h"

namespace tavo::testing {
namespace {

using wmi::Value;

struct GetResultsTest : CollectorTest {
    std::int16_t onePass = -1;
    std::int16_t periodic = 0;

    FakeScript& cls(const std::string& name) { return backend->script("SELECT * FROM " + name); }
};

TEST_F(GetResultsTest, OnePassClassFillsColumnsRowsAndEndsTheCycle) {
    cls("Win32_BIOS")
        .add(FakeObject()
                 .with("Manufacturer", "Acme")
                 .with("Status", "OK")
                 .with("ReleaseYear", 2021)
                 .with("PrimaryBIOS", true)
                 .withNull("SerialNumber"));
    grid().columnsAdd("left over");
    grid().itemsAdd("k", "old");

    GetResults(ctx, "Win32_BIOS", onePass);

    EXPECT_EQ(backend->log->monikers, std::vector<std::string>{"winmgmts:\\\\PC1\\root\\CIMV2"});
    EXPECT_EQ(backend->log->queries, std::vector<std::string>{"SELECT * FROM Win32_BIOS"});
    EXPECT_EQ(captions(), (std::vector<std::string>{"", "Manufacturer", "Status", "ReleaseYear",
                                                    "PrimaryBIOS", "SerialNumber"}));
    EXPECT_EQ(grid().column(1).Width, 300);
    EXPECT_EQ(grid().column(2).Width, 1500);
    ASSERT_EQ(grid().itemsCount(), 1);
    EXPECT_EQ(row(1).Text(), "*");
    EXPECT_EQ(row(1).SmallIcon(), 1);
    EXPECT_EQ(cells(1, 5), (std::vector<std::string>{"Acme", "OK", "2021", "True", ""}));
    EXPECT_TRUE(row(1).ToolTipText().empty());
    // Pointer back, service released (results before connection), then the cycle stops.
    EXPECT_EQ(ctx.calls,
              (std::vector<std::string>{"setIntervalVisible(false)", "resetPointer", "endOfPass"}));
    EXPECT_EQ(backend->log->events, (std::vector<std::string>{"connect", "query", "release results",
                                                              "release connection"}));
}

TEST_F(GetResultsTest, PeriodicClassShowsTheIntervalAndKeepsTheCycle) {
    cls("Win32_Process").add(FakeObject().with("Name", "init"));
    GetResults(ctx, "Win32_Process", periodic);
    EXPECT_EQ(ctx.intervalVisibleCalls, std::vector<bool>{true});
    EXPECT_EQ(ctx.endOfPassCalls, 0);
    EXPECT_EQ(lamps(), std::vector<int>{2});  // no Status property: warning
}

TEST_F(GetResultsTest, StatusDecidesTheLamp) {
    const std::vector<std::pair<Value, int>> table = {
        {Value("Error"), 3},   {Value("Pred Fail"), 3}, {Value("Stopping"), 3}, {Value("OK"), 1},
        {Value("UNKNOWN"), 1}, {Value(1), 1},           {Value("1"), 1},        {Value(1.0), 1},
        {Value("ok"), 2},      {Value("Degraded"), 2},  {Value(2), 2},          {Value(true), 2},
        {Value(), 2},          {Value::null(), 2},      {Value("Error "), 2},
    };
    auto& script = cls("Win32_DiskDrive");
    for (const auto& [status, level] : table) script.add(FakeObject().with("Status", status));
    GetResults(ctx, "Win32_DiskDrive", periodic);
    ASSERT_EQ(grid().itemsCount(), static_cast<int>(table.size()));
    for (std::size_t i = 0; i < table.size(); ++i)
        EXPECT_EQ(row(static_cast<int>(i) + 1).SmallIcon(), table[i].second) << "row " << i + 1;
}

TEST_F(GetResultsTest, ServicesByStartedAndStartMode) {
    auto service = [](Value status, Value started, Value mode) {
        return FakeObject()
            .with("Name", "svc")
            .with("Status", status)
            .with("Started", started)
            .with("StartMode", mode);
    };
    cls("Win32_Service")
        .add(service("OK", true, "Auto"))               // running: green
        .add(service("OK", false, "Auto"))              // stopped, starts by itself: yellow
        .add(service("OK", false, "Manual"))            // yellow
        .add(service("OK", false, "Disabled"))          // red
        .add(service("Error", true, "Auto"))            // a failing service stays red
        .add(service("OK", Value::null(), "Disabled"))  // unknown run state: keeps the status's
        .add(service("OK", false, "Boot"))              // another mode keeps the status's
        .add(service("Degraded", true, "Auto"));        // running beats a doubtful status
    GetResults(ctx, "Win32_Service", periodic);
    EXPECT_EQ(lamps(), (std::vector<int>{1, 2, 2, 3, 3, 1, 1, 1}));
}

TEST_F(GetResultsTest, ServiceRulesApplyOnlyToWin32Service) {
    cls("Win32_Share")
        .add(
            FakeObject().with("Status", "OK").with("Started", false).with("StartMode", "Disabled"));
    GetResults(ctx, "Win32_Share", periodic);
    EXPECT_EQ(lamps(), std::vector<int>{1});
}

// A failed read must not borrow the previous instance's value: each row's
// lamp speaks only for its own object.
TEST_F(GetResultsTest, FailedReadsNeverTakeThePreviousInstancesValues) {
    cls("Win32_Service")
        .add(FakeObject().with("Status", "Error").with("Started", false).with("StartMode", "Auto"))
        .add(FakeObject().with("Status", "x").failing("Status").with("Started", true))
        .add(FakeObject().with("Status", "OK").with("Started", true).with("StartMode", "Auto"))
        .add(FakeObject().with("Status", "OK").failing("Started").with("StartMode", "Disabled"))
        .add(FakeObject().with("Status", "OK").with("Started", false).with("StartMode", "Disabled"))
        .add(FakeObject().with("Status", "OK").with("Started", false).failing("StartMode"));
    GetResults(ctx, "Win32_Service", periodic);
    // Row 2 would be red with Status carried over; row 4 green with Started
    // carried over; row 6 red with StartMode carried over.
    EXPECT_EQ(lamps(), (std::vector<int>{3, 1, 1, 3, 3, 1}));
}

TEST_F(GetResultsTest, UnconvertibleOrUnreadableValuesLeaveEmptyCells) {
    cls("Win32_NetworkAdapter")
        .add(FakeObject()
                 .with("Name", "eth0")
                 .withNull("Speed")
                 .withArray("NetworkAddresses", {"10.0.0.1"})
                 .with("Index", 3)
                 .failing("Index")
                 .with("Ratio", 0.5)
                 .with("Enabled", false));
    GetResults(ctx, "Win32_NetworkAdapter", periodic);
    EXPECT_EQ(captions(), (std::vector<std::string>{"", "Name", "Speed", "NetworkAddresses",
                                                    "Index", "Ratio", "Enabled"}));
    EXPECT_EQ(cells(1, 6), (std::vector<std::string>{"eth0", "", "", "", "0.5", "False"}));
}

TEST_F(GetResultsTest, RealsFollowTheConfiguredSeparator) {
    cls("Win32_Processor").add(FakeObject().with("Load", 12.5));
    wmi::setDecimalSeparator(',');
    GetResults(ctx, "Win32_Processor", onePass);
    wmi::setDecimalSeparator('.');
    EXPECT_EQ(row(1).SubItems(1), "12,5");
}

// Objects of different kinds in one answer: every value under its own name.
TEST_F(GetResultsTest, MixedKindsPlaceEachValueUnderItsOwnName) {
    cls("Win32_Account")
        .add(FakeObject().with("Name", "alice").with("Domain", "PC1").with("Disabled", false))
        .add(FakeObject().with("Domain", "PC1").with("Name", "staff").with("GroupType", 2))
        .add(FakeObject().with("name", "bob"));
    GetResults(ctx, "Win32_Account", onePass);
    EXPECT_EQ(captions(),
              (std::vector<std::string>{"", "Name", "Domain", "Disabled", "GroupType"}));
    EXPECT_EQ(grid().column(5).Width, 1500);
    EXPECT_EQ(cells(1, 4), (std::vector<std::string>{"alice", "PC1", "False", ""}));
    EXPECT_EQ(cells(2, 4), (std::vector<std::string>{"staff", "PC1", "", "2"}));
    EXPECT_EQ(cells(3, 4), (std::vector<std::string>{"bob", "", "", ""}));
}

TEST_F(GetResultsTest, UnreachableComputerGivesOneExplainedWarningRow) {
    backend->failConnect(errc::kServerUnavailable, "The RPC server is unavailable.");
    grid().columnsAdd("old");
    grid().itemsAdd("", "old row");
    GetResults(ctx, "Win32_BIOS", onePass);
    EXPECT_EQ(captions(), (std::vector<std::string>{"", "Error"}));
    ASSERT_EQ(grid().itemsCount(), 1);
    EXPECT_EQ(row(1).Text(), "*");
    EXPECT_EQ(row(1).SmallIcon(), 2);
    EXPECT_EQ(row(1).ToolTipText(), "0x800706BA: The RPC server is unavailable.");
    // Said in the row itself and to whoever shows it elsewhere, not only in a tool tip.
    EXPECT_EQ(row(1).SubItems(1), "0x800706BA: The RPC server is unavailable.");
    EXPECT_EQ(ctx.failures, std::vector<std::string>{"0x800706BA: The RPC server is unavailable."});
    EXPECT_EQ(ctx.endOfPassCalls, 1);  // a one-pass report still ends the cycle
    EXPECT_EQ(ctx.resetPointerCalls, 1);
}

TEST_F(GetResultsTest, UnknownClassOrFailingFirstFetchIsExplainedToo) {
    GetResults(ctx, "Win32_Nothing", periodic);  // nobody scripted it: invalid class
    ASSERT_EQ(grid().itemsCount(), 1);
    EXPECT_EQ(row(1).SmallIcon(), 2);
    EXPECT_NE(row(1).ToolTipText().find("0x80041010"), std::string::npos);

    cls("Win32_Share").add(FakeObject().with("Name", "C$")).failWalk(0);
    GetResults(ctx, "Win32_Share", periodic);
    EXPECT_EQ(captions(), (std::vector<std::string>{"", "Error"}));
    ASSERT_EQ(grid().itemsCount(), 1);
    EXPECT_NE(row(1).ToolTipText().find("0x80041001"), std::string::npos);
    EXPECT_EQ(backend->log->openConnections, 0);
    EXPECT_EQ(backend->log->openResultSets, 0);
}

TEST_F(GetResultsTest, ServiceFailureRowIsStillAWarning) {
    backend->failConnect();
    GetResults(ctx, "Win32_Service", periodic);
    EXPECT_EQ(lamps(), std::vector<int>{2});
}

TEST_F(GetResultsTest, EmptyAnswerLeavesOnlyTheLampColumn) {
    cls("Win32_Battery");
    GetResults(ctx, "Win32_Battery", onePass);
    EXPECT_EQ(captions(), std::vector<std::string>{""});
    EXPECT_EQ(grid().itemsCount(), 0);
    EXPECT_EQ(ctx.endOfPassCalls, 1);
}

TEST_F(GetResultsTest, WalkFailingMidwayKeepsTheRowsSoFar) {
    cls("Win32_Process")
        .add(FakeObject().with("Name", "a"))
        .add(FakeObject().with("Name", "b"))
        .add(FakeObject().with("Name", "c"))
        .failWalk(2);
    GetResults(ctx, "Win32_Process", onePass);
    ASSERT_EQ(grid().itemsCount(), 2);
    EXPECT_EQ(row(2).SubItems(1), "b");
    EXPECT_TRUE(row(2).ToolTipText().empty());
    EXPECT_EQ(ctx.endOfPassCalls, 1);
}

TEST_F(GetResultsTest, InstanceWhosePropertyListFailsStillGetsItsRow) {
    cls("Win32_Desktop")
        .add(FakeObject().with("Name", "a").with("Status", "OK"))
        .add(FakeObject().with("Name", "b").with("Status", "OK").failingPropertyList());
    GetResults(ctx, "Win32_Desktop", onePass);
    EXPECT_EQ(lamps(), (std::vector<int>{1, 1}));
    EXPECT_EQ(row(2).SubItems(1), "");
}

TEST_F(GetResultsTest, RepeatedPassesNeverPileUp) {
    cls("Win32_Process")
        .add(FakeObject().with("Name", "a").with("ProcessId", 1))
        .add(FakeObject().with("Name", "b").with("ProcessId", 2));
    GetResults(ctx, "Win32_Process", periodic);
    auto first = captions();
    GetResults(ctx, "Win32_Process", periodic);
    EXPECT_EQ(captions(), first);
    EXPECT_EQ(grid().itemsCount(), 2);
    EXPECT_EQ(backend->log->monikers.size(), 2u);  // a new connection every pass
}

}  // namespace
}  // namespace tavo::testing

namespace tavo::testing {
namespace {

// An empty report says why where the service knows; having instances, or
// failing, says nothing of the kind.
TEST_F(GetResultsTest, AnEmptyClassPassesOnTheServicesReason) {
    cls("Win32_Battery").emptyReason = "this computer has no battery";
    GetResults(ctx, "Win32_Battery", onePass);
    EXPECT_EQ(grid().itemsCount(), 0);
    EXPECT_EQ(ctx.emptyReasons, std::vector<std::string>{"this computer has no battery"});
    EXPECT_TRUE(ctx.failures.empty());

    ctx.emptyReasons.clear();
    cls("Win32_PrintJob");  // empty, and nothing to say about it
    GetResults(ctx, "Win32_PrintJob", periodic);
    EXPECT_TRUE(ctx.emptyReasons.empty());

    cls("Win32_BIOS").add(FakeObject().with("Name", "BIOS")).emptyReason = "never asked";
    GetResults(ctx, "Win32_BIOS", onePass);
    EXPECT_TRUE(ctx.emptyReasons.empty());
}

}  // namespace
}  // namespace tavo::testing
