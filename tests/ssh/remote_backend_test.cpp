#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>

#include "grid/error.h"
#include "platform/linux/ssh/remote_backend.h"
#include "sshd_fixture.h"

namespace tavo::sshtest {
namespace {

using std::chrono::milliseconds;

// A provider standing in for the real one over the shell: each query runs
// one script and answers with no rows, so the tests see what reached the
// remote and through which session.
struct ShellLog {
    std::atomic<int> providers{0};
    std::atomic<int> queries{0};
    std::vector<std::shared_ptr<remote::RemoteShell>> shells;
};

class EmptyResult : public wmi::ResultSet {
  public:
    std::unique_ptr<wmi::Object> next() override { return nullptr; }
};

class ShellConnection : public wmi::Connection {
  public:
    ShellConnection(std::shared_ptr<remote::RemoteShell> shell, ShellLog* log)
        : shell_(std::move(shell)), log_(log) {}
    std::unique_ptr<wmi::ResultSet> execQuery(const std::string&) override {
        auto r = shell_->run("echo answered\n", milliseconds(5000));
        if (r.out != "answered\n") throw Error(errc::kFailed, "unexpected: " + r.out);
        ++log_->queries;
        return std::make_unique<EmptyResult>();
    }

  private:
    std::shared_ptr<remote::RemoteShell> shell_;
    ShellLog* log_;
};

class ShellProvider : public wmi::Backend {
  public:
    ShellProvider(std::shared_ptr<remote::RemoteShell> shell, ShellLog* log)
        : shell_(std::move(shell)), log_(log) {}
    std::unique_ptr<wmi::Connection> connect(const std::string&) override {
        return std::make_unique<ShellConnection>(shell_, log_);
    }

  private:
    std::shared_ptr<remote::RemoteShell> shell_;
    ShellLog* log_;
};

// The WinRM slot: remembers what it was asked for.
class RecordingBackend : public wmi::Backend {
  public:
    std::vector<std::string> asked;
    int closed = 0;
    std::unique_ptr<wmi::Connection> connect(const std::string& computer) override {
        asked.push_back(computer);
        throw Error(errc::kAccessDenied, "recorded " + computer);
    }
    void closeSessions() override { ++closed; }
};

ssh::RemoteBackendParts partsFor(const ssh::SshSettings& settings, ShellLog& log) {
    ssh::RemoteBackendParts parts;
    parts.ssh = settings;
    parts.prompter = remote::makeNoPrompter();
    parts.provider = [&log](std::shared_ptr<remote::RemoteShell> shell) {
        ++log.providers;
        log.shells.push_back(shell);
        return std::make_shared<ShellProvider>(shell, &log);
    };
    // Generous, for a loaded machine: these tests are not about the probe's time.
    parts.probeTimeout = milliseconds(30000);
    return parts;
}

int acceptedLogins() {
    const std::string log = sshd().serverLog();
    int n = 0;
    const std::string login = "Accepted publickey for";
    for (auto pos = log.find(login); pos != std::string::npos; pos = log.find(login, pos + 1)) ++n;
    return n;
}

TEST(RemoteBackend, PassesShareOneSessionUntilTheCycleStopsOrTheLinkDrops) {
    TAVO_REQUIRE_SSHD();
    auto settings = sshd().client("backend");
    sshd().trust(settings);
    ShellLog log;
    auto backend = ssh::makeRemoteBackend(partsFor(settings, log));
    const std::string target = sshd().target(sshd().user());
    const int before = acceptedLogins();

    for (int pass = 0; pass < 3; ++pass) backend->connect(target)->execQuery("Select *");
    EXPECT_EQ(log.queries, 3);
    EXPECT_EQ(log.providers, 1);
    EXPECT_EQ(acceptedLogins() - before, 1);

    // The connection drops mid-pass: that pass fails, the next reconnects.
    auto conn = backend->connect(target);
    for (int pid : sshd().sessionProcesses()) kill(pid, SIGKILL);
    EXPECT_THROW(
        {
            for (int i = 0; i < 5; ++i) conn->execQuery("Select *");
        },
        Error);
    conn.reset();
    backend->connect(target)->execQuery("Select *");
    EXPECT_EQ(log.providers, 2);

    // STOP closes the session; the next cycle logs in again.
    backend->closeSessions();
    backend->connect(target)->execQuery("Select *");
    EXPECT_EQ(log.providers, 3);
    EXPECT_EQ(acceptedLogins() - before, 3);
}

TEST(RemoteBackend, WinRmTextsGoToTheWinRmSlotOrFailSayingSo) {
    ShellLog log;
    auto settings = sshd().client("winrm");
    auto parts = partsFor(settings, log);
    auto without = ssh::makeRemoteBackend(parts);
    try {
        without->connect("winrm://win01");
        ADD_FAILURE() << "connected";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), errc::kServerUnavailable);
        EXPECT_NE(e.description().find("winrm://win01"), std::string::npos);
    }
    auto winrm = std::make_shared<RecordingBackend>();
    parts.winrm = winrm;
    auto with = ssh::makeRemoteBackend(parts);
    for (const std::string text : {"winrm://admin@win01", "https://win01:5986/wsman"}) {
        EXPECT_THROW(with->connect(text), Error);
    }
    EXPECT_EQ(winrm->asked,
              (std::vector<std::string>{"winrm://admin@win01", "https://win01:5986/wsman"}));
    with->closeSessions();
    EXPECT_EQ(winrm->closed, 1);
    EXPECT_EQ(log.providers, 0);
}

TEST(RemoteBackend, ABareNameThatAnswersNothingSaysWhatWasTriedAndWhy) {
    ShellLog log;
    auto parts = partsFor(sshd().client("probe"), log);
    parts.winrm = std::make_shared<RecordingBackend>();
    auto backend = ssh::makeRemoteBackend(parts);
    // 127.0.0.3 is on the loopback: every port refuses at once.
    const auto start = std::chrono::steady_clock::now();
    try {
        backend->connect("127.0.0.3");
        ADD_FAILURE() << "connected";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), errc::kServerUnavailable);
        for (const char* what : {"SSH (port 22)", "5985", "5986", "refused", "ssh://"})
            EXPECT_NE(e.description().find(what), std::string::npos) << e.description();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(3000));
    // An unroutable address costs one probe time for all its ports.
    const auto blackhole = std::chrono::steady_clock::now();
    EXPECT_THROW(backend->connect("192.0.2.1"), Error);
    EXPECT_LT(std::chrono::steady_clock::now() - blackhole, milliseconds(5000));
}

TEST(RemoteBackend, ProbesPortsInParallelAndReportsRefusals) {
    TAVO_REQUIRE_SSHD();
    std::string why;
    EXPECT_TRUE(ssh::portAnswers("127.0.0.1", sshd().port(), milliseconds(30000), why)) << why;
    EXPECT_FALSE(ssh::portAnswers("127.0.0.1", freePort(), milliseconds(1000), why));
    EXPECT_NE(why.find("refused"), std::string::npos) << why;
    EXPECT_FALSE(ssh::portAnswers("no-such-host.invalid", 22, milliseconds(1000), why));
    EXPECT_NE(why.find("resolved"), std::string::npos) << why;
}

TEST(RemoteBackend, ABareNameWithAnSshServerOnLinuxGoesOverSshAndIsRemembered) {
    TAVO_REQUIRE_SSHD();
    auto settings = sshd().client("bare");
    sshd().trust(settings);
    ShellLog log;
    auto parts = partsFor(settings, log);
    auto winrm = std::make_shared<RecordingBackend>();
    parts.winrm = winrm;
    parts.sshProbePort = sshd().port();
    auto backend = ssh::makeRemoteBackend(parts);
    backend->connect("127.0.0.1")->execQuery("Select *");
    // Remembered: the next pass neither probes nor asks WinRM.
    backend->closeSessions();
    backend->connect("127.0.0.1")->execQuery("Select *");
    EXPECT_EQ(log.queries, 2);
    EXPECT_TRUE(winrm->asked.empty());
}

}  // namespace
}  // namespace tavo::sshtest
