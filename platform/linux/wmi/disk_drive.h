#pragma once

#include <string_view>
#include <vector>

#include "platform/linux/wmi/instance.h"
#include "platform/linux/wmi/system_context.h"

namespace tavo::linuxwmi {

// True for the /sys/block names of whole disks: sd*, nvme<c>n<ns>, vd*, xvd*,
// hd*, mmcblk<n>; false for loop, ram, zram, device-mapper and md devices,
// NVMe multipath paths and an MMC card's boot and RPMB areas.
bool isWholeDiskName(std::string_view name);

// Win32_DiskDrive: one per whole disk in /sys/block.
std::vector<Instance> produceDiskDrives(const SystemContext& ctx);

}  // namespace tavo::linuxwmi
