#include "platform/linux/wmi/registry.h"

namespace tavo::linuxwmi {

// Win32_OperatingSystem, Win32_ComputerSystem, Win32_BIOS, Win32_BaseBoard, Win32_Processor, Win32_Printer, Win32_PrintJob
void registerSystemClasses(Registry& r) { (void)r; }

}  // namespace tavo::linuxwmi
