#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "remote/prompts.h"
#include "sshd_server.h"

// The tests' private sshd, started on first use and stopped when the test
// program ends, and a prompter that answers from a script.
namespace tavo::sshtest {

inline Sshd& sshd() {
    static Sshd server(std::string(TAVO_TEST_DATA) + "/../ssh/sshd_fixture.sh");
    return server;
}

#define TAVO_REQUIRE_SSHD()                                                            \
    do {                                                                               \
        ASSERT_TRUE(::tavo::sshtest::sshd().ready()) << ::tavo::sshtest::sshd().log(); \
    } while (0)

// Answers what a connection asks from a script, and keeps the questions.
class ScriptedPrompter : public remote::Prompter {
  public:
    remote::TrustAnswer trust = remote::TrustAnswer::Cancel;
    std::vector<std::string> secrets;  // handed out in order; then cancel
    std::string answerUser;

    remote::TrustAnswer askTrust(const remote::TrustQuestion& q) override {
        std::lock_guard lock(mutex_);
        trustQuestions.push_back(q);
        return trust;
    }
    std::optional<remote::SecretAnswer> askSecret(const remote::SecretQuestion& q) override {
        std::lock_guard lock(mutex_);
        secretQuestions.push_back(q);
        if (secretQuestions.size() > secrets.size()) return std::nullopt;
        return remote::SecretAnswer{answerUser, secrets[secretQuestions.size() - 1]};
    }

    std::vector<remote::TrustQuestion> trustQuestions;
    std::vector<remote::SecretQuestion> secretQuestions;

  private:
    std::mutex mutex_;
};

}  // namespace tavo::sshtest
