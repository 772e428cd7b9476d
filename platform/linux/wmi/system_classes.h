#pragma once

#include <vector>

#include "platform/linux/wmi/instance.h"
#include "platform/linux/wmi/system_context.h"

// Producers of the classes that describe the computer itself and its
// printers; each reads only through the context, so it runs over this
// machine or over a fixture tree alike.
namespace tavo::linuxwmi {

std::vector<Instance> operatingSystemInstances(const SystemContext& ctx);  // Win32_OperatingSystem
std::vector<Instance> computerSystemInstances(const SystemContext& ctx);   // Win32_ComputerSystem
std::vector<Instance> biosInstances(const SystemContext& ctx);             // Win32_BIOS
std::vector<Instance> baseBoardInstances(const SystemContext& ctx);        // Win32_BaseBoard
std::vector<Instance> motherboardDeviceInstances(
    const SystemContext& ctx);                                       // Win32_MotherboardDevice
std::vector<Instance> processorInstances(const SystemContext& ctx);  // Win32_Processor
std::vector<Instance> printerInstances(const SystemContext& ctx);    // Win32_Printer
std::vector<Instance> printJobInstances(const SystemContext& ctx);   // Win32_PrintJob

}  // namespace tavo::linuxwmi
