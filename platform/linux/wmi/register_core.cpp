#include "platform/linux/wmi/registry.h"

namespace tavo::linuxwmi {

// Win32_LogicalDisk, Win32_NetworkAdapterConfiguration, Win32_Process, Win32_Environment
void registerCoreClasses(Registry& r) { (void)r; }

}  // namespace tavo::linuxwmi
