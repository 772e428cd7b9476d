#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <set>
#include <sstream>
#include <thread>

#include "cycle/cancellation.h"
#include "grid/error.h"
#include "platform/linux/ssh/ssh_shell.h"
#include "sshd_fixture.h"

namespace tavo::sshtest {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

std::shared_ptr<ssh::SshShell> openAs(const std::string& user, const ssh::SshSettings& settings,
                                      std::shared_ptr<remote::Prompter> prompter,
                                      std::shared_ptr<ssh::Secret>* saved = nullptr) {
    return ssh::SshShell::open(remote::parseTarget(sshd().target(user)), settings,
                               std::move(prompter), saved);
}

// The failure `f` throws, or a failed test.
template <class F>
Error failureOf(F&& f) {
    try {
        f();
    } catch (const Error& e) {
        return e;
    }
    ADD_FAILURE() << "no failure";
    return Error(0, "");
}

TEST(SshHostKey, UnknownKeyIsAskedWithItsFingerprintAndCancelConnectsNothing) {
    TAVO_REQUIRE_SSHD();
    auto settings = sshd().client("unknown");
    auto prompter = std::make_shared<ScriptedPrompter>();
    Error e = failureOf([&] { openAs(sshd().user(), settings, prompter); });
    EXPECT_EQ(e.number(), errc::kServerUnavailable);
    EXPECT_NE(e.description().find(sshd().hostFingerprint()), std::string::npos) << e.description();
    ASSERT_EQ(prompter->trustQuestions.size(), 1u);
    const auto& q = prompter->trustQuestions[0];
    EXPECT_EQ(q.fingerprint, sshd().hostFingerprint());
    EXPECT_EQ(q.keyType, "ssh-ed25519");
    EXPECT_EQ(q.port, sshd().port());
    EXPECT_FALSE(fs::exists(settings.knownHostsPath()));
    EXPECT_TRUE(prompter->secretQuestions.empty());
}

TEST(SshHostKey, ConnectOnceWritesNothingAndRememberWritesKnownHosts) {
    TAVO_REQUIRE_SSHD();
    auto settings = sshd().client("remember");
    auto prompter = std::make_shared<ScriptedPrompter>();
    prompter->trust = remote::TrustAnswer::ConnectOnce;
    openAs(sshd().user(), settings, prompter);
    EXPECT_FALSE(fs::exists(settings.knownHostsPath()));

    prompter->trust = remote::TrustAnswer::ConnectAndRemember;
    openAs(sshd().user(), settings, prompter);
    const std::string known = readFile(settings.knownHostsPath());
    EXPECT_NE(known.find("[127.0.0.1]:" + std::to_string(sshd().port())), std::string::npos)
        << known;
    EXPECT_NE(known.find("ssh-ed25519"), std::string::npos);

    // Known now: a third connection asks nothing.
    prompter->trust = remote::TrustAnswer::Cancel;
    auto shell = openAs(sshd().user(), settings, prompter);
    EXPECT_EQ(prompter->trustQuestions.size(), 2u);
    EXPECT_EQ(shell->run("echo ok\n", milliseconds(5000)).out, "ok\n");
}

TEST(SshHostKey, ChangedKeyIsRefusedNamingTheLineAndTheRemedy) {
    TAVO_REQUIRE_SSHD();
    auto settings = sshd().client("changed");
    {
        // Another key recorded for this host, after an unrelated line.
        std::ofstream out(settings.knownHostsPath());
        out << "otherhost " << readFile(sshd().serverDir() / "client_key.pub");
        out << "[127.0.0.1]:" << sshd().port() << " "
            << readFile(sshd().serverDir() / "stranger_key.pub");
    }
    const std::string before = readFile(settings.knownHostsPath());
    auto prompter = std::make_shared<ScriptedPrompter>();
    prompter->trust = remote::TrustAnswer::ConnectAndRemember;
    Error e = failureOf([&] { openAs(sshd().user(), settings, prompter); });
    EXPECT_EQ(e.number(), errc::kServerUnavailable);
    EXPECT_NE(e.description().find(settings.knownHostsPath() + ":2"), std::string::npos)
        << e.description();
    EXPECT_NE(e.description().find("ssh-keygen"), std::string::npos);
    EXPECT_NE(e.description().find("-R \"[127.0.0.1]:" + std::to_string(sshd().port())),
              std::string::npos);
    // Never asked, never rewritten.
    EXPECT_TRUE(prompter->trustQuestions.empty());
    EXPECT_EQ(readFile(settings.knownHostsPath()), before);
}

// libssh reads neither known_hosts marker; a marker handled wrongly either
// lets a revoked key in or takes a CA line for the host's own key.
TEST(SshHostKey, RevokedKeysAreRefusedNamingTheLineAndNeverAskedAbout) {
    TAVO_REQUIRE_SSHD();
    const std::string hostPort = "[127.0.0.1]:" + std::to_string(sshd().port());
    const std::string hostKey = readFile(sshd().serverDir() / "host_ed25519.pub");
    const std::string plain = hostPort + " " + hostKey;
    // The same line with its host name hashed, as HashKnownHosts writes it.
    const fs::path hashed = sshd().serverDir() / "hashed_known_hosts";
    { std::ofstream(hashed) << plain; }
    runCommand("ssh-keygen -q -H -f " + hashed.string() + " >/dev/null 2>&1");
    const std::string hashedLine = readFile(hashed);
    ASSERT_EQ(hashedLine.rfind("|1|", 0), 0u) << hashedLine;

    struct Case {
        const char* name;
        std::string user, global;  // the two files' text
        std::string refusedAt;     // "user:N", "global:N" or "" where it connects
    };
    const std::vector<Case> cases = {
        {"also-listed", "# a comment\n" + plain + "@revoked " + plain, "", "user:3"},
        {"alone-hashed", "@revoked " + hashedLine, "", "user:1"},
        {"global-wildcard", plain, "\n@revoked\t* " + hostKey, "global:2"},
        {"other-key", "@revoked * " + readFile(sshd().serverDir() / "stranger_key.pub") + plain, "",
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto settings = sshd().client(std::string("revoked-") + c.name);
        settings.globalKnownHostsFile = (fs::path(settings.sshDir) / "global_known_hosts").string();
        { std::ofstream(settings.knownHostsPath()) << c.user; }
        { std::ofstream(settings.globalKnownHostsFile) << c.global; }
        auto prompter = std::make_shared<ScriptedPrompter>();
        prompter->trust = remote::TrustAnswer::ConnectAndRemember;
        if (c.refusedAt.empty()) {
            EXPECT_EQ(
                openAs(sshd().user(), settings, prompter)->run("echo in\n", milliseconds(5000)).out,
                "in\n");
            continue;
        }
        Error e = failureOf([&] { openAs(sshd().user(), settings, prompter); });
        EXPECT_EQ(e.number(), errc::kServerUnavailable);
        const std::string at =
            (c.refusedAt[0] == 'u' ? settings.knownHostsPath() : settings.globalKnownHostsFile) +
            c.refusedAt.substr(c.refusedAt.find(':'));
        EXPECT_NE(e.description().find("REVOKED HOST KEY DETECTED"), std::string::npos)
            << e.description();
        EXPECT_NE(e.description().find(at), std::string::npos) << e.description();
        EXPECT_TRUE(prompter->trustQuestions.empty());
        EXPECT_EQ(readFile(settings.knownHostsPath()), c.user);
    }
}

TEST(SshHostKey, ACertAuthorityLineIsNotTheHostsKey) {
    TAVO_REQUIRE_SSHD();
    auto settings = sshd().client("cert-authority");
    {
        std::ofstream(settings.knownHostsPath())
            << "@cert-authority [127.0.0.1]:" << sshd().port() << " "
            << readFile(sshd().serverDir() / "host_ed25519.pub");
    }
    auto prompter = std::make_shared<ScriptedPrompter>();
    Error e = failureOf([&] { openAs(sshd().user(), settings, prompter); });
    EXPECT_EQ(e.number(), errc::kServerUnavailable);
    EXPECT_EQ(prompter->trustQuestions.size(), 1u) << e.description();
}

TEST(SshLogin, KeyNotAuthorisedAndNoPasswordIsAccessDeniedNamingUserAndHost) {
    TAVO_REQUIRE_SSHD();
    auto settings = sshd().client("stranger", "stranger_key");
    sshd().trust(settings);
    Error e = failureOf([&] { openAs(sshd().user(), settings, remote::makeNoPrompter()); });
    EXPECT_EQ(e.number(), errc::kAccessDenied);
    EXPECT_NE(e.description().find("\"" + sshd().user() + "\""), std::string::npos)
        << e.description();
    EXPECT_NE(e.description().find("127.0.0.1"), std::string::npos);
}

TEST(SshLogin, ALockedKeyAsksItsPassphraseThroughThePrompter) {
    TAVO_REQUIRE_SSHD();
    auto settings = sshd().client("locked", "locked_key");
    sshd().trust(settings);
    auto prompter = std::make_shared<ScriptedPrompter>();
    prompter->secrets = {"tavo-passphrase"};
    auto shell = openAs(sshd().user(), settings, prompter);
    ASSERT_GE(prompter->secretQuestions.size(), 1u);
    EXPECT_EQ(shell->run("echo unlocked\n", milliseconds(5000)).out, "unlocked\n");
    // Without anyone to ask, the key stays locked and the login fails.
    Error e = failureOf([&] { openAs(sshd().user(), settings, remote::makeNoPrompter()); });
    EXPECT_EQ(e.number(), errc::kAccessDenied);
}

TEST(SshLogin, WrongPasswordsAreRefusedThenTheRightOneIsKeptForTheSession) {
    TAVO_REQUIRE_SSHD();
    if (sshd().passwordUser().empty())
        GTEST_SKIP() << "a user with a password needs the tests to run as root";
    auto settings = sshd().client("password", "");
    sshd().trust(settings);

    auto wrong = std::make_shared<ScriptedPrompter>();
    wrong->secrets = {"wrong-1", "wrong-2", "wrong-3", "never asked"};
    Error e = failureOf([&] { openAs(sshd().passwordUser(), settings, wrong); });
    EXPECT_EQ(e.number(), errc::kAccessDenied);
    EXPECT_NE(e.description().find(sshd().passwordUser()), std::string::npos);
    ASSERT_EQ(wrong->secretQuestions.size(), 3u);
    EXPECT_TRUE(wrong->secretQuestions[0].lastFailure.empty());
    EXPECT_FALSE(wrong->secretQuestions[1].lastFailure.empty());
    EXPECT_FALSE(wrong->secretQuestions[0].askUser);  // the text named the user
    // The secret never reaches a message.
    EXPECT_EQ(e.description().find("wrong-"), std::string::npos);

    auto right = std::make_shared<ScriptedPrompter>();
    right->secrets = {"wrong", sshd().password()};
    std::shared_ptr<ssh::Secret> saved;
    auto shell = openAs(sshd().passwordUser(), settings, right, &saved);
    EXPECT_EQ(right->secretQuestions.size(), 2u);
    ASSERT_TRUE(saved);
    EXPECT_EQ(shell->run("id -un\n", milliseconds(5000)).out, sshd().passwordUser() + "\n");

    // A reconnection in the same session tries the kept password first.
    auto none = std::make_shared<ScriptedPrompter>();
    openAs(sshd().passwordUser(), settings, none, &saved);
    EXPECT_TRUE(none->secretQuestions.empty());
}

TEST(SshReach, RefusedPortBlackHoleAndSilentListenerFailWithinTheDeadline) {
    auto settings = sshtest::sshd().client("reach");
    settings.connectTimeout = milliseconds(1500);
    auto prompter = std::make_shared<ScriptedPrompter>();

    // Nothing listens: refused at once.
    const int closed = freePort();
    auto start = Clock::now();
    Error refused = failureOf([&] {
        ssh::SshShell::open(remote::parseTarget("u@127.0.0.1:" + std::to_string(closed)), settings,
                            prompter);
    });
    EXPECT_EQ(refused.number(), errc::kServerUnavailable);
    EXPECT_LT(Clock::now() - start, milliseconds(3000));
    EXPECT_NE(refused.description().find("127.0.0.1"), std::string::npos);

    // A listener that accepts and never says a word.
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(fd, 4), 0);
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    start = Clock::now();
    Error silent = failureOf([&] {
        ssh::SshShell::open(
            remote::parseTarget("u@127.0.0.1:" + std::to_string(ntohs(addr.sin_port))), settings,
            prompter);
    });
    const auto took = Clock::now() - start;
    close(fd);
    EXPECT_EQ(silent.number(), errc::kServerUnavailable);
    EXPECT_GE(took, milliseconds(1400));
    EXPECT_LT(took, milliseconds(5000));

    // An address nobody routes to (TEST-NET-1).
    start = Clock::now();
    Error unreachable = failureOf(
        [&] { ssh::SshShell::open(remote::parseTarget("u@192.0.2.1"), settings, prompter); });
    EXPECT_EQ(unreachable.number(), errc::kServerUnavailable);
    EXPECT_LT(Clock::now() - start, milliseconds(5000));

    // A name the resolver does not know, or cannot ask about in time.
    start = Clock::now();
    Error unknown = failureOf([&] {
        ssh::SshShell::open(remote::parseTarget("ssh://u@no-such-host.invalid"), settings,
                            prompter);
    });
    EXPECT_EQ(unknown.number(), errc::kServerUnavailable);
    EXPECT_NE(unknown.description().find("no-such-host.invalid"), std::string::npos);
    EXPECT_LT(Clock::now() - start, milliseconds(3000));
    EXPECT_TRUE(prompter->trustQuestions.empty());
}

class SshRun : public ::testing::Test {
  protected:
    void SetUp() override {
        TAVO_REQUIRE_SSHD();
        settings_ = sshd().client("run");
        sshd().trust(settings_);
        shell_ = openAs(sshd().user(), settings_, remote::makeNoPrompter());
    }
    ssh::SshSettings settings_;
    std::shared_ptr<ssh::SshShell> shell_;
};

TEST_F(SshRun, ReturnsOutputErrorsAndStatusByteForByte) {
    auto r = shell_->run("printf 'a\\0b\\n'; echo oops >&2; exit 3\n", milliseconds(5000));
    EXPECT_EQ(r.out, std::string("a\0b\n", 4));
    EXPECT_EQ(r.err, "oops\n");
    EXPECT_EQ(r.exitStatus, 3);

    // More than any window of the channel, and a script bigger than one write.
    std::string script = "head -c 3000000 /dev/zero | tr '\\0' x\n";
    script += "# " + std::string(100000, 'p') + "\n";
    r = shell_->run(script, milliseconds(20000));
    EXPECT_EQ(r.out.size(), 3000000u);
    EXPECT_EQ(r.out.find_first_not_of('x'), std::string::npos);
    EXPECT_EQ(r.exitStatus, 0);
    // The session serves one run after another.
    EXPECT_EQ(shell_->run("echo again\n", milliseconds(5000)).out, "again\n");
}

TEST_F(SshRun, ACommandThatHangsIsEndedAtTheDeadlineAndDiesOnTheRemote) {
    const std::string marker = "sleep 86" + std::to_string(getpid() % 1000);
    // The shell up first: a login slower than the deadline never starts the
    // run, which is another failure.
    ASSERT_EQ(shell_->run("echo up\n", milliseconds(20000)).out, "up\n");
    const auto start = Clock::now();
    Error e = failureOf([&] { shell_->run(marker + "\n", milliseconds(800)); });
    const auto took = Clock::now() - start;
    EXPECT_EQ(e.number(), errc::kTimedOut);
    EXPECT_GE(took, milliseconds(750));
    EXPECT_LT(took, milliseconds(4000));
    // The remote here is this machine: the command must be gone.
    // (Ended by the channel's signal, or where sshd cannot signal a root
    // session, by the remote's own time limit a moment later.)
    std::vector<int> left;
    for (int i = 0; i < 100; ++i) {
        left = processesRunning(marker.substr(0, 5) + '\0' + marker.substr(6) + '\0');
        if (left.empty()) break;
        std::this_thread::sleep_for(milliseconds(50));
    }
    EXPECT_TRUE(left.empty()) << "still running: " << left.size();
    // The session survives a run that was ended.
    EXPECT_EQ(shell_->run("echo alive\n", milliseconds(5000)).out, "alive\n");
}

TEST_F(SshRun, AShellThatDiedBetweenRunsIsReplacedWithoutAFailure) {
    // Every run goes through one long-lived remote shell. Kill it from
    // behind (as an administrator or the OOM killer might) after this run.
    const std::string killer =
        "outer=$(awk '{print $4}' /proc/$PPID/stat); [ \"$outer\" -gt 1 ] || outer=$PPID\n"
        "( sleep 0.3; kill -KILL \"$outer\" ) >/dev/null 2>&1 </dev/null &\n"
        "echo set\n";
    ASSERT_EQ(shell_->run(killer, milliseconds(5000)).out, "set\n");
    std::this_thread::sleep_for(milliseconds(1000));
    const auto r = shell_->run("echo fresh\n", milliseconds(5000));
    EXPECT_EQ(r.out, "fresh\n");
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_TRUE(shell_->connected());
}

TEST_F(SshRun, StopEndsARunAtOnce) {
    std::stop_source stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(milliseconds(300));
        stop.request_stop();
    });
    const auto start = Clock::now();
    {
        cycle::StopScope scope(stop.get_token());
        Error e = failureOf([&] { shell_->run("sleep 30\n", milliseconds(20000)); });
        EXPECT_EQ(e.number(), errc::kTimedOut);
    }
    stopper.join();
    EXPECT_LT(Clock::now() - start, milliseconds(3000));
}

TEST_F(SshRun, ALostConnectionIsReportedAndTheShellSaysSo) {
    ASSERT_EQ(shell_->run("echo first\n", milliseconds(5000)).out, "first\n");
    ASSERT_TRUE(shell_->connected());
    for (int pid : sshd().sessionProcesses()) kill(pid, SIGKILL);
    Error e = failureOf([&] {
        for (int i = 0; i < 5; ++i) shell_->run("echo more\n", milliseconds(3000));
    });
    EXPECT_EQ(e.number(), errc::kServerUnavailable);
    EXPECT_NE(e.description().find("lost"), std::string::npos) << e.description();
    EXPECT_FALSE(shell_->connected());
}

// The account's start-up files run before anything Tavo sends. What they
// print is not the report, and a shell that never gets to the script fails
// the run as such: never an empty report, never a run merely "cut off".
TEST(SshStartup, StartUpFilesThatPrintAreIgnoredAndOnesThatNeverFinishFailTheRun) {
    TAVO_REQUIRE_SSHD();
    auto settings = sshd().client("startup", "startup_key");
    sshd().trust(settings);
    const fs::path startup = sshd().serverDir() / "startup.sh";
    struct Case {
        const char* name;
        const char* startup;  // what the start-up file does
        bool fails;
        bool flood;  // ended by the limit on what may come first, long before the deadline
    };
    const Case cases[] = {
        {"banner", "echo 'Welcome to the host'; echo 'mesg: ttyname failed' >&2", false, false},
        {"drip", "while :; do printf .; sleep 1; done", true, false},
        {"flood", "yes 'start-up output'", true, true},
        {"flood-stderr", "yes 'start-up output' >&2", true, true},
        {"wait", "sleep 20", true, false},
        {"exit", "exit 0", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        { std::ofstream(startup) << c.startup << "\n"; }
        auto shell = openAs(sshd().user(), settings, remote::makeNoPrompter());
        const milliseconds deadline(c.flood ? 30000 : 3000);
        if (!c.fails) {
            const auto r = shell->run("echo report; echo note >&2\n", deadline);
            EXPECT_EQ(r.out, "report\n");
            EXPECT_EQ(r.err, "note\n");
            EXPECT_EQ(r.exitStatus, 0);
            continue;
        }
        const auto start = Clock::now();
        Error e = failureOf([&] { shell->run("echo report\n", deadline); });
        EXPECT_LT(Clock::now() - start, c.flood ? deadline / 3 : deadline + milliseconds(2000));
        EXPECT_EQ(e.number(), errc::kFailed) << e.description();
        EXPECT_NE(e.description().find("127.0.0.1"), std::string::npos) << e.description();
        EXPECT_NE(e.description().find("~/.bashrc"), std::string::npos) << e.description();
    }
    fs::remove(startup);
}

// Nothing of Tavo's may show among the remote's variables: compared with
// what the same login gets from OpenSSH's own client running `env`.
TEST_F(SshRun, TheRunSeesOnlyTheLoginsOwnEnvironment) {
    auto names = [](const std::string& env) {
        std::set<std::string> out;
        std::istringstream in(env);
        for (std::string line; std::getline(in, line);)
            if (auto eq = line.find('='); eq != std::string::npos && eq > 0)
                out.insert(line.substr(0, eq));
        // What each shell on the way sets for itself.
        for (const char* own : {"PWD", "OLDPWD", "SHLVL", "_"}) out.erase(own);
        return out;
    };
    const std::string plain = runCommand(
        "ssh -F /dev/null -o BatchMode=yes -o StrictHostKeyChecking=yes -o UserKnownHostsFile=" +
        settings_.knownHostsPath() + " -i " + (sshd().serverDir() / "client_key").string() +
        " -p " + std::to_string(sshd().port()) + " " + sshd().user() + "@127.0.0.1 env");
    ASSERT_NE(plain.find("SSH_CONNECTION="), std::string::npos) << plain;
    const auto r = shell_->run("env\n", milliseconds(5000));
    EXPECT_EQ(names(r.out), names(plain)) << r.out << "\nand plainly:\n" << plain;
}

TEST_F(SshRun, OutputBeyondTheCapFailsTheRunAsARunawayRemote) {
    Error e = failureOf([&] { shell_->run("head -c 70000000 /dev/zero\n", milliseconds(30000)); });
    EXPECT_EQ(e.number(), errc::kFailed) << e.description();
    EXPECT_NE(e.description().find("64 MiB"), std::string::npos) << e.description();
    EXPECT_EQ(shell_->run("echo next\n", milliseconds(5000)).out, "next\n");
}

}  // namespace
}  // namespace tavo::sshtest
