#include "platform/backends.h"

#ifdef _WIN32
#include "platform/windows/mpr_wnet.h"
#include "platform/windows/wmi_com.h"
#else
#include "platform/linux/ssh/remote_backend.h"
#include "platform/linux/wmi/provider.h"
#include "platform/linux/wmi/remote_provider.h"
#include "platform/linux/wnet/linux_wnet.h"
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
    // through WinRM once a back end fills that slot.
    ssh::RemoteBackendParts remote;
    remote.prompter = std::move(prompter);
    remote.provider = remoteProvider();
    b.management = wmi::makeConnectionFactory(linuxwmi::makeProvider(),
                                              ssh::makeRemoteBackend(std::move(remote)));
    b.network = linuxwnet::makeWNetApi();
#endif
    return b;
}

}  // namespace tavo
