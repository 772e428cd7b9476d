// Kerberos against a realm of our own: a KDC on loopback, a ticket cache for
// the user, a keytab for the test server. The client must use the tickets
// without asking for a password, and seal with Kerberos' wrap tokens.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "platform/linux/winrm/transport_http.h"
#include "winrm/server_paged_responder.h"
#include "winrm/transport_test_support.h"
#include "winrm/wsman_test_server.h"

namespace tavo::winrm::testing {
namespace {

using namespace std::chrono_literals;

bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

class Kerberos : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (access("/usr/sbin/krb5kdc", X_OK) != 0 || access("/usr/sbin/kadmin.local", X_OK) != 0)
            return;  // each test says why it skips
        realm_ = new TempDir();
        const std::string d = realm_->path().string();
        const int port = freeLoopbackPort();
        std::ofstream(d + "/krb5.conf")
            << "[libdefaults]\n default_realm = TAVO.TEST\n dns_lookup_kdc = false\n"
               " dns_lookup_realm = false\n dns_canonicalize_hostname = false\n rdns = false\n"
               "[realms]\n TAVO.TEST = {\n  kdc = 127.0.0.1:"
            << port << "\n }\n[domain_realm]\n localhost = TAVO.TEST\n";
        std::ofstream(d + "/kdc.conf")
            << "[kdcdefaults]\n kdc_ports = " << port << "\n kdc_tcp_ports = " << port
            << "\n[realms]\n TAVO.TEST = {\n  database_name = " << d
            << "/principal\n  key_stash_file = " << d << "/stash\n  acl_file = " << d
            << "/kadm5.acl\n }\n[logging]\n kdc = FILE:" << d << "/kdc.log\n";
        saveEnv("KRB5_CONFIG", d + "/krb5.conf");
        saveEnv("KRB5_KDC_PROFILE", d + "/kdc.conf");
        saveEnv("KRB5CCNAME", "FILE:" + d + "/ccache");
        saveEnv("KRB5_KTNAME", "FILE:" + d + "/http.keytab");
        const std::string admin = "kadmin.local -q ";
        bool ok = run("kdb5_util create -s -r TAVO.TEST -P master-pw") &&
                  run(admin + "'addprinc -pw alice-pw alice'") &&
                  run(admin + "'addprinc -randkey HTTP/localhost'") &&
                  run(admin + "'ktadd -k " + d + "/http.keytab HTTP/localhost'") &&
                  run(admin + "'ktadd -k " + d + "/alice.keytab -norandkey alice'") &&
                  run("krb5kdc -P " + d + "/kdc.pid");  // forks once it listens
        for (int i = 0; ok && i < 50; ++i) {
            if (run("kinit -k -t " + d + "/alice.keytab alice")) {
                ready_ = true;
                break;
            }
            std::this_thread::sleep_for(100ms);
        }
    }

    static void TearDownTestSuite() {
        if (realm_) {
            std::ifstream pidFile(realm_->file("kdc.pid"));
            pid_t pid = 0;
            if (pidFile >> pid && pid > 0) kill(pid, SIGTERM);  // the KDC this suite started
        }
        for (auto& [name, value] : saved_) {
            if (value.empty())
                unsetenv(name.c_str());
            else
                setenv(name.c_str(), value.c_str(), 1);
        }
        saved_.clear();
        delete realm_;
        realm_ = nullptr;
    }

    void SetUp() override {
        if (!ready_) GTEST_SKIP() << "no loopback Kerberos realm (krb5-kdc, krb5-admin-server)";
        ServerOptions o;
        o.auth = ServerAuth::Ntlm;  // the acceptor takes Kerberos as well as NTLM
        o.userFile = writeUserFile(dir_);
        o.responder = makePagedResponder(25, 10);
        server_ = std::make_unique<WsmanTestServer>(o);
    }

    std::shared_ptr<SoapTransport> transport(const std::string& user) {
        TransportOptions t;
        t.user = user;
        t.host = "localhost";  // the service principal is HTTP/localhost
        t.port = server_->port();
        t.prompter = prompter_;
        return makeHttpTransport(t);
    }

    static void saveEnv(const std::string& name, const std::string& value) {
        const char* old = getenv(name.c_str());
        saved_.emplace_back(name, old ? old : "");
        setenv(name.c_str(), value.c_str(), 1);
    }

    static TempDir* realm_;
    static bool ready_;
    static std::vector<std::pair<std::string, std::string>> saved_;
    TempDir dir_;
    std::unique_ptr<WsmanTestServer> server_;
    std::shared_ptr<ScriptedPrompter> prompter_ = std::make_shared<ScriptedPrompter>();
};
TempDir* Kerberos::realm_ = nullptr;
bool Kerberos::ready_ = false;
std::vector<std::pair<std::string, std::string>> Kerberos::saved_;

TEST_F(Kerberos, TheTicketCacheSignsInAndSealsWithoutAPassword) {
    for (const std::string user : {"", "alice", "alice@TAVO.TEST"}) {
        auto t = transport(user);
        SoapReply r = t->post(enumerateEnvelope(t->endpoint()), 5s);
        ASSERT_EQ(r.httpStatus, 200) << user;
        int n = instancesIn(r.body);
        for (std::string ctx = contextOf(r.body); !ctx.empty(); ctx = contextOf(r.body)) {
            r = t->post(pullEnvelope(t->endpoint(), ctx), 5s);
            n += instancesIn(r.body);
        }
        EXPECT_EQ(n, 25) << user;
        EXPECT_EQ(server_->lastUser(), "alice@TAVO.TEST");
    }
    EXPECT_TRUE(prompter_->secretQuestions.empty());
    EXPECT_EQ(server_->handshakesCompleted(), 3);
    EXPECT_EQ(server_->connectionsAccepted(), 3);
}

TEST_F(Kerberos, TicketsOfAnotherUserAreNotUsedForTheNamedOne) {
    prompter_->secrets.push_back(remote::SecretAnswer{"", kPassword});
    auto t = transport(std::string(kDomain) + "\\" + kUser);  // an NTLM account
    EXPECT_EQ(instancesIn(t->post(enumerateEnvelope(t->endpoint()), 5s).body), 10);
    EXPECT_EQ(prompter_->secretQuestions.size(), 1u);
    EXPECT_NE(server_->lastUser().find(kUser), std::string::npos);
    EXPECT_EQ(server_->lastUser().find("TAVO.TEST"), std::string::npos) << server_->lastUser();
}

}  // namespace
}  // namespace tavo::winrm::testing
