#include "platform/linux/wmi/inventory_classes.h"
#include "platform/linux/wmi/registry.h"

namespace tavo::linuxwmi {

void registerInventoryClasses(Registry& r) {
    r.add("Win32_Battery", produceBatteries);
    r.add("Win32_PhysicalMemory", producePhysicalMemory);
    r.add("Win32_Product", produceProducts);
    // A query for the base class answers users and groups alike; each
    // subclass alone answers only its own kind.
    r.add("Win32_Account", produceAccounts);
    r.add("Win32_UserAccount", produceUserAccounts);
    r.add("Win32_Group", produceGroups);
    r.add("Win32_SystemAccount", produceSystemAccounts);
    r.add("Win32_DiskDrive", produceDiskDrives);
    r.add("Win32_Share", produceShares);
}

}  // namespace tavo::linuxwmi
