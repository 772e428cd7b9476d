// HTTPS: certificates that verify, a self-signed one refused and then
// accepted by its fingerprint, and Basic only where TLS protects it.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "grid/error.h"
#include "platform/linux/winrm/transport_http.h"
#include "winrm/server_paged_responder.h"
#include "winrm/transport_test_support.h"
#include "winrm/wsman_test_server.h"

namespace tavo::winrm::testing {
namespace {

using namespace std::chrono_literals;

class Https : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir();
        certs_ = new Certificates(makeCertificates(*dir_));
    }
    static void TearDownTestSuite() {
        delete certs_;
        delete dir_;
    }

    enum class Cert { CaSigned, SelfSigned, OtherName };
    std::unique_ptr<WsmanTestServer> server(Cert cert, ServerAuth auth = ServerAuth::None) {
        ServerOptions o;
        o.auth = auth;
        o.userFile = writeUserFile(*dir_);
        o.certFile = cert == Cert::CaSigned     ? certs_->caSignedCert
                     : cert == Cert::SelfSigned ? certs_->selfSignedCert
                                                : certs_->otherNameCert;
        o.keyFile = cert == Cert::CaSigned     ? certs_->caSignedKey
                    : cert == Cert::SelfSigned ? certs_->selfSignedKey
                                               : certs_->otherNameKey;
        o.responder = makePagedResponder(3, 10);
        return std::make_unique<WsmanTestServer>(o);
    }

    TransportOptions options(int port, AuthMethod auth = AuthMethod::None) {
        TransportOptions o;
        o.host = "127.0.0.1";
        o.port = port;
        o.https = true;
        o.auth = auth;
        o.caFile = certs_->caFile;
        o.knownCertificatesPath = known_.file("tavo/known_certificates");
        o.prompter = prompter_;
        return o;
    }

    static int instances(SoapTransport& t) {
        return instancesIn(t.post(enumerateEnvelope(t.endpoint()), 5s).body);
    }

    static TempDir* dir_;
    static Certificates* certs_;
    TempDir known_;
    std::shared_ptr<ScriptedPrompter> prompter_ = std::make_shared<ScriptedPrompter>();
};
TempDir* Https::dir_ = nullptr;
Certificates* Https::certs_ = nullptr;

TEST_F(Https, ACertificateFromATrustedAuthorityConnectsWithoutAQuestion) {
    auto s = server(Cert::CaSigned);
    auto t = makeHttpTransport(options(s->port()));
    EXPECT_EQ(t->endpoint(), "https://127.0.0.1:" + std::to_string(s->port()) + "/wsman");
    EXPECT_EQ(instances(*t), 3);
    EXPECT_TRUE(prompter_->trustQuestions.empty());

    // A certificate of the same authority made for another name does not.
    auto other = server(Cert::OtherName);
    auto [number, text] = [&]() -> std::pair<std::uint32_t, std::string> {
        try {
            instances(*makeHttpTransport(options(other->port())));
        } catch (const Error& e) {
            return {e.number(), e.description()};
        }
        return {0, ""};
    }();
    EXPECT_EQ(number, errc::kServerUnavailable);
    EXPECT_NE(text.find("mismatch"), std::string::npos) << text;
}

TEST_F(Https, ASelfSignedCertificateIsRefusedThenAcceptedByItsFingerprint) {
    auto s = server(Cert::SelfSigned);
    const std::string fingerprint = opensslFingerprint(certs_->selfSignedCert);
    ASSERT_FALSE(fingerprint.empty());

    // Refused: the message shows the fingerprint the user can compare.
    try {
        instances(*makeHttpTransport(options(s->port())));
        FAIL() << "a self-signed certificate was trusted without asking";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), errc::kServerUnavailable);
        EXPECT_NE(e.description().find(fingerprint), std::string::npos) << e.description();
    }
    ASSERT_EQ(prompter_->trustQuestions.size(), 1u);
    EXPECT_EQ(prompter_->trustQuestions[0].fingerprint, fingerprint);
    EXPECT_EQ(prompter_->trustQuestions[0].protocol, "HTTPS");
    EXPECT_EQ(prompter_->trustQuestions[0].port, s->port());
    EXPECT_FALSE(std::ifstream(known_.file("tavo/known_certificates")).good());

    // Accepted and remembered: a later session does not ask again.
    prompter_->trust.push_back(remote::TrustAnswer::ConnectAndRemember);
    EXPECT_EQ(instances(*makeHttpTransport(options(s->port()))), 3);
    std::stringstream file;
    file << std::ifstream(known_.file("tavo/known_certificates")).rdbuf();
    EXPECT_EQ(file.str(), "127.0.0.1:" + std::to_string(s->port()) + " " + fingerprint + "\n");
    TransportOptions later = options(s->port());
    later.prompter = remote::makeNoPrompter();
    EXPECT_EQ(instances(*makeHttpTransport(later)), 3);
    EXPECT_EQ(prompter_->trustQuestions.size(), 2u);
}

TEST_F(Https, ACertificateAcceptedForTheSessionIsNotWrittenDown) {
    auto s = server(Cert::SelfSigned);
    prompter_->trust.push_back(remote::TrustAnswer::ConnectOnce);
    EXPECT_EQ(instances(*makeHttpTransport(options(s->port()))), 3);
    // Another connection of this session goes ahead without a question...
    TransportOptions again = options(s->port());
    again.prompter = remote::makeNoPrompter();
    EXPECT_EQ(instances(*makeHttpTransport(again)), 3);
    // ...but nothing was remembered for the next one.
    EXPECT_FALSE(std::ifstream(known_.file("tavo/known_certificates")).good());
}

TEST_F(Https, ARememberedCertificateThatChangedIsAskedAboutAgain) {
    auto s = server(Cert::SelfSigned);
    std::filesystem::create_directories(known_.path() / "tavo");
    std::ofstream(known_.file("tavo/known_certificates"))
        << "127.0.0.1:" << s->port() << " SHA256:00:11\n"
        << "other.example:5986 SHA256:22:33\n";
    prompter_->trust.push_back(remote::TrustAnswer::ConnectAndRemember);
    EXPECT_EQ(instances(*makeHttpTransport(options(s->port()))), 3);
    ASSERT_EQ(prompter_->trustQuestions.size(), 1u);
    EXPECT_NE(prompter_->trustQuestions[0].why.find("SHA256:00:11"), std::string::npos)
        << prompter_->trustQuestions[0].why;
    std::stringstream file;
    file << std::ifstream(known_.file("tavo/known_certificates")).rdbuf();
    EXPECT_NE(file.str().find("other.example:5986 SHA256:22:33\n"), std::string::npos);
    EXPECT_EQ(file.str().find("SHA256:00:11"), std::string::npos) << file.str();
}

TEST_F(Https, BasicGoesOverHttpsOnlyAndIsAskedAgainWhenRefused) {
    auto s = server(Cert::CaSigned, ServerAuth::Basic);
    prompter_->secrets.push_back(remote::SecretAnswer{"", "wrong"});
    prompter_->secrets.push_back(remote::SecretAnswer{"", kPassword});
    TransportOptions o = options(s->port(), AuthMethod::Basic);
    o.user = kUser;
    EXPECT_EQ(instances(*makeHttpTransport(o)), 3);
    EXPECT_EQ(s->lastUser(), kUser);
    EXPECT_EQ(prompter_->secretQuestions.size(), 2u);

    // Over plain HTTP: refused before any password is asked or sent.
    o.https = false;
    prompter_->secretQuestions.clear();
    try {
        instances(*makeHttpTransport(o));
        FAIL() << "Basic went over plain HTTP";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), errc::kAccessDenied);
        EXPECT_NE(e.description().find("HTTPS"), std::string::npos) << e.description();
    }
    EXPECT_TRUE(prompter_->secretQuestions.empty());
}

TEST_F(Https, NtlmOverHttpsAuthenticatesWithoutSealing) {
    auto s = server(Cert::CaSigned, ServerAuth::Ntlm);
    prompter_->secrets.push_back(remote::SecretAnswer{"", kPassword});
    TransportOptions o = options(s->port(), AuthMethod::Negotiate);
    o.user = std::string(kUser) + "@" + kDomain;
    auto t = makeHttpTransport(o);
    EXPECT_EQ(instances(*t), 3);
    EXPECT_EQ(instances(*t), 3);
    EXPECT_EQ(s->handshakesCompleted(), 1);
}

}  // namespace
}  // namespace tavo::winrm::testing
