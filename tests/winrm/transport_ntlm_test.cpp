// Our client against the test server with real NTLM (gss-ntlmssp on both
// sides): the handshake, every message sealed, and what a client must refuse.
#include <gtest/gtest.h>

#include "grid/error.h"
#include "platform/linux/winrm/transport_http.h"
#include "winrm/server_paged_responder.h"
#include "winrm/transport_test_support.h"
#include "winrm/wsman_test_server.h"

namespace tavo::winrm::testing {
namespace {

using namespace std::chrono_literals;

class NtlmTransport : public ::testing::Test {
  protected:
    void SetUp() override {
        ServerOptions o;
        o.auth = ServerAuth::Ntlm;
        o.userFile = writeUserFile(dir_);
        o.responder = makePagedResponder(25, 10);
        server_ = std::make_unique<WsmanTestServer>(o);
        prompter_ = std::make_shared<ScriptedPrompter>();
    }

    std::shared_ptr<SoapTransport> transport(const std::string& password = kPassword) {
        prompter_->secrets.push_back(remote::SecretAnswer{"", password});
        TransportOptions t;
        t.user = std::string(kDomain) + "\\" + kUser;
        t.host = "127.0.0.1";
        t.port = server_->port();
        t.prompter = prompter_;
        return makeHttpTransport(t);
    }

    // Enumerate and Pull to the end; the instances read.
    int walk(SoapTransport& t) {
        SoapReply r = t.post(enumerateEnvelope(t.endpoint()), 5s);
        EXPECT_EQ(r.httpStatus, 200);
        int n = instancesIn(r.body);
        for (std::string ctx = contextOf(r.body); !ctx.empty(); ctx = contextOf(r.body)) {
            r = t.post(pullEnvelope(t.endpoint(), ctx), 5s);
            EXPECT_EQ(r.httpStatus, 200);
            n += instancesIn(r.body);
        }
        return n;
    }

    TempDir dir_;
    std::unique_ptr<WsmanTestServer> server_;
    std::shared_ptr<ScriptedPrompter> prompter_;
};

TEST_F(NtlmTransport, AuthenticatesOnceAndSealsEveryMessageOnOneConnection) {
    auto t = transport();
    EXPECT_EQ(walk(*t), 25);
    EXPECT_EQ(walk(*t), 25);
    EXPECT_EQ(server_->connectionsAccepted(), 1);
    EXPECT_EQ(server_->handshakesCompleted(), 1);
    EXPECT_EQ(server_->envelopesAnswered(), 6);  // the server only answers what it unsealed
    EXPECT_NE(server_->lastUser().find(kUser), std::string::npos);
    ASSERT_EQ(prompter_->secretQuestions.size(), 1u);  // asked once for the session
    EXPECT_EQ(prompter_->secretQuestions[0].protocol, "WinRM");
    EXPECT_EQ(prompter_->secretQuestions[0].host, "127.0.0.1");
}

TEST_F(NtlmTransport, ReconnectsAndAuthenticatesAgainWhenTheServerClosedTheConnection) {
    auto t = transport();
    EXPECT_EQ(walk(*t), 25);
    server_->dropConnections();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(walk(*t), 25);
    EXPECT_EQ(server_->connectionsAccepted(), 2);
    EXPECT_EQ(server_->handshakesCompleted(), 2);
    EXPECT_EQ(prompter_->secretQuestions.size(), 1u) << "the session's credential is reused";
}

TEST_F(NtlmTransport, AServerThatClosesAfterEachReplyIsFollowed) {
    server_->setCloseAfterReply(true);
    auto t = transport();
    EXPECT_EQ(walk(*t), 25);
    EXPECT_EQ(server_->connectionsAccepted(), 3);
    EXPECT_EQ(server_->handshakesCompleted(), 3);
}

TEST_F(NtlmTransport, RejectsTamperedRepliesAndRecoversAfterwards) {
    auto t = transport();
    const std::string envelope = enumerateEnvelope(t->endpoint());
    struct Case {
        Tamper tamper;
        const char* says;
    } cases[] = {{Tamper::DeclaredLength, "declares"},
                 {Tamper::Signature, "signature"},
                 {Tamper::Unsealed, "not sealed"}};
    for (const Case& c : cases) {
        server_->setTamper(c.tamper);
        try {
            t->post(envelope, 5s);
            ADD_FAILURE() << "a tampered reply was accepted: " << c.says;
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), errc::kFailed);
            EXPECT_NE(e.description().find(c.says), std::string::npos) << e.description();
            EXPECT_NE(e.description().find("127.0.0.1:"), std::string::npos);
        }
        server_->setTamper(Tamper::None);
        // The sealing sequence was broken: a fresh connection and handshake.
        EXPECT_EQ(instancesIn(t->post(envelope, 5s).body), 10);
    }
    EXPECT_EQ(server_->handshakesCompleted(), 4);
}

TEST_F(NtlmTransport, AWrongPasswordIsAccessDeniedNamingUserAndHost) {
    auto t = transport("not-the-password");
    try {
        t->post(enumerateEnvelope(t->endpoint()), 5s);
        FAIL() << "a wrong password was accepted";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), errc::kAccessDenied);
        EXPECT_NE(e.description().find("TAVOTEST\\alice"), std::string::npos) << e.description();
        EXPECT_NE(e.description().find("127.0.0.1"), std::string::npos);
        EXPECT_NE(e.description().find("Remote Management Users"), std::string::npos);
    }
    // Asked again after each refusal, saying why, and then no more.
    ASSERT_EQ(prompter_->secretQuestions.size(), 3u);
    EXPECT_TRUE(prompter_->secretQuestions[0].lastFailure.empty());
    EXPECT_FALSE(prompter_->secretQuestions[1].lastFailure.empty());
    EXPECT_EQ(server_->envelopesAnswered(), 0);
}

TEST_F(NtlmTransport, ASecondTryWithTheRightPasswordGetsIn) {
    prompter_->secrets.push_back(remote::SecretAnswer{"", "wrong"});
    auto t = transport();  // queues the right one after it
    EXPECT_EQ(walk(*t), 25);
    EXPECT_EQ(prompter_->secretQuestions.size(), 2u);
}

TEST_F(NtlmTransport, CancellingThePasswordPromptIsAccessDenied) {
    prompter_->secrets.push_back(std::nullopt);
    TransportOptions o;
    o.host = "127.0.0.1";
    o.port = server_->port();
    o.prompter = prompter_;
    auto t = makeHttpTransport(o);
    try {
        t->post(enumerateEnvelope(t->endpoint()), 5s);
        FAIL() << "went on without a password";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), errc::kAccessDenied);
        EXPECT_NE(e.description().find("No password"), std::string::npos) << e.description();
    }
    ASSERT_EQ(prompter_->secretQuestions.size(), 1u);
    EXPECT_TRUE(prompter_->secretQuestions[0].askUser) << "no user was named yet";
}

}  // namespace
}  // namespace tavo::winrm::testing
