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
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "linux/wmi/cim_type_check.h"
#include "linux/wmi/real_cups.h"
#include "platform/linux/wmi/print_system.h"
#include "platform/linux/wmi/provider.h"
#include "platform/linux/wmi/system_classes.h"

namespace tavo::linuxwmi {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

wmi::Value val(const Instance& i, std::string_view name) {
    const wmi::Value* v = i.find(name);
    EXPECT_NE(v, nullptr) << name;
    return v ? *v : wmi::Value();
}

class FakePrintSystem : public PrintSystem {
  public:
    std::optional<std::vector<PrinterRecord>> queues;
    std::optional<std::vector<PrintJobRecord>> pending;
    std::optional<std::vector<PrinterRecord>> printers(std::chrono::milliseconds) override {
        return queues;
    }
    std::optional<std::vector<PrintJobRecord>> jobs(std::chrono::milliseconds) override {
        return pending;
    }
};

SystemContext withPrinting(std::shared_ptr<PrintSystem> ps) {
    SystemContext ctx;
    ctx.root = std::string(TAVO_TEST_DATA) + "/system/twosocket";
    ctx.printing = std::move(ps);
    return ctx;
}

PrintJobRecord job(int id, std::string queue, JobState state) {
    PrintJobRecord j;
    j.id = id;
    j.queue = std::move(queue);
    j.state = state;
    return j;
}

PrinterRecord queue(std::string name, PrinterState state, std::vector<std::string> reasons = {}) {
    PrinterRecord p;
    p.name = std::move(name);
    p.state = state;
    p.stateReasons = std::move(reasons);
    return p;
}

// ---- rows from what the print service reports ------------------------------

TEST(Printers, QueueAttributesBecomeProperties) {
    auto ps = std::make_shared<FakePrintSystem>();
    PrinterRecord p = queue("Office", PrinterState::Idle);
    p.isDefault = true;
    p.info = "Second floor laser";
    p.location = "Room 2.14";
    p.makeAndModel = "HP LaserJet 4250 Postscript";
    p.deviceUri = "socket://10.0.0.7:9100";
    p.shared = true;
    p.remote = false;
    p.resolutionX = 600;
    p.resolutionY = 1200;
    p.formatsSupported = {"application/pdf", "image/png"};
    PrinterRecord q = queue("Upstairs", PrinterState::Idle);
    q.shared = false;
    q.remote = true;
    ps->queues = std::vector<PrinterRecord>{p, q};

    const auto rows = printerInstances(withPrinting(ps));
    ASSERT_EQ(rows.size(), 2u);
    const Instance& r = rows[0];
    EXPECT_EQ(val(r, "DeviceID"), wmi::Value("Office"));
    EXPECT_EQ(val(r, "Name"), wmi::Value("Office"));
    EXPECT_EQ(val(r, "Description"), wmi::Value("Second floor laser"));
    EXPECT_EQ(val(r, "Location"), wmi::Value("Room 2.14"));
    EXPECT_EQ(val(r, "DriverName"), wmi::Value("HP LaserJet 4250 Postscript"));
    EXPECT_EQ(val(r, "PortName"), wmi::Value("socket://10.0.0.7:9100"));
    EXPECT_EQ(val(r, "Default"), wmi::Value(true));
    EXPECT_EQ(val(r, "Shared"), wmi::Value(true));
    EXPECT_EQ(val(r, "ShareName"), wmi::Value("Office"));
    EXPECT_EQ(val(r, "Local"), wmi::Value(true));
    EXPECT_EQ(val(r, "Network"), wmi::Value(false));
    EXPECT_EQ(val(r, "SpoolEnabled"), wmi::Value(true));
    EXPECT_EQ(val(r, "Queued"), wmi::Value(true));
    EXPECT_EQ(val(r, "Direct"), wmi::Value(false));
    EXPECT_EQ(val(r, "HorizontalResolution"), wmi::Value(600));
    EXPECT_EQ(val(r, "VerticalResolution"), wmi::Value(1200));
    EXPECT_EQ(val(r, "SystemName"), wmi::Value("BENCH3"));
    // queued | default | shared | local
    EXPECT_EQ(val(r, "Attributes"), wmi::Value(0x1 | 0x4 | 0x8 | 0x40));
    EXPECT_EQ(
        val(r, "MimeTypesSupported"),
        wmi::Value(wmi::Value::Array{wmi::Value("application/pdf"), wmi::Value("image/png")}));
    // Nothing on Linux answers these.
    EXPECT_TRUE(val(r, "PrintProcessor").isNull());
    EXPECT_TRUE(val(r, "StatusInfo").isNull());
    EXPECT_TRUE(val(r, "Published").isNull());

    const Instance& u = rows[1];
    EXPECT_EQ(val(u, "Shared"), wmi::Value(false));
    EXPECT_TRUE(val(u, "ShareName").isNull());
    EXPECT_EQ(val(u, "Network"), wmi::Value(true));
    EXPECT_EQ(val(u, "Local"), wmi::Value(false));
    EXPECT_EQ(val(u, "Default"), wmi::Value(false));
    EXPECT_TRUE(val(u, "HorizontalResolution").isNull());
    EXPECT_TRUE(val(u, "Description").isNull());
}

TEST(Printers, StatusFromStateAndReasons) {
    struct Case {
        PrinterState state;
        std::vector<std::string> reasons;
        int printerStatus;
        int detected;
        const char* status;
        bool offline;
        std::int64_t windowsState;
    };
    const Case cases[] = {
        {PrinterState::Idle, {}, 3, 2, "OK", false, 0},
        {PrinterState::Processing, {}, 4, 2, "OK", false, 0x400},
        // CUPS reports a device it cannot reach this way.
        {PrinterState::Idle, {"offline-report"}, 7, 9, "Degraded", true, 0x80},
        {PrinterState::Processing, {"offline-report"}, 7, 9, "Degraded", true, 0x400 | 0x80},
        {PrinterState::Processing, {"media-empty-error"}, 4, 4, "Error", false, 0x400 | 0x10 | 0x2},
        {PrinterState::Idle, {"toner-low-warning"}, 3, 5, "Degraded", false, 0x20000},
        {PrinterState::Idle, {"media-jam"}, 3, 8, "Error", false, 0x8 | 0x2},
        {PrinterState::Idle,
         {"cover-open-error", "toner-low-warning"},
         3,
         7,
         "Error",
         false,
         0x400000 | 0x2 | 0x20000},
        // Reasons CUPS raises while all is well change nothing.
        {PrinterState::Processing, {"connecting-to-device"}, 4, 2, "OK", false, 0x400},
        {PrinterState::Idle, {"other-report"}, 3, 2, "OK", false, 0},
        // A stopped queue keeps its jobs without printing them.
        {PrinterState::Stopped, {"paused"}, 1, 2, "Degraded", false, 0x1},
        {PrinterState::Idle, {"spool-area-full-error"}, 3, 1, "Error", false, 0x2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.reasons) + " state " +
                     std::to_string(static_cast<int>(c.state)));
        auto ps = std::make_shared<FakePrintSystem>();
        ps->queues = std::vector<PrinterRecord>{queue("P", c.state, c.reasons)};
        const auto rows = printerInstances(withPrinting(ps));
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(val(rows[0], "PrinterStatus"), wmi::Value(c.printerStatus));
        EXPECT_EQ(val(rows[0], "DetectedErrorState"), wmi::Value(c.detected));
        EXPECT_EQ(val(rows[0], "Status"), wmi::Value(c.status));
        EXPECT_EQ(val(rows[0], "WorkOffline"), wmi::Value(c.offline));
        EXPECT_EQ(val(rows[0], "PrinterState"), wmi::Value(c.windowsState));
    }
    // The state message explains a fault only.
    auto ps = std::make_shared<FakePrintSystem>();
    PrinterRecord broken = queue("B", PrinterState::Stopped, {"paused"});
    broken.stateMessage = "Out for repair";
    PrinterRecord fine = queue("F", PrinterState::Idle);
    fine.stateMessage = "Ready to print.";
    PrinterRecord unknown = queue("U", PrinterState::Unknown);
    ps->queues = std::vector<PrinterRecord>{broken, fine, unknown};
    const auto rows = printerInstances(withPrinting(ps));
    EXPECT_EQ(val(rows[0], "ErrorDescription"), wmi::Value("Out for repair"));
    EXPECT_TRUE(val(rows[1], "ErrorDescription").isNull());
    // A state CUPS did not give is not guessed.
    EXPECT_TRUE(val(rows[2], "PrinterStatus").isNull());
    EXPECT_TRUE(val(rows[2], "Status").isNull());
}

TEST(Printers, NoServiceOrNoAnswerMeansNoRows) {
    SystemContext none = withPrinting(nullptr);
    EXPECT_TRUE(printerInstances(none).empty());
    EXPECT_TRUE(printJobInstances(none).empty());

    auto silent = std::make_shared<FakePrintSystem>();  // answers nothing
    EXPECT_TRUE(printerInstances(withPrinting(silent)).empty());
    EXPECT_TRUE(printJobInstances(withPrinting(silent)).empty());
}

TEST(PrintJobs, JobsNamedByQueueAndId) {
    auto ps = std::make_shared<FakePrintSystem>();
    PrinterRecord p = queue("Office", PrinterState::Processing);
    p.makeAndModel = "Generic PDF";
    ps->queues = std::vector<PrinterRecord>{p};
    PrintJobRecord printing = job(17, "Office", JobState::Processing);
    printing.title = "Budget.ods";
    printing.owner = "alice";
    printing.sizeKb = 3;
    printing.pages = 4;
    printing.pagesCompleted = 1;
    printing.created = 1700000000;
    printing.processing = 1700000100;
    printing.priority = 50;
    PrintJobRecord waiting = job(18, "Gone", JobState::Pending);
    PrintJobRecord held = job(19, "Office", JobState::Held);
    ps->pending = std::vector<PrintJobRecord>{printing, waiting, held};

    const auto rows = printJobInstances(withPrinting(ps));
    ASSERT_EQ(rows.size(), 3u);
    const Instance& j = rows[0];
    EXPECT_EQ(val(j, "Name"), wmi::Value("Office, 17"));
    EXPECT_EQ(val(j, "JobId"), wmi::Value(17));
    EXPECT_EQ(val(j, "Document"), wmi::Value("Budget.ods"));
    EXPECT_EQ(val(j, "Owner"), wmi::Value("alice"));
    EXPECT_EQ(val(j, "Size"), wmi::Value(3 * 1024));
    EXPECT_EQ(val(j, "TotalPages"), wmi::Value(4));
    EXPECT_EQ(val(j, "PagesPrinted"), wmi::Value(1));
    EXPECT_EQ(val(j, "TimeSubmitted"), wmi::Value(dmtfDateTime(1700000000)));
    EXPECT_EQ(val(j, "StartTime"), wmi::Value(dmtfDateTime(1700000100)));
    EXPECT_EQ(val(j, "HostPrintQueue"), wmi::Value("\\\\BENCH3"));
    EXPECT_EQ(val(j, "DriverName"), wmi::Value("Generic PDF"));
    EXPECT_EQ(val(j, "JobStatus"), wmi::Value("Printing"));
    EXPECT_EQ(val(j, "Status"), wmi::Value("OK"));

    // A waiting job has no status word; a queue that vanished leaves no driver.
    EXPECT_EQ(val(rows[1], "Name"), wmi::Value("Gone, 18"));
    EXPECT_TRUE(val(rows[1], "JobStatus").isNull());
    EXPECT_TRUE(val(rows[1], "DriverName").isNull());
    EXPECT_TRUE(val(rows[1], "Size").isNull());
    EXPECT_EQ(val(rows[2], "JobStatus"), wmi::Value("Paused"));
}

// ---- the real CUPS client ----------------------------------------------------

TEST(CupsClient, NoServerMeansNoAnswerQuickly) {
    const int port = freeLoopbackPort();
    ASSERT_GT(port, 0);
    auto cups = makeCupsPrintSystem("127.0.0.1:" + std::to_string(port));
    const auto start = Clock::now();
    EXPECT_FALSE(cups->printers(2000ms));
    EXPECT_FALSE(cups->jobs(2000ms));
    EXPECT_LT(Clock::now() - start, 2000ms);
}

TEST(CupsClient, SilentServerIsCutOffAtTheDeadline) {
    // A server that accepts the connection and never answers.
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(s, 8), 0);
    ASSERT_EQ(getsockname(s, reinterpret_cast<sockaddr*>(&a), &len), 0);
    auto cups = makeCupsPrintSystem("127.0.0.1:" + std::to_string(ntohs(a.sin_port)));

    const auto start = Clock::now();
    EXPECT_FALSE(cups->printers(500ms));
    const auto took = Clock::now() - start;
    EXPECT_GE(took, 450ms);
    EXPECT_LT(took, 1500ms);
    // Give the worker time to notice its own deadline before the socket goes.
    std::this_thread::sleep_for(500ms);
    close(s);
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

TEST_F(RealCups, PrintersAgreeWithLpstat) {
    const auto lpstat = run("lpstat -h " + server() + " -p");
    ASSERT_TRUE(lpstat) << failure;
    // "printer NAME is idle. ..." / "printer NAME disabled since ..." / "... now printing ..."
    std::map<std::string, int> expected;
    for (const auto& line : splitLines(*lpstat)) {
        std::istringstream w(line);
        std::string word, name, state;
        w >> word >> name >> state;
        if (word != "printer") continue;
        if (line.find("disabled") != std::string::npos) {
            expected[name] = 1;
        } else if (line.find("now printing") != std::string::npos) {
            expected[name] = 4;
        } else if (line.find("is idle") != std::string::npos) {
            expected[name] = 3;
        }
    }
    ASSERT_EQ(expected.size(), 2u) << *lpstat;

    const auto start = Clock::now();
    const auto rows = printerInstances(SystemContext::forThisMachine());
    EXPECT_LT(Clock::now() - start, 2500ms);
    std::map<std::string, int> actual;
    for (const auto& r : rows) {
        actual[val(r, "DeviceID").text()] = static_cast<int>(val(r, "PrinterStatus").integer());
    }
    EXPECT_EQ(actual, expected);

    for (const auto& r : rows) {
        const std::string name = val(r, "Name").text();
        EXPECT_EQ(val(r, "PortName"), wmi::Value("file:///dev/null")) << name;
        if (name == "TavoTest") {
            EXPECT_EQ(val(r, "Description"), wmi::Value("Tavo test queue"));
            EXPECT_EQ(val(r, "Location"), wmi::Value("Lab 3"));
            EXPECT_EQ(val(r, "Shared"), wmi::Value(true));
            EXPECT_EQ(val(r, "ShareName"), wmi::Value("TavoTest"));
            EXPECT_EQ(val(r, "Default"), wmi::Value(true));
            EXPECT_EQ(val(r, "Local"), wmi::Value(true));
            EXPECT_EQ(val(r, "Status"), wmi::Value("OK"));
        } else {
            EXPECT_EQ(val(r, "Default"), wmi::Value(false));
            EXPECT_EQ(val(r, "Status"), wmi::Value("Degraded"));
            EXPECT_EQ(val(r, "ErrorDescription"), wmi::Value("Out for repair"));
        }
    }
}

TEST_F(RealCups, JobsAgreeWithLpstat) {
    const auto lpstat = run("lpstat -h " + server() + " -o");
    ASSERT_TRUE(lpstat) << failure;
    // "QUEUE-ID  OWNER  SIZE  DATE"
    std::map<std::string, std::pair<std::string, std::int64_t>> expected;
    for (const auto& line : splitLines(*lpstat)) {
        std::istringstream w(line);
        std::string id, owner;
        std::int64_t size = -1;
        if (!(w >> id >> owner >> size)) continue;
        const auto dash = id.rfind('-');
        ASSERT_NE(dash, std::string::npos) << line;
        expected[id.substr(0, dash) + ", " + id.substr(dash + 1)] = {owner, size};
    }
    ASSERT_EQ(expected.size(), 2u) << *lpstat;

    std::map<std::string, std::pair<std::string, std::int64_t>> actual;
    const auto rows = printJobInstances(SystemContext::forThisMachine());
    for (const auto& j : rows) {
        actual[val(j, "Name").text()] = {val(j, "Owner").text(), val(j, "Size").integer()};
        if (val(j, "Name").text().starts_with("TavoTest,")) {
            EXPECT_EQ(val(j, "Document"), wmi::Value("Quarterly report"));
            EXPECT_EQ(val(j, "JobStatus"), wmi::Value("Paused"));  // held
        }
        EXPECT_FALSE(val(j, "TimeSubmitted").isNull());
    }
    EXPECT_EQ(actual, expected);
}

TEST_F(RealCups, WalksKeepCimTypes) {
    EXPECT_EQ(testing::expectMachineCimTypes("Win32_Printer"), 2);
    EXPECT_EQ(testing::expectMachineCimTypes("Win32_PrintJob"), 2);
}

// Whatever CUPS this machine has (often none): rows of the right types, and
// no error when the scheduler is not running.
TEST(PrintersOnThisMachine, EveryValueHasItsCimType) {
    const auto start = Clock::now();
    testing::expectMachineCimTypes("Win32_Printer");
    testing::expectMachineCimTypes("Win32_PrintJob");
    EXPECT_LT(Clock::now() - start, 5s);
}

}  // namespace
}  // namespace tavo::linuxwmi
