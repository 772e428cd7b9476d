#include "platform/linux/wmi/registry.h"
#include "platform/linux/wmi/system_classes.h"

namespace tavo::linuxwmi {

void registerSystemClasses(Registry& r) {
    r.add("Win32_OperatingSystem", operatingSystemInstances);
    r.add("Win32_ComputerSystem", computerSystemInstances);
    r.add("Win32_BIOS", biosInstances);
    r.add("Win32_BaseBoard", baseBoardInstances);
    r.add("Win32_MotherboardDevice", motherboardDeviceInstances);
    r.add("Win32_Processor", processorInstances);
    r.add("Win32_Printer", printerInstances);
    r.add("Win32_PrintJob", printJobInstances);
}

}  // namespace tavo::linuxwmi
