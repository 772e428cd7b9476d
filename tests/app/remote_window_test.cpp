// The window end to end on another computer: the real collectors, the real
// provider over a real SSH session to a private sshd on this machine, so the
// remote rows can be held against the local ones.
#include <unistd.h>
#include <QComboBox>
#include <QLineEdit>
#include <set>

#include "main_fixture.h"
#include "netenum/scripted_network.h"
#include "platform/linux/ssh/remote_backend.h"
#include "platform/linux/wmi/provider.h"
#include "platform/linux/wmi/remote_provider.h"
#include "ssh/sshd_fixture.h"

namespace tavo::testing {
namespace {

struct Shown {
    std::vector<std::string> captions;
    std::vector<std::vector<std::string>> rows;  // text, then the subitems
    std::vector<std::string> messages;
};

class RemoteWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        TAVO_REQUIRE_SSHD();
        auto settings = sshtest::sshd().client("window");
        sshtest::sshd().trust(settings);
        ssh::RemoteBackendParts parts;
        parts.ssh = settings;
        parts.prompter = remote::makeNoPrompter();
        parts.provider = [](std::shared_ptr<remote::RemoteShell> shell) {
            return linuxwmi::makeRemoteProvider(std::move(shell));
        };
        factory_ = wmi::makeConnectionFactory(linuxwmi::makeProvider(),
                                              ssh::makeRemoteBackend(std::move(parts)));
    }

    // One pass of `category` on `computer` through a fresh window.
    Shown show(const std::string& category, const std::string& computer) {
        MainServices services;
        services.management = factory_;
        services.network = std::make_shared<test::ScriptedNetwork>();
        Shown out;
        runOnePass(services, category, computer,
                   [&](Main& window, const RecordingDialogs& dialogs) {
                       const auto& g = window.results();
                       for (int c = 1; c <= g.columnsCount(); ++c)
                           out.captions.push_back(g.column(c).Text);
                       for (int i = 1; i <= g.itemsCount(); ++i) {
                           std::vector<std::string> row{std::string(g.item(i).Text())};
                           for (int c = 1; c < g.columnsCount(); ++c)
                               row.emplace_back(g.item(i).SubItems(c));
                           out.rows.push_back(std::move(row));
                       }
                       for (const auto& m : dialogs.messages)
                           out.messages.push_back(m.text.toStdString());
                   });
        return out;
    }

    std::string target() const { return sshtest::sshd().target(sshtest::sshd().user()); }

    ScopedComputerName name_{"TESTPC"};
    std::shared_ptr<wmi::ConnectionFactory> factory_;
};

// The row whose cells hold `value`, or nothing.
const std::vector<std::string>* rowWith(const Shown& s, const std::string& value) {
    for (const auto& row : s.rows)
        for (const auto& cell : row)
            if (cell == value) return &row;
    return nullptr;
}

TEST_F(RemoteWindowTest, LogicalDrivesOverSshShowTheDrivesOfThisMachine) {
    const Shown local = show("Logical Drives", ".");
    const Shown remote = show("Logical Drives", target());
    EXPECT_TRUE(remote.messages.empty()) << remote.messages.front();
    EXPECT_EQ(remote.captions, local.captions);
    ASSERT_FALSE(local.rows.empty());
    // The same drives by their first two cells (lamp and name); sizes may move.
    std::set<std::string> l, r;
    for (const auto& row : local.rows) l.insert(row.at(0) + "|" + row.at(1));
    for (const auto& row : remote.rows) r.insert(row.at(0) + "|" + row.at(1));
    EXPECT_EQ(r, l);
}

TEST_F(RemoteWindowTest, ProcessesOverSshIncludeThisTestProgram) {
    const Shown remote = show("Processes", target());
    EXPECT_TRUE(remote.messages.empty()) << remote.messages.front();
    const Shown local = show("Processes", ".");
    EXPECT_EQ(remote.captions, local.captions);
    EXPECT_GT(remote.rows.size(), 5u);
    const auto* mine = rowWith(remote, std::to_string(getpid()));
    ASSERT_TRUE(mine) << "no row for pid " << getpid();
    const auto* mineLocally = rowWith(local, std::to_string(getpid()));
    ASSERT_TRUE(mineLocally);
    // The program's name reads the same both ways.
    EXPECT_TRUE(std::find(mine->begin(), mine->end(), "tavo_app_tests") != mine->end() ||
                *mine == *mineLocally);
}

TEST_F(RemoteWindowTest, AClosedPortIsAnErrorNamingTheComputer) {
    const std::string computer = "nobody@127.0.0.1:" + std::to_string(sshtest::freePort());
    const Shown s = show("Logical Drives", computer);
    ASSERT_EQ(s.messages.size(), 1u);
    EXPECT_NE(s.messages[0].find("127.0.0.1"), std::string::npos) << s.messages[0];
    EXPECT_NE(s.messages[0].find("cannot be reached"), std::string::npos) << s.messages[0];
}

}  // namespace
}  // namespace tavo::testing
