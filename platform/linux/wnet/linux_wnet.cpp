#include "platform/linux/wnet/linux_wnet.h"

#include <vector>

#include "platform/linux/wnet/resource_tree.h"
#ifdef TAVO_HAVE_AVAHI
#include "platform/linux/wnet/dnssd_provider.h"
#endif
#ifdef TAVO_HAVE_SMBCLIENT
#include "platform/linux/wnet/smb_provider.h"
#endif

namespace tavo::linuxwnet {

std::shared_ptr<netenum::WNetApi> makeWNetApi() {
    // Back ends built in; each one decides at every top-level open whether
    // it can answer, so one whose daemon is missing is simply not listed.
    std::vector<std::shared_ptr<Provider>> providers;
#ifdef TAVO_HAVE_AVAHI
    providers.push_back(std::make_shared<DnsSdProvider>());
#endif
#ifdef TAVO_HAVE_SMBCLIENT
    providers.push_back(std::make_shared<SmbProvider>());
#endif
    return std::make_shared<ResourceTree>(std::move(providers));
}

}  // namespace tavo::linuxwnet
