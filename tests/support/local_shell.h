#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "remote/remote_shell.h"

namespace tavo::linuxwmi {

// `sh -s` on this machine, as a remote computer's shell would run it: the
// whole remote path (scripts, framing, snapshot) can then be run and timed
// without a network. Each run is its own process group, killed whole when
// the deadline passes or the pass is stopped.
class LocalShell : public remote::RemoteShell {
  public:
    // `env` replaces variables of this program's environment for the shell
    // (a PATH without systemctl, say).
    explicit LocalShell(std::map<std::string, std::string> env = {});

    remote::ShellRun run(std::string_view script, std::chrono::milliseconds deadline) override;
    std::string describe() const override { return "this computer's shell"; }

    // Runs so far: each is one round trip.
    int runs() const { return runs_.load(); }

  private:
    std::map<std::string, std::string> env_;
    std::atomic<int> runs_{0};
};

std::shared_ptr<LocalShell> makeLocalShell(std::map<std::string, std::string> env = {});

}  // namespace tavo::linuxwmi
