#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/wmi/instance.h"
#include "platform/linux/wmi/system_context.h"

namespace tavo::linuxwmi {

// One SMBIOS memory device record (type 17) as the firmware wrote it; a
// field the record is too short for, or marks unknown, is empty.
struct MemoryDevice {
    int index = 0;                           // position among the table's memory device records
    std::optional<std::uint64_t> sizeBytes;  // empty: size unknown
    bool populated = false;
    std::optional<std::uint16_t> totalWidth, dataWidth;
    std::uint8_t formFactor = 0;
    std::uint8_t memoryType = 0;
    std::uint16_t typeDetail = 0;
    std::optional<std::uint32_t> speed, configuredSpeed;
    std::optional<std::uint8_t> rank;
    std::optional<std::uint16_t> minVoltage, maxVoltage, configuredVoltage;
    std::optional<std::string> deviceLocator, bankLocator, manufacturer, serialNumber, partNumber;
};

// Every type 17 record of a raw SMBIOS structure table, populated or not.
// A truncated or malformed table yields the records before the fault.
std::vector<MemoryDevice> parseSmbiosMemoryDevices(std::string_view table);

// Win32_PhysicalMemory: one per populated slot, from the firmware's table
// at /sys/firmware/dmi/tables/DMI (readable by root only). No table, no instances.
std::vector<Instance> producePhysicalMemory(const SystemContext& ctx);

}  // namespace tavo::linuxwmi
