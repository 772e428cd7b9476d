// "Network Computers" through the window: the report's rows, the stopped
// cycle afterwards, and the real DNS-SD back end on a loopback neighbourhood.
#include <QComboBox>
#include <set>

#include "main_fixture.h"
#include "netenum/scripted_network.h"
#ifdef TAVO_HAVE_AVAHI
#include "linux/wnet/dnssd_loopback.h"
#include "platform/linux/wnet/linux_wnet.h"
#endif

namespace tavo::testing {
namespace {

class NetworkComputersTest : public ::testing::Test {
  protected:
    void open(std::shared_ptr<netenum::WNetApi> network) {
        MainServices services;
        services.management = std::make_shared<FakeFactory>(std::make_shared<FakeBackend>());
        services.network = std::move(network);
        services.dialogs = dialogs;
        window = std::make_unique<Main>(services);
        window->findChild<QComboBox*>("cmbFunction")->setCurrentText("Network Computers");
    }
    std::multiset<std::string> computers() {
        std::multiset<std::string> out;
        auto& g = window->results();
        for (int i = 1; i <= g.itemsCount(); ++i) out.emplace(g.item(i).SubItems(1));
        return out;
    }
    QPushButton* runButton() { return window->findChild<QPushButton*>("cmdSwitch"); }

    ScopedComputerName name_{"TESTPC"};
    std::shared_ptr<RecordingDialogs> dialogs = std::make_shared<RecordingDialogs>();
    std::unique_ptr<Main> window;
};

TEST_F(NetworkComputersTest, OnePassListsEveryServerAndStopsTheCycle) {
    auto net = std::make_shared<test::ScriptedNetwork>();
    net->containers[""].children = {test::container(RESOURCEDISPLAYTYPE_NETWORK, "Net")};
    net->containers["Net"].children = {test::container(RESOURCEDISPLAYTYPE_DOMAIN, "WG")};
    net->containers["WG"].children = {test::server("ALPHA", 0), test::server("BRAVO", 0),
                                      test::server("CHARLIE", 0)};
    open(net);
    window->cmdSwitch_Click();
    ASSERT_TRUE(settle(*window));

    auto& g = window->results();
    ASSERT_EQ(g.columnsCount(), 2);
    EXPECT_EQ(g.column(2).Text, "Computer");
    ASSERT_EQ(g.itemsCount(), 3);
    EXPECT_EQ(g.item(1).SubItems(1), "ALPHA");
    EXPECT_EQ(g.item(3).SubItems(1), "CHARLIE");
    EXPECT_EQ(g.item(2).SmallIcon(), 1);
    EXPECT_EQ(runButton()->text(), "RUN");
    EXPECT_TRUE(window->findChild<QWidget*>("txtFreq")->isHidden());
    EXPECT_TRUE(dialogs->messages.empty());
}

TEST_F(NetworkComputersTest, NoNetworkShowsAnEmptyGridWithoutAMessage) {
    auto net = std::make_shared<test::ScriptedNetwork>();
    net->containers[""].openResult = ERROR_NO_NETWORK;
    open(net);
    window->cmdSwitch_Click();
    ASSERT_TRUE(settle(*window));
    EXPECT_EQ(window->results().columnsCount(), 2);
    EXPECT_EQ(window->results().itemsCount(), 0);
    EXPECT_EQ(runButton()->text(), "RUN");
    EXPECT_TRUE(dialogs->messages.empty());
}

#ifdef TAVO_HAVE_AVAHI
TEST_F(NetworkComputersTest, HostsAnnouncedOnLoopbackAreListedOnceEach) {
    if (const auto reason = test::DnsSdLoopback::skipReason()) GTEST_SKIP() << *reason;
    test::DnsSdLoopback neighbourhood;
    ASSERT_EQ(
        neighbourhood.start({{"tavo-app-one", "_ssh._tcp"}, {"tavo-app-two", "_device-info._tcp"}}),
        "");
    open(linuxwnet::makeWNetApi());
    window->cmdSwitch_Click();
    ASSERT_TRUE(settle(*window));

    const auto names = computers();
    EXPECT_EQ(names.count("tavo-app-one"), 1u);
    EXPECT_EQ(names.count("tavo-app-two"), 1u);
    EXPECT_EQ(runButton()->text(), "RUN");
    EXPECT_TRUE(dialogs->messages.empty());
}
#endif

}  // namespace
}  // namespace tavo::testing
