// tavo-report's questions on a terminal: a pseudo terminal stands in for
// the person, who answers by typing.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "cli/tty_prompter.h"
#include "cycle/cancellation.h"
#include "support/prompt_questions.h"

namespace tavo::cli {
namespace {

class Pty {
  public:
    Pty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
    }
    ~Pty() {
        if (slave_ >= 0) close(slave_);
        if (master_ >= 0) close(master_);
    }
    bool ok() const { return slave_ >= 0; }
    int terminal() const { return slave_; }
    void type(const std::string& text) {
        ASSERT_EQ(write(master_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    // Waits (a while at most) until the terminal shows `text`.
    bool waitFor(const std::string& text) {
        for (int i = 0; i < 100; ++i) {
            seen_ += screen();
            if (seen_.find(text) != std::string::npos) return true;
        }
        return false;
    }
    const std::string& seen() const { return seen_; }
    // What the terminal showed since the last look.
    std::string screen() {
        std::string out;
        char buf[512];
        pollfd p{master_, POLLIN, 0};
        while (poll(&p, 1, 100) > 0) {
            const ssize_t n = read(master_, buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, static_cast<std::size_t>(n));
        }
        return out;
    }

  private:
    std::string seen_;
    int master_ = -1;
    int slave_ = -1;
};

TEST(TerminalPrompter, AsksTrustAndASecretWithoutEchoingIt) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    auto prompter = makeTerminalPrompter(pty.terminal());

    const remote::TrustQuestion tq = testing::unknownHostKey();
    auto trust = std::async(std::launch::async, [&] { return prompter->askTrust(tq); });
    ASSERT_TRUE(pty.waitFor("cancel (c)? "));
    EXPECT_NE(pty.seen().find("SHA256:abc"), std::string::npos) << pty.seen();
    EXPECT_NE(pty.seen().find("db1:2222"), std::string::npos) << pty.seen();
    pty.type("maybe\nr\n");
    EXPECT_EQ(trust.get(), remote::TrustAnswer::ConnectAndRemember);

    const remote::SecretQuestion sq = testing::alicePassword();
    auto secret = std::async(std::launch::async, [&] { return prompter->askSecret(sq); });
    ASSERT_TRUE(pty.waitFor("[alice]: "));
    pty.type("\n");  // keeps alice
    ASSERT_TRUE(pty.waitFor("Password for alice@db1: "));
    pty.type("hunter2\n");
    auto answer = secret.get();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->user, "alice");
    EXPECT_EQ(answer->secret, "hunter2");
    pty.waitFor("\n");
    EXPECT_EQ(pty.seen().find("hunter2"), std::string::npos) << pty.seen();
}

TEST(TerminalPrompter, AStoppedPassOrEndOfInputCancels) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    auto prompter = makeTerminalPrompter(pty.terminal());
    remote::SecretQuestion sq;
    sq.prompt = "Password";
    std::stop_source stop;
    auto secret = std::async(std::launch::async, [&] {
        cycle::StopScope scope(stop.get_token());
        return prompter->askSecret(sq);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop.request_stop();
    ASSERT_EQ(secret.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_FALSE(secret.get());
    // Ctrl+D at the start of a line ends the input: a cancel, not an empty password.
    auto trust = std::async(std::launch::async, [&] {
        remote::TrustQuestion tq;
        return prompter->askTrust(tq);
    });
    ASSERT_TRUE(pty.waitFor("cancel (c)? "));
    pty.type("\x04");
    ASSERT_EQ(trust.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_EQ(trust.get(), remote::TrustAnswer::Cancel);
}

}  // namespace
}  // namespace tavo::cli
#endif
