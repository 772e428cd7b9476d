#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "collectors/management.h"
#include "platform/linux/ssh/ssh_shell.h"
#include "remote/prompts.h"
#include "remote/remote_shell.h"

// Other computers, from Linux: the back end the connection factory sends
// every computer to that is not this one. ssh:// and texts with a user or a
// port go over SSH to a Linux computer; winrm:// and https:// to the WinRM
// back end; a bare name to whichever of the two answers.
namespace tavo::ssh {

// The provider that answers WQL over a remote shell (a Linux computer's
// files read through it).
using ProviderOverShell =
    std::function<std::shared_ptr<wmi::Backend>(std::shared_ptr<remote::RemoteShell>)>;

struct RemoteBackendParts {
    SshSettings ssh = SshSettings::forUser();
    std::shared_ptr<remote::Prompter> prompter;  // none: makeNoPrompter()
    std::shared_ptr<wmi::Backend> winrm;         // none: WinRM targets fail saying so
    ProviderOverShell provider;                  // none: SSH targets fail saying so
    // How long a bare name's probe waits for each port to answer.
    std::chrono::milliseconds probeTimeout{5000};
    // Where a bare name's SSH server is looked for (tests move it).
    int sshProbePort = 22;
};

std::shared_ptr<wmi::Backend> makeRemoteBackend(RemoteBackendParts parts);

// True when something accepts a TCP connection on host:port within
// `timeout` (and the calling pass is not stopped meanwhile); otherwise
// false with the reason in `why`.
bool portAnswers(const std::string& host, int port, std::chrono::milliseconds timeout,
                 std::string& why);

}  // namespace tavo::ssh
