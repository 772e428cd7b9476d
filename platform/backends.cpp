#include "platform/backends.h"

#ifdef _WIN32
#include "platform/windows/mpr_wnet.h"
#include "platform/windows/wmi_com.h"
#else
#include "platform/linux/ssh/remote_backend.h"
#include "platform/linux/winrm/transport_http.h"
#include "platform/linux/winrm/winrm_backend.h"
#include "platform/linux/wmi/provider.h"
#include "platform/linux/wmi/remote_provider.h"
#include "platform/linux/wnet/linux_wnet.h"
#include "remote/target_text.h"
#endif

namespace tavo {

#ifndef _WIN32
namespace {
// The provider's classes over a remote shell: another Linux computer
// answers the same classes, read through one script per round trip.
ssh::ProviderOverShell remoteProvider() {
    return [](std::shared_ptr<remote::RemoteShell> shell) {
        return linuxwmi::makeRemoteProvider(std::move(shell));
    };
}

// Windows computers through their WinRM listener: winrm:// and bare names on
// plain HTTP 5985 with Negotiate and the message sealing a default listener
// demands; https:// on 5986 with TLS. The user comes from the text or is
// asked with the password.
std::shared_ptr<wmi::Backend> winRmBackend(std::shared_ptr<remote::Prompter> prompter) {
    return winrm::makeWinRmBackend([prompter](const std::string& computer) {
        const remote::Target target = remote::parseTarget(computer);
        winrm::TransportOptions options;
        options.user = target.user;
        options.host = target.host;
        options.https = target.scheme == remote::Scheme::Https;
        options.port = target.port != 0 ? target.port : (options.https ? 5986 : 5985);
        options.auth = winrm::AuthMethod::Negotiate;
        options.prompter = prompter;
        return winrm::makeHttpTransport(std::move(options));
    });
}
}  // namespace
#endif

Backends defaultBackends([[maybe_unused]] std::shared_ptr<remote::Prompter> prompter) {
    Backends b;
#ifdef _WIN32
    // WMI itself answers for this computer and for any other on the network.
    auto wmi = winwmi::makeComBackend();
    b.management = wmi::makeConnectionFactory(wmi, wmi);
    b.network = winwnet::makeMprWNetApi();
#else
    // This computer answers through the built-in provider; other Linux
    // computers through the same provider over SSH, Windows computers
    // through WinRM.
    ssh::RemoteBackendParts remote;
    remote.prompter = std::move(prompter);
    remote.provider = remoteProvider();
    remote.winrm = winRmBackend(remote.prompter);  // without one, nothing is asked
    b.management = wmi::makeConnectionFactory(linuxwmi::makeProvider(),
                                              ssh::makeRemoteBackend(std::move(remote)));
    b.network = linuxwnet::makeWNetApi();
#endif
    return b;
}

}  // namespace tavo
