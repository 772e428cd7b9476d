#include "platform/linux/wmi/registry.h"

namespace tavo::linuxwmi {

// Win32_Service, Win32_VideoController, Win32_Desktop, Win32_IP4RouteTable, Win32_TimeZone
void registerServiceClasses(Registry& r) { (void)r; }

}  // namespace tavo::linuxwmi
