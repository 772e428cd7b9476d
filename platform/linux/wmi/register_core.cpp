#include "platform/linux/wmi/core_classes.h"
#include "platform/linux/wmi/registry.h"

namespace tavo::linuxwmi {

void registerCoreClasses(Registry& r) {
    r.add("Win32_LogicalDisk", produceLogicalDisks);
}

}  // namespace tavo::linuxwmi
