#include "platform/linux/wmi/core_classes.h"
#include "platform/linux/wmi/registry.h"

namespace tavo::linuxwmi {

void registerCoreClasses(Registry& r) {
    r.add("Win32_LogicalDisk", produceLogicalDisks);
    r.add("Win32_NetworkAdapterConfiguration", produceNetworkAdapterConfigurations);
    r.add("Win32_Process", produceProcesses);
    r.add("Win32_Environment", produceEnvironment);
}

}  // namespace tavo::linuxwmi
