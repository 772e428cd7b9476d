#pragma once

#include <stdlib.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "remote/prompts.h"
#include "tests/support/loopback.h"

// What the transport's tests share: a scripted person at the prompts, a
// private folder, a user file for the NTLM acceptor, certificates made for
// the run, and the two WS-Management requests the tests send.
namespace tavo::winrm::testing {

class ScriptedPrompter final : public remote::Prompter {
  public:
    std::deque<std::optional<remote::SecretAnswer>> secrets;
    std::deque<remote::TrustAnswer> trust;
    std::vector<remote::SecretQuestion> secretQuestions;
    std::vector<remote::TrustQuestion> trustQuestions;

    remote::TrustAnswer askTrust(const remote::TrustQuestion& q) override {
        std::lock_guard lock(mutex_);
        trustQuestions.push_back(q);
        if (trust.empty()) return remote::TrustAnswer::Cancel;
        auto a = trust.front();
        trust.pop_front();
        return a;
    }
    std::optional<remote::SecretAnswer> askSecret(const remote::SecretQuestion& q) override {
        std::lock_guard lock(mutex_);
        secretQuestions.push_back(q);
        if (secrets.empty()) return std::nullopt;
        auto a = secrets.front();
        if (secrets.size() > 1) secrets.pop_front();  // the last answer repeats
        return a;
    }

  private:
    std::mutex mutex_;
};

class TempDir {
  public:
    TempDir() {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / "tavo-winrm-test-XXXXXX").string();
        path_ = mkdtemp(tmpl.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

inline constexpr const char* kDomain = "TAVOTEST";
inline constexpr const char* kUser = "alice";
inline constexpr const char* kPassword = "Corr3ct-Horse";

// DOMAIN:USER:PASSWORD, as gss-ntlmssp reads NTLM_USER_FILE.
inline std::string writeUserFile(const TempDir& dir) {
    std::string path = dir.file("ntlm_users");
    std::ofstream(path) << kDomain << ":" << kUser << ":" << kPassword << "\n";
    return path;
}

struct Certificates {
    std::string caFile;                     // the test CA
    std::string caSignedCert, caSignedKey;  // for localhost and 127.0.0.1, signed by it
    std::string selfSignedCert, selfSignedKey;
    std::string otherNameCert, otherNameKey;  // signed by the CA, for other.example only
};

// Made with the openssl program for each run: nothing secret is checked in.
Certificates makeCertificates(const TempDir& dir);

// The SHA256 fingerprint of a PEM certificate as `openssl x509` prints it.
std::string opensslFingerprint(const std::string& certFile);

using tavo::testing::freeLoopbackPort;

std::string enumerateEnvelope(const std::string& to);
std::string pullEnvelope(const std::string& to, const std::string& context);
// The context of an Enumerate or Pull reply; "" at the end of the sequence.
std::string contextOf(const std::string& reply);
// How many Win32_Service instances a reply carries.
int instancesIn(const std::string& reply);

}  // namespace tavo::winrm::testing
