// The GSSAPI layer on its own: an NTLM initiator and acceptor in one
// process (gss-ntlmssp on both sides), the WinRM split of sealed messages,
// and the channel binding that ties authentication to one TLS connection.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/linux/winrm/gss_context.h"
#include "winrm/gss_acceptor.h"
#include "winrm/transport_test_support.h"

namespace tavo::winrm::testing {
namespace {

class GssNtlm : public ::testing::Test {
  protected:
    void SetUp() override { setenv("NTLM_USER_FILE", writeUserFile(dir_).c_str(), 1); }

    // Runs the handshake to its end; false when a side refuses.
    static bool handshake(GssSession& client, GssSession& server) {
        try {
            std::string token = client.step({});
            for (int legs = 0; legs < 6 && !(client.complete() && server.complete()); ++legs) {
                token = server.step(token);
                if (server.complete() && token.empty()) break;
                token = client.step(token);
            }
            return client.complete() && server.complete();
        } catch (const GssFailure&) {
            return false;
        }
    }

    std::shared_ptr<GssCredential> credential(const std::string& password = kPassword) {
        return GssCredential::fromPassword(std::string(kDomain) + "\\" + kUser, password);
    }

    TempDir dir_;
};

TEST_F(GssNtlm, SealsBothWaysInWinRmsSplitAndRefusesADamagedSignature) {
    auto client = GssContext::initiator(credential(), "127.0.0.1");
    auto server = std::make_unique<GssAcceptor>();
    ASSERT_TRUE(handshake(*client, *server));
    EXPECT_NE(server->peerName().find(kUser), std::string::npos);

    const std::string request = "<s:Envelope>request</s:Envelope>";
    Sealed s = client->sealing().wrap(request);
    EXPECT_EQ(s.signature().size(), 16u);  // NTLM's message signature
    EXPECT_EQ(s.data().size(), request.size());
    EXPECT_NE(s.data(), request) << "sealed, not only signed";
    EXPECT_EQ(server->sealing().unwrap(s.signature(), s.data()), request);

    // The replies, in sequence; the signature and the data apart in memory.
    for (int i = 0; i < 3; ++i) {
        const std::string reply = "reply " + std::to_string(i);
        Sealed r = server->sealing().wrap(reply);
        const std::string signature(r.signature()), data(r.data());
        EXPECT_EQ(client->sealing().unwrap(signature, data), reply);
    }
    Sealed bad = server->sealing().wrap("tampered");
    std::string signature(bad.signature());
    signature[8] ^= 1;
    EXPECT_THROW(client->sealing().unwrap(signature, bad.data()), GssFailure);
}

TEST_F(GssNtlm, AChannelBindingMustMatchTheAcceptors) {
    const std::string binding = "tls-server-end-point:" + std::string(32, '\x11');
    {
        auto client = GssContext::initiator(credential(), "localhost", binding);
        auto server = std::make_unique<GssAcceptor>(binding);
        EXPECT_TRUE(handshake(*client, *server));
    }
    {
        // A relayed authentication carries the binding of another connection.
        auto client = GssContext::initiator(credential(), "localhost",
                                            "tls-server-end-point:" + std::string(32, '\x22'));
        auto server = std::make_unique<GssAcceptor>(binding);
        EXPECT_FALSE(handshake(*client, *server));
    }
    {
        auto client = GssContext::initiator(credential("wrong"), "localhost");
        auto server = std::make_unique<GssAcceptor>();
        EXPECT_FALSE(handshake(*client, *server));
    }
}

}  // namespace
}  // namespace tavo::winrm::testing
