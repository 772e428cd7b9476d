#pragma once

#include <vector>

#include "platform/linux/wmi/instance.h"
#include "platform/linux/wmi/system_context.h"

namespace tavo::linuxwmi {

// Win32_Battery: the system's batteries from /sys/class/power_supply
// (type "Battery"; peripheral batteries such as a mouse's are left out).
std::vector<Instance> produceBatteries(const SystemContext& ctx);

}  // namespace tavo::linuxwmi
