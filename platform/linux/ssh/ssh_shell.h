#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "remote/prompts.h"
#include "remote/remote_shell.h"
#include "remote/target_text.h"

// A shell on another Linux computer over SSH (libssh): the user's ssh
// configuration, known hosts, agent and keys, then a password asked through
// the prompter. One authenticated session serves every run, and one
// long-lived remote shell on it: each run is a shell of its own under it.
namespace tavo::ssh {

// Where the client's own files are. The defaults are the user's; tests point
// every one of them into a folder of their own.
struct SshSettings {
    std::string sshDir;                // the default keys and, unless set below, the files
    std::string configFile;            // "" for sshDir/config
    std::string knownHostsFile;        // "" for sshDir/known_hosts
    std::string globalKnownHostsFile;  // "" for /etc/ssh/ssh_known_hosts
    bool readSystemConfig = true;      // /etc/ssh/ssh_config after the user's
    std::chrono::milliseconds connectTimeout{5000};

    // ~/.ssh of the user running Tavo ($HOME, else the password database).
    static SshSettings forUser();
    std::string configPath() const;
    std::string knownHostsPath() const;
};

// A password kept for one session's reconnections: never written anywhere,
// wiped when the last holder lets it go.
class Secret {
  public:
    Secret() = default;
    explicit Secret(std::string user, std::string text)
        : user_(std::move(user)), text_(std::move(text)) {}
    ~Secret();
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;
    const std::string& user() const { return user_; }
    const std::string& text() const { return text_; }

  private:
    std::string user_;
    std::string text_;
};

class SshShell : public remote::RemoteShell {
  public:
    // Connects, checks the host key and logs in, all within the connect
    // timeout (a person answering a prompt is not counted) and the calling
    // pass's stop token. `password` is tried before asking; the one that
    // worked is left in it for the next connection to the same target.
    // Throws tavo::Error: 0x800706BA when the host cannot be reached or the
    // key is refused, 0x80070005 when the login fails, naming user and host.
    static std::shared_ptr<SshShell> open(const remote::Target& target, const SshSettings& settings,
                                          std::shared_ptr<remote::Prompter> prompter,
                                          std::shared_ptr<Secret>* password = nullptr);

    ~SshShell() override;
    SshShell(const SshShell&) = delete;
    SshShell& operator=(const SshShell&) = delete;

    remote::ShellRun run(std::string_view script, std::chrono::milliseconds deadline) override;
    std::string describe() const override;

    // False once the connection has been lost; the next pass opens another.
    bool connected() const;

    struct Impl;

  private:
    explicit SshShell(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace tavo::ssh
