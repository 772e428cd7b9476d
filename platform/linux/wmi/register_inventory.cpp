#include "platform/linux/wmi/registry.h"

namespace tavo::linuxwmi {

// Win32_Battery, Win32_PhysicalMemory, Win32_Product, Win32_Account, Win32_UserAccount, Win32_Group, Win32_DiskDrive, Win32_Share
void registerInventoryClasses(Registry& r) { (void)r; }

}  // namespace tavo::linuxwmi
