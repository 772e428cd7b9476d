#include "app/services.h"

#ifdef _WIN32
#include "platform/windows/mpr_wnet.h"
#include "platform/windows/wmi_com.h"
#else
#include "platform/linux/wmi/provider.h"
#include "platform/linux/wnet/linux_wnet.h"
#endif

MainServices defaultServices() {
    MainServices services;
#ifdef _WIN32
    // WMI itself answers for this computer and for any other on the network.
    auto wmi = tavo::winwmi::makeComBackend();
    services.management = tavo::wmi::makeConnectionFactory(wmi, wmi);
    services.network = tavo::winwnet::makeMprWNetApi();
#else
    // This computer answers through the built-in provider; other computers
    // cannot be reached from Linux, and the factory says so by name.
    services.management = tavo::wmi::makeConnectionFactory(tavo::linuxwmi::makeProvider());
    services.network = tavo::linuxwnet::makeWNetApi();
#endif
    services.dialogs = std::make_shared<QtDialogs>();
    services.settings = std::make_shared<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                                    QStringLiteral("tavo"), QStringLiteral("tavo"));
    return services;
}
