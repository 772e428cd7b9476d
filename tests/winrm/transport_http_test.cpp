// The transport's deadlines and failures: hosts that refuse, hosts that
// never answer, replies that come too late, STOP while waiting, replies too
// large to keep.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "cycle/cancellation.h"
#include "grid/error.h"
#include "platform/linux/winrm/http_connection.h"
#include "platform/linux/winrm/transport_http.h"
#include "tests/support/loopback.h"
#include "winrm/server_paged_responder.h"
#include "winrm/transport_test_support.h"
#include "winrm/wsman_test_server.h"

namespace tavo::winrm::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::shared_ptr<SoapTransport> plainTransport(int port, std::size_t maxReply = 1 << 20) {
    TransportOptions o;
    o.host = "127.0.0.1";
    o.port = port;
    o.auth = AuthMethod::None;
    o.maxReplyBytes = maxReply;
    return makeHttpTransport(o);
}

// The error a call throws, and how long it took to throw it.
template <class F>
std::pair<Error, Clock::duration> failure(F&& call) {
    const auto start = Clock::now();
    try {
        call();
    } catch (const Error& e) {
        return {e, Clock::now() - start};
    }
    ADD_FAILURE() << "the call did not fail";
    return {Error(0, ""), Clock::now() - start};
}

TEST(HttpTransportReach, AClosedPortIsUnavailableAtOnceNamingHostAndPort) {
    const int port = freeLoopbackPort();
    auto [e, took] = failure([&] { plainTransport(port)->post("<x/>", 10s); });
    EXPECT_EQ(e.number(), errc::kServerUnavailable);
    EXPECT_NE(e.description().find("127.0.0.1:" + std::to_string(port)), std::string::npos)
        << e.description();
    EXPECT_LT(took, 1s);
}

TEST(HttpTransportReach, AHostThatNeverAnswersIsGivenUpAfterFiveSeconds) {
    // A listener whose queue is full drops new connection requests, so the
    // connect waits as it would for a silent host.
    const tavo::testing::LoopbackSocket listener(0);
    const sockaddr_in a = tavo::testing::loopbackAddress(listener.port());
    std::vector<int> fillers;
    for (int i = 0; i < 8; ++i) {
        int c = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        connect(c, reinterpret_cast<const sockaddr*>(&a), sizeof a);
        fillers.push_back(c);
    }
    std::this_thread::sleep_for(100ms);
    auto [e, took] = failure([&] { plainTransport(listener.port())->post("<x/>", 30s); });
    EXPECT_EQ(e.number(), errc::kServerUnavailable) << e.description();
    EXPECT_NE(e.description().find("5 s"), std::string::npos) << e.description();
    EXPECT_GE(took, 4900ms);
    EXPECT_LT(took, 7s);
    for (int c : fillers) ::close(c);
}

class SlowServer : public ::testing::Test {
  protected:
    SlowServer() {
        ServerOptions o;
        o.responder = makePagedResponder(5, 5);
        server_ = std::make_unique<WsmanTestServer>(o);
        t_ = plainTransport(server_->port());
    }
    std::unique_ptr<WsmanTestServer> server_;
    std::shared_ptr<SoapTransport> t_;
};

TEST_F(SlowServer, AReplyLaterThanTheDeadlineTimesOutAndTheNextRequestStillWorks) {
    server_->setReplyDelay(2s);
    auto [e, took] = failure([&] { t_->post(enumerateEnvelope(t_->endpoint()), 300ms); });
    EXPECT_EQ(e.number(), errc::kTimedOut);
    EXPECT_NE(e.description().find("127.0.0.1:"), std::string::npos) << e.description();
    EXPECT_GE(took, 290ms);
    EXPECT_LT(took, 1s);

    server_->setReplyDelay(0ms);
    SoapReply r = t_->post(enumerateEnvelope(t_->endpoint()), 5s);
    EXPECT_EQ(instancesIn(r.body), 5) << "the late reply must not be taken for this one";
}

TEST_F(SlowServer, StopEndsTheWaitAtOnce) {
    server_->setReplyDelay(5s);
    std::stop_source stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(200ms);
        stop.request_stop();
    });
    auto [e, took] = failure([&] {
        cycle::StopScope scope(stop.get_token());
        t_->post(enumerateEnvelope(t_->endpoint()), 30s);
    });
    stopper.join();
    EXPECT_EQ(e.number(), errc::kCallCancelled);
    EXPECT_LT(took, 700ms);
}

TEST(HttpTransportLimits, AReplyLargerThanTheLimitIsRefusedNotKept) {
    ServerOptions o;
    o.responder = makePagedResponder(2000, 2000);  // one reply of some 300 kB
    WsmanTestServer server(o);
    auto t = plainTransport(server.port(), 64 * 1024);
    auto [e, took] = failure([&] { t->post(enumerateEnvelope(t->endpoint()), 5s); });
    EXPECT_EQ(e.number(), errc::kFailed);
    EXPECT_NE(e.description().find("limit"), std::string::npos) << e.description();
}

TEST(HttpTransportLimits, AHostNameCannotWriteHeaderLinesAndForeverIsNotThePast) {
    TransportOptions o;
    o.auth = AuthMethod::None;
    for (const char* host : {"bad\r\nX-Injected: 1", "two words", "", "a/b"}) {
        o.host = host;
        auto [e, took] = failure([&] { makeHttpTransport(o)->post("<x/>", 5s); });
        EXPECT_EQ(e.number(), errc::kInvalidSyntax) << host;
    }
    ServerOptions s;
    s.responder = makePagedResponder(5, 5);
    WsmanTestServer server(s);
    auto t = plainTransport(server.port());
    EXPECT_EQ(instancesIn(
                  t->post(enumerateEnvelope(t->endpoint()), std::chrono::milliseconds::max()).body),
              5);
}

TEST(HttpTransportLimits, AnUnauthenticatedTransportGetsAccessDeniedFromAServerThatWantsNtlm) {
    TempDir dir;
    ServerOptions o;
    o.auth = ServerAuth::Ntlm;
    o.userFile = writeUserFile(dir);
    WsmanTestServer server(o);
    auto [e, took] = failure([&] { plainTransport(server.port())->post("<x/>", 5s); });
    EXPECT_EQ(e.number(), errc::kAccessDenied);
}

}  // namespace
}  // namespace tavo::winrm::testing
