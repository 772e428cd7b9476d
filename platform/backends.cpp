#include "platform/backends.h"

#ifdef _WIN32
#include "platform/windows/mpr_wnet.h"
#include "platform/windows/wmi_com.h"
#else
#include "platform/linux/wmi/provider.h"
#include "platform/linux/wnet/linux_wnet.h"
#endif

namespace tavo {

Backends defaultBackends() {
    Backends b;
#ifdef _WIN32
    // WMI itself answers for this computer and for any other on the network.
    auto wmi = winwmi::makeComBackend();
    b.management = wmi::makeConnectionFactory(wmi, wmi);
    b.network = winwnet::makeMprWNetApi();
#else
    // This computer answers through the built-in provider; other computers
    // cannot be reached from Linux, and the factory says so by name.
    b.management = wmi::makeConnectionFactory(linuxwmi::makeProvider());
    b.network = linuxwnet::makeWNetApi();
#endif
    return b;
}

}  // namespace tavo
