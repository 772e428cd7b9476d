// The window on a Windows computer named the way a user names it, through
// the back ends the program really starts with: the target text picks WinRM,
// the password comes from the prompt, NTLM signs in and seals every message
// over plain HTTP, and the rows come from the service's fixtures.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>

#include "app/main_fixture.h"
#include "netenum/scripted_network.h"
#include "platform/backends.h"
#include "winrm/fixture_responder.h"
#include "winrm/transport_test_support.h"
#include "winrm/wsman_test_server.h"

namespace tavo::testing {
namespace {

using winrm::testing::kDomain;
using winrm::testing::kPassword;
using winrm::testing::kUser;

class WinRmRouteTest : public ::testing::Test {
  protected:
    void SetUp() override {
        winrm::testing::ServerOptions o;
        o.auth = winrm::testing::ServerAuth::Ntlm;
        o.userFile = winrm::testing::writeUserFile(dir_);
        o.responder = makeFixtureResponder(std::string(TAVO_TEST_DATA) + "/winrm");
        server_ = std::make_unique<winrm::testing::WsmanTestServer>(o);
        prompter_ = std::make_shared<winrm::testing::ScriptedPrompter>();
    }

    // One pass of `category` on `computer` in a window with the real back ends.
    std::vector<std::string> firstColumn(const std::string& category, const std::string& computer,
                                         std::vector<std::string>* messages = nullptr) {
        MainServices services;
        services.management = defaultBackends(prompter_).management;
        services.network = std::make_shared<test::ScriptedNetwork>();
        std::vector<std::string> out;
        runOnePass(services, category, computer,
                   [&](Main& window, const RecordingDialogs& dialogs) {
                       const auto& g = window.results();
                       for (int i = 1; i <= g.itemsCount(); ++i) {
                           std::string row(g.item(i).Text());
                           for (int c = 1; c < g.columnsCount(); ++c)
                               row += " | " + std::string(g.item(i).SubItems(c));
                           out.push_back(row);
                       }
                       if (messages)
                           for (const auto& m : dialogs.messages)
                               messages->push_back(m.text.toStdString());
                   });
        return out;
    }

    std::string target() const { return "winrm://127.0.0.1:" + std::to_string(server_->port()); }

    ScopedComputerName name_{"TESTPC"};
    winrm::testing::TempDir dir_;
    std::unique_ptr<winrm::testing::WsmanTestServer> server_;
    std::shared_ptr<winrm::testing::ScriptedPrompter> prompter_;
};

TEST_F(WinRmRouteTest, TheTargetTextLeadsToTheServiceWithTheUserAndPasswordAsked) {
    prompter_->secrets.push_back(
        remote::SecretAnswer{std::string(kDomain) + "\\" + kUser, kPassword});
    const auto services = firstColumn("Services", target());
    EXPECT_FALSE(services.empty());
    EXPECT_NE(server_->lastUser().find(kUser), std::string::npos) << server_->lastUser();
    // Every message after the handshake went sealed: the server answered
    // envelopes only through its NTLM context.
    EXPECT_GE(server_->handshakesCompleted(), 1);
    EXPECT_GE(server_->envelopesAnswered(), 1);
    ASSERT_FALSE(prompter_->secretQuestions.empty());
    EXPECT_TRUE(prompter_->secretQuestions.front().askUser);
}

TEST_F(WinRmRouteTest, AWrongPasswordIsAccessDeniedNamingTheHost) {
    prompter_->secrets.push_back(
        remote::SecretAnswer{std::string(kDomain) + "\\" + kUser, "not-the-password"});
    const auto rows = firstColumn("BIOS", target());
    // The report's failure row says what failed, where, and what to check.
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_NE(rows[0].find("0x80070005"), std::string::npos) << rows[0];
    EXPECT_NE(rows[0].find("127.0.0.1"), std::string::npos) << rows[0];
    EXPECT_NE(rows[0].find("Remote Management Users"), std::string::npos) << rows[0];
    EXPECT_EQ(server_->envelopesAnswered(), 0);
}

}  // namespace
}  // namespace tavo::testing
