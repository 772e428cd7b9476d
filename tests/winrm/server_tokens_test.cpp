// What a server sends during the Negotiate handshake is checked before
// gss-ntlmssp or MIT krb5 reads it: a forged length in a CHALLENGE made
// gss-ntlmssp read past the token and crash the program before any login.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "grid/error.h"
#include "platform/linux/winrm/http_message.h"
#include "platform/linux/winrm/server_tokens.h"
#include "platform/linux/winrm/transport_http.h"
#include "winrm/transport_test_support.h"

namespace tavo::winrm::testing {
namespace {

using namespace std::chrono_literals;

void put16(std::string& s, std::size_t at, unsigned v) {
    s[at] = static_cast<char>(v & 0xff);
    s[at + 1] = static_cast<char>(v >> 8 & 0xff);
}
void put32(std::string& s, std::size_t at, unsigned v) {
    put16(s, at, v & 0xffff);
    put16(s, at + 2, v >> 16);
}

// A CHALLENGE as Windows sends it: version present, the target name
// "TAVO" in UTF-16, then NbDomainName, a timestamp and MsvAvEOL.
std::string challenge() {
    std::string m(56, '\0');
    m.replace(0, 8, std::string("NTLMSSP\0", 8));
    put32(m, 8, 2);
    put32(m, 20, 0xe28a8215);  // with NEGOTIATE_VERSION and NEGOTIATE_TARGET_INFO
    m.replace(24, 8, std::string("\x01\x23\x45\x67\x89\xab\xcd\xef", 8));
    const std::string name("T\0A\0V\0O\0", 8);
    put16(m, 12, 8);
    put16(m, 14, 8);
    put32(m, 16, 56);
    std::string info;
    info += std::string("\x02\x00\x08\x00", 4) + name;
    info += std::string("\x07\x00\x08\x00", 4) + std::string(8, '\x11');
    info += std::string(4, '\0');
    put16(m, 40, static_cast<unsigned>(info.size()));
    put16(m, 42, static_cast<unsigned>(info.size()));
    put32(m, 44, 64);
    m.replace(48, 8, std::string("\x0a\x00\x63\x45\x00\x00\x00\x0f", 8));
    return m + name + info;
}

TEST(ServerTokens, ChallengesThatWouldBeReadPastTheirEndAreRefused) {
    ASSERT_FALSE(ntlmChallengeProblem(challenge())) << *ntlmChallengeProblem(challenge());
    struct Case {
        const char* what;
        std::string token;
    };
    auto with = [](auto change) {
        std::string m = challenge();
        change(m);
        return m;
    };
    // The 68-byte message that crashed gss_init_sec_context: one AV pair
    // claiming 0xfff0 bytes.
    std::string crash = with([](std::string& m) { m.resize(56); });
    put16(crash, 12, 0);
    put16(crash, 14, 0);
    put16(crash, 40, 12);
    put16(crash, 42, 12);
    put32(crash, 44, 56);
    crash += std::string("\x02\x00\xf0\xff", 4) + std::string(8, 'A');
    ASSERT_EQ(crash.size(), 68u);
    const Case cases[] = {
        {"AV pair past the end", crash},
        {"target info past the end", with([](std::string& m) { put16(m, 40, 0x1000); })},
        {"maximum length past the end", with([](std::string& m) { put16(m, 42, 0x1000); })},
        {"offset past the end", with([](std::string& m) { put32(m, 44, 0xfffffff0); })},
        {"name inside the header", with([](std::string& m) { put32(m, 16, 8); })},
        {"overlapping fields", with([](std::string& m) { put32(m, 16, 64); })},
        {"no MsvAvEOL", with([](std::string& m) {
             m.resize(m.size() - 4);
             put16(m, 40, 24);
             put16(m, 42, 24);
         })},
        {"short timestamp", with([](std::string& m) { put16(m, 78, 4); })},
        {"no target info", with([](std::string& m) {
             put16(m, 40, 0);
             put16(m, 42, 0);
         })},
        {"wrong type", with([](std::string& m) { put32(m, 8, 3); })},
        {"not NTLM", with([](std::string& m) { m[0] = 'X'; })},
        {"truncated header", challenge().substr(0, 40)},
        {"version without room", with([](std::string& m) { m.resize(50); })},
    };
    for (const Case& c : cases) EXPECT_TRUE(ntlmChallengeProblem(c.token)) << c.what;
}

TEST(ServerTokens, KerberosFramingMustFitItsContainer) {
    // GSSAPI framing, the Kerberos OID, token id 02 00, then an AP-REP whose
    // one child fills it.
    const std::string oid("\x06\x09\x2a\x86\x48\x86\xf7\x12\x01\x02\x02", 11);
    const std::string apRep("\x6f\x05\x30\x03\x02\x01\x05", 7);
    auto gss = [&](const std::string& inner) {
        std::string body = oid + std::string("\x02\x00", 2) + inner;
        return std::string("\x60", 1) + static_cast<char>(body.size()) + body;
    };
    EXPECT_FALSE(kerberosTokenProblem(gss(apRep)));
    EXPECT_TRUE(kerberosTokenProblem(gss(std::string("\x6f\x7f\x30\x03\x02\x01\x05", 7))));
    EXPECT_TRUE(kerberosTokenProblem(gss(std::string("\x6f\x05\x30\x09\x02\x01\x05", 7))));
    EXPECT_TRUE(kerberosTokenProblem(gss(apRep).substr(0, 10)));
    EXPECT_TRUE(kerberosTokenProblem(std::string("\x60\x84\xff\xff\xff\xf0", 6)));
    EXPECT_TRUE(kerberosTokenProblem(""));
}

// One connection: the first request is answered 401 with `token` as the
// Negotiate challenge.
class ChallengingServer {
  public:
    explicit ChallengingServer(std::string token) : token_(std::move(token)) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd_, 4);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~ChallengingServer() {
        ::shutdown(fd_, SHUT_RDWR);
        thread_.join();
        ::close(fd_);
    }
    int port() const { return port_; }

  private:
    void serve() {
        const int c = ::accept(fd_, nullptr, nullptr);
        if (c < 0) return;
        std::string request;
        char buf[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const ssize_t n = ::read(c, buf, sizeof buf);
            if (n <= 0) break;
            request.append(buf, static_cast<std::size_t>(n));
        }
        const std::string reply = "HTTP/1.1 401 \r\nWWW-Authenticate: Negotiate " +
                                  http::base64Encode(token_) + "\r\nContent-Length: 0\r\n\r\n";
        (void)!::write(c, reply.data(), reply.size());
        ::shutdown(c, SHUT_WR);
        while (::read(c, buf, sizeof buf) > 0) {
        }
        ::close(c);
    }
    std::string token_;
    int fd_ = -1;
    int port_ = 0;
    std::thread thread_;
};

TEST(ServerTokens, AMalformedChallengeIsAClearRefusalNamingTheHostNotACrash) {
    std::string bad = challenge();
    put16(bad, 64 + 2, 0xfff0);  // the first AV pair's length
    ChallengingServer server(bad);
    auto prompter = std::make_shared<ScriptedPrompter>();
    prompter->secrets.push_back(remote::SecretAnswer{"", kPassword});
    TransportOptions o;
    o.host = "127.0.0.1";
    o.port = server.port();
    o.user = std::string(kDomain) + "\\" + kUser;
    o.prompter = prompter;
    try {
        makeHttpTransport(o)->post("<x/>", 5s);
        FAIL() << "a malformed challenge was accepted";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), errc::kAccessDenied);
        EXPECT_NE(e.description().find("127.0.0.1:" + std::to_string(server.port())),
                  std::string::npos)
            << e.description();
        EXPECT_NE(e.description().find("NTLM challenge"), std::string::npos) << e.description();
    }
}

}  // namespace
}  // namespace tavo::winrm::testing
