#include "app/services.h"

#ifdef _WIN32
// The Windows back ends (WMI over COM, mpr) are chosen here once they exist.
#else
#include "platform/linux/wmi/provider.h"
#include "platform/linux/wnet/linux_wnet.h"
#endif

MainServices defaultServices() {
    MainServices services;
#ifdef _WIN32
    services.management = tavo::wmi::makeConnectionFactory(nullptr);
#else
    // This computer answers through the built-in provider; other computers
    // cannot be reached from Linux, and the factory says so by name.
    services.management = tavo::wmi::makeConnectionFactory(tavo::linuxwmi::makeProvider());
    services.network = tavo::linuxwnet::makeWNetApi();
#endif
    services.dialogs = std::make_shared<QtDialogs>();
    return services;
}
