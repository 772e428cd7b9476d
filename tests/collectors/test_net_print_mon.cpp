#include "collector_fixture.h"

namespace tavo::testing {
namespace {

using wmi::Value;

constexpr const char* kAdapters =
    "Select * from Win32_NetworkAdapterConfiguration Where IPEnabled = True";
constexpr const char* kPrinters = "SELECT * FROM Win32_Printer";

struct NetMonTest : CollectorTest {
    NetMonTest() { layout(13); }
    FakeScript& adapters() { return backend->script(kAdapters); }

    static FakeObject adapter(const std::string& mac) {
        return FakeObject()
            .with("MACAddress", mac)
            .with("Description", "Ethernet")
            .withArray("IPAddress", {"192.168.1.10"})
            .withArray("DefaultIPGateway", {"192.168.1.1"})
            .withArray("DNSServerSearchOrder", {"192.168.1.2", "9.9.9.9"})
            .with("DHCPEnabled", true)
            .with("DNSDomain", "lan")
            .with("ServiceName", "e1000")
            .with("MTU", 1500);
    }
};

TEST_F(NetMonTest, FillsEveryCellInColumnOrderAndKeepsTheCycle) {
    adapters().add(adapter("00:11:22:33:44:55"));
    NetMon(ctx);
    EXPECT_EQ(backend->log->queries, std::vector<std::string>{kAdapters});
    ASSERT_EQ(grid().itemsCount(), 1);
    EXPECT_EQ(row(1).Key(), "00:11:22:33:44:55");
    EXPECT_EQ(row(1).Text(), "00:11:22:33:44:55");
    EXPECT_EQ(row(1).SmallIcon(), 1);
    EXPECT_EQ(cells(1, 12),
              (std::vector<std::string>{"Ethernet", "192.168.1.10", "192.168.1.1", "192.168.1.2",
                                        "True", "lan", "e1000", "1500", "", "", "9.9.9.9", ""}));
    EXPECT_EQ(ctx.endOfPassCalls, 0);
    EXPECT_EQ(backend->log->openConnections, 0);
}

TEST_F(NetMonTest, LampFlagsMissingNameServerAndGateway) {
    adapters()
        .add(adapter("a").withNull("DNSServerSearchOrder"))         // yellow
        .add(adapter("b").withArray("DNSServerSearchOrder", {}))    // yellow
        .add(adapter("c").withArray("DNSServerSearchOrder", {""}))  // yellow
        .add(adapter("d").withNull("DefaultIPGateway"))             // red
        .add(adapter("e").withArray("DefaultIPGateway", {""}).withNull("DNSServerSearchOrder"))
        .add(adapter("f").failing("DNSServerSearchOrder"))  // unreadable: missing
        .add(adapter("g").failing("DefaultIPGateway"));
    NetMon(ctx);
    EXPECT_EQ(lamps(), (std::vector<int>{2, 2, 2, 3, 3, 2, 3}));
    EXPECT_EQ(cells(1, 4),
              (std::vector<std::string>{"Ethernet", "192.168.1.10", "192.168.1.1", ""}));
    EXPECT_EQ(row(1).SubItems(11), "");
    EXPECT_EQ(row(4).SubItems(3), "");
}

TEST_F(NetMonTest, ShowsOnlyTheFirstThreeAddressesAsGiven) {
    adapters().add(
        adapter("a")
            .withArray("IPAddress", {"10.0.0.1", "fe80::1", "10.0.0.2", "10.0.0.3"})
            .withArray("DNSServerSearchOrder", {"1.1.1.1", "2.2.2.2", "3.3.3.3", "4.4.4.4"})
            .withNull("DNSDomain")
            .withNull("MTU")
            .with("DHCPEnabled", false));
    NetMon(ctx);
    auto c = cells(1, 12);
    EXPECT_EQ(c[1], "10.0.0.1");
    EXPECT_EQ(c[8], "fe80::1");
    EXPECT_EQ(c[9], "10.0.0.2");
    EXPECT_EQ(c[3], "1.1.1.1");
    EXPECT_EQ(c[10], "2.2.2.2");
    EXPECT_EQ(c[11], "3.3.3.3");
    EXPECT_EQ(c[4], "False");
    EXPECT_EQ(c[5], "");  // null domain
    EXPECT_EQ(c[7], "");  // null MTU
}

TEST_F(NetMonTest, RepeatedEmptyOrNullMacKeepsEveryAdapterWithItsOwnCells) {
    adapters()
        .add(adapter("00:00:00:00:00:01"))
        .add(
            adapter("00:00:00:00:00:01").with("Description", "VLAN 7").withNull("DefaultIPGateway"))
        .add(adapter("").with("Description", "tun0"))
        .add(adapter("").with("Description", "tun1"))
        .add(adapter("").withNull("MACAddress").with("Description", "wg0"));
    NetMon(ctx);
    ASSERT_EQ(grid().itemsCount(), 5);
    EXPECT_EQ(row(1).SubItems(1), "Ethernet");
    EXPECT_EQ(row(1).SmallIcon(), 1);
    EXPECT_EQ(row(2).Text(), "00:00:00:00:00:01");
    EXPECT_EQ(row(2).SubItems(1), "VLAN 7");
    EXPECT_EQ(row(2).SmallIcon(), 3);
    EXPECT_EQ(row(4).SubItems(1), "tun1");
    EXPECT_EQ(row(5).SubItems(1), "wg0");
}

TEST_F(NetMonTest, UnreachableComputerKeepsRowsAndRaises) {
    adapters().add(adapter("a")).add(adapter("b"));
    NetMon(ctx);
    backend->failConnect();
    EXPECT_EQ(raised([&] { NetMon(ctx); }), errc::kServerUnavailable);
    EXPECT_EQ(grid().itemsCount(), 2);
    backend->connectError.reset();
    NetMon(ctx);  // next tick tries again and never piles up
    EXPECT_EQ(grid().itemsCount(), 2);
    adapters().objects.clear();
    NetMon(ctx);
    EXPECT_EQ(grid().itemsCount(), 0);
}

struct PrintMonTest : CollectorTest {
    PrintMonTest() { layout(18); }
    FakeScript& printers() { return backend->script(kPrinters); }

    static FakeObject printer(const std::string& name, Value status) {
        return FakeObject()
            .with("DeviceID", name)
            .with("Description", "Laser")
            .with("Location", "Room 4")
            .with("DriverName", "Generic PCL")
            .with("PortName", "usb://1")
            .with("PrintProcessor", "winprint")
            .with("SpoolEnabled", true)
            .with("Queued", false)
            .with("Status", "Unknown")
            .with("PrinterStatus", status)
            .withNull("StatusInfo")
            .with("Published", false)
            .with("Shared", true)
            .with("ShareName", "laser")
            .with("Direct", false)
            .with("WorkOffline", false)
            .with("HorizontalResolution", 600)
            .with("VerticalResolution", 1200);
    }
};

TEST_F(PrintMonTest, FillsEveryCellInColumnOrder) {
    printers().add(printer("Laser1", 3));
    PrintMon(ctx);
    EXPECT_EQ(backend->log->queries, std::vector<std::string>{kPrinters});
    ASSERT_EQ(grid().itemsCount(), 1);
    EXPECT_EQ(row(1).Key(), "Laser1");
    EXPECT_EQ(cells(1, 17),
              (std::vector<std::string>{"Laser", "Room 4", "Generic PCL", "usb://1", "winprint",
                                        "True", "False", "Unknown", "Paused", "", "False", "True",
                                        "laser", "False", "False", "600", "1200"}));
    EXPECT_EQ(ctx.endOfPassCalls, 0);
}

TEST_F(PrintMonTest, StatusCodeChoosesLampAndText) {
    printers()
        .add(printer("p3", 3))
        .add(printer("p1", 1))
        .add(printer("p2", 2))
        .add(printer("p4", 4))
        .add(printer("p7", 7))
        .add(printer("pnull", Value::null()))
        .add(printer("ptext", "3"));
    PrintMon(ctx);
    EXPECT_EQ(lamps(), (std::vector<int>{1, 2, 3, 3, 3, 3, 1}));
    std::vector<std::string> texts;
    for (int i = 1; i <= grid().itemsCount(); ++i) texts.emplace_back(row(i).SubItems(9));
    EXPECT_EQ(texts,
              (std::vector<std::string>{"Paused", "Ready", "Ready", "4", "7", "", "Paused"}));
}

// A status nobody could read says nothing good about the printer.
TEST_F(PrintMonTest, UnreadableStatusIsRedNotGreen) {
    printers().add(printer("p", 3).failing("PrinterStatus"));
    PrintMon(ctx);
    EXPECT_EQ(lamps(), std::vector<int>{3});
    EXPECT_EQ(row(1).SubItems(9), "");
    EXPECT_EQ(row(1).SubItems(10), "");
    EXPECT_EQ(row(1).SubItems(17), "1200");
}

TEST_F(PrintMonTest, UnsharedPrinterAndNullsLeaveCellsEmpty) {
    printers().add(printer("p", 3)
                       .with("Shared", false)
                       .withNull("ShareName")
                       .withNull("Location")
                       .withNull("HorizontalResolution")
                       .with("StatusInfo", 3));
    PrintMon(ctx);
    auto c = cells(1, 17);
    EXPECT_EQ(c[11], "False");
    EXPECT_EQ(c[12], "");
    EXPECT_EQ(c[1], "");
    EXPECT_EQ(c[15], "");
    EXPECT_EQ(c[9], "3");
}

TEST_F(PrintMonTest, RepeatedNameKeepsBothPrinters) {
    printers().add(printer("Laser", 3)).add(printer("Laser", 1).with("PortName", "lpt2"));
    PrintMon(ctx);
    ASSERT_EQ(grid().itemsCount(), 2);
    EXPECT_EQ(row(1).SubItems(4), "usb://1");
    EXPECT_EQ(row(2).SubItems(4), "lpt2");
    EXPECT_EQ(lamps(), (std::vector<int>{1, 2}));
}

TEST_F(PrintMonTest, NoPrintersEmptiesTheGridAndFailuresRaise) {
    printers().add(printer("p", 3));
    PrintMon(ctx);
    printers().failQuery(errc::kInvalidClass, "Invalid class");
    EXPECT_EQ(raised([&] { PrintMon(ctx); }), errc::kInvalidClass);
    EXPECT_EQ(grid().itemsCount(), 1);
    printers() = FakeScript();
    PrintMon(ctx);
    EXPECT_EQ(grid().itemsCount(), 0);
}

}  // namespace
}  // namespace tavo::testing
