#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "collectors/management.h"
#include "platform/linux/wmi/remote_snapshot.h"
#include "remote/remote_shell.h"

namespace tavo::linuxwmi {

struct RemoteOptions {
    // The longest any one command that can hang on the remote (statvfs of a
    // dead mount, a process's command line) may take there before it is
    // killed; its value then stays null and the pass goes on.
    std::chrono::milliseconds commandTimeout{2000};
    // The longest one round trip may take here, whatever the remote does.
    std::chrono::milliseconds runDeadline{20000};
    // Round trips a class's pass may take at most.
    int maxRounds = 3;
    // Read the files under this folder of the remote (fixture trees); "" for its root.
    std::string root;
};

// The built-in provider's classes answered for the computer behind `shell`:
// the same WQL, the same classes, read through one script per round trip.
std::shared_ptr<wmi::Backend> makeRemoteProvider(std::shared_ptr<remote::RemoteShell> shell,
                                                 RemoteOptions options = {});

// Round trips the last pass through a remote provider took, or nothing for
// any other back end (or before its first pass).
std::optional<int> lastRoundTrips(const wmi::Backend& backend);

namespace remote_view {
// What a class reads, declared before its first round trip.
Requests declaredReads(std::string_view className);
}  // namespace remote_view

}  // namespace tavo::linuxwmi
