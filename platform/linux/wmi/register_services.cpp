#include "platform/linux/wmi/registry.h"
#include "platform/linux/wmi/service_classes.h"

namespace tavo::linuxwmi {

void registerServiceClasses(Registry& r) {
    r.add("Win32_Service", produceServices);
    r.add("Win32_VideoController", produceVideoControllers);
    r.add("Win32_Desktop", produceDesktops);
    r.add("Win32_IP4RouteTable", produceIp4Routes);
    r.add("Win32_TimeZone", produceTimeZone);
}

}  // namespace tavo::linuxwmi
