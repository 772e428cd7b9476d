#include "platform/linux/net/tcp_connect.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <unistd.h>

#include <chrono>
#include <stop_token>
#include <thread>
#include <vector>

#include "cycle/cancellation.h"
#include "sshd_fixture.h"
#include "tests/support/loopback.h"

namespace tavo::linuxnet {
namespace {

using std::chrono::milliseconds;

// A listener on loopback that accepts into its backlog and never answers.
struct Listener {
    tavo::testing::LoopbackSocket socket{4};
    int fd = socket.fd();
    int port = socket.port();
};

TEST(TcpConnect, ConnectsRefusesAndGivesUpEachTheWayItSays) {
    Listener l;
    auto c = connectTcp("127.0.0.1", l.port, Clock::now() + milliseconds(2000));
    ASSERT_EQ(c.result, TcpConnect::Result::Connected) << c.why;
    // Handed over blocking, as libssh expects of a socket it is given.
    EXPECT_EQ(fcntl(c.fd, F_GETFL, 0) & O_NONBLOCK, 0);
    EXPECT_NE(fcntl(c.fd, F_GETFD, 0) & FD_CLOEXEC, 0);
    ::close(c.fd);

    const int closed = sshtest::freePort();
    c = connectTcp("127.0.0.1", closed, Clock::now() + milliseconds(2000));
    EXPECT_EQ(c.result, TcpConnect::Result::Failed);
    EXPECT_NE(c.why.find("refused"), std::string::npos) << c.why;
    EXPECT_EQ(c.fd, -1);

    // A name the resolver cannot know. Without a reachable name server here
    // the lookup may instead hang: either way the answer comes by the deadline.
    const auto start = Clock::now();
    c = connectTcp("no-such-host.invalid", 22, start + milliseconds(1500));
    EXPECT_LT(Clock::now() - start, milliseconds(2500));
    EXPECT_TRUE(c.result == TcpConnect::Result::NameUnknown ||
                c.result == TcpConnect::Result::NameTimedOut);
    if (c.result == TcpConnect::Result::NameUnknown) {
        EXPECT_FALSE(c.why.empty());
    }
}

TEST(TcpConnect, AListenerThatNeverAnswersEndsAtTheDeadlineOrAtStop) {
    // A listener whose queue is full drops further SYNs: the connect waits
    // as it would on a host that never answers.
    Listener l;
    listen(l.fd, 0);
    std::vector<int> fillers;
    for (int i = 0; i < 8; ++i) {
        auto f = connectTcp("127.0.0.1", l.port, Clock::now() + milliseconds(300));
        if (f.result != TcpConnect::Result::Connected) break;
        fillers.push_back(f.fd);
    }
    ASSERT_LT(fillers.size(), 8u) << "the listener's queue never filled";

    auto start = Clock::now();
    auto c = connectTcp("127.0.0.1", l.port, start + milliseconds(700));
    auto took = Clock::now() - start;
    EXPECT_EQ(c.result, TcpConnect::Result::NoAnswer);
    EXPECT_GE(took, milliseconds(650));
    EXPECT_LT(took, milliseconds(1500));

    std::stop_source stop;
    cycle::StopScope scope(stop.get_token());
    std::thread stopper([&] {
        std::this_thread::sleep_for(milliseconds(200));
        stop.request_stop();
    });
    start = Clock::now();
    c = connectTcp("127.0.0.1", l.port, start + milliseconds(10000));
    took = Clock::now() - start;
    stopper.join();
    EXPECT_EQ(c.result, TcpConnect::Result::Stopped);
    EXPECT_LT(took, milliseconds(1000));
    for (int fd : fillers) ::close(fd);
}

}  // namespace
}  // namespace tavo::linuxnet
